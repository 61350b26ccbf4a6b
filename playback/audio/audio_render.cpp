#include "playback/audio/audio_render.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "base/messages.h"
#include "playback/outputs/audio_libraries.h"
#include "playback/outputs/midi_port.h"
#include "playback/outputs/synth_output.h"
#include "playback/playing/player.h"
#include "playback/playing/timer_service.h"

namespace pitchloom {
namespace {

constexpr int kSampleRate = kSynthSampleRate;
constexpr std::size_t kBlockFrames = 4096;
// After the last event: notes are let go and rendered until they fall silent (-80 dB), for
// at most this long.
constexpr std::uint64_t kMaxTailMs = 5000;
constexpr float kSilence = 1e-4f;
constexpr int kProgressSteps = 1000;

std::uint64_t frameAt(std::uint64_t ms) {
    return ms * kSampleRate / 1000;
}

// The frame an event falls on, counted exactly from the start: one song of an hour has 159
// million frames, and no rounding may add up along it.
std::uint64_t frameAt(std::chrono::nanoseconds time) {
    const auto ns = static_cast<std::uint64_t>(std::max<std::int64_t>(time.count(), 0));
    return ns / 1000000000u * kSampleRate + ns % 1000000000u * kSampleRate / 1000000000u;
}

// The mapper of the render: the one offline synth, handed over once.
class SynthProvider : public MidiOutputProvider {
public:
    explicit SynthProvider(std::unique_ptr<SynthOutput> synth) : synth_(std::move(synth)) {}
    std::vector<std::string> portNames() override { return {}; }
    std::unique_ptr<MidiOutputDevice> open(int identifier) override {
        if (identifier != kMidiMapperId) return nullptr;
        return std::move(synth_);
    }

private:
    std::unique_ptr<SynthOutput> synth_;
};

class SilentView : public PlaybackView {
public:
    void setPlayCaption(std::string_view) override {}
    void requestRepaint() override {}
    void setWaitCursor(bool) override {}
};

std::string hoursText(std::uint64_t ms) {
    const std::uint64_t minutes = ms / 60000;
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

// Renders the synth into the file up to a frame, reporting progress on the way.
class Recorder {
public:
    Recorder(SynthOutput& synth, AudioFileWriter& file, const RenderProgress& progress,
             std::uint64_t totalFrames)
        : synth_(synth),
          file_(file),
          progress_(progress),
          totalFrames_(std::max<std::uint64_t>(totalFrames, 1)),
          left_(kBlockFrames),
          right_(kBlockFrames) {}

    /// False when the file failed (status says why) or the user cancelled.
    bool renderTo(std::uint64_t frame) {
        while (frames_ < frame) {
            if (!renderBlock(static_cast<std::size_t>(
                    std::min<std::uint64_t>(frame - frames_, kBlockFrames)))) {
                return false;
            }
        }
        return true;
    }

    /// Renders until the sound has died away or maxFrames have passed.
    bool renderTail(std::uint64_t maxFrames) {
        const std::uint64_t end = frames_ + maxFrames;
        while (frames_ < end) {
            if (!renderBlock(kBlockFrames)) return false;
            const auto loudest = [](const std::vector<float>& v) {
                float peak = 0;
                for (float x : v)
                    peak = std::max(peak, std::fabs(x));
                return peak;
            };
            if (std::max(loudest(left_), loudest(right_)) < kSilence) return true;
        }
        return true;
    }

    FileStatus status = FileStatus::done();
    bool cancelled = false;
    bool synthFailed = false;

private:
    bool renderBlock(std::size_t n) {
        left_.resize(n);
        right_.resize(n);
        if (!synth_.render(left_, right_)) {
            synthFailed = true;
            return false;
        }
        if (status = file_.write(left_, right_); !status) return false;
        frames_ += n;
        const auto step = static_cast<int>(
            std::min<std::uint64_t>(frames_ * kProgressSteps / totalFrames_, kProgressSteps));
        if (progress_ && step != lastStep_) {
            lastStep_ = step;
            if (!progress_(static_cast<double>(step) / kProgressSteps)) {
                cancelled = true;
                return false;
            }
        }
        return true;
    }

    SynthOutput& synth_;
    AudioFileWriter& file_;
    const RenderProgress& progress_;
    std::uint64_t totalFrames_;
    std::uint64_t frames_ = 0;
    int lastStep_ = -1;
    std::vector<float> left_;
    std::vector<float> right_;
};

// The render; `retune` gets the retuner's report once the song has played.
RenderOutcome render(const RenderParts& parts, const std::string& path, AudioFormat format,
                     const RenderProgress& progress,
                     std::optional<std::vector<std::string>> soundFonts,
                     std::optional<RetuneReport>& retune) {
    UserDialogs& dialogs = parts.dialogs;
    const auto failFile = [&](const FileStatus& status) {
        dialogs.showMessage(messages::kCannotOpenFile, BoxStyle::SystemModal);
        dialogs.showDetail(status.about(path));
        return RenderOutcome::Failed;
    };

    ManualTimerService timers;
    const auto length = Sequencer::playingTime(parts.song.image(), timers.minPeriodMs());
    if (!length) {
        reportError(dialogs, 1004, "the song's time division cannot be played");
        return RenderOutcome::Failed;
    }
    const std::uint64_t maxMs = AudioFileWriter::maxFrames(format) * 1000 / kSampleRate;
    const auto lengthMs = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(*length).count());
    if (lengthMs + kMaxTailMs > maxMs) {
        dialogs.showMessage(messages::kSongTooLongForAudio, BoxStyle::SystemModal);
        dialogs.showDetail(path + ": the song plays for " + hoursText(lengthMs) +
                           ", the file holds at most " + hoursText(maxMs));
        return RenderOutcome::Failed;
    }

    if (fluidSynth() == nullptr) {
        dialogs.showMessage(messages::kNoSynthesizer, BoxStyle::SystemModal);
        dialogs.showDetail(PITCHLOOM_FLUIDSYNTH_LIBRARY
                           ": missing, or without a function it needs");
        return RenderOutcome::Failed;
    }
    if (!soundFonts) soundFonts = findGeneralMidiSoundFonts();
    if (soundFonts->empty()) {
        dialogs.showMessage(messages::kNoSoundFont, BoxStyle::SystemModal);
        return RenderOutcome::Failed;
    }
    auto synthOwned = SynthOutput::open(*soundFonts, SynthOutput::Audio::Offline);
    if (!synthOwned) {
        dialogs.showMessage(messages::kSoundFontDamaged, BoxStyle::SystemModal);
        for (const std::string& soundFont : *soundFonts)
            dialogs.showDetail(soundFont + ": the SoundFont cannot be loaded");
        return RenderOutcome::Failed;
    }
    SynthOutput& synth = *synthOwned;
    SynthProvider provider(std::move(synthOwned));
    const std::atomic<DeviceType> type{parts.type};
    SilentView view;
    Player player({parts.song, parts.tuning, type, dialogs, parts.loader, provider, timers, view});
    MidiPort& port = player.port;
    if (!port.openDevice(kMidiMapperId)) return RenderOutcome::Failed;

    AudioFileWriter file;
    if (const FileStatus opened = file.open(path, format, kSampleRate); !opened) {
        return failFile(opened);
    }

    Sequencer& seq = player.sequencer;
    seq.setStopWait(std::chrono::milliseconds(0));
    seq.setRetuneSettings(parts.retune);
    Recorder recorder(synth, file, progress, frameAt(*length));

    const SteadyTime start = timers.now();
    seq.beginPlayback();
    bool rendered = true;
    while (seq.isPlaying()) {
        const auto delay = timers.nextDelay();
        // Playing with no timer armed: the walk stopped at an error it has shown.
        if (!delay) {
            file.abort();
            return RenderOutcome::Failed;
        }
        const std::chrono::nanoseconds at = timers.now() + *delay - start;
        // A wait past the end of what the file can hold (the song's length counted it already,
        // so only a song whose timing went wrong gets here).
        if (at > std::chrono::milliseconds(maxMs)) {
            seq.stopPlayback();
            file.abort();
            dialogs.showMessage(messages::kSongTooLongForAudio, BoxStyle::SystemModal);
            return RenderOutcome::Failed;
        }
        if (!(rendered = recorder.renderTo(frameAt(at)))) break;
        timers.runNext();
    }
    retune = seq.retuneReport();
    if (rendered) {
        port.allNotesOff();
        rendered = recorder.renderTail(frameAt(kMaxTailMs));
    }
    if (!rendered) {
        if (seq.isPlaying()) seq.stopPlayback();
        file.abort();
        if (recorder.cancelled) return RenderOutcome::Cancelled;
        if (recorder.synthFailed) {
            reportError(dialogs, 1005, path + ": the synthesizer stopped rendering");
            return RenderOutcome::Failed;
        }
        return failFile(recorder.status);
    }
    if (parts.strict && retune && retune->missed()) {
        file.abort();
        return RenderOutcome::Failed;
    }
    if (const FileStatus committed = file.commit(); !committed) return failFile(committed);
    dialogs.showMessage(messages::kWrittenToFile, BoxStyle::SystemModal);
    return RenderOutcome::Written;
}

}  // namespace

RenderResult renderSong(const RenderParts& parts, const std::string& path, AudioFormat format,
                        const RenderProgress& progress,
                        std::optional<std::vector<std::string>> soundFonts) {
    RenderResult result{RenderOutcome::Failed, std::nullopt};
    result.outcome = render(parts, path, format, progress, std::move(soundFonts), result.retune);
    return result;
}

}  // namespace pitchloom

#pragma once

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "playback/outputs/midi_port.h"
#include "playback/outputs/recording_output.h"
#include "playback/playing/scale_tuning_sender.h"
#include "playback/playing/sequencer.h"
#include "playback/playing/timer_service.h"
#include "session/session.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom::test {

/// Records what playback asks of the window.
class RecordingView : public PlaybackView {
public:
    void setPlayCaption(std::string_view caption) override {
        std::lock_guard lock(mutex_);
        captions_.emplace_back(caption);
    }
    void requestRepaint() override { ++repaints; }
    void setWaitCursor(bool) override {}

    std::vector<std::string> captions() const {
        std::lock_guard lock(mutex_);
        return captions_;
    }
    std::string lastCaption() const {
        std::lock_guard lock(mutex_);
        return captions_.empty() ? std::string() : captions_.back();
    }
    std::atomic<int> repaints{0};

private:
    mutable std::mutex mutex_;
    std::vector<std::string> captions_;
};

/// Everything playback needs, wired to the recorder, scripted dialogs and a chosen timer.
template <typename Timers>
struct PlaybackRig {
    ScriptedDialogs dialogs;
    RecordingOutput output{{"Port A", "Port B"}};
    // What the player plays through outlives the session that owns the player.
    Timers timers;
    RecordingView view;
    Session session{dialogs};
    MidiSong& song = session.song;
    TuningState& tuning = session.tuning;
    std::atomic<DeviceType>& type = session.deviceType;
    SongLoader& loader = session.loader;
    Player& player = session.attachPlayer(output, timers, view);
    MidiPort& port = player.port;
    ScaleTuningSender& sender = player.sender;
    Sequencer& seq = player.sequencer;

    PlaybackRig() {
        port.initOutput(song);
        seq.setStopWait(std::chrono::milliseconds(0));
        output.clear();
    }
    ~PlaybackRig() {
        if (seq.isPlaying()) seq.stopPlayback();
        // A callback may still be finishing the end of the song; let it finish first.
        if constexpr (requires { timers.shutdown(); }) timers.shutdown();
    }

    void load(const Bytes& image) {
        std::memcpy(song.data.data(), image.data(), image.size());
        song.length = static_cast<std::int32_t>(image.size());
    }
    void play(const Bytes& image) {
        load(image);
        seq.beginPlayback();
    }

    /// Short messages received, as byte vectors.
    std::vector<Bytes> shorts() const {
        std::vector<Bytes> out;
        for (const auto& m : output.messages()) {
            if (!m.sysEx) out.push_back(m.bytes);
        }
        return out;
    }
    std::vector<Bytes> sysExes() const {
        std::vector<Bytes> out;
        for (const auto& m : output.messages()) {
            if (m.sysEx) out.push_back(m.bytes);
        }
        return out;
    }
};

}  // namespace pitchloom::test

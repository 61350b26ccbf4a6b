#include "playback/sequencer.h"

#include <algorithm>
#include <array>
#include <thread>

#include "base/messages.h"
#include "midifile/sysex.h"

namespace pitchloom {

namespace {

constexpr std::chrono::milliseconds kStall{100};
constexpr std::chrono::milliseconds kReadyPoll{10};

constexpr std::uint8_t kTempo = 0x51;

// The due time after a wait, held at the end of the clock: a song can ask for thousands of years
// (a five-byte delta time at division 1 and 3 beats per minute), more than the clock can count.
SteadyTime later(SteadyTime due, std::uint64_t delayMs) {
    using std::chrono::milliseconds;
    const auto room = std::chrono::duration_cast<milliseconds>(SteadyTime::max() - due).count();
    if (delayMs >= static_cast<std::uint64_t>(room)) return SteadyTime::max();
    return due + milliseconds(delayMs);
}

// The whole beats per minute a tempo event sets; nothing for other events, and for a tempo of 0,
// which would divide by zero.
std::optional<std::int32_t> tempoOf(const MidiEvent& e) {
    if (!e.isMeta() || e.metaType() != kTempo || e.payload.size() < 3) return std::nullopt;
    const std::uint32_t us =
        std::uint32_t{e.payload[0]} << 16 | std::uint32_t{e.payload[1]} << 8 | e.payload[2];
    if (const std::int32_t bpm = Sequencer::bpmFor(us); bpm > 0) return bpm;
    return std::nullopt;
}

}  // namespace

Sequencer::Sequencer(Parts parts) : p_(parts) {}

Sequencer::~Sequencer() {
    std::lock_guard lock(timerMutex_);
    ++generation_;
    if (pending_) p_.timers.cancel(*pending_);
}

std::uint32_t Sequencer::periodFor(std::uint32_t division, int minPeriod) {
    const std::uint32_t period = division == 0 ? 0 : 60000u / (division * 120u);
    return std::max<std::uint32_t>(period, static_cast<std::uint32_t>(std::max(minPeriod, 0)));
}

std::int32_t Sequencer::bpmFor(std::uint32_t microsPerQuarter) {
    if (microsPerQuarter == 0) return 0;
    return static_cast<std::int32_t>(60000000u / microsPerQuarter);
}

std::uint64_t Sequencer::delayFor(std::uint32_t delta, std::uint32_t division, std::int32_t bpm) {
    return std::uint64_t{delta} * 60000u /
           (std::uint64_t{division} * static_cast<std::uint64_t>(std::max(bpm, 1)));
}

std::optional<Sequencer::Track> Sequencer::playableTrack(std::span<const std::uint8_t> image) {
    if (image.size() < kFirstEventOffset) return std::nullopt;
    const std::uint32_t division = readBe16(image, kDivisionOffset);
    // A division of 0 has no tick length; refuse it as the time-code form is refused.
    if (division >= 0x8000 || division == 0) return std::nullopt;
    const std::uint64_t end =
        kFirstEventOffset + std::uint64_t{readBe32(image, kTrackLengthOffset)};
    return Track{division,
                 image.first(static_cast<std::size_t>(std::min<std::uint64_t>(end, image.size())))};
}

std::optional<std::uint64_t> Sequencer::playingTimeMs(std::span<const std::uint8_t> image,
                                                      int minPeriod) {
    const auto track = playableTrack(image);
    if (!track) return std::nullopt;
    EventReader events(track->bytes, kFirstEventOffset, 0, EventReader::StrayData::Report);
    std::uint64_t ms = periodFor(track->division, minPeriod);
    std::int32_t bpm = 120;
    for (bool first = true;; first = false) {
        const auto e = events.next();
        if (!e || e->stray) return ms;
        if (!first) ms += delayFor(e->delta, track->division, bpm);
        if (e->isMeta()) bpm = tempoOf(*e).value_or(bpm);
    }
}

void Sequencer::TogglePlay() {
    if (isPlaying()) {
        stopPlayback();
        p_.port.allNotesOff();
        return;
    }
    if (!p_.loader.loadSongByDialog()) return;
    beginPlayback();
}

void Sequencer::beginPlayback() {
    p_.view.setPlayCaption(kStopCaption);
    p_.tuning.rhythm.resetRhythmChannels();
    p_.sender.forgetSent();
    startPlayback();
}

void Sequencer::startPlayback() {
    auto run = std::make_shared<Run>();
    {
        std::lock_guard lock(timerMutex_);
        run->generation = ++generation_;
        if (pending_) p_.timers.cancel(*pending_);
        pending_.reset();
    }
    playing.store(1);
    run->noteOnCount = 0;

    const auto track = playableTrack(p_.song.image());
    if (!track) {
        p_.port.reportError(1004);
        return;
    }
    run->division = track->division;
    run->events.emplace(track->bytes, kFirstEventOffset, runningStatus_.load(),
                        EventReader::StrayData::Report);

    run->tempoBpm = 120;
    run->periodMs = periodFor(run->division, p_.timers.minPeriodMs());
    run->next = run->events->next();  // the first event is not delayed by its own delta time
    run->due = p_.timers.now() + std::chrono::milliseconds(run->periodMs);
    if (!arm(run)) p_.port.reportError(1007);
}

bool Sequencer::arm(const std::shared_ptr<Run>& run) {
    std::lock_guard lock(timerMutex_);
    if (!current(*run)) return true;  // stopped meanwhile: nothing to arm, nothing failed
    const auto id = p_.timers.scheduleAt(run->due, [this, run] { onTimer(run); });
    if (!id) return false;
    pending_ = id;
    return true;
}

void Sequencer::stopPlayback() {
    p_.view.setWaitCursor(true);
    {
        // Under the lock that arm() takes, so no callback can arm a timer after this.
        std::lock_guard lock(timerMutex_);
        ++generation_;
        if (pending_) p_.timers.cancel(*pending_);
        pending_.reset();
    }
    playing.store(0);
    std::this_thread::sleep_for(stopWait_);
    // A song started during the wait keeps its "     Stop".
    if (!isPlaying()) p_.view.setPlayCaption(kPlayCaption);
    p_.view.setWaitCursor(false);
    p_.view.requestRepaint();
}

void Sequencer::onTimer(const std::shared_ptr<Run>& run) {
    {
        std::lock_guard lock(timerMutex_);
        if (!current(*run)) return;
        pending_.reset();
    }
    // A device still getting ready to sound (the built-in synthesizer loading its SoundFont)
    // holds the song rather than hear its notes late or all at once.
    while (!p_.port.ready()) {
        if (!current(*run)) return;
        std::this_thread::sleep_for(kReadyPoll);
    }
    // After a stall (a message box, another song's stop wait, a device getting ready) the
    // schedule starts afresh rather than rushing through every event that fell due meanwhile.
    if (const SteadyTime now = p_.timers.now(); now - run->due > kStall) run->due = now;
    for (bool first = true;; first = false) {
        if (!current(*run)) return;
        if (!first) run->next = run->events->next();
        if (!run->next) {
            // The end of the track, or an event cut off by it.
            bool mine;
            {
                std::lock_guard lock(timerMutex_);
                mine = current(*run);
            }
            if (mine) stopPlayback();
            return;
        }
        const std::uint64_t delayMs =
            first ? 0 : delayFor(run->next->delta, run->division, run->tempoBpm);
        if (delayMs > 0) {
            run->due = later(run->due, delayMs);
            arm(run);
            return;
        }
        if (!playEvent(*run)) return;
    }
}

void Sequencer::playNote(const MidiEvent& e, bool on) {
    const int channel = e.status & 0x0F;
    const std::size_t noteAt = e.dataAt();
    int note = p_.song.data[noteAt];
    if (!p_.tuning.rhythm.isRhythm(channel)) {
        note = p_.tuning.moveOntoScale(note);
        p_.song.data[noteAt] = static_cast<std::uint8_t>(note);
    }
    if (on) {
        p_.port.noteOn(note, p_.song.data[noteAt + 1], channel);
    } else {
        p_.port.noteOff(note, channel);
    }
}

void Sequencer::sendTuning(Run& run, DeviceType type) {
    p_.sender.sendScaleTuning(type);
    run.tuningWiped = false;
}

void Sequencer::playMessage(Run& run, std::span<const std::uint8_t> body,
                            std::span<const std::uint8_t> fileForm, DeviceType type) {
    p_.tuning.rhythm.examineBody(body);
    if (type == DeviceType::GS && isXgSystemOn(body)) {
        p_.dialogs.showMessage(messages::kXgResetWithGs, BoxStyle::SystemModal);
        run.due = std::max(run.due, p_.timers.now());  // the song waited for the OK
        return;
    }
    if (fileForm.empty()) {
        std::vector<std::uint8_t> message{0xF0};
        message.insert(message.end(), body.begin(), body.end());
        message.push_back(0xF7);
        p_.port.sendEscaped(message);
    } else {
        p_.port.sendLong(fileForm);
    }
    // The module has just forgotten its tuning: all of it goes out again before the next note,
    // as a converted file carries it after the song's last reset.
    if (recogniseReset(body)) {
        p_.sender.forgetSent();
        run.tuningWiped = true;
    }
}

void Sequencer::playSysEx(Run& run, const MidiEvent& e, DeviceType type) {
    if (e.isSysEx() && !e.unfinishedSysEx) {
        if (const auto body = bodyOfEvent(e.bytes)) playMessage(run, *body, e.bytes, type);
        run.packets.clear();
        return;
    }
    if (e.isSysEx()) {
        // The first packet of a message sent in parts: the rest follow in F7 packets.
        run.packets.assign(e.payload.begin(), e.payload.end());
        return;
    }
    if (run.packets.empty()) {
        // An escape: its bytes go to the device as they stand, whole or not at all.
        if (!e.payload.empty()) p_.port.sendEscaped(e.payload);
        return;
    }
    run.packets.insert(run.packets.end(), e.payload.begin(), e.payload.end());
    if (run.packets.back() != 0xF7) return;
    const std::span<const std::uint8_t> whole(run.packets);
    playMessage(run, whole.first(whole.size() - 1), {}, type);
    run.packets.clear();
}

bool Sequencer::playEvent(Run& run) {
    const DeviceType type = p_.deviceType.load();
    if (p_.tuning.tuningChanged.exchange(0) != 0) sendTuning(run, type);

    const MidiEvent& e = *run.next;
    if (e.stray) {
        p_.port.reportError(1008);
        return false;
    }
    // A message sent in packets ends with its last F7 packet; anything else cuts it off.
    if (!e.isEscape() && !run.packets.empty() && !e.isSysEx()) run.packets.clear();

    const std::uint8_t b = e.status;
    const int channel = b & 0x0F;
    const auto data = [&](std::size_t i) { return p_.song.data[e.dataAt() + i]; };
    if (e.isNoteOn()) {
        // The first Note On with its status written out brings the tuning; so does the first
        // after a reset.
        if ((!e.runningStatus && run.noteOnCount == 0) || run.tuningWiped) sendTuning(run, type);
        if (!e.runningStatus) ++run.noteOnCount;
        playNote(e, true);
    } else if (e.isNote()) {
        playNote(e, false);
    } else if (e.isSysEx() || e.isEscape()) {
        playSysEx(run, e, type);
    } else if (e.isMeta()) {
        run.tempoBpm = tempoOf(e).value_or(run.tempoBpm);
    } else if ((b >= 0xA0 && b <= 0xBF) || (b >= 0xE0 && b <= 0xEF)) {
        p_.port.channelMessage(b, data(0), data(1));
    } else if (b >= 0xC0 && b <= 0xCF) {
        p_.port.programChange(data(0), channel);
    } else if (b >= 0xD0 && b <= 0xDF) {
        p_.port.channelPressure(b, data(0));
    }
    runningStatus_.store(run.events->runningStatus());
    return true;
}

}  // namespace pitchloom

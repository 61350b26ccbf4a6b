#include "playback/sequencer.h"

#include <algorithm>
#include <array>
#include <thread>

#include "midifile/error_report.h"
#include "midifile/sysex.h"

namespace pitchloom {

namespace {

constexpr std::chrono::milliseconds kStall{100};
constexpr std::chrono::milliseconds kReadyPoll{10};

constexpr std::array<std::uint8_t, 10> kXgSystemOn = {0xF0, 0x08, 0x43, 0x10, 0x4C,
                                                      0x00, 0x00, 0x7E, 0x00, 0xF7};

// The due time after a wait, held at the end of the clock: a song can ask for thousands of years
// (a five-byte delta time at division 1 and 3 beats per minute), more than the clock can count.
SteadyTime later(SteadyTime due, std::uint64_t delayMs) {
    using std::chrono::milliseconds;
    const auto room = std::chrono::duration_cast<milliseconds>(SteadyTime::max() - due).count();
    if (delayMs >= static_cast<std::uint64_t>(room)) return SteadyTime::max();
    return due + milliseconds(delayMs);
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

    const auto image = p_.song.image();
    run->division = readBe16(image, kDivisionOffset);
    // A division of 0 has no tick length; refuse it as the time-code form is refused.
    if (image.size() < kFirstEventOffset || run->division >= 0x8000 || run->division == 0) {
        p_.port.reportError(1004);
        return;
    }
    run->position = kFirstEventOffset;
    const std::uint64_t end =
        kFirstEventOffset + std::uint64_t{readBe32(image, kTrackLengthOffset)};
    run->trackEnd = static_cast<std::size_t>(std::min<std::uint64_t>(end, image.size()));

    run->tempoBpm = 120;
    run->periodMs = periodFor(run->division, p_.timers.minPeriodMs());
    readDelta(*run);  // the first event is not delayed by its own delta time
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
    if (!playEvent(*run)) return;
    for (;;) {
        if (!current(*run)) return;
        const std::uint64_t ticks = readDelta(*run);
        const std::uint64_t delayMs =
            ticks * 60000u /
            (std::uint64_t{run->division} * static_cast<std::uint64_t>(run->tempoBpm));
        if (run->position >= run->trackEnd) {
            bool mine;
            {
                std::lock_guard lock(timerMutex_);
                mine = current(*run);
            }
            if (mine) stopPlayback();
            return;
        }
        if (delayMs == 0) {
            if (!playEvent(*run)) return;
            continue;
        }
        run->due = later(run->due, delayMs);
        arm(run);
        return;
    }
}

std::uint32_t Sequencer::readDelta(Run& run) {
    std::uint32_t value = 0;
    for (;;) {
        const std::uint8_t b = byteAt(run.position++);
        value = (value << 7) | (b & 0x7Fu);
        if (b < 0x80) return value;
    }
}

std::uint8_t Sequencer::byteAt(std::size_t at) const {
    // Bytes past the track (or the buffer) read as 0, so no walk leaves the song.
    return at < p_.song.image().size() ? p_.song.data[at] : 0;
}

void Sequencer::playNote(Run& run, std::uint8_t status, std::size_t noteAt, bool on) {
    const int channel = status & 0x0F;
    int note = byteAt(noteAt);
    if (!p_.tuning.rhythm.isRhythm(channel)) {
        note = p_.tuning.moveOntoScale(note);
        if (noteAt < run.trackEnd) p_.song.data[noteAt] = static_cast<std::uint8_t>(note);
    }
    if (on) {
        p_.port.noteOn(note, byteAt(noteAt + 1), channel);
    } else {
        p_.port.noteOff(note, channel);
    }
}

void Sequencer::sendTuning(Run& run, DeviceType type) {
    p_.sender.sendScaleTuning(type);
    run.tuningWiped = false;
}

void Sequencer::sendSpan(std::size_t from, std::size_t count, bool fileForm) {
    const std::span<const std::uint8_t> bytes(p_.song.data.data() + from, count);
    if (fileForm) {
        p_.port.sendLong(bytes);
    } else {
        p_.port.sendEscaped(bytes);
    }
}

bool Sequencer::playEvent(Run& run) {
    const DeviceType type = p_.deviceType.load();
    if (p_.tuning.tuningChanged.exchange(0) != 0) sendTuning(run, type);

    const std::size_t pos = run.position;
    const std::uint8_t b = byteAt(pos);
    const int channel = b & 0x0F;
    const std::size_t end = run.trackEnd;

    if (b >= 0x90 && b <= 0x9F) {
        if (run.noteOnCount == 0 || run.tuningWiped) sendTuning(run, type);
        ++run.noteOnCount;
        playNote(run, b, pos + 1, true);
        run.position += 3;
    } else if (b >= 0x80 && b <= 0x8F) {
        playNote(run, b, pos + 1, false);
        run.position += 3;
    } else if (b == 0xF0) {
        const auto first = p_.song.data.begin() + static_cast<std::ptrdiff_t>(pos);
        const auto last = p_.song.data.begin() + static_cast<std::ptrdiff_t>(std::max(end, pos));
        const auto f7 = std::find(first, last, std::uint8_t{0xF7});
        if (f7 == last) {
            run.position = std::max(end, pos + 1);  // no end of exclusive: nothing complete to send
        } else {
            const auto size = static_cast<std::size_t>(f7 - first) + 1;
            const std::span<const std::uint8_t> event(&*first, size);
            p_.tuning.rhythm.examineForRhythm(event);
            const bool xgOn =
                std::equal(event.begin(), event.end(), kXgSystemOn.begin(), kXgSystemOn.end());
            if (xgOn && type == DeviceType::GS) {
                p_.dialogs.showMessage("XG reset was found with GS setting.",
                                       BoxStyle::SystemModal);
                run.due = std::max(run.due, p_.timers.now());  // the song waited for the OK
            } else {
                sendSpan(pos, size, true);
                // The module has just forgotten its tuning: all of it goes out again before the
                // next note, as a converted file carries it after the song's last reset.
                if (isResetMessage(event)) {
                    p_.sender.forgetSent();
                    run.tuningWiped = true;
                }
            }
            run.position += size;
        }
    } else if (b == 0xF7) {
        const std::size_t length = byteAt(pos + 1);
        // Like an exclusive without its F7, an escape cut off by the end of the song is not sent
        // in part: a device would take the bytes that are there as a whole message.
        if (length > 0 && pos + 2 + length <= end) sendSpan(pos + 2, length, false);
        run.position += length + 2;
    } else if (b == 0xFF) {
        const std::uint8_t metaType = byteAt(pos + 1);
        std::size_t size;
        switch (metaType) {
            case 0x20:
                size = 4;
                break;
            case 0x2F:
                size = 3;
                break;
            case 0x51:
                size = 6;
                break;
            case 0x54:
                size = 8;
                break;
            case 0x58:
                size = 7;
                break;
            case 0x59:
                size = 5;
                break;
            default: {
                std::size_t at = pos + 2;
                std::uint32_t length = 0;
                for (;;) {
                    const std::uint8_t v = byteAt(at++);
                    length = (length << 7) | (v & 0x7Fu);
                    if (v < 0x80 || at >= end) break;
                }
                size = (at - pos) + length;
            }
        }
        if (metaType == 0x51) {
            const std::uint32_t us = std::uint32_t{byteAt(pos + 3)} << 16 |
                                     std::uint32_t{byteAt(pos + 4)} << 8 | byteAt(pos + 5);
            // A tempo of 0 would divide by zero: it changes nothing.
            if (const std::int32_t bpm = bpmFor(us); bpm > 0) run.tempoBpm = bpm;
        }
        run.position += size;
    } else if ((b >= 0xA0 && b <= 0xBF) || (b >= 0xE0 && b <= 0xEF)) {
        p_.port.channelMessage(b, byteAt(pos + 1), byteAt(pos + 2));
        run.position += 3;
    } else if (b >= 0xC0 && b <= 0xCF) {
        p_.port.programChange(byteAt(pos + 1), channel);
        run.position += 2;
    } else if (b >= 0xD0 && b <= 0xDF) {
        p_.port.channelPressure(b, byteAt(pos + 1));
        run.position += 2;
    } else {
        const std::uint8_t rs = runningStatus_.load();
        if (rs >= 0x90 && rs <= 0x9F) {
            if (run.tuningWiped) sendTuning(run, type);
            playNote(run, rs, pos, true);
            run.position += 2;
        } else if (rs >= 0x80 && rs <= 0x8F) {
            playNote(run, rs, pos, false);
            run.position += 2;
        } else if ((rs >= 0xA0 && rs <= 0xBF) || (rs >= 0xE0 && rs <= 0xEF)) {
            p_.port.channelMessage(rs, b, byteAt(pos + 1));
            run.position += 2;
        } else if (rs >= 0xC0 && rs <= 0xCF) {
            p_.port.programChange(b, rs & 0x0F);
            run.position += 1;
        } else if (rs >= 0xD0 && rs <= 0xDF) {
            p_.port.channelPressure(rs, b);
            run.position += 1;
        } else {
            p_.port.reportError(1008);
            return false;
        }
        return true;
    }
    runningStatus_.store(b);
    return true;
}

}  // namespace pitchloom

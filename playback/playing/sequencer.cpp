#include "playback/playing/sequencer.h"

#include <algorithm>
#include <array>
#include <thread>

#include "base/messages.h"
#include "midifile/sysex.h"
#include "tuning/pure_tuning.h"

namespace pitchloom {

namespace {

constexpr std::chrono::milliseconds kStall{100};
constexpr std::chrono::milliseconds kReadyPoll{10};

// The time of an event after the song's start, held at the end of the clock: a song can ask for
// thousands of years (a five-byte delta time at division 1 and 16 seconds a beat), more than the
// clock can count.
SteadyTime after(SteadyTime origin, std::chrono::nanoseconds elapsed) {
    if (elapsed >= SteadyTime::max() - origin) return SteadyTime::max();
    return origin + std::chrono::duration_cast<SteadyTime::duration>(elapsed);
}

// Controllers whose meaning hangs on what came before them: the parameter numbers and the data
// entry that goes to them.
bool dependsOnOrder(std::uint8_t controller) {
    return controller == 6 || controller == 38 || (controller >= 96 && controller <= 101);
}

// What the song told its channels before event `count`: its controllers, programs, pressures and
// bends in order, each left out that a later one of its kind on its channel overrides. Notes and
// key pressure belong to notes that are no longer sounding.
std::vector<ChannelMessage> channelStateBefore(std::span<const std::uint8_t> track,
                                               std::uint8_t runningStatus, std::uint64_t count) {
    std::vector<ChannelMessage> all;
    EventReader events(track, kFirstEventOffset, runningStatus, EventReader::StrayData::Report);
    for (std::uint64_t i = 0; i < count; ++i) {
        const auto e = events.next();
        if (!e || e->stray) break;
        if (e->status < 0xB0) continue;
        if (const auto m = e->channelMessage()) all.push_back(*m);
    }
    constexpr std::size_t kControllerSlots = 16 * 128;
    // Where a message is the last of its kind: a controller of a channel, or the channel's
    // program, pressure or bend; nothing for the ones that are all kept.
    const auto slot = [](const ChannelMessage& m) -> std::optional<std::size_t> {
        const auto channel = static_cast<std::size_t>(m.channel());
        if ((m.status & 0xF0) == 0xB0) {
            if (dependsOnOrder(m.data1)) return std::nullopt;
            return channel * 128 + m.data1;
        }
        return kControllerSlots + static_cast<std::size_t>((m.status >> 4) - 0x0C) * 16 + channel;
    };
    std::vector<std::size_t> last(kControllerSlots + 3 * 16, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (const auto s = slot(all[i])) last[*s] = i;
    }
    std::vector<ChannelMessage> kept;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (const auto s = slot(all[i]); !s || last[*s] == i) kept.push_back(all[i]);
    }
    return kept;
}

RetuneReport together(const RetuneReport& a, const RetuneReport& b) {
    return {a.notes + b.notes, a.offTuning + b.offTuning, std::max(a.worstCents, b.worstCents),
            a.silent + b.silent};
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

std::optional<std::chrono::nanoseconds> Sequencer::playingTime(std::span<const std::uint8_t> image,
                                                               int minPeriod) {
    std::chrono::nanoseconds last{0};
    if (!timeline(image, minPeriod,
                  [&last](const MidiEvent&, std::chrono::nanoseconds at) { last = at; })) {
        return std::nullopt;
    }
    return last;
}

void Sequencer::holdUntil(Run& run, SteadyTime now) {
    if (now <= run.due) return;
    run.origin += now - run.due;
    run.due = now;
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

std::optional<RetuneReport> Sequencer::retuneReport() const {
    std::lock_guard lock(reportMutex_);
    return report_;
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
    run->retuneSettings = retuneSettings_;
    run->retunerFactory = retunerFactory_;
    run->deviceOpenings = p_.port.openings();
    {
        std::lock_guard lock(reportMutex_);
        report_.reset();
    }
    if (const std::uint16_t bent = bentChannels_.exchange(0); bent != 0) releaseBends(bent);

    const auto track = playableTrack(p_.song.image());
    if (!track) {
        p_.port.reportError(1004);
        return;
    }
    run->clock = SongClock(track->division);
    run->firstRunningStatus = runningStatus_.load();
    run->events.emplace(track->bytes, kFirstEventOffset, run->firstRunningStatus,
                        EventReader::StrayData::Report);

    run->periodMs = periodFor(track->division, p_.timers.minPeriodMs());
    run->next = run->events->next();  // the first event is not delayed by its own delta time
    run->origin = p_.timers.now() + std::chrono::milliseconds(run->periodMs);
    run->due = run->origin;
    {
        std::lock_guard lock(playMutex_);
        // The keyboard goes on in the song's run: what it holds now ends where it was sounded.
        if (songRun_) releaseLiveNotes(*songRun_);
        if (liveRun_) releaseLiveNotes(*liveRun_);
        liveRun_.reset();
        songRun_ = run;
    }
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
    bool waited = false;
    while (!p_.port.ready()) {
        if (!current(*run)) return;
        waited = true;
        std::this_thread::sleep_for(kReadyPoll);
    }
    // After a stall (a message box, another song's stop wait, a device getting ready) the
    // schedule starts afresh rather than rushing through every event that fell due meanwhile.
    if (const SteadyTime now = p_.timers.now(); waited || now - run->due > kStall) {
        holdUntil(*run, now);
    }
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
        if (!first) {
            // Each time from the song's start, so that no rounding adds up; events due together
            // go out in this callback.
            run->clock.advance(run->next->delta);
            if (const SteadyTime due = after(run->origin, run->clock.elapsed()); due > run->due) {
                run->due = due;
                arm(run);
                return;
            }
        }
        std::lock_guard lock(playMutex_);
        if (!playEvent(*run)) return;
    }
}

int Sequencer::noteOntoScale(const MidiEvent& e) {
    const std::size_t noteAt = e.dataAt();
    int note = p_.song.data[noteAt];
    if (!p_.tuning.rhythm.isRhythm(e.status & 0x0F)) {
        note = p_.tuning.moveOntoScale(note);
        p_.song.data[noteAt] = static_cast<std::uint8_t>(note);
    }
    return note;
}

void Sequencer::playNote(const MidiEvent& e, bool on) {
    const int channel = e.status & 0x0F;
    const int note = noteOntoScale(e);
    if (on) {
        p_.port.noteOn(note, p_.song.data[e.dataAt() + 1], channel);
    } else {
        p_.port.noteOff(note, channel);
    }
}

void Sequencer::send(const ChannelMessage& m) {
    const int channel = m.channel();
    switch (m.status & 0xF0) {
        case 0x90:
            p_.port.noteOn(m.data1, m.data2, channel);
            break;
        case 0x80:
            p_.port.noteOff(m.data1, channel);
            break;
        case 0xC0:
            p_.port.programChange(m.data1, channel);
            break;
        case 0xD0:
            p_.port.channelPressure(m.status, m.data1);
            break;
        default:
            p_.port.channelMessage(m.status, m.data1, m.data2);
            break;
    }
}

void Sequencer::releaseBends(std::uint16_t channels) {
    for (int c = 0; c < kPartCount; ++c) {
        if ((channels & (1u << c)) == 0) continue;
        p_.port.channelMessage(0xB0 + c, 0x7B, 0x00);
        p_.port.channelMessage(0xE0 + c, 0x00, 0x40);
    }
}

void Sequencer::followRetuning(Run& run, DeviceType type) {
    const NoteRetunerMaker make = dialectOf(type).noteRetuner;
    if (make == run.retunerMaker) return;
    releaseLiveNotes(run);
    if (run.retuner) stopRetuning(run);
    if (make != nullptr) startRetuning(run, make);
}

void Sequencer::startRetuning(Run& run, NoteRetunerMaker make) {
    // Notes begun in another dialect would never be let go: the retuner does not know them.
    if (run.eventsPlayed > 0) p_.port.allNotesOff();
    run.retuner =
        run.retunerFactory ? run.retunerFactory(run.retuneSettings) : make(run.retuneSettings);
    run.retunerMaker = make;
    run.retuner->begin(run.live ? ChannelUse{} : channelUseOf(p_.song.image()));
    run.retuner->setTuning(p_.tuning.value());
    // The channels it borrows become copies of the parts as the song has set them up so far.
    run.retuned.clear();
    if (const auto track = playableTrack(p_.song.image()); track && !run.live) {
        for (const ChannelMessage& m :
             channelStateBefore(track->bytes, run.firstRunningStatus, run.eventsPlayed)) {
            run.retuner->take(m, run.clock.elapsed(), p_.tuning.rhythm.isRhythm(m.channel()),
                              run.retuned);
        }
    }
    sendRetuned(run);
}

void Sequencer::stopRetuning(Run& run) {
    releaseBends(bentChannels_.exchange(0));
    run.earlierRetuners = together(run.earlierRetuners, run.retuner->report());
    run.retuner.reset();
    run.retunerMaker = nullptr;
    // From here the other dialect's rules: its tuning before the next note.
    p_.sender.forgetSent();
    run.tuningWiped = true;
}

void Sequencer::retune(Run& run, const MidiEvent& e) {
    ChannelMessage m = *e.channelMessage();
    if (e.isNote()) m.data1 = static_cast<std::uint8_t>(noteOntoScale(e));
    if (e.isNoteOn()) {
        // A tuning that gives each note its own pitch knows it by the Note On's place in the track.
        if (const auto plan = p_.tuning.notePlan()) {
            run.retuner->pitchNextNote(
                plan->offsetAt(static_cast<std::uint32_t>(run.eventsPlayed)));
        }
    }
    run.retuned.clear();
    run.retuner->take(m, run.clock.elapsed(), p_.tuning.rhythm.isRhythm(m.channel()), run.retuned);
    SysExList before;
    run.retuner->sysExBefore(before);
    for (std::size_t i = 0; i < before.count(); ++i)
        p_.port.sendLong(before[i]);
    sendRetuned(run);
}

void Sequencer::sendRetuned(Run& run) {
    std::uint16_t channels = 0;
    for (const ChannelMessage& m : run.retuned) {
        send(m);
        channels |= static_cast<std::uint16_t>(1u << m.channel());
    }
    bentChannels_.fetch_or(channels);
    const RetuneReport report = together(run.earlierRetuners, run.retuner->report());
    std::lock_guard lock(reportMutex_);
    // A callback of a stopped playback finishing its event leaves the next one's report alone.
    if (current(run) && !run.live) report_ = report;
}

void Sequencer::sendTuning(Run& run, DeviceType type) {
    p_.sender.sendScaleTuning(type);
    run.tuningWiped = false;
}

void Sequencer::followTuningChange(Run& run, DeviceType type) {
    // Each offset is an atomic the window thread stores before it raises the flag; a tuning
    // changed again while this reads raises the flag again for the next event.
    if (p_.tuning.tuningChanged.exchange(0) == 0) return;
    // A retuner tunes the notes that start from now on; a dialect that also tells the module a
    // tuning (a pitch for every key) sends it as well.
    if (run.retuner) run.retuner->setTuning(p_.tuning.value());
    sendTuning(run, type);
}

void Sequencer::followDevice(Run& run) {
    const std::uint32_t openings = p_.port.openings();
    if (openings == run.deviceOpenings) return;
    run.deviceOpenings = openings;
    forgetModule(run);
}

void Sequencer::forgetModule(Run& run) {
    p_.sender.forgetSent();
    run.tuningWiped = true;
    if (run.retuner) {
        run.retuned.clear();
        run.retuner->afterReset(run.clock.elapsed(), run.retuned);
        sendRetuned(run);
    }
}

void Sequencer::playMessage(Run& run, std::span<const std::uint8_t> body,
                            std::span<const std::uint8_t> fileForm, DeviceType type) {
    p_.tuning.rhythm.examineBody(body);
    const Dialect& dialect = dialectOf(type);
    if (const auto withheld = dialect.withholds(body)) {
        p_.dialogs.showMessage(*withheld, BoxStyle::SystemModal);
        holdUntil(run, p_.timers.now());  // the song waited for the OK
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
    if (const auto reset = recogniseReset(body); reset && dialect.forgetsAfter(reset->kind)) {
        forgetModule(run);
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
    followRetuning(run, type);
    followDevice(run);
    followTuningChange(run, type);

    const MidiEvent& e = *run.next;
    if (e.stray) {
        p_.port.reportError(1008);
        return false;
    }
    if (e.isNoteOn()) {
        // The first Note On with its status written out brings the tuning; so does the first
        // after a reset.
        if ((!e.runningStatus && run.noteOnCount == 0) || run.tuningWiped) sendTuning(run, type);
        if (!e.runningStatus) ++run.noteOnCount;
    }
    if (run.retuner && e.channelMessage()) {
        retune(run, e);
    } else if (e.isNoteOn()) {
        playNote(e, true);
    } else if (e.isNote()) {
        playNote(e, false);
    } else if (e.isSysEx() || e.isEscape()) {
        playSysEx(run, e, type);
    } else if (e.isMeta()) {
        if (const auto tempo = e.tempo()) run.clock.setTempo(*tempo);
    } else if (const auto m = e.channelMessage()) {
        send(*m);
    }
    runningStatus_.store(run.events->runningStatus());
    ++run.eventsPlayed;
    return true;
}

}  // namespace pitchloom

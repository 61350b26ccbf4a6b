#include "convert/song_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

#include "base/messages.h"
#include "midifile/byte_reader.h"
#include "midifile/event_writer.h"
#include "midifile/song_clock.h"
#include "midifile/sysex.h"
#include "tuning/rhythm_channels.h"
#include "tuning/song_tuning.h"

namespace pitchloom {

namespace {

// The bytes an insertion adds: each message after a delta time of one byte.
std::size_t addedBytes(std::span<const std::span<const std::uint8_t>> messages, bool statusAdded) {
    std::size_t n = statusAdded ? 1 : 0;
    for (const auto& m : messages)
        n += 1 + m.size();
    return n;
}

// A System Exclusive packet that the reader measured by looking past its length for a packet
// going on with it, and found none: that look may reach past the event after it.
bool lookedPastItsLength(const MidiEvent& e) {
    if (!e.isSysEx() || e.unfinishedSysEx) return false;
    ByteReader r(e.bytes, 1);
    const auto length = r.readVlq();
    return length && e.payload.size() > *length;
}

// F0, a length, and exactly that many bytes, the last and only F7 among them: read back, the
// message is one System Exclusive event of just its bytes.
bool isWholeSysEx(std::span<const std::uint8_t> message) {
    ByteReader r(message);
    if (r.readByte() != 0xF0) return false;
    const auto length = r.readVlq();
    return length && *length == r.remaining() && r.spanThrough(0xF7) == r.remaining();
}

// The largest delta time a file can hold: four bytes of seven bits.
constexpr std::uint64_t kLongestDelta = 0x0FFFFFFF;

std::uint16_t rhythmMaskOf(const RhythmChannels& rhythm) {
    std::uint16_t channels = 0;
    for (int c = 0; c < kPartCount; ++c)
        channels |= static_cast<std::uint16_t>(rhythm.isRhythm(c) ? 1u << c : 0u);
    return channels;
}

}  // namespace

std::uint64_t SongWriter::findTuningTime() {
    writeHeld();
    EventReader events = reader();
    std::uint64_t timeBefore = 0;
    while (auto e = events.next()) {
        if (e->isNoteOn()) return timeBefore;
        timeBefore += e->delta;
    }
    return 0;
}

SongWriter::InsertionPoint SongWriter::insertionPoint(std::uint64_t time) {
    if (cached_ && cached_->first == time) return cached_->second;
    // One walk up to the first note-on. Where the messages may go: after the last event between
    // time 0 and `time`, or after the last reset; each with the event that would follow them.
    struct Spot {
        InsertionPoint point;
        std::uint64_t time = 0;
        bool awaitingNext = true;  // the event behind the spot is still to be read
    };
    Spot byTime;
    std::optional<Spot> byReset;
    std::uint64_t now = 0;
    std::size_t events = 0;
    bool timeWalkDone = false;
    bool splitSysEx = false;  // inside a message sent in packets: nothing may come between them
    bool lookedPast = false;  // a packet so far was measured by a look that may reach past a spot
    const auto spotAfter = [&](std::uint64_t at) {
        Spot spot;
        spot.point.events = events;
        spot.point.readsAlike = !lookedPast;
        spot.time = at;
        return spot;
    };
    EventReader walk = reader();
    while (auto e = walk.next()) {
        for (Spot* spot : {&byTime, byReset ? &*byReset : nullptr}) {
            if (spot == nullptr || !spot->awaitingNext) continue;
            spot->awaitingNext = false;
            // Behind added messages the writer writes out the status an event ran on.
            spot->point.statusAdded = e->runningStatus;
        }
        ++events;
        now += e->delta;
        if (e->isNoteOn()) break;
        lookedPast = lookedPast || lookedPastItsLength(*e);
        // Other tracks' events may stand between the packets of a merged song: only the last
        // packet ends the message.
        const bool lastPacket = e->isEscape() && !e->payload.empty() && e->payload.back() == 0xF7;
        splitSysEx = e->unfinishedSysEx || (splitSysEx && !lastPacket);
        if (!timeWalkDone) {
            if (now >= time) {
                timeWalkDone = true;
            } else if (now > 0 && !splitSysEx) {
                byTime = spotAfter(now);
            }
        }
        // A reset after the tuning would wipe it on the module.
        if (e->isSysEx() && !e->unfinishedSysEx && isResetEvent(e->bytes)) {
            byReset = spotAfter(now);
        }
    }
    const Spot& chosen = byReset && byReset->point.events > byTime.point.events ? *byReset : byTime;
    InsertionPoint point = chosen.point;
    // Inserted one by one, a message after an event between time 0 and `time` would itself lie
    // there and be passed over by the next; anywhere else the next would go in front of it.
    point.newestFirst = chosen.time == 0 || chosen.time >= time;
    cached_.emplace(time, point);
    return point;
}

std::size_t SongWriter::statusBytesAddedAt(std::uint64_t time) {
    writeHeld();
    return insertionPoint(time).statusAdded ? 1 : 0;
}

std::uint16_t SongWriter::melodicChannelsAt(std::uint64_t time) {
    writeHeld();
    const std::size_t before = insertionPoint(time).events;
    RhythmChannels rhythm;
    EventReader events = reader();
    for (std::size_t i = 0; i < before; ++i) {
        const auto e = events.next();
        if (!e) break;
        if (e->isSysEx()) rhythm.examineForRhythm(e->bytes);
    }
    std::uint16_t channels = 0;
    for (int c = 0; c < kPartCount; ++c) {
        if (!rhythm.isRhythm(c)) channels |= static_cast<std::uint16_t>(1u << c);
    }
    return channels;
}

bool SongWriter::insertEvents(std::uint64_t time,
                              std::span<const std::span<const std::uint8_t>> messages) {
    writeHeld();
    const std::size_t length = image().size();
    if (length < kFirstEventOffset || messages.empty()) return length >= kFirstEventOffset;
    const Insertion insertion{insertionPoint(time), messages};
    if (length + addedBytes(messages, insertion.point.statusAdded) > song_.data.size()) {
        return false;
    }
    if (!holding_) return rewrite(&insertion, false);
    // The caller's messages may not outlive the call: the held insertion keeps its own.
    held_ = HeldInsertion{};
    HeldInsertion& held = *held_;
    held.time = time;
    for (const auto& m : messages)
        held.bytes.insert(held.bytes.end(), m.begin(), m.end());
    for (std::size_t at = 0; const auto& m : messages) {
        held.messages.emplace_back(held.bytes.data() + at, m.size());
        at += m.size();
    }
    return true;
}

bool SongWriter::insertEvent(std::uint64_t time, std::span<const std::uint8_t> message) {
    const std::span<const std::uint8_t> one[] = {message};
    return insertEvents(time, one);
}

void SongWriter::applyScaleToNotes() {
    writeHeld();
    rewrite(nullptr, true);
}

bool SongWriter::insertAndApplyScale(const std::function<bool(SongWriter&)>& insert) {
    holding_ = true;
    const bool inserted = insert(*this);
    holding_ = false;
    const std::optional<HeldInsertion> held = std::exchange(held_, std::nullopt);
    if (!held) {
        if (inserted) applyScaleToNotes();
        return inserted;
    }
    const Insertion insertion{insertionPoint(held->time), held->messages};
    // The walk that inserts reads the song without the messages. Moving the notes in it reads
    // them as a walk over the song with the messages would, unless a packet in front of them was
    // measured by a look past its length, or a message is no whole System Exclusive event.
    const bool oneWalk = insertion.point.readsAlike &&
                         std::all_of(held->messages.begin(), held->messages.end(), isWholeSysEx);
    if (inserted && oneWalk) return rewrite(&insertion, true);
    const bool written = rewrite(&insertion, false);
    if (!inserted || !written) return false;
    applyScaleToNotes();
    return true;
}

void SongWriter::writeHeld() {
    const std::optional<HeldInsertion> held = std::exchange(held_, std::nullopt);
    if (!held) return;
    const Insertion insertion{insertionPoint(held->time), held->messages};
    rewrite(&insertion, false);
}

bool SongWriter::rewrite(const Insertion* insertion, bool moveNotes) {
    const std::span<const std::uint8_t> source = image();
    if (source.size() < kFirstEventOffset) return false;
    const std::size_t grown =
        insertion ? addedBytes(insertion->messages, insertion->point.statusAdded) : 0;
    if (source.size() + grown > song_.data.size()) return false;
    // Room for what the song buffer holds, never filled before it is written.
    if (!scratch_) scratch_ = std::make_unique_for_overwrite<std::uint8_t[]>(song_.data.size());
    const std::span<std::uint8_t> target(scratch_.get(), source.size() + grown);
    std::copy_n(source.begin(), kFirstEventOffset, target.begin());
    EventWriter out{target.subspan(kFirstEventOffset)};

    // The scale as it stands for the walk, looked up once per note rather than searched.
    std::array<std::uint8_t, 128> onScale{};
    if (moveNotes) {
        for (std::size_t n = 0; n < onScale.size(); ++n)
            onScale[n] = static_cast<std::uint8_t>(tuning_.moveOntoScale(static_cast<int>(n)));
    }
    std::uint16_t rhythm =
        rhythmMaskOf(tuning_.rhythm);  // as the song's messages so far have set them
    const auto addMessages = [&] {
        const auto add = [&](std::span<const std::uint8_t> m) {
            out.add(0, m);
            if (!moveNotes) return;
            tuning_.rhythm.examineForRhythm(m);
            rhythm = rhythmMaskOf(tuning_.rhythm);
        };
        const auto& messages = insertion->messages;
        if (insertion->point.newestFirst) {
            std::for_each(messages.rbegin(), messages.rend(), add);
        } else {
            std::for_each(messages.begin(), messages.end(), add);
        }
    };

    const std::size_t insertAt =
        insertion ? insertion->point.events : std::numeric_limits<std::size_t>::max();
    EventReader events = reader();
    for (std::size_t index = 0;; ++index) {
        if (index == insertAt) addMessages();
        const std::size_t from = events.position();
        const auto e = events.next();
        if (!e) break;
        const auto spelled = source.subspan(from, events.position() - from);
        if (!moveNotes) {
            out.copy(spelled, *e);
            // Behind the event after the messages the writer runs on as the song does: nothing
            // changes from there on.
            if (index == insertAt) break;
            continue;
        }
        if (e->unknownMeta) {
            dialogs_.showMessage(messages::kEventError, BoxStyle::SystemModal);
        } else if (e->isSysEx()) {
            tuning_.rhythm.examineForRhythm(e->bytes);
            rhythm = rhythmMaskOf(tuning_.rhythm);
        } else if (e->isNote() && ((rhythm >> (e->status & 0x0F)) & 1) == 0) {
            // Written as moved whether it moved or not: the same bytes, and no branch to guess.
            const std::uint8_t* const data = source.data() + e->dataAt();
            const std::uint8_t moved[] = {data[0] < onScale.size() ? onScale[data[0]] : data[0],
                                          data[1]};
            out.copy(spelled, *e, e->status, moved);
            continue;
        }
        out.copy(spelled, *e);
    }
    const auto rest = source.subspan(events.position());
    if (moveNotes) out.copyRaw(rest);
    const std::size_t written = kFirstEventOffset + out.finish();
    if (!out.fits()) return false;

    const std::size_t length = written + (moveNotes ? 0 : rest.size());
    writeBe32(
        target, kTrackLengthOffset,
        readBe32(source, kTrackLengthOffset) + static_cast<std::uint32_t>(length - source.size()));
    // The rest the walk left as it stands moves over within the song buffer, before what goes in
    // front of it overwrites its old place: one move of most of the song rather than two copies.
    if (!moveNotes) std::memmove(song_.data.data() + written, rest.data(), rest.size());
    std::copy_n(target.begin(), written, song_.data.begin());
    song_.length = static_cast<std::int32_t>(length);
    cached_.reset();
    return true;
}

bool SongWriter::retuneNotes(NoteRetuner& retuner) {
    writeHeld();
    const std::span<const std::uint8_t> source = image();
    if (source.size() < kFirstEventOffset) return false;
    if (!scratch_) scratch_ = std::make_unique_for_overwrite<std::uint8_t[]>(song_.data.size());
    // What the retuner adds is known only once it is written: the writer stops where the song
    // would be too large to load again.
    const std::span<std::uint8_t> target(scratch_.get(), kSongBufferSize - 1);
    std::copy_n(source.begin(), kFirstEventOffset, target.begin());
    EventWriter out{target.subspan(kFirstEventOffset)};

    std::array<std::uint8_t, 128> onScale{};
    for (std::size_t n = 0; n < onScale.size(); ++n)
        onScale[n] = static_cast<std::uint8_t>(tuning_.moveOntoScale(static_cast<int>(n)));
    std::uint16_t rhythm = rhythmMaskOf(tuning_.rhythm);
    retuner.begin(channelUseOf(source));
    retuner.setTuning(tuning_.value());
    SongClock clock(readBe16(source, kDivisionOffset));

    std::vector<ChannelMessage> sent;
    // Every event is written anew, so that one the retuner adds never runs on the status of a
    // meta or System Exclusive event before it, which many readers would misread.
    const auto writeSent = [&](std::uint32_t delta) {
        for (const ChannelMessage& m : sent) {
            const std::uint8_t bytes[] = {m.status, m.data1, m.data2};
            const auto event = std::span(bytes).first(1 + m.dataSize());
            // A data byte read as one though its top bit is set keeps the status in front of it,
            // or a reader would take it for a status of its own.
            const bool dataLikeStatus = std::any_of(event.begin() + 1, event.end(),
                                                    [](std::uint8_t b) { return b > 0x7F; });
            out.add(std::exchange(delta, 0), event,
                    dataLikeStatus ? EventWriter::RunOn::Never : EventWriter::RunOn::Allowed);
        }
    };
    // The tuning that gives each note its own pitch, by the place of its Note On in the track
    // as it stands now, with the messages put in front of the first note.
    const auto plan = notePlanOf(tuning_, source);
    SysExList before;
    // The time of messages that have no place on the way out goes on to the next event.
    std::uint64_t carried = 0;
    EventReader events = reader();
    std::chrono::nanoseconds at{0};
    for (std::uint32_t index = 0;; ++index) {
        const auto e = events.next();
        if (!e) break;
        clock.advance(e->delta);
        // Events that lie together share their time: worked out once.
        if (e->delta != 0) at = clock.elapsed();
        const auto delta = static_cast<std::uint32_t>(std::min(carried + e->delta, kLongestDelta));
        sent.clear();
        if (auto message = e->channelMessage()) {
            ChannelMessage& m = *message;
            const bool isRhythm = ((rhythm >> m.channel()) & 1) != 0;
            if (e->isNote() && !isRhythm && m.data1 < onScale.size()) m.data1 = onScale[m.data1];
            if (plan && e->isNoteOn()) retuner.pitchNextNote(plan->offsetAt(index));
            retuner.take(m, at, isRhythm, sent);
            retuner.sysExBefore(before);
            std::uint32_t rest = delta;
            for (std::size_t i = 0; i < before.count(); ++i)
                out.add(std::exchange(rest, 0), before[i]);
            carried = sent.empty() && before.count() == 0 ? carried + e->delta : 0;
            before.clear();
            writeSent(rest);
            continue;
        }
        if (e->unknownMeta) dialogs_.showMessage(messages::kEventError, BoxStyle::SystemModal);
        if (const auto tempo = e->tempo()) clock.setTempo(*tempo);
        out.add(delta, e->bytes);
        carried = 0;
        if (!e->isSysEx()) continue;
        tuning_.rhythm.examineForRhythm(e->bytes);
        rhythm = rhythmMaskOf(tuning_.rhythm);
        if (!e->unfinishedSysEx && isResetEvent(e->bytes)) {
            retuner.afterReset(at, sent);
            writeSent(0);
        }
    }
    out.copyRaw(source.subspan(events.position()));
    const std::size_t length = kFirstEventOffset + out.finish();
    if (!out.fits()) return false;

    writeBe32(
        target, kTrackLengthOffset,
        readBe32(source, kTrackLengthOffset) + static_cast<std::uint32_t>(length - source.size()));
    std::copy_n(target.begin(), length, song_.data.begin());
    song_.length = static_cast<std::int32_t>(length);
    cached_.reset();
    return true;
}

bool SongWriter::saveWithDialog(WriteMode mode, std::string_view remark) {
    const auto path = dialogs_.askSavePath(kMidiFileFilter);
    return path && saveTo(*path, mode, remark);
}

bool SongWriter::saveTo(const std::string& path, WriteMode mode, std::string_view remark) {
    writeHeld();
    if (const FileStatus written = writeFile(path, image(), mode); !written) {
        dialogs_.showMessage(messages::kCannotOpenFile, BoxStyle::SystemModal);
        dialogs_.showDetail(written.about(path));
        return false;
    }
    if (remark.empty()) {
        dialogs_.showMessage(messages::kWrittenToFile, BoxStyle::SystemModal);
    } else {
        const std::string text = std::string(messages::kWrittenToFile) + "\n" + std::string(remark);
        dialogs_.showMessage(text, BoxStyle::SystemModal);
    }
    return true;
}

}  // namespace pitchloom

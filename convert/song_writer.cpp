#include "convert/song_writer.h"

#include <cstring>
#include <vector>

#include "base/messages.h"
#include "midifile/sysex.h"
#include "tuning/rhythm_channels.h"

namespace pitchloom {

std::uint64_t SongWriter::findTuningTime() {
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
        std::size_t at = kFirstEventOffset;
        std::uint64_t time = 0;
        std::optional<std::size_t> statusAt;
        std::uint8_t status = 0;
        bool awaitingNext = true;  // the event behind the spot is still to be read
    };
    const auto spotAfter = [](const MidiEvent& e, std::uint64_t time) {
        Spot spot;
        spot.at = e.end();
        spot.time = time;
        return spot;
    };
    Spot byTime;
    std::optional<Spot> byReset;
    std::uint64_t now = 0;
    bool timeWalkDone = false;
    bool splitSysEx = false;  // inside a message sent in packets: nothing may come between them
    EventReader events = reader();
    while (auto e = events.next()) {
        for (Spot* spot : {&byTime, byReset ? &*byReset : nullptr}) {
            if (spot == nullptr || !spot->awaitingNext) continue;
            spot->awaitingNext = false;
            // A System Exclusive message ends running status: the event behind one needs its own.
            if (e->runningStatus) {
                spot->statusAt = e->at;
                spot->status = e->status;
            }
        }
        now += e->delta;
        if (e->isNoteOn()) break;
        // Other tracks' events may stand between the packets of a merged song: only the last
        // packet ends the message.
        const bool lastPacket = e->isEscape() && !e->payload.empty() && e->payload.back() == 0xF7;
        splitSysEx = e->unfinishedSysEx || (splitSysEx && !lastPacket);
        if (!timeWalkDone) {
            if (now >= time) {
                timeWalkDone = true;
            } else if (now > 0 && !splitSysEx) {
                byTime = spotAfter(*e, now);
            }
        }
        // A reset after the tuning would wipe it on the module.
        if (e->isSysEx() && !e->unfinishedSysEx && isResetEvent(e->bytes)) {
            byReset = spotAfter(*e, now);
        }
    }
    const Spot& chosen = byReset && byReset->at > byTime.at ? *byReset : byTime;
    InsertionPoint point;
    point.at = chosen.at;
    point.statusAt = chosen.statusAt;
    point.status = chosen.status;
    // Inserted one by one, a message after an event between time 0 and `time` would itself lie
    // there and be passed over by the next; anywhere else the next would go in front of it.
    point.newestFirst = chosen.time == 0 || chosen.time >= time;
    cached_.emplace(time, point);
    return point;
}

std::size_t SongWriter::statusBytesAddedAt(std::uint64_t time) {
    return insertionPoint(time).statusAt ? 1 : 0;
}

std::uint16_t SongWriter::melodicChannelsAt(std::uint64_t time) {
    const std::size_t at = insertionPoint(time).at;
    RhythmChannels rhythm;
    EventReader events = reader();
    while (auto e = events.next()) {
        if (e->end() > at) break;
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
    const std::size_t length = image().size();
    if (length < kFirstEventOffset || messages.empty()) return length >= kFirstEventOffset;
    const InsertionPoint point = insertionPoint(time);

    std::vector<std::uint8_t> block;
    auto add = [&block](std::span<const std::uint8_t> m) {
        block.push_back(0x00);
        block.insert(block.end(), m.begin(), m.end());
    };
    if (point.newestFirst) {
        for (auto m = messages.rbegin(); m != messages.rend(); ++m)
            add(*m);
    } else {
        for (const auto& m : messages)
            add(m);
    }
    const std::size_t grown = block.size() + (point.statusAt ? 1 : 0);
    if (length + grown > song_.data.size()) return false;

    std::uint8_t* d = song_.data.data();
    std::size_t end = length;
    if (point.statusAt) {
        std::memmove(d + *point.statusAt + 1, d + *point.statusAt, end - *point.statusAt);
        d[*point.statusAt] = point.status;
        ++end;
    }
    std::memmove(d + point.at + block.size(), d + point.at, end - point.at);
    cached_.reset();
    std::memcpy(d + point.at, block.data(), block.size());
    song_.length += static_cast<std::int32_t>(grown);
    writeBe32(song_.data, kTrackLengthOffset,
              readBe32(song_.data, kTrackLengthOffset) + static_cast<std::uint32_t>(grown));
    return true;
}

bool SongWriter::insertEvent(std::uint64_t time, std::span<const std::uint8_t> message) {
    const std::span<const std::uint8_t> one[] = {message};
    return insertEvents(time, one);
}

void SongWriter::applyScaleToNotes() {
    EventReader events = reader();
    while (auto e = events.next()) {
        if (e->unknownMeta) {
            dialogs_.showMessage(messages::kEventError, BoxStyle::SystemModal);
        } else if (e->isSysEx()) {
            tuning_.rhythm.examineForRhythm(e->bytes);
        } else if (e->isNote() && !tuning_.rhythm.isRhythm(e->status & 0x0F)) {
            std::uint8_t& note = song_.data[e->dataAt()];
            note = static_cast<std::uint8_t>(tuning_.moveOntoScale(note));
        }
    }
}

bool SongWriter::saveWithDialog(WriteMode mode) {
    const auto path = dialogs_.askSavePath(kMidiFileFilter);
    return path && saveTo(*path, mode);
}

bool SongWriter::saveTo(const std::string& path, WriteMode mode) {
    if (const FileStatus written = writeFile(path, image(), mode); !written) {
        dialogs_.showMessage(messages::kCannotOpenFile, BoxStyle::SystemModal);
        dialogs_.showDetail(written.about(path));
        return false;
    }
    dialogs_.showMessage(messages::kWrittenToFile, BoxStyle::SystemModal);
    return true;
}

}  // namespace pitchloom

#include "convert/song_writer.h"

#include <array>
#include <cstring>

#include "midifile/file_io.h"
#include "midifile/sysex.h"

namespace pitchloom {

namespace {

std::span<const std::uint8_t> bytesOf(std::span<const std::uint8_t> image, const SongEvent& e) {
    return image.subspan(e.statusAt, e.end - e.statusAt);
}

}  // namespace

std::optional<SongEvent> SongWriter::nextEvent(EventWalk& walk, bool report) {
    auto e = walk.next();
    if (report && e && e->unknownMeta) {
        dialogs_.showMessage("Event Error!", BoxStyle::SystemModal);
    }
    return e;
}

std::uint64_t SongWriter::findTuningTime() {
    EventWalk walk(image());
    std::uint64_t timeBefore = 0;
    while (auto e = nextEvent(walk)) {
        if (e->isNoteOn()) return timeBefore;
        timeBefore += e->delta;
    }
    return 0;
}

std::optional<std::size_t> SongWriter::endOfResetBeforeFirstNoteOn() {
    const auto bytes = image();
    EventWalk walk(bytes);
    std::optional<std::size_t> resetEnd;
    while (auto e = nextEvent(walk, false)) {
        if (e->isNoteOn()) return resetEnd;
        if (e->status == 0xF0 && isResetMessage(bytesOf(bytes, *e))) resetEnd = e->end;
    }
    return std::nullopt;
}

SongWriter::InsertionPoint SongWriter::insertionPoint(std::uint64_t time, bool report) {
    InsertionPoint point;
    std::uint64_t now = 0;
    EventWalk walk(image());
    while (auto e = nextEvent(walk, report)) {
        now += e->delta;
        if (now >= time) break;
        if (now > 0) point.at = e->end;
    }
    // A reset after the tuning would wipe it on the module.
    if (const auto resetEnd = endOfResetBeforeFirstNoteOn(); resetEnd && *resetEnd > point.at) {
        point.at = *resetEnd;
    }
    // The event that will follow the message: its delta time starts where the message goes.
    EventWalk behind(image());
    std::size_t start = kFirstEventOffset;
    while (auto e = nextEvent(behind, false)) {
        if (start == point.at) {
            if (e->runningStatus) {
                point.statusAt = e->dataAt();
                point.status = e->status;
            }
            break;
        }
        if (start > point.at) break;
        start = e->end;
    }
    return point;
}

std::size_t SongWriter::statusBytesAddedAt(std::uint64_t time) {
    return insertionPoint(time, false).statusAt ? 1 : 0;
}

bool SongWriter::insertEvent(std::uint64_t time, std::span<const std::uint8_t> message) {
    const std::size_t length = image().size();
    if (length < kFirstEventOffset) return false;
    const InsertionPoint point = insertionPoint(time, true);
    const std::size_t grown = message.size() + 1 + (point.statusAt ? 1 : 0);
    if (length + grown > song_.data.size()) return false;

    std::uint8_t* d = song_.data.data();
    std::size_t end = length;
    if (point.statusAt) {
        std::memmove(d + *point.statusAt + 1, d + *point.statusAt, end - *point.statusAt);
        d[*point.statusAt] = point.status;
        ++end;
    }
    const std::size_t messageSize = message.size() + 1;
    std::memmove(d + point.at + messageSize, d + point.at, end - point.at);
    d[point.at] = 0x00;
    std::memcpy(d + point.at + 1, message.data(), message.size());
    song_.length += static_cast<std::int32_t>(grown);
    writeBe32(song_.data, kTrackLengthOffset,
              readBe32(song_.data, kTrackLengthOffset) + static_cast<std::uint32_t>(grown));
    return true;
}

void SongWriter::applyScaleToNotes() {
    const auto bytes = image();
    EventWalk walk(bytes);
    while (auto e = nextEvent(walk)) {
        if (e->status == 0xF0) {
            tuning_.rhythm.examineForRhythm(bytesOf(bytes, *e));
        } else if (e->isNote() && !tuning_.rhythm.isRhythm(e->status & 0x0F)) {
            std::uint8_t& note = song_.data[e->dataAt()];
            note = static_cast<std::uint8_t>(tuning_.moveOntoScale(note));
        }
    }
}

bool SongWriter::saveWithDialog(PipeWait pipes) {
    const auto path = dialogs_.askSavePath(kMidiFileFilter);
    if (!path) return false;
    if (const FileStatus written = writeFile(*path, image(), pipes); !written) {
        dialogs_.showMessage("Can not open file!", BoxStyle::SystemModal);
        dialogs_.showDetail(written.about(*path));
        return false;
    }
    dialogs_.showMessage("Information has been written to the file!", BoxStyle::SystemModal);
    return true;
}

}  // namespace pitchloom

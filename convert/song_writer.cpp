#include "convert/song_writer.h"

#include <array>
#include <cstring>

#include "midifile/file_io.h"

namespace pitchloom {

namespace {

struct BytePattern {
    std::uint8_t value;
    std::uint8_t mask = 0xFF;
};

constexpr BytePattern kAnyDevice{0x00, 0x00};
constexpr BytePattern kXgAnyDevice{0x10, 0xF0};

struct ResetMessage {
    std::array<BytePattern, 7> bytes;
    std::size_t count;
};

// Messages that reset a module's scale tuning: the body after F0 and its length.
constexpr std::array<ResetMessage, 5> kResetMessages = {{
    {{{{0x41}, kAnyDevice, {0x42}, {0x12}, {0x40}, {0x00}, {0x7F}}}, 7},    // GS reset
    {{{{0x41}, kAnyDevice, {0x42}, {0x12}, {0x00}, {0x00}, {0x7F}}}, 7},    // GS system mode set
    {{{{0x43}, kXgAnyDevice, {0x4C}, {0x00}, {0x00}, {0x7E}, {0x00}}}, 7},  // XG System On
    {{{{0x7E}, kAnyDevice, {0x09}, {0x01}}}, 4},                            // GM System On
    {{{{0x7E}, kAnyDevice, {0x09}, {0x03}}}, 4},                            // GM2 System On
}};

bool isResetMessage(std::span<const std::uint8_t> sysex) {
    ByteReader r(sysex, 1);
    if (!r.readVlq()) return false;
    const auto body = sysex.subspan(r.position());
    for (const ResetMessage& reset : kResetMessages) {
        if (body.size() < reset.count) continue;
        bool same = true;
        for (std::size_t i = 0; i < reset.count && same; ++i) {
            same = (body[i] & reset.bytes[i].mask) == reset.bytes[i].value;
        }
        if (same) return true;
    }
    return false;
}

std::span<const std::uint8_t> bytesOf(std::span<const std::uint8_t> image, const SongEvent& e) {
    return image.subspan(e.statusAt, e.end - e.statusAt);
}

}  // namespace

std::optional<SongEvent> SongWriter::nextEvent(EventWalk& walk) {
    auto e = walk.next();
    // Every walk would meet the same event again; once per conversion tells the user enough.
    if (e && e->unknownMeta && !eventErrorShown_) {
        eventErrorShown_ = true;
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
    while (auto e = nextEvent(walk)) {
        if (e->isNoteOn()) return resetEnd;
        if (e->status == 0xF0 && isResetMessage(bytesOf(bytes, *e))) resetEnd = e->end;
    }
    return std::nullopt;
}

bool SongWriter::insertEvent(std::uint64_t time, std::span<const std::uint8_t> message) {
    const std::size_t length = image().size();
    if (length < kFirstEventOffset || length + message.size() + 1 > song_.data.size()) {
        return false;
    }

    std::size_t at = kFirstEventOffset;
    std::uint64_t now = 0;
    EventWalk walk(image());
    while (auto e = nextEvent(walk)) {
        now += e->delta;
        if (now >= time) break;
        if (now > 0) at = e->end;
    }
    // A reset after the tuning would wipe it on the module.
    if (const auto resetEnd = endOfResetBeforeFirstNoteOn(); resetEnd && *resetEnd > at) {
        at = *resetEnd;
    }

    std::uint8_t* d = song_.data.data();
    const std::size_t grown = message.size() + 1;
    std::memmove(d + at + grown, d + at, length - at);
    d[at] = 0x00;
    std::memcpy(d + at + 1, message.data(), message.size());
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

bool SongWriter::saveWithDialog() {
    const auto path = dialogs_.askSavePath(kMidiFileFilter);
    if (!path) return false;
    if (!writeFileAtomically(*path, image())) {
        dialogs_.showMessage("Can not open file!", BoxStyle::SystemModal);
        return false;
    }
    dialogs_.showMessage("Information has been written to the file!", BoxStyle::SystemModal);
    return true;
}

}  // namespace pitchloom

#include "midifile/event_reader.h"

#include <algorithm>

#include "midifile/byte_reader.h"

namespace pitchloom {

namespace {

constexpr std::uint8_t kSysEx = 0xF0;
constexpr std::uint8_t kEscape = 0xF7;
constexpr std::uint8_t kMeta = 0xFF;

bool isStatusByte(std::uint8_t b) {
    return (b >= 0x80 && b <= 0xEF) || b == kSysEx || b == kEscape || b == kMeta;
}

// Data bytes of a channel message; 0 for a status that cannot run on.
std::size_t dataBytesOf(std::uint8_t status) {
    if (status < 0x80 || status > 0xEF) return 0;
    return status >= 0xC0 && status <= 0xDF ? 1 : 2;
}

bool isDefinedMeta(std::uint8_t type) {
    // Sequence number, the texts (program and device name included), channel prefix, port, end
    // of track, tempo, SMPTE offset, time and key signature, sequencer data.
    return type <= 0x09 || type == 0x20 || type == 0x21 || type == 0x2F || type == 0x51 ||
           type == 0x54 || type == 0x58 || type == 0x59 || type == 0x7F;
}

}  // namespace

EventReader::EventReader(std::span<const std::uint8_t> bytes, std::size_t from,
                         std::uint8_t runningStatus, StrayData stray)
    : bytes_(bytes), pos_(from), runningStatus_(runningStatus), stray_(stray) {}

std::optional<MidiEvent> EventReader::stopWith(Stop stop) {
    stop_ = stop;
    return std::nullopt;
}

std::optional<MidiEvent> EventReader::next() {
    if (stop_ != Stop::None) return std::nullopt;
    const std::uint8_t* const bytes = bytes_.data();
    const std::size_t size = bytes_.size();
    std::size_t at = pos_;
    if (at >= size) return stopWith(Stop::End);

    // Most events are a channel message behind a one-byte delta time: read them without detours.
    MidiEvent e;
    for (;;) {
        if (at >= size) return stopWith(Stop::Cut);
        const std::uint8_t b = bytes[at++];
        e.delta = (e.delta << 7) | (b & 0x7Fu);
        if (b < 0x80) break;
    }
    if (at >= size) return stopWith(Stop::Cut);
    e.at = at;
    const std::uint8_t first = bytes[at];
    std::size_t end;
    if (!isStatusByte(first)) {
        const std::size_t data = dataBytesOf(runningStatus_);
        if (data == 0) {
            if (stray_ == StrayData::End) return stopWith(Stop::NoStatus);
            // The byte stays where it is: read again, it starts the next delta time.
            pos_ = at;
            e.stray = true;
            return e;
        }
        end = at + data;
        e.status = runningStatus_;
        e.runningStatus = true;
    } else {
        e.status = first;
        // Meta and System Exclusive events leave the channel status in force: the data bytes
        // after one run on under it, as the common readers take them.
        if (dataBytesOf(first) > 0) runningStatus_ = first;
        if (const std::size_t data = dataBytesOf(first); data > 0) {
            end = at + 1 + data;
        } else {
            ByteReader r(bytes_, at + 1);
            if (first == kMeta) {
                const auto type = r.readByte();
                if (!type) return stopWith(Stop::Cut);
                e.unknownMeta = !isDefinedMeta(*type);
            }
            if (first == kSysEx) {
                const auto sysExEnd = measureSysEx(e, r.position());
                if (!sysExEnd) return stopWith(Stop::Cut);
                end = *sysExEnd;
            } else {
                const auto length = r.readVlq();
                const auto payload = length ? r.take(*length) : std::nullopt;
                if (!payload) return stopWith(Stop::Cut);
                e.payload = *payload;
                end = r.position();
            }
        }
    }
    if (end > size) return stopWith(Stop::Cut);
    e.bytes = bytes_.subspan(at, end - at);
    pos_ = end;
    return e;
}

// A System Exclusive packet: F0, a variable-length length, the body. A packet closed by F7 ends
// there, whatever its length says (a wrong length is common and harmless); one whose length
// ends without F7 and is followed by an F7 packet is the first part of a split message.
std::optional<std::size_t> EventReader::measureSysEx(MidiEvent& e, std::size_t lengthAt) {
    ByteReader r(bytes_, lengthAt);
    const auto length = r.readVlq();
    if (!length) return std::nullopt;
    const std::size_t bodyAt = r.position();
    const auto rest = bytes_.subspan(bodyAt);
    const auto f7 = std::find(rest.begin(), rest.end(), kEscape);
    const std::size_t throughF7 =
        f7 == rest.end() ? 0 : static_cast<std::size_t>(f7 - rest.begin()) + 1;
    if (throughF7 != 0 && throughF7 <= *length) {
        e.payload = rest.first(throughF7);
        return bodyAt + throughF7;
    }
    if (*length <= rest.size() && continuesLater(bodyAt + *length)) {
        e.payload = rest.first(*length);
        e.unfinishedSysEx = true;
        return bodyAt + *length;
    }
    if (throughF7 == 0) return std::nullopt;
    e.payload = rest.first(throughF7);
    return bodyAt + throughF7;
}

// Whether the events from `at` on reach an F7 packet that goes on with a System Exclusive
// message before any other System Exclusive event. Other events may come between: a merged song
// interleaves the other tracks' events with a message whose packets lie apart in time. Each look
// ends at the next F0 or F7, so the looks of one track never cover the same events twice.
bool EventReader::continuesLater(std::size_t at) const {
    EventReader ahead(bytes_, at, runningStatus_);
    for (;;) {
        ByteReader r(bytes_, ahead.pos_);
        if (!r.readVlq()) return false;
        const auto first = r.peek();
        if (!first || *first == kSysEx) return false;
        if (*first == kEscape) return isContinuation(ahead.pos_);
        if (!ahead.next()) return false;
    }
}

// Whether an F7 packet that goes on with a System Exclusive message starts (delta time first)
// at `at`: some data bytes, the last of which may be its F7.
bool EventReader::isContinuation(std::size_t at) const {
    ByteReader r(bytes_, at);
    if (!r.readVlq() || r.readByte() != kEscape) return false;
    const auto length = r.readVlq();
    const auto packet = length && *length > 0 ? r.take(*length) : std::nullopt;
    if (!packet) return false;
    return std::all_of(packet->begin(), packet->end() - 1,
                       [](std::uint8_t b) { return b < 0x80; }) &&
           (packet->back() < 0x80 || packet->back() == kEscape);
}

}  // namespace pitchloom

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "midifile/channel_message.h"

namespace pitchloom {

/// One event of a track as it stands in the bytes.
struct MidiEvent {
    std::uint32_t delta = 0;     ///< ticks since the event before (its low 32 bits)
    std::uint8_t status = 0;     ///< as written, or the running status the event stands under
    bool runningStatus = false;  ///< no status byte written: `at` is the first data byte
    std::size_t at = 0;          ///< offset of the event's first byte in the bytes read
    std::span<const std::uint8_t> bytes;  ///< the event as written, from `at` to its end
    /// Meta events: the data after the type and length. F7 escapes: the bytes after the length.
    /// System Exclusive: the body and F7 after the length.
    std::span<const std::uint8_t> payload;
    /// A meta event of a type the file format does not define (FF F0 included).
    bool unknownMeta = false;
    /// A System Exclusive packet without its F7: the message goes on in F7 packets, the next of
    /// which comes before any other System Exclusive event (other events may come between).
    bool unfinishedSysEx = false;
    /// A data byte with no channel status in force to run under (StrayData::Report only); it
    /// is not consumed, so the next read takes it as a delta time.
    bool stray = false;

    std::size_t end() const { return at + bytes.size(); }
    /// Offset of the first data byte (the note number of a note).
    std::size_t dataAt() const { return runningStatus ? at : at + 1; }
    bool isNote() const { return status >= 0x80 && status < 0xA0; }
    bool isNoteOn() const { return (status & 0xF0) == 0x90; }
    bool isSysEx() const { return status == 0xF0; }
    bool isEscape() const { return status == 0xF7; }
    bool isMeta() const { return status == 0xFF; }
    /// The type of a meta event (its second byte).
    std::uint8_t metaType() const { return isMeta() && bytes.size() > 1 ? bytes[1] : 0; }
    /// A channel event as its message, status written out or not; nothing for other events.
    std::optional<ChannelMessage> channelMessage() const {
        if (status < 0x80 || status > 0xEF) return std::nullopt;
        const auto data = bytes.subspan(runningStatus ? 0 : 1);
        if (data.empty()) return std::nullopt;
        return ChannelMessage{status, data[0], data.size() > 1 ? data[1] : std::uint8_t{0}};
    }
    /// The microseconds per quarter note of a tempo meta event; nothing for any other event.
    std::optional<std::uint32_t> tempo() const {
        if (metaType() != 0x51 || payload.size() < 3) return std::nullopt;
        return std::uint32_t{payload[0]} << 16 | std::uint32_t{payload[1]} << 8 | payload[2];
    }
};

/// Reads the events of one track, each with its delta time, sized as the file format defines
/// them: channel messages by their status, meta events and F7 escapes by their variable-length
/// length, System Exclusive packets by their length where it ends in F7 or goes on in an F7
/// packet, and otherwise by the first F7. Running status is the last channel status: meta and
/// System Exclusive events between do not end it. Never reads outside the bytes.
class EventReader {
public:
    /// Why the last read gave no event.
    enum class Stop {
        None,      ///< it gave one
        End,       ///< the track is read to its end
        Cut,       ///< a delta time or an event runs past the end: the rest is no whole event
        NoStatus,  ///< a data byte with no channel status to run under (StrayData::End)
    };

    /// What a walk does with a data byte that has no channel status to run under.
    enum class StrayData {
        End,     ///< the walk ends there: the rest is data of no event
        Report,  ///< next() gives it as a `stray` event, and reads the byte again as a delta time
    };

    /// A reader of bytes from `from` on, under the running status left by an earlier read.
    EventReader(std::span<const std::uint8_t> bytes, std::size_t from,
                std::uint8_t runningStatus = 0, StrayData stray = StrayData::End);

    /// The next event; nothing at the end of the track or where it cannot be read (see stop()).
    std::optional<MidiEvent> next();

    Stop stop() const { return stop_; }
    std::size_t position() const { return pos_; }
    /// The last channel status byte read (0 before any).
    std::uint8_t runningStatus() const { return runningStatus_; }

private:
    std::optional<MidiEvent> stopWith(Stop stop);
    /// Sizes a System Exclusive packet whose length starts at lengthAt; its end, or nothing.
    std::optional<std::size_t> measureSysEx(MidiEvent& e, std::size_t lengthAt);
    bool continuesLater(std::size_t at) const;
    bool isContinuation(std::size_t at) const;

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_;
    std::uint8_t runningStatus_;
    StrayData stray_;
    Stop stop_ = Stop::None;
};

}  // namespace pitchloom

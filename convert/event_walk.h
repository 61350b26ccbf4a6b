#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "midifile/byte_reader.h"
#include "midifile/midi_song.h"

namespace pitchloom {

/// How many bytes an event takes, counted from its status byte.
struct EventSize {
    std::size_t bytes = 0;
    bool unknownMeta = false;  // a meta type outside the table, skipped by its length byte + 3
};

/// Measures the event whose status byte is (or, under running status, would be) at statusAt.
/// Nothing when the event runs past the end of the image or cannot be measured.
std::optional<EventSize> measureEvent(std::span<const std::uint8_t> image, std::size_t statusAt,
                                      std::uint8_t status);

/// One event of a song image.
struct SongEvent {
    std::uint32_t delta = 0;
    std::uint8_t status = 0;   // as written, or the running status
    std::size_t statusAt = 0;  // under running status: one before the first data byte
    std::size_t end = 0;       // just past the event
    bool runningStatus = false;
    bool unknownMeta = false;

    std::size_t dataAt() const { return statusAt + 1; }
    bool isChannelEvent() const { return status >= 0x80 && status < 0xF0; }
    bool isNote() const { return status >= 0x80 && status < 0xA0; }
    bool isNoteOn() const { return (status & 0xF0) == 0x90; }
};

/// Walks the events of a format-0 image from byte 22. The walk ends at the end of the image,
/// or where the rest cannot be measured: a truncated event, or a data byte with no channel
/// status to run under (the rest is then data of no event).
class EventWalk {
public:
    explicit EventWalk(std::span<const std::uint8_t> image)
        : image_(image), reader_(image, kFirstEventOffset) {}

    std::optional<SongEvent> next();

private:
    std::span<const std::uint8_t> image_;
    ByteReader reader_;
    std::uint8_t runningStatus_ = 0;  // none yet
};

}  // namespace pitchloom

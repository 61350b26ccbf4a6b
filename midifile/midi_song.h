#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pitchloom {

/// Size of the song buffer: every song, read or merged, must fit below it.
inline constexpr std::size_t kSongBufferSize = 983040;

/// Offsets in a format-0 song image.
inline constexpr std::size_t kDivisionOffset = 12;
inline constexpr std::size_t kTrackLengthOffset = 18;
inline constexpr std::size_t kFirstEventOffset = 22;

/// The one song: the image of a format-0 Standard MIDI File in a buffer of kSongBufferSize bytes.
/// Created once at start-up and released once at shut-down by its owner.
struct MidiSong {
    std::vector<std::uint8_t> data;  // empty until create(), then exactly kSongBufferSize bytes
    std::int32_t length = 0;         // meaningful bytes at the start of data

    /// Allocates the zero-filled buffer; false when the memory cannot be had.
    bool create();
    /// Frees the buffer; length becomes 0.
    void release();
    bool exists() const { return data.size() == kSongBufferSize; }

    /// The meaningful bytes (empty when no buffer exists).
    std::span<const std::uint8_t> image() const;
};

/// Big-endian helpers for the song header fields.
std::uint32_t readBe16(std::span<const std::uint8_t> bytes, std::size_t at);
std::uint32_t readBe32(std::span<const std::uint8_t> bytes, std::size_t at);
void writeBe32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t value);

}  // namespace pitchloom

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace pitchloom {

/// Reads MIDI bytes without ever running off the end: every read asks whether enough bytes
/// remain and answers nothing when they do not (the position then stays where it was).
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes, std::size_t position = 0)
        : bytes_(bytes), pos_(position) {}

    std::size_t position() const { return pos_; }
    void seek(std::size_t position) { pos_ = position; }
    std::size_t size() const { return bytes_.size(); }
    std::size_t remaining() const { return pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }
    bool atEnd() const { return remaining() == 0; }

    /// The byte `ahead` places after the position, not consumed.
    std::optional<std::uint8_t> peek(std::size_t ahead = 0) const;
    std::optional<std::uint8_t> readByte();
    /// A variable-length quantity of any number of bytes (the value keeps its low 32 bits).
    std::optional<std::uint32_t> readVlq();
    /// n bytes, consumed.
    std::optional<std::span<const std::uint8_t>> take(std::size_t n);
    /// Moves past n bytes; false (position unchanged) when fewer remain.
    bool skip(std::size_t n);
    /// The distance from the position to the first `value` byte at or after it, plus one.
    std::optional<std::size_t> spanThrough(std::uint8_t value) const;

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_;
};

/// The bytes a variable-length quantity takes (1..5 for 32-bit values).
std::size_t vlqSize(std::uint32_t value);
/// Writes a variable-length quantity into out (at least 5 bytes); returns the count written.
std::size_t writeVlq(std::uint32_t value, std::uint8_t* out);

}  // namespace pitchloom

#include "midifile/byte_reader.h"

#include <algorithm>

namespace pitchloom {

std::optional<std::uint8_t> ByteReader::peek(std::size_t ahead) const {
    if (ahead >= remaining()) return std::nullopt;
    return bytes_[pos_ + ahead];
}

std::optional<std::uint8_t> ByteReader::readByte() {
    auto b = peek();
    if (b) ++pos_;
    return b;
}

std::optional<std::uint32_t> ByteReader::readVlq() {
    std::uint32_t value = 0;
    std::size_t at = pos_;
    while (at < bytes_.size()) {
        const std::uint8_t b = bytes_[at++];
        value = (value << 7) | (b & 0x7Fu);
        if (b < 0x80) {
            pos_ = at;
            return value;
        }
    }
    return std::nullopt;
}

std::optional<std::span<const std::uint8_t>> ByteReader::take(std::size_t n) {
    if (n > remaining()) return std::nullopt;
    auto out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
}

bool ByteReader::skip(std::size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
}

std::optional<std::size_t> ByteReader::spanThrough(std::uint8_t value) const {
    if (atEnd()) return std::nullopt;
    const auto rest = bytes_.subspan(pos_);
    const auto it = std::find(rest.begin(), rest.end(), value);
    if (it == rest.end()) return std::nullopt;
    return static_cast<std::size_t>(it - rest.begin()) + 1;
}

std::size_t vlqSize(std::uint32_t value) {
    std::size_t n = 1;
    while (value >>= 7)
        ++n;
    return n;
}

std::size_t writeVlq(std::uint32_t value, std::uint8_t* out) {
    const std::size_t n = vlqSize(value);
    for (std::size_t i = 0; i < n; ++i) {
        const auto shift = static_cast<unsigned>(7 * (n - 1 - i));
        out[i] = static_cast<std::uint8_t>(((value >> shift) & 0x7F) | (i + 1 < n ? 0x80 : 0));
    }
    return n;
}

}  // namespace pitchloom

#include "midifile/midi_song.h"

#include <algorithm>
#include <new>

namespace pitchloom {

bool MidiSong::create() {
    try {
        data.assign(kSongBufferSize, 0);
    } catch (const std::bad_alloc&) {
        data.clear();
        return false;
    }
    length = 0;
    return true;
}

void MidiSong::release() {
    std::vector<std::uint8_t>().swap(data);
    length = 0;
}

std::span<const std::uint8_t> MidiSong::image() const {
    if (!exists()) return {};
    const auto n = std::clamp<std::int64_t>(length, 0, static_cast<std::int64_t>(data.size()));
    return {data.data(), static_cast<std::size_t>(n)};
}

std::uint32_t readBe16(std::span<const std::uint8_t> b, std::size_t at) {
    if (at + 2 > b.size()) return 0;
    return static_cast<std::uint32_t>(b[at] << 8 | b[at + 1]);
}

std::uint32_t readBe32(std::span<const std::uint8_t> b, std::size_t at) {
    if (at + 4 > b.size()) return 0;
    return static_cast<std::uint32_t>(b[at]) << 24 | static_cast<std::uint32_t>(b[at + 1]) << 16 |
           static_cast<std::uint32_t>(b[at + 2]) << 8 | static_cast<std::uint32_t>(b[at + 3]);
}

void writeBe32(std::span<std::uint8_t> b, std::size_t at, std::uint32_t v) {
    if (at + 4 > b.size()) return;
    b[at] = static_cast<std::uint8_t>(v >> 24);
    b[at + 1] = static_cast<std::uint8_t>(v >> 16);
    b[at + 2] = static_cast<std::uint8_t>(v >> 8);
    b[at + 3] = static_cast<std::uint8_t>(v);
}

}  // namespace pitchloom

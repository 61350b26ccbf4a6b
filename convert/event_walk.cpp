#include "convert/event_walk.h"

#include <array>

namespace pitchloom {

namespace {

bool isStatus(std::uint8_t b) {
    return (b >= 0x80 && b <= 0xF0) || b == 0xF7 || b == 0xFF;
}

struct MetaSize {
    std::uint8_t type;
    std::size_t bytes;
};

// Meta events whose size the type alone gives, FF and the type byte included.
constexpr std::array<MetaSize, 6> kFixedMetaSizes = {{
    {0x20, 4},  // channel prefix
    {0x2F, 3},  // end of track
    {0x51, 6},  // tempo
    {0x54, 8},  // SMPTE offset
    {0x58, 7},  // time signature
    {0x59, 5},  // key signature
}};

bool isTextLikeMeta(std::uint8_t type) {
    return (type >= 0x01 && type <= 0x07) || type == 0x21 || type == 0x7F;
}

std::optional<EventSize> measureMeta(std::span<const std::uint8_t> image, std::size_t statusAt) {
    ByteReader r(image, statusAt + 1);
    const auto type = r.readByte();
    if (!type) return std::nullopt;
    for (const MetaSize& row : kFixedMetaSizes) {
        if (row.type == *type) return EventSize{row.bytes};
    }
    if (isTextLikeMeta(*type)) {
        const std::size_t lengthAt = r.position();
        const auto length = r.readVlq();
        if (!length) return std::nullopt;
        return EventSize{2 + (r.position() - lengthAt) + *length};
    }
    // The sequence number and every unknown type are sized by their length byte.
    const auto lengthByte = r.peek();
    if (!lengthByte) return std::nullopt;
    return EventSize{*lengthByte + std::size_t{3}, *type != 0x00};
}

}  // namespace

std::optional<EventSize> measureEvent(std::span<const std::uint8_t> image, std::size_t statusAt,
                                      std::uint8_t status) {
    std::optional<EventSize> size;
    if (status >= 0x80 && status < 0xC0) {
        size = EventSize{3};
    } else if (status >= 0xC0 && status < 0xE0) {
        size = EventSize{2};
    } else if (status >= 0xE0 && status < 0xF0) {
        size = EventSize{3};
    } else if (status == 0xF0) {
        if (auto through = ByteReader(image, statusAt + 1).spanThrough(0xF7)) {
            size = EventSize{1 + *through};
        }
    } else if (status == 0xF7) {
        if (auto lengthByte = ByteReader(image, statusAt + 1).peek()) {
            size = EventSize{*lengthByte + std::size_t{2}};
        }
    } else if (status == 0xFF) {
        size = measureMeta(image, statusAt);
    }
    if (!size || statusAt + size->bytes > image.size()) return std::nullopt;
    return size;
}

std::optional<SongEvent> EventWalk::next() {
    const auto delta = reader_.readVlq();
    const auto first = reader_.peek();
    if (!delta || !first) return std::nullopt;

    SongEvent e;
    e.delta = *delta;
    if (isStatus(*first)) {
        runningStatus_ = *first;
        e.statusAt = reader_.position();
    } else {
        // Only a channel status can run on; anything else leaves the bytes without an event.
        if (runningStatus_ < 0x80 || runningStatus_ >= 0xF0) return std::nullopt;
        e.runningStatus = true;
        e.statusAt = reader_.position() - 1;
    }
    e.status = runningStatus_;
    const auto size = measureEvent(image_, e.statusAt, e.status);
    if (!size) return std::nullopt;
    e.end = e.statusAt + size->bytes;
    e.unknownMeta = size->unknownMeta;
    reader_.seek(e.end);
    return e;
}

}  // namespace pitchloom

#include "midifile/sysex.h"

#include <array>

#include "midifile/byte_reader.h"

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

// The body after F0 and its length, as far as it identifies the message.
constexpr std::array<ResetMessage, 5> kResetMessages = {{
    {{{{0x41}, kAnyDevice, {0x42}, {0x12}, {0x40}, {0x00}, {0x7F}}}, 7},    // GS reset
    {{{{0x41}, kAnyDevice, {0x42}, {0x12}, {0x00}, {0x00}, {0x7F}}}, 7},    // GS system mode set
    {{{{0x43}, kXgAnyDevice, {0x4C}, {0x00}, {0x00}, {0x7E}, {0x00}}}, 7},  // XG System On
    {{{{0x7E}, kAnyDevice, {0x09}, {0x01}}}, 4},                            // GM System On
    {{{{0x7E}, kAnyDevice, {0x09}, {0x03}}}, 4},                            // GM2 System On
}};

}  // namespace

bool isResetMessage(std::span<const std::uint8_t> event) {
    ByteReader r(event, 1);
    if (event.empty() || event[0] != 0xF0 || !r.readVlq()) return false;
    const auto body = event.subspan(r.position());
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

}  // namespace pitchloom

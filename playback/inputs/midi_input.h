#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pitchloom {

/// Identifier of no input at all, the Input list's "None".
inline constexpr int kNoInputId = -1;
/// Identifier of the input port of our own that other programs connect to.
inline constexpr int kVirtualInputId = -2;
inline constexpr std::string_view kVirtualInputName = "Pitchloom Pro in";

/// One opened MIDI input. Its messages reach the receiver it was opened with, on a thread of the
/// input's own, one whole message at a time.
class MidiInputDevice {
public:
    virtual ~MidiInputDevice() = default;

    /// False once the port it listens to has gone from the system (a keyboard unplugged).
    virtual bool present() = 0;
};

/// Finds and opens MIDI inputs: the system's ports 0..n-1 and the port of our own.
class MidiInputProvider {
public:
    /// Called with each whole message: a channel message, a System Exclusive message (F0 to
    /// F7), or a system common or real-time message.
    using Receiver = std::function<void(std::span<const std::uint8_t> message)>;

    virtual ~MidiInputProvider() = default;

    /// Names of the system's input ports, port i at index i.
    virtual std::vector<std::string> portNames() = 0;
    /// Opens port `identifier` or kVirtualInputId; nothing when it cannot be opened.
    virtual std::unique_ptr<MidiInputDevice> open(int identifier, Receiver receive) = 0;
};

}  // namespace pitchloom

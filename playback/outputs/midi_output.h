#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pitchloom {

/// Identifier of "MIDI MAPPER", the built-in synthesizer.
inline constexpr int kMidiMapperId = -1;
inline constexpr std::string_view kMidiMapperName = "MIDI MAPPER";

/// One opened MIDI output. Sends may come from the window thread and the timer thread; the
/// port serialises them, so an implementation needs no lock of its own for sending.
class MidiOutputDevice {
public:
    virtual ~MidiOutputDevice() = default;

    /// One channel message: the status byte, then one or two data bytes.
    virtual void sendShort(std::span<const std::uint8_t> message) = 0;
    /// One System Exclusive message as a device receives it: F0, the body, F7.
    virtual void sendSysEx(std::span<const std::uint8_t> message) = 0;
    /// Silences the device; false when that failed.
    virtual bool reset() = 0;
    /// Releases the device; false when that failed. Nothing is sent afterwards.
    virtual bool close() = 0;
    /// False while the device still gets ready to sound (a synth loading its instruments);
    /// messages sent meanwhile are not lost, but a song should wait before it starts.
    virtual bool ready() const { return true; }
};

/// Finds and opens MIDI outputs: the system's ports 0..n-1 and the mapper (-1).
class MidiOutputProvider {
public:
    virtual ~MidiOutputProvider() = default;

    /// Names of the system's output ports, port i at index i.
    virtual std::vector<std::string> portNames() = 0;
    /// Opens port `identifier` (kMidiMapperId for the mapper); nothing when it cannot be opened.
    virtual std::unique_ptr<MidiOutputDevice> open(int identifier) = 0;
};

}  // namespace pitchloom

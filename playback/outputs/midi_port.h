#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/user_dialogs.h"
#include "midifile/midi_song.h"
#include "playback/outputs/midi_output.h"

namespace pitchloom {

/// The one open MIDI output and its senders. Both the window thread and the timer thread send;
/// a small lock keeps a send and a device switch from overlapping.
class MidiPort {
public:
    struct DeviceEntry {
        std::string name;
        int identifier;
    };

    MidiPort(MidiOutputProvider& provider, UserDialogs& dialogs);
    ~MidiPort();

    void noteOn(int note, int velocity, int channel);
    /// Note Off with release velocity 0.
    void noteOff(int note, int channel);
    void programChange(int program, int channel);
    /// Key pressure, control change and pitch bend: three bytes as given.
    void channelMessage(int status, int data1, int data2);
    void channelPressure(int status, int data1);
    /// Control Change 123 (All Notes Off) on channels 1..16 in order.
    void allNotesOff();
    /// One System Exclusive message. A file-form event (F0, variable-length length, body) reaches
    /// the device as F0 and the body; other bytes are sent as they stand.
    void sendLong(std::span<const std::uint8_t> bytes);
    /// A system common or real-time message (clock, start, stop, song position), as it stands.
    void systemMessage(std::span<const std::uint8_t> bytes);
    /// The bytes of an escape event, sent exactly as they stand.
    void sendEscaped(std::span<const std::uint8_t> bytes);

    /// Opens a device (kMidiMapperId or a port index); error 1005 when it cannot be opened.
    bool openDevice(int identifier);
    /// Resets and closes the open device; error 1006 for each step that fails.
    void closeDevice();
    /// "MIDI MAPPER" (identifier -1), then the system's output ports.
    std::vector<DeviceEntry> deviceList();
    /// Closes the open device and opens another; allowed while a song plays.
    void selectDevice(int identifier);
    int currentIdentifier() const;
    bool isOpen() const;
    /// How many devices were opened so far: a change says the module behind knows nothing yet.
    std::uint32_t openings() const { return openings_.load(); }
    /// False while the open device still gets ready to sound (see MidiOutputDevice::ready).
    bool ready() const;

    /// Creates the song buffer (error 1001 when it cannot) and opens the mapper.
    void initOutput(MidiSong& song);
    /// Frees the song buffer and closes the device.
    void shutdownOutput(MidiSong& song);

    /// Shows "Undefined error!" for codes 1001..1008.
    void reportError(int code);

private:
    void sendShortBytes(std::initializer_list<std::uint8_t> bytes);

    MidiOutputProvider& provider_;
    UserDialogs& dialogs_;
    mutable std::mutex mutex_;                  // guards device_ and identifier_
    std::unique_ptr<MidiOutputDevice> device_;  // written by the window thread, used by both
    int identifier_ = kMidiMapperId;
    std::atomic<std::uint32_t> openings_{0};  // written by the window thread, read by any
};

}  // namespace pitchloom

#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "playback/outputs/midi_output.h"

namespace pitchloom {

/// A MIDI output that remembers everything sent to it, with the time it was sent. Used by the
/// tests, the fuzzers and the timing benchmark in place of a real device.
class RecordingOutput : public MidiOutputProvider {
public:
    struct Message {
        int device;                       // identifier the message was sent to
        bool sysEx;                       // a long message
        std::vector<std::uint8_t> bytes;  // as the device received them
        std::chrono::steady_clock::time_point time;
    };

    /// Port names offered besides the mapper.
    explicit RecordingOutput(std::vector<std::string> ports = {}) : ports_(std::move(ports)) {}

    std::vector<std::string> portNames() override { return ports_; }
    std::unique_ptr<MidiOutputDevice> open(int identifier) override;

    /// Opens of these identifiers fail (to test error reports).
    void failOpenOf(int identifier);
    /// reset() and close() of devices opened from now on fail.
    void failResetAndClose(bool fail);
    /// What ready() of every device answers (true unless set).
    void setReady(bool ready) { ready_ = ready; }
    bool ready() const { return ready_; }

    std::vector<Message> messages() const;
    std::size_t messageCount() const;
    std::vector<int> opened() const;
    int closedCount() const;
    void clear();

    /// Called by the devices.
    void record(int device, bool sysEx, std::span<const std::uint8_t> bytes);
    void noteClosed();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> ports_;
    std::vector<int> failing_;
    bool failResetClose_ = false;
    std::atomic<bool> ready_{true};
    std::vector<Message> messages_;
    std::vector<int> opened_;
    int closed_ = 0;
};

}  // namespace pitchloom

#include "playback/outputs/system_midi_output.h"

#include <algorithm>

#include "playback/outputs/rtmidi_apis.h"

namespace pitchloom {

namespace {

class RtMidiDevice : public MidiOutputDevice {
public:
    explicit RtMidiDevice(std::unique_ptr<RtMidiOut> out) : out_(std::move(out)) {}

    void sendShort(std::span<const std::uint8_t> m) override { send(m); }
    void sendSysEx(std::span<const std::uint8_t> m) override { send(m); }

    bool reset() override {
        // No reset call exists here: silence every channel the way a reset does.
        for (std::uint8_t c = 0; c < 16; ++c) {
            const std::uint8_t soundOff[3] = {static_cast<std::uint8_t>(0xB0 | c), 0x78, 0};
            const std::uint8_t notesOff[3] = {static_cast<std::uint8_t>(0xB0 | c), 0x7B, 0};
            if (!send(soundOff) || !send(notesOff)) return false;
        }
        return true;
    }

    bool close() override {
        try {
            if (out_) out_->closePort();
            out_.reset();
            return true;
        } catch (const RtMidiError&) {
            out_.reset();
            return false;
        }
    }

private:
    bool send(std::span<const std::uint8_t> m) {
        if (!out_ || m.empty()) return false;
        try {
            out_->sendMessage(m.data(), m.size());
            return true;
        } catch (const RtMidiError&) {
            return false;
        }
    }

    std::unique_ptr<RtMidiOut> out_;
};

}  // namespace

SystemMidiOutput::SystemMidiOutput(MapperFactory mapper) : mapper_(std::move(mapper)) {}

std::vector<std::string> SystemMidiOutput::portNames() {
    return allMidiPortNames<RtMidiOut>();
}

std::unique_ptr<MidiOutputDevice> SystemMidiOutput::open(int identifier) {
    if (identifier == kMidiMapperId && mapper_) return mapper_();
    if (identifier < kMidiMapperId) return nullptr;
    // Without the built-in synthesizer the mapper is the first port.
    auto at = midiPortAt<RtMidiOut>(static_cast<unsigned>(std::max(identifier, 0)));
    if (!at) return nullptr;
    try {
        at->client->openPort(at->port, "Pitchloom Pro output");
        if (!at->client->isPortOpen()) return nullptr;
    } catch (const RtMidiError&) {
        return nullptr;
    }
    return std::make_unique<RtMidiDevice>(std::move(at->client));
}

}  // namespace pitchloom

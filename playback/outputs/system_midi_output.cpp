#include "playback/outputs/system_midi_output.h"

#include <rtmidi/RtMidi.h>

namespace pitchloom {

namespace {

// RtMidi prints its warnings unless a callback takes them; ours are reported as error codes.
void quietErrors(RtMidiError::Type, const std::string&, void*) {}

std::unique_ptr<RtMidiOut> makeClient() {
    try {
        auto out = std::make_unique<RtMidiOut>(RtMidi::UNSPECIFIED, "Pitchloom Pro");
        out->setErrorCallback(&quietErrors, nullptr);
        return out;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

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
    std::vector<std::string> names;
    auto client = makeClient();
    if (!client) return names;
    try {
        const unsigned count = client->getPortCount();
        for (unsigned i = 0; i < count; ++i)
            names.push_back(client->getPortName(i));
    } catch (const RtMidiError&) {
    }
    return names;
}

std::unique_ptr<MidiOutputDevice> SystemMidiOutput::open(int identifier) {
    if (identifier == kMidiMapperId && mapper_) return mapper_();
    const unsigned port = identifier == kMidiMapperId ? 0u : static_cast<unsigned>(identifier);
    if (identifier < kMidiMapperId) return nullptr;
    auto client = makeClient();
    if (!client) return nullptr;
    try {
        if (port >= client->getPortCount()) return nullptr;
        client->openPort(port, "Pitchloom Pro output");
        if (!client->isPortOpen()) return nullptr;
    } catch (const RtMidiError&) {
        return nullptr;
    }
    return std::make_unique<RtMidiDevice>(std::move(client));
}

}  // namespace pitchloom

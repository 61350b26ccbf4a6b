#include "playback/inputs/system_midi_input.h"

#include <algorithm>
#include <optional>

#include "playback/outputs/rtmidi_apis.h"

namespace pitchloom {

namespace {

class RtMidiInputDevice : public MidiInputDevice {
public:
    RtMidiInputDevice(MidiInputProvider::Receiver receive, std::unique_ptr<RtMidiIn> watcher,
                      std::string portName)
        : receive_(std::move(receive)), watcher_(std::move(watcher)), portName_(std::move(portName)) {}
    ~RtMidiInputDevice() override {
        try {
            if (in_) in_->closePort();
        } catch (const RtMidiError&) {
        }
    }

    // Opens the port on `in`; false when it cannot be had.
    bool start(std::unique_ptr<RtMidiIn> in, std::optional<unsigned> port) {
        in_ = std::move(in);
        try {
            // System Exclusive and clock pass; active sensing is between the keyboard and us.
            in_->ignoreTypes(false, false, true);
            in_->setCallback(&RtMidiInputDevice::onMessage, this);
            if (port) {
                in_->openPort(*port, "Pitchloom Pro input");
            } else {
                in_->openVirtualPort(std::string(kVirtualInputName));
            }
            return in_->isPortOpen() || !port;
        } catch (const RtMidiError&) {
            return false;
        }
    }

    bool present() override {
        if (!watcher_) return true;  // our own port stays as long as we do
        const auto names = midiPortNames(*watcher_);
        return std::find(names.begin(), names.end(), portName_) != names.end();
    }

private:
    static void onMessage(double, std::vector<unsigned char>* message, void* self) {
        if (message && !message->empty())
            static_cast<RtMidiInputDevice*>(self)->receive_(*message);
    }

    MidiInputProvider::Receiver receive_;
    std::unique_ptr<RtMidiIn> watcher_;  // lists the ports apart from the thread that reads
    std::string portName_;
    std::unique_ptr<RtMidiIn> in_;
};

}  // namespace

std::vector<std::string> SystemMidiInput::portNames() {
    return allMidiPortNames<RtMidiIn>();
}

std::unique_ptr<MidiInputDevice> SystemMidiInput::open(int identifier, Receiver receive) {
    if (identifier == kVirtualInputId) {
        for (const RtMidi::Api api : kMidiApis) {
            auto client = makeMidiClient<RtMidiIn>(api);
            if (!client) continue;
            auto device = std::make_unique<RtMidiInputDevice>(receive, nullptr, std::string());
            if (device->start(std::move(client), std::nullopt)) return device;
        }
        return nullptr;
    }
    if (identifier < 0) return nullptr;
    auto at = midiPortAt<RtMidiIn>(static_cast<unsigned>(identifier));
    if (!at) return nullptr;
    // The watcher is a client of the same system, listing its ports apart from the one reading.
    auto device = std::make_unique<RtMidiInputDevice>(
        std::move(receive), makeMidiClient<RtMidiIn>(at->client->getCurrentApi()), at->name);
    if (!device->start(std::move(at->client), at->port)) return nullptr;
    return device;
}

}  // namespace pitchloom

#include "playback/outputs/midi_port.h"

#include <algorithm>

#include "base/messages.h"
#include "midifile/byte_reader.h"

namespace pitchloom {

MidiPort::MidiPort(MidiOutputProvider& provider, UserDialogs& dialogs)
    : provider_(provider), dialogs_(dialogs) {}

MidiPort::~MidiPort() {
    std::lock_guard lock(mutex_);
    if (device_) device_->close();
}

void MidiPort::sendShortBytes(std::initializer_list<std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    if (device_) device_->sendShort(std::span<const std::uint8_t>(bytes.begin(), bytes.size()));
}

namespace {
std::uint8_t byte(int v) {
    return static_cast<std::uint8_t>(v);
}
}  // namespace

void MidiPort::noteOn(int note, int velocity, int channel) {
    sendShortBytes({byte(0x90 + (channel & 0x0F)), byte(note), byte(velocity)});
}

void MidiPort::noteOff(int note, int channel) {
    sendShortBytes({byte(0x80 + (channel & 0x0F)), byte(note), 0});
}

void MidiPort::programChange(int program, int channel) {
    sendShortBytes({byte(0xC0 + (channel & 0x0F)), byte(program)});
}

void MidiPort::channelMessage(int status, int data1, int data2) {
    sendShortBytes({byte(status), byte(data1), byte(data2)});
}

void MidiPort::channelPressure(int status, int data1) {
    sendShortBytes({byte(status), byte(data1)});
}

void MidiPort::allNotesOff() {
    for (int c = 0; c < 16; ++c)
        sendShortBytes({byte(0xB0 + c), 0x7B, 0x00});
}

void MidiPort::sendLong(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::vector<std::uint8_t> message;
    if (bytes[0] == 0xF0) {
        // File form: the length is a variable-length quantity, which the device never sees.
        ByteReader reader(bytes, 1);
        if (!reader.readVlq()) return;
        const auto body = bytes.subspan(reader.position());
        message.reserve(body.size() + 1);
        message.push_back(0xF0);
        message.insert(message.end(), body.begin(), body.end());
    } else {
        message.assign(bytes.begin(), bytes.end());
    }
    std::lock_guard lock(mutex_);
    if (device_) device_->sendSysEx(message);
}

void MidiPort::systemMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(mutex_);
    if (device_) device_->sendShort(bytes);
}

void MidiPort::sendEscaped(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    std::lock_guard lock(mutex_);
    if (device_) device_->sendSysEx(bytes);
}

bool MidiPort::openDevice(int identifier) {
    std::unique_ptr<MidiOutputDevice> device = provider_.open(identifier);
    const bool opened = device != nullptr;
    {
        std::lock_guard lock(mutex_);
        device_ = std::move(device);
        identifier_ = identifier;
    }
    ++openings_;
    if (!opened) reportError(1005);
    return opened;
}

void MidiPort::closeDevice() {
    std::unique_ptr<MidiOutputDevice> device;
    {
        std::lock_guard lock(mutex_);
        device = std::move(device_);
    }
    if (!device) return;
    const bool resetOk = device->reset();
    const bool closeOk = device->close();
    if (!resetOk) reportError(1006);
    if (!closeOk) reportError(1006);
}

std::vector<MidiPort::DeviceEntry> MidiPort::deviceList() {
    std::vector<DeviceEntry> list{{std::string(kMidiMapperName), kMidiMapperId}};
    const auto names = provider_.portNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        list.push_back({names[i], static_cast<int>(i)});
    }
    return list;
}

void MidiPort::selectDevice(int identifier) {
    closeDevice();
    openDevice(identifier);
}

int MidiPort::currentIdentifier() const {
    std::lock_guard lock(mutex_);
    return identifier_;
}

bool MidiPort::isOpen() const {
    std::lock_guard lock(mutex_);
    return device_ != nullptr;
}

bool MidiPort::ready() const {
    std::lock_guard lock(mutex_);
    return device_ == nullptr || device_->ready();
}

void MidiPort::initOutput(MidiSong& song) {
    if (!song.create()) reportError(1001);
    openDevice(kMidiMapperId);
}

void MidiPort::shutdownOutput(MidiSong& song) {
    song.release();
    closeDevice();
}

void MidiPort::reportError(int code) {
    pitchloom::reportError(dialogs_, code);
}

}  // namespace pitchloom

#include "playback/playing/input_relay.h"

namespace pitchloom {

std::string inputGoneText(std::string_view name) {
    return "The MIDI input \"" + std::string(name) +
           "\" is gone. The notes it left sounding were ended; choose it again when it is back.";
}

std::string inputNotOpenedText(std::string_view name) {
    return "The MIDI input \"" + std::string(name) + "\" cannot be opened.";
}

InputRelay::InputRelay(MidiInputProvider& inputs, Sequencer& sequencer, UserDialogs& dialogs)
    : inputs_(inputs), sequencer_(sequencer), dialogs_(dialogs) {}

InputRelay::~InputRelay() {
    close();
}

std::vector<InputRelay::Entry> InputRelay::inputList() {
    std::vector<Entry> list{{"None", kNoInputId}, {std::string(kVirtualInputName), kVirtualInputId}};
    const auto names = inputs_.portNames();
    for (std::size_t i = 0; i < names.size(); ++i)
        list.push_back({names[i], static_cast<int>(i)});
    return list;
}

void InputRelay::close() {
    std::thread watcher;
    std::unique_ptr<MidiInputDevice> device;
    {
        std::unique_lock lock(mutex_);
        const bool self = watcher_.joinable() && watcher_.get_id() == std::this_thread::get_id();
        stopping_ = true;
        wake_.notify_all();
        if (!self) wake_.wait(lock, [this] { return !ending_; });
        watcher = std::move(watcher_);
        device = std::move(device_);
        identifier_ = kNoInputId;
        name_.clear();
    }
    if (watcher.joinable() && watcher.get_id() != std::this_thread::get_id()) watcher.join();
    if (watcher.joinable()) watcher.detach();
    // Closed first, so that no message of it comes after its notes are ended.
    const bool played = device != nullptr;
    device.reset();
    if (played) sequencer_.endLive();
}

bool InputRelay::selectInput(int identifier) {
    close();
    if (identifier == kNoInputId) return true;
    std::string name(kVirtualInputName);
    if (identifier != kVirtualInputId) {
        const auto names = inputs_.portNames();
        if (identifier < 0 || static_cast<std::size_t>(identifier) >= names.size()) return false;
        name = names[static_cast<std::size_t>(identifier)];
    }
    auto device = inputs_.open(identifier, [this](std::span<const std::uint8_t> message) {
        sequencer_.playLive(message);
    });
    if (!device) {
        dialogs_.showMessage(inputNotOpenedText(name), BoxStyle::Plain);
        return false;
    }
    std::lock_guard lock(mutex_);
    device_ = std::move(device);
    identifier_ = identifier;
    name_ = name;
    stopping_ = false;
    watcher_ = std::thread([this] { watch(); });
    return true;
}

int InputRelay::currentInput() const {
    std::lock_guard lock(mutex_);
    return identifier_;
}

std::string InputRelay::currentName() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void InputRelay::setGoneHandler(std::function<void(const std::string&)> gone) {
    std::lock_guard lock(mutex_);
    gone_ = std::move(gone);
}

void InputRelay::setWatchPeriod(std::chrono::milliseconds period) {
    std::lock_guard lock(mutex_);
    watchPeriod_ = period;
}

void InputRelay::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (wake_.wait_for(lock, watchPeriod_, [this] { return stopping_; })) return;
        MidiInputDevice* device = device_.get();
        if (!device) return;
        lock.unlock();
        const bool present = device->present();
        lock.lock();
        if (stopping_) return;
        if (present) continue;
        // Gone: nothing more comes from it, and what it left sounding ends.
        std::unique_ptr<MidiInputDevice> gone = std::move(device_);
        const std::string name = std::move(name_);
        identifier_ = kNoInputId;
        name_.clear();
        ending_ = true;
        const auto handler = gone_;
        lock.unlock();
        gone.reset();
        sequencer_.endLive();
        const std::string text = inputGoneText(name);
        if (handler) {
            handler(text);
        } else {
            dialogs_.showMessage(text, BoxStyle::Plain);
        }
        lock.lock();
        ending_ = false;
        lock.unlock();
        wake_.notify_all();
        return;
    }
}

}  // namespace pitchloom

#include "playback/outputs/recording_output.h"

#include <algorithm>
#include <utility>

namespace pitchloom {

namespace {

class RecordingDevice : public MidiOutputDevice {
public:
    RecordingDevice(RecordingOutput& owner, int id, bool failResetClose)
        : owner_(owner), id_(id), fail_(failResetClose) {}
    void sendShort(std::span<const std::uint8_t> m) override { owner_.record(id_, false, m); }
    void sendSysEx(std::span<const std::uint8_t> m) override { owner_.record(id_, true, m); }
    bool reset() override { return !fail_; }
    bool ready() const override { return owner_.ready(); }
    bool close() override {
        owner_.noteClosed();
        return !fail_;
    }

private:
    RecordingOutput& owner_;
    int id_;
    bool fail_;
};

}  // namespace

std::unique_ptr<MidiOutputDevice> RecordingOutput::open(int identifier) {
    std::lock_guard lock(mutex_);
    const bool known = identifier == kMidiMapperId ||
                       (identifier >= 0 && identifier < static_cast<int>(ports_.size()));
    if (!known || std::find(failing_.begin(), failing_.end(), identifier) != failing_.end()) {
        return nullptr;
    }
    opened_.push_back(identifier);
    return std::make_unique<RecordingDevice>(*this, identifier, failResetClose_);
}

void RecordingOutput::failOpenOf(int identifier) {
    std::lock_guard lock(mutex_);
    failing_.push_back(identifier);
}

void RecordingOutput::failResetAndClose(bool fail) {
    std::lock_guard lock(mutex_);
    failResetClose_ = fail;
}

void RecordingOutput::record(int device, bool sysEx, std::span<const std::uint8_t> bytes) {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    messages_.push_back({device, sysEx, {bytes.begin(), bytes.end()}, now});
}

void RecordingOutput::noteClosed() {
    std::lock_guard lock(mutex_);
    ++closed_;
}

std::vector<RecordingOutput::Message> RecordingOutput::messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::size_t RecordingOutput::messageCount() const {
    std::lock_guard lock(mutex_);
    return messages_.size();
}

std::vector<int> RecordingOutput::opened() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

int RecordingOutput::closedCount() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

void RecordingOutput::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace pitchloom

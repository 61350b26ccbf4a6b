#include "midifile/event_writer.h"

#include "midifile/byte_reader.h"

namespace pitchloom {

void EventWriter::copyOtherwise(std::span<const std::uint8_t> delta, const MidiEvent& e) {
    if (e.runningStatus && (statusDue_ || runningStatus_ != e.status)) {
        writeChannelEvent(delta, true, e.status, e.bytes);
        return;
    }
    if (isChannelStatus(e.status)) runningStatus_ = e.status;
    statusDue_ = false;
    writeHeld();
    if (!reserve(delta.size() + e.bytes.size())) return;
    if (delta.data() + delta.size() == e.bytes.data()) {
        // As the song has it: held back, for the copies after it to join.
        heldFrom_ = delta.data();
        heldEnd_ = e.bytes.data() + e.bytes.size();
        return;
    }
    size_ = static_cast<std::size_t>(put(put(out_.data() + size_, delta), e.bytes) - out_.data());
}

void EventWriter::add(std::uint32_t delta, std::span<const std::uint8_t> event, RunOn runOn) {
    std::uint8_t vlq[5];
    const std::span<const std::uint8_t> deltaBytes(vlq, writeVlq(delta, vlq));
    const std::uint8_t status = event.empty() ? 0 : event[0];
    if (isChannelStatus(status)) {
        const bool ranOn = runOn == RunOn::Allowed && !statusDue_ && runningStatus_ == status;
        writeChannelEvent(deltaBytes, !ranOn, status, event.subspan(1));
        return;
    }
    // Readers that end running status at a System Exclusive or meta event would misread a data
    // byte right behind it.
    statusDue_ = true;
    writeHeld();
    if (!reserve(deltaBytes.size() + event.size())) return;
    size_ =
        static_cast<std::size_t>(put(put(out_.data() + size_, deltaBytes), event) - out_.data());
}

void EventWriter::copyRaw(std::span<const std::uint8_t> bytes) {
    runningStatus_ = 0;
    statusDue_ = false;
    writeHeld();
    if (!reserve(bytes.size())) return;
    size_ = static_cast<std::size_t>(put(out_.data() + size_, bytes) - out_.data());
}

std::size_t EventWriter::finish() {
    writeHeld();
    return size_;
}

}  // namespace pitchloom

#include "midifile/event_writer.h"

#include "midifile/byte_reader.h"

namespace pitchloom {

void EventWriter::copyOtherwise(std::span<const std::uint8_t> spelled, const MidiEvent& e) {
    if (e.runningStatus && runOn_ != e.status) {
        writeChannelEvent(spelled.first(spelled.size() - e.bytes.size()), true, e.status, e.bytes);
        return;
    }
    if (isChannelStatus(e.status)) runningStatus_ = e.status;
    runOn_ = runningStatus_;
    writeHeld();
    if (!reserve(spelled.size())) return;
    // As the song has it: held back, for the copies after it to join.
    heldFrom_ = spelled.data();
    heldEnd_ = spelled.data() + spelled.size();
    heldRoom_ = out_.size() - size_;
}

void EventWriter::add(std::uint32_t delta, std::span<const std::uint8_t> event, RunOn runOn) {
    std::uint8_t vlq[5];
    const std::span<const std::uint8_t> deltaBytes(vlq, writeVlq(delta, vlq));
    const std::uint8_t status = event.empty() ? 0 : event[0];
    if (isChannelStatus(status)) {
        const bool ranOn = runOn == RunOn::Allowed && runOn_ == status;
        writeChannelEvent(deltaBytes, !ranOn, status, event.subspan(1));
        return;
    }
    // Readers that end running status at a System Exclusive or meta event would misread a data
    // byte right behind it.
    runOn_ = 0;
    writeHeld();
    if (!reserve(deltaBytes.size() + event.size())) return;
    size_ =
        static_cast<std::size_t>(put(put(out_.data() + size_, deltaBytes), event) - out_.data());
}

void EventWriter::copyRaw(std::span<const std::uint8_t> bytes) {
    runningStatus_ = runOn_ = 0;
    writeHeld();
    if (!reserve(bytes.size())) return;
    size_ = static_cast<std::size_t>(put(out_.data() + size_, bytes) - out_.data());
}

std::size_t EventWriter::finish() {
    writeHeld();
    return size_;
}

}  // namespace pitchloom

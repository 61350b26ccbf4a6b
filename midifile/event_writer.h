#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "midifile/event_reader.h"

namespace pitchloom {

/// Writes the events of one track into a buffer, each as its delta time and the event, and
/// decides running status as it goes. A channel event copied from a song leaves its status byte
/// out where the song left it out and the status in force is the same; a meta or System
/// Exclusive event copied from a song leaves the running status in force, as the reader takes it.
/// Anything else the program adds ends running status: the event written right after it carries
/// its status byte. Copies that lie together in the song are held back and written in one move
/// (by the next other event or finish()), so the song's bytes must stay as they are until then.
/// Never writes past the buffer: what does not fit is left out, with all after it.
class EventWriter {
public:
    /// Whether an added channel event may leave out a status byte equal to the running status.
    enum class RunOn {
        Never,    ///< the status byte is written: every reader and every edit after takes it
        Allowed,  ///< left out where the status in force is the same
    };

    /// A writer into `out` from its first byte on, with no running status in force.
    explicit EventWriter(std::span<std::uint8_t> out) : out_(out) {}

    /// An event read from a song; `spelled` is the song's bytes of it, delta time first.
    void copy(std::span<const std::uint8_t> spelled, const MidiEvent& e);
    /// A channel event read from a song (`spelled` as for copy), with `status` and `data` instead.
    void copy(std::span<const std::uint8_t> spelled, const MidiEvent& e, std::uint8_t status,
              std::span<const std::uint8_t> data);
    /// An event of the program's own (status byte first), after `delta` in the fewest bytes.
    void add(std::uint32_t delta, std::span<const std::uint8_t> event, RunOn runOn = RunOn::Never);
    /// Bytes of no event (the rest of a track the reader cannot read), as they stand.
    void copyRaw(std::span<const std::uint8_t> bytes);

    /// Writes the copies still held back; the number of bytes written in all.
    std::size_t finish();
    /// False once something did not fit: it and everything after it were left out.
    bool fits() const { return fits_; }

private:
    static bool isChannelStatus(std::uint8_t b) { return b >= 0x80 && b <= 0xEF; }
    /// Copies bytes to `to` (room checked) and gives the place after them.
    static std::uint8_t* put(std::uint8_t* to, std::span<const std::uint8_t> bytes);
    /// Whether n more bytes fit, nothing being held back; after the first no, never again.
    bool reserve(std::size_t n);
    void writeHeld();
    void copyOtherwise(std::span<const std::uint8_t> spelled, const MidiEvent& e);
    void writeChannelEvent(std::span<const std::uint8_t> delta, bool withStatus,
                           std::uint8_t status, std::span<const std::uint8_t> data);

    std::span<std::uint8_t> out_;             // cut to what is written once something does not fit
    std::size_t size_ = 0;                    // written
    const std::uint8_t* heldFrom_ = nullptr;  // copies held back: these song bytes come next
    const std::uint8_t* heldEnd_ = nullptr;
    std::size_t heldRoom_ = 0;  // how far the held copies may reach
    bool fits_ = true;
    std::uint8_t runningStatus_ = 0;  // the last channel status written
    std::uint8_t runOn_ = 0;          // what an event may run on here: none behind an added one
};

// The copies are defined here, where a walk over a whole song can inline them: they run once
// per event. They leave the event's own bytes (e.bytes) alone where they can: the reader has
// only just written that field, and reading it back at once stalls.

inline std::uint8_t* EventWriter::put(std::uint8_t* to, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) std::memcpy(to, bytes.data(), bytes.size());
    return to + bytes.size();
}

inline bool EventWriter::reserve(std::size_t n) {
    if (n <= out_.size() - size_) return true;
    fits_ = false;
    out_ = out_.first(size_);
    return false;
}

inline void EventWriter::writeHeld() {
    if (heldEnd_ == heldFrom_) return;
    size_ = static_cast<std::size_t>(put(out_.data() + size_, {heldFrom_, heldEnd_}) - out_.data());
    heldFrom_ = heldEnd_ = nullptr;
}

inline void EventWriter::writeChannelEvent(std::span<const std::uint8_t> delta, bool withStatus,
                                           std::uint8_t status,
                                           std::span<const std::uint8_t> data) {
    runningStatus_ = runOn_ = status;
    writeHeld();
    if (!reserve(delta.size() + (withStatus ? 1 : 0) + data.size())) return;
    std::uint8_t* to = put(out_.data() + size_, delta);
    if (withStatus) *to++ = status;
    to = put(to, data);
    size_ = static_cast<std::size_t>(to - out_.data());
}

inline void EventWriter::copy(std::span<const std::uint8_t> spelled, const MidiEvent& e) {
    const std::uint8_t* const end = spelled.data() + spelled.size();
    // Most events: as the song has them, right behind the copies held back (never right behind
    // an added event: adding writes out what is held).
    if (spelled.data() == heldEnd_ && static_cast<std::size_t>(end - heldFrom_) <= heldRoom_ &&
        (!e.runningStatus || runOn_ == e.status)) {
        heldEnd_ = end;
        if (isChannelStatus(e.status)) runningStatus_ = runOn_ = e.status;
        return;
    }
    copyOtherwise(spelled, e);
}

inline void EventWriter::copy(std::span<const std::uint8_t> spelled, const MidiEvent& e,
                              std::uint8_t status, std::span<const std::uint8_t> data) {
    const bool ranOn = e.runningStatus && runOn_ == status;
    const std::size_t withStatus = ranOn ? 0 : 1;
    // The song's event as the reader sized it: a status byte unless it ran on, and its data.
    const std::size_t own = (e.runningStatus ? 0 : 1) + ((e.status & 0xE0) == 0xC0 ? 1 : 2);
    // Most of these: a delta time of one byte and two data bytes, with nothing held back. The
    // status goes in the second byte either way, and the data over it where it runs on.
    if (spelled.size() == 1 + own && data.size() == 2 && heldEnd_ == heldFrom_ &&
        3 + withStatus <= out_.size() - size_) {
        const std::uint8_t first = data[0];
        const std::uint8_t second = data[1];
        std::uint8_t* const to = out_.data() + size_;
        to[0] = spelled[0];
        to[1] = status;
        to[1 + withStatus] = first;
        to[2 + withStatus] = second;
        size_ += 3 + withStatus;
        runningStatus_ = runOn_ = status;
        return;
    }
    writeChannelEvent(spelled.first(spelled.size() - e.bytes.size()), !ranOn, status, data);
}

}  // namespace pitchloom

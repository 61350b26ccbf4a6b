#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "midifile/channel_message.h"
#include "tuning/tuning_value.h"

namespace pitchloom {

/// System Exclusive messages in file form (F0, length, body, F7), in order.
class SysExList {
public:
    void add(std::span<const std::uint8_t> message);
    std::size_t count() const { return ends_.size(); }
    std::span<const std::uint8_t> operator[](std::size_t i) const;
    /// The bytes of all of them together.
    std::size_t byteCount() const { return bytes_.size(); }
    void clear();

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> ends_;
};

/// How a retuning by notes went for a song: the notes it played, how many of them it could not
/// give their tuning, and how far from it the farthest one sounded.
struct RetuneReport {
    std::uint64_t notes = 0;
    std::uint64_t offTuning = 0;
    double worstCents = 0;
    /// Notes on keys the tuning leaves without a pitch (a keyboard mapping's unmapped keys),
    /// which were not played.
    std::uint64_t silent = 0;

    /// Whether some notes did not sound as the tuning says.
    bool missed() const { return offTuning > 0 || silent > 0; }
};

/// "3 of 1200 notes played up to 41 cents from their tuning", "5 of 1200 notes fell on keys the
/// scale leaves unmapped and were not played", or both, joined by "; ".
std::string describeOffTuning(const RetuneReport& report);

/// How a retuning by notes may use the channels.
struct RetuneSettings {
    /// How long after its last Note Off a channel keeps its bend: synthesizers go on bending a
    /// released note while it fades.
    std::chrono::milliseconds releaseGuard{300};
};

/// Which channels a song uses, and which of them are rhythm channels at some time.
struct ChannelUse {
    std::uint16_t used = 0;    ///< bit c: a channel message on channel c
    std::uint16_t rhythm = 0;  ///< bit c: channel 10, or made a rhythm part by a GS or XG message
};

/// The channels of a format-0 song image (header and one track) as a walk over its events finds
/// them.
ChannelUse channelUseOf(std::span<const std::uint8_t> image);

/// Retunes a song note by note, for dialects that give each note its own pitch on the way out
/// rather than tell the module a tuning. Fed the song's channel messages in order, with their
/// times, it says what to send instead: the messages on the channels it chooses, with what those
/// channels need before them. The same for a file being written and a song being played.
class NoteRetuner {
public:
    virtual ~NoteRetuner() = default;

    /// Before the song's first event.
    virtual void begin(const ChannelUse& channels) = 0;
    /// The tuning of the notes that start from now on; the sounding ones keep theirs.
    virtual void setTuning(const TuningValue& tuning) = 0;
    /// One channel message of the song (a note already moved onto the scale), at its time from
    /// the song's start; `rhythm` when its channel is a rhythm channel there. Appends what goes
    /// out instead, in order; nothing for a message that has no place on the way out.
    virtual void take(const ChannelMessage& message, std::chrono::nanoseconds at, bool rhythm,
                      std::vector<ChannelMessage>& out) = 0;
    /// The pitch the next Note On taken plays, in cents from its key's equal-tempered pitch,
    /// in place of what the tuning gives its key: a tuning that gives each note its own pitch.
    /// Nothing: the key's. It holds for that one Note On.
    virtual void pitchNextNote(std::optional<double> centsFromEqual) = 0;
    /// Moves into `out` the System Exclusive messages (file form) that must go out before what
    /// the last take() appended; most retunings have none.
    virtual void sysExBefore(SysExList& out) { (void)out; }
    /// A reset in the song has just gone out, at `at`: the module forgot what it was sent.
    /// Appends what it must be sent again before the song goes on.
    virtual void afterReset(std::chrono::nanoseconds at, std::vector<ChannelMessage>& out) = 0;
    virtual RetuneReport report() const = 0;
};

}  // namespace pitchloom

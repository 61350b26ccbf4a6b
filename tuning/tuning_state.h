#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "midifile/sysex.h"
#include "tuning/rhythm_channels.h"
#include "tuning/tuning_tables.h"
#include "tuning/tuning_value.h"

namespace pitchloom {

using Offsets = PitchClassOffsets;

/// A Scala scale in force: what it is, and what the dialects that give each key its own pitch
/// play. One laid on the twelve pitch classes has those in the offsets and marks as well.
struct ScalaInForce {
    std::string description;
    std::size_t noteCount = 0;
    bool twelve = false;
    /// Why the twelve-offset dialects cannot play it; empty when they can.
    std::string whyNotTwelve;
    /// Laid on twelve classes: how far every key sounds from its offset where any pitch can be
    /// said, so that a mapping's reference key sounds at its reference frequency.
    double referenceShift = 0.0;
    /// Otherwise, every key's pitch.
    KeyPitches keys;
    /// The files as they were read, to be saved back unchanged.
    std::string sclText;
    std::optional<std::string> kbmText;
};

class NotePlan;

/// A tuning that follows the song it plays: none, twelve offsets fitted to the song when it
/// loads, or a pitch for every note.
enum class SongTuning : std::uint8_t { None, Fitted, Adaptive };

/// The key, scale and tuning in force: twelve cent offsets and twelve in-scale marks by absolute
/// pitch class. The window thread writes everything; the timer thread reads offsets and marks,
/// clears tuningChanged and sets rhythm flags, so those are atomics.
class TuningState {
public:
    /// Offsets 0, every pitch class in the scale, tuningChanged 0, savedKeyIndex 7.
    TuningState();

    int keyIndex = kDefaultKeyRow;        // window thread only
    int scaleIndex = kDefaultScaleRow;    // window thread only
    int tuningIndex = kDefaultTuningRow;  // window thread only
    std::int32_t savedKeyIndex = kDefaultKeyRow;

    std::array<std::atomic<std::int32_t>, kPitchClassCount> offsets;
    std::array<std::atomic<std::uint8_t>, kPitchClassCount> inScale;
    std::atomic<std::uint8_t> tuningChanged{0};
    RhythmChannels rhythm;
    /// Written by the window thread (or a command line), read by the timer thread.
    std::atomic<SongTuning> songTuning{SongTuning::None};

    /// Rotates tuning row 0..7 into offsets and raises tuningChanged; other rows change nothing.
    bool selectTuningRow(int tuningRow, int keyRow);

    /// Rotates scale row 0..9 into inScale; other rows change nothing.
    bool selectScaleRow(int scaleRow, int keyRow);

    /// Moves a note outside the scale up to the nearest member; when that lies above 127, down
    /// to the nearest member below instead. Notes in the scale, or outside 0..127, stay.
    int moveOntoScale(int note) const;

    Offsets offsetValues() const;
    /// The tuning in force as a pitch for every key of every channel: with a Scala scale in
    /// force, the scale's own pitches, and its twelve offsets only where it has them.
    TuningValue value() const;
    ScaleMarks scaleMarks() const;
    void setOffsets(const Offsets& values);
    void setScaleMarks(const ScaleMarks& marks);

    /// The Scala scale in force, if the tuning is one; any thread.
    std::shared_ptr<const ScalaInForce> scala() const;
    /// Puts a Scala scale in force, or none: offsets and marks are the tuning alone again.
    void setScala(std::shared_ptr<const ScalaInForce> scala);

    /// The pitch of every note of the song last loaded, while Adaptive is in force; any thread.
    std::shared_ptr<const NotePlan> notePlan() const;
    void setNotePlan(std::shared_ptr<const NotePlan> plan);

private:
    mutable std::mutex scalaMutex_;
    std::shared_ptr<const ScalaInForce> scala_;
    std::shared_ptr<const NotePlan> plan_;
};

}  // namespace pitchloom

#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "midifile/sysex.h"
#include "tuning/rhythm_channels.h"
#include "tuning/tuning_tables.h"
#include "tuning/tuning_value.h"

namespace pitchloom {

using Offsets = PitchClassOffsets;

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

    /// Rotates tuning row 0..7 into offsets and raises tuningChanged; other rows change nothing.
    bool selectTuningRow(int tuningRow, int keyRow);

    /// Rotates scale row 0..9 into inScale; other rows change nothing.
    bool selectScaleRow(int scaleRow, int keyRow);

    /// Moves a note outside the scale up to the nearest member; when that lies above 127, down
    /// to the nearest member below instead. Notes in the scale, or outside 0..127, stay.
    int moveOntoScale(int note) const;

    Offsets offsetValues() const;
    /// The tuning in force as a pitch for every key of every channel.
    TuningValue value() const;
    ScaleMarks scaleMarks() const;
    void setOffsets(const Offsets& values);
    void setScaleMarks(const ScaleMarks& marks);
};

}  // namespace pitchloom

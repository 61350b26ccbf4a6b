#pragma once

#include <chrono>
#include <cstdint>

namespace pitchloom {

/// The time of a song's events from its first one, exact to the nanosecond: ticks count at the
/// tempo in force when they pass, in microseconds per quarter note, and nothing is rounded until
/// a time is asked for, so no remainder is lost however many events there are.
class SongClock {
public:
    /// The tempo every song starts at: 120 quarter notes per minute.
    static constexpr std::uint32_t kStartTempo = 500000;

    /// A clock at time 0 for a division (ticks per quarter note, not 0).
    explicit SongClock(std::uint32_t division) : division_(division == 0 ? 1 : division) {}

    /// Lets ticks pass at the tempo in force.
    void advance(std::uint32_t ticks);
    /// The tempo of the ticks that follow; a tempo of 0 has no time and changes nothing.
    void setTempo(std::uint32_t microsPerQuarter);

    /// The time since the first event, rounded down to the nanosecond; held at the longest
    /// time the clock can count.
    std::chrono::nanoseconds elapsed() const;
    std::uint32_t tempo() const { return microsPerQuarter_; }

private:
    std::uint32_t division_;
    std::uint32_t microsPerQuarter_ = kStartTempo;
    // Ticks times microseconds per quarter: the time in units of 1/division microseconds.
    std::uint64_t scaledMicros_ = 0;
};

}  // namespace pitchloom

#include "midifile/song_clock.h"

#include <limits>

namespace pitchloom {

void SongClock::advance(std::uint32_t ticks) {
    // At most 2^32 ticks at 2^24 microseconds: below 2^56, so only the sum can overflow.
    const std::uint64_t step = std::uint64_t{ticks} * microsPerQuarter_;
    const std::uint64_t room = std::numeric_limits<std::uint64_t>::max() - scaledMicros_;
    scaledMicros_ = step > room ? std::numeric_limits<std::uint64_t>::max() : scaledMicros_ + step;
}

void SongClock::setTempo(std::uint32_t microsPerQuarter) {
    if (microsPerQuarter != 0) microsPerQuarter_ = microsPerQuarter;
}

std::chrono::nanoseconds SongClock::elapsed() const {
    using Rep = std::chrono::nanoseconds::rep;
    constexpr auto kMaxMicros = static_cast<std::uint64_t>(std::numeric_limits<Rep>::max() / 1000);
    const std::uint64_t micros = scaledMicros_ / division_;
    if (micros >= kMaxMicros) return std::chrono::nanoseconds::max();
    const std::uint64_t nanos = (scaledMicros_ % division_) * 1000 / division_;
    return std::chrono::nanoseconds(static_cast<Rep>(micros * 1000 + nanos));
}

}  // namespace pitchloom

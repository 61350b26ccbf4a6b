#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pitchloom::bench {

/// A recording mixed to one channel.
struct Audio {
    double rate = 0;
    std::vector<float> mono;
};

/// A 16-bit or 32-bit float PCM WAV file, any number of channels, mixed to mono; nothing when the
/// file is not one. A recording stopped by a signal, its data size unwritten, is read as far as
/// it goes.
std::optional<Audio> readWav(const std::string& path);

/// The root mean square of the samples from begin up to end.
double rmsOf(const std::vector<float>& samples, std::size_t begin, std::size_t end);

/// Seconds into the recording where it first grows loud (a twentieth of its loudest hundredth
/// of a second).
double soundStartOf(const Audio& audio);

/// The median of the values (the mean of the middle two for an even count).
double medianOf(std::vector<double> values);

}  // namespace pitchloom::bench

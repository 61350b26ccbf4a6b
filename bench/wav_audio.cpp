#include "wav_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace pitchloom::bench {
namespace {

std::uint32_t le(const std::vector<char>& b, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

}  // namespace

std::optional<Audio> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> b((std::istreambuf_iterator<char>(in)), {});
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0 ||
        std::memcmp(b.data() + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    int format = 0;
    int channels = 0;
    int bits = 0;
    Audio audio;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::size_t size = le(b, at + 4, 4);
        const std::size_t body = at + 8;
        // A recording stopped by a signal leaves the data size unwritten: take what is there.
        const std::size_t end =
            std::min(b.size(), size == 0 || size == 0xFFFFFFFF ? b.size() : body + size);
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0 && end - body >= 16) {
            format = static_cast<int>(le(b, body, 2));
            channels = static_cast<int>(le(b, body + 2, 2));
            audio.rate = le(b, body + 4, 4);
            bits = static_cast<int>(le(b, body + 14, 2));
        } else if (std::memcmp(b.data() + at, "data", 4) == 0 && channels > 0) {
            const std::size_t frameBytes = static_cast<std::size_t>(channels * bits / 8);
            for (std::size_t f = body; f + frameBytes <= end; f += frameBytes) {
                double sum = 0;
                for (int c = 0; c < channels; ++c) {
                    const std::size_t s = f + static_cast<std::size_t>(c * bits / 8);
                    if (format == 3 && bits == 32) {
                        float v;
                        std::memcpy(&v, b.data() + s, 4);
                        sum += v;
                    } else if (bits == 16) {
                        sum += static_cast<std::int16_t>(le(b, s, 2)) / 32768.0;
                    }
                }
                audio.mono.push_back(static_cast<float>(sum / channels));
            }
            return audio;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

double rmsOf(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    return end > begin ? std::sqrt(sum / static_cast<double>(end - begin)) : 0.0;
}

double soundStartOf(const Audio& audio) {
    const auto frame = static_cast<std::size_t>(audio.rate / 100);
    std::vector<double> level;
    for (std::size_t at = 0; frame > 0 && at + frame <= audio.mono.size(); at += frame)
        level.push_back(rmsOf(audio.mono, at, at + frame));
    const double loudest = level.empty() ? 0 : *std::max_element(level.begin(), level.end());
    for (std::size_t i = 0; i < level.size(); ++i) {
        if (level[i] > loudest / 20) return static_cast<double>(i) / 100;
    }
    return 0;
}

double medianOf(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace pitchloom::bench

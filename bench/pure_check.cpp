// The measuring half of bench/pure-check: writes the test song, and measures by ear how just the
// chords of a render sound.
//
//   pure_check song OUT.mid
//   pure_check measure RENDER.wav UNTUNED.wav
//
// The song is the comma pump C, A minor, D minor, G, C, four times over, each chord struck anew
// in open position (root and fifth below, third above) on the sine program of the tests'
// SoundFont: every pair of its notes lies at least a fourth apart, so that each note's pitch
// can be heard on its own. In Just Intonation in C its D minor chord has a fifth 22 cents
// narrow; kept pure chord by chord with its common tones, the song would sink a comma each time
// round. Each interval heard is compared with the nearest just interval of its size, from a
// table kept here apart from the program's; each note's offset from equal temperament with that
// of the first chord's notes (the drift). The untuned render of the same song must play every
// note within 1 cent of equal temperament, or the measuring itself is off.
//
// Prints a line per chord: each note's offset heard, each interval's distance from just; then
// "pure N of M intervals, worst W cents, drift D cents".

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "support/midi_builder.h"
#include "support/pitch.h"
#include "wav_audio.h"

namespace {

using pitchloom::bench::Audio;
using pitchloom::bench::medianOf;
using pitchloom::bench::readWav;

constexpr int kDivision = 480;
constexpr double kTicksPerSecond = 960;  // at the default 120 beats a minute
constexpr double kChordSeconds = 1.2;
constexpr double kGapSeconds = 0.1;
constexpr double kFirstNote = 0.5;
constexpr int kRounds = 4;
constexpr double kSkipAttack = 0.2;
constexpr double kSkipRelease = 0.05;
constexpr double kWindowSeconds = 0.4;
constexpr double kWindowStepSeconds = 0.1;
constexpr double kPureCents = 2.0;
constexpr double kUntunedCents = 1.0;

using Chord = std::array<int, 3>;
// C, A minor, D minor, G, C: root, fifth, third an octave up.
constexpr std::array<Chord, 5> kPump = {
    {{48, 55, 64}, {45, 52, 60}, {50, 57, 65}, {43, 50, 59}, {48, 55, 64}}};

struct Struck {
    Chord keys;
    double start;
    double end;
};

std::vector<Struck> chords() {
    std::vector<Struck> all;
    double at = kFirstNote;
    for (int round = 0; round < kRounds; ++round) {
        for (const Chord& c : kPump) {
            all.push_back({c, at, at + kChordSeconds});
            at += kChordSeconds + kGapSeconds;
        }
    }
    return all;
}

std::uint32_t ticksAt(double seconds) {
    return static_cast<std::uint32_t>(std::lround(seconds * kTicksPerSecond));
}

int writeSong(const std::string& path) {
    pitchloom::test::TrackBuilder t;
    t.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).programChange(0, 0, pitchloom::test::kOrgan);
    std::uint32_t now = 0;
    for (const Struck& c : chords()) {
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            t.noteOn(i == 0 ? ticksAt(c.start) - now : 0, 0, c.keys[i], 100);
        }
        now = ticksAt(c.start);
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            t.noteOff(i == 0 ? ticksAt(c.end) - now : 0, 0, c.keys[i]);
        }
        now = ticksAt(c.end);
    }
    t.endOfTrack(ticksAt(1.0));
    return pitchloom::writeFile(path, pitchloom::test::format0(kDivision, t)).ok() ? 0 : 1;
}

// The just intervals within the octave, by semitones: 5-limit, none for seconds and sevenths.
std::optional<double> fromJust(int semitones, double cents) {
    static const std::array<std::vector<double>, 12> kJust = {{
        {0.0},
        {},
        {},
        {1200 * std::log2(6.0 / 5)},
        {1200 * std::log2(5.0 / 4)},
        {1200 * std::log2(4.0 / 3)},
        {1200 * std::log2(45.0 / 32), 1200 * std::log2(64.0 / 45)},
        {1200 * std::log2(3.0 / 2)},
        {1200 * std::log2(8.0 / 5)},
        {1200 * std::log2(5.0 / 3)},
        {1200 * std::log2(9.0 / 5), 1200 * std::log2(16.0 / 9)},
        {},
    }};
    const auto& just = kJust[static_cast<std::size_t>(semitones % 12)];
    if (just.empty()) return std::nullopt;
    const double within = cents - 1200.0 * (semitones / 12);
    double nearest = 1e9;
    for (double t : just)
        nearest = std::min(nearest, std::abs(within - t));
    return nearest;
}

double startOf(const Audio& a) {
    return pitchloom::bench::soundStartOf(a) - kFirstNote;
}

// The note's offset from equal temperament heard along its steady part; nothing where the render
// ends before it.
std::optional<double> heardOffset(const Audio& a, double shift, int key, const Struck& c) {
    const auto window = static_cast<std::size_t>(kWindowSeconds * a.rate);
    const auto step = static_cast<std::size_t>(kWindowStepSeconds * a.rate);
    const double from = (c.start + shift + kSkipAttack) * a.rate;
    const double to = (c.end + shift - kSkipRelease) * a.rate;
    if (from < 0 || to > static_cast<double>(a.mono.size())) return std::nullopt;
    const double hz = pitchloom::test::noteHz(key);
    std::vector<double> cents;
    for (auto at = static_cast<std::size_t>(from); at + window <= static_cast<std::size_t>(to);
         at += step) {
        cents.push_back(pitchloom::test::cents(
            pitchloom::test::fundamentalHz({a.mono.data() + at, window}, a.rate, hz), hz));
    }
    if (cents.empty()) return std::nullopt;
    return medianOf(cents);
}

int measure(const std::string& renderPath, const std::string& untunedPath) {
    const auto render = readWav(renderPath);
    const auto untuned = readWav(untunedPath);
    if (!render || !untuned) {
        std::cerr << "pure_check: need two WAV files\n";
        return 2;
    }
    const double shift = startOf(*render);
    const double untunedShift = startOf(*untuned);
    int pure = 0;
    int intervals = 0;
    double worst = 0;
    double drift = 0;
    std::optional<double> firstMean;
    bool untunedOff = false;
    std::printf("chord        offsets heard (cents)        intervals from just (cents)\n");
    for (const Struck& c : chords()) {
        std::array<double, 3> offset{};
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            const auto heard = heardOffset(*render, shift, c.keys[i], c);
            const auto reference = heardOffset(*untuned, untunedShift, c.keys[i], c);
            if (!heard || !reference) {
                std::printf("the render ends before the chord at %.1f s\n", c.start);
                return 1;
            }
            untunedOff = untunedOff || std::abs(*reference) > kUntunedCents;
            offset[i] = *heard;
        }
        const double mean = (offset[0] + offset[1] + offset[2]) / 3;
        if (!firstMean) firstMean = mean;
        drift = std::max(drift, std::abs(mean - *firstMean));
        std::printf("%2d %2d %2d   %+7.2f %+7.2f %+7.2f   ", c.keys[0], c.keys[1], c.keys[2],
                    offset[0], offset[1], offset[2]);
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            for (std::size_t j = i + 1; j < c.keys.size(); ++j) {
                const int low = std::min(c.keys[i], c.keys[j]);
                const int high = std::max(c.keys[i], c.keys[j]);
                const double lowOffset = c.keys[i] < c.keys[j] ? offset[i] : offset[j];
                const double highOffset = c.keys[i] < c.keys[j] ? offset[j] : offset[i];
                const auto off =
                    fromJust(high - low, (high - low) * 100.0 + highOffset - lowOffset);
                if (!off) continue;
                ++intervals;
                pure += *off <= kPureCents ? 1 : 0;
                worst = std::max(worst, *off);
                std::printf(" %5.2f", *off);
            }
        }
        std::printf("\n");
    }
    if (untunedOff) std::printf("the untuned render is off equal temperament: no measure\n");
    std::printf("pure %d of %d intervals, worst %.2f cents, drift %.2f cents\n", pure, intervals,
                worst, drift);
    return untunedOff ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "song") return writeSong(args[1]);
    if (args.size() == 3 && args[0] == "measure") return measure(args[1], args[2]);
    std::cerr << "usage: pure_check song OUT.mid\n"
                 "       pure_check measure RENDER.wav UNTUNED.wav\n";
    return 2;
}

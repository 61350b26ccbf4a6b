// The measuring half of bench/scala-check: writes the test song, and measures the pitch of every
// note of a render against the pitch a Scala scale gives its key.
//
//   scala_check song OUT.mid
//   scala_check measure SCALE.scl RENDER.wav UNTUNED.wav
//
// The song plays every key from 48 to 84 alone, then two-note chords whose notes need different
// tunings at once, on the sine program of the tests' SoundFont. The expected pitch of each key
// comes from the .scl read here on its own (not by the program): the scale laid on the keys one
// by one from middle C, degree 0 at its equal-tempered pitch, as the program lays a scale it
// cannot fit on twelve keys when no keyboard mapping is given. A note passes within 1 cent of
// that pitch with its windows within 1 cent of each other; the untuned render of the same song
// must play each key within 1 cent of equal temperament, or the measuring itself is off.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
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
constexpr int kLowestKey = 48;
constexpr int kHighestKey = 84;
constexpr double kNoteSeconds = 0.55;
constexpr double kGapSeconds = 0.1;
constexpr double kFirstNote = 0.5;
constexpr double kToleranceCents = 1.0;
constexpr double kSkipAttack = 0.15;
constexpr double kSkipRelease = 0.05;
constexpr double kWindowSeconds = 0.3;
constexpr double kWindowStepSeconds = 0.05;

struct SongNote {
    int key;
    double start;
    double end;
};

// Chords of keys whose tunings differ: each needs a channel of its own under Bend.
constexpr std::array<std::array<int, 2>, 3> kChords = {{{60, 67}, {62, 74}, {55, 66}}};
constexpr double kChordSeconds = 1.2;

std::vector<SongNote> songNotes() {
    std::vector<SongNote> notes;
    double at = kFirstNote;
    for (int key = kLowestKey; key <= kHighestKey; ++key) {
        notes.push_back({key, at, at + kNoteSeconds});
        at += kNoteSeconds + kGapSeconds;
    }
    for (const auto& chord : kChords) {
        for (int key : chord)
            notes.push_back({key, at, at + kChordSeconds});
        at += kChordSeconds + kGapSeconds;
    }
    return notes;
}

std::uint32_t ticksAt(double seconds) {
    return static_cast<std::uint32_t>(std::lround(seconds * kTicksPerSecond));
}

int writeSong(const std::string& path) {
    struct Timed {
        std::uint32_t tick;
        int order;  // Note Offs before Note Ons at one tick
        pitchloom::test::Bytes bytes;
    };
    std::vector<Timed> events;
    for (const SongNote& n : songNotes()) {
        const auto key = static_cast<std::uint8_t>(n.key);
        events.push_back({ticksAt(n.start), 1, {0x90, key, 100}});
        events.push_back({ticksAt(n.end), 0, {0x80, key, 64}});
    }
    std::stable_sort(events.begin(), events.end(), [](const Timed& a, const Timed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    pitchloom::test::TrackBuilder t;
    t.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).programChange(0, 0, pitchloom::test::kOrgan);
    std::uint32_t now = 0;
    for (const Timed& e : events) {
        t.raw(e.tick - now, e.bytes);
        now = e.tick;
    }
    t.endOfTrack(ticksAt(1.0));
    return pitchloom::writeFile(path, pitchloom::test::format0(kDivision, t)).ok() ? 0 : 1;
}

// The pitch lines of a .scl in cents: the lines that are not comments after the description
// and the count; a value with a dot is cents, any other a ratio.
std::vector<double> readScale(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.starts_with('!')) lines.push_back(line);
    }
    std::vector<double> cents;
    if (lines.size() < 2) return cents;
    const int count = std::stoi(lines[1]);
    for (int i = 0; i < count && static_cast<std::size_t>(i) + 2 < lines.size(); ++i) {
        std::istringstream words(lines[static_cast<std::size_t>(i) + 2]);
        std::string value;
        words >> value;
        if (value.find('.') != std::string::npos) {
            cents.push_back(std::stod(value));
        } else {
            const auto slash = value.find('/');
            const double ratio =
                slash == std::string::npos
                    ? std::stod(value)
                    : std::stod(value.substr(0, slash)) / std::stod(value.substr(slash + 1));
            cents.push_back(1200 * std::log2(ratio));
        }
    }
    return cents;
}

// The key's pitch in cents (key k of equal temperament at k * 100).
double scalePitch(const std::vector<double>& scale, int key) {
    const int n = static_cast<int>(scale.size());
    const int degree = key - 60;
    const int periods = degree >= 0 ? degree / n : -((-degree + n - 1) / n);
    const int within = degree - periods * n;
    return 6000 + periods * scale.back() + (within == 0 ? 0 : scale[within - 1]);
}

double hzOf(double cents) {
    return 440 * std::pow(2.0, (cents - 6900) / 1200);
}

// Seconds from the song's time to the render's: where the render first grows loud.
double startOf(const Audio& a) {
    return pitchloom::bench::soundStartOf(a) - kFirstNote;
}

// Cents above `hz` of each window along the note's steady part.
std::vector<double> centsAlong(const Audio& a, double offset, const SongNote& n, double hz) {
    const auto window = static_cast<std::size_t>(kWindowSeconds * a.rate);
    const auto step = static_cast<std::size_t>(kWindowStepSeconds * a.rate);
    const double from = (n.start + offset + kSkipAttack) * a.rate;
    const double to = (n.end + offset - kSkipRelease) * a.rate;
    std::vector<double> cents;
    if (from < 0 || to > static_cast<double>(a.mono.size())) return cents;
    for (auto at = static_cast<std::size_t>(from); at + window <= static_cast<std::size_t>(to);
         at += step) {
        cents.push_back(pitchloom::test::cents(
            pitchloom::test::fundamentalHz({a.mono.data() + at, window}, a.rate, hz), hz));
    }
    return cents;
}

int measure(const std::string& sclPath, const std::string& renderPath,
            const std::string& untunedPath) {
    const std::vector<double> scale = readScale(sclPath);
    const auto render = readWav(renderPath);
    const auto untuned = readWav(untunedPath);
    if (scale.empty() || !render || !untuned) {
        std::cerr << "scala_check: need a .scl and two WAV files\n";
        return 2;
    }
    const double renderStart = startOf(*render);
    const double untunedStart = startOf(*untuned);
    std::printf("key  expected cents  untuned  measured  spread   error\n");
    int passed = 0;
    int failed = 0;
    double worst = 0;
    for (const SongNote& n : songNotes()) {
        const double expected = scalePitch(scale, n.key);
        const std::vector<double> heard = centsAlong(*render, renderStart, n, hzOf(expected));
        const std::vector<double> reference =
            centsAlong(*untuned, untunedStart, n, pitchloom::test::noteHz(n.key));
        std::printf("%3d  %14.2f", n.key, expected);
        if (heard.empty() || reference.empty()) {
            std::printf("  the render ends before the note\n");
            ++failed;
            continue;
        }
        const double untunedError = medianOf(reference);
        const double error = std::round(medianOf(heard) * 100) / 100;
        const auto [low, high] = std::minmax_element(heard.begin(), heard.end());
        const double spread = std::round((*high - *low) * 100) / 100;
        const bool referenceOk = std::abs(untunedError) <= kToleranceCents;
        const bool ok =
            referenceOk && std::abs(error) <= kToleranceCents && spread <= kToleranceCents;
        worst = std::max(worst, std::abs(error));
        std::printf("  %+7.2f  %+8.2f  %6.2f  %+6.2f  %s\n", untunedError,
                    error + expected - n.key * 100.0, spread, error,
                    ok ? "ok" : (referenceOk ? "FAILED" : "FAILED (untuned off)"));
        (ok ? passed : failed)++;
    }
    std::printf("%d passed, %d failed, worst %.2f cents\n", passed, failed, worst);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "song") return writeSong(args[1]);
    if (args.size() == 4 && args[0] == "measure") return measure(args[1], args[2], args[3]);
    std::cerr << "usage: scala_check song OUT.mid\n"
                 "       scala_check measure SCALE.scl RENDER.wav UNTUNED.wav\n";
    return 2;
}

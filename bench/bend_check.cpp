// The measuring half of bench/bend-check: writes the test song and the sine SoundFont it is
// rendered with, and measures the pitch of every note of a render against an untuned render of
// the same song.
//
//   bend_check soundfont OUT.sf2
//   bend_check song OUT.mid
//   bend_check measure RENDER.wav UNTUNED.wav
//
// The song has two melodic parts that play chords at once, on channels 1 and 2, with a drum part
// on channel 10. Each chord holds pitch classes that need different offsets under Just
// Intonation in C, and part B holds a bend of +100 cents of its own through its second chord.
// The notes sounding together lie at least three semitones apart, and the SoundFont plays a pure
// sine, so each note is measured as the spectral peak near its own pitch, in windows of 0.3 s
// along its steady part, the median of them its pitch. A note passes when it lies its key's
// offset above the same note of the untuned render (the song's bend is in both) within 1 cent,
// and its windows all lie within 1 cent of each other; a drum note passes when it lies where the
// untuned render has it, and is not measured where the untuned render has no steady pitch for
// it. `measure` prints one line per note (cents from equal temperament, the spread of the
// windows, the error) and "N passed, M failed", and exits 1 if any note failed.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_io.h"
#include "support/midi_builder.h"
#include "support/pitch.h"
#include "support/sine_soundfont.h"
#include "tuning/tuning_tables.h"
#include "wav_audio.h"

namespace {

using pitchloom::bench::Audio;
using pitchloom::bench::medianOf;
using pitchloom::bench::readWav;
using pitchloom::test::Bytes;

constexpr int kDivision = 480;
constexpr double kTicksPerSecond = 960;  // at the default 120 beats a minute
constexpr int kPartA = 0;
constexpr int kPartB = 1;
constexpr int kDrums = 9;
constexpr int kBendCentre = 8192;
constexpr int kSongBendRange = 200;  // cents: the song leaves the range at its default
constexpr double kToleranceCents = 1.0;
// How far an untuned render may play a note from equal temperament and the song's bend: FluidSynth
// plays a bend of +100 cents at +99.
constexpr double kReferenceSlackCents = 3.0;
// A note is measured from this long after its start to this long before its end, away from the
// attack and from the tail of the note before it.
constexpr double kSkipAttack = 0.2;
constexpr double kSkipRelease = 0.05;
// Between those, the pitch is measured in windows of a few tenths of a second, as
// fundamentalHz's search asks (in longer ones its first steps can miss the peak).
constexpr double kWindowSeconds = 0.3;
constexpr double kWindowStepSeconds = 0.1;
constexpr std::string_view kTuning = "Just Intonation";

struct SongNote {
    int channel;
    int key;
    double start;  // seconds
    double end;
};

// The song's own bends: a channel keeps each from its time on.
struct SongBend {
    int channel;
    double at;
    int cents;
};

constexpr std::array kBends = {
    SongBend{kPartB, 2.3, 100},
    SongBend{kPartB, 4.3, 0},
};

constexpr std::array kNotes = {
    // C major on part A and D major above it on part B: six bends at once; a bass drum.
    SongNote{kPartA, 60, 0.5, 2.0},
    SongNote{kPartA, 64, 0.5, 2.0},
    SongNote{kPartA, 67, 0.5, 2.0},
    SongNote{kPartB, 74, 0.5, 2.0},
    SongNote{kPartB, 78, 0.5, 2.0},
    SongNote{kPartB, 81, 0.5, 2.0},
    SongNote{kDrums, 36, 0.5, 1.5},
    // F major on part A; G major on part B under its own bend, sounding a semitone higher.
    SongNote{kPartA, 65, 2.5, 4.0},
    SongNote{kPartA, 69, 2.5, 4.0},
    SongNote{kPartA, 72, 2.5, 4.0},
    SongNote{kPartB, 79, 2.5, 4.0},
    SongNote{kPartB, 83, 2.5, 4.0},
    SongNote{kPartB, 86, 2.5, 4.0},
    SongNote{kDrums, 38, 2.5, 3.5},
    // D minor on part A; E major on part B, its bend back at the centre.
    SongNote{kPartA, 62, 4.5, 6.0},
    SongNote{kPartA, 65, 4.5, 6.0},
    SongNote{kPartA, 69, 4.5, 6.0},
    SongNote{kPartB, 76, 4.5, 6.0},
    SongNote{kPartB, 80, 4.5, 6.0},
    SongNote{kPartB, 83, 4.5, 6.0},
    SongNote{kDrums, 36, 4.5, 5.5},
    // Single notes on part A, each starting while the one before still dies away, over a fifth
    // held on part B: the pitch classes the chords leave out.
    SongNote{kPartA, 61, 6.3, 6.9},
    SongNote{kPartA, 63, 7.0, 7.6},
    SongNote{kPartA, 70, 7.7, 8.3},
    SongNote{kPartA, 68, 8.4, 9.0},
    SongNote{kPartB, 75, 6.3, 9.0},
    SongNote{kPartB, 82, 6.3, 9.0},
};
constexpr double kSongEnd = 9.5;

int bendOf(const SongNote& n) {
    int cents = 0;
    for (const SongBend& b : kBends) {
        if (b.channel == n.channel && b.at <= n.start) cents = b.cents;
    }
    return cents;
}

std::uint32_t ticksAt(double seconds) {
    return static_cast<std::uint32_t>(std::lround(seconds * kTicksPerSecond));
}

int bendValue(int cents) {
    return std::clamp(kBendCentre + cents * kBendCentre / kSongBendRange, 0, 16383);
}

std::string partName(int channel) {
    if (channel == kPartA) return "A";
    if (channel == kPartB) return "B";
    return "drums";
}

std::string keyName(int key) {
    static constexpr std::array<const char*, 12> kNames = {"C",  "C#", "D",  "D#", "E",  "F",
                                                           "F#", "G",  "G#", "A",  "A#", "B"};
    return kNames[static_cast<std::size_t>(key % 12)] + std::to_string(key / 12 - 1);
}

int writeSong(const std::string& path) {
    struct Timed {
        std::uint32_t tick;
        int order;  // at one tick: Note Offs, then bends, then Note Ons
        Bytes bytes;
    };
    std::vector<Timed> events;
    for (const SongBend& b : kBends) {
        const int value = bendValue(b.cents);
        events.push_back(
            {ticksAt(b.at),
             1,
             {static_cast<std::uint8_t>(0xE0 | b.channel), static_cast<std::uint8_t>(value & 0x7F),
              static_cast<std::uint8_t>(value >> 7)}});
    }
    for (const SongNote& n : kNotes) {
        const auto key = static_cast<std::uint8_t>(n.key);
        events.push_back(
            {ticksAt(n.start), 2, {static_cast<std::uint8_t>(0x90 | n.channel), key, 100}});
        events.push_back(
            {ticksAt(n.end), 0, {static_cast<std::uint8_t>(0x80 | n.channel), key, 64}});
    }
    std::stable_sort(events.begin(), events.end(), [](const Timed& a, const Timed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });

    pitchloom::test::TrackBuilder t;
    // GM System On, then each part's sound: parts A and B on the two sine programs.
    t.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
        .programChange(0, kPartA, pitchloom::test::kOrgan)
        .programChange(0, kPartB, 0)
        .controlChange(0, kPartA, 7, 100)
        .controlChange(0, kPartB, 7, 90)
        .controlChange(0, kPartB, 10, 80);
    std::uint32_t now = 0;
    for (const Timed& e : events) {
        t.raw(e.tick - now, e.bytes);
        now = e.tick;
    }
    t.endOfTrack(ticksAt(kSongEnd) - now);
    return pitchloom::writeFile(path, pitchloom::test::format0(kDivision, t)).ok() ? 0 : 1;
}

// Seconds from the song's time to the render's: where the render first grows loud, less where
// the song's first note starts.
double startOf(const Audio& a) {
    return pitchloom::bench::soundStartOf(a) - kNotes.front().start;
}

// The key's pitch in equal temperament as the sine SoundFont plays it: drums a fifth higher.
double equalHz(const SongNote& n) {
    return pitchloom::test::noteHz(n.channel == kDrums ? n.key + 7 : n.key);
}

// Cents above its key in equal temperament of each window of the note along its steady part;
// nothing when the render ends before the note does.
std::vector<double> centsAlong(const Audio& a, double offsetSeconds, const SongNote& n) {
    const double nominal = pitchloom::test::raisedBy(equalHz(n), bendOf(n));
    const auto window = static_cast<std::size_t>(kWindowSeconds * a.rate);
    const auto step = static_cast<std::size_t>(kWindowStepSeconds * a.rate);
    const double from = (n.start + offsetSeconds + kSkipAttack) * a.rate;
    const double to = (n.end + offsetSeconds - kSkipRelease) * a.rate;
    std::vector<double> cents;
    if (from < 0 || to > static_cast<double>(a.mono.size())) return cents;
    for (auto at = static_cast<std::size_t>(from); at + window <= static_cast<std::size_t>(to);
         at += step) {
        const double hz =
            pitchloom::test::fundamentalHz({a.mono.data() + at, window}, a.rate, nominal);
        cents.push_back(pitchloom::test::cents(hz, equalHz(n)));
    }
    return cents;
}

int measure(const std::string& renderPath, const std::string& untunedPath) {
    const auto render = readWav(renderPath);
    const auto untuned = readWav(untunedPath);
    if (!render || !untuned) {
        std::cerr << "bend_check: need two WAV files\n";
        return 2;
    }
    const auto row = std::find_if(pitchloom::TuningTable.begin(), pitchloom::TuningTable.end(),
                                  [](const auto& r) { return r.label == kTuning; });
    if (row == pitchloom::TuningTable.end()) {
        std::cerr << "bend_check: no tuning \"" << kTuning << "\" in the table\n";
        return 2;
    }
    const double renderStart = startOf(*render);
    const double untunedStart = startOf(*untuned);
    std::printf("render starts %+.3f s from the song, untuned %+.3f s\n", renderStart,
                untunedStart);
    std::printf("note  part   key   song bend  expected  untuned  measured  spread   error\n");
    int passed = 0;
    int failed = 0;
    int unmeasured = 0;
    for (std::size_t i = 0; i < kNotes.size(); ++i) {
        const SongNote& n = kNotes[i];
        const int bend = bendOf(n);
        const int offset =
            n.channel == kDrums ? 0 : row->cents[static_cast<std::size_t>(n.key % 12)];
        const std::vector<double> heard = centsAlong(*render, renderStart, n);
        const std::vector<double> reference = centsAlong(*untuned, untunedStart, n);
        std::printf("%4zu  %-5s  %-4s  %+9d  %+8d", i + 1, partName(n.channel).c_str(),
                    keyName(n.key).c_str(), bend, offset + bend);
        if (heard.empty() || reference.empty()) {
            std::printf("  the render ends before the note\n");
            ++failed;
            continue;
        }
        const auto [referenceLow, referenceHigh] =
            std::minmax_element(reference.begin(), reference.end());
        // TiMidity++ plays the kit's sine as a noise: a drum note without a pitch to compare.
        if (n.channel == kDrums && *referenceHigh - *referenceLow > kToleranceCents) {
            std::printf("  no steady pitch in the untuned render: not measured\n");
            ++unmeasured;
            continue;
        }
        const double untunedCents = medianOf(reference);
        const double heardCents = medianOf(heard);
        // Judged as printed, to a hundredth of a cent: FluidSynth plays a bend at 127/128 of its
        // depth and every pitch rounded down to a whole cent, so a note it bends up by a few
        // cents lands 1 cent flat, which the measure reads as 1 cent give or take a thousandth.
        const double error = std::round((heardCents - untunedCents - offset) * 100) / 100;
        // A bend that moves under a sounding note shows as a spread of its windows.
        const auto [low, high] = std::minmax_element(heard.begin(), heard.end());
        const double spread = std::round((*high - *low) * 100) / 100;
        // The untuned render must itself play the song's bend, or the note measured there is
        // another. Drum notes are left out: TiMidity++ plays a kit's sample at one pitch for
        // every key.
        const bool referenceOk =
            n.channel == kDrums || std::abs(untunedCents - bend) <= kReferenceSlackCents;
        const bool ok =
            referenceOk && std::abs(error) <= kToleranceCents && spread <= kToleranceCents;
        std::printf("  %+7.2f  %+8.2f  %6.2f  %+6.2f  %s\n", untunedCents, heardCents, spread,
                    error, ok ? "ok" : (referenceOk ? "FAILED" : "FAILED (untuned render off)"));
        (ok ? passed : failed)++;
    }
    std::printf("%d passed, %d failed", passed, failed);
    if (unmeasured > 0) std::printf(", %d not measured", unmeasured);
    std::printf("\n");
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "soundfont") {
        return pitchloom::writeFile(args[1], pitchloom::test::sineSoundFontBytes()).ok() ? 0 : 1;
    }
    if (args.size() == 2 && args[0] == "song") return writeSong(args[1]);
    if (args.size() == 3 && args[0] == "measure") return measure(args[1], args[2]);
    std::cerr << "usage: bend_check soundfont OUT.sf2\n"
                 "       bend_check song OUT.mid\n"
                 "       bend_check measure RENDER.wav UNTUNED.wav\n";
    return 2;
}

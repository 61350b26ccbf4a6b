// The measuring half of bench/heard-check: writes the test songs, and compares the pitch of every
// note of a recording with an untuned render of the same song.
//
//   heard_check song GS|XG|MTS|MTS-KEYS|BEND OUT.mid
//   heard_check measure RECORDING.wav REFERENCE.wav C,C#,...,B [CENTS]
//
// A song is a reset of its dialect (GM System On for BEND), a reed organ, then C4 to B4, half a
// second each with a quarter second of rest between them: shorter than the release guard, so
// that BEND plays each note after the first on a channel it borrows and makes an organ first.
// `measure` finds the twelve notes in both recordings by their loudness, measures each note's
// pitch in both, and checks that the recording lies the given offset in cents (C first) above
// the reference, within CENTS (3 unless given); it also looks for dropouts, stretches of a few
// milliseconds inside a note where the sound stops, and how far each note's onset, counted from
// the first note's, lies from the untuned render's. It prints one line per note and
// "N passed, M failed", and exits 1 if anything failed.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/midi_builder.h"
#include "support/pitch.h"
#include "wav_audio.h"

namespace {

using pitchloom::bench::Audio;
using pitchloom::bench::readWav;
using pitchloom::bench::rmsOf;
using pitchloom::test::Bytes;

constexpr int kFirstNote = 60;
constexpr int kNoteCount = 12;
constexpr int kReedOrgan = 20;  // steady in pitch and loudness in the common SoundFonts
constexpr double kDefaultToleranceCents = 3.0;

struct Note {
    std::size_t begin;
    std::size_t end;
};

// Stretches of 10 ms frames louder than a tenth of the loudest frame, at least 0.3 s long.
std::vector<Note> findNotes(const Audio& a) {
    const auto frame = static_cast<std::size_t>(a.rate / 100);
    std::vector<double> level;
    for (std::size_t at = 0; at + frame <= a.mono.size(); at += frame)
        level.push_back(rmsOf(a.mono, at, at + frame));
    const double loudest = level.empty() ? 0 : *std::max_element(level.begin(), level.end());
    std::vector<Note> notes;
    std::size_t start = 0;
    bool on = false;
    for (std::size_t i = 0; i <= level.size(); ++i) {
        const bool loud = i < level.size() && level[i] > loudest / 10;
        if (loud && !on) start = i;
        if (!loud && on && (i - start) * frame >= static_cast<std::size_t>(0.3 * a.rate)) {
            notes.push_back({start * frame, i * frame});
        }
        on = loud;
    }
    return notes;
}

double pitchOf(const Audio& a, const Note& n, int midiNote) {
    // Past the attack, 0.3 s of the sustained tone.
    const auto begin = n.begin + static_cast<std::size_t>(0.1 * a.rate);
    const auto length = std::min(static_cast<std::size_t>(0.3 * a.rate), n.end - begin);
    return pitchloom::test::fundamentalHz({a.mono.data() + begin, length}, a.rate,
                                          pitchloom::test::noteHz(midiNote));
}

// Milliseconds inside the note, away from its ends, where the sound stops altogether: 2 ms
// windows of digital silence, which is what a sound server plays when the synth falls behind.
// (An instrument's own tremolo never falls that far.)
int dropoutMs(const Audio& a, const Note& n) {
    const auto window = static_cast<std::size_t>(a.rate / 500);
    const auto margin = static_cast<std::size_t>(0.05 * a.rate);
    if (n.end - n.begin < 2 * margin + window) return 0;
    int gaps = 0;
    for (std::size_t at = n.begin + margin; at + window <= n.end - margin; at += window) {
        const auto [low, high] =
            std::minmax_element(a.mono.begin() + static_cast<long>(at),
                                a.mono.begin() + static_cast<long>(at + window));
        if (std::max(-*low, *high) < 1e-4f) gaps += 2;
    }
    return gaps;
}

int writeSong(const std::string& type, const std::string& path) {
    Bytes reset;
    if (type == "GS") {
        reset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    } else if (type == "XG") {
        reset = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    } else if (type == "MTS" || type == "MTS-KEYS" || type == "BEND") {
        reset = {0x7E, 0x7F, 0x09, 0x01, 0xF7};  // GM System On
    } else {
        std::cerr << "unknown type " << type << '\n';
        return 2;
    }
    pitchloom::test::TrackBuilder t;
    t.sysex(0, reset).programChange(0, 0, kReedOrgan);
    for (int i = 0; i < kNoteCount; ++i) {
        t.noteOn(240, 0, kFirstNote + i, 100).noteOff(480, 0, kFirstNote + i, 0);
    }
    t.endOfTrack(240);
    const Bytes song = pitchloom::test::format0(480, t);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(song.data()),
              static_cast<std::streamsize>(song.size()));
    return out ? 0 : 1;
}

int measure(const std::string& recordingPath, const std::string& referencePath,
            const std::string& offsetList, double toleranceCents) {
    std::vector<double> offsets;
    std::stringstream list(offsetList);
    for (std::string item; std::getline(list, item, ',');)
        offsets.push_back(std::stod(item));
    const auto recording = readWav(recordingPath);
    const auto reference = readWav(referencePath);
    if (offsets.size() != 12 || !recording || !reference) {
        std::cerr << "heard_check: need two WAV files and twelve offsets\n";
        return 2;
    }
    const auto heard = findNotes(*recording);
    const auto expected = findNotes(*reference);
    if (heard.size() != kNoteCount || expected.size() != kNoteCount) {
        std::cout << "found " << heard.size() << " notes in the recording and " << expected.size()
                  << " in the reference, not " << kNoteCount << "\n"
                  << "0 passed, " << kNoteCount << " failed\n";
        return 1;
    }
    int passed = 0;
    int failed = 0;
    // Each onset from the first, against the untuned render's, in the 10 ms frames notes are
    // found by.
    const auto onsetMs = [](const Audio& a, const std::vector<Note>& notes, std::size_t i) {
        return 1000.0 * static_cast<double>(notes[i].begin - notes[0].begin) / a.rate;
    };
    double worstOnset = 0;
    std::printf("note  offset  heard Hz   untuned Hz  error cents  dropout ms  onset ms\n");
    for (int i = 0; i < kNoteCount; ++i) {
        const int note = kFirstNote + i;
        const auto n = static_cast<std::size_t>(i);
        const double hz = pitchOf(*recording, heard[n], note);
        const double untuned = pitchOf(*reference, expected[n], note);
        const double error =
            pitchloom::test::cents(hz, pitchloom::test::raisedBy(untuned, offsets[n % 12]));
        const int gap = dropoutMs(*recording, heard[n]);
        const bool ok = std::abs(error) <= toleranceCents && gap == 0;
        const double onset = onsetMs(*recording, heard, n) - onsetMs(*reference, expected, n);
        worstOnset = std::max(worstOnset, std::abs(onset));
        std::printf("%4d  %+6.0f  %9.3f  %10.3f  %+11.2f  %10d  %+8.0f  %s\n", note,
                    offsets[n % 12], hz, untuned, error, gap, onset, ok ? "ok" : "FAILED");
        (ok ? passed : failed)++;
    }
    std::printf("onsets: at most %.0f ms from the untuned render's, from the first note on\n",
                worstOnset);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "song") return writeSong(args[1], args[2]);
    if ((args.size() == 4 || args.size() == 5) && args[0] == "measure") {
        return measure(args[1], args[2], args[3],
                       args.size() == 5 ? std::stod(args[4]) : kDefaultToleranceCents);
    }
    std::cerr << "usage: heard_check song GS|XG|MTS|MTS-KEYS|BEND OUT.mid\n"
                 "       heard_check measure RECORDING.wav REFERENCE.wav C,C#,...,B [CENTS]\n";
    return 2;
}

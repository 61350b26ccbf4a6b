// The measuring half of bench/pure-chords: how pure each song sounds in equal temperament, in
// Just Intonation in C, in the temperament fitted to it and in adaptive just intonation, by the
// program's own reading of the song (the loader's merge, then the notes on melodic channels).
//
//   pure_chords SONG.mid...
//
// Prints one line per song and tuning, tab-separated: the song's notes, the tuning, the share of
// the pairs' sounding time within ±2 cents of just (%), the mean and worst mistuning (cents),
// the drift (cents), the notes re-pitched with nothing changed around them, the milliseconds
// the tuning took to work out (the fit, or the adaptive plan; 0 for the fixed ones), and the
// path; the adaptive figures are those of the pitches as played, each at its nearest whole
// cent. A song the loader refuses prints "unreadable" and its path.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "session/session.h"
#include "support/scripted_dialogs.h"
#include "tuning/pure_tuning.h"
#include "tuning/song_harmony.h"
#include "tuning/tuning_tables.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<double> fixedOffsets(std::span<const pitchloom::SongNote> notes,
                                 const pitchloom::PitchClassOffsets& o) {
    std::vector<double> offsets;
    for (const auto& n : notes)
        offsets.push_back(o[n.key % pitchloom::kPitchClassCount]);
    return offsets;
}

void print(const char* tuning, std::size_t notes, const pitchloom::Purity& p, double ms,
           const char* path) {
    std::printf("%zu\t%s\t%.1f\t%.2f\t%.1f\t%.2f\t%llu\t%.0f\t%s\n", notes, tuning,
                100.0 * p.pureShare, p.meanCents, p.worstCents, p.driftCents,
                static_cast<unsigned long long>(p.repitched), ms, path);
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    pitchloom::test::ScriptedDialogs dialogs;
    pitchloom::Session session(dialogs);
    if (!session.createSong()) return 1;
    pitchloom::PitchClassOffsets just{};
    pitchloom::rotateByKey(pitchloom::TuningTable[1].cents, 0, just);
    for (int a = 1; a < argc; ++a) {
        const char* path = argv[a];
        if (!session.loader.loadSongFromPath(path)) {
            std::printf("unreadable\t%s\n", path);
            continue;
        }
        const auto notes = pitchloom::songNotesOf(session.song.image(), pitchloom::unmovedKeys());
        const auto pairs = pitchloom::pairsOf(notes);
        print(
            "equal", notes.size(),
            pitchloom::purityOf(notes, pairs, fixedOffsets(notes, pitchloom::PitchClassOffsets{})),
            0, path);
        print("just-C", notes.size(), pitchloom::purityOf(notes, pairs, fixedOffsets(notes, just)),
              0, path);
        auto start = Clock::now();
        const auto fitNotes =
            pitchloom::songNotesOf(session.song.image(), pitchloom::unmovedKeys());
        const auto fitted = pitchloom::fitTemperament(fitNotes, pitchloom::pairsOf(fitNotes));
        double ms = msSince(start);
        print("fitted", notes.size(),
              pitchloom::purityOf(notes, pairs, fixedOffsets(notes, fitted)), ms, path);
        start = Clock::now();
        const auto planNotes =
            pitchloom::songNotesOf(session.song.image(), pitchloom::unmovedKeys());
        const auto plan = pitchloom::planAdaptive(planNotes, pitchloom::pairsOf(planNotes));
        ms = msSince(start);
        // As the per-note types play it: each pitch at its nearest whole cent.
        std::vector<double> played(plan.begin(), plan.end());
        for (double& x : played)
            x = std::round(x);
        print("adaptive", notes.size(), pitchloom::purityOf(notes, pairs, played), ms, path);
    }
    return 0;
}

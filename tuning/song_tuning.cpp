#include "tuning/song_tuning.h"

#include <cmath>
#include <memory>

namespace pitchloom {

namespace {

KeyMove moveOf(const TuningState& state) {
    KeyMove move{};
    for (std::size_t k = 0; k < move.size(); ++k)
        move[k] = static_cast<std::uint8_t>(state.moveOntoScale(static_cast<int>(k)));
    return move;
}

// Each note's pitch as the dialects that give notes their own pitch play it: a whole cent, as
// FluidSynth hears any pitch; notes a hair apart then share a channel, or a key.
std::vector<double> adaptiveOffsets(std::span<const SongNote> notes,
                                    std::span<const NotePair> pairs) {
    std::vector<double> offsets = planAdaptive(notes, pairs);
    for (double& x : offsets)
        x = std::round(x);
    return offsets;
}

}  // namespace

SongTuning songTuningOfRow(int tuningRow) {
    if (tuningRow == kFittedTuningRow) return SongTuning::Fitted;
    if (tuningRow == kAdaptiveTuningRow) return SongTuning::Adaptive;
    return SongTuning::None;
}

void setSongTuning(TuningState& state, SongTuning kind) {
    state.songTuning.store(kind);
    if (kind != SongTuning::Adaptive) state.setNotePlan(nullptr);
    if (kind == SongTuning::Adaptive && state.offsetValues() != PitchClassOffsets{}) {
        state.setOffsets({});
        state.tuningChanged.store(1);
    }
}

std::shared_ptr<const NotePlan> notePlanOf(const TuningState& state,
                                           std::span<const std::uint8_t> image) {
    if (state.songTuning.load() != SongTuning::Adaptive) return nullptr;
    const auto notes = songNotesOf(image, moveOf(state));
    return std::make_shared<const NotePlan>(notes, adaptiveOffsets(notes, pairsOf(notes)));
}

bool tuneToSong(TuningState& state, std::span<const std::uint8_t> image) {
    const SongTuning kind = state.songTuning.load();
    if (kind == SongTuning::None) return false;
    if (kind == SongTuning::Adaptive) {
        state.setNotePlan(notePlanOf(state, image));
        return false;
    }
    const auto notes = songNotesOf(image, moveOf(state));
    const PitchClassOffsets fitted = fitTemperament(notes, pairsOf(notes));
    if (fitted == state.offsetValues()) return false;
    state.setOffsets(fitted);
    // Raised after the offsets are stored, so that the player never sends the ones before.
    state.tuningChanged.store(1);
    return true;
}

Purity purityInForce(const TuningState& state, std::span<const std::uint8_t> image) {
    const auto notes = songNotesOf(image, moveOf(state));
    const auto pairs = pairsOf(notes);
    if (state.songTuning.load() == SongTuning::Adaptive)
        return purityOf(notes, pairs, adaptiveOffsets(notes, pairs));
    const TuningValue value = state.value();
    std::vector<double> offsets;
    offsets.reserve(notes.size());
    for (const SongNote& n : notes)
        offsets.push_back(value.pitch(n.channel, n.key) - n.key * 100.0);
    return purityOf(notes, pairs, offsets);
}

}  // namespace pitchloom

#include "tuning/song_harmony.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "midifile/song_clock.h"
#include "tuning/rhythm_channels.h"

namespace pitchloom {

namespace {

constexpr int kChannels = 16;
constexpr int kKeys = 128;
// Notes struck within this much of each other count as struck together.
constexpr double kTogether = 0.001;
// A note is weighed against at most this many of the notes sounding as it starts, those struck
// last: more at once is no chord but notes left on without their Note Off, and would make the
// work grow with the square of the song.
constexpr std::size_t kMostPartners = 48;

// The last kMostPartners of the notes sounding.
std::span<const std::uint32_t> latest(const std::vector<std::uint32_t>& active) {
    const std::span<const std::uint32_t> all(active);
    return all.last(std::min(all.size(), kMostPartners));
}

// How long at most a note rings on under the sustain pedal after its Note Off.
constexpr double kPedalRing = 3.0;
// Two pitches of one note closer than this are the same pitch.
constexpr double kSamePitchCents = 0.5;

double secondsOf(std::chrono::nanoseconds t) {
    return static_cast<double>(t.count()) * 1e-9;
}

// The notes of one walk over a track: open ones by channel and key, oldest first, and those the
// pedal holds after their Note Off.
class NoteCollector {
public:
    explicit NoteCollector(std::vector<SongNote>& notes) : notes_(notes) {}

    void noteOn(int channel, int key, std::uint32_t event, double now) {
        auto& open = open_[slot(channel, key)];
        // A key struck again before its Note Off: most synthesizers end the earlier note.
        for (std::uint32_t i : open)
            notes_[i].end = now;
        open.clear();
        std::erase_if(held_[static_cast<std::size_t>(channel)], [&](std::uint32_t i) {
            if (notes_[i].key != key) return false;
            notes_[i].end = std::max(notes_[i].end, std::min(now, notes_[i].end + kPedalRing));
            return true;
        });
        open.push_back(static_cast<std::uint32_t>(notes_.size()));
        notes_.push_back(
            {now, now, event, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(key)});
    }

    void noteOff(int channel, int key, double now) {
        auto& open = open_[slot(channel, key)];
        if (open.empty()) return;
        const std::uint32_t i = open.front();
        open.erase(open.begin());
        notes_[i].end = now;
        if (pedal_[static_cast<std::size_t>(channel)])
            held_[static_cast<std::size_t>(channel)].push_back(i);
    }

    void pedal(int channel, bool down, double now) {
        auto& held = held_[static_cast<std::size_t>(channel)];
        if (!down) {
            // Held by the pedal, a note rings on as it fades: for a while, not for as long as a
            // pedal stays down that a song never lets up.
            for (std::uint32_t i : held)
                notes_[i].end = std::max(notes_[i].end, std::min(now, notes_[i].end + kPedalRing));
            held.clear();
        }
        pedal_[static_cast<std::size_t>(channel)] = down;
    }

    void silence(int channel, double now) {
        for (int key = 0; key < kKeys; ++key) {
            for (std::uint32_t i : open_[slot(channel, key)])
                notes_[i].end = now;
            open_[slot(channel, key)].clear();
        }
        pedal(channel, false, now);
    }

    void finish(double now) {
        for (int c = 0; c < kChannels; ++c)
            silence(c, now);
    }

private:
    static std::size_t slot(int channel, int key) {
        return static_cast<std::size_t>(channel * kKeys + key);
    }

    std::vector<SongNote>& notes_;
    std::vector<std::vector<std::uint32_t>> open_ =
        std::vector<std::vector<std::uint32_t>>(kChannels * kKeys);
    std::array<bool, kChannels> pedal_{};
    std::array<std::vector<std::uint32_t>, kChannels> held_;
};

struct JustTargets {
    std::array<double, 2> cents;
    int count;
};

// The just intervals of each size within the octave, in cents; none for seconds and sevenths.
constexpr std::array<JustTargets, 12> kJust = {{
    {{0.0, 0.0}, 1},           // unison, octave
    {{0.0, 0.0}, 0},           // minor second
    {{0.0, 0.0}, 0},           // major second
    {{315.641, 0.0}, 1},       // minor third 6/5
    {{386.314, 0.0}, 1},       // major third 5/4
    {{498.045, 0.0}, 1},       // fourth 4/3
    {{590.224, 609.776}, 2},   // tritone 45/32, diminished fifth 64/45
    {{701.955, 0.0}, 1},       // fifth 3/2
    {{813.686, 0.0}, 1},       // minor sixth 8/5
    {{884.359, 0.0}, 1},       // major sixth 5/3
    {{1017.596, 996.090}, 2},  // minor seventh 9/5, 16/9
    {{0.0, 0.0}, 0},           // major seventh
}};

}  // namespace

std::vector<std::vector<std::uint16_t>> keysAround(std::span<const SongNote> notes) {
    std::vector<std::vector<std::uint16_t>> around(notes.size());
    std::vector<std::uint32_t> active;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const double start = notes[i].start;
        std::erase_if(active, [&](std::uint32_t j) { return notes[j].end <= start; });
        auto& keys = around[i];
        for (std::uint32_t j : latest(active))
            keys.push_back(static_cast<std::uint16_t>(notes[j].channel * kKeys + notes[j].key));
        for (std::size_t j = i + 1;
             j < notes.size() && j <= i + kMostPartners && notes[j].start - start < kTogether;
             ++j) {
            keys.push_back(static_cast<std::uint16_t>(notes[j].channel * kKeys + notes[j].key));
        }
        std::sort(keys.begin(), keys.end());
        if (notes[i].end > start) active.push_back(static_cast<std::uint32_t>(i));
    }
    return around;
}

std::span<const double> justIntervals(int semitones) {
    const JustTargets& just = kJust[static_cast<std::size_t>(((semitones % 12) + 12) % 12)];
    return std::span(just.cents).first(static_cast<std::size_t>(just.count));
}

KeyMove unmovedKeys() {
    KeyMove move{};
    for (std::size_t k = 0; k < move.size(); ++k)
        move[k] = static_cast<std::uint8_t>(k);
    return move;
}

std::vector<SongNote> songNotesOf(std::span<const std::uint8_t> image, const KeyMove& move) {
    std::vector<SongNote> notes;
    if (image.size() < kFirstEventOffset) return notes;
    const std::uint32_t division = readBe16(image, kDivisionOffset);
    if (division == 0 || division >= 0x8000) return notes;
    const std::uint64_t end =
        kFirstEventOffset + std::uint64_t{readBe32(image, kTrackLengthOffset)};
    const auto track =
        image.first(static_cast<std::size_t>(std::min<std::uint64_t>(end, image.size())));

    NoteCollector collector(notes);
    EventReader events(track, kFirstEventOffset, 0, EventReader::StrayData::Report);
    SongClock clock(division);
    RhythmChannels rhythm;
    double now = 0.0;
    for (std::uint32_t index = 0;; ++index) {
        const auto e = events.next();
        if (!e || e->stray) break;
        clock.advance(e->delta);
        if (e->delta != 0) now = secondsOf(clock.elapsed());
        if (const auto tempo = e->tempo()) clock.setTempo(*tempo);
        if (e->isSysEx() && !e->unfinishedSysEx) rhythm.examineForRhythm(e->bytes);
        const auto m = e->channelMessage();
        if (!m || m->data1 > 0x7F) continue;
        const int c = m->channel();
        if (rhythm.isRhythm(c)) continue;
        const std::uint8_t kind = m->status & 0xF0;
        if (kind == 0x90 && m->data2 != 0) {
            collector.noteOn(c, move[m->data1], index, now);
        } else if (kind == 0x80 || kind == 0x90) {
            collector.noteOff(c, move[m->data1], now);
        } else if (kind == 0xB0 && m->data1 == 64) {
            collector.pedal(c, m->data2 >= 64, now);
        } else if (kind == 0xB0 && (m->data1 == 120 || m->data1 >= 123)) {
            collector.silence(c, now);
        }
    }
    collector.finish(now);
    return notes;
}

std::vector<NotePair> pairsOf(std::span<const SongNote> notes) {
    std::vector<NotePair> pairs;
    std::vector<std::uint32_t> active;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        const SongNote& n = notes[i];
        std::erase_if(active, [&](std::uint32_t j) { return notes[j].end <= n.start; });
        for (std::uint32_t j : latest(active)) {
            const double together = std::min(n.end, notes[j].end) - n.start;
            if (together <= 0) continue;
            const bool newIsLow = n.key < notes[j].key;
            pairs.push_back({newIsLow ? static_cast<std::uint32_t>(i) : j,
                             newIsLow ? j : static_cast<std::uint32_t>(i), together});
        }
        if (n.end > n.start) active.push_back(static_cast<std::uint32_t>(i));
    }
    return pairs;
}

std::optional<double> mistuning(int semitones, double cents) {
    if (semitones < 0) return mistuning(-semitones, -cents);
    const auto just = justIntervals(semitones);
    if (just.empty()) return std::nullopt;
    const double within = cents - 1200.0 * (semitones / 12);
    double nearest = std::numeric_limits<double>::max();
    for (double t : just)
        nearest = std::min(nearest, std::abs(within - t));
    return nearest;
}

std::optional<double> mistuningOf(int lowKey, double lowOffset, int highKey, double highOffset) {
    return mistuning(highKey - lowKey, (highKey - lowKey) * 100.0 + highOffset - lowOffset);
}

Purity purityOf(std::span<const SongNote> notes, std::span<const NotePair> pairs,
                std::span<const double> offsets) {
    Purity purity;
    purity.notes = notes.size();
    double pure = 0.0;
    double total = 0.0;
    for (const NotePair& p : pairs) {
        const SongNote& low = notes[p.low];
        const SongNote& high = notes[p.high];
        const auto off = mistuningOf(low.key, offsets[p.low], high.key, offsets[p.high]);
        if (!off) continue;
        purity.pairSeconds += p.seconds;
        total += *off * p.seconds;
        if (*off <= kPureCents + 1e-9) pure += p.seconds;
        purity.worstCents = std::max(purity.worstCents, *off);
    }
    if (purity.pairSeconds > 0) {
        purity.pureShare = pure / purity.pairSeconds;
        purity.meanCents = total / purity.pairSeconds;
    }

    // The mean offset of the notes struck in each ten seconds of the song that begins with a
    // note, against that of the first ten seconds. A span the song ends within is no ten seconds:
    // its last few notes would stand for it alone.
    std::optional<double> first;
    double sum = 0.0;
    std::size_t last = 0;
    const double lastStart = notes.empty() ? 0.0 : notes.back().start;
    for (std::size_t i = 0; i < notes.size(); ++i) {
        if (first && notes[i].start + kDriftWindowSeconds > lastStart) break;
        if (i > 0) sum -= offsets[i - 1];
        last = std::max(last, i);
        while (last < notes.size() && notes[last].start < notes[i].start + kDriftWindowSeconds)
            sum += offsets[last++];
        // The notes struck at one time all belong to the span that begins then.
        if (i > 0 && notes[i].start == notes[i - 1].start) continue;
        const double mean = sum / static_cast<double>(last - i);
        if (!first) first = mean;
        purity.driftCents = std::max(purity.driftCents, std::abs(mean - *first));
    }

    const auto around = keysAround(notes);
    std::vector<std::int64_t> before(kChannels * kKeys, -1);
    for (std::size_t i = 0; i < notes.size(); ++i) {
        auto& previous = before[static_cast<std::size_t>(notes[i].channel * kKeys + notes[i].key)];
        if (previous >= 0) {
            const auto p = static_cast<std::size_t>(previous);
            if (around[p] == around[i] && std::abs(offsets[p] - offsets[i]) > kSamePitchCents)
                ++purity.repitched;
        }
        previous = static_cast<std::int64_t>(i);
    }
    return purity;
}

}  // namespace pitchloom

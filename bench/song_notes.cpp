// The counting half of bench/bend-collection: how many notes each song plays, as the converter
// reads it (the song loader's merge, then a walk over its events), and how many free channels a
// retuning by bend would need at least to play all of them in tune.
//
//   song_notes [--guard MS] [--tolerance CENTS] SONG.mid...
//
// Prints one line per song, tab-separated: its notes on melodic channels, its notes on rhythm
// channels (channel 10 and those a GS or XG message makes a rhythm part), the melodic channels
// that play notes, how many of those it gives a pitch bend range (RPN 0, then Data Entry), the
// channels it leaves free (no channel message, not a rhythm channel), the channels that play no
// note and are not rhythm channels (free ones among them), the free channels it needs, and its
// path; "unreadable" and the path for a song the loader refuses. A note is a
// Note On of velocity above 0.
//
// The need is a lower bound under the rules of a retuning by bend in Just Intonation in C (the
// converter's default), where every pitch class has an offset of its own: a channel holds one
// bend while a note sounds on it and for the release guard (MS, default 300) after, and plays
// one part. So at each Note On, every part needs a channel for each pitch class it sounds or
// released within the guard, its own channel being one of them. The song's own bends and the
// sustain pedal are left out: both can only add to the need. With --tolerance, pitch classes
// whose offsets lie within twice CENTS of each other may share a channel, each played that
// close to its tuning (default 0: each its own).

#include <algorithm>
#include <array>
#include <bitset>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "midifile/song_clock.h"
#include "session/session.h"
#include "support/scripted_dialogs.h"
#include "tuning/note_retuner.h"
#include "tuning/tuning_tables.h"

namespace {

using std::chrono::nanoseconds;

constexpr int kChannels = 16;
constexpr int kPitchClasses = 12;
constexpr int kRpnMsb = 101;
constexpr int kRpnLsb = 100;
constexpr int kDataEntry = 6;
constexpr int kBendRange = 0;
constexpr int kNullParameter = 0x3FFF;

struct SongCount {
    std::uint64_t melodic = 0;
    std::uint64_t drums = 0;
    std::bitset<kChannels> playing;  // melodic channels with notes
    std::bitset<kChannels> ranged;   // channels given a bend range
    std::bitset<kChannels> free;
    std::bitset<kChannels> rhythm;
    int freeNeeded = 0;
};

// Which pitch classes of each part hold a channel's bend: sounding, or released within the guard.
class BendHolds {
public:
    /// Pitch classes whose offsets lie within twice `tolerance` cents of each other may share a
    /// bend, each played within the tolerance.
    BendHolds(nanoseconds guard, const std::array<double, kPitchClasses>& offsets, double tolerance)
        : guard_(guard), offsets_(offsets), tolerance_(tolerance) {}

    void noteOn(int channel, int key) {
        ++keys_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(key)];
        ++sounding_[index(channel, key)];
    }

    void noteOff(int channel, int key, nanoseconds at) {
        int& down = keys_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(key)];
        if (down == 0) return;
        --down;
        if (--sounding_[index(channel, key)] == 0) released_[index(channel, key)] = at;
    }

    /// The channels the parts need besides their own at `at`.
    int borrowedAt(nanoseconds at) const {
        int borrowed = 0;
        for (int c = 0; c < kChannels; ++c) {
            std::vector<double> held;
            for (int pc = 0; pc < kPitchClasses; ++pc) {
                const std::size_t i = index(c, pc);
                if (sounding_[i] > 0 || (released_[i] && at - *released_[i] < guard_)) {
                    held.push_back(offsets_[static_cast<std::size_t>(pc)]);
                }
            }
            // The fewest bends within the tolerance of every offset held: each from the lowest
            // offset not yet played, as far up as the tolerance reaches.
            std::sort(held.begin(), held.end());
            int bends = 0;
            for (std::size_t k = 0; k < held.size(); ++bends) {
                const double reach = held[k] + 2 * tolerance_;
                while (k < held.size() && held[k] <= reach + 1e-9)
                    ++k;
            }
            borrowed += std::max(0, bends - 1);
        }
        return borrowed;
    }

private:
    static std::size_t index(int channel, int key) {
        return static_cast<std::size_t>(channel * kPitchClasses + key % kPitchClasses);
    }

    nanoseconds guard_;
    std::array<double, kPitchClasses> offsets_;
    double tolerance_;
    std::array<std::array<int, 128>, kChannels> keys_{};  // notes sounding on each key
    // Per channel and pitch class: the notes sounding, and when the last of them ended.
    std::array<int, kChannels * kPitchClasses> sounding_{};
    std::array<std::optional<nanoseconds>, kChannels * kPitchClasses> released_{};
};

SongCount countSong(std::span<const std::uint8_t> image, nanoseconds guard, double tolerance) {
    SongCount count;
    const pitchloom::ChannelUse use = pitchloom::channelUseOf(image);
    count.free = std::bitset<kChannels>(static_cast<std::uint16_t>(~(use.used | use.rhythm)));
    count.rhythm = std::bitset<kChannels>(use.rhythm);
    // The registered parameter each channel has selected (both bytes).
    std::array<int, kChannels> selected;
    selected.fill(kNullParameter);
    const auto row = std::find_if(pitchloom::TuningTable.begin(), pitchloom::TuningTable.end(),
                                  [](const auto& r) { return r.label == "Just Intonation"; });
    std::array<double, kPitchClasses> offsets{};
    std::copy(row->cents.begin(), row->cents.end(), offsets.begin());
    BendHolds holds(guard, offsets, tolerance);
    pitchloom::SongClock clock(pitchloom::readBe16(image, pitchloom::kDivisionOffset));
    pitchloom::EventReader events(image, pitchloom::kFirstEventOffset);
    while (const auto e = events.next()) {
        clock.advance(e->delta);
        if (const auto tempo = e->tempo()) clock.setTempo(*tempo);
        const std::size_t first = e->dataAt() - e->at;
        if (e->status < 0x80 || e->status > 0xEF || first + 1 >= e->bytes.size()) continue;
        const int channel = e->status & 0x0F;
        const int data1 = e->bytes[first];
        const int data2 = e->bytes[first + 1];
        const bool drum = (use.rhythm >> channel) & 1;
        if (e->isNoteOn() && data2 > 0) {
            (drum ? count.drums : count.melodic)++;
            if (drum) continue;
            count.playing.set(static_cast<std::size_t>(channel));
            holds.noteOn(channel, data1);
            count.freeNeeded = std::max(count.freeNeeded, holds.borrowedAt(clock.elapsed()));
        } else if (e->isNote()) {
            if (!drum) holds.noteOff(channel, data1, clock.elapsed());
        } else if ((e->status & 0xF0) == 0xB0) {
            int& rpn = selected[static_cast<std::size_t>(channel)];
            if (data1 == kRpnMsb) rpn = (data2 << 7) | (rpn & 0x7F);
            if (data1 == kRpnLsb) rpn = (rpn & ~0x7F) | data2;
            if (data1 == kDataEntry && rpn == kBendRange) {
                count.ranged.set(static_cast<std::size_t>(channel));
            }
        }
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    nanoseconds guard = std::chrono::milliseconds(300);
    double tolerance = 0;
    while (args.size() >= 2 && (args[0] == "--guard" || args[0] == "--tolerance")) {
        const std::string value(args[1]);
        if (args[0] == "--guard") guard = std::chrono::milliseconds(std::stoi(value));
        if (args[0] == "--tolerance") tolerance = std::stod(value);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        std::fprintf(stderr, "usage: song_notes [--guard MS] [--tolerance CENTS] SONG.mid...\n");
        return 2;
    }
    pitchloom::test::ScriptedDialogs dialogs;
    pitchloom::Session session(dialogs);
    if (!session.createSong()) return 1;
    for (const std::string_view path : args) {
        if (!session.loader.loadSongFromPath(std::string(path))) {
            std::printf("unreadable\t\t\t\t\t\t\t%.*s\n", static_cast<int>(path.size()),
                        path.data());
            continue;
        }
        const SongCount c = countSong(session.song.image(), guard, tolerance);
        const std::bitset<kChannels> noteless = ~(c.playing | c.rhythm);
        std::printf("%llu\t%llu\t%zu\t%zu\t%zu\t%zu\t%d\t%.*s\n",
                    static_cast<unsigned long long>(c.melodic),
                    static_cast<unsigned long long>(c.drums), c.playing.count(),
                    (c.playing & c.ranged).count(), c.free.count(), noteless.count(), c.freeNeeded,
                    static_cast<int>(path.size()), path.data());
    }
    return 0;
}

// The counting half of bench/bend-collection: how many notes each song plays, as the converter
// reads it (the song loader's merge, then a walk over its events).
//
//   song_notes SONG.mid...
//
// Prints one line per song, tab-separated: its notes on melodic channels, its notes on rhythm
// channels (channel 10 and those a GS or XG message makes a rhythm part), the melodic channels
// that play notes, how many of those it gives a pitch bend range (RPN 0, then Data Entry), the
// channels it leaves free (no channel message, not a rhythm channel), and its path;
// "unreadable" and the path for a song the loader refuses. A note is a Note On of velocity
// above 0.

#include <array>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "midifile/event_reader.h"
#include "midifile/midi_song.h"
#include "session/session.h"
#include "support/scripted_dialogs.h"
#include "tuning/note_retuner.h"

namespace {

constexpr int kRpnMsb = 101;
constexpr int kRpnLsb = 100;
constexpr int kDataEntry = 6;
constexpr int kBendRange = 0;
constexpr int kNullParameter = 0x3FFF;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: song_notes SONG.mid...\n");
        return 2;
    }
    pitchloom::test::ScriptedDialogs dialogs;
    pitchloom::Session session(dialogs);
    if (!session.createSong()) return 1;
    for (int i = 1; i < argc; ++i) {
        if (!session.loader.loadSongFromPath(argv[i])) {
            std::printf("unreadable\t\t\t\t\t%s\n", argv[i]);
            continue;
        }
        const auto image = session.song.image();
        const pitchloom::ChannelUse use = pitchloom::channelUseOf(image);
        const std::uint16_t rhythm = use.rhythm;
        const std::bitset<16> free(static_cast<std::uint16_t>(~(use.used | use.rhythm)));
        std::uint64_t melodic = 0;
        std::uint64_t drums = 0;
        // The registered parameter each channel has selected (both bytes), and the channels
        // whose bend range was set.
        std::array<int, 16> selected;
        selected.fill(kNullParameter);
        std::bitset<16> ranged;
        std::bitset<16> playing;
        pitchloom::EventReader events(image, pitchloom::kFirstEventOffset);
        while (const auto e = events.next()) {
            const std::size_t first = e->dataAt() - e->at;
            if (e->status < 0x80 || e->status > 0xEF || first + 1 >= e->bytes.size()) continue;
            const int channel = e->status & 0x0F;
            const int data1 = e->bytes[first];
            const int data2 = e->bytes[first + 1];
            if (e->isNoteOn() && data2 > 0) {
                const bool drum = (rhythm >> channel) & 1;
                (drum ? drums : melodic)++;
                if (!drum) playing.set(static_cast<std::size_t>(channel));
            } else if ((e->status & 0xF0) == 0xB0) {
                int& rpn = selected[static_cast<std::size_t>(channel)];
                if (data1 == kRpnMsb) rpn = (data2 << 7) | (rpn & 0x7F);
                if (data1 == kRpnLsb) rpn = (rpn & ~0x7F) | data2;
                if (data1 == kDataEntry && rpn == kBendRange)
                    ranged.set(static_cast<std::size_t>(channel));
            }
        }
        std::printf("%llu\t%llu\t%zu\t%zu\t%zu\t%s\n", static_cast<unsigned long long>(melodic),
                    static_cast<unsigned long long>(drums), playing.count(),
                    (playing & ranged).count(), free.count(), argv[i]);
    }
    return 0;
}

// Song loading from arbitrary bytes: a format-0 file is taken as read, any other is merged.

#include <algorithm>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_support.h"
#include "midifile/event_reader.h"
#include "midifile/format0_merge.h"
#include "midifile/song_loader.h"

namespace pitchloom::fuzz {
namespace {

constexpr std::uint8_t kMergedHeader[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1};

// A merged song is a well-formed format-0 track that every later walk can read to its end.
void checkMerged(std::span<const std::uint8_t> image, std::span<const std::uint8_t> file) {
    require(std::equal(std::begin(kMergedHeader), std::end(kMergedHeader), image.begin()),
            "a merged song has a format-0 header with one track");
    require(readBe16(image, kDivisionOffset) == readBe16(file, kDivisionOffset),
            "the merge keeps the division");
    require(std::equal(image.begin() + 14, image.begin() + 18, "MTrk"),
            "the merged track is tagged MTrk");
    require(readBe32(image, kTrackLengthOffset) == image.size() - kFirstEventOffset,
            "the merged track length counts every byte after the header");

    EventReader events(image, kFirstEventOffset);
    std::size_t end = kFirstEventOffset;
    bool endOfTrack = false;
    while (auto e = events.next()) {
        require(!endOfTrack, "nothing follows the end of track");
        require(!e->runningStatus, "every merged event has its status byte");
        require(e->delta <= 0x0FFFFFFF, "merged delta times fit four bytes");
        endOfTrack = e->isMeta() && e->metaType() == 0x2F;
        end = e->end();
    }
    require(endOfTrack && end == image.size(), "the walk reads the merged song to its end");
}

}  // namespace
}  // namespace pitchloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pitchloom;
    using namespace pitchloom::fuzz;
    static const ScratchFolder folder;
    const std::span<const std::uint8_t> file(data, size);

    QuietDialogs dialogs;
    FuzzSession session(dialogs, reusedSong());
    const MidiSong& song = session.song;
    const bool loaded = session.loader.loadSongFromPath(folder.write("song.mid", file));
    // Ten boxes at most for each of the merge's nine codes, and the loader's one.
    require(dialogs.boxCount() <= 91, "a file shows a handful of boxes, not thousands");

    if (!loaded) {
        require(song.image().empty(), "a failed load leaves no song to play or convert");
        require(dialogs.boxCount() > 0, "a failed load says so");
        return 0;
    }
    const auto image = song.image();
    require(image.size() >= kFirstEventOffset && image.size() < kSongBufferSize,
            "a loaded song has its header and fits the buffer");
    if (size <= 9 || data[9] == 0) {
        if (isStandardFormat0(file)) {
            require(std::equal(image.begin(), image.end(), file.begin(), file.end()),
                    "a format-0 file in the standard layout is used exactly as read");
        } else {
            require(isStandardFormat0(image), "any other is brought into the standard layout");
        }
    } else {
        checkMerged(image, file);
    }
    return 0;
}

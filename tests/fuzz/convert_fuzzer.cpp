// The Convert command on arbitrary input. The first byte picks GS, XG or GM, the next two the
// scale; the rest is the MIDI file to convert.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <span>

#include "base/file_io.h"
#include "convert/convert_command.h"
#include "fuzz/fuzz_support.h"
#include "midifile/event_reader.h"
#include "midifile/format0_merge.h"
#include "midifile/song_loader.h"
#include "tuning/rhythm_channels.h"

namespace pitchloom::fuzz {
namespace {

constexpr std::size_t kSettingBytes = 3;

// Every note left outside a rhythm channel sounds on the scale.
void checkNotesOnScale(std::span<const std::uint8_t> image, const TuningState& tuning) {
    RhythmChannels rhythm;
    rhythm.resetRhythmChannels();
    EventReader events(image, kFirstEventOffset);
    while (auto e = events.next()) {
        if (e->isSysEx()) {
            rhythm.examineForRhythm(e->bytes);
        } else if (e->isNote() && !rhythm.isRhythm(e->status & 0x0F)) {
            const std::uint8_t note = image[e->dataAt()];
            require(note > 127 || tuning.inScale[note % 12].load() != 0,
                    "a converted note lies on the scale");
        }
    }
}

}  // namespace
}  // namespace pitchloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pitchloom;
    using namespace pitchloom::fuzz;
    static const ScratchFolder folder;
    if (size < kSettingBytes) return 0;

    QuietDialogs dialogs;
    FuzzSession session(dialogs, reusedSong());
    const MidiSong& song = session.song;
    const TuningState& tuning = session.tuning;
    const DeviceType type = dialects()[data[0] % dialects().size()].type;
    session.deviceType = type;
    session.tuning.setScaleMarks(marksFromMask(data[1] | unsigned{data[2]} << 8));
    const std::string source =
        folder.write("source.mid", {data + kSettingBytes, size - kSettingBytes});
    const std::string target = folder.path("target.mid");
    std::filesystem::remove(target);

    dialogs.answerOpen(source);
    dialogs.answerSave(target);
    const bool written = session.convert(false);

    const auto files = folder.names();
    if (!written) {
        require(files == std::vector<std::string>{"source.mid"},
                "a conversion that fails writes nothing, not even in part");
        return 0;
    }
    require(files == std::vector<std::string>{"source.mid", "target.mid"},
            "a conversion writes its target and nothing else");
    const auto read = readFile(target, kLargestInput);
    require(read.status.ok(), "the target can be read");
    const auto* saved = &read.bytes;
    const auto image = song.image();
    require(std::equal(saved->begin(), saved->end(), image.begin(), image.end()),
            "the target holds the converted song whole");
    const std::span<const std::uint8_t> file(data + kSettingBytes, size - kSettingBytes);
    require(readBe16(*saved, kDivisionOffset) == readBe16(file, kDivisionOffset),
            "the conversion keeps the division");
    if (dialectOf(type).noteRetuner != nullptr) {
        // Retuned note by note: the bends, ranges and borrowed channels added are the retuner's.
        require(saved->size() < kSongBufferSize, "the retuned song loads again");
        require(readBe32(*saved, kTrackLengthOffset) == saved->size() - kFirstEventOffset,
                "the track length grows with every message added");
    } else if (isStandardFormat0(file)) {
        // The event behind the messages may lose its running status, so gain its status byte.
        const std::size_t messages = type == DeviceType::GM ? 0 : scaleTuningBytes(type);
        const bool statusAdded = messages > 0 && saved->size() == file.size() + messages + 1;
        require(saved->size() == file.size() + messages || statusAdded,
                "the conversion adds exactly the tuning messages");
    } else {
        // A merged (or laid out anew) song's track length counts every byte after the header; so
        // must the result's.
        require(readBe32(*saved, kTrackLengthOffset) == saved->size() - kFirstEventOffset,
                "the track length grows with every message inserted");
    }
    checkNotesOnScale(*saved, tuning);
    return 0;
}

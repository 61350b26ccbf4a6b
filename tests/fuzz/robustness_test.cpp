// The bad inputs of docs/robustness.md, each taken through the three ways a song is used: loaded,
// played (through the recorder, on the manual timer) and converted for GS. Every test here
// measures one row of that table.

#include <gtest/gtest.h>

#include "base/file_io.h"
#include "base/messages.h"
#include "convert/convert_command.h"
#include "playback/playback_rig.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::namesIn;
using test::smf;
using test::TrackBuilder;
using Texts = std::vector<std::string>;

constexpr int kDivision = 96;
const std::string kWritten = "Information has been written to the file!";

struct Outcome {
    bool loaded = false;
    Texts loadBoxes;
    Bytes song;  // as loaded

    Texts playBoxes;
    std::vector<Bytes> played;  // short messages
    std::vector<Bytes> sysExes;
    bool playingAfter = false;  // still "playing" once every timer has run

    bool written = false;
    Texts convertBoxes;
    Bytes converted;  // the file written, if any
    std::vector<std::string> convertFolder;
};

Texts codes(std::initializer_list<int> list) {
    Texts out;
    for (int c : list)
        out.push_back(fileErrorText(c));
    return out;
}

// Loads the file with a fresh program state (no running status read yet), plays what was loaded
// to its end, then converts the file for GS; both on the scale of `marks`.
Outcome tryEverything(const Bytes& file,
                      const ScaleMarks& marks = ScaleMarks{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}) {
    const std::string dir =
        test::makeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
    const std::string source = dir + "/source.mid";
    EXPECT_TRUE(writeFile(source, file).ok());
    Outcome out;

    test::PlaybackRig<ManualTimerService> rig;
    rig.tuning.setScaleMarks(marks);
    out.loaded = rig.loader.loadSongFromPath(source);
    out.loadBoxes = rig.dialogs.texts();
    out.song.assign(rig.song.image().begin(), rig.song.image().end());
    rig.dialogs.clear();
    if (out.loaded) {
        rig.seq.beginPlayback();
        rig.timers.runAll();
        out.playBoxes = rig.dialogs.texts();
        out.played = rig.shorts();
        out.sysExes = rig.sysExes();
        out.playingAfter = rig.seq.isPlaying();
    }

    test::ScriptedDialogs dialogs;
    Session session(dialogs);
    EXPECT_TRUE(session.createSong());
    session.tuning.setScaleMarks(marks);
    session.deviceType = DeviceType::GS;
    dialogs.willOpen(source);
    dialogs.willSave(dir + "/target.mid");
    out.written = session.convert(false);
    out.convertBoxes = dialogs.texts();
    out.converted = readFile(dir + "/target.mid", kSongBufferSize + 1).bytes;
    out.convertFolder = namesIn(dir);
    return out;
}

std::vector<int> notesOn(const std::vector<Bytes>& shorts) {
    std::vector<int> notes;
    for (const Bytes& m : shorts) {
        if ((m[0] & 0xF0) == 0x90) notes.push_back(m[1]);
    }
    return notes;
}

TrackBuilder threeNotes(int channel = 0) {
    TrackBuilder t;
    return t.noteOn(0, channel, 60, 90).noteOn(48, channel, 62, 90).noteOn(48, channel, 64, 90);
}

Bytes format1(const std::vector<TrackBuilder>& tracks, int division = kDivision) {
    std::vector<Bytes> bytes;
    for (const auto& t : tracks)
        bytes.push_back(t.bytes());
    return smf(1, division, bytes);
}

// A refused song: what the user saw, and that neither Play nor Convert went on with it.
void expectRefused(const Outcome& o, const Texts& boxes) {
    EXPECT_FALSE(o.loaded);
    EXPECT_EQ(o.loadBoxes, boxes);
    EXPECT_TRUE(o.song.empty());
    EXPECT_FALSE(o.written);
    EXPECT_EQ(o.convertBoxes, boxes);
    EXPECT_EQ(o.convertFolder, std::vector<std::string>{"source.mid"});
}

// A song that plays to its end and converts whole, with these boxes on the way.
void expectPlayedAndConverted(const Outcome& o, const Texts& loadBoxes) {
    EXPECT_TRUE(o.loaded);
    EXPECT_EQ(o.loadBoxes, loadBoxes);
    EXPECT_TRUE(o.playBoxes.empty());
    EXPECT_FALSE(o.playingAfter);
    EXPECT_TRUE(o.written);
    Texts convertBoxes = loadBoxes;
    convertBoxes.push_back(kWritten);
    EXPECT_EQ(o.convertBoxes, convertBoxes);
    EXPECT_EQ(o.converted.size(), o.song.size() + scaleTuningBytes(DeviceType::GS));
}

TEST(TruncatedFile, CutInTheHeaderIsRefused) {
    const Bytes whole = format1({threeNotes().endOfTrack()});
    expectRefused(tryEverything(Bytes(whole.begin(), whole.begin() + 12)), codes({101, 0}));
    // A format-0 file shorter than its 22-byte header.
    const Bytes song0 = test::format0(kDivision, threeNotes().endOfTrack());
    expectRefused(tryEverything(Bytes(song0.begin(), song0.begin() + 21)), {"Undefined error!"});
}

TEST(TruncatedFile, CutInAnEventKeepsTheEventsBeforeIt) {
    const Bytes whole = format1({threeNotes().endOfTrack()});
    const Outcome merged = tryEverything(Bytes(whole.begin(), whole.end() - 5));
    expectPlayedAndConverted(merged, {});
    EXPECT_EQ(notesOn(merged.played), (std::vector<int>{60, 62}));

    // A format-0 song's track is cut where the file ends, its length with it. Playback ends
    // before the cut event, and the converter leaves it as it is.
    const Bytes song0 = test::format0(kDivision, threeNotes().endOfTrack());
    const Outcome cut = tryEverything(Bytes(song0.begin(), song0.end() - 5));
    expectPlayedAndConverted(cut, {});
    EXPECT_EQ(notesOn(cut.played), (std::vector<int>{60, 62}));
    EXPECT_EQ(readBe32(cut.song, kTrackLengthOffset), cut.song.size() - kFirstEventOffset);
    EXPECT_EQ(Bytes(cut.converted.end() - 3, cut.converted.end()), (Bytes{0x30, 0x90, 64}));
}

TEST(HugeQuantity, DeltaBeyondFourBytesWaitsTheLongestOneCanSay) {
    // Seven bytes of delta time: the merge keeps its low 32 bits and writes at most 0x0FFFFFFF.
    Bytes track = threeNotes().bytes();
    track.insert(track.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 67, 90});
    const Outcome o = tryEverything(smf(1, kDivision, {track}));
    expectPlayedAndConverted(o, {});
    EXPECT_EQ(notesOn(o.played), (std::vector<int>{60, 62, 64, 67}));
    const Bytes tail(o.song.end() - 11, o.song.end());
    EXPECT_EQ(tail, (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0x90, 67, 90, 0x00, 0xFF, 0x2F, 0x00}));
}

TEST(HugeQuantity, MetaLengthBeyondTheTrackEndsThatTrackOnly) {
    const Bytes file = format1(
        {threeNotes().raw(0, {0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 'x'}), threeNotes(1)});
    const Outcome o = tryEverything(file);
    expectPlayedAndConverted(o, {});
    EXPECT_EQ(notesOn(o.played).size(), 6u);

    // In a format-0 song the meta event runs past the song: playback ends there.
    const Bytes song0 = test::format0(
        kDivision,
        threeNotes().raw(0, {0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 'x'}).noteOn(0, 0, 67, 90));
    const Outcome o0 = tryEverything(song0);
    expectPlayedAndConverted(o0, {});
    EXPECT_EQ(notesOn(o0.played), (std::vector<int>{60, 62, 64}));
}

TEST(SysExWithoutF7, EndsItsTrackOrItsSong) {
    const Bytes file =
        format1({threeNotes().raw(0, {0xF0, 0x05, 0x41, 0x10, 0x42}), threeNotes(1)});
    const Outcome o = tryEverything(file);
    expectPlayedAndConverted(o, {});
    EXPECT_EQ(notesOn(o.played).size(), 6u);
    EXPECT_TRUE(o.sysExes.empty());

    const Bytes song0 = test::format0(
        kDivision, threeNotes().raw(0, {0xF0, 0x05, 0x41, 0x10, 0x42}).noteOn(0, 0, 67, 90));
    const Outcome o0 = tryEverything(song0);
    expectPlayedAndConverted(o0, {});
    EXPECT_EQ(notesOn(o0.played), (std::vector<int>{60, 62, 64}));
    EXPECT_TRUE(o0.sysExes.empty());
}

TEST(TrackCount, SixtyFiveTracksAreRefused) {
    std::vector<TrackBuilder> tracks(65, TrackBuilder().noteOn(0, 0, 60, 1));
    expectRefused(tryEverything(format1(tracks)), codes({105}));
    tracks.pop_back();
    expectPlayedAndConverted(tryEverything(format1(tracks)), {});
}

TEST(TrackCount, IsReadFromBothItsBytes) {
    // 256 tracks read as 0 gave an empty song, 257 as 1 a song of one track: both are refused.
    for (std::size_t count : {256, 257}) {
        const std::vector<TrackBuilder> tracks(count, threeNotes());
        expectRefused(tryEverything(format1(tracks)), codes({105}));
    }
    // A header claiming 10000 tracks, with 70 of them there.
    Bytes claims = format1(std::vector<TrackBuilder>(70, threeNotes()));
    claims[10] = 10000 >> 8;
    claims[11] = 10000 & 0xFF;
    expectRefused(tryEverything(claims), codes({105}));
    Bytes none = format1({threeNotes()});
    none[11] = 0;
    expectRefused(tryEverything(none), {"Undefined error!"});
}

TEST(Division, ZeroIsRefusedByPlaybackAndKeptByTheConverter) {
    const Outcome o = tryEverything(format1({threeNotes().endOfTrack()}, 0));
    EXPECT_TRUE(o.loaded);
    EXPECT_EQ(o.playBoxes, Texts{"Undefined error!"});
    EXPECT_TRUE(o.played.empty());
    EXPECT_TRUE(o.playingAfter) << "the Play button keeps Stop until pressed";
    EXPECT_TRUE(o.written);
    EXPECT_EQ(readBe16(o.converted, kDivisionOffset), 0u);
}

TEST(Tempo, ZeroChangesNothing) {
    const Outcome o =
        tryEverything(format1({TrackBuilder(threeNotes()).tempo(0, 0).noteOn(96, 0, 67, 90)}));
    expectPlayedAndConverted(o, {});
    EXPECT_EQ(notesOn(o.played), (std::vector<int>{60, 62, 64, 67}));
    const Bytes zeroTempo{0xFF, 0x51, 0x03, 0x00, 0x00, 0x00};
    EXPECT_NE(
        std::search(o.converted.begin(), o.converted.end(), zeroTempo.begin(), zeroTempo.end()),
        o.converted.end());
}

TEST(RunningStatus, FirstEventOfTheRunUnderRunningStatus) {
    // In a format-1 file each data byte is shown and read again as a delta time (3C, 5A, then the
    // next event's own 00), the one before it dropped: the note that follows comes at time 0.
    const Outcome merged =
        tryEverything(format1({TrackBuilder().running(0, 60, 90).noteOn(0, 0, 62, 90)}));
    expectPlayedAndConverted(merged, codes({104, 104, 104}));
    EXPECT_EQ(Bytes(merged.song.begin() + 22, merged.song.begin() + 27),
              (Bytes{0x00, 0x90, 62, 90, 0x00}));
    EXPECT_EQ(notesOn(merged.played), (std::vector<int>{62}));

    // In a format-0 song playback halts at once; the converter leaves the bytes as they are.
    const Outcome song0 = tryEverything(test::format0(
        kDivision, TrackBuilder().running(0, 60, 90).noteOn(0, 0, 62, 90).endOfTrack()));
    EXPECT_TRUE(song0.loaded);
    EXPECT_EQ(song0.playBoxes, Texts{"Undefined error!"});
    EXPECT_TRUE(song0.played.empty());
    EXPECT_TRUE(song0.playingAfter);
    EXPECT_TRUE(song0.written);
    EXPECT_EQ(song0.converted.size(), song0.song.size() + scaleTuningBytes(DeviceType::GS));
}

TEST(UnknownMeta, IsShownAndKept) {
    const TrackBuilder t =
        TrackBuilder(threeNotes()).raw(0, {0xFF, 0x60, 0x02, 'o', 'k'}).noteOn(0, 0, 67, 90);
    const Outcome o = tryEverything(format1({t}));
    EXPECT_EQ(o.loadBoxes, codes({103}));
    EXPECT_EQ(o.convertBoxes, (Texts{fileErrorText(103), "Event Error!", kWritten}));
    EXPECT_EQ(notesOn(o.played), (std::vector<int>{60, 62, 64, 67}));
    EXPECT_NE(std::search(o.converted.begin(), o.converted.end(), t.bytes().end() - 9,
                          t.bytes().end() - 4),
              o.converted.end());
}

TEST(NotesAtTheTop, StayNotesOnTheScaleForEveryScaleAndKey) {
    const Bytes file =
        format1({TrackBuilder().noteOn(0, 0, 127, 90).noteOff(96, 0, 127).endOfTrack()});
    for (int scale = 0; scale < 10; ++scale) {
        for (int key = 0; key < 15; ++key) {
            TuningState tuning;
            tuning.selectScaleRow(scale, key);
            const Outcome o = tryEverything(file, tuning.scaleMarks());
            expectPlayedAndConverted(o, {});
            ASSERT_EQ(o.played.size(), 2u);
            const int note = o.played[0][1];
            EXPECT_LE(note, 127);
            EXPECT_NE(tuning.inScale[static_cast<std::size_t>(note % 12)], 0);
            EXPECT_EQ(o.played[1][1], note) << "the release follows its note";
            const Bytes converted{0x90, static_cast<std::uint8_t>(note), 90};
            EXPECT_NE(std::search(o.converted.begin(), o.converted.end(), converted.begin(),
                                  converted.end()),
                      o.converted.end());
        }
    }
}

}  // namespace
}  // namespace pitchloom

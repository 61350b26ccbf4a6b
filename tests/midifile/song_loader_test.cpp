#include "midifile/song_loader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "base/messages.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;
using test::writeTempFile;

class SongLoading : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(song.create()); }
    void TearDown() override {
        std::error_code ignored;  // the folder stays while other files are in it
        for (const auto& path : written_) {
            std::filesystem::remove(path, ignored);
            std::filesystem::remove(std::filesystem::path(path).parent_path(), ignored);
        }
    }

    std::string file(const std::string& name, const Bytes& bytes) {
        written_.push_back(writeTempFile(name, bytes));
        return written_.back();
    }

    Bytes loaded() const { return Bytes(song.image().begin(), song.image().end()); }

    void expectUndefinedError() const {
        ASSERT_EQ(dialogs.boxes().size(), 1u);
        EXPECT_EQ(dialogs.boxes()[0].text, "Undefined error!");
        EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::Plain);
    }

    test::ScriptedDialogs dialogs;
    MidiSong song;
    Format0Merger merger{dialogs};
    SongLoader loader{song, merger, dialogs};
    TrackBuilder notes = TrackBuilder().noteOn(0, 0, 60, 100).running(96, 60, 0);

private:
    std::vector<std::string> written_;
};

TEST_F(SongLoading, Format0IsUsedExactlyAsRead) {
    const Bytes bytes = test::format0(96, notes);  // running status and no end of track stay
    ASSERT_TRUE(loader.loadSongFromPath(file("f0.mid", bytes)));
    EXPECT_EQ(loaded(), bytes);

    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SongLoading, Format1IsMerged) {
    const auto drums = TrackBuilder().noteOn(48, 9, 36, 100);
    ASSERT_TRUE(
        loader.loadSongFromPath(file("f1.mid", test::smf(1, 96, {notes.bytes(), drums.bytes()}))));
    EXPECT_EQ(loaded(), test::format0(96, TrackBuilder()
                                              .noteOn(0, 0, 60, 100)
                                              .noteOn(48, 9, 36, 100)
                                              .noteOn(48, 0, 60, 0)
                                              .endOfTrack()));
}

TEST_F(SongLoading, AFormat0FileOfSeveralTracksKeepsEveryOne) {
    // A chunk of another kind between the two tracks is passed over, as before a single track.
    Bytes file0 = test::smf(0, 96, {notes.bytes(), TrackBuilder().noteOn(48, 9, 36, 100).bytes()});
    file0.insert(file0.begin() + 14 + 8 + static_cast<std::ptrdiff_t>(notes.bytes().size()),
                 {'X', 'Y', 'Z', 'W', 0, 0, 0, 1, 0x55});
    ASSERT_TRUE(loader.loadSongFromPath(file("f0-two.mid", file0)));
    EXPECT_EQ(loaded(), (Bytes{'M',  'T',  'h', 'd', 0,    0,    0,  6, 0,    0,    0,    1,   0,
                               96,   'M',  'T', 'r', 'k',  0,    0,  0, 16,   0x00, 0x90, 60,  100,
                               0x30, 0x99, 36,  100, 0x30, 0x90, 60, 0, 0x00, 0xFF, 0x2F, 0x00}));
    EXPECT_TRUE(dialogs.boxes().empty());
}

TEST_F(SongLoading, RejectedHeaderFailsTheLoadAndEmptiesTheSong) {
    ASSERT_TRUE(loader.loadSongFromPath(file("good.mid", test::format0(96, notes))));
    EXPECT_FALSE(loader.loadSongFromPath(file("f2.mid", test::smf(2, 96, {notes.bytes()}))));
    EXPECT_EQ(dialogs.texts(), (std::vector{fileErrorText(100), fileErrorText(0)}));
    EXPECT_EQ(song.length, 0);
}

TEST_F(SongLoading, SizesAtTheBufferLimit) {
    // A text event fills the file up to the largest size a song may have.
    Bytes bytes = test::format0(96, TrackBuilder().meta(0, 0x01, Bytes(kSongBufferSize - 29, 't')));
    ASSERT_EQ(bytes.size(), kSongBufferSize - 1);
    ASSERT_TRUE(loader.loadSongFromPath(file("largest.mid", bytes)));
    EXPECT_EQ(song.length, static_cast<std::int32_t>(kSongBufferSize - 1));

    bytes.push_back(0);
    EXPECT_FALSE(loader.loadSongFromPath(file("full.mid", bytes)));
    expectUndefinedError();
    EXPECT_EQ(song.length, 0);
}

TEST_F(SongLoading, EmptyOrTooShortFormat0FileIsRefused) {
    for (const Bytes& bytes : {Bytes{}, Bytes(9, 'M'), Bytes(21, 0)}) {
        dialogs.clear();
        EXPECT_FALSE(loader.loadSongFromPath(file("short.mid", bytes))) << bytes.size();
        expectUndefinedError();
        EXPECT_EQ(song.length, 0);
    }
}

TEST_F(SongLoading, AFormat0FileIsCheckedAndBroughtIntoTheStandardLayout) {
    // Not MIDI at all, though its byte 9 is 0: a picture, zeros, a text; and no track.
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D, 'I', 'H', 'D', 'R'};
    png.resize(60, 0);
    Bytes text(40, 'z');
    text[9] = 0;
    Bytes noTrack = test::format0(96, notes);
    noTrack[11] = 0;  // the header says 0 tracks
    for (const Bytes& bad : {png, Bytes(100, 0), text, noTrack}) {
        dialogs.clear();
        EXPECT_FALSE(loader.loadSongFromPath(file("bad.mid", bad)));
        expectUndefinedError();
        EXPECT_EQ(song.length, 0);
    }

    // A header of 8 bytes, a chunk of another kind before the track, bytes after it: the song
    // is the track alone behind a header of 6.
    const Bytes unusual = {'M', 'T', 'h',  'd',  0,    0,    0,   8,   0,   0,  0,    1,
                           0,   96,  0xAB, 0xCD, 'X',  'Y',  'Z', 'W', 0,   0,  0,    2,
                           1,   2,   'M',  'T',  'r',  'k',  0,   0,   0,   8,  0x00, 0x90,
                           60,  100, 0x00, 0xFF, 0x2F, 0x00, 'j', 'u', 'n', 'k'};
    ASSERT_TRUE(loader.loadSongFromPath(file("unusual.mid", unusual)));
    EXPECT_EQ(loaded(),
              (Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6,    0,    0,  0,   1,    0,    96,   'M',
                     'T', 'r', 'k', 0,   0, 0, 8, 0x00, 0x90, 60, 100, 0x00, 0xFF, 0x2F, 0x00}));

    // A track length past the end of the file, 0xFFFFFFFF even, is cut where the file ends.
    Bytes endless = test::format0(96, TrackBuilder().noteOn(0, 0, 60, 100));
    writeBe32(endless, kTrackLengthOffset, 0xFFFFFFFF);
    ASSERT_TRUE(loader.loadSongFromPath(file("endless.mid", endless)));
    EXPECT_EQ(readBe32(loaded(), kTrackLengthOffset), 4u);
}

TEST_F(SongLoading, MissingFileIsReported) {
    ASSERT_TRUE(loader.loadSongFromPath(file("good.mid", test::format0(96, notes))));
    EXPECT_FALSE(loader.loadSongFromPath(
        (std::filesystem::temp_directory_path() / "pitchloom-no-such-folder" / "none.mid")
            .string()));
    expectUndefinedError();
    EXPECT_EQ(song.length, 0);
}

TEST_F(SongLoading, AFifoIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = test::makeTempDir("fifo-song") + "/song.mid";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto load = std::async(std::launch::async, [&] { return loader.loadSongFromPath(fifo); });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Release the blocked open so that the test can end.
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        ::close(writer);
        load.wait();
        FAIL() << "loading a FIFO waited for a writer";
    }
    EXPECT_FALSE(load.get());
    expectUndefinedError();
    EXPECT_EQ(song.length, 0);
}

TEST_F(SongLoading, DialogAsksForMidiFilesAndCancelDoesNothing) {
    EXPECT_FALSE(loader.loadSongByDialog());
    EXPECT_TRUE(dialogs.boxes().empty());
    ASSERT_EQ(dialogs.openCount(), 1);
    EXPECT_EQ(dialogs.openFilters()[0].pattern, "*.mid");
    EXPECT_EQ(dialogs.openFilters()[0].defaultExtension, "mid");

    const Bytes bytes = test::format0(96, notes);
    dialogs.willOpen(file("chosen.mid", bytes));
    EXPECT_TRUE(loader.loadSongByDialog());
    EXPECT_EQ(loaded(), bytes);
}

TEST(MidiExtension, OnlyTheLastFourCharactersCountInAnyCase) {
    for (const char* yes : {"song.mid", "/a/b/SONG.MID", "x.Mid", "x.mId", ".mid"}) {
        EXPECT_TRUE(hasMidiExtension(yes)) << yes;
    }
    for (const char* no : {"song.midi", "song.kar", "mid", "song.mid ", "song_mid", ""}) {
        EXPECT_FALSE(hasMidiExtension(no)) << no;
    }
}

}  // namespace
}  // namespace pitchloom

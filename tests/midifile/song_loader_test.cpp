#include "midifile/song_loader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "midifile/error_report.h"
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

    Bytes notMidi(40, 'z');
    notMidi[9] = 0;
    ASSERT_TRUE(loader.loadSongFromPath(file("text.mid", notMidi)));
    EXPECT_EQ(loaded(), notMidi);
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

TEST_F(SongLoading, RejectedHeaderFailsTheLoadAndEmptiesTheSong) {
    ASSERT_TRUE(loader.loadSongFromPath(file("good.mid", test::format0(96, notes))));
    EXPECT_FALSE(loader.loadSongFromPath(file("f2.mid", test::smf(2, 96, {notes.bytes()}))));
    EXPECT_EQ(dialogs.texts(), (std::vector{fileErrorText(100), fileErrorText(0)}));
    EXPECT_EQ(song.length, 0);
}

TEST_F(SongLoading, SizesAtTheBufferLimit) {
    Bytes bytes(kSongBufferSize - 1, 0);  // byte 9 is 0: taken as format 0
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

#include "convert/convert_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "midifile/file_io.h"
#include "playback/tuning_messages.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

const Bytes kGsReset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};

Bytes readBack(const std::string& path) {
    return readFileBytes(path, kSongBufferSize + 1).value_or(Bytes{});
}

Bytes gsEvent(const TuningState& tuning, int part) {
    Bytes out(kGsScaleTuningSize);
    buildGsScaleTuning(tuning, part, out.data());
    return out;
}

Bytes xgEvent(const TuningState& tuning, int part, int pitchClass) {
    Bytes out(kXgScaleTuningSize);
    buildXgScaleTuning(tuning, part, pitchClass, out.data());
    return out;
}

class ConvertTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(song.create());
        dir = test::makeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        output = dir + "/out.mid";
    }

    // Writes the source file and scripts the dialogs to open it and save to `output`.
    void source(const Bytes& file) {
        input = dir + "/in.mid";
        ASSERT_TRUE(writeFileAtomically(input, file));
        dialogs.willOpen(input);
        dialogs.willSave(output);
    }

    bool convert(DeviceType type, bool playing = false) {
        return convertSong(song, loader, tuning, type, dialogs, playing);
    }

    MidiSong song;
    TuningState tuning;
    test::ScriptedDialogs dialogs;
    Format0Merger merger{dialogs};
    SongLoader loader{song, merger, dialogs};
    std::string dir;
    std::string input;
    std::string output;
};

using Convert = ConvertTest;
using ConvertRefusal = ConvertTest;
using ConvertSave = ConvertTest;

const TrackBuilder kSong = TrackBuilder()
                               .sysex(0, kGsReset)
                               .programChange(0, 0, 5)
                               .noteOn(480, 0, 61, 100)
                               .noteOn(0, 9, 61, 100)
                               .noteOff(240, 0, 61)
                               .endOfTrack();

TEST_F(Convert, GmMovesNotesAndAddsNothing) {
    tuning.setScaleMarks({1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0});
    source(test::format0(480, kSong));
    ASSERT_TRUE(convert(DeviceType::GM));
    // clang-format off
    const Bytes golden = {
        'M', 'T', 'h', 'd', 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x01, 0xE0,
        'M', 'T', 'r', 'k', 0x00, 0x00, 0x00, 0x22,
        0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7,
        0x00, 0xC0, 0x05,
        0x83, 0x60, 0x90, 0x3E, 0x64,  // 61 moved up to D
        0x00, 0x99, 0x3D, 0x64,        // channel 10 untouched
        0x81, 0x70, 0x80, 0x3E, 0x40,  // the note-off moves with its note-on
        0x00, 0xFF, 0x2F, 0x00};
    // clang-format on
    EXPECT_EQ(readBack(output), golden);
    EXPECT_EQ(dialogs.texts(),
              std::vector<std::string>{"Information has been written to the file!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
}

TEST_F(Convert, GsPutsSixteenMessagesAfterTheResetBlock10Included) {
    tuning.selectTuningRow(1, 7);
    source(test::format0(480, kSong));
    ASSERT_TRUE(convert(DeviceType::GS));

    TrackBuilder expected;
    expected.sysex(0, kGsReset);
    for (int part = 15; part >= 0; --part)
        expected.raw(0, gsEvent(tuning, part));
    expected.programChange(0, 0, 5)
        .noteOn(480, 0, 61, 100)
        .noteOn(0, 9, 61, 100)
        .noteOff(240, 0, 61)
        .endOfTrack();
    const Bytes out = readBack(output);
    EXPECT_EQ(out, test::format0(480, expected));
    EXPECT_EQ(out.size(), test::format0(480, kSong).size() + 384);
    EXPECT_EQ(readBe32(out, kTrackLengthOffset), kSong.bytes().size() + 384);
    EXPECT_EQ(out[22 + 13 + 1 + 7], 0x10) << "the first inserted after the reset is part 15";
}

TEST_F(Convert, XgInsertsOneHundredNinetyTwoMessagesNewestFirst) {
    tuning.selectTuningRow(3, 8);  // Arabian in G
    const TrackBuilder plain = TrackBuilder().tempo(0, 500000).noteOn(96, 0, 60, 100).endOfTrack();
    source(test::format0(96, plain));
    ASSERT_TRUE(convert(DeviceType::XG));

    TrackBuilder expected;
    for (int part = 15; part >= 0; --part) {
        for (int pc = 11; pc >= 0; --pc)
            expected.raw(0, xgEvent(tuning, part, pc));
    }
    expected.tempo(0, 500000).noteOn(96, 0, 60, 100).endOfTrack();
    const Bytes out = readBack(output);
    EXPECT_EQ(out, test::format0(96, expected));
    EXPECT_EQ(out.size(), test::format0(96, plain).size() + 2112);
    EXPECT_EQ(readBe32(out, kTrackLengthOffset), plain.bytes().size() + 2112);
}

TEST_F(Convert, MergesAFormatOneSourceAndLeavesTheSourceAlone) {
    const Bytes file = test::smf(1, 480,
                                 {TrackBuilder().tempo(0, 500000).endOfTrack().bytes(),
                                  TrackBuilder().noteOn(480, 0, 60, 100).endOfTrack().bytes()});
    source(file);
    ASSERT_TRUE(convert(DeviceType::GS));
    EXPECT_EQ(readBack(input), file);
    const Bytes out = readBack(output);
    ASSERT_GE(out.size(), 22u);
    EXPECT_EQ(out[9], 0x00) << "format 0";
    EXPECT_EQ(out[11], 0x01) << "one track";
    EXPECT_EQ(readBe32(out, kTrackLengthOffset), out.size() - 22);
}

TEST_F(Convert, RhythmMarksOfAnEarlierSongDoNotCarryOver) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    tuning.rhythm.examineForRhythm(
        Bytes{0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});
    ASSERT_TRUE(tuning.rhythm.isRhythm(10));
    source(test::format0(96, TrackBuilder().noteOn(0, 10, 61, 100).endOfTrack()));
    ASSERT_TRUE(convert(DeviceType::GM));
    EXPECT_EQ(readBack(output),
              test::format0(96, TrackBuilder().noteOn(0, 10, 72, 100).endOfTrack()));
}

TEST_F(ConvertRefusal, WhilePlayingNothingIsAskedOrLoaded) {
    source(test::format0(96, kSong));
    EXPECT_FALSE(convert(DeviceType::GS, true));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Stop playing first!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(dialogs.openCount(), 0);
    EXPECT_EQ(song.length, 0);
}

TEST_F(ConvertRefusal, CancelledOpenDoesNothing) {
    dialogs.willOpen(std::nullopt);
    EXPECT_FALSE(convert(DeviceType::XG));
    EXPECT_TRUE(dialogs.texts().empty());
    EXPECT_EQ(dialogs.saveCount(), 0);
}

TEST_F(ConvertRefusal, ASongThatWouldOutgrowTheBufferIsLeftUnchanged) {
    // Fits with GS (384 bytes more) but not with XG (2112).
    const std::size_t textSize = kSongBufferSize - 384 - 22 - 6 - 4 - 4;  // header, meta, note, end
    const Bytes file = test::format0(
        96, TrackBuilder().meta(0, 0x01, Bytes(textSize, 'x')).noteOn(0, 0, 61, 1).endOfTrack());
    ASSERT_EQ(file.size(), kSongBufferSize - 384);
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    tuning.rhythm.examineForRhythm(
        Bytes{0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});
    source(file);
    EXPECT_FALSE(convert(DeviceType::XG));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"The converted song is too large!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(dialogs.saveCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_EQ(Bytes(song.image().begin(), song.image().end()), file);
    EXPECT_TRUE(tuning.rhythm.isRhythm(10)) << "nothing changed, the rhythm marks neither";

    dialogs.clear();
    dialogs.willOpen(input);
    dialogs.willSave(output);
    EXPECT_TRUE(convert(DeviceType::GS));
    EXPECT_EQ(readBack(output).size(), kSongBufferSize);
}

TEST_F(ConvertSave, AsksWithTheMidiFilterAndCancelWritesNothing) {
    input = dir + "/in.mid";
    ASSERT_TRUE(writeFileAtomically(input, test::format0(96, kSong)));
    dialogs.willOpen(input);
    dialogs.willSave(std::nullopt);
    EXPECT_FALSE(convert(DeviceType::GS));
    ASSERT_EQ(dialogs.saveFilters().size(), 1u);
    EXPECT_EQ(dialogs.saveFilters()[0].description, "midi files");
    EXPECT_EQ(dialogs.saveFilters()[0].pattern, "*.mid");
    EXPECT_EQ(dialogs.saveFilters()[0].defaultExtension, "mid");
    EXPECT_TRUE(dialogs.texts().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ConvertSave, ReplacesAnExistingFileWithoutAsking) {
    ASSERT_TRUE(writeFileAtomically(output, Bytes(5000, 0xAA)));
    source(test::format0(96, kSong));
    ASSERT_TRUE(convert(DeviceType::GM));
    EXPECT_EQ(readBack(output), Bytes(song.image().begin(), song.image().end()));
}

TEST_F(ConvertSave, UnwritableTargetSaysSoAndLeavesNothingBehind) {
    // A folder standing in the target's place cannot be replaced by a file.
    output = dir + "/taken.mid";
    std::filesystem::create_directory(output);
    source(test::format0(96, kSong));
    EXPECT_FALSE(convert(DeviceType::GS));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Can not open file!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_TRUE(std::filesystem::is_directory(output));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);

    dialogs.clear();
    output = dir + "/missing/out.mid";
    source(test::format0(96, kSong));
    EXPECT_FALSE(convert(DeviceType::GS));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Can not open file!"});
}

}  // namespace
}  // namespace pitchloom

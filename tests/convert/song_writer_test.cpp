#include "convert/song_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

constexpr int kDivision = 480;

// A short exclusive that tells the insertions apart in the output.
Bytes marker(int n) {
    return {0xF0, 0x03, 0x7D, static_cast<std::uint8_t>(n), 0xF7};
}

const Bytes kGsReset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};

class SongWriterTest : public testing::Test {
  protected:
    void load(const TrackBuilder& track) { load(test::format0(kDivision, track)); }
    void load(const Bytes& image) {
        ASSERT_TRUE(song.create());
        std::copy(image.begin(), image.end(), song.data.begin());
        song.length = static_cast<std::int32_t>(image.size());
    }
    Bytes image() const { return {song.image().begin(), song.image().end()}; }

    // Inserts the markers 0, 1, ... n-1 at the tuning time, as Convert inserts its messages.
    void insertMarkers(int n) {
        const auto time = writer.findTuningTime();
        for (int i = 0; i < n; ++i)
            ASSERT_TRUE(writer.insertEvent(time, marker(i)));
    }

    MidiSong song;
    TuningState tuning;
    test::ScriptedDialogs dialogs;
    SongWriter writer{song, tuning, dialogs};
};

using FindTuningTime = SongWriterTest;
using InsertEvent = SongWriterTest;
using ResetBeforeFirstNote = SongWriterTest;
using ApplyScale = SongWriterTest;
using DamagedSong = SongWriterTest;

TEST_F(FindTuningTime, IsZeroWhenTheNoteOnComesFirst) {
    load(TrackBuilder().noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack());
    EXPECT_EQ(writer.findTuningTime(), 0u);
}

TEST_F(FindTuningTime, IsTheTimeOfTheEventBeforeTheFirstNoteOn) {
    load(TrackBuilder()
             .tempo(0, 500000)
             .programChange(120, 0, 5)
             .controlChange(120, 0, 7, 100)
             .noteOn(240, 0, 60, 100)
             .endOfTrack());
    EXPECT_EQ(writer.findTuningTime(), 240u);
}

TEST_F(FindTuningTime, CountsRunningStatusEventsAndAVelocityZeroNoteOn) {
    load(TrackBuilder()
             .controlChange(100, 0, 7, 100)
             .running(140, 10, 64)
             .noteOn(240, 1, 60, 0)
             .noteOn(10, 1, 62, 100)
             .endOfTrack());
    EXPECT_EQ(writer.findTuningTime(), 240u);
}

TEST_F(FindTuningTime, LongDeltaTimesAddUp) {
    load(TrackBuilder().tempo(0x0FFFFFFF, 500000).tempo(0x0FFFFFFF, 500000).noteOn(1, 0, 60, 1));
    EXPECT_EQ(writer.findTuningTime(), 2u * 0x0FFFFFFF);
}

TEST_F(InsertEvent, NoteOnFirstPutsTheMessagesAtTheStartNewestFirst) {
    load(TrackBuilder().noteOn(0, 0, 60, 100).endOfTrack(480));
    insertMarkers(3);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .raw(0, marker(2))
                                                    .raw(0, marker(1))
                                                    .raw(0, marker(0))
                                                    .noteOn(0, 0, 60, 100)
                                                    .endOfTrack(480)));
}

TEST_F(InsertEvent, EventsAtTimeZeroDoNotMoveTheInsertionPoint) {
    load(TrackBuilder().tempo(0, 500000).programChange(0, 0, 5).noteOn(480, 0, 60, 100));
    insertMarkers(2);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .raw(0, marker(1))
                                                    .raw(0, marker(0))
                                                    .tempo(0, 500000)
                                                    .programChange(0, 0, 5)
                                                    .noteOn(480, 0, 60, 100)));
}

TEST_F(InsertEvent, NothingBetweenZeroAndTheTuningTimeMeansTheStart) {
    load(TrackBuilder().tempo(0, 500000).controlChange(240, 0, 7, 100).noteOn(240, 0, 60, 100));
    insertMarkers(2);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .raw(0, marker(1))
                                                    .raw(0, marker(0))
                                                    .tempo(0, 500000)
                                                    .controlChange(240, 0, 7, 100)
                                                    .noteOn(240, 0, 60, 100)));
}

TEST_F(InsertEvent, AfterAnEventBeforeTheTuningTimeTheyStandInTheOrderInserted) {
    load(TrackBuilder()
             .tempo(0, 500000)
             .programChange(120, 0, 5)
             .controlChange(120, 0, 7, 100)
             .noteOn(240, 0, 60, 100));
    insertMarkers(3);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .tempo(0, 500000)
                                                    .programChange(120, 0, 5)
                                                    .raw(0, marker(0))
                                                    .raw(0, marker(1))
                                                    .raw(0, marker(2))
                                                    .controlChange(120, 0, 7, 100)
                                                    .noteOn(240, 0, 60, 100)));
}

TEST_F(InsertEvent, ASongWithoutNoteOnGetsTheMessagesAtTheStart) {
    load(TrackBuilder().tempo(0, 500000).programChange(120, 0, 5).endOfTrack(100));
    insertMarkers(2);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .raw(0, marker(1))
                                                    .raw(0, marker(0))
                                                    .tempo(0, 500000)
                                                    .programChange(120, 0, 5)
                                                    .endOfTrack(100)));
}

TEST_F(InsertEvent, GrowsTheLengthAndTheTrackLengthByEachEvent) {
    load(TrackBuilder().noteOn(0, 0, 60, 100).endOfTrack(480));
    const auto before = song.length;
    insertMarkers(4);
    EXPECT_EQ(song.length, before + 4 * 6);
    EXPECT_EQ(readBe32(song.data, kTrackLengthOffset),
              static_cast<std::uint32_t>(song.length) - 22);
}

TEST_F(InsertEvent, RefusesAnEventThatWouldNotFitAndChangesNothing) {
    Bytes big = test::format0(kDivision, TrackBuilder()
                                             .noteOn(0, 0, 60, 100)
                                             .meta(0, 0x01, Bytes(kSongBufferSize - 50, 'x'))
                                             .endOfTrack());
    load(big);
    const auto free = static_cast<std::size_t>(kSongBufferSize) - big.size();
    const Bytes fits(free - 1, 0x00);  // with its delta time it fills the buffer exactly
    const Bytes tooLong(free, 0x00);
    EXPECT_FALSE(writer.insertEvent(0, tooLong));
    EXPECT_EQ(image(), big);
    EXPECT_TRUE(writer.insertEvent(0, fits));
    EXPECT_EQ(static_cast<std::size_t>(song.length), kSongBufferSize);
}

TEST_F(ResetBeforeFirstNote, AResetAtTimeZeroStaysInFrontOfTheTuning) {
    load(TrackBuilder()
             .sysex(0, kGsReset)
             .programChange(0, 0, 5)
             .programChange(0, 1, 6)
             .noteOn(480, 0, 60, 100)
             .endOfTrack());
    insertMarkers(2);
    // clang-format off
    const Bytes golden = {
        'M', 'T', 'h', 'd', 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x01, 0xE0,
        'M', 'T', 'r', 'k', 0x00, 0x00, 0x00, 0x28,  // 0x1C and two inserted events of 6
        0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7,  // reset
        0x00, 0xF0, 0x03, 0x7D, 0x01, 0xF7,  // newest first, right after the reset
        0x00, 0xF0, 0x03, 0x7D, 0x00, 0xF7,
        0x00, 0xC0, 0x05,
        0x00, 0xC1, 0x06,
        0x83, 0x60, 0x90, 0x3C, 0x64,  // note-on at 480
        0x00, 0xFF, 0x2F, 0x00};
    // clang-format on
    EXPECT_EQ(image(), golden);
}

TEST_F(ResetBeforeFirstNote, AResetAtTheTuningTimeStaysInFrontOfTheTuning) {
    load(TrackBuilder()
             .tempo(0, 500000)
             .controlChange(120, 0, 7, 100)
             .sysex(120, kGsReset)
             .noteOn(240, 0, 60, 100));
    insertMarkers(2);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .tempo(0, 500000)
                                                    .controlChange(120, 0, 7, 100)
                                                    .sysex(120, kGsReset)
                                                    .raw(0, marker(1))
                                                    .raw(0, marker(0))
                                                    .noteOn(240, 0, 60, 100)));
}

TEST_F(ResetBeforeFirstNote, ALaterEventBeforeTheTuningTimeStillLeadsTheWay) {
    load(TrackBuilder()
             .sysex(0, kGsReset)
             .programChange(120, 0, 5)
             .controlChange(120, 0, 7, 100)
             .noteOn(240, 0, 60, 100));
    insertMarkers(2);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .sysex(0, kGsReset)
                                                    .programChange(120, 0, 5)
                                                    .raw(0, marker(0))
                                                    .raw(0, marker(1))
                                                    .controlChange(120, 0, 7, 100)
                                                    .noteOn(240, 0, 60, 100)));
}

TEST_F(ResetBeforeFirstNote, EveryResetKindCountsWithAnyDeviceNumber) {
    const std::vector<Bytes> resets = {
        {0x41, 0x7F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},  // GS reset, broadcast
        {0x41, 0x11, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7},  // GS system mode set
        {0x43, 0x13, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7},              // XG System On
        {0x7E, 0x7F, 0x09, 0x01, 0xF7},                                // GM System On
        {0x7E, 0x05, 0x09, 0x03, 0xF7},                                // GM2 System On
    };
    for (const Bytes& reset : resets) {
        MidiSong fresh;
        song = std::move(fresh);
        load(TrackBuilder().programChange(0, 0, 5).sysex(0, reset).noteOn(480, 0, 60, 100));
        insertMarkers(1);
        EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                        .programChange(0, 0, 5)
                                                        .sysex(0, reset)
                                                        .raw(0, marker(0))
                                                        .noteOn(480, 0, 60, 100)))
            << "reset starting " << std::hex << int(reset[0]) << " " << int(reset[2]);
    }
}

TEST_F(ResetBeforeFirstNote, OtherExclusivesAndLaterResetsKeepThePlainPositions) {
    const Bytes rhythmPart = {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7};
    const Bytes gmOnOtherModel = {0x7E, 0x7F, 0x08, 0x01, 0xF7};
    load(TrackBuilder()
             .sysex(0, rhythmPart)
             .sysex(0, gmOnOtherModel)
             .noteOn(480, 0, 60, 100)
             .sysex(0, kGsReset));
    insertMarkers(1);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .raw(0, marker(0))
                                                    .sysex(0, rhythmPart)
                                                    .sysex(0, gmOnOtherModel)
                                                    .noteOn(480, 0, 60, 100)
                                                    .sysex(0, kGsReset)));
}

TEST_F(ResetBeforeFirstNote, TheLastOfSeveralResetsLeads) {
    const Bytes xgOn = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    load(TrackBuilder().sysex(0, kGsReset).sysex(0, xgOn).noteOn(0, 0, 60, 100));
    insertMarkers(1);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .sysex(0, kGsReset)
                                                    .sysex(0, xgOn)
                                                    .raw(0, marker(0))
                                                    .noteOn(0, 0, 60, 100)));
}

TEST_F(ApplyScale, NotesOutsideTheScaleMoveUpToTheNextMember) {
    tuning.setScaleMarks({1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0});  // C D E G A
    load(TrackBuilder()
             .noteOn(0, 0, 61, 100)
             .noteOn(0, 0, 66, 90)
             .running(0, 70, 80)
             .noteOff(10, 0, 61, 61)
             .running(0, 66, 66)
             .noteOn(0, 2, 60, 70)
             .running(0, 70, 0)
             .endOfTrack());
    writer.applyScaleToNotes();
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .noteOn(0, 0, 62, 100)
                                                    .noteOn(0, 0, 67, 90)
                                                    .running(0, 72, 80)
                                                    .noteOff(10, 0, 62, 61)
                                                    .running(0, 67, 66)
                                                    .noteOn(0, 2, 60, 70)
                                                    .running(0, 72, 0)
                                                    .endOfTrack()));
}

TEST_F(ApplyScale, OtherChannelEventsKeepTheirDataBytes) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const TrackBuilder other = TrackBuilder()
                                   .raw(0, {0xA0, 61, 61})
                                   .controlChange(0, 1, 61, 61)
                                   .running(0, 62, 62)
                                   .programChange(0, 2, 61)
                                   .raw(0, {0xD3, 61})
                                   .raw(0, {0xE4, 61, 61})
                                   .meta(0, 0x01, {61, 61})
                                   .endOfTrack();
    load(other);
    writer.applyScaleToNotes();
    EXPECT_EQ(image(), test::format0(kDivision, other));
}

TEST_F(ApplyScale, ChannelTenIsNeverMoved) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    tuning.rhythm.resetRhythmChannels();
    load(TrackBuilder().noteOn(0, 9, 37, 100).noteOff(0, 9, 37).noteOn(0, 8, 37, 100));
    writer.applyScaleToNotes();
    EXPECT_EQ(image(),
              test::format0(
                  kDivision,
                  TrackBuilder().noteOn(0, 9, 37, 100).noteOff(0, 9, 37).noteOn(0, 8, 48, 100)));
}

TEST_F(ApplyScale, ARhythmPartMessageFreesItsChannelOnlyAfterIt) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    tuning.rhythm.resetRhythmChannels();
    // GS "use for rhythm part" for block 0x1A: the eleventh channel (index 10).
    const Bytes rhythmPart = {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7};
    load(TrackBuilder()
             .noteOn(0, 10, 37, 100)
             .sysex(0, rhythmPart)
             .noteOn(0, 10, 37, 100)
             .noteOn(0, 11, 37, 100));
    writer.applyScaleToNotes();
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .noteOn(0, 10, 48, 100)
                                                    .sysex(0, rhythmPart)
                                                    .noteOn(0, 10, 37, 100)
                                                    .noteOn(0, 11, 48, 100)));
}

TEST_F(DamagedSong, UnknownMetaIsReportedOnceAndSkippedByItsLengthByte) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    load(TrackBuilder()
             .programChange(100, 0, 5)
             .meta(20, 0x09, {0x90, 0x3D, 0x40})  // looks like a note-on inside
             .noteOn(30, 0, 61, 100)
             .endOfTrack());
    EXPECT_EQ(writer.findTuningTime(), 120u);
    ASSERT_TRUE(writer.insertEvent(120, marker(0)));
    writer.applyScaleToNotes();
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"Event Error!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(image(), test::format0(kDivision, TrackBuilder()
                                                    .programChange(100, 0, 5)
                                                    .raw(0, marker(0))
                                                    .meta(20, 0x09, {0x90, 0x3D, 0x40})
                                                    .noteOn(30, 0, 72, 100)
                                                    .endOfTrack()));
}

TEST_F(DamagedSong, FirstEventUnderRunningStatusIsLeftAsData) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    const TrackBuilder track = TrackBuilder().running(0, 61, 100).noteOn(0, 0, 61, 100);
    load(track);
    EXPECT_EQ(writer.findTuningTime(), 0u);
    ASSERT_TRUE(writer.insertEvent(0, marker(0)));
    writer.applyScaleToNotes();
    EXPECT_EQ(
        image(),
        test::format0(kDivision,
                      TrackBuilder().raw(0, marker(0)).running(0, 61, 100).noteOn(0, 0, 61, 100)));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(DamagedSong, AnImageCutInsideAnEventIsWalkedOnlyUpToIt) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    Bytes image0 =
        test::format0(kDivision, TrackBuilder().noteOn(0, 0, 61, 100).raw(0, {0xF0, 0x41}));
    // The buffer beyond the image holds an F7 that a careless walk would reach.
    load(image0);
    song.data[image0.size() + 2] = 0xF7;
    ASSERT_TRUE(writer.insertEvent(writer.findTuningTime(), marker(0)));
    writer.applyScaleToNotes();
    EXPECT_EQ(
        image(),
        test::format0(kDivision,
                      TrackBuilder().raw(0, marker(0)).noteOn(0, 0, 72, 100).raw(0, {0xF0, 0x41})));
}

}  // namespace
}  // namespace pitchloom

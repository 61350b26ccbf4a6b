#include "midifile/format0_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "base/messages.h"
#include "midifile/event_reader.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::format0;
using test::smf;
using test::TrackBuilder;

constexpr int kDivision = 480;

class MergeTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(song.create()); }

    // Puts the file into the song buffer as a load would and merges it. The buffer behind the
    // file holds bytes that change the result if the merge ever reads them: F7s and note ons.
    std::optional<Bytes> merge(const Bytes& file) {
        static constexpr std::uint8_t stale[] = {0xF7, 0x00, 0x90, 0x3C, 0x64};
        for (std::size_t i = 0; i < song.data.size(); ++i)
            song.data[i] = stale[i % 5];
        std::copy(file.begin(), file.end(), song.data.begin());
        const auto length = merger.mergeToFormat0(song, static_cast<std::int32_t>(file.size()));
        if (!length) return std::nullopt;
        return Bytes(song.data.begin(), song.data.begin() + *length);
    }

    // The song a merge should give for these events (end of track appended).
    static Bytes song0(TrackBuilder events, int division = kDivision) {
        return format0(division, events.endOfTrack());
    }

    static Bytes format1(const std::vector<TrackBuilder>& tracks) {
        std::vector<Bytes> bytes;
        for (const auto& t : tracks)
            bytes.push_back(t.bytes());
        return smf(1, kDivision, bytes);
    }

    std::vector<std::string> codes(std::initializer_list<int> list) {
        std::vector<std::string> out;
        for (int c : list)
            out.push_back(fileErrorText(c));
        return out;
    }

    test::ScriptedDialogs dialogs;
    Format0Merger merger{dialogs};
    MidiSong song;
};

class MergeOrder : public MergeTest {};
class MergeLongRest : public MergeTest {};
class MergeRunningStatus : public MergeTest {};
class MergeEventSizes : public MergeTest {};
class MergeHeader : public MergeTest {};
class MergeMalformed : public MergeTest {};

TEST_F(MergeOrder, EqualTimesGiveOneEventPerTrackPerPassLowestTrackFirst) {
    auto a = TrackBuilder().noteOn(0, 0, 60, 1).noteOn(0, 0, 61, 1).noteOn(10, 0, 62, 1);
    auto b = TrackBuilder().noteOn(0, 1, 70, 1).noteOn(5, 1, 71, 1);
    const auto merged = merge(format1({a.endOfTrack(), b.endOfTrack()}));
    ASSERT_TRUE(merged);
    EXPECT_EQ(*merged, song0(TrackBuilder()
                                 .noteOn(0, 0, 60, 1)     // A1
                                 .noteOn(0, 1, 70, 1)     // B1
                                 .noteOn(0, 0, 61, 1)     // A2
                                 .noteOn(5, 1, 71, 1)     // B2 at 5
                                 .noteOn(5, 0, 62, 1)));  // A3 at 10
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeOrder, EmptyTracksAndZeroLengthChunksContributeNothing) {
    const auto notes = TrackBuilder().noteOn(3, 0, 60, 1).noteOff(7, 0, 60);
    const Bytes file = smf(1, kDivision, {TrackBuilder().endOfTrack().bytes(), {}, notes.bytes()});
    EXPECT_EQ(merge(file), song0(notes));
}

TEST_F(MergeOrder, SilenceBeforeEndOfTrackIsLost) {
    const auto merged = merge(format1({TrackBuilder().noteOn(0, 0, 60, 1).endOfTrack(5000)}));
    EXPECT_EQ(merged, song0(TrackBuilder().noteOn(0, 0, 60, 1)));
}

TEST_F(MergeLongRest, GapsUpToTheFullPassAndBeyondKeepTheirLength) {
    for (std::uint32_t gap : {30000u, 30001u, 70000u}) {
        const auto a = TrackBuilder().noteOn(0, 0, 60, 1).noteOn(gap, 0, 62, 1);
        const auto merged = merge(format1({a}));
        ASSERT_TRUE(merged) << gap;
        EXPECT_EQ(*merged, song0(a)) << gap;
    }
    // The written bytes themselves: 30001 is 81 EA 31.
    const auto merged = merge(format1({TrackBuilder().noteOn(30001, 0, 60, 1)}));
    ASSERT_TRUE(merged);
    EXPECT_EQ(Bytes(merged->begin() + 22, merged->begin() + 25), (Bytes{0x81, 0xEA, 0x31}));
}

TEST_F(MergeLongRest, TrackEnteringAfterLongRestKeepsItsMusic) {
    // 16 bars of 4/4 at 960 ticks a quarter before the second track begins.
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1).noteOn(40000, 0, 61, 1);
    const auto b = TrackBuilder().noteOn(61440, 1, 70, 1).noteOn(0, 1, 71, 1);
    EXPECT_EQ(merge(format1({a, b})), song0(TrackBuilder()
                                                .noteOn(0, 0, 60, 1)
                                                .noteOn(40000, 0, 61, 1)
                                                .noteOn(21440, 1, 70, 1)
                                                .noteOn(0, 1, 71, 1)));
}

TEST_F(MergeLongRest, RestBeyondFourByteQuantityIsShortenedToTheLongest) {
    const auto a = TrackBuilder().noteOn(0xFFFFFFFF, 0, 60, 1).noteOn(7, 0, 61, 1);
    EXPECT_EQ(merge(format1({a})),
              song0(TrackBuilder().noteOn(0x0FFFFFFF, 0, 60, 1).noteOn(7, 0, 61, 1)));
}

TEST_F(MergeRunningStatus, EveryEventIsWrittenWithItsStatus) {
    const auto a = TrackBuilder()
                       .noteOn(0, 2, 60, 100)
                       .running(10, 62, 100)
                       .programChange(5, 3, 7)
                       .running1(5, 8)
                       .raw(1, {0xF8});  // a system real-time byte is taken as data
    EXPECT_EQ(merge(format1({a})), song0(TrackBuilder()
                                             .noteOn(0, 2, 60, 100)
                                             .noteOn(10, 2, 62, 100)
                                             .programChange(5, 3, 7)
                                             .programChange(5, 3, 8)
                                             .raw(1, {0xC3, 0xF8})));
}

TEST_F(MergeRunningStatus, StatusCarriesIntoTheNextTrackAndTheNextFile) {
    // No end of track, so the note's status is the last one met.
    const auto a = TrackBuilder().noteOn(0, 4, 60, 1);
    const auto b = TrackBuilder().running(1, 61, 2);
    EXPECT_EQ(merge(format1({a, b})),
              song0(TrackBuilder().noteOn(0, 4, 60, 1).noteOn(1, 4, 61, 2)));
    EXPECT_EQ(merge(format1({b})), song0(TrackBuilder().noteOn(1, 4, 61, 2)));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeRunningStatus, DataByteWithoutStatusIsReadAgainAsDeltaTime) {
    ASSERT_EQ(merger.runningStatus(), 0);
    const auto merged = merge(format1({TrackBuilder().raw(0, {0x40, 0x90, 0x3C, 0x64})}));
    EXPECT_EQ(merged, song0(TrackBuilder().noteOn(0x40, 0, 0x3C, 0x64)));
    EXPECT_EQ(dialogs.texts(), codes({104}));
}

TEST_F(MergeRunningStatus, DataAfterAMetaOrSysExRunsOnTheChannelStatusBefore) {
    const auto a = TrackBuilder()
                       .noteOn(0, 0, 60, 1)
                       .tempo(0, 500000)
                       .running(0, 61, 1)
                       .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                       .running(7, 62, 1);
    EXPECT_EQ(merge(format1({a})), song0(TrackBuilder()
                                             .noteOn(0, 0, 60, 1)
                                             .tempo(0, 500000)
                                             .noteOn(0, 0, 61, 1)
                                             .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})
                                             .noteOn(7, 0, 62, 1)));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeEventSizes, EveryKindOfEventPassesThroughWhole) {
    const Bytes longText(200, 'x');  // its length takes two bytes
    const auto a = TrackBuilder()
                       .raw(0, {0xFF, 0x00, 0x02, 0x00, 0x07})  // sequence number
                       .raw(0, {0xFF, 0x20, 0x01, 0x03})        // channel prefix
                       .meta(0, 0x03, longText)
                       .meta(0, 0x01, {})
                       .meta(0, 0x21, {0x01})
                       .meta(0, 0x7F, {0x43, 0x7B, 0x00})
                       .tempo(0, 600000)
                       .raw(0, {0xFF, 0x54, 0x05, 0x60, 0x00, 0x00, 0x00, 0x00})
                       .raw(0, {0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08})
                       .raw(0, {0xFF, 0x59, 0x02, 0xFD, 0x00})
                       .raw(0, {0xFF, 0xF0, 0x01, 0x55})  // undefined but silent
                       .controlChange(0, 0, 7, 100)
                       .raw(0, {0xD0, 0x40})    // channel pressure
                       .raw(0, {0xA0, 60, 9})   // key pressure
                       .raw(0, {0xE0, 0, 64});  // pitch bend
    EXPECT_EQ(merge(format1({a})), song0(a));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeEventSizes, UndefinedMetaIsReportedAndKept) {
    // FF 08 and FF 09 (program and device name) are known; FF 60 is not.
    const auto a = TrackBuilder()
                       .meta(0, 0x08, Bytes(130, 'p'))
                       .meta(0, 0x09, {'p', 'o', 'r', 't'})
                       .meta(0, 0x60, Bytes(140, 'u'))
                       .noteOn(0, 0, 60, 1);
    EXPECT_EQ(merge(format1({a})), song0(a));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"GENE00000067 General Error"});
}

TEST_F(MergeEventSizes, AMessageSplitIntoPacketsStaysWholeAndTogether) {
    // XG System On sent as an F0 packet without F7 and an F7 packet after it.
    const auto a = TrackBuilder()
                       .raw(0, {0xF0, 0x03, 0x43, 0x10, 0x4C})
                       .raw(0, {0xF7, 0x05, 0x00, 0x00, 0x7E, 0x00, 0xF7})
                       .noteOn(0, 0, 60, 100);
    const auto b = TrackBuilder().noteOn(0, 1, 62, 100);
    EXPECT_EQ(merge(format1({a, b})),
              (
                  Bytes{'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    0,
                        0,    1,    0x01, 0xE0, 'M',  'T',  'r',  'k',  0,    0,
                        0,    26,   0x00, 0xF0, 0x03, 0x43, 0x10, 0x4C, 0x00, 0xF7,
                        0x05, 0x00, 0x00, 0x7E, 0x00, 0xF7,  // the packets, one after the other
                        0x00, 0x91, 62,   100,  0x00, 0x90, 60,   100,  0x00, 0xFF,
                        0x2F, 0x00}));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeEventSizes, AFirstPacketWhoseNextComesLaterKeepsItsMeaning) {
    // XG System On in two packets five ticks apart, another track's note between them; that
    // track's escape waits for the last packet, or a walk would take it for the continuation.
    const auto a = TrackBuilder()
                       .raw(0, {0xF0, 0x03, 0x43, 0x10, 0x4C})
                       .raw(5, {0xF7, 0x05, 0x00, 0x00, 0x7E, 0x00, 0xF7})
                       .noteOn(0, 0, 60, 100);
    const auto b = TrackBuilder().noteOn(2, 1, 62, 100).raw(1, {0xF7, 0x01, 0x7F});
    const Bytes merged = merge(format1({a, b})).value_or(Bytes{});
    EXPECT_EQ(merged,
              (Bytes{'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    0,    0,    1,
                     0x01, 0xE0, 'M',  'T',  'r',  'k',  0,    0,    0,    30,   0x00, 0xF0,
                     0x03, 0x43, 0x10, 0x4C,  // no F7 added
                     0x02, 0x91, 62,   100,  0x03, 0xF7, 0x05, 0x00, 0x00, 0x7E, 0x00, 0xF7,
                     0x00, 0xF7, 0x01, 0x7F, 0x00, 0x90, 60,   100,  0x00, 0xFF, 0x2F, 0x00}));
    // A later walk of the merged song reads the packets as the merge did.
    EventReader reader(merged, kFirstEventOffset);
    EXPECT_TRUE(reader.next()->unfinishedSysEx);
    EXPECT_TRUE(reader.next()->isNoteOn());
    const auto last = reader.next();
    ASSERT_TRUE(last && last->isEscape());
    EXPECT_EQ(last->delta, 3u);
    EXPECT_TRUE(reader.next()->isEscape());
    EXPECT_TRUE(reader.next()->isNoteOn());
}

TEST_F(MergeEventSizes, SysexRunsThroughItsF7WhateverItsLengthNumberSays) {
    const auto a = TrackBuilder()
                       .sysex(0, {0x41, 0x10, 0x42, 0x12, 0xF7})
                       .raw(0, {0xF0, 0x01, 0x7E, 0x7F, 0x09, 0xF7})  // length number too small
                       .noteOn(0, 0, 60, 1);
    // Written with its true length, so that every later walk ends it where this one did.
    const auto written = TrackBuilder()
                             .sysex(0, {0x41, 0x10, 0x42, 0x12, 0xF7})
                             .raw(0, {0xF0, 0x04, 0x7E, 0x7F, 0x09, 0xF7})
                             .noteOn(0, 0, 60, 1);
    EXPECT_EQ(merge(format1({a})), song0(written));
}

TEST_F(MergeEventSizes, EscapeTakesItsLengthBytePlusTwo) {
    const auto a = TrackBuilder().raw(0, {0xF7, 0x03, 0x90, 0x3C, 0x64}).noteOn(0, 0, 60, 1);
    EXPECT_EQ(merge(format1({a})), song0(a));
}

TEST_F(MergeHeader, DivisionIsCopied) {
    for (int division : {96, 480, 0x7FFF}) {
        const auto a = TrackBuilder().noteOn(0, 0, 60, 1);
        EXPECT_EQ(merge(smf(1, division, {a.bytes()})), song0(a, division)) << division;
    }
}

TEST_F(MergeHeader, RejectedHeaderShowsItsCodeThenZeroAndLeavesTheSong) {
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1);
    struct Case {
        int format;
        int division;
        std::vector<std::string> boxes;
    };
    for (const Case& c : {Case{1, 0xE728, codes({101, 0})}, Case{2, 480, codes({100, 0})},
                          Case{0, 480, codes({100, 0})}, Case{2, 0x8000, codes({100, 101, 0})}}) {
        dialogs.clear();
        const Bytes file = smf(c.format, c.division, {a.bytes()});
        EXPECT_FALSE(merge(file));
        EXPECT_EQ(dialogs.texts(), c.boxes) << c.format << " " << c.division;
        EXPECT_TRUE(std::equal(file.begin(), file.end(), song.data.begin()));
    }
}

TEST_F(MergeHeader, HeaderCutBeforeItsDivisionIsRejected) {
    EXPECT_FALSE(merge({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 1, 0x01}));
    EXPECT_EQ(dialogs.texts(), codes({101, 0}));
}

TEST_F(MergeHeader, ChunksAreTracksWhateverTheirTag) {
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1);
    const auto b = TrackBuilder().noteOn(1, 1, 61, 1);
    Bytes file = format1({a, b});
    const std::size_t secondTag = 14 + 8 + a.bytes().size();
    std::copy_n("XFIH", 4, file.begin() + static_cast<std::ptrdiff_t>(secondTag));
    EXPECT_EQ(merge(file), song0(TrackBuilder().noteOn(0, 0, 60, 1).noteOn(1, 1, 61, 1)));
}

TEST_F(MergeHeader, WalkStopsWhereTheDataEndsWhateverTheTrackCount) {
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1);
    Bytes file = format1({a});
    file[11] = 200;
    EXPECT_EQ(merge(file), song0(a));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeMalformed, ChunkRunningPastTheDataKeepsTheEventsThatFit) {
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1).noteOn(10, 0, 62, 1);
    Bytes file = format1({a});
    file.pop_back();  // the last note loses its velocity
    EXPECT_EQ(merge(file), song0(TrackBuilder().noteOn(0, 0, 60, 1)));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(MergeMalformed, ChunkLengthBeyondAnyPositionIsReportedAndCut) {
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1);
    Bytes file = format1({a});
    std::fill_n(file.begin() + 18, 4, 0xFF);
    EXPECT_EQ(merge(file), song0(a));
    EXPECT_EQ(dialogs.texts(), codes({102}));
}

TEST_F(MergeMalformed, CutDeltaOrMetaLengthEndsOnlyItsTrack) {
    const auto keep = TrackBuilder().noteOn(0, 0, 60, 1);
    const auto other = TrackBuilder().noteOn(2, 1, 61, 1);
    const auto expected = song0(TrackBuilder().noteOn(0, 0, 60, 1).noteOn(2, 1, 61, 1));
    for (const Bytes& tail : {Bytes{0x81}, Bytes{0x00, 0xFF, 0x03, 0x81}, Bytes{0x00, 0xFF},
                              Bytes{0x00, 0xFF, 0x00}, Bytes{0x00, 0xF7}, Bytes{0x00, 0xC0}}) {
        Bytes track = keep.bytes();
        track.insert(track.end(), tail.begin(), tail.end());
        EXPECT_EQ(merge(smf(1, kDivision, {track, other.bytes()})), expected);
    }
}

TEST_F(MergeMalformed, SysexWithoutF7EndsItsTrackAtTheTrackEnd) {
    const auto a = TrackBuilder().noteOn(0, 0, 60, 1).raw(1, {0xF0, 0x03, 0x41, 0x10});
    // The next track starts with an F7 escape, which must not close the sysex.
    const auto b = TrackBuilder().raw(2, {0xF7, 0x01, 0x7F}).noteOn(0, 1, 61, 1);
    EXPECT_EQ(
        merge(format1({a, b})),
        song0(TrackBuilder().noteOn(0, 0, 60, 1).raw(2, {0xF7, 0x01, 0x7F}).noteOn(0, 1, 61, 1)));
}

TEST_F(MergeMalformed, AProblemRepeatedThousandsOfTimesShowsTenBoxes) {
    // Before any status byte every data byte is a problem of its own; so is every undefined meta.
    TrackBuilder strays;
    for (int i = 0; i < 5000; ++i)
        strays.raw(0, {0xFF, 0x60, 0x00});
    Bytes track(5000, 0x40);
    track.insert(track.end(), strays.bytes().begin(), strays.bytes().end());
    const auto merged =
        merge(smf(1, kDivision, {track, TrackBuilder().noteOn(0, 0, 60, 1).bytes()}));
    ASSERT_TRUE(merged);
    const auto texts = dialogs.texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), fileErrorText(104)), 10);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), fileErrorText(103)), 10);
    EXPECT_EQ(texts.size(), 20u);
    // Every undefined meta event is still kept.
    EXPECT_EQ(merged->size(), kFirstEventOffset + 5000 * 4 + 4 + 4);
    // The next file is a merge of its own and is told its problems again.
    dialogs.clear();
    merge(smf(1, kDivision, {strays.bytes()}));
    EXPECT_EQ(dialogs.texts().size(), 10u);
}

TEST_F(MergeMalformed, MoreThanSixtyFourTracksAreRefused) {
    std::vector<TrackBuilder> tracks(64, TrackBuilder().noteOn(0, 0, 60, 1));
    EXPECT_TRUE(merge(format1(tracks)));
    tracks.push_back(tracks.back());
    EXPECT_FALSE(merge(format1(tracks)));
    EXPECT_EQ(dialogs.texts(), codes({105}));

    // With a header that is refused anyway, the usual pair of codes is shown.
    dialogs.clear();
    Bytes format2 = format1(tracks);
    format2[9] = 2;
    EXPECT_FALSE(merge(format2));
    EXPECT_EQ(dialogs.texts(), codes({100, 0}));
}

TEST_F(MergeMalformed, MoreThan65535EventsInATrackAreRefused) {
    TrackBuilder a;
    a.programChange(0, 0, 1);
    for (int i = 1; i < 65535; ++i)
        a.running1(1, i % 128);
    EXPECT_TRUE(merge(format1({a})));
    a.running1(1, 0);
    EXPECT_FALSE(merge(format1({a})));
    EXPECT_EQ(dialogs.texts(), codes({106}));
}

TEST_F(MergeMalformed, ImageGrownPastTheBufferByStatusBytesIsRefused) {
    // Ten tracks of 30000 running-status notes: 900000 bytes read, 1200000 once expanded.
    TrackBuilder a;
    a.noteOn(0, 0, 60, 1);
    for (int i = 1; i < 30000; ++i)
        a.running(1, 60, i % 128);
    const Bytes file = format1(std::vector<TrackBuilder>(10, a));
    ASSERT_LT(file.size(), kSongBufferSize);
    EXPECT_FALSE(merge(file));
    EXPECT_EQ(dialogs.texts(), codes({107}));
    EXPECT_TRUE(std::equal(file.begin(), file.end(), song.data.begin()));
}

}  // namespace
}  // namespace pitchloom

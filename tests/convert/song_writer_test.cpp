#include "convert/song_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

// Single events as a song holds them, delta time first.
Bytes tempo(std::uint32_t delta) {
    return TrackBuilder().tempo(delta, 500000).bytes();
}
Bytes program(std::uint32_t delta, int channel = 0) {
    return TrackBuilder().programChange(delta, channel, 5).bytes();
}
Bytes control(std::uint32_t delta) {
    return TrackBuilder().controlChange(delta, 0, 7, 100).bytes();
}
Bytes noteOn(std::uint32_t delta, int channel = 0, int note = 60, int velocity = 100) {
    return TrackBuilder().noteOn(delta, channel, note, velocity).bytes();
}
Bytes noteOff(std::uint32_t delta, int channel, int note) {
    return TrackBuilder().noteOff(delta, channel, note).bytes();
}
Bytes running(std::uint32_t delta, int data1, int data2) {
    return TrackBuilder().running(delta, data1, data2).bytes();
}
Bytes sysex(std::uint32_t delta, const Bytes& body) {
    return TrackBuilder().sysex(delta, body).bytes();
}
Bytes endOfTrack(std::uint32_t delta = 0) {
    return TrackBuilder().endOfTrack(delta).bytes();
}
// A short exclusive at delta 0 that tells the insertions apart.
Bytes marker(int n) {
    return {0x00, 0xF0, 0x03, 0x7D, static_cast<std::uint8_t>(n), 0xF7};
}

Bytes song(const std::vector<Bytes>& events) {
    Bytes track;
    for (const Bytes& e : events)
        track.insert(track.end(), e.begin(), e.end());
    return test::smf(0, 480, {track});
}

const Bytes kGsReset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kXgOn = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
// GS "use for rhythm part" for block 0x1A, the eleventh channel.
const Bytes kRhythmPart = {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7};
const ScaleMarks kOnlyC = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

class SongWriterTest : public testing::Test {
protected:
    void load(const Bytes& image) {
        song_ = MidiSong();
        ASSERT_TRUE(song_.create());
        std::copy(image.begin(), image.end(), song_.data.begin());
        song_.length = static_cast<std::int32_t>(image.size());
    }
    Bytes image() const { return {song_.image().begin(), song_.image().end()}; }

    // Inserts markers 0, 1, 2 at the tuning time, as Convert inserts its messages.
    void insertMarkers() {
        const auto time = writer.findTuningTime();
        for (int i = 0; i < 3; ++i) {
            const Bytes m = marker(i);
            ASSERT_TRUE(writer.insertEvent(time, std::span(m).subspan(1)));
        }
    }

    MidiSong song_;
    TuningState tuning;
    test::ScriptedDialogs dialogs;
    SongWriter writer{song_, tuning, dialogs};
};

using InsertEvent = SongWriterTest;
using ApplyScale = SongWriterTest;
using DamagedSong = SongWriterTest;

struct Placement {
    const char* layout;
    std::vector<Bytes> events;
    std::size_t before;  // index of the song event the messages end up in front of
    bool newestFirst;
};

TEST_F(InsertEvent, MessagesGoBeforeTheFirstNoteAfterAnyResetBeforeIt) {
    const std::vector<Placement> placements = {
        {"note-on first", {noteOn(0), endOfTrack(480)}, 0, true},
        {"tempo, program at 0", {tempo(0), program(0), noteOn(480)}, 0, true},
        {"nothing strictly between 0 and T", {tempo(0), control(240), noteOn(240)}, 0, true},
        {"program at 120 leads", {tempo(0), program(120), control(120), noteOn(240)}, 2, false},
        {"no note-on", {tempo(0), program(120), endOfTrack(100)}, 0, true},
        {"reset at 0", {sysex(0, kGsReset), program(0), program(0, 1), noteOn(480)}, 1, true},
        {"reset at T", {tempo(0), control(120), sysex(120, kGsReset), noteOn(240)}, 3, true},
        {"event after the reset",
         {sysex(0, kGsReset), program(120), control(120), noteOn(240)},
         2,
         false},
        {"last of two resets", {sysex(0, kGsReset), sysex(0, kXgOn), noteOn(0)}, 2, true},
        {"no reset before the note",
         {sysex(0, kRhythmPart), sysex(0, {0x7E, 0x7F, 0x08, 0x01, 0xF7}), noteOn(480),
          sysex(0, kGsReset)},
         0,
         true},
    };
    for (const Placement& p : placements) {
        SCOPED_TRACE(p.layout);
        load(song(p.events));
        insertMarkers();
        std::vector<Bytes> expected = p.events;
        const auto at = expected.begin() + static_cast<std::ptrdiff_t>(p.before);
        const std::vector<Bytes> markers = p.newestFirst
                                               ? std::vector{marker(2), marker(1), marker(0)}
                                               : std::vector{marker(0), marker(1), marker(2)};
        expected.insert(at, markers.begin(), markers.end());
        EXPECT_EQ(image(), song(expected));  // the track length included
    }
}

TEST_F(InsertEvent, EveryResetKindCountsWithAnyDeviceNumber) {
    const std::vector<Bytes> resets = {
        {0x41, 0x7F, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7},  // GS reset, broadcast
        {0x41, 0x11, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7},  // GS system mode set
        {0x43, 0x13, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7},              // XG System On
        {0x7E, 0x7F, 0x09, 0x01, 0xF7},                                // GM System On
        {0x7E, 0x05, 0x09, 0x03, 0xF7},                                // GM2 System On
    };
    for (const Bytes& reset : resets) {
        load(song({program(0), sysex(0, reset), noteOn(480)}));
        insertMarkers();
        EXPECT_EQ(image(),
                  song({program(0), sysex(0, reset), marker(2), marker(1), marker(0), noteOn(480)}))
            << std::hex << int(reset[0]) << " " << int(reset[1]);
    }
}

TEST_F(InsertEvent, GoldenResetAtZeroKeepsTheTuningBehindIt) {
    load(song({sysex(0, kGsReset), program(0), noteOn(480), endOfTrack()}));
    insertMarkers();
    // clang-format off
    const Bytes golden = {
        'M', 'T', 'h', 'd', 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x01, 0xE0,
        'M', 'T', 'r', 'k', 0x00, 0x00, 0x00, 0x2B,  // 0x19 and three inserted events of 6
        0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7,  // reset
        0x00, 0xF0, 0x03, 0x7D, 0x02, 0xF7,  // newest first, right after the reset
        0x00, 0xF0, 0x03, 0x7D, 0x01, 0xF7,
        0x00, 0xF0, 0x03, 0x7D, 0x00, 0xF7,
        0x00, 0xC0, 0x05,
        0x83, 0x60, 0x90, 0x3C, 0x64,  // note-on at 480
        0x00, 0xFF, 0x2F, 0x00};
    // clang-format on
    EXPECT_EQ(image(), golden);
}

TEST_F(InsertEvent, LongDeltaTimesAddUpToTheTuningTime) {
    load(song({tempo(0x0FFFFFFF), tempo(0x0FFFFFFF), noteOn(1)}));
    EXPECT_EQ(writer.findTuningTime(), 2u * 0x0FFFFFFF);
}

TEST_F(InsertEvent, RefusesAnEventThatWouldNotFitAndChangesNothing) {
    const Bytes big =
        song({noteOn(0), TrackBuilder().meta(0, 1, Bytes(kSongBufferSize - 50, 'x')).bytes()});
    load(big);
    const std::size_t free = kSongBufferSize - big.size();
    EXPECT_FALSE(writer.insertEvent(0, Bytes(free, 0x00)));
    EXPECT_EQ(image(), big);
    EXPECT_TRUE(writer.insertEvent(0, Bytes(free - 1, 0x00)));  // with its delta: exactly full
    EXPECT_EQ(static_cast<std::size_t>(song_.length), kSongBufferSize);
}

TEST_F(ApplyScale, NotesOutsideTheScaleMoveUpOtherEventsStay) {
    tuning.setScaleMarks({1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0});  // C D E G A
    const auto others = [] {
        return TrackBuilder()
            .raw(0, {0xA0, 61, 61})
            .controlChange(0, 1, 61, 61)
            .running(0, 66, 66)
            .programChange(0, 2, 61)
            .raw(0, {0xD3, 61})
            .raw(0, {0xE4, 61, 61})
            .meta(0, 0x01, {61, 61})
            .bytes();
    };
    load(song({noteOn(0, 0, 61), noteOn(0, 0, 66, 90), running(0, 70, 80), noteOff(10, 0, 61),
               running(0, 66, 66), others(), noteOn(0, 2, 60, 70), running(0, 70, 0)}));
    writer.applyScaleToNotes();
    EXPECT_EQ(image(),
              song({noteOn(0, 0, 62), noteOn(0, 0, 67, 90), running(0, 72, 80), noteOff(10, 0, 62),
                    running(0, 67, 66), others(), noteOn(0, 2, 60, 70), running(0, 72, 0)}));
}

TEST_F(ApplyScale, RhythmChannelsStayAndARhythmPartMessageCountsFromItsPlaceOn) {
    tuning.setScaleMarks(kOnlyC);
    tuning.rhythm.resetRhythmChannels();
    load(song({noteOn(0, 9, 37), noteOff(0, 9, 37), noteOn(0, 10, 37), sysex(0, kRhythmPart),
               noteOn(0, 10, 37), noteOn(0, 11, 37)}));
    writer.applyScaleToNotes();
    EXPECT_EQ(image(), song({noteOn(0, 9, 37), noteOff(0, 9, 37), noteOn(0, 10, 48),
                             sysex(0, kRhythmPart), noteOn(0, 10, 37), noteOn(0, 11, 48)}));
}

TEST_F(DamagedSong, UnknownMetaIsReportedOnceAndSkippedByItsLength) {
    tuning.setScaleMarks(kOnlyC);
    const Bytes unknown = TrackBuilder().meta(20, 0x60, {0x90, 0x3D, 0x40}).bytes();
    load(song({program(100), unknown, noteOn(30, 0, 61), endOfTrack()}));
    EXPECT_EQ(writer.findTuningTime(), 120u);
    insertMarkers();
    writer.applyScaleToNotes();
    // However many walks meet it, one box for the one event.
    ASSERT_EQ(dialogs.texts(), std::vector<std::string>(1, "Event Error!"));
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(image(), song({program(100), marker(0), marker(1), marker(2), unknown,
                             noteOn(30, 0, 72), endOfTrack()}));
}

TEST_F(InsertEvent, RunningStatusEventsAndVelocityZeroNoteOnsCount) {
    load(song(
        {control(100), running(40, 10, 64), noteOn(100, 1, 60, 0), control(60), noteOn(100, 1)}));
    EXPECT_EQ(writer.findTuningTime(), 140u);
    insertMarkers();
    const Bytes explicitControl = TrackBuilder().controlChange(40, 0, 10, 64).bytes();
    EXPECT_EQ(image(), song({control(100), marker(0), marker(1), marker(2), explicitControl,
                             noteOn(100, 1, 60, 0), control(60), noteOn(100, 1)}));
}

TEST_F(InsertEvent, AnEventBehindTheMessagesGetsItsRunningStatusWrittenOut) {
    tuning.setScaleMarks(kOnlyC);
    // The messages go after the control change at 10, in front of its running-status partner.
    load(song({tempo(0), control(10), running(10, 10, 64), noteOn(460, 0, 61), endOfTrack()}));
    EXPECT_EQ(writer.statusBytesAddedAt(writer.findTuningTime()), 1u);
    insertMarkers();
    writer.applyScaleToNotes();
    const Bytes explicitControl = TrackBuilder().controlChange(10, 0, 10, 64).bytes();
    EXPECT_EQ(image(), song({tempo(0), control(10), marker(0), marker(1), marker(2),
                             explicitControl, noteOn(460, 0, 72), endOfTrack()}));
    EXPECT_EQ(readBe32(song_.image(), kTrackLengthOffset), image().size() - 22);
}

TEST_F(DamagedSong, FirstEventUnderRunningStatusIsLeftAsData) {
    tuning.setScaleMarks(kOnlyC);
    load(song({running(0, 61, 100), noteOn(0, 0, 61)}));
    insertMarkers();
    writer.applyScaleToNotes();
    EXPECT_EQ(image(),
              song({marker(2), marker(1), marker(0), running(0, 61, 100), noteOn(0, 0, 61)}));
    EXPECT_TRUE(dialogs.texts().empty());
}

TEST_F(DamagedSong, AnImageCutInsideAnEventIsWalkedOnlyUpToIt) {
    tuning.setScaleMarks(kOnlyC);
    const Bytes cut = song({noteOn(0, 0, 61), {0x00, 0xF0, 0x41}});
    load(cut);
    song_.data[cut.size() + 2] = 0xF7;  // beyond the image, where a careless walk would look
    insertMarkers();
    writer.applyScaleToNotes();
    EXPECT_EQ(image(),
              song({marker(2), marker(1), marker(0), noteOn(0, 0, 72), {0x00, 0xF0, 0x41}}));
}

}  // namespace
}  // namespace pitchloom

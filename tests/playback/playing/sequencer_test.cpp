#include "playback/playing/sequencer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

#include "playback/playback_rig.h"
#include "tuning/pure_tuning.h"

namespace pitchloom {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::TrackBuilder;
using Rig = test::PlaybackRig<ManualTimerService>;

bool isNoteOn(const Bytes& m) {
    return !m.empty() && (m[0] & 0xF0) == 0x90;
}

// Plays the whole song on the manual clock; each short message with when it went out, from the
// start of playback.
std::vector<std::pair<std::chrono::nanoseconds, Bytes>> playTimed(Rig& r, const Bytes& image) {
    const SteadyTime start = r.timers.now();
    r.play(image);
    std::vector<std::pair<std::chrono::nanoseconds, Bytes>> sent;
    while (r.timers.runNext()) {
        const auto shorts = r.shorts();
        for (std::size_t i = sent.size(); i < shorts.size(); ++i)
            sent.emplace_back(r.timers.now() - start, shorts[i]);
    }
    return sent;
}

TEST(Timing, PeriodIsOneTickAtTheStartTempo) {
    EXPECT_EQ(Sequencer::periodFor(480, 1), 1u);
    EXPECT_EQ(Sequencer::periodFor(96, 1), 5u);
    EXPECT_EQ(Sequencer::periodFor(24, 1), 20u);
    EXPECT_EQ(Sequencer::periodFor(960, 1), 1u);  // 0 ms raised to the service's minimum
}

TEST(Timing, DelaysFollowTicksDivisionAndTempo) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(240, 0, 62, 100).noteOn(1, 0, 64, 100).endOfTrack();
    r.play(test::format0(480, t));
    EXPECT_EQ(r.timers.nextDelay(), 1ms);  // first event one period after the start
    r.timers.runNext();
    EXPECT_EQ(r.timers.nextDelay(), 250ms);
    r.timers.runNext();
    EXPECT_EQ(r.timers.nextDelay(), 1041666ns);  // a tick of 1041.666 microseconds
}

TEST(Timing, EveryEventPlaysAtItsExactTimeInTheSong) {
    // Ticks at division 960 a little over half a millisecond long, tempos of no whole beats per
    // minute, and a tempo change: each time counted from the song's start, to the nanosecond.
    TrackBuilder t;
    t.tempo(0, 461538).noteOn(1, 0, 60, 1).noteOn(3, 0, 62, 1).tempo(3, 500001);
    t.noteOn(960, 0, 64, 1);
    for (int i = 0; i < 960; ++i)
        t.controlChange(1, 0, 1, i % 128);
    t.noteOn(0, 0, 67, 1).endOfTrack();
    Rig r;
    const auto sent = playTimed(r, test::format0(960, t));
    ASSERT_EQ(sent.size(), 964u);
    const auto origin = 1ms;  // the first event, one period after the start
    EXPECT_EQ(sent[0].first - origin, 480768ns);
    EXPECT_EQ(sent[1].first - origin, 1923075ns);
    EXPECT_EQ(sent[2].first - origin, 503366381ns);
    EXPECT_EQ(sent[3].first - origin, 503887215ns);     // one tick later: not with the note before
    EXPECT_EQ(sent[962].first - origin, 1003367381ns);  // 960 ticks of 500001 later, no drift
    EXPECT_EQ(sent[963], std::make_pair(sent[962].first, (Bytes{0x90, 67, 1})));
}

TEST(Timing, FirstEventWaitsOnePeriodWhateverItsDelta) {
    Rig r;
    TrackBuilder t;
    t.noteOn(1000, 0, 60, 100).endOfTrack();
    r.play(test::format0(96, t));
    EXPECT_EQ(r.timers.nextDelay(), 5ms);
}

TEST(Timing, ZeroDelayEventsGoOutInOneCallback) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOn(0, 0, 67, 100).noteOff(480, 0, 60);
    t.endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    EXPECT_EQ(r.shorts().size(), 3u);
}

TEST(Timing, TempoChangeGovernsTheFollowingDelays) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 1).tempo(480, 1000000).noteOn(480, 0, 62, 1).noteOn(480, 0, 64, 1);
    t.endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    EXPECT_EQ(r.timers.nextDelay(), 500ms);  // 120 bpm
    r.timers.runNext();                      // tempo: 60 bpm from here on
    EXPECT_EQ(r.timers.nextDelay(), 1000ms);
}

TEST(Timing, ATempoOfZeroChangesNothing) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 1).tempo(480, 0).noteOn(480, 0, 62, 1).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    r.timers.runNext();
    EXPECT_EQ(r.timers.nextDelay(), 500ms);
}

TEST(Timing, AWaitLongerThanTheClockCanCountNeverComesRound) {
    // 2^32 - 1 ticks at division 1 and 3 beats per minute: some 2700 years, twice.
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 1).tempo(0, 0xFFFFFF).noteOn(0xFFFFFFFF, 0, 62, 1);
    t.noteOn(0xFFFFFFFF, 0, 64, 1).endOfTrack();
    r.play(test::format0(1, t));
    r.timers.runNext();
    ASSERT_EQ(r.shorts().size(), 1u);
    const auto first = r.timers.nextDelay();
    ASSERT_TRUE(first);
    EXPECT_GT(*first, std::chrono::hours(24 * 365 * 200));
    r.timers.runNext();
    r.timers.runNext();
    EXPECT_EQ(r.shorts().size(), 3u);
    EXPECT_EQ(r.timers.pendingCount(), 0u);
    EXPECT_FALSE(r.seq.isPlaying());
}

TEST(Tuning, GoesOutRightBeforeTheFirstNoteOnAfterAnyReset) {
    Rig r;
    r.type = DeviceType::GS;
    TrackBuilder t;
    t.sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    t.programChange(0, 0, 5).noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    const auto m = r.output.messages();
    ASSERT_GE(m.size(), 19u);
    EXPECT_EQ(m[0].bytes,
              (Bytes{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}));
    EXPECT_EQ(m[1].bytes, (Bytes{0xC0, 5}));
    for (int i = 2; i < 18; ++i) {
        EXPECT_TRUE(m[static_cast<std::size_t>(i)].sysEx);
        EXPECT_EQ(m[static_cast<std::size_t>(i)].bytes.size(), 22u);
    }
    EXPECT_TRUE(isNoteOn(m[18].bytes));
    EXPECT_EQ(m[18].bytes[1], 60);
}

TEST(Tuning, PendingChangeIsSentAtTheFirstEvent) {
    Rig r;
    r.type = DeviceType::XG;
    r.tuning.selectTuningRow(1, 7);  // raises tuningChanged
    TrackBuilder t;
    t.programChange(0, 0, 1).noteOn(0, 0, 60, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    // 192 on the first event (every pitch class differs from nothing sent), then the note's own
    // send finds nothing changed.
    EXPECT_EQ(r.sysExes().size(), 192u);
    EXPECT_EQ(r.tuning.tuningChanged, 0);
}

TEST(Tuning, ChangeDuringPlaybackIsHeardAtTheNextEvent) {
    Rig r;
    r.type = DeviceType::XG;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(480, 0, 62, 100).noteOn(480, 0, 64, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    EXPECT_EQ(r.sysExes().size(), 192u);
    r.output.clear();

    r.tuning.offsets[4] = r.tuning.offsets[4] + 7;  // one pitch class moved, then released
    r.tuning.tuningChanged = 1;
    r.timers.runNext();
    const auto sent = r.sysExes();
    ASSERT_EQ(sent.size(), 16u);
    for (int part = 0; part < 16; ++part) {
        const Bytes& m = sent[static_cast<std::size_t>(part)];
        EXPECT_EQ(m, (Bytes{0xF0, 0x43, 0x10, 0x4C, 0x08, static_cast<std::uint8_t>(part), 0x45,
                            0x40 + 7, 0xF7}));
    }
    r.output.clear();
    r.tuning.tuningChanged = 1;  // raised with nothing changed: XG sends nothing
    r.timers.runNext();
    EXPECT_TRUE(r.sysExes().empty());
}

// Sizes of the messages sent, System Exclusive ones as 'S' plus their size, notes as 'N'.
std::string shapeOf(const std::vector<RecordingOutput::Message>& messages) {
    std::string shape;
    for (const auto& m : messages) {
        if (m.sysEx) {
            shape += "S" + std::to_string(m.bytes.size()) + " ";
        } else if (isNoteOn(m.bytes)) {
            shape += "N ";
        }
    }
    return shape;
}

std::string times(int n, const std::string& s) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(Tuning, AResetInTheSongIsFollowedByTheWholeTuningBeforeTheNextNote) {
    const Bytes xgOn = {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    const Bytes gmOn = {0x7E, 0x7F, 0x09, 0x01, 0xF7};
    TrackBuilder t;
    t.sysex(0, xgOn).noteOn(0, 0, 60, 100).noteOn(10, 0, 62, 100);
    t.sysex(10, gmOn).noteOn(10, 0, 64, 100).endOfTrack();
    const Bytes song = test::format0(480, t);

    Rig xg;
    xg.type = DeviceType::XG;
    xg.tuning.selectTuningRow(1, 7);  // pending: goes out at the first event, before the reset
    xg.play(song);
    xg.timers.runAll();
    // Without the second and third rounds the module plays equal temperament after each reset.
    EXPECT_EQ(shapeOf(xg.output.messages()),
              times(192, "S9 ") + "S9 " + times(192, "S9 ") + "N N S6 " + times(192, "S9 ") + "N ");

    Rig gs;
    gs.type = DeviceType::GS;
    gs.play(song);
    gs.timers.runAll();
    // The XG System On is withheld from a GS module; the GM System On reaches it.
    EXPECT_EQ(shapeOf(gs.output.messages()),
              times(16, "S22 ") + "N N S6 " + times(16, "S22 ") + "N ");
}

TEST(Rhythm, APartSetBackToNormalIsMovedOntoTheScale) {
    // Right after their reset, songs set every melodic part to 0: "not a rhythm part".
    const auto rhythmPart = [](std::uint8_t value) {
        return Bytes{
            0x41, 0x10,  0x42,
            0x12, 0x40,  0x1A,
            0x15, value, static_cast<std::uint8_t>((128 - (0x40 + 0x1A + 0x15 + value)) % 128),
            0xF7};
    };
    Rig r;
    r.tuning.setScaleMarks({1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0});  // C D E G A
    TrackBuilder t;
    t.sysex(0, rhythmPart(0)).noteOn(0, 10, 61, 100);
    t.sysex(0, rhythmPart(1)).noteOn(0, 10, 61, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    const auto notes = r.shorts();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], (Bytes{0x9A, 62, 100}));  // channel 11 melodic: C# moved to D
    EXPECT_EQ(notes[1], (Bytes{0x9A, 61, 100}));  // a drum part again: left alone
}

TEST(Tuning, MtsSendsOneMessageOnTheSameOccasionsAndOnlyWhenItDiffers) {
    Rig r;
    r.type = DeviceType::MTS;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(10, 0, 62, 100).noteOn(10, 0, 64, 100);
    t.sysex(10, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).noteOn(10, 0, 65, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();  // the first note brings the tuning
    const Bytes allButTen = {0xF0, 0x7F, 0x7F, 0x08, 0x08, 0x03, 0x7B, 0x7F};
    const auto first = r.sysExes();
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(Bytes(first[0].begin(), first[0].begin() + 8), allButTen);
    EXPECT_EQ(first[0].size(), 21u);

    r.tuning.tuningChanged = 1;  // raised with nothing changed: nothing is sent
    r.timers.runNext();
    EXPECT_EQ(r.sysExes().size(), 1u);
    r.tuning.offsets[0] = 30;
    r.tuning.tuningChanged = 1;
    r.timers.runNext();
    ASSERT_EQ(r.sysExes().size(), 2u);
    EXPECT_EQ(r.sysExes()[1][8], 30 + 64);
    r.timers.runAll();  // after the GM System On, the same message goes out again
    EXPECT_EQ(shapeOf(r.output.messages()), "S21 N N S21 N S6 S21 N ");
}

TEST(Tuning, GmSendsNoTuningAtAll) {
    Rig r;
    r.tuning.selectTuningRow(3, 7);
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOff(10, 0, 60).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    EXPECT_TRUE(r.sysExes().empty());
}

TEST(Notes, MovedOntoTheScaleExceptOnRhythmChannels) {
    Rig r;
    r.tuning.inScale[1] = 0;  // C# out, D in
    TrackBuilder t;
    t.noteOn(0, 0, 61, 100).noteOff(10, 0, 61).noteOn(0, 9, 61, 100).noteOff(10, 9, 61);
    t.noteOn(0, 1, 61, 90).running(10, 61, 0);  // running status: still moved
    t.endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    const auto s = r.shorts();
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0], (Bytes{0x90, 62, 100}));
    EXPECT_EQ(s[1], (Bytes{0x80, 62, 0}));
    EXPECT_EQ(s[2], (Bytes{0x99, 61, 100}));
    EXPECT_EQ(s[3], (Bytes{0x89, 61, 0}));
    EXPECT_EQ(s[4], (Bytes{0x91, 62, 90}));
    EXPECT_EQ(s[5], (Bytes{0x91, 62, 0}));
}

TEST(Notes, UseForRhythmPartFreesOnlyLaterNotesFromTheScale) {
    Rig r;
    r.tuning.inScale[1] = 0;
    TrackBuilder t;
    t.noteOn(0, 10, 61, 100);
    t.sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});
    t.noteOn(0, 10, 61, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    const auto s = r.shorts();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0][1], 62);
    EXPECT_EQ(s[1][1], 61);
}

TEST(SysEx, XgSystemOnIsWithheldUnderGsWithAMessageEachTime) {
    const Bytes xgOn{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
    for (DeviceType type : {DeviceType::GS, DeviceType::XG, DeviceType::GM}) {
        Rig r;
        r.type = type;
        TrackBuilder t;
        t.sysex(0, xgOn).sysex(10, xgOn).controlChange(0, 0, 7, 100).endOfTrack();
        r.play(test::format0(480, t));
        r.timers.runAll();
        const auto texts = r.dialogs.texts();
        const auto sent = r.sysExes();
        if (type == DeviceType::GS) {
            EXPECT_EQ(texts, (std::vector<std::string>(2, "XG reset was found with GS setting.")));
            EXPECT_EQ(r.dialogs.boxes()[0].style, BoxStyle::SystemModal);
            EXPECT_TRUE(sent.empty());
        } else {
            EXPECT_TRUE(texts.empty());
            ASSERT_EQ(sent.size(), 2u);
            EXPECT_EQ(sent[0], (Bytes{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}));
        }
        EXPECT_EQ(r.shorts().size(), 1u);  // playback went on after the box
    }
}

TEST(SysEx, EscapeBytesAreSentAsTheyStand) {
    Rig r;
    TrackBuilder t;
    t.raw(0, {0xF7, 0x03, 0xF0, 0x43, 0xF7}).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    ASSERT_EQ(r.sysExes().size(), 1u);
    EXPECT_EQ(r.sysExes()[0], (Bytes{0xF0, 0x43, 0xF7}));
}

TEST(SysEx, LongEscapesAndMessagesInPacketsArriveWhole) {
    Rig r;
    r.type = DeviceType::XG;
    Bytes escape = {0xF7, 0x81, 0x48};  // 200 bytes, which look like notes
    for (int i = 0; i < 100; ++i)
        escape.insert(escape.end(), {0x90, 0x3C});
    TrackBuilder t;
    t.raw(0, escape);
    // The packets lie apart, another channel's event between them, as a merge leaves them.
    t.raw(0, {0xF0, 0x03, 0x43, 0x10, 0x4C}).programChange(2, 1, 5);
    t.raw(3, {0xF7, 0x05, 0x00, 0x00, 0x7E, 0x00, 0xF7}).noteOn(0, 0, 61, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    const auto sent = r.sysExes();
    ASSERT_EQ(sent.size(), 2u + 192u);
    EXPECT_EQ(Bytes(sent[0].begin(), sent[0].begin() + 4), (Bytes{0x90, 0x3C, 0x90, 0x3C}));
    EXPECT_EQ(sent[0].size(), 200u);
    // The two packets reach the device as one XG System On, and the tuning follows it.
    EXPECT_EQ(sent[1], (Bytes{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}));
    EXPECT_EQ(r.shorts(), (std::vector<Bytes>{{0xC1, 5}, {0x90, 61, 100}}));
}

TEST(SysEx, MessagesCutByTheEndOfTheSongAreNotSentInPart) {
    for (const Bytes& cut : {Bytes{0xF7, 0x05, 0xF0, 0x43, 0x10}, Bytes{0xF0, 0x05, 0x43, 0x10}}) {
        Rig r;
        TrackBuilder t;
        t.noteOn(0, 0, 60, 1).raw(0, cut);
        r.play(test::format0(480, t));
        r.timers.runAll();
        EXPECT_TRUE(r.sysExes().empty());
        EXPECT_EQ(r.shorts().size(), 1u);
        EXPECT_FALSE(r.seq.isPlaying());
    }
}

TEST(End, CaptionReturnsToPlayWithoutAllNotesOff) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(960);
    r.play(test::format0(480, t));
    EXPECT_EQ(r.view.lastCaption(), "     Stop");
    EXPECT_TRUE(r.seq.isPlaying());
    r.timers.runAll();
    EXPECT_FALSE(r.seq.isPlaying());
    EXPECT_EQ(r.view.lastCaption(), "     Play");
    EXPECT_GE(r.view.repaints.load(), 1);
    EXPECT_EQ(r.shorts().size(), 2u);  // the note and its release, no controller sweep
    EXPECT_EQ(r.timers.pendingCount(), 0u);
}

TEST(Errors, TimeCodeOrZeroDivisionIsRefusedWithPlayingLeftOn) {
    for (int division : {0xE728, 0}) {
        Rig r;
        TrackBuilder t;
        t.noteOn(0, 0, 60, 100).endOfTrack();
        r.play(test::format0(division, t));
        EXPECT_EQ(r.dialogs.texts(), std::vector<std::string>{"Undefined error!"});
        EXPECT_TRUE(r.seq.isPlaying());
        EXPECT_EQ(r.timers.pendingCount(), 0u);
        r.seq.TogglePlay();  // the button runs the ordinary stop
        EXPECT_FALSE(r.seq.isPlaying());
        EXPECT_EQ(r.view.lastCaption(), "     Play");
        EXPECT_EQ(r.shorts().size(), 16u);  // all notes off
    }
}

TEST(Errors, DataByteWithoutAnyStatusHaltsPlayback) {
    Rig r;
    TrackBuilder t;
    t.running(0, 60, 100).noteOn(10, 0, 60, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    EXPECT_EQ(r.dialogs.texts(), std::vector<std::string>{"Undefined error!"});
    EXPECT_TRUE(r.seq.isPlaying());
    EXPECT_TRUE(r.shorts().empty());
    EXPECT_EQ(r.timers.pendingCount(), 0u);
}

TEST(Notes, DataAfterAMetaOrSysExRunsOnTheChannelStatusBefore) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 1, 60, 100).tempo(0, 600000).running(10, 62, 100);
    t.sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7}).running(10, 60, 0).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runAll();
    EXPECT_TRUE(r.dialogs.texts().empty());
    EXPECT_EQ(r.shorts(), (std::vector<Bytes>{{0x91, 60, 100}, {0x91, 62, 100}, {0x91, 60, 0}}));
    EXPECT_FALSE(r.seq.isPlaying());
}

TEST(Commands, PlayThenCancelStartsNothing) {
    Rig r;
    r.dialogs.willOpen(std::nullopt);
    r.seq.TogglePlay();
    EXPECT_FALSE(r.seq.isPlaying());
    EXPECT_TRUE(r.view.captions().empty());
    EXPECT_EQ(r.timers.pendingCount(), 0u);
}

TEST(Commands, StopWhileEventsAreDueLeavesNoTimer) {
    Rig r;
    TrackBuilder t;
    for (int i = 0; i < 50; ++i)
        t.noteOn(10, 0, 60, 100);
    t.endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    r.seq.TogglePlay();
    EXPECT_FALSE(r.seq.isPlaying());
    EXPECT_EQ(r.timers.pendingCount(), 0u);
    const auto before = r.output.messageCount();
    r.timers.runAll();
    EXPECT_EQ(r.output.messageCount(), before);
}

TEST(Commands, DeviceSwitchDuringPlaybackContinuesOnTheNewPort) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(480, 0, 62, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    r.port.selectDevice(1);
    r.timers.runAll();
    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].device, -1);
    EXPECT_EQ(m[1].device, 1);
}

using RealRig = test::PlaybackRig<ThreadTimerService>;

TEST(RealTimer, DelayOf240TicksTakesAQuarterSecond) {
    RealRig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(240, 0, 62, 100).endOfTrack();
    r.play(test::format0(480, t));
    for (int i = 0; i < 300 && r.seq.isPlaying(); ++i)
        std::this_thread::sleep_for(5ms);
    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 2u);
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(m[1].time - m[0].time);
    EXPECT_GE(gap.count(), 245);
    EXPECT_LE(gap.count(), 400);
}

TEST(RealTimer, ASongWaitsForTheDeviceToGetReadyThenKeepsItsTime) {
    RealRig r;
    r.output.setReady(false);  // a synth still loading its SoundFont
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(240, 0, 62, 100).endOfTrack();
    r.play(test::format0(480, t));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(r.output.messageCount(), 0u);
    r.output.setReady(true);
    for (int i = 0; i < 300 && r.seq.isPlaying(); ++i)
        std::this_thread::sleep_for(5ms);
    const auto m = r.output.messages();
    ASSERT_EQ(m.size(), 2u);
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(m[1].time - m[0].time);
    EXPECT_GE(gap.count(), 245);  // the wait is not taken out of the next delay
}

TEST(RealTimer, StopRacingCallbacksNeverLeavesATimerArmed) {
    RealRig r;
    TrackBuilder t;
    for (int i = 0; i < 2000; ++i)
        t.noteOn(1, i % 16, 60, 100);
    t.endOfTrack();
    // Loaded once: a batch still running after a stop without its wait may be reading the song.
    r.load(test::format0(480, t));
    for (int round = 0; round < 20; ++round) {
        r.seq.beginPlayback();
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 4));
        r.seq.stopPlayback();
        EXPECT_EQ(r.timers.pendingCount(), 0u) << round;
        const auto count = r.output.messageCount();
        std::this_thread::sleep_for(5ms);
        // At most the batch that was already running when the stop came.
        EXPECT_LE(r.output.messageCount(), count + 1) << round;
    }
}

TEST(Stall, ALateCallbackStartsTheScheduleAfresh) {
    Rig r;
    TrackBuilder t;
    t.noteOn(0, 0, 60, 100).noteOn(480, 0, 62, 100).noteOn(480, 0, 64, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.jump(3000ms);  // the timer thread was held up for three seconds
    r.timers.runNext();
    EXPECT_EQ(r.timers.nextDelay(), 500ms);  // not all at once to catch up
}

TEST(Stall, EventsAfterTheXgResetBoxKeepTheirDelays) {
    // The user takes two seconds to press OK.
    struct SlowUser : test::ScriptedDialogs {
        ManualTimerService* clock = nullptr;
        void showMessage(std::string_view text, BoxStyle style) override {
            test::ScriptedDialogs::showMessage(text, style);
            clock->jump(2000ms);
        }
    };
    SlowUser user;
    RecordingOutput output;
    ManualTimerService timers;
    user.clock = &timers;
    test::RecordingView view;
    Session session(user);
    MidiSong& song = session.song;
    Player& player = session.attachPlayer(output, timers, view);
    player.port.initOutput(song);
    session.deviceType = DeviceType::GS;
    Sequencer& seq = player.sequencer;
    TrackBuilder t;
    t.sysex(0, {0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7});
    t.noteOn(0, 0, 60, 100).noteOn(240, 0, 62, 100).endOfTrack();
    const Bytes image = test::format0(480, t);
    std::copy(image.begin(), image.end(), song.data.begin());
    song.length = static_cast<std::int32_t>(image.size());
    seq.beginPlayback();
    timers.runNext();
    ASSERT_EQ(user.texts().size(), 1u);
    EXPECT_EQ(timers.nextDelay(), 250ms);
    timers.runAll();
}

TEST(RealTimer, ASongStartedDuringTheStopWaitKeepsItsStopCaption) {
    RealRig r;
    r.seq.setStopWait(300ms);
    TrackBuilder shortSong;
    shortSong.noteOn(0, 0, 60, 100).endOfTrack();
    TrackBuilder longSong;
    longSong.noteOn(0, 0, 60, 100).noteOn(30000, 0, 62, 100).endOfTrack();
    r.play(test::format0(480, shortSong));
    for (int i = 0; i < 200 && r.seq.isPlaying(); ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_FALSE(r.seq.isPlaying());
    r.play(test::format0(480, longSong));  // while the end of the first song still waits
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(r.seq.isPlaying());
    EXPECT_EQ(r.view.lastCaption(), "     Stop");
    r.seq.stopPlayback();
}

// Says plainly what it was told: each message moves up a channel, rhythm ones excepted; a Note On
// comes after controller 16 with its key's offset (or the pitch planned for it) + 64; a reset is
// answered with controller 18 of its song time in tenths of a second on channel 3. Velocity 1
// counts as played off its tuning.
class TellingRetuner : public NoteRetuner {
public:
    void begin(const ChannelUse&) override {}
    void setTuning(const TuningValue& tuning) override { tuning_ = tuning; }
    void pitchNextNote(std::optional<double> cents) override { planned_ = cents; }
    void take(const ChannelMessage& m, std::chrono::nanoseconds, bool rhythm,
              std::vector<ChannelMessage>& out) override {
        const auto planned = std::exchange(planned_, std::nullopt);
        const auto c = static_cast<std::uint8_t>(rhythm ? m.channel() : (m.channel() + 1) % 16);
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0) {
            const double offset =
                planned ? *planned : tuning_.pitch(m.channel(), m.data1) - m.data1 * 100.0;
            out.push_back({static_cast<std::uint8_t>(0xB0 | c), 16,
                           static_cast<std::uint8_t>(64 + std::lround(offset))});
            report_.notes++;
            if (m.data2 == 1) report_ = {report_.notes, report_.offTuning + 1, 12.5};
        }
        out.push_back({static_cast<std::uint8_t>((m.status & 0xF0) | c), m.data1, m.data2});
    }
    void afterReset(std::chrono::nanoseconds at, std::vector<ChannelMessage>& out) override {
        out.push_back({0xB2, 18, static_cast<std::uint8_t>(at / 100ms)});
    }
    RetuneReport report() const override { return report_; }

private:
    TuningValue tuning_;
    std::optional<double> planned_;
    RetuneReport report_;
};

void retuneTelling(Rig& r, DeviceType type) {
    r.type = type;
    r.seq.setRetunerFactory(
        [](const RetuneSettings&) { return std::make_unique<TellingRetuner>(); });
}

// Every message sent, in hex: "C1 05, B1 10 40".
std::string sentText(const Rig& r) {
    std::string text;
    for (const auto& m : r.output.messages()) {
        if (!text.empty()) text += ",";
        for (const std::uint8_t b : m.bytes) {
            char hex[5];
            std::snprintf(hex, sizeof hex, " %02X", b);
            text += hex;
        }
    }
    return text.empty() ? text : text.substr(1);
}

TEST(Retuning, EveryMessageGoesOutAsTheRetunerSaysWithTuningChangesResetsAndItsReport) {
    Rig r;
    retuneTelling(r, DeviceType::Bend);
    r.tuning.offsets[0] = 7;
    r.tuning.inScale[1] = 0;  // C# moves up to D before the retuner sees it
    TrackBuilder t;
    t.programChange(0, 0, 5).noteOn(0, 0, 61, 100).noteOn(0, 9, 36, 1).noteOff(480, 0, 61);
    t.sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7});
    t.noteOn(0, 0, 64, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    r.tuning.offsets[4] = -14;  // the slider of E, let go
    r.tuning.tuningChanged = 1;
    r.timers.runAll();
    EXPECT_EQ(sentText(r),
              "C1 05, B1 10 40, 91 3E 64, B9 10 47, 99 24 01, 81 3E 00, "
              "F0 41 10 42 12 40 00 7F 00 41 F7, B2 12 05, B1 10 32, 91 40 64");
    EXPECT_EQ(r.tuning.tuningChanged, 0);
    EXPECT_EQ(describeOffTuning(*r.seq.retuneReport()),
              "1 of 3 notes played up to 13 cents from their tuning");

    // The next song, in a dialect that tells the module its tuning, starts on centred channels.
    r.output.clear();
    r.type = DeviceType::GM;
    r.play(test::format0(480, TrackBuilder().noteOn(0, 0, 60, 100).endOfTrack()));
    r.timers.runAll();
    EXPECT_EQ(sentText(r), "B1 7B 00, E1 00 40, B2 7B 00, E2 00 40, B9 7B 00, E9 00 40, 90 3C 64");
    EXPECT_FALSE(r.seq.retuneReport());
}

TEST(Retuning, ANoteOfAPlanGetsItsPitchByThePlaceOfItsNoteOnInTheTrack) {
    Rig r;
    retuneTelling(r, DeviceType::Bend);
    r.tuning.songTuning = SongTuning::Adaptive;
    // Events 1 and 2 are the Note Ons of C and E; event 3, G, has no pitch in the plan.
    std::vector<SongNote> planned(2);
    planned[0].event = 1;
    planned[1].event = 2;
    const std::vector<double> offsets{4.0, -10.0};
    r.tuning.setNotePlan(std::make_shared<const NotePlan>(planned, offsets));
    TrackBuilder t;
    t.programChange(0, 0, 5).noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOn(0, 0, 67, 100);
    r.play(test::format0(480, t.endOfTrack()));
    r.timers.runAll();
    EXPECT_EQ(sentText(r), "C1 05, B1 10 44, 91 3C 64, B1 10 36, 91 40 64, B1 10 40, 91 43 64");
    // Another tuning in force: the plan has no say.
    r.output.clear();
    r.tuning.songTuning = SongTuning::None;
    r.play(test::format0(480, t));
    r.timers.runAll();
    EXPECT_EQ(sentText(r),
              "B1 7B 00, E1 00 40, C1 05, B1 10 40, 91 3C 64, B1 10 40, 91 40 64, "
              "B1 10 40, 91 43 64");
}

TEST(Retuning, ADeviceTypeChangeMidSongStartsOrEndsTheRetuner) {
    Rig r;
    retuneTelling(r, DeviceType::GM);
    TrackBuilder t;
    // The first volume is overridden by the second; the RPN and its data entry keep their order.
    t.programChange(0, 0, 5).controlChange(0, 0, 7, 10).controlChange(0, 0, 101, 0);
    t.controlChange(0, 0, 6, 2).controlChange(0, 0, 7, 20).noteOn(0, 0, 60, 100);
    t.noteOn(480, 0, 62, 100).noteOn(480, 0, 64, 100).endOfTrack();
    r.play(test::format0(480, t));
    r.timers.runNext();
    r.output.clear();
    r.type = DeviceType::Bend;
    r.timers.runNext();
    EXPECT_EQ(sentText(r),
              "B0 7B 00, B1 7B 00, B2 7B 00, B3 7B 00, B4 7B 00, B5 7B 00, B6 7B 00, B7 7B 00, "
              "B8 7B 00, B9 7B 00, BA 7B 00, BB 7B 00, BC 7B 00, BD 7B 00, BE 7B 00, BF 7B 00, "
              "C1 05, B1 65 00, B1 06 02, B1 07 14, B1 10 40, 91 3E 64");

    // Leaving: the retuner's channels are let go and centred, and MTS tunes the next note.
    r.output.clear();
    r.type = DeviceType::MTS;
    r.timers.runAll();
    EXPECT_EQ(sentText(r),
              "B1 7B 00, E1 00 40, F0 7F 7F 08 08 03 7B 7F 40 40 40 40 40 40 40 40 40 40 40 40 F7, "
              "90 40 64");
}

}  // namespace
}  // namespace pitchloom

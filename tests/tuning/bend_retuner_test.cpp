#include "tuning/bend_retuner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tuning/dialect.h"

namespace pitchloom {
namespace {

using namespace std::chrono_literals;

const PitchClassOffsets kJust = {0, -8, 4, 16, -14, -2, -10, 2, -6, 6, 18, -12};
const ScaleMarks kChromatic = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// A retuner for a song in Just Intonation on C, fed messages one at a time; each call gives
// what went out, as hex, messages apart by " | ".
class Retuning {
public:
    explicit Retuning(std::uint16_t used, std::uint16_t rhythm = 1u << 9)
        : Retuning(DeviceType::Bend, TuningValue::ofPitchClasses(kJust, kChromatic), used, rhythm) {
    }
    Retuning(DeviceType type, const TuningValue& tuning, std::uint16_t used,
             std::uint16_t rhythm = 1u << 9)
        : retuner_(dialectOf(type).noteRetuner(RetuneSettings{})) {
        retuner_->begin({used, rhythm});
        retuner_->setTuning(tuning);
    }

    std::string operator()(std::chrono::nanoseconds at, std::uint8_t status, std::uint8_t d1,
                           std::uint8_t d2 = 0, bool rhythm = false) {
        std::vector<ChannelMessage> out;
        retuner_->take({status, d1, d2}, at, rhythm, out);
        return text(out);
    }
    std::string reset(std::chrono::nanoseconds at) {
        std::vector<ChannelMessage> out;
        retuner_->afterReset(at, out);
        return text(out);
    }
    NoteRetuner& retuner() { return *retuner_; }
    /// The next Note On plays at this offset from equal temperament.
    Retuning& planned(double cents) {
        retuner_->pitchNextNote(cents);
        return *this;
    }
    /// The System Exclusive messages to go before what the last message gave, in hex.
    std::string sysex() {
        SysExList list;
        retuner_->sysExBefore(list);
        std::string s;
        for (std::size_t i = 0; i < list.count(); ++i) {
            for (std::uint8_t b : list[i]) {
                char buf[4];
                std::snprintf(buf, sizeof buf, "%02X", b);
                s += (s.empty() ? "" : " ") + std::string(buf);
            }
            s += " |";
        }
        return s;
    }

private:
    static std::string text(const std::vector<ChannelMessage>& out) {
        std::string s;
        for (const ChannelMessage& m : out) {
            char buf[16];
            if (m.dataSize() == 1) {
                std::snprintf(buf, sizeof buf, "%02X %02X", m.status, m.data1);
            } else {
                std::snprintf(buf, sizeof buf, "%02X %02X %02X", m.status, m.data1, m.data2);
            }
            s += (s.empty() ? "" : " | ") + std::string(buf);
        }
        return s;
    }

    std::unique_ptr<NoteRetuner> retuner_;
};

// Bend range 3 on a channel, then RPN null.
std::string range3(const char* c) {
    std::string s;
    for (const char* m : {"65 00", "64 00", "06 03", "26 00", "65 7F", "64 7F"})
        s += std::string(s.empty() ? "" : " | ") + "B" + c + " " + m;
    return s;
}

TEST(BendRetuner, NotesNeedingOtherBendsBorrowFreeChannelsAfterTheirReleaseGuard) {
    Retuning song(0x0001);
    // C: no offset, but the module may hold any bend from before.
    EXPECT_EQ(song(0s, 0x90, 60, 100), range3("0") + " | E0 00 40 | 90 3C 64");
    EXPECT_EQ(song(0s, 0x90, 72, 100), "90 48 64");  // C an octave up shares its channel
    // E, 14 cents flat, while C sounds: the first free channel, set to range 3 and bent.
    EXPECT_EQ(song(0s, 0x90, 64, 100), range3("1") + " | E1 02 3D | 91 40 64");
    EXPECT_EQ(song(1s, 0x80, 64, 0), "81 40 00");
    // A, 6 sharp, 100 ms after E was released: its channel may not bend yet.
    EXPECT_EQ(song(1100ms, 0x90, 69, 100), range3("2") + " | E2 26 41 | 92 45 64");
    EXPECT_EQ(song(1200ms, 0x90, 69, 0), "92 45 00");  // Note Off as Note On, velocity 0
    // D, 4 sharp, 400 ms after: E's channel takes its bend; its range is known.
    EXPECT_EQ(song(1400ms, 0x90, 62, 100), "E1 6F 40 | 91 3E 64");
    EXPECT_EQ(song(1500ms, 0x80, 62, 0), "81 3E 00");

    // A note released under the sustain pedal rings until the pedal lifts: the guard starts then.
    EXPECT_EQ(song(2s, 0xB0, 64, 127), "B0 40 7F | B1 40 7F | B2 40 7F");
    EXPECT_EQ(song(2s, 0x90, 64, 100), "E1 02 3D | 91 40 64");
    EXPECT_EQ(song(2100ms, 0x80, 64, 0), "81 40 00");
    // B flat: A's channel was let go before the pedal went down.
    EXPECT_EQ(song(3s, 0x90, 70, 100), "E2 70 43 | 92 46 64");
    EXPECT_EQ(song(3s, 0x80, 70, 0), "82 46 00");
    EXPECT_EQ(song(4s, 0xB0, 64, 0), "B0 40 00 | B1 40 00 | B2 40 00");
    // G, 200 ms after the pedal: a new channel, which gets the pedal's state first.
    EXPECT_EQ(song(4200ms, 0x90, 67, 100), "B3 40 00 | " + range3("3") + " | E3 38 40 | 93 43 64");
    EXPECT_EQ(song(4400ms, 0x90, 62, 100), "E1 6F 40 | 91 3E 64");
    EXPECT_EQ(song.retuner().report().offTuning, 0u);
    EXPECT_EQ(song.retuner().report().notes, 9u);
}

TEST(BendRetuner, ABorrowedChannelIsThePartWithItsProgramAndEveryLaterChange) {
    Retuning song(0x0001);
    EXPECT_EQ(song(0s, 0xC0, 5), "C0 05");
    EXPECT_EQ(song(0s, 0xB0, 7, 90), "B0 07 5A");
    EXPECT_EQ(song(0s, 0x90, 60, 100), range3("0") + " | E0 00 40 | 90 3C 64");
    EXPECT_EQ(song(0s, 0x90, 64, 100),
              "B1 07 5A | C1 05 | " + range3("1") + " | E1 02 3D | 91 40 64");
    EXPECT_EQ(song(1s, 0xB0, 7, 80), "B0 07 50 | B1 07 50");
    EXPECT_EQ(song(1s, 0xA0, 64, 30), "A1 40 1E");  // key pressure follows its note
    EXPECT_EQ(song(1s, 0xD0, 40), "D0 28 | D1 28");
    // A drum note stays as it is.
    EXPECT_EQ(song(1s, 0x99, 36, 100, true), "99 24 64");
}

TEST(BendRetuner, TheSongsOwnBendAddsToTheTuningInTheRangeInForce) {
    Retuning song(0x0001);
    EXPECT_EQ(song(0s, 0x90, 60, 100), range3("0") + " | E0 00 40 | 90 3C 64");
    EXPECT_EQ(song(0s, 0x90, 64, 100), range3("1") + " | E1 02 3D | 91 40 64");
    // +50 cents of the song's range 2: 50 on C's channel, 36 on E's, both in range 3.
    EXPECT_EQ(song(1s, 0xE0, 0x00, 0x50), "E0 55 4A | E1 57 47");
    // The song sets its range to 12: the channels go to 13 and the same bend is now 300 cents.
    EXPECT_EQ(song(2s, 0xB0, 101, 0), "B0 65 00 | B1 65 00");
    EXPECT_EQ(song(2s, 0xB0, 100, 0), "B0 64 00 | B1 64 00");
    EXPECT_EQ(song(2s, 0xB0, 6, 12),
              "B0 65 00 | B0 64 00 | B0 06 0D | B0 26 00 | B0 65 00 | B0 64 00 | E0 62 4E | "
              "B1 65 00 | B1 64 00 | B1 06 0D | B1 26 00 | B1 65 00 | B1 64 00 | E1 0A 4E");
    // Reset All Controllers centres the module's bends: the tuning goes back on.
    EXPECT_EQ(song(3s, 0xB0, 121, 0), "B0 79 00 | B1 79 00 | E1 28 3F");
}

TEST(BendRetuner, AfterAResetTheRangeGoesOutAgain) {
    Retuning song(0x0001);
    EXPECT_EQ(song(0s, 0x90, 64, 100), range3("0") + " | E0 02 3D | 90 40 64");
    EXPECT_EQ(song(1s, 0x80, 64, 0), "80 40 00");
    EXPECT_EQ(song.reset(2s), "");
    EXPECT_EQ(song(3s, 0x90, 64, 100), range3("0") + " | E0 02 3D | 90 40 64");
}

TEST(BendRetuner, WithNoChannelLeftANoteTakesTheNearestAndIsCounted) {
    // Every channel but the drums' in the song's use.
    Retuning full(0xFDFF);
    EXPECT_EQ(full(0s, 0x90, 60, 100), range3("0") + " | E0 00 40 | 90 3C 64");
    EXPECT_EQ(full(0s, 0x90, 64, 100), "90 40 64");
    EXPECT_EQ(full(0s, 0x90, 62, 100), "90 3E 64");
    EXPECT_EQ(describeOffTuning(full.retuner().report()),
              "2 of 3 notes played up to 14 cents from their tuning");

    // Twelve pitch classes at once take twelve channels, never the drums'.
    Retuning chord(0x0001);
    std::string channels;
    for (int key = 60; key < 72; ++key) {
        const std::string out = chord(0s, 0x90, static_cast<std::uint8_t>(key), 100);
        channels += out.substr(out.size() - 7, 1);  // the channel of the Note On
    }
    EXPECT_EQ(channels, "012345678ABC");
    EXPECT_EQ(chord.retuner().report().offTuning, 0u);
}

TEST(BendRetuner, ChannelsInUseAndRhythmPartsComeFromTheSong) {
    // Channel 3 plays; a GS message makes channel 5 a rhythm part.
    const std::vector<std::uint8_t> song = {
        'M',  'T',  'h',  'd',  0,    0,    0,    6,    0,    0,  0,    1,    0,    96, 'M',
        'T',  'r',  'k',  0,    0,    0,    21,   0,    0x93, 60, 100,  0,    0xF0, 10, 0x41,
        0x10, 0x42, 0x12, 0x40, 0x16, 0x15, 0x01, 0x14, 0xF7, 0,  0xFF, 0x2F, 0};
    const ChannelUse use = channelUseOf(song);
    EXPECT_EQ(use.used, 0x0008);
    EXPECT_EQ(use.rhythm, 0x0220);
}

// 19 equal steps to the octave from middle C, keys 61 and 62 left unmapped.
TuningValue nineteenFromC() {
    KeyPitches keys;
    for (int k = 0; k < 128; ++k)
        keys.cents[static_cast<std::size_t>(k)] = 6000 + (k - 60) * 1200.0 / 19;
    keys.sounds.set();
    keys.sounds.reset(61);
    keys.sounds.reset(62);
    TuningValue value;
    value.setKeys(keys);
    return value;
}

TEST(BendRetuner, AKeyTunedFarOffPlaysFromTheKeyNearestItsPitchAndUnmappedKeysAreSilent) {
    Retuning song(DeviceType::Bend, nineteenFromC(), 0x0001);
    EXPECT_EQ(song(0s, 0x90, 60, 100), range3("0") + " | E0 00 40 | 90 3C 64");
    // Key 64, four steps up, sounds at 6252.6 cents: from key 63, bent 47 cents down, on a
    // channel of its own.
    EXPECT_EQ(song(0s, 0x90, 64, 100), range3("1") + " | E1 73 35 | 91 3F 64");
    EXPECT_EQ(song(0s, 0xA0, 64, 20), "A1 3F 14");  // its pressure and Note Off follow it there
    EXPECT_EQ(song(1s, 0x80, 64, 0), "81 3F 00");
    EXPECT_EQ(song(1s, 0x90, 61, 100), "");  // unmapped: not played, and neither is its end
    EXPECT_EQ(song(1s, 0xA0, 61, 20), "");
    EXPECT_EQ(song(2s, 0x80, 61, 0), "");
    EXPECT_EQ(song(2s, 0x80, 61, 0), "80 3D 00");  // a Note Off of nothing goes on as it came
    const RetuneReport report = song.retuner().report();
    EXPECT_EQ(report.notes, 3u);
    EXPECT_EQ(report.silent, 1u);
    EXPECT_EQ(describeOffTuning(report),
              "1 of 3 notes fell on keys the scale leaves unmapped and were not played");
}

TEST(TuningProgramRetuner, EachChannelSelectsTheTuningBeforeItsFirstNoteAndAgainAfterAReset) {
    const std::string select0 = "B0 65 00 | B0 64 04 | B0 06 00 | B0 64 03 | B0 06 00";
    Retuning song(DeviceType::MtsKeys, nineteenFromC(), 0x0003);
    EXPECT_EQ(song(0s, 0xB0, 7, 90), "B0 07 5A");
    EXPECT_EQ(song(0s, 0x90, 60, 100), select0 + " | B0 65 7F | B0 64 7F | 90 3C 64");
    EXPECT_EQ(song(0s, 0x90, 64, 100), "90 40 64");        // the module tunes every key itself
    EXPECT_EQ(song(0s, 0x99, 36, 100, true), "99 24 64");  // drums as they came
    // The song's own RPN 0 selection is put back after the tuning's.
    EXPECT_EQ(song(0s, 0xB1, 101, 0), "B1 65 00");
    EXPECT_EQ(song(0s, 0xB1, 100, 0), "B1 64 00");
    EXPECT_EQ(song(0s, 0x91, 67, 100),
              "B1 65 00 | B1 64 04 | B1 06 00 | B1 64 03 | B1 06 00 | B1 65 00 | B1 64 00 | "
              "91 43 64");
    EXPECT_EQ(song(1s, 0x90, 62, 100), "");  // unmapped
    EXPECT_EQ(song(1s, 0x80, 62, 0), "");
    EXPECT_EQ(song.reset(2s), "");
    EXPECT_EQ(song(2s, 0x90, 60, 100), select0 + " | B0 65 7F | B0 64 7F | 90 3C 64");
    EXPECT_EQ(song.retuner().report().notes, 5u);
    EXPECT_EQ(song.retuner().report().silent, 1u);
}

TEST(TuningProgramRetuner, TheTuningGoesOutAsTwoMessagesOfSixtyFourKeys) {
    SysExList out;
    ASSERT_TRUE(dialectOf(DeviceType::MtsKeys).tuningMessages(nineteenFromC(), 0x0002, out));
    ASSERT_EQ(out.count(), 2u);
    // Channel 1's tuning: key 60 at 60 + 0 in the first, key 64 at 62 + 53 cents in the second.
    EXPECT_EQ(out[1][8], 0x40);
    EXPECT_EQ(std::vector<std::uint8_t>(out[0].begin() + 9 + 60 * 4, out[0].begin() + 9 + 61 * 4),
              (std::vector<std::uint8_t>{0x3C, 0x3C, 0x00, 0x00}));
    EXPECT_EQ(std::vector<std::uint8_t>(out[1].begin() + 9, out[1].begin() + 13),
              (std::vector<std::uint8_t>{0x40, 0x3E, 0x43, 0x6C}));
}

TEST(TuningProgramRetuner, ANoteWithAPitchOfItsOwnRetunesItsKeyInItsChannelsProgram) {
    const std::string select = "B0 65 00 | B0 64 04 | B0 06 00 | B0 64 03 | B0 06 00";
    Retuning song(DeviceType::MtsKeys, TuningValue(), 0x0003);
    // A just third above C: key 64 at 63 semitones and 86 cents, said a hair above.
    EXPECT_EQ(song.planned(-13.69)(0s, 0x90, 64, 100),
              select + " | B0 65 7F | B0 64 7F | 90 40 64");
    EXPECT_EQ(song.sysex(), "F0 0B 7F 7F 08 02 00 01 40 3F 6E 0B F7 |");
    // The same key on channel 1 meanwhile: program 1, given the whole tuning first.
    EXPECT_EQ(song.planned(1.96)(0s, 0x91, 64, 100),
              "B1 65 00 | B1 64 04 | B1 06 00 | B1 64 03 | B1 06 01 | B1 65 7F | B1 64 7F | "
              "91 40 64");
    const std::string programOne = song.sysex();
    EXPECT_EQ(programOne.substr(0, 26), "F0 82 07 7F 7F 08 02 01 40");
    EXPECT_EQ(programOne.substr(programOne.size() - 45),
              "F7 | F0 0B 7F 7F 08 02 01 01 40 40 02 48 F7 |");
    // Struck again on its channel while it sounds: a change would move the sounding note.
    song.planned(1.96)(0s, 0x90, 64, 100);
    EXPECT_EQ(song.sysex(), "");
    EXPECT_EQ(song.retuner().report().offTuning, 1u);
    EXPECT_NEAR(song.retuner().report().worstCents, 15.65, 0.001);
    song(1s, 0x80, 64, 0);
    song(1s, 0x80, 64, 0);
    song.planned(1.96)(1s, 0x90, 64, 100);
    EXPECT_EQ(song.sysex(), "F0 0B 7F 7F 08 02 00 01 40 40 02 48 F7 |");
    // Struck again at the same whole cent: nothing to say.
    song(2s, 0x80, 64, 0);
    song.planned(2.2)(2s, 0x90, 64, 100);
    EXPECT_EQ(song.sysex(), "");
    // Let go under the pedal, it rings on: the key keeps its pitch for the next note.
    song(3s, 0xB0, 64, 127);
    song(3s, 0x80, 64, 0);
    song.planned(-13.69)(3s, 0x90, 64, 100);
    EXPECT_EQ(song.sysex(), "");
    EXPECT_EQ(song.retuner().report().offTuning, 2u);
    song(4s, 0xB0, 64, 0);
    song(4s, 0x80, 64, 0);
    // After a reset the module has the whole tuning again: equal temperament needs nothing.
    song.reset(5s);
    song.planned(0.0)(5s, 0x90, 64, 100);
    EXPECT_EQ(song.sysex(), "");
    // A drum is never retuned; a note without a pitch of its own plays its key's, in program 0.
    song.planned(5.0)(5s, 0x99, 36, 100, true);
    EXPECT_EQ(song.sysex(), "");
    EXPECT_EQ(song(5s, 0x91, 65, 100),
              "B1 65 00 | B1 64 04 | B1 06 00 | B1 64 03 | B1 06 00 | B1 65 7F | B1 64 7F | "
              "91 41 64");
    EXPECT_EQ(song.sysex(), "");
}

TEST(BendRetuner, ANoteWithAPitchOfItsOwnIsBentToItOnAChannelOfItsOwn) {
    Retuning song(DeviceType::Bend, TuningValue(), 0x0001);
    // E a just third above C: bent 13.70 cents down (7818), on channel 1 while C sounds on 0.
    EXPECT_EQ(song.planned(0.0)(0s, 0x90, 60, 100), range3("0") + " | E0 00 40 | 90 3C 64");
    EXPECT_EQ(song.planned(-13.69)(0s, 0x90, 64, 100), range3("1") + " | E1 0A 3D | 91 40 64");
    // The planned pitch holds for its one note: the next note of the key plays its tuning.
    EXPECT_EQ(song(0s, 0x90, 67, 100), "90 43 64");
    EXPECT_EQ(song.sysex(), "");
}

TEST(WhyCannotPlay, AdaptiveJustNeedsADialectThatTunesEachNote) {
    TuningState state;
    state.songTuning = SongTuning::Adaptive;
    for (const DeviceType type :
         {DeviceType::GS, DeviceType::XG, DeviceType::MTS, DeviceType::GM}) {
        EXPECT_EQ(whyCannotPlay(type, state),
                  "Adaptive just gives every note a pitch of its own: choose MTS keys or Bend to "
                  "play it.");
    }
    EXPECT_FALSE(whyCannotPlay(DeviceType::MtsKeys, state));
    EXPECT_FALSE(whyCannotPlay(DeviceType::Bend, state));
    state.songTuning = SongTuning::Fitted;
    EXPECT_FALSE(whyCannotPlay(DeviceType::GS, state));
}

TEST(WhyCannotPlay, TwelveOffsetDialectsRefuseAScaleBeyondThemAndSayWhatToChoose) {
    TuningState state;
    for (const Dialect& d : dialects())
        EXPECT_FALSE(whyCannotPlay(d.type, state)) << d.name;
    auto scala = std::make_shared<ScalaInForce>();
    scala->whyNotTwelve = "This scale has 19 notes";
    state.setScala(scala);
    for (const DeviceType type :
         {DeviceType::GS, DeviceType::XG, DeviceType::MTS, DeviceType::GM}) {
        EXPECT_EQ(whyCannotPlay(type, state),
                  "This scale has 19 notes: choose MTS keys or Bend to play it.");
    }
    EXPECT_FALSE(whyCannotPlay(DeviceType::MtsKeys, state));
    EXPECT_FALSE(whyCannotPlay(DeviceType::Bend, state));
    // Its value has no twelve offsets to send; one that fits twelve keeps them, moved as a
    // whole only where a key's own pitch can be said.
    EXPECT_FALSE(state.value().pitchClassOffsets(0));
    auto fits = std::make_shared<ScalaInForce>();
    fits->twelve = true;
    fits->referenceShift = -2.0;
    state.setOffsets({0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0});
    state.setScala(fits);
    EXPECT_EQ(state.value().pitchClassOffsets(0),
              (PitchClassOffsets{0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0}));
    EXPECT_EQ(state.value().pitch(3, 69), 6903.0);
    EXPECT_FALSE(whyCannotPlay(DeviceType::GS, state));
}

}  // namespace
}  // namespace pitchloom

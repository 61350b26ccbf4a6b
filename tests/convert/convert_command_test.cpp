#include "convert/convert_command.h"
#include "session/session.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <filesystem>

#include "base/file_io.h"
#include "support/midi_builder.h"
#include "support/scripted_dialogs.h"
#include "tuning/song_tuning.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;
using Texts = std::vector<std::string>;

const Bytes kGsReset = {0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kRhythmPart11 = {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12,
                             0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7};

Bytes readBack(const std::string& path) {
    return readFile(path, kSongBufferSize + 1).bytes;
}

// A song's events after its reset at time 0: a program change, then C#, a drum and its end.
TrackBuilder& songBody(TrackBuilder& t) {
    return t.programChange(0, 0, 5)
        .noteOn(480, 0, 61, 100)
        .noteOn(0, 9, 61, 100)
        .noteOff(240, 0, 61)
        .endOfTrack();
}

Bytes resetSong() {
    TrackBuilder t;
    return test::format0(480, songBody(t.sysex(0, kGsReset)));
}

class ConvertTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(song.create());
        dir = test::makeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        input = dir + "/in.mid";
        output = dir + "/out.mid";
    }

    // Writes the source file; the dialogs will open it and then answer `save`.
    void source(const Bytes& file, std::optional<std::string> save) {
        ASSERT_TRUE(writeFile(input, file).ok());
        dialogs.willOpen(input);
        dialogs.willSave(std::move(save));
    }

    bool convert(DeviceType type, bool playing = false) {
        session.deviceType = type;
        return session.convert(playing);
    }

    test::ScriptedDialogs dialogs;
    Session session{dialogs};
    MidiSong& song = session.song;
    TuningState& tuning = session.tuning;
    SongLoader& loader = session.loader;
    std::string dir, input, output;
};

using Convert = ConvertTest;
using ConvertRefusal = ConvertTest;
using ConvertByBend = ConvertTest;

TEST_F(Convert, GmMovesNotesAddsNothingAndReplacesTheTarget) {
    tuning.setScaleMarks({1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0});
    ASSERT_TRUE(writeFile(output, Bytes(5000, 0xAA)).ok());
    source(resetSong(), output);
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
    EXPECT_EQ(readBack(input), resetSong());
    ASSERT_EQ(dialogs.texts(), Texts{"Information has been written to the file!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    ASSERT_EQ(dialogs.saveFilters().size(), 1u);
    EXPECT_EQ(dialogs.saveFilters()[0].pattern, "*.mid");
    EXPECT_EQ(dialogs.saveFilters()[0].defaultExtension, "mid");
}

TEST_F(Convert, ARealShapedSongGivesItsGoldenFileForGsAndGm) {
    tuning.selectScaleRow(1, 7);   // Pentatonic in C
    tuning.selectTuningRow(1, 7);  // Just Intonation
    const Bytes song = readBack(test::testData("songs/reset-and-rhythm.mid"));
    ASSERT_EQ(song.size(), 146u);
    source(song, output);
    ASSERT_TRUE(convert(DeviceType::GS));
    EXPECT_EQ(readBack(output), test::readHexFile(test::testData("songs/reset-and-rhythm.gs.hex")));
    source(song, output);
    ASSERT_TRUE(convert(DeviceType::GM));
    EXPECT_EQ(readBack(output), test::readHexFile(test::testData("songs/reset-and-rhythm.gm.hex")));
}

TEST_F(Convert, BytesInsideAnEscapeOrAMessageAreNeverMoved) {
    tuning.setScaleMarks({1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0});  // C D E G A
    Bytes escape = {0xF7, 0x81, 0x48};                           // 200 bytes that look like notes
    for (int i = 0; i < 100; ++i)
        escape.insert(escape.end(), {0x90, 0x3D});
    const Bytes text = {0xFF, 0x08, 0x81, 0x00};  // a program name of 128 bytes
    TrackBuilder t;
    t.raw(0, escape).raw(0, Bytes(text)).noteOn(0, 0, 61, 100);
    Bytes source0 = test::format0(96, t);
    source0.insert(source0.end() - 4, 128, 0x3D);  // the name's bytes, before the note
    writeBe32(source0, kTrackLengthOffset, static_cast<std::uint32_t>(source0.size() - 22));
    source(source0, output);
    ASSERT_TRUE(convert(DeviceType::GM));
    Bytes expected = source0;
    expected[expected.size() - 2] = 62;  // only the note moves, C# to D
    EXPECT_EQ(readBack(output), expected);
}

TEST_F(Convert, AnUnknownMetaEventIsReportedOnceWhateverTheType) {
    TrackBuilder t;
    t.meta(0, 0x60, {1, 2}).tempo(10, 500000).noteOn(10, 0, 60, 100);
    source(test::format0(96, t), output);
    ASSERT_TRUE(convert(DeviceType::XG));
    EXPECT_EQ(dialogs.texts(),
              (Texts{"Event Error!", "Information has been written to the file!"}));
}

TEST_F(Convert, MtsGoesAfterTheLastResetForTheChannelsThatAreNoDrumsThere) {
    tuning.selectTuningRow(1, 7);  // Just Intonation in C
    TrackBuilder t;
    t.sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});  // part 11: drums
    t.sysex(0, kGsReset).noteOn(480, 0, 60, 100).endOfTrack();
    source(test::format0(480, t), output);
    ASSERT_TRUE(convert(DeviceType::MTS));
    TrackBuilder expected;
    expected.sysex(0, {0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7});
    expected.sysex(0, kGsReset);
    // Every channel but 10 and 11; C 0, C# -8, D +4, D# +16, E -14, F -2, F# -10, G +2, G# -6,
    // A +6, A# +18, B -12.
    expected.raw(0, {0xF0, 0x14, 0x7F, 0x7F, 0x08, 0x08, 0x03, 0x73, 0x7F, 0x40, 0x38,
                     0x44, 0x50, 0x32, 0x3E, 0x36, 0x42, 0x3A, 0x46, 0x52, 0x34, 0xF7});
    expected.noteOn(480, 0, 60, 100).endOfTrack();
    EXPECT_EQ(readBack(output), test::format0(480, expected));
}

TEST_F(Convert, XgPutsOneHundredNinetyTwoMessagesAtTheStartNewestFirst) {
    tuning.selectTuningRow(3, 8);  // Arabian in G
    const TrackBuilder plain = TrackBuilder().tempo(0, 500000).noteOn(96, 0, 60, 100);
    source(test::format0(96, plain), output);
    ASSERT_TRUE(convert(DeviceType::XG));
    // Arabian in G, as data bytes for C .. B: C -8, C# +43, D -4, D# +47, E 0, F -10, F# -49,
    // G -6, G# +45, A -2, A# -12, B -51.
    const Bytes values = {0x38, 0x6B, 0x3C, 0x6F, 0x40, 0x36, 0x0F, 0x3A, 0x6D, 0x3E, 0x34, 0x0D};
    TrackBuilder expected;
    for (int part = 15; part >= 0; --part) {
        for (int n = 11; n >= 0; --n) {
            expected.raw(0, {0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, static_cast<std::uint8_t>(part),
                             static_cast<std::uint8_t>(0x41 + n),
                             values[static_cast<std::size_t>(n)], 0xF7});
        }
    }
    const Bytes out = readBack(output);
    EXPECT_EQ(out, test::format0(96, expected.tempo(0, 500000).noteOn(96, 0, 60, 100)));
    EXPECT_EQ(out.size(), test::format0(96, plain).size() + 2112);
    EXPECT_EQ(readBe32(out, kTrackLengthOffset), plain.bytes().size() + 2112);
}

TEST_F(Convert, MergesAFormatOneSourceAndForgetsEarlierRhythmMarks) {
    tuning.setScaleMarks({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    tuning.rhythm.examineForRhythm(kRhythmPart11);  // left by an earlier song
    source(test::smf(1, 480,
                     {TrackBuilder().tempo(0, 500000).endOfTrack().bytes(),
                      TrackBuilder().noteOn(480, 10, 61, 100).endOfTrack().bytes()}),
           output);
    ASSERT_TRUE(convert(DeviceType::GM));
    EXPECT_EQ(
        readBack(output),
        test::format0(480, TrackBuilder().tempo(0, 500000).noteOn(480, 10, 72, 100).endOfTrack()));
}

Bytes bendSong(const std::vector<Bytes>& events) {
    Bytes track;
    for (const Bytes& e : events)
        track.insert(track.end(), e.begin(), e.end());
    return test::smf(0, 480, {track});
}

// At delta 0 on channel c: RPN 0 to a bend range of 3 semitones, then RPN null.
Bytes range3(std::uint8_t c) {
    const auto b = static_cast<std::uint8_t>(0xB0 | c);
    return {0, b, 0x65, 0, 0, 0x64, 0, 0, 0x06, 3, 0, 0x26, 0, 0, 0x65, 0x7F, 0, 0x64, 0x7F};
}

TEST_F(ConvertByBend, TheReleaseGuardRunsOnTheTempoMapAndABorrowedChannelBecomesThePart) {
    tuning.selectTuningRow(1, 7);  // Just Intonation in C: E -14 cents, D +4
    const Bytes head = {0x00, 0xC0, 0x05};
    const Bytes e = {0x00, 0xE0, 0x02, 0x3D, 0x00, 0x90, 0x40, 0x64};  // 7810: -14 cents
    const Bytes eOff = {0x83, 0x60, 0x80, 0x40, 0x40};
    const Bytes tempo60 = {0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40};
    const Bytes drumAndReset = {0x00, 0x99, 0x24, 0x64, 0x00, 0xF0, 0x0A, 0x41, 0x10,
                                0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
    const Bytes end = {0x00, 0xFF, 0x2F, 0x00};
    // D starts 500 ms after E ends, at the new tempo; the song's centred bend before it changes
    // nothing, and its time goes to D.
    const Bytes song = bendSong({head,
                                 {0x00, 0x90, 0x40, 0x64},
                                 eOff,
                                 tempo60,
                                 {0x78, 0xE0, 0x00, 0x40},
                                 {0x78, 0x90, 0x3E, 0x64},
                                 {0x83, 0x60, 0x80, 0x3E, 0x40},
                                 drumAndReset,
                                 {0x00, 0x90, 0x40, 0x64},
                                 eOff,
                                 end});
    source(song, output);
    ASSERT_TRUE(convert(DeviceType::Bend));  // a guard of 300 ms: channel 1 bends anew
    EXPECT_EQ(readBack(output),
              bendSong({head,
                        range3(0),
                        e,
                        eOff,
                        tempo60,
                        {0x81, 0x70, 0xE0, 0x6F, 0x40, 0x00, 0x90, 0x3E, 0x64},  // 8303: +4 cents
                        {0x83, 0x60, 0x80, 0x3E, 0x40},
                        drumAndReset,
                        range3(0),
                        e,
                        eOff,
                        end}));

    ConvertSettings longer;
    longer.retune.releaseGuard = std::chrono::milliseconds(600);
    source(song, output);
    const ConvertOutcome outcome = convertSong(
        session.song, loader, tuning, std::array{DeviceType::Bend}, dialogs, false, longer);
    ASSERT_TRUE(outcome.written);
    EXPECT_EQ(readBack(output), bendSong({head,
                                          range3(0),
                                          e,
                                          eOff,
                                          tempo60,
                                          {0x81, 0x70, 0xC1, 0x05},
                                          range3(1),
                                          {0x00, 0xE1, 0x6F, 0x40, 0x00, 0x91, 0x3E, 0x64},
                                          {0x83, 0x60, 0x81, 0x3E, 0x40},
                                          drumAndReset,
                                          range3(0),
                                          e,
                                          eOff,
                                          end}));
    ASSERT_TRUE(outcome.retune);
    EXPECT_EQ(outcome.retune->notes, 3u);
}

TEST_F(ConvertByBend, TheWrittenBoxTellsOfNotesOffTheirTuning) {
    tuning.selectTuningRow(1, 7);
    TrackBuilder t;  // every channel in use: E finds none to borrow while C sounds
    for (int c = 0; c < 16; ++c)
        t.programChange(0, c, 0);
    source(test::format0(480, t.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100)), output);
    ASSERT_TRUE(convert(DeviceType::Bend));
    EXPECT_EQ(dialogs.texts(), Texts{"Information has been written to the file!\n"
                                     "1 of 2 notes played up to 14 cents from their tuning"});
}

TEST_F(ConvertByBend, ASongTheBendsWouldGrowPastTheBufferIsLeftAlone) {
    // Header, a text meta and E: with the range and the bend (23 bytes), a full buffer.
    const Bytes text(kSongBufferSize - 23 - 32, 'x');
    const Bytes large = test::format0(96, TrackBuilder().meta(0, 0x01, text).noteOn(0, 0, 64, 100));
    tuning.selectTuningRow(1, 7);
    source(large, output);
    EXPECT_FALSE(convert(DeviceType::Bend));
    EXPECT_EQ(dialogs.texts(), Texts{"The converted song is too large!"});
    EXPECT_EQ(Bytes(song.image().begin(), song.image().end()), large);
}

// A Scala scale of 19 notes in force, as loading 19edo.scl on C leaves it.
void nineteenInForce(TuningState& tuning) {
    auto scala = std::make_shared<ScalaInForce>();
    scala->noteCount = 19;
    scala->whyNotTwelve = "This scale has 19 notes";
    for (int k = 0; k < 128; ++k) {
        scala->keys.cents[static_cast<std::size_t>(k)] = 6000 + (k - 60) * 1200.0 / 19;
    }
    scala->keys.sounds.set();
    tuning.setScala(scala);
}

TEST_F(ConvertByBend, MtsKeysTunesEveryKeyAndEachChannelSelectsItBeforeItsFirstNote) {
    nineteenInForce(tuning);
    source(test::format0(480, TrackBuilder().noteOn(0, 0, 64, 100).noteOn(0, 9, 36, 100)), output);
    ASSERT_TRUE(convert(DeviceType::MtsKeys));
    const Bytes out = readBack(output);
    // Header and track header, then at delta 0 the two messages of 266 bytes, the last inserted
    // first as every inserted tuning: keys 64 to 127, then 0 to 63.
    constexpr std::size_t kEvents = 22;
    const std::size_t second = kEvents + 1 + 266;
    for (const std::size_t at : {kEvents, second}) {
        EXPECT_EQ(Bytes(out.begin() + at, out.begin() + at + 9),
                  (Bytes{0x00, 0xF0, 0x82, 0x07, 0x7F, 0x7F, 0x08, 0x02, 0x00}));
    }
    // Key 64 at 62 and 53 cents; key 0, 60 steps down, at 22 and 11 cents.
    EXPECT_EQ(Bytes(out.begin() + kEvents + 9, out.begin() + kEvents + 14),
              (Bytes{0x40, 0x40, 0x3E, 0x43, 0x6C}));
    EXPECT_EQ(Bytes(out.begin() + second + 9, out.begin() + second + 14),
              (Bytes{0x40, 0x00, 0x16, 0x0E, 0x0B}));
    // Channel 1 selects tuning program 0 of bank 0 before its note; the drum note is as it was.
    EXPECT_EQ(Bytes(out.begin() + second + 267, out.end()),
              (Bytes{0x00, 0xB0, 0x65, 0x00, 0x00, 0x64, 0x04, 0x00, 0x06, 0x00,
                     0x00, 0x64, 0x03, 0x00, 0x06, 0x00, 0x00, 0x65, 0x7F, 0x00,
                     0x64, 0x7F, 0x00, 0x90, 0x40, 0x64, 0x00, 0x99, 0x24, 0x64}));
}

TEST_F(ConvertByBend, AdaptiveJustRetunesEachKeyForTheNoteAboutToStartOnIt) {
    setSongTuning(tuning, SongTuning::Adaptive);
    source(test::cMajorTriadSong(), output);
    ASSERT_TRUE(convert(DeviceType::MtsKeys));
    const Bytes out = readBack(output);
    // After the two messages of the whole tuning (equal temperament), the triad pure: C at
    // +4 cents, E at -10, G at +6, each key tuned just before its note.
    const std::size_t first = 22 + 2 * 267;
    ASSERT_GT(out.size(), first + 76);
    EXPECT_EQ(Bytes(out.begin() + first, out.begin() + first + 76),
              (Bytes{0x00, 0xF0, 0x0B, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x3C, 0x3C, 0x05, 0x10,
                     0xF7, 0x00, 0xB0, 0x65, 0x00, 0x00, 0x64, 0x04, 0x00, 0x06, 0x00, 0x00, 0x64,
                     0x03, 0x00, 0x06, 0x00, 0x00, 0x65, 0x7F, 0x00, 0x64, 0x7F, 0x00, 0x90, 0x3C,
                     0x64, 0x00, 0xF0, 0x0B, 0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x40, 0x3F, 0x73,
                     0x1A, 0xF7, 0x00, 0x90, 0x40, 0x64, 0x00, 0xF0, 0x0B, 0x7F, 0x7F, 0x08, 0x02,
                     0x00, 0x01, 0x43, 0x43, 0x07, 0x58, 0xF7, 0x00, 0x90, 0x43, 0x64}));
    EXPECT_TRUE(dialogs.texts() == Texts{"Information has been written to the file!"});
}

TEST_F(ConvertRefusal, AScaleBeyondTwelveKeysIsRefusedBeforeAnythingIsAsked) {
    nineteenInForce(tuning);
    source(test::format0(480, TrackBuilder().noteOn(0, 0, 64, 100)), output);
    EXPECT_FALSE(convert(DeviceType::GS));
    EXPECT_EQ(dialogs.texts(),
              Texts{"This scale has 19 notes: choose MTS keys or Bend to play it."});
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ConvertRefusal, WhilePlayingNothingIsAskedOrLoaded) {
    EXPECT_FALSE(convert(DeviceType::GS, true));
    ASSERT_EQ(dialogs.texts(), Texts{"Stop playing first!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(dialogs.openCount(), 0);
}

TEST_F(ConvertRefusal, CancelledDialogsWriteAndShowNothing) {
    dialogs.willOpen(std::nullopt);
    EXPECT_FALSE(convert(DeviceType::XG));
    EXPECT_EQ(dialogs.saveCount(), 0);

    source(resetSong(), std::nullopt);
    EXPECT_FALSE(convert(DeviceType::XG));
    EXPECT_EQ(dialogs.saveCount(), 1);
    EXPECT_TRUE(dialogs.texts().empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

TEST_F(ConvertRefusal, ASongThatWouldOutgrowTheBufferIsLeftAlone) {
    // Header, text meta, note-on and end of track fill all but the 384 bytes that GS adds.
    const std::size_t textSize = kSongBufferSize - 384 - 22 - 6 - 4 - 4;
    const Bytes file = test::format0(
        96, TrackBuilder().meta(0, 0x01, Bytes(textSize, 'x')).noteOn(0, 0, 61, 1).endOfTrack());
    tuning.rhythm.examineForRhythm(kRhythmPart11);
    source(file, output);
    EXPECT_FALSE(convert(DeviceType::XG));
    ASSERT_EQ(dialogs.texts(), Texts{"The converted song is too large!"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_EQ(dialogs.saveCount(), 0);
    EXPECT_EQ(Bytes(song.image().begin(), song.image().end()), file);
    EXPECT_TRUE(tuning.rhythm.isRhythm(10)) << "not even the rhythm marks change";

    // GS would make it exactly as large as the buffer, which no load takes: refused too.
    dialogs.clear();
    source(file, output);
    EXPECT_FALSE(convert(DeviceType::GS));
    EXPECT_EQ(dialogs.texts(), Texts{"The converted song is too large!"});

    // One byte less is written, and loads again.
    const Bytes smaller = test::format0(
        96,
        TrackBuilder().meta(0, 0x01, Bytes(textSize - 1, 'x')).noteOn(0, 0, 61, 1).endOfTrack());
    dialogs.clear();
    source(smaller, output);
    EXPECT_TRUE(convert(DeviceType::GS));
    EXPECT_EQ(readBack(output).size(), kSongBufferSize - 1);
    EXPECT_TRUE(loader.loadSongFromPath(output));
}

TEST_F(ConvertRefusal, AnUnwritableTargetSaysSoAndLeavesNothingBehind) {
    const std::string taken = dir + "/taken.mid";  // a folder cannot be replaced by a file
    std::filesystem::create_directory(taken);
    source(resetSong(), taken);
    EXPECT_FALSE(convert(DeviceType::GS));
    ASSERT_EQ(dialogs.texts(), Texts{"Can not open file!"});
    EXPECT_EQ(dialogs.details(), Texts{taken + ": Is a directory"});
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_TRUE(std::filesystem::is_directory(taken));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);

    // A read-only target is refused as well, and stays as it was.
    const std::string readOnly = dir + "/read-only.mid";
    ASSERT_TRUE(writeFile(readOnly, Bytes{1, 2, 3}).ok());
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_read);
    dialogs.clear();
    source(resetSong(), readOnly);
    EXPECT_FALSE(convert(DeviceType::GS));
    EXPECT_EQ(dialogs.texts(), Texts{"Can not open file!"});
    EXPECT_EQ(readBack(readOnly), (Bytes{1, 2, 3}));
}

}  // namespace
}  // namespace pitchloom

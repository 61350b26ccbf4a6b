#include "tuning/scale_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "support/midi_builder.h"
#include "tuning/controls_harness.h"

namespace pitchloom {
namespace {

namespace fs = std::filesystem;

constexpr int kKeyG = 8;
constexpr int kKeyD = 9;
constexpr int kPentatonic = 1;
constexpr int kJust = 1;
constexpr int kArabian = 3;

// Key "G", "Just Intonation", "Pentatonic", as a scale file.
constexpr std::array<std::uint8_t, 64> kGJustPentatonic = {
    0xFE, 0xFF, 0xFF, 0xFF, 0xF6, 0xFF, 0xFF, 0xFF,              // C -2, C# -10
    0x02, 0x00, 0x00, 0x00, 0xFA, 0xFF, 0xFF, 0xFF,              // D 2, D# -6
    0x06, 0x00, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00,              // E 6, F 18
    0xF4, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00,              // F# -12, G 0
    0xF8, 0xFF, 0xFF, 0xFF, 0x04, 0x00, 0x00, 0x00,              // G# -8, A 4
    0x10, 0x00, 0x00, 0x00, 0xF2, 0xFF, 0xFF, 0xFF,              // A# 16, B -14
    0,    0,    1,    0,    1,    0,    0,    1,    0, 1, 0, 1,  // D E G A B
    0x08, 0x00, 0x00, 0x00,                                      // key row 8
};

const Offsets kGJustOffsets = {-2, -10, 2, -6, 6, 18, -12, 0, -8, 4, 16, -14};
const ScaleMarks kGPentatonicMarks = {0, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1};

std::vector<std::uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeAll(const fs::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

TEST(ScaleFileFormat, SerializeThenParseGivesTheSameValues) {
    ScaleFileData d;
    d.offsets = {-64, -51, -1, 0, 1, 47, 63, 12, -12, 5, -5, 50};
    d.marks = {1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 1};
    d.keyRow = 14;
    const auto bytes = serializeScaleFile(d);
    const auto back = parseScaleFile(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->offsets, d.offsets);
    EXPECT_EQ(back->marks, d.marks);
    EXPECT_EQ(back->keyRow, 14);
}

TEST(ScaleFileFormat, WritesLittleEndianInTheFixedLayout) {
    ScaleFileData d;
    d.offsets = kGJustOffsets;
    d.marks = kGPentatonicMarks;
    d.keyRow = kKeyG;
    EXPECT_EQ(serializeScaleFile(d), kGJustPentatonic);
}

TEST(ScaleFileFormat, ClampsOffsetsAtTheEdgesOfADataByte) {
    ScaleFileData d;
    d.marks.fill(1);
    d.offsets = {63, 64, -64, -65, INT_MAX, INT_MIN, 100, -100, 0, 0, 0, 0};
    const auto back = parseScaleFile(serializeScaleFile(d));
    ASSERT_TRUE(back);
    const Offsets clamped = {63, 63, -64, -64, 63, -64, 63, -64, 0, 0, 0, 0};
    EXPECT_EQ(back->offsets, clamped);
}

class ScaleFileCommandsTest : public ::testing::Test, protected test::ControlsHarness {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("pitchloom-scale-" + std::to_string(std::random_device{}()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        controls.initTuningControls();
        reset();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const std::string& name) const { return dir_ / name; }

    void reset() {
        view.log.clear();
        dialogs.clear();
        notesOff = 0;
        state.tuningChanged = 0;
    }

    void saveTo(const fs::path& path) {
        dialogs.willSave(path.string());
        controls.saveScaleFile();
    }
    void loadFrom(const fs::path& path) {
        dialogs.willOpen(path.string());
        controls.loadScaleFile();
    }

    void chooseGJustPentatonic() {
        choose(TuningList::Key, kKeyG);
        choose(TuningList::Tuning, kJust);
        choose(TuningList::Scale, kPentatonic);
    }

    /// A file with the given offsets, marks and key row, written byte by byte.
    fs::path damagedFile(const std::string& name, const Offsets& offsets, const ScaleMarks& marks,
                         std::int32_t keyRow) {
        ScaleFileData d;
        d.offsets = offsets;
        d.marks = marks;
        d.keyRow = keyRow;
        writeAll(file(name), serializeScaleFile(d));
        return file(name);
    }

    fs::path dir_;
};

TEST_F(ScaleFileCommandsTest, SaveWritesOffsetsMarksAndKeyRow) {
    chooseGJustPentatonic();
    state.savedKeyIndex = 0;
    saveTo(file("g.sca"));

    const auto bytes = readAll(file("g.sca"));
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(kGJustPentatonic.begin(), kGJustPentatonic.end()));
    EXPECT_EQ(state.savedKeyIndex, kKeyG);
    EXPECT_TRUE(dialogs.boxes().empty());
    ASSERT_EQ(dialogs.saveFilters().size(), 2u);
    EXPECT_EQ(dialogs.saveFilters()[0].description, "scale files");
    EXPECT_EQ(dialogs.saveFilters()[0].pattern, "*.sca");
    EXPECT_EQ(dialogs.saveFilters()[0].defaultExtension, "sca");
    EXPECT_EQ(dialogs.saveFilters()[1].description, "Scala scale files");
    EXPECT_EQ(dialogs.saveFilters()[1].pattern, "*.scl");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
        << "no temporary file is left beside it";
}

TEST_F(ScaleFileCommandsTest, SaveRightAfterStartUp) {
    saveTo(file("start.sca"));
    const auto data = parseScaleFile(readAll(file("start.sca")));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->offsets, TuningTable[kJust].cents);
    EXPECT_EQ(data->marks, (ScaleMarks{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(data->keyRow, kDefaultKeyRow);
}

TEST_F(ScaleFileCommandsTest, SaveReplacesAnExistingFile) {
    writeAll(file("old.sca"), std::vector<std::uint8_t>(100, 0x55));
    chooseGJustPentatonic();
    saveTo(file("old.sca"));
    EXPECT_EQ(readAll(file("old.sca")).size(), 64u);
}

TEST_F(ScaleFileCommandsTest, SaveThatCannotCreateTheFileSaysSo) {
    const fs::path target = file("missing-folder") / "x.sca";
    saveTo(target);
    ASSERT_EQ(dialogs.boxes().size(), 1u);
    EXPECT_EQ(dialogs.boxes()[0].text, "Can not open file!");
    EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_EQ(state.savedKeyIndex, kDefaultKeyRow);
}

TEST_F(ScaleFileCommandsTest, CancelledSaveWritesNothing) {
    choose(TuningList::Key, kKeyD);
    dialogs.willSave(std::nullopt);
    controls.saveScaleFile();
    EXPECT_TRUE(fs::is_empty(dir_));
    EXPECT_TRUE(dialogs.boxes().empty());
    EXPECT_EQ(state.savedKeyIndex, kDefaultKeyRow);
}

TEST_F(ScaleFileCommandsTest, LoadRestoresTheTuningInAnotherKey) {
    chooseGJustPentatonic();
    saveTo(file("g.sca"));
    choose(TuningList::Key, kKeyD);
    choose(TuningList::Scale, 0);
    choose(TuningList::Tuning, kArabian);
    state.savedKeyIndex = kDefaultKeyRow;
    reset();

    loadFrom(file("g.sca"));
    EXPECT_EQ(state.offsetValues(), kGJustOffsets);
    EXPECT_EQ(state.scaleMarks(), kGPentatonicMarks);
    EXPECT_EQ(state.savedKeyIndex, kKeyG);
    EXPECT_EQ(view.selectedRow(TuningList::Scale), kCustomScaleRow);
    EXPECT_EQ(view.selectedRow(TuningList::Tuning), kCustomTuningRow);
    EXPECT_EQ(view.selectedRow(TuningList::Key), kKeyG);
    EXPECT_EQ(state.scaleIndex, kCustomScaleRow);
    EXPECT_EQ(state.tuningIndex, kCustomTuningRow);
    EXPECT_EQ(state.keyIndex, kKeyG);
    EXPECT_EQ(view.text(5), "18");
    EXPECT_EQ(view.sliderPosition(5), -18);
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(view.lit(i), kGPentatonicMarks[static_cast<std::size_t>(i)] == 1) << i;
    }
    // A playing song is silenced, moves its notes by the new marks and is retuned at its next
    // event, when the sequencer sees tuningChanged.
    EXPECT_EQ(state.tuningChanged, 1);
    EXPECT_EQ(notesOff, 2);
    EXPECT_EQ(state.moveOntoScale(61), 62);
    EXPECT_TRUE(dialogs.boxes().empty());
    ASSERT_EQ(dialogs.openFilters().size(), 3u);
    EXPECT_EQ(dialogs.openFilters()[0].pattern, "*.sca *.scl");
}

TEST_F(ScaleFileCommandsTest, LoadRunsItsStepsInOrder) {
    writeAll(file("g.sca"), kGJustPentatonic);
    loadFrom(file("g.sca"));

    std::vector<std::string> expected = {"select Scale 10", "notes off", "select Tuning 8"};
    for (int i = 0; i < 12; ++i)
        expected.push_back("slider " + std::to_string(i));
    for (int i = 0; i < 12; ++i)
        expected.push_back("text " + std::to_string(i));
    for (int i = 0; i < 12; ++i)
        expected.push_back("key " + std::to_string(i));
    expected.push_back("select Key 8");
    expected.push_back("notes off");
    EXPECT_EQ(view.log, expected);
}

TEST_F(ScaleFileCommandsTest, KeyChangeAfterALoadChangesNothing) {
    writeAll(file("g.sca"), kGJustPentatonic);
    loadFrom(file("g.sca"));
    choose(TuningList::Key, kKeyD);
    EXPECT_EQ(state.offsetValues(), kGJustOffsets);
    EXPECT_EQ(state.scaleMarks(), kGPentatonicMarks);
    EXPECT_EQ(state.savedKeyIndex, kKeyG);
}

TEST_F(ScaleFileCommandsTest, OffsetBeyondTheSliderRangeRoundTrips) {
    choose(TuningList::Tuning, kArabian);
    saveTo(file("arabian.sca"));
    choose(TuningList::Tuning, 0);
    loadFrom(file("arabian.sca"));
    EXPECT_EQ(state.offsets[4], -51);
    EXPECT_EQ(view.text(4), "-51");
    EXPECT_EQ(view.sliderPosition(4), 50);
    EXPECT_EQ(state.offsetValues(), TuningTable[kArabian].cents);
}

class RefusedLoadTest : public ScaleFileCommandsTest {
protected:
    /// Takes a snapshot, runs the load, and checks that nothing at all changed.
    void expectLoadChangesNothing(const std::string& path, std::string_view message) {
        choose(TuningList::Scale, kPentatonic);
        reset();
        state.savedKeyIndex = 3;
        const Offsets offsets = state.offsetValues();
        const ScaleMarks marks = state.scaleMarks();
        const auto texts = view.texts();

        dialogs.willOpen(path);
        controls.loadScaleFile();
        ASSERT_EQ(dialogs.boxes().size(), 1u);
        EXPECT_EQ(dialogs.boxes()[0].text, message);
        EXPECT_EQ(dialogs.boxes()[0].style, BoxStyle::SystemModal);
        EXPECT_EQ(state.offsetValues(), offsets);
        EXPECT_EQ(state.scaleMarks(), marks);
        EXPECT_EQ(state.savedKeyIndex, 3);
        EXPECT_EQ(state.tuningChanged, 0);
        EXPECT_EQ(view.selectedRow(TuningList::Scale), kPentatonic);
        EXPECT_EQ(view.selectedRow(TuningList::Tuning), kJust);
        EXPECT_EQ(view.selectedRow(TuningList::Key), kDefaultKeyRow);
        EXPECT_EQ(view.texts(), texts);
        EXPECT_EQ(notesOff, 0);
        EXPECT_TRUE(view.log.empty());
    }
};

TEST_F(RefusedLoadTest, FileOfTheWrongLength) {
    writeAll(file("short.sca"), std::span(kGJustPentatonic).first(63));
    expectLoadChangesNothing(file("short.sca").string(), "This is not a valid scale file!");

    std::vector<std::uint8_t> longer(kGJustPentatonic.begin(), kGJustPentatonic.end());
    longer.push_back(0);
    writeAll(file("long.sca"), longer);
    expectLoadChangesNothing(file("long.sca").string(), "This is not a valid scale file!");

    writeAll(file("empty.sca"), {});
    expectLoadChangesNothing(file("empty.sca").string(), "This is not a valid scale file!");
}

TEST_F(RefusedLoadTest, FileWithAnEmptyScale) {
    const auto path = damagedFile("none.sca", kGJustOffsets, ScaleMarks{}, kKeyG);
    expectLoadChangesNothing(path.string(), "This is not a valid scale file!");
}

TEST_F(RefusedLoadTest, FileThatCannotBeOpened) {
    expectLoadChangesNothing(file("absent.sca").string(), "Can not open file!");
    expectLoadChangesNothing(dir_.string(), "Can not open file!");
}

TEST_F(ScaleFileCommandsTest, CancelledLoadDoesNothingAtAll) {
    choose(TuningList::Key, kKeyD);
    reset();
    const Offsets offsets = state.offsetValues();
    dialogs.willOpen(std::nullopt);
    controls.loadScaleFile();
    EXPECT_EQ(dialogs.openCount(), 1);
    EXPECT_TRUE(dialogs.boxes().empty());
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(notesOff, 0);
    EXPECT_EQ(state.tuningChanged, 0);
    EXPECT_EQ(state.offsetValues(), offsets);
    EXPECT_EQ(view.selectedRow(TuningList::Key), kKeyD);
}

TEST_F(ScaleFileCommandsTest, MarksOtherThanZeroCountAsMembers) {
    ScaleMarks marks{};
    marks[0] = 2;
    marks[7] = 0xFF;
    loadFrom(damagedFile("marks.sca", kGJustOffsets, marks, kKeyG));
    EXPECT_EQ(state.scaleMarks(), (ScaleMarks{1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));
    EXPECT_TRUE(view.lit(0));
    EXPECT_TRUE(view.lit(7));
    EXPECT_FALSE(view.lit(1));
    EXPECT_EQ(state.moveOntoScale(61), 67);
}

TEST_F(ScaleFileCommandsTest, OffsetsBeyondADataByteAreClamped) {
    Offsets offsets{};
    offsets[0] = 100;
    offsets[1] = -100;
    ScaleMarks marks{};
    marks.fill(1);
    loadFrom(damagedFile("wide.sca", offsets, marks, kKeyG));
    EXPECT_EQ(state.offsets[0], 63);
    EXPECT_EQ(state.offsets[1], -64);
    EXPECT_EQ(view.text(0), "63");
    EXPECT_EQ(view.text(1), "-64");
    EXPECT_EQ(view.sliderPosition(0), -50);
    EXPECT_EQ(view.sliderPosition(1), 50);
}

TEST_F(ScaleFileCommandsTest, KeyRowOutsideTheListLeavesTheKeyList) {
    choose(TuningList::Key, kKeyD);
    ScaleMarks marks{};
    marks.fill(1);
    for (std::int32_t row : {99, -1, 15}) {
        loadFrom(damagedFile("key.sca", kGJustOffsets, marks, row));
        EXPECT_EQ(view.selectedRow(TuningList::Key), kKeyD) << row;
        EXPECT_EQ(state.keyIndex, kKeyD) << row;
        EXPECT_EQ(state.savedKeyIndex, row);
        EXPECT_EQ(state.offsetValues(), kGJustOffsets);
    }
    // The next save writes the row the Key list shows.
    saveTo(file("after.sca"));
    const auto data = parseScaleFile(readAll(file("after.sca")));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->keyRow, kKeyD);
}

}  // namespace
}  // namespace pitchloom

namespace pitchloom {
namespace {

class ScalaCommandsTest : public ScaleFileCommandsTest {
protected:
    fs::path copyFixture(const std::string& name, const std::string& as) {
        fs::copy_file(test::testData("scala/" + name), file(as),
                      fs::copy_options::overwrite_existing);
        return file(as);
    }
};

TEST_F(ScalaCommandsTest, AScalaScaleLoadsInTheKeyShownOrInTheKeyOfItsMapping) {
    // Just major in D: D 0, E +4, F# -14, G -2, A +2, B -16, C# -12.
    choose(TuningList::Key, kKeyD);
    loadFrom(copyFixture("just_major.scl", "major.scl"));
    EXPECT_TRUE(dialogs.boxes().empty());
    EXPECT_EQ(state.offsetValues(), (Offsets{0, -12, 0, 0, 4, 0, -14, -2, 0, 2, 0, -16}));
    EXPECT_EQ(state.scaleMarks(), (ScaleMarks{0, 1, 1, 0, 1, 0, 1, 1, 0, 1, 0, 1}));
    EXPECT_EQ(view.selectedRow(TuningList::Scale), 10);
    EXPECT_EQ(view.selectedRow(TuningList::Tuning), 8);
    EXPECT_EQ(view.selectedRow(TuningList::Key), kKeyD);
    EXPECT_EQ(state.tuningChanged, 1);
    EXPECT_EQ(view.sliderPosition(6), 14);

    // With a mapping of the same name beside it, the mapping's middle note, G, is the key.
    reset();
    copyFixture("seven_on_g.kbm", "major.kbm");
    loadFrom(file("major.scl"));
    EXPECT_EQ(state.offsetValues(), (Offsets{-2, 0, 2, 0, -16, 0, -12, 0, 0, 4, 0, -14}));
    EXPECT_EQ(view.selectedRow(TuningList::Key), kKeyG);
    EXPECT_EQ(state.savedKeyIndex, kKeyG);
}

TEST_F(ScalaCommandsTest, AScaleWithNoNotesIsRefusedAndChangesNothing) {
    chooseGJustPentatonic();
    reset();
    std::ofstream(file("none.scl")) << "Nothing\n0\n";
    loadFrom(file("none.scl"));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"This scale has no notes to play."});
    EXPECT_EQ(state.offsetValues(), kGJustOffsets);
    EXPECT_EQ(state.scaleMarks(), kGPentatonicMarks);
    EXPECT_EQ(state.scala(), nullptr);
    EXPECT_TRUE(view.log.empty());
    EXPECT_EQ(notesOff, 0);
}

class NineteenNotesTest : public ScalaCommandsTest {
protected:
    static constexpr std::string_view kName = "19 equal divisions of the octave (19 notes)";

    void load19(const std::string& as = "19.scl") {
        loadFrom(copyFixture("19edo.scl", as));
        ASSERT_TRUE(dialogs.boxes().empty());
        ASSERT_NE(state.scala(), nullptr);
        reset();
    }
    void expectTwelveAgain() {
        EXPECT_EQ(state.scala(), nullptr);
        EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), "CUSTOM");
        EXPECT_TRUE(view.slidersEnabled());
        EXPECT_TRUE(view.keysEnabled());
        EXPECT_EQ(view.sliderWhy(), "");
        EXPECT_EQ(state.tuningChanged, 1);
    }
    double pitchOfKey(int key) const { return state.value().pitch(0, key); }
};

TEST_F(NineteenNotesTest, ShowsByNameWithTheSlidersAndKeysGreyed) {
    chooseGJustPentatonic();
    choose(TuningList::Key, kDefaultKeyRow);
    loadFrom(copyFixture("19edo.scl", "19.scl"));
    EXPECT_TRUE(dialogs.boxes().empty());
    EXPECT_EQ(view.selectedRow(TuningList::Tuning), kCustomTuningRow);
    EXPECT_EQ(view.selectedRow(TuningList::Scale), kCustomScaleRow);
    EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), kName);
    EXPECT_FALSE(view.slidersEnabled());
    EXPECT_FALSE(view.keysEnabled());
    EXPECT_EQ(view.sliderWhy(),
              "This scale has 19 notes: its keys are tuned one by one, not by these sliders.");
    EXPECT_EQ(view.keyWhy(),
              "This scale has 19 notes: every key plays a note of it, so none can be taken out "
              "here.");
    // Every key plays, at its own step of 63.16 cents from middle C.
    EXPECT_EQ(state.scaleMarks(), (ScaleMarks{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(view.texts(), (std::array<std::string, 12>{"0", "0", "0", "0", "0", "0", "0", "0",
                                                         "0", "0", "0", "0"}));
    EXPECT_NEAR(pitchOfKey(60), 6000.0, 1e-6);
    EXPECT_NEAR(pitchOfKey(61), 6063.158, 1e-3);
    EXPECT_NEAR(pitchOfKey(79), 7200.0, 1e-6);
    EXPECT_EQ(state.tuningChanged, 1);
    EXPECT_EQ(state.moveOntoScale(61), 61);
}

TEST_F(NineteenNotesTest, TheListNamesAScaleByItsDescriptionOrItsFile) {
    std::ofstream(file("tritave.scl")) << "! no description\n   \n2\n9/5\n3/1\n";
    loadFrom(file("tritave.scl"));
    EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), "tritave.scl (2 notes)");
    std::ofstream(file("one.scl")) << " Tritaves alone \n1\n3/1\n";
    loadFrom(file("one.scl"));
    EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), "Tritaves alone (1 note)");
    EXPECT_FALSE(view.slidersEnabled());
}

TEST_F(NineteenNotesTest, ABuiltInRowOrASliderReturnsToTwelveTheCustomRowsDoNot) {
    load19();
    choose(TuningList::Tuning, kCustomTuningRow);
    choose(TuningList::Scale, kCustomScaleRow);
    EXPECT_NE(state.scala(), nullptr);
    EXPECT_FALSE(view.slidersEnabled());

    choose(TuningList::Tuning, kJust);
    expectTwelveAgain();
    EXPECT_EQ(state.offsetValues(), TuningTable[kJust].cents);
    EXPECT_NEAR(pitchOfKey(61), 6000.0 + 100.0 - 8.0, 1e-6);

    load19();
    choose(TuningList::Scale, kPentatonic);
    expectTwelveAgain();
    EXPECT_EQ(state.scaleMarks(), (ScaleMarks{1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0}));
    EXPECT_EQ(state.offsetValues(), Offsets{});  // the tuning row is still the custom one

    load19();
    scrollAction(3, ScrollCode::LineUp);
    expectTwelveAgain();
    EXPECT_EQ(state.offsets[3], 1);
    EXPECT_EQ(view.selectedRow(TuningList::Tuning), kCustomTuningRow);
}

TEST_F(NineteenNotesTest, AKeyChangeLaysTheScaleOnTheNewKey) {
    load19();
    choose(TuningList::Key, kKeyD);
    ASSERT_NE(state.scala(), nullptr);
    EXPECT_EQ(state.scala()->noteCount, 19u);
    EXPECT_NEAR(pitchOfKey(62), 6200.0, 1e-6);
    EXPECT_NEAR(pitchOfKey(63), 6263.158, 1e-3);
    EXPECT_NEAR(pitchOfKey(60), 6073.684, 1e-3);
    EXPECT_EQ(state.tuningChanged, 1);
    EXPECT_EQ(state.keyIndex, kKeyD);
    EXPECT_FALSE(view.slidersEnabled());
    EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), kName);
    EXPECT_EQ(notesOff, 0);

    // A keyboard mapping beside the scale sets the key: the Key list does not move it.
    copyFixture("linear_d.kbm", "mapped.kbm");
    loadFrom(copyFixture("19edo.scl", "mapped.scl"));
    const auto mapped = state.scala();
    choose(TuningList::Key, kKeyG);
    EXPECT_EQ(state.scala(), mapped);
}

TEST_F(ScalaCommandsTest, AScaleOnTwelveKeysLeavesAtAKeyChangeOrAKeyPress) {
    choose(TuningList::Key, kKeyD);
    loadFrom(copyFixture("just_major.scl", "major.scl"));
    const Offsets inD = {0, -12, 0, 0, 4, 0, -14, -2, 0, 2, 0, -16};
    ASSERT_NE(state.scala(), nullptr);
    EXPECT_TRUE(view.slidersEnabled());
    EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), "CUSTOM");
    state.tuningChanged = 0;
    choose(TuningList::Key, kKeyG);
    EXPECT_EQ(state.scala(), nullptr);
    EXPECT_EQ(state.offsetValues(), inD);
    EXPECT_EQ(state.tuningChanged, 1);

    loadFrom(file("major.scl"));  // now in G
    ASSERT_NE(state.scala(), nullptr);
    state.tuningChanged = 0;
    pressKey(1);  // C#, outside G major
    EXPECT_EQ(state.scala(), nullptr);
    EXPECT_EQ(state.inScale[1], 1);
    EXPECT_EQ(state.tuningChanged, 1);
}

TEST_F(NineteenNotesTest, SavedAsScalaItIsItsFilesByteForByte) {
    copyFixture("linear_d.kbm", "19.kbm");
    load19();
    saveTo(file("copy.scl"));
    EXPECT_TRUE(dialogs.boxes().empty());
    ASSERT_EQ(dialogs.saveFilters().size(), 1u);
    EXPECT_EQ(dialogs.saveFilters()[0].pattern, "*.scl");
    EXPECT_EQ(readAll(file("copy.scl")), readAll(test::testData("scala/19edo.scl")));
    EXPECT_EQ(readAll(file("copy.kbm")), readAll(test::testData("scala/linear_d.kbm")));

    // Without a mapping none is written; one on twelve keys goes back as read too.
    loadFrom(copyFixture("just_major.scl", "major.scl"));
    saveTo(file("major copy.scl"));
    EXPECT_EQ(readAll(file("major copy.scl")), readAll(test::testData("scala/just_major.scl")));
    EXPECT_FALSE(fs::exists(file("major copy.kbm")));
}

TEST_F(NineteenNotesTest, IsRefusedAsAScaleFileOfTwelve) {
    load19();
    saveTo(file("19.sca"));
    EXPECT_EQ(dialogs.texts(), std::vector<std::string>{"This scale has 19 notes: it can be saved "
                                                        "only as a Scala file (.scl)."});
    EXPECT_FALSE(fs::exists(file("19.sca")));
    EXPECT_EQ(state.savedKeyIndex, kDefaultKeyRow);

    // A Scala scale that fits twelve keys saves its offsets as any other.
    choose(TuningList::Key, kKeyD);
    loadFrom(copyFixture("just_major.scl", "major.scl"));
    saveTo(file("major.sca"));
    const auto data = parseScaleFile(readAll(file("major.sca")));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->offsets, (Offsets{0, -12, 0, 0, 4, 0, -14, -2, 0, 2, 0, -16}));
    EXPECT_EQ(data->keyRow, kKeyD);
}

TEST_F(NineteenNotesTest, AScaleFileOfTwelveLoadedAfterItGivesTheSlidersBack) {
    writeAll(file("g.sca"), kGJustPentatonic);
    load19();
    loadFrom(file("g.sca"));
    EXPECT_EQ(state.scala(), nullptr);
    EXPECT_TRUE(view.slidersEnabled());
    EXPECT_TRUE(view.keysEnabled());
    EXPECT_EQ(view.shownLabel(TuningList::Tuning, kCustomTuningRow), "CUSTOM");
    EXPECT_EQ(state.offsetValues(), kGJustOffsets);
}

TEST_F(ScalaCommandsTest, ABrokenMappingBesideTheScaleIsNamedAndChangesNothing) {
    // The window reads the mapping unasked; after 300 KB of comments it is far too long, not cut.
    copyFixture("just_major.scl", "major.scl");
    std::ofstream(file("major.kbm")) << std::string(300 * 1024, '!') + "\n0\n0\n127\n60\n";
    loadFrom(file("major.scl"));
    EXPECT_EQ(
        dialogs.texts(),
        std::vector<std::string>{"This is not a valid Scala keyboard mapping: it is far too long. "
                                 "It is major.kbm, read with major.scl for its key."});
    EXPECT_TRUE(view.log.empty());
}

TEST_F(ScalaCommandsTest, ASavedScalaFileNamesItsTuningAndLoadsBackTheSame) {
    chooseGJustPentatonic();
    saveTo(file("g.scl"));
    const auto bytes = readAll(file("g.scl"));
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text,
              "! g.scl\n"
              "Pitchloom Pro: key G, scale Pentatonic, tuning Just Intonation\n"
              "5\n"
              "204.0\n"
              "386.0\n"
              "702.0\n"
              "906.0\n"
              "2/1\n");
    choose(TuningList::Tuning, 0);
    choose(TuningList::Scale, 0);
    loadFrom(file("g.scl"));
    EXPECT_EQ(state.scaleMarks(), kGPentatonicMarks);
    for (int pitchClass : {2, 4, 7, 9, 11}) {
        EXPECT_EQ(state.offsets[static_cast<std::size_t>(pitchClass)],
                  kGJustOffsets[static_cast<std::size_t>(pitchClass)])
            << pitchClass;
    }
}

}  // namespace
}  // namespace pitchloom

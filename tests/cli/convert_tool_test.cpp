#include "cli/convert_tool.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/file_io.h"
#include "cli/relay_tool.h"
#include "midifile/midi_song.h"
#include "support/midi_builder.h"
#include "tuning/scale_file.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::namesIn;
using test::TrackBuilder;

const std::string kUsageLine = "Usage: pitchloom-convert --type TYPE[,TYPE]";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

Bytes readBack(const std::string& path) {
    return readFile(path, kSongBufferSize + 1).bytes;
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the converter in-process, its messages going to a terminal or not.
Outcome tool(std::vector<std::string> args, bool terminal = false) {
    args.insert(args.begin(), "pitchloom-convert");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status =
        runConvertTool(static_cast<int>(argv.size()), argv.data(), out, err, terminal);
    return {status, out.str(), err.str()};
}

// Runs the built program through the shell; the arguments come quoted already, and so does what
// environment goes before them.
Outcome program(const std::string& dir, const std::string& args,
                const std::string& environment = {}) {
    const std::string out = dir + "/stdout.txt";
    const std::string err = dir + "/stderr.txt";
    const std::string command = environment + " '" + PITCHLOOM_CONVERT_PROGRAM + "' " + args +
                                " >'" + out + "' 2>'" + err + "' </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

class ConvertTool : public testing::Test {
protected:
    void SetUp() override {
        dir = test::makeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        input = dir + "/in.mid";
        output = dir + "/out.mid";
        ASSERT_TRUE(writeFile(input, song).ok());
    }

    std::string scaleFile(const Bytes& bytes) {
        const std::string path = dir + "/custom.sca";
        EXPECT_TRUE(writeFile(path, bytes).ok());
        return path;
    }

    const Bytes song = test::format0(
        480, TrackBuilder().programChange(0, 0, 5).noteOn(480, 0, 61, 100).noteOff(480, 0, 61));
    std::string dir, input, output;
};

TEST(Labels, WholeLabelsWithATableMatchWithoutRegardToCase) {
    EXPECT_EQ(keyRowOf("G"), 8);
    EXPECT_EQ(keyRowOf("c#"), 14);
    EXPECT_EQ(keyRowOf("CB"), 0);
    EXPECT_EQ(scaleRowOf("okinawan SCALE"), 2);
    EXPECT_EQ(tuningRowOf("temparament"), 0);
    EXPECT_EQ(tuningRowOf("Gamelan"), 4);
    EXPECT_EQ(keyRowOf("H"), std::nullopt);
    EXPECT_EQ(keyRowOf("C "), std::nullopt);
    EXPECT_EQ(scaleRowOf("Okinawan"), std::nullopt);
    EXPECT_EQ(scaleRowOf("Custom"), std::nullopt);
    EXPECT_EQ(tuningRowOf("CUSTOM"), std::nullopt);
    // The tunings that follow the song, by their labels or in a word.
    EXPECT_EQ(tuningRowOf("Fitted to song"), kFittedTuningRow);
    EXPECT_EQ(tuningRowOf("fitted"), kFittedTuningRow);
    EXPECT_EQ(tuningRowOf("ADAPTIVE"), kAdaptiveTuningRow);
    EXPECT_EQ(tuningRowOf("adaptive just"), kAdaptiveTuningRow);
}

TEST(Ports, APortIsNamedByItsNumberItsNameOrAPartOfOneName) {
    const std::vector<std::string> names{"Midi Through:Port-0 14:0", "USB Keystation 61:MIDI 1 20:0",
                                         "USB Keystation 88:MIDI 1 24:0"};
    EXPECT_EQ(portOf("1", names, "Pitchloom Pro in", kVirtualInputId), 1);
    EXPECT_EQ(portOf("3", names, "Pitchloom Pro in", kVirtualInputId), std::nullopt);
    EXPECT_EQ(portOf("pitchloom pro IN", names, "Pitchloom Pro in", kVirtualInputId),
              kVirtualInputId);
    EXPECT_EQ(portOf("midi through", names, "Pitchloom Pro in", kVirtualInputId), 0);
    EXPECT_EQ(portOf("keystation 88", names, "Pitchloom Pro in", kVirtualInputId), 2);
    EXPECT_EQ(portOf("Keystation", names, "Pitchloom Pro in", kVirtualInputId), std::nullopt);
    EXPECT_EQ(portOf("", names, "Pitchloom Pro in", kVirtualInputId), std::nullopt);
}

TEST_F(ConvertTool, TheRelayTakesNoFilesAndItsOutputNeedsAnInput) {
    const Outcome files = tool({"--type", "GS", "--input", "Keys", input, output});
    EXPECT_EQ(files.status, kExitUsage);
    EXPECT_NE(files.err.find("--input relays a MIDI input and takes no files"), std::string::npos);
    EXPECT_EQ(tool({"--type", "GS", "--output", "0", input, output}).status, kExitUsage);
    const Outcome adaptive = tool({"--type", "GS", "--tuning", "adaptive", "--input", "Keys"});
    EXPECT_EQ(adaptive.status, kExitFailed);
    EXPECT_EQ(lines(adaptive.err).back(),
              "Adaptive just gives every note a pitch of its own: choose MTS keys or Bend to play "
              "it.");
}

TEST_F(ConvertTool, AnalyseTellsHowPureTheSongSoundsInTheTuning) {
    const Bytes triad = test::cMajorTriadSong();
    ASSERT_TRUE(writeFile(input, triad).ok());
    const Outcome equal = tool({"--analyse", "--tuning", "Temparament", input});
    EXPECT_EQ(equal.status, 0);
    EXPECT_EQ(equal.out,
              "Tuning: Temparament\n"
              "Notes: 3, sounding together in pairs for 3.0 s\n"
              "Within 2 cents of just: 33.3% of that time\n"
              "Mistuning: mean 10.43 cents, worst 15.6 cents\n"
              "Drift over 10 s: 0.00 cents\n");
    const Outcome just = tool({"--analyse", input});  // Just Intonation in C
    EXPECT_EQ(lines(just.out)[2], "Within 2 cents of just: 100.0% of that time");
    EXPECT_EQ(lines(just.out)[3], "Mistuning: mean 0.24 cents, worst 0.4 cents");
    // In G the triad's third is a syntonic comma sharp.
    EXPECT_EQ(lines(tool({"--analyse", "--key", "G", input}).out)[3],
              "Mistuning: mean 14.46 cents, worst 21.7 cents");
    const Outcome adaptive = tool({"--analyse", "--tuning", "adaptive", input});
    EXPECT_EQ(lines(adaptive.out)[0], "Tuning: Adaptive just");
    EXPECT_EQ(lines(adaptive.out)[2], "Within 2 cents of just: 100.0% of that time");
    EXPECT_EQ(lines(adaptive.out).back(),
              "Notes re-pitched with nothing changed around them: 0 of 3");
    EXPECT_EQ(lines(tool({"--analyse", "--tuning", "fitted", input}).out)[2],
              "Within 2 cents of just: 100.0% of that time");

    const Outcome withType = tool({"--analyse", "--type", "GS", input});
    EXPECT_EQ(withType.status, kExitUsage);
    EXPECT_EQ(lines(withType.err)[0], "--analyse takes tuning options and one INPUT only");
    EXPECT_EQ(tool({"--analyse", input, output}).status, kExitUsage);
}

TEST_F(ConvertTool, AdaptiveJustIsRefusedUpFrontWhereTheTypeCannotTuneEachNote) {
    const Outcome refused = tool({"--type", "MTS", "--tuning", "adaptive", input, output});
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_EQ(refused.err,
              "Adaptive just gives every note a pitch of its own: choose MTS keys or Bend to "
              "play it.\n");
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_EQ(tool({"--type", "MTS-keys", "--tuning", "adaptive", input, output}).status,
              kExitWritten);
}

TEST_F(ConvertTool, ScaleFileOffsetsAndMarksAreUsedAsStored) {
    ScaleFileData custom;
    custom.offsets = {-50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 90};  // 90 is clamped to 63
    custom.marks = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};       // 7 counts as 1
    const auto bytes = serializeScaleFile(custom);
    const std::string sca = scaleFile(Bytes(bytes.begin(), bytes.end()));
    const Outcome r = tool({"--type", "GS", "--scale-file", sca, input, output});
    EXPECT_EQ(r.status, kExitWritten) << r.err;
    const Bytes out = readBack(output);
    ASSERT_EQ(out.size(), song.size() + 384);
    // Every GS message carries C at 0x0E and B at 0x7F.
    EXPECT_EQ(out[22 + 1 + 9], 0x0E);
    EXPECT_EQ(out[22 + 1 + 20], 0x7F);
    EXPECT_EQ(out[out.size() - 2], 71) << "C# moves up to the next member, B";
}

TEST_F(ConvertTool, SeveralTypesWriteOneDialectAfterTheOther) {
    EXPECT_EQ(deviceTypesOf("gs,MTS"), (std::vector{DeviceType::GS, DeviceType::MTS}));
    EXPECT_EQ(deviceTypesOf("GS,GS"), std::nullopt);
    EXPECT_EQ(deviceTypesOf("GS,"), std::nullopt);
    ASSERT_EQ(tool({"--type", "GS,MTS", input, output}).status, kExitWritten);
    const Bytes out = readBack(output);
    ASSERT_EQ(out.size(), song.size() + 384 + 23);
    // At the first event each went in front of the one before: MTS first, then GS part 16 ... 1.
    const Bytes mts = {0x00, 0xF0, 0x14, 0x7F, 0x7F, 0x08, 0x08, 0x03, 0x7B, 0x7F};
    EXPECT_EQ(Bytes(out.begin() + 22, out.begin() + 32), mts);
    EXPECT_EQ(out[22 + 23 + 1 + 7], 0x10) << "then the GS message of block 10";
}

TEST_F(ConvertTool, AScalaScaleTakesItsKeyFromKeyOrFromAMapping) {
    const std::string scl = test::testData("scala/just_major.scl");
    // Just major in D: F# is in the scale at -14 cents, so C# (61) stays C# and is tuned -12.
    ASSERT_EQ(tool({"--type", "GS", "--scale-file", scl, "--key", "D", input, output}).status,
              kExitWritten);
    const Bytes inD = readBack(output);
    EXPECT_EQ(Bytes(inD.begin() + 22 + 1 + 9, inD.begin() + 22 + 1 + 21),
              (Bytes{0x40, 0x34, 0x40, 0x40, 0x44, 0x40, 0x32, 0x3E, 0x40, 0x42, 0x40, 0x30}));
    EXPECT_EQ(inD[inD.size() - 2], 61);

    // The mapping puts the first note on G: C# moves up to D.
    const Outcome g = tool({"--type", "GM", "--scale-file", scl, "--kbm",
                            test::testData("scala/seven_on_g.kbm"), input, output});
    EXPECT_EQ(g.status, kExitWritten) << g.err;
    EXPECT_EQ(readBack(output)[readBack(output).size() - 2], 62);

    const Outcome refused = tool(
        {"--type", "GS", "--scale-file", test::testData("scala/19edo.scl"), input, dir + "/x.mid"});
    EXPECT_EQ(refused.status, kExitFailed);
    EXPECT_EQ(refused.err, "This scale has 19 notes: choose MTS keys or Bend to play it.\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/x.mid"));
}

TEST_F(ConvertTool, DamagedScaleFilesAreRefusedBeforeAnythingIsWritten) {
    const auto valid = serializeScaleFile(ScaleFileData{{}, {1}, 7});
    const auto noMembers = serializeScaleFile(ScaleFileData{});
    Bytes longer(valid.begin(), valid.end());
    longer.push_back(0);
    for (const Bytes& file : {Bytes(noMembers.begin(), noMembers.end()),
                              Bytes(valid.begin(), valid.end() - 1), longer}) {
        const Outcome r = tool({"--type", "XG", "--scale-file", scaleFile(file), input, output});
        EXPECT_EQ(r.status, kExitFailed) << file.size();
        EXPECT_EQ(r.err,
                  "This is not a valid scale file!\n" + dir +
                      "/custom.sca: not a scale file of 64 bytes with a note in its scale\n");
    }
    const Outcome missing = tool({"--type", "XG", "--scale-file", dir + "/no.sca", input, output});
    EXPECT_EQ(missing.status, kExitFailed);
    EXPECT_EQ(missing.err, "Can not open file!\n" + dir + "/no.sca: No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ConvertTool, UsageErrorsGiveAReasonAndTheUsage) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--type", "XG", input},                                // OUTPUT missing
        {input, output},                                        // --type missing
        {"--type", "MT32", input, output},                      // no such type
        {"--type", "XG", "--key", "H", input, output},          // no such key
        {"--type", "XG", "--scale", "Blues", input, output},    // no such scale
        {"--type", "XG", "--tuning", "CUSTOM", input, output},  // custom comes from a file
        {"--type", "XG", "--scale-file", "a.sca", "--scale", "Gamelan", input, output},
        {"--type", "XG", "--scale-file", "a.sca", "--key", "D", input, output},  // its own key
        {"--type", "XG", "--scale-file", "a.sca", "--kbm", "a.kbm", input, output},
        {"--type", "XG", "--scale-file", "a.scl", "--kbm", "a.kbm", "--key", "D", input, output},
        {"--type", "XG", "--speed", "2", input, output},  // no such option
        {"--type", "XG", input, output, "extra.mid"},
        {"--type", "XG", input, input},  // would replace the source
        // An empty value, as an unset variable gives, must not make the songs INPUT and OUTPUT.
        {"--type", "XG", "--output-dir", "", input, output},
        {"--type", "XG", "--render=", input, output},
        {"--type", "XG", "--scale-file", "", input, output},
        {"--type", "XG", "--scale-file", "a.scl", "--kbm", "", input, output},
        {"--type", "XG", "--output-dir", dir + "/o", "-j", "1025", input, output},
    };
    for (const auto& args : wrong) {
        const Outcome r = tool(args);
        EXPECT_EQ(r.status, kExitUsage) << args[1];
        const auto errLines = lines(r.err);
        ASSERT_GE(errLines.size(), 3u) << r.err;  // the reason, then the usage
        EXPECT_FALSE(errLines[0].empty());
        EXPECT_EQ(errLines[1].rfind(kUsageLine, 0), 0u) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_EQ(readBack(input), song);
    EXPECT_EQ(lines(tool({"--type", "GS", "--output-dir=", input}).err)[0],
              "--output-dir needs DIR, not an empty value");
    EXPECT_EQ(lines(tool({"--type", "GS", "-j", "0", "--output-dir", dir, input}).err)[0],
              "-j takes a whole number from 1 to 1024");
}

TEST_F(ConvertTool, ProgramListsLabelsAndHelpOnStandardOutput) {
    const Outcome list = program(dir, "--list");
    EXPECT_EQ(list.status, 0);
    EXPECT_EQ(list.err, "");
    const auto out = lines(list.out);
    for (const char* line :
         {"Types:", "Keys:", "Cb", "C#", "Scales:", "Okinawan scale", "Whole tone",
          "Tunings:", "Temparament", "Kurenberger", "Fitted to song", "Adaptive just"}) {
        EXPECT_NE(std::find(out.begin(), out.end(), line), out.end()) << line;
    }
    EXPECT_EQ(out[4].rfind("MTS  ", 0), 0u) << out[4];      // the device type dialog's order
    EXPECT_EQ(out.size(), 6u + 15u + 10u + 10u + 4u + 3u);  // types, labels, headings, blanks

    const Outcome help = program(dir, "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find(kUsageLine), std::string::npos);
    EXPECT_NE(help.out.find("--scale-file"), std::string::npos);
}

TEST_F(ConvertTool, ProgramExitStatusesAndMessagesOnStandardError) {
    const std::string files = " '" + input + "' '" + output + "'";
    const Outcome written = program(dir, "--type XG --key g --scale pentatonic" + files);
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.err, "Information has been written to the file!\n");
    const Bytes out = readBack(output);
    ASSERT_EQ(out.size(), song.size() + 2112);
    // The last of the messages at the start is part 0, C: Just Intonation in G puts C at -2.
    const Bytes partZeroC = {0x00, 0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x00, 0x41, 0x3E, 0xF7};
    EXPECT_EQ(Bytes(out.begin() + 22 + 2112 - 11, out.begin() + 22 + 2112), partZeroC);
    // G pentatonic is G A B D E: C# (61, 0x3D) moves up to D (0x3E).
    const Bytes notes = {0x83, 0x60, 0x90, 0x3E, 0x64, 0x83, 0x60, 0x80, 0x3E, 0x40};
    EXPECT_EQ(Bytes(out.end() - 10, out.end()), notes);
    EXPECT_EQ(readBack(input), song);

    const Outcome usage = program(dir, "--type XG --scale 'No such scale'" + files);
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(lines(usage.err)[1].rfind(kUsageLine, 0), 0u) << usage.err;  // reason, usage
    EXPECT_EQ(usage.out, "");

    const Outcome unwritable = program(dir, "--type GS '" + input + "' '" + dir + "/no/x.mid'");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err,
              "Can not open file!\n" + dir + "/no/x.mid: No such file or directory\n");
}

TEST_F(ConvertTool, BendOptionsAreRefusedWhereTheyMeanNothing) {
    const std::string range = "--release-guard takes whole milliseconds from 0 to 10000";
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--type", "GS,BEND"},
         "Bend retunes every note itself and goes alone in --type, not with another type"},
        {{"--type", "BEND", "--release-guard", "10001"}, range},
        {{"--type", "BEND", "--release-guard", "-1"}, range},
        {{"--type", "BEND", "--release-guard", "1.5"}, range},
        {{"--type", "GS", "--release-guard", "300"}, "--release-guard goes with --type Bend"},
        {{"--type", "mts-keys", "--release-guard", "300"}, "--release-guard goes with --type Bend"},
        {{"--type", "MTS", "--strict"}, "--strict goes with --type MTS-keys or Bend"},
        {{"--type", "Bend,MTS-keys"},
         "Bend retunes every note itself and goes alone in --type, not with another type"},
    };
    for (auto [args, reason] : refused) {
        args.insert(args.end(), {input, output});
        const Outcome r = tool(args);
        EXPECT_EQ(r.status, kExitUsage) << reason;
        EXPECT_EQ(lines(r.err)[0], reason);
    }
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_EQ(tool({"--type", "bend", "--release-guard", "10000", input, output}).status,
              kExitWritten);
}

TEST_F(ConvertTool, BendSaysWhichSongsPlayNotesOffTheirTuningAndStrictWritesNoneOfThem) {
    TrackBuilder t;  // every channel in use: E (-14 cents) finds none to borrow while C sounds
    for (int c = 0; c < 16; ++c)
        t.programChange(0, c, 0);
    const std::string full = dir + "/full.mid";
    ASSERT_TRUE(
        writeFile(full, test::format0(480, t.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100))).ok());
    const std::string off = full + ": 1 of 2 notes played up to 14 cents from their tuning\n";
    const Outcome told = tool({"--type", "BEND", full, output});
    EXPECT_EQ(told.err, "Information has been written to the file!\n" + off);
    ASSERT_TRUE(std::filesystem::remove(output));
    const Outcome strict = tool({"--type", "BEND", "--strict", full, output});
    EXPECT_EQ(strict.status, kExitFailed);
    EXPECT_EQ(strict.err, off);
    EXPECT_FALSE(std::filesystem::exists(output));

    const Outcome batch = tool({"--type", "BEND", "--output-dir", dir + "/a", full, input});
    EXPECT_EQ(batch.err, off + "2 converted, 0 failed\n");
    const Outcome strictBatch =
        tool({"--type", "BEND", "--strict", "--output-dir", dir + "/b", "-j", "2", full, input});
    EXPECT_EQ(strictBatch.status, kExitFailed);
    EXPECT_EQ(strictBatch.err, off + "1 converted, 1 failed\n");
    EXPECT_EQ(namesIn(dir + "/b"), (std::vector<std::string>{"in.mid"}));

    // A render says it too; strict, it leaves no audio file.
    const Outcome rendered = tool({"--type", "BEND", "--render", dir + "/full.wav", full});
    EXPECT_EQ(rendered.status, kExitWritten);
    EXPECT_EQ(lines(rendered.err).back() + "\n", off);
    const Outcome strictRender =
        tool({"--type", "BEND", "--strict", "--render", dir + "/strict.wav", full});
    EXPECT_EQ(strictRender.status, kExitFailed);
    EXPECT_EQ(strictRender.err, off);
    EXPECT_FALSE(std::filesystem::exists(dir + "/strict.wav"));
}

TEST_F(ConvertTool, ANewFileTakesTheUmaskAlsoWhereNoProcIsMounted) {
    // As in a chroot or a bare container, where /proc/self/status cannot be read.
    const std::string hideProc = "unshare --mount --fork sh -c 'umount -l /proc && ";
    if (std::system((hideProc + "true' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "no mount namespace to hide /proc in";
    }
    const std::string command = hideProc + "umask 027 && \"$0\" --type GS \"$1\" \"$2\"' '" +
                                PITCHLOOM_CONVERT_PROGRAM + "' '" + input + "' '" + output +
                                "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    struct stat status {};
    EXPECT_EQ(::stat(output.c_str(), &status) == 0 ? status.st_mode & 07777 : 0, 0640u);
}

TEST_F(ConvertTool, EveryFailureSaysWhichFileAndWhy) {
    const std::string empty = dir + "/empty.mid";
    ASSERT_TRUE(writeFile(empty, Bytes{}).ok());
    const std::string big = dir + "/big.mid";
    ASSERT_TRUE(writeFile(big, Bytes(kSongBufferSize + 10, 0)).ok());
    const std::vector<std::pair<std::string, std::string>> sources = {
        {dir + "/none.mid", "No such file or directory"},
        {dir, "Is a directory"},
        {empty, "the file is empty"},
        {big, "larger than the 983039 bytes a song may have"},
        {"/dev/zero", "not a regular file"},
    };
    for (const auto& [source, reason] : sources) {
        const Outcome r = tool({"--type", "GS", source, output});
        EXPECT_EQ(r.status, kExitFailed);
        EXPECT_EQ(r.err, "Undefined error!\n" + source + ": " + reason + "\n");
    }
    const Outcome full = tool({"--type", "GS", input, "/dev/full"});
    EXPECT_EQ(full.status, kExitFailed);
    EXPECT_EQ(full.err, "Can not open file!\n/dev/full: No space left on device\n");
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(ConvertTool, ControlCharactersInANameArePrintedAsEscapes) {
    // One line for each failure whatever a name holds (every line goes through the same escape),
    // and nothing in it steers the terminal.
    const std::string bad = dir + "/bad\nname\x1b[2J.mid";
    ASSERT_TRUE(writeFile(bad, Bytes{'j', 'u', 'n', 'k'}).ok());
    const std::string shown = dir + "/bad\\nname\\x1b[2J.mid";
    EXPECT_EQ(tool({"--type", "GS", "--output-dir", dir + "/out", bad}).err,
              shown + ": Undefined error! (" + shown +
                  ": too short for a MIDI file)\n0 converted, 1 failed\n");
}

TEST_F(ConvertTool, ADashReadsStandardInputAndWritesStandardOutput) {
    const std::string piped = dir + "/piped.mid";
    const std::string command = std::string("'") + PITCHLOOM_CONVERT_PROGRAM +
                                "' --type GS - - <'" + input + "' >'" + piped + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes viaPipe = readBack(piped);
    ASSERT_EQ(tool({"--type", "GS", input, output}).status, kExitWritten);
    EXPECT_EQ(viaPipe, readBack(output));
    EXPECT_EQ(viaPipe.size(), song.size() + 384);
}

TEST_F(ConvertTool, ACollectionConvertsUnderItsNamesAndEachFailureGetsALine) {
    ASSERT_EQ(tool({"--type", "GS", input, output}).status, kExitWritten);
    std::filesystem::create_directory(dir + "/sub");
    const std::string again = dir + "/sub/in.mid";
    const std::string second = dir + "/second.mid";
    const std::string bad = dir + "/bad.mid";
    ASSERT_TRUE(writeFile(again, song).ok());
    ASSERT_TRUE(writeFile(second, song).ok());
    ASSERT_TRUE(writeFile(bad, Bytes{'j', 'u', 'n', 'k'}).ok());
    const std::string folder = dir + "/converted";

    const Outcome r = tool({"--type", "GS", "--output-dir", folder, "-j", "2", input, bad,
                            dir + "/none.mid", again, second});
    EXPECT_EQ(r.status, kExitFailed);
    std::vector<std::string> said = lines(r.err);
    ASSERT_EQ(said.size(), 4u) << r.err;
    EXPECT_EQ(said.back(), "2 converted, 3 failed");
    said.pop_back();
    std::sort(said.begin(), said.end());
    EXPECT_EQ(said, (std::vector<std::string>{
                        bad + ": Undefined error! (" + bad + ": too short for a MIDI file)",
                        dir + "/none.mid: Undefined error! (" + dir +
                            "/none.mid: No such file or directory)",
                        again + ": an earlier input has the same name",
                    }));
    // The same bytes as a conversion of the one file, and nothing half written.
    EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"in.mid", "second.mid"}));
    EXPECT_EQ(readBack(folder + "/in.mid"), readBack(output));
    EXPECT_EQ(readBack(folder + "/second.mid"), readBack(output));

    // Into the inputs' own folder: nothing is converted over its source.
    const Outcome over = tool({"--type", "GS", "--output-dir", dir, input});
    EXPECT_EQ(over.status, kExitFailed);
    EXPECT_EQ(over.err, input + ": " + input + " is an input and is never replaced\n" +
                            "0 converted, 1 failed\n");
    EXPECT_EQ(readBack(input), song);
    // A FIFO under an input's name is refused at once instead of waiting for a reader.
    std::filesystem::create_directory(dir + "/fifos");
    ASSERT_EQ(::mkfifo((dir + "/fifos/in.mid").c_str(), 0600), 0);
    const Outcome fifo = tool({"--type", "GS", "--output-dir", dir + "/fifos", input});
    EXPECT_EQ(fifo.err, input + ": Can not open file! (" + dir +
                            "/fifos/in.mid: nothing reads from the pipe)\n0 converted, 1 failed\n");
    const Outcome notAFolder = tool({"--type", "GS", "--output-dir", input, second});
    EXPECT_EQ(notAFolder.status, kExitFailed);
    EXPECT_EQ(notAFolder.err, input + ": not a folder\n");
    // A folder that cannot be made says why, not what a look at it afterwards finds.
    std::filesystem::create_directory(dir + "/locked");
    std::filesystem::permissions(dir + "/locked", std::filesystem::perms(0555));
    const Outcome locked =
        program(dir, "--type GS --output-dir '" + dir + "/locked/sub' '" + input + "'",
                ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "");
    EXPECT_EQ(locked.err, dir + "/locked/sub: Permission denied\n");
}

TEST_F(ConvertTool, ACollectionOfManyFlushGroupsIsWrittenWhole) {
    // Enough songs for a worker's groups to be flushed while it converts the next ones.
    std::vector<std::string> args = {"--type", "GS", "--output-dir", dir + "/out", "-j", "2"};
    std::filesystem::create_directory(dir + "/many");
    for (int i = 0; i < 100; ++i) {
        args.push_back(dir + "/many/" + std::to_string(i) + ".mid");
        ASSERT_TRUE(writeFile(args.back(), song).ok());
    }
    ASSERT_EQ(tool({"--type", "GS", input, output}).status, kExitWritten);
    const Outcome r = tool(args);
    EXPECT_EQ(r.status, kExitWritten);
    EXPECT_EQ(r.err, "100 converted, 0 failed\n");
    const std::vector<std::string> names = namesIn(dir + "/out");
    ASSERT_EQ(names.size(), 100u);
    for (const std::string& name : names)
        EXPECT_EQ(readBack(dir + "/out/" + name), readBack(output)) << name;
}

TEST_F(ConvertTool, TheProgressBarShowsOnATerminalOnly) {
    const std::string second = dir + "/second.mid";
    ASSERT_TRUE(writeFile(second, song).ok());
    const Outcome plain = tool({"--type", "GS", "--output-dir", dir + "/a", input, second});
    EXPECT_EQ(plain.err, "2 converted, 0 failed\n");

    const Outcome shown =
        tool({"--type", "GS", "--output-dir", dir + "/b", "-j", "1", input, second}, true);
    EXPECT_EQ(shown.status, kExitWritten);
    const std::string start = "\r[------------------------------]   0%  0/2\x1b[K";
    const std::string half = "\r[###############---------------]  50%  1/2\x1b[K";
    const std::string full = "\r[##############################] 100%  2/2\x1b[K";
    // Drawn in place, then taken off the line before the summary.
    EXPECT_EQ(shown.err, start + half + full + "\r\x1b[K2 converted, 0 failed\n");
}

TEST_F(ConvertTool, RenderWritesAudioAndRefusesWhatItCannot) {
    if (!std::filesystem::exists("/usr/share/sounds/sf2/TimGM6mb.sf2") &&
        !std::filesystem::exists("/usr/share/sounds/sf2/FluidR3_GM.sf2") &&
        !std::filesystem::exists("/usr/share/sounds/sf2/default-GM.sf2")) {
        GTEST_SKIP() << "no General MIDI SoundFont on this system";
    }
    const Outcome wav = tool({"--type", "MTS", "--render", dir + "/song.wav", input});
    EXPECT_EQ(wav.status, kExitWritten);
    EXPECT_EQ(wav.err, "Information has been written to the file!\n");
    EXPECT_EQ(slurp(dir + "/song.wav").substr(0, 4), "RIFF");
    ASSERT_EQ(tool({"--type", "GS", "--render", dir + "/song.flac", input}).status, kExitWritten);
    EXPECT_EQ(slurp(dir + "/song.flac").substr(0, 4), "fLaC");

    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{"--type", "GS", input, dir + "/x.wav"},
         "OUTPUT is a MIDI file; audio is written with --render " + dir + "/x.wav"},
        {{"--type", "GS", "--render", dir + "/x.mid", input},
         "--render writes a .wav or a .flac file"},
        {{"--type", "GS", "--render", "-", input},
         "--render needs a file name: audio cannot go to standard output"},
        {{"--type", "GS,MTS", "--render", dir + "/x.wav", input},
         "--render plays through one --type"},
        {{"--type", "GS", "--float", "--render", dir + "/x.flac", input},
         "--float makes WAV files only"},
    };
    for (const auto& [args, reason] : refused) {
        const Outcome r = tool(args);
        EXPECT_EQ(r.status, kExitUsage);
        EXPECT_EQ(lines(r.err)[0], reason);
    }
    const Outcome missing = tool({"--type", "GS", "--render", dir + "/x.wav", dir + "/none.mid"});
    EXPECT_EQ(missing.status, kExitFailed);
    // Audio is read back once written, which a device cannot do: refused before the render.
    std::filesystem::create_symlink("/dev/null", dir + "/null.wav");
    EXPECT_EQ(tool({"--type", "GS", "--render", dir + "/null.wav", input}).err,
              "Can not open file!\n" + dir +
                  "/null.wav: audio is written to a regular file only, not to a device "
                  "or a pipe\n");
    EXPECT_EQ(namesIn(dir),
              (std::vector<std::string>{"in.mid", "null.wav", "song.flac", "song.wav"}));
}

TEST_F(ConvertTool, WithoutTheSynthesizerARenderFailsAndAConversionStillWorks) {
    const std::string fake = std::string("LD_LIBRARY_PATH='") + PITCHLOOM_FAKE_LIBRARIES + "'";
    const Outcome render =
        program(dir, "--type GS --render '" + dir + "/song.wav' '" + input + "'", fake);
    EXPECT_EQ(render.status, kExitFailed);
    EXPECT_EQ(render.err, std::string("Audio needs the FluidSynth synthesizer, and it cannot be "
                                      "loaded!\n") +
                              PITCHLOOM_FLUIDSYNTH_LIBRARY +
                              ": missing, or without a function it needs\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/song.wav"));

    const Outcome convert = program(dir, "--type GS '" + input + "' '" + output + "'", fake);
    EXPECT_EQ(convert.status, kExitWritten);
    EXPECT_EQ(convert.err, "Information has been written to the file!\n");
}

}  // namespace
}  // namespace pitchloom

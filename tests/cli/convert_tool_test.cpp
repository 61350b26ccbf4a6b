#include "cli/convert_tool.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "midifile/file_io.h"
#include "midifile/midi_song.h"
#include "support/midi_builder.h"
#include "tuning/scale_file.h"

namespace pitchloom {
namespace {

using test::Bytes;
using test::TrackBuilder;

const std::string kUsageLine = "Usage: pitchloom-convert --type GS|XG|GM";

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
    return readFileBytes(path, kSongBufferSize + 1).value_or(Bytes{});
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Runs the converter in-process with the given arguments.
Outcome tool(std::vector<std::string> args) {
    args.insert(args.begin(), "pitchloom-convert");
    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int status = runConvertTool(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

// Runs the built program through the shell, arguments already quoted.
Outcome program(const std::string& dir, const std::string& args) {
    const std::string out = dir + "/stdout.txt";
    const std::string err = dir + "/stderr.txt";
    const std::string command = std::string("'") + PITCHLOOM_CONVERT_PROGRAM + "' " + args + " >'" +
                                out + "' 2>'" + err + "' </dev/null";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(out), slurp(err)};
}

class ConvertTool : public testing::Test {
  protected:
    void SetUp() override {
        dir = test::makeTempDir(testing::UnitTest::GetInstance()->current_test_info()->name());
        input = dir + "/in.mid";
        output = dir + "/out.mid";
        ASSERT_TRUE(writeFileAtomically(input, song));
    }

    const Bytes song = test::format0(480, TrackBuilder()
                                              .programChange(0, 0, 5)
                                              .noteOn(480, 0, 61, 100)
                                              .noteOff(480, 0, 61)
                                              .endOfTrack());
    std::string dir;
    std::string input;
    std::string output;
};

using ConvertProgram = ConvertTool;

TEST(Labels, MatchWithoutRegardToCase) {
    EXPECT_EQ(keyRowOf("G"), 8);
    EXPECT_EQ(keyRowOf("c#"), 14);
    EXPECT_EQ(keyRowOf("CB"), 0);
    EXPECT_EQ(scaleRowOf("okinawan SCALE"), 2);
    EXPECT_EQ(scaleRowOf("Gamelan"), 9);
    EXPECT_EQ(tuningRowOf("temparament"), 0);
    EXPECT_EQ(tuningRowOf("Gamelan"), 4);
}

TEST(Labels, OnlyWholeLabelsWithATableCount) {
    EXPECT_EQ(keyRowOf("H"), std::nullopt);
    EXPECT_EQ(keyRowOf("C "), std::nullopt);
    EXPECT_EQ(scaleRowOf("Okinawan"), std::nullopt);
    EXPECT_EQ(scaleRowOf("Custom"), std::nullopt);
    EXPECT_EQ(tuningRowOf("CUSTOM"), std::nullopt);
    EXPECT_EQ(tuningRowOf(""), std::nullopt);
}

TEST_F(ConvertTool, XgInGPentatonicWritesTheTunedSong) {
    const Outcome r = tool({"--type", "XG", "--key", "G", "--scale", "Pentatonic", input, output});
    EXPECT_EQ(r.status, kExitWritten);
    EXPECT_EQ(r.err, "Information has been written to the file!\n");
    EXPECT_EQ(r.out, "");
    const Bytes out = readBack(output);
    ASSERT_EQ(out.size(), song.size() + 2112);
    // The messages follow the program change at time 0 in reverse: (15, B) first, (0, C) last.
    // Just Intonation in G puts C at -2 cents.
    const Bytes lastMessage = {0x00, 0xF0, 0x08, 0x43, 0x10, 0x4C, 0x08, 0x00, 0x41, 0x3E, 0xF7};
    EXPECT_EQ(Bytes(out.begin() + 22 + 2112 - 11, out.begin() + 22 + 2112), lastMessage);
    // G pentatonic is G A B D E: 61 (C#) moves up to D.
    const Bytes tail = {0x00, 0xC0, 0x05, 0x83, 0x60, 0x90, 0x3E,
                        0x64, 0x83, 0x60, 0x80, 0x3E, 0x40};
    EXPECT_EQ(Bytes(out.begin() + 22 + 2112, out.begin() + 22 + 2112 + 13), tail);
    EXPECT_EQ(readBack(input), song);
}

TEST_F(ConvertTool, ScaleFileOffsetsAndMarksAreUsedAsStored) {
    ScaleFileData custom;
    custom.offsets = {-50, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 90};  // 90 is clamped to 63
    custom.marks = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};       // 7 counts as 1
    custom.keyRow = 3;
    const auto bytes = serializeScaleFile(custom);
    const std::string sca = dir + "/custom.sca";
    ASSERT_TRUE(writeFileAtomically(sca, bytes));

    const Outcome r = tool({"--type", "gs", "--key", "D", "--scale-file", sca, input, output});
    EXPECT_EQ(r.status, kExitWritten) << r.err;
    const Bytes out = readBack(output);
    ASSERT_EQ(out.size(), song.size() + 384);
    // Each GS message carries C at 0x0E and B at 0x7F, whatever --key says.
    EXPECT_EQ(out[22 + 1 + 9], 0x0E);
    EXPECT_EQ(out[22 + 1 + 20], 0x7F);
    // C# (61) moves up to the next member, B (71).
    EXPECT_EQ(out[22 + 384 + 3 + 3], 71);
}

TEST_F(ConvertTool, DamagedScaleFilesAreRefusedBeforeAnythingIsWritten) {
    ScaleFileData noMembers;
    const auto empty = serializeScaleFile(noMembers);
    const auto valid = serializeScaleFile(ScaleFileData{{}, {1}, 7});
    const std::vector<Bytes> damaged = {
        Bytes(empty.begin(), empty.end()),
        Bytes(valid.begin(), valid.end() - 1),
        [&] {
            Bytes longer(valid.begin(), valid.end());
            longer.push_back(0);
            return longer;
        }(),
    };
    for (const Bytes& file : damaged) {
        const std::string sca = dir + "/damaged.sca";
        ASSERT_TRUE(writeFileAtomically(sca, file));
        const Outcome r = tool({"--type", "XG", "--scale-file", sca, input, output});
        EXPECT_EQ(r.status, kExitFailed) << file.size();
        EXPECT_EQ(r.err, "This is not a valid scale file!\n");
        EXPECT_FALSE(std::filesystem::exists(output));
    }
    const Outcome missing =
        tool({"--type", "XG", "--scale-file", dir + "/none.sca", input, output});
    EXPECT_EQ(missing.status, kExitFailed);
    EXPECT_EQ(missing.err, "This is not a valid scale file!\n");
}

TEST_F(ConvertTool, UsageErrorsGiveAReasonAndTheUsage) {
    const std::vector<std::vector<std::string>> wrong = {
        {"--type", "XG", input},                                // OUTPUT missing
        {input, output},                                        // --type missing
        {"--type", "MT32", input, output},                      // no such type
        {"--type", "XG", "--key", "H", input, output},          // no such key
        {"--type", "XG", "--scale", "Blues", input, output},    // no such scale
        {"--type", "XG", "--tuning", "CUSTOM", input, output},  // custom needs a file
        {"--type", "XG", "--scale-file", "a.sca", "--scale", "Gamelan", input, output},
        {"--type", "XG", "--speed", "2", input, output},  // no such option
        {"--type", "XG", input, output, "extra.mid"},
        {"--type", "XG", input, input},  // would overwrite the source
    };
    for (const auto& args : wrong) {
        const Outcome r = tool(args);
        EXPECT_EQ(r.status, kExitUsage) << args[1];
        const auto errLines = lines(r.err);
        ASSERT_GE(errLines.size(), 2u) << r.err;
        EXPECT_FALSE(errLines[0].empty());
        EXPECT_EQ(errLines[1].rfind(kUsageLine, 0), 0u) << r.err;
        EXPECT_FALSE(std::filesystem::exists(output));
    }
    EXPECT_EQ(readBack(input), song);
}

TEST_F(ConvertTool, LoadAndWriteFailuresExitWithOne) {
    const Outcome noInput = tool({"--type", "GS", dir + "/none.mid", output});
    EXPECT_EQ(noInput.status, kExitFailed);
    EXPECT_FALSE(noInput.err.empty());
    EXPECT_FALSE(std::filesystem::exists(output));

    const Outcome noFolder = tool({"--type", "GS", input, dir + "/none/out.mid"});
    EXPECT_EQ(noFolder.status, kExitFailed);
    EXPECT_EQ(noFolder.err, "Can not open file!\n");
}

TEST_F(ConvertProgram, ListsTheLabelsOnStandardOutput) {
    const Outcome r = program(dir, "--list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const auto out = lines(r.out);
    auto has = [&](const std::string& line) {
        return std::find(out.begin(), out.end(), line) != out.end();
    };
    for (const char* line : {"Keys:", "Cb", "C#", "Scales:", "Okinawan scale", "Whole tone",
                             "Tunings:", "Temparament", "Kurenberger"}) {
        EXPECT_TRUE(has(line)) << line;
    }
    EXPECT_FALSE(has("Custom"));
    EXPECT_EQ(out.size(), 15u + 10u + 8u + 3u + 2u);
}

TEST_F(ConvertProgram, HelpGoesToStandardOutput) {
    const Outcome r = program(dir, "--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--scale-file"), std::string::npos);
    EXPECT_NE(r.out.find(kUsageLine), std::string::npos);
}

TEST_F(ConvertProgram, ExitStatusesAndMessagesOnStandardError) {
    const Outcome written =
        program(dir, "--type XG --key G --scale Pentatonic '" + input + "' '" + output + "'");
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.err, "Information has been written to the file!\n");
    EXPECT_EQ(readBack(output).size(), song.size() + 2112);

    const Outcome usage =
        program(dir, "--type XG --scale 'No such scale' '" + input + "' '" + output + "'");
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(lines(usage.err).size(), 3u) << usage.err;  // the reason, then two usage lines
    EXPECT_EQ(usage.out, "");

    const Outcome failed = program(dir, "--type GS '" + input + "' '" + dir + "/none/x.mid'");
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "Can not open file!\n");
}

}  // namespace
}  // namespace pitchloom

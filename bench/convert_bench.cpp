#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "base/file_io.h"
#include "convert/convert_command.h"
#include "convert/song_writer.h"
#include "session/session.h"
#include "support/scripted_dialogs.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using SilentDialogs = pitchloom::test::ScriptedDialogs;
using Clock = std::chrono::steady_clock;
constexpr pitchloom::DeviceType kXg[] = {pitchloom::DeviceType::XG};

void append32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// A dense format-1 file of about 980000 bytes: a tempo track with a GS reset, then fifteen
// tracks of notes whose events fall together, as in a busy orchestral arrangement.
Bytes denseFormat1() {
    constexpr int kNoteTracks = 15;
    constexpr std::size_t kTrackBytes = 65300;
    std::vector<Bytes> tracks;
    tracks.push_back({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,                          //
                      0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00,  //
                      0x41, 0xF7, 0x00, 0xFF, 0x2F, 0x00});
    for (int t = 0; t < kNoteTracks; ++t) {
        Bytes track;
        const auto channel = static_cast<std::uint8_t>(t < 9 ? t : t + 1);
        for (int i = 0; track.size() + 12 < kTrackBytes; ++i) {
            const auto note = static_cast<std::uint8_t>(36 + (i * 7 + t * 5) % 60);
            track.insert(track.end(), {0x10, static_cast<std::uint8_t>(0x90 | channel), note, 100,
                                       0x10, static_cast<std::uint8_t>(0x80 | channel), note, 64});
        }
        track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
        tracks.push_back(std::move(track));
    }
    Bytes file = {'M',  'T', 'h', 'd', 0, 0,
                  0,    6,   0,   1,   0, static_cast<std::uint8_t>(tracks.size()),
                  0x01, 0xE0};
    for (const Bytes& t : tracks) {
        file.insert(file.end(), {'M', 'T', 'r', 'k'});
        append32(file, static_cast<std::uint32_t>(t.size()));
        file.insert(file.end(), t.begin(), t.end());
    }
    return file;
}

std::string writeInput(const Bytes& file) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "pitchloom-convert-bench.mid").string();
    return pitchloom::writeFile(path, file).ok() ? path : std::string();
}

// Load with merge, XG insertion and note moves: the Convert command without its dialogs.
void ConvertDenseFormat1ToXg(benchmark::State& state) {
    const Bytes file = denseFormat1();
    const std::string path = writeInput(file);
    if (path.empty()) {
        state.SkipWithError("cannot write the input file");
        return;
    }

    SilentDialogs dialogs;
    pitchloom::Session session(dialogs);
    session.createSong();
    pitchloom::MidiSong& song = session.song;
    pitchloom::TuningState& tuning = session.tuning;
    tuning.selectTuningRow(1, 8);  // Just Intonation in G
    tuning.selectScaleRow(1, 8);   // Pentatonic in G

    for (auto _ : state) {
        if (!session.loader.loadSongFromPath(path)) {
            state.SkipWithError("the load failed");
            break;
        }
        pitchloom::SongWriter writer(song, tuning, dialogs);
        tuning.rhythm.resetRhythmChannels();
        const auto time = writer.findTuningTime();
        if (!pitchloom::insertScaleTuning(writer, tuning, kXg, time)) {
            state.SkipWithError("the tuning did not fit");
            break;
        }
        writer.applyScaleToNotes();
        benchmark::DoNotOptimize(song.data.data());
    }
    state.counters["file_bytes"] = static_cast<double>(file.size());
    state.counters["song_bytes"] = static_cast<double>(song.length);
    std::filesystem::remove(path);
}
BENCHMARK(ConvertDenseFormat1ToXg)->Unit(benchmark::kMillisecond);

// The writer's share alone: the merged song is restored before each round.
void XgInsertionAndNoteMoves(benchmark::State& state) {
    const std::string path = writeInput(denseFormat1());
    SilentDialogs dialogs;
    pitchloom::Session session(dialogs);
    session.createSong();
    pitchloom::MidiSong& song = session.song;
    if (path.empty() || !session.loader.loadSongFromPath(path)) {
        state.SkipWithError("the load failed");
        return;
    }
    std::filesystem::remove(path);
    const pitchloom::MidiSong merged = song;
    pitchloom::TuningState tuning;
    tuning.selectScaleRow(1, 8);

    for (auto _ : state) {
        state.PauseTiming();
        std::copy_n(merged.data.begin(), merged.length, song.data.begin());
        song.length = merged.length;
        state.ResumeTiming();
        pitchloom::SongWriter writer(song, tuning, dialogs);
        const auto time = writer.findTuningTime();
        pitchloom::insertScaleTuning(writer, tuning, kXg, time);
        writer.applyScaleToNotes();
        benchmark::DoNotOptimize(song.data.data());
    }
}
BENCHMARK(XgInsertionAndNoteMoves)->Unit(benchmark::kMillisecond);

// A format-0 song at the size limit whose only note comes at its very end, after thousands of
// controller changes: every message must find its place behind all of them.
Bytes lateNoteFormat0(std::size_t room) {
    Bytes track;
    while (track.size() + 4 + 8 + room < pitchloom::kSongBufferSize - 22 - 1) {
        track.insert(track.end(), {0x01, 0xB0, 0x07, 0x64});
    }
    track.insert(track.end(), {0x00, 0x90, 0x3D, 0x64, 0x00, 0xFF, 0x2F, 0x00});
    Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
    append32(file, static_cast<std::uint32_t>(track.size()));
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

double millisecondsOf(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The whole Convert command, load to written file, against reading and writing the same file
// in the same run; the counter x_read_write is the ratio (the goal: at most 10).
void ConvertLateNote(benchmark::State& state) {
    const pitchloom::DeviceType type =
        pitchloom::dialects()[static_cast<std::size_t>(state.range(0))].type;
    const Bytes file = lateNoteFormat0(pitchloom::scaleTuningBytes(pitchloom::DeviceType::XG) + 1);
    const std::string input = writeInput(file);
    const std::string output = input + ".out.mid";
    if (input.empty()) {
        state.SkipWithError("cannot write the input file");
        return;
    }
    Clock::duration reference{};
    constexpr int kReferenceRounds = 20;
    for (int i = 0; i < kReferenceRounds; ++i) {
        const auto start = Clock::now();
        const auto read = pitchloom::readFile(input, pitchloom::kSongBufferSize);
        pitchloom::writeFile(output, read.bytes);
        reference += Clock::now() - start;
    }

    SilentDialogs dialogs;
    pitchloom::Session session(dialogs);
    session.createSong();
    session.deviceType = type;
    session.tuning.selectScaleRow(1, 7);
    Clock::duration converting{};
    for (auto _ : state) {
        dialogs.willOpen(input);
        dialogs.willSave(output);
        const auto start = Clock::now();
        if (!session.convert(false)) {
            state.SkipWithError("the conversion failed");
            break;
        }
        converting += Clock::now() - start;
    }
    const double perConvert = millisecondsOf(converting) / static_cast<double>(state.iterations());
    const double perReadWrite = millisecondsOf(reference) / kReferenceRounds;
    state.counters["read_write_ms"] = perReadWrite;
    state.counters["x_read_write"] = perConvert / perReadWrite;
    state.counters["file_bytes"] = static_cast<double>(file.size());
    std::filesystem::remove(input);
    std::filesystem::remove(output);
}
BENCHMARK(ConvertLateNote)
    ->Arg(static_cast<int>(pitchloom::DeviceType::GM.row()))
    ->Arg(static_cast<int>(pitchloom::DeviceType::GS.row()))
    ->Arg(static_cast<int>(pitchloom::DeviceType::XG.row()))
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

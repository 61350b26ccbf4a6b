#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "base/user_dialogs.h"
#include "midifile/format0_merge.h"
#include "midifile/midi_song.h"
#include "midifile/song_loader.h"
#include "session/session.h"
#include "support/scripted_dialogs.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using pitchloom::kSongBufferSize;

constexpr std::size_t kTracks = 16;
constexpr std::size_t kTargetFileSize = 980000;

// Counts boxes instead of showing them; a box means the generated file was not merged cleanly.
using CountingDialogs = pitchloom::test::ScriptedDialogs;

void append32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// Sixteen tracks, one channel each, playing eighth notes together at 480 ticks a quarter: every
// note on carries its status, every note off runs on it as a note on of velocity 0. The merged
// image comes out a little smaller than the file, so it still fits the song buffer.
Bytes denseFormat1File() {
    constexpr std::size_t kHeadBytes = 14 + kTracks * 8 + 7 + 4;  // + tempo, end of track
    constexpr std::size_t kPairBytes = 9;                         // 81 70 9c nn vv, 81 70 nn 00
    const std::size_t pairs = (kTargetFileSize - kHeadBytes) / kTracks / kPairBytes;

    Bytes file{'M',  'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<std::uint8_t>(kTracks),
               0x01, 0xE0};
    for (std::size_t t = 0; t < kTracks; ++t) {
        Bytes track;
        if (t == 0) track.insert(track.end(), {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});
        const auto status = static_cast<std::uint8_t>(0x90 | t);
        for (std::size_t i = 0; i < pairs; ++i) {
            const auto note = static_cast<std::uint8_t>(36 + (i * 7 + t * 3) % 60);
            track.insert(track.end(), {0x81, 0x70, status, note, 100, 0x81, 0x70, note, 0});
        }
        track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
        file.insert(file.end(), {'M', 'T', 'r', 'k'});
        append32(file, static_cast<std::uint32_t>(track.size()));
        file.insert(file.end(), track.begin(), track.end());
    }
    return file;
}

const Bytes& sourceFile() {
    static const Bytes file = denseFormat1File();
    return file;
}

void reportSizes(benchmark::State& state, std::int32_t merged) {
    state.counters["file_bytes"] = static_cast<double>(sourceFile().size());
    state.counters["merged_bytes"] = static_cast<double>(merged);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sourceFile().size()));
}

// The merge alone, on a fresh copy of the file each time (the copy is about 2% of the time).
void BM_MergeToFormat0(benchmark::State& state) {
    const Bytes& file = sourceFile();
    CountingDialogs dialogs;
    pitchloom::Format0Merger merger(dialogs);
    pitchloom::MidiSong song;
    if (!song.create()) return state.SkipWithError("no song buffer");
    std::int32_t merged = 0;
    for (auto _ : state) {
        std::copy(file.begin(), file.end(), song.data.begin());
        const auto length = merger.mergeToFormat0(song, static_cast<std::int32_t>(file.size()));
        if (!length || !dialogs.boxes().empty())
            return state.SkipWithError("the file was not merged");
        merged = *length;
        benchmark::DoNotOptimize(song.data.data());
    }
    reportSizes(state, merged);
}
BENCHMARK(BM_MergeToFormat0)->Unit(benchmark::kMillisecond);

// What a user waits for when dropping the file: read from disk (the page cache) and merge.
void BM_LoadSongFromPath(benchmark::State& state) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("pitchloom-merge-bench-" + std::to_string(::getpid()) + ".mid");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(sourceFile().data()),
                  static_cast<std::streamsize>(sourceFile().size()));
    }
    CountingDialogs dialogs;
    pitchloom::Session session(dialogs);
    if (!session.createSong()) return state.SkipWithError("no song buffer");
    pitchloom::MidiSong& song = session.song;
    pitchloom::SongLoader& loader = session.loader;
    for (auto _ : state) {
        if (!loader.loadSongFromPath(path.string())) {
            state.SkipWithError("the file was not loaded");
            break;
        }
        benchmark::DoNotOptimize(song.data.data());
    }
    std::filesystem::remove(path);
    reportSizes(state, song.length);
}
BENCHMARK(BM_LoadSongFromPath)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

// Writes the seed inputs of every fuzz target into <corpus>/<target>/. Files named "seed-…" are
// ordinary songs, scale files and messages; "nasty-…" are the damaged inputs each reader must
// survive. Files already in a folder under other names (inputs that once found a fault) stay.

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "midifile/sysex.h"
#include "support/midi_builder.h"
#include "tuning/dialect.h"
#include "tuning/scale_file.h"
#include "tuning/tuning_state.h"

namespace pitchloom::fuzz {
namespace {

using test::Bytes;
using test::smf;
using test::TrackBuilder;

constexpr int kDivision = 96;

struct Seed {
    std::string name;
    Bytes bytes;
};

// The GS reset, XG System On and GM System On bodies after F0, up to and including F7.
const Bytes kGsResetBody{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
const Bytes kXgOnBody{0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
const Bytes kGmOnBody{0x7E, 0x7F, 0x09, 0x01, 0xF7};
// Use-for-rhythm-part on block 0x1A (channel 11), checksum included.
const Bytes kRhythmPartBody{0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7};

Bytes bytesOf(const TrackBuilder& t) {
    return t.bytes();
}

TrackBuilder melody(int channel, int firstNote) {
    TrackBuilder t;
    t.programChange(0, channel, 5).controlChange(0, channel, 7, 100);
    for (int i = 0; i < 6; ++i) {
        t.noteOn(i == 0 ? 0 : 24, channel, firstNote + i, 90).noteOff(24, channel, firstNote + i);
    }
    return t;
}

// Songs as whole files: the loader's and the converter's input.
std::vector<Seed> songFiles() {
    std::vector<Seed> s;
    const TrackBuilder conductor = TrackBuilder()
                                       .tempo(0, 500000)
                                       .meta(0, 0x58, {4, 2, 24, 8})
                                       .meta(0, 0x59, {0, 0})
                                       .meta(0, 0x03, {'t', 'u', 'n', 'e'});
    s.push_back(
        {"seed-format0.mid",
         test::format0(kDivision, TrackBuilder(melody(0, 60)).tempo(0, 461538).endOfTrack())});
    s.push_back({"seed-format1-three-tracks.mid",
                 smf(1, kDivision,
                     {bytesOf(TrackBuilder(conductor).endOfTrack()),
                      bytesOf(melody(0, 60).endOfTrack()), bytesOf(melody(9, 36).endOfTrack())})});
    s.push_back({"seed-running-status.mid", smf(1, kDivision,
                                                {bytesOf(TrackBuilder()
                                                             .noteOn(0, 1, 61, 80)
                                                             .running(10, 63, 80)
                                                             .running(10, 61, 0)
                                                             .running(0, 63, 0)
                                                             .programChange(5, 1, 3)
                                                             .running1(5, 4)
                                                             .endOfTrack())})});
    s.push_back(
        {"seed-resets-and-rhythm.mid", smf(1, kDivision,
                                           {bytesOf(TrackBuilder()
                                                        .sysex(0, kGsResetBody)
                                                        .sysex(0, kXgOnBody)
                                                        .sysex(0, kGmOnBody)
                                                        .sysex(10, kRhythmPartBody)
                                                        .noteOn(10, 10, 61, 70)
                                                        .noteOff(10, 10, 61)
                                                        .raw(0, {0xF7, 0x03, 0x41, 0x10, 0xF7})
                                                        .endOfTrack())})});
    s.push_back({"seed-every-meta.mid", smf(1, kDivision,
                                            {bytesOf(TrackBuilder()
                                                         .raw(0, {0xFF, 0x00, 0x02, 0x00, 0x01})
                                                         .raw(0, {0xFF, 0x20, 0x01, 0x00})
                                                         .meta(0, 0x01, {'a'})
                                                         .meta(0, 0x02, {'b'})
                                                         .meta(0, 0x04, {'c'})
                                                         .meta(0, 0x05, {'d'})
                                                         .meta(0, 0x06, {'e'})
                                                         .meta(0, 0x07, {'f'})
                                                         .meta(0, 0x21, {0})
                                                         .meta(0, 0x7F, {0x43, 0x7B})
                                                         .meta(0, 0x54, {0x60, 0, 0, 0, 0})
                                                         .noteOn(1, 0, 60, 1)
                                                         .endOfTrack())})});
    s.push_back({"seed-long-rests.mid",
                 smf(1, kDivision,
                     {bytesOf(TrackBuilder().noteOn(0, 0, 60, 1).noteOn(30000, 0, 62, 1)),
                      bytesOf(TrackBuilder().noteOn(60001, 1, 64, 1))})});
    s.push_back({"seed-notes-at-the-edges.mid", smf(1, kDivision,
                                                    {bytesOf(TrackBuilder()
                                                                 .noteOn(0, 0, 127, 100)
                                                                 .noteOn(0, 0, 0, 100)
                                                                 .noteOn(0, 0, 126, 100)
                                                                 .noteOff(1, 0, 127)
                                                                 .noteOff(0, 0, 0)
                                                                 .noteOff(0, 0, 126)
                                                                 .endOfTrack())})});

    std::vector<Bytes> many(65, bytesOf(TrackBuilder().noteOn(0, 0, 60, 1)));
    s.push_back({"nasty-65-tracks.mid", smf(1, kDivision, many)});
    many.pop_back();
    s.push_back({"nasty-64-tracks.mid", smf(1, kDivision, many)});

    const Bytes plain = smf(1, kDivision, {bytesOf(melody(0, 60).endOfTrack())});
    s.push_back({"nasty-cut-in-an-event.mid", Bytes(plain.begin(), plain.end() - 6)});
    s.push_back({"nasty-cut-in-the-header.mid", Bytes(plain.begin(), plain.begin() + 11)});
    s.push_back({"nasty-format0-cut-in-the-header.mid", Bytes(plain.begin(), plain.begin() + 21)});
    Bytes chunkTooLong = plain;
    chunkTooLong[18] = 0xFF;
    s.push_back({"nasty-chunk-longer-than-the-file.mid", chunkTooLong});

    s.push_back(
        {"nasty-huge-delta.mid", smf(1, kDivision,
                                     {bytesOf(TrackBuilder()
                                                  .noteOn(0, 0, 60, 1)
                                                  .raw(0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,
                                                           0x90, 0x3C, 0x00}))})});
    s.push_back({"nasty-huge-text-length.mid",
                 smf(1, kDivision,
                     {bytesOf(TrackBuilder()
                                  .noteOn(0, 0, 60, 1)
                                  .raw(0, {0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'x'}))})});
    s.push_back({"nasty-sysex-without-f7.mid",
                 smf(1, kDivision,
                     {bytesOf(TrackBuilder().noteOn(0, 0, 60, 1).raw(1, {0xF0, 0x05, 0x41, 0x10})),
                      bytesOf(TrackBuilder().noteOn(0, 1, 62, 1))})});
    s.push_back({"nasty-division-0.mid", smf(1, 0, {bytesOf(melody(0, 60).endOfTrack())})});
    s.push_back(
        {"nasty-division-smpte.mid", smf(1, 0xE728, {bytesOf(melody(0, 60).endOfTrack())})});
    s.push_back(
        {"nasty-tempo-0.mid",
         smf(1, kDivision, {bytesOf(TrackBuilder(melody(0, 60)).tempo(0, 0).endOfTrack())})});
    s.push_back(
        {"nasty-first-event-running-status.mid",
         smf(1, kDivision,
             {bytesOf(TrackBuilder().running(0, 60, 100).noteOn(5, 0, 62, 1).endOfTrack())})});
    s.push_back({"nasty-unknown-meta.mid", smf(1, kDivision,
                                               {bytesOf(TrackBuilder()
                                                            .raw(0, {0xFF, 0x09, 0x02, 'o', 'k'})
                                                            .raw(0, {0xFF, 0x60, 0x00})
                                                            .raw(0, {0xFF, 0xF0, 0x01, 0x00})
                                                            .noteOn(0, 0, 60, 1)
                                                            .endOfTrack())})});
    s.push_back({"nasty-format2.mid", smf(2, kDivision, {bytesOf(melody(0, 60).endOfTrack())})});
    s.push_back({"nasty-other-chunk-tag.mid", [] {
                     Bytes b = smf(1, kDivision, {bytesOf(melody(0, 60).endOfTrack())});
                     b[14] = 'X';
                     return b;
                 }()});
    s.push_back({"nasty-no-midi-at-all.mid", Bytes(40, 0x00)});
    return s;
}

// Format-0 images as a load leaves them: the sequencer's input.
std::vector<Bytes> songImages() {
    std::vector<Bytes> out;
    const auto image = [](TrackBuilder t, int division = kDivision) {
        return test::format0(division, t.endOfTrack());
    };
    out.push_back(image(TrackBuilder(melody(0, 60)).tempo(0, 461538)));
    out.push_back(image(TrackBuilder()
                            .sysex(0, kGsResetBody)
                            .sysex(0, kXgOnBody)
                            .sysex(0, kRhythmPartBody)
                            .noteOn(1, 10, 61, 70)
                            .running(1, 61, 0)
                            .raw(0, {0xF7, 0x02, 0x7F, 0x7F})
                            .noteOn(0, 9, 36, 70)));
    out.push_back(image(TrackBuilder()
                            .raw(0, {0xFF, 0x20, 0x01, 0x00})
                            .meta(0, 0x01, {'a'})
                            .raw(0, {0xFF, 0x54, 0x05, 0x60, 0, 0, 0, 0})
                            .raw(0, {0xFF, 0x58, 0x04, 4, 2, 24, 8})
                            .raw(0, {0xFF, 0x59, 0x02, 0, 0})
                            .noteOn(0, 0, 127, 1)
                            .noteOn(1, 0, 0, 1)
                            .raw(1, {0xA0, 60, 1})
                            .raw(0, {0xD0, 60})
                            .raw(0, {0xE0, 0, 64})
                            .running1(0, 1)));
    out.push_back(image(TrackBuilder(melody(0, 60)), 0));
    out.push_back(image(TrackBuilder(melody(0, 60)), 0xE728));
    out.push_back(image(TrackBuilder(melody(0, 60)).tempo(0, 0).noteOn(96, 0, 60, 1)));
    out.push_back(image(TrackBuilder().running(0, 60, 100)));
    out.push_back(image(TrackBuilder().noteOn(0, 0, 60, 1).raw(1, {0xF0, 0x05, 0x41})));
    out.push_back(image(TrackBuilder()
                            .noteOn(0, 0, 60, 1)
                            .raw(0, {0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 0x3C, 0x00})));
    out.push_back(image(TrackBuilder().noteOn(0, 0, 60, 1).raw(0, {0xFF, 0x60, 0x00})));
    Bytes cut = image(TrackBuilder(melody(0, 60)));
    cut.resize(cut.size() - 5);
    out.push_back(cut);
    return out;
}

Bytes withSettings(std::uint8_t type, unsigned mask, const Bytes& rest) {
    Bytes b{type, static_cast<std::uint8_t>(mask), static_cast<std::uint8_t>(mask >> 8)};
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

// Scale masks by pitch class bit (C = bit 0): chromatic, C pentatonic, only B, only C.
constexpr std::pair<const char*, unsigned> kMasks[] = {
    {"chromatic", 0xFFF}, {"pentatonic", 0x295}, {"only-b", 0x800}, {"only-c", 0x001}};
// The name of the dialect a setting byte chooses, in small letters.
std::string typeName(std::size_t type) {
    std::string name(pitchloom::dialects()[type].name);
    for (char& c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

std::vector<Seed> convertInputs(const std::vector<Seed>& files) {
    std::vector<Seed> out;
    std::size_t i = 0;
    for (const Seed& f : files) {
        // Each file once, the device types and scales taking turns.
        const auto type = static_cast<std::uint8_t>(i % pitchloom::dialects().size());
        const auto& mask = kMasks[i % 4];
        out.push_back({typeName(type) + "-" + mask.first + "-" + f.name,
                       withSettings(type, mask.second, f.bytes)});
        ++i;
    }
    return out;
}

std::vector<Seed> playbackInputs() {
    std::vector<Seed> out;
    std::size_t i = 0;
    for (const Bytes& image : songImages()) {
        for (std::uint8_t type = 0; type < pitchloom::dialects().size(); ++type) {
            const auto& mask = kMasks[(i + type) % 4];
            out.push_back({"seed-" + std::to_string(i) + "-" + typeName(type) + "-" + mask.first,
                           withSettings(type, mask.second, image)});
        }
        ++i;
    }
    return out;
}

std::vector<Seed> scaleFiles() {
    std::vector<Seed> out;
    const auto file = [](const Offsets& offsets, const ScaleMarks& marks, std::int32_t key) {
        const auto bytes = serializeScaleFile({offsets, marks, key});
        return Bytes(bytes.begin(), bytes.end());
    };
    const Offsets just{0, -8, 4, 16, -14, -2, -10, 2, -6, 6, 18, -12};
    const ScaleMarks all{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const ScaleMarks pentatonic{1, 0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 0};
    const ScaleMarks onlyB{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    out.push_back({"seed-just-chromatic-c.sca", file(just, all, 7)});
    out.push_back({"seed-pentatonic-g.sca", file(just, pentatonic, 8)});
    out.push_back({"seed-only-b.sca", file(Offsets{}, onlyB, 0)});
    out.push_back({"seed-arabian-edge.sca",
                   file({-6, 45, -2, -12, -51, -8, 43, -4, 47, 0, -10, -49}, all, 14)});

    const Bytes good = file(just, pentatonic, 8);
    out.push_back({"nasty-63-bytes.sca", Bytes(good.begin(), good.end() - 1)});
    Bytes longer = good;
    longer.push_back(0);
    out.push_back({"nasty-65-bytes.sca", longer});
    out.push_back({"nasty-empty.sca", {}});
    out.push_back({"nasty-no-member.sca", file(just, ScaleMarks{}, 7)});
    out.push_back(
        {"nasty-marks-not-0-or-1.sca", file(just, {2, 0, 255, 0, 0, 0, 0, 128, 0, 0, 0, 0}, 7)});
    out.push_back(
        {"nasty-offsets-beyond-a-byte.sca",
         file({1000, -1000, 64, -65, 2147483647, -2147483647 - 1, 0, 0, 0, 0, 0, 0}, all, 7)});
    out.push_back({"nasty-key-row-outside.sca", file(just, all, -1)});
    out.push_back({"nasty-key-row-15.sca", file(just, all, 15)});
    out.push_back({"nasty-all-ff.sca", Bytes(64, 0xFF)});
    return out;
}

std::vector<Seed> sysexMessages() {
    std::vector<Seed> out;
    TuningState state;
    state.selectTuningRow(3, 7);  // Arabian
    const Offsets tuning = state.offsetValues();
    std::uint8_t buf[kGsScaleTuningSize];
    const auto built = [&](std::size_t n) { return Bytes(buf, buf + n); };
    const auto fileForm = [](const Bytes& body) {
        Bytes b{0xF0};
        test::appendVlq(b, static_cast<std::uint32_t>(body.size()));
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };
    const auto deviceForm = [](const Bytes& body) {
        Bytes b{0xF0};
        b.insert(b.end(), body.begin(), body.end());
        return b;
    };

    out.push_back({"seed-gs-tuning-channel-1", built(buildGsScaleTuning(tuning, 0, buf))});
    out.push_back({"seed-gs-tuning-channel-10", built(buildGsScaleTuning(tuning, 15, buf))});
    out.push_back({"seed-xg-tuning", built(buildXgScaleTuning(tuning, 3, 11, buf))});
    out.push_back({"seed-gs-reset", fileForm(kGsResetBody)});
    out.push_back({"seed-xg-system-on", fileForm(kXgOnBody)});
    out.push_back({"seed-gm-system-on", fileForm(kGmOnBody)});
    out.push_back({"seed-rhythm-part", fileForm(kRhythmPartBody)});
    out.push_back({"seed-device-form-gs-reset", deviceForm(kGsResetBody)});
    // MIDI Tuning Standard, real time single note tuning change, which FluidSynth takes itself.
    out.push_back({"seed-mts-note-change",
                   deviceForm({0x7F, 0x7F, 0x08, 0x02, 0x00, 0x01, 0x3C, 0x3C, 0x10, 0x00, 0xF7})});
    Bytes sequence = fileForm(kGsResetBody);
    for (int part = 0; part < 16; ++part) {
        const Bytes m = built(buildGsScaleTuning(tuning, part, buf));
        sequence.insert(sequence.end(), m.begin(), m.end());
    }
    out.push_back({"seed-reset-then-sixteen-parts", sequence});

    Bytes badSum = built(buildGsScaleTuning(tuning, 2, buf));
    badSum[21] ^= 0x01;
    out.push_back({"nasty-gs-bad-checksum", badSum});
    out.push_back({"nasty-no-f7", Bytes{0xF0, 0x15, 0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x40}});
    out.push_back({"nasty-only-f0", Bytes{0xF0}});
    out.push_back({"nasty-f0-f7", Bytes{0xF0, 0xF7}});
    out.push_back({"nasty-length-runs-on", Bytes{0xF0, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86}});
    out.push_back({"nasty-status-bytes-inside", Bytes{0xF0, 0x05, 0x41, 0x90, 0x42, 0x12, 0xF7}});
    Bytes longWrite = built(buildGsScaleTuning(tuning, 4, buf));
    longWrite.insert(longWrite.begin() + 20, {0x40, 0x40, 0x40});  // more than twelve bytes
    out.push_back({"nasty-gs-write-past-twelve", longWrite});
    out.push_back(
        {"nasty-xg-no-such-channel", fileForm({0x43, 0x10, 0x4C, 0x08, 0x10, 0x41, 0x40, 0xF7})});
    out.push_back({"nasty-escape-bytes", Bytes{0xF7, 0x43, 0x10, 0x4C, 0x00}});
    return out;
}

// Records of the retuner's fuzzer: channels used and rhythm channels, then (time and kind,
// status less 0x80, two data bytes) each.
std::vector<Seed> bendRecords() {
    const auto song = [](std::uint16_t used, std::vector<std::array<std::uint8_t, 4>> records) {
        Bytes b{static_cast<std::uint8_t>(used), static_cast<std::uint8_t>(used >> 8), 0x00, 0x02};
        for (const auto& r : records)
            b.insert(b.end(), r.begin(), r.end());
        return b;
    };
    constexpr std::uint8_t kTuning = 0x80, kReset = 0xC0;
    constexpr std::uint8_t on = 0x10, off = 0x00, cc = 0x30, bend = 0x60, program = 0x40;
    std::vector<Seed> out;
    const std::vector<std::array<std::uint8_t, 4>> chords = {
        {kTuning, 5, 9, 200}, {0, program, 24, 0}, {0, cc, 7, 90}, {0, on, 60, 100},
        {0, on, 64, 100}, {0, on, 67, 100}, {0, on + 1, 48, 90}, {0, on + 1, 52, 90},
        {50, off, 64, 0}, {2, on, 69, 100}, {40, on, 62, 100}, {0, cc, 7, 70},
        {60, off, 60, 0}, {0, off, 67, 0}, {0, off, 69, 0}, {0, on, 62, 0},
        {0, off + 1, 48, 0}, {0, off + 1, 52, 0}};
    out.push_back({"seed-chords-on-two-parts", song(0x0003, chords)});
    out.push_back({"seed-chords-no-free-channel", song(0xFDFF, chords)});
    out.push_back({"seed-pedal-bends-and-range",
                   song(0x0001, {{kTuning, 1, 2, 3}, {0, cc, 64, 127}, {0, on, 60, 100},
                                 {0, on, 61, 100}, {10, off, 61, 0}, {0, bend, 0, 0x50},
                                 {0, cc, 101, 0}, {0, cc, 100, 0}, {0, cc, 6, 12},
                                 {0, cc, 38, 50}, {0, cc, 96, 1}, {5, on, 63, 100},
                                 {40, cc, 64, 0}, {0, cc, 121, 0}, {0, on, 66, 100},
                                 {0, cc, 123, 0}, {0, on, 70, 100}})});
    out.push_back({"seed-reset-and-drums",
                   song(0x0201, {{kTuning, 7, 7, 7}, {0, on, 64, 100}, {0, on + 9, 36, 100},
                                 {0, on, 65, 100}, {3, kReset, 0, 0}, {0, on, 64, 0},
                                 {0, on, 66, 100}, {0, kTuning | 1, 99, 3}, {0, on, 67, 100}})});
    return out;
}

void writeAll(const std::filesystem::path& folder, const std::vector<Seed>& seeds) {
    std::filesystem::create_directories(folder);
    for (const Seed& s : seeds) {
        std::ofstream out(folder / s.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(s.bytes.data()),
                  static_cast<std::streamsize>(s.bytes.size()));
    }
    std::printf("%zu seeds in %s\n", seeds.size(), folder.c_str());
}

}  // namespace
}  // namespace pitchloom::fuzz

int main(int argc, char** argv) {
    using namespace pitchloom::fuzz;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s corpus-folder\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root(argv[1]);
    const auto files = songFiles();
    writeAll(root / "song_load", files);
    writeAll(root / "convert", convertInputs(files));
    writeAll(root / "playback", playbackInputs());
    writeAll(root / "scale_file", scaleFiles());
    writeAll(root / "sysex", sysexMessages());
    writeAll(root / "bend", bendRecords());
    return 0;
}

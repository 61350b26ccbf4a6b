#include "support/sine_soundfont.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string_view>

#include "support/pitch.h"

namespace pitchloom::test {
namespace {

constexpr int kRate = 44100;
constexpr double kA4Hz = 440.0;
// 0.1 s holds exactly 44 periods of 440 Hz, so the loop joins without a step in phase.
constexpr std::uint32_t kLoopFrames = 4410;
// The format asks for eight points before a loop and after it, and 46 zeros after a sample.
constexpr std::uint32_t kLoopStart = 8;
constexpr std::uint32_t kLoopEnd = kLoopStart + kLoopFrames;
constexpr std::uint32_t kSampleEnd = kLoopEnd + 8;
constexpr std::uint32_t kZerosAfter = 46;
constexpr double kAmplitude = 16000.0;  // half of full scale

// Generator numbers.
constexpr std::uint16_t kReleaseVolEnv = 38;
constexpr std::uint16_t kInstrument = 41;
constexpr std::uint16_t kCoarseTune = 51;
constexpr std::uint16_t kSampleId = 53;
constexpr std::uint16_t kSampleModes = 54;

constexpr std::int16_t kQuarterSecond = -2400;  // timecents: 1200 * log2(0.25)
constexpr std::int16_t kLoopContinuously = 1;
constexpr std::int16_t kFifth = 7;  // semitones

void put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// A name padded with zeros to its field (20 bytes in the headers, even lengths in INFO).
void putName(Bytes& out, std::string_view name, std::size_t size) {
    out.insert(out.end(), name.begin(), name.end());
    out.resize(out.size() + size - name.size(), 0);
}

void putId(Bytes& out, std::string_view id) {
    out.insert(out.end(), id.begin(), id.end());
}

Bytes chunk(std::string_view id, const Bytes& body) {
    Bytes out;
    putId(out, id);
    put32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes list(std::string_view type, std::initializer_list<Bytes> chunks) {
    Bytes body;
    putId(body, type);
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    return chunk("LIST", body);
}

struct Generator {
    std::uint16_t oper;
    std::int16_t amount;
};

Bytes generators(std::initializer_list<Generator> gens) {
    Bytes out;
    for (const Generator& g : gens) {
        put16(out, g.oper);
        put16(out, static_cast<std::uint16_t>(g.amount));
    }
    put32(out, 0);  // the terminal record
    return out;
}

// Bags as (first generator, first modulator), the terminal one included.
Bytes bags(std::initializer_list<std::uint16_t> firstGenerators) {
    Bytes out;
    for (std::uint16_t g : firstGenerators) {
        put16(out, g);
        put16(out, 0);
    }
    return out;
}

Bytes noModulators() {
    return Bytes(10, 0);
}

struct Preset {
    std::string_view name;
    std::uint16_t program;
    std::uint16_t bank;
};

Bytes presetHeaders(std::initializer_list<Preset> presets) {
    Bytes out;
    std::uint16_t bag = 0;
    const auto header = [&out](std::string_view name, std::uint16_t program, std::uint16_t bank,
                               std::uint16_t firstBag) {
        putName(out, name, 20);
        put16(out, program);
        put16(out, bank);
        put16(out, firstBag);
        put32(out, 0);  // library, genre, morphology: reserved
        put32(out, 0);
        put32(out, 0);
    };
    for (const Preset& p : presets)
        header(p.name, p.program, p.bank, bag++);
    header("EOP", 0, 0, bag);
    return out;
}

Bytes sampleHeaders() {
    Bytes out;
    putName(out, "Sine A4", 20);
    put32(out, 0);
    put32(out, kSampleEnd);
    put32(out, kLoopStart);
    put32(out, kLoopEnd);
    put32(out, kRate);
    out.push_back(69);  // original key: A4
    out.push_back(0);   // pitch correction
    put16(out, 0);      // sample link
    put16(out, 1);      // mono
    putName(out, "EOS", 46);
    return out;
}

Bytes samplePoints() {
    Bytes out;
    for (std::uint32_t i = 0; i < kSampleEnd; ++i) {
        const double v = kAmplitude * std::sin(2.0 * std::numbers::pi * kA4Hz * i / kRate);
        put16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(v))));
    }
    out.resize(out.size() + 2 * kZerosAfter, 0);
    return out;
}

}  // namespace

Bytes sineSoundFontBytes() {
    Bytes version;
    put16(version, 2);
    put16(version, 1);
    Bytes engine;
    putName(engine, "EMU8000", 8);
    Bytes name;
    putName(name, "Pitchloom test sine", 20);

    // Three presets over one instrument; the kit's preset raises it by a fifth.
    const Bytes presetGenerators =
        generators({{kInstrument, 0}, {kInstrument, 0}, {kCoarseTune, kFifth}, {kInstrument, 0}});
    Bytes instrument;
    putName(instrument, "Sine", 20);
    put16(instrument, 0);
    putName(instrument, "EOI", 20);
    put16(instrument, 1);

    Bytes body;
    putId(body, "sfbk");
    for (const Bytes& part :
         {list("INFO", {chunk("ifil", version), chunk("isng", engine), chunk("INAM", name)}),
          list("sdta", {chunk("smpl", samplePoints())}),
          list("pdta", {chunk("phdr", presetHeaders({{"Sine", 0, 0},
                                                     {"Sine organ", kOrgan, 0},
                                                     {"Sine kit", 0, 128}})),
                        chunk("pbag", bags({0, 1, 2, 4})), chunk("pmod", noModulators()),
                        chunk("pgen", presetGenerators), chunk("inst", instrument),
                        chunk("ibag", bags({0, 3})), chunk("imod", noModulators()),
                        chunk("igen", generators({{kSampleModes, kLoopContinuously},
                                                  {kReleaseVolEnv, kQuarterSecond},
                                                  {kSampleId, 0}})),
                        chunk("shdr", sampleHeaders())})}) {
        body.insert(body.end(), part.begin(), part.end());
    }
    return chunk("RIFF", body);
}

const std::string& sineSoundFont() {
    static const std::string path = writeTempFile("sine.sf2", sineSoundFontBytes());
    return path;
}

const std::string& damagedSoundFont() {
    static const std::string path = [] {
        Bytes bytes = sineSoundFontBytes();
        bytes.resize(bytes.size() / 2);
        return writeTempFile("damaged.sf2", bytes);
    }();
    return path;
}

}  // namespace pitchloom::test

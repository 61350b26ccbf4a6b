// Arbitrary channel messages, tuning changes and resets through the pitch-bend retuner, with a
// model of the module that plays what comes out. Every note must come out once, on its part's
// channel or a free one, at its tuning unless counted; no bend may change under a sounding note
// or within the release guard, except by the song's own bends.
//
// Input: two bytes of channels the song uses, two of rhythm channels, then records of four bytes:
// time and kind (low six bits: tens of milliseconds since the last record; top bits: 0 or 1 a
// message, 2 a new tuning from the three bytes after, 3 a reset), status, two data bytes.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "tuning/dialect.h"

namespace pitchloom::fuzz {
namespace {

using namespace std::chrono_literals;
using Nanos = std::chrono::nanoseconds;

constexpr int kCentre = 8192;

// What the song itself set on one of its channels: its bend and bend range.
struct SongPart {
    int bend = kCentre;
    int semitones = 2;
    int cents = 0;
    bool nrpn = false;  // the NRPN numbers were set last, not the RPN's
    int coarse = 127;   // the RPN's numbers
    int fine = 127;
    double bendCents() const { return (bend - kCentre) * (semitones * 100.0 + cents) / kCentre; }

    void take(const ChannelMessage& m) {
        if ((m.status & 0xF0) == 0xE0) bend = m.data1 | m.data2 << 7;
        if ((m.status & 0xF0) != 0xB0) return;
        switch (m.data1) {
        case 101: coarse = m.data2; nrpn = false; break;
        case 100: fine = m.data2; nrpn = false; break;
        case 99:
        case 98: nrpn = true; break;
        case 6: if (!nrpn && coarse == 0 && fine == 0) semitones = m.data2; break;
        case 38: if (!nrpn && coarse == 0 && fine == 0) cents = m.data2; break;
        case 121: bend = kCentre; nrpn = false; coarse = fine = 127; break;
        default: break;
        }
    }
};

// One channel of the module as the retuner's messages leave it.
struct ModuleChannel {
    int bend = -1;  // unknown until sent
    int range = -1;
    int coarse = 127;  // the RPN's numbers
    int fine = 127;
    bool nrpn = false;
    bool pedal = false;
    std::array<int, 128> held{};  // notes of each key sounding
    int ringing = 0;              // released under the pedal
    std::optional<Nanos> lastRelease;

    int sounding() const {
        int n = ringing;
        for (const int k : held)
            n += k;
        return n;
    }
};

}  // namespace
}  // namespace pitchloom::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pitchloom;
    using namespace pitchloom::fuzz;
    if (size < 4) return 0;
    const std::span<const std::uint8_t> in(data, size);
    const auto records = in.subspan(4);
    const auto statusOf = [](std::uint8_t b) { return static_cast<std::uint8_t>(0x80 + b % 0x70); };

    ChannelUse use{static_cast<std::uint16_t>(in[0] | in[1] << 8),
                   static_cast<std::uint16_t>(in[2] | in[3] << 8)};
    // As a walk over the whole song would find them.
    for (std::size_t i = 0; i + 4 <= records.size(); i += 4) {
        if (records[i] >> 6 <= 1) use.used |= static_cast<std::uint16_t>(1u << (statusOf(records[i + 1]) & 0x0F));
    }
    const RetuneSettings settings;
    const auto retuner = dialectOf(DeviceType::Bend).noteRetuner(settings);
    retuner->begin(use);
    TuningValue tuning;
    retuner->setTuning(tuning);

    std::array<SongPart, 16> parts{};
    std::array<ModuleChannel, 16> module{};
    std::array<std::vector<int>, 16 * 128> outChannelOf{};  // by part and key, oldest first
    std::vector<ChannelMessage> out;
    Nanos now{0};
    for (std::size_t i = 0; i + 4 <= records.size(); i += 4) {
        now += 10ms * (records[i] & 0x3F);
        const int kind = records[i] >> 6;
        out.clear();
        if (kind == 2) {
            PitchClassOffsets offsets{};
            for (int pc = 0; pc < 12; ++pc)
                offsets[static_cast<std::size_t>(pc)] =
                    (records[i + 1 + pc % 3] * (pc + 7) + pc * 13) % 129 - 64;
            tuning = TuningValue::ofPitchClasses(offsets, ScaleMarks{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
            retuner->setTuning(tuning);
            continue;
        }
        if (kind == 3) {
            retuner->afterReset(now, out);
            parts = {};
            for (auto& ch : module) {
                ch = {};
                ch.bend = kCentre;
                ch.range = 2;
            }
            for (auto& keys : outChannelOf)
                keys.clear();
        }
        const ChannelMessage m{statusOf(records[i + 1]),
                               static_cast<std::uint8_t>(records[i + 2] & 0x7F),
                               static_cast<std::uint8_t>(records[i + 3] & 0x7F)};
        const int p = m.channel();
        const bool isMessage = kind <= 1;
        const bool rhythm = isMessage && (use.rhythm >> p & 1) != 0;
        const bool noteOn = (m.status & 0xF0) == 0x90 && m.data2 != 0;
        const bool noteOff = (m.status & 0xF0) == 0x80 || ((m.status & 0xF0) == 0x90 && m.data2 == 0);
        // Only the song's own bends and bend ranges move a bend under a sounding note.
        const bool bendsAllowed = !isMessage || (m.status & 0xF0) == 0xE0 ||
                                  ((m.status & 0xF0) == 0xB0 &&
                                   (m.data1 == 6 || m.data1 == 38 || m.data1 == 121));
        const std::uint64_t offBefore = retuner->report().offTuning;
        if (isMessage) {
            retuner->take(m, now, rhythm, out);
            parts[static_cast<std::size_t>(p)].take(m);
            // Notes ended all at once get no Note Off of their own.
            if (!rhythm && (m.status & 0xF0) == 0xB0 && (m.data1 == 120 || m.data1 >= 123)) {
                for (int key = 0; key < 128; ++key)
                    outChannelOf[static_cast<std::size_t>(p * 128 + key)].clear();
            }
        }

        int noteOns = 0;
        for (const ChannelMessage& o : out) {
            require(o.status >= 0x80 && o.status <= 0xEF && o.data1 < 0x80 && o.data2 < 0x80,
                    "every message out is a channel message with data bytes");
            const int c = o.channel();
            ModuleChannel& ch = module[static_cast<std::size_t>(c)];
            require(!rhythm || (out.size() == 1 && o == m), "a rhythm channel's message passes as it is");
            require(rhythm || (use.rhythm >> c & 1) == 0 || c == p,
                    "no rhythm channel is borrowed");
            const std::uint8_t k = o.status & 0xF0;
            if (k == 0xE0 || (k == 0xB0 && o.data1 == 6 && !ch.nrpn && ch.coarse == 0 && ch.fine == 0)) {
                const int value = k == 0xE0 ? (o.data1 | o.data2 << 7) : o.data2;
                const bool changes = k == 0xE0 ? value != ch.bend : value != ch.range;
                if (changes && !bendsAllowed && !rhythm) {
                    require(ch.sounding() == 0, "no bend changes under a sounding note");
                    require(!ch.lastRelease || now - *ch.lastRelease >= settings.releaseGuard,
                            "no bend changes within the release guard");
                }
                (k == 0xE0 ? ch.bend : ch.range) = value;
            } else if (k == 0xB0) {
                if (o.data1 == 101 || o.data1 == 100) ch.nrpn = false;
                if (o.data1 == 101) ch.coarse = o.data2;
                if (o.data1 == 100) ch.fine = o.data2;
                if (o.data1 == 98 || o.data1 == 99) ch.nrpn = true;
                if (o.data1 == 64) {
                    ch.pedal = o.data2 >= 64;
                    if (!ch.pedal && ch.ringing > 0) {
                        ch.ringing = 0;
                        ch.lastRelease = now;
                    }
                }
                if (o.data1 == 121) {
                    ch.bend = kCentre;
                    ch.coarse = ch.fine = 127;
                    ch.nrpn = false;
                    ch.pedal = false;  // which lets go of the notes it held
                    if (ch.ringing > 0) ch.lastRelease = now;
                    ch.ringing = 0;
                }
                if (o.data1 == 120 || o.data1 >= 123) {
                    if (ch.sounding() > 0) ch.lastRelease = now;
                    ch.held = {};
                    ch.ringing = 0;
                }
            } else if (k == 0x90 && o.data2 != 0) {
                ++noteOns;
                ++ch.held[o.data1];
                require(o.data1 == m.data1 && o.data2 == m.data2, "a note keeps its key and velocity");
                require(c == p || (use.used >> c & 1) == 0, "a note plays on its part's channel or a free one");
                if (!rhythm) {
                    outChannelOf[static_cast<std::size_t>(p * 128 + o.data1)].push_back(c);
                    const SongPart& part = parts[static_cast<std::size_t>(p)];
                    const double wanted = part.bendCents() + tuning.pitch(p, o.data1) - o.data1 * 100.0;
                    // A centred bend sounds the same in any range.
                    require(ch.bend >= 0 && (ch.range > 0 || ch.bend == kCentre),
                            "a note's channel has its bend and range");
                    const double step = std::max(ch.range, 0) * 100.0 / kCentre;
                    const double sounds = (ch.bend - kCentre) * step;
                    // Bends are chosen to land on FluidSynth's whole cents, which it plays at
                    // 127/128 of their size: up to a cent, and a 127th, from the exact bend.
                    const double tolerance = step + 1.0 + std::abs(wanted) / 127.0;
                    const bool atEdge = ch.bend == 0 || ch.bend == 16383;
                    const bool counted = retuner->report().offTuning == offBefore + 1;
                    require(atEdge || counted || std::abs(sounds - wanted) <= tolerance,
                            "a note sounds at its tuning unless it is counted");
                }
            } else if (k == 0x80 || k == 0x90) {
                if (ch.held[o.data1] > 0) {
                    --ch.held[o.data1];
                    if (ch.pedal) ++ch.ringing;
                    if (ch.sounding() == 0) ch.lastRelease = now;
                }
                if (!rhythm) {
                    auto& where = outChannelOf[static_cast<std::size_t>(p * 128 + o.data1)];
                    if (!where.empty()) {
                        require(where.front() == c, "a Note Off goes where its note plays");
                        where.erase(where.begin());
                    }
                }
            }
        }
        if (isMessage && noteOn) require(noteOns == 1, "every note comes out once");
        if (isMessage && noteOff) require(noteOns == 0, "a Note Off starts nothing");
    }
    const RetuneReport report = retuner->report();
    require(report.offTuning <= report.notes, "no more notes off their tuning than notes");
    return 0;
}

#include "tuning/bend_retuner.h"

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cmath>
#include <optional>
#include <utility>

namespace pitchloom {

int bendRangeFor(int songSemitones, int songCents) {
    return std::clamp(songSemitones + (songCents > 0 ? 1 : 0) + 1, 1, 127);
}

namespace {

using namespace midi;

using Nanos = std::chrono::nanoseconds;

constexpr int kChannels = 16;
constexpr int kBendCentre = 8192;
constexpr int kBendMax = 16383;
// How FluidSynth scales a bend: by its sensitivity over 128 rather than 127.
constexpr double kFluidScale = 127.0 / 128.0;
// How far twelve-offset dialects tune a key: keys tuned this far play themselves.
constexpr double kTwelveOffsetReach = 64.0;
// Offsets closer than this share a channel: the bend cannot tell them apart.
constexpr double kSameOffset = 0.01;

// What a borrowed channel needs to be its part, in the order it is sent: bank select first, as
// the program change after it takes the bank. With the value a module starts with.
struct Copied {
    std::uint8_t controller;
    std::uint8_t initial;
};
constexpr std::array<Copied, 9> kCopied = {
    {{0, 0}, {32, 0}, {1, 0}, {7, 100}, {10, 64}, {11, 127}, {kSustain, 0}, {91, 40}, {93, 0}}};

std::optional<std::size_t> copiedIndex(std::uint8_t controller) {
    for (std::size_t i = 0; i < kCopied.size(); ++i) {
        if (kCopied[i].controller == controller) return i;
    }
    return std::nullopt;
}

ChannelMessage message(std::uint8_t kind, int channel, int data1, int data2 = 0) {
    return {static_cast<std::uint8_t>(kind | channel), static_cast<std::uint8_t>(data1),
            static_cast<std::uint8_t>(data2)};
}

// A key of the song sounding: the key that sounds it, which a tuning far from equal
// temperament moves, and the channel it plays on.
struct Sounding {
    std::uint8_t key;
    std::uint8_t outKey;
    std::uint8_t channel;
};

// A part of the song: what it plays on its own channel, as the song set it.
struct Part {
    int songBend = kBendCentre;
    int rangeSemitones = 2;
    int rangeCents = 0;
    // The parameter numbers the song set, RPN and NRPN apart as a module keeps them, and which
    // of the two it selected last.
    bool nrpn = false;
    std::array<std::uint8_t, 2> rpn{kNull, kNull};
    std::array<std::uint8_t, 2> nrpnNumber{kNull, kNull};
    std::array<int, kCopied.size()> controllers{};  // -1 where the song set none
    int program = -1;
    bool sustained = false;
    std::uint16_t lent = 0;  // the channels borrowed for it
    // The keys sounding, oldest first.
    std::vector<Sounding> sounding;
    // Keys whose Note On was not played, as the tuning gives them no pitch: their Note Off
    // has no place either.
    std::bitset<128> silenced;

    Part() { controllers.fill(-1); }
    int outRange() const { return bendRangeFor(rangeSemitones, rangeCents); }
    bool rangeSelected() const { return !nrpn && rpn[0] == 0 && rpn[1] == 0; }
    double songBendCents() const {
        return (songBend - kBendCentre) * (rangeSemitones * 100.0 + rangeCents) / kBendCentre;
    }
};

// What a channel's bend is worked out from.
struct BendFrom {
    int songBend = -1;
    int rangeSemitones = -1;
    int rangeCents = -1;
    double offset = 0;
    friend bool operator==(const BendFrom&, const BendFrom&) = default;
};

struct Channel {
    int owner = -1;                // the part it plays, -1 for none
    double offset = 0;             // the tuning its bend adds to the part's own
    int notes = 0;                 // notes sounding
    bool pedalHeld = false;        // a note released under the sustain pedal rings on
    std::optional<Nanos> lastOff;  // the last of them released; nothing before a first note
    // What the module was sent last; -1 before anything, as a module that played something else
    // before may hold any bend.
    int bendSent = -1;
    int rangeSent = -1;
    bool copiedBefore = false;  // it was another part before: what that part set lingers
    BendFrom bendFrom;          // and the bend it gives
    int bend = kBendCentre;
};

class BendRetuner final : public NoteRetuner {
public:
    explicit BendRetuner(const RetuneSettings& settings) : guard_(settings.releaseGuard) {}

    void begin(const ChannelUse& channels) override {
        use_ = channels;
        forgetModule();
        report_ = {};
        for (Channel& ch : channels_)
            ch.bendSent = ch.rangeSent = -1;
    }

    void setTuning(const TuningValue& tuning) override { tuning_ = tuning; }

    void pitchNextNote(std::optional<double> centsFromEqual) override { planned_ = centsFromEqual; }

    void take(const ChannelMessage& m, Nanos at, bool rhythm,
              std::vector<ChannelMessage>& out) override {
        const std::optional<double> planned = std::exchange(planned_, std::nullopt);
        const int p = m.channel();
        const std::uint8_t kind = m.status & 0xF0;
        // A data byte with its top bit set is no MIDI: it goes on as it came, untouched.
        if (rhythm || m.data1 > 0x7F || m.data2 > 0x7F) {
            out.push_back(m);
            return;
        }
        claim(p);
        switch (kind) {
            case kNoteOn:
                if (m.data2 != 0) {
                    noteOn(p, m, planned, at, out);
                    return;
                }
                noteOff(p, m, at, out);
                return;
            case kNoteOff:
                noteOff(p, m, at, out);
                return;
            case kPolyPressure:
                if (!parts_[p].silenced.test(m.data1)) {
                    const Sounding s = soundingOf(p, m.data1);
                    out.push_back(message(kind, s.channel, s.outKey, m.data2));
                }
                return;
            case kControl:
                control(p, m, at, out);
                return;
            case kPitchBend:
                parts_[p].songBend = m.data1 | m.data2 << 7;
                forEachChannelOf(p, [&](int c) { sendBend(c, out); });
                return;
            case kProgram:
                parts_[p].program = m.data1;
                [[fallthrough]];
            default:  // channel pressure too: the whole part feels it
                forEachChannelOf(p,
                                 [&](int c) { out.push_back(message(kind, c, m.data1, m.data2)); });
                return;
        }
    }

    void afterReset(Nanos, std::vector<ChannelMessage>&) override {
        // The module starts again from its defaults; ranges and bends go out again as notes
        // need them.
        forgetModule();
    }

    RetuneReport report() const override { return report_; }

private:
    // Every part as a module starts it: centred bends in a range of 2.
    void forgetModule() {
        parts_ = {};
        channels_ = {};
        for (Channel& ch : channels_) {
            ch.bendSent = kBendCentre;
            ch.rangeSent = 2;
        }
        for (int c = 0; c < kChannels; ++c) {
            if ((use_.used >> c & 1) != 0) channels_[c].owner = c;
        }
    }

    // The song plays on a channel it was not known to use: the channel is the part's from now
    // on, whatever it was lent for.
    void claim(int p) {
        Channel& ch = channels_[p];
        if (ch.owner == p) return;
        if (ch.owner >= 0) parts_[ch.owner].lent &= static_cast<std::uint16_t>(~(1u << p));
        ch.owner = p;
        use_.used |= static_cast<std::uint16_t>(1u << p);
    }

    bool isFree(int c) const { return ((use_.used | use_.rhythm) >> c & 1) == 0; }

    template <typename F>
    void forEachChannelOf(int p, F f) {
        f(p);
        for (unsigned lent = parts_[p].lent; lent != 0; lent &= lent - 1)
            f(std::countr_zero(lent));
    }

    // The key that sounds a key of the song, and the bend its tuning needs from there. A key
    // within the reach of a twelve-offset tuning sounds itself, as it does in every other dialect;
    // one tuned further off sounds from the key nearest its pitch.
    std::pair<int, double> outKeyOf(int key, double pitch) const {
        int out = key;
        if (std::abs(pitch - key * 100.0) > kTwelveOffsetReach) {
            out = std::clamp(static_cast<int>(std::lround(pitch / 100.0)), 0, 127);
        }
        return {out, pitch - out * 100.0};
    }

    bool idle(int c, Nanos at) const {
        const Channel& ch = channels_[c];
        if (ch.notes > 0 || ch.pedalHeld) return false;
        return !ch.lastOff || at - *ch.lastOff >= guard_;
    }

    // The bend that sounds the song's bend plus the channel's offset. FluidSynth plays a bend
    // of c cents as floor(c * 127 / 128) whole cents, which would leave every sharp offset a cent
    // flat: of the bends it plays as the song's bend (as it plays it) plus the offset, the one
    // nearest the exact bend, which other synthesizers play within half a cent of it.
    int bendFor(int c) const {
        const Part& part = parts_[channels_[c].owner];
        const double song = part.songBendCents();
        const double offset = channels_[c].offset;
        const double perCent = kBendCentre / (part.outRange() * 100.0);
        const double heard = std::floor(song * kFluidScale + 1e-9) + std::round(offset);
        // Clear of the edge, where rounding inside the synthesizer could fall a cent short;
        // no bend at all is exact.
        const double lowest = heard == 0 ? 0 : std::ceil(heard / kFluidScale * perCent + 0.05);
        const double highest = std::ceil((heard + 1) / kFluidScale * perCent) - 1;
        const double exact = std::round((song + offset) * perCent);
        const double steps = lowest <= highest ? std::clamp(exact, lowest, highest) : exact;
        return static_cast<int>(std::clamp<double>(kBendCentre + steps, 0, kBendMax));
    }

    void sendRange(int c, std::vector<ChannelMessage>& out) {
        const Part& part = parts_[channels_[c].owner];
        const int range = part.outRange();
        if (channels_[c].rangeSent == range) return;
        out.push_back(message(kControl, c, kRpnCoarse, 0));
        out.push_back(message(kControl, c, kRpnFine, 0));
        out.push_back(message(kControl, c, kDataEntry, range));
        out.push_back(message(kControl, c, kDataEntryFine, 0));
        // Back to what the song selected (RPN null if nothing), so that its own data entries
        // reach what it meant.
        out.push_back(message(kControl, c, kRpnCoarse, part.rpn[0]));
        out.push_back(message(kControl, c, kRpnFine, part.rpn[1]));
        if (part.nrpn) {
            out.push_back(message(kControl, c, kNrpnCoarse, part.nrpnNumber[0]));
            out.push_back(message(kControl, c, kNrpnFine, part.nrpnNumber[1]));
        }
        channels_[c].rangeSent = range;
    }

    void sendBend(int c, std::vector<ChannelMessage>& out) {
        // Most calls find the bend as it was: the same song bend, range and offset.
        Channel& ch = channels_[c];
        const Part& part = parts_[ch.owner];
        const BendFrom from{part.songBend, part.rangeSemitones, part.rangeCents, ch.offset};
        if (ch.bendFrom != from) {
            ch.bendFrom = from;
            ch.bend = bendFor(c);
        }
        const int bend = ch.bend;
        const bool rangeKnown = channels_[c].rangeSent == parts_[channels_[c].owner].outRange();
        if (bend == channels_[c].bendSent && (bend == kBendCentre || rangeKnown)) return;
        sendRange(c, out);
        out.push_back(message(kPitchBend, c, bend & 0x7F, bend >> 7));
        channels_[c].bendSent = bend;
    }

    // A channel of no part, or of a part it no longer sounds for, becomes part p.
    void lend(int c, int p, std::vector<ChannelMessage>& out) {
        Channel& ch = channels_[c];
        if (ch.owner >= 0) {
            parts_[ch.owner].lent &= static_cast<std::uint16_t>(~(1u << c));
            ch.copiedBefore = true;
        }
        ch.owner = p;
        parts_[p].lent |= static_cast<std::uint16_t>(1u << c);
        const Part& part = parts_[p];
        for (std::size_t i = 0; i < kCopied.size(); ++i) {
            if (part.controllers[i] < 0 && !ch.copiedBefore) continue;
            const int value = part.controllers[i] >= 0 ? part.controllers[i] : kCopied[i].initial;
            out.push_back(message(kControl, c, kCopied[i].controller, value));
        }
        if (part.program >= 0 || ch.copiedBefore) {
            out.push_back(message(kProgram, c, std::max(part.program, 0)));
        }
    }

    int chooseChannel(int p, double offset, Nanos at, std::vector<ChannelMessage>& out) {
        const auto retune = [&](int c) {
            channels_[c].offset = offset;
            sendBend(c, out);
            return c;
        };
        int idleOfPart = -1;
        int nearest = p;
        forEachChannelOf(p, [&](int c) {
            const double gap = std::abs(channels_[c].offset - offset);
            if (gap < std::abs(channels_[nearest].offset - offset)) nearest = c;
            if (idleOfPart < 0 && idle(c, at)) idleOfPart = c;
        });
        if (std::abs(channels_[nearest].offset - offset) < kSameOffset) {
            sendBend(nearest, out);
            return nearest;
        }
        if (idleOfPart >= 0) return retune(idleOfPart);
        // A free channel no part has, before one that an idle part may give up.
        int borrowed = -1;
        for (int c = 0; c < kChannels && borrowed < 0; ++c) {
            if (isFree(c) && channels_[c].owner < 0) borrowed = c;
        }
        for (int c = 0; c < kChannels && borrowed < 0; ++c) {
            if (isFree(c) && idle(c, at)) borrowed = c;
        }
        if (borrowed >= 0) {
            lend(borrowed, p, out);
            return retune(borrowed);
        }
        const double gap = std::abs(channels_[nearest].offset - offset);
        ++report_.offTuning;
        report_.worstCents = std::max(report_.worstCents, gap);
        sendBend(nearest, out);
        return nearest;
    }

    void noteOn(int p, const ChannelMessage& m, std::optional<double> planned, Nanos at,
                std::vector<ChannelMessage>& out) {
        ++report_.notes;
        if (!tuning_.sounds(p, m.data1)) {
            ++report_.silent;
            parts_[p].silenced.set(m.data1);
            return;
        }
        const double pitch = planned ? m.data1 * 100.0 + *planned : tuning_.pitch(p, m.data1);
        const auto [outKey, offset] = outKeyOf(m.data1, pitch);
        const int c = chooseChannel(p, offset, at, out);
        ++channels_[c].notes;
        parts_[p].sounding.push_back(
            {m.data1, static_cast<std::uint8_t>(outKey), static_cast<std::uint8_t>(c)});
        out.push_back(message(kNoteOn, c, outKey, m.data2));
    }

    void noteOff(int p, const ChannelMessage& m, Nanos at, std::vector<ChannelMessage>& out) {
        auto& sounding = parts_[p].sounding;
        const auto it = std::find_if(sounding.begin(), sounding.end(),
                                     [&](const Sounding& s) { return s.key == m.data1; });
        if (it == sounding.end()) {
            if (parts_[p].silenced.test(m.data1)) {
                parts_[p].silenced.reset(m.data1);
                return;
            }
            out.push_back(m);
            return;
        }
        const Sounding played = *it;
        sounding.erase(it);
        Channel& ch = channels_[played.channel];
        if (--ch.notes == 0) ch.lastOff = at;
        ch.pedalHeld = ch.pedalHeld || parts_[p].sustained;
        out.push_back(message(m.status & 0xF0, played.channel, played.outKey, m.data2));
    }

    // Where pressure on a key of the song goes: the key and channel sounding it.
    Sounding soundingOf(int p, std::uint8_t key) const {
        for (const Sounding& s : parts_[p].sounding) {
            if (s.key == key) return s;
        }
        return {key, key, static_cast<std::uint8_t>(p)};
    }

    void control(int p, const ChannelMessage& m, Nanos at, std::vector<ChannelMessage>& out) {
        Part& part = parts_[p];
        const std::uint8_t cc = m.data1;
        std::uint8_t value = m.data2;
        bool rangeChanged = false;
        switch (cc) {
            case kRpnCoarse:
            case kRpnFine:
                part.nrpn = false;
                part.rpn[cc == kRpnCoarse ? 0 : 1] = value;
                break;
            case kNrpnCoarse:
            case kNrpnFine:
                part.nrpn = true;
                part.nrpnNumber[cc == kNrpnCoarse ? 0 : 1] = value;
                break;
            case kDataEntry:
            case kDataEntryFine:
                if (!part.rangeSelected()) break;
                (cc == kDataEntry ? part.rangeSemitones : part.rangeCents) = value;
                // The module gets the whole semitones of the range the bends are scaled to.
                rangeChanged = true;
                break;
            case kDataIncrement:
            case kDataDecrement:
                // A step of the range the bends are scaled to would leave them out of tune.
                if (part.rangeSelected()) return;
                break;
            case kResetControllers:
                part.songBend = kBendCentre;
                part.nrpn = false;
                part.rpn = part.nrpnNumber = {kNull, kNull};
                part.sustained = false;
                forEachChannelOf(p, [&](int c) {
                    if (std::exchange(channels_[c].pedalHeld, false)) channels_[c].lastOff = at;
                });
                for (const std::uint8_t reset : {std::uint8_t{1}, std::uint8_t{11}, kSustain})
                    part.controllers[*copiedIndex(reset)] = -1;
                break;
            case kAllSoundOff:
            case kAllNotesOff:
            case kOmniOff:
            case kOmniOn:
            case kMono:
            case kPoly:
                // Songs end notes this way too, with no Note Off to follow.
                forEachChannelOf(p, [&](int c) {
                    Channel& ch = channels_[c];
                    if (ch.notes > 0) ch.lastOff = at;
                    ch.pedalHeld = ch.pedalHeld || (ch.notes > 0 && part.sustained);
                    ch.notes = 0;
                });
                part.sounding.clear();
                part.silenced.reset();
                break;
            default:
                if (const auto i = copiedIndex(cc)) part.controllers[*i] = value;
                if (cc == kSustain) {
                    const bool down = value >= 64;
                    // Released notes held by the pedal ring on until it lifts.
                    if (part.sustained && !down) {
                        forEachChannelOf(p, [&](int c) {
                            if (!channels_[c].pedalHeld) return;
                            channels_[c].pedalHeld = false;
                            channels_[c].lastOff = at;
                        });
                    }
                    part.sustained = down;
                }
                break;
        }
        if (rangeChanged) {
            // Each channel of the part gets the whole setting, whatever it had selected.
            forEachChannelOf(p, [&](int c) {
                sendRange(c, out);
                sendBend(c, out);
            });
            return;
        }
        forEachChannelOf(p, [&](int c) { out.push_back(message(kControl, c, cc, value)); });
        if (cc == kResetControllers) {
            // The module centred every bend of the part: the tuning goes back on.
            forEachChannelOf(p, [&](int c) {
                channels_[c].bendSent = kBendCentre;
                sendBend(c, out);
            });
        }
    }

    Nanos guard_;
    ChannelUse use_;
    TuningValue tuning_;
    std::optional<double> planned_;  // the pitch of the next Note On, when it has its own
    std::array<Part, kChannels> parts_{};
    std::array<Channel, kChannels> channels_{};
    RetuneReport report_;
};

}  // namespace

std::unique_ptr<NoteRetuner> makeBendRetuner(const RetuneSettings& settings) {
    return std::make_unique<BendRetuner>(settings);
}

}  // namespace pitchloom

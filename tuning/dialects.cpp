#include <algorithm>
#include <array>
#include <bit>
#include <cctype>

#include "tuning/dialect.h"

#include "tuning/bend_retuner.h"
#include "tuning/tuning_program_retuner.h"

namespace pitchloom {

namespace {

// The twelve offsets of every channel, when the tuning has that form on each.
std::optional<std::array<PitchClassOffsets, kPartCount>> offsetsOfEveryChannel(
    const TuningValue& tuning) {
    std::array<PitchClassOffsets, kPartCount> all{};
    for (int c = 0; c < kPartCount; ++c) {
        const auto offsets = tuning.pitchClassOffsets(c);
        if (!offsets) return std::nullopt;
        all[static_cast<std::size_t>(c)] = *offsets;
    }
    return all;
}

bool noMessages(const TuningValue&, std::uint16_t, SysExList&) {
    return true;
}

// One message for each part, its twelve offsets in it.
bool gsMessages(const TuningValue& tuning, std::uint16_t, SysExList& out) {
    const auto offsets = offsetsOfEveryChannel(tuning);
    if (!offsets) return false;
    std::array<std::uint8_t, kGsScaleTuningSize> buf{};
    for (int part = 0; part < kPartCount; ++part) {
        const int channel = channelOfGsPartBlock(gsPartBlock(part));
        const auto& mine = (*offsets)[static_cast<std::size_t>(channel)];
        out.add(std::span(buf).first(buildGsScaleTuning(mine, part, buf.data())));
    }
    return true;
}

// One message for each part and pitch class.
bool xgMessages(const TuningValue& tuning, std::uint16_t, SysExList& out) {
    const auto offsets = offsetsOfEveryChannel(tuning);
    if (!offsets) return false;
    std::array<std::uint8_t, kXgScaleTuningSize> buf{};
    for (int part = 0; part < kPartCount; ++part) {
        const auto& mine = (*offsets)[static_cast<std::size_t>(part)];
        for (int pitchClass = 0; pitchClass < kPitchClassCount; ++pitchClass)
            out.add(std::span(buf).first(buildXgScaleTuning(mine, part, pitchClass, buf.data())));
    }
    return true;
}

// One message for all the melodic channels, which share their offsets; a channel tuned apart
// from them gets one of its own.
bool mtsMessages(const TuningValue& tuning, std::uint16_t melodicChannels, SysExList& out) {
    const auto offsets = offsetsOfEveryChannel(tuning);
    if (!offsets) return false;
    std::array<std::uint8_t, kMtsScaleOctaveSize> buf{};
    if (melodicChannels == 0) {
        // Every channel a rhythm channel: the message still goes out, for none of them.
        out.add(std::span(buf).first(buildMtsScaleOctave((*offsets)[0], 0, buf.data())));
        return true;
    }
    std::uint16_t left = melodicChannels;
    for (int c = 0; c < kPartCount && left != 0; ++c) {
        if ((left & (1u << c)) == 0) continue;
        const auto& mine = (*offsets)[static_cast<std::size_t>(c)];
        std::uint16_t alike = 0;
        for (int d = c; d < kPartCount; ++d) {
            if ((left & (1u << d)) != 0 && (*offsets)[static_cast<std::size_t>(d)] == mine) {
                alike |= static_cast<std::uint16_t>(1u << d);
            }
        }
        left = static_cast<std::uint16_t>(left & ~alike);
        out.add(std::span(buf).first(buildMtsScaleOctave(mine, alike, buf.data())));
    }
    return true;
}

bool everyReset(ResetKind) {
    return true;
}

std::optional<std::string_view> nothingWithheld(std::span<const std::uint8_t>) {
    return std::nullopt;
}

// An XG reset would switch a GS module into another mode, tuning and all.
std::optional<std::string_view> xgResetWithheld(std::span<const std::uint8_t> body) {
    if (isXgSystemOn(body)) return "XG reset was found with GS setting.";
    return std::nullopt;
}

// Defined here, so that the table's check can see it is there when it builds.
std::unique_ptr<NoteRetuner> bendRetuner(const RetuneSettings& settings) {
    return makeBendRetuner(settings);
}

std::unique_ptr<NoteRetuner> tuningProgramRetuner(const RetuneSettings& settings) {
    return makeTuningProgramRetuner(settings);
}

// Every key's pitch in the tuning program the channels select. The channels share one program:
// the tuning of the first melodic channel is the tuning of them all.
bool mtsKeyMessages(const TuningValue& tuning, std::uint16_t melodicChannels, SysExList& out) {
    const int channel = melodicChannels == 0 ? 0 : std::countr_zero(melodicChannels);
    std::array<double, TuningValue::kKeys> cents{};
    for (int k = 0; k < TuningValue::kKeys; ++k)
        cents[static_cast<std::size_t>(k)] = tuning.pitch(channel, k);
    std::array<std::uint8_t, kMtsNoteTuningSize> buf{};
    for (int first = 0; first < TuningValue::kKeys; first += kMtsNoteTuningKeys) {
        out.add(
            std::span(buf).first(buildMtsNoteTuning(cents, first, kKeyTuningProgram, buf.data())));
    }
    return true;
}

// The rows, in the order the device type dialog lays out its buttons.
constexpr std::array<Dialect, 6> kDialects = {{
    {DeviceType::XG, "XG", "Yamaha XG modules", TuningReach::PitchClassOffsets, false, xgMessages,
     everyReset, nothingWithheld, "", nullptr},
    {DeviceType::GS, "GS", "Roland GS modules, TiMidity++", TuningReach::PitchClassOffsets, true,
     gsMessages, everyReset, xgResetWithheld, "", nullptr},
    {DeviceType::GM, "GM", "no tuning messages: only the scale acts", TuningReach::None, false,
     noMessages, everyReset, nothingWithheld,
     "Setting of tuning will be ignored since you have selected GM.", nullptr},
    {DeviceType::MTS, "MTS",
     "MIDI Tuning Standard: FluidSynth, General MIDI 2 and many current synths",
     TuningReach::PitchClassOffsets, false, mtsMessages, everyReset, nothingWithheld, "", nullptr},
    {DeviceType::MtsKeys, "MTS keys",
     "MIDI Tuning Standard, a pitch for every key: FluidSynth, TiMidity++, MTS synths",
     TuningReach::PitchPerKey, false, mtsKeyMessages, everyReset, nothingWithheld, "",
     tuningProgramRetuner},
    {DeviceType::Bend, "Bend",
     "pitch bend, notes spread over spare channels: any General MIDI synth or player",
     TuningReach::PitchPerNote, false, noMessages, everyReset, nothingWithheld, "", bendRetuner},
}};

// Each row is where its type points, and says all it must: a dialect missing a row, or a row
// missing its behaviour, does not build.
constexpr bool tableIsWhole() {
    for (std::size_t row = 0; row < kDialects.size(); ++row) {
        const Dialect& d = kDialects[row];
        if (d.type.row() != row || d.name.empty() || d.description.empty() ||
            d.tuningMessages == nullptr || d.forgetsAfter == nullptr || d.withholds == nullptr ||
            (d.reach == TuningReach::PitchPerNote && d.noteRetuner == nullptr)) {
            return false;
        }
    }
    return true;
}
static_assert(tableIsWhole());
static_assert(DeviceType().row() < kDialects.size() && DeviceType::Bend.row() < kDialects.size());

}  // namespace

std::span<const Dialect> dialects() {
    return kDialects;
}

const Dialect& dialectOf(DeviceType type) {
    return kDialects[type.row()];
}

std::string_view deviceTypeName(DeviceType type) {
    return dialectOf(type).name;
}

std::string commandLineName(DeviceType type) {
    std::string name(deviceTypeName(type));
    std::ranges::replace(name, ' ', '-');
    return name;
}

std::optional<DeviceType> deviceTypeFromName(std::string_view name) {
    const auto folded = [](char x) {
        return x == ' ' || x == '_'
                   ? '-'
                   : static_cast<char>(std::toupper(static_cast<unsigned char>(x)));
    };
    const auto sameLetters = [&](std::string_view a, std::string_view b) {
        return std::ranges::equal(a, b, [&](char x, char y) { return folded(x) == folded(y); });
    };
    for (const Dialect& d : kDialects) {
        if (sameLetters(d.name, name)) return d.type;
    }
    return std::nullopt;
}

std::optional<std::string> whyCannotPlay(DeviceType type, const TuningState& tuning) {
    const TuningReach reach = dialectOf(type).reach;
    if (reach == TuningReach::PitchPerKey || reach == TuningReach::PitchPerNote) {
        return std::nullopt;
    }
    const auto scala = tuning.scala();
    const bool adaptive = tuning.songTuning.load() == SongTuning::Adaptive;
    if (!adaptive && (!scala || scala->twelve)) return std::nullopt;
    std::vector<std::string_view> able;
    for (const Dialect& d : kDialects) {
        if (d.reach == TuningReach::PitchPerKey || d.reach == TuningReach::PitchPerNote) {
            able.push_back(d.name);
        }
    }
    std::string choose;
    for (std::size_t i = 0; i < able.size(); ++i) {
        choose += i == 0 ? "" : i + 1 == able.size() ? " or " : ", ";
        choose += able[i];
    }
    const std::string why = adaptive ? std::string(kAdaptiveNotTwelve) : scala->whyNotTwelve;
    return why + ": choose " + choose + " to play it.";
}

}  // namespace pitchloom

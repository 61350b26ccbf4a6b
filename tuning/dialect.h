#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "midifile/sysex.h"
#include "tuning/note_retuner.h"
#include "tuning/tuning_state.h"
#include "tuning/tuning_value.h"

namespace pitchloom {

/// The dialect of tuning messages a sound module understands: a row of the dialect table, and
/// nothing else. Only the table makes one, so every value names a row that exists.
class DeviceType {
public:
    static const DeviceType XG;
    static const DeviceType GS;
    static const DeviceType GM;
    static const DeviceType MTS;
    static const DeviceType MtsKeys;
    static const DeviceType Bend;

    /// The dialect every start of the program is in: GM.
    constexpr DeviceType() : row_(kGmRow) {}
    /// The row of the dialect table.
    constexpr std::size_t row() const { return row_; }
    friend constexpr bool operator==(DeviceType, DeviceType) = default;

private:
    static constexpr std::size_t kGmRow = 2;
    constexpr explicit DeviceType(std::size_t row) : row_(row) {}
    std::size_t row_;
};

inline constexpr DeviceType DeviceType::XG{0};
inline constexpr DeviceType DeviceType::GS{1};
inline constexpr DeviceType DeviceType::GM{kGmRow};
inline constexpr DeviceType DeviceType::MTS{3};
inline constexpr DeviceType DeviceType::MtsKeys{4};
inline constexpr DeviceType DeviceType::Bend{5};

/// What a dialect can say of a tuning.
enum class TuningReach {
    None,               ///< nothing: only the scale acts
    PitchClassOffsets,  ///< twelve offsets of whole cents for each channel, alike in every octave
    PitchPerKey,        ///< any pitch for each key of each channel
    PitchPerNote,       ///< any pitch for each note as it starts
};

/// One way of telling a sound module its tuning: the dialect's names, what it can say and how
/// it says it. The converter, the player, the command line and the window all take it from here.
struct Dialect {
    DeviceType type;
    /// The name `--type` takes and the device type dialog shows.
    std::string_view name;
    /// One line on what takes it, for --list, the help pages and the man page.
    std::string_view description;
    TuningReach reach;
    /// Whether each send while a song plays repeats every message, or leaves out the messages
    /// whose like the module was sent last.
    bool resendsUnchanged;
    /// Adds the messages that give a module this tuning, on the channels whose bits are set in
    /// `melodicChannels` where the dialect names channels; false, adding nothing, when this
    /// tuning cannot be said in the dialect.
    bool (*tuningMessages)(const TuningValue& tuning, std::uint16_t melodicChannels,
                           SysExList& out);
    /// Whether a module forgets the tuning it was sent after a reset of this kind.
    bool (*forgetsAfter)(ResetKind reset);
    /// A message of the song that a module of this kind must not get (its body), and the text
    /// shown instead; nothing for every other message.
    std::optional<std::string_view> (*withholds)(std::span<const std::uint8_t> body);
    /// Shown each time the user chooses this dialect in the device type dialog; empty for none.
    std::string_view chosenNotice;
    /// For a dialect that retunes note by note (reach PitchPerNote): a retuner for one song;
    /// nothing for the dialects that tell the module a tuning.
    std::unique_ptr<NoteRetuner> (*noteRetuner)(const RetuneSettings& settings);
};

/// Every dialect, in the order the device type dialog shows them.
std::span<const Dialect> dialects();
const Dialect& dialectOf(DeviceType type);

/// The dialect's name ("GS").
std::string_view deviceTypeName(DeviceType type);
/// The name as a command line takes it, in one word ("MTS-keys").
std::string commandLineName(DeviceType type);
/// The dialect of a name as deviceTypeName or commandLineName gives it, in capitals or not, a
/// blank, '-' or '_' alike ("bend", "BEND", "mts_keys"); nothing for any other text.
std::optional<DeviceType> deviceTypeFromName(std::string_view name);

/// Why the twelve-offset dialects cannot play adaptive just intonation; what the player can do
/// follows.
inline constexpr std::string_view kAdaptiveNotTwelve =
    "Adaptive just gives every note a pitch of its own";

/// Why a dialect cannot play the tuning in force, as a message says it ("This scale has 19
/// notes: choose MTS keys or Bend to play it."); nothing when it can.
std::optional<std::string> whyCannotPlay(DeviceType type, const TuningState& tuning);

/// The bit mask of the channels 0..15 for which `isRhythm` says no.
template <typename IsRhythm>
std::uint16_t melodicChannelMask(IsRhythm isRhythm) {
    std::uint16_t channels = 0;
    for (int c = 0; c < kPartCount; ++c) {
        if (!isRhythm(c)) channels |= static_cast<std::uint16_t>(1u << c);
    }
    return channels;
}

}  // namespace pitchloom

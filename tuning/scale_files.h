#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tuning/tuning_state.h"

namespace pitchloom {

/// A tuning and scale read from a scale file, by absolute pitch class, with the Key list row
/// that goes with it (which may lie outside the list in a damaged .sca).
/// Why adaptive just intonation is not saved as a scale file.
inline constexpr std::string_view kAdaptiveNotSaved =
    "Adaptive just gives every note a pitch of its own as the song plays: it has no twelve "
    "offsets to save.";

struct LoadedScale {
    Offsets offsets{};
    ScaleMarks marks{};
    int keyRow = kDefaultKeyRow;
    /// For a Scala file, the scale in all its forms; nothing for a .sca.
    std::shared_ptr<const ScalaInForce> scala;
};

/// How reading a scale file went: the scale, or the message to show and, where a file is to
/// blame, the detail ("x.sca: No such file or directory").
struct ScaleFileRead {
    std::optional<LoadedScale> scale;
    std::string message;
    std::string detail;
};

/// True for a path ending in ".scl", in any case: a Scala scale file.
bool isScalaPath(const std::string& path);

/// Reads a scale file: the program's own 64-byte .sca, or a Scala .scl with its first note on the
/// key of `keyRow` (in middle C's octave), or where a Scala keyboard mapping puts it. A .scl that
/// fits twelve keys is laid on them; any other is laid on the keys one by one, with offsets 0 and
/// every class in the scale.
ScaleFileRead readScaleFile(const std::string& path, int keyRow,
                            const std::optional<std::string>& mappingPath = std::nullopt);

/// A Scala scale in force laid again with its first note on the key of `keyRow`: for one read
/// without a mapping when the Key list changes. Nothing when it does not follow the key.
std::optional<LoadedScale> scalaOnKey(const ScalaInForce& scala, int keyRow);
/// The keyboard mapping beside a .scl, with its base name and ".kbm", when there is one.
std::optional<std::string> mappingBeside(const std::string& sclPath);

/// Why a scale file was not written: the message to show and, where a file is to blame, the
/// detail ("x.sca: Permission denied").
struct ScaleFileNotWritten {
    std::string message;
    std::string detail;
};

/// Writes the tuning and scale in force to a scale file, a .scl by its extension and a .sca
/// otherwise; the key row goes into a .sca, and names the key (with the scale and tuning rows)
/// in a .scl. A Scala scale in force goes to a .scl as its file was read, with its keyboard
/// mapping, if it had one, beside it; one that does not fit twelve keys is refused for a .sca.
/// Nothing when written.
std::optional<ScaleFileNotWritten> writeScaleFile(const std::string& path, const TuningState& state,
                                                  int keyRow);

/// The Key list row that shows a pitch class as a key: the sharp keys first, then the flat ones.
int keyRowOfTonic(int pitchClass);

}  // namespace pitchloom

#pragma once

#include <optional>
#include <string>

#include "tuning/tuning_state.h"

namespace pitchloom {

/// A tuning and scale read from a scale file, by absolute pitch class, with the Key list row
/// that goes with it (which may lie outside the list in a damaged .sca).
struct LoadedScale {
    Offsets offsets{};
    ScaleMarks marks{};
    int keyRow = kDefaultKeyRow;
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

/// Reads a scale file: the program's own 64-byte .sca, or a Scala .scl laid on the twelve keys
/// with its first note on the key of `keyRow`, or on the key a Scala keyboard mapping sets.
ScaleFileRead readScaleFile(const std::string& path, int keyRow,
                            const std::optional<std::string>& mappingPath = std::nullopt);

/// The keyboard mapping beside a .scl, with its base name and ".kbm", when there is one.
std::optional<std::string> mappingBeside(const std::string& sclPath);

/// Writes the tuning and scale in force to a scale file, a .scl by its extension and a .sca
/// otherwise; the key row goes into a .sca, and names the key (with the scale and tuning rows)
/// in a .scl. Nothing when written, else the detail of what went wrong.
std::optional<std::string> writeScaleFile(const std::string& path, const TuningState& state,
                                          int keyRow);

/// The Key list row that shows a pitch class as a key: the sharp keys first, then the flat ones.
int keyRowOfTonic(int pitchClass);

}  // namespace pitchloom

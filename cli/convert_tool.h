#pragma once

#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "tuning/dialect.h"

namespace pitchloom {

/// Exit statuses of pitchloom-convert.
inline constexpr int kExitWritten = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
/// Stopped by Ctrl-C, as a shell reports a program ended by it.
inline constexpr int kExitInterrupted = 130;

/// The most songs -j may ask to convert at once.
inline constexpr int kMostJobs = 1024;
/// The longest --release-guard, in milliseconds: longer than the release of any common sound.
inline constexpr int kLongestReleaseGuard = 10000;

/// The device types of a --type list: names of the dialect table in any case, joined by commas;
/// nothing for an unknown or repeated name.
std::optional<std::vector<DeviceType>> deviceTypesOf(std::string_view list);

/// The row of a Key list label, matched without regard to case.
std::optional<int> keyRowOf(std::string_view label);
/// The row of a Scale list label that has a built-in scale, matched without regard to case.
std::optional<int> scaleRowOf(std::string_view label);
/// The row of a Tuning list label that has a built-in tuning, matched without regard to case.
std::optional<int> tuningRowOf(std::string_view label);

/// Writes the device types, and the Key, Scale and Tuning labels that the options accept, one a
/// line, under headings.
void printLabels(std::ostream& out);

/// Runs pitchloom-convert with its arguments; help and the label list go to out, every message
/// to err, and a progress bar too when err is a terminal. Returns the exit status.
int runConvertTool(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                   bool errIsTerminal = false);

}  // namespace pitchloom

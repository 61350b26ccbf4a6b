#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace pitchloom {

/// Reads at most maxBytes of a regular file; nothing when it cannot be opened or read, or is no
/// regular file (a folder, a FIFO, a device). Never blocks waiting for a writer.
std::optional<std::vector<std::uint8_t>> readFileBytes(const std::string& path,
                                                       std::size_t maxBytes);

/// Writes the bytes to a temporary file beside path and renames it over path, so the target is
/// either the old file or the complete new one. False when anything fails.
bool writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes);

}  // namespace pitchloom

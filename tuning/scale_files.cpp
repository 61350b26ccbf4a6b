#include "tuning/scale_files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string_view>
#include <type_traits>

#include "base/file_io.h"
#include "base/messages.h"
#include "tuning/scala_file.h"
#include "tuning/scale_file.h"

namespace pitchloom {

namespace {

// Scala files are a few lines; anything this long is no scale.
constexpr std::size_t kLargestScalaFile = 256 * 1024;
constexpr std::array<int, 15> kKeyRowPreference = {7, 8, 9, 10, 11, 12, 13, 14,
                                                   6, 5, 4, 3,  2,  1,  0};

std::string textOf(const FileContents& file) {
    return {file.bytes.begin(), file.bytes.end()};
}

template <typename Table>
std::string_view labelOf(const Table& table, int row) {
    if (row < 0 || row >= static_cast<int>(table.size())) return "?";
    const auto& entry = table[static_cast<std::size_t>(row)];
    if constexpr (std::is_convertible_v<decltype(entry), std::string_view>) {
        return entry;
    } else {
        return entry.label;
    }
}

ScaleFileRead cannotOpen(const std::string& path, const FileStatus& status) {
    return {std::nullopt, std::string(messages::kCannotOpenFile), status.about(path)};
}

ScaleFileRead readSca(const std::string& path) {
    // One byte more than a scale file, so that a longer file is seen to be too long.
    const FileContents file = readFile(path, kScaleFileSize + 1);
    if (!file.status) return cannotOpen(path, file.status);
    const auto data = parseScaleFile(file.bytes);
    if (!data) {
        return {std::nullopt, std::string(messages::kNotAScaleFile),
                FileStatus::failed("not a scale file of 64 bytes with a note in its scale")
                    .about(path)};
    }
    return {LoadedScale{data->offsets, data->marks, data->keyRow}, {}, {}};
}

ScaleFileRead readScl(const std::string& path, int keyRow,
                      const std::optional<std::string>& mappingPath) {
    const FileContents scl = readFile(path, kLargestScalaFile + 1);
    if (!scl.status) return cannotOpen(path, scl.status);
    if (scl.bytes.size() > kLargestScalaFile) {
        return {std::nullopt, std::string(kScalaNotValid) + "it is far too long.", {}};
    }
    ScalaResult<FittedScale> fitted;
    if (mappingPath) {
        const FileContents kbm = readFile(*mappingPath, kLargestScalaFile);
        if (!kbm.status) return cannotOpen(*mappingPath, kbm.status);
        fitted = loadScalaWithMapping(textOf(scl), textOf(kbm));
        if (fitted) {
            const auto mapping = parseKeyboardMapping(textOf(kbm));
            keyRow = keyRowOfTonic(mapping.value->key());
        }
    } else {
        fitted = loadScala(textOf(scl), tonicOf(keyRow));
    }
    if (!fitted) return {std::nullopt, fitted.reason, {}};
    return {LoadedScale{fitted.value->offsets, fitted.value->marks, keyRow}, {}, {}};
}

}  // namespace

bool isScalaPath(const std::string& path) {
    return hasExtension(path, kScalaFileFilter.defaultExtension);
}

ScaleFileRead readScaleFile(const std::string& path, int keyRow,
                            const std::optional<std::string>& mappingPath) {
    return isScalaPath(path) ? readScl(path, keyRow, mappingPath) : readSca(path);
}

std::optional<std::string> mappingBeside(const std::string& sclPath) {
    std::filesystem::path kbm(sclPath);
    kbm.replace_extension(".kbm");
    std::error_code error;
    if (!std::filesystem::is_regular_file(kbm, error)) return std::nullopt;
    return kbm.string();
}

std::optional<std::string> writeScaleFile(const std::string& path, const TuningState& state,
                                          int keyRow) {
    FileStatus written = FileStatus::done();
    if (isScalaPath(path)) {
        const std::string description =
            "Pitchloom Pro: key " + std::string(labelOf(KeyTable, keyRow)) + ", scale " +
            std::string(labelOf(ScaleTable, state.scaleIndex)) + ", tuning " +
            std::string(labelOf(TuningTable, state.tuningIndex));
        const std::string text =
            writeScala(state.offsetValues(), state.scaleMarks(), tonicOf(keyRow), description,
                       std::filesystem::path(path).filename().string());
        written = writeFile(
            path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    } else {
        ScaleFileData data;
        data.offsets = state.offsetValues();
        data.marks = state.scaleMarks();
        data.keyRow = keyRow;
        written = writeFile(path, serializeScaleFile(data));
    }
    if (written) return std::nullopt;
    return written.about(path);
}

int keyRowOfTonic(int pitchClass) {
    for (int row : kKeyRowPreference) {
        if (tonicOf(row) == ((pitchClass % 12) + 12) % 12) return row;
    }
    return kDefaultKeyRow;
}

}  // namespace pitchloom

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
    return {LoadedScale{data->offsets, data->marks, data->keyRow, nullptr}, {}, {}};
}

std::string nameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// A Scala file read but refused: the reason, and the file to blame with what it is not.
ScaleFileRead refusedScala(const std::string& path, std::string reason, std::string_view what) {
    return {std::nullopt, std::move(reason), FileStatus::failed(std::string(what)).about(path)};
}

// A scale read, put in the form the state holds: a scale on twelve classes in the offsets and
// marks, any other in its keys alone.
ScaleFileRead loadedScala(const ScalaTuning& tuned, int keyRow, std::string sclText,
                          std::optional<std::string> kbmText) {
    auto scala = std::make_shared<ScalaInForce>();
    scala->description = tuned.description;
    scala->noteCount = tuned.noteCount;
    scala->twelve = tuned.twelve.has_value();
    scala->whyNotTwelve = tuned.whyNotTwelve;
    scala->referenceShift = tuned.referenceShift;
    scala->keys = tuned.keys;
    scala->sclText = std::move(sclText);
    scala->kbmText = std::move(kbmText);
    LoadedScale loaded;
    loaded.keyRow = keyRow;
    if (tuned.twelve) {
        loaded.offsets = tuned.twelve->offsets;
        loaded.marks = tuned.twelve->marks;
    } else {
        loaded.marks.fill(1);
    }
    loaded.scala = std::move(scala);
    return {std::move(loaded), {}, {}};
}

ScaleFileRead readScl(const std::string& path, int keyRow,
                      const std::optional<std::string>& mappingPath) {
    constexpr std::string_view kNotScala = "not a Scala scale file that can be read";
    const FileContents scl = readFile(path, kLargestScalaFile + 1);
    if (!scl.status) return cannotOpen(path, scl.status);
    if (scl.bytes.size() > kLargestScalaFile) {
        return refusedScala(path, std::string(kScalaNotValid) + "it is far too long.", kNotScala);
    }
    const auto scale = parseScala(textOf(scl));
    if (!scale) return refusedScala(path, scale.reason, kNotScala);
    std::optional<KeyboardMapping> mapping;
    std::optional<std::string> kbmText;
    if (mappingPath) {
        // The window reads a mapping beside the scale unasked: the message names it.
        const auto refusedMapping = [&](std::string reason, std::string_view what) {
            return refusedScala(*mappingPath,
                                reason + " It is " + nameOf(*mappingPath) + ", read with " +
                                    nameOf(path) + " for its key.",
                                what);
        };
        constexpr std::string_view kNotMapping = "not a Scala keyboard mapping that can be read";
        const FileContents kbm = readFile(*mappingPath, kLargestScalaFile + 1);
        if (!kbm.status) return cannotOpen(*mappingPath, kbm.status);
        if (kbm.bytes.size() > kLargestScalaFile) {
            return refusedMapping(std::string(kMappingNotValid) + "it is far too long.",
                                  kNotMapping);
        }
        const auto parsed = parseKeyboardMapping(textOf(kbm));
        if (!parsed) return refusedMapping(parsed.reason, kNotMapping);
        mapping = *parsed.value;
        kbmText = textOf(kbm);
    }
    const auto tuned = tuneScala(*scale.value, mapping, tonicOf(keyRow));
    if (!tuned) return refusedScala(path, tuned.reason, "a Scala scale with nothing to play");
    if (mapping) keyRow = keyRowOfTonic(mapping->key());
    return loadedScala(*tuned.value, keyRow, textOf(scl), std::move(kbmText));
}

// A keyboard mapping goes with the scale of the same base name.
std::string mappingPathOf(const std::string& sclPath) {
    return std::filesystem::path(sclPath).replace_extension(".kbm").string();
}

FileStatus writeText(const std::string& path, std::string_view text) {
    return writeFile(path,
                     std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<ScaleFileNotWritten> notWritten(const std::string& path, const FileStatus& status) {
    return ScaleFileNotWritten{std::string(messages::kCannotOpenFile), status.about(path)};
}

// Written back as read: a Scala file holds more than this program shows of it (comments, ratios,
// a mapping's reference pitch).
std::optional<ScaleFileNotWritten> writeScalaBack(const std::string& path,
                                                  const ScalaInForce& scala) {
    if (const FileStatus written = writeText(path, scala.sclText); !written) {
        return notWritten(path, written);
    }
    if (!scala.kbmText) return std::nullopt;
    const std::string kbm = mappingPathOf(path);
    if (const FileStatus written = writeText(kbm, *scala.kbmText); !written) {
        return notWritten(kbm, written);
    }
    return std::nullopt;
}

}  // namespace

bool isScalaPath(const std::string& path) {
    return hasExtension(path, kScalaFileFilter.defaultExtension);
}

ScaleFileRead readScaleFile(const std::string& path, int keyRow,
                            const std::optional<std::string>& mappingPath) {
    return isScalaPath(path) ? readScl(path, keyRow, mappingPath) : readSca(path);
}

std::optional<LoadedScale> scalaOnKey(const ScalaInForce& scala, int keyRow) {
    if (scala.kbmText) return std::nullopt;
    const auto scale = parseScala(scala.sclText);
    if (!scale) return std::nullopt;
    const auto tuned = tuneScala(*scale.value, std::nullopt, tonicOf(keyRow));
    if (!tuned || tuned.value->twelve) return std::nullopt;
    return loadedScala(*tuned.value, keyRow, scala.sclText, std::nullopt).scale;
}

std::optional<std::string> mappingBeside(const std::string& sclPath) {
    std::string kbm = mappingPathOf(sclPath);
    std::error_code error;
    if (!std::filesystem::is_regular_file(kbm, error)) return std::nullopt;
    return kbm;
}

std::optional<ScaleFileNotWritten> writeScaleFile(const std::string& path, const TuningState& state,
                                                  int keyRow) {
    const auto scala = state.scala();
    const bool toScala = isScalaPath(path);
    if (toScala && scala) return writeScalaBack(path, *scala);
    if (!toScala && scala && !scala->twelve) {
        return ScaleFileNotWritten{
            scala->whyNotTwelve + ": it can be saved only as a Scala file (.scl).", {}};
    }
    if (state.songTuning.load() == SongTuning::Adaptive) {
        return ScaleFileNotWritten{std::string(kAdaptiveNotSaved), {}};
    }
    FileStatus written = FileStatus::done();
    if (toScala) {
        const std::string description =
            "Pitchloom Pro: key " + std::string(labelOf(KeyTable, keyRow)) + ", scale " +
            std::string(labelOf(ScaleTable, state.scaleIndex)) + ", tuning " +
            std::string(labelOf(TuningTable, state.tuningIndex));
        written = writeText(path, writeScala(state.offsetValues(), state.scaleMarks(),
                                             tonicOf(keyRow), description, nameOf(path)));
    } else {
        ScaleFileData data;
        data.offsets = state.offsetValues();
        data.marks = state.scaleMarks();
        data.keyRow = keyRow;
        written = writeFile(path, serializeScaleFile(data));
    }
    if (written) return std::nullopt;
    return notWritten(path, written);
}

int keyRowOfTonic(int pitchClass) {
    for (int row : kKeyRowPreference) {
        if (tonicOf(row) == ((pitchClass % 12) + 12) % 12) return row;
    }
    return kDefaultKeyRow;
}

}  // namespace pitchloom

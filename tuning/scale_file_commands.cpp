#include <array>
#include <filesystem>
#include <string>

#include "base/messages.h"
#include "tuning/scale_files.h"
#include "tuning/tuning_controls.h"

namespace pitchloom {

namespace {

bool isKeyRow(int row) {
    return row >= 0 && row < static_cast<int>(KeyTable.size());
}

// The program's own scale files and Scala's, both at once when loading.
constexpr std::array<FileFilter, 3> kLoadFilters = {
    FileFilter{"all scale files", "*.sca *.scl", "sca"}, kScaleFileFilter, kScalaFileFilter};
constexpr std::array<FileFilter, 2> kSaveFilters = {kScaleFileFilter, kScalaFileFilter};
// A scale of other than twelve notes keeps only in its own format.
constexpr std::array<FileFilter, 1> kScalaSaveFilters = {kScalaFileFilter};

// The Tuning list names a scale by its description, or by its file where it has none, and says
// how many notes it has, which is what sets it apart from the twelve.
std::string scalaName(const ScalaInForce& scala, const std::string& path) {
    constexpr std::string_view kBlanks = " \t";
    std::string_view description = scala.description;
    const auto first = description.find_first_not_of(kBlanks);
    description =
        first == std::string_view::npos
            ? std::string_view()
            : description.substr(first, description.find_last_not_of(kBlanks) - first + 1);
    const std::string name = description.empty() ? std::filesystem::path(path).filename().string()
                                                 : std::string(description);
    return name + " (" + std::to_string(scala.noteCount) +
           (scala.noteCount == 1 ? " note)" : " notes)");
}

}  // namespace

void TuningControls::saveScaleFile() {
    const auto scala = state_.scala();
    const auto path = scala && !scala->twelve ? dialogs_.askSavePath(kScalaSaveFilters)
                                              : dialogs_.askSavePath(kSaveFilters);
    if (!path) return;
    const int keyRow = view_.selectedRow(TuningList::Key);
    if (const auto failed = writeScaleFile(*path, state_, keyRow)) {
        dialogs_.showMessage(failed->message, BoxStyle::SystemModal);
        if (!failed->detail.empty()) dialogs_.showDetail(failed->detail);
        return;
    }
    state_.savedKeyIndex = keyRow;
}

void TuningControls::loadScaleFile() {
    const auto path = dialogs_.askOpenPath(kLoadFilters);
    if (!path) return;

    // A Scala scale is laid on the keys from the key shown, or from its keyboard mapping.
    const int keyRow = view_.selectedRow(TuningList::Key);
    const ScaleFileRead read =
        readScaleFile(*path, keyRow >= 0 ? keyRow : kDefaultKeyRow,
                      isScalaPath(*path) ? mappingBeside(*path) : std::nullopt);
    if (!read.scale) {
        dialogs_.showMessage(read.message, BoxStyle::SystemModal);
        if (!read.detail.empty()) dialogs_.showDetail(read.detail);
        return;
    }

    state_.setOffsets(read.scale->offsets);
    state_.setScaleMarks(read.scale->marks);
    // In force before tuningChanged rises below; nothing for a .sca.
    state_.setScala(read.scale->scala);
    state_.savedKeyIndex = read.scale->keyRow;
    // The values are absolute pitch classes already: the list handlers must not rotate them.
    selectListRow(TuningList::Scale, kCustomScaleRow);
    sendAllNotesOff();
    selectListRow(TuningList::Tuning, kCustomTuningRow);
    setSliders();
    showOffsets();
    state_.tuningChanged.store(1);
    showScaleKeys();
    const ScalaInForce* scala = read.scale->scala.get();
    showScala(scala, scala ? scalaName(*scala, *path) : std::string());
    if (isKeyRow(state_.savedKeyIndex)) selectListRow(TuningList::Key, state_.savedKeyIndex);
    sendAllNotesOff();
}

}  // namespace pitchloom

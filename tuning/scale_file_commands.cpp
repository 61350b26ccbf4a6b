#include "base/file_io.h"
#include "base/messages.h"
#include "tuning/scale_file.h"
#include "tuning/tuning_controls.h"

namespace pitchloom {

namespace {

bool isKeyRow(int row) {
    return row >= 0 && row < static_cast<int>(KeyTable.size());
}

}  // namespace

void TuningControls::saveScaleFile() {
    const auto path = dialogs_.askSavePath(kScaleFileFilter);
    if (!path) return;

    ScaleFileData data;
    data.offsets = state_.offsetValues();
    data.marks = state_.scaleMarks();
    data.keyRow = view_.selectedRow(TuningList::Key);
    const auto bytes = serializeScaleFile(data);
    if (const FileStatus written = writeFile(*path, bytes); !written) {
        dialogs_.showMessage(messages::kCannotOpenFile, BoxStyle::SystemModal);
        dialogs_.showDetail(written.about(*path));
        return;
    }
    state_.savedKeyIndex = data.keyRow;
}

void TuningControls::loadScaleFile() {
    const auto path = dialogs_.askOpenPath(kScaleFileFilter);
    if (!path) return;

    // One byte more than a scale file, so that a longer file is seen to be too long.
    const FileContents file = readFile(*path, kScaleFileSize + 1);
    if (!file.status) {
        dialogs_.showMessage(messages::kCannotOpenFile, BoxStyle::SystemModal);
        dialogs_.showDetail(file.status.about(*path));
        return;
    }
    const auto data = parseScaleFile(file.bytes);
    if (!data) {
        dialogs_.showMessage(messages::kNotAScaleFile, BoxStyle::SystemModal);
        return;
    }

    state_.setOffsets(data->offsets);
    state_.setScaleMarks(data->marks);
    state_.savedKeyIndex = data->keyRow;
    // The values are absolute pitch classes already: the list handlers must not rotate them.
    selectListRow(TuningList::Scale, kCustomScaleRow);
    sendAllNotesOff();
    selectListRow(TuningList::Tuning, kCustomTuningRow);
    setSliders();
    showOffsets();
    state_.tuningChanged.store(1);
    showScaleKeys();
    if (isKeyRow(state_.savedKeyIndex)) selectListRow(TuningList::Key, state_.savedKeyIndex);
    sendAllNotesOff();
}

}  // namespace pitchloom

#include "base/messages.h"

#include <cstdio>

namespace pitchloom {

std::string fileErrorText(int code) {
    char text[40];
    std::snprintf(text, sizeof text, "GENE%08X %s", static_cast<unsigned>(code), "General Error");
    return text;
}

void reportFileError(UserDialogs& dialogs, int code) {
    dialogs.showMessage(fileErrorText(code), BoxStyle::SystemModal);
}

void reportError(UserDialogs& dialogs, int /*code*/, std::string_view detail) {
    dialogs.showMessage(messages::kUndefinedError, BoxStyle::Plain);
    if (!detail.empty()) dialogs.showDetail(detail);
}

}  // namespace pitchloom

#include "cli/stream_dialogs.h"

namespace pitchloom {

void StreamDialogs::showMessage(std::string_view text, BoxStyle /*style*/) {
    messages_ << text << '\n' << std::flush;
}

void StreamDialogs::showDetail(std::string_view detail) {
    messages_ << detail << '\n' << std::flush;
}

std::optional<std::string> StreamDialogs::askOpenPath(const FileFilter& /*filter*/) {
    return input_;
}

std::optional<std::string> StreamDialogs::askSavePath(const FileFilter& /*filter*/) {
    return output_;
}

}  // namespace pitchloom

#include "cli/stream_dialogs.h"

namespace pitchloom {

void StreamDialogs::showMessage(std::string_view text, BoxStyle /*style*/) {
    if (beforeLine_) beforeLine_();
    messages_ << text << '\n' << std::flush;
}

void StreamDialogs::showDetail(std::string_view detail) {
    if (beforeLine_) beforeLine_();
    messages_ << detail << '\n' << std::flush;
}

std::optional<std::string> StreamDialogs::askOpenPath(std::span<const FileFilter> /*filters*/) {
    return input_;
}

std::optional<std::string> StreamDialogs::askSavePath(std::span<const FileFilter> /*filters*/) {
    return output_;
}

}  // namespace pitchloom

#include "cli/stream_dialogs.h"

namespace pitchloom {

std::string oneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            line += c;
        } else if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\t') {
            line += "\\t";
        } else {
            constexpr std::string_view kHex = "0123456789abcdef";
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0xF];
        }
    }
    return line;
}

void StreamDialogs::showMessage(std::string_view text, BoxStyle /*style*/) {
    if (beforeLine_) beforeLine_();
    messages_ << oneLine(text) << '\n' << std::flush;
}

void StreamDialogs::showDetail(std::string_view detail) {
    if (beforeLine_) beforeLine_();
    messages_ << oneLine(detail) << '\n' << std::flush;
}

std::optional<std::string> StreamDialogs::askOpenPath(std::span<const FileFilter> /*filters*/) {
    return input_;
}

std::optional<std::string> StreamDialogs::askSavePath(std::span<const FileFilter> /*filters*/) {
    return output_;
}

}  // namespace pitchloom

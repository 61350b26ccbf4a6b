#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "base/user_dialogs.h"

namespace pitchloom {

/// The text with each control character written as an escape (\n, \t, \x1b ...), so that a
/// file name holding one keeps to its line and cannot steer the terminal.
std::string oneLine(std::string_view text);

/// The dialogs of a run from the command line: the open dialog answers the input file, the
/// save dialog the output file, and every message box becomes one line on a stream.
class StreamDialogs : public UserDialogs {
public:
    StreamDialogs(std::string input, std::string output, std::ostream& messages)
        : input_(std::move(input)), output_(std::move(output)), messages_(messages) {}

    void showMessage(std::string_view text, BoxStyle style) override;
    void showDetail(std::string_view detail) override;
    std::optional<std::string> askOpenPath(std::span<const FileFilter> filters) override;
    std::optional<std::string> askSavePath(std::span<const FileFilter> filters) override;
    using UserDialogs::askOpenPath;
    using UserDialogs::askSavePath;

    /// Called before each line, to take a progress bar out of its way.
    void setBeforeLine(std::function<void()> beforeLine) { beforeLine_ = std::move(beforeLine); }

private:
    std::string input_;
    std::string output_;
    std::ostream& messages_;
    std::function<void()> beforeLine_;
};

}  // namespace pitchloom

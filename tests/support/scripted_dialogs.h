#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/user_dialogs.h"

namespace pitchloom::test {

/// A UserDialogs that answers file dialogs from a script and records every box shown.
class ScriptedDialogs : public UserDialogs {
public:
    struct Box {
        std::string text;
        BoxStyle style;
    };

    /// Queues the answer of the next open dialog (nothing = cancel).
    void willOpen(std::optional<std::string> path) { opens_.push_back(std::move(path)); }
    /// Queues the answer of the next save dialog (nothing = cancel).
    void willSave(std::optional<std::string> path) { saves_.push_back(std::move(path)); }

    void showMessage(std::string_view text, BoxStyle style) override;
    void showDetail(std::string_view detail) override;
    std::optional<std::string> askOpenPath(std::span<const FileFilter> filters) override;
    std::optional<std::string> askSavePath(std::span<const FileFilter> filters) override;
    using UserDialogs::askOpenPath;
    using UserDialogs::askSavePath;

    std::vector<Box> boxes() const;
    std::vector<std::string> texts() const;
    /// The details given after the boxes, in order.
    std::vector<std::string> details() const;
    /// The filters every dialog offered, one after the other.
    std::vector<FileFilter> openFilters() const;
    std::vector<FileFilter> saveFilters() const;
    int openCount() const;
    int saveCount() const;
    void clear();

private:
    mutable std::mutex mutex_;  // boxes may come from the timer thread
    std::deque<std::optional<std::string>> opens_;
    std::deque<std::optional<std::string>> saves_;
    std::vector<Box> boxes_;
    std::vector<std::string> details_;
    std::vector<FileFilter> openFilters_;
    std::vector<FileFilter> saveFilters_;
    int openCount_ = 0;
    int saveCount_ = 0;
};

}  // namespace pitchloom::test

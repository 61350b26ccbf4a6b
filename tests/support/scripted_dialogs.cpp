#include "support/scripted_dialogs.h"

namespace pitchloom::test {

void ScriptedDialogs::showMessage(std::string_view text, BoxStyle style) {
    std::lock_guard lock(mutex_);
    boxes_.push_back({std::string(text), style});
}

void ScriptedDialogs::showDetail(std::string_view detail) {
    std::lock_guard lock(mutex_);
    details_.emplace_back(detail);
}

std::vector<std::string> ScriptedDialogs::details() const {
    std::lock_guard lock(mutex_);
    return details_;
}

std::optional<std::string> ScriptedDialogs::askOpenPath(std::span<const FileFilter> filters) {
    std::lock_guard lock(mutex_);
    openFilters_.insert(openFilters_.end(), filters.begin(), filters.end());
    ++openCount_;
    if (opens_.empty()) return std::nullopt;
    auto answer = opens_.front();
    opens_.pop_front();
    return answer;
}

std::optional<std::string> ScriptedDialogs::askSavePath(std::span<const FileFilter> filters) {
    std::lock_guard lock(mutex_);
    saveFilters_.insert(saveFilters_.end(), filters.begin(), filters.end());
    ++saveCount_;
    if (saves_.empty()) return std::nullopt;
    auto answer = saves_.front();
    saves_.pop_front();
    return answer;
}

std::vector<ScriptedDialogs::Box> ScriptedDialogs::boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::vector<std::string> ScriptedDialogs::texts() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& b : boxes_)
        out.push_back(b.text);
    return out;
}

std::vector<FileFilter> ScriptedDialogs::openFilters() const {
    std::lock_guard lock(mutex_);
    return openFilters_;
}

std::vector<FileFilter> ScriptedDialogs::saveFilters() const {
    std::lock_guard lock(mutex_);
    return saveFilters_;
}

int ScriptedDialogs::openCount() const {
    std::lock_guard lock(mutex_);
    return openCount_;
}

int ScriptedDialogs::saveCount() const {
    std::lock_guard lock(mutex_);
    return saveCount_;
}

void ScriptedDialogs::clear() {
    std::lock_guard lock(mutex_);
    boxes_.clear();
    details_.clear();
    openCount_ = 0;
    saveCount_ = 0;
    openFilters_.clear();
    saveFilters_.clear();
}

}  // namespace pitchloom::test

#include "cli/progress_bar.h"

#include <algorithm>
#include <cmath>

namespace pitchloom {
namespace {
constexpr int kWidth = 30;
}  // namespace

void ProgressBar::show(double done, std::string_view label) {
    if (!terminal_) return;
    done = std::clamp(done, 0.0, 1.0);
    const int filled = static_cast<int>(std::floor(done * kWidth));
    const int percent = static_cast<int>(std::floor(done * 100));
    std::string text = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(kWidth - filled), '-') + "] ";
    text += std::string(percent < 10    ? 2
                        : percent < 100 ? 1
                                        : 0,
                        ' ') +
            std::to_string(percent) + "%";
    if (!label.empty()) text += "  " + std::string(label);
    std::lock_guard lock(mutex_);
    if (text == drawn_) return;
    out_ << '\r' << text << "\x1b[K" << std::flush;
    drawn_ = std::move(text);
}

void ProgressBar::clear() {
    if (drawn_.empty()) return;
    out_ << "\r\x1b[K";
    drawn_.clear();
}

void ProgressBar::print(std::string_view line) {
    std::lock_guard lock(mutex_);
    const std::string redraw = drawn_;
    clear();
    out_ << line << '\n';
    if (!redraw.empty()) out_ << redraw;
    out_ << std::flush;
    drawn_ = redraw;
}

void ProgressBar::finish() {
    std::lock_guard lock(mutex_);
    clear();
    out_ << std::flush;
}

}  // namespace pitchloom

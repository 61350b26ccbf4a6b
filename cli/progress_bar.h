#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

namespace pitchloom {

/// A bar on the last line of a terminal, redrawn in place as work goes on; lines printed while
/// it shows go above it. On anything but a terminal (a log, a pipe) only the lines appear.
/// Safe to use from several threads.
class ProgressBar {
public:
    ProgressBar(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
    ~ProgressBar() { finish(); }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    /// "[########--------]  50%" followed by the label ("3/6").
    void show(double done, std::string_view label = {});
    /// Prints a line above the bar.
    void print(std::string_view line);
    /// Takes the bar off the terminal.
    void finish();

private:
    void clear();

    std::ostream& out_;
    bool terminal_;
    std::mutex mutex_;
    std::string drawn_;
};

}  // namespace pitchloom

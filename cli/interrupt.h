#pragma once

#include <array>
#include <csignal>

namespace pitchloom {

/// While it lives, Ctrl-C, a termination request and the loss of the terminal stop the work in
/// hand the way a cancel does, so that no temporary file stays behind; a second one ends the
/// program at once, after removing the temporary files. The handlers in force before come back
/// when it ends.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    /// The signals it answers.
    static constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

private:
    std::array<struct sigaction, kSignals.size()> previous_{};
};

/// True once an interrupt came within a scope.
bool interrupted();

}  // namespace pitchloom

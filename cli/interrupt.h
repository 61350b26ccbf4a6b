#pragma once

#include <array>
#include <csignal>
#include <utility>
#include <vector>

namespace pitchloom {

/// While it lives, no signal that ends the program leaves a temporary file behind: the files go
/// first. With Interrupts::StopTheWork, Ctrl-C, a termination request and the loss of the
/// terminal only stop the work in hand, the way a cancel does (see interrupted()), and a second
/// one ends the program; a standard error closed by its reader no longer ends it either. A signal
/// the program was started to ignore, or that something else handles, is left as it is. The
/// handlers in force before come back when it ends.
class InterruptScope {
public:
    enum class Interrupts { EndTheProgram, StopTheWork };

    explicit InterruptScope(Interrupts interrupts);
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

    /// The signals that StopTheWork makes a request to stop.
    static constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

private:
    std::vector<std::pair<int, struct sigaction>> previous_;
};

/// True once an interrupt came within a scope that stops the work.
bool interrupted();

}  // namespace pitchloom

#pragma once

#include <csignal>

namespace pitchloom {

/// While it lives, Ctrl-C and a termination request stop the work in hand the way a cancel does,
/// so that no temporary file stays behind; a second one ends the program at once. The handlers
/// in force before come back when it ends.
class InterruptScope {
public:
    InterruptScope();
    ~InterruptScope();
    InterruptScope(const InterruptScope&) = delete;
    InterruptScope& operator=(const InterruptScope&) = delete;

private:
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
};

/// True once an interrupt came within a scope.
bool interrupted();

}  // namespace pitchloom

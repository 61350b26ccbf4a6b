#include "cli/interrupt.h"

#include <atomic>

#include "base/file_io.h"

namespace pitchloom {
namespace {

// Lock-free, so the handler may set it, and read by every worker.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int signal) {
    if (caught.exchange(1) != 0) {
        // Ends at once, but not before the half-written files go that the first one would
        // have removed in its own time.
        removeTemporaryFiles();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

}  // namespace

InterruptScope::InterruptScope() {
    caught = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        sigaction(kSignals[i], &action, &previous_[i]);
        // A signal the program was started to ignore (nohup, a job in the background of a
        // script) stays ignored: it is meant for others.
        if (previous_[i].sa_handler == SIG_IGN) sigaction(kSignals[i], &previous_[i], nullptr);
    }
}

InterruptScope::~InterruptScope() {
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        sigaction(kSignals[i], &previous_[i], nullptr);
}

bool interrupted() {
    return caught.load() != 0;
}

}  // namespace pitchloom

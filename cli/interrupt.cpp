#include "cli/interrupt.h"

#include <atomic>

namespace pitchloom {
namespace {

// Lock-free, so the handler may set it, and read by every worker.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onInterrupt(int signal) {
    if (caught.exchange(1) != 0) {
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
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
    // A signal the program was started to ignore (nohup, a job in the background of a script)
    // stays ignored: it is meant for others.
    if (previousInt_.sa_handler == SIG_IGN) sigaction(SIGINT, &previousInt_, nullptr);
    if (previousTerm_.sa_handler == SIG_IGN) sigaction(SIGTERM, &previousTerm_, nullptr);
}

InterruptScope::~InterruptScope() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool interrupted() {
    return caught.load() != 0;
}

}  // namespace pitchloom

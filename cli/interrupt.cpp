#include "cli/interrupt.h"

namespace pitchloom {
namespace {

volatile std::sig_atomic_t caught = 0;

extern "C" void onInterrupt(int signal) {
    if (caught != 0) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    caught = 1;
}

}  // namespace

InterruptScope::InterruptScope() {
    caught = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
}

InterruptScope::~InterruptScope() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
}

bool interrupted() {
    return caught != 0;
}

}  // namespace pitchloom

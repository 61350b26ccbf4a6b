#include "cli/interrupt.h"

#include <csignal>

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

void catchInterrupts() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted() {
    return caught != 0;
}

}  // namespace pitchloom

#include "cli/interrupt.h"

#include <algorithm>
#include <atomic>

#include "base/file_io.h"

namespace pitchloom {
namespace {

// Lock-free, so the handler may set it, and read by every worker.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

// Every signal whose default is to end the program and that a handler can catch.
std::vector<int> endingSignals() {
    std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                                SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGSYS};
#if defined(SIGSTKFLT)
    signals.push_back(SIGSTKFLT);
#endif
#if defined(SIGIO)
    signals.push_back(SIGIO);
#endif
#if defined(SIGPWR)
    signals.push_back(SIGPWR);
#endif
#if defined(SIGRTMIN)
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s)
        signals.push_back(s);
#endif
    return signals;
}

// Ends the program by the signal, as it would have ended without a handler, but not before the
// half-written files go that a cancel would have removed in its own time.
void endBy(int signal) {
    removeTemporaryFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

extern "C" void onEndingSignal(int signal) {
    endBy(signal);
}

extern "C" void onInterrupt(int signal) {
    if (caught.exchange(1) != 0) endBy(signal);
}

}  // namespace

InterruptScope::InterruptScope(Interrupts interrupts) {
    caught = 0;
    const bool stops = interrupts == Interrupts::StopTheWork;
    for (const int signal : endingSignals()) {
        struct sigaction before {};
        if (sigaction(signal, nullptr, &before) != 0 || before.sa_handler != SIG_DFL ||
            (before.sa_flags & SA_SIGINFO) != 0) {
            continue;
        }
        const bool request =
            stops && std::find(kSignals.begin(), kSignals.end(), signal) != kSignals.end();
        struct sigaction action {};
        // The work goes on whether its messages are read or not; a failed write says so itself.
        action.sa_handler = stops && signal == SIGPIPE ? SIG_IGN
                            : request                  ? onInterrupt
                                                       : onEndingSignal;
        sigemptyset(&action.sa_mask);
        if (sigaction(signal, &action, nullptr) == 0) previous_.emplace_back(signal, before);
    }
}

InterruptScope::~InterruptScope() {
    for (const auto& [signal, before] : previous_)
        sigaction(signal, &before, nullptr);
}

bool interrupted() {
    return caught.load() != 0;
}

}  // namespace pitchloom

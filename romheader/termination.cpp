#include "romheader/termination.h"

#include <signal.h>

#include <array>

namespace kelvo {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};

// Guards nest (a copy inside a larger job); only the outermost one installs
// and restores the handlers. Everything here runs on the UI thread; only
// pendingSignal is touched by the handler.
int depth = 0;
std::array<struct sigaction, kSignals.size()> previous{};
volatile sig_atomic_t pendingSignal = 0;

extern "C" void noteSignal(int signal) {
    pendingSignal = signal;
}

} // namespace

TerminationGuard::TerminationGuard() {
    if (depth++ > 0)
        return;
    pendingSignal = 0;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns EINTR and the loop around it
    // looks at the flag.
    action.sa_flags = 0;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &previous[i]);
}

TerminationGuard::~TerminationGuard() {
    if (--depth > 0)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    if (const int signal = pendingSignal) {
        pendingSignal = 0;
        ::raise(signal);
    }
}

bool terminationRequested() {
    return pendingSignal != 0;
}

} // namespace kelvo

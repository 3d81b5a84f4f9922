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
std::array<bool, kSignals.size()> installed{};
volatile sig_atomic_t pendingSignal = 0;

extern "C" void noteSignal(int signal) {
    pendingSignal = signal;
}

bool ignored(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == SIG_IGN;
}

} // namespace

TerminationGuard::TerminationGuard() {
    if (depth++ > 0)
        return;
    pendingSignal = 0;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns EINTR instead of resuming. Only
    // the copy's chunk loop looks at the flag when its copy or read is
    // interrupted; the other loops (readAt, writeAt, the list's writes) retry
    // the call, and the flag is seen at the work's next check (between the
    // copy's chunks, between tries for the list's lock or for a leased file)
    // or when the guard goes.
    action.sa_flags = 0;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        // A signal the program ignores (SIGHUP under nohup) would not have
        // ended it, so it stays ignored and stops nothing.
        installed[i] = ::sigaction(kSignals[i], nullptr, &previous[i]) == 0 &&
                       !ignored(previous[i]) && ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
}

TerminationGuard::~TerminationGuard() {
    if (--depth > 0)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (installed[i])
            ::sigaction(kSignals[i], &previous[i], nullptr);
        installed[i] = false;
    }
    if (const int signal = pendingSignal) {
        pendingSignal = 0;
        ::raise(signal);
    }
}

bool terminationRequested() {
    return pendingSignal != 0;
}

} // namespace kelvo

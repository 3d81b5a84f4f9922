// Termination signals during a long write. While a TerminationGuard lives,
// SIGTERM, SIGINT and SIGHUP do not end the program at once: they set a flag
// that the work in progress polls (terminationRequested()), so it can stop
// and remove what it half-wrote. When the guard goes, the signal takes its
// usual course and the program ends as it would have. A signal the program
// ignores (SIGHUP under nohup) stays ignored and sets no flag. Outside a
// guard the signals behave as they always do.
#pragma once

namespace kelvo {

class TerminationGuard {
public:
    TerminationGuard();
    ~TerminationGuard();
    TerminationGuard(const TerminationGuard&) = delete;
    TerminationGuard& operator=(const TerminationGuard&) = delete;
};

// Whether a termination signal arrived while a guard was alive.
[[nodiscard]] bool terminationRequested();

} // namespace kelvo

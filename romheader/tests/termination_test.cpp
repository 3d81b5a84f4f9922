// Termination signals: held back while a guard lives, then taking their
// course; untouched without a guard. Each row runs in a child process.
#include "romheader/termination.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <optional>

namespace {

struct GuardRow {
    const char* name;
    int signal;
    bool guarded;
    bool ignoredBefore;        // the program ignored the signal before the guard
    bool flagged;              // terminationRequested() saw it
    int endedBy;               // 0: the process carries on
    bool whileBlocked = false; // it arrives during a read that waits for ever
};

// Sends `signal` to this process every 20 ms, so one arrives while the
// process is blocked in a call whatever the timing.
void signalRepeatedly(int signal) {
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = signal;
    timer_t timer{};
    const itimerspec every{{0, 20'000'000}, {0, 20'000'000}};
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 ||
        ::timer_settime(timer, 0, &every, nullptr) != 0)
        ::_exit(4);
}

class TerminationGuardTest : public ::testing::TestWithParam<GuardRow> {};

TEST_P(TerminationGuardTest, SignalTakesItsCourseOnlyAfterTheGuard) {
    const GuardRow& row = GetParam();
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipeFds[0]);
        if (row.ignoredBefore)
            ::signal(row.signal, SIG_IGN);
        {
            // One byte says the signal was seen and the process lived on in the guard.
            std::optional<kelvo::TerminationGuard> guard;
            if (row.guarded)
                guard.emplace();
            if (row.whileBlocked) {
                // The guard's handler must not resume the call (SA_RESTART),
                // or the work never gets to see the flag; SIGALRM ends a
                // process that stays blocked.
                int never[2];
                char byte = 0;
                if (::pipe(never) != 0)
                    ::_exit(4);
                ::alarm(5);
                signalRepeatedly(row.signal);
                if (::read(never[0], &byte, 1) >= 0)
                    ::_exit(4);
            } else {
                ::kill(::getpid(), row.signal);
            }
            if (kelvo::terminationRequested() && ::write(pipeFds[1], "g", 1) != 1)
                ::_exit(3);
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char seen = 0;
    const bool sawFlag = ::read(pipeFds[0], &seen, 1) == 1;
    ::close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    EXPECT_EQ(sawFlag, row.flagged) << "the flag was wrongly (un)set";
    if (row.endedBy != 0) {
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == row.endedBy)
            << "the process was not ended by the signal; status " << status;
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "the process did not carry on; status " << status;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TerminationGuardTest,
    ::testing::Values(
        GuardRow{"sigterm_in_guard_ends_after_it", SIGTERM, true, false, true, SIGTERM},
        GuardRow{"sigterm_in_guard_interrupts_a_blocked_call", SIGTERM, true, false, true, SIGTERM,
                 true},
        GuardRow{"sigint_in_guard_ends_after_it", SIGINT, true, false, true, SIGINT},
        GuardRow{"sighup_ignored_before_stays_ignored", SIGHUP, true, true, false, 0},
        GuardRow{"sigterm_without_guard_ends_at_once", SIGTERM, false, false, false, SIGTERM}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

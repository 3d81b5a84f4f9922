// Termination signals: held back while a guard lives, then taking their
// course; untouched without a guard. Each row runs in a child process.
#include "romheader/termination.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>

namespace {

struct GuardRow {
    const char* name;
    int signal;
    bool guarded;
    bool ignoredBefore; // the program ignored the signal before the guard
    bool flagged;       // terminationRequested() saw it
    int endedBy;        // 0: the process carries on
};

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
            ::kill(::getpid(), row.signal);
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
        GuardRow{"sigint_in_guard_ends_after_it", SIGINT, true, false, true, SIGINT},
        GuardRow{"sighup_ignored_before_stays_ignored", SIGHUP, true, true, false, 0},
        GuardRow{"sigterm_without_guard_ends_at_once", SIGTERM, false, false, false, SIGTERM}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

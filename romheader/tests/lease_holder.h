// Another process holding a lease on a file, as a file server (an oplock or
// a delegation) or a sync tool does. Taking a lease needs CAP_LEASE or the
// file's ownership.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace kelvo::test {

// Forks a holder that takes a write lease on `path`, giving it up when the
// kernel asks for it (SIGIO) or, if `givesUp` is false, never; the holder
// ends after 30 s, before the kernel would break the lease itself (45 s).
// Returns its pid, or -1 where leases cannot be taken.
inline pid_t holdLease(const std::string& path, bool givesUp) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        ::alarm(30);
        static int leased = -1;
        leased = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (givesUp) {
            ::signal(SIGIO, [](int) {
                ::fcntl(leased, F_SETLEASE, F_UNLCK);
                ::_exit(0);
            });
        } else {
            ::signal(SIGIO, SIG_IGN);
        }
        const bool held = ::fcntl(leased, F_SETLEASE, F_WRLCK) == 0;
        if (::write(pipeFds[1], held ? "l" : "n", 1) != 1 || !held)
            ::_exit(2);
        for (;;)
            ::pause();
    }
    ::close(pipeFds[1]);
    char answer = 0;
    const bool held = ::read(pipeFds[0], &answer, 1) == 1 && answer == 'l';
    ::close(pipeFds[0]);
    if (!held && child > 0)
        ::waitpid(child, nullptr, 0);
    return held ? child : -1;
}

} // namespace kelvo::test

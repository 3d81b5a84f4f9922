// System calls that fail on demand. This test program defines the calls
// below itself, so the core's calls reach these definitions before the C
// library's (the linker prefers the program's own); each forwards to the C
// library's unless a test armed a fault for it.
#pragma once

#include <functional>
#include <string>

namespace kelvo::test {

// While alive, each call to `call` fails with `error` without being made:
// "renameat2", "link", "linkat", "write", "fsync", "copy_file_range",
// "O_TMPFILE" for an open that asks for an unnamed file, or "FICLONE" for
// the ioctl that clones a file. `before` runs first, at every failure, with
// the faults held off (so it may make the same call).
class SyscallFault {
public:
    SyscallFault(std::string call, int error, std::function<void()> before = {});
    ~SyscallFault();
    SyscallFault(const SyscallFault&) = delete;
    SyscallFault& operator=(const SyscallFault&) = delete;

    [[nodiscard]] const std::string& call() const { return call_; }
    // How many calls it failed.
    [[nodiscard]] int hits() const { return hits_; }
    // Counts the failure and runs `before`; returns the errno to fail with.
    int fail();

private:
    std::string call_;
    int error_;
    std::function<void()> before_;
    int hits_ = 0;
};

} // namespace kelvo::test

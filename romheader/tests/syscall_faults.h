// System calls that fail on demand. This test program defines the calls
// below itself, so the core's calls reach these definitions before the C
// library's (the linker prefers the program's own); each forwards to the C
// library's unless a test armed a fault for it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kelvo::test {

// While alive, each call to `call` fails with `error` without being made:
// "renameat2", "rename", "link", "linkat", "write", "fsync" (of a file),
// "fsync_directory", "copy_file_range", "O_TMPFILE" for an open that asks
// for an unnamed file, "open_directory" for an open with O_DIRECTORY,
// "FICLONE" for the ioctl that clones a file, or "flock". `before` runs first, at every
// failure, with the faults held off (so it may make the same call). An
// `error` of 0 fails nothing: the call is made after `before`.
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

// While alive, records in order each call that makes data durable or gives
// a file a name: "sync_file_range" (one that writes the data and waits for
// it; "sync_file_range without waiting" otherwise), "fsync" (of a file),
// "fsync_directory", "link", "linkat", "rename" and "renameat2".
class SyncLog {
public:
    SyncLog();
    ~SyncLog();
    SyncLog(const SyncLog&) = delete;
    SyncLog& operator=(const SyncLog&) = delete;

    [[nodiscard]] const std::vector<std::string>& calls() const { return calls_; }
    void note(const char* call) { calls_.emplace_back(call); }

private:
    std::vector<std::string> calls_;
};

} // namespace kelvo::test

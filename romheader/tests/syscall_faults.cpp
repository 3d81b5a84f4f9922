// The fault-injection seam: definitions of the system calls the core makes,
// each forwarding to the next definition (the C library's), found by dlsym,
// unless a fault is armed for it.
//
// glibc's fortified inline wrappers would clash with definitions of the same
// names, so this file goes without them.
#undef _FORTIFY_SOURCE
#include "romheader/tests/syscall_faults.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <vector>

namespace {

using kelvo::test::SyncLog;
using kelvo::test::SyscallFault;

std::vector<SyscallFault*> armed;
bool running = false; // a fault's `before` is running: nothing fails meanwhile
SyncLog* log = nullptr;

void note(const char* call) {
    if (log && !running)
        log->note(call);
}

// fsync of a directory is told apart from fsync of a file.
const char* fsyncName(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? "fsync_directory" : "fsync";
}

// The errno the armed fault for `call` fails it with, or 0 to make the call.
int failure(const char* call) {
    if (running)
        return 0;
    const auto it = std::find_if(armed.rbegin(), armed.rend(),
                                 [call](const SyscallFault* f) { return f->call() == call; });
    return it == armed.rend() ? 0 : (*it)->fail();
}

template <typename Function> Function* next(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

} // namespace

namespace kelvo::test {

SyscallFault::SyscallFault(std::string call, int error, std::function<void()> before)
    : call_(std::move(call)), error_(error), before_(std::move(before)) {
    armed.push_back(this);
}

SyscallFault::~SyscallFault() {
    armed.erase(std::find(armed.begin(), armed.end(), this));
}

SyncLog::SyncLog() {
    log = this;
}

SyncLog::~SyncLog() {
    log = nullptr;
}

int SyscallFault::fail() {
    ++hits_;
    if (before_) {
        running = true;
        before_();
        running = false;
    }
    return error_;
}

} // namespace kelvo::test

// Fails the call with the armed fault's errno.
#define KELVO_FAIL_IF_ARMED(call)                                                                  \
    if (const int error = failure(call)) {                                                         \
        errno = error;                                                                             \
        return -1;                                                                                 \
    }

namespace {

using OpenFunction = int(const char*, int, ...);

int openWithFaults(OpenFunction* real, const char* path, int flags, va_list args) {
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE)
        mode = va_arg(args, mode_t);
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        KELVO_FAIL_IF_ARMED("O_TMPFILE");
    } else if ((flags & O_DIRECTORY) != 0) {
        KELVO_FAIL_IF_ARMED("open_directory");
    }
    return real(path, flags, mode);
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    static auto* const real = next<OpenFunction>("open");
    va_list args;
    va_start(args, flags);
    const int fd = openWithFaults(real, path, flags, args);
    va_end(args);
    return fd;
}

int open64(const char* path, int flags, ...) {
    static auto* const real = next<OpenFunction>("open64");
    va_list args;
    va_start(args, flags);
    const int fd = openWithFaults(real, path, flags, args);
    va_end(args);
    return fd;
}

int renameat2(int oldDir, const char* oldPath, int newDir, const char* newPath,
              unsigned int flags) noexcept {
    note("renameat2");
    KELVO_FAIL_IF_ARMED("renameat2");
    static auto* const real = next<decltype(renameat2)>("renameat2");
    return real(oldDir, oldPath, newDir, newPath, flags);
}

int rename(const char* from, const char* to) noexcept {
    note("rename");
    KELVO_FAIL_IF_ARMED("rename");
    static auto* const real = next<decltype(rename)>("rename");
    return real(from, to);
}

int link(const char* from, const char* to) noexcept {
    note("link");
    KELVO_FAIL_IF_ARMED("link");
    static auto* const real = next<decltype(link)>("link");
    return real(from, to);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) noexcept {
    note("linkat");
    KELVO_FAIL_IF_ARMED("linkat");
    static auto* const real = next<decltype(linkat)>("linkat");
    return real(fromDir, from, toDir, to, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
    KELVO_FAIL_IF_ARMED("write");
    static auto* const real = next<decltype(write)>("write");
    return real(fd, data, size);
}

int fsync(int fd) {
    const char* const name = fsyncName(fd);
    note(name);
    KELVO_FAIL_IF_ARMED(name);
    static auto* const real = next<decltype(fsync)>("fsync");
    return real(fd);
}

int sync_file_range(int fd, off64_t offset, off64_t length, unsigned int flags) {
    constexpr unsigned int kWritten =
        SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER;
    note((flags & kWritten) == kWritten ? "sync_file_range" : "sync_file_range without waiting");
    static auto* const real = next<decltype(sync_file_range)>("sync_file_range");
    return real(fd, offset, length, flags);
}

ssize_t copy_file_range(int from, off64_t* fromOffset, int to, off64_t* toOffset, size_t size,
                        unsigned int flags) {
    KELVO_FAIL_IF_ARMED("copy_file_range");
    static auto* const real = next<decltype(copy_file_range)>("copy_file_range");
    return real(from, fromOffset, to, toOffset, size, flags);
}

int flock(int fd, int operation) noexcept {
    KELVO_FAIL_IF_ARMED("flock");
    static auto* const real = next<decltype(flock)>("flock");
    return real(fd, operation);
}

int ioctl(int fd, unsigned long request, ...) noexcept {
    if (request == FICLONE) {
        KELVO_FAIL_IF_ARMED("FICLONE");
    }
    // An ioctl takes at most one argument, an integer or a pointer; passed on
    // as a pointer it keeps its bits.
    va_list args;
    va_start(args, request);
    void* const argument = va_arg(args, void*);
    va_end(args);
    static auto* const real = next<int(int, unsigned long, ...)>("ioctl");
    return real(fd, request, argument);
}

} // extern "C"

#include "romheader/posixio.h"

#include "romheader/termination.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <system_error>
#include <utility>

namespace kelvo::posix {

namespace {

using Kind = FileError::Kind;

constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY;

WaitObserver* waitObserver = nullptr;

// One wait as the observer hears it: asked at each try, told the end once
// it was asked.
class ObservedWait {
public:
    explicit ObservedWait(const std::string& path) : path_(path) {}
    ~ObservedWait() {
        if (observer_)
            observer_->waitEnded();
    }
    ObservedWait(const ObservedWait&) = delete;
    ObservedWait& operator=(const ObservedWait&) = delete;

    [[nodiscard]] bool goOn() {
        if (!observer_)
            observer_ = waitObserver;
        return !observer_ || observer_->goOn(path_);
    }

private:
    const std::string& path_;
    WaitObserver* observer_ = nullptr;
};

// How long the kernel gives a lease holder before it breaks the lease itself.
std::chrono::seconds leaseBreakTime() {
    std::ifstream setting("/proc/sys/fs/lease-break-time");
    long seconds = 45;
    setting >> seconds;
    return std::chrono::seconds(std::max(seconds, 0L));
}

const char* fileTypeName(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "of an unknown type";
}

} // namespace

void throwSystem(const char* operation, const std::string& path, int code) {
    throw FileError(Kind::System, operation, path, std::generic_category().message(code), code);
}

void throwNotRegular(const char* operation, const std::string& path, mode_t mode) {
    throw FileError(Kind::NotRegular, operation, path,
                    std::string("Not a regular file but ") + fileTypeName(mode));
}

namespace {

// How a non-blocking open answers for a name that is not a plain file (a
// directory opened for writing, a FIFO nobody reads, a device without its
// driver) or for a regular file another process holds a lease on.
bool needsTheDescriptorRoute(int code) {
    return code == EAGAIN || code == EWOULDBLOCK || code == EISDIR || code == ENXIO ||
           code == ENODEV;
}

// Opens the file the handle `self` (a /proc/self/fd path) leads to, whose
// first open answered `code`, waiting out a lease: a non-blocking open starts
// the lease's break and answers EWOULDBLOCK while the holder keeps it, so it
// is tried again every few milliseconds, asking the observer whether to go
// on. The kernel breaks a lease itself after the lease-break time; what
// still refuses after that is no lease, and gets one blocking open, as it
// did before leases were waited out this way.
UniqueFd openWaitingOutLease(const std::string& self, int flags, const std::string& path,
                             int& code) {
    constexpr timespec kRetryDelay{0, 5'000'000};
    int tryFlags = (flags & ~(O_CREAT | O_EXCL)) | kOpenFlags | O_NONBLOCK;
    const auto giveUpAt =
        std::chrono::steady_clock::now() + leaseBreakTime() + std::chrono::seconds(1);
    ObservedWait wait(path);
    for (;;) {
        if (code == EWOULDBLOCK) {
            if (terminationRequested() || !wait.goOn())
                throw FileError(Kind::Cancelled, "open", path, "Cancelled");
            if (std::chrono::steady_clock::now() > giveUpAt)
                tryFlags &= ~O_NONBLOCK;
            else
                ::nanosleep(&kRetryDelay, nullptr);
        }
        UniqueFd fd(::open(self.c_str(), tryFlags));
        // Read before the observer runs: it may make calls of its own.
        code = errno;
        if (fd || code != EWOULDBLOCK)
            return fd;
    }
}

// Opens the name as a plain handle (O_PATH: no I/O, nothing waits, no device
// sees an open), refuses what is not a regular file, and reopens that very
// file through /proc/self/fd, waiting out a lease as cat's open would. The
// name itself is never opened for I/O here, so a FIFO swapped in after the
// first open cannot make it hang.
UniqueFd openThroughHandle(const std::string& path, int flags, struct stat& info, int firstCode) {
    const UniqueFd handle(::open(path.c_str(), O_PATH | O_CLOEXEC | (flags & O_NOFOLLOW)));
    if (!handle)
        throwSystem("open", path, errno);
    if (::fstat(handle.get(), &info) != 0)
        throwSystem("open", path, errno);
    if (!S_ISREG(info.st_mode))
        throwNotRegular("open", path, info.st_mode);
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL))
        throwSystem("open", path, EEXIST);
    const std::string self = "/proc/self/fd/" + std::to_string(handle.get());
    int code = firstCode;
    UniqueFd fd = openWaitingOutLease(self, flags, path, code);
    // Without /proc there is no way to reopen the handle; report what the
    // first open met.
    if (!fd)
        throwSystem("open", path, code == ENOENT ? firstCode : code);
    return fd;
}

} // namespace

// The usual case costs one open: O_NONBLOCK makes opening a FIFO or a device
// return at once, and fstat on the open descriptor refuses anything but a
// regular file before a byte moves. The flag stays on that descriptor:
// regular files ignore it, and the odd "regular" file that could block (in
// /proc, on FUSE) answers EAGAIN instead. What that open cannot settle (a lease, a name that cannot
// be opened as asked) takes the route through a handle.
UniqueFd openRegular(const std::string& path, int flags, struct stat& info, mode_t mode) {
    UniqueFd fd(::open(path.c_str(), flags | kOpenFlags | O_NONBLOCK, mode));
    if (!fd) {
        const int code = errno;
        if (!needsTheDescriptorRoute(code))
            throwSystem("open", path, code);
        fd = openThroughHandle(path, flags, info, code);
    }
    if (::fstat(fd.get(), &info) != 0)
        throwSystem("open", path, errno);
    if (!S_ISREG(info.st_mode))
        throwNotRegular("open", path, info.st_mode);
    return fd;
}

std::size_t readAt(int fd, std::span<std::uint8_t> buffer, off_t offset, const std::string& path) {
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done,
                                  offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throwSystem("read", path, errno);
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

void writeAt(int fd, std::span<const std::uint8_t> bytes, off_t offset, const std::string& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throwSystem("write", path, n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
}

HeaderBytes readWholeHeader(int fd, const struct stat& info, const char* operation,
                            const std::string& path) {
    const auto refuseShort = [&](std::int64_t length) {
        throw FileError(Kind::TooShort, operation, path,
                        "Only " + std::to_string(length) + " bytes long, shorter than a header (" +
                            std::to_string(kMinWritableLength) + " bytes)");
    };
    if (info.st_size < kMinWritableLength)
        refuseShort(info.st_size);
    HeaderBytes bytes{};
    if (const std::size_t n = readAt(fd, bytes, 0, path); n < bytes.size())
        refuseShort(static_cast<std::int64_t>(n)); // it shrank meanwhile
    return bytes;
}

FileIdentity identityOf(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

void refuseIfReplaced(const struct stat& info, const FileIdentity* expected, const char* operation,
                      const std::string& path) {
    if (expected && *expected != identityOf(info))
        throw FileError(Kind::Changed, operation, path,
                        "It was replaced by another file since its header was shown");
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncDirectory(const std::string& directoryPath, const std::string& madePath) {
    const UniqueFd directory(::open(directoryPath.empty() ? "." : directoryPath.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory)
        throwSystem("open the directory holding", madePath, errno);
    // EINVAL: this file system has no way to sync a directory (its names are
    // written with the file, or never cached).
    if (::fsync(directory.get()) != 0 && errno != EINVAL)
        throwSystem("sync the directory holding", madePath, errno);
}

} // namespace kelvo::posix

namespace kelvo {

WaitObserver* setWaitObserver(WaitObserver* observer) {
    return std::exchange(posix::waitObserver, observer);
}

} // namespace kelvo

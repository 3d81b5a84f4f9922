#include "romheader/posixio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace kelvo::posix {

namespace {

using Kind = FileError::Kind;

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

// O_NONBLOCK makes opening a FIFO or a device return at once (it changes
// nothing for regular files); fstat on the open descriptor then refuses
// anything else before a byte moves.
UniqueFd openRegular(const std::string& path, int flags, struct stat& info, mode_t mode) {
    UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode));
    if (!fd) {
        const int code = errno;
        // Opening a directory for writing, or a FIFO nobody reads, fails with
        // a reason that hides what the path names.
        struct stat seen {};
        if ((code == EISDIR || code == ENXIO || code == ENODEV) &&
            ::stat(path.c_str(), &seen) == 0 && !S_ISREG(seen.st_mode))
            throwNotRegular("open", path, seen.st_mode);
        throwSystem("open", path, code);
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

int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

void syncDirectory(const std::string& directoryPath) {
    const UniqueFd directory(::open(directoryPath.empty() ? "." : directoryPath.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory)
        ::fsync(directory.get());
}

} // namespace kelvo::posix

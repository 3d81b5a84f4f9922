// File operations on images and the list file. Each is a short run of POSIX
// calls on one open descriptor; any failing call becomes one FileError that
// names the operation, the path and the system's reason.
#include "romheader/romheader.h"
#include "romheader/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace kelvo {

namespace {

using Kind = FileError::Kind;

constexpr std::size_t kCopyChunk = 1 << 20;

std::string errorMessage(const std::string& operation, const std::string& path,
                         const std::string& reason) {
    return "Cannot " + operation + " \"" + path + "\": " + reason;
}

[[noreturn]] void throwSystem(const char* operation, const std::string& path, int code) {
    throw FileError(Kind::System, operation, path, std::generic_category().message(code), code);
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

[[noreturn]] void throwNotRegular(const char* operation, const std::string& path, mode_t mode) {
    throw FileError(Kind::NotRegular, operation, path,
                    std::string("Not a regular file but ") + fileTypeName(mode));
}

// Opens a regular file or a link to one. O_NONBLOCK makes opening a FIFO or a
// device return at once (it changes nothing for regular files); fstat on the
// open descriptor then refuses anything else before a byte moves.
UniqueFd openRegular(const std::string& path, int flags, struct stat& info, mode_t mode = 0) {
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

// Reads up to buffer.size() bytes at `offset`; fewer only at the end of the file.
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

// Writes all bytes at the descriptor's position; returns 0 or the errno of
// the failing write.
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

// copy_file_range lets the kernel copy (or share) the blocks; across file
// systems or on older kernels it refuses, and plain reads and writes go on
// from where it stopped.
void copyContents(int from, int to, const std::string& sourcePath, const std::string& target) {
    for (;;) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, kCopyChunk, 0);
        if (n > 0)
            continue;
        if (n == 0)
            break; // the end, or a file system that copies nothing this way
        if (errno == EINTR)
            continue;
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break;
        throwSystem("copy to", target, errno);
    }
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throwSystem("read", sourcePath, errno);
        if (n == 0)
            return;
        if (const int code = writeAll(to, buffer.data(), static_cast<std::size_t>(n)))
            throwSystem("copy to", target, code);
    }
}

// The copy in progress: a hidden file beside the target that becomes the
// target only when complete. Until then the destructor removes it, so a
// failure at any step leaves nothing behind.
class PendingCopy {
public:
    PendingCopy(const std::string& directoryPath, const std::string& target)
        : path_(joinPath(directoryPath, ".kelvo-XXXXXX.tmp")) {
        fd_ = UniqueFd(::mkostemps(path_.data(), 4, O_CLOEXEC));
        if (!fd_)
            throwSystem("copy to", target, errno);
    }
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;
    ~PendingCopy() {
        if (!path_.empty())
            ::unlink(path_.c_str());
    }

    [[nodiscard]] int fd() const { return fd_.get(); }
    [[nodiscard]] const char* path() const { return path_.c_str(); }
    [[nodiscard]] int close() { return fd_.close(); }
    void keep() { path_.clear(); }

private:
    std::string path_;
    UniqueFd fd_;
};

[[noreturn]] void throwAlreadyExists(const std::string& target) {
    throw FileError(Kind::AlreadyExists, "copy to", target, "A file of this name already exists",
                    EEXIST);
}

// Gives the finished copy the target's name without replacing a file that
// appeared there meanwhile: an exclusive rename, or else a hard link, both of
// which fail when the name is taken.
void publishExclusive(PendingCopy& copy, const std::string& target) {
    if (::renameat2(AT_FDCWD, copy.path(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        copy.keep();
        return;
    }
    int code = errno;
    if (code == EINVAL || code == ENOSYS || code == EOPNOTSUPP) {
        if (::link(copy.path(), target.c_str()) == 0)
            return; // the target holds the data; PendingCopy drops the hidden name
        code = errno;
        if (code == EPERM || code == EOPNOTSUPP) {
            // No hard links either (FAT): check, then rename.
            struct stat seen {};
            if (::lstat(target.c_str(), &seen) == 0)
                throwAlreadyExists(target);
            if (::rename(copy.path(), target.c_str()) == 0) {
                copy.keep();
                return;
            }
            code = errno;
        }
    }
    if (code == EEXIST)
        throwAlreadyExists(target);
    throwSystem("copy to", target, code);
}

// Opens a file for appending, creating it when missing; `created` tells
// whether this call made it, so a failed first write can take it away again.
UniqueFd openForAppend(const std::string& path, struct stat& info, bool& created) {
    constexpr int kAppend = O_WRONLY | O_APPEND;
    created = false;
    try {
        return openRegular(path, kAppend, info);
    } catch (const FileError& error) {
        if (error.code() != ENOENT)
            throw;
    }
    try {
        UniqueFd fd = openRegular(path, kAppend | O_CREAT | O_EXCL, info, 0666);
        created = true;
        return fd;
    } catch (const FileError& error) {
        // Made meanwhile, or a dangling link, whose target O_EXCL never creates.
        if (error.code() != EEXIST)
            throw;
    }
    return openRegular(path, kAppend | O_CREAT, info, 0666);
}

// Makes the new name itself durable; the data already is. Best effort: not
// every file system can sync a directory.
void syncDirectory(const std::string& directoryPath) {
    const UniqueFd directory(::open(directoryPath.empty() ? "." : directoryPath.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory)
        ::fsync(directory.get());
}

} // namespace

FileError::FileError(Kind kind, std::string operation, std::string path, std::string reason,
                     int code)
    : std::runtime_error(errorMessage(operation, path, reason)), kind_(kind),
      operation_(std::move(operation)), path_(std::move(path)), reason_(std::move(reason)),
      code_(code) {}

std::string joinPath(std::string_view directoryPath, std::string_view name) {
    std::string path(directoryPath);
    // '/' ends a Windows path too; on POSIX the two tests are the same.
    if (!path.empty() && path.back() != kDirSeparator && path.back() != '/')
        path += kDirSeparator;
    path += name;
    return path;
}

std::int64_t imageLength(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throwSystem("measure", path, errno);
    if (!S_ISREG(info.st_mode))
        throwNotRegular("measure", path, info.st_mode);
    return info.st_size;
}

void readHeader(const std::string& path, RomHeader& header) {
    struct stat info {};
    const UniqueFd fd = openRegular(path, O_RDONLY, info);

    // Whatever lies past the end of a short image stays NUL.
    std::array<std::uint8_t, kHeaderReadLength> bytes{};
    readAt(fd.get(), bytes, kHeaderReadOffset, path);
    const auto at = [&bytes](std::size_t offset) {
        return bytes.begin() + (offset - kHeaderReadOffset);
    };

    RomHeader read;
    std::copy_n(at(kTitleOffset), kTitleWidth, read.title.begin());
    read.gameType = *at(kGameTypeOffset);
    std::copy_n(at(kCartIdOffset), kCartIdWidth, read.cartId.begin());
    read.territory = *at(kTerritoryOffset);
    std::copy_n(at(kMakerOffset), kMakerWidth, read.makerCode.begin());
    read.sizeBytes = info.st_size;
    read.sizeMbit = megabitsFromBytes(info.st_size);
    read.storedCheck = *at(kCheckOffset);
    read.computedCheck = headerCheck(std::span(bytes).first<kCheckOffset - kTitleOffset>());
    header = read;
}

void writeTitle(const std::string& path, const TitleBytes& editTitle) {
    // No O_CREAT and no O_TRUNC: an image that vanished stays gone, and no
    // byte outside the header changes.
    struct stat info {};
    UniqueFd fd = openRegular(path, O_RDWR, info);

    const auto refuseShort = [&path](std::int64_t length) {
        throw FileError(Kind::TooShort, "write", path,
                        "Only " + std::to_string(length) + " bytes long, shorter than a header (" +
                            std::to_string(kMinWritableLength) + " bytes)");
    };
    if (info.st_size < kMinWritableLength)
        refuseShort(info.st_size);
    std::array<std::uint8_t, kHeaderReadLength> bytes{};
    if (const std::size_t n = readAt(fd.get(), bytes, kHeaderReadOffset, path); n < bytes.size())
        refuseShort(static_cast<std::int64_t>(kHeaderReadOffset + n)); // it shrank meanwhile

    // The console refuses a cartridge whose check byte is wrong, so a valid
    // check stays valid; a wrong one may mean this is no cartridge at all.
    const auto checked = std::span(bytes).first<kCheckOffset - kTitleOffset>();
    const bool checkWasValid = bytes.back() == headerCheck(checked);
    std::copy(editTitle.begin(), editTitle.end(), bytes.begin());
    std::span<const std::uint8_t> changed = std::span(bytes).first(kTitleWidth);
    if (checkWasValid) {
        bytes.back() = headerCheck(checked);
        changed = bytes;
    }
    writeAt(fd.get(), changed, kTitleOffset, path);
    if (::fsync(fd.get()) != 0 || fd.close() != 0)
        throwSystem("write", path, errno);
}

std::string copyToTitle(const std::string& sourcePath, const std::string& directoryPath,
                        std::string_view titleText, Overwrite overwrite) {
    std::string target = joinPath(directoryPath, std::string(titleText) + ".gba");
    // A title comes from an untrusted image: it must not steer the copy
    // into another directory or onto a name the file systems refuse.
    if (const auto problem = titleNameProblem(titleText))
        throw FileError(Kind::InvalidName, "copy to", target, *problem);

    struct stat sourceInfo {};
    const UniqueFd source = openRegular(sourcePath, O_RDONLY, sourceInfo);

    // stat follows links, so a link to the source or a hard link to it is
    // the same device and inode.
    struct stat targetInfo {};
    if (::stat(target.c_str(), &targetInfo) == 0) {
        if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino)
            throw FileError(Kind::SameFile, "copy to", target, "It is the source file itself");
        if (!S_ISREG(targetInfo.st_mode))
            throwNotRegular("copy to", target, targetInfo.st_mode);
        if (overwrite == Overwrite::Refuse)
            throwAlreadyExists(target);
    } else if (errno != ENOENT) {
        throwSystem("copy to", target, errno);
    }

    PendingCopy copy(directoryPath, target);
    copyContents(source.get(), copy.fd(), sourcePath, target);
    // The copy keeps the source's permission bits, not its owner, set-id
    // bits or timestamps: it is a new file made now.
    if (::fchmod(copy.fd(), sourceInfo.st_mode & 0777) != 0 || ::fsync(copy.fd()) != 0 ||
        copy.close() != 0)
        throwSystem("copy to", target, errno);

    if (overwrite == Overwrite::Replace) {
        if (::rename(copy.path(), target.c_str()) != 0)
            throwSystem("copy to", target, errno);
        copy.keep();
    } else {
        publishExclusive(copy, target);
    }
    syncDirectory(directoryPath);
    return target;
}

void appendToFile(const std::string& path, std::string_view data) {
    struct stat info {};
    bool created = false;
    UniqueFd fd = openForAppend(path, info, created);

    // One write normally takes all of it. If anything fails, a file made here
    // is removed and an older one cut back to its old length, so no partial
    // line and no empty list is left behind.
    int code = writeAll(fd.get(), data.data(), data.size());
    if (code == 0 && ::fsync(fd.get()) != 0)
        code = errno;
    if (code != 0) {
        if (created ? ::unlink(path.c_str()) != 0 : ::ftruncate(fd.get(), info.st_size) != 0) {
            // The failed write's reason is the one worth reporting.
        }
        throwSystem("append to", path, code);
    }
    if (fd.close() != 0)
        throwSystem("append to", path, errno);
}

} // namespace kelvo

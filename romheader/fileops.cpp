// File operations on images and the list file. Each is a short run of POSIX
// calls on one open descriptor; any failing call becomes one FileError that
// names the operation, the path and the system's reason.
#include "romheader/posixio.h"
#include "romheader/romheader.h"
#include "romheader/termination.h"

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
using namespace posix;

constexpr std::size_t kCopyChunk = 1 << 20;

// Asks `progress` and looks for a termination signal between chunks; either
// stops the copy, and the unwinding removes what it wrote.
void checkpoint(const Progress& progress, std::uint64_t done, std::uint64_t total,
                const std::string& target) {
    if (terminationRequested() || (progress && !progress(done, total)))
        throw FileError(Kind::Cancelled, "copy to", target, "Cancelled");
}

// copy_file_range lets the kernel copy (or share) the blocks; across file
// systems or on older kernels it refuses, and plain reads and writes go on
// from where it stopped.
void copyContents(int from, int to, std::uint64_t total, const std::string& sourcePath,
                  const std::string& target, const Progress& progress) {
    std::uint64_t done = 0;
    checkpoint(progress, done, total, target);
    for (;;) {
        const ssize_t n = ::copy_file_range(from, nullptr, to, nullptr, kCopyChunk, 0);
        if (n > 0) {
            done += static_cast<std::uint64_t>(n);
            checkpoint(progress, done, total, target);
            continue;
        }
        if (n == 0)
            break; // the end, or a file system that copies nothing this way
        if (errno == EINTR) {
            checkpoint(progress, done, total, target);
            continue;
        }
        if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)
            break;
        throwSystem("copy to", target, errno);
    }
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            checkpoint(progress, done, total, target);
            continue;
        }
        if (n < 0)
            throwSystem("read", sourcePath, errno);
        if (n == 0)
            return;
        if (const int code = writeAll(to, buffer.data(), static_cast<std::size_t>(n)))
            throwSystem("copy to", target, code);
        done += static_cast<std::uint64_t>(n);
        checkpoint(progress, done, total, target);
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

std::string errorMessage(const std::string& operation, const std::string& path,
                         const std::string& reason) {
    return "Cannot " + operation + " \"" + path + "\": " + reason;
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
    RomHeader read;
    readAt(fd.get(), read.bytes, 0, path);
    const auto at = [&read](std::size_t offset) { return read.bytes.begin() + offset; };
    std::copy_n(at(kTitleOffset), kTitleWidth, read.title.begin());
    read.gameType = *at(kGameTypeOffset);
    std::copy_n(at(kCartIdOffset), kCartIdWidth, read.cartId.begin());
    read.territory = *at(kTerritoryOffset);
    std::copy_n(at(kMakerOffset), kMakerWidth, read.makerCode.begin());
    read.sizeBytes = info.st_size;
    read.sizeMbit = megabitsFromBytes(info.st_size);
    read.storedCheck = *at(kCheckOffset);
    read.computedCheck = headerCheck(std::span(read.bytes).subspan<kTitleOffset, kCheckedLength>());
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
    HeaderBytes bytes{};
    if (const std::size_t n = readAt(fd.get(), bytes, 0, path); n < bytes.size())
        refuseShort(static_cast<std::int64_t>(n)); // it shrank meanwhile

    // The console refuses a cartridge whose check byte is wrong, so a valid
    // check stays valid; a wrong one may mean this is no cartridge at all.
    const auto checked = std::span(bytes).subspan<kTitleOffset, kCheckedLength>();
    const bool checkWasValid = bytes[kCheckOffset] == headerCheck(checked);
    std::copy(editTitle.begin(), editTitle.end(), bytes.begin() + kTitleOffset);
    std::size_t changedLength = kTitleWidth;
    if (checkWasValid) {
        bytes[kCheckOffset] = headerCheck(checked);
        changedLength = kCheckOffset + 1 - kTitleOffset;
    }
    writeAt(fd.get(), std::span(bytes).subspan(kTitleOffset, changedLength), kTitleOffset, path);
    if (::fsync(fd.get()) != 0 || fd.close() != 0)
        throwSystem("write", path, errno);
}

std::string copyToTitle(const std::string& sourcePath, const std::string& directoryPath,
                        std::string_view titleText, Overwrite overwrite,
                        const Progress& progress) {
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
    copyContents(source.get(), copy.fd(), static_cast<std::uint64_t>(sourceInfo.st_size),
                 sourcePath, target, progress);
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

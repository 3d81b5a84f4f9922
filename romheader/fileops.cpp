// File operations on images and the list file. Each is a short run of POSIX
// calls on one open descriptor; any failing call becomes one FileError that
// names the operation, the path and the system's reason.
#include "romheader/posixio.h"
#include "romheader/romheader.h"
#include "romheader/termination.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace kelvo {

namespace {

using Kind = FileError::Kind;
using namespace posix;

// The list file, open for appending and locked against other writers that
// lock. `created` names the file this press made (the list file, or the
// missing target of a dangling link to it), so a failed press can remove it.
struct LockedList {
    UniqueFd fd;
    struct stat info {};
    std::string created;
};

// The name an open with O_CREAT would create for `path`: the path itself, or
// the missing name a chain of symbolic links starting there ends at.
std::string nameToCreate(const std::string& path) {
    std::string name = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat seen {};
        if (::lstat(name.c_str(), &seen) != 0 || !S_ISLNK(seen.st_mode))
            return name;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(name.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) == sizeof target)
            return name;
        const std::size_t slash = name.rfind('/');
        name = (target[0] == '/' || slash == std::string::npos ? std::string()
                                                               : name.substr(0, slash + 1)) +
               std::string(target, static_cast<std::size_t>(n));
    }
    return name; // a loop: the open reports it
}

// Waits for the advisory lock other instances take too, without blocking:
// between tries `progress` hears (0, 0) and may stop the wait, as may a
// termination signal. A file system without locks (some network and FUSE
// ones) goes on without.
void lockForAppend(int fd, const std::string& path, const Progress& progress) {
    constexpr timespec kRetryDelay{0, 20'000'000};
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        if (code == ENOLCK || code == EOPNOTSUPP || code == EINVAL)
            return;
        if (code != EWOULDBLOCK && code != EINTR)
            throwSystem("append to", path, code);
        if ((progress && !progress(0, 0)) || terminationRequested())
            // Not locked, so the file may be another writer's by now: a file
            // this press created stays.
            throw FileError(Kind::Cancelled, "append to", path, "Cancelled");
        ::nanosleep(&kRetryDelay, nullptr);
    }
}

LockedList openLockedForAppend(const std::string& path, const Progress& progress) {
    constexpr int kAppend = O_WRONLY | O_APPEND;
    for (int attempt = 0;; ++attempt) {
        LockedList list;
        try {
            list.fd = openRegular(path, kAppend, list.info);
        } catch (const FileError& error) {
            if (error.code() != ENOENT)
                throw;
            // O_EXCL never follows a link, so the link's target is created
            // by name, and this press knows it made it.
            list.created = nameToCreate(path);
            try {
                list.fd = openRegular(list.created, kAppend | O_CREAT | O_EXCL, list.info, 0666);
            } catch (const FileError& error) {
                if (error.code() != EEXIST || attempt == 8)
                    throw;
                continue; // made meanwhile
            }
        }
        lockForAppend(list.fd.get(), path, progress);
        if (::fstat(list.fd.get(), &list.info) != 0)
            throwSystem("append to", path, errno);
        // A press that failed while this one waited may have removed the
        // file; appending to it would lose the lines.
        if (list.info.st_nlink > 0)
            return list;
    }
}

// Takes a failed press back, under the lock: its bytes are cut away, or the
// file it created removed, but only while the file still ends where its
// write ended, so lines another writer appended since are never lost.
// Writers that take no lock (a shell's >>) can still slip in between this
// check and the cut; nothing closes that instant.
void takeBack(const LockedList& list, off_t start, off_t end, bool onlyOurs) {
    struct stat now {};
    if (!onlyOurs || ::fstat(list.fd.get(), &now) != 0 || now.st_size != end)
        return;
    struct stat named {};
    if (!list.created.empty() && start == 0 && ::lstat(list.created.c_str(), &named) == 0 &&
        named.st_dev == now.st_dev && named.st_ino == now.st_ino &&
        ::unlink(list.created.c_str()) == 0)
        return;
    if (::ftruncate(list.fd.get(), start) != 0) {
        // The failed write's reason is the one worth reporting.
    }
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

std::optional<FileIdentity> fileIdentity(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return identityOf(info);
}

std::int64_t imageLength(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throwSystem("measure", path, errno);
    if (!S_ISREG(info.st_mode))
        throwNotRegular("measure", path, info.st_mode);
    return info.st_size;
}

namespace {

// Fills every field of `read` from the header's bytes and the open file's status.
void fillHeader(RomHeader& read, const HeaderBytes& bytes, const struct stat& info) {
    read.bytes = bytes;
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
    read.identity = identityOf(info);
}

RomHeader headerOf(const HeaderBytes& bytes, const struct stat& info) {
    RomHeader read;
    fillHeader(read, bytes, info);
    return read;
}

} // namespace

void readHeader(const std::string& path, RomHeader& header) {
    struct stat info {};
    const UniqueFd fd = openRegular(path, O_RDONLY, info);

    // Whatever lies past the end of a short image stays NUL.
    HeaderBytes bytes{};
    readAt(fd.get(), bytes, 0, path);
    fillHeader(header, bytes, info); // nothing fails past here: a failed read leaves it as it was
}

TitleWritten writeTitle(const std::string& path, const TitleBytes& editTitle,
                        const FileIdentity* expected) {
    // No O_CREAT and no O_TRUNC: an image that vanished stays gone, and no
    // byte outside the header changes.
    struct stat info {};
    UniqueFd fd = openRegular(path, O_RDWR, info);
    refuseIfReplaced(info, expected, "write", path);
    HeaderBytes bytes = readWholeHeader(fd.get(), info, "write", path);

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
    // The bytes just written are the header on disk now: a new title can
    // make a wrong check byte right.
    return {checkWasValid, headerOf(bytes, info)};
}

void appendToFile(const std::string& path, std::string_view data, const Progress& progress) {
    // A termination signal ends the program after the append or its undoing.
    const TerminationGuard guard;
    LockedList list = openLockedForAppend(path, progress);

    // One write normally takes all of it. With O_APPEND each write lands at
    // the end of the file; the position after it shows whether it followed
    // this press's previous bytes or another writer's.
    const off_t start = list.info.st_size;
    off_t end = start;
    bool onlyOurs = true;
    int code = 0;
    for (std::size_t done = 0; done < data.size();) {
        const ssize_t n = ::write(list.fd.get(), data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            code = n < 0 ? errno : EIO;
            break;
        }
        done += static_cast<std::size_t>(n);
        const off_t at = ::lseek(list.fd.get(), 0, SEEK_CUR);
        onlyOurs = onlyOurs && at - n == end;
        end = at;
    }
    if (code == 0 && ::fsync(list.fd.get()) != 0)
        code = errno;
    if (code != 0) {
        takeBack(list, start, end, onlyOurs);
        throwSystem("append to", path, code);
    }
    // A file this press created is durable only once its name is.
    if (!list.created.empty()) {
        try {
            syncDirectory(parentOf(list.created), list.created);
        } catch (const FileError&) {
            takeBack(list, start, end, onlyOurs);
            throw;
        }
    }
    if (list.fd.close() != 0)
        throwSystem("append to", path, errno);
}

} // namespace kelvo

// "Rename File To ROM Title": the image copied to its title's name. The copy
// is cloned where the file system shares blocks, else copied extent by
// extent with its holes kept, into a file that gets the target's name only
// when complete and on disk. A failure, a cancel or a termination signal
// leaves nothing behind and an existing target as it was; what a kill leaves
// (see partialfile.h) the next copy into that directory removes.
#include "romheader/partialfile.h"
#include "romheader/posixio.h"
#include "romheader/romheader.h"
#include "romheader/termination.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace kelvo {

namespace {

using Kind = FileError::Kind;
using namespace posix;

// The most copied between two looks at progress and termination signals.
constexpr off_t kCopyChunk = off_t{4} << 20;
constexpr off_t kProbeChunk = off_t{64} << 10;

// Answers meaning "this file system (or kernel) cannot do that here", as
// opposed to a failure of the operation itself: the caller tries the next way.
bool unsupportedHere(int code) {
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP || code == ENOTSUP ||
           code == EPERM || code == ENOTTY || code == EXDEV;
}

[[noreturn]] void throwAlreadyExists(const std::string& target) {
    throw FileError(Kind::AlreadyExists, "copy to", target, "A file of this name already exists",
                    EEXIST);
}

// The copy being written. Where the file system can (O_TMPFILE), it is a file
// without a name in the target's directory: nothing of it can stay behind,
// whatever ends the program. Elsewhere (FAT and exFAT cards) it is a hidden
// partial file (see partialfile.h), removed by the destructor unless it
// became the target, and by a later copy's sweep if a kill left it. Either
// way it is created with the source's permission bits, which the kernel
// masks with the umask (or the directory's default ACL), as for cp.
class PendingCopy {
public:
    PendingCopy(const std::string& directoryPath, const std::string& target, mode_t mode)
        : directory_(directoryPath), target_(target) {
        fd_ = UniqueFd(::open(directory_.empty() ? "." : directory_.c_str(),
                              O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
        if (fd_)
            return;
        // An old kernel takes O_TMPFILE for a directory opened for writing.
        if (const int code = errno; !unsupportedHere(code) && code != EISDIR)
            throwSystem("copy to", target_, code);
        fd_ = createPartial(directory_, mode, hidden_, lock_, "copy to", target_);
    }
    PendingCopy(const PendingCopy&) = delete;
    PendingCopy& operator=(const PendingCopy&) = delete;
    ~PendingCopy() {
        if (!hidden_.empty())
            ::unlink(hidden_.c_str());
    }

    [[nodiscard]] int fd() const { return fd_.get(); }

    // Puts the data on disk before the copy gets a name. A named copy (FAT,
    // no O_TMPFILE) is synced and closed, since a failing close can be the
    // first sign of lost data. An unnamed one has its data written and
    // waited for, which allocates its blocks and sets its length; the one
    // fsync after it is linked in then commits all of it together with the
    // name, and a journal never records the name without what came before.
    void sync() {
        const bool written =
            hidden_.empty()
                ? ::sync_file_range(fd_.get(), 0, 0,
                                    SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                        SYNC_FILE_RANGE_WAIT_AFTER) == 0
                : ::fsync(fd_.get()) == 0 && fd_.close() == 0;
        if (!written)
            throwSystem("copy to", target_, errno);
    }

    // After publish(): makes the unnamed copy's data and name durable.
    void syncPublished() {
        if (fd_ && (::fsync(fd_.get()) != 0 || fd_.close() != 0))
            throwSystem("copy to", target_, errno);
    }

    // Gives the finished copy the target's name: never over an existing file
    // with Overwrite::Refuse, atomically over it with Overwrite::Replace.
    void publish(Overwrite overwrite) {
        if (hidden_.empty()) {
            if (overwrite == Overwrite::Refuse) {
                // linkat refuses a name that exists, so a file made there
                // meanwhile is never replaced.
                const int code = linkAs(target_);
                if (code == EEXIST)
                    throwAlreadyExists(target_);
                if (code != 0)
                    throwSystem("copy to", target_, code);
                return;
            }
            // rename replaces atomically but needs a name to move: a hidden
            // one that lives only for this instant, locked as a partial file
            // (the descriptor holding the lock stays open past the rename).
            (void)lockPartial(fd_.get());
            for (int attempt = 0; hidden_.empty(); ++attempt) {
                const std::string name = newPartialName(directory_);
                if (const int code = linkAs(name)) {
                    if (code != EEXIST || attempt == 100)
                        throwSystem("copy to", target_, code);
                } else {
                    hidden_ = name;
                }
            }
        }
        if (overwrite == Overwrite::Replace) {
            if (::rename(hidden_.c_str(), target_.c_str()) != 0)
                throwSystem("copy to", target_, errno);
            hidden_.clear();
            return;
        }
        publishExclusive();
    }

private:
    // Links the unnamed file in as `name`; 0 or the errno of the refusal.
    [[nodiscard]] int linkAs(const std::string& name) const {
        const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        const int code = errno;
        // Without /proc, AT_EMPTY_PATH does the same for a process allowed to use it.
        if (code == ENOENT && ::linkat(fd_.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)
            return 0;
        return code;
    }

    // The hidden file becomes the target unless the name is taken: an
    // exclusive rename, else a hard link; each fails when the name exists.
    void publishExclusive() {
        if (::renameat2(AT_FDCWD, hidden_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) ==
            0) {
            hidden_.clear();
            return;
        }
        int code = errno;
        if (unsupportedHere(code)) {
            if (::link(hidden_.c_str(), target_.c_str()) == 0)
                return; // the destructor drops the hidden name
            code = errno;
        }
        if (unsupportedHere(code)) {
            // Neither (FAT; exFAT through FUSE answers ENOSYS): look, then
            // rename. Only here could a file made between the two be replaced.
            struct stat seen {};
            if (::lstat(target_.c_str(), &seen) == 0)
                throwAlreadyExists(target_);
            if (::rename(hidden_.c_str(), target_.c_str()) == 0) {
                hidden_.clear();
                return;
            }
            code = errno;
        }
        if (code == EEXIST)
            throwAlreadyExists(target_);
        throwSystem("copy to", target_, code);
    }

    std::string directory_;
    std::string target_;
    UniqueFd fd_;
    std::string hidden_; // the copy's hidden name while it has one
    UniqueFd lock_;      // holds a created partial file's lock once fd_ is closed
};

// Moves the source's bytes into the pending copy, asking `progress` and
// looking for a termination signal at least every kCopyChunk bytes and
// between extents; either stops it, and the unwinding removes the copy.
class ContentCopy {
public:
    ContentCopy(int from, int to, off_t length, const std::string& sourcePath,
                const std::string& target, const Progress& progress)
        : from_(from), to_(to), length_(length), sourcePath_(sourcePath), target_(target),
          progress_(progress) {}

    void run() {
        checkpoint(0);
        // A clone shares the blocks (btrfs, XFS): no data moves at all.
        if (::ioctl(to_, FICLONE, from_) == 0) {
            checkpoint(length_);
            copyToTheEnd();
            return;
        }
        // Only the data extents are copied, so holes stay holes.
        for (off_t offset = 0; offset < length_;) {
            off_t data = ::lseek(from_, offset, SEEK_DATA);
            if (data < 0 && errno == ENXIO)
                break; // a hole up to the end
            if (data < 0)
                data = offset; // no hole information here: all of it is data
            off_t hole = ::lseek(from_, data, SEEK_HOLE);
            if (hole < 0 || hole > length_)
                hole = length_;
            if (data >= hole)
                break;
            checkpoint(data);
            offset = copyRange(data, hole);
            if (offset < hole)
                length_ = offset; // the source got shorter meanwhile
        }
        // A trailing hole is only a length.
        if (::ftruncate(to_, length_) != 0)
            throwSystem("copy to", target_, errno);
        checkpoint(length_);
        copyToTheEnd();
    }

private:
    // The size the file system gave can fall short of what the file holds: a
    // file in /proc or /sys says 0, some FUSE files say less, and a file may
    // grow while it is copied. Like cp, the copy reads on until the end.
    void copyToTheEnd() {
        // copy_file_range answers 0 at once for such files; plain reads do not.
        kernelCopies_ = false;
        // Nearly every file ends where its size says, so the first read is
        // small: a full chunk's buffer costs more to clear than the copy of
        // a sparse image takes.
        for (off_t chunk = kProbeChunk;; chunk = kCopyChunk) {
            const ssize_t n = copyChunk(length_, chunk);
            if (n == 0)
                return;
            if (n > 0)
                length_ += n;
            checkpoint(length_);
        }
    }

    void checkpoint(off_t done) const {
        const auto total = static_cast<std::uint64_t>(length_);
        if ((progress_ && !progress_(static_cast<std::uint64_t>(done), total)) ||
            terminationRequested())
            throw FileError(Kind::Cancelled, "copy to", target_, "Cancelled");
    }

    // Copies [begin, end); returns where it stopped, before `end` only when
    // the source ended there.
    off_t copyRange(off_t begin, off_t end) {
        while (begin < end) {
            const ssize_t n = copyChunk(begin, std::min(end - begin, kCopyChunk));
            if (n == 0)
                return begin;
            if (n > 0)
                begin += n;
            checkpoint(begin);
        }
        return end;
    }

    // Bytes copied at `at`: 0 at the source's end, -1 when a signal
    // interrupted the call.
    ssize_t copyChunk(off_t at, off_t length) {
        if (kernelCopies_) {
            // The kernel copies (or shares) the blocks without a trip
            // through this process.
            off_t in = at;
            off_t out = at;
            const ssize_t n =
                ::copy_file_range(from_, &in, to_, &out, static_cast<std::size_t>(length), 0);
            if (n > 0 || (n < 0 && errno == EINTR))
                return n;
            if (n < 0 && !unsupportedHere(errno))
                throwSystem("copy to", target_, errno);
            // Refused here (across file systems, old kernels), or nothing
            // copied, which some file systems answer instead: plain reads
            // and writes take over and tell the end of the source apart.
            kernelCopies_ = false;
        }
        if (buffer_.size() < static_cast<std::size_t>(length))
            buffer_.resize(static_cast<std::size_t>(length));
        const ssize_t n = ::pread(from_, buffer_.data(), static_cast<std::size_t>(length), at);
        if (n < 0 && errno == EINTR)
            return -1;
        if (n < 0)
            throwSystem("read", sourcePath_, errno);
        for (ssize_t done = 0; done < n;) {
            const ssize_t written =
                ::pwrite(to_, buffer_.data() + done, static_cast<std::size_t>(n - done), at + done);
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                throwSystem("copy to", target_, written < 0 ? errno : EIO);
            done += written;
        }
        return n;
    }

    int from_;
    int to_;
    off_t length_;
    const std::string& sourcePath_;
    const std::string& target_;
    const Progress& progress_;
    bool kernelCopies_ = true;
    std::vector<char> buffer_;
};

} // namespace

std::string copyToTitle(const std::string& sourcePath, const std::string& directoryPath,
                        std::string_view titleText, Overwrite overwrite, const Progress& progress,
                        const FileIdentity* expectedSource) {
    std::string target = joinPath(directoryPath, std::string(titleText) + ".gba");
    // A title comes from an untrusted image: it must not steer the copy
    // into another directory or onto a name the file systems refuse.
    if (const auto problem = titleNameProblem(titleText))
        throw FileError(Kind::InvalidName, "copy to", target, *problem);

    // A termination signal from here on stops the copy, which removes what
    // it wrote, and then ends the program as the signal would have.
    const TerminationGuard guard;
    struct stat sourceInfo {};
    const UniqueFd source = openRegular(sourcePath, O_RDONLY, sourceInfo);
    refuseIfReplaced(sourceInfo, expectedSource, "copy", sourcePath);

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

    // What killed copies left here goes first; nothing else removes it.
    sweepPartials(directoryPath);
    // The copy gets the source's permission bits, not its owner, set-id bits
    // or timestamps: it is a new file made now.
    PendingCopy copy(directoryPath, target, sourceInfo.st_mode & 0777);
    ContentCopy(source.get(), copy.fd(), sourceInfo.st_size, sourcePath, target, progress).run();
    copy.sync();
    copy.publish(overwrite);
    copy.syncPublished();
    syncDirectory(directoryPath, target);
    return target;
}

} // namespace kelvo

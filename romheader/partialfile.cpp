#include "romheader/partialfile.h"

#include "romheader/posixio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

namespace kelvo::posix {

namespace {

constexpr std::string_view kPrefix = ".kelvo-gba-";
constexpr std::string_view kSuffix = ".partial";
constexpr std::size_t kRandomLength = 12;
constexpr std::string_view kLetters =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool isLetterOrDigit(char c) {
    return kLetters.find(c) != std::string_view::npos;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` still leads to the file open as `fd`.
bool stillNamed(const std::string& name, int fd) {
    struct stat named {
    }, opened{};
    return ::lstat(name.c_str(), &named) == 0 && ::fstat(fd, &opened) == 0 &&
           sameFile(named, opened);
}

} // namespace

bool isPartialName(std::string_view name) {
    if (name.size() != kPrefix.size() + kRandomLength + kSuffix.size() ||
        !name.starts_with(kPrefix) || !name.ends_with(kSuffix))
        return false;
    const std::string_view random = name.substr(kPrefix.size(), kRandomLength);
    return std::all_of(random.begin(), random.end(), isLetterOrDigit);
}

std::string newPartialName(const std::string& directoryPath) {
    static std::mt19937_64 random{std::random_device{}()};
    std::string name(kPrefix);
    for (std::size_t i = 0; i < kRandomLength; ++i)
        name += kLetters[random() % kLetters.size()];
    name += kSuffix;
    return joinPath(directoryPath, name);
}

bool lockPartial(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EINTR)
            return errno != EWOULDBLOCK;
    }
}

UniqueFd createPartial(const std::string& directoryPath, mode_t mode, std::string& name,
                       UniqueFd& lock, const char* operation, const std::string& reportedPath) {
    for (int attempt = 0;; ++attempt) {
        name = newPartialName(directoryPath);
        UniqueFd fd(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (!fd) {
            if (const int code = errno; code != EEXIST || attempt == 100)
                throwSystem(operation, reportedPath, code);
            continue;
        }
        // Until it is locked another run's sweep may take it for a leftover:
        // it is ours only if the lock came first and the name still leads to it.
        if (lockPartial(fd.get()) && stillNamed(name, fd.get())) {
            lock = UniqueFd(::dup(fd.get()));
            if (!lock) {
                const int code = errno;
                ::unlink(name.c_str());
                throwSystem(operation, reportedPath, code);
            }
            return fd;
        }
        // Lost to a sweep, which removes the name: try another.
        if (attempt == 100)
            throwSystem(operation, reportedPath, EBUSY);
    }
}

void sweepPartials(const std::string& directoryPath) {
    DIR* const directory = ::opendir(directoryPath.empty() ? "." : directoryPath.c_str());
    if (directory == nullptr)
        return;
    while (const dirent* entry = ::readdir(directory)) {
        if (!isPartialName(entry->d_name))
            continue;
        const std::string name = joinPath(directoryPath, entry->d_name);
        // Non-blocking: a leased file or a FIFO of that name is not waited on.
        const UniqueFd fd(
            ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        if (!fd || ::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode))
            continue;
        // Held by a run that still writes it; refused where there are no
        // locks, and then nothing tells a leftover from a file in use.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (stillNamed(name, fd.get()))
            ::unlink(name.c_str());
    }
    ::closedir(directory);
}

} // namespace kelvo::posix

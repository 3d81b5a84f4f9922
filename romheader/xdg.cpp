#include "romheader/xdg.h"

#include "romheader/partialfile.h"
#include "romheader/posixio.h"
#include "romheader/romheader.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kelvo {

namespace {

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    // A service or a cron job may run without HOME.
    if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        return user->pw_dir;
    return {};
}

std::string baseDirectory(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && value[0] == '/')
        return value;
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : joinPath(home, fallback);
}

std::string programDirectory(const char* variable, const char* fallback) {
    const std::string base = baseDirectory(variable, fallback);
    return base.empty() ? std::string() : joinPath(base, "kelvo-gba");
}

} // namespace

std::string configDirectory() {
    return programDirectory("XDG_CONFIG_HOME", ".config");
}

std::string cacheDirectory() {
    return programDirectory("XDG_CACHE_HOME", ".cache");
}

void makeDirectories(const std::string& directory) {
    if (directory.empty())
        return;
    struct stat info {};
    if (::stat(directory.c_str(), &info) == 0) {
        // A file where the directory should be: "Not a directory", as mkdir
        // says of a file where a parent should be.
        if (!S_ISDIR(info.st_mode))
            posix::throwSystem("create the directory", directory, ENOTDIR);
        return;
    }
    const std::string parent = posix::parentOf(directory);
    if (parent != directory)
        makeDirectories(parent);
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST)
        posix::throwSystem("create the directory", directory, errno);
}

void replaceFileAtomically(const std::string& path, std::string_view data) {
    mode_t mode = 0666;
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0)
        mode = old.st_mode & 07777;

    const std::string directory = posix::parentOf(path);
    posix::sweepPartials(directory);
    std::string temporary;
    UniqueFd lock;
    UniqueFd fd = posix::createPartial(directory, mode, temporary, lock, "write", path);
    try {
        // An existing file keeps its mode even where the umask would narrow it.
        if (old.st_mode != 0 && ::fchmod(fd.get(), mode) != 0)
            posix::throwSystem("write", path, errno);
        posix::writeAt(fd.get(),
                       std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()),
                       0, path);
        if (::fsync(fd.get()) != 0 || fd.close() != 0)
            posix::throwSystem("write", path, errno);
        if (::rename(temporary.c_str(), path.c_str()) != 0)
            posix::throwSystem("write", path, errno);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    posix::syncDirectory(directory, path);
}

} // namespace kelvo

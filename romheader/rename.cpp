#include "romheader/rename.h"

#include "romheader/posixio.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

namespace kelvo {

namespace {

using Kind = FileError::Kind;
using namespace posix;

constexpr const char* kOperation = "rename to";

// Answers meaning "this file system cannot do that here": the next way is tried.
bool unsupportedHere(int code) {
    return code == EINVAL || code == ENOSYS || code == EOPNOTSUPP || code == ENOTSUP ||
           code == EPERM;
}

[[noreturn]] void throwAlreadyExists(const std::string& target) {
    throw FileError(Kind::AlreadyExists, kOperation, target, "A file of this name already exists",
                    EEXIST);
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string_view stemOf(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Moves `from` to `to` unless a file is named `to`: atomically where the
// file system offers a way.
void moveExclusive(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return;
    int code = errno;
    if (unsupportedHere(code)) {
        // link refuses a name that exists; the old name goes once the new one is there.
        if (::link(from.c_str(), to.c_str()) == 0) {
            if (::unlink(from.c_str()) == 0)
                return;
            code = errno;
            ::unlink(to.c_str());
            throwSystem(kOperation, to, code);
        }
        code = errno;
    }
    if (unsupportedHere(code)) {
        // Neither (FAT; exFAT through FUSE): look, then rename.
        struct stat seen {};
        if (::lstat(to.c_str(), &seen) == 0)
            throwAlreadyExists(to);
        if (::rename(from.c_str(), to.c_str()) == 0)
            return;
        code = errno;
    }
    if (code == EEXIST || code == ENOTEMPTY)
        throwAlreadyExists(to);
    throwSystem(kOperation, to, code);
}

std::string temporaryName(const std::string& directory) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // Renames may run on several threads at once (the collection check's).
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string name = ".kelvo-rename-";
    for (int i = 0; i < 8; ++i)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return joinPath(directory, name);
}

// A rename whose target names the file itself (a file system that ignores
// case, or another hard link) goes through a temporary name.
void move(const std::string& from, const std::string& to, bool throughTemporary) {
    if (!throughTemporary) {
        moveExclusive(from, to);
        return;
    }
    const std::string temporary = temporaryName(directoryOf(from));
    moveExclusive(from, temporary);
    try {
        moveExclusive(temporary, to);
    } catch (const FileError& error) {
        try {
            moveExclusive(temporary, from);
        } catch (const FileError&) {
            throw FileError(error.kind(), error.operation(), error.path(),
                            error.reason() + "; the file is left as \"" + nameOf(temporary) + "\"",
                            error.code());
        }
        throw;
    }
}

struct PlannedRename {
    Rename names;
    bool throughTemporary = false;
};

std::vector<PlannedRename> plan(const std::string& imagePath, std::string_view newName,
                                const FileIdentity* expected) {
    const std::string directory = directoryOf(imagePath);
    const std::string oldName = nameOf(imagePath);
    const std::string target = joinPath(directory, newName);
    if (const auto problem = fileNameProblem(newName))
        throw FileError(Kind::InvalidName, kOperation, target, *problem);
    struct stat image {};
    if (::stat(imagePath.c_str(), &image) != 0)
        throwSystem("rename", imagePath, errno);
    if (!S_ISREG(image.st_mode))
        throwNotRegular("rename", imagePath, image.st_mode);
    refuseIfReplaced(image, expected, "rename", imagePath);
    if (oldName == newName)
        return {};

    std::vector<PlannedRename> renames{{{imagePath, target}}};
    const std::string_view oldStem = stemOf(oldName);
    const std::string_view newStem = stemOf(newName);
    // The image itself is never taken for its own save file.
    std::vector<struct stat> saves(1);
    if (::lstat(imagePath.c_str(), &saves.front()) != 0)
        throwSystem("rename", imagePath, errno);
    for (const char* extension : {".sav", ".SAV", ".srm", ".SRM"}) {
        const std::string save = joinPath(directory, std::string(oldStem) + extension);
        struct stat info {};
        // A file system that ignores case finds one save under both spellings.
        if (::lstat(save.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            std::any_of(saves.begin(), saves.end(),
                        [&](const struct stat& seen) { return sameFile(seen, info); }))
            continue;
        saves.push_back(info);
        const std::string saveName = std::string(newStem) + extension;
        if (newStem == oldStem)
            continue; // only the image's extension changes
        if (saveName.size() > kMaxFileNameBytes)
            throw FileError(Kind::InvalidName, kOperation, joinPath(directory, saveName),
                            "A file name holds at most 255 bytes");
        renames.push_back({{save, joinPath(directory, saveName)}});
    }
    for (PlannedRename& rename : renames) {
        struct stat from {
        }, taken{};
        if (::lstat(rename.names.to.c_str(), &taken) != 0)
            continue;
        if (::lstat(rename.names.from.c_str(), &from) != 0 || !sameFile(from, taken))
            throwAlreadyExists(rename.names.to);
        rename.throughTemporary = true;
    }
    return renames;
}

} // namespace

std::optional<std::string> fileNameProblem(std::string_view name) {
    if (name.empty())
        return "The name is empty";
    if (name.front() == '.')
        return "A name starting with '.' would make a hidden file";
    if (name.size() > kMaxFileNameBytes)
        return "The name is " + std::to_string(name.size()) +
               " bytes long; a file name holds at most 255";
    return titleNameProblem(name);
}

std::vector<Rename> planImageRename(const std::string& imagePath, std::string_view newName,
                                    const FileIdentity* expected) {
    std::vector<Rename> renames;
    for (const PlannedRename& planned : plan(imagePath, newName, expected))
        renames.push_back(planned.names);
    return renames;
}

std::vector<Rename> renameImage(const std::string& imagePath, std::string_view newName,
                                const FileIdentity* expected) {
    const std::vector<PlannedRename> renames = plan(imagePath, newName, expected);
    std::size_t done = 0;
    for (; done < renames.size(); ++done) {
        const PlannedRename& rename = renames[done];
        try {
            move(rename.names.from, rename.names.to, rename.throughTemporary);
        } catch (const FileError& error) {
            // The image is not left under its new name without its saves.
            std::string stranded;
            while (done-- > 0) {
                const PlannedRename& undo = renames[done];
                try {
                    move(undo.names.to, undo.names.from, undo.throughTemporary);
                } catch (const FileError&) {
                    stranded +=
                        "; \"" + nameOf(undo.names.to) + "\" could not be given its old name back";
                }
            }
            if (stranded.empty())
                throw;
            throw FileError(error.kind(), error.operation(), error.path(),
                            error.reason() + stranded, error.code());
        }
    }
    if (!renames.empty())
        syncDirectory(directoryOf(imagePath), renames.front().names.to);
    std::vector<Rename> made;
    for (const PlannedRename& rename : renames)
        made.push_back(rename.names);
    return made;
}

} // namespace kelvo

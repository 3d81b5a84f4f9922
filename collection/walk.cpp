// The walk over a collection, on plain POSIX calls: one open and one
// readdir pass per directory, and a stat only for the names that are images
// or archives (or whose type the directory does not say), so a directory of
// a hundred thousand other files costs little more than reading its names.
#include "collection/walk.h"

#include "romheader/dirlist.h"
#include "romheader/romheader.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

namespace kelvo {

namespace {

bool endsWithNoCase(std::string_view name, std::string_view ending) {
    if (name.size() <= ending.size())
        return false;
    const std::string_view tail = name.substr(name.size() - ending.size());
    return std::equal(tail.begin(), tail.end(), ending.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? char(a | 0x20) : a) == b;
    });
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

struct PendingDirectory {
    std::string path;
    std::string relative;
};

class Walker {
public:
    Walker(const WalkOptions& options, const std::function<void(WalkItem&&)>& found)
        : options_(options), found_(found) {}

    void walkRoot(std::uint32_t root, const std::string& given) {
        root_ = root;
        visited_.clear(); // a directory named twice is walked twice, as named
        const std::string path = absolutePath(given);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            fail(given, path, "unreadable: " + std::string(std::strerror(errno)));
        } else if (S_ISDIR(info.st_mode)) {
            walkTree(given, path);
        } else if (S_ISREG(info.st_mode)) {
            const std::string name = baseName(path);
            emit(isArchiveName(name) ? WalkItem::Kind::Archive : WalkItem::Kind::Image, name, path,
                 info);
        } else {
            fail(given, path, "unreadable: not a regular file or directory");
        }
    }

private:
    [[nodiscard]] bool stopped() const { return options_.stop && options_.stop(); }

    void emit(WalkItem::Kind kind, std::string relative, std::string path, const struct stat& info,
              std::string reason = {}) {
        WalkItem item;
        item.kind = kind;
        item.root = root_;
        item.index = next_++;
        item.relative = std::move(relative);
        item.path = std::move(path);
        item.info = info;
        item.reason = std::move(reason);
        found_(std::move(item));
    }

    void fail(std::string relative, std::string path, std::string reason) {
        emit(WalkItem::Kind::Failure, std::move(relative), std::move(path), {}, std::move(reason));
    }

    void walkTree(const std::string& given, const std::string& rootPath) {
        std::vector<PendingDirectory> stack{{rootPath, {}}};
        bool top = true;
        while (!stack.empty() && !stopped()) {
            PendingDirectory directory = std::move(stack.back());
            stack.pop_back();
            // The top directory may be reached through a link (the user named
            // it); below it, a link to a directory is never entered.
            const int fd = ::open(directory.path.c_str(),
                                  O_RDONLY | O_DIRECTORY | O_CLOEXEC | (top ? 0 : O_NOFOLLOW));
            top = false;
            const std::string shown = directory.relative.empty() ? given : directory.relative;
            if (fd < 0) {
                // Replaced by a link or a file since it was listed: no
                // directory of the collection any more.
                if (errno != ELOOP && errno != ENOTDIR)
                    fail(shown, directory.path,
                         "unreadable directory: " + std::string(std::strerror(errno)));
                continue;
            }
            const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
            if (!dir) {
                ::close(fd);
                fail(shown, directory.path,
                     "unreadable directory: " + std::string(std::strerror(errno)));
                continue;
            }
            struct stat info {};
            if (::fstat(fd, &info) != 0 || !visited_.emplace(info.st_dev, info.st_ino).second)
                continue; // entered before: a bind mount or a loop
            std::vector<std::string> subdirectories =
                readDirectory(dir.get(), directory, shown, options_.recursive);
            std::sort(subdirectories.begin(), subdirectories.end(), nameLess);
            for (auto it = subdirectories.rbegin(); it != subdirectories.rend(); ++it)
                stack.push_back(
                    {joinPath(directory.path, *it),
                     directory.relative.empty() ? *it : directory.relative + '/' + *it});
            if (!options_.recursive)
                break;
        }
    }

    struct Found {
        std::string name;
        WalkItem::Kind kind;
        struct stat info;
        std::string reason;
    };

    // Hands on the directory's images and archives in name order, and
    // returns its subdirectories (when `descend`).
    std::vector<std::string> readDirectory(DIR* dir, const PendingDirectory& directory,
                                           const std::string& shown, bool descend) {
        const int fd = ::dirfd(dir);
        std::vector<Found> files;
        std::vector<std::string> subdirectories;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (!entry) {
                if (errno != 0)
                    fail(shown, directory.path,
                         "unreadable directory: " + std::string(std::strerror(errno)));
                break;
            }
            const std::string_view name = entry->d_name;
            if (name.starts_with('.'))
                continue; // hidden, and "." and ".."
            const bool wanted = isImageName(name) || isArchiveName(name);
            const unsigned char type = entry->d_type;
            if (type == DT_DIR) {
                if (descend)
                    subdirectories.emplace_back(name);
                continue;
            }
            if (!wanted) {
                struct stat info {};
                if (type == DT_UNKNOWN && descend &&
                    ::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(info.st_mode))
                    subdirectories.emplace_back(name);
                continue;
            }
            struct stat info {};
            if (::fstatat(fd, entry->d_name, &info, 0) != 0) {
                // Gone since it was listed, or a link to nothing.
                files.push_back({std::string(name),
                                 WalkItem::Kind::Failure,
                                 {},
                                 "unreadable: " + std::string(std::strerror(errno))});
                continue;
            }
            if (S_ISDIR(info.st_mode)) {
                struct stat own {};
                if (descend && type == DT_UNKNOWN &&
                    ::fstatat(fd, entry->d_name, &own, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISDIR(own.st_mode))
                    subdirectories.emplace_back(name);
                continue; // a link to a directory gives nothing
            }
            if (!S_ISREG(info.st_mode)) {
                files.push_back({std::string(name), WalkItem::Kind::Failure, info,
                                 "unreadable: not a regular file"});
                continue;
            }
            files.push_back({std::string(name),
                             isArchiveName(name) ? WalkItem::Kind::Archive : WalkItem::Kind::Image,
                             info,
                             {}});
        }
        std::sort(files.begin(), files.end(),
                  [](const Found& a, const Found& b) { return nameLess(a.name, b.name); });
        for (Found& file : files) {
            if (stopped())
                break;
            emit(file.kind,
                 directory.relative.empty() ? file.name : directory.relative + '/' + file.name,
                 joinPath(directory.path, file.name), file.info, std::move(file.reason));
        }
        return subdirectories;
    }

    const WalkOptions& options_;
    const std::function<void(WalkItem&&)>& found_;
    std::uint32_t root_ = 0;
    std::uint64_t next_ = 0;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

} // namespace

std::string absolutePath(const std::string& path) {
    if (path.starts_with('/'))
        return path;
    std::string directory(4096, '\0');
    while (::getcwd(directory.data(), directory.size()) == nullptr) {
        if (errno != ERANGE)
            return path; // its errors then name it as given
        directory.resize(directory.size() * 2);
    }
    directory.resize(std::strlen(directory.c_str()));
    return joinPath(directory, path);
}

bool isImageName(std::string_view name) {
    return endsWithNoCase(name, ".gba") || endsWithNoCase(name, ".agb") ||
           endsWithNoCase(name, ".bin");
}

bool isArchiveName(std::string_view name) {
    return endsWithNoCase(name, ".zip");
}

void walkCollection(const std::vector<std::string>& paths, const WalkOptions& options,
                    const std::function<void(WalkItem&&)>& found) {
    Walker walker(options, found);
    for (std::uint32_t root = 0; root < paths.size(); ++root)
        walker.walkRoot(root, paths[root]);
}

} // namespace kelvo

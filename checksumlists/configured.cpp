#include "checksumlists/configured.h"

#include "romheader/posixio.h"
#include "romheader/xdg.h"

#include <fcntl.h>

#include <algorithm>

namespace kelvo {

namespace {

constexpr std::uint64_t kMaxConfigSize = 1 << 20;

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string_view trimmed(std::string_view line) {
    constexpr std::string_view kBlanks = " \t\r\f\v";
    const std::size_t first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(kBlanks) - first + 1);
}

} // namespace

std::string configuredListsPath() {
    const std::string directory = configDirectory();
    return directory.empty() ? std::string() : joinPath(directory, "checksum-lists");
}

std::vector<std::string> readConfiguredLists(const std::string& path) {
    std::string text;
    {
        struct stat info {};
        UniqueFd fd;
        try {
            fd = posix::openRegular(path, O_RDONLY, info);
        } catch (const FileError& error) {
            if (error.code() == ENOENT)
                return {};
            throw;
        }
        if (std::uint64_t(info.st_size) > kMaxConfigSize)
            throw FileError(FileError::Kind::Malformed, "read", path,
                            "Larger than a list of checksum lists can be (1 MiB)");
        text.resize(std::size_t(info.st_size));
        text.resize(posix::readAt(
            fd.get(), std::span(reinterpret_cast<std::uint8_t*>(text.data()), text.size()), 0,
            path));
    }
    std::vector<std::string> lists;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string_view line = trimmed(std::string_view(text).substr(start, end - start));
        start = end + 1;
        if (line.empty() || line.front() == '#')
            continue;
        std::string list =
            line.front() == '/' ? std::string(line) : joinPath(directoryOf(path), line);
        if (std::find(lists.begin(), lists.end(), list) == lists.end())
            lists.push_back(std::move(list));
    }
    return lists;
}

void writeConfiguredLists(const std::string& path, const std::vector<std::string>& lists) {
    std::string text;
    for (const std::string& list : lists) {
        // The file could not give back a path that is relative, spans lines
        // or ends in a blank.
        if (list.empty() || list.front() != '/' || list != trimmed(list) ||
            list.find_first_of("\n\r") != std::string::npos)
            throw FileError(FileError::Kind::InvalidName, "write", path,
                            "A checksum list's path must be absolute, on one line and end in no "
                            "blank: \"" +
                                list + "\"");
        text += list;
        text += '\n';
    }
    makeDirectories(directoryOf(path));
    replaceFileAtomically(path, text);
}

} // namespace kelvo

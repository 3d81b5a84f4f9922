#include "windowkit/browsing.h"

#include "romheader/romheader.h"

#include <QFile>

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace kelvo {

std::string workingDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr)
            return buffer.data();
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string requireWorkingDirectory() {
    std::string path = workingDirectory();
    if (path.empty()) {
        const int code = errno;
        throw FileError(FileError::Kind::System, "read the working directory", ".",
                        std::generic_category().message(code), code);
    }
    return path;
}

std::string normalisedPath(const std::string& path) {
    std::filesystem::path result(path);
    if (!result.is_absolute()) {
        const std::string base = workingDirectory();
        result = std::filesystem::path(base.empty() ? "/" : base) / result;
    }
    std::string text = result.lexically_normal().native();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

bool holdsPath(std::string_view root, std::string_view path) {
    if (root == "/")
        return path.starts_with('/');
    return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

QString displayText(std::string_view nativeText) {
    return QFile::decodeName(QByteArray(nativeText.data(), qsizetype(nativeText.size())));
}

} // namespace kelvo

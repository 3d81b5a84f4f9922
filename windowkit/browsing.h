// Path helpers shared by the drive, directory and file lists.
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kelvo {

// The process's working directory, or the empty text when it cannot be read
// (for instance after it was removed).
[[nodiscard]] std::string workingDirectory();

// The working directory; throws FileError when it cannot be read.
[[nodiscard]] std::string requireWorkingDirectory();

// `path` made absolute against the working directory and lexically normal,
// ending with a separator only at the root: "/a/./b/../c/" -> "/a/c".
[[nodiscard]] std::string normalisedPath(const std::string& path);

// Whether `root` is `path` or one of its ancestors, comparing whole
// components ("/media/card" holds "/media/card/x", not "/media/cards").
[[nodiscard]] bool holdsPath(std::string_view root, std::string_view path);

// A native name or path as shown; bytes that are not UTF-8 show as U+FFFD
// while the stored bytes stay untouched.
[[nodiscard]] QString displayText(std::string_view nativeText);

} // namespace kelvo

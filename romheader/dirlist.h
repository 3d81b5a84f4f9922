// Directory listings for the browsing lists: the subdirectories of a
// directory and the files matching a set of wildcard patterns. Plain POSIX
// underneath, so a directory of a hundred thousand entries lists quickly.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// "*.bin ;*.gba ;*.agb" -> {"*.bin", "*.gba", "*.agb"}: split at ';', blanks
// around each pattern dropped, empty patterns skipped.
[[nodiscard]] std::vector<std::string> parsePatterns(std::string_view patternList);

// Wildcard match ('*' any run, '?' one byte), ignoring ASCII letter case.
[[nodiscard]] bool matchesPattern(std::string_view name, std::string_view pattern);

// Name order of both lists: ASCII letter case ignored, ties broken by the exact bytes.
[[nodiscard]] bool nameLess(std::string_view a, std::string_view b);

// Regular files (or links to them) whose names match any pattern, leaving out
// hidden names (starting with '.'); sorted by nameLess. Throws FileError when
// the directory cannot be read.
[[nodiscard]] std::vector<std::string> listMatchingFiles(const std::string& directory,
                                                         const std::vector<std::string>& patterns);

// Subdirectories (or links to them), hidden ones left out, sorted by nameLess.
[[nodiscard]] std::vector<std::string> listSubdirectories(const std::string& directory);

// The root of a path ("/" on POSIX) and the directories from that root down to
// `path` itself: "/a/b" -> {"/", "/a", "/a/b"}.
[[nodiscard]] std::vector<std::string> ancestorsOf(const std::string& path);

enum class PathKind { File, Directory };

// What `path` names when the program is asked to open it (from its command
// line or a drop): a regular file it can read (or a link to one), or a
// directory it can list. Throws FileError when the path is missing or
// unreadable, or names anything else; a FIFO or a device is never waited on.
[[nodiscard]] PathKind openableKind(const std::string& path);

// The last component of a path ("/a/b" -> "b"; "/" -> "/").
[[nodiscard]] std::string baseName(const std::string& path);

} // namespace kelvo

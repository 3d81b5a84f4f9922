// The lists the user configured: one path per line in
// $XDG_CONFIG_HOME/kelvo-gba/checksum-lists, so a user can edit the file and
// the command line reads the same lists as the windows.
#pragma once

#include <string>
#include <vector>

namespace kelvo {

// $XDG_CONFIG_HOME/kelvo-gba/checksum-lists (see xdg.h); empty when there is
// no configuration directory.
[[nodiscard]] std::string configuredListsPath();

// The paths in the file at `path`, in its order, each once. A missing file
// means no lists. Blanks around a line and blank lines are ignored, and so
// are lines starting with '#'. A relative path is taken as relative to the
// file's own directory, so the result is always absolute. Throws FileError
// for a file that exists but cannot be read (a directory, a FIFO,
// unreadable) or is larger than 1 MiB.
[[nodiscard]] std::vector<std::string> readConfiguredLists(const std::string& path);

// Replaces the file at `path` with `lists`, one per line, atomically (see
// replaceFileAtomically), creating its directory if missing. Throws
// FileError (kind InvalidName, nothing written) for a path that is not
// absolute, holds a line break or ends in a blank, which the file could
// not give back.
void writeConfiguredLists(const std::string& path, const std::vector<std::string>& lists);

} // namespace kelvo

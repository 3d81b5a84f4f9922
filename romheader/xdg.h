// Where the program keeps what lasts between runs, after the XDG Base
// Directory rules: the lists a user configured under $XDG_CONFIG_HOME, the
// hash cache under $XDG_CACHE_HOME, each in a kelvo-gba directory. Plain
// C++, so the command line finds the same files as the windows.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

// $XDG_CONFIG_HOME/kelvo-gba, or ~/.config/kelvo-gba; a relative
// $XDG_CONFIG_HOME is ignored, as the rules say. Empty when neither the
// variable nor a home directory is known.
[[nodiscard]] std::string configDirectory();
// $XDG_CACHE_HOME/kelvo-gba, or ~/.cache/kelvo-gba; empty as above.
[[nodiscard]] std::string cacheDirectory();

// Creates `directory` and its missing parents with mode 0700 (the XDG
// rules' mode for directories the program creates). Throws FileError.
void makeDirectories(const std::string& directory);

// Replaces the file at `path` with `data` so that it is either the old file
// or the whole new one, even after a crash: a temporary file beside it,
// written and synced, renamed over it, then the directory synced. The new
// file gets the old one's permission bits, else 0666 masked by the umask.
// Throws FileError naming `path`; a failure leaves the old file as it was
// and no temporary file behind, except a failing directory sync, which comes
// after the rename (see posix::syncDirectory). What a kill leaves (see
// partialfile.h) the next replacement in that directory removes.
void replaceFileAtomically(const std::string& path, std::string_view data);

} // namespace kelvo

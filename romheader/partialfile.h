// The hidden files a write makes beside its target before they take the
// target's name: the copy where the file system has no unnamed files (FAT,
// exFAT), the instant of a copy's replacing rename, a replaced kept file.
// Each is named .kelvo-gba-<12 letters and digits>.partial, a name only this
// program makes, and is locked (flock) for as long as it is in use. One whose
// lock nobody holds was left by a run that ended before it could remove it
// (SIGKILL, a power cut); the next write into that directory removes it.
// Private to the romheader library.
#pragma once

#include "romheader/unique_fd.h"

#include <sys/types.h>

#include <string>
#include <string_view>

namespace kelvo::posix {

// Whether `name` (one path component) is such a file's name.
[[nodiscard]] bool isPartialName(std::string_view name);

// A new such name in `directoryPath`, joined to it.
[[nodiscard]] std::string newPartialName(const std::string& directoryPath);

// Locks the open file `fd` refers to for as long as that open lives. False
// only when another process holds the lock (a sweep took the file for a
// leftover); a file system without locks lets the file go unlocked.
[[nodiscard]] bool lockPartial(int fd);

// Creates a partial file in `directoryPath` with `mode`, open for writing
// and locked, and sets `name` to it. The lock is held by `lock`, a second
// descriptor of the same open, so the file can be closed (to hear close's
// verdict) before its rename and stay locked. Failures name `operation` and
// `reportedPath`.
[[nodiscard]] UniqueFd createPartial(const std::string& directoryPath, mode_t mode,
                                     std::string& name, UniqueFd& lock, const char* operation,
                                     const std::string& reportedPath);

// Removes the partial files in `directoryPath` whose lock nobody holds.
// Where locks are refused, or a file cannot be opened, it stays. Best
// effort: the write that sweeps goes on whatever this meets.
void sweepPartials(const std::string& directoryPath);

} // namespace kelvo::posix

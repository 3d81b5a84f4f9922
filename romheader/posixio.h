// The POSIX building blocks of the core's file operations: opening only
// regular files, whole reads and writes at an offset, reading a header to
// write it back, and turning a failing call into a FileError. Private to the
// romheader library.
#pragma once

#include "romheader/romheader.h"
#include "romheader/unique_fd.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace kelvo::posix {

[[noreturn]] void throwSystem(const char* operation, const std::string& path, int code);
[[noreturn]] void throwNotRegular(const char* operation, const std::string& path, mode_t mode);

// Opens a regular file or a link to one with `flags` (O_CLOEXEC and O_NOCTTY
// added) and fills `info` from the open descriptor. A directory, FIFO, device
// or socket is refused at once, never waited on. A lease another process
// holds on a regular file is waited out, as any program's open waits, but
// asking the wait observer (see setWaitObserver) every few milliseconds and
// looking for a termination signal: either stops the wait with a FileError
// of kind Cancelled.
[[nodiscard]] UniqueFd openRegular(const std::string& path, int flags, struct stat& info,
                                   mode_t mode = 0);

// Reads up to buffer.size() bytes at `offset`; fewer only at the end of the file.
std::size_t readAt(int fd, std::span<std::uint8_t> buffer, off_t offset, const std::string& path);
// Writes all of `bytes` at `offset`.
void writeAt(int fd, std::span<const std::uint8_t> bytes, off_t offset, const std::string& path);

// The whole header of an image open as `fd`, which `info` describes; an
// image shorter than a header (or one that shrank meanwhile) is refused
// with a FileError of kind TooShort naming `operation`.
[[nodiscard]] HeaderBytes readWholeHeader(int fd, const struct stat& info, const char* operation,
                                          const std::string& path);

[[nodiscard]] FileIdentity identityOf(const struct stat& info);
// Refuses (kind Changed) an open file that is not the `expected` one, if given.
void refuseIfReplaced(const struct stat& info, const FileIdentity* expected, const char* operation,
                      const std::string& path);

// The directory a path's last component lies in ("." for a bare name).
[[nodiscard]] std::string parentOf(const std::string& path);

// Makes the new name `madePath` in `directoryPath` durable. A directory that
// cannot be opened or synced is a FileError naming the sync, `madePath` and
// the reason; a file system that cannot sync a directory at all (EINVAL) is
// no failure.
void syncDirectory(const std::string& directoryPath, const std::string& madePath);

} // namespace kelvo::posix

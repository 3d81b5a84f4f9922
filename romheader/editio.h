// What the image changes in imageedit.h share: opening the file a plan was
// made from, and appending with the undo of a failed append. Private to the
// romheader library.
#pragma once

#include "romheader/imageedit.h"
#include "romheader/unique_fd.h"

#include <sys/stat.h>

namespace kelvo::posix {

[[nodiscard]] FileState stateOf(const struct stat& info);

// Opens `path` with `flags` as openRegular does and refuses (kind Changed)
// a file that is not the one `expected` describes.
[[nodiscard]] UniqueFd openAsPlanned(const std::string& path, int flags, const FileState& expected,
                                     const char* operation);

// Appends `count` bytes of `value` at `size`, the end of the file open as
// `fd`, in one write followed by fsync; on a failure the file is cut back
// to `size` before the error is thrown.
void appendAt(int fd, std::uint64_t size, std::uint64_t count, std::uint8_t value,
              const char* operation, const std::string& path);

// The bytes that take a file of `size` to the next power of two; refused
// (kind TooLarge) past the largest cartridge image.
[[nodiscard]] std::uint64_t paddingToPowerOfTwo(std::uint64_t size, const char* operation,
                                                const std::string& path);

} // namespace kelvo::posix

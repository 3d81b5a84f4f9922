// Changes to an image beyond its title: the header fix a build makes (the
// boot logo, the fixed value and the fields the build names), trimming the
// padding that ends an image, and padding it to a power of two.
//
// Each is planned from the file as read and then applied through one
// descriptor: an existing regular file, at least a header long, still the
// file the plan was made from (identity, size and modification time), with
// one write or one cut followed by fsync. A file that changed since it was
// planned is refused with a FileError of kind Changed and left alone.
#pragma once

#include "romheader/imageinfo.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

// The console's boot logo at 0x04..0x9F, as GBATEK lists it: the console
// compares the cartridge's with its own and refuses to start on a difference.
extern const std::array<std::uint8_t, kLogoLength> kBootLogo;

// A cartridge addresses 32 MiB of ROM; padding an image past that is refused
// (FileError kind TooLarge): it is no cartridge image.
inline constexpr std::uint64_t kLargestImage = std::uint64_t{32} << 20;

// A file as an operation read it.
struct FileState {
    FileIdentity identity;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0; // modification time, nanoseconds since the epoch
    bool operator==(const FileState&) const = default;
};

// The state of the file `path` names now (links followed).
[[nodiscard]] FileState fileState(const std::string& path);

// ---------------------------------------------------------------------------
// The build's header fix, byte for byte what the homebrew toolchains' fixer
// writes: the boot logo, 0x96 at 0xB2, device type 0x00 at 0xB4, the fields
// given, 0x00 at 0xBE..0xBF and the check byte over the result. The entry
// branch, the unit code and 0xB5..0xBB keep what they hold.

struct FixFields {
    std::optional<TitleBytes> title; // NUL-padded
    std::optional<std::array<std::uint8_t, 4>> gameCode;
    std::optional<std::array<std::uint8_t, kMakerWidth>> makerCode;
    std::optional<std::uint8_t> version;
};

[[nodiscard]] HeaderBytes fixedHeader(HeaderBytes bytes, const FixFields& fields);
// Every byte that differs between the two, by offset.
[[nodiscard]] std::vector<HeaderChange> headerChanges(const HeaderBytes& before,
                                                      const HeaderBytes& after);

struct FixPlan {
    FileState state;
    HeaderBytes before{};
    HeaderBytes after{};
    std::vector<HeaderChange> changes; // empty when the header is already so
    std::uint64_t padding = 0;         // 0xFF bytes to append
};

// Reads the header of an image of at least 192 bytes and plans its fix;
// `pad` adds the 0xFF bytes that take it to the next power of two.
[[nodiscard]] FixPlan planFix(const std::string& path, const FixFields& fields, bool pad);
// Appends the padding (one write, fsync), then writes the changed header
// bytes (one write, fsync); when the header cannot be written, the padding
// is cut away again, so the file ends as it was or as planned.
void applyFix(const std::string& path, const FixPlan& plan);

// ---------------------------------------------------------------------------
// Padding to a power of two, and appending in general.

// The smallest power of two not below `size` (at least 1); 0 when there is
// none below 2^64.
[[nodiscard]] std::uint64_t nextPowerOfTwo(std::uint64_t size);

struct PadPlan {
    FileState state;
    std::uint64_t count = 0; // bytes to append; none when the size is a power of two
    std::uint8_t value = 0xFF;
    [[nodiscard]] std::uint64_t sizeAfter() const { return state.size + count; }
};

[[nodiscard]] PadPlan planPad(const std::string& path, std::uint8_t value = 0xFF);

// Appends `count` bytes of `value` in one write followed by fsync, to the
// file `expected` describes (Restore Padding passes the state the image had
// when it was hashed). A failed append is cut away again.
void appendBytes(const std::string& path, std::uint64_t count, std::uint8_t value,
                 const FileState& expected);

// ---------------------------------------------------------------------------
// Trimming the padding that ends an image: the run Image Details calls
// Padding, cut from its first byte rounded up to a multiple of 4, never
// below a header.

// The size an image of `size` bytes ending in a padding run of `run` bytes
// is cut to.
[[nodiscard]] std::uint64_t trimmedSize(std::uint64_t size, std::uint64_t run);

struct TrimPlan {
    FileState state;
    std::uint64_t sizeAfter = 0; // state.size when there is no padding
    std::uint8_t value = 0;      // the padding byte
    [[nodiscard]] std::uint64_t count() const { return state.size - sizeAfter; }
};

[[nodiscard]] TrimPlan planTrim(const std::string& path);
// Cuts the file to plan.sizeAfter (ftruncate, fsync), after checking that
// the bytes cut are still the padding planned.
void trimImage(const std::string& path, const TrimPlan& plan);

} // namespace kelvo

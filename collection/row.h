// One row of the collection check: an image file, or an image inside a .zip
// archive, as the check found it, and the texts of its cells as the window,
// the reports and the command line show them.
//
// Plain C++ (no Qt), like the rest of the core.
#pragma once

#include "checksumlists/match.h"
#include "romheader/imageedit.h"
#include "romheader/imagescan.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// The table's columns, in their order.
enum class CheckColumn {
    File,
    Title,
    GameCode,
    Maker,
    Size,
    Header,
    SaveType,
    Crc32,
    Sha1,
    ListStatus,
    ListName,
};
inline constexpr std::size_t kColumnCount = 11;

// "File", "Title", "Game code", "Maker", "Size", "Header", "Save type",
// "CRC32", "SHA-1", "List status", "List name".
[[nodiscard]] std::string_view columnCaption(CheckColumn column);

// What a cell says when the check did not work a figure out: the SHA-1 and
// the save type of an archive member trusted by its stored checksum.
inline constexpr std::string_view kNotComputed = "not computed";

// Why a row's image could not be judged. The reason is what its Header cell
// says: "unreadable: Permission denied", "damaged archive member", "too
// large for a GBA image", "changed while it was read".
struct RowFailure {
    std::string reason;
    // The bytes are at fault (a damaged archive, a file too large to be an
    // image), not the access to them (missing, unreadable, changing).
    bool content = false;
    bool operator==(const RowFailure&) const = default;
};

struct CheckRow {
    // Where the row comes from: which of the checked paths, and the order
    // the walk found its file in (an archive's members share their
    // archive's), so rows can be put back in a stable order.
    std::uint32_t root = 0;
    std::uint64_t fileIndex = 0;
    std::uint64_t memberIndex = 0; // the member's index in its archive; 0 for a plain file

    // The path relative to the checked directory, its bytes as the file
    // system has them (not necessarily UTF-8); a member as
    // "archive.zip/member.gba". A checked file or archive is its own name.
    std::string file;
    // The file's absolute path; for a member, the archive's.
    std::string path;
    // The member's name in the archive (UTF-8), empty for a plain file. It is
    // a name only: never a path the program opens, whatever it holds ("../").
    std::string member;
    // The file (archive) as the check found it, to tell later whether it
    // changed since.
    FileState state;

    std::optional<RowFailure> failure;
    std::optional<std::uint64_t> size; // the image's bytes; unknown for some failures
    HeaderBytes header{};              // NUL past a short image's end

    // Whether every byte was hashed (or the cache had it): the SHA-1 and the
    // save type are known. Otherwise (a trusted archive member) only the
    // size, the CRC32 stored in the archive and the header are.
    bool whole = false;
    std::uint32_t crc32 = 0;
    Sha1Digest sha1{};
    std::vector<std::string> saveIds;

    // The first list match, if lists were loaded.
    bool listsLoaded = false;
    ListStatus status = ListStatus::NotListed;
    std::string listName;  // the list's name for the image, e.g. "Game (Europe).gba"
    std::string listLabel; // the list's name and version
    std::size_t matchCount = 0;

    [[nodiscard]] bool inArchive() const { return !member.empty(); }
    [[nodiscard]] bool readable() const { return !failure.has_value(); }
    // The file's own name (the member's last component for a member).
    [[nodiscard]] std::string baseName() const;
};

// What is wrong with a readable row's header, in the Header cell's order.
struct HeaderProblems {
    bool checkByte = false;
    bool fixedValue = false;
    bool logo = false;
    bool tooShort = false; // no whole header: the others are not judged
    [[nodiscard]] bool any() const { return checkByte || fixedValue || logo || tooShort; }
    // What Repair Header mends: the fixed value and the check byte.
    [[nodiscard]] bool repairable() const { return checkByte || fixedValue; }
};
[[nodiscard]] HeaderProblems headerProblems(const CheckRow& row);

// A cell as shown: valid UTF-8 whatever the file system's names hold.
[[nodiscard]] std::string cellText(const CheckRow& row, CheckColumn column);
[[nodiscard]] std::array<std::string, kColumnCount> cellTexts(const CheckRow& row);

// `bytes` as UTF-8 text: each byte that is not part of a well-formed
// sequence shows as U+FFFD, as the windows show such names.
[[nodiscard]] std::string displayText(std::string_view bytes);

// "0a1b2c3d": a CRC32 as the cells write it.
[[nodiscard]] std::string crc32Text(std::uint32_t crc);

} // namespace kelvo

// Checksum lists (DAT files): what a list says about each dump it knows, and
// reading one from a Logiqx XML file, a clrmamepro text file or a .zip
// archive holding one of those. A list, once read, never changes: it is
// handed out as std::shared_ptr<const ChecksumList> and may be read from
// several threads at once.
//
// Plain C++ like the rest of the core.
#pragma once

#include "romheader/imageinfo.h"
#include "romheader/romheader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// What a list says of a dump. An entry without a status is Good.
enum class DumpStatus : std::uint8_t {
    Good,     // listed without a flag
    Verified, // status or flag "verified"
    BadDump,  // "baddump"
    NoDump,   // "nodump": no dump is known; the entry never matches
};

// One file of a game, as the list describes it (144 bytes, copied bitwise). Each figure is
// optional: lists leave out what their source did not record. The texts are views into their list's
// own storage, valid while the list lives (a ListMatch keeps its list alive).
struct ListRom {
    std::string_view game; // the game (or machine) the file belongs to
    std::string_view name; // the file's name, what Rename To List Name gives an image
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> crc32;
    std::optional<Md5Digest> md5;
    std::optional<Sha1Digest> sha1;
    std::optional<Sha256Digest> sha256;
    DumpStatus status = DumpStatus::Good;
    std::string_view serial; // the game code as the list writes it, or empty

    // Whether an image can match this entry: it is not a nodump and names at
    // least one hash (a size alone identifies nothing).
    [[nodiscard]] bool matchable() const {
        return status != DumpStatus::NoDump && (crc32 || md5 || sha1 || sha256);
    }
    bool operator==(const ListRom&) const = default;
};

// What is known of an image to match it. The size and CRC32 are always
// known; a zip member checked from the archive's directory alone ("Trust
// archive checksums") has no other hash.
struct ImageHashes {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;
    std::optional<Md5Digest> md5;
    std::optional<Sha1Digest> sha1;
    std::optional<Sha256Digest> sha256;
};

// A list as read. Made only by the readers below, which also index it.
class ChecksumList {
public:
    std::string path;        // the file it was read from, as given
    std::string name;        // the header's name, e.g. "Nintendo - Game Boy Advance"
    std::string description; // the header's description
    std::string version;     // the header's version, e.g. "20260801-000000"
    // Every entry in the list's order, each once: an entry repeated with
    // the same game, name, figures, status and serial is kept the first time.
    std::vector<ListRom> roms;

    [[nodiscard]] std::size_t entryCount() const { return roms.size(); }

    // "Nintendo - Game Boy Advance 20260801-000000": the name, a blank and
    // the version (the name alone without one, the file's name without either).
    [[nodiscard]] std::string label() const;

    // Positions in `roms`, in list order, of the matchable entries that
    // could be this image: those with its size (or none) and its CRC32, and
    // those without a CRC32 that have the image's SHA-1, MD5 or SHA-256.
    // Whether every shared hash agrees is for the caller to check.
    [[nodiscard]] std::vector<std::uint32_t> candidates(const ImageHashes& image) const;

private:
    friend class ListBuilder;

    // Where the entries' texts live: blocks that never move once made.
    std::vector<std::unique_ptr<char[]>> texts_;
    std::size_t textRoom_ = 0; // bytes left in the last block

    // Sorted keys with the entry each belongs to; equal keys in list order.
    struct Index {
        std::vector<std::uint64_t> keys;
        std::vector<std::uint32_t> roms;
        [[nodiscard]] std::span<const std::uint32_t> find(std::uint64_t key) const;
    };
    Index byCrc32_;
    // Entries without a CRC32, by the first 8 bytes of their first hash of
    // SHA-1, MD5 and SHA-256, in that order.
    Index bySha1_;
    Index byMd5_;
    Index bySha256_;
};

// ---------------------------------------------------------------------------
// Reading.

// Every reason a list is refused: a FileError of kind Malformed whose what()
// names the file, the line and what was expected there:
//   Cannot read the checksum list "/x/y.dat": line 12: expected a quoted string after name
// In a .zip the member is named too ("... y.zip": y.dat: line 12: ...").
// Failures to open or read the file itself are plain FileErrors with the
// same operation ("read the checksum list") and the system's reason.
class ListError : public FileError {
public:
    ListError(const std::string& path, std::size_t line, const std::string& problem,
              const std::string& member = {});

    // The line the problem is on, counted from 1; 0 for the file as a whole.
    [[nodiscard]] std::size_t line() const { return line_; }
    // What was expected or what is wrong, e.g. "expected a quoted string after name".
    [[nodiscard]] const std::string& problem() const { return problem_; }
    // The archive member the problem is in, or empty.
    [[nodiscard]] const std::string& member() const { return member_; }

private:
    std::size_t line_;
    std::string problem_;
    std::string member_;
};

enum class ListFormat {
    Detect,     // by the content: a zip's signature, '<' for XML, else clrmamepro
    LogiqxXml,  // <datafile><header/><game><rom .../></game></datafile>
    Clrmamepro, // clrmamepro ( ... ) game ( ... rom ( ... ) )
    Zip,        // a .zip archive holding one .dat or .xml file in either format
};

// Limits that keep a hostile file from taking the program's memory.
inline constexpr std::uint64_t kMaxListFileSize = std::uint64_t{128}
                                                  << 20; // a list, or a zip's member
inline constexpr std::size_t kMaxListFieldLength = 4096; // any name, description or other text
inline constexpr std::size_t kMaxXmlDepth = 64;          // nested XML elements

// Reads the list at `path`: a regular file (a FIFO, device or directory is
// refused without waiting on it) of at most kMaxListFileSize bytes. Throws
// ListError for a file that is neither format or is malformed, FileError for
// one that cannot be opened or read; no list is made of a file in part.
[[nodiscard]] std::shared_ptr<const ChecksumList> loadChecksumList(const std::string& path);

// Reads a list from memory; `path` is only what the list and its errors name.
[[nodiscard]] std::shared_ptr<const ChecksumList>
parseChecksumList(std::span<const std::uint8_t> bytes, const std::string& path,
                  ListFormat format = ListFormat::Detect);

} // namespace kelvo

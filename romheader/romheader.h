// The Game Boy Advance cartridge header: where its fields lie, how they are
// decoded into the texts the windows show, and the file operations on an
// image (measure, read the header, write the title, copy to the title's name).
//
// Plain C++: no user-interface code, so it builds and tests without a display.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// ---------------------------------------------------------------------------
// Header layout. Offsets count bytes from the start of the image file.

// The whole cartridge header: the entry branch, the boot logo, the fields
// below, the fixed value and the check byte. A click reads all of it at once.
inline constexpr std::size_t kHeaderLength = 0xC0; // 192
// The console's boot logo, 156 bytes at 0x04..0x9F; a real console refuses a
// cartridge whose logo is not its own.
inline constexpr std::size_t kLogoOffset = 0x04;
inline constexpr std::size_t kLogoLength = 0xA0 - kLogoOffset;
inline constexpr std::uint32_t kLogoCrc32 = 0xD0BEB55E;
inline constexpr std::size_t kTitleOffset = 0xA0;
inline constexpr std::size_t kTitleWidth = 12;
inline constexpr std::size_t kGameTypeOffset = 0xAC;
inline constexpr std::size_t kCartIdOffset = 0xAD;
inline constexpr std::size_t kCartIdWidth = 2;
inline constexpr std::size_t kTerritoryOffset = 0xAF;
inline constexpr std::size_t kMakerOffset = 0xB0;
inline constexpr std::size_t kMakerWidth = 2;
// Every real header holds 0x96 here.
inline constexpr std::size_t kFixedValueOffset = 0xB2;
inline constexpr std::uint8_t kFixedValue = 0x96;
// The complement check covers 0xA0..0xBC and is stored at 0xBD.
inline constexpr std::size_t kCheckOffset = 0xBD;
inline constexpr std::size_t kCheckedLength = kCheckOffset - kTitleOffset; // 29
// A whole cartridge header ends here; writing a title needs at least this much.
inline constexpr std::int64_t kMinWritableLength = kHeaderLength;

using HeaderBytes = std::array<std::uint8_t, kHeaderLength>;
using TitleBytes = std::array<std::uint8_t, kTitleWidth>;

// Which file a path named when it was opened. Another file renamed over the
// path since (a download finishing, a sync tool) has another identity; an
// operation given the identity of the file whose header is shown refuses
// that other file with a FileError of kind Changed, writing nothing.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The header fields as read from an image. Character fields hold the raw
// bytes (one character per byte, NUL-padded, not NUL-terminated); decode them
// with visibleText() and the decode* functions.
struct RomHeader {
    TitleBytes title{};
    std::uint8_t gameType = 0;
    std::array<std::uint8_t, kCartIdWidth> cartId{};
    std::uint8_t territory = 0;
    std::array<std::uint8_t, kMakerWidth> makerCode{};
    std::int64_t sizeBytes = 0;
    std::int64_t sizeMbit = 0;
    std::uint8_t storedCheck = 0;   // byte 0xBD as found in the image
    std::uint8_t computedCheck = 0; // what 0xBD should hold for bytes 0xA0..0xBC
    HeaderBytes bytes{};            // bytes 0x00..0xBF as read; NUL past a short image's end
    FileIdentity identity;          // the file these were read from

    [[nodiscard]] bool checkValid() const { return storedCheck == computedCheck; }
};

// ---------------------------------------------------------------------------
// One-byte character mapping: Windows-1252, with its five unassigned bytes
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) mapped to the C1 controls of the same value,
// so every byte decodes to one character and encodes back to the same byte.
// Texts outside this module are UTF-8.

[[nodiscard]] char32_t decodeByte(std::uint8_t byte);
[[nodiscard]] std::optional<std::uint8_t> encodeChar(char32_t ch);
[[nodiscard]] inline bool isRepresentable(char32_t ch) {
    return encodeChar(ch).has_value();
}

// Decodes every byte, NULs included, to UTF-8.
[[nodiscard]] std::string decodeBytes(std::span<const std::uint8_t> bytes);

// The characters of a field up to, not including, the first NUL, as UTF-8.
[[nodiscard]] std::string visibleText(std::span<const std::uint8_t> field);

// The characters of a code field (cart ID, maker code) with its NULs left
// out: in a two-letter code a NUL is a gap, not the end of the text.
[[nodiscard]] std::string codeText(std::span<const std::uint8_t> field);

// The 12 bytes written for a typed title (UTF-8): the first 12 characters,
// blank-padded; a character the mapping cannot represent, or a malformed
// UTF-8 sequence, becomes '?'.
[[nodiscard]] TitleBytes encodeTitle(std::string_view text);

// Number of characters (code points) in a UTF-8 text; a malformed byte counts as one.
[[nodiscard]] std::size_t characterCount(std::string_view utf8);

// ---------------------------------------------------------------------------
// Decoding. Comparisons are exact and case-sensitive.

[[nodiscard]] std::string decodeMaker(std::span<const std::uint8_t, kMakerWidth> makerCode);
[[nodiscard]] std::string decodeGameType(std::uint8_t gameType);
// "J - Japanese", "E - English", ...; an unknown letter is shown as itself,
// a NUL as the empty text.
[[nodiscard]] std::string decodeTerritory(std::uint8_t territory);

// The complement check byte over the 29 bytes 0xA0..0xBC.
[[nodiscard]] std::uint8_t headerCheck(std::span<const std::uint8_t, kCheckedLength> bytes);

// Whether bytes 0x04..0x9F are the console's boot logo (their CRC32 is kLogoCrc32).
[[nodiscard]] bool bootLogoValid(const HeaderBytes& bytes);
// Whether byte 0xB2 holds the fixed value 0x96.
[[nodiscard]] inline bool fixedValueValid(const HeaderBytes& bytes) {
    return bytes[kFixedValueOffset] == kFixedValue;
}

// ---------------------------------------------------------------------------
// Size figures.

// Whole megabits: bytes / 131072, rounded to nearest, ties to even.
[[nodiscard]] std::int64_t megabitsFromBytes(std::int64_t sizeBytes);
// "32Mbit".
[[nodiscard]] std::string megabitText(std::int64_t sizeMbit);
// The decimal separator of the process's C locale (set by the application).
[[nodiscard]] std::string localeDecimalSeparator();
// Megabits / 8 in general number format followed by "MB": "4MB", "2.875MB", "0.125MB".
[[nodiscard]] std::string
megabyteText(std::int64_t sizeMbit, std::string_view decimalSeparator = localeDecimalSeparator());

// ---------------------------------------------------------------------------
// Errors. Every failing file-system step throws one FileError carrying the
// operation, the path and the system's reason; its what() reads
//   Cannot open "/roms/a.gba": Permission denied

class FileError : public std::runtime_error {
public:
    enum class Kind {
        System,        // a system call failed; code() holds errno
        NotRegular,    // a directory, FIFO, device... named like an image
        TooShort,      // shorter than a whole header; writing refused
        InvalidName,   // a title that cannot name a file
        SameFile,      // the copy's target is its source
        AlreadyExists, // the copy's target exists and replacing was not allowed
        Cancelled,     // the user (or a termination signal) stopped it; nothing was left
        Changed,       // the file changed between reading and writing; nothing was written
        Malformed,     // the file's contents are not in the format it should have
        TooLarge,      // larger than a cartridge image can be; padding refused
        NotAnImage,    // neither the console's boot logo nor its fixed value: no header to mend
    };

    FileError(Kind kind, std::string operation, std::string path, std::string reason, int code = 0);

    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] const std::string& operation() const { return operation_; }
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] const std::string& reason() const { return reason_; }
    [[nodiscard]] int code() const { return code_; }

private:
    Kind kind_;
    std::string operation_;
    std::string path_;
    std::string reason_;
    int code_;
};

// ---------------------------------------------------------------------------
// Paths and image file operations. Paths are native (bytes on POSIX).

inline constexpr char kDirSeparator =
#ifdef _WIN32
    '\\';
#else
    '/';
#endif

// Directory path + name, with one separator between them (none added after a root).
[[nodiscard]] std::string joinPath(std::string_view directoryPath, std::string_view name);

// Which file `path` names now (links followed); nothing when it names none.
[[nodiscard]] std::optional<FileIdentity> fileIdentity(const std::string& path);

// Length of a regular file in bytes, from the file system.
[[nodiscard]] std::int64_t imageLength(const std::string& path);

// Reads the whole header (0x00..0xBF) with one read and the size from the
// same open file; bytes past the end of a short image read as NUL. Fills
// every field of `header`, sizeBytes, sizeMbit and identity too.
void readHeader(const std::string& path, RomHeader& header);

// What writing a title found and left behind.
struct TitleWritten {
    bool checkWasValid = false; // the check byte before the write
    RomHeader header;           // the header as it is on disk after the write
};

// Writes the 12 title bytes at 0xA0 of an existing image of at least 192
// bytes. When the check byte was valid before, the new check is written too;
// a check that was already wrong is left alone (the new title may still make
// it right). See FileIdentity for `expected`.
TitleWritten writeTitle(const std::string& path, const TitleBytes& editTitle,
                        const FileIdentity* expected = nullptr);

// Why a title cannot name a file in a directory: std::nullopt when it can,
// otherwise a sentence naming the offending characters.
[[nodiscard]] std::optional<std::string> titleNameProblem(std::string_view titleText);

enum class Overwrite { Refuse, Replace };

// How far a long operation has come, in bytes of `total`; returning false
// asks it to stop. A stopped operation undoes what it did and throws a
// FileError of kind Cancelled. Called often enough to keep a window drawn.
using Progress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Copies the image to joinPath(directoryPath, titleText + ".gba"): cloned
// where the file system can, else copied keeping its holes, into a file that
// takes the target's name only when complete and synced. The copy gets the
// source's permission bits masked by the umask. Returns the target path.
// The whole source is copied, to its end, whatever size the file system
// gave for it. Stops, leaving nothing behind and an existing target as it
// was, when `progress` returns false or a termination signal arrives (see
// termination.h); such a signal then ends the program once the copy is
// undone. A directory that cannot be synced fails the copy after the copy
// took its name. See FileIdentity for `expectedSource`.
std::string copyToTitle(const std::string& sourcePath, const std::string& directoryPath,
                        std::string_view titleText, Overwrite overwrite = Overwrite::Refuse,
                        const Progress& progress = {},
                        const FileIdentity* expectedSource = nullptr);

// An open that waits for another program to give up its lease on a file (a
// file server's oplock or delegation, a sync tool's lease) tells the
// process's observer, so the program can show that it is busy and offer a
// way out; the kernel ends such a wait after /proc/sys/fs/lease-break-time
// (45 s by default). Without an observer the wait goes on until the lease
// is given up or broken, or a termination signal arrives (see termination.h).
class WaitObserver {
public:
    virtual ~WaitObserver() = default;
    // Asked at once when the open of `path` has to wait, and again every few
    // milliseconds while it waits; false gives up, and the open fails with a
    // FileError of kind Cancelled.
    [[nodiscard]] virtual bool goOn(const std::string& path) = 0;
    // The wait that goOn was asked about is over, however it ended.
    virtual void waitEnded() = 0;
};

// Makes `observer` (nullptr: none) the process's; returns the one it replaces.
WaitObserver* setWaitObserver(WaitObserver* observer);

// Appends the whole of `data` to the file at `path` (created if missing, the
// target of a dangling link included) under an advisory lock, so a failure
// never leaves part of it or a file this call created behind, and never cuts
// away what another writer appended. While another program holds the lock,
// `progress` hears (0, 0) every few milliseconds; returning false, or a
// termination signal, stops the wait with a FileError of kind Cancelled.
void appendToFile(const std::string& path, std::string_view data, const Progress& progress = {});

} // namespace kelvo

#include "romheader/dirlist.h"

namespace kelvo {} // namespace kelvo

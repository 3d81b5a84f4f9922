// Everything an image's header and contents say, for the Image Details
// dialog: the header decoded and checked, the save-type IDs the whole-file
// pass (imagescan.h) finds, the rows the dialog shows, and the header repair
// that makes a header one the console accepts.
//
// Plain C++ like the rest of the core.
#pragma once

#include "romheader/imagescan.h"
#include "romheader/romheader.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// Bytes past the logo, below the check byte.
inline constexpr std::size_t kUnitCodeOffset = 0xB3;   // 0x00 on every released cartridge
inline constexpr std::size_t kDeviceTypeOffset = 0xB4; // debugging hardware; normally 0x00
inline constexpr std::size_t kVersionOffset = 0xBC;    // the software version, a number
// The image starts running here: offset 0 holds a branch to the real entry.
inline constexpr std::uint32_t kCartridgeBase = 0x08000000;

// ---------------------------------------------------------------------------
// The header, decoded and checked: a pure function of its 192 bytes.

struct HeaderInfo {
    std::optional<std::uint32_t> entryPoint; // where the branch at offset 0 goes; none if no branch
    bool logoValid = false;
    std::uint8_t fixedValue = 0;
    std::uint8_t unitCode = 0;
    std::uint8_t deviceType = 0;
    std::uint8_t version = 0;
    std::uint8_t storedCheck = 0;
    std::uint8_t computedCheck = 0;
    TitleBytes title{};
    std::array<std::uint8_t, 4> gameCode{}; // type letter, two-letter ID, territory
    std::array<std::uint8_t, kMakerWidth> makerCode{};
    std::string makerName; // empty for a code the table does not know

    [[nodiscard]] bool fixedValueValid() const { return fixedValue == kFixedValue; }
    [[nodiscard]] bool checkValid() const { return storedCheck == computedCheck; }
};

[[nodiscard]] HeaderInfo decodeHeaderInfo(const HeaderBytes& bytes);

// The target of an unconditional ARM branch (B or BL) stored little-endian
// at `address`; std::nullopt for any other instruction.
[[nodiscard]] std::optional<std::uint32_t> armBranchTarget(std::uint32_t instruction,
                                                           std::uint32_t address);

// The company behind a two-character licensee code ("01" -> "Nintendo");
// empty when the code is not in the table.
[[nodiscard]] std::string_view makerName(std::span<const std::uint8_t, kMakerWidth> makerCode);
// The Maker row's value: "01 - Nintendo", "ZZ (unknown)", or "none" for no code.
[[nodiscard]] std::string makerText(const HeaderInfo& info);

// ---------------------------------------------------------------------------
// Save types.

// The save-type IDs the console's save libraries leave in an image, found at
// 4-byte-aligned positions of `bytes` (which start at an aligned file offset):
// each appended to `found` unless already there. An ID may run on past the
// end of `bytes`; unless `atEnd`, the last bytes that could start one are
// left unexamined. Returns how many leading bytes were examined, a multiple
// of 4: the caller passes the rest again in front of the next bytes.
std::size_t findSaveIds(std::span<const std::uint8_t> bytes, bool atEnd,
                        std::vector<std::string>& found);

// "SRAM 32 KiB" for "SRAM_V113"; empty for anything else.
[[nodiscard]] std::string_view saveTypeOf(std::string_view saveId);

// ---------------------------------------------------------------------------
// The dialog's rows: a caption and its finished value each.

struct DetailRow {
    std::string caption;
    std::string value;
};

// How the user's locale writes numbers. Grouping digits is the locale's
// business (the window passes it in); by default there is none.
struct NumberStyle {
    std::function<std::string(std::uint64_t)> grouped = [](std::uint64_t n) {
        return std::to_string(n);
    };
    std::string decimalSeparator = ".";
};

// File, Size, Title, Game code, Maker, Entry point, Logo, Fixed value, Unit
// code, Device type, Version, Check byte, Save type, CRC32, MD5, SHA-1,
// SHA-256 and Padding, in that order. A file shorter than a header has a
// row "Header" saying so in place of the header's rows and the save type.
[[nodiscard]] std::vector<DetailRow> imageDetails(std::string_view path, const ImageScan& scan,
                                                  const NumberStyle& style = {});
// The rows of those that need no more than the file's size and its header:
// File, Size and Title to Check byte.
[[nodiscard]] std::vector<DetailRow> headerDetails(std::string_view path, std::uint64_t size,
                                                   const HeaderBytes& header,
                                                   const NumberStyle& style = {});

// "0x96".
[[nodiscard]] std::string byteText(std::uint8_t value);
[[nodiscard]] std::string hexText(std::span<const std::uint8_t> bytes);
// Whether the run of identical bytes that ends an image is padding: 0xFF or
// 0x00, at least 1 KiB of it.
[[nodiscard]] bool isPadding(std::uint8_t lastByte, std::uint64_t run);
// "1048576 bytes of 0xFF", or "none" when the run is under 1 KiB or of any
// other byte.
[[nodiscard]] std::string paddingText(const ImageScan& scan, const NumberStyle& style = {});
// "SRAM 32 KiB (SRAM_V113); Flash 64 KiB (FLASH_V)", or what none found means.
[[nodiscard]] std::string saveTypeText(const std::vector<std::string>& saveIds);

// ---------------------------------------------------------------------------
// Header repair: the fixed value at 0xB2, then the check byte at 0xBD. The
// boot logo cannot be repaired: the program does not carry the console's.

struct HeaderChange {
    std::size_t offset;
    std::uint8_t before;
    std::uint8_t after;
    bool operator==(const HeaderChange&) const = default;
};

struct RepairPlan {
    std::vector<HeaderChange> changes; // by offset; empty when nothing needs mending
    bool logoValid = false;
};

[[nodiscard]] RepairPlan planRepair(const HeaderBytes& bytes);
// "Byte 0xBD (check byte): 0x51 becomes 0x50"
[[nodiscard]] std::string changeText(const HeaderChange& change);

// Reads the header of an image of at least 192 bytes and plans its repair.
// A file with neither the console's boot logo nor its fixed value is no
// image to repair: refused with a FileError of kind NotAnImage.
[[nodiscard]] RepairPlan planRepair(const std::string& path);

// Makes exactly the changes of `plan`, planned from the file as it is now:
// in one write, followed by fsync, never creating or lengthening the file.
// Writes nothing and throws (kind Changed) when the header is no longer the
// one the plan was made from, or the file not the `expected` one; refuses
// what planRepair(path) refuses.
void repairHeader(const std::string& path, const RepairPlan& plan,
                  const FileIdentity* expected = nullptr);

} // namespace kelvo

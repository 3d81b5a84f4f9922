// Image Details and Repair Header in the core: the header decoded row by
// row, the save-type scan, the one pass over a file (hashes, IDs, padding)
// and the repair's bytes on disk.
#include "romheader/imageinfo.h"
#include "romheader/tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace kelvo;
using namespace kelvo::test;

HeaderBytes sampleHeader() {
    const Bytes image = sampleImage();
    HeaderBytes bytes{};
    std::copy_n(image.begin(), bytes.size(), bytes.begin());
    return bytes;
}

// A logo area whose CRC32 is the console's without being its picture: 152
// bytes of i * 13 + 5, then four bytes solved for with Python's zlib.crc32.
std::string forgedLogo(std::size_t flipped = kLogoLength) {
    std::string logo;
    for (std::size_t i = 0; i < 152; ++i)
        logo += char(i * 13 + 5);
    logo += "\x36\x15\xAA\x43";
    if (flipped < logo.size())
        logo[flipped] ^= 1;
    return logo;
}

std::string rowValue(const std::vector<DetailRow>& rows, std::string_view caption) {
    for (const DetailRow& row : rows) {
        if (row.caption == caption)
            return row.value;
    }
    return "<no row " + std::string(caption) + ">";
}

// ---------------------------------------------------------------------------
// The header's rows: `bytes` written at `offset` of the sample header.

struct HeaderRow {
    const char* name;
    std::size_t offset;
    std::string bytes;
    const char* caption;
    std::string shown;
};

class HeaderRows : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(HeaderRows, Decodes) {
    const HeaderRow& row = GetParam();
    ImageScan scan;
    scan.header = sampleHeader();
    scan.size = kHeaderLength;
    std::copy(row.bytes.begin(), row.bytes.end(), scan.header.begin() + long(row.offset));
    EXPECT_EQ(rowValue(imageDetails("/roms/a.gba", scan), row.caption), row.shown);
}

const std::string kNul(1, '\0');
const std::string kBadLogo = "invalid: a real console refuses to boot this image";

INSTANTIATE_TEST_SUITE_P(
    Fields, HeaderRows,
    ::testing::Values(
        HeaderRow{"b_rom_start", 0, "\x2E" + kNul + kNul + "\xEA", "Entry point", "0x080000C0"},
        HeaderRow{"bl_jumps_too", 0, "\x2E" + kNul + kNul + "\xEB", "Entry point", "0x080000C0"},
        HeaderRow{"branch_to_itself", 0, "\xFE\xFF\xFF\xEA", "Entry point", "0x08000000"},
        HeaderRow{"farthest_back", 0, kNul + kNul + "\x80\xEA", "Entry point", "0x06000008"},
        HeaderRow{"conditional", 0, "\x2E" + kNul + kNul + "\x0A", "Entry point", "not a branch"},
        HeaderRow{"mov", 0, kNul + kNul + "\xA0\xE3", "Entry point", "not a branch"},
        HeaderRow{"logo_crc_matches", kLogoOffset, forgedLogo(), "Logo", "valid"},
        HeaderRow{"logo_last_byte_counts", kLogoOffset, forgedLogo(155), "Logo", kBadLogo},
        HeaderRow{"logo_starts_at_4", 3, "\x01" + forgedLogo(), "Logo", "valid"},
        HeaderRow{"thq", 0xB0, "78", "Maker", "78 - THQ"},
        HeaderRow{"unknown_code", 0xB0, "7Z", "Maker", "7Z (unknown)"},
        HeaderRow{"lower_case_unknown", 0xB0, "gd", "Maker", "gd (unknown)"},
        HeaderRow{"no_code", 0xB0, kNul + kNul, "Maker", "none"},
        HeaderRow{"fixed_value_wrong", 0xB2, kNul, "Fixed value", "0x00 (must be 0x96)"},
        HeaderRow{"unit_code_set", 0xB3, "\x01", "Unit code", "0x01 (0x00 expected)"},
        HeaderRow{"device_type", 0xB4, "\x80", "Device type", "0x80"},
        HeaderRow{"version_as_number", 0xBC, "\x0C", "Version", "12"},
        HeaderRow{"check_bad", 0xBD, "\x51", "Check byte", "stored 0x51, computed 0x50: bad"},
        HeaderRow{"title_nuls_as_blanks", 0xA7, std::string(5, '\0'), "Title",
                  "\"SAMPLE      \" (53 41 4D 50 4C 45 20 00 00 00 00 00)"},
        HeaderRow{"title_decoded", 0xA0, "CAF\xC9", "Title",
                  "\"CAF\u00C9LE TITLE\" (43 41 46 C9 4C 45 20 54 49 54 4C 45)"},
        HeaderRow{"game_code_special_type", 0xAC, "UZZE", "Game code",
                  "UZZE: type U (real-time clock and solar sensor), ID ZZ, territory E - English"},
        HeaderRow{"game_code_unknown_letters", 0xAC, "XABQ", "Game code",
                  "XABQ: type X, ID AB, territory Q"},
        HeaderRow{"game_code_none", 0xAC, std::string(4, '\0'), "Game code", "none"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetailRows, CaptionsInOrderAndNumbersInTheGivenStyle) {
    ImageScan scan;
    scan.header = sampleHeader();
    scan.size = 3000000;
    scan.lastByte = 0xFF;
    scan.trailingRun = 1048576;
    const NumberStyle style{[](std::uint64_t n) { return "<" + std::to_string(n) + ">"; }, ","};
    std::string all;
    for (const DetailRow& row : imageDetails("/roms/a.gba", scan, style))
        all += row.caption + ": " + row.value + '\n';
    EXPECT_EQ(all, "File: /roms/a.gba\nSize: <3000000> bytes (23Mbit, 2,875MB)\n"
                   "Title: \"SAMPLE TITLE\" (53 41 4D 50 4C 45 20 54 49 54 4C 45)\n"
                   "Game code: AXYJ: type A (normal game), ID XY, territory J - Japanese\n"
                   "Maker: 01 - Nintendo\nEntry point: not a branch\nLogo: " +
                       kBadLogo +
                       "\nFixed value: 0x96 (as required)\nUnit code: 0x00\nDevice type: 0x00\n"
                       "Version: 0\nCheck byte: stored 0x50, computed 0x50: OK\n"
                       "Save type: none found (no save, or a homebrew image without an ID)\n"
                       "CRC32: 00000000\nMD5: 00000000000000000000000000000000\n"
                       "SHA-1: 0000000000000000000000000000000000000000\nSHA-256: " +
                       std::string(64, '0') + "\nPadding: <1048576> bytes of 0xFF\n");
}

// A file shorter than a header has no header to decode: its rows say so.
class ShortFileRows : public ::testing::TestWithParam<std::uint64_t> {};

TEST_P(ShortFileRows, NameNoHeaderFields) {
    ImageScan scan;
    scan.header = sampleHeader(); // whatever bytes it holds must not be decoded
    scan.size = GetParam();
    std::string captions;
    for (const DetailRow& row : imageDetails("/roms/a.gba", scan))
        captions += row.caption + (row.caption == "Header" ? ": " + row.value : "") + '\n';
    EXPECT_EQ(captions, "File\nSize\nHeader: none: the file is shorter than a header (192 "
                        "bytes)\nCRC32\nMD5\nSHA-1\nSHA-256\nPadding\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortFileRows, ::testing::Values(0, 37, 191));

// ---------------------------------------------------------------------------
// Save-type IDs: only at 4-byte-aligned offsets, digits optional, each once.

using Placed = std::vector<std::pair<std::size_t, std::string>>;

struct SaveIdRow {
    const char* name;
    Placed placed;
    std::string shown;
};

class SaveIds : public ::testing::TestWithParam<SaveIdRow> {};

TEST_P(SaveIds, FoundInOrder) {
    Bytes bytes(0x400, 0xEE);
    for (const auto& [offset, text] : GetParam().placed) {
        bytes.resize(std::max(bytes.size(), offset + text.size()), 0xEE);
        std::copy(text.begin(), text.end(), bytes.begin() + long(offset));
    }
    std::vector<std::string> found;
    EXPECT_EQ(findSaveIds(bytes, true, found), bytes.size());
    EXPECT_EQ(saveTypeText(found), GetParam().shown);
}

const std::string kNoSave = "none found (no save, or a homebrew image without an ID)";

INSTANTIATE_TEST_SUITE_P(
    Images, SaveIds,
    ::testing::Values(
        SaveIdRow{"none", {}, kNoSave},
        SaveIdRow{"sram_with_version", {{0x100, "SRAM_V113"}}, "SRAM 32 KiB (SRAM_V113)"},
        SaveIdRow{"homebrew_without_digits", {{0x40, "FLASH1M_Vxyz"}}, "Flash 128 KiB (FLASH1M_V)"},
        SaveIdRow{"two_digits_no_version", {{0x40, "FLASH512_V12x"}}, "Flash 64 KiB (FLASH512_V)"},
        SaveIdRow{"at_the_very_end", {{0x400, "SRAM_V"}}, "SRAM 32 KiB (SRAM_V)"},
        SaveIdRow{"several_first_found_first",
                  {{0x200, "FLASH_V126"},
                   {0x80, "SRAM_F_V100"},
                   {0x300, "SRAM_F_V100"},
                   {0x3F0, "EEPROM_V124"}},
                  "FRAM 32 KiB (SRAM_F_V100); Flash 64 KiB (FLASH_V126); "
                  "EEPROM (512 B or 8 KiB) (EEPROM_V124)"},
        SaveIdRow{"unaligned_do_not_count",
                  {{0x101, "SRAM_V113"}, {0x202, "EEPROM_V124"}, {0x303, "FLASH_V126"}},
                  kNoSave}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The whole-file pass over `pattern` bytes of i * 7 + 3, then `padLength` x
// `pad`, with `placed` strings written over them. The digests (CRC32, MD5,
// SHA-1, SHA-256) were computed with Python's zlib and hashlib.

struct PassRow {
    const char* name;
    std::size_t pattern;
    std::uint8_t pad;
    std::size_t padLength;
    Placed placed;
    const char* padding;
    std::vector<std::string> saveIds;
    std::string digests; // empty: not checked
};

class WholeFilePass : public ScratchDirTest, public ::testing::WithParamInterface<PassRow> {};

TEST_P(WholeFilePass, HashesIdsAndPadding) {
    const PassRow& row = GetParam();
    Bytes bytes;
    for (std::size_t i = 0; i < row.pattern; ++i)
        bytes.push_back(std::uint8_t(i * 7 + 3));
    bytes.insert(bytes.end(), row.padLength, row.pad);
    for (const auto& [offset, text] : row.placed)
        std::copy(text.begin(), text.end(), bytes.begin() + long(offset));
    const std::string image = path("image.gba");
    writeFile(image, bytes);

    std::uint64_t reported = 0;
    const ImageScan scan = scanImage(image, [&](std::uint64_t done, std::uint64_t total) {
        EXPECT_EQ(total, bytes.size());
        EXPECT_GE(done, reported) << "progress went backwards";
        reported = done;
        return true;
    });
    EXPECT_EQ(reported, bytes.size()) << "progress never reached the end";
    EXPECT_EQ(scan.size, bytes.size());
    const auto rows = imageDetails(image, scan);
    if (!row.digests.empty()) {
        EXPECT_EQ(rowValue(rows, "CRC32") + ' ' + rowValue(rows, "MD5") + ' ' +
                      rowValue(rows, "SHA-1") + ' ' + rowValue(rows, "SHA-256"),
                  row.digests);
    }
    EXPECT_EQ(rowValue(rows, "Padding"), row.padding);
    EXPECT_EQ(scan.saveIds, row.saveIds);
    const std::size_t headerPart = std::min(bytes.size(), kHeaderLength);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + long(headerPart), scan.header.begin()));

    // Every other way of feeding the pass finds the same: one thread, and
    // pieces of awkward lengths (an ID split anywhere, pieces past a chunk).
    EXPECT_EQ(scanImage(image, {}, HashThreads::One), scan) << "one thread";
    for (const HashThreads threads : {HashThreads::One, HashThreads::Parallel}) {
        ImageHasher hasher(threads);
        const std::size_t pieces[] = {1, 5, 13, 4099, kScanChunk + 3, 2};
        for (std::size_t at = 0, i = 0; at < bytes.size(); ++i) {
            const std::size_t length = std::min(pieces[i % std::size(pieces)], bytes.size() - at);
            hasher.feed(std::span(bytes).subspan(at, length));
            at += length;
        }
        EXPECT_EQ(hasher.finish(), scan) << "fed in pieces, parallel: " << int(threads);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WholeFilePass,
    ::testing::Values(
        PassRow{"empty",
                0,
                0,
                0,
                {},
                "none",
                {},
                "00000000 d41d8cd98f00b204e9800998ecf8427e "
                "da39a3ee5e6b4b0d3255bfef95601890afd80709 "
                "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        PassRow{"abc",
                3,
                0,
                0,
                {{0, "abc"}},
                "none",
                {},
                "352441c2 900150983cd24fb0d6963f7d28e17f72 "
                "a9993e364706816aba3e25717850c26c9cd0d89d "
                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // FLASH1M_V starts 4 bytes before the first chunk ends; EEPROM_V124 is unaligned.
        PassRow{"ff_padding_and_ids_across_chunks",
                300000,
                0xFF,
                400000,
                {{0x1000, "SRAM_V113"},
                 {kScanChunk - 4, "FLASH1M_V"},
                 {0x2002, "EEPROM_V124"},
                 {0x3000, "SRAM_V113"}},
                "400000 bytes of 0xFF",
                {"SRAM_V113", "FLASH1M_V"},
                "34978493 c5393d4e8b1191ce6453885a0deee527 "
                "39ddbb00eddaa2969df63054ec89a7c31f1001ea "
                "af9c2d2289a0569c3b0fee016365da7875ee9ede1d8f0fa47032ed859eda948e"},
        PassRow{"all_ff_over_three_chunks",
                0,
                0xFF,
                600003,
                {},
                "600003 bytes of 0xFF",
                {},
                "88ec551d f5d35ad7e907f7e52bba0120f3e09484 "
                "77b56e76a04bdf5829fed6727b964418f21240c6 "
                "f530a13b1caa6cb79a64563791a4ea6289218ea1477f151bf6dbdbe85e63a302"},
        PassRow{"zero_run_under_1_kib", 5000, 0, 1023, {}, "none", {}, ""},
        PassRow{"zero_run_of_1_kib", 5000, 0, 1024, {}, "1024 bytes of 0x00", {}, ""},
        PassRow{"zero_run_of_odd_length", 5000, 0, 1029, {}, "1029 bytes of 0x00", {}, ""},
        PassRow{"run_of_another_byte", 0, 0xAB, 4096, {}, "none", {}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WholeFilePass, CancelledWhenProgressSaysStop) {
    const std::string image = path("big.gba");
    writeFile(image, Bytes(3 * kScanChunk, 0xFF));
    int calls = 0;
    try {
        (void)scanImage(image, [&](std::uint64_t, std::uint64_t) { return ++calls < 2; });
        FAIL() << "the pass went on after progress said stop";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::Cancelled) << error.what();
    }
    EXPECT_EQ(calls, 2);
}

TEST(WholeFilePassPieces, FindsIdsSplitAnywhere) {
    Bytes bytes(0x100, 0xEE);
    const std::string_view sram = "SRAM_V113", flash = "FLASH1M_V103";
    std::copy(sram.begin(), sram.end(), bytes.begin() + 0x40);
    std::copy(flash.begin(), flash.end(), bytes.begin() + 0x4C);
    std::copy(sram.begin(), sram.end(), bytes.begin() + 0x61); // unaligned: not an ID
    const std::vector<std::string> expected = {"SRAM_V113", "FLASH1M_V103"};
    for (std::size_t piece = 1; piece <= 40; ++piece) {
        ImageHasher hasher;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            hasher.feed(std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
        EXPECT_EQ(hasher.finish().saveIds, expected) << "fed in pieces of " << piece;
    }
}

// Trimmed dumps: `pattern` bytes of i * 7 + 3 padded to `paddedSize` with
// 0xFF and with 0x00, from one read. Digests from Python's zlib and hashlib
// over the padded bytes.
struct PaddedRow {
    const char* name;
    std::size_t pattern;
    std::uint64_t paddedSize;
    std::string ff;
    std::string zero;
};

class PaddedPass : public ScratchDirTest, public ::testing::WithParamInterface<PaddedRow> {};

TEST_P(PaddedPass, HashesThePaddingNeverWritten) {
    const PaddedRow& row = GetParam();
    Bytes bytes;
    for (std::size_t i = 0; i < row.pattern; ++i)
        bytes.push_back(std::uint8_t(i * 7 + 3));
    const std::string image = path("trimmed.gba");
    writeFile(image, bytes);
    const std::uint8_t pads[] = {0xFF, 0x00};
    for (const HashThreads threads : {HashThreads::One, HashThreads::Parallel}) {
        std::uint64_t reported = 0;
        const auto scans = scanImagePadded(
            image, pads, row.paddedSize,
            [&](std::uint64_t done, std::uint64_t) { return (reported = done), true; }, threads);
        ASSERT_EQ(scans.size(), 2u);
        const std::string got[] = {rowValue(imageDetails(image, scans[0]), "CRC32") + ' ' +
                                       rowValue(imageDetails(image, scans[0]), "SHA-256"),
                                   rowValue(imageDetails(image, scans[1]), "CRC32") + ' ' +
                                       rowValue(imageDetails(image, scans[1]), "SHA-256")};
        EXPECT_EQ(got[0], row.ff) << "padded with 0xFF";
        EXPECT_EQ(got[1], row.zero) << "padded with 0x00";
        const std::uint64_t padding = std::max(row.paddedSize, row.pattern) - row.pattern;
        EXPECT_EQ(scans[1].size, row.pattern + padding);
        EXPECT_EQ(scans[1].trailingRun, padding > 0 ? padding : 1);
        EXPECT_EQ(reported, row.pattern + 2 * padding) << "progress did not reach the end";
    }
    EXPECT_EQ(readFile(image), bytes) << "padding was written to the image";
}

INSTANTIATE_TEST_SUITE_P(
    Files, PaddedPass,
    ::testing::Values(
        PaddedRow{"odd_size_over_chunks", 300001, 524288,
                  "bf52c23e c1f115a11d9df2964e6a39f390d61c8bd39dce69119d5a81009bd2eff52e159d",
                  "e7fc8178 c6fc3829f508eda0528ef6bd6891fd2666f7078fb06010f1e66a72f3ecf988b9"},
        PaddedRow{"small", 5000, 8192,
                  "b1fff7aa 3ef03bee081f00d363ad0e641dd284520cef31068c7b1f8623795278428c3a7f",
                  "36656478 99b5b007d5cf5f780480836931375ae5ea202bf6a87894a13bdb778a1dc0ff03"},
        PaddedRow{"already_that_long", 5000, 4096,
                  "1abd04d4 34398b85297bf7d9dfb59b8d511d8bbb44ab23e891570e4395e7871475fc8afb",
                  "1abd04d4 34398b85297bf7d9dfb59b8d511d8bbb44ab23e891570e4395e7871475fc8afb"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Repair Header: the fixed value, then the check byte, on disk; nothing else.

// The check byte as GBATEK defines it: subtract each byte, then 0x19.
std::uint8_t independentCheck(const Bytes& image) {
    std::uint8_t check = 0;
    for (std::size_t i = 0xA0; i <= 0xBC; ++i)
        check = std::uint8_t(check - image[i]);
    return std::uint8_t(check - 0x19);
}

struct RepairRow {
    const char* name;
    std::uint8_t fixedValue;
    std::optional<std::uint8_t> storedCheck; // else valid for the fixed value
    std::string changes;                     // as the confirmation lists them
};

class Repair : public ScratchDirTest, public ::testing::WithParamInterface<RepairRow> {};

TEST_P(Repair, ChangesOnlyFixedValueAndCheck) {
    const RepairRow& row = GetParam();
    Bytes before = sampleImage();
    const std::string logo = forgedLogo();
    std::copy(logo.begin(), logo.end(), before.begin() + kLogoOffset);
    before[0xB2] = row.fixedValue;
    before[0xBD] = row.storedCheck.value_or(independentCheck(before));
    const std::string image = path("image.gba");
    writeFile(image, before);

    const RepairPlan plan = planRepair(image);
    std::string described;
    for (const HeaderChange& change : plan.changes)
        described += changeText(change) + '\n';
    EXPECT_EQ(described, row.changes);
    EXPECT_TRUE(plan.logoValid);
    repairHeader(image, plan);

    Bytes expected = before;
    expected[0xB2] = 0x96;
    expected[0xBD] = independentCheck(expected);
    EXPECT_EQ(readFile(image), expected);
}

const std::string kFixed = "Byte 0xB2 (fixed value): 0x00 becomes 0x96\n";

INSTANTIATE_TEST_SUITE_P(
    Headers, Repair,
    ::testing::Values(
        RepairRow{"both_wrong", 0x00, 0x12, kFixed + "Byte 0xBD (check byte): 0x12 becomes 0x50\n"},
        RepairRow{"only_check_wrong", 0x96, 0x51, "Byte 0xBD (check byte): 0x51 becomes 0x50\n"},
        RepairRow{"check_right_for_a_wrong_fixed_value", 0x00, std::nullopt,
                  kFixed + "Byte 0xBD (check byte): 0xE6 becomes 0x50\n"},
        RepairRow{"nothing_to_do", 0x96, std::nullopt, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// Neither the logo nor the fixed value: not an image, whatever its bytes say.
TEST_F(Repair, NotAnImageIsLeftAlone) {
    Bytes before = sampleImage();
    before[0xB2] = 0x00;
    const std::string image = path("readme.gba");
    writeFile(image, before);
    const std::function<void()> repairs[] = {[&] { (void)planRepair(image); },
                                             [&] {
                                                 repairHeader(image, {{{0xB2, 0x00, 0x96}}, false});
                                             }};
    for (const auto& repair : repairs) {
        try {
            repair();
            ADD_FAILURE() << "a file that is not an image was repaired";
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::NotAnImage) << error.what();
            EXPECT_NE(error.reason().find("does not look like a GBA image"), std::string::npos);
        }
    }
    EXPECT_EQ(readFile(image), before);
}

TEST_F(Repair, HeaderChangedSincePlannedIsLeftAlone) {
    Bytes before = sampleImage();
    before[0xBD] = 0x51;
    const std::string image = path("image.gba");
    writeFile(image, before);
    const RepairPlan plan = planRepair(image);
    before[0xA0] = 'X'; // another program retitles it meanwhile
    writeFile(image, before);
    try {
        repairHeader(image, plan);
        FAIL() << "a plan for another header was written";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::Changed) << error.what();
    }
    EXPECT_EQ(readFile(image), before);
}

} // namespace

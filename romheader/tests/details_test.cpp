// Image Details and Repair Header in the core: the header decoded row by
// row, the save-type scan, the one pass over a file (hashes, IDs, padding)
// and the repair's bytes on disk.
#include "romheader/imageinfo.h"
#include "romheader/tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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

void put(HeaderBytes& bytes, std::size_t offset, std::string_view text) {
    std::copy(text.begin(), text.end(), bytes.begin() + long(offset));
}

// A logo area whose CRC32 is the console's without being its picture: 152
// bytes of i * 13 + 5, then four bytes solved for with Python's zlib.crc32.
void putForgedLogo(HeaderBytes& bytes) {
    for (std::size_t i = 0; i < 152; ++i)
        bytes[kLogoOffset + i] = std::uint8_t(i * 13 + 5);
    put(bytes, kLogoOffset + 152, "\x36\x15\xAA\x43");
}

std::string rowValue(const std::vector<DetailRow>& rows, std::string_view caption) {
    for (const DetailRow& row : rows) {
        if (row.caption == caption)
            return row.value;
    }
    return "<no row " + std::string(caption) + ">";
}

// ---------------------------------------------------------------------------
// The header's rows, one changed field per case.

struct HeaderRow {
    const char* name;
    std::function<void(HeaderBytes&)> change;
    const char* caption;
    std::string shown;
};
void PrintTo(const HeaderRow& row, std::ostream* out) {
    *out << row.name;
}

class HeaderRows : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(HeaderRows, Decodes) {
    const HeaderRow& row = GetParam();
    ImageScan scan;
    scan.header = sampleHeader();
    row.change(scan.header);
    EXPECT_EQ(rowValue(imageDetails("/roms/a.gba", scan), row.caption), row.shown)
        << "row " << row.caption;
}

const auto at = [](std::size_t offset, std::string bytes) {
    return [offset, bytes](HeaderBytes& header) { put(header, offset, bytes); };
};
const auto unchanged = [](HeaderBytes&) {};
const auto forgedLogo = [](HeaderBytes& header) { putForgedLogo(header); };
const std::string kNul(1, '\0');

INSTANTIATE_TEST_SUITE_P(
    Fields, HeaderRows,
    ::testing::Values(
        HeaderRow{"b_rom_start", at(0, "\x2E" + kNul + kNul + "\xEA"), "Entry point", "0x080000C0"},
        HeaderRow{"bl_jumps_too", at(0, "\x2E" + kNul + kNul + "\xEB"), "Entry point",
                  "0x080000C0"},
        HeaderRow{"branch_to_itself", at(0, "\xFE\xFF\xFF\xEA"), "Entry point", "0x08000000"},
        HeaderRow{"farthest_back", at(0, kNul + kNul + "\x80\xEA"), "Entry point", "0x06000008"},
        HeaderRow{"conditional_is_not", at(0, "\x2E" + kNul + kNul + "\x0A"), "Entry point",
                  "not a branch"},
        HeaderRow{"mov_is_not", at(0, kNul + kNul + "\xA0\xE3"), "Entry point", "not a branch"},
        HeaderRow{"logo_crc_matches", forgedLogo, "Logo", "valid"},
        HeaderRow{"logo_last_byte_counts",
                  [](HeaderBytes& h) {
                      putForgedLogo(h);
                      h[0x9F] ^= 1;
                  },
                  "Logo", "invalid: a real console refuses to boot this image"},
        HeaderRow{"logo_starts_at_4",
                  [](HeaderBytes& h) {
                      putForgedLogo(h);
                      h[0x03] ^= 1;
                  },
                  "Logo", "valid"},
        HeaderRow{"sample_logo_invalid", unchanged, "Logo",
                  "invalid: a real console refuses to boot this image"},
        HeaderRow{"nintendo", unchanged, "Maker", "01 - Nintendo"},
        HeaderRow{"thq", at(0xB0, "78"), "Maker", "78 - THQ"},
        HeaderRow{"disney", at(0xB0, "4Q"), "Maker", "4Q - Disney Interactive"},
        HeaderRow{"square_enix", at(0xB0, "GD"), "Maker", "GD - Square Enix"},
        HeaderRow{"unknown_code", at(0xB0, "7Z"), "Maker", "7Z (unknown)"},
        HeaderRow{"lower_case_unknown", at(0xB0, "gd"), "Maker", "gd (unknown)"},
        HeaderRow{"no_code", at(0xB0, kNul + kNul), "Maker", "none"},
        HeaderRow{"fixed_value_right", unchanged, "Fixed value", "0x96 (as required)"},
        HeaderRow{"fixed_value_wrong", at(0xB2, kNul), "Fixed value", "0x00 (must be 0x96)"},
        HeaderRow{"unit_code_zero", unchanged, "Unit code", "0x00"},
        HeaderRow{"unit_code_set", at(0xB3, "\x01"), "Unit code", "0x01 (0x00 expected)"},
        HeaderRow{"device_type", at(0xB4, "\x80"), "Device type", "0x80"},
        HeaderRow{"version_as_number", at(0xBC, "\x0C"), "Version", "12"},
        HeaderRow{"check_ok", unchanged, "Check byte", "stored 0x50, computed 0x50: OK"},
        HeaderRow{"check_bad", at(0xBD, "\x51"), "Check byte", "stored 0x51, computed 0x50: bad"},
        HeaderRow{"title_nuls_as_blanks", at(0xA0, "MY GAME" + std::string(5, '\0')), "Title",
                  "\"MY GAME     \" (4D 59 20 47 41 4D 45 00 00 00 00 00)"},
        HeaderRow{"title_decoded", at(0xA0, "CAF\xC9"), "Title",
                  "\"CAF\u00C9LE TITLE\" (43 41 46 C9 4C 45 20 54 49 54 4C 45)"},
        HeaderRow{"game_code", unchanged, "Game code",
                  "AXYJ: type A (normal game), ID XY, territory J - Japanese"},
        HeaderRow{"game_code_special_type", at(0xAC, "UZZE"), "Game code",
                  "UZZE: type U (real-time clock and solar sensor), ID ZZ, territory E - English"},
        HeaderRow{"game_code_unknown_letters", at(0xAC, "XABQ"), "Game code",
                  "XABQ: type X, ID AB, territory Q"},
        HeaderRow{"game_code_none", at(0xAC, std::string(4, '\0')), "Game code", "none"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DetailRows, CaptionsInOrderAndNumbersInTheGivenStyle) {
    ImageScan scan;
    scan.header = sampleHeader();
    scan.size = 3000000;
    scan.lastByte = 0xFF;
    scan.trailingRun = 1048576;
    const NumberStyle style{[](std::uint64_t n) { return "<" + std::to_string(n) + ">"; }, ","};
    const auto rows = imageDetails("/roms/a.gba", scan, style);
    std::vector<std::string> captions;
    for (const DetailRow& row : rows)
        captions.push_back(row.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{
                            "File", "Size", "Title", "Game code", "Maker", "Entry point", "Logo",
                            "Fixed value", "Unit code", "Device type", "Version", "Check byte",
                            "Save type", "CRC32", "MD5", "SHA-1", "SHA-256", "Padding"}));
    EXPECT_EQ(rowValue(rows, "File"), "/roms/a.gba");
    EXPECT_EQ(rowValue(rows, "Size"), "<3000000> bytes (23Mbit, 2,875MB)");
    EXPECT_EQ(rowValue(rows, "Padding"), "<1048576> bytes of 0xFF");
}

// ---------------------------------------------------------------------------
// Save-type IDs: only at 4-byte-aligned offsets, digits optional.

struct SaveIdRow {
    const char* name;
    std::vector<std::pair<std::size_t, std::string>> placed;
    std::vector<std::string> found;
    std::string shown;
};
void PrintTo(const SaveIdRow& row, std::ostream* out) {
    *out << row.name;
}

class SaveIds : public ::testing::TestWithParam<SaveIdRow> {};

TEST_P(SaveIds, FoundInOrder) {
    const SaveIdRow& row = GetParam();
    Bytes bytes(0x400, 0xEE);
    for (const auto& [offset, text] : row.placed) {
        bytes.resize(std::max(bytes.size(), offset + text.size()), 0xEE);
        std::copy(text.begin(), text.end(), bytes.begin() + long(offset));
    }
    std::vector<std::string> found;
    EXPECT_EQ(findSaveIds(bytes, true, found), bytes.size());
    EXPECT_EQ(found, row.found);
    EXPECT_EQ(saveTypeText(found), row.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Images, SaveIds,
    ::testing::Values(
        SaveIdRow{"none", {}, {}, "none found (no save, or a homebrew image without an ID)"},
        SaveIdRow{
            "sram_with_version", {{0x100, "SRAM_V113"}}, {"SRAM_V113"}, "SRAM 32 KiB (SRAM_V113)"},
        SaveIdRow{"eeprom",
                  {{0x40, "EEPROM_V124"}},
                  {"EEPROM_V124"},
                  "EEPROM (512 B or 8 KiB) (EEPROM_V124)"},
        SaveIdRow{"fram", {{0x40, "SRAM_F_V102"}}, {"SRAM_F_V102"}, "FRAM 32 KiB (SRAM_F_V102)"},
        SaveIdRow{"flash", {{0x40, "FLASH_V126"}}, {"FLASH_V126"}, "Flash 64 KiB (FLASH_V126)"},
        SaveIdRow{"homebrew_without_digits",
                  {{0x40, "FLASH1M_Vxyz"}},
                  {"FLASH1M_V"},
                  "Flash 128 KiB (FLASH1M_V)"},
        SaveIdRow{"two_digits_are_no_version",
                  {{0x40, "FLASH512_V12x"}},
                  {"FLASH512_V"},
                  "Flash 64 KiB (FLASH512_V)"},
        SaveIdRow{"at_the_very_end", {{0x400, "SRAM_V"}}, {"SRAM_V"}, "SRAM 32 KiB (SRAM_V)"},
        SaveIdRow{"several_first_found_first",
                  {{0x200, "FLASH512_V130"}, {0x80, "SRAM_F_V100"}, {0x300, "SRAM_F_V100"}},
                  {"SRAM_F_V100", "FLASH512_V130"},
                  "FRAM 32 KiB (SRAM_F_V100); Flash 64 KiB (FLASH512_V130)"},
        SaveIdRow{"unaligned_do_not_count",
                  {{0x101, "SRAM_V113"}, {0x202, "EEPROM_V124"}, {0x303, "FLASH_V126"}},
                  {},
                  "none found (no save, or a homebrew image without an ID)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SaveIds, PositionsNearTheEndWaitForMoreBytes) {
    Bytes bytes(64, 0xEE);
    const std::string_view id = "SRAM_V1";
    std::copy(id.begin(), id.end(), bytes.end() - long(id.size()) - 1); // at 56
    std::vector<std::string> found;
    const std::size_t examined = findSaveIds(bytes, false, found);
    EXPECT_TRUE(found.empty()) << "an ID cut off by the end was taken as " << found.front();
    EXPECT_EQ(examined % 4, 0u);
    EXPECT_LE(examined, 56u) << "the cut-off ID's position was passed";
    EXPECT_GE(bytes.size() - examined, kSaveIdMaxLength - 1);
}

// ---------------------------------------------------------------------------
// The whole-file pass: digests computed with Python's hashlib and zlib for
// the same bytes (i * 7 + 3 for `pattern` bytes, then `padLength` x `pad`,
// then `placed` strings written over them).

struct PassRow {
    const char* name;
    std::size_t pattern;
    std::uint8_t pad;
    std::size_t padLength;
    std::vector<std::pair<std::size_t, std::string>> placed;
    const char* crc32;
    const char* md5;
    const char* sha1;
    const char* sha256;
    const char* padding;
    std::vector<std::string> saveIds;
};
void PrintTo(const PassRow& row, std::ostream* out) {
    *out << row.name;
}

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
    EXPECT_EQ(rowValue(rows, "CRC32"), row.crc32);
    EXPECT_EQ(rowValue(rows, "MD5"), row.md5);
    EXPECT_EQ(rowValue(rows, "SHA-1"), row.sha1);
    EXPECT_EQ(rowValue(rows, "SHA-256"), row.sha256);
    EXPECT_EQ(rowValue(rows, "Padding"), row.padding);
    EXPECT_EQ(scan.saveIds, row.saveIds);
    const std::size_t headerPart = std::min(bytes.size(), kHeaderLength);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + long(headerPart), scan.header.begin()));
}

INSTANTIATE_TEST_SUITE_P(
    Files, WholeFilePass,
    ::testing::Values(
        PassRow{"empty",
                0,
                0,
                0,
                {},
                "00000000",
                "d41d8cd98f00b204e9800998ecf8427e",
                "da39a3ee5e6b4b0d3255bfef95601890afd80709",
                "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
                "none",
                {}},
        PassRow{"abc",
                3,
                0,
                0,
                {{0, "abc"}},
                "352441c2",
                "900150983cd24fb0d6963f7d28e17f72",
                "a9993e364706816aba3e25717850c26c9cd0d89d",
                "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                "none",
                {}},
        // FLASH1M_V starts 4 bytes before the first chunk ends; EEPROM_V124 is unaligned.
        PassRow{"ff_padding_and_ids_across_chunks",
                300000,
                0xFF,
                400000,
                {{0x1000, "SRAM_V113"},
                 {kScanChunk - 4, "FLASH1M_V"},
                 {0x2002, "EEPROM_V124"},
                 {0x3000, "SRAM_V113"}},
                "34978493",
                "c5393d4e8b1191ce6453885a0deee527",
                "39ddbb00eddaa2969df63054ec89a7c31f1001ea",
                "af9c2d2289a0569c3b0fee016365da7875ee9ede1d8f0fa47032ed859eda948e",
                "400000 bytes of 0xFF",
                {"SRAM_V113", "FLASH1M_V"}},
        PassRow{"zero_run_under_1_kib",
                5000,
                0,
                1023,
                {},
                "c27afb6d",
                "16a912d572033df3b0a18421865e6b42",
                "8188d896bcc4d53b893a1fc144f4560356bddbbd",
                "abafea9bccb066beecc932d6d8130676b0559bf7328c9ca4adf808d3e98f2d9a",
                "none",
                {}},
        PassRow{"zero_run_of_1_kib",
                5000,
                0,
                1024,
                {},
                "e1c38893",
                "a8d379f9c5f2a6a1b7238047129bbf59",
                "2d4bd4142dd4eedd4f009e74720beee08ac6c964",
                "7865fccb6e697cccfcde4e01874bdde562429ed59972e2184a8a25808c3c6934",
                "1024 bytes of 0x00",
                {}},
        PassRow{"all_ff_over_three_chunks",
                0,
                0xFF,
                600003,
                {},
                "88ec551d",
                "f5d35ad7e907f7e52bba0120f3e09484",
                "77b56e76a04bdf5829fed6727b964418f21240c6",
                "f530a13b1caa6cb79a64563791a4ea6289218ea1477f151bf6dbdbe85e63a302",
                "600003 bytes of 0xFF",
                {}},
        PassRow{"zero_run_of_odd_length",
                5000,
                0,
                1029,
                {},
                "ace5debd",
                "ab0b179d1150ead35ed0e3414ae39a52",
                "57cb768b5d598e693ff35ed940ee6e6e44406862",
                "13fb8f330a2c7f63d7d25e33649c5f00dd3447ce3865e133f5da3bc1cec5c4df",
                "1029 bytes of 0x00",
                {}},
        PassRow{"run_of_another_byte",
                0,
                0xAB,
                4096,
                {},
                "a8795c0b",
                "1696b8fe138e867797eb6683cf13d99c",
                "81acc7725860d18cbf7862fe494ba0e35392c517",
                "8166470a6833d390ca63c4171241090ea15de8a28fd47551b01af9602d136934",
                "none",
                {}}),
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
    std::optional<std::uint8_t> storedCheck; // replaces the sample's, valid for the fixed value
    std::vector<std::string> changes;
};
void PrintTo(const RepairRow& row, std::ostream* out) {
    *out << row.name;
}

class Repair : public ScratchDirTest, public ::testing::WithParamInterface<RepairRow> {};

TEST_P(Repair, ChangesOnlyFixedValueAndCheck) {
    const RepairRow& row = GetParam();
    Bytes before = sampleImage();
    before[0xB2] = row.fixedValue;
    before[0xBD] = row.storedCheck.value_or(independentCheck(before));
    const std::string image = path("image.gba");
    writeFile(image, before);

    const RepairPlan plan = planRepair(image);
    std::vector<std::string> described;
    for (const HeaderChange& change : plan.changes)
        described.push_back(changeText(change));
    EXPECT_EQ(described, row.changes);
    EXPECT_FALSE(plan.logoValid) << "the sample carries no logo";
    repairHeader(image, plan);

    Bytes expected = before;
    expected[0xB2] = 0x96;
    expected[0xBD] = independentCheck(expected);
    const Bytes after = readFile(image);
    ASSERT_EQ(after.size(), before.size()) << "the image's length changed";
    for (std::size_t i = 0; i < after.size(); ++i)
        ASSERT_EQ(after[i], expected[i]) << "byte 0x" << std::hex << i << " is wrong";
    EXPECT_TRUE(planRepair(image).changes.empty()) << "a repaired header still needs repair";
}

INSTANTIATE_TEST_SUITE_P(Headers, Repair,
                         ::testing::Values(RepairRow{"both_wrong",
                                                     0x00,
                                                     0x12,
                                                     {"Byte 0xB2 (fixed value): 0x00 becomes 0x96",
                                                      "Byte 0xBD (check byte): 0x12 becomes 0x50"}},
                                           RepairRow{"only_check_wrong",
                                                     0x96,
                                                     0x51,
                                                     {"Byte 0xBD (check byte): 0x51 becomes 0x50"}},
                                           RepairRow{"check_right_for_a_wrong_fixed_value",
                                                     0x00,
                                                     std::nullopt,
                                                     {"Byte 0xB2 (fixed value): 0x00 becomes 0x96",
                                                      "Byte 0xBD (check byte): 0xE6 becomes 0x50"}},
                                           RepairRow{"nothing_to_do", 0x96, std::nullopt, {}}),
                         [](const auto& info) { return std::string(info.param.name); });

class RepairRefused : public ScratchDirTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(RepairRefused, ShortImageUnchanged) {
    const Bytes before = sampleImage(GetParam());
    const std::string image = path("short.gba");
    writeFile(image, before);
    RepairPlan plan;
    plan.changes = {{0xBD, 0, 1}};
    for (const auto& attempt : {std::function<void()>([&] { (void)planRepair(image); }),
                                std::function<void()>([&] { repairHeader(image, plan); })}) {
        try {
            attempt();
            ADD_FAILURE() << "a " << GetParam() << "-byte image was accepted";
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::TooShort) << error.what();
            EXPECT_NE(std::string(error.what()).find(image), std::string::npos) << error.what();
        }
    }
    EXPECT_EQ(readFile(image), before) << "a refused image was changed";
}

INSTANTIATE_TEST_SUITE_P(Lengths, RepairRefused, ::testing::Values(0, 100, 191));

TEST_F(RepairRefused, HeaderChangedSincePlannedIsLeftAlone) {
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

// The pure parts of the header core: character mapping, decoding tables,
// the check byte, size figures, path joining and file-name checks.
#include "romheader/romheader.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

using namespace kelvo;

std::string bytesOf(const TitleBytes& title) {
    return {title.begin(), title.end()};
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// ---------------------------------------------------------------------------
// Size figures: megabits round half to even; megabytes come from the rounded
// megabits, so 3000000 bytes are 23Mbit and 2.875MB.

struct SizeRow {
    const char* name;
    std::int64_t bytes;
    std::int64_t mbit;
    const char* mbitText;
    const char* megabytesDot;
    const char* megabytesComma;
};

class SizeFigures : public ::testing::TestWithParam<SizeRow> {};

TEST_P(SizeFigures, MegabitsAndMegabytes) {
    const SizeRow& row = GetParam();
    const std::int64_t mbit = megabitsFromBytes(row.bytes);
    EXPECT_EQ(mbit, row.mbit) << row.bytes << " bytes rounded to the wrong number of megabits";
    EXPECT_EQ(megabitText(mbit), row.mbitText);
    EXPECT_EQ(megabyteText(mbit, "."), row.megabytesDot) << "with '.' as the separator";
    EXPECT_EQ(megabyteText(mbit, ","), row.megabytesComma) << "with ',' as the separator";
}

constexpr std::int64_t kMbit = 131072;

INSTANTIATE_TEST_SUITE_P(
    Sizes, SizeFigures,
    ::testing::Values(
        SizeRow{"empty", 0, 0, "0Mbit", "0MB", "0MB"},
        SizeRow{"one_megabit", kMbit, 1, "1Mbit", "0.125MB", "0,125MB"},
        SizeRow{"half_ties_down_to_zero", kMbit / 2, 0, "0Mbit", "0MB", "0MB"},
        SizeRow{"just_over_half", kMbit / 2 + 1, 1, "1Mbit", "0.125MB", "0,125MB"},
        SizeRow{"one_and_half_ties_up_to_two", 3 * kMbit / 2, 2, "2Mbit", "0.25MB", "0,25MB"},
        SizeRow{"two_and_half_ties_down_to_two", 5 * kMbit / 2, 2, "2Mbit", "0.25MB", "0,25MB"},
        SizeRow{"three_megabits", 3 * kMbit, 3, "3Mbit", "0.375MB", "0,375MB"},
        SizeRow{"twelve_megabits", 12 * kMbit, 12, "12Mbit", "1.5MB", "1,5MB"},
        SizeRow{"sample_cartridge", 4194304, 32, "32Mbit", "4MB", "4MB"},
        SizeRow{"largest_cartridge", 33554432, 256, "256Mbit", "32MB", "32MB"},
        SizeRow{"megabytes_from_rounded_megabits", 3000000, 23, "23Mbit", "2.875MB", "2,875MB"},
        SizeRow{"two_gib_exactly", std::int64_t{1} << 31, 16384, "16384Mbit", "2048MB", "2048MB"},
        SizeRow{"three_gib", std::int64_t{3} << 30, 24576, "24576Mbit", "3072MB", "3072MB"},
        SizeRow{"tie_above_4gib_goes_to_even", 16385 * kMbit + kMbit / 2, 16386, "16386Mbit",
                "2048.25MB", "2048,25MB"},
        SizeRow{"negative_keeps_its_sign", -12 * kMbit, -12, "-12Mbit", "-1.5MB", "-1,5MB"},
        SizeRow{"largest_64bit", std::numeric_limits<std::int64_t>::max(), std::int64_t{1} << 46,
                "70368744177664Mbit", "8796093022208MB", "8796093022208MB"}),
    [](const auto& info) { return info.param.name; });

TEST(MegabyteText, DefaultSeparatorComesFromTheCLocale) {
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    EXPECT_EQ(localeDecimalSeparator(), ".");
    EXPECT_EQ(megabyteText(23), "2.875MB") << "the C locale's separator should be used";
}

// ---------------------------------------------------------------------------
// Decoding tables: exact, case-sensitive comparisons.

struct DecodeRow {
    const char* name;
    std::string field; // raw bytes
    std::string shown;
};

class MakerText : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(MakerText, Decodes) {
    const std::string& field = GetParam().field;
    ASSERT_EQ(field.size(), kMakerWidth);
    const std::span<const std::uint8_t, kMakerWidth> code(asBytes(field).data(), kMakerWidth);
    EXPECT_EQ(decodeMaker(code), GetParam().shown) << "maker code bytes " << field;
}

INSTANTIATE_TEST_SUITE_P(Makers, MakerText,
                         ::testing::Values(DecodeRow{"nintendo", "01", "01 - Nintendo"},
                                           DecodeRow{"capcom", "08", "08 - Capcom"},
                                           DecodeRow{"unknown_shown_as_is", "0A", "0A"},
                                           DecodeRow{"reversed_nintendo", "10", "10"},
                                           DecodeRow{"trailing_nul_dropped", std::string("0\0", 2),
                                                     "0"},
                                           DecodeRow{"leading_nul_keeps_the_letter",
                                                     std::string("\0"
                                                                 "1",
                                                                 2),
                                                     "1"},
                                           DecodeRow{"decoded_byte",
                                                     "\xC9"
                                                     "1",
                                                     "\u00C9"
                                                     "1"}),
                         [](const auto& info) { return info.param.name; });

class GameTypeText : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(GameTypeText, Decodes) {
    const auto letter = static_cast<std::uint8_t>(GetParam().field.at(0));
    EXPECT_EQ(decodeGameType(letter), GetParam().shown) << "game type byte " << int{letter};
}

INSTANTIATE_TEST_SUITE_P(GameTypes, GameTypeText,
                         ::testing::Values(DecodeRow{"advance", "A", "A - Yes"},
                                           DecodeRow{"lower_case_is_not_advance", "a", "No"},
                                           DecodeRow{"other_letter", "B", "No"},
                                           DecodeRow{"nul", std::string(1, '\0'), "No"}),
                         [](const auto& info) { return info.param.name; });

class TerritoryText : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(TerritoryText, Decodes) {
    const auto letter = static_cast<std::uint8_t>(GetParam().field.at(0));
    EXPECT_EQ(decodeTerritory(letter), GetParam().shown) << "territory byte " << int{letter};
}

INSTANTIATE_TEST_SUITE_P(Territories, TerritoryText,
                         ::testing::Values(DecodeRow{"japanese", "J", "J - Japanese"},
                                           DecodeRow{"english", "E", "E - English"},
                                           DecodeRow{"european", "P", "P - European"},
                                           DecodeRow{"german", "D", "D - German"},
                                           DecodeRow{"french", "F", "F - French"},
                                           DecodeRow{"italian", "I", "I - Italian"},
                                           DecodeRow{"spanish", "S", "S - Spanish"},
                                           DecodeRow{"lower_case_shown_as_is", "j", "j"},
                                           DecodeRow{"unknown_letter_shown_as_is", "X", "X"},
                                           DecodeRow{"nul_shows_nothing", std::string(1, '\0'), ""},
                                           DecodeRow{"high_byte_decoded", "\xC4", "\u00C4"}),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Check byte: the worked vector, before and after retitling.

TEST(HeaderCheck, WorkedVector) {
    std::array<std::uint8_t, kCheckedLength> bytes{};
    const std::string_view fields = "SAMPLE TITLEAXYJ01\x96";
    std::copy(fields.begin(), fields.end(), bytes.begin());
    EXPECT_EQ(headerCheck(bytes), 0x50) << "check of SAMPLE TITLE / AXYJ / 01";

    const TitleBytes retitled = encodeTitle("MY GAME");
    std::copy(retitled.begin(), retitled.end(), bytes.begin());
    EXPECT_EQ(headerCheck(bytes), 0x34) << "check after retitling to MY GAME";
}

// ---------------------------------------------------------------------------
// Character mapping.

TEST(CharacterMapping, EveryByteRoundTrips) {
    for (int value = 0; value <= 0xFF; ++value) {
        const auto byte = static_cast<std::uint8_t>(value);
        EXPECT_EQ(encodeChar(decodeByte(byte)), byte) << "byte " << value << " does not round-trip";
    }
}

TEST(CharacterMapping, Windows1252WithUnassignedBytesAsC1Controls) {
    const std::pair<std::uint8_t, char32_t> known[] = {
        {0x41, U'A'},      {0x80, U'\u20AC'}, {0x81, U'\u0081'}, {0x8D, U'\u008D'},
        {0x8F, U'\u008F'}, {0x90, U'\u0090'}, {0x99, U'\u2122'}, {0x9D, U'\u009D'},
        {0x9F, U'\u0178'}, {0xA0, U'\u00A0'}, {0xE9, U'\u00E9'}, {0xFF, U'\u00FF'},
    };
    for (const auto& [byte, ch] : known)
        EXPECT_EQ(decodeByte(byte), ch)
            << "byte " << int{byte} << " decodes to the wrong character";

    // U+0080 is not representable: its byte is the euro sign.
    for (const char32_t ch : {U'\u0080', U'\u0100', U'\u3042', U'\U0001F600', U'\uFFFD'})
        EXPECT_FALSE(isRepresentable(ch)) << "U+" << std::hex << unsigned(ch) << " has no byte";
}

// glibc's own CP1252 converter is the oracle for the whole table; it leaves
// the five unassigned bytes undefined, which the mapping makes C1 controls.
TEST(CharacterMapping, AgreesWithIconvOnEveryAssignedByte) {
    const iconv_t converter = ::iconv_open("UTF-32LE", "CP1252");
    ASSERT_NE(converter, reinterpret_cast<iconv_t>(-1)) << "glibc has no CP1252 converter here";
    for (int value = 0; value <= 0xFF; ++value) {
        char in = static_cast<char>(value);
        std::array<unsigned char, 8> out{};
        char* inPtr = &in;
        auto* outPtr = reinterpret_cast<char*>(out.data());
        std::size_t inLeft = 1;
        std::size_t outLeft = out.size();
        ::iconv(converter, nullptr, nullptr, nullptr, nullptr);
        if (::iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            EXPECT_TRUE(value == 0x81 || value == 0x8D || value == 0x8F || value == 0x90 ||
                        value == 0x9D)
                << "iconv cannot convert byte " << value << ": " << std::strerror(errno);
            continue;
        }
        ASSERT_EQ(outLeft, out.size() - 4) << "byte " << value << " became several characters";
        const char32_t expected = out[0] | (out[1] << 8) | (out[2] << 16) | (char32_t(out[3]) << 24);
        const auto byte = static_cast<std::uint8_t>(value);
        EXPECT_EQ(decodeByte(byte), expected) << "byte 0x" << std::hex << value;
        EXPECT_EQ(encodeChar(expected), byte) << "U+" << std::hex << unsigned(expected);
    }
    ::iconv_close(converter);
}

TEST(CharacterMapping, DecodeBytesKeepsNuls) {
    const std::string_view raw("\x80\0A", 3);
    EXPECT_EQ(decodeBytes(asBytes(raw)), std::string("\u20AC\0A", 5));
}

TEST(VisibleText, StopsAtTheFirstNul) {
    const std::pair<std::string_view, std::string> rows[] = {
        {"SAMPLE TITLE", "SAMPLE TITLE"},
        {std::string_view("SAM\0LE TITLE", 12), "SAM"},
        {std::string_view("\0AMPLE", 6), ""},
        {"CAF\xC9", "CAF\u00C9"},
    };
    for (const auto& [field, shown] : rows)
        EXPECT_EQ(visibleText(asBytes(field)), shown) << "field of " << field.size() << " bytes";
}

struct TitleRow {
    const char* name;
    std::string typed; // UTF-8
    std::string bytes; // the 12 bytes written
};

class TitleEncoding : public ::testing::TestWithParam<TitleRow> {};

TEST_P(TitleEncoding, TwelveBytes) {
    EXPECT_EQ(bytesOf(encodeTitle(GetParam().typed)), GetParam().bytes)
        << "typed \"" << GetParam().typed << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Titles, TitleEncoding,
    ::testing::Values(
        TitleRow{"empty_gives_blanks", "", "            "},
        TitleRow{"short_is_blank_padded", "MY GAME", "MY GAME     "},
        TitleRow{"long_keeps_first_twelve", "ABCDEFGHIJKLMNO", "ABCDEFGHIJKL"},
        TitleRow{"accents_count_as_one_character",
                 "\u00C9\u00C0\u00C7\u00D1\u00D6\u00DC\u00E9\u00E0\u00E7\u00F1\u00F6\u00FC",
                 "\xC9\xC0\xC7\xD1\xD6\xDC\xE9\xE0\xE7\xF1\xF6\xFC"},
        TitleRow{"thirteen_accented_keep_twelve",
                 "\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E9\u00E0",
                 "\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9"},
        TitleRow{"windows_1252_symbols", "\u20ACuro\u2122", "\x80uro\x99       "},
        TitleRow{"unrepresentable_becomes_question_mark", "\u3042B", "?B          "},
        TitleRow{"four_byte_character", "\U0001F600A", "?A          "},
        TitleRow{"invalid_byte",
                 "\xFF"
                 "A",
                 "?A          "},
        TitleRow{"truncated_sequence",
                 "\xE2\x82"
                 "A",
                 "??A         "},
        TitleRow{"overlong_slash", "\xC0\xAF", "??          "},
        TitleRow{"surrogate", "\xED\xA0\x80", "???         "}),
    [](const auto& info) { return info.param.name; });

TEST(CharacterCount, CountsCodePointsAndMalformedBytes) {
    const std::pair<std::string_view, std::size_t> rows[] = {
        {"", 0},           {"abc", 3},  {"\u00E9", 1},   {"\u20AC", 1},
        {"\U0001F600", 1}, {"\xFF", 1}, {"\xE2\x82", 2},
    };
    for (const auto& [text, count] : rows)
        EXPECT_EQ(characterCount(text), count) << "text of " << text.size() << " bytes";
}

// ---------------------------------------------------------------------------
// Paths and names.

TEST(JoinPath, OneSeparatorNoneAfterARoot) {
    const std::array<std::array<const char*, 3>, 5> rows = {{
        {"/", "A.BIN", "/A.BIN"},
        {"/roms", "A.BIN", "/roms/A.BIN"},
        {"/roms/", "A.BIN", "/roms/A.BIN"},
        {"/roms/gba", "SAMPLE TITLE.gba", "/roms/gba/SAMPLE TITLE.gba"},
        {"", "A.BIN", "A.BIN"},
    }};
    for (const auto& [directory, name, joined] : rows)
        EXPECT_EQ(joinPath(directory, name), joined) << "joining \"" << directory << '"';
}

struct NameRow {
    std::string name;
    std::string title;
    std::vector<std::string> named; // in the problem text; empty when the title is fine
};

class TitleAsFileName : public ::testing::TestWithParam<NameRow> {};

TEST_P(TitleAsFileName, ProblemNamesTheCharacters) {
    const NameRow& row = GetParam();
    const auto problem = titleNameProblem(row.title);
    if (row.named.empty()) {
        EXPECT_FALSE(problem.has_value()) << "refused a good title: " << problem.value_or("");
        return;
    }
    ASSERT_TRUE(problem.has_value()) << "accepted the title \"" << row.title << '"';
    for (const std::string& part : row.named)
        EXPECT_NE(problem->find(part), std::string::npos) << '"' << *problem << "\" lacks " << part;
}

// The named rows, then one row per control character (C0, DEL, C1): each
// must be refused and named by its code point.
std::vector<NameRow> nameRows() {
    std::vector<NameRow> rows = {
        NameRow{"plain", "SAMPLE TITLE", {}}, NameRow{"dots", "..", {"hidden"}},
        NameRow{"inner_dot", "A.B", {}}, NameRow{"accents_and_euro", "CAF\u00C9 \u20AC", {}},
        NameRow{"empty", "", {"empty"}}, NameRow{"slash", "../escape", {"'/'"}},
        NameRow{"backslash", "A\\B", {"'\\'"}},
        NameRow{"reserved", "a:b*c?d\"e<f>g|", {"':'", "'*'", "'?'", "'\"'", "'<'", "'>'", "'|'"}},
        NameRow{"no_break_space", "A\u00A0B", {}}};
    for (char32_t ch = 0; ch <= 0x9F; ch = ch == 0x1F ? 0x7F : ch + 1) {
        std::array<char, 16> code{};
        std::snprintf(code.data(), code.size(), "U+%04X", static_cast<unsigned>(ch));
        std::string title = "A";
        if (ch < 0x80) {
            title += static_cast<char>(ch);
        } else {
            title += static_cast<char>(0xC0 | (ch >> 6));
            title += static_cast<char>(0x80 | (ch & 0x3F));
        }
        title += "B";
        rows.push_back(NameRow{"control_" + std::string(code.data() + 2), title, {code.data()}});
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Names, TitleAsFileName, ::testing::ValuesIn(nameRows()),
                         [](const auto& info) { return info.param.name; });

} // namespace

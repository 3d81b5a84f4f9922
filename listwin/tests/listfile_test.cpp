// The list file's block format: columns, rows, the count line, and values
// that would break a row.
#include "listwin/listfile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

namespace kelvo {
namespace {

RomHeader headerOf(const std::string& title, const char* cartId, const char* maker,
                   std::int64_t size) {
    RomHeader header;
    std::memcpy(header.title.data(), title.data(), std::min(title.size(), header.title.size()));
    std::memcpy(header.cartId.data(), cartId, 2);
    std::memcpy(header.makerCode.data(), maker, 2);
    header.sizeBytes = size;
    header.sizeMbit = megabitsFromBytes(size);
    return header;
}

// A case's description as a test name: letters and digits, the rest '_'.
std::string testName(const char* description) {
    std::string name;
    for (const char* p = description; *p; ++p)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

// Keeps GoogleTest from dumping the cases' bytes into every test name.
struct BlockCase;
struct CellCase;
void PrintTo(const BlockCase& c, std::ostream* out);
void PrintTo(const CellCase& c, std::ostream* out);

const std::vector<Column> kAll{Column::Filename,  Column::Header,   Column::CartId,
                               Column::SizeBytes, Column::SizeMbit, Column::Publisher};

struct BlockCase {
    const char* name;
    std::vector<Column> columns;
    std::vector<ListEntry> entries;
    std::string expected;
};

void PrintTo(const BlockCase& c, std::ostream* out) {
    *out << c.name;
}

class ListBlockTest : public testing::TestWithParam<BlockCase> {};

TEST_P(ListBlockTest, FormatsTheBlock) {
    const BlockCase& c = GetParam();
    EXPECT_EQ(formatListBlock(c.columns, c.entries), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ListBlockTest,
    testing::Values(BlockCase{"no columns: the count line alone",
                              {},
                              {{"a.bin", std::nullopt}, {"b.bin", std::nullopt}},
                              " 2 \r\n"},
                    BlockCase{"no files, no columns", {}, {}, " 0 \r\n"},
                    BlockCase{
                        "every column",
                        kAll,
                        {{"sample.bin", headerOf("SAMPLE TITLE", "XY", "01", 4194304)},
                         {"capcom.bin", headerOf(std::string("CAP\0\0X", 6), "PQ", "08", 3000000)}},
                        "Filename\tHeader\tCart ID\tSize (Bytes)\tSize (Mbit)\tPublisher\r\n"
                        "sample.bin\tSAMPLE TITLE\tXY\t4194304\t32Mbit\t01 - Nintendo\r\n"
                        "capcom.bin\tCAP\tPQ\t3000000\t23Mbit\t08 - Capcom\r\n"
                        " 2 \r\n"},
                    BlockCase{"some columns, ticked out of order, keep the row order",
                              {Column::SizeMbit, Column::Filename},
                              {{"a.bin", headerOf("A", "AA", "7Z", 131072)}},
                              "Filename\tSize (Mbit)\r\na.bin\t1Mbit\r\n 1 \r\n"},
                    BlockCase{"an unreadable file keeps its name and empty columns",
                              kAll,
                              {{"gone.bin", std::nullopt}},
                              "Filename\tHeader\tCart ID\tSize (Bytes)\tSize (Mbit)\tPublisher\r\n"
                              "gone.bin\t\t\t\t\t\r\n 1 \r\n"},
                    BlockCase{"the list name comes last, empty where nothing matched",
                              {Column::ListName, Column::Filename},
                              {{"a.bin", std::nullopt, "A (World).gba"}, {"b.bin"}},
                              "Filename\tList Name\r\na.bin\tA (World).gba\r\nb.bin\t\r\n"
                              " 2 \r\n"},
                    BlockCase{"tabs and line breaks inside values become blanks",
                              {Column::Filename, Column::Header},
                              {{"tab\tname.bin", headerOf("A\tB\rC\nD", "AA", "01", 0)}},
                              "Filename\tHeader\r\ntab name.bin\tA B C D\r\n 1 \r\n"}),
    [](const testing::TestParamInfo<BlockCase>& info) { return testName(info.param.name); });

struct CellCase {
    const char* name;
    std::string value;
    std::string expected;
};

void PrintTo(const CellCase& c, std::ostream* out) {
    *out << c.name;
}

class CellTextTest : public testing::TestWithParam<CellCase> {};

TEST_P(CellTextTest, KeepsTheRowIntact) {
    EXPECT_EQ(cellText(GetParam().value), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cells, CellTextTest,
    testing::Values(CellCase{"plain", "Hello", "Hello"},
                    CellCase{"accents kept", "Pok\xC3\xA9mon", "Pok\xC3\xA9mon"},
                    CellCase{"C0 controls", std::string("a\x01\x1F\x7F", 4), "a   "},
                    CellCase{"C1 control from the mapping", "x\xC2\x81y", "x y"},
                    CellCase{"no-break space is not a control", "\xC2\xA0", "\xC2\xA0"},
                    CellCase{"malformed UTF-8", "a\xFF\xC3", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
                    CellCase{"overlong encoding", "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const testing::TestParamInfo<CellCase>& info) { return testName(info.param.name); });

TEST(CountLine, HasNoSixteenBitLimit) {
    EXPECT_EQ(countLine(100000), " 100000 \r\n");
    EXPECT_EQ(countLine(32768), " 32768 \r\n");
}

} // namespace
} // namespace kelvo

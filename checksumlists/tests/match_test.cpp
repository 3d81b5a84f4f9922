// Matching an image against the lists: candidates, agreement of every
// shared hash, trimmed dumps, and the order of several matches. Hashes come
// from Python's zlib and hashlib over the same bytes:
//   a = bytes((i * 7 + 3) & 0xFF for i in range(3000)); a + b'\xff' * 1096; a + b'\x00' * 1096
#include "checksumlists/listdetails.h"
#include "checksumlists/match.h"
#include "checksumlists/tests/listtest.h"
#include "romheader/imageedit.h"

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Lines = std::vector<std::string>;

template <std::size_t N> std::array<std::uint8_t, N> digest(std::string_view hex) {
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = std::uint8_t(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return bytes;
}

// The 3000-byte image, and the same padded to 4096 bytes with 0xFF and 0x00.
const ImageHashes kImage{
    3000, 0x57081df1, digest<16>("bb3132c5a6978faf98b3c4c00122cc2f"),
    digest<20>("ff0f60646fbaea7c324c3f247b4f9871dac279c2"),
    digest<32>("f541874101876255b4baf3a739778d04cb9cba25ffa38b30bc1fb8b0701f2a45")};
const ImageHashes kPaddedFF{
    4096, 0xb8219a0a, digest<16>("f3407b79f5059f3d29eec1679782f974"),
    digest<20>("eff0bf98a8338ea7db692013c8e90065a3d4286c"),
    digest<32>("2e3e5e11d266575a7988e3a9ccdf6a1b7a1d5265d29bd9ecefd4d0bfa1c4289a")};
const ImageHashes kPadded00{
    4096, 0xc4d124f7, digest<16>("1c106a87be02b7265c22eaa72bcc0dc8"),
    digest<20>("dbf567b311af377a3355f9cc74a836b2dfdd1e1c"),
    digest<32>("259240775c3ab0ccf1bf9c78e41e741136165b4a99aef3e1e1c38cfbed357ce5")};

const auto kFirst = parse(R"(clrmamepro ( name "First" version 1 )
game ( rom ( name a.gba size 3000 crc 57081DF1 sha1 ff0f60646fbaea7c324c3f247b4f9871dac279c2 ) )
game ( rom ( name "a (verified).gba" size 3000 crc 57081df1 md5 bb3132c5a6978faf98b3c4c00122cc2f flags verified ) )
game ( rom ( name "a (bad).gba" size 3000 crc 57081df1 flags baddump ) )
game ( rom ( name wrong.gba size 3000 crc 57081df1 sha1 0000000000000000000000000000000000000000 ) )
game ( rom ( name size.gba size 3001 crc 57081df1 ) )
game ( rom ( name nodump.gba size 3000 crc 57081df1 flags nodump ) )
game ( rom ( name nocrc.gba sha256 f541874101876255b4baf3a739778d04cb9cba25ffa38b30bc1fb8b0701f2a45 ) )
)");
const auto kSecond = parse(R"(<datafile><header><name>Second</name><version>2</version></header>
<game name="g"><rom name="a.gba" size="3000" crc="57081df1" status="verified"/></game></datafile>)");
const auto kTrims = parse(R"(clrmamepro ( name Trims )
game ( rom ( name pff.gba size 4096 crc b8219a0a sha1 eff0bf98a8338ea7db692013c8e90065a3d4286c flags verified ) )
game ( rom ( name pwrong.gba size 4096 crc b8219a0a sha1 1111111111111111111111111111111111111111 ) )
game ( rom ( name p00.gba size 4096 crc C4D124F7 md5 1c106a87be02b7265c22eaa72bcc0dc8 ) )
)");

enum class Hasher { None, Oracle, Fails };

struct MatchRow {
    const char* name;
    std::vector<std::shared_ptr<const ChecksumList>> lists;
    ImageHashes image;
    std::string fileName;
    Hasher hasher;
    Lines expected; // status|name|list|agreed|padding
    int hasherCalls;
    std::string summary;
};

class Matching : public ::testing::TestWithParam<MatchRow> {};

TEST_P(Matching, FindsEveryAgreeingEntryBestFirst) {
    const MatchRow& row = GetParam();
    int calls = 0;
    PaddedHasher hasher;
    if (row.hasher != Hasher::None)
        hasher = [&](std::uint8_t byte, std::uint64_t size) -> std::optional<ImageHashes> {
            ++calls;
            EXPECT_EQ(size, 4096U) << "padded to the wrong size";
            if (row.hasher == Hasher::Fails)
                return std::nullopt;
            return byte == 0xFF ? kPaddedFF : kPadded00;
        };
    const auto matches = matchImage(ListSet(row.lists), row.image, row.fileName, hasher);
    Lines found;
    for (const ListMatch& m : matches) {
        found.push_back(std::string(statusText(m.status)) + "|" + std::string(m.rom->name) + "|" +
                        m.list->label() + "|" + agreedText(m.agreed) + "|" +
                        (m.padding ? (m.padding->byte ? "0xFF " : "0x00 ") +
                                         std::to_string(m.padding->paddedSize)
                                   : ""));
    }
    EXPECT_EQ(found, row.expected);
    EXPECT_EQ(calls, row.hasherCalls) << "the padded file was hashed a wrong number of times";
    EXPECT_EQ(matchSummary(matches), row.summary);
}

ImageHashes sizeAndCrc(const ImageHashes& image) {
    return {image.size, image.crc32, {}, {}, {}};
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Matching,
    ::testing::Values(
        MatchRow{"all_hashes_own_name_first",
                 {kFirst, kSecond},
                 kImage,
                 "a.gba",
                 Hasher::Oracle,
                 {"Verified|a.gba|Second 2|CRC32|", "Good|a.gba|First 1|CRC32, SHA-1|",
                  "Verified|a (verified).gba|First 1|CRC32, MD5|",
                  "Good|nocrc.gba|First 1|SHA-256|", "Bad dump|a (bad).gba|First 1|CRC32|"},
                 0,
                 "Verified: a.gba and 4 more"},
        MatchRow{"size_and_crc_only_by_status_then_list_order",
                 {kFirst, kSecond},
                 sizeAndCrc(kImage),
                 "other.gba",
                 Hasher::Oracle,
                 {"Verified|a (verified).gba|First 1|CRC32|", "Verified|a.gba|Second 2|CRC32|",
                  "Good|a.gba|First 1|CRC32|", "Good|wrong.gba|First 1|CRC32|",
                  "Bad dump|a (bad).gba|First 1|CRC32|"},
                 0,
                 "Verified: a (verified).gba and 4 more"},
        MatchRow{"trimmed_with_both_pad_bytes",
                 {kTrims},
                 kImage,
                 "a.gba",
                 Hasher::Oracle,
                 {"Trimmed|pff.gba|Trims|CRC32, SHA-1|0xFF 4096",
                  "Trimmed|p00.gba|Trims|CRC32, MD5|0x00 4096"},
                 2,
                 "Trimmed: pff.gba and 1 more"},
        MatchRow{"trimmed_by_crc_alone_without_a_hasher",
                 {kTrims},
                 kImage,
                 "a.gba",
                 Hasher::None,
                 {"Trimmed|pff.gba|Trims|CRC32|0xFF 4096",
                  "Trimmed|pwrong.gba|Trims|CRC32|0xFF 4096",
                  "Trimmed|p00.gba|Trims|CRC32|0x00 4096"},
                 0,
                 "Trimmed: pff.gba and 2 more"},
        MatchRow{"hashing_the_padding_failed",
                 {kTrims},
                 kImage,
                 "a.gba",
                 Hasher::Fails,
                 {},
                 2,
                 "Not in the loaded lists"},
        MatchRow{"no_padded_candidate_reads_nothing",
                 {kFirst},
                 {3000, 0x12345678, {}, {}, {}},
                 "a.gba",
                 Hasher::Oracle,
                 {},
                 0,
                 "Not in the loaded lists"},
        MatchRow{"power_of_two_is_never_padded",
                 {kTrims},
                 {4096, 0x12345678, {}, {}, {}},
                 "a.gba",
                 Hasher::Oracle,
                 {},
                 0,
                 "Not in the loaded lists"},
        MatchRow{"only_a_list_that_failed",
                 {nullptr},
                 kImage,
                 "a.gba",
                 Hasher::Oracle,
                 {},
                 0,
                 "Not in the loaded lists"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MatchTexts, StatusWordsAndDescription) {
    EXPECT_EQ(statusText(ListStatus::Verified), "Verified");
    EXPECT_EQ(statusText(ListStatus::Good), "Good");
    EXPECT_EQ(statusText(ListStatus::BadDump), "Bad dump");
    EXPECT_EQ(statusText(ListStatus::Trimmed), "Trimmed");
    EXPECT_EQ(statusText(ListStatus::NotListed), "Not in the loaded lists");
    const auto trimmed = matchImage(ListSet({kTrims}), kImage, "a.gba", {});
    ASSERT_FALSE(trimmed.empty());
    EXPECT_EQ(matchDescription(trimmed.front()),
              "Trimmed: pff.gba in Trims, padded to 4096 bytes with 0xFF (CRC32 agreed)");
}

// Image Details' last rows and the words scripts read, as the windows and
// the command line show them.
TEST(MatchTexts, DetailRowsAndStatusWords) {
    std::string rows;
    for (const bool loaded : {true, false}) {
        const auto matches = matchImage(ListSet({kFirst, kSecond}), kImage, "a.gba");
        for (const DetailRow& row :
             listDetailRows(loaded ? matches : std::vector<ListMatch>{}, loaded))
            rows += row.caption + "=" + row.value + ";";
    }
    EXPECT_EQ(rows, "List status=Verified;List name=a.gba;List=Second 2;"
                    "List status=No lists loaded;List name=;List=;");
    std::string words;
    for (const ListStatus status : {ListStatus::Verified, ListStatus::Good, ListStatus::Trimmed,
                                    ListStatus::BadDump, ListStatus::NotListed})
        words += std::string(statusWord(status)) + " ";
    EXPECT_EQ(words, "verified good trimmed baddump unknown ");
}

// Python: zlib.crc32(b'\xff' * n), zlib.crc32(b'\x00' * n).
struct RunRow {
    std::uint64_t length;
    std::uint32_t ff;
    std::uint32_t zero;
};

class CrcOfRuns : public ::testing::TestWithParam<RunRow> {};

TEST_P(CrcOfRuns, AgreeWithZlibOverTheBytes) {
    const RunRow& row = GetParam();
    EXPECT_EQ(crc32OfRun(0xFF, row.length), row.ff);
    EXPECT_EQ(crc32OfRun(0x00, row.length), row.zero);
}

INSTANTIATE_TEST_SUITE_P(Rows, CrcOfRuns,
                         ::testing::Values(RunRow{0, 0, 0}, RunRow{1, 0xff000000, 0xd202ef8d},
                                           RunRow{3, 0xffffff00, 0xff41d912},
                                           RunRow{1096, 0xc955172e, 0xb5a5a9d3},
                                           RunRow{1 << 20, 0x956bac74, 0xa738ea1c},
                                           RunRow{(1 << 25) - 12345, 0xdb70c238, 0x42fa22f2}));

TEST(PowersOfTwo, NextOneAboveTheSize) {
    EXPECT_EQ(nextPowerOfTwo(3000), 4096U);
    EXPECT_EQ(nextPowerOfTwo(4096), 4096U);
    EXPECT_EQ(nextPowerOfTwo((1ULL << 63) + 1), 0U);
}

} // namespace

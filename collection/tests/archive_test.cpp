// Archives as the check reads them: members hashed in full or trusted by
// their stored checksum, and every way an archive can lie or break, each a
// row. Expected hashes are Python's zlib.crc32 and hashlib.sha1 of image().
#include "collection/tests/collection_support.h"

#include "collection/archive.h"

namespace {

using namespace kelvo;
using namespace kelvo::test;

const std::string kA = "0be47ed9|0b2d26156a7abece3aa9d3756158a73cbf5a8e71"; // image(4096, 0)
const std::string kB = "b0f41903|01043f829d3418a96e9b2492678bb969ea4c4e7b"; // image(4096, 1)

enum class Damage { None, CutInHalf, NotAZip, Empty };

struct ArchiveRow {
    const char* name;
    std::vector<ZipEntry> entries;
    std::vector<std::string> rows; // describe() of each
    bool trust = false;
    Damage damage = Damage::None;
};

class Archive : public CollectionTest, public ::testing::WithParamInterface<ArchiveRow> {};

TEST_P(Archive, GivesOneRowPerImage) {
    const ArchiveRow& row = GetParam();
    Bytes bytes = makeZip(row.entries);
    if (row.damage == Damage::CutInHalf)
        bytes.resize(bytes.size() / 2);
    else if (row.damage == Damage::NotAZip)
        bytes = Bytes{'h', 'e', 'l', 'l', 'o'};
    else if (row.damage == Damage::Empty)
        bytes.clear();
    write("z.zip", bytes);
    CheckOptions options;
    options.paths = {path("z.zip")};
    options.trustArchiveChecksums = row.trust;
    std::vector<std::string> rows;
    for (const CheckRow& made : checkAll(options))
        rows.push_back(describe(made));
    EXPECT_EQ(rows, row.rows);
}

const Bytes kImageA = image(4096, 0);
const Bytes kImageB = image(4096, 1);
constexpr std::uint32_t kOverLimit = (64u << 20) + 1;

INSTANTIATE_TEST_SUITE_P(
    Rows, Archive,
    ::testing::Values(
        ArchiveRow{"deflated_and_stored",
                   {{"a.gba", kImageA},
                    {"sub/b.GBA", kImageB, false},
                    {"readme.txt", {'x'}},
                    {"dir/", {}},
                    {"__MACOSX/._a.gba", {1, 2}},
                    {".hidden.gba", kImageA}},
                   {"z.zip/a.gba|OK|" + kA, "z.zip/sub/b.GBA|OK|" + kB}},
        ArchiveRow{"stored_crc_wrong",
                   {ZipEntry("a.gba", kImageA).storedCrc(0x12345678), {"b.gba", kImageB}},
                   {"z.zip/a.gba|damaged archive member||", "z.zip/b.gba|OK|" + kB}},
        ArchiveRow{"stated_size_short",
                   {ZipEntry("a.gba", kImageA, false).stated(4000)},
                   {"z.zip/a.gba|damaged archive member||"}},
        ArchiveRow{"stated_size_long",
                   {ZipEntry("a.gba", kImageA).stated(5000)},
                   {"z.zip/a.gba|damaged archive member||"}},
        ArchiveRow{"larger_than_an_image",
                   {ZipEntry("a.gba", kImageA).stated(kOverLimit)},
                   {"z.zip/a.gba|too large for a GBA image||"}},
        ArchiveRow{"encrypted",
                   {ZipEntry("a.gba", kImageA).encrypt()},
                   {"z.zip/a.gba|encrypted archive member||"}},
        ArchiveRow{"names_are_only_names",
                   {{"../../etc/x.gba", kImageA}, {"/abs/y.gba", kImageB}},
                   {"z.zip/../../etc/x.gba|OK|" + kA, "z.zip//abs/y.gba|OK|" + kB}},
        ArchiveRow{"same_name_twice",
                   {{"a.gba", kImageA}, {"a.gba", kImageB}},
                   {"z.zip/a.gba|OK|" + kA, "z.zip/a.gba|OK|" + kB}},
        ArchiveRow{
            "cp437_name", {{"\x82t\x82.gba", kImageA}}, {"z.zip/\xC3\xA9t\xC3\xA9.gba|OK|" + kA}},
        ArchiveRow{"short_member",
                   {{"s.gba", image(100, 4)}},
                   {"z.zip/s.gba|too short|47963905|f12f4e7024a397939991ff7f07bab51b091a289c"}},
        ArchiveRow{"trusted_by_the_directory",
                   {{"a.gba", kImageA}, ZipEntry("w.gba", kImageB).storedCrc(0x12345678)},
                   {"z.zip/a.gba|OK|0be47ed9|not computed", "z.zip/w.gba|OK|12345678|not computed"},
                   true},
        ArchiveRow{"overlapping_members",
                   {{"a.gba", kImageA},
                    ZipEntry("b.gba", kImageA).sharing(0),
                    ZipEntry("c.gba", kImageA).sharing(0)},
                   {"z.zip|damaged archive: Zip archive inconsistent||"}},
        ArchiveRow{"overlapping_members_named_alike",
                   {{"a.gba", kImageA},
                    ZipEntry("a.gba", kImageA).sharing(0),
                    ZipEntry("a.gba", kImageA).sharing(0)},
                   {"z.zip|zip bomb: its members overlap (1494 compressed bytes in 708)||"}},
        ArchiveRow{"claims_beyond_compression",
                   [] {
                       std::vector<ZipEntry> entries;
                       for (char name = 'a'; name < 'a' + 20; ++name)
                           entries.push_back(
                               ZipEntry(std::string(1, name) + ".gba", Bytes(10), false)
                                   .stated(60u << 20));
                       return entries;
                   }(),
                   {"z.zip|zip bomb: its images claim 1258291200 bytes from 1942||"}},
        ArchiveRow{"cut_in_half",
                   {{"a.gba", kImageA}, {"b.gba", kImageB}},
                   {"z.zip|damaged archive: Not a zip archive||"},
                   false,
                   Damage::CutInHalf},
        ArchiveRow{"not_a_zip",
                   {},
                   {"z.zip|damaged archive: Not a zip archive||"},
                   false,
                   Damage::NotAZip},
        ArchiveRow{"empty_file",
                   {},
                   {"z.zip|damaged archive: Not a zip archive||"},
                   false,
                   Damage::Empty}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

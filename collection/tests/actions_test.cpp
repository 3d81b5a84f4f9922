// Acting on checked rows: which rows Repair Headers and Rename To List
// Names take or skip, what they leave on disk, and the report's bytes.
#include "collection/tests/collection_support.h"

#include "collection/actions.h"
#include "collection/report.h"
#include "collection/scan.h"

#include <nlohmann/json.hpp>

namespace {

using namespace kelvo;
using namespace kelvo::test;

constexpr std::string_view kList = R"(<datafile><header><name>Names</name></header>
<game name="A"><rom name="Alpha (World).gba" size="4096" crc="0be47ed9"/></game>
<game name="B"><rom name="sub/Beta.gba" size="4096" crc="b0f41903"/></game>
</datafile>)";

ListSet namingList() {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(kList.data());
    return ListSet({parseChecksumList(std::span(bytes, kList.size()), "/lists/names.dat")});
}

Bytes changed(Bytes bytes, std::size_t offset, std::uint8_t value) {
    bytes[offset] = value;
    return bytes;
}

struct ActionRow {
    const char* name;
    std::vector<std::pair<std::string, Bytes>> files; // written before the check
    std::vector<std::string> lines;                   // repairLines or renameLines
    std::vector<std::string> after;                   // the scratch directory's names after
    bool touchAfterCheck = false;                     // every file written again meanwhile
};

class Acting : public CollectionTest, public ::testing::WithParamInterface<ActionRow> {
protected:
    std::vector<CheckRow> checkFiles() {
        const ActionRow& row = GetParam();
        for (const auto& [name, bytes] : row.files)
            write(name, bytes);
        std::vector<CheckRow> rows = checkAll({{dir()}, true, false, 1, {}}, namingList());
        if (row.touchAfterCheck) {
            for (const auto& [name, bytes] : row.files) {
                std::filesystem::remove(path(name));
                write(name, bytes);
            }
        }
        return rows;
    }
};

class Repairs : public Acting {};

// Each repaired file ends as the image it was made from; skipped ones and
// the rest are left as they were.
TEST_P(Repairs, MendWhatCanBeMended) {
    const std::vector<CheckRow> rows = checkFiles();
    const RepairPlans plans = planRepairs(rows, {});
    EXPECT_EQ(repairLines(rows, plans), GetParam().lines);
    for (const PlannedRepair& repair : plans.repairs)
        applyRepair(repair);
    for (const auto& [name, bytes] : GetParam().files) {
        const bool repaired =
            std::any_of(plans.repairs.begin(), plans.repairs.end(),
                        [&](const PlannedRepair& r) { return rows[r.row].file == name; });
        EXPECT_EQ(readFile(path(name)), repaired ? image(4096) : bytes) << name;
    }
    // The table's rows after the repair: read again, as they are now.
    for (const PlannedRepair& repair : plans.repairs)
        EXPECT_EQ(describe(checkAgain(rows[repair.row], {})),
                  rows[repair.row].file + "|OK|0be47ed9|0b2d26156a7abece3aa9d3756158a73cbf5a8e71");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Repairs,
    ::testing::Values(
        ActionRow{"check_byte",
                  {{"u.gba", changed(image(4096), kCheckOffset, 0x51)}},
                  {"u.gba: Byte 0xBD (check byte): 0x51 becomes 0x50"},
                  {}},
        ActionRow{"fixed_value",
                  {{"f.gba", changed(image(4096), kFixedValueOffset, 0)}},
                  {"f.gba: Byte 0xB2 (fixed value): 0x00 becomes 0x96"},
                  {}},
        ActionRow{"header_fine", {{"a.gba", image(4096)}}, {}, {}},
        ActionRow{"logo_invalid",
                  {{"l.gba", changed(changed(image(4096), kCheckOffset, 0x51), 0x10, 0)}},
                  {"Skipped l.gba: the boot logo is not the console's (a dump's logo is not "
                   "mended)"},
                  {}},
        ActionRow{"archive_member",
                  {{"z.zip", makeZip({{"u.gba", changed(image(4096), kCheckOffset, 0x51)}})}},
                  {"Skipped z.zip/u.gba: inside an archive (archives are never written)"},
                  {}},
        ActionRow{"changed_since_the_check",
                  {{"u.gba", changed(image(4096), kCheckOffset, 0x51)}},
                  {"Skipped u.gba: changed since the check"},
                  {},
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

class Renames : public Acting {};

TEST_P(Renames, TakeTheListsNamesWithoutReplacing) {
    const std::vector<CheckRow> rows = checkFiles();
    const RenamePlans plans = planRenames(rows, {});
    EXPECT_EQ(renameLines(rows, plans), GetParam().lines);
    for (const PlannedRename& rename : plans.renames)
        EXPECT_EQ(renamedRow(rows[rename.row], rename.newName).file,
                  applyRename(rename).empty() ? "" : rename.newName);
    EXPECT_EQ(namesIn(dir()), GetParam().after);
}

const Bytes kAlpha = image(4096, 0);

INSTANTIATE_TEST_SUITE_P(
    Rows, Renames,
    ::testing::Values(
        ActionRow{"with_its_save_file",
                  {{"a.gba", kAlpha}, {"a.sav", {1}}},
                  {"a.gba -> Alpha (World).gba"},
                  {"Alpha (World).gba", "Alpha (World).sav"}},
        ActionRow{"named_so_already", {{"Alpha (World).gba", kAlpha}}, {}, {"Alpha (World).gba"}},
        ActionRow{"two_want_one_name",
                  {{"a.gba", kAlpha}, {"b.gba", kAlpha}},
                  {"Skipped a.gba: another file wants the name \"Alpha (World).gba\" too",
                   "Skipped b.gba: another file wants the name \"Alpha (World).gba\" too"},
                  {"a.gba", "b.gba"}},
        ActionRow{"name_taken",
                  {{"a.gba", kAlpha}, {"Alpha (World).gba", {1, 2, 3}}},
                  {"Skipped a.gba: the name \"Alpha (World).gba\" is taken"},
                  {"Alpha (World).gba", "a.gba"}},
        ActionRow{"list_name_with_a_slash",
                  {{"b.gba", image(4096, 1)}},
                  {"Skipped b.gba: A file name cannot contain '/'"},
                  {"b.gba"}},
        ActionRow{"archive_member",
                  {{"z.zip", makeZip({{"a.gba", kAlpha}})}},
                  {"Skipped z.zip/a.gba: inside an archive (archives are never written)"},
                  {"z.zip"}},
        ActionRow{"changed_since_the_check",
                  {{"a.gba", kAlpha}},
                  {"Skipped a.gba: changed since the check"},
                  {"a.gba"},
                  true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Reports.

TEST_F(CollectionTest, ReportsInCsvAndJson) {
    write("x,\"y\"\xFF.gba", image(4096, 0));
    write("=1+1.gba", image(100, 4));
    write("z.zip", makeZip({{"a.gba", image(4096, 1)}}));
    write("q.zip", Bytes{'n', 'o'});
    const std::vector<CheckRow> rows = checkAll({{dir()}, true, true, 1, {}});
    EXPECT_EQ(csvReport(rows),
              "File,Title,Game code,Maker,Size,Header,Save type,CRC32,SHA-1,List status,List "
              "name\r\n"
              "'=1+1.gba,,,,100,too short,,47963905,f12f4e7024a397939991ff7f07bab51b091a289c,No "
              "lists loaded,\r\n"
              "q.zip,,,,,damaged archive: Not a zip archive,,,,,\r\n"
              "\"x,\"\"y\"\"\xEF\xBF\xBD.gba\",SAMPLE TITLE,AXYJ,01 - Nintendo,4096,OK,"
              "\"none found (no save, or a homebrew image without an ID)\",0be47ed9,"
              "0b2d26156a7abece3aa9d3756158a73cbf5a8e71,No lists loaded,\r\n"
              "z.zip/a.gba,SAMPLE TITLE,AXYJ,01 - Nintendo,4096,OK,not computed,b0f41903,not "
              "computed,No lists loaded,\r\n");
    const nlohmann::json json = nlohmann::json::parse(jsonReport(rows));
    ASSERT_EQ(json.size(), 4u);
    EXPECT_EQ(json[1].dump(), R"({"crc32":null,"file":"q.zip","game_code":null,)"
                              R"("header":"damaged archive: Not a zip archive","list_name":null,)"
                              R"("list_status":null,"maker":null,"save_type":null,"sha1":null,)"
                              R"("size":null,"title":null})");
    EXPECT_EQ(json[3].dump(), R"({"crc32":"b0f41903","file":"z.zip/a.gba","game_code":"AXYJ",)"
                              R"("header":"OK","list_name":null,"list_status":"No lists loaded",)"
                              R"("maker":"01 - Nintendo","save_type":null,"sha1":null,)"
                              R"("size":4096,"title":"SAMPLE TITLE"})");

    exportReport(path("out.JSON"), rows);
    const std::string written = jsonReport(rows);
    EXPECT_EQ(readFile(path("out.JSON")), Bytes(written.begin(), written.end()));
    EXPECT_THROW(exportReport(path("out.txt"), rows), FileError);
    EXPECT_FALSE(std::filesystem::exists(path("out.txt")));
}

} // namespace

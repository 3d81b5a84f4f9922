// info and rename-to-list holding images against checksum lists: the
// configured ones (a scratch $XDG_CONFIG_HOME) and those given with --dat.
// Hashes come from Python's zlib and hashlib over the same bytes:
//   bytes((i * mul + add) & 0xFF for i in range(size)), C also + b'\xff' * 1096
#include "cli/tests/cli_support.h"

#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace kelvo;
using namespace kelvo::test;

// A verified, B a bad dump, C trimmed (listed padded with 0xFF to 4096), D
// of a size no entry has, E only in extra.xml, F listed under a name no
// file can have, G of a listed size in no list; '-' a save file.
const std::map<char, std::array<std::size_t, 3>> kImages = {
    {'A', {3000, 7, 3}},  {'B', {5000, 5, 1}}, {'C', {3000, 3, 9}},  {'D', {2000, 13, 7}},
    {'E', {1024, 11, 2}}, {'F', {600, 17, 5}}, {'G', {3000, 19, 4}}, {'-', {1, 0, 's'}}};

const std::map<std::string, std::string> kListFiles = {
    {"conf.dat", R"(clrmamepro ( name "Conf" version 1 )
game ( rom ( name "Good Game (World).gba" size 3000 crc 57081df1 sha1 ff0f60646fbaea7c324c3f247b4f9871dac279c2 flags verified ) )
game ( rom ( name "Bad Game (World) [b].gba" size 5000 crc 0BE4C1C6 md5 bae379dce800f24e76fb695fb1757bcd flags baddump ) )
game ( rom ( name "Trim Game (World).gba" size 4096 crc 686cbedd sha1 8df319b9ca6cd9c782c728b679252eb61c97b692 ) )
game ( rom ( name "../evil.gba" size 600 crc 7c5e56a4 ) ) )"},
    {"extra.xml", R"(<datafile><header><name>Extra</name><version>2</version></header>
<game name="e"><rom name="Extra Game.gba" size="1024" crc="cf0d7aa5" sha1="fa4e7ce06f738b040719bf1593dd0b2eac6cba65"/></game></datafile>)"},
    {"broken.dat", "clrmamepro ( name \"Broken\"\n"}};

// Lists of names are written "a|b|c".
struct Row {
    const char* name;
    std::string configured; // list files named in the configuration
    std::string files;      // in roms/, each "NAME=IMAGE"
    std::string args;
    std::string out; // info: how standard output ends; rename-to-list: all of it
    int status;
    std::string err = {};   // in standard error, once; empty: nothing there
    std::string after = {}; // rename-to-list: the names in roms/ afterwards
};

std::vector<std::string> split(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> items;
    for (std::string item; std::getline(in, item, '|');)
        items.push_back(item);
    return items;
}

class WithLists : public ScratchDirTest, public ::testing::WithParamInterface<Row> {};

TEST_P(WithLists, SaysAndRenamesAsTheListsDo) {
    const Row& row = GetParam();
    std::filesystem::create_directories(path("config/kelvo-gba"));
    std::filesystem::create_directories(path("roms"));
    std::ofstream configuration(path("config/kelvo-gba/checksum-lists"));
    for (const std::string& name : split(row.configured))
        configuration << path(name) << '\n';
    configuration.close();
    for (const auto& [name, text] : kListFiles)
        std::ofstream(path(name)) << text;
    for (const std::string& file : split(row.files)) {
        const auto [size, mul, add] = kImages.at(file.back());
        Bytes bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = std::uint8_t(i * mul + add);
        writeFile(path("roms/" + file.substr(0, file.size() - 2)), bytes);
    }
    std::vector<std::string> args = split(row.args);
    for (std::string& arg : args)
        arg = kListFiles.contains(arg) ? path(arg) : arg;
    // A file where the cache's directory would be leaves the program without one.
    const std::string cache = std::string(row.name).starts_with("cache") ? "roms/x" : "cache";
    const CliRun run =
        runCli(args, path("roms"), uid_t(-1),
               {"XDG_CONFIG_HOME=" + path("config"), "XDG_CACHE_HOME=" + path(cache)});

    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_TRUE(args[0] == "info" ? run.out.ends_with(row.out) : run.out == row.out) << run.out;
    if (args[0] != "info") {
        std::string names;
        for (const std::string& name : namesIn(path("roms")))
            names += (names.empty() ? "" : "|") + name;
        EXPECT_EQ(names, row.after);
    }
    const std::size_t said = run.err.find(row.err);
    EXPECT_TRUE(row.err.empty() ? run.err.empty() : said != std::string::npos) << run.err;
    EXPECT_EQ(said, run.err.rfind(row.err)) << "said twice: " << run.err;
}

std::string rows(const std::string& status, const std::string& name, const std::string& list) {
    return "List status: " + status + "\nList name: " + name + "\nList: " + list + "\n";
}

const std::string kGood = "Good Game (World).gba";
const std::string kTrim = "Trim Game (World).gba";

INSTANTIATE_TEST_SUITE_P(
    Info, WithLists,
    ::testing::Values(
        Row{"verified", "conf.dat", "x=A", "info|x", rows("Verified", kGood, "Conf 1"), 0},
        Row{"trimmed", "conf.dat", "x=C", "info|x", rows("Trimmed", kTrim, "Conf 1"), 0},
        Row{"not_listed", "conf.dat", "x=G", "info|x", rows("Not in the loaded lists", "", ""), 0},
        Row{"dat_adds", "conf.dat", "x=E", "info|--dat|extra.xml|x",
            rows("Good", "Extra Game.gba", "Extra 2"), 0},
        Row{"failed_list_named_others_used", "broken.dat|conf.dat", "x=A", "info|x",
            rows("Verified", kGood, "Conf 1"), 2, "broken.dat\": line 2: "},
        Row{"no_list_loaded", "broken.dat", "x=A", "info|x", rows("No lists loaded", "", ""), 2,
            "broken.dat"},
        Row{"none_configured_no_rows", "", "x=A", "info|x", "Padding: none\n", 0},
        Row{"dat_with_header", "", "x=A", "info|--header|--dat|extra.xml|x", "", 2, "--header"},
        Row{"cache_unusable_said_once", "conf.dat", "x=C", "info|x",
            rows("Trimmed", kTrim, "Conf 1"), 0, "cannot be used (Cannot create the directory"},
        Row{"json_bad_dump", "conf.dat", "x=B", "info|--json|x",
            "\"baddump\",\n  \"list_name\": \"Bad Game (World) [b].gba\",\n  \"list\": \"Conf "
            "1\"\n}\n",
            0},
        Row{"json_not_listed", "conf.dat", "x=D", "info|--json|x",
            "\"unknown\",\n  \"list_name\": null,\n  \"list\": null\n}\n", 0}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    RenameToList, WithLists,
    ::testing::Values(
        Row{"with_save", "conf.dat", "a.gba=A|a.sav=-", "rename-to-list|a.gba",
            "a.gba -> " + kGood + "\na.sav -> Good Game (World).sav\n", 0, "",
            kGood + "|Good Game (World).sav"},
        Row{"dry_run", "conf.dat", "a.gba=A|a.srm=-", "rename-to-list|--dry-run|a.gba",
            "a.gba -> " + kGood + "\na.srm -> Good Game (World).srm\n", 0, "", "a.gba|a.srm"},
        Row{"already_named", "conf.dat", kGood + "=A", "rename-to-list|" + kGood,
            kGood + ": already named as in the list\n", 0, "", kGood},
        Row{"name_taken", "conf.dat", "a.gba=A|" + kGood + "=D", "rename-to-list|a.gba", "", 1,
            "already exists", kGood + "|a.gba"},
        Row{"not_listed", "conf.dat", "g.gba=G", "rename-to-list|g.gba", "", 1,
            "\"g.gba\": Not in the loaded lists", "g.gba"},
        Row{"name_refused", "conf.dat", "f.gba=F", "rename-to-list|f.gba", "", 1,
            "\"f.gba\": Cannot rename to \"../evil.gba\"", "f.gba"},
        Row{"dat_only_one_of_two_listed", "", "e.gba=E|d.gba=D",
            "rename-to-list|--dat|extra.xml|e.gba|d.gba", "e.gba -> Extra Game.gba\n", 1,
            "\"d.gba\": Not in", "Extra Game.gba|d.gba"},
        Row{"no_list", "", "a.gba=A", "rename-to-list|a.gba", "", 2, "no checksum list", "a.gba"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

// The file naming the configured lists: read as a user may have edited it,
// written so that it reads back the same.
#include "checksumlists/configured.h"
#include "romheader/tests/scratch_dir.h"

#include <cstdlib>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Paths = std::vector<std::string>;

struct ConfigRow {
    const char* name;
    std::string text;
    Paths expected; // "@" stands for the file's directory
};

class ConfiguredLists : public ScratchDirTest, public ::testing::WithParamInterface<ConfigRow> {};

TEST_P(ConfiguredLists, ReadAsEdited) {
    const std::string file = path("checksum-lists");
    writeFile(file, Bytes(GetParam().text.begin(), GetParam().text.end()));
    Paths expected;
    for (std::string p : GetParam().expected)
        expected.push_back(p.front() == '@' ? dir() + p.substr(1) : p);
    EXPECT_EQ(readConfiguredLists(file), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConfiguredLists,
    ::testing::Values(ConfigRow{"empty", "", {}},
                      ConfigRow{"one_per_line",
                                "/d/gba.dat\n/d/homebrew (2026).zip\n",
                                {"/d/gba.dat", "/d/homebrew (2026).zip"}},
                      ConfigRow{"blanks_comments_crlf_no_final_newline",
                                "\n  /d/a.dat \t\r\n# a note\n\n\t/d/b.xml",
                                {"/d/a.dat", "/d/b.xml"}},
                      ConfigRow{"repeated_once", "/d/a.dat\n/d/a.dat\n", {"/d/a.dat"}},
                      ConfigRow{"relative_beside_the_file", "dats/gba.dat\n", {"@/dats/gba.dat"}}),
    [](const auto& info) { return std::string(info.param.name); });

class ConfiguredFile : public ScratchDirTest {};

TEST_F(ConfiguredFile, WrittenAtomicallyIntoItsDirectoryAndReadBack) {
    ::setenv("XDG_CONFIG_HOME", dir().c_str(), 1);
    const std::string file = configuredListsPath();
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(file, path("kelvo-gba/checksum-lists"));
    EXPECT_EQ(readConfiguredLists(file), Paths{}) << "a missing file is no lists";

    const Paths lists = {"/d/Nintendo - Game Boy Advance (20260801).zip", "/d/b c.dat"};
    writeConfiguredLists(file, lists);
    EXPECT_EQ(readFile(file), Bytes(std::string_view("/d/Nintendo - Game Boy Advance "
                                                     "(20260801).zip\n/d/b c.dat\n")
                                        .begin(),
                                    std::string_view("/d/Nintendo - Game Boy Advance "
                                                     "(20260801).zip\n/d/b c.dat\n")
                                        .end()));
    EXPECT_EQ(readConfiguredLists(file), lists);

    for (const std::string bad : {"relative.dat", "/a\nb.dat", "/ends in a blank "}) {
        EXPECT_THROW(writeConfiguredLists(file, {"/d/ok.dat", bad}), FileError) << bad;
        EXPECT_EQ(readConfiguredLists(file), lists) << "a refused write changed the file";
    }
    EXPECT_THROW((void)readConfiguredLists(dir()), FileError) << "a directory read as a file";
}

} // namespace

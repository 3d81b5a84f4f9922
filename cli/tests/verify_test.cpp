// verify as shell scripts run it: rows of arguments over one collection,
// with the output lines and the exit status written by hand.
#include "cli/tests/cli_support.h"
#include "collection/tests/collection_support.h"

#include <sys/stat.h>

#include <cstdlib>

namespace {

using namespace kelvo;
using namespace kelvo::test;

constexpr std::string_view kConfigured = R"(<datafile><header><name>Conf</name>
<version>3</version></header>
<game name="A"><rom name="Alpha (World).gba" size="4096" crc="0be47ed9" status="verified"/></game>
<game name="B"><rom name="b.gba" size="4096" crc="b0f41903"/></game></datafile>)";
constexpr std::string_view kExtra = R"(<datafile><header><name>Extra</name></header>
<game name="T"><rom name="Trim (Europe).gba" size="4096" crc="263abfb0"/></game></datafile>)";

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

class Verify : public CollectionTest {
protected:
    void SetUp() override {
        CollectionTest::SetUp();
        write("config/conf.dat", bytesOf(kConfigured));
        write("config/kelvo-gba/checksum-lists", bytesOf(path("config/conf.dat") + "\n"));
        write("extra.dat", bytesOf(kExtra));
        write("col/a.gba", image(4096, 0));
        write("col/t.gba", image(3000, 3));
        Bytes wrongCheck = image(4096, 0);
        wrongCheck[kCheckOffset] ^= 1;
        write("col/u.gba", wrongCheck);
        write("col/sub/b.gba", image(4096, 1));
        write("col/z.zip", makeZip({{"m.gba", image(4096, 1)}}));
        write("col/bad.zip", makeZip({ZipEntry("x.gba", image(4096, 1)).storedCrc(1)}));
        write("col/-odd.gba", image(4096, 0));
        makeDirectory("col/empty");
    }

    // verify run in col/, with this test's configuration and cache.
    CliRun verify(const std::vector<std::string>& args, uid_t uid = uid_t(-1)) {
        std::vector<std::string> all = args;
        all.insert(all.begin(), "verify");
        return runCli(all, path("col"), uid,
                      {"XDG_CONFIG_HOME=" + path("config"), "XDG_CACHE_HOME=" + path("cache")});
    }
};

struct VerifyRow {
    const char* name;
    std::vector<std::string> args; // after "verify", run in col/
    std::string out;
    int status;
    std::string errHas = {};
};

class VerifyRows : public Verify, public ::testing::WithParamInterface<VerifyRow> {};

TEST_P(VerifyRows, PrintsEachImageAndExits) {
    const VerifyRow& row = GetParam();
    const CliRun run = verify(row.args);
    EXPECT_EQ(run.out, row.out);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_NE(run.err.find(row.errHas), std::string::npos) << run.err;
}

const std::string kAlpha = "\tAlpha (World).gba\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, VerifyRows,
    ::testing::Values(
        VerifyRow{"verified_file", {"a.gba"}, "verified\ta.gba" + kAlpha, 0},
        VerifyRow{"good_member", {"z.zip"}, "good\tz.zip/m.gba\tb.gba\n", 0},
        VerifyRow{"trimmed_with_the_added_list",
                  {"--dat", "../extra.dat", "t.gba"},
                  "trimmed\tt.gba\tTrim (Europe).gba\n",
                  1},
        VerifyRow{"unknown_without_it", {"t.gba"}, "unknown\tt.gba\t\n", 1},
        VerifyRow{"directory_top_only",
                  {"--dat=../extra.dat", "."},
                  "verified\t./-odd.gba" + kAlpha + "verified\t./a.gba" + kAlpha +
                      "error\t./bad.zip/x.gba\t\ntrimmed\t./t.gba\tTrim (Europe).gba\n"
                      "unknown\t./u.gba\t\ngood\t./z.zip/m.gba\tb.gba\n",
                  1,
                  "\"./bad.zip/x.gba\": damaged archive member"},
        VerifyRow{"recursive", {"-r", "sub", "empty"}, "good\tsub/b.gba\tb.gba\n", 0},
        VerifyRow{"missing_file",
                  {"a.gba", "nope.gba"},
                  "verified\ta.gba" + kAlpha + "error\tnope.gba\t\n",
                  2,
                  "\"nope.gba\": unreadable: No such file or directory"},
        VerifyRow{"list_unreadable",
                  {"--dat", "none.dat", "a.gba"},
                  "verified\ta.gba" + kAlpha,
                  2,
                  "none.dat"},
        VerifyRow{"json",
                  {"--json", "a.gba", "u.gba"},
                  "[\n  {\n    \"path\": \"a.gba\",\n    \"status\": \"verified\",\n"
                  "    \"list_name\": \"Alpha (World).gba\",\n    \"list\": \"Conf 3\"\n  },\n"
                  "  {\n    \"path\": \"u.gba\",\n    \"status\": \"unknown\",\n"
                  "    \"list_name\": null,\n    \"list\": null\n  }\n]\n",
                  1},
        VerifyRow{"dash_name", {"--", "-odd.gba"}, "verified\t-odd.gba" + kAlpha, 0},
        VerifyRow{"no_images", {"empty"}, "", 0, "no images found"},
        VerifyRow{"no_path", {"--json"}, "", 2, "no file named"},
        VerifyRow{"unknown_option", {"-x", "a.gba"}, "", 2, "-x"}),
    [](const auto& info) { return std::string(info.param.name); });

// A directory the user cannot read is a row; the rest is still checked.
TEST_F(Verify, UnreadableDirectoryIsARow) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run as another user";
    write("col/locked/x.gba", image(4096, 0));
    ASSERT_EQ(::chmod(path("col/locked").c_str(), 0), 0);
    for (const char* name : {"", "col", "col/sub", "config", "config/kelvo-gba"})
        ASSERT_EQ(::chmod(path(name).c_str(), 0755), 0);
    for (const char* name : {"config/conf.dat", "config/kelvo-gba/checksum-lists"})
        ASSERT_EQ(::chmod(path(name).c_str(), 0644), 0);
    const CliRun run = verify({"-r", "locked", "sub"}, 65534);
    EXPECT_EQ(run.out, "error\tlocked\t\ngood\tsub/b.gba\tb.gba\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("\"locked\": unreadable directory: Permission denied"),
              std::string::npos)
        << run.err;
}

} // namespace

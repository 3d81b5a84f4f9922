// The subcommands run as build scripts and shell scripts run them: rows of
// arguments, the bytes they leave on disk, their output and exit status.
// Expected header bytes come from a separate implementation of the fixer's
// documented behaviour in Python (its output is pasted into the rows).
#include "cli/tests/cli_support.h"
#include "romheader/imageedit.h"

#include <nlohmann/json.hpp>

namespace {

using namespace kelvo;
using namespace kelvo::test;

// Bytes of i * 7 + 3: no field holds what the fixer writes, and no run of
// equal bytes looks like padding.
Bytes pattern(std::size_t length) {
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = std::uint8_t(i * 7 + 3);
    return bytes;
}

Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(std::uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

// "FILE" in a row's arguments stands for the image's path.
std::vector<std::string> withFile(std::vector<std::string> args, const std::string& file) {
    for (std::string& arg : args)
        arg = arg == "FILE" ? file : arg;
    return args;
}

class CliTest : public ScratchDirTest {};

// ---------------------------------------------------------------------------
// fix, on an 8824-byte image of the pattern.

struct FixRow {
    const char* name;
    std::vector<std::string> args;
    std::string header; // 0xA0..0xBF afterwards in hex; empty: the file is left as it was
    std::size_t size;   // afterwards
    int status;
    std::string outEnd; // what standard output ends with
    const char* file = "image.gba";
};

class Fix : public CliTest, public ::testing::WithParamInterface<FixRow> {};

TEST_P(Fix, WritesWhatTheFixerWrites) {
    const FixRow& row = GetParam();
    const Bytes before = pattern(8824);
    writeFile(path(row.file), before);
    std::vector<std::string> args = withFile(row.args, row.file);
    args.insert(args.begin(), "fix");
    const CliRun run = runCli(args, dir());
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_TRUE(run.out.ends_with(row.outEnd)) << run.out;
    EXPECT_EQ(run.err.empty(), row.status == 0) << run.err;

    Bytes expected = before;
    if (!row.header.empty()) {
        std::copy(kBootLogo.begin(), kBootLogo.end(), expected.begin() + kLogoOffset);
        const Bytes fields = fromHex(row.header);
        std::copy(fields.begin(), fields.end(), expected.begin() + kTitleOffset);
        expected.resize(row.size, 0xFF);
    }
    EXPECT_EQ(readFile(path(row.file)), expected);
}

const std::string kAllFields = "4d5947414d4500000000000041585645303196e800f6fd040b12192001c60000";

INSTANTIATE_TEST_SUITE_P(
    Rows, Fix,
    ::testing::Values(FixRow{"all_fields",
                             {"FILE", "-tMYGAME", "-cAXVE", "-m01", "-r1"},
                             kAllFields,
                             8824,
                             0,
                             "0xBD: 0x2E -> 0xC6\n0xBE: 0x35 -> 0x00\n0xBF: 0x3C -> 0x00\n"},
                      FixRow{"padded_options_first",
                             {"-p", "-tMYGAME", "-cAXVE", "-m01", "-r1", "FILE"},
                             kAllFields,
                             16384,
                             0,
                             "0xBF: 0x3C -> 0x00\npadded 8824 -> 16384 bytes with 0xFF\n"},
                      FixRow{"nothing_given",
                             {"FILE"},
                             "636a71787f868d949ba2a9b0b7bec5ccd3da96e800f6fd040b12192027d00000",
                             8824,
                             0,
                             ""},
                      FixRow{"title_from_name",
                             {"-t", "FILE"},
                             "6d792e67616d650000000000b7bec5ccd3da96e800f6fd040b12192027940000",
                             8824,
                             0,
                             "",
                             "my.game.gba"},
                      FixRow{"title_from_a_dash_name",
                             {"-t", "--", "FILE"},
                             "2d6f64640000000000000000b7bec5ccd3da96e800f6fd040b12192027de0000",
                             8824,
                             0,
                             "",
                             "-odd.gba"},
                      FixRow{"title_cut_to_12",
                             {"FILE", "-tAVERYLONGTITLE123"},
                             "41564552594c4f4e47544954b7bec5ccd3da96e800f6fd040b121920279a0000",
                             8824,
                             0,
                             ""},
                      FixRow{"version_hex",
                             {"-r0x1F", "FILE"},
                             "636a71787f868d949ba2a9b0b7bec5ccd3da96e800f6fd040b1219201fd80000",
                             8824,
                             0,
                             ""},
                      FixRow{"version_octal",
                             {"-r017", "FILE"},
                             "636a71787f868d949ba2a9b0b7bec5ccd3da96e800f6fd040b1219200fe80000",
                             8824,
                             0,
                             ""},
                      FixRow{"version_255",
                             {"-r255", "FILE"},
                             "636a71787f868d949ba2a9b0b7bec5ccd3da96e800f6fd040b121920fff80000",
                             8824,
                             0,
                             ""},
                      FixRow{"dry_run",
                             {"--dry-run", "-p", "FILE"},
                             "",
                             8824,
                             0,
                             "padded 8824 -> 16384 bytes with 0xFF\n"},
                      FixRow{"code_of_3", {"-cAXV", "FILE"}, "", 8824, 2, ""},
                      FixRow{"code_of_5", {"-cAXVEE", "FILE"}, "", 8824, 2, ""},
                      FixRow{"code_empty", {"-c", "FILE"}, "", 8824, 2, ""},
                      FixRow{"maker_of_1", {"-m1", "FILE"}, "", 8824, 2, ""},
                      FixRow{"maker_of_3", {"-m012", "FILE"}, "", 8824, 2, ""},
                      FixRow{"version_256", {"-r256", "FILE"}, "", 8824, 2, ""},
                      FixRow{"version_negative", {"-r-1", "FILE"}, "", 8824, 2, ""},
                      FixRow{"version_word", {"-rabc", "FILE"}, "", 8824, 2, ""},
                      FixRow{"version_empty", {"-r", "FILE"}, "", 8824, 2, ""},
                      FixRow{"version_bad_octal", {"-r08", "FILE"}, "", 8824, 2, ""},
                      FixRow{"title_not_ascii", {"-tCAF\xC3\x89", "FILE"}, "", 8824, 2, ""},
                      FixRow{"title_control", {"-tA\tB", "FILE"}, "", 8824, 2, ""},
                      FixRow{"debug", {"-d1", "FILE"}, "", 8824, 2, ""},
                      FixRow{"unknown_option", {"-x", "FILE"}, "", 8824, 2, ""},
                      FixRow{"bundled_letters", {"-pt", "FILE"}, "", 8824, 2, ""},
                      FixRow{"two_files", {"FILE", "FILE"}, "", 8824, 2, ""},
                      FixRow{
                          "option_after_dashes_is_a_file", {"--", "FILE", "-tX"}, "", 8824, 2, ""},
                      FixRow{"no_file", {"-p"}, "", 8824, 2, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, FixTwiceChangesNothingTheSecondTime) {
    writeFile(path("a.gba"), pattern(8824));
    ASSERT_EQ(runCli({"fix", "a.gba"}, dir()).status, 0);
    const CliRun again = runCli({"fix", "a.gba", "-r1"}, dir());
    EXPECT_EQ(again.out, "0xBC: 0x27 -> 0x01\n0xBD: 0xD0 -> 0xF6\n");
    EXPECT_EQ(runCli({"fix", "a.gba", "-r1"}, dir()).out, "nothing to change\n");
}

// ---------------------------------------------------------------------------
// trim and pad, on `data` bytes of the pattern followed by `padLength` x `pad`.

struct SizeRow {
    const char* name;
    std::vector<std::string> args;
    std::size_t data;
    std::uint8_t pad;
    std::size_t padLength;
    std::size_t size; // afterwards: cut, or filled with `fill`
    std::uint8_t fill;
    std::string out; // after "FILE: "
    int status = 0;
};

class TrimAndPad : public CliTest, public ::testing::WithParamInterface<SizeRow> {};

TEST_P(TrimAndPad, LeavesTheSize) {
    const SizeRow& row = GetParam();
    Bytes before = pattern(row.data);
    before.insert(before.end(), row.padLength, row.pad);
    writeFile(path("a.gba"), before);
    const CliRun run = runCli(withFile(row.args, "a.gba"), dir());
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(run.out, row.out.empty() ? "" : "a.gba: " + row.out);

    Bytes expected = before;
    expected.resize(row.size, row.fill);
    EXPECT_EQ(readFile(path("a.gba")), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TrimAndPad,
    ::testing::Values(
        SizeRow{"trim_ff_rounded_up",
                {"trim", "FILE"},
                8822,
                0xFF,
                7562,
                8824,
                0,
                "trimmed 16384 -> 8824 bytes of 0xFF padding\n"},
        SizeRow{"trim_zeros",
                {"trim", "FILE"},
                5000,
                0x00,
                1024,
                5000,
                0,
                "trimmed 6024 -> 5000 bytes of 0x00 padding\n"},
        SizeRow{
            "trim_under_1_kib", {"trim", "FILE"}, 5000, 0x00, 1023, 6023, 0, "nothing to trim\n"},
        SizeRow{
            "trim_other_byte", {"trim", "FILE"}, 5000, 0xAB, 4096, 9096, 0, "nothing to trim\n"},
        SizeRow{"trim_never_below_a_header",
                {"trim", "FILE"},
                0,
                0xFF,
                4096,
                192,
                0,
                "trimmed 4096 -> 192 bytes of 0xFF padding\n"},
        SizeRow{"trim_dry_run",
                {"trim", "--dry-run", "FILE"},
                8822,
                0xFF,
                7562,
                16384,
                0,
                "trimmed 16384 -> 8824 bytes of 0xFF padding\n"},
        SizeRow{"pad_ff",
                {"pad", "FILE"},
                8824,
                0,
                0,
                16384,
                0xFF,
                "padded 8824 -> 16384 bytes with 0xFF\n"},
        SizeRow{"pad_zeros",
                {"pad", "--byte", "0x00", "FILE"},
                8824,
                0,
                0,
                16384,
                0x00,
                "padded 8824 -> 16384 bytes with 0x00\n"},
        SizeRow{"pad_byte_attached",
                {"pad", "FILE", "--byte=0xff"},
                300,
                0,
                0,
                512,
                0xFF,
                "padded 300 -> 512 bytes with 0xFF\n"},
        SizeRow{"pad_power_of_two", {"pad", "FILE"}, 16384, 0, 0, 16384, 0, "nothing to pad\n"},
        SizeRow{"pad_dry_run",
                {"pad", "--dry-run", "FILE"},
                8824,
                0,
                0,
                8824,
                0,
                "padded 8824 -> 16384 bytes with 0xFF\n"},
        SizeRow{"pad_other_byte", {"pad", "--byte", "0x7F", "FILE"}, 8824, 0, 0, 8824, 0, "", 2},
        SizeRow{"pad_byte_missing", {"pad", "FILE", "--byte"}, 8824, 0, 0, 8824, 0, "", 2},
        SizeRow{
            "flag_given_a_value", {"trim", "--dry-run=1", "FILE"}, 0, 0xFF, 4096, 4096, 0, "", 2},
        SizeRow{"lone_dash_is_a_file",
                {"trim", "-", "FILE"},
                0,
                0xFF,
                4096,
                192,
                0,
                "trimmed 4096 -> 192 bytes of 0xFF padding\n",
                2}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// repair, and the boot logo it leaves alone.

TEST_F(CliTest, RepairMendsFixedValueAndCheckAndReportsTheLogo) {
    Bytes dumped = sampleImage();
    std::copy(kBootLogo.begin(), kBootLogo.end(), dumped.begin() + kLogoOffset);
    dumped[0xB2] = 0x00;
    writeFile(path("dump.gba"), dumped);
    Bytes homebrew = sampleImage();
    homebrew[0xBD] = 0x51;
    writeFile(path("homebrew.gba"), homebrew);

    const CliRun run = runCli({"repair", "dump.gba", "homebrew.gba"}, dir());
    // The dump's check byte was right for 0x96: only the fixed value changes.
    EXPECT_EQ(run.out, "dump.gba: 0xB2: 0x00 -> 0x96\nhomebrew.gba: 0xBD: 0x51 -> 0x50\n");
    EXPECT_EQ(run.status, 1) << "the homebrew image still has no logo";
    EXPECT_NE(run.err.find("\"homebrew.gba\": The boot logo"), std::string::npos) << run.err;
    dumped[0xB2] = 0x96;
    homebrew[0xBD] = 0x50;
    EXPECT_EQ(readFile(path("dump.gba")), dumped);
    EXPECT_EQ(readFile(path("homebrew.gba")), homebrew);
}

// ---------------------------------------------------------------------------
// info: text and JSON. The hashes were computed with Python's zlib and hashlib.

TEST_F(CliTest, InfoJsonCarriesEveryKeyWithItsType) {
    Bytes image = sampleImage(3072);
    const std::string_view branch("\x2E\x00\x00\xEA", 4);
    std::copy(branch.begin(), branch.end(), image.begin());
    image.insert(image.end(), 1024, 0xFF);
    writeFile(path("a.gba"), image);
    const CliRun run = runCli({"info", "--json", "a.gba"}, dir());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(nlohmann::json::parse(run.out), nlohmann::json::parse(R"({
        "file": "a.gba", "size": 4096, "title": "SAMPLE TITLE",
        "title_hex": "53414d504c45205449544c45", "game_code": "AXYJ", "maker_code": "01",
        "maker_name": "Nintendo", "entry_point": 134217920, "logo_valid": false,
        "fixed_value": 150, "unit_code": 0, "device_type": 0, "version": 0,
        "check_stored": 80, "check_computed": 80, "save_ids": [], "crc32": "55cee127",
        "md5": "ccbefaf250e2945c4f2c08ad966c0534",
        "sha1": "2d31f26f122e4bc3de1d3a60172af97d85bc0360",
        "sha256": "96a8d90c57c7f5e94a4847cfe9918480d3141ee3e83e7730eaeb36e378f18ad4",
        "padding_byte": 255, "padding_length": 1024})"));
}

// --header reads no more than the header: no hashes, and a file shorter than
// one gets the whole file's rows. Files are separated, failures named.
TEST_F(CliTest, InfoOfSeveralFiles) {
    writeFile(path("a.gba"), sampleImage());
    writeFile(path("short.gba"), sampleImage(100));
    const CliRun json = runCli({"info", "--json", "--header", "a.gba", "short.gba"}, dir());
    EXPECT_EQ(json.status, 1) << "a file shorter than a header is a problem";
    const auto files = nlohmann::json::parse(json.out);
    ASSERT_EQ(files.size(), 2u) << json.out;
    EXPECT_EQ(files[0]["title"], "SAMPLE TITLE");
    EXPECT_TRUE(files[0]["sha1"].is_null()) << "--header hashed the file";
    EXPECT_TRUE(files[1]["title"].is_null()) << "a 100-byte file has no header";
    EXPECT_EQ(files[1]["sha1"], "be7fd41586f415665d261af19613a4ba6f4346bb");

    const CliRun text = runCli({"info", "--header", "a.gba", "missing.gba", "a.gba"}, dir());
    EXPECT_EQ(text.status, 2);
    EXPECT_EQ(text.err, "kelvo-gba-cli: Cannot open \"missing.gba\": No such file or directory\n");
    EXPECT_TRUE(text.out.starts_with("File: a.gba\nSize: 4096 bytes")) << text.out;
    EXPECT_NE(text.out.find("computed 0x50: OK\n\nFile: a.gba\n"), std::string::npos) << text.out;
}

} // namespace

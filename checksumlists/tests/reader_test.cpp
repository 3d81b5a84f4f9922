// Reading checksum lists: every field of each format as its producers write
// it, and one message naming the file, the line and what was expected for
// every malformed or hostile input.
#include "checksumlists/tests/listtest.h"
#include "romheader/tests/scratch_dir.h"

#include <sys/stat.h>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Lines = std::vector<std::string>;

constexpr const char* kMd5 = "051928341be67dcba03f0e04104d9047";
constexpr const char* kSha1 = "27285271b352adb77c2ca213d92c21ef680fb133";
constexpr const char* kSha256 = "bfa0ec8bdf2946547879d50a68687ea32e2fa628db187357415858b633d194d9";

std::string both(const char* a, const std::string& b) {
    return std::string(a) + b;
}

const std::string kNoIntroXml = both(R"~(<?xml version="1.0"?>
<!DOCTYPE datafile PUBLIC "-//Logiqx//DTD ROM Management Datafile//EN" "http://www.logiqx.com/Dats/datafile.dtd">
<datafile>
	<header>
		<name>Nintendo - Game Boy Advance</name>
		<description> Nintendo - Game Boy Advance &amp; more </description>
		<version>20260801-000000</version>
		<clrmamepro forcenodump="required"/>
	</header>
	<game name="2048 (World) (GBA Jam 2024) (Aftermarket) (Unl)" id="0001">
		<description>2048 (World)</description>
		<rom name="2048 (World) (GBA Jam 2024) (Aftermarket) (Unl).gba" size="4194304" crc="CC2541CF" md5="051928341BE67DCBA03F0E04104D9047" )~",
                                     std::string("sha1=\"") + kSha1 + "\" sha256=\"" + kSha256 +
                                         R"~(" status="verified" serial="B24E" mia="yes"/>
	</game>
	<machine name="Other"><rom name="x.bin" size="8" crc="deadbeef" status="BadDump"/><disk name="d"/></machine>
	<game name="Missing"><rom name="m.gba" size="16" status="nodump"/></game>
	<game name="Repeated"><rom name="r.gba" size="2" crc="00000001"/></game>
	<game name="Repeated"><rom name="r.gba" size="2" crc="00000001"/></game>
	<unknown><rom name="not in a game" crc="00000002"/></unknown>
</datafile>
)~");

const Lines kNoIntroRoms = {
    both(
        "2048 (World) (GBA Jam 2024) (Aftermarket) (Unl)|2048 (World) (GBA Jam 2024) (Aftermarket) "
        "(Unl).gba|4194304|cc2541cf|",
        std::string(kMd5) + "|" + kSha1 + "|" + kSha256 + "|verified|B24E"),
    "Other|x.bin|8|deadbeef|-|-|-|baddump|",
    "Missing|m.gba|16|-|-|-|-|nodump|",
    "Repeated|r.gba|2|00000001|-|-|-|good|",
};

const std::string kClrmamepro = both(R"~(clrmamepro (
	name "Nintendo - Game Boy Advance"
	description "Homebrew (parenthesised) list"
	version 20260801
	comment "a ) in a string"
	forcezipping ( yes ( nested ) )
)

game (
	name "Sample (Europe) (En,Fr)"
	description "Sample"
	rom ( name "Sample (Europe) (En,Fr).gba" size 32,524,164 crc cc2541cf md5 )~",
                                     std::string(kMd5) + " sha1 " + kSha1 + " sha256 " + kSha256 +
                                         R"~( flags verified serial "AXYP" date ( 2001 ) )
	year 2001
)
game ( rom ( name bare.gba size 4 crc DEADBEEF status BADDUMP ) name "Name After" )
resource ( name "bios" rom ( name "b.bin" size 1 crc 00000001 flags nodump ) )
emulator ( name "ignored" rom ( name "not a game's" ) )
game ( name "No hashes" rom ( name "n.gba" size 8 ) )
)~");

const Lines kClrmameproRoms = {
    both("Sample (Europe) (En,Fr)|Sample (Europe) (En,Fr).gba|32524164|cc2541cf|",
         std::string(kMd5) + "|" + kSha1 + "|" + kSha256 + "|verified|AXYP"),
    "Name After|bare.gba|4|deadbeef|-|-|-|baddump|",
    "bios|b.bin|1|00000001|-|-|-|nodump|",
    "No hashes|n.gba|8|-|-|-|-|good|",
};

struct FormatRow {
    const char* name;
    std::string text;
    std::string header; // name|description|version
    Lines roms;
    std::size_t matchable;
};

class ListFormats : public ::testing::TestWithParam<FormatRow> {};

TEST_P(ListFormats, ReadsEveryFieldOnce) {
    const FormatRow& row = GetParam();
    const auto list = parse(row.text);
    EXPECT_EQ(list->path, "/lists/x.dat");
    EXPECT_EQ(list->name + "|" + list->description + "|" + list->version, row.header);
    Lines roms;
    for (const ListRom& rom : list->roms)
        roms.push_back(describe(rom));
    EXPECT_EQ(roms, row.roms);
    EXPECT_EQ(std::count_if(list->roms.begin(), list->roms.end(),
                            [](const ListRom& rom) { return rom.matchable(); }),
              std::ptrdiff_t(row.matchable));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ListFormats,
    ::testing::Values(
        FormatRow{"no_intro_xml", kNoIntroXml,
                  "Nintendo - Game Boy Advance|Nintendo - Game Boy Advance & more|20260801-000000",
                  kNoIntroRoms, 3},
        FormatRow{"zipped_xml", makeZip({{"readme.txt", "hi"}, {"GBA.DAT", kNoIntroXml}}),
                  "Nintendo - Game Boy Advance|Nintendo - Game Boy Advance & more|20260801-000000",
                  kNoIntroRoms, 3},
        FormatRow{"clrmamepro", kClrmamepro,
                  "Nintendo - Game Boy Advance|Homebrew (parenthesised) list|20260801",
                  kClrmameproRoms, 2},
        FormatRow{"clrmamepro_with_bom_no_header",
                  "\xEF\xBB\xBFgame(name x rom(name \"y z\" crc 0000000A))",
                  "||",
                  {"x|y z|-|0000000a|-|-|-|good|"},
                  1},
        FormatRow{"xml_without_header", "<datafile/>", "||", {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Each malformed or hostile list is refused with one message.
struct RefusalRow {
    const char* name;
    std::string text;
    std::string reason; // what follows `Cannot read the checksum list "/lists/x.dat": `
};

class Refusals : public ::testing::TestWithParam<RefusalRow> {};

TEST_P(Refusals, NameTheLineAndWhatWasExpected) {
    const RefusalRow& row = GetParam();
    try {
        const auto list = parse(row.text);
        ADD_FAILURE() << "read with " << list->roms.size() << " entries";
    } catch (const ListError& error) {
        EXPECT_EQ(error.what(), "Cannot read the checksum list \"/lists/x.dat\": " + row.reason);
        EXPECT_EQ(error.kind(), FileError::Kind::Malformed);
    }
}

std::string manyNested(int depth) {
    std::string text = "<datafile>";
    for (int i = 0; i < depth; ++i)
        text += "<a>";
    return text;
}

std::string zipWithFlag(std::string zip, std::size_t localOffset, std::size_t centralOffset,
                        std::uint8_t value) {
    zip[localOffset] = char(zip[localOffset] | value);
    const std::size_t central = zip.find("PK\x01\x02");
    zip[central + centralOffset] = char(zip[central + centralOffset] | value);
    return zip;
}

const std::string kLongName(10 << 20, 'A');

INSTANTIATE_TEST_SUITE_P(
    Rows, Refusals,
    ::testing::Values(
        RefusalRow{"empty", " \n\t", "expected a checksum list, found an empty file"},
        RefusalRow{"binary", std::string("\x7F\x45\x4C\x46\x02\x00", 6),
                   "line 1: expected text, found the byte 0x02"},
        RefusalRow{"plain_text", "hello world\n", "line 1: expected ( after hello, found world"},
        RefusalRow{"name_not_quoted", "clrmamepro (\n\tname ( x )\n)",
                   "line 2: expected a quoted string after name, found ("},
        RefusalRow{"unclosed_quote", "game (\n name \"x )\n)",
                   "line 2: expected a closing quote on the line"},
        RefusalRow{"truncated_block", "game (\n name \"x\"\n rom ( name y.gba )\n",
                   "line 4: expected ) to close the game block that starts on line 1"},
        RefusalRow{"value_missing", "game ( rom ( name y size ) )",
                   "line 1: expected a size after size, found )"},
        RefusalRow{"size_past_2_64", "game ( rom ( name y size 18446744073709551616 ) )",
                   "line 1: expected a size below 2^64 bytes, found \"18446744073709551616\""},
        RefusalRow{"size_with_bad_commas", "game ( rom ( name y size 1,,000 ) )",
                   "line 1: expected a size in decimal digits, found \"1,,000\""},
        RefusalRow{"short_crc", "game ( rom ( name y crc 1A2B3C ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \"1A2B3C\""},
        RefusalRow{"sha1_not_hex", "game ( rom ( name y sha1 zz ) )",
                   "line 1: expected 40 hexadecimal digits for sha1, found \"zz\""},
        // The characters just outside each range of hexadecimal digits.
        RefusalRow{"crc_slash", "game ( rom ( name y crc 0123456/ ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \"0123456/\""},
        RefusalRow{"crc_colon", "game ( rom ( name y crc :1234567 ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \":1234567\""},
        RefusalRow{"crc_at_sign", "game ( rom ( name y crc 012@4567 ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \"012@4567\""},
        RefusalRow{"crc_capital_g", "game ( rom ( name y crc 0123G567 ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \"0123G567\""},
        RefusalRow{"md5_backquote", "game ( rom ( name y md5 0123456789abcdef0123456789abcde` ) )",
                   "line 1: expected 32 hexadecimal digits for md5, found "
                   "\"0123456789abcdef0123456789abcde`\""},
        RefusalRow{"crc_small_g", "game ( rom ( name y crc 0123456g ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \"0123456g\""},
        RefusalRow{"crc_high_byte", "game ( rom ( name y crc 0123456\xB6 ) )",
                   "line 1: expected 8 hexadecimal digits for crc, found \"0123456\xB6\""},
        RefusalRow{"unknown_flag", "game ( rom ( name y flags shiny ) )",
                   "line 1: expected good, verified, baddump or nodump after flags, found "
                   "\"shiny\""},
        RefusalRow{"rom_without_name", "game ( name g\n rom ( size 1 crc 00000001 ) )",
                   "line 2: expected a name in the rom block"},
        RefusalRow{"ten_megabyte_name", "game ( rom ( name \"" + kLongName + "\" ) )",
                   "line 1: the rom name is 10485760 bytes long; expected at most 4096"},
        RefusalRow{"xml_truncated", "<datafile>\n<game name=\"x\">\n<rom name=\"y\"",
                   "line 3: expected well-formed XML (unclosed token)"},
        RefusalRow{"xml_mismatched", "<datafile>\n<game></datafile>",
                   "line 2: expected well-formed XML (mismatched tag)"},
        RefusalRow{"xml_other_document", "<?xml version=\"1.0\"?>\n<svg/>",
                   "line 2: expected <datafile> as the document element, found <svg>"},
        RefusalRow{"xml_billion_laughs",
                   "<?xml version=\"1.0\"?>\n<!DOCTYPE d [\n <!ENTITY a \"lol\">\n"
                   " <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n]>\n"
                   "<datafile><game name=\"&b;\"/></datafile>",
                   "line 3: expected no entity declarations, found one of \"a\""},
        RefusalRow{"xml_external_entity",
                   "<!DOCTYPE datafile [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
                   "<datafile><game name=\"&x;\"/></datafile>",
                   "line 1: expected no entity declarations, found one of \"x\""},
        RefusalRow{"xml_parameter_entity",
                   "<!DOCTYPE datafile [<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;]><datafile/>",
                   "line 1: expected no entity declarations, found one of \"p\""},
        RefusalRow{"xml_undeclared_entity",
                   "<!DOCTYPE datafile SYSTEM \"x.dtd\"><datafile>&x;</datafile>",
                   "line 1: expected no reference to an undeclared entity, found &x;"},
        RefusalRow{"xml_nested_too_deep", manyNested(100),
                   "line 1: expected elements nested at most 64 deep"},
        RefusalRow{"xml_rom_without_name", "<datafile><game>\n<rom size=\"1\"/></game></datafile>",
                   "line 2: expected a name attribute in <rom>"},
        RefusalRow{"xml_bad_status",
                   "<datafile><game><rom name=\"y\" status=\"\"/></game></datafile>",
                   "line 1: expected good, verified, baddump or nodump after status, found \"\""},
        RefusalRow{"xml_ten_megabyte_name",
                   "<datafile><game name=\"" + kLongName + "\"/></datafile>",
                   "line 1: the game name is 10485760 bytes long; expected at most 4096"},
        RefusalRow{"zip_without_list", makeZip({{"readme.txt", "x"}, {"dats/", ""}}),
                   "expected the archive to hold a list file (.dat or .xml); it holds none"},
        RefusalRow{"zip_with_two_lists", makeZip({{"a.dat", "x"}, {"b.xml", "y"}}),
                   "expected the archive to hold one list file; it holds 2 (a.dat, b.xml)"},
        RefusalRow{"zip_member_malformed", makeZip({{"gba.dat", "game (\n name )"}}),
                   "gba.dat: line 2: expected a quoted string after name, found )"},
        RefusalRow{"zip_in_zip", makeZip({{"inner.dat", makeZip({{"x.dat", "game()"}})}}),
                   "inner.dat: expected a list, found another zip archive"},
        // General-purpose flag bit 0 in the local and central headers.
        RefusalRow{"zip_encrypted", zipWithFlag(makeZip({{"gba.dat", kClrmamepro}}), 6, 8, 0x01),
                   "gba.dat: expected a member that is not encrypted"},
        // The stored CRC's first byte in both headers.
        RefusalRow{"zip_damaged", zipWithFlag(makeZip({{"gba.dat", kClrmamepro}}), 14, 16, 0x5A),
                   "gba.dat: expected an undamaged member (CRC error)"},
        // The uncompressed size's top byte in both headers: 256 MiB more.
        RefusalRow{"zip_member_too_large",
                   zipWithFlag(makeZip({{"gba.dat", kClrmamepro}}), 25, 27, 0x10),
                   "gba.dat: expected a list of at most 128 MiB"},
        RefusalRow{"zip_truncated", makeZip({{"gba.dat", kClrmamepro}}).substr(0, 100),
                   "expected a zip archive (Not a zip archive)"}),
    [](const auto& info) { return std::string(info.param.name); });

// Files that are not lists are refused without being waited on.
class ListFiles : public ScratchDirTest {
protected:
    std::string failure(const std::string& path) {
        try {
            (void)loadChecksumList(path);
        } catch (const FileError& error) {
            return error.what();
        }
        return "no failure";
    }
};

TEST_F(ListFiles, RefusesWhatIsNotARegularFileOfAListsSize) {
    const std::string fifo = path("fifo.dat");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(failure(fifo),
              "Cannot read the checksum list \"" + fifo + "\": Not a regular file but a FIFO");
    EXPECT_EQ(failure(dir()), "Cannot read the checksum list \"" + dir() +
                                  "\": Not a regular file but a directory");
    EXPECT_EQ(failure(path("missing.dat")), "Cannot read the checksum list \"" +
                                                path("missing.dat") +
                                                "\": No such file or directory");
    EXPECT_TRUE(failure(path("a.dat") + '\0' + "x").ends_with(": A path cannot hold a NUL byte"));
    const std::string huge = path("huge.dat");
    writeFile(huge, {'<'});
    ASSERT_EQ(::truncate(huge.c_str(), (129 << 20) + 5), 0);
    EXPECT_EQ(failure(huge), "Cannot read the checksum list \"" + huge +
                                 "\": expected a list of at most 128 MiB, found 129 MiB");
}

TEST_F(ListFiles, LoadsAZippedListFromDisk) {
    const std::string zip = makeZip({{"Nintendo - Game Boy Advance.dat", kClrmamepro}});
    writeFile(path("gba.zip"), Bytes(zip.begin(), zip.end()));
    const auto list = loadChecksumList(path("gba.zip"));
    EXPECT_EQ(list->path, path("gba.zip"));
    EXPECT_EQ(list->label(), "Nintendo - Game Boy Advance 20260801");
    EXPECT_EQ(list->entryCount(), kClrmameproRoms.size());
}

} // namespace

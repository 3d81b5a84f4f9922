// Writes the seed corpus of the fuzz targets: sample headers of many shapes
// and lengths, every byte value as a title character, typed titles and file
// names good and bad, and checksum lists in each format, well-formed and
// hostile. Usage: fuzz_seeds <corpus directory>; it fills the subdirectories
// header/, title/, name/, list_xml/, list_clrmamepro/, list_zip/ and archive/.
#include "romheader/romheader.h"

#include <zip.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace kelvo;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::literals;

class Corpus {
public:
    Corpus(const fs::path& root, const char* target) : directory_(root / target) {
        fs::create_directories(directory_);
    }
    void add(std::string_view bytes) {
        const fs::path path = directory_ / ("seed-" + std::to_string(count_++));
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    void add(const Bytes& bytes) {
        add(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    [[nodiscard]] int count() const { return count_; }

private:
    fs::path directory_;
    int count_ = 0;
};

// A header as a cartridge has it, check byte included, in an image of `length` bytes.
Bytes sampleImage(std::string_view fields, std::size_t length, bool validCheck) {
    Bytes image(std::max<std::size_t>(length, 0xC0));
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::fill(image.begin() + kTitleOffset, image.begin() + kCheckOffset, 0);
    std::copy(fields.begin(), fields.end(), image.begin() + kTitleOffset);
    const auto checked = std::span(image).subspan<kTitleOffset, kCheckedLength>();
    image[kCheckOffset] = static_cast<std::uint8_t>(headerCheck(checked) + (validCheck ? 0 : 1));
    image.resize(length);
    return image;
}

void headerSeeds(Corpus& corpus) {
    // 12 bytes of the title to write come first.
    const std::string_view newTitles[] = {"MY GAME     ", "SAMPLE TITLE",
                                          "A\0\0\0\0\0\0\0\0\0\0\0"sv,
                                          "\xC9\x80\x81\x8D\x8F\x90\x9D\xFF\x00\x01\x7F\x20"sv};
    const std::string_view fields[] = {
        "SAMPLE TITLEAXYJ01\x96",
        "MY GAME\0\0\0\0\0BXYE08"sv,
        "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0"sv,
        "CAF\xC9 \x80 \x99\x81\x8D\x8F\x90ZZZP0A",
        "TITLE12345678AWWD\xC9\x31",
    };
    const std::size_t lengths[] = {0, 1, 100, 0xA0, 0xAC, 0xBD, 0xBE, 191, 192, 193, 4096};
    std::size_t n = 0;
    for (const std::string_view fieldSet : fields) {
        for (const std::size_t length : lengths) {
            for (const bool valid : {true, false}) {
                const std::string_view title = newTitles[n++ % std::size(newTitles)];
                Bytes seed(title.begin(), title.end());
                const Bytes image = sampleImage(fieldSet, length, valid);
                seed.insert(seed.end(), image.begin(), image.end());
                corpus.add(seed);
            }
        }
    }
    for (const char territory : "JEPDFISXj\xC4"sv) {
        Bytes seed(kTitleWidth, ' ');
        const Bytes image = sampleImage("SAMPLE TITLEAXY"s + territory + "01", 192, true);
        seed.insert(seed.end(), image.begin(), image.end());
        corpus.add(seed);
    }
}

void titleSeeds(Corpus& corpus) {
    // Every byte value appears as a title character, 12 to a field.
    for (unsigned first = 0; first < 256; first += kTitleWidth) {
        Bytes field;
        for (unsigned byte = first; byte < first + kTitleWidth; ++byte)
            field.push_back(static_cast<std::uint8_t>(byte % 256));
        corpus.add(field);
    }
    const std::string_view typed[] = {
        "SAMPLE TITLE",
        "MY GAME",
        "",
        "ABCDEFGHIJKLMNOP",
        "CAF\u00C9 \u20AC\u2122",
        "\u3042\U0001F600",
        "\xC0\xAF",
        "\xED\xA0\x80",
        "\xE2\x82",
        "\xF4\x90\x80\x80",
        "\xFF\xFE",
        "\u0081\u008D\u008F\u0090\u009D",
        "A\0B"sv,
    };
    for (const std::string_view text : typed)
        corpus.add(text);
}

void nameSeeds(Corpus& corpus) {
    const std::string_view names[] = {
        "SAMPLE TITLE",     "..",   ".",      "../escape", "A\\B",
        "a:b*c?d\"e<f>g|",  "A\tB", "A\0B"sv, "A\x7F",     "A\u0085",
        "CAF\u00C9 \u20AC", "",     "/",      "\xC2",      "\xC0\xAF",
        "\xE0\x80\xAF",
    };
    for (const std::string_view name : names)
        corpus.add(name);
}

const std::string_view kXmlLists[] = {
    "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management "
    "Datafile//EN\" \"http://www.logiqx.com/Dats/datafile.dtd\">\n<datafile>\n<header>\n"
    "<name>Nintendo - Game Boy Advance</name>\n<description>GBA &amp; more</description>\n"
    "<version>20260801-000000</version>\n</header>\n"
    "<game name=\"2048 (World) (GBA Jam 2024) (Aftermarket) (Unl)\" id=\"0001\">\n"
    "<description>2048</description>\n<rom name=\"2048 (World).gba\" size=\"4194304\" "
    "crc=\"CC2541CF\" md5=\"051928341be67dcba03f0e04104d9047\" "
    "sha1=\"27285271b352adb77c2ca213d92c21ef680fb133\" "
    "sha256=\"bfa0ec8bdf2946547879d50a68687ea32e2fa628db187357415858b633d194d9\" "
    "status=\"verified\" serial=\"B24E\"/>\n</game>\n"
    "<machine name=\"m\"><rom name=\"b.bin\" size=\"8\" crc=\"deadbeef\" status=\"baddump\"/>"
    "<rom name=\"n.bin\" status=\"nodump\"/></machine>\n"
    "<game name=\"r\"><rom name=\"r\" sha1=\"27285271b352adb77c2ca213d92c21ef680fb133\"/></game>\n"
    "<game name=\"r\"><rom name=\"r\" sha1=\"27285271b352adb77c2ca213d92c21ef680fb133\"/></game>\n"
    "</datafile>\n",
    "<?xml version=\"1.0\"?>\n<!DOCTYPE d [\n <!ENTITY a \"lol\">\n <!ENTITY b \"&a;&a;&a;\">\n]>\n"
    "<datafile><game name=\"&b;\"/></datafile>",
    "<!DOCTYPE datafile [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
    "<datafile><game name=\"&x;\"/></datafile>",
    "<!DOCTYPE datafile [<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;]><datafile/>",
    "<!DOCTYPE datafile SYSTEM \"x.dtd\"><datafile>&x;</datafile>",
    "<mame><machine name=\"m\"><rom name=\"a\" size=\"1,024\" crc=\"00000001\"/></machine></mame>",
    "<datafile><game><rom name=\"y\" size=\"18446744073709551616\"/></game></datafile>",
    "<datafile>\n<game name=\"x\">\n<rom name=\"y\"",
};

const std::string_view kClrmameproLists[] = {
    "clrmamepro (\n\tname \"Nintendo - Game Boy Advance\"\n\tversion 20260801\n"
    "\tforcezipping ( yes ( nested ) )\n)\n\ngame (\n\tname \"Sample (Europe) (En,Fr)\"\n"
    "\trom ( name \"Sample (Europe) (En,Fr).gba\" size 32,524,164 crc cc2541cf "
    "md5 051928341be67dcba03f0e04104d9047 sha1 27285271b352adb77c2ca213d92c21ef680fb133 "
    "sha256 bfa0ec8bdf2946547879d50a68687ea32e2fa628db187357415858b633d194d9 flags verified "
    "serial \"AXYP\" )\n)\ngame ( rom ( name bare.gba size 4 crc DEADBEEF status baddump ) "
    "name late )\nresource ( name bios rom ( name b.bin crc 00000001 flags nodump ) )\n",
    "\xEF\xBB\xBFgame(name x rom(name \"y z\" crc 0000000A))",
    "game ( rom ( name a crc 00000001 ) )\ngame ( rom ( name a crc 00000001 ) )",
    "game ( rom ( name y size 18446744073709551616 ) )",
    "game (\n name \"x )\n)",
    "game ( name ( x ) )",
    "hello world",
};

std::string zipOf(const std::vector<std::pair<std::string, std::string_view>>& members) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t* archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_keep(buffer);
    for (const auto& [name, contents] : members)
        zip_file_add(archive, name.c_str(),
                     zip_source_buffer(archive, contents.data(), contents.size(), 0), 0);
    zip_close(archive);
    std::string bytes;
    zip_stat_t info;
    if (zip_source_open(buffer) == 0 && zip_source_stat(buffer, &info) == 0) {
        bytes.resize(info.size);
        bytes.resize(std::size_t(
            std::max<zip_int64_t>(0, zip_source_read(buffer, bytes.data(), bytes.size()))));
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    zip_error_fini(&error);
    return bytes;
}

void listSeeds(Corpus& xml, Corpus& clrmamepro, Corpus& zipped) {
    for (const std::string_view list : kXmlLists)
        xml.add(list);
    for (const std::string_view list : kClrmameproLists)
        clrmamepro.add(list);
    zipped.add(zipOf({{"Nintendo - Game Boy Advance.dat", kXmlLists[0]}}));
    zipped.add(zipOf({{"readme.txt", "x"}, {"gba.DAT", kClrmameproLists[0]}}));
    zipped.add(zipOf({{"a.dat", kClrmameproLists[1]}, {"b.xml", kXmlLists[0]}}));
    zipped.add(zipOf({{"dir/", ""}, {"notes.txt", "no list"}}));
    const std::string inner = zipOf({{"x.dat", kClrmameproLists[1]}});
    zipped.add(zipOf({{"inner.dat", inner}}));
}

} // namespace

// Archives of images as collections hold them: deflated and stored, in
// directories, named alike but for case, with hostile names, and cut short.
void archiveSeeds(Corpus& archives) {
    const auto text = [](const Bytes& bytes) {
        return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    };
    const Bytes one = sampleImage("SAMPLE TITLEAXYJ01\x96", 4096, true);
    const Bytes two = sampleImage("MY GAME\0\0\0\0\0BXYE08"sv, 1000, false);
    const Bytes shortOne = sampleImage("SHORT", 100, true);
    archives.add(zipOf({{"Sample (Europe).gba", text(one)}}));
    archives.add(zipOf({{"a.gba", text(one)}, {"A.GBA", text(two)}, {"set/b.agb", text(shortOne)},
                        {"readme.txt", "x"}, {"__MACOSX/._a.gba", "x"}, {"dir/", ""}}));
    archives.add(zipOf({{"../../x.gba", text(two)}, {"/abs/y.bin", text(one)}}));
    const std::string whole = zipOf({{"a.gba", text(one)}, {"b.gba", text(two)}});
    archives.add(whole.substr(0, whole.size() / 2));
    archives.add(whole.substr(whole.size() / 2));
    archives.add(zipOf({}));
    archives.add(std::string_view("PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22));
}

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    Corpus header(root, "header");
    Corpus title(root, "title");
    Corpus name(root, "name");
    Corpus xml(root, "list_xml");
    Corpus clrmamepro(root, "list_clrmamepro");
    Corpus zipped(root, "list_zip");
    Corpus archives(root, "archive");
    headerSeeds(header);
    titleSeeds(title);
    nameSeeds(name);
    listSeeds(xml, clrmamepro, zipped);
    archiveSeeds(archives);
    std::printf("Seeds: %d header, %d title, %d name, %d XML list, %d clrmamepro list, %d zipped "
                "list, %d archive in %s\n",
                header.count(), title.count(), name.count(), xml.count(), clrmamepro.count(),
                zipped.count(), archives.count(), root.c_str());
    return 0;
}

// Writes the seed corpus of the fuzz targets: sample headers of many shapes
// and lengths, every byte value as a title character, and typed titles and
// file names good and bad. Usage: fuzz_seeds <corpus directory>; it fills
// the subdirectories header/, title/ and name/.
#include "romheader/romheader.h"

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

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    Corpus header(root, "header");
    Corpus title(root, "title");
    Corpus name(root, "name");
    headerSeeds(header);
    titleSeeds(title);
    nameSeeds(name);
    std::printf("Seeds: %d header, %d title, %d name in %s\n", header.count(), title.count(),
                name.count(), root.c_str());
    return 0;
}

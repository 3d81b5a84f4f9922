// The check that keeps a title from naming a file outside its directory or a
// name the file systems refuse, against a byte-level oracle.
//
// Input: arbitrary bytes as the title text.
#include "fuzz/fuzz_support.h"
#include "romheader/romheader.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace kelvo;
using fuzz::require;

constexpr std::string_view kReserved = "/\\:*?\"<>|";

bool isAsciiControl(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F;
}

std::string codeText(unsigned code) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "U+%04X", code);
    return text.data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view title = fuzz::asText({data, size});
    const std::optional<std::string> problem = titleNameProblem(title);

    // In UTF-8 a reserved or control ASCII byte is always that character, and
    // a C1 control (U+0080..U+009F) is always C2 followed by 80..9F.
    std::vector<std::string> named;
    for (std::size_t i = 0; i < title.size(); ++i) {
        const auto byte = static_cast<unsigned char>(title[i]);
        if (isAsciiControl(byte))
            named.push_back(codeText(byte));
        else if (kReserved.find(title[i]) != std::string_view::npos)
            named.push_back(std::string("'") + title[i] + "'");
        else if (byte == 0xC2 && i + 1 < title.size() &&
                 static_cast<unsigned char>(title[i + 1]) >= 0x80 &&
                 static_cast<unsigned char>(title[i + 1]) <= 0x9F)
            named.push_back(codeText(static_cast<unsigned char>(title[i + 1])));
    }
    // A leading '.' would hide the copy from the file list.
    const bool refuse = title.empty() || title.front() == '.' || !named.empty();

    if (!refuse) {
        require(!problem, "a safe title was refused", title);
        // The copy lands in the chosen directory under one name.
        const std::string target = joinPath("/roms", std::string(title) + ".gba");
        require(target.rfind('/') == 5, "an accepted title leaves the directory", title);
        return 0;
    }
    require(problem.has_value(), "an unsafe title was accepted", title);
    require(fuzz::isWellFormedUtf8(*problem), "the refusal is not UTF-8 text", *problem);
    for (const std::string& part : named)
        require(problem->find(part) != std::string::npos, "the refusal does not name a character",
                *problem);
    return 0;
}

// Header fields turned into display texts, the header check byte and the
// size figures.
#include "romheader/romheader.h"

#include <zlib.h>

#include <charconv>
#include <clocale>
#include <cstring>
#include <numeric>

namespace kelvo {

namespace {

struct Territory {
    std::uint8_t letter;
    const char* text;
};

// The last letter of the game code names the release's language or region.
constexpr std::array<Territory, 7> kTerritories = {{
    {'J', "J - Japanese"},
    {'E', "E - English"},
    {'P', "P - European"},
    {'D', "D - German"},
    {'F', "F - French"},
    {'I', "I - Italian"},
    {'S', "S - Spanish"},
}};

constexpr std::uint64_t kBytesPerMbit = 131072;

} // namespace

std::string decodeMaker(std::span<const std::uint8_t, kMakerWidth> makerCode) {
    if (makerCode[0] == '0' && makerCode[1] == '1')
        return "01 - Nintendo";
    if (makerCode[0] == '0' && makerCode[1] == '8')
        return "08 - Capcom";
    return codeText(makerCode);
}

std::string decodeGameType(std::uint8_t gameType) {
    return gameType == 'A' ? "A - Yes" : "No";
}

std::string decodeTerritory(std::uint8_t territory) {
    if (territory == 0)
        return {};
    for (const Territory& entry : kTerritories) {
        if (entry.letter == territory)
            return entry.text;
    }
    return decodeBytes(std::span(&territory, 1));
}

std::uint8_t headerCheck(std::span<const std::uint8_t, kCheckedLength> bytes) {
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0x19u);
    return static_cast<std::uint8_t>((0u - sum) & 0xFFu);
}

bool bootLogoValid(const HeaderBytes& bytes) {
    const uLong crc = ::crc32(::crc32(0L, Z_NULL, 0), bytes.data() + kLogoOffset, kLogoLength);
    return crc == kLogoCrc32;
}

std::int64_t megabitsFromBytes(std::int64_t sizeBytes) {
    // Integer arithmetic keeps the half-to-even rule exact at any 64-bit size.
    const bool negative = sizeBytes < 0;
    const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(sizeBytes)
                                             : static_cast<std::uint64_t>(sizeBytes);
    std::uint64_t whole = magnitude / kBytesPerMbit;
    const std::uint64_t rest = magnitude % kBytesPerMbit;
    if (rest > kBytesPerMbit / 2 || (rest == kBytesPerMbit / 2 && whole % 2 == 1))
        ++whole;
    const auto result = static_cast<std::int64_t>(whole);
    return negative ? -result : result;
}

std::string megabitText(std::int64_t sizeMbit) {
    std::array<char, 32> text;
    char* end = std::to_chars(text.data(), text.data() + 24, sizeMbit).ptr;
    std::memcpy(end, "Mbit", 4);
    return std::string(text.data(), end + 4);
}

std::string localeDecimalSeparator() {
    const std::lconv* conventions = std::localeconv();
    if (conventions == nullptr || conventions->decimal_point == nullptr ||
        *conventions->decimal_point == '\0')
        return ".";
    return conventions->decimal_point;
}

std::string megabyteText(std::int64_t sizeMbit, std::string_view decimalSeparator) {
    // A megabyte is 8 megabits, so the fraction is a multiple of 0.125: at
    // most three digits, computed exactly instead of through a double.
    const bool negative = sizeMbit < 0;
    const std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(sizeMbit) : static_cast<std::uint64_t>(sizeMbit);
    std::array<char, 32> whole;
    whole[0] = '-';
    char* end = std::to_chars(whole.data() + 1, whole.data() + whole.size(), magnitude / 8).ptr;
    std::string text(whole.data() + (negative ? 0 : 1), end);
    if (const std::uint64_t thousandths = (magnitude % 8) * 125; thousandths != 0) {
        const char digits[] = {char('0' + thousandths / 100), char('0' + thousandths / 10 % 10),
                               char('0' + thousandths % 10)};
        text += decimalSeparator;
        text.append(digits, thousandths % 100 == 0 ? 1 : thousandths % 10 == 0 ? 2 : 3);
    }
    return text.append("MB");
}

} // namespace kelvo

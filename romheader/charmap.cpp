// The one-byte character mapping of header fields (Windows-1252, made total),
// the UTF-8 texts the rest of the program uses, and which typed characters
// can be part of a file name.
#include "romheader/romheader.h"

#include <algorithm>
#include <cstdio>

namespace kelvo {

namespace {

// Windows-1252 at 0x80..0x9F. Its five unassigned bytes keep the C1 control
// of the same value, so every byte has a character and decodes reversibly.
constexpr std::array<char32_t, 32> kBytes80To9F = {
    U'\u20AC', U'\u0081', U'\u201A', U'\u0192', U'\u201E', U'\u2026', U'\u2020', U'\u2021',
    U'\u02C6', U'\u2030', U'\u0160', U'\u2039', U'\u0152', U'\u008D', U'\u017D', U'\u008F',
    U'\u0090', U'\u2018', U'\u2019', U'\u201C', U'\u201D', U'\u2022', U'\u2013', U'\u2014',
    U'\u02DC', U'\u2122', U'\u0161', U'\u203A', U'\u0153', U'\u009D', U'\u017E', U'\u0178',
};

constexpr std::uint8_t kBlank = 0x20;
constexpr std::uint8_t kUnrepresentable = '?';

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// One character decoded at a position. A malformed sequence (bad lead byte,
// missing continuation, overlong form, surrogate, beyond U+10FFFF) gives
// valid == false and length 1, so the caller skips exactly one byte.
struct Utf8Step {
    char32_t ch = 0;
    std::size_t length = 1;
    bool valid = false;
};

Utf8Step decodeUtf8At(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    if (lead < 0x80)
        return {lead, 1, true};

    std::size_t length = 0;
    char32_t ch = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        ch = lead & 0x1F;
        minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        ch = lead & 0x0F;
        minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        ch = lead & 0x07;
        minimum = 0x10000;
    } else {
        return {};
    }
    if (text.size() - pos < length)
        return {};
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[pos + i]);
        if (!isContinuation(byte))
            return {};
        ch = (ch << 6) | (byte & 0x3F);
    }
    if (ch < minimum || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))
        return {};
    return {ch, length, true};
}

void appendUtf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

// A separator would place the copy in another directory; controls and the
// reserved characters fail on FAT memory cards and on Windows.
bool isForbiddenInName(char32_t ch) {
    constexpr std::u32string_view kReserved = U"/\\:*?\"<>|";
    const bool control = ch < 0x20 || (ch >= 0x7F && ch <= 0x9F);
    return control || kReserved.find(ch) != std::u32string_view::npos;
}

std::string describeCharacter(char32_t ch) {
    if (ch < 0x20 || (ch >= 0x7F && ch <= 0x9F)) {
        std::array<char, 8> code{};
        std::snprintf(code.data(), code.size(), "U+%04X", static_cast<unsigned>(ch));
        return code.data();
    }
    std::string text = "'";
    appendUtf8(text, ch);
    return text + "'";
}

} // namespace

char32_t decodeByte(std::uint8_t byte) {
    if (byte >= 0x80 && byte <= 0x9F)
        return kBytes80To9F[byte - 0x80];
    return byte;
}

std::optional<std::uint8_t> encodeChar(char32_t ch) {
    if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF))
        return static_cast<std::uint8_t>(ch);
    for (std::size_t i = 0; i < kBytes80To9F.size(); ++i) {
        if (kBytes80To9F[i] == ch)
            return static_cast<std::uint8_t>(0x80 + i);
    }
    return std::nullopt;
}

std::string decodeBytes(std::span<const std::uint8_t> bytes) {
    // Bytes below 0x80 decode to themselves: a title's ASCII run is copied whole.
    const auto ascii =
        std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte >= 0x80; });
    std::string text(bytes.begin(), ascii);
    for (auto it = ascii; it != bytes.end(); ++it)
        appendUtf8(text, decodeByte(*it));
    return text;
}

std::string codeText(std::span<const std::uint8_t> field) {
    std::string text;
    for (const std::uint8_t byte : field) {
        if (byte != 0)
            appendUtf8(text, decodeByte(byte));
    }
    return text;
}

std::string visibleText(std::span<const std::uint8_t> field) {
    std::size_t length = 0;
    while (length < field.size() && field[length] != 0)
        ++length;
    return decodeBytes(field.first(length));
}

TitleBytes encodeTitle(std::string_view text) {
    TitleBytes title;
    title.fill(kBlank);
    std::size_t pos = 0;
    for (std::size_t i = 0; i < title.size() && pos < text.size(); ++i) {
        const Utf8Step step = decodeUtf8At(text, pos);
        pos += step.length;
        const auto byte = step.valid ? encodeChar(step.ch) : std::nullopt;
        title[i] = byte.value_or(kUnrepresentable);
    }
    return title;
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count)
        pos += decodeUtf8At(text, pos).length;
    return count;
}

std::optional<std::string> titleNameProblem(std::string_view titleText) {
    if (titleText.empty())
        return "The title is empty: the copy would be the hidden file \".gba\"";
    std::vector<char32_t> forbidden;
    for (std::size_t pos = 0; pos < titleText.size();) {
        const Utf8Step step = decodeUtf8At(titleText, pos);
        pos += step.length;
        if (step.valid && isForbiddenInName(step.ch) &&
            std::find(forbidden.begin(), forbidden.end(), step.ch) == forbidden.end())
            forbidden.push_back(step.ch);
    }
    if (forbidden.empty()) {
        // Like the empty title: the copy would be hidden from the file list.
        if (titleText.front() == '.')
            return "A title starting with '.' would make a hidden file";
        return std::nullopt;
    }
    std::string problem = "A file name cannot contain ";
    for (std::size_t i = 0; i < forbidden.size(); ++i)
        problem += (i == 0 ? "" : ", ") + describeCharacter(forbidden[i]);
    return problem;
}

} // namespace kelvo

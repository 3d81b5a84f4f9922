// What the fuzz targets share: a failure that libFuzzer records as a crash,
// and a UTF-8 reader written from the table of well-formed byte sequences
// (Unicode, table 3-7) rather than from the core's bit arithmetic, so the
// two can disagree.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace kelvo::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "\nFUZZ FAILURE: %s", what);
    if (!detail.empty()) {
        std::fputs(": \"", stderr);
        for (const char ch : detail) {
            const auto byte = static_cast<unsigned char>(ch);
            if (byte >= 0x20 && byte < 0x7F && byte != '\\')
                std::fputc(byte, stderr);
            else
                std::fprintf(stderr, "\\x%02X", byte);
        }
        std::fputs("\"", stderr);
    }
    std::fputs("\n", stderr);
    std::abort();
}

inline void require(bool holds, const char* what, std::string_view detail = {}) {
    if (!holds)
        fail(what, detail);
}

inline std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// One character read at `pos`: its length, and its code point when the bytes
// form a well-formed sequence (length 1 and no code point otherwise).
struct Character {
    std::size_t length = 1;
    bool wellFormed = false;
    char32_t codePoint = 0;
};

inline Character characterAt(std::string_view text, std::size_t pos) {
    struct Form {
        unsigned char leadLow, leadHigh, secondLow, secondHigh;
        std::size_t length;
    };
    // Bytes after the second are always 80..BF.
    constexpr Form kForms[] = {
        {0x00, 0x7F, 0, 0, 1},       {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
        {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
        {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
    };
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    for (const Form& form : kForms) {
        if (byte(0) < form.leadLow || byte(0) > form.leadHigh)
            continue;
        if (text.size() - pos < form.length)
            return {};
        if (form.length > 1 && (byte(1) < form.secondLow || byte(1) > form.secondHigh))
            return {};
        for (std::size_t i = 2; i < form.length; ++i) {
            if (byte(i) < 0x80 || byte(i) > 0xBF)
                return {};
        }
        constexpr unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
        char32_t codePoint = byte(0) & kLeadBits[form.length];
        for (std::size_t i = 1; i < form.length; ++i)
            codePoint = codePoint * 64 + (byte(i) - 0x80);
        return {form.length, true, codePoint};
    }
    return {};
}

inline bool isWellFormedUtf8(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        const Character ch = characterAt(text, pos);
        if (!ch.wellFormed)
            return false;
        pos += ch.length;
    }
    return true;
}

} // namespace kelvo::fuzz

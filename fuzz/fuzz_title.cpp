// The title's round trips between the 12 header bytes and the UTF-8 text the
// title box shows and takes.
//
// Input: arbitrary bytes, read once as a header field and once as typed text.
#include "fuzz/fuzz_support.h"
#include "romheader/romheader.h"

#include <algorithm>
#include <map>

namespace {

using namespace kelvo;
using fuzz::require;

// The byte for each character, built by decoding all 256 bytes, so typed
// text is checked against decodeByte rather than against encodeChar.
const std::map<char32_t, std::uint8_t>& byteOfCharacter() {
    static const std::map<char32_t, std::uint8_t> table = [] {
        std::map<char32_t, std::uint8_t> built;
        for (unsigned byte = 0; byte <= 0xFF; ++byte)
            built.emplace(decodeByte(static_cast<std::uint8_t>(byte)), byte);
        require(built.size() == 256, "two bytes decode to the same character");
        return built;
    }();
    return table;
}

// A field shown and typed back unchanged is written as the bytes it showed,
// up to the first NUL, blank-padded.
void checkField(std::span<const std::uint8_t> field) {
    const std::string text = visibleText(field);
    const std::string_view raw = fuzz::asText(field);
    require(fuzz::isWellFormedUtf8(text), "visible text is not UTF-8", raw);
    const std::size_t shown = std::min(raw.find('\0'), raw.size());
    require(characterCount(text) == shown, "visible text is not one character per byte", raw);
    require(characterCount(decodeBytes(field)) == field.size(),
            "decoded bytes are not one character per byte", raw);

    std::size_t pos = 0;
    for (std::size_t i = 0; i < shown; ++i) {
        const fuzz::Character ch = fuzz::characterAt(text, pos);
        require(ch.wellFormed && ch.codePoint != 0 &&
                    byteOfCharacter().at(ch.codePoint) == field[i],
                "visible text shows a byte as another character", raw);
        pos += ch.length;
    }

    if (field.size() > kTitleWidth)
        return;
    TitleBytes expected;
    expected.fill(' ');
    std::copy_n(field.begin(), shown, expected.begin());
    require(encodeTitle(text) == expected, "title shown and typed back is written differently",
            raw);
}

// Typed text: each of the first 12 characters becomes its byte, or '?' when
// it has none or is malformed; the rest is blanks.
void checkTyped(std::string_view text) {
    const TitleBytes title = encodeTitle(text);
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) {
        const fuzz::Character ch = fuzz::characterAt(text, pos);
        pos += ch.length;
        if (count >= kTitleWidth)
            continue;
        const auto found =
            ch.wellFormed ? byteOfCharacter().find(ch.codePoint) : byteOfCharacter().end();
        const std::uint8_t expected = found != byteOfCharacter().end() ? found->second : '?';
        require(title[count] == expected, "a typed character is written as the wrong byte", text);
    }
    require(characterCount(text) == count, "character count differs from the UTF-8 reading", text);
    for (std::size_t i = count; i < kTitleWidth; ++i)
        require(title[i] == ' ', "a short title is not blank-padded", text);

    // What was written shows as text that writes the same bytes again.
    if (std::find(title.begin(), title.end(), 0) == title.end())
        require(encodeTitle(visibleText(title)) == title, "title bytes do not survive a round trip",
                text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    checkField(bytes.first(std::min(size, kTitleWidth)));
    checkField(bytes);
    checkTyped(fuzz::asText(bytes));
    return 0;
}

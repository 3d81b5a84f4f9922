// clrmamepro text lists: blocks of keys and values,
//   clrmamepro ( name "..." version "..." )
//   game ( name "..." rom ( name "..." size 4194304 crc 1A2B3C4D ... flags verified ) )
// A value is a word, a quoted string (which may hold blanks and parentheses,
// but not a line break or a quote) or a parenthesised block. Keys the
// program does not use are skipped with their values, so lists from other
// tools read as well.
#include "checksumlists/listbuilder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kelvo {

namespace {

using namespace std::literals;

struct ClrmameproToken {
    enum class Kind { End, Open, Close, Word, String };
    Kind kind = Kind::End;
    std::string_view text; // a word, or a string without its quotes
    std::size_t line = 1;
};
using Kind = ClrmameproToken::Kind;

// Splits the text into tokens, views into the text itself.
class ClrmameproLexer {
public:
    explicit ClrmameproLexer(std::string_view text) : text_(text) {}
    // Inlined: a list is mostly short tokens, where a call costs as much as the scan.
    [[nodiscard, gnu::always_inline]] inline ClrmameproToken next();

private:
    [[noreturn]] void refuseControl(char ch) const;

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t line_ = 1;
};

std::string describe(const ClrmameproToken& token) {
    switch (token.kind) {
    case Kind::End:
        return "the end of the file";
    case Kind::Open:
        return "(";
    case Kind::Close:
        return ")";
    case Kind::Word:
    case Kind::String:
        break;
    }
    std::string text(token.text.substr(0, 40));
    if (token.text.size() > 40)
        text += "...";
    return token.kind == Kind::String ? "\"" + text + "\"" : text;
}

class Reader {
public:
    Reader(std::string_view text, ListBuilder& builder) : lexer_(text), builder_(builder) {}

    void read() {
        for (ClrmameproToken block = lexer_.next(); block.kind != Kind::End;
             block = lexer_.next()) {
            if (block.kind != Kind::Word)
                refuseList(block.line, "expected a block name such as clrmamepro or game, found " +
                                           describe(block));
            expect(Kind::Open, "( after " + std::string(block.text.substr(0, 40)));
            if (block.text == "clrmamepro")
                header(block.line);
            else if (block.text == "game" || block.text == "machine" || block.text == "resource")
                game(block.line);
            else
                skipBlock(block.line);
        }
    }

private:
    void expect(Kind kind, const std::string& what) {
        const ClrmameproToken token = lexer_.next();
        if (token.kind != kind)
            refuseList(token.line, "expected " + what + ", found " + describe(token));
    }

    // Reads the key of a block's next pair into `token`; false at the
    // block's ")". (An out parameter: returning an optional token costs a
    // store-forwarding stall on every key.)
    bool key(std::string_view block, std::size_t startLine, ClrmameproToken& token) {
        token = lexer_.next();
        if (token.kind == Kind::Close)
            return false;
        if (token.kind == Kind::End)
            refuseList(token.line, "expected ) to close the " + std::string(block) +
                                       " block that starts on line " + std::to_string(startLine));
        if (token.kind != Kind::Word)
            refuseList(token.line, "expected a key or ) in the " + std::string(block) +
                                       " block, found " + describe(token));
        return true;
    }

    // A word or a quoted string.
    std::string_view text(const ClrmameproToken& key, const char* expected) {
        const ClrmameproToken token = lexer_.next();
        if (token.kind != Kind::Word && token.kind != Kind::String)
            refuseList(token.line, "expected "s + expected + " after " +
                                       std::string(key.text.substr(0, 40)) + ", found " +
                                       describe(token));
        return token.text;
    }

    std::string_view name(const ClrmameproToken& key, const char* field) {
        const std::string_view value = text(key, "a quoted string");
        checkLength(value, field, key.line);
        return value;
    }

    void skipValue(const ClrmameproToken& key) {
        const ClrmameproToken token = lexer_.next();
        if (token.kind == Kind::Open)
            skipBlock(token.line);
        else if (token.kind != Kind::Word && token.kind != Kind::String)
            refuseList(token.line, "expected a value after " + std::string(key.text.substr(0, 40)) +
                                       ", found " + describe(token));
    }

    // Skips to the ")" that closes a block whose "(" has been read.
    void skipBlock(std::size_t startLine) {
        for (std::size_t depth = 1; depth > 0;) {
            const ClrmameproToken token = lexer_.next();
            if (token.kind == Kind::Open)
                ++depth;
            else if (token.kind == Kind::Close)
                --depth;
            else if (token.kind == Kind::End)
                refuseList(token.line, "expected ) to close the block that starts on line " +
                                           std::to_string(startLine));
        }
    }

    void header(std::size_t startLine) {
        ChecksumList& list = builder_.list();
        for (ClrmameproToken k; key("clrmamepro", startLine, k);) {
            if (k.text == "name")
                list.name = name(k, "name");
            else if (k.text == "description")
                list.description = name(k, "description");
            else if (k.text == "version")
                list.version = name(k, "version");
            else
                skipValue(k);
        }
    }

    void game(std::size_t startLine) {
        std::string_view gameName;
        std::vector<ListRom>& roms = builder_.list().roms;
        const std::size_t first = roms.size();
        for (ClrmameproToken k; key("game", startLine, k);) {
            if (k.text == "name") {
                gameName = name(k, "game name");
            } else if (k.text == "rom") {
                const ClrmameproToken open = lexer_.next();
                if (open.kind != Kind::Open)
                    refuseList(open.line, "expected ( after rom, found " + describe(open));
                rom(open.line, roms.emplace_back());
            } else {
                skipValue(k);
            }
        }
        // The game's name may follow its roms.
        const std::string_view game = builder_.keep(gameName);
        for (std::size_t i = first; i < roms.size(); ++i)
            roms[i].game = game;
    }

    void rom(std::size_t startLine, ListRom& rom) {
        bool named = false;
        for (ClrmameproToken k; key("rom", startLine, k);) {
            const std::string_view field = k.text;
            if (field == "name") {
                rom.name = builder_.keep(name(k, "rom name"));
                named = !rom.name.empty();
            } else if (field == "size") {
                readSize(text(k, "a size"), k.line, rom.size);
            } else if (field == "crc") {
                readCrc32(text(k, "a CRC32"), k.line, rom.crc32);
            } else if (field == "md5") {
                readMd5(text(k, "an MD5"), k.line, rom.md5);
            } else if (field == "sha1") {
                readSha1(text(k, "a SHA-1"), k.line, rom.sha1);
            } else if (field == "sha256") {
                readSha256(text(k, "a SHA-256"), k.line, rom.sha256);
            } else if (field == "flags" || field == "status") {
                rom.status =
                    readStatus(text(k, "a status"), field == "flags" ? "flags" : "status", k.line);
            } else if (field == "serial") {
                rom.serial = builder_.keep(name(k, "serial"));
            } else {
                skipValue(k);
            }
        }
        if (!named)
            refuseList(startLine, "expected a name in the rom block");
    }

    ClrmameproLexer lexer_;
    ListBuilder& builder_;
};

// What each byte may be part of. Control bytes belong to nothing: they mean
// a binary file or a broken one.
enum : std::uint8_t { kInWord = 1, kInString = 2, kBlank = 4 };

constexpr std::array<std::uint8_t, 256> kByteClasses = [] {
    std::array<std::uint8_t, 256> classes{};
    for (int byte = 0x20; byte < 256; ++byte)
        classes[std::size_t(byte)] = kInWord | kInString;
    for (const char ch : {'(', ')'})
        classes[std::size_t(ch)] = kInString;
    classes['"'] = 0;
    classes[' '] = kInString | kBlank;
    for (const char ch : {'\t', '\r', '\f', '\v'})
        classes[std::size_t(ch)] = kInString | kBlank;
    return classes;
}();

std::uint8_t classOf(char ch) {
    return kByteClasses[static_cast<unsigned char>(ch)];
}

// Long tokens are scanned eight bytes at a time: masks with the high bit of
// each byte that may end the token set. Only the lowest set bit is exact
// (a borrow can mark bytes above it), and only the lowest is used.
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

std::uint64_t bytesBelow(std::uint64_t x, std::uint8_t n) {
    return (x - n * kOnes) & ~x & kHighBits;
}
std::uint64_t bytesEqual(std::uint64_t x, char ch) {
    return bytesBelow(x ^ (static_cast<unsigned char>(ch) * kOnes), 1);
}

// Where the first byte at or after `pos` that `ends` marks lies, or the
// end of the text. Sixteen bytes at a time where SSE2 is there (every
// x86-64), then eight; the last few bytes are read padded with NULs, which
// every mask marks.
template <bool Word>
[[gnu::always_inline]] inline std::size_t skipToEnd(std::string_view text, std::size_t pos) {
    static_assert(std::endian::native == std::endian::little, "the first byte is the lowest");
#ifdef __SSE2__
    const __m128i controls = _mm_set1_epi8(Word ? 0x20 : 0x1F);
    for (; pos + 16 <= text.size(); pos += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + pos));
        // Bytes up to `controls`, unsigned: their maximum with it is itself.
        __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, controls), controls),
                                    _mm_cmpeq_epi8(v, _mm_set1_epi8('"')));
        if constexpr (Word)
            ends = _mm_or_si128(ends, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('(')),
                                                   _mm_cmpeq_epi8(v, _mm_set1_epi8(')'))));
        if (const int found = _mm_movemask_epi8(ends))
            return pos + std::size_t(std::countr_zero(unsigned(found)));
    }
#endif
    const auto endsIn = [](std::uint64_t v) {
        if constexpr (Word)
            return bytesBelow(v, 0x21) | bytesEqual(v, '(') | bytesEqual(v, ')') |
                   bytesEqual(v, '"');
        else
            return bytesBelow(v, 0x20) | bytesEqual(v, '"');
    };
    for (; pos + 8 <= text.size(); pos += 8) {
        std::uint64_t v;
        std::memcpy(&v, text.data() + pos, 8);
        if (const std::uint64_t found = endsIn(v))
            return pos + std::size_t(std::countr_zero(found)) / 8;
    }
    std::uint64_t v = 0;
    std::memcpy(&v, text.data() + pos, text.size() - pos);
    return std::min(pos + std::size_t(std::countr_zero(endsIn(v))) / 8, text.size());
}

ClrmameproToken ClrmameproLexer::next() {
    const std::size_t size = text_.size();
    for (; pos_ < size; ++pos_) {
        const char ch = text_[pos_];
        if (ch == '\n')
            ++line_;
        else if (!(classOf(ch) & kBlank))
            break;
    }
    if (pos_ == size)
        return {Kind::End, {}, line_};
    const char ch = text_[pos_];
    if (ch == '(' || ch == ')') {
        ++pos_;
        return {ch == '(' ? Kind::Open : Kind::Close, text_.substr(pos_ - 1, 1), line_};
    }
    if (ch == '"') {
        const std::size_t start = ++pos_;
        for (;; ++pos_) {
            pos_ = skipToEnd<false>(text_, pos_);
            if (pos_ == size || text_[pos_] == '\n')
                refuseList(line_, "expected a closing quote on the line");
            if (text_[pos_] == '"')
                break;
            // A tab and the like may stand in a string; other controls may not.
            if (!(classOf(text_[pos_]) & kInString))
                refuseControl(text_[pos_]);
        }
        return {Kind::String, text_.substr(start, pos_++ - start), line_};
    }
    const std::size_t start = pos_;
    pos_ = skipToEnd<true>(text_, pos_);
    if (pos_ < size && classOf(text_[pos_]) == 0 && text_[pos_] != '"' && text_[pos_] != '\n')
        refuseControl(text_[pos_]);
    return {Kind::Word, text_.substr(start, pos_ - start), line_};
}

void ClrmameproLexer::refuseControl(char ch) const {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned char>(ch));
    refuseList(line_, "expected text, found the byte "s + hex);
}

} // namespace

void readClrmamepro(std::string_view text, ListBuilder& builder) {
    builder.expect(text.size());
    Reader(text, builder).read();
}

} // namespace kelvo

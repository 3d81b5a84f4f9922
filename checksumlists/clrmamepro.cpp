// clrmamepro text lists: blocks of keys and values,
//   clrmamepro ( name "..." version "..." )
//   game ( name "..." rom ( name "..." size 4194304 crc 1A2B3C4D ... flags verified ) )
// A value is a word, a quoted string (which may hold blanks and parentheses,
// but not a line break or a quote) or a parenthesised block. Keys the
// program does not use are skipped with their values, so lists from other
// tools read as well.
#include "checksumlists/listbuilder.h"

#include <cstdio>

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
    [[nodiscard]] ClrmameproToken next();

private:
    // Control bytes mean a binary file or a broken one.
    void refuseControl(char ch) const;

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

    // The key of a block's next pair, or nothing at the block's ")".
    std::optional<ClrmameproToken> key(std::string_view block, std::size_t startLine) {
        const ClrmameproToken token = lexer_.next();
        if (token.kind == Kind::Close)
            return std::nullopt;
        if (token.kind == Kind::End)
            refuseList(token.line, "expected ) to close the " + std::string(block) +
                                       " block that starts on line " + std::to_string(startLine));
        if (token.kind != Kind::Word)
            refuseList(token.line, "expected a key or ) in the " + std::string(block) +
                                       " block, found " + describe(token));
        return token;
    }

    // A word or a quoted string.
    std::string_view text(const ClrmameproToken& key, const char* expected) {
        const ClrmameproToken token = lexer_.next();
        if (token.kind != Kind::Word && token.kind != Kind::String)
            refuseList(token.line, "expected "s + expected + " after " + std::string(key.text) +
                                       ", found " + describe(token));
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
        while (const auto k = key("clrmamepro", startLine)) {
            if (k->text == "name")
                list.name = name(*k, "name");
            else if (k->text == "description")
                list.description = name(*k, "description");
            else if (k->text == "version")
                list.version = name(*k, "version");
            else
                skipValue(*k);
        }
    }

    void game(std::size_t startLine) {
        std::string_view gameName;
        const std::size_t first = pending_.size();
        while (const auto k = key("game", startLine)) {
            if (k->text == "name") {
                gameName = name(*k, "game name");
            } else if (k->text == "rom") {
                const ClrmameproToken open = lexer_.next();
                if (open.kind != Kind::Open)
                    refuseList(open.line, "expected ( after rom, found " + describe(open));
                pending_.push_back(rom(open.line));
            } else {
                skipValue(*k);
            }
        }
        // The game's name may follow its roms.
        for (std::size_t i = first; i < pending_.size(); ++i) {
            pending_[i].game = gameName;
            builder_.add(std::move(pending_[i]));
        }
        pending_.resize(first);
    }

    ListRom rom(std::size_t startLine) {
        ListRom rom;
        bool named = false;
        while (const auto k = key("rom", startLine)) {
            const std::string_view field = k->text;
            if (field == "name") {
                rom.name = name(*k, "rom name");
                named = !rom.name.empty();
            } else if (field == "size") {
                readSize(text(*k, "a size"), k->line, rom.size);
            } else if (field == "crc") {
                readCrc32(text(*k, "a CRC32"), k->line, rom.crc32);
            } else if (field == "md5") {
                readMd5(text(*k, "an MD5"), k->line, rom.md5);
            } else if (field == "sha1") {
                readSha1(text(*k, "a SHA-1"), k->line, rom.sha1);
            } else if (field == "sha256") {
                readSha256(text(*k, "a SHA-256"), k->line, rom.sha256);
            } else if (field == "flags" || field == "status") {
                rom.status = readStatus(text(*k, "a status"), field == "flags" ? "flags" : "status",
                                        k->line);
            } else if (field == "serial") {
                rom.serial = name(*k, "serial");
            } else {
                skipValue(*k);
            }
        }
        if (!named)
            refuseList(startLine, "expected a name in the rom block");
        return rom;
    }

    ClrmameproLexer lexer_;
    ListBuilder& builder_;
    std::vector<ListRom> pending_;
};

ClrmameproToken ClrmameproLexer::next() {
    for (; pos_ < text_.size(); ++pos_) {
        const char ch = text_[pos_];
        if (ch == '\n')
            ++line_;
        else if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\f' && ch != '\v')
            break;
    }
    if (pos_ == text_.size())
        return {Kind::End, {}, line_};
    const char ch = text_[pos_];
    if (ch == '(' || ch == ')') {
        ++pos_;
        return {ch == '(' ? Kind::Open : Kind::Close, text_.substr(pos_ - 1, 1), line_};
    }
    if (ch == '"') {
        const std::size_t start = ++pos_;
        while (pos_ < text_.size() && text_[pos_] != '"') {
            refuseControl(text_[pos_]);
            ++pos_;
        }
        if (pos_ == text_.size())
            refuseList(line_, "expected a closing quote on the line");
        return {Kind::String, text_.substr(start, pos_++ - start), line_};
    }
    const std::size_t start = pos_;
    for (; pos_ < text_.size(); ++pos_) {
        const char c = text_[pos_];
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '(' || c == ')' || c == '"')
            break;
        refuseControl(c);
    }
    return {Kind::Word, text_.substr(start, pos_ - start), line_};
}

void ClrmameproLexer::refuseControl(char ch) const {
    const auto byte = static_cast<unsigned char>(ch);
    if (byte < 0x20 && ch != '\t') {
        if (ch == '\n')
            refuseList(line_, "expected a closing quote on the line");
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", byte);
        refuseList(line_, "expected text, found the byte "s + hex);
    }
}

} // namespace

void readClrmamepro(std::string_view text, ListBuilder& builder) {
    Reader(text, builder).read();
}

} // namespace kelvo

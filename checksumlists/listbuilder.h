// What the list readers share: reading one field's text into a figure, the
// one way a reader reports what it expected, and the builder that turns the
// entries read into an indexed list. Private to the checksumlists library.
#pragma once

#include "checksumlists/checksumlist.h"

#include <memory>
#include <string>
#include <string_view>

namespace kelvo {

// Thrown by a reader at the first problem; loading turns it into a ListError
// naming the file.
struct ListProblem {
    std::size_t line = 0;
    std::string problem;
    std::string member; // the archive member it is in, if any
};

[[noreturn]] void refuseList(std::size_t line, std::string problem);

// Field readers: each refuses (ListProblem on `line`) text that is not what
// the field holds, naming the field as the list spells it. Empty text leaves
// the figure unknown.
void readSize(std::string_view text, std::size_t line, std::optional<std::uint64_t>& size);
void readCrc32(std::string_view text, std::size_t line, std::optional<std::uint32_t>& crc);
void readMd5(std::string_view text, std::size_t line, std::optional<Md5Digest>& digest);
void readSha1(std::string_view text, std::size_t line, std::optional<Sha1Digest>& digest);
void readSha256(std::string_view text, std::size_t line, std::optional<Sha256Digest>& digest);
// "good", "verified", "baddump" or "nodump", in any case.
[[nodiscard]] DumpStatus readStatus(std::string_view word, const char* field, std::size_t line);
// Refuses text longer than kMaxListFieldLength.
void checkLength(std::string_view text, const char* field, std::size_t line);

// Collects a list's header and entries, then drops repeated entries and
// indexes the rest.
class ListBuilder {
public:
    explicit ListBuilder(const std::string& path);

    [[nodiscard]] ChecksumList& list() { return *list_; }
    // A copy of `text` that lives as long as the list, for an entry's texts.
    [[nodiscard]] std::string_view keep(std::string_view text);
    // Room for the entries a list of `bytes` holds, guessed from No-Intro's
    // 400-odd bytes an entry.
    void expect(std::size_t bytes) { list_->roms.reserve(bytes / 384); }
    void add(ListRom&& rom) { list_->roms.push_back(std::move(rom)); }
    [[nodiscard]] std::shared_ptr<const ChecksumList> finish();

private:
    template <typename Kinds> void dropRepeats(const std::vector<bool>& repeat, Kinds& keyed);

    std::shared_ptr<ChecksumList> list_;
};

// The readers; each throws ListProblem.
void readLogiqxXml(std::string_view text, ListBuilder& builder);
void readClrmamepro(std::string_view text, ListBuilder& builder);

} // namespace kelvo

#include "checksumlists/listbuilder.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>

namespace kelvo {

namespace {

// The text a message quotes: at most 40 bytes, control bytes as \xNN, so a
// hostile field cannot make the message long or unreadable.
std::string shown(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += text[i];
        }
    }
    return out + (text.size() > kShown ? "...\"" : "\"");
}

int hexValue(char ch) {
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

// Exactly 2 * bytes.size() hexadecimal digits, in either case.
bool readHex(std::string_view text, std::span<std::uint8_t> bytes) {
    if (text.size() != bytes.size() * 2)
        return false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return false;
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

template <std::size_t N>
void readDigest(std::string_view text, const char* field, std::size_t line,
                std::optional<std::array<std::uint8_t, N>>& digest) {
    if (text.empty())
        return;
    std::array<std::uint8_t, N> bytes{};
    if (!readHex(text, bytes))
        refuseList(line, "expected " + std::to_string(2 * N) + " hexadecimal digits for " + field +
                             ", found " + shown(text));
    digest = bytes;
}

std::uint64_t fingerprint(const ListRom& rom) {
    const auto mix = [](std::uint64_t seed, std::uint64_t value) {
        return (seed ^ value) * 0x100000001B3ULL + (seed >> 29);
    };
    std::uint64_t h = std::hash<std::string_view>()(rom.name);
    h = mix(h, rom.size.value_or(~0ULL));
    h = mix(h, rom.crc32.value_or(0) | (rom.crc32 ? 1ULL << 32 : 0));
    if (rom.sha1)
        h = mix(h, (*rom.sha1)[0] | std::uint64_t((*rom.sha1)[1]) << 8);
    return mix(h, std::hash<std::string_view>()(rom.game));
}

// The first 8 bytes of a digest, as an index key.
template <std::size_t N> std::uint64_t keyOf(const std::array<std::uint8_t, N>& digest) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i)
        key = key << 8 | digest[i];
    return key;
}

} // namespace

void refuseList(std::size_t line, std::string problem) {
    throw ListProblem{line, std::move(problem), {}};
}

void readSize(std::string_view text, std::size_t line, std::optional<std::uint64_t>& size) {
    if (text.empty())
        return;
    // Thousands separators appear in lists written by hand ("32,524,164");
    // a comma must stand between digits.
    std::uint64_t value = 0;
    bool valid = text.front() != ',' && text.back() != ',';
    for (std::size_t i = 0; valid && i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == ',') {
            valid = text[i - 1] != ',';
            continue;
        }
        if (ch < '0' || ch > '9') {
            valid = false;
            break;
        }
        const auto digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (~0ULL - digit) / 10)
            refuseList(line, "expected a size below 2^64 bytes, found " + shown(text));
        value = value * 10 + digit;
    }
    if (!valid)
        refuseList(line, "expected a size in decimal digits, found " + shown(text));
    size = value;
}

void readCrc32(std::string_view text, std::size_t line, std::optional<std::uint32_t>& crc) {
    std::optional<std::array<std::uint8_t, 4>> bytes;
    readDigest(text, "crc", line, bytes);
    if (bytes)
        crc = std::uint32_t((*bytes)[0]) << 24 | std::uint32_t((*bytes)[1]) << 16 |
              std::uint32_t((*bytes)[2]) << 8 | (*bytes)[3];
}

void readMd5(std::string_view text, std::size_t line, std::optional<Md5Digest>& digest) {
    readDigest(text, "md5", line, digest);
}

void readSha1(std::string_view text, std::size_t line, std::optional<Sha1Digest>& digest) {
    readDigest(text, "sha1", line, digest);
}

void readSha256(std::string_view text, std::size_t line, std::optional<Sha256Digest>& digest) {
    readDigest(text, "sha256", line, digest);
}

DumpStatus readStatus(std::string_view word, const char* field, std::size_t line) {
    const auto is = [word](std::string_view expected) {
        return std::equal(word.begin(), word.end(), expected.begin(), expected.end(),
                          [](char a, char b) { return (a | 0x20) == b; });
    };
    if (is("good"))
        return DumpStatus::Good;
    if (is("verified"))
        return DumpStatus::Verified;
    if (is("baddump"))
        return DumpStatus::BadDump;
    if (is("nodump"))
        return DumpStatus::NoDump;
    refuseList(line, std::string("expected good, verified, baddump or nodump after ") + field +
                         ", found " + shown(word));
}

void checkLength(std::string_view text, const char* field, std::size_t line) {
    if (text.size() > kMaxListFieldLength)
        refuseList(line, std::string("the ") + field + " is " + std::to_string(text.size()) +
                             " bytes long; expected at most " +
                             std::to_string(kMaxListFieldLength));
}

ListBuilder::ListBuilder(const std::string& path) : list_(std::make_shared<ChecksumList>()) {
    list_->path = path;
}

std::shared_ptr<const ChecksumList> ListBuilder::finish() {
    dropRepeats();
    index();
    return std::move(list_);
}

// Repeats are found by sorting fingerprints, so a list of repeats costs no
// more than one without.
void ListBuilder::dropRepeats() {
    std::vector<ListRom>& roms = list_->roms;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> order(roms.size());
    for (std::size_t i = 0; i < roms.size(); ++i)
        order[i] = {fingerprint(roms[i]), std::uint32_t(i)};
    std::sort(order.begin(), order.end());
    std::vector<bool> repeat(roms.size());
    bool any = false;
    for (std::size_t run = 0; run < order.size();) {
        std::size_t end = run + 1;
        while (end < order.size() && order[end].first == order[run].first)
            ++end;
        // Within a run the first in list order comes first.
        for (std::size_t i = run + 1; i < end; ++i) {
            for (std::size_t j = run; j < i; ++j) {
                if (!repeat[order[j].second] && roms[order[i].second] == roms[order[j].second]) {
                    repeat[order[i].second] = true;
                    any = true;
                    break;
                }
            }
        }
        run = end;
    }
    if (!any)
        return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < roms.size(); ++i) {
        if (repeat[i])
            continue;
        if (kept != i)
            roms[kept] = std::move(roms[i]);
        ++kept;
    }
    roms.resize(kept);
}

void ListBuilder::index() {
    struct Keyed {
        std::uint64_t key;
        std::uint32_t rom;
        bool operator<(const Keyed& other) const {
            return key != other.key ? key < other.key : rom < other.rom;
        }
    };
    std::vector<Keyed> crc, sha1, md5, sha256;
    const std::vector<ListRom>& roms = list_->roms;
    for (std::uint32_t i = 0; i < roms.size(); ++i) {
        const ListRom& rom = roms[i];
        if (!rom.matchable())
            continue;
        if (rom.crc32)
            crc.push_back({*rom.crc32, i});
        else if (rom.sha1)
            sha1.push_back({keyOf(*rom.sha1), i});
        else if (rom.md5)
            md5.push_back({keyOf(*rom.md5), i});
        else
            sha256.push_back({keyOf(*rom.sha256), i});
    }
    const auto fill = [](std::vector<Keyed>& keyed, ChecksumList::Index& index) {
        std::sort(keyed.begin(), keyed.end());
        index.keys.reserve(keyed.size());
        index.roms.reserve(keyed.size());
        for (const Keyed& k : keyed) {
            index.keys.push_back(k.key);
            index.roms.push_back(k.rom);
        }
    };
    fill(crc, list_->byCrc32_);
    fill(sha1, list_->bySha1_);
    fill(md5, list_->byMd5_);
    fill(sha256, list_->bySha256_);
}

std::span<const std::uint32_t> ChecksumList::Index::find(std::uint64_t key) const {
    const auto [first, last] = std::equal_range(keys.begin(), keys.end(), key);
    return std::span(roms).subspan(std::size_t(first - keys.begin()), std::size_t(last - first));
}

std::vector<std::uint32_t> ChecksumList::candidates(const ImageHashes& image) const {
    std::vector<std::uint32_t> found;
    for (const std::uint32_t i : byCrc32_.find(image.crc32)) {
        if (!roms[i].size || *roms[i].size == image.size)
            found.push_back(i);
    }
    const auto addByDigest = [&](const Index& index, const auto& digest) {
        if (!digest || index.keys.empty())
            return;
        for (const std::uint32_t i : index.find(keyOf(*digest))) {
            if (!roms[i].size || *roms[i].size == image.size)
                found.push_back(i);
        }
    };
    addByDigest(bySha1_, image.sha1);
    addByDigest(byMd5_, image.md5);
    addByDigest(bySha256_, image.sha256);
    std::sort(found.begin(), found.end());
    return found;
}

std::string ChecksumList::label() const {
    if (name.empty()) {
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }
    return version.empty() ? name : name + " " + version;
}

} // namespace kelvo

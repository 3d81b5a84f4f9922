#include "checksumlists/listbuilder.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <type_traits>

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

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Eight hexadecimal digits to four bytes, all eight bytes tested at once
// (each byte below 0x80, so adding to it never carries into the next).
bool readHex8(const char* digits, std::uint8_t* bytes) {
    std::uint64_t v;
    std::memcpy(&v, digits, 8);
    const auto atLeast = [](std::uint64_t x, std::uint8_t low) {
        return (x + (0x80 - low) * kOnes) & kHighBits;
    };
    const std::uint64_t lower = v | 0x20 * kOnes;
    const std::uint64_t digit = atLeast(v, '0') & ~atLeast(v, '9' + 1);
    const std::uint64_t letter = atLeast(lower, 'a') & ~atLeast(lower, 'f' + 1);
    if ((v & kHighBits) != 0 || (digit | letter) != kHighBits)
        return false;
    const std::uint64_t nibbles = (v & 0x0F * kOnes) + (letter >> 7) * 9;
    // Byte 2k becomes nibble 2k << 4 | nibble 2k+1; the odd bytes are dropped.
    std::uint64_t packed = ((nibbles << 4) | (nibbles >> 8)) & 0x00FF00FF00FF00FFULL;
    packed = (packed | packed >> 8) & 0x0000FFFF0000FFFFULL;
    packed = (packed | packed >> 16) & 0xFFFFFFFFULL;
    const auto word = std::uint32_t(packed);
    std::memcpy(bytes, &word, 4);
    return true;
}

// Exactly 2 * bytes.size() hexadecimal digits, in either case; every
// digest's length is a multiple of four bytes.
bool readHex(std::string_view text, std::span<std::uint8_t> bytes) {
    static_assert(std::endian::native == std::endian::little, "readHex8 reads little-endian");
    if (text.size() != bytes.size() * 2 || bytes.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        if (!readHex8(text.data() + 2 * i, bytes.data() + i))
            return false;
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

// Equal for equal entries; the key of entries no index holds.
std::uint64_t fingerprint(const ListRom& rom) {
    return std::hash<std::string_view>()(rom.name) ^ rom.size.value_or(0) * 0x9E3779B97F4A7C15ULL;
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

std::string_view ListBuilder::keep(std::string_view text) {
    constexpr std::size_t kBlock = 64 * 1024;
    static_assert(kBlock >= kMaxListFieldLength);
    if (text.empty())
        return {};
    ChecksumList& list = *list_;
    if (text.size() > list.textRoom_) {
        list.texts_.push_back(std::make_unique_for_overwrite<char[]>(kBlock));
        list.textRoom_ = kBlock;
    }
    char* at = list.texts_.back().get() + (kBlock - list.textRoom_);
    std::copy(text.begin(), text.end(), at);
    list.textRoom_ -= text.size();
    return {at, text.size()};
}

// Entries are sorted by their index key once: equal entries have equal
// keys, so repeats are found among neighbours, and a list of repeats costs
// no more than one without.
std::shared_ptr<const ChecksumList> ListBuilder::finish() {
    struct Keyed {
        std::uint64_t key;
        std::uint32_t rom;
        bool operator<(const Keyed& other) const {
            return key != other.key ? key < other.key : rom < other.rom;
        }
    };
    enum { kCrc, kSha1, kMd5, kSha256, kUnindexed, kKinds };
    std::array<std::vector<Keyed>, kKinds> keyed;
    std::vector<ListRom>& roms = list_->roms;
    keyed[kCrc].reserve(roms.size());
    for (std::uint32_t i = 0; i < roms.size(); ++i) {
        const ListRom& rom = roms[i];
        if (!rom.matchable())
            keyed[kUnindexed].push_back({fingerprint(rom), i});
        else if (rom.crc32)
            keyed[kCrc].push_back({*rom.crc32, i});
        else if (rom.sha1)
            keyed[kSha1].push_back({keyOf(*rom.sha1), i});
        else if (rom.md5)
            keyed[kMd5].push_back({keyOf(*rom.md5), i});
        else
            keyed[kSha256].push_back({keyOf(*rom.sha256), i});
    }

    // A CRC32 and a position fit one 64-bit number, which sorts fastest.
    std::vector<std::uint64_t> crcOrder(keyed[kCrc].size());
    for (std::size_t i = 0; i < crcOrder.size(); ++i)
        crcOrder[i] = keyed[kCrc][i].key << 32 | keyed[kCrc][i].rom;
    std::sort(crcOrder.begin(), crcOrder.end());
    for (std::size_t i = 0; i < crcOrder.size(); ++i)
        keyed[kCrc][i] = {crcOrder[i] >> 32, std::uint32_t(crcOrder[i])};

    std::vector<bool> repeat;
    for (std::vector<Keyed>& kind : keyed) {
        if (&kind != &keyed[kCrc])
            std::sort(kind.begin(), kind.end());
        for (std::size_t run = 0; run < kind.size();) {
            std::size_t end = run + 1;
            while (end < kind.size() && kind[end].key == kind[run].key)
                ++end;
            for (std::size_t i = run + 1; i < end; ++i) {
                for (std::size_t j = run; j < i; ++j) {
                    if (roms[kind[i].rom] == roms[kind[j].rom]) {
                        repeat.resize(roms.size());
                        repeat[kind[i].rom] = true;
                        break;
                    }
                }
            }
            run = end;
        }
    }
    if (!repeat.empty())
        dropRepeats(repeat, keyed);

    const auto fill = [](const std::vector<Keyed>& kind, ChecksumList::Index& index) {
        index.keys.reserve(kind.size());
        index.roms.reserve(kind.size());
        for (const Keyed& k : kind) {
            index.keys.push_back(k.key);
            index.roms.push_back(k.rom);
        }
    };
    // The guess of expect() may have left much room; entries copy bitwise.
    static_assert(std::is_trivially_copyable_v<ListRom>);
    if (roms.capacity() - roms.size() > roms.size() / 8)
        roms.shrink_to_fit();
    fill(keyed[kCrc], list_->byCrc32_);
    fill(keyed[kSha1], list_->bySha1_);
    fill(keyed[kMd5], list_->byMd5_);
    fill(keyed[kSha256], list_->bySha256_);
    return std::move(list_);
}

// Keeps the first of equal entries, in list order, and moves the index
// entries along with them (which keeps them sorted).
template <typename Kinds>
void ListBuilder::dropRepeats(const std::vector<bool>& repeat, Kinds& keyed) {
    std::vector<ListRom>& roms = list_->roms;
    std::vector<std::uint32_t> moved(roms.size());
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < roms.size(); ++i) {
        if (repeat[i])
            continue;
        if (kept != i)
            roms[kept] = std::move(roms[i]);
        moved[i] = kept++;
    }
    roms.resize(kept);
    for (auto& kind : keyed) {
        std::erase_if(kind, [&](const auto& k) { return repeat[k.rom]; });
        for (auto& k : kind)
            k.rom = moved[k.rom];
    }
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

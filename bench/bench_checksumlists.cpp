// Loading a checksum list shaped like No-Intro's Game Boy Advance list
// (3,700 games, long names, all five figures, some statuses, a DOCTYPE),
// against the bare minimum over the same file: expat with no handlers for
// the XML list, a tokenizer loop that only counts tokens for the clrmamepro
// one. Both sides read the file whole first, as loading does.
#include "benchsupport.h"

#include "checksumlists/checksumlist.h"

#include <expat.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <vector>

namespace kelvo::bench {

namespace {

struct Entry {
    std::string game;
    std::string size;
    std::string crc, md5, sha1, sha256;
    const char* status; // "", "verified" or "baddump"
    std::string serial;
};

std::string hexDigits(std::uint64_t& state, std::size_t count) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        text += kDigits[state & 15];
    }
    return text;
}

std::vector<Entry> entries(std::int64_t n) {
    static const char* const kWords[] = {"Advance", "Legend", "Puzzle",  "Racing", "Quest",
                                         "Tactics", "Soccer", "Pinball", "Island", "Star"};
    static const char* const kTags[] = {"(World) (GBA Jam 2024) (Aftermarket) (Unl)",
                                        "(Europe) (En,Fr,De,Es,It)", "(USA)", "(Japan) (Rev 1)",
                                        "(USA, Europe) (Beta) (2003-05-12)"};
    std::vector<Entry> list;
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    for (std::int64_t i = 0; i < n; ++i) {
        Entry e;
        e.game = collectionName(std::size_t(i), "") + " " + kWords[i % 10] + " " +
                 kWords[(i / 10) % 10] + " " + kTags[i % 5];
        e.size = std::to_string(std::int64_t(1) << (18 + i % 8));
        e.crc = hexDigits(state, 8);
        e.md5 = hexDigits(state, 32);
        e.sha1 = hexDigits(state, 40);
        e.sha256 = hexDigits(state, 64);
        e.status = i % 3 == 0 ? "verified" : i % 41 == 0 ? "baddump" : "";
        e.serial = "A" + hexDigits(state, 3);
        list.push_back(std::move(e));
    }
    return list;
}

void makeXml(const ScratchDir& dir, std::int64_t n) {
    writeChecksumListXml(dir.file("list.dat"), n);
}

void makeClrmamepro(const ScratchDir& dir, std::int64_t n) {
    std::ofstream out(dir.file("list.dat"), std::ios::binary);
    out << "clrmamepro (\n\tname \"Nintendo - Game Boy Advance\"\n"
           "\tdescription \"Nintendo - Game Boy Advance\"\n\tversion 20260801-000000\n"
           "\tauthor \"bench\"\n\thomepage No-Intro\n)\n\n";
    for (const Entry& e : entries(n)) {
        out << "game (\n\tname \"" << e.game << "\"\n\tdescription \"" << e.game
            << "\"\n\trom ( name \"" << e.game << ".gba\" size " << e.size << " crc " << e.crc
            << " md5 " << e.md5 << " sha1 " << e.sha1 << " sha256 " << e.sha256;
        if (*e.status)
            out << " flags " << e.status;
        out << " serial \"" << e.serial << "\" )\n)\n\n";
    }
}

std::vector<char> readWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    ::fstat(fd, &info);
    std::vector<char> bytes(std::size_t(info.st_size) + 1);
    std::size_t done = 0;
    for (ssize_t n; (n = ::read(fd, bytes.data() + done, bytes.size() - done)) > 0;)
        done += std::size_t(n);
    ::close(fd);
    bytes.resize(done);
    return bytes;
}

// The least an XML list costs: expat over every byte, reporting nothing.
bool expatOnly(const std::string& path) {
    const std::vector<char> bytes = readWhole(path);
    XML_Parser parser = XML_ParserCreate(nullptr);
    const bool ok = XML_Parse(parser, bytes.data(), int(bytes.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

// The least a clrmamepro list costs: every token found, nothing kept.
std::size_t tokensOnly(const std::string& path) {
    const std::vector<char> bytes = readWhole(path);
    std::size_t tokens = 0;
    const char* p = bytes.data();
    const char* const end = p + bytes.size();
    while (p < end) {
        const char ch = *p;
        if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r') {
            ++p;
            continue;
        }
        ++tokens;
        if (ch == '(' || ch == ')') {
            ++p;
        } else if (ch == '"') {
            ++p;
            while (p < end && *p != '"')
                ++p;
            ++p;
        } else {
            while (p < end && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r' && *p != '(' &&
                   *p != ')' && *p != '"')
                ++p;
        }
    }
    return tokens;
}

template <bool Xml> void loadList(benchmark::State& state) {
    const std::int64_t n = state.range(0);
    const ScratchDir& dir = cachedDirectory(Xml ? "checksum-xml" : "checksum-clrmamepro", n,
                                            Xml ? makeXml : makeClrmamepro);
    const std::string path = dir.file("list.dat");

    std::shared_ptr<const ChecksumList> list;
    const auto ours = [&] {
        list = loadChecksumList(path);
        benchmark::DoNotOptimize(list.get());
    };
    bool baselineOk = true;
    const auto baseline = [&] {
        if constexpr (Xml)
            baselineOk = expatOnly(path);
        else
            baselineOk = tokensOnly(path) > 0;
        benchmark::DoNotOptimize(baselineOk);
    };

    SideBySide clock;
    try {
        for (auto _ : state)
            clock.run(state, ours, baseline);
    } catch (const FileError& error) {
        fail(state, error.what());
        return;
    }
    clock.report(state);
    if (!baselineOk || !list || list->entryCount() != std::size_t(n) ||
        list->name != "Nintendo - Game Boy Advance" || !list->roms.back().sha256)
        fail(state, "the list loaded wrong: " + std::to_string(list ? list->entryCount() : 0) +
                        " entries of " + std::to_string(n));
    state.counters["bytes"] = double(::kelvo::imageLength(path));
    // What a loaded list keeps on the heap, per entry.
    list.reset();
    const std::size_t before = heapInUse();
    list = loadChecksumList(path);
    state.counters["heap_per_entry"] = double(heapInUse() - before) / double(n);
}

} // namespace

// A Logiqx XML list at `path` shaped like No-Intro's Game Boy Advance list.
void writeChecksumListXml(const std::string& path, std::int64_t n) {
    std::ofstream out(path, std::ios::binary);
    out << "<?xml version=\"1.0\"?>\n"
           "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
           "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
           "<datafile>\n\t<header>\n\t\t<name>Nintendo - Game Boy Advance</name>\n"
           "\t\t<description>Nintendo - Game Boy Advance</description>\n"
           "\t\t<version>20260801-000000</version>\n\t\t<author>bench</author>\n"
           "\t\t<homepage>No-Intro</homepage>\n\t</header>\n";
    std::int64_t id = 0;
    for (const Entry& e : entries(n)) {
        out << "\t<game name=\"" << e.game << "\" id=\"" << id++ << "\">\n\t\t<description>"
            << e.game << "</description>\n\t\t<rom name=\"" << e.game << ".gba\" size=\"" << e.size
            << "\" crc=\"" << e.crc << "\" md5=\"" << e.md5 << "\" sha1=\"" << e.sha1
            << "\" sha256=\"" << e.sha256 << "\"";
        if (*e.status)
            out << " status=\"" << e.status << "\"";
        out << " serial=\"" << e.serial << "\"/>\n\t</game>\n";
    }
    out << "</datafile>\n";
}

void registerChecksumListBenchmarks() {
    const std::int64_t n = smokeRun() ? 37 : 3700;
    benchmark::RegisterBenchmark("checksum_list_load/xml", loadList<true>)
        ->Arg(n)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("checksum_list_load/clrmamepro", loadList<false>)
        ->Arg(n)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
}

} // namespace kelvo::bench

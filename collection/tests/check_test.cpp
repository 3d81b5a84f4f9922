// Whole checks: a tree of images and an archive against a list, through the
// hash cache or without one; a second check answered from the cache; a
// cancel; the cells of one row. Hashes from Python's zlib and hashlib.
#include "collection/tests/collection_support.h"

#include "collection/scan.h"

#include <sqlite3.h>

#include <atomic>
#include <mutex>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace kelvo;
using namespace kelvo::test;

constexpr std::string_view kList = R"(<?xml version="1.0"?>
<datafile><header><name>Test</name><version>1</version></header>
<game name="A"><rom name="Alpha (World).gba" size="4096" crc="0be47ed9"
  sha1="0b2d26156a7abece3aa9d3756158a73cbf5a8e71" status="verified"/></game>
<game name="B"><rom name="b.gba" size="4096" crc="b0f41903"
  sha1="01043f829d3418a96e9b2492678bb969ea4c4e7b"/></game>
<game name="C"><rom name="Charlie.gba" size="4096" crc="ecfc8b7a" status="baddump"/></game>
<game name="T"><rom name="Trim (Europe).gba" size="4096" crc="263abfb0"
  sha1="7e1a9c0edeba88e2c80bc3a7f85fca060e4eb2de"/></game>
</datafile>)";

ListSet testLists() {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(kList.data());
    return ListSet({parseChecksumList(std::span(bytes, kList.size()), "/lists/test.dat")});
}

Bytes withCheckByteWrong(Bytes bytes) {
    bytes[kCheckOffset] ^= 1;
    return bytes;
}

enum class Cache { None, Fresh, Garbage, Directory };

class Check : public CollectionTest, public ::testing::WithParamInterface<Cache> {
protected:
    void makeCollection() {
        write("a.gba", image(4096, 0));
        write("sub/b.gba", image(4096, 1));
        write("c.bin", image(4096, 2));
        write("t.gba", image(3000, 3));
        write("u.gba", withCheckByteWrong(image(4096, 0)));
        write(".hidden.gba", image(4096, 0));
        write("z.zip", makeZip({{"a.gba", image(4096, 0)}, {"t.gba", image(3000, 3)}}));
    }

    [[nodiscard]] HashCache::Options cacheOptions() const {
        HashCache::Options options;
        options.settleTime = std::chrono::nanoseconds(0); // written just before
        return options;
    }
};

const std::vector<std::string> kExpected = {
    "a.gba|OK|0be47ed9|0b2d26156a7abece3aa9d3756158a73cbf5a8e71|Verified|Alpha (World).gba",
    "c.bin|OK|ecfc8b7a|cf9aeddf6ffc0a709ae013113d12a4621e0a2ec5|Bad dump|Charlie.gba",
    "t.gba|OK|8dd4eff2|80a5c6529cfab033eb3ba912a6892e100eb73825|Trimmed|Trim (Europe).gba",
    "u.gba|check byte bad|6d59c9ff|249fe5e56c5ea92fc13477eda8ee09c5f6c3ce68|"
    "Not in the loaded lists|",
    "z.zip/a.gba|OK|0be47ed9|0b2d26156a7abece3aa9d3756158a73cbf5a8e71|Verified|"
    "Alpha (World).gba",
    "z.zip/t.gba|OK|8dd4eff2|80a5c6529cfab033eb3ba912a6892e100eb73825|Trimmed|"
    "Trim (Europe).gba",
    "sub/b.gba|OK|b0f41903|01043f829d3418a96e9b2492678bb969ea4c4e7b|Good|b.gba",
};

// Whatever the cache does (missing, fresh, damaged, not a file at all),
// the rows are the same, the progress ends at its totals, and a second
// check gives them again.
TEST_P(Check, GivesEveryRowMatchedAgainstTheLists) {
    makeCollection();
    std::string cacheFile = path("cache/hashes.sqlite3");
    if (GetParam() == Cache::Garbage)
        write("cache/hashes.sqlite3", Bytes(4096, 0x5A));
    if (GetParam() == Cache::Directory)
        makeDirectory("cache/hashes.sqlite3");
    std::optional<HashCache> cache;
    if (GetParam() != Cache::None)
        cache.emplace(cacheFile, cacheOptions());

    for (int pass = 0; pass < 2; ++pass) {
        CheckOptions options;
        options.paths = {dir()};
        options.threads = 3;
        std::vector<std::string> rows;
        for (const CheckRow& row : checkAll(options, testLists(), cache ? &*cache : nullptr))
            rows.push_back(describe(row));
        EXPECT_EQ(rows, kExpected) << "pass " << pass;
    }
    if (GetParam() == Cache::Directory) {
        EXPECT_FALSE(cache->problem().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Caches, Check,
                         ::testing::Values(Cache::None, Cache::Fresh, Cache::Garbage,
                                           Cache::Directory));

// Trusted members match by their stated size and CRC32 alone, a trimmed one
// by the CRC32 its padding would give; they have no SHA-1.
TEST_F(Check, TrustedMembersMatchByTheirStoredChecksum) {
    makeCollection();
    CheckOptions options;
    options.paths = {path("z.zip")};
    options.trustArchiveChecksums = true;
    std::vector<std::string> rows;
    for (const CheckRow& row : checkAll(options, testLists()))
        rows.push_back(describe(row));
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "z.zip/a.gba|OK|0be47ed9|not computed|Verified|Alpha (World).gba",
                        "z.zip/t.gba|OK|8dd4eff2|not computed|Trimmed|Trim (Europe).gba"}));
}

// An unchanged collection is answered from the cache: a CRC32 changed in
// the cache behind the program's back shows in every row.
TEST_F(CollectionTest, SecondCheckIsAnsweredFromTheCache) {
    write("a.gba", image(4096, 0));
    write("z.zip", makeZip({{"b.gba", image(4096, 1)}}));
    HashCache::Options cacheOptions;
    cacheOptions.settleTime = std::chrono::nanoseconds(0);
    const std::string file = path("hashes.sqlite3");
    CheckOptions options;
    options.paths = {dir()};
    {
        HashCache cache(file, cacheOptions);
        EXPECT_EQ(checkAll(options, {}, &cache).size(), 2u);
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "UPDATE scans SET crc32 = 305419896", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    HashCache cache(file, cacheOptions);
    for (const CheckRow& row : checkAll(options, {}, &cache))
        EXPECT_EQ(cellText(row, CheckColumn::Crc32), "12345678") << row.file;
}

TEST_F(CollectionTest, ProgressEndsAtTheTotals) {
    write("a.gba", image(4096, 0));
    write("b.gba", image(100, 4));
    write("z.zip", makeZip({{"b.gba", image(4096, 1)}}));
    write("d/gone.gba", {}); // a link to nothing is a row too
    std::filesystem::remove(path("d/gone.gba"));
    link("d/gone.gba", "nowhere");
    std::atomic<int> told{0};
    CheckOptions options;
    options.paths = {dir()};
    options.rowsWaiting = [&told] { ++told; };
    CollectionCheck check(options, {}, nullptr);
    check.wait();
    const CheckProgress progress = check.progress();
    EXPECT_TRUE(progress.finished);
    EXPECT_FALSE(progress.counting);
    EXPECT_EQ(progress.filesDone, 4u);
    EXPECT_EQ(progress.filesTotal, 4u);
    EXPECT_EQ(progress.bytesDone, progress.bytesTotal);
    EXPECT_EQ(progress.bytesTotal, 4096 + 100 + std::filesystem::file_size(path("z.zip")));
    EXPECT_EQ(check.take().rows.size(), 4u);
    EXPECT_GE(told, 1);
}

// A check in the background runs its threads ten nice steps below the
// caller's (a window's thread is served first); otherwise at the caller's.
TEST_F(CollectionTest, BackgroundThreadsYieldToTheCaller) {
    write("a.gba", image(4096, 0));
    const int caller = ::getpriority(PRIO_PROCESS, id_t(::gettid()));
    for (const bool background : {false, true}) {
        std::mutex mutex;
        std::vector<int> seen; // the nice value of each thread that told
        CheckOptions options;
        options.paths = {dir()};
        options.background = background;
        options.rowsWaiting = [&] {
            const std::lock_guard lock(mutex);
            seen.push_back(::getpriority(PRIO_PROCESS, id_t(::gettid())));
        };
        CollectionCheck check(options, {}, nullptr);
        check.wait();
        const std::lock_guard lock(mutex);
        ASSERT_FALSE(seen.empty());
        for (const int nice : seen)
            EXPECT_EQ(nice, background ? std::min(caller + 10, 19) : caller)
                << (background ? "in the background" : "in the foreground");
    }
}

// Cancel stops at once, keeps the rows made and never hangs.
TEST_F(CollectionTest, CancelKeepsTheRowsDone) {
    for (int i = 0; i < 400; ++i)
        write("f" + std::to_string(i) + ".gba", image(256 << 10, std::uint8_t(i)));
    CheckOptions options;
    options.paths = {dir()};
    CollectionCheck check(options, {}, nullptr);
    std::size_t rows = check.takeWaiting(std::chrono::seconds(10)).rows.size();
    check.cancel();
    check.wait();
    const CheckBatch rest = check.take();
    rows += rest.rows.size();
    EXPECT_TRUE(rest.finished);
    EXPECT_TRUE(check.progress().cancelled);
    EXPECT_GE(rows, 1u);
    EXPECT_LT(rows, 400u);
    EXPECT_EQ(check.progress().filesDone, rows);
}

// A file that changed between the walk and the read is read as it is then;
// one gone is a row; a file larger than any image is not read.
TEST_F(CollectionTest, FilesChangedAfterTheWalk) {
    write("grows.gba", image(4096, 0));
    write("gone.gba", image(4096, 0));
    write("huge.bin", {});
    std::filesystem::resize_file(path("huge.bin"), (64 << 20) + 1);
    std::vector<WalkItem> items;
    walkCollection({dir()}, {}, [&](WalkItem&& item) { items.push_back(std::move(item)); });
    ASSERT_EQ(items.size(), 3u);
    std::filesystem::remove(path("gone.gba"));
    write("grows.gba", image(8192, 0));
    std::vector<std::string> rows;
    for (const WalkItem& item : items)
        checkItem(item, {}, [&](CheckRow&& row) {
            rows.push_back(describe(row) + '|' + cellText(row, CheckColumn::Size));
        });
    EXPECT_EQ(rows, (std::vector<std::string>{
                        "gone.gba|unreadable: No such file or directory|||",
                        "grows.gba|OK|50b93573|9639ff9fcdacb7df5afd3b5fe39f75766824a4f5|8192",
                        "huge.bin|too large for a GBA image|||67108865",
                    }));
}

// Every cell of one row, as the table shows it.
TEST_F(CollectionTest, CellsOfARow) {
    write("Delta.gba", image(4096, 5, std::string_view("DELTA\0\0\0\0\0\0\0BDLE01", 18)));
    const std::vector<CheckRow> rows = checkAll({{dir()}, true, false, 1, {}});
    ASSERT_EQ(rows.size(), 1u);
    const auto cells = cellTexts(rows[0]);
    EXPECT_EQ(std::vector<std::string>(cells.begin(), cells.end()),
              (std::vector<std::string>{"Delta.gba", "DELTA", "BDLE", "01 - Nintendo", "4096", "OK",
                                        "none found (no save, or a homebrew image without an ID)",
                                        "b5fd102d", "c96e05e2ed3f2f1ea85cb0e3a97b0f565594a414",
                                        "No lists loaded", ""}));
}

} // namespace

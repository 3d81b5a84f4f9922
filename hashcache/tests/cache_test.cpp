// The hash cache: rows kept whole and apart, a changed file read again, a
// file changing while read never kept, pruning, and many threads at once.
#include "hashcache/tests/cache_support.h"
#include "romheader/imageinfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <thread>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using namespace std::chrono_literals;

// sampleImage(4096)'s digests, from Python's zlib and hashlib.
constexpr const char* kSampleDigests =
    "08e42cdb bc4145317b493218270be63c2900791f 85c9ad062b8916ef52320b04e640ca64470cb4da "
    "980ea0f9c3e05933605b14748b711a4123ec06c6724917c5537d798d33725c65";

std::string digestsOf(const ImageScan& scan) {
    const std::array<std::uint8_t, 4> crc{std::uint8_t(scan.crc32 >> 24),
                                          std::uint8_t(scan.crc32 >> 16),
                                          std::uint8_t(scan.crc32 >> 8), std::uint8_t(scan.crc32)};
    std::string text = hexText(crc) + ' ' + hexText(scan.md5) + ' ' + hexText(scan.sha1) + ' ' +
                       hexText(scan.sha256);
    for (char& c : text)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Every field at an edge of its type, and of the columns that keep it.
TEST_F(CacheTest, KeepsEveryFieldAndTellsKeysApart) {
    ImageScan scan;
    for (std::size_t i = 0; i < scan.header.size(); ++i)
        scan.header[i] = std::uint8_t(255 - i);
    scan.size = std::uint64_t(1) << 40;
    scan.crc32 = 0xFFFFFFFF;
    scan.md5.fill(0x80);
    scan.sha1.fill(0);
    scan.sha256.fill(0xFF);
    scan.saveIds = {"SRAM_V113", "FLASH1M_V103"};
    scan.lastByte = 0xFF;
    scan.trailingRun = (std::uint64_t(1) << 40) - 1;
    const CacheKey key{"/roms/\xFF\x01 name.gba",
                       "",
                       std::numeric_limits<std::uint64_t>::max(),
                       std::uint64_t(1) << 63,
                       std::uint64_t(1) << 40,
                       -5,
                       std::numeric_limits<std::int64_t>::max()};
    CacheKey member = key;
    member.member = "dir/game.gba";
    ImageScan memberScan = scan;
    memberScan.saveIds.clear();
    memberScan.crc32 = 1;

    HashCache cache(cacheFile(), fast());
    cache.store(key, scan);
    cache.store(member, memberScan);
    EXPECT_EQ(cache.lookup(key), scan);
    EXPECT_EQ(cache.lookup(member), memberScan);
    EXPECT_EQ(cache.lookup(paddedKey(key, 0xFF, std::uint64_t(1) << 41)), std::nullopt);

    // Any one field of the key changed is another file.
    const auto other = [&](auto change) {
        CacheKey changed = key;
        change(changed);
        return cache.lookup(changed);
    };
    EXPECT_EQ(other([](CacheKey& k) { k.path += 'x'; }), std::nullopt) << "path";
    EXPECT_EQ(other([](CacheKey& k) { k.device ^= 1; }), std::nullopt) << "device";
    EXPECT_EQ(other([](CacheKey& k) { k.inode ^= 1; }), std::nullopt) << "inode";
    EXPECT_EQ(other([](CacheKey& k) { k.size ^= 1; }), std::nullopt) << "size";
    EXPECT_EQ(other([](CacheKey& k) { k.modifiedNs ^= 1; }), std::nullopt) << "mtime";
    EXPECT_EQ(other([](CacheKey& k) { k.changedNs ^= 1; }), std::nullopt) << "ctime";
    EXPECT_EQ(cache.problem(), "");
}

// A file looked at a second time after `change`: answered from the cache
// only when nothing about it changed. The cache's row is marked (its CRC32
// made 0xDEADBEEF) so an answer from it shows.
struct ChangeRow {
    const char* name;
    // Changes the image at `image` and returns the path to look it up by.
    std::string (*change)(const std::string& image);
    bool fromCache;
};

class StaleKeys : public CacheTest, public ::testing::WithParamInterface<ChangeRow> {};

TEST_P(StaleKeys, ChangedFilesAreReadAgain) {
    const std::string image = writeImage("image.gba");
    HashCache cache(cacheFile(), fast());
    EXPECT_EQ(digestsOf(scanImageCached(image, &cache)), kSampleDigests);
    RawDatabase(cacheFile()).exec("UPDATE scans SET crc32 = 3735928559");
    // A change after this gets a new time even where the clock ticks coarsely.
    std::this_thread::sleep_for(20ms);

    const std::string lookedUp = GetParam().change(image);
    const ImageScan again = scanImageCached(lookedUp, &cache);
    EXPECT_EQ(again.crc32 == 0xDEADBEEF, GetParam().fromCache)
        << "CRC32 " << std::hex << again.crc32;
    if (!GetParam().fromCache) {
        EXPECT_EQ(again, scanImage(lookedUp)) << "the file read again is not what it holds";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, StaleKeys,
    ::testing::Values(ChangeRow{"unchanged", [](const std::string& p) { return p; }, true},
                      ChangeRow{"same_bytes_written_again",
                                [](const std::string& p) {
                                    writeFile(p, readFile(p));
                                    return p;
                                },
                                false},
                      ChangeRow{"modification_time_set_back",
                                [](const std::string& p) {
                                    const timespec times[2] = {{0, UTIME_OMIT}, {978307200, 0}};
                                    EXPECT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
                                    return p;
                                },
                                false},
                      ChangeRow{"permissions_changed_only",
                                [](const std::string& p) {
                                    EXPECT_EQ(::chmod(p.c_str(), 0600), 0);
                                    return p;
                                },
                                false},
                      ChangeRow{"grown_by_a_byte",
                                [](const std::string& p) {
                                    Bytes bytes = readFile(p);
                                    bytes.push_back(0xFF);
                                    writeFile(p, bytes);
                                    return p;
                                },
                                false},
                      ChangeRow{"replaced_by_a_copy",
                                [](const std::string& p) {
                                    writeFile(p + ".new", readFile(p));
                                    std::filesystem::rename(p + ".new", p);
                                    return p;
                                },
                                false},
                      ChangeRow{"same_file_under_another_name",
                                [](const std::string& p) {
                                    EXPECT_EQ(::link(p.c_str(), (p + ".gba").c_str()), 0);
                                    return p + ".gba";
                                },
                                false}),
    [](const auto& info) { return std::string(info.param.name); });

// A trimmed dump padded each way is kept under its own keys beside the file's.
TEST_F(CacheTest, KeepsPaddedScansApart) {
    Bytes bytes;
    for (std::size_t i = 0; i < 5000; ++i)
        bytes.push_back(std::uint8_t(i * 7 + 3));
    const std::string image = path("trimmed.gba");
    writeFile(image, bytes);
    HashCache cache(cacheFile(), fast());
    const std::uint8_t pads[] = {0xFF, 0x00};
    const auto crcs = [&] {
        std::vector<std::uint32_t> found;
        for (const ImageScan& scan : scanImagePaddedCached(image, &cache, pads, 8192))
            found.push_back(scan.crc32);
        return found;
    };
    // From Python's zlib over the padded bytes.
    EXPECT_EQ(crcs(), (std::vector<std::uint32_t>{0xB1FFF7AA, 0x36656478}));
    EXPECT_EQ(scanImageCached(image, &cache).crc32, 0x1ABD04D4u);
    RawDatabase(cacheFile()).exec("UPDATE scans SET crc32 = crc32 + 1");
    EXPECT_EQ(crcs(), (std::vector<std::uint32_t>{0xB1FFF7AB, 0x36656479})) << "not kept";
    EXPECT_EQ(scanImageCached(image, &cache).crc32, 0x1ABD04D5u) << "not kept";
}

// A pass whose file changed while it was read, or just before (on a file
// system with coarse times a later change could keep every field of the
// key), is not kept: the next look reads the file again.
struct UnsettledRow {
    const char* name;
    std::chrono::nanoseconds settleTime;
    bool appendWhileRead;
};

class Unsettled : public CacheTest, public ::testing::WithParamInterface<UnsettledRow> {};

TEST_P(Unsettled, IsNotKept) {
    const std::string image = writeImage("image.gba", 3 * kScanChunk);
    HashCache::Options options = fast();
    options.settleTime = GetParam().settleTime;
    HashCache cache(cacheFile(), options);
    int calls = 0;
    const ImageScan scan = scanImageCached(image, &cache, [&](std::uint64_t, std::uint64_t) {
        if (GetParam().appendWhileRead && ++calls == 2)
            writeFile(image, Bytes(3 * kScanChunk, 0xFF)); // the same size
        return true;
    });
    EXPECT_GT(scan.size, 0u);
    cache.flush();
    EXPECT_EQ(RawDatabase(cacheFile()).integer("SELECT count(*) FROM scans"), 0);
}

INSTANTIATE_TEST_SUITE_P(Files, Unsettled,
                         ::testing::Values(UnsettledRow{"changed_while_read", 0ns, true},
                                           UnsettledRow{"changed_just_before", 2s, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Rows not seen for 90 days go, then the ones seen longest ago while there
// are too many; a lookup renews a row's time (at most daily, so looking a
// collection over rarely writes).
TEST_F(CacheTest, PrunesOldRowsAndKeepsUnderTheCap) {
    const auto key = [](int i) {
        return CacheKey{"/roms/" + std::to_string(i) + ".gba", "", 1, std::uint64_t(i), 4096, 0, 0};
    };
    const ImageScan scan;
    {
        HashCache cache(cacheFile(), fast());
        for (int i = 0; i < 5; ++i)
            cache.store(key(i), scan);
    }
    const std::int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    const std::int64_t day = 24 * 60 * 60;
    {
        RawDatabase raw(cacheFile());
        for (const auto& [i, age] :
             {std::pair{0, 100 * day}, {1, 50 * day}, {2, 40 * day}, {3, 30 * day}, {4, 3600}})
            raw.exec("UPDATE scans SET last_seen = " + std::to_string(now - age) +
                     " WHERE path = CAST('/roms/" + std::to_string(i) + ".gba' AS BLOB)");
    }
    HashCache::Options options = fast();
    options.maxRows = 3;
    HashCache cache(cacheFile(), options);
    EXPECT_TRUE(cache.lookup(key(3))) << "a row 30 days old is still there";
    EXPECT_TRUE(cache.lookup(key(4)));
    cache.store(key(5), scan); // 0 is too old; then 1 and 2 are the oldest of five
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(cache.lookup(key(i)).has_value(), i >= 3) << "row " << i;
    cache.flush();
    RawDatabase raw(cacheFile());
    EXPECT_EQ(raw.integer("SELECT count(*) FROM scans"), 3);
    EXPECT_EQ(raw.integer("SELECT rows FROM counts"), 3) << "the kept count went wrong";
    EXPECT_GE(raw.integer("SELECT last_seen FROM scans WHERE path = CAST('/roms/3.gba' AS BLOB)"),
              now)
        << "the lookup of a row 30 days old did not renew it";
    EXPECT_EQ(raw.integer("SELECT last_seen FROM scans WHERE path = CAST('/roms/4.gba' AS BLOB)"),
              now - 3600)
        << "a lookup an hour after the last wrote again";
}

// Threads of two instances (two programs) storing and looking up at once:
// every answer is whole and right, and every row arrives.
TEST_F(CacheTest, ManyThreadsAndTwoInstancesAtOnce) {
    std::vector<std::string> images;
    std::vector<ImageScan> expected;
    for (std::size_t i = 0; i < 6; ++i) {
        images.push_back(writeImage("image" + std::to_string(i) + ".gba", 5000 + 1000 * i));
        expected.push_back(scanImage(images.back()));
    }
    HashCache::Options options = fast();
    options.busyTimeout = 5s;
    HashCache first(cacheFile(), options);
    HashCache second(cacheFile(), options);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            HashCache& cache = t % 2 ? second : first;
            for (std::size_t round = 0; round < 3; ++round) {
                for (std::size_t i = 0; i < images.size(); ++i) {
                    const std::size_t which = (i + t) % images.size();
                    EXPECT_EQ(scanImageCached(images[which], &cache, {}, HashThreads::One),
                              expected[which]);
                }
                for (std::uint64_t i = 0; i < 50; ++i) {
                    const CacheKey key{"/k", std::to_string(i), 1, i, i, 0, 0};
                    ImageScan scan;
                    scan.size = i;
                    cache.store(key, scan);
                    const std::optional<ImageScan> kept = cache.lookup(key);
                    EXPECT_TRUE(!kept || kept->size == i) << "a row came back torn";
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(first.problem() + second.problem(), "");
    first.flush();
    second.flush();
    EXPECT_EQ(RawDatabase(cacheFile()).integer("SELECT count(*) FROM scans"), 6 + 50);
}

} // namespace

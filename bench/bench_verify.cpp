// Verifying an image, as far as the hash cache takes it: an image never seen
// (hashed in parallel, then stored) against reading it and computing the four
// hashes one after another on one thread; and an image seen before (one stat
// and one lookup among 10,000 rows) against a bare stat plus one prepared
// SQLite primary-key lookup.
#include "benchsupport.h"
#include "hashbaseline.h"

#include "hashcache/hashcache.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <vector>

namespace kelvo::bench {

namespace {

// Fresh files are kept at once, so every cold pass pays for its store.
HashCache::Options benchOptions() {
    HashCache::Options options;
    options.settleTime = std::chrono::nanoseconds(0);
    return options;
}

// The other side's connection to the same file: plain, as any program opens it.
class Database {
public:
    explicit Database(const std::string& file) { sqlite3_open(file.c_str(), &db_); }
    ~Database() { sqlite3_close(db_); }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    [[nodiscard]] sqlite3* get() const { return db_; }

private:
    sqlite3* db_ = nullptr;
};

void coldImage(benchmark::State& state) {
    const auto size = std::size_t(state.range(0));
    const ScratchDir dir("verify-cold");
    const std::string path = dir.file("Sample Game (Europe).gba");
    makeDumpLikeImage(path, size);
    HashCache cache(dir.file("hashes.sqlite3"), benchOptions());
    // Its reader connection is open, as in a program that has looked before.
    (void)cache.lookup(CacheKey{"/none", "", 0, 0, 0, 0, 0});
    const Database forget(cache.file());

    ImageScan scan;
    const auto ours = [&] {
        scan = scanImageCached(path, &cache, {}, HashThreads::Parallel);
        benchmark::DoNotOptimize(scan);
    };
    std::vector<std::uint8_t> buffer(kScanChunk);
    Digests digests;
    const auto baseline = [&] {
        digests = readAndHash(path, buffer);
        benchmark::DoNotOptimize(digests);
    };
    SideBySide clock;
    for (auto _ : state) {
        // Outside the clock: the image is not in the cache.
        sqlite3_exec(forget.get(), "DELETE FROM scans", nullptr, nullptr, nullptr);
        clock.run(state, ours, baseline);
    }
    clock.report(state);
    if (!digests.sameAs(scan) || scan.size != size)
        fail(state,
             "the cold pass's hashes differ from the baseline's: CRC32 " + digests.texts()[0]);
    if (!cache.lookup(cacheKey(path, [&] {
            struct stat info {};
            ::stat(path.c_str(), &info);
            return info;
        }())))
        fail(state, "the cold pass was not stored: " + cache.problem());
}

// 10,000 small images, all in the cache, kept for the whole run.
struct CachedCollection {
    explicit CachedCollection(std::int64_t n) : dir("verify-cached") {
        cache = std::make_unique<HashCache>(dir.file("hashes.sqlite3"), benchOptions());
        for (std::int64_t i = 0; i < n; ++i) {
            paths.push_back(dir.file(collectionName(std::size_t(i), ".gba")));
            writeImage(paths.back(), 4096);
            expected.push_back(scanImageCached(paths.back(), cache.get(), {}, HashThreads::One));
        }
    }
    ScratchDir dir;
    std::unique_ptr<HashCache> cache;
    std::vector<std::string> paths;
    std::vector<ImageScan> expected;
};

void cachedImage(benchmark::State& state) {
    static std::map<std::int64_t, std::unique_ptr<CachedCollection>> made;
    auto& collection = made[state.range(0)];
    if (!collection)
        collection = std::make_unique<CachedCollection>(state.range(0));
    HashCache& cache = *collection->cache;
    const std::vector<std::string>& paths = collection->paths;

    const Database database(cache.file());
    sqlite3_stmt* lookup = nullptr;
    sqlite3_prepare_v2(database.get(),
                       "SELECT device, inode, size, modified_ns, changed_ns, image_size, crc32, "
                       "md5, sha1, sha256, header, save_ids, last_byte, trailing_run, last_seen "
                       "FROM scans WHERE path = ?1 AND member = ?2",
                       -1, &lookup, nullptr);

    std::size_t next = 0;
    std::size_t wrong = 0;
    std::size_t missing = 0;
    const auto ours = [&] {
        const ImageScan scan = scanImageCached(paths[next], &cache, {}, HashThreads::Parallel);
        wrong += scan != collection->expected[next];
    };
    const auto baseline = [&] {
        struct stat info {};
        ::stat(paths[next].c_str(), &info);
        sqlite3_bind_blob(lookup, 1, paths[next].data(), int(paths[next].size()), SQLITE_STATIC);
        sqlite3_bind_blob(lookup, 2, "", 0, SQLITE_STATIC);
        if (sqlite3_step(lookup) == SQLITE_ROW) {
            // Each column as it is stored, so SQLite converts nothing.
            for (int column : {0, 1, 2, 3, 4, 5, 6, 12, 13, 14})
                benchmark::DoNotOptimize(sqlite3_column_int64(lookup, column));
            for (int column : {7, 8, 9, 10})
                benchmark::DoNotOptimize(sqlite3_column_blob(lookup, column));
            benchmark::DoNotOptimize(sqlite3_column_text(lookup, 11));
        } else {
            ++missing;
        }
        sqlite3_reset(lookup);
    };
    SideBySide clock;
    for (auto _ : state) {
        clock.run(state, ours, baseline);
        next = (next + 1) % paths.size();
    }
    clock.report(state);
    sqlite3_finalize(lookup);
    if (wrong > 0 || missing > 0)
        fail(state, std::to_string(wrong) + " cached answers differ from the pass, " +
                        std::to_string(missing) + " rows missing; " + cache.problem());
}

} // namespace

void registerVerifyBenchmarks() {
    auto* cold = benchmark::RegisterBenchmark("verify_image/cold", coldImage)
                     ->UseManualTime()
                     ->Unit(benchmark::kMillisecond);
    auto* cached = benchmark::RegisterBenchmark("verify_image/cached", cachedImage)
                       ->UseManualTime()
                       ->Unit(benchmark::kMicrosecond);
    if (smokeRun()) {
        cold->Arg(1 << 20);
        cached->Arg(100);
        return;
    }
    cold->Arg(32 << 20);
    cached->Arg(10000);
}

} // namespace kelvo::bench

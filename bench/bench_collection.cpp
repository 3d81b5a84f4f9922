// The collection check against bare baselines on the same number of
// threads: a cold check (nothing in the hash cache) against hashing the same
// files with the same four hash functions and save-type scan; a check of a
// collection the cache holds whole against a bare recursive stat walk plus
// one prepared SQLite lookup per file; and a check of the same images zipped
// against inflating each member with libzip and hashing it.
#include "benchsupport.h"
#include "hashbaseline.h"

#include "collection/check.h"
#include "romheader/imageinfo.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>

namespace kelvo::bench {

namespace {

unsigned workers() {
    return std::max(1u, std::thread::hardware_concurrency());
}

HashCache::Options benchOptions() {
    HashCache::Options options;
    options.settleTime = std::chrono::nanoseconds(0); // the files were just written
    return options;
}

// The four hashes and the save-type scan, fed chunk by chunk on one thread.
class BareHasher {
public:
    BareHasher() {
        const EVP_MD* types[] = {EVP_md5(), EVP_sha1(), EVP_sha256()};
        for (std::size_t i = 0; i < contexts_.size(); ++i) {
            contexts_[i] = EVP_MD_CTX_new();
            EVP_DigestInit_ex(contexts_[i], types[i], nullptr);
        }
    }
    ~BareHasher() {
        for (EVP_MD_CTX* context : contexts_)
            EVP_MD_CTX_free(context);
    }
    BareHasher(const BareHasher&) = delete;
    BareHasher& operator=(const BareHasher&) = delete;

    void update(const std::uint8_t* bytes, std::size_t length) {
        crc_ = ::crc32_z(crc_, bytes, length);
        for (EVP_MD_CTX* context : contexts_)
            EVP_DigestUpdate(context, bytes, length);
        findIds(std::span(bytes, length));
    }

    std::uint32_t finish() {
        findSaveIds(std::span(carry_).first(carried_), true, saveIds_);
        std::array<std::uint8_t, EVP_MAX_MD_SIZE> digest{};
        for (EVP_MD_CTX* context : contexts_)
            EVP_DigestFinal_ex(context, digest.data(), nullptr);
        return std::uint32_t(crc_);
    }

private:
    // The save-type scan in place, chunk by chunk: only the few bytes an ID
    // may run on in from the last chunk are copied (at most 12, and 16 of
    // the next chunk to meet them).
    void findIds(std::span<const std::uint8_t> chunk) {
        constexpr std::size_t kStitch = 16;
        std::span<const std::uint8_t> rest = chunk;
        if (carried_ > 0 || chunk.size() <= kStitch) {
            const std::size_t taken = std::min(chunk.size(), kStitch);
            std::copy_n(chunk.begin(), taken, carry_.begin() + long(carried_));
            const std::span<const std::uint8_t> stitch(carry_.data(), carried_ + taken);
            const std::size_t examined = findSaveIds(stitch, false, saveIds_);
            if (taken == chunk.size()) {
                carried_ = stitch.size() - examined;
                std::memmove(carry_.data(), carry_.data() + examined, carried_);
                return;
            }
            rest = chunk.subspan(examined - carried_);
        }
        const std::size_t examined = findSaveIds(rest, false, saveIds_);
        carried_ = rest.size() - examined;
        std::copy(rest.begin() + long(examined), rest.end(), carry_.begin());
    }

    std::array<EVP_MD_CTX*, 3> contexts_{};
    uLong crc_ = ::crc32(0L, Z_NULL, 0);
    std::array<std::uint8_t, 32> carry_{};
    std::size_t carried_ = 0;
    std::vector<std::string> saveIds_;
};

// `work(i)` for i in [0, count) on `threads` threads, each taking the next.
void onThreads(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& work) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            for (std::size_t i; (i = next++) < count;)
                work(i);
        });
    for (std::thread& thread : pool)
        thread.join();
}

// Runs a check to its end; returns its rows.
std::vector<CheckRow> runCheck(const std::string& directory, HashCache* cache) {
    CheckOptions options;
    options.paths = {directory};
    CollectionCheck check(options, {}, cache);
    std::vector<CheckRow> rows;
    for (bool finished = false; !finished;) {
        CheckBatch batch = check.takeWaiting(std::chrono::milliseconds(100));
        finished = batch.finished;
        std::move(batch.rows.begin(), batch.rows.end(), std::back_inserter(rows));
    }
    return rows;
}

void emptyCache(const HashCache& cache) {
    sqlite3* db = nullptr;
    sqlite3_open(cache.file().c_str(), &db);
    sqlite3_exec(db, "DELETE FROM scans", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

// `count` distinct dump-like images of `size` bytes, each marked with its number.
std::vector<std::string> makeImages(const ScratchDir& dir, std::int64_t count, std::size_t size) {
    std::vector<std::string> paths;
    for (std::int64_t i = 0; i < count; ++i) {
        paths.push_back(dir.file(collectionName(std::size_t(i), ".gba")));
        makeDumpLikeImage(paths.back(), size);
        std::fstream file(paths.back(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(kHeaderLength);
        file.write(reinterpret_cast<const char*>(&i), sizeof i);
    }
    return paths;
}

std::uint32_t hashFile(const std::string& path, std::vector<std::uint8_t>& buffer) {
    BareHasher hasher;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
        hasher.update(buffer.data(), std::size_t(n));
    ::close(fd);
    return hasher.finish();
}

struct Counts {
    std::int64_t images;
    std::size_t size;
};

Counts sizes(std::int64_t images) {
    return smokeRun() ? Counts{8, 256 << 10} : Counts{images, 4 << 20};
}

// The images (and their archives), made once for every run of the benchmarks.
struct Images {
    explicit Images(Counts counts)
        : dir("collection-images"), archivesDir("collection-archives"),
          paths(makeImages(dir, counts.images, counts.size)) {}
    ScratchDir dir;
    ScratchDir archivesDir;
    std::vector<std::string> paths;
    std::vector<std::string> archives; // made when first asked for
};

Images& imagesOf(Counts counts) {
    static std::map<std::pair<std::int64_t, std::size_t>, std::unique_ptr<Images>> made;
    auto& images = made[{counts.images, counts.size}];
    if (!images)
        images = std::make_unique<Images>(counts);
    return *images;
}

void coldCheck(benchmark::State& state, std::int64_t count) {
    Images& images = imagesOf(sizes(count));
    const std::vector<std::string>& paths = images.paths;
    const ScratchDir dir("collection-cold");
    HashCache cache(dir.file("hashes.sqlite3"), benchOptions());

    std::vector<CheckRow> rows;
    const auto ours = [&] { rows = runCheck(images.dir.path(), &cache); };
    std::vector<std::uint32_t> crcs(paths.size());
    const auto baseline = [&] {
        onThreads(paths.size(), workers(), [&](std::size_t i) {
            thread_local std::vector<std::uint8_t> buffer(kScanChunk);
            crcs[i] = hashFile(paths[i], buffer);
        });
    };
    SideBySide clock;
    for (auto _ : state) {
        emptyCache(cache); // outside the clock
        clock.run(state, ours, baseline);
    }
    clock.report(state);
    std::size_t wrong = rows.size() == paths.size() ? 0 : paths.size();
    for (const CheckRow& row : rows)
        wrong += !row.readable() || std::find(crcs.begin(), crcs.end(), row.crc32) == crcs.end();
    if (wrong > 0)
        fail(state, std::to_string(wrong) + " rows of the cold check differ from the baseline");
}

// The zip check's images: `images` of them, ten to an archive, deflated.
std::vector<std::string> makeArchives(const ScratchDir& dir,
                                      const std::vector<std::string>& images) {
    std::vector<std::string> archives;
    for (std::size_t first = 0; first < images.size(); first += 10) {
        archives.push_back(dir.file("set " + std::to_string(first / 10) + ".zip"));
        int error = 0;
        zip_t* archive = zip_open(archives.back().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        for (std::size_t i = first; i < std::min(images.size(), first + 10); ++i) {
            zip_source_t* source = zip_source_file(archive, images[i].c_str(), 0, -1);
            const zip_int64_t index =
                zip_file_add(archive, baseName(images[i]).c_str(), source, ZIP_FL_ENC_UTF_8);
            zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_DEFLATE, 6);
        }
        zip_close(archive);
    }
    return archives;
}

std::uint32_t inflateMembers(const std::string& path, std::vector<std::uint8_t>& buffer) {
    std::uint32_t all = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, nullptr);
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        BareHasher hasher;
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        for (zip_int64_t n; (n = zip_fread(file, buffer.data(), buffer.size())) > 0;)
            hasher.update(buffer.data(), std::size_t(n));
        zip_fclose(file);
        all ^= hasher.finish();
    }
    zip_discard(archive);
    return all;
}

void zipCheck(benchmark::State& state, std::int64_t count) {
    const Counts counts = sizes(count);
    Images& images = imagesOf(counts);
    if (images.archives.empty())
        images.archives = makeArchives(images.archivesDir, images.paths);
    const std::vector<std::string>& archives = images.archives;
    const ScratchDir dir("collection-zip");
    HashCache cache(dir.file("hashes.sqlite3"), benchOptions());

    std::vector<CheckRow> rows;
    const auto ours = [&] { rows = runCheck(images.archivesDir.path(), &cache); };
    std::vector<std::uint32_t> crcs(archives.size());
    const auto baseline = [&] {
        onThreads(archives.size(), workers(), [&](std::size_t i) {
            thread_local std::vector<std::uint8_t> buffer(kScanChunk);
            crcs[i] = inflateMembers(archives[i], buffer);
        });
    };
    SideBySide clock;
    for (auto _ : state) {
        emptyCache(cache);
        clock.run(state, ours, baseline);
    }
    clock.report(state);
    std::uint32_t all = 0;
    for (const CheckRow& row : rows)
        all ^= row.readable() && row.whole ? row.crc32 : 0x5A5A5A5A;
    std::uint32_t expected = 0;
    for (const std::uint32_t crc : crcs)
        expected ^= crc;
    if (rows.size() != std::size_t(counts.images) || all != expected)
        fail(state, "the zip check's " + std::to_string(rows.size()) +
                        " rows differ from the baseline's members");
}

// 10,000 small images in 100 directories, all in the cache, kept for the run.
struct CachedCollection {
    explicit CachedCollection(std::int64_t n) : dir("collection-cached") {
        root = dir.file("roms");
        ::mkdir(root.c_str(), 0755);
        for (std::int64_t i = 0; i < n; ++i) {
            const std::string sub = joinPath(root, "set " + std::to_string(i % 100));
            ::mkdir(sub.c_str(), 0755);
            writeImage(joinPath(sub, collectionName(std::size_t(i), ".gba")), 4096);
        }
        cache = std::make_unique<HashCache>(dir.file("hashes.sqlite3"), benchOptions());
        rows = runCheck(root, cache.get()).size();
    }
    ScratchDir dir;
    std::string root;
    std::unique_ptr<HashCache> cache;
    std::size_t rows = 0;
};

// The baseline's walk: readdir and one stat per entry, then the lookup.
void statWalk(const std::string& directory, sqlite3_stmt* lookup, std::size_t& found) {
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return;
    std::vector<std::string> subdirectories;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string path = joinPath(directory, entry->d_name);
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            subdirectories.push_back(path);
            continue;
        }
        sqlite3_bind_blob(lookup, 1, path.data(), int(path.size()), SQLITE_STATIC);
        sqlite3_bind_blob(lookup, 2, "", 0, SQLITE_STATIC);
        if (sqlite3_step(lookup) == SQLITE_ROW) {
            for (int column : {0, 1, 2, 3, 4, 5, 6, 12, 13, 14})
                benchmark::DoNotOptimize(sqlite3_column_int64(lookup, column));
            for (int column : {7, 8, 9, 10})
                benchmark::DoNotOptimize(sqlite3_column_blob(lookup, column));
            benchmark::DoNotOptimize(sqlite3_column_text(lookup, 11));
            ++found;
        }
        sqlite3_reset(lookup);
    }
    ::closedir(dir);
    for (const std::string& subdirectory : subdirectories)
        statWalk(subdirectory, lookup, found);
}

void cachedCheck(benchmark::State& state, std::int64_t count) {
    const std::int64_t n = smokeRun() ? 100 : count;
    static std::map<std::int64_t, std::unique_ptr<CachedCollection>> made;
    auto& collection = made[n];
    if (!collection)
        collection = std::make_unique<CachedCollection>(n);

    sqlite3* db = nullptr;
    sqlite3_open(collection->cache->file().c_str(), &db);
    sqlite3_stmt* lookup = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT device, inode, size, modified_ns, changed_ns, image_size, crc32, "
                       "md5, sha1, sha256, header, save_ids, last_byte, trailing_run, last_seen "
                       "FROM scans WHERE path = ?1 AND member = ?2",
                       -1, &lookup, nullptr);
    std::size_t rows = 0;
    std::size_t heapGrowth = 0;
    const auto ours = [&] {
        const std::size_t before = heapInUse();
        const std::vector<CheckRow> made = runCheck(collection->root, collection->cache.get());
        heapGrowth = heapInUse() - before;
        rows = made.size();
    };
    std::size_t found = 0;
    const auto baseline = [&] {
        found = 0;
        statWalk(collection->root, lookup, found);
    };
    SideBySide clock;
    for (auto _ : state)
        clock.run(state, ours, baseline);
    clock.report(state);
    // What the rows a window keeps cost, each.
    state.counters["bytes_per_row"] = rows > 0 ? double(heapGrowth) / double(rows) : 0;
    sqlite3_finalize(lookup);
    sqlite3_close(db);
    if (rows != std::size_t(n) || found != std::size_t(n) || collection->rows != std::size_t(n))
        fail(state, "the cached check gave " + std::to_string(rows) + " rows, the baseline found " +
                        std::to_string(found) + ", of " + std::to_string(n));
}

} // namespace

void registerCollectionBenchmarks() {
    auto* cold = benchmark::RegisterBenchmark("check_collection/cold/200x4MiB", coldCheck, 200);
    auto* cached =
        benchmark::RegisterBenchmark("check_collection/cached/10000", cachedCheck, 10000);
    auto* zipped = benchmark::RegisterBenchmark("check_collection/zip/200x4MiB", zipCheck, 200);
    for (auto* registered : {cold, cached, zipped})
        registered->UseManualTime()->Unit(benchmark::kMillisecond);
    // One iteration of the full sizes takes seconds: several, so that the
    // load of a shared machine falls on both sides alike.
    if (!smokeRun()) {
        cold->MinTime(10);
        zipped->MinTime(10);
    }
}

} // namespace kelvo::bench

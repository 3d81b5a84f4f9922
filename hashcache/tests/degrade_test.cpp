// A cache that cannot be used never stops an image being looked at: the
// pass still answers, and the cache says what is wrong, once.
#include "hashcache/tests/cache_support.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>

namespace {

using namespace kelvo;
using namespace kelvo::test;

// SQLite's Unix layer makes its system calls through a table a program may
// change: while this lives, opening `denied` fails with EACCES, as for a
// file the user may not read even when the tests run as root.
class DenyOpen {
public:
    explicit DenyOpen(std::string denied) {
        denied_ = std::move(denied);
        vfs()->xSetSystemCall(vfs(), "open", reinterpret_cast<sqlite3_syscall_ptr>(&open));
    }
    ~DenyOpen() { vfs()->xSetSystemCall(vfs(), "open", nullptr); } // back to the real one
    DenyOpen(const DenyOpen&) = delete;
    DenyOpen& operator=(const DenyOpen&) = delete;

private:
    static sqlite3_vfs* vfs() { return sqlite3_vfs_find(nullptr); }
    static int open(const char* path, int flags, int mode) {
        if (std::string_view(path).starts_with(denied_)) {
            errno = EACCES;
            return -1;
        }
        return ::open(path, flags, mode);
    }
    static inline std::string denied_;
};

class Degrades;

struct DegradeRow {
    const char* name;
    // Spoils the cache at `file` (or changes which file it is); what it
    // returns lives as long as the cache is used (a lock, a fault).
    std::function<std::shared_ptr<void>(Degrades& test, std::string& file)> spoil;
    const char* problem;       // in the sentence the cache gives
    bool lookups;              // whether the cache still answers
    bool stores;               // whether the pass was kept
    std::int64_t versionAfter; // the file's schema version after; 0: not looked at
};

class Degrades : public CacheTest, public ::testing::WithParamInterface<DegradeRow> {
public:
    using CacheTest::mountSmallTmpfs;
    using CacheTest::path;
};

TEST_P(Degrades, TheImageIsStillRead) {
    const DegradeRow& row = GetParam();
    const std::string image = writeImage("image.gba");
    std::string file = cacheFile();
    std::filesystem::create_directories(path("cache"));
    const std::shared_ptr<void> held = row.spoil(*this, file);
    if (IsSkipped())
        return;

    HashCache cache(file, fast());
    const ImageScan expected = scanImage(image);
    EXPECT_EQ(scanImageCached(image, &cache), expected);
    EXPECT_EQ(scanImageCached(image, &cache), expected);
    EXPECT_EQ(cache.active(), row.lookups);

    const std::optional<std::string> problem = cache.takeProblem();
    ASSERT_TRUE(problem) << "no problem reported";
    EXPECT_NE(problem->find(row.problem), std::string::npos) << *problem;
    EXPECT_EQ(cache.takeProblem(), std::nullopt) << "the problem was reported twice";
    EXPECT_EQ(cache.problem(), *problem);

    cache.flush();
    if (row.stores) {
        EXPECT_EQ(RawDatabase(file).integer("SELECT count(*) FROM scans"), 1);
    }
    if (row.versionAfter != 0) {
        EXPECT_EQ(RawDatabase(file).integer("PRAGMA user_version"), row.versionAfter);
    }
}

void makeCache(const std::string& file) {
    const HashCache made(file);
}

INSTANTIATE_TEST_SUITE_P(
    Caches, Degrades,
    ::testing::Values(DegradeRow{"unreadable",
                                 [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                                     makeCache(file);
                                     EXPECT_EQ(::chmod(file.c_str(), 0), 0);
                                     return std::make_shared<DenyOpen>(file);
                                 },
                                 "Permission denied", false, false, 0},
                      DegradeRow{"locked_by_another_program",
                                 [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                                     makeCache(file);
                                     auto locker = std::make_shared<RawDatabase>(file);
                                     locker->exec("BEGIN EXCLUSIVE; INSERT INTO counts VALUES (7)");
                                     return locker;
                                 },
                                 "locked by another program", true, false, 0},
                      DegradeRow{"locked_even_for_reading",
                                 [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                                     makeCache(file);
                                     auto locker = std::make_shared<RawDatabase>(file);
                                     locker->exec(
                                         "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                                         "INSERT INTO counts VALUES (7)");
                                     return locker;
                                 },
                                 "cannot be used (database is locked)", false, false, 0},
                      DegradeRow{"garbage_bytes",
                                 [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                                     writeFile(file, Bytes(8192, 0x5A));
                                     return nullptr;
                                 },
                                 "damaged (file is not a database) and has been started afresh",
                                 true, true, 1},
                      DegradeRow{"cache_directory_is_a_file",
                                 [](Degrades& test, std::string&) -> std::shared_ptr<void> {
                                     std::filesystem::remove(test.path("cache"));
                                     writeFile(test.path("cache"), Bytes(1));
                                     return nullptr;
                                 },
                                 "Not a directory", false, false, 0},
                      DegradeRow{"read_only_directory",
                                 [](Degrades& test, std::string&) -> std::shared_ptr<void> {
                                     if (::geteuid() != 0) {
                                         EXPECT_EQ(::chmod(test.path("cache").c_str(), 0500), 0);
                                         return nullptr;
                                     }
                                     // Root writes anywhere: a file system mounted read-only stops
                                     // it.
                                     const std::string mounted =
                                         test.mountSmallTmpfs("cache", 1 << 20);
                                     if (mounted.empty() ||
                                         ::mount("tmpfs", mounted.c_str(), "tmpfs",
                                                 MS_REMOUNT | MS_RDONLY, nullptr) != 0)
                                         [] {
                                             GTEST_SKIP()
                                                 << "no read-only file system can be mounted here";
                                         }();
                                     return nullptr;
                                 },
                                 "is not writable", false, false, 0},
                      DegradeRow{"made_by_a_newer_version",
                                 [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                                     makeCache(file);
                                     RawDatabase(file).exec("PRAGMA user_version = 99");
                                     return nullptr;
                                 },
                                 "belongs to a newer version", false, false, 99},
                      DegradeRow{
                          "made_by_an_older_version",
                          [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                              RawDatabase raw(file);
                              raw.exec("CREATE TABLE scans (path TEXT PRIMARY KEY, crc INTEGER)");
                              return nullptr;
                          },
                          "older version of Kelvo-GBA and has been started afresh", true, true, 1},
                      DegradeRow{"no_cache_directory",
                                 [](Degrades&, std::string& file) -> std::shared_ptr<void> {
                                     file.clear();
                                     return nullptr;
                                 },
                                 "neither $XDG_CACHE_HOME nor a home directory", false, false, 0}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

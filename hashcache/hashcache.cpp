// The hash cache's database. Threads look rows up through a pool of reader
// connections (one per thread looking up at that moment: WAL lets readers run
// side by side, where one shared connection made two threads slower than
// one), and store through one writer connection in group commits: a store
// queues its row, and unless another thread is already writing, writes every
// queued row in one transaction, then any that queued meanwhile. Pruning
// runs in those transactions, never in a lookup.
#include "hashcache/hashcache.h"

#include "hashcache/schema.h"
#include "hashcache/sqlite.h"
#include "romheader/xdg.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <system_error>

namespace kelvo {

namespace {

using namespace std::chrono;

// A lookup renews its row's last-seen time at most this often, so looking
// an unchanged collection over writes nothing on most days.
constexpr std::int64_t kRenewAfterSeconds = 24 * 60 * 60;
// Renewals wait for this many before they are written (or for a store).
constexpr std::size_t kRenewBatch = 256;

std::int64_t nowSeconds() {
    return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isDamage(int code) {
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

bool isLock(int code) {
    return code == SQLITE_BUSY || code == SQLITE_LOCKED;
}

struct Reader {
    Reader(const std::string& file, milliseconds busyTimeout)
        : connection(file, SQLITE_OPEN_READWRITE, busyTimeout),
          lookup(connection.get(), schema::kLookup) {}
    sqlite::Connection connection;
    sqlite::Statement lookup;
};

// A row to write: a whole scan, or (without one) a new last-seen time.
struct Pending {
    CacheKey key;
    std::optional<ImageScan> scan;
    std::int64_t seen = 0;
};

} // namespace

struct HashCache::Impl {
    Impl(std::string fileNamed, const Options& optionsGiven)
        : file(std::move(fileNamed)), options(optionsGiven) {}

    std::string file;
    Options options;
    std::atomic<bool> readable{false};
    std::atomic<bool> writable{false};

    mutable std::mutex problemMutex;
    std::string problem;
    bool problemTaken = false;

    std::mutex poolMutex;
    std::vector<std::unique_ptr<Reader>> idleReaders;

    std::mutex queueMutex;
    std::vector<Pending> pending;
    bool writing = false; // a thread is writing the queue; only it touches `writer`
    std::unique_ptr<schema::Writer> writer;

    void setProblem(std::string text) {
        const std::lock_guard lock(problemMutex);
        if (text != problem) {
            problem = std::move(text);
            problemTaken = false;
        }
    }

    [[nodiscard]] std::string quoted() const { return "\"" + file + "\""; }
    [[nodiscard]] std::string offText(const std::string& reason) const {
        return "The hash cache " + quoted() + " cannot be used (" + reason +
               "): images are read again each time.";
    }

    void open();
    [[nodiscard]] std::string openFailure(const sqlite::Error& error) const;
    void removeFiles() const;
    void failed(const sqlite::Error& error, bool looking);

    std::unique_ptr<Reader> takeReader();
    void giveBack(std::unique_ptr<Reader> reader);

    void enqueue(Pending row, bool writeNow);
    void writeQueue();
    void writeBatch(const std::vector<Pending>& batch);
};

// SQLite names the errno of its last try (a read-only open, after the
// read-write one failed); for a file that could not be created, the
// directory says why.
std::string HashCache::Impl::openFailure(const sqlite::Error& error) const {
    const std::string directory = parentOf(file);
    if (error.code() == SQLITE_CANTOPEN && ::access(file.c_str(), F_OK) != 0 && errno == ENOENT &&
        ::access(directory.c_str(), W_OK) != 0)
        return "the directory \"" + directory +
               "\" is not writable: " + std::generic_category().message(errno);
    return error.what();
}

void HashCache::Impl::removeFiles() const {
    for (const char* suffix : {"", "-wal", "-shm"})
        ::unlink((file + suffix).c_str());
}

// Opens the writer (which creates the file and its tables), once more from
// scratch if the file is damaged. Readers open as threads need them.
void HashCache::Impl::open() {
    if (file.empty()) {
        setProblem("The hash cache cannot be used (neither $XDG_CACHE_HOME nor a home directory "
                   "is known): images are read again each time.");
        return;
    }
    try {
        makeDirectories(parentOf(file));
    } catch (const FileError& error) {
        setProblem(offText(error.what()));
        return;
    }
    schema::Outcome outcome{};
    try {
        try {
            writer = std::make_unique<schema::Writer>(file, options.busyTimeout, outcome);
        } catch (const sqlite::Error& error) {
            if (!isDamage(error.code()))
                throw;
            writer.reset();
            removeFiles();
            writer = std::make_unique<schema::Writer>(file, options.busyTimeout, outcome);
            setProblem("The hash cache " + quoted() + " was damaged (" + error.what() +
                       ") and has been started afresh.");
        }
    } catch (const sqlite::Error& error) {
        writer.reset();
        setProblem(offText(openFailure(error)));
        return;
    }
    if (outcome == schema::Outcome::Newer) {
        writer.reset();
        setProblem("The hash cache " + quoted() +
                   " belongs to a newer version of Kelvo-GBA: images are read again each time.");
        return;
    }
    if (outcome == schema::Outcome::Rebuilt)
        setProblem("The hash cache " + quoted() +
                   " was made by an older version of Kelvo-GBA and has been started afresh.");
    readable = true;
    writable = true;
}

// A failure after opening: a lock another program keeps on writing stops
// the stores (lookups go on; they wait for no writer); anything else, a lock
// that stops lookups too included, turns the cache off, and a damaged file
// is removed so the next start begins afresh.
void HashCache::Impl::failed(const sqlite::Error& error, bool looking) {
    if (isLock(error.code()) && !looking) {
        writable = false;
        setProblem("The hash cache " + quoted() + " is locked by another program (" + error.what() +
                   "): new hashes are not kept.");
        return;
    }
    readable = false;
    writable = false;
    if (isDamage(error.code())) {
        removeFiles();
        setProblem("The hash cache " + quoted() + " is damaged (" + error.what() +
                   "): it is left unused and will be started afresh next time.");
        return;
    }
    setProblem(offText(error.what()));
}

std::unique_ptr<Reader> HashCache::Impl::takeReader() {
    {
        const std::lock_guard lock(poolMutex);
        if (!idleReaders.empty()) {
            std::unique_ptr<Reader> reader = std::move(idleReaders.back());
            idleReaders.pop_back();
            return reader;
        }
    }
    return std::make_unique<Reader>(file, options.busyTimeout);
}

void HashCache::Impl::giveBack(std::unique_ptr<Reader> reader) {
    const std::lock_guard lock(poolMutex);
    if (readable)
        idleReaders.push_back(std::move(reader));
}

void HashCache::Impl::enqueue(Pending row, bool writeNow) {
    {
        const std::lock_guard lock(queueMutex);
        pending.push_back(std::move(row));
        if (writing || (!writeNow && pending.size() < kRenewBatch))
            return;
        writing = true;
    }
    writeQueue();
}

// Run by the one thread that set `writing`: writes batches until the queue
// stays empty, so no row is left behind when it stops.
void HashCache::Impl::writeQueue() {
    for (;;) {
        std::vector<Pending> batch;
        {
            const std::lock_guard lock(queueMutex);
            batch.swap(pending);
            if (batch.empty()) {
                writing = false;
                return;
            }
        }
        if (writable)
            writeBatch(batch);
    }
}

void HashCache::Impl::writeBatch(const std::vector<Pending>& batch) {
    try {
        schema::Transaction transaction(*writer);
        for (const Pending& row : batch) {
            if (row.scan)
                writer->upsert(row.key, *row.scan, row.seen);
            else
                writer->renew(row.key, row.seen);
        }
        writer->prune(nowSeconds() - options.maxAge.count(), options.maxRows);
        transaction.commit();
    } catch (const sqlite::Error& error) {
        failed(error, false);
    }
}

std::string HashCache::defaultFile() {
    const std::string directory = cacheDirectory();
    return directory.empty() ? std::string() : directory + "/hashes.sqlite3";
}

HashCache::HashCache(const std::string& file) : HashCache(file, Options{}) {}

HashCache::HashCache(const std::string& file, const Options& options)
    : impl_(std::make_unique<Impl>(file, options)) {
    impl_->open();
}

HashCache::~HashCache() {
    flush();
}

const std::string& HashCache::file() const {
    return impl_->file;
}

const HashCache::Options& HashCache::options() const {
    return impl_->options;
}

bool HashCache::active() const {
    return impl_->readable;
}

std::optional<ImageScan> HashCache::lookup(const CacheKey& key) {
    Impl& impl = *impl_;
    if (!impl.readable)
        return std::nullopt;
    try {
        std::unique_ptr<Reader> reader = impl.takeReader();
        std::int64_t seen = 0;
        std::optional<ImageScan> kept = schema::readRow(reader->lookup, key, seen);
        impl.giveBack(std::move(reader));
        if (kept && impl.writable && nowSeconds() - seen >= kRenewAfterSeconds)
            impl.enqueue(Pending{key, std::nullopt, nowSeconds()}, false);
        return kept;
    } catch (const sqlite::Error& error) {
        impl.failed(error, true);
        return std::nullopt;
    }
}

void HashCache::store(const CacheKey& key, const ImageScan& scan) {
    if (impl_->writable)
        impl_->enqueue(Pending{key, scan, nowSeconds()}, true);
}

bool HashCache::storeIfUnchanged(const CacheKey& key, const ImageScan& scan,
                                 const struct stat& after, system_clock::time_point readStarted) {
    CacheKey now = cacheKey({}, after);
    now.path = key.path;
    now.member = key.member;
    const std::int64_t started = duration_cast<nanoseconds>(readStarted.time_since_epoch()).count();
    const std::int64_t lastChange = std::max(key.modifiedNs, key.changedNs);
    if (now != key || started - lastChange < impl_->options.settleTime.count())
        return false;
    store(key, scan);
    return true;
}

void HashCache::flush() {
    {
        const std::lock_guard lock(impl_->queueMutex);
        if (impl_->writing || impl_->pending.empty())
            return;
        impl_->writing = true;
    }
    impl_->writeQueue();
}

std::string HashCache::problem() const {
    const std::lock_guard lock(impl_->problemMutex);
    return impl_->problem;
}

std::optional<std::string> HashCache::takeProblem() {
    const std::lock_guard lock(impl_->problemMutex);
    if (impl_->problem.empty() || impl_->problemTaken)
        return std::nullopt;
    impl_->problemTaken = true;
    return impl_->problem;
}

} // namespace kelvo

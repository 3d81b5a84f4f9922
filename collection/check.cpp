// The check's threads: one walks, the others (one per core) each take a
// whole file from the walk's queue, check it, and hand its rows to the
// consumer's queue.
#include "collection/check.h"

#include "collection/scan.h"
#include "collection/walk.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace kelvo {

namespace {

// Linux gives each thread its own nice value: this one's alone is raised.
// Failing to lower it changes nothing but the order threads are served in.
void lowerThisThread() {
    constexpr int kSteps = 10;
    const auto self = id_t(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        (void)::setpriority(PRIO_PROCESS, self, std::min(now + kSteps, 19));
}

// More threads than this only wait on the disk together.
constexpr unsigned kMaxThreads = 64;

unsigned threadCount(unsigned asked) {
    if (asked == 0)
        asked = std::max(1u, std::thread::hardware_concurrency());
    return std::min(asked, kMaxThreads);
}

std::uint64_t bytesOf(const WalkItem& item) {
    return item.kind == WalkItem::Kind::Failure ? 0 : std::uint64_t(item.info.st_size);
}

} // namespace

struct CollectionCheck::Impl {
    Impl(CheckOptions optionsGiven, ListSet listsGiven, HashCache* cacheGiven)
        : options(std::move(optionsGiven)), lists(std::move(listsGiven)), cache(cacheGiven) {}

    CheckOptions options;
    ListSet lists;
    HashCache* cache;
    std::atomic<bool> stop{false};

    // The walk's finds, waiting for a worker.
    std::mutex workMutex;
    std::condition_variable workReady;
    std::deque<WalkItem> work;
    bool walkDone = false;

    // What the consumer takes.
    mutable std::mutex rowMutex;
    std::condition_variable rowsReady;
    std::vector<CheckRow> rows;
    std::vector<std::uint64_t> filesDone;
    bool finished = false;
    bool told = false; // rowsWaiting was called since the last take
    unsigned alive = 0;

    std::atomic<std::uint64_t> filesTotal{0};
    std::atomic<std::uint64_t> bytesTotal{0};
    std::atomic<std::uint64_t> filesFinished{0};
    std::atomic<std::uint64_t> bytesDone{0};
    std::atomic<bool> counting{true};

    std::vector<std::thread> threads;

    // Runs `add` on the consumer's queue and wakes the consumer if it was
    // waiting for something.
    template <typename Add> void hand(Add&& add) {
        bool tell = false;
        {
            const std::lock_guard lock(rowMutex);
            add();
            tell = !told;
            told = true;
        }
        if (tell) {
            rowsReady.notify_all();
            if (options.rowsWaiting)
                options.rowsWaiting();
        }
    }

    void threadEnded() {
        bool last = false;
        {
            const std::lock_guard lock(rowMutex);
            last = --alive == 0;
        }
        if (last) {
            hand([this] { finished = true; });
            rowsReady.notify_all(); // whether or not rows wait untaken
        }
    }

    void walk() {
        WalkOptions walkOptions;
        walkOptions.recursive = options.recursive;
        walkOptions.stop = [this] { return stop.load(std::memory_order_relaxed); };
        walkCollection(options.paths, walkOptions, [this](WalkItem&& item) {
            filesTotal.fetch_add(1, std::memory_order_relaxed);
            bytesTotal.fetch_add(bytesOf(item), std::memory_order_relaxed);
            {
                const std::lock_guard lock(workMutex);
                work.push_back(std::move(item));
            }
            workReady.notify_one();
        });
        {
            const std::lock_guard lock(workMutex);
            walkDone = true;
        }
        counting = false;
        workReady.notify_all();
    }

    bool next(WalkItem& item) {
        std::unique_lock lock(workMutex);
        workReady.wait(lock, [this] { return stop || walkDone || !work.empty(); });
        if (stop || work.empty())
            return false;
        item = std::move(work.front());
        work.pop_front();
        return true;
    }

    void checkOne(const WalkItem& item) {
        // The file's bytes count once, as far as the walk found it long,
        // whatever it holds by the time it is read.
        const std::uint64_t expected = bytesOf(item);
        std::uint64_t counted = 0;
        ScanSettings settings;
        settings.lists = &lists;
        settings.cache = cache;
        settings.trustArchiveChecksums = options.trustArchiveChecksums;
        settings.stopped = [this] { return stop.load(std::memory_order_relaxed); };
        settings.bytesRead = [&](std::uint64_t bytes) {
            const std::uint64_t add = std::min(bytes, expected - counted);
            counted += add;
            bytesDone.fetch_add(add, std::memory_order_relaxed);
        };
        const auto sink = [this](CheckRow&& row) { hand([&] { rows.push_back(std::move(row)); }); };
        try {
            checkItem(item, settings, sink);
        } catch (const FileError& error) {
            if (error.kind() == FileError::Kind::Cancelled)
                return;
            CheckRow row;
            row.fileIndex = item.index;
            row.root = item.root;
            row.file = item.relative;
            row.path = item.path;
            row.failure = RowFailure{error.what(), false};
            sink(std::move(row));
        } catch (const std::exception& error) {
            // Out of memory or threads: this file fails, the check goes on.
            CheckRow row;
            row.fileIndex = item.index;
            row.root = item.root;
            row.file = item.relative;
            row.path = item.path;
            row.failure = RowFailure{std::string("unreadable: ") + error.what(), false};
            sink(std::move(row));
        }
        bytesDone.fetch_add(expected - counted, std::memory_order_relaxed);
        filesFinished.fetch_add(1, std::memory_order_relaxed);
        hand([&] { filesDone.push_back(item.index); });
    }

    void runWorker() {
        WalkItem item;
        while (next(item))
            checkOne(item);
    }

    void start() {
        const unsigned workers = threadCount(options.threads);
        alive = workers + 1;
        unsigned started = 0;
        try {
            threads.emplace_back([this] {
                if (options.background)
                    lowerThisThread();
                walk();
                threadEnded();
            });
            ++started;
            for (unsigned i = 0; i < workers; ++i) {
                threads.emplace_back([this] {
                    if (options.background)
                        lowerThisThread();
                    runWorker();
                    threadEnded();
                });
                ++started;
            }
        } catch (const std::system_error&) {
            if (started < 2) { // no worker to check anything
                halt();
                join();
                throw;
            }
            // Fewer workers than asked for still finish the check.
            bool none = false;
            {
                const std::lock_guard lock(rowMutex);
                alive -= workers + 1 - started;
                none = alive == 0;
            }
            if (none)
                hand([this] { finished = true; });
        }
    }

    void halt() {
        stop = true;
        {
            // A worker between testing `stop` and waiting holds the lock:
            // taking it here means the wake-up below cannot pass it by.
            const std::lock_guard lock(workMutex);
        }
        workReady.notify_all();
    }

    void join() {
        for (std::thread& thread : threads) {
            if (thread.joinable())
                thread.join();
        }
    }
};

CollectionCheck::CollectionCheck(CheckOptions options, ListSet lists, HashCache* cache)
    : impl_(std::make_unique<Impl>(std::move(options), std::move(lists), cache)) {
    impl_->start();
}

CollectionCheck::~CollectionCheck() {
    impl_->halt();
    impl_->join();
}

CheckBatch CollectionCheck::take() {
    Impl& impl = *impl_;
    CheckBatch batch;
    const std::lock_guard lock(impl.rowMutex);
    batch.rows.swap(impl.rows);
    batch.filesDone.swap(impl.filesDone);
    batch.finished = impl.finished;
    impl.told = false;
    return batch;
}

CheckBatch CollectionCheck::takeWaiting(std::chrono::milliseconds timeout) {
    Impl& impl = *impl_;
    {
        std::unique_lock lock(impl.rowMutex);
        impl.rowsReady.wait_for(lock, timeout, [&impl] {
            return !impl.rows.empty() || !impl.filesDone.empty() || impl.finished;
        });
    }
    return take();
}

CheckProgress CollectionCheck::progress() const {
    const Impl& impl = *impl_;
    CheckProgress progress;
    {
        const std::lock_guard lock(impl.rowMutex);
        progress.finished = impl.finished;
    }
    progress.cancelled = impl.stop;
    progress.counting = impl.counting && !progress.finished;
    progress.filesDone = impl.filesFinished;
    progress.filesTotal = impl.filesTotal;
    progress.bytesDone = impl.bytesDone;
    progress.bytesTotal = impl.bytesTotal;
    return progress;
}

void CollectionCheck::cancel() {
    impl_->halt();
}

void CollectionCheck::wait() {
    impl_->join();
}

const CheckOptions& CollectionCheck::options() const {
    return impl_->options;
}

const ListSet& CollectionCheck::lists() const {
    return impl_->lists;
}

std::vector<CheckRow> RowOrder::add(CheckBatch&& batch) {
    for (CheckRow& row : batch.rows)
        waiting_[row.fileIndex].push_back(std::move(row));
    done_.insert(batch.filesDone.begin(), batch.filesDone.end());
    std::vector<CheckRow> ready;
    const auto handOn = [&ready](std::vector<CheckRow>& rows) {
        std::stable_sort(rows.begin(), rows.end(), [](const CheckRow& a, const CheckRow& b) {
            return a.memberIndex < b.memberIndex;
        });
        std::move(rows.begin(), rows.end(), std::back_inserter(ready));
    };
    while (!done_.empty() && *done_.begin() == next_) {
        done_.erase(done_.begin());
        if (const auto it = waiting_.find(next_); it != waiting_.end()) {
            handOn(it->second);
            waiting_.erase(it);
        }
        ++next_;
    }
    // A check that stopped leaves files undone: the rows made go out as they are.
    if (batch.finished) {
        for (auto& [file, rows] : waiting_)
            handOn(rows);
        waiting_.clear();
    }
    return ready;
}

} // namespace kelvo

// The collection check: a directory tree (or a file, or an archive) walked
// and every image in it checked on a pool of worker threads, one per core,
// each taking whole files. Rows reach the consumer (the window's thread, or
// the command line) through one thread-safe queue, in batches; the consumer
// only receives them and never waits on a file.
//
// The walk runs on a thread of its own ahead of the workers, so the totals
// (files and bytes) are known early and grow until the walk ends.
//
//     CollectionCheck check(options, lists, &cache);  // starts at once
//     ... on a timer, or when options.rowsWaiting says so:
//     CheckBatch batch = check.take();                 // never blocks
//     CheckProgress progress = check.progress();
//     ... check.cancel() stops at once; the rows done so far stay taken.
#pragma once

#include "collection/row.h"

#include "checksumlists/match.h"
#include "hashcache/hashcache.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kelvo {

struct CheckOptions {
    // Directories, image files or .zip archives; a window checks one.
    std::vector<std::string> paths;
    // "Include subdirectories": false checks a directory's own files only.
    bool recursive = true;
    // "Trust archive checksums" (see ScanSettings).
    bool trustArchiveChecksums = false;
    // Worker threads; 0 means one per core.
    unsigned threads = 0;
    // Called from a worker (or the walk) when rows, or the end, arrive for a
    // take() that would have found nothing: at most once between two takes,
    // so a window can post itself one event and drain the queue then. Must
    // not call back into the check.
    std::function<void()> rowsWaiting;
    // The walk and the workers run at a lower priority than the thread that
    // started them (ten nice steps), so a window's thread, which only
    // receives rows, is served at once while every core hashes.
    bool background = false;
};

struct CheckProgress {
    std::uint64_t filesDone = 0; // files (an archive is one) with all their rows made
    std::uint64_t filesTotal = 0;
    std::uint64_t bytesDone = 0; // bytes of those files on disk
    std::uint64_t bytesTotal = 0;
    bool counting = true;  // the walk goes on: the totals may still grow
    bool finished = false; // every row is made (or the check was cancelled)
    bool cancelled = false;
};

struct CheckBatch {
    std::vector<CheckRow> rows; // in the order they were made
    // The walk's indexes (CheckRow::fileIndex) of the files whose rows are
    // all made by now, this batch's included: for a consumer that shows
    // rows in the walk's order (see RowOrder).
    std::vector<std::uint64_t> filesDone;
    bool finished = false; // nothing will follow
};

class CollectionCheck {
public:
    // Starts the check. `lists` is matched against from the workers (a
    // ListSet never changes); `cache` may be null, and must outlive the
    // check. Lists still loading are the caller's to wait for.
    CollectionCheck(CheckOptions options, ListSet lists, HashCache* cache);
    // Cancels what is left and waits for the threads.
    ~CollectionCheck();
    CollectionCheck(const CollectionCheck&) = delete;
    CollectionCheck& operator=(const CollectionCheck&) = delete;

    // The rows made since the last take; never blocks.
    [[nodiscard]] CheckBatch take();
    // The same, waiting up to `timeout` for a row or the end (for a
    // consumer without an event loop).
    [[nodiscard]] CheckBatch takeWaiting(std::chrono::milliseconds timeout);
    [[nodiscard]] CheckProgress progress() const;

    // Stops the walk and every worker at their next chunk (a few hundred
    // kilobytes at most); rows made stay for take(). Returns at once.
    void cancel();
    // Blocks until the check has finished or stopped.
    void wait();

    [[nodiscard]] const CheckOptions& options() const;
    [[nodiscard]] const ListSet& lists() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Puts rows that arrive in any order back in the walk's order: a file's
// rows are handed on once every file the walk found before it is done.
class RowOrder {
public:
    // Takes a batch; returns the rows that are now next in order.
    [[nodiscard]] std::vector<CheckRow> add(CheckBatch&& batch);

private:
    std::uint64_t next_ = 0;
    std::map<std::uint64_t, std::vector<CheckRow>> waiting_; // by file
    std::set<std::uint64_t> done_;
};

} // namespace kelvo

// The process's one hash cache, opened the first time a worker needs it
// rather than at start-up: opening SQLite (and waiting for another program's
// lock on it) is no work for the window's thread.
//
// Plain C++. Held through std::shared_ptr by whoever hashes, so the cache
// outlives every job still using it.
#pragma once

#include "hashcache/hashcache.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace kelvo {

class SharedCache {
public:
    // `file` as HashCache takes it; nothing is opened yet.
    explicit SharedCache(std::string file = HashCache::defaultFile());

    // The cache, opened by the first call from any thread; a call while
    // another thread opens it waits for that. For worker threads.
    [[nodiscard]] HashCache& open();
    // The cache when it is open already, else nullptr; never waits.
    [[nodiscard]] HashCache* ifOpen() const { return ready_.load(std::memory_order_acquire); }

    [[nodiscard]] const std::string& file() const { return file_; }

private:
    std::string file_;
    std::once_flag once_;
    std::unique_ptr<HashCache> cache_;
    std::atomic<HashCache*> ready_{nullptr};
};

} // namespace kelvo

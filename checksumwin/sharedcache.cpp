#include "checksumwin/sharedcache.h"

namespace kelvo {

SharedCache::SharedCache(std::string file) : file_(std::move(file)) {}

HashCache& SharedCache::open() {
    std::call_once(once_, [this] {
        cache_ = std::make_unique<HashCache>(file_);
        ready_.store(cache_.get(), std::memory_order_release);
    });
    return *cache_;
}

} // namespace kelvo

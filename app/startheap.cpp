#include "app/startheap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace kelvo {

void prepareStartHeap(std::size_t bytes) {
    constexpr int kLargestHeapBlock = 4 << 20;
    ::mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    ::mallopt(M_TRIM_THRESHOLD, 2 * kLargestHeapBlock);

    void* block = std::malloc(bytes);
    if (block == nullptr)
        return;
    // The whole pages inside the block; the heap's bookkeeping at its edges
    // is already resident.
    const auto page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const auto start = (std::uintptr_t(block) + page - 1) & ~(page - 1);
    const auto end = (std::uintptr_t(block) + bytes) & ~(page - 1);
    if (end > start)
        (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_POPULATE_WRITE);
    std::free(block);
}

} // namespace kelvo

// The heap the window's start is about to use, made ready in one system call.
//
// Building and first painting the header window touches about 2 MiB of fresh
// heap: the widgets, the text layouts, the glyph caches and the window's
// backing store. Each 4 KiB page of it would otherwise arrive through a page
// fault of its own, and where faults are dear (a virtual machine) those five
// hundred faults cost more than drawing the window.
#pragma once

#include <cstddef>

namespace kelvo {

// What the header window's start takes at scale 1.
inline constexpr std::size_t kStartHeapBytes = std::size_t(2) << 20;

// Grows the heap by `bytes`, faulted in at once where the kernel can
// (MADV_POPULATE_WRITE, Linux 5.14), and leaves it free for what follows.
// Blocks below 4 MiB, the backing store among them, then come from the heap
// rather than from mappings of their own, and up to 8 MiB of free heap is
// kept for reuse: where glibc's own thresholds settle once a 4 MiB block has
// been freed. Where the kernel cannot populate, the pages are left to fault
// in as they are used, and nothing is touched that would not have been.
void prepareStartHeap(std::size_t bytes = kStartHeapBytes);

} // namespace kelvo

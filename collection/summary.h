// The summary line under the check's table: how many images, how they
// stand against the lists, and what needs attention, in one sentence.
#pragma once

#include "collection/row.h"

#include <cstdint>
#include <span>
#include <string>

namespace kelvo {

struct CheckSummary {
    std::uint64_t images = 0; // readable rows; unreadable ones count as unreadable only
    std::uint64_t verified = 0;
    std::uint64_t good = 0;
    std::uint64_t badDumps = 0;
    std::uint64_t trimmed = 0;
    std::uint64_t notListed = 0;
    std::uint64_t headersToRepair = 0; // the fixed value or the check byte is wrong
    // Rows whose SHA-1 an earlier row already has (rows without a SHA-1,
    // trusted archive members, are never duplicates).
    std::uint64_t duplicates = 0;
    std::uint64_t unreadable = 0;
    bool listsLoaded = false; // the list counts are shown

    bool operator==(const CheckSummary&) const = default;
};

// `listsLoaded`: whether any list was configured for the check.
[[nodiscard]] CheckSummary summarize(std::span<const CheckRow> rows, bool listsLoaded);

// "214 images: 190 verified, 3 good, 2 bad dumps, 1 trimmed, 18 not in the
// loaded lists; 5 headers to repair; 4 duplicates; 1 unreadable." Counts of
// zero are left out and one is singular ("1 bad dump"); the list counts
// follow the colon only when lists are loaded. With no image at all:
// "No images found." or, when every row was unreadable, "No readable
// images; 2 unreadable."
[[nodiscard]] std::string summaryText(const CheckSummary& summary);

} // namespace kelvo

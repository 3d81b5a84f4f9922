// What the program shows of an image's standing in the checksum lists
// beside its other details: the three rows Image Details ends with, and the
// words scripts read for a status. The header window's Image Details and the
// command line's info build their rows here, so both say the same.
#pragma once

#include "checksumlists/match.h"
#include "romheader/imageinfo.h"

#include <string_view>
#include <vector>

namespace kelvo {

// The List status row's value when no list could be loaded.
inline constexpr std::string_view kNoListsLoaded = "No lists loaded";

// The rows that follow Padding while at least one list is configured (with
// none configured they are not shown at all), from what matchImage found:
//   List status  the first match's status (statusText), "Not in the loaded
//                lists" with no match, or "No lists loaded" when
//                `listsLoaded` is false (every configured list failed)
//   List name    the first match's rom name, the one Rename To List Name
//                gives, e.g. "2048 (World) (GBA Jam 2024) (Aftermarket) (Unl).gba"
//   List         its list's label: "Nintendo - Game Boy Advance 20260801-000000"
// Without a match the last two are empty.
[[nodiscard]] std::vector<DetailRow> listDetailRows(const std::vector<ListMatch>& matches,
                                                    bool listsLoaded);

// A status as scripts read it, one word in lower case: "verified", "good",
// "trimmed", "baddump", "unknown" (not in the loaded lists).
[[nodiscard]] std::string_view statusWord(ListStatus status);

} // namespace kelvo

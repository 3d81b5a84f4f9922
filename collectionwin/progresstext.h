// What the progress line says while a collection check runs: files and
// bytes done, the speed and the time left. Plain C++, so it is checked with
// figures alone.
#pragma once

#include "collection/check.h"

#include <string>

namespace kelvo {

// "12 of 200 files, 48.0 of 800.0 MB, 310.5 MB/s, 3 s left". While the walk
// still counts, the totals may grow and no time left is guessed: "12 of 40
// files so far, 48.0 of 160.0 MB, 310.5 MB/s". The speed appears once some
// time has passed and some bytes are done. MB are millions of bytes.
[[nodiscard]] std::string progressText(const CheckProgress& progress, double elapsedSeconds);

// "45 s", "3 min 5 s", "2 h 7 min"; under a second is "1 s".
[[nodiscard]] std::string durationText(double seconds);

} // namespace kelvo

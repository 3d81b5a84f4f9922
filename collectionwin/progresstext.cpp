#include "collectionwin/progresstext.h"

#include <cmath>
#include <cstdio>

namespace kelvo {

namespace {

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", double(bytes) / 1e6);
    return text;
}

} // namespace

std::string durationText(double seconds) {
    const auto whole = std::uint64_t(std::max(1.0, std::ceil(seconds)));
    if (whole < 60)
        return std::to_string(whole) + " s";
    if (whole < 3600) {
        const std::uint64_t rest = whole % 60;
        return std::to_string(whole / 60) + " min" +
               (rest ? " " + std::to_string(rest) + " s" : std::string());
    }
    const std::uint64_t minutes = whole % 3600 / 60;
    return std::to_string(whole / 3600) + " h" +
           (minutes ? " " + std::to_string(minutes) + " min" : std::string());
}

std::string progressText(const CheckProgress& progress, double elapsedSeconds) {
    std::string text =
        std::to_string(progress.filesDone) + " of " + std::to_string(progress.filesTotal) +
        (progress.filesTotal == 1 ? " file" : " files") + (progress.counting ? " so far, " : ", ") +
        megabytes(progress.bytesDone) + " of " + megabytes(progress.bytesTotal) + " MB";
    if (elapsedSeconds <= 0 || progress.bytesDone == 0)
        return text;
    const double rate = double(progress.bytesDone) / elapsedSeconds;
    char speed[32];
    std::snprintf(speed, sizeof speed, ", %.1f MB/s", rate / 1e6);
    text += speed;
    if (!progress.counting && progress.bytesTotal > progress.bytesDone)
        text +=
            ", " + durationText(double(progress.bytesTotal - progress.bytesDone) / rate) + " left";
    return text;
}

} // namespace kelvo

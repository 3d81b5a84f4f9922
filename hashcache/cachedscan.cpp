// The whole-file pass through the cache: one stat answers an unchanged
// file; anything else is opened once and scanned from that descriptor.
#include "hashcache/hashcache.h"

#include "romheader/imageinfo.h"
#include "romheader/posixio.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace kelvo {

namespace {

std::int64_t nanoseconds(const struct timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

// The key of the regular file `path` names now, if it names one. A plain
// stat is enough for an answer from the cache: any change to the file,
// its permissions included, changes the key.
std::optional<CacheKey> currentKey(const std::string& path, HashCache* cache) {
    struct stat info {};
    if (!cache || !cache->active() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return cacheKey(path, info);
}

void reportDone(const Progress& progress, std::uint64_t size) {
    if (progress)
        (void)progress(size, size); // the answer is there: nothing left to cancel
}

// What a scan from `fd` needs for storing it afterwards.
struct OpenImage {
    explicit OpenImage(const std::string& path)
        : fd(posix::openRegular(path, O_RDONLY, info)),
          readStarted(std::chrono::system_clock::now()), key(cacheKey(path, info)) {}

    // Stores each scan under its key if the file is as it was when opened.
    void keep(HashCache* cache, const std::vector<std::pair<CacheKey, const ImageScan*>>& scans) {
        struct stat after {};
        if (!cache || ::fstat(fd.get(), &after) != 0)
            return;
        for (const auto& [scanKey, scan] : scans)
            (void)cache->storeIfUnchanged(scanKey, *scan, after, readStarted);
    }

    struct stat info {};
    UniqueFd fd;
    std::chrono::system_clock::time_point readStarted;
    CacheKey key;
};

} // namespace

CacheKey cacheKey(std::string path, const struct stat& info, std::string member) {
    return {std::move(path),
            std::move(member),
            std::uint64_t(info.st_dev),
            std::uint64_t(info.st_ino),
            std::uint64_t(info.st_size),
            nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim)};
}

CacheKey paddedKey(const CacheKey& key, std::uint8_t padByte, std::uint64_t paddedSize) {
    // After a NUL, which no archive member's name holds.
    CacheKey padded = key;
    padded.member += '\0';
    padded.member += "padded with " + byteText(padByte) + " to " + std::to_string(paddedSize);
    return padded;
}

ImageScan scanImageCached(const std::string& path, HashCache* cache, const Progress& progress,
                          HashThreads threads) {
    if (const std::optional<CacheKey> key = currentKey(path, cache)) {
        if (std::optional<ImageScan> kept = cache->lookup(*key)) {
            reportDone(progress, kept->size);
            return std::move(*kept);
        }
    }
    OpenImage image(path);
    ImageScan scan =
        scanOpenImage(image.fd.get(), path, std::uint64_t(image.info.st_size), progress, threads);
    if (scan.size == image.key.size)
        image.keep(cache, {{image.key, &scan}});
    return scan;
}

std::vector<ImageScan> scanImagePaddedCached(const std::string& path, HashCache* cache,
                                             std::span<const std::uint8_t> padBytes,
                                             std::uint64_t paddedSize, const Progress& progress,
                                             HashThreads threads) {
    if (const std::optional<CacheKey> key = currentKey(path, cache)) {
        std::vector<ImageScan> kept;
        for (const std::uint8_t padByte : padBytes) {
            std::optional<ImageScan> scan = cache->lookup(paddedKey(*key, padByte, paddedSize));
            if (!scan)
                break;
            kept.push_back(std::move(*scan));
        }
        if (kept.size() == padBytes.size()) {
            reportDone(progress, kept.empty() ? 0 : kept.front().size);
            return kept;
        }
    }
    OpenImage image(path);
    std::vector<ImageScan> scans =
        scanOpenImagePadded(image.fd.get(), path, std::uint64_t(image.info.st_size), padBytes,
                            paddedSize, progress, threads);
    std::vector<std::pair<CacheKey, const ImageScan*>> keys;
    for (std::size_t i = 0; i < scans.size(); ++i)
        keys.emplace_back(paddedKey(image.key, padBytes[i], paddedSize), &scans[i]);
    image.keep(cache, keys);
    return scans;
}

} // namespace kelvo

// One file of the collection into rows: the cache first, then one read (or
// one inflation) feeding the whole-file pass, the list match, and the store.
#include "collection/scan.h"

#include "collection/archive.h"
#include "romheader/imageinfo.h"
#include "romheader/posixio.h"

#include <fcntl.h>

#include <bit>
#include <chrono>
#include <cstring>
#include <optional>

namespace kelvo {

namespace {

using Kind = FileError::Kind;
using Clock = std::chrono::system_clock;

std::int64_t nanoseconds(const struct timespec& time) {
    return std::int64_t(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileState stateOf(const struct stat& info) {
    return {{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino)},
            std::uint64_t(info.st_size),
            nanoseconds(info.st_mtim)};
}

RowFailure failureOf(const FileError& error) {
    if (error.kind() == Kind::Malformed || error.kind() == Kind::TooLarge)
        return {error.reason(), true};
    return {"unreadable: " + error.reason(), false};
}

const RowFailure kChanged{"changed while it was read", false};
const RowFailure kTooLarge{"too large for a GBA image", true};

void throwIfStopped(const ScanSettings& settings, const std::string& path) {
    if (settings.stopped && settings.stopped())
        throw FileError(Kind::Cancelled, "read", path, "Cancelled");
}

void countBytes(const ScanSettings& settings, std::uint64_t bytes) {
    if (settings.bytesRead && bytes > 0)
        settings.bytesRead(bytes);
}

// Whether the list matcher may ask for the image padded: only an image
// whose size is no power of two can be a trimmed dump.
bool mayBeTrimmed(const ScanSettings& settings, std::uint64_t size) {
    return settings.lists && !settings.lists->empty() && size > 0 && !std::has_single_bit(size);
}

CheckRow rowOf(const WalkItem& item) {
    CheckRow row;
    row.root = item.root;
    row.fileIndex = item.index;
    row.file = item.relative;
    row.path = item.path;
    row.state = stateOf(item.info);
    return row;
}

void takeScan(CheckRow& row, const ImageScan& scan) {
    row.size = scan.size;
    row.header = scan.header;
    row.whole = true;
    row.crc32 = scan.crc32;
    row.sha1 = scan.sha1;
    row.saveIds = scan.saveIds;
}

void match(CheckRow& row, const ScanSettings& settings, const ImageHashes& hashes,
           const PaddedHasher& padded) {
    row.listsLoaded = settings.lists && !settings.lists->empty();
    if (!row.listsLoaded)
        return;
    const std::vector<ListMatch> matches =
        matchImage(*settings.lists, hashes, row.baseName(), padded);
    row.matchCount = matches.size();
    if (matches.empty())
        return;
    row.status = matches.front().status;
    row.listName = std::string(matches.front().rom->name);
    row.listLabel = matches.front().list->label();
}

// The padding a trimmed dump is tried with, fed after what `base` holds.
ImageScan padOnto(ImageHasher& base, std::uint8_t padByte, std::uint64_t paddedSize,
                  const ScanSettings& settings, const std::string& path) {
    ImageHasher padded = base.fork();
    while (padded.size() < paddedSize) {
        padded.feedRepeated(padByte,
                            std::min<std::uint64_t>(paddedSize - padded.size(), kScanChunk));
        throwIfStopped(settings, path);
    }
    return padded.finish();
}

// What a freshly read image keeps for storing its scans afterwards.
struct Stored {
    CacheKey key;
    struct stat after {};
    Clock::time_point started;
    bool unchanged = false;

    void keep(HashCache* cache, const CacheKey& scanKey, const ImageScan& scan) const {
        if (cache && unchanged)
            (void)cache->storeIfUnchanged(scanKey, scan, after, started);
    }
};

// ---------------------------------------------------------------------------
// Plain files.

// Reads the file exactly as long as it was when opened: one that grows or
// shrinks meanwhile is reported, never read without end.
ImageScan readImage(CheckRow& row, const ScanSettings& settings, Stored& stored,
                    std::optional<ImageHasher>& base) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(row.path, O_RDONLY, info);
    stored.key = cacheKey(row.path, info);
    row.state = stateOf(info);
    row.size = std::uint64_t(info.st_size);
    if (*row.size > kMaxImageSize)
        throw FileError(Kind::TooLarge, "read", row.path, kTooLarge.reason);
    ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    stored.started = Clock::now();
    ImageHasher hasher(HashThreads::One, row.path);
    for (std::uint64_t done = 0; done < *row.size;) {
        const std::span<std::uint8_t> buffer = hasher.buffer().first(
            std::size_t(std::min<std::uint64_t>(kScanChunk, *row.size - done)));
        const std::size_t n = posix::readAt(fd.get(), buffer, off_t(done), row.path);
        hasher.commit(n);
        countBytes(settings, n);
        if (n < buffer.size())
            throw FileError(Kind::Changed, "read", row.path, kChanged.reason);
        done += n;
        throwIfStopped(settings, row.path);
    }
    if (mayBeTrimmed(settings, *row.size))
        base.emplace(hasher.fork());
    ImageScan scan = hasher.finish();
    if (::fstat(fd.get(), &stored.after) != 0 || cacheKey(row.path, stored.after) != stored.key)
        throw FileError(Kind::Changed, "read", row.path, kChanged.reason);
    stored.unchanged = true;
    return scan;
}

void checkImage(const WalkItem& item, const ScanSettings& settings,
                const std::function<void(CheckRow&&)>& sink) {
    CheckRow row = rowOf(item);
    row.size = std::uint64_t(item.info.st_size);
    if (*row.size > kMaxImageSize) {
        row.failure = kTooLarge;
        sink(std::move(row));
        return;
    }
    std::optional<ImageScan> scan;
    if (settings.cache)
        scan = settings.cache->lookup(cacheKey(item.path, item.info));
    Stored stored;
    std::optional<ImageHasher> base;
    if (scan) {
        countBytes(settings, scan->size);
    } else {
        try {
            scan = readImage(row, settings, stored, base);
        } catch (const FileError& error) {
            if (error.kind() == Kind::Cancelled)
                throw;
            row.failure = error.kind() == Kind::Changed ? kChanged : failureOf(error);
            if (error.kind() != Kind::TooLarge)
                row.size.reset(); // gone, or no longer what the walk saw
            sink(std::move(row));
            return;
        }
        stored.keep(settings.cache, stored.key, *scan);
    }
    takeScan(row, *scan);

    const PaddedHasher padded = [&](std::uint8_t padByte,
                                    std::uint64_t paddedSize) -> std::optional<ImageHashes> {
        try {
            if (base) {
                const ImageScan scanned = padOnto(*base, padByte, paddedSize, settings, row.path);
                stored.keep(settings.cache, paddedKey(stored.key, padByte, paddedSize), scanned);
                return hashesOf(scanned);
            }
            const Progress going = [&](std::uint64_t, std::uint64_t) {
                return !(settings.stopped && settings.stopped());
            };
            const std::uint8_t pads[] = {padByte};
            const std::vector<ImageScan> scans = scanImagePaddedCached(
                row.path, settings.cache, pads, paddedSize, going, HashThreads::One);
            if (scans.size() == 1 && scans.front().size == paddedSize)
                return hashesOf(scans.front());
        } catch (const FileError& error) {
            if (error.kind() == Kind::Cancelled)
                throw;
        }
        return std::nullopt;
    };
    match(row, settings, hashesOf(*scan), padded);
    sink(std::move(row));
}

// ---------------------------------------------------------------------------
// Archives.

class ArchiveCheck {
public:
    ArchiveCheck(const WalkItem& item, const ScanSettings& settings, const ZipArchive& zip,
                 const struct stat& info)
        : item_(item), settings_(settings), zip_(zip), info_(info) {}

    CheckRow check(const ArchiveMember& member) const {
        CheckRow row = rowOf(item_);
        row.state = stateOf(info_);
        row.memberIndex = member.index;
        row.member = member.name;
        row.file = item_.relative + '/' + member.name;
        row.size = member.size;
        if (member.encrypted) {
            row.failure = RowFailure{"encrypted archive member", true};
            return row;
        }
        if (member.size > kMaxImageSize) {
            row.failure = kTooLarge;
            return row;
        }
        Stored stored;
        stored.key = cacheKey(item_.path, info_, member.cacheName());
        std::optional<ImageScan> scan;
        if (settings_.cache)
            scan = settings_.cache->lookup(stored.key);
        std::optional<ImageHasher> base;
        try {
            if (!scan && settings_.trustArchiveChecksums) {
                (void)zip_.readHeader(member, row.header);
                row.crc32 = member.crc32;
                match(row, settings_, ImageHashes{member.size, member.crc32, {}, {}, {}}, {});
                return row;
            }
            if (!scan) {
                scan = inflate(member, stored, base);
                stored.keep(settings_.cache, stored.key, *scan);
            }
        } catch (const FileError& error) {
            if (error.kind() == Kind::Cancelled)
                throw;
            row.failure = failureOf(error);
            return row;
        }
        takeScan(row, *scan);
        const PaddedHasher padded = [&](std::uint8_t padByte,
                                        std::uint64_t paddedSize) -> std::optional<ImageHashes> {
            const CacheKey key = paddedKey(stored.key, padByte, paddedSize);
            if (!base && settings_.cache) {
                if (std::optional<ImageScan> kept = settings_.cache->lookup(key))
                    return hashesOf(*kept);
            }
            try {
                if (!base) // answered from the cache: inflated once more
                    (void)inflate(member, stored, base);
                if (!base)
                    return std::nullopt;
                const ImageScan scanned =
                    padOnto(*base, padByte, paddedSize, settings_, item_.path);
                stored.keep(settings_.cache, key, scanned);
                return hashesOf(scanned);
            } catch (const FileError& error) {
                if (error.kind() == Kind::Cancelled)
                    throw;
            }
            return std::nullopt;
        };
        match(row, settings_, hashesOf(*scan), padded);
        return row;
    }

private:
    // The member inflated once into the whole-file pass, its CRC32 held
    // against the directory's.
    ImageScan inflate(const ArchiveMember& member, Stored& stored,
                      std::optional<ImageHasher>& base) const {
        stored.started = Clock::now();
        ImageHasher hasher(HashThreads::One, item_.path);
        zip_.inflate(member, hasher,
                     [this](std::uint64_t) { return !(settings_.stopped && settings_.stopped()); });
        if (mayBeTrimmed(settings_, member.size))
            base.emplace(hasher.fork());
        ImageScan scan = hasher.finish();
        if (scan.crc32 != member.crc32)
            throw FileError(Kind::Malformed, "read", item_.path + '/' + member.name,
                            "damaged archive member");
        stored.unchanged = zip_.statNow(stored.after);
        return scan;
    }

    const WalkItem& item_;
    const ScanSettings& settings_;
    const ZipArchive& zip_;
    const struct stat& info_;
};

// The member a row names: its index in the archive and its name, which must
// both still hold.
struct OneMember {
    std::uint64_t index;
    const std::string& name;
};

void checkArchive(const WalkItem& item, const ScanSettings& settings,
                  const std::function<void(CheckRow&&)>& sink,
                  std::optional<OneMember> onlyMember = std::nullopt) {
    struct stat info {};
    std::optional<ZipArchive> zip;
    try {
        zip.emplace(ZipArchive::open(item.path, info));
    } catch (const FileError& error) {
        if (error.kind() == Kind::Cancelled)
            throw;
        CheckRow row = rowOf(item);
        row.failure = failureOf(error);
        sink(std::move(row));
        return;
    }
    const ArchiveCheck check(item, settings, *zip, info);
    for (const ArchiveMember& member : zip->images()) {
        if (onlyMember && (member.index != onlyMember->index || member.name != onlyMember->name))
            continue;
        throwIfStopped(settings, item.path);
        sink(check.check(member));
        countBytes(settings, member.compressedSize);
    }
    if (zip->imagesLeftOut() > 0 && !onlyMember) {
        CheckRow row = rowOf(item);
        row.state = stateOf(info);
        row.failure = RowFailure{"only the first " + std::to_string(kMaxArchiveImages) +
                                     " images were read; " + std::to_string(zip->imagesLeftOut()) +
                                     " more were left out",
                                 true};
        sink(std::move(row));
    }
}

} // namespace

void checkItem(const WalkItem& item, const ScanSettings& settings,
               const std::function<void(CheckRow&&)>& row) {
    switch (item.kind) {
    case WalkItem::Kind::Image:
        checkImage(item, settings, row);
        return;
    case WalkItem::Kind::Archive:
        checkArchive(item, settings, row);
        return;
    case WalkItem::Kind::Failure: {
        CheckRow failed = rowOf(item);
        failed.failure = RowFailure{item.reason, false};
        row(std::move(failed));
        return;
    }
    }
}

CheckRow checkAgain(const CheckRow& row, const ScanSettings& settings) {
    WalkItem item;
    item.kind = row.inArchive() ? WalkItem::Kind::Archive : WalkItem::Kind::Image;
    item.root = row.root;
    item.index = row.fileIndex;
    item.path = row.path;
    item.relative = row.inArchive() && row.file.size() > row.member.size()
                        ? row.file.substr(0, row.file.size() - row.member.size() - 1)
                        : row.file;
    std::optional<CheckRow> again;
    const auto keep = [&again](CheckRow&& made) { again = std::move(made); };
    if (::stat(row.path.c_str(), &item.info) != 0) {
        item.kind = WalkItem::Kind::Failure;
        item.reason = "unreadable: " + std::string(std::strerror(errno));
        checkItem(item, settings, keep);
    } else if (row.inArchive()) {
        checkArchive(item, settings, keep, OneMember{row.memberIndex, row.member});
    } else {
        checkImage(item, settings, keep);
    }
    if (!again) { // the member is gone from the archive
        again = row;
        again->failure = RowFailure{"no longer in the archive", false};
    }
    return std::move(*again);
}

} // namespace kelvo

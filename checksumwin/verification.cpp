#include "checksumwin/verification.h"

#include "checksumlists/listdetails.h"
#include "romheader/dirlist.h"

#include <array>

namespace kelvo {

std::optional<Padding> ImageVerdict::missingPadding() const {
    const ListMatch* match = first();
    if (!match || match->status != ListStatus::Trimmed || !match->padding ||
        match->padding->paddedSize <= state.size)
        return std::nullopt;
    return match->padding;
}

ImageVerdict verifyImage(const std::string& path, std::shared_ptr<const ListSet> lists,
                         HashCache* cache, const Progress& progress, HashThreads threads) {
    ImageVerdict verdict;
    verdict.path = path;
    verdict.state = fileState(path);
    verdict.scan = scanImageCached(path, cache, progress, threads);
    if (verdict.scan.size != verdict.state.size)
        throw FileError(FileError::Kind::Changed, "check", path,
                        "It changed while it was read; click it again");
    verdict.lists = std::move(lists);
    if (!verdict.lists || verdict.lists->empty())
        return verdict;

    const PaddedHasher padded = [&](std::uint8_t byte,
                                    std::uint64_t paddedSize) -> std::optional<ImageHashes> {
        const std::array<std::uint8_t, 1> bytes{byte};
        try {
            const std::vector<ImageScan> scans =
                scanImagePaddedCached(path, cache, bytes, paddedSize, progress, threads);
            // Read again for the padding: the file must still be the one matched.
            if (scans.size() != 1 || fileState(path) != verdict.state)
                return std::nullopt;
            return hashesOf(scans.front());
        } catch (const FileError& error) {
            if (error.kind() == FileError::Kind::Cancelled)
                throw;
            return std::nullopt;
        }
    };
    verdict.matches = matchImage(*verdict.lists, hashesOf(verdict.scan), baseName(path), padded);
    return verdict;
}

std::vector<DetailRow> listDetails(const ImageVerdict& verdict) {
    return listDetailRows(verdict.matches, verdict.lists && !verdict.lists->empty());
}

} // namespace kelvo

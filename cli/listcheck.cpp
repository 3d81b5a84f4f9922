#include "cli/listcheck.h"

#include "checksumlists/configured.h"
#include "romheader/imageedit.h"

#include <algorithm>

namespace kelvo::cli {

namespace {

void sayProblem(HashCache& cache) {
    if (const std::optional<std::string> problem = cache.takeProblem())
        say(*problem);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

Lists loadLists(const Arguments& arguments) {
    Lists lists;
    std::vector<std::string> paths;
    const std::string configuration = configuredListsPath();
    if (!configuration.empty()) {
        try {
            paths = readConfiguredLists(configuration);
        } catch (const FileError& error) {
            say(error.what());
            lists.status = Status::Failure;
            lists.configured = true; // there is a configuration, unreadable
        }
    }
    for (const Arguments::Given& given : arguments.options) {
        if (given.option->longName == kDatOption.longName && given.value &&
            std::find(paths.begin(), paths.end(), *given.value) == paths.end())
            paths.push_back(*given.value);
    }
    lists.configured = lists.configured || !paths.empty();

    std::vector<std::shared_ptr<const ChecksumList>> loaded;
    for (const std::string& path : paths) {
        try {
            loaded.push_back(loadChecksumList(path));
        } catch (const FileError& error) {
            // A malformed list is no image's content problem: it could not be read.
            say(error.what());
            lists.status = Status::Failure;
        }
    }
    lists.set = ListSet(std::move(loaded));
    return lists;
}

bool anyEntryOfSize(const ListSet& lists, std::uint64_t size) {
    const std::uint64_t padded = nextPowerOfTwo(size);
    for (const auto& list : lists.lists()) {
        for (const ListRom& rom : list->roms) {
            if (rom.matchable() && (!rom.size || *rom.size == size || *rom.size == padded))
                return true;
        }
    }
    return false;
}

ImageScan scanThroughCache(const std::string& path, HashCache& cache) {
    try {
        ImageScan scan = scanImageCached(path, &cache);
        sayProblem(cache);
        return scan;
    } catch (const FileError&) {
        sayProblem(cache);
        throw;
    }
}

std::vector<ListMatch> matchThroughCache(const ListSet& lists, const ImageScan& scan,
                                         const std::string& path, HashCache& cache) {
    const PaddedHasher hashPadded = [&](std::uint8_t padByte,
                                        std::uint64_t paddedSize) -> std::optional<ImageHashes> {
        const std::uint8_t bytes[] = {padByte};
        const std::vector<ImageScan> padded =
            scanImagePaddedCached(path, &cache, bytes, paddedSize);
        sayProblem(cache);
        if (padded.empty())
            return std::nullopt;
        return hashesOf(padded.front());
    };
    return matchImage(lists, hashesOf(scan), nameOf(path), hashPadded);
}

} // namespace kelvo::cli

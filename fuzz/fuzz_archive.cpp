// A .zip archive made of arbitrary bytes, read as the collection check reads
// one: opened read-only, each image member inflated and hashed (or, when
// the input's length is odd, trusted by the archive's directory), matched
// against nothing. Each input gives rows, never a crash, a hang or an
// escaping exception; a row is an image of the size the archive states, or
// a failure that says why; the archive is one row when it cannot be read.
//
// Input: the archive's bytes, read from a memory file through its
// /proc/self/fd path, so the check opens it as it opens any file.
#include "collection/archive.h"
#include "collection/scan.h"
#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvo;
    using namespace kelvo::fuzz;
    const int fd = ::memfd_create("archive.zip", MFD_CLOEXEC);
    require(fd >= 0, "no memory file");
    require(::write(fd, data, size) == ssize_t(size), "the memory file took less");
    WalkItem item;
    item.kind = WalkItem::Kind::Archive;
    item.relative = "a.zip";
    item.path = "/proc/self/fd/" + std::to_string(fd);
    require(::fstat(fd, &item.info) == 0, "no stat of the memory file");

    ScanSettings settings;
    settings.trustArchiveChecksums = size % 2 == 1;
    std::size_t rows = 0;
    checkItem(item, settings, [&](CheckRow&& row) {
        ++rows;
        require(row.file == "a.zip" || row.file.starts_with("a.zip/"), "a row outside the archive",
                row.file);
        if (!row.readable()) {
            require(!row.failure->reason.empty(), "a failure without a reason", row.file);
            return;
        }
        require(!row.member.empty() && isImageName(row.member), "a row for a member not an image",
                row.member);
        require(isWellFormedUtf8(row.member), "a member's name is not UTF-8", row.member);
        require(row.size.has_value() && *row.size <= kMaxImageSize,
                "a readable member larger than an image", row.file);
    });
    require(rows <= kMaxArchiveImages + 1, "more rows than an archive may give");
    ::close(fd);
    return 0;
}

// Header repair: what it would change, and making exactly those changes on
// disk through the same safe path as writing a title.
#include "romheader/imageinfo.h"
#include "romheader/posixio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kelvo {

RepairPlan planRepair(const HeaderBytes& bytes) {
    RepairPlan plan;
    plan.logoValid = bootLogoValid(bytes);
    HeaderBytes repaired = bytes;
    // The fixed value first: the check byte covers it.
    if (repaired[kFixedValueOffset] != kFixedValue) {
        plan.changes.push_back({kFixedValueOffset, repaired[kFixedValueOffset], kFixedValue});
        repaired[kFixedValueOffset] = kFixedValue;
    }
    const std::uint8_t check =
        headerCheck(std::span(repaired).subspan<kTitleOffset, kCheckedLength>());
    if (repaired[kCheckOffset] != check)
        plan.changes.push_back({kCheckOffset, repaired[kCheckOffset], check});
    return plan;
}

std::string changeText(const HeaderChange& change) {
    const char* what = change.offset == kFixedValueOffset ? " (fixed value)"
                       : change.offset == kCheckOffset    ? " (check byte)"
                                                          : "";
    char text[96];
    std::snprintf(text, sizeof text, "Byte 0x%02zX%s: 0x%02X becomes 0x%02X", change.offset, what,
                  unsigned{change.before}, unsigned{change.after});
    return text;
}

namespace {

// A file with neither the console's logo nor its fixed value holds something
// other than a header where one belongs (a text file named like an image):
// "repairing" it would only write two bytes into someone's data.
void refuseIfNotAnImage(const HeaderBytes& bytes, const std::string& path) {
    if (!bootLogoValid(bytes) && !fixedValueValid(bytes))
        throw FileError(FileError::Kind::NotAnImage, "repair", path,
                        "It does not look like a GBA image: it has neither the console's boot "
                        "logo nor its fixed value (0x96 at 0xB2); nothing was written");
}

} // namespace

RepairPlan planRepair(const std::string& path) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    const HeaderBytes bytes = posix::readWholeHeader(fd.get(), info, "repair", path);
    refuseIfNotAnImage(bytes, path);
    return planRepair(bytes);
}

void repairHeader(const std::string& path, const RepairPlan& plan, const FileIdentity* expected) {
    // No O_CREAT and no O_TRUNC: an image that vanished stays gone, and no
    // byte outside the planned ones changes.
    struct stat info {};
    UniqueFd fd = posix::openRegular(path, O_RDWR, info);
    posix::refuseIfReplaced(info, expected, "repair", path);
    HeaderBytes bytes = posix::readWholeHeader(fd.get(), info, "repair", path);
    refuseIfNotAnImage(bytes, path);
    if (planRepair(bytes).changes != plan.changes)
        throw FileError(FileError::Kind::Changed, "repair", path,
                        "The header changed since it was read; nothing was written");
    if (plan.changes.empty())
        return;

    for (const HeaderChange& change : plan.changes)
        bytes[change.offset] = change.after;
    const std::size_t first = plan.changes.front().offset;
    const std::size_t length = plan.changes.back().offset + 1 - first;
    posix::writeAt(fd.get(), std::span(bytes).subspan(first, length), off_t(first), path);
    if (::fsync(fd.get()) != 0 || fd.close() != 0)
        posix::throwSystem("write", path, errno);
}

} // namespace kelvo

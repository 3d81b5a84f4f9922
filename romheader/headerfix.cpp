// The build's header fix: what it changes, and making exactly those changes.
#include "romheader/editio.h"
#include "romheader/posixio.h"
#include "romheader/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kelvo {

namespace {

using Kind = FileError::Kind;

// 0xBE..0xBF: reserved, cleared by the fixer.
constexpr std::size_t kReservedOffset = 0xBE;

} // namespace

HeaderBytes fixedHeader(HeaderBytes bytes, const FixFields& fields) {
    std::copy(kBootLogo.begin(), kBootLogo.end(), bytes.begin() + kLogoOffset);
    if (fields.title)
        std::copy(fields.title->begin(), fields.title->end(), bytes.begin() + kTitleOffset);
    if (fields.gameCode)
        std::copy(fields.gameCode->begin(), fields.gameCode->end(),
                  bytes.begin() + kGameTypeOffset);
    if (fields.makerCode)
        std::copy(fields.makerCode->begin(), fields.makerCode->end(), bytes.begin() + kMakerOffset);
    if (fields.version)
        bytes[kVersionOffset] = *fields.version;
    bytes[kFixedValueOffset] = kFixedValue;
    bytes[kDeviceTypeOffset] = 0x00;
    bytes[kReservedOffset] = 0x00;
    bytes[kReservedOffset + 1] = 0x00;
    bytes[kCheckOffset] = headerCheck(std::span(bytes).subspan<kTitleOffset, kCheckedLength>());
    return bytes;
}

std::vector<HeaderChange> headerChanges(const HeaderBytes& before, const HeaderBytes& after) {
    std::vector<HeaderChange> changes;
    for (std::size_t offset = 0; offset < before.size(); ++offset) {
        if (before[offset] != after[offset])
            changes.push_back({offset, before[offset], after[offset]});
    }
    return changes;
}

FixPlan planFix(const std::string& path, const FixFields& fields, bool pad) {
    struct stat info {};
    const UniqueFd fd = posix::openRegular(path, O_RDONLY, info);
    FixPlan plan;
    plan.state = posix::stateOf(info);
    plan.before = posix::readWholeHeader(fd.get(), info, "fix", path);
    plan.after = fixedHeader(plan.before, fields);
    plan.changes = headerChanges(plan.before, plan.after);
    if (pad)
        plan.padding = posix::paddingToPowerOfTwo(plan.state.size, "pad", path);
    return plan;
}

void applyFix(const std::string& path, const FixPlan& plan) {
    if (plan.changes.empty() && plan.padding == 0)
        return;
    // A termination signal waits until the file is as planned or as it was.
    const TerminationGuard guard;
    UniqueFd fd = posix::openAsPlanned(path, O_RDWR, plan.state, "fix");
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        posix::throwSystem("fix", path, errno);
    if (posix::readWholeHeader(fd.get(), info, "fix", path) != plan.before)
        throw FileError(Kind::Changed, "fix", path,
                        "The header changed since it was read; nothing was written");

    // The padding first: it is what a full disk refuses, and it can be cut
    // away again if the header write fails after it.
    if (plan.padding > 0)
        posix::appendAt(fd.get(), plan.state.size, plan.padding, 0xFF, "pad", path);
    if (!plan.changes.empty()) {
        const std::size_t first = plan.changes.front().offset;
        const std::size_t length = plan.changes.back().offset + 1 - first;
        try {
            posix::writeAt(fd.get(), std::span(plan.after).subspan(first, length), off_t(first),
                           path);
            if (::fsync(fd.get()) != 0)
                posix::throwSystem("write", path, errno);
        } catch (const FileError&) {
            // Best effort: the write's error is the one worth reporting.
            try {
                posix::writeAt(fd.get(), std::span(plan.before).subspan(first, length),
                               off_t(first), path);
            } catch (const FileError&) {
            }
            if (plan.padding > 0 && ::ftruncate(fd.get(), off_t(plan.state.size)) != 0) {
                // Nothing more can be done; the error above says what failed.
            }
            ::fsync(fd.get());
            throw;
        }
    }
    if (fd.close() != 0)
        posix::throwSystem("write", path, errno);
}

} // namespace kelvo

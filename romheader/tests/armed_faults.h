// Sets of system-call faults that send an operation down the way a file
// system or kernel would, armed together for one test.
#pragma once

#include "romheader/tests/syscall_faults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <utility>
#include <vector>

namespace kelvo::test {

// System calls made to fail, as some file systems and kernels refuse them.
using Faults = std::vector<std::pair<const char*, int>>;
inline const Faults kNoUnnamedFiles = {{"O_TMPFILE", EOPNOTSUPP}};
inline const Faults kNoExclusiveRename = {{"O_TMPFILE", EOPNOTSUPP}, {"renameat2", EINVAL}};
// exFAT through FUSE; FAT answers EPERM for links.
inline const Faults kNoLinks = {{"O_TMPFILE", EOPNOTSUPP}, {"renameat2", EINVAL}, {"link", ENOSYS}};
inline const Faults kFatLinks = {{"O_TMPFILE", EOPNOTSUPP}, {"renameat2", EINVAL}, {"link", EPERM}};
// Rows that follow the bytes through the extent copy rule out a clone, which
// btrfs and XFS make instead.
inline const Faults kNoClone = {{"FICLONE", EOPNOTSUPP}};
inline const Faults kNoCloneNoUnnamedFiles = {{"FICLONE", EOPNOTSUPP}, {"O_TMPFILE", EOPNOTSUPP}};
inline const Faults kNoKernelCopy = {{"FICLONE", EOPNOTSUPP}, {"copy_file_range", EXDEV}};

struct ArmedFaults {
    explicit ArmedFaults(const Faults& faults) {
        for (const auto& [call, error] : faults)
            armed.emplace_back(call, error);
    }
    // Whether each fault was met, so the row took the way it names.
    void expectAllMet() const {
        for (const SyscallFault& fault : armed)
            EXPECT_GT(fault.hits(), 0) << fault.call() << " was never called";
    }
    std::deque<SyscallFault> armed;
};

} // namespace kelvo::test

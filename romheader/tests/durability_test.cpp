// What makes a write durable: the syncs each route makes, in order, a
// directory sync that fails, and the hidden partial files a kill can leave.
#include "romheader/imageinfo.h"
#include "romheader/romheader.h"
#include "romheader/tests/armed_faults.h"
#include "romheader/tests/scratch_dir.h"
#include "romheader/tests/syscall_faults.h"
#include "romheader/xdg.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Names = std::vector<std::string>;
// An operation on the scratch directory, which holds sample.bin.
using Operation = std::function<void(const std::string& dir)>;

const Operation kCopy = [](const std::string& dir) {
    (void)copyToTitle(joinPath(dir, "sample.bin"), dir, "SAMPLE TITLE");
};
const Operation kCopyReplacing = [](const std::string& dir) {
    writeFile(joinPath(dir, "SAMPLE TITLE.gba"), {'o', 'l', 'd'});
    (void)copyToTitle(joinPath(dir, "sample.bin"), dir, "SAMPLE TITLE", Overwrite::Replace);
};
const Operation kEdit = [](const std::string& dir) {
    (void)writeTitle(joinPath(dir, "sample.bin"), encodeTitle("NEW"));
};
const Operation kRepair = [](const std::string& dir) {
    const std::string image = joinPath(dir, "sample.bin");
    Bytes bytes = sampleImage();
    bytes[kCheckOffset] ^= 0xFF;
    writeFile(image, bytes);
    repairHeader(image, planRepair(image));
};
const Operation kAppend = [](const std::string& dir) {
    writeFile(joinPath(dir, "list.txt"), {'o', 'l', 'd', '\n'});
    appendToFile(joinPath(dir, "list.txt"), "new\n");
};
const Operation kAppendCreating = [](const std::string& dir) {
    appendToFile(joinPath(dir, "list.txt"), "new\n");
};
const Operation kReplaceKept = [](const std::string& dir) {
    replaceFileAtomically(joinPath(dir, "kept.txt"), "kept\n");
};

// The calls that make each write durable, in order (see SyncLog): a copy's
// data is on disk before any name leads to it, and every new name has its
// directory synced after it.
struct SyncRow {
    const char* name;
    Faults faults;
    Operation operation;
    Names calls;
};

class SyncOrder : public ScratchDirTest, public ::testing::WithParamInterface<SyncRow> {};

TEST_P(SyncOrder, DataBeforeNamesAndNamesSynced) {
    const SyncRow& row = GetParam();
    writeFile(path("sample.bin"), sampleImage(100000));
    const ArmedFaults faults(row.faults);
    const SyncLog log;
    row.operation(dir());
    EXPECT_EQ(log.calls(), row.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, SyncOrder,
    ::testing::Values(
        SyncRow{"copy_unnamed_file",
                kNoClone,
                kCopy,
                {"sync_file_range", "linkat", "fsync", "fsync_directory"}},
        SyncRow{"copy_unnamed_file_replacing",
                kNoClone,
                kCopyReplacing,
                {"sync_file_range", "linkat", "rename", "fsync", "fsync_directory"}},
        SyncRow{
            "copy_hidden_file", kNoUnnamedFiles, kCopy, {"fsync", "renameat2", "fsync_directory"}},
        SyncRow{"copy_hidden_file_replacing",
                kNoUnnamedFiles,
                kCopyReplacing,
                {"fsync", "rename", "fsync_directory"}},
        SyncRow{"edit_header", {}, kEdit, {"fsync"}},
        SyncRow{"repair_header", {}, kRepair, {"fsync"}}, SyncRow{"append", {}, kAppend, {"fsync"}},
        SyncRow{"append_creating", {}, kAppendCreating, {"fsync", "fsync_directory"}},
        SyncRow{"replace_kept_file", {}, kReplaceKept, {"fsync", "rename", "fsync_directory"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A directory that cannot be synced fails the write with the reason, but a
// file system that cannot sync directories at all (EINVAL) does not.
struct DirectorySyncRow {
    const char* name;
    Faults faults;
    Operation operation;
    int error; // 0: the write succeeds
    Names left;
};

class DirectorySync : public ScratchDirTest,
                      public ::testing::WithParamInterface<DirectorySyncRow> {};

TEST_P(DirectorySync, FailureIsReportedWithTheReason) {
    const DirectorySyncRow& row = GetParam();
    writeFile(path("sample.bin"), sampleImage(100000));
    const ArmedFaults faults(row.faults);
    try {
        row.operation(dir());
        EXPECT_EQ(row.error, 0) << "a failed directory sync was reported as success";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), row.error) << error.what();
        EXPECT_NE(std::string(error.what()).find("directory"), std::string::npos) << error.what();
    }
    faults.expectAllMet();
    EXPECT_EQ(namesIn(dir()), row.left) << "stray or missing files";
}

const Names kCopied = {"SAMPLE TITLE.gba", "sample.bin"};
const Faults kDirectorySyncFails = {{"fsync_directory", EIO}};
const Faults kDirectoryUnreadable = {{"open_directory", EACCES}};
const Faults kHiddenDirectorySyncFails = {{"O_TMPFILE", EOPNOTSUPP}, {"fsync_directory", EIO}};

INSTANTIATE_TEST_SUITE_P(
    Writes, DirectorySync,
    ::testing::Values(
        DirectorySyncRow{"copy_sync_fails", kDirectorySyncFails, kCopy, EIO, kCopied},
        DirectorySyncRow{"copy_hidden_sync_fails", kHiddenDirectorySyncFails, kCopy, EIO, kCopied},
        DirectorySyncRow{"copy_directory_unreadable", kDirectoryUnreadable, kCopy, EACCES, kCopied},
        DirectorySyncRow{"copy_cannot_sync_here", {{"fsync_directory", EINVAL}}, kCopy, 0, kCopied},
        DirectorySyncRow{"append_creating_sync_fails",
                         kDirectorySyncFails,
                         kAppendCreating,
                         EIO,
                         {"sample.bin"}},
        DirectorySyncRow{"replace_kept_file_sync_fails",
                         kDirectorySyncFails,
                         kReplaceKept,
                         EIO,
                         {"kept.txt", "sample.bin"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Partial files a killed copy left are removed by the next copy into their
// directory, unless another process holds their lock; names that are not
// exactly this program's, and what is not a regular file, stay. Where the
// file system refuses locks nothing tells a leftover from a file in use, so
// all stay, and the copy is made all the same.
struct SweepRow {
    const char* name;
    Faults faults;
    bool swept;
};

class PartialFiles : public ScratchDirTest, public ::testing::WithParamInterface<SweepRow> {};

TEST_P(PartialFiles, LeftoversNobodyHoldsAreSweptByTheNextCopy) {
    writeFile(path("sample.bin"), sampleImage(100000));
    const std::string leftover = ".kelvo-gba-Left0ver1234.partial";
    const std::string held = ".kelvo-gba-HeldByOther1.partial";
    Names kept = {".kelvo-gba-Left0ver123.partial",
                  ".kelvo-gba-Left0ver1234.partial~",
                  "kelvo-gba-Left0ver1234.partial",
                  ".kelvo-gba-Left0ver12_4.partial",
                  ".kelvo-Left0ver.tmp",
                  held};
    for (const std::string& name : kept)
        writeFile(path(name), {'x'});
    writeFile(path(leftover), sampleImage(5000));
    ASSERT_EQ(::mkdir(path(".kelvo-gba-ADirectory12.partial").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("sample.bin", path(".kelvo-gba-ASymbolicLnk.partial").c_str()), 0);
    kept.insert(kept.end(), {".kelvo-gba-ADirectory12.partial", ".kelvo-gba-ASymbolicLnk.partial",
                             "SAMPLE TITLE.gba", "sample.bin"});

    int locked[2], release[2];
    ASSERT_TRUE(::pipe(locked) == 0 && ::pipe(release) == 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(release[1]);
        const int fd = ::open(path(held).c_str(), O_RDONLY | O_CLOEXEC);
        char end = 0;
        const bool ok = ::flock(fd, LOCK_EX) == 0 && ::write(locked[1], "l", 1) == 1;
        ::_exit(ok && ::read(release[0], &end, 1) >= 0 ? 0 : 2);
    }
    ::close(release[0]);
    ::close(locked[1]);
    char answer = 0;
    ASSERT_EQ(::read(locked[0], &answer, 1), 1) << "the other process could not lock";
    ::close(locked[0]);

    const ArmedFaults faults(GetParam().faults);
    kCopy(dir());
    ::close(release[1]);
    ::waitpid(holder, nullptr, 0);
    if (!GetParam().swept)
        kept.push_back(leftover);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(namesIn(dir()), kept);
}

// A copy's own partial file is locked for as long as it has the name, so
// another copy's sweep (here, one made at the instant of its rename) leaves it.
struct InUseRow {
    const char* name;
    Faults faults;
    const char* renameCall;
    Overwrite overwrite;
};

class PartialInUse : public ScratchDirTest, public ::testing::WithParamInterface<InUseRow> {};

TEST_P(PartialInUse, KeptFromAnotherCopysSweep) {
    const InUseRow& row = GetParam();
    const Bytes image = sampleImage(100000);
    writeFile(path("sample.bin"), image);
    if (row.overwrite == Overwrite::Replace)
        writeFile(path("SAMPLE TITLE.gba"), {'o', 'l', 'd'});
    const ArmedFaults faults(row.faults);
    const SyscallFault otherCopy(row.renameCall, 0,
                                 [&] { (void)copyToTitle(path("sample.bin"), dir(), "OTHER"); });
    EXPECT_NO_THROW(copyToTitle(path("sample.bin"), dir(), "SAMPLE TITLE", row.overwrite));
    EXPECT_EQ(otherCopy.hits(), 1) << "the other copy was not made meanwhile";
    EXPECT_EQ(readFile(path("SAMPLE TITLE.gba")), image);
    EXPECT_EQ(namesIn(dir()), (Names{"OTHER.gba", "SAMPLE TITLE.gba", "sample.bin"}));
}

INSTANTIATE_TEST_SUITE_P(Routes, PartialFiles,
                         ::testing::Values(SweepRow{"unnamed_file", {}, true},
                                           SweepRow{"hidden_file", kNoUnnamedFiles, true},
                                           SweepRow{"hidden_file_no_locks",
                                                    {{"O_TMPFILE", EOPNOTSUPP}, {"flock", ENOLCK}},
                                                    false}),
                         [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Routes, PartialInUse,
    ::testing::Values(InUseRow{"hidden_file", kNoUnnamedFiles, "renameat2", Overwrite::Refuse},
                      InUseRow{"unnamed_file_replacing", {}, "rename", Overwrite::Replace}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

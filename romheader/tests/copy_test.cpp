// Copying an image to its title's name and appending to the list file:
// nothing lost, nothing half-written, nothing left behind.
#include "romheader/romheader.h"
#include "romheader/termination.h"
#include "romheader/tests/armed_faults.h"
#include "romheader/tests/scratch_dir.h"
#include "romheader/tests/syscall_faults.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Names = std::vector<std::string>;

// The offset of the first byte that differs, or -1 when the files are equal.
// Outside its data extents a file reads as NULs, so only where either file
// has data (SEEK_DATA) are bytes read and compared.
off_t firstDifference(const std::string& a, const std::string& b) {
    const int fds[2] = {::open(a.c_str(), O_RDONLY | O_CLOEXEC),
                        ::open(b.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat sa {
    }, sb{};
    off_t differs =
        ::fstat(fds[0], &sa) == 0 && ::fstat(fds[1], &sb) == 0 && sa.st_size == sb.st_size ? -1 : 0;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    for (const int fd : fds) {
        for (off_t at = 0; differs < 0 && (at = ::lseek(fd, at, SEEK_DATA)) >= 0;) {
            const off_t end = ::lseek(fd, at, SEEK_HOLE);
            for (; differs < 0 && at < end; at += off_t(ba.size())) {
                const ssize_t na = ::pread(fds[0], ba.data(), ba.size(), at);
                const ssize_t nb = ::pread(fds[1], bb.data(), bb.size(), at);
                if (na != nb || na < 0 || std::memcmp(ba.data(), bb.data(), std::size_t(na)) != 0)
                    differs = at;
            }
            at = end;
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return differs;
}

class CopyTest : public ScratchDirTest {
protected:
    void SetUp() override {
        ScratchDirTest::SetUp();
        source = path("sample.bin");
        writeFile(source, image);
    }

    // Runs a copy expected to fail and returns its error's kind.
    FileError::Kind failingCopy(const std::string& directory, std::string_view title,
                                Overwrite overwrite) {
        try {
            const std::string made = copyToTitle(source, directory, title, overwrite);
            ADD_FAILURE() << "copy to \"" << made << "\" did not fail";
        } catch (const FileError& error) {
            EXPECT_NE(std::string(error.what()).find(directory), std::string::npos)
                << "the message does not name the place: " << error.what();
            return error.kind();
        }
        return FileError::Kind::System;
    }

    const Bytes image = sampleImage(300000);
    std::string source;
};

// Each way of making the copy, as file systems allow, gives the same copy
// with the source's permissions masked by the umask.
struct RouteRow {
    const char* name;
    Faults faults;
    mode_t sourceMode;
    mode_t umask;
    mode_t copyMode;
};

class CopyRoute : public CopyTest, public ::testing::WithParamInterface<RouteRow> {};

TEST_P(CopyRoute, CreatesTitleNamedCopyAndKeepsTheSource) {
    const RouteRow& row = GetParam();
    ASSERT_EQ(::chmod(source.c_str(), row.sourceMode), 0);
    const ArmedFaults faults(row.faults);
    const mode_t umaskBefore = ::umask(row.umask);
    std::string made;
    EXPECT_NO_THROW(made = copyToTitle(source, dir(), "SAMPLE TITLE"));
    ::umask(umaskBefore);
    faults.expectAllMet();
    EXPECT_EQ(made, path("SAMPLE TITLE.gba"));
    EXPECT_EQ(readFile(made), image) << "the copy's bytes differ from the source's";
    EXPECT_EQ(readFile(source), image) << "the source changed";
    EXPECT_EQ(namesIn(dir()), (Names{"SAMPLE TITLE.gba", "sample.bin"})) << "stray files left";
    struct stat info {};
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, row.copyMode)
        << "source mode 0" << std::oct << row.sourceMode << ", umask 0" << row.umask;
}

INSTANTIATE_TEST_SUITE_P(
    Routes, CopyRoute,
    ::testing::Values(RouteRow{"keeps_the_source_mode", {}, 0640, 022, 0640},
                      RouteRow{"world_writable_source_masked", {}, 0666, 022, 0644},
                      RouteRow{"no_unnamed_files", kNoUnnamedFiles, 0666, 027, 0640},
                      RouteRow{"no_exclusive_rename", kNoExclusiveRename, 0644, 022, 0644},
                      RouteRow{"no_hard_links_exfat_fuse", kNoLinks, 0666, 022, 0644},
                      RouteRow{"no_hard_links_fat", kFatLinks, 0644, 022, 0644},
                      RouteRow{"no_kernel_copy", kNoKernelCopy, 0604, 002, 0604}),
    [](const auto& info) { return std::string(info.param.name); });

// A file made under the target's name while the copy runs is never replaced,
// however the copy gets its name.
using PublishRow = std::pair<const char*, Faults>;

class PublishRoute : public CopyTest, public ::testing::WithParamInterface<PublishRow> {};

TEST_P(PublishRoute, TargetMadeDuringTheCopyIsKept) {
    const std::string target = path("SAMPLE TITLE.gba");
    const Bytes racer = {'r', 'a', 'c', 'e', 'r'};
    const ArmedFaults faults(GetParam().second);
    const auto makeTarget = [&](std::uint64_t done, std::uint64_t) {
        if (done == 0)
            writeFile(target, racer);
        return true;
    };
    try {
        copyToTitle(source, dir(), "SAMPLE TITLE", Overwrite::Refuse, makeTarget);
        ADD_FAILURE() << "the copy replaced a file made meanwhile";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::AlreadyExists) << error.what();
    }
    faults.expectAllMet();
    EXPECT_EQ(readFile(target), racer) << "the file made during the copy changed";
    EXPECT_EQ(namesIn(dir()), (Names{"SAMPLE TITLE.gba", "sample.bin"})) << "stray files left";
}

INSTANTIATE_TEST_SUITE_P(Routes, PublishRoute,
                         ::testing::Values(PublishRow{"unnamed_file_linked", {}},
                                           PublishRow{"exclusive_rename", kNoUnnamedFiles},
                                           PublishRow{"hard_link", kNoExclusiveRename},
                                           PublishRow{"look_then_rename", kNoLinks}),
                         [](const auto& info) { return std::string(info.param.first); });

// A 3 GiB image holding a header and one block past 2 GiB copies to a file
// as sparse as itself, whichever way the bytes move.
class SparseCopy : public CopyTest, public ::testing::WithParamInterface<PublishRow> {};

TEST_P(SparseCopy, StaysSparseWithTheSameBytes) {
    constexpr off_t kLength = off_t{3} << 30;
    constexpr off_t kBlockAt = (off_t{5} << 29) + 12345;
    const std::string sparse = path("sparse.bin");
    writeFile(sparse, sampleImage(4096));
    const Bytes block = sampleImage(65536);
    {
        const int fd = ::open(sparse.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_EQ(::pwrite(fd, block.data(), block.size(), kBlockAt), ssize_t(block.size()));
        ASSERT_EQ(::ftruncate(fd, kLength), 0);
        ::close(fd);
    }
    const ArmedFaults faults(GetParam().second);
    std::uint64_t lastDone = 0;
    const std::string made = copyToTitle(sparse, dir(), "SPARSE", Overwrite::Refuse,
                                         [&](std::uint64_t done, std::uint64_t total) {
                                             EXPECT_EQ(total, std::uint64_t(kLength));
                                             lastDone = done;
                                             return true;
                                         });
    faults.expectAllMet();
    EXPECT_EQ(lastDone, std::uint64_t(kLength)) << "progress did not reach the end";
    struct stat info {};
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, kLength);
    EXPECT_LT(info.st_blocks * 512, 1 << 20) << "the holes were written out";
    EXPECT_EQ(firstDifference(sparse, made), -1) << "the copy's bytes differ from the source's";
}

INSTANTIATE_TEST_SUITE_P(Routes, SparseCopy,
                         ::testing::Values(PublishRow{"kernel_copy", kNoClone},
                                           PublishRow{"reads_and_writes", kNoKernelCopy},
                                           PublishRow{"hidden_file", kNoCloneNoUnnamedFiles}),
                         [](const auto& info) { return std::string(info.param.first); });

// A file whose size the kernel gives as 0 but that reads as text (a link to
// a /proc file; some FUSE and sysfs files) is copied to its end, as cp does.
class SizeUntrusted : public CopyTest, public ::testing::WithParamInterface<PublishRow> {};

TEST_P(SizeUntrusted, CopiedUntilItsEnd) {
    const char* const procFile = "/proc/version";
    struct stat info {};
    const Bytes expected = readFile(procFile);
    if (::stat(procFile, &info) != 0 || info.st_size != 0 || expected.empty())
        GTEST_SKIP() << procFile << " is missing or gives its size here";
    ASSERT_EQ(::symlink(procFile, path("x.gba").c_str()), 0);
    const ArmedFaults faults(GetParam().second);
    const std::string made = copyToTitle(path("x.gba"), dir(), "FROM PROC");
    EXPECT_EQ(readFile(made), expected) << "the copy is not what reading the file gives";
}

INSTANTIATE_TEST_SUITE_P(Routes, SizeUntrusted,
                         ::testing::Values(PublishRow{"unnamed_file", {}},
                                           PublishRow{"hidden_file", kNoUnnamedFiles}),
                         [](const auto& info) { return std::string(info.param.first); });

// A copy stopped by Cancel or by SIGTERM leaves no file and the target it
// would have replaced as it was; SIGTERM then ends the program.
enum class Stop { CancelAtStart, CancelMidway, Terminate };

struct StopRow {
    const char* name;
    Stop stop;
    bool replacing;
    Faults faults;
};

class StoppedCopy : public CopyTest, public ::testing::WithParamInterface<StopRow> {
protected:
    // Copies in a child process, under no guard but the copy's own, whose
    // progress callback waits midway, after the first chunk, until SIGTERM
    // arrives; returns the child's wait status.
    int copyEndedBySigterm(Overwrite overwrite) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return -1;
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            try {
                copyToTitle(source, dir(), "SAMPLE TITLE", overwrite,
                            [&](std::uint64_t done, std::uint64_t total) {
                                if (done == 0 || done == total)
                                    return true;
                                if (::write(pipeFds[1], "c", 1) != 1)
                                    ::_exit(3);
                                while (!terminationRequested())
                                    ::usleep(1000);
                                return true;
                            });
            } catch (const FileError&) {
            }
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        char started = 0;
        if (::read(pipeFds[0], &started, 1) == 1)
            ::kill(child, SIGTERM);
        ::close(pipeFds[0]);
        int status = -1;
        ::waitpid(child, &status, 0);
        return status;
    }
};

TEST_P(StoppedCopy, LeavesNothingAndTheTargetAsItWas) {
    const StopRow& row = GetParam();
    writeFile(source, sampleImage(16 << 20)); // several chunks
    const std::string target = path("SAMPLE TITLE.gba");
    const Bytes older = {'o', 'l', 'd'};
    if (row.replacing)
        writeFile(target, older);
    const Names before = namesIn(dir());
    const ArmedFaults faults(row.faults);
    const Overwrite overwrite = row.replacing ? Overwrite::Replace : Overwrite::Refuse;

    if (row.stop == Stop::Terminate) {
        const int status = copyEndedBySigterm(overwrite);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
            << "the copying process was not ended by SIGTERM; status " << status;
    } else {
        const bool atStart = row.stop == Stop::CancelAtStart;
        const auto cancel = [&](std::uint64_t done, std::uint64_t total) {
            return !atStart && (done == 0 || done == total);
        };
        try {
            copyToTitle(source, dir(), "SAMPLE TITLE", overwrite, cancel);
            ADD_FAILURE() << "the copy did not stop";
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::Cancelled) << error.what();
        }
        faults.expectAllMet();
    }
    EXPECT_EQ(namesIn(dir()), before) << "the stopped copy left a file";
    if (row.replacing) {
        EXPECT_EQ(readFile(target), older) << "the target changed";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stops, StoppedCopy,
    ::testing::Values(StopRow{"cancelled_at_start", Stop::CancelAtStart, false, {}},
                      StopRow{"cancelled_midway_replacing", Stop::CancelMidway, true, kNoClone},
                      StopRow{"cancelled_midway_hidden_file_replacing", Stop::CancelMidway, true,
                              kNoCloneNoUnnamedFiles},
                      StopRow{"terminated_midway", Stop::Terminate, false, kNoClone},
                      StopRow{"terminated_midway_hidden_file_replacing", Stop::Terminate, true,
                              kNoCloneNoUnnamedFiles}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopyTest, ExistingTargetReplacedOnlyWithConsent) {
    const std::string target = path("SAMPLE TITLE.gba");
    const Bytes older = {'o', 'l', 'd'};
    writeFile(target, older);

    EXPECT_EQ(failingCopy(dir(), "SAMPLE TITLE", Overwrite::Refuse),
              FileError::Kind::AlreadyExists);
    EXPECT_EQ(readFile(target), older) << "the existing file changed without consent";
    EXPECT_EQ(namesIn(dir()), (Names{"SAMPLE TITLE.gba", "sample.bin"})) << "stray files left";

    copyToTitle(source, dir(), "SAMPLE TITLE", Overwrite::Replace);
    EXPECT_EQ(readFile(target), image) << "the existing file was not replaced";
}

TEST_F(CopyTest, DirectoryOfTheTargetNameIsNeverReplaced) {
    ASSERT_EQ(::mkdir(path("SAMPLE TITLE.gba").c_str(), 0755), 0);
    EXPECT_EQ(failingCopy(dir(), "SAMPLE TITLE", Overwrite::Replace), FileError::Kind::NotRegular);
    EXPECT_EQ(namesIn(dir()), (Names{"SAMPLE TITLE.gba", "sample.bin"}));
}

// The source itself under the target's name, directly or through a link.
class SameFileCopy : public CopyTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SameFileCopy, RefusedTouchingNothing) {
    const std::string target = path("SAMPLE TITLE.gba");
    const std::string_view how = GetParam();
    if (how == "source_named_like_title") {
        ASSERT_EQ(::rename(source.c_str(), target.c_str()), 0);
        source = target;
    } else if (how == "symbolic_link") {
        ASSERT_EQ(::symlink(source.c_str(), target.c_str()), 0);
    } else {
        ASSERT_EQ(::link(source.c_str(), target.c_str()), 0);
    }
    const Names before = namesIn(dir());

    for (const Overwrite overwrite : {Overwrite::Refuse, Overwrite::Replace})
        EXPECT_EQ(failingCopy(dir(), "SAMPLE TITLE", overwrite), FileError::Kind::SameFile);
    EXPECT_EQ(readFile(source), image) << "the source changed";
    EXPECT_EQ(namesIn(dir()), before) << "files were added or removed";
}

INSTANTIATE_TEST_SUITE_P(Links, SameFileCopy,
                         ::testing::Values("source_named_like_title", "symbolic_link", "hard_link"),
                         [](const auto& info) { return std::string(info.param); });

using NamedTitle = std::pair<const char*, std::string>;

class InvalidTitleCopy : public CopyTest, public ::testing::WithParamInterface<NamedTitle> {};

TEST_P(InvalidTitleCopy, RefusedCreatingNothing) {
    ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0); // a place a '/' could reach
    EXPECT_EQ(failingCopy(dir(), GetParam().second, Overwrite::Replace),
              FileError::Kind::InvalidName);
    EXPECT_EQ(namesIn(dir()), (Names{"sample.bin", "sub"}));
    EXPECT_TRUE(namesIn(path("sub")).empty()) << "a file was placed in the subdirectory";
}

INSTANTIATE_TEST_SUITE_P(Titles, InvalidTitleCopy,
                         ::testing::Values(NamedTitle{"empty", ""}, NamedTitle{"slash", "sub/NAME"},
                                           NamedTitle{"backslash", "sub\\NAME"},
                                           NamedTitle{"colon", "A:B"},
                                           NamedTitle{"tab", "TAB\tNAME"},
                                           NamedTitle{"question_mark", "WHAT?"},
                                           NamedTitle{"bar", "A|B"}),
                         [](const auto& info) { return std::string(info.param.first); });

TEST_F(CopyTest, FullFileSystemLeavesNothingAndKeepsTheTarget) {
    const std::string full = mountSmallTmpfs("full", 64 * 1024);
    if (full.empty())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root outside a restricted container)";
    const std::string target = joinPath(full, "SAMPLE TITLE.gba");
    const Bytes older = {'o', 'l', 'd'};
    writeFile(target, older);

    try {
        copyToTitle(source, full, "SAMPLE TITLE", Overwrite::Replace);
        FAIL() << "a 300000-byte copy fit into 64 KiB";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), ENOSPC) << error.what();
        EXPECT_NE(std::string(error.what()).find(target), std::string::npos) << error.what();
    }
    EXPECT_EQ(namesIn(full), Names{"SAMPLE TITLE.gba"}) << "a partial or temporary file was left";
    EXPECT_EQ(readFile(target), older) << "the existing target was damaged";
}

class AppendTest : public ScratchDirTest {};

TEST_F(AppendTest, CreatesThenAppends) {
    const std::string list = path("list.txt");
    appendToFile(list, "first\n");
    appendToFile(list, "second\n");
    const Bytes expected = {'f', 'i', 'r', 's', 't', '\n', 's', 'e', 'c', 'o', 'n', 'd', '\n'};
    EXPECT_EQ(readFile(list), expected);
}

TEST_F(AppendTest, FullFileSystemLeavesTheFileAsItWas) {
    const std::string full = mountSmallTmpfs("full", 64 * 1024);
    if (full.empty())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root outside a restricted container)";
    const std::string list = joinPath(full, "list.txt");
    const Bytes older = {'o', 'l', 'd', '\n'};
    writeFile(list, older);

    try {
        appendToFile(list, std::string(256 * 1024, 'x'));
        FAIL() << "256 KiB fit into a 64 KiB file system";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), ENOSPC) << error.what();
    }
    EXPECT_EQ(readFile(list), older) << "part of the failed append was left in the file";
}

TEST_F(AppendTest, FullFileSystemCreatesNoEmptyFile) {
    const std::string full = mountSmallTmpfs("full", 64 * 1024);
    if (full.empty())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root outside a restricted container)";
    {
        std::ofstream filler(joinPath(full, "filler"), std::ios::binary);
        filler << std::string(128 * 1024, 'F'); // stops where the file system is full
    }
    const std::string list = joinPath(full, "list.txt");

    try {
        appendToFile(list, "one line\r\n");
        FAIL() << "a line fit into a full file system";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), ENOSPC) << error.what();
    }
    EXPECT_EQ(namesIn(full), Names{"filler"}) << "the failed append left a list file behind";
}

// A press whose append fails takes back only its own bytes, under the list
// file's lock: lines another writer appended after them stay, and a file
// the press created (through a dangling link too) goes again.
struct FailedAppendRow {
    const char* name;
    const char* before; // nullptr: no list file yet
    bool danglingLink;  // list.txt is a link to lists/real.txt, which is missing
    bool otherWriter;   // another program appends between the write and the undoing
    const char* after;  // nullptr: no file left
};

class FailedAppend : public ScratchDirTest,
                     public ::testing::WithParamInterface<FailedAppendRow> {};

TEST_P(FailedAppend, TakesBackOnlyItsOwnBytes) {
    const FailedAppendRow& row = GetParam();
    const std::string list = path("list.txt");
    const std::string real = row.danglingLink ? path("lists/real.txt") : list;
    if (row.danglingLink) {
        ASSERT_EQ(::mkdir(path("lists").c_str(), 0755), 0);
        ASSERT_EQ(::symlink("lists/real.txt", list.c_str()), 0);
    }
    if (row.before)
        writeFile(real, Bytes(row.before, row.before + std::strlen(row.before)));

    bool lockedMeanwhile = false;
    const SyscallFault failingSync("fsync", EIO, [&] {
        const int other = ::open(list.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        lockedMeanwhile = ::flock(other, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (row.otherWriter && ::write(other, "other\n", 6) != 6)
            ADD_FAILURE() << "the other writer could not append";
        ::close(other);
    });
    try {
        appendToFile(list, "ours\n");
        ADD_FAILURE() << "the append did not fail";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), EIO) << error.what();
    }
    EXPECT_EQ(failingSync.hits(), 1);
    EXPECT_TRUE(lockedMeanwhile) << "the list file was not locked during the append";
    if (row.after) {
        EXPECT_EQ(readFile(real), Bytes(row.after, row.after + std::strlen(row.after)));
    } else {
        EXPECT_NE(::access(real.c_str(), F_OK), 0) << "the failed press left " << real;
    }
    struct stat link {};
    if (row.danglingLink) {
        EXPECT_TRUE(::lstat(list.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            << "the link was replaced";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, FailedAppend,
    ::testing::Values(
        FailedAppendRow{"existing_file_cut_back", "old\n", false, false, "old\n"},
        FailedAppendRow{"other_writers_lines_kept", "old\n", false, true, "old\nours\nother\n"},
        FailedAppendRow{"created_file_removed", nullptr, false, false, nullptr},
        FailedAppendRow{"created_file_kept_for_other_writer", nullptr, false, true,
                        "ours\nother\n"},
        FailedAppendRow{"dangling_links_target_removed", nullptr, true, false, nullptr},
        FailedAppendRow{"dangling_links_target_kept_for_other_writer", nullptr, true, true,
                        "ours\nother\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A termination signal during a failing append ends the program only after
// the append took its bytes back, under no guard but the append's own.
using TerminatedAppendRow = std::pair<const char*, const char*>; // name, list before

class TerminatedAppend : public ScratchDirTest,
                         public ::testing::WithParamInterface<TerminatedAppendRow> {};

TEST_P(TerminatedAppend, TakesItsBytesBackBeforeTheEnd) {
    const char* const before = GetParam().second;
    const std::string list = path("list.txt");
    if (before)
        writeFile(list, Bytes(before, before + std::strlen(before)));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const SyscallFault failingSync("fsync", EIO, [] { ::kill(::getpid(), SIGTERM); });
        try {
            appendToFile(list, "ours\n");
        } catch (const FileError&) {
        }
        ::_exit(0);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
        << "the appending process was not ended by SIGTERM; status " << status;
    if (before) {
        EXPECT_EQ(readFile(list), Bytes(before, before + std::strlen(before)));
    } else {
        EXPECT_NE(::access(list.c_str(), F_OK), 0) << "the ended append left the file it created";
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, TerminatedAppend,
                         ::testing::Values(TerminatedAppendRow{"existing_file_cut_back", "old\n"},
                                           TerminatedAppendRow{"created_file_removed", nullptr}),
                         [](const auto& info) { return std::string(info.param.first); });

// While another program holds the list file's lock, the append waits without
// blocking, asking progress between tries: a "stop" ends it appending
// nothing, otherwise it appends once the lock is given up.
using LockRow = std::pair<const char*, bool>; // name, whether progress says stop

class LockedAppend : public ScratchDirTest, public ::testing::WithParamInterface<LockRow> {};

TEST_P(LockedAppend, WaitsAskingProgress) {
    const bool stop = GetParam().second;
    const std::string list = path("list.txt");
    writeFile(list, {'o', 'l', 'd', '\n'});
    int locked[2], release[2];
    ASSERT_TRUE(::pipe(locked) == 0 && ::pipe(release) == 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(release[1]);
        const int fd = ::open(list.c_str(), O_RDONLY | O_CLOEXEC);
        char end = 0;
        const bool held = ::flock(fd, LOCK_EX) == 0 && ::write(locked[1], "l", 1) == 1;
        ::_exit(held && ::read(release[0], &end, 1) >= 0 ? 0 : 2); // the exit unlocks
    }
    ::close(release[0]);
    ::close(locked[1]);
    char answer = 0;
    ASSERT_EQ(::read(locked[0], &answer, 1), 1) << "the other program could not lock";
    ::close(locked[0]);
    int calls = 0;
    const auto progress = [&](std::uint64_t, std::uint64_t) {
        if (++calls == 3 && !stop)
            ::close(std::exchange(release[1], -1)); // the holder gives the lock up
        return !(stop && calls == 3);
    };
    try {
        appendToFile(list, "ours\n", progress);
        EXPECT_FALSE(stop) << "the append went on after progress said stop";
    } catch (const FileError& error) {
        EXPECT_TRUE(stop && error.kind() == FileError::Kind::Cancelled) << error.what();
    }
    EXPECT_GE(calls, 3) << "the append did not wait for the lock";
    ::close(release[1]);
    ::waitpid(holder, nullptr, 0);
    const std::string after = stop ? "old\n" : "old\nours\n";
    EXPECT_EQ(readFile(list), Bytes(after.begin(), after.end()));
}

INSTANTIATE_TEST_SUITE_P(Answers, LockedAppend,
                         ::testing::Values(LockRow{"stopped_appends_nothing", true},
                                           LockRow{"appends_once_unlocked", false}),
                         [](const auto& info) { return std::string(info.param.first); });

} // namespace

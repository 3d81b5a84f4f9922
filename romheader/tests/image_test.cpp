// Reading and retitling images on disk, and refusing what is not one.
#include "romheader/imageinfo.h"
#include "romheader/romheader.h"
#include "romheader/termination.h"
#include "romheader/tests/lease_holder.h"
#include "romheader/tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace {

using namespace kelvo;
using namespace kelvo::test;

constexpr std::int64_t kSampleLength = 4194304;

class ImageFileTest : public ScratchDirTest {};

TEST_F(ImageFileTest, ReadsTheSampleHeaderAndSize) {
    const std::string image = path("sample.gba");
    writeFile(image, sampleImage());
    ASSERT_EQ(::truncate(image.c_str(), kSampleLength), 0) << "could not extend the sample image";

    RomHeader header;
    readHeader(image, header);
    EXPECT_EQ(visibleText(header.title), "SAMPLE TITLE");
    EXPECT_EQ(header.gameType, 'A');
    EXPECT_EQ(visibleText(header.cartId), "XY");
    EXPECT_EQ(header.territory, 'J');
    EXPECT_EQ(visibleText(header.makerCode), "01");
    EXPECT_EQ(header.sizeBytes, kSampleLength);
    EXPECT_EQ(header.sizeMbit, 32);
    EXPECT_EQ(header.storedCheck, 0x50);
    EXPECT_TRUE(header.checkValid()) << "computed check " << int{header.computedCheck};
    EXPECT_EQ(imageLength(image), kSampleLength);
}

// Whatever lies past the end of a short image reads as NUL.
class ShortImageRead : public ScratchDirTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(ShortImageRead, FieldsPastTheEndAreNul) {
    const std::size_t length = GetParam();
    const Bytes bytes = sampleImage(length);
    const std::string image = path("short.gba");
    writeFile(image, bytes);

    RomHeader header;
    ASSERT_NO_THROW(readHeader(image, header)) << "a " << length << "-byte image must read";
    const auto expected = [&](std::size_t offset) -> int {
        return offset < length ? bytes[offset] : 0;
    };
    for (std::size_t i = 0; i < kTitleWidth; ++i)
        EXPECT_EQ(header.title[i], expected(kTitleOffset + i)) << "title byte " << i;
    EXPECT_EQ(header.gameType, expected(kGameTypeOffset));
    EXPECT_EQ(header.cartId[1], expected(kCartIdOffset + 1));
    EXPECT_EQ(header.territory, expected(kTerritoryOffset));
    EXPECT_EQ(header.makerCode[1], expected(kMakerOffset + 1));
    EXPECT_EQ(header.storedCheck, expected(kCheckOffset));
    EXPECT_EQ(header.sizeBytes, static_cast<std::int64_t>(length));
}

std::string lengthName(const ::testing::TestParamInfo<std::size_t>& info) {
    return std::to_string(info.param) + "_bytes";
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortImageRead, ::testing::Values(0, 100, 0xA5, 0xB1, 0xBD, 0xBE),
                         lengthName);

// Retitling changes the 12 title bytes, and the check byte only when it was
// valid before; nothing else and not the length.
struct RetitleRow {
    const char* name;
    const char* title;
    std::optional<std::uint8_t> storedCheck; // replaces the valid 0x50
    std::uint8_t checkAfter;
    bool validAfter; // what writeTitle says of the check byte after the write
};

class Retitle : public ScratchDirTest, public ::testing::WithParamInterface<RetitleRow> {};

TEST_P(Retitle, ChangesOnlyTitleAndCheck) {
    const RetitleRow& row = GetParam();
    Bytes before = sampleImage();
    if (row.storedCheck)
        before[kCheckOffset] = *row.storedCheck;
    const std::string image = path("sample.gba");
    writeFile(image, before);

    const TitleBytes title = encodeTitle(row.title);
    const TitleWritten written = writeTitle(image, title);
    EXPECT_EQ(written.header.checkValid(), row.validAfter) << "wrong word on the check byte";
    EXPECT_EQ(written.checkWasValid, !row.storedCheck) << "wrong word on the check before";
    EXPECT_EQ(written.header.title, title);

    Bytes expected = before;
    std::copy(title.begin(), title.end(), expected.begin() + kTitleOffset);
    expected[kCheckOffset] = row.checkAfter;
    const Bytes after = readFile(image);
    ASSERT_EQ(after.size(), before.size()) << "the image's length changed";
    for (std::size_t i = 0; i < after.size(); ++i)
        ASSERT_EQ(after[i], expected[i]) << "byte 0x" << std::hex << i << " is wrong";
}

INSTANTIATE_TEST_SUITE_P(
    Titles, Retitle,
    ::testing::Values(RetitleRow{"valid_check_kept_valid", "MY GAME", std::nullopt, 0x34, true},
                      RetitleRow{"new_title_valid_check", "NEW TITLE", std::nullopt, 0xC8, true},
                      RetitleRow{"wrong_check_left_alone", "NEW TITLE", 0x12, 0x12, false},
                      // 0x34 is the check of "MY GAME" blank-padded (by Python).
                      RetitleRow{"wrong_check_made_right_by_the_title", "MY GAME", 0x34, 0x34,
                                 true}),
    [](const auto& info) { return std::string(info.param.name); });

class ShortImageWrite : public ScratchDirTest, public ::testing::WithParamInterface<std::size_t> {};

// Writing a title and repairing the header (planning it, or writing a plan).
TEST_P(ShortImageWrite, RefusedAndUnchanged) {
    const Bytes before = sampleImage(GetParam());
    const std::string image = path("short.gba");
    writeFile(image, before);
    const std::function<void()> writes[] = {
        [&] { writeTitle(image, encodeTitle("NEW TITLE")); }, [&] { (void)planRepair(image); },
        [&] {
            repairHeader(image, {{{kCheckOffset, 0, 1}}, false});
        }};
    for (const auto& write : writes) {
        try {
            write();
            ADD_FAILURE() << "a " << GetParam() << "-byte image was written";
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::TooShort) << error.what();
            EXPECT_NE(std::string(error.what()).find(image), std::string::npos) << error.what();
        }
    }
    EXPECT_EQ(readFile(image), before) << "a refused image was changed";
}

INSTANTIATE_TEST_SUITE_P(Lengths, ShortImageWrite, ::testing::Values(0, 100, 191), lengthName);

// Given the identity of the file whose header was read, the write, the copy
// and the repair refuse another file renamed over its path since, and go on
// with the file itself.
using IdentityOperation = std::function<void(const std::string&, const FileIdentity*)>;
struct IdentityRow {
    const char* name;
    IdentityOperation operation;
    bool replaced;
};

class ReplacedImage : public ScratchDirTest, public ::testing::WithParamInterface<IdentityRow> {};

TEST_P(ReplacedImage, RefusedTouchingNothing) {
    const IdentityRow& row = GetParam();
    Bytes bytes = sampleImage();
    bytes[kCheckOffset] = 0x51; // something to repair
    const std::string image = path("sample.gba");
    writeFile(image, bytes);
    RomHeader shown;
    readHeader(image, shown);
    if (row.replaced) {
        // The same bytes in another file: only its identity tells them apart.
        writeFile(path("other.gba"), bytes);
        ASSERT_EQ(::rename(path("other.gba").c_str(), image.c_str()), 0);
    }
    try {
        row.operation(image, &shown.identity);
        EXPECT_FALSE(row.replaced) << "the file renamed over the image was used";
    } catch (const FileError& error) {
        EXPECT_TRUE(row.replaced && error.kind() == FileError::Kind::Changed) << error.what();
        EXPECT_NE(std::string(error.what()).find(image), std::string::npos) << error.what();
    }
    if (row.replaced) {
        EXPECT_EQ(readFile(image), bytes) << "the other file changed";
        EXPECT_EQ(namesIn(dir()), std::vector<std::string>{"sample.gba"}) << "a file was made";
    }
}

const IdentityOperation kWriteShown = [](const std::string& p, const FileIdentity* shown) {
    (void)writeTitle(p, encodeTitle("NEW TITLE"), shown);
};
const IdentityOperation kCopyShown = [](const std::string& p, const FileIdentity* shown) {
    (void)copyToTitle(p, p.substr(0, p.rfind('/')), "COPY", Overwrite::Refuse, {}, shown);
};
const IdentityOperation kRepairShown = [](const std::string& p, const FileIdentity* shown) {
    repairHeader(p, planRepair(p), shown);
};

INSTANTIATE_TEST_SUITE_P(Operations, ReplacedImage,
                         ::testing::Values(IdentityRow{"write_replaced", kWriteShown, true},
                                           IdentityRow{"copy_replaced", kCopyShown, true},
                                           IdentityRow{"repair_replaced", kRepairShown, true},
                                           IdentityRow{"write_shown_file", kWriteShown, false},
                                           IdentityRow{"copy_shown_file", kCopyShown, false},
                                           IdentityRow{"repair_shown_file", kRepairShown, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageFileTest, WholeHeaderOf192BytesIsWritable) {
    const std::string image = path("exact.gba");
    writeFile(image, sampleImage(kMinWritableLength));
    writeTitle(image, encodeTitle("NEW TITLE"));
    RomHeader header;
    readHeader(image, header);
    EXPECT_EQ(visibleText(header.title), "NEW TITLE   ");
    EXPECT_EQ(header.sizeBytes, kMinWritableLength);
    EXPECT_TRUE(header.checkValid());
}

TEST_F(ImageFileTest, VanishedImageIsNotCreated) {
    const std::string image = path("gone.gba");
    try {
        writeTitle(image, encodeTitle("NEW TITLE"));
        FAIL() << "writing a missing image did not fail";
    } catch (const FileError& error) {
        EXPECT_EQ(error.code(), ENOENT);
        EXPECT_EQ(std::string(error.what()),
                  "Cannot open \"" + image + "\": No such file or directory");
    }
    EXPECT_TRUE(namesIn(dir()).empty()) << "writeTitle created a file";
}

using Operation = std::function<void(const std::string&)>;

// Every operation on a path that is not a regular file fails at once with the
// path and the reason; a FIFO must never block.
struct NotAnImageRow {
    const char* name;
    const char* node; // "missing", "directory", "fifo" or "device" (a link to /dev/null)
    Operation operation;
    FileError::Kind kind;
    const char* reason;
};

class NotAnImage : public ScratchDirTest, public ::testing::WithParamInterface<NotAnImageRow> {};

TEST_P(NotAnImage, FailsAtOnceWithPathAndReason) {
    const NotAnImageRow& row = GetParam();
    const std::string target = path("x.gba");
    if (std::string_view(row.node) == "directory") {
        ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    } else if (std::string_view(row.node) == "fifo") {
        ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0);
    } else if (std::string_view(row.node) == "device") {
        ASSERT_EQ(::symlink("/dev/null", target.c_str()), 0);
    }

    ::alarm(10); // a blocking open would hang here; the alarm ends the test instead
    try {
        row.operation(target);
        ADD_FAILURE() << "no error for a " << row.node;
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), row.kind) << error.what();
        const std::string message = error.what();
        EXPECT_NE(message.find('"' + target + '"'), std::string::npos) << message;
        EXPECT_NE(message.find(row.reason), std::string::npos) << message;
    }
    ::alarm(0);
    struct stat left {};
    if (std::string_view(row.node) == "missing") {
        EXPECT_NE(::lstat(target.c_str(), &left), 0) << "a missing image was created";
    }
}

const auto kMeasure = [](const std::string& p) { (void)imageLength(p); };
const auto kRead = [](const std::string& p) {
    RomHeader header;
    readHeader(p, header);
};
const auto kWrite = [](const std::string& p) { writeTitle(p, encodeTitle("X")); };
const auto kAppend = [](const std::string& p) { appendToFile(p, "line\n"); };
const auto kCopy = [](const std::string& p) { (void)copyToTitle(p, "/nonexistent", "T"); };
const auto kScan = [](const std::string& p) { (void)scanImage(p); };
const auto kRepair = [](const std::string& p) { repairHeader(p, {{{0xBD, 0, 1}}, false}); };

using K = FileError::Kind;
INSTANTIATE_TEST_SUITE_P(
    Paths, NotAnImage,
    ::testing::Values(
        NotAnImageRow{"measure_missing", "missing", kMeasure, K::System, "No such file"},
        NotAnImageRow{"read_missing", "missing", kRead, K::System, "No such file"},
        NotAnImageRow{"copy_missing", "missing", kCopy, K::System, "No such file"},
        NotAnImageRow{"scan_missing", "missing", kScan, K::System, "No such file"},
        NotAnImageRow{"repair_missing", "missing", kRepair, K::System, "No such file"},
        NotAnImageRow{"scan_directory", "directory", kScan, K::NotRegular, "directory"},
        NotAnImageRow{"repair_directory", "directory", kRepair, K::NotRegular, "directory"},
        NotAnImageRow{"scan_fifo", "fifo", kScan, K::NotRegular, "FIFO"},
        NotAnImageRow{"repair_fifo", "fifo", kRepair, K::NotRegular, "FIFO"},
        NotAnImageRow{"measure_directory", "directory", kMeasure, K::NotRegular, "directory"},
        NotAnImageRow{"read_directory", "directory", kRead, K::NotRegular, "directory"},
        NotAnImageRow{"write_directory", "directory", kWrite, K::NotRegular, "directory"},
        NotAnImageRow{"append_directory", "directory", kAppend, K::NotRegular, "directory"},
        NotAnImageRow{"copy_directory", "directory", kCopy, K::NotRegular, "directory"},
        NotAnImageRow{"measure_fifo", "fifo", kMeasure, K::NotRegular, "FIFO"},
        NotAnImageRow{"read_fifo", "fifo", kRead, K::NotRegular, "FIFO"},
        NotAnImageRow{"write_fifo", "fifo", kWrite, K::NotRegular, "FIFO"},
        NotAnImageRow{"append_fifo", "fifo", kAppend, K::NotRegular, "FIFO"},
        NotAnImageRow{"copy_fifo", "fifo", kCopy, K::NotRegular, "FIFO"},
        NotAnImageRow{"read_device", "device", kRead, K::NotRegular, "character device"},
        NotAnImageRow{"write_device", "device", kWrite, K::NotRegular, "character device"},
        NotAnImageRow{"append_device", "device", kAppend, K::NotRegular, "character device"}),
    [](const auto& info) { return std::string(info.param.name); });

// Another process holding a lease on an image (a file server's oplock or
// delegation) makes an open wait until it gives the lease up, as cat's
// open would, instead of failing; the wait observer hears of the wait.
struct RecordingObserver : WaitObserver {
    bool goOn(const std::string& path) override {
        asked.push_back(path);
        return int(asked.size()) != stopAt;
    }
    void waitEnded() override { ++ends; }
    int stopAt = 0; // 0: never stop
    std::vector<std::string> asked;
    int ends = 0;
};

class LeasedImage : public ScratchDirTest,
                    public ::testing::WithParamInterface<std::pair<const char*, Operation>> {};

TEST_P(LeasedImage, OpensOnceTheHolderGivesTheLeaseUp) {
    const std::string image = path("leased.gba");
    writeFile(image, sampleImage());
    const pid_t holder = holdLease(image, true);
    if (holder < 0)
        GTEST_SKIP() << "cannot take a lease here";

    RecordingObserver observer;
    setWaitObserver(&observer);
    EXPECT_NO_THROW(GetParam().second(image)) << "the leased image could not be opened";
    setWaitObserver(nullptr);
    EXPECT_FALSE(observer.asked.empty()) << "the wait was not told as it happened";
    EXPECT_EQ(observer.asked.front(), image) << "the wait named another file";
    EXPECT_EQ(observer.ends, 1) << "the end of the wait was not told once";
    int status = -1;
    ASSERT_EQ(::waitpid(holder, &status, 0), holder);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the holder was not asked to give the lease up; status " << status;
}

// A holder that never gives the lease up: the observer's "stop", or a
// termination signal under a guard, ends the wait at once, long before the
// kernel would break the lease. The holder, which ends itself after 30 s,
// must still be there.
class EndlessLease : public ScratchDirTest,
                     public ::testing::WithParamInterface<std::pair<const char*, bool>> {};

TEST_P(EndlessLease, WaitEndsOnStopOrSignal) {
    const bool bySignal = GetParam().second;
    const std::string image = path("leased.gba");
    writeFile(image, sampleImage());
    const pid_t holder = holdLease(image, false);
    if (holder < 0)
        GTEST_SKIP() << "cannot take a lease here";

    if (bySignal) {
        // The copy of the program waits in a child, under a guard as the
        // program's long operations run, and is sent SIGTERM once it waits.
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(20);
            struct Signalling : RecordingObserver {
                int fd = -1;
                bool goOn(const std::string& path) override {
                    if (asked.empty() && ::write(fd, "w", 1) != 1)
                        ::_exit(3);
                    return RecordingObserver::goOn(path);
                }
            } observer;
            observer.fd = pipeFds[1];
            setWaitObserver(&observer);
            {
                const TerminationGuard guard;
                try {
                    RomHeader header;
                    readHeader(image, header);
                } catch (const FileError& error) {
                    if (error.kind() != FileError::Kind::Cancelled)
                        ::_exit(4);
                }
            }
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        char waiting = 0;
        if (::read(pipeFds[0], &waiting, 1) == 1)
            ::kill(child, SIGTERM);
        ::close(pipeFds[0]);
        int status = -1;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
            << "the waiting process was not ended by SIGTERM; status " << status;
    } else {
        RecordingObserver observer;
        observer.stopAt = 3;
        setWaitObserver(&observer);
        try {
            RomHeader header;
            readHeader(image, header);
            ADD_FAILURE() << "the open went on after the observer said stop";
        } catch (const FileError& error) {
            EXPECT_EQ(error.kind(), FileError::Kind::Cancelled) << error.what();
            EXPECT_EQ(error.path(), image);
        }
        setWaitObserver(nullptr);
        EXPECT_EQ(observer.asked.size(), 3u);
        EXPECT_EQ(observer.ends, 1) << "the end of the wait was not told once";
    }
    EXPECT_EQ(::waitpid(holder, nullptr, WNOHANG), 0) << "the wait outlasted the holder";
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
}

INSTANTIATE_TEST_SUITE_P(Stops, EndlessLease,
                         ::testing::Values(std::pair<const char*, bool>{"observer_says_stop",
                                                                        false},
                                           std::pair<const char*, bool>{"sigterm_in_guard", true}),
                         [](const auto& info) { return std::string(info.param.first); });

INSTANTIATE_TEST_SUITE_P(Operations, LeasedImage,
                         ::testing::Values(std::pair<const char*, Operation>{"read", kRead},
                                           std::pair<const char*, Operation>{"write", kWrite},
                                           std::pair<const char*, Operation>{
                                               "copy",
                                               [](const std::string& p) {
                                                   const std::string dir =
                                                       p.substr(0, p.rfind('/'));
                                                   (void)copyToTitle(p, dir, "LEASED");
                                               }}),
                         [](const auto& info) { return std::string(info.param.first); });

} // namespace

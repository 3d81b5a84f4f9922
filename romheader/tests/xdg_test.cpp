// Where kept files live, and replacing one so it is never half-written.
#include "romheader/xdg.h"
#include "romheader/tests/scratch_dir.h"
#include "romheader/tests/syscall_faults.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <optional>

namespace {

using namespace kelvo;
using namespace kelvo::test;

// Sets an environment variable for one test, restoring it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct XdgRow {
    const char* name;
    std::optional<std::string> configHome;
    std::optional<std::string> cacheHome;
    std::string config;
    std::string cache;
};

class XdgDirectories : public ::testing::TestWithParam<XdgRow> {};

TEST_P(XdgDirectories, FollowTheBaseDirectoryRules) {
    const XdgRow& row = GetParam();
    const ScopedEnv home("HOME", "/home/user");
    const ScopedEnv config("XDG_CONFIG_HOME", row.configHome);
    const ScopedEnv cache("XDG_CACHE_HOME", row.cacheHome);
    EXPECT_EQ(configDirectory(), row.config);
    EXPECT_EQ(cacheDirectory(), row.cache);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, XdgDirectories,
    ::testing::Values(
        XdgRow{"unset", std::nullopt, std::nullopt, "/home/user/.config/kelvo-gba",
               "/home/user/.cache/kelvo-gba"},
        XdgRow{"set", "/x/conf", "/y/cache", "/x/conf/kelvo-gba", "/y/cache/kelvo-gba"},
        // Relative and empty values are invalid and ignored.
        XdgRow{"relative", "conf", "", "/home/user/.config/kelvo-gba",
               "/home/user/.cache/kelvo-gba"}),
    [](const auto& info) { return std::string(info.param.name); });

using AtomicReplace = ScratchDirTest;

TEST_F(AtomicReplace, ReplacesWholeKeepingTheModeAndLeavesNothingElse) {
    const std::string target = path("lists");
    writeFile(target, {'o', 'l', 'd'});
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    replaceFileAtomically(target, "new contents\n");
    const Bytes expected{'n', 'e', 'w', ' ', 'c', 'o', 'n', 't', 'e', 'n', 't', 's', '\n'};
    EXPECT_EQ(readFile(target), expected);
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "the replaced file keeps its permissions";
    EXPECT_EQ(namesIn(dir()), std::vector<std::string>{"lists"});
}

TEST_F(AtomicReplace, AFailedWriteKeepsTheOldFile) {
    const std::string target = path("lists");
    writeFile(target, {'o', 'l', 'd'});
    {
        SyscallFault full("fsync", ENOSPC);
        EXPECT_THROW(replaceFileAtomically(target, "new"), FileError);
        EXPECT_GT(full.hits(), 0);
    }
    EXPECT_EQ(readFile(target), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(namesIn(dir()), std::vector<std::string>{"lists"}) << "no temporary file stays";
}

TEST_F(AtomicReplace, MakesMissingDirectoriesPrivate) {
    const std::string nested = path("a/b/kelvo-gba");
    makeDirectories(nested);
    struct stat info {};
    ASSERT_EQ(::stat(nested.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

} // namespace

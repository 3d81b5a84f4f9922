#include "romheader/dirlist.h"
#include "romheader/romheader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using kelvo::FileError;
using Names = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Pure functions, table-driven.

struct PatternListCase {
    const char* list;
    Names expected;
};

TEST(ParsePatterns, SplitsAtSemicolonsAndDropsBlanks) {
    const PatternListCase cases[] = {
        {"*.bin ;*.gba ;*.agb", {"*.bin", "*.gba", "*.agb"}},
        {"*.bin", {"*.bin"}},
        {"", {}},
        {" ; ;\t;", {}},
        {"\t*.gba\t;;  *.bin  ", {"*.gba", "*.bin"}},
        {"my file.*;", {"my file.*"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelvo::parsePatterns(c.list), c.expected) << "pattern list \"" << c.list << '"';
}

struct MatchCase {
    const char* name;
    const char* pattern;
    bool matches;
};

TEST(MatchesPattern, WildcardsIgnoringAsciiCase) {
    const MatchCase cases[] = {
        {"game.gba", "*.gba", true},
        {"GAME.GBA", "*.gba", true},
        {"game.gba", "*.GbA", true},
        {"game.gbax", "*.gba", false},
        {"game.gb", "*.gba", false},
        {".gba", "*.gba", true},
        {"a.b.gba", "*.gba", true},
        {"gba", "*.gba", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abbc", "a?c", false},
        {"", "*", true},
        {"", "?", false},
        {"", "", true},
        {"x", "", false},
        {"mississippi", "*sip*", true},
        {"mississippi", "m*ss*pi", true},
        {"mississippi", "m*ss*pix", false},
        {"abcd", "*c", false},
        {"aaaa", "*a*a*a*a*", true},
        {"aaa", "*a*a*a*a*", false},
        {"README", "*.*", false},
        {"\xC3\x89.gba", "\xC3\xA9.gba", false}, // only ASCII letters fold
        {"\xFF.gba", "?.gba", true},             // '?' is one byte
        {"game.gba.txt", "*.gba", false},        // a suffix is compared at the end only
        {"ba", "*.gba", false},
        {"x.\xC3\x89", "*.\xC3\xA9", false}, // nor does a suffix fold other bytes
        {"game.gba", "*", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelvo::matchesPattern(c.name, c.pattern), c.matches)
            << "name \"" << c.name << "\" pattern \"" << c.pattern << '"';
}

struct OrderCase {
    const char* a;
    const char* b;
    bool less;
};

TEST(NameLess, IgnoresCaseThenBreaksTiesByBytes) {
    const OrderCase cases[] = {
        {"apple", "Banana", true}, {"Banana", "apple", false}, {"A.bin", "a.bin", true},
        {"a.bin", "A.bin", false}, {"a.bin", "a.bin", false},  {"a", "AB", true},
        {"AB", "a", false},        {"Zeta", "alpha", false},   {"_x", "a", true},
        {"z", "\xC3\xA9", true}, // bytes above ASCII sort after it
    };
    for (const auto& c : cases)
        EXPECT_EQ(kelvo::nameLess(c.a, c.b), c.less) << '"' << c.a << "\" < \"" << c.b << '"';
}

struct AncestorsCase {
    const char* path;
    Names ancestors;
    const char* base;
};

TEST(Paths, AncestorsAndBaseName) {
    const AncestorsCase cases[] = {
        {"/", {"/"}, "/"},
        {"/roms", {"/", "/roms"}, "roms"},
        {"/media/card/gba", {"/", "/media", "/media/card", "/media/card/gba"}, "gba"},
        {"/media/card/", {"/", "/media", "/media/card"}, "card"},
        {"//media//card", {"/", "/media", "/media/card"}, "card"},
        {"roms/gba", {"roms", "roms/gba"}, "gba"},
        {"", {}, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kelvo::ancestorsOf(c.path), c.ancestors) << "ancestors of \"" << c.path << '"';
        EXPECT_EQ(kelvo::baseName(c.path), c.base) << "base name of \"" << c.path << '"';
    }
}

// ---------------------------------------------------------------------------
// Listings, each in a fresh temporary directory.

class DirListing : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "dirlist-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    [[nodiscard]] std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void makeFile(const std::string& name) const {
        std::ofstream(path(name)) << "x";
        ASSERT_TRUE(std::filesystem::is_regular_file(path(name))) << "could not create " << name;
    }
    void makeDir(const std::string& name) const {
        ASSERT_EQ(::mkdir(path(name).c_str(), 0755), 0) << name << ": " << std::strerror(errno);
    }
    void makeLink(const std::string& target, const std::string& name) const {
        ASSERT_EQ(::symlink(target.c_str(), path(name).c_str()), 0)
            << name << ": " << std::strerror(errno);
    }

    std::string dir_;
};

const Names kImagePatterns = kelvo::parsePatterns("*.bin ;*.gba ;*.agb");

TEST_F(DirListing, FilesAreVisibleMatchingRegularFilesInNameOrder) {
    for (const char* name : {"b.gba", "a.bin", "A.bin", "C.AGB", ".hidden.gba", "notes.txt"})
        makeFile(name);
    makeDir("folder.gba");
    makeLink("b.gba", "link.gba");
    makeLink("missing.gba", "dangling.gba");
    makeLink("folder.gba", "dirlink.gba");
    ASSERT_EQ(::mkfifo(path("pipe.gba").c_str(), 0644), 0) << std::strerror(errno);

    EXPECT_EQ(kelvo::listMatchingFiles(dir_, kImagePatterns),
              (Names{"A.bin", "a.bin", "b.gba", "C.AGB", "link.gba"}))
        << "hidden names, directories, dangling links and FIFOs must be left out";
}

TEST_F(DirListing, PatternsSelectFiles) {
    for (const char* name : {"one.bin", "two.gba", "readme"})
        makeFile(name);
    EXPECT_EQ(kelvo::listMatchingFiles(dir_, {"*"}), (Names{"one.bin", "readme", "two.gba"}));
    EXPECT_EQ(kelvo::listMatchingFiles(dir_, {"*.BIN"}), (Names{"one.bin"}));
    EXPECT_EQ(kelvo::listMatchingFiles(dir_, {}), Names{}) << "no pattern matches nothing";
}

TEST_F(DirListing, ListingsSortAsNameLess) {
    for (const char* name : {"b", "_x", "AB", "a", "Ab", "z", "\xC3\xA9", "[1]"})
        makeFile(name);
    EXPECT_EQ(kelvo::listMatchingFiles(dir_, {"*"}),
              (Names{"[1]", "_x", "a", "AB", "Ab", "b", "z", "\xC3\xA9"}));
}

TEST_F(DirListing, NonUtf8NameKeepsItsBytes) {
    const std::string name = "caf\xE9\xFF.gba"; // Latin-1 bytes, not valid UTF-8
    makeFile(name);
    const Names listed = kelvo::listMatchingFiles(dir_, kImagePatterns);
    ASSERT_EQ(listed, Names{name});
    const int fd = ::open(path(listed.front()).c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << "the listed name must open the file: " << std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
}

TEST_F(DirListing, SubdirectoriesIncludeLinksToDirectories) {
    for (const char* name : {"beta", "Alpha", ".git", "alpha"})
        makeDir(name);
    makeFile("file");
    makeLink("Alpha", "toAlpha");
    makeLink("file", "toFile");
    makeLink("nowhere", "dangling");
    EXPECT_EQ(kelvo::listSubdirectories(dir_), (Names{"Alpha", "alpha", "beta", "toAlpha"}));
}

TEST_F(DirListing, UnreadableDirectoryThrowsWithPathAndReason) {
    makeFile("plain");
    struct Case {
        std::string directory;
        int code;
    };
    const Case cases[] = {{path("missing"), ENOENT}, {path("plain"), ENOTDIR}};
    for (const auto& c : cases) {
        for (int which = 0; which < 2; ++which) {
            try {
                if (which == 0)
                    (void)kelvo::listMatchingFiles(c.directory, kImagePatterns);
                else
                    (void)kelvo::listSubdirectories(c.directory);
                ADD_FAILURE() << "listing " << c.directory << " must throw";
            } catch (const FileError& e) {
                EXPECT_EQ(e.kind(), FileError::Kind::System) << c.directory;
                EXPECT_EQ(e.code(), c.code) << c.directory;
                EXPECT_EQ(e.path(), c.directory);
                const std::string message = e.what();
                EXPECT_NE(message.find(c.directory), std::string::npos) << message;
                EXPECT_NE(message.find(std::strerror(c.code)), std::string::npos) << message;
            }
        }
    }
}

} // namespace

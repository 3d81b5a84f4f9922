// Copying an image to its title's name and appending to the list file:
// nothing lost, nothing half-written, nothing left behind.
#include "romheader/romheader.h"
#include "romheader/tests/scratch_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Names = std::vector<std::string>;

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

TEST_F(CopyTest, CreatesTitleNamedCopyAndKeepsTheSource) {
    ASSERT_EQ(::chmod(source.c_str(), 0640), 0);
    const std::string made = copyToTitle(source, dir(), "SAMPLE TITLE");
    EXPECT_EQ(made, path("SAMPLE TITLE.gba"));
    EXPECT_EQ(readFile(made), image) << "the copy's bytes differ from the source's";
    EXPECT_EQ(readFile(source), image) << "the source changed";
    EXPECT_EQ(namesIn(dir()), (Names{"SAMPLE TITLE.gba", "sample.bin"})) << "stray files left";
    struct stat info {};
    ASSERT_EQ(::stat(made.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "the copy does not keep the source's permissions";
}

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

} // namespace

// Renaming an image to its list name with its save files: every route the
// file systems allow, never over another file, nothing renamed in part.
#include "romheader/rename.h"
#include "romheader/tests/scratch_dir.h"
#include "romheader/tests/syscall_faults.h"

#include <unistd.h>

#include <deque>
#include <map>

namespace {

using namespace kelvo;
using namespace kelvo::test;
using Files = std::map<std::string, std::string>; // name -> contents

struct Fault {
    const char* call;
    int error;
    // Makes this file (contents "racer") at this failing call, counted from 1.
    const char* racer = nullptr;
    int racerAt = 1;
};

struct RenameRow {
    const char* name;
    std::vector<Fault> faults;
    Files before;
    std::string image;
    std::string newName;
    Files after;         // the directory afterwards
    std::string failure; // what() after the directory's path and '/', or empty
};

class ImageRename : public ScratchDirTest, public ::testing::WithParamInterface<RenameRow> {
protected:
    Files contents() {
        Files files;
        for (const std::string& name : namesIn(dir())) {
            const Bytes bytes = readFile(path(name));
            files[name] = std::string(bytes.begin(), bytes.end());
        }
        return files;
    }
};

TEST_P(ImageRename, RenamesWithSavesOrChangesNothing) {
    const RenameRow& row = GetParam();
    for (const auto& [name, text] : row.before)
        writeFile(path(name), Bytes(text.begin(), text.end()));
    std::deque<SyscallFault> faults;
    for (const Fault& fault : row.faults) {
        auto calls = std::make_shared<int>(0);
        faults.emplace_back(fault.call, fault.error, [this, fault, calls] {
            if (fault.racer && ++*calls == fault.racerAt)
                writeFile(path(fault.racer), Bytes{'r', 'a', 'c', 'e', 'r'});
        });
    }
    try {
        const auto renames = renameImage(path(row.image), row.newName);
        EXPECT_EQ(row.failure, "") << "the rename did not fail";
        EXPECT_EQ(renames.front(), (Rename{path(row.image), path(row.newName)}));
    } catch (const FileError& error) {
        EXPECT_EQ(error.what(), "Cannot rename to \"" + dir() + "/" + row.failure);
    }
    for (const SyscallFault& fault : faults)
        EXPECT_GT(fault.hits(), 0) << fault.call() << " was never called";
    EXPECT_EQ(contents(), row.after);
}

const Files kImageAndSaves = {
    {"a.gba", "image"}, {"a.sav", "save"}, {"a.SRM", "srm"}, {"ab.sav", "other"}};
const Files kRenamed = {{"B (World).gba", "image"},
                        {"B (World).sav", "save"},
                        {"B (World).SRM", "srm"},
                        {"ab.sav", "other"}};

Files with(Files files, const std::string& name, const std::string& text) {
    files[name] = text;
    return files;
}

const std::string kTaken = "\": A file of this name already exists";

INSTANTIATE_TEST_SUITE_P(
    Routes, ImageRename,
    ::testing::Values(
        RenameRow{"exclusive_rename", {}, kImageAndSaves, "a.gba", "B (World).gba", kRenamed, ""},
        RenameRow{"link_and_unlink",
                  {{"renameat2", EINVAL}},
                  kImageAndSaves,
                  "a.gba",
                  "B (World).gba",
                  kRenamed,
                  ""},
        RenameRow{"look_then_rename_fat",
                  {{"renameat2", EINVAL}, {"link", EPERM}},
                  kImageAndSaves,
                  "a.gba",
                  "B (World).gba",
                  kRenamed,
                  ""},
        RenameRow{"case_only",
                  {},
                  {{"Game.gba", "image"}, {"Game.sav", "save"}},
                  "Game.gba",
                  "game.gba",
                  {{"game.gba", "image"}, {"game.sav", "save"}},
                  ""},
        RenameRow{"extension_only_keeps_the_save",
                  {},
                  {{"a.bin", "image"}, {"a.sav", "save"}},
                  "a.bin",
                  "a.gba",
                  {{"a.gba", "image"}, {"a.sav", "save"}},
                  ""},
        RenameRow{"image_name_taken",
                  {},
                  with(kImageAndSaves, "B (World).gba", "taken"),
                  "a.gba",
                  "B (World).gba",
                  with(kImageAndSaves, "B (World).gba", "taken"),
                  "B (World).gba" + kTaken},
        RenameRow{"save_name_taken",
                  {},
                  with(kImageAndSaves, "B (World).sav", "taken"),
                  "a.gba",
                  "B (World).gba",
                  with(kImageAndSaves, "B (World).sav", "taken"),
                  "B (World).sav" + kTaken},
        RenameRow{"racer_at_exclusive_rename",
                  {{"renameat2", EEXIST, "B (World).gba"}},
                  kImageAndSaves,
                  "a.gba",
                  "B (World).gba",
                  with(kImageAndSaves, "B (World).gba", "racer"),
                  "B (World).gba" + kTaken},
        RenameRow{"racer_at_link",
                  {{"renameat2", EINVAL, "B (World).gba"}},
                  kImageAndSaves,
                  "a.gba",
                  "B (World).gba",
                  with(kImageAndSaves, "B (World).gba", "racer"),
                  "B (World).gba" + kTaken},
        // The image is renamed, then its save's name is taken: the image goes back.
        RenameRow{"racer_at_the_save_puts_the_image_back",
                  {{"renameat2", EINVAL, "B (World).sav", 2}},
                  kImageAndSaves,
                  "a.gba",
                  "B (World).gba",
                  with(kImageAndSaves, "B (World).sav", "racer"),
                  "B (World).sav" + kTaken},
        RenameRow{"invalid_name",
                  {},
                  kImageAndSaves,
                  "a.gba",
                  "a:b.gba",
                  kImageAndSaves,
                  "a:b.gba\": A file name cannot contain ':'"}),
    [](const auto& info) { return std::string(info.param.name); });

class ImageRenameIdentity : public ScratchDirTest {};

TEST_F(ImageRenameIdentity, RefusesAnotherFileAndAnAliasOfItself) {
    writeFile(path("a.gba"), Bytes{'a'});
    writeFile(path("other.gba"), Bytes{'o'});
    const FileIdentity other = *fileIdentity(path("other.gba"));
    EXPECT_THROW(renameImage(path("a.gba"), "b.gba", &other), FileError);
    // A second name of the same file, as a file system that ignores case
    // shows "A.gba" for "a.gba": the temporary route finds it taken.
    ASSERT_EQ(::link(path("a.gba").c_str(), path("A.gba").c_str()), 0);
    try {
        renameImage(path("a.gba"), "A.gba");
        ADD_FAILURE() << "renamed over a second name of the same file";
    } catch (const FileError& error) {
        EXPECT_EQ(error.kind(), FileError::Kind::AlreadyExists) << error.what();
    }
    EXPECT_EQ(namesIn(dir()), (std::vector<std::string>{"A.gba", "a.gba", "other.gba"}));
    EXPECT_TRUE(renameImage(path("a.gba"), "a.gba").empty()) << "no rename to its own name";
}

struct NameRow {
    std::string name;
    std::optional<std::string> problem;
};

class FileNames : public ::testing::TestWithParam<NameRow> {};

TEST_P(FileNames, AcceptsOnlyNamesThatStayInTheDirectory) {
    EXPECT_EQ(fileNameProblem(GetParam().name), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FileNames,
    ::testing::Values(
        NameRow{"2048 (World) (GBA Jam 2024) (Aftermarket) (Unl).gba", std::nullopt},
        NameRow{"Pok\xC3\xA9mon - Version \xC3\x89meraude (France).gba", std::nullopt},
        NameRow{std::string(255, 'a'), std::nullopt},
        NameRow{std::string(256, 'a'), "The name is 256 bytes long; a file name holds at most 255"},
        NameRow{"", "The name is empty"},
        NameRow{"..", "A name starting with '.' would make a hidden file"},
        NameRow{"Game.. (USA).gba", std::nullopt},
        NameRow{"dir/x.gba", "A file name cannot contain '/'"},
        NameRow{"dir\\x.gba", "A file name cannot contain '\\'"},
        NameRow{"a\tb.gba", "A file name cannot contain U+0009"}));

} // namespace

// The walk over trees built in the scratch directory: which files become
// items, in which order, and what is left out.
#include "collection/tests/collection_support.h"

#include "collection/walk.h"

#include <sys/stat.h>

namespace {

using namespace kelvo;
using namespace kelvo::test;

struct WalkRow {
    const char* name;
    // "a.gba" a file, "sub/" a directory, "l -> t" a symbolic link, "p|" a FIFO.
    std::vector<std::string> tree;
    std::vector<std::string> paths; // under the scratch directory; "" is itself
    bool recursive;
    // "image REL", "archive REL" or "failure REL: reason".
    std::vector<std::string> items;
};

class Walk : public CollectionTest, public ::testing::WithParamInterface<WalkRow> {};

TEST_P(Walk, FindsImagesAndArchives) {
    const WalkRow& row = GetParam();
    for (const std::string& entry : row.tree) {
        if (const std::size_t arrow = entry.find(" -> "); arrow != std::string::npos)
            link(entry.substr(0, arrow), entry.substr(arrow + 4));
        else if (entry.ends_with('/'))
            makeDirectory(entry);
        else if (entry.ends_with('|'))
            ASSERT_EQ(::mkfifo(path(entry.substr(0, entry.size() - 1)).c_str(), 0644), 0);
        else
            write(entry, image(256));
    }
    std::vector<std::string> paths;
    for (const std::string& given : row.paths)
        paths.push_back(given.empty() ? dir() : path(given));
    std::vector<std::string> items;
    std::uint64_t index = 0;
    walkCollection(paths, {row.recursive, {}}, [&](WalkItem&& item) {
        EXPECT_EQ(item.index, index++);
        const char* kinds[] = {"image ", "archive ", "failure "};
        std::string line = kinds[int(item.kind)] + item.relative;
        if (item.kind == WalkItem::Kind::Failure)
            line = kinds[int(item.kind)] + baseName(item.relative) + ": " + item.reason;
        else
            EXPECT_TRUE(item.path.ends_with('/' + item.relative)) << item.path;
        items.push_back(line);
    });
    EXPECT_EQ(items, row.items);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Walk,
    ::testing::Values(
        WalkRow{"endings_in_any_case",
                {"a.GBA", "b.agb", "c.Bin", "d.ZIP", "e.txt", "f.gba.bak", "gba"},
                {""},
                true,
                {"image a.GBA", "image b.agb", "image c.Bin", "archive d.ZIP"}},
        WalkRow{"files_before_subdirectories_in_name_order",
                {"z.gba", "B/", "a/c/d.gba", "a/b.gba", "B/x.bin"},
                {""},
                true,
                {"image z.gba", "image a/b.gba", "image a/c/d.gba", "image B/x.bin"}},
        WalkRow{"top_directory_only", {"z.gba", "a/b.gba"}, {""}, false, {"image z.gba"}},
        WalkRow{"hidden_left_out", {".h.gba", ".d/x.gba", "ok.gba"}, {""}, true, {"image ok.gba"}},
        WalkRow{"link_to_a_directory_gives_nothing",
                {"real/x.gba", "in.gba -> real", "view -> real", "loop/up -> .."},
                {""},
                true,
                {"image real/x.gba"}},
        WalkRow{"link_to_a_file_is_the_file",
                {"real.bin", "l.gba -> real.bin", "other -> real.bin"},
                {""},
                true,
                {"image l.gba", "image real.bin"}},
        WalkRow{"link_to_nothing_and_a_fifo_are_rows",
                {"gone.gba -> missing", "pipe.gba|"},
                {""},
                true,
                {"failure gone.gba: unreadable: No such file or directory",
                 "failure pipe.gba: unreadable: not a regular file"}},
        WalkRow{"names_are_bytes",
                {"\xFF\xFE.gba", "caf\xC3\xA9/\x80.agb"},
                {""},
                true,
                {"image \xFF\xFE.gba", "image caf\xC3\xA9/\x80.agb"}},
        WalkRow{"a_file_a_directory_and_what_is_missing",
                {"one.rom", "a.zip", "d/x.gba"},
                {"one.rom", "a.zip", "d", "none"},
                true,
                {"image one.rom", "archive a.zip", "image x.gba",
                 "failure none: unreadable: No such file or directory"}},
        WalkRow{"link_given_as_the_top_is_followed",
                {"real/x.gba", "top -> real"},
                {"top"},
                true,
                {"image x.gba"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A bind mount of a directory inside itself would be a loop without end.
TEST_F(CollectionTest, WalkEntersABindMountedDirectoryOnce) {
    write("a/x.gba", image(256));
    const std::string inner = path("a/inner");
    makeDirectory("a/inner");
    if (::mount(path("a").c_str(), inner.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts are not allowed here";
    std::vector<std::string> found;
    walkCollection({dir()}, {}, [&](WalkItem&& item) { found.push_back(item.relative); });
    ::umount2(inner.c_str(), MNT_DETACH);
    EXPECT_EQ(found, std::vector<std::string>{"a/x.gba"});
}

// A directory removed while the walk is under way is a row, not a stop.
TEST_F(CollectionTest, WalkReportsADirectoryRemovedMeanwhile) {
    write("a.gba", image(256));
    write("gone/b.gba", image(256));
    write("kept/c.gba", image(256));
    std::vector<std::string> found;
    WalkOptions options;
    int asked = 0;
    options.stop = [&] { // asked before each directory and file: gone once the top is read
        if (++asked == 2)
            std::filesystem::remove_all(path("gone"));
        return false;
    };
    walkCollection({dir()}, options, [&](WalkItem&& item) {
        found.push_back(item.relative + (item.reason.empty() ? "" : ": " + item.reason));
    });
    EXPECT_EQ(found,
              (std::vector<std::string>{
                  "a.gba", "gone: unreadable directory: No such file or directory", "kept/c.gba"}));
}

TEST_F(CollectionTest, WalkListsAHundredThousandFilesInOneDirectory) {
    for (int i = 0; i < 100'000; ++i)
        writeFile(path("f" + std::to_string(100'000 + i) + (i % 2 ? ".gba" : ".txt")), {});
    std::size_t count = 0;
    std::string last;
    walkCollection({dir()}, {}, [&](WalkItem&& item) {
        ++count;
        EXPECT_LT(last, item.relative);
        last = item.relative;
    });
    EXPECT_EQ(count, 50'000u);
}

} // namespace

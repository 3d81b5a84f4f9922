// Every subcommand against what is not a good image: the exit status, a
// message naming the file, and no change to a file it did not succeed in
// changing. Then random command lines, none of which may crash or touch a
// file it was not given.
#include "cli/tests/cli_support.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <functional>
#include <map>
#include <random>

namespace {

using namespace kelvo;
using namespace kelvo::test;

const std::vector<std::string> kCommands[] = {
    {"info"},
    {"info", "--header"},
    {"fix", "-tX"},
    {"trim"},
    {"pad"},
    {"repair"},
    {"rename-to-list", "--dat", "list"},
    {"verify"},
};

struct Node {
    const char* name;
    std::array<int, 8> status; // per command above
};

// The read-only file ends in padding and has a wrong check byte, so that
// trim, pad and repair all try to write it; `list` lists it under another
// name (Python's zlib and hashlib gave its hashes), so rename-to-list tries
// too. An image of a size no entry has is not in the list, read or not.
// verify reads a directory as a collection (this one holds no image) and
// finds no image in the lists (none are configured here).
const Node kNodes[] = {
    {"missing", {2, 2, 2, 2, 2, 2, 2, 2}},      {"empty", {1, 1, 1, 1, 1, 1, 1, 1}},
    {"100_bytes", {1, 1, 1, 1, 1, 1, 1, 1}},    {"directory", {2, 2, 2, 2, 2, 2, 2, 0}},
    {"fifo", {2, 2, 2, 2, 2, 2, 2, 2}},         {"device", {2, 2, 2, 2, 2, 2, 2, 2}},
    {"unreadable", {2, 2, 2, 2, 2, 2, 1, 2}},   {"read_only_fs", {0, 0, 2, 2, 2, 2, 2, 1}},
    {"sparse_3_gib", {0, 0, 0, 0, 1, 1, 1, 1}},
};

constexpr uid_t kNobody = 65534;

class BadInput : public ScratchDirTest,
                 public ::testing::WithParamInterface<std::tuple<Node, int>> {
protected:
    // Makes the node; returns its path, or "" (with the reason in `skip`)
    // where this machine cannot make it.
    std::string make(std::string_view node, std::string& skip) {
        std::string file = path("x.gba");
        std::ofstream(path("list")) << "game ( rom ( name listed.gba size 10022 crc d7cbd77b sha1 "
                                       "806126b5ae43d9488471062f3aa78de808c0ee0c ) )\n";
        if (node == "empty") {
            writeFile(file, {});
        } else if (node == "100_bytes") {
            writeFile(file, sampleImage(100));
        } else if (node == "directory") {
            EXPECT_EQ(::mkdir(file.c_str(), 0755), 0);
        } else if (node == "fifo") {
            EXPECT_EQ(::mkfifo(file.c_str(), 0644), 0);
        } else if (node == "device") {
            EXPECT_EQ(::symlink("/dev/null", file.c_str()), 0);
        } else if (node == "unreadable") {
            writeFile(file, sampleImage());
            EXPECT_EQ(::chmod(file.c_str(), 0), 0);
            // The unprivileged run must reach it.
            EXPECT_EQ(::chmod(dir().c_str(), 0755), 0);
        } else if (node == "read_only_fs") {
            const std::string mount = mountSmallTmpfs("ro", 1 << 20);
            if (mount.empty()) {
                skip = "mounting a tmpfs needs root";
                return {};
            }
            file = joinPath(mount, "x.gba");
            Bytes bytes = sampleImage(8822);
            bytes[kCheckOffset] = 0x51;
            bytes.resize(10022, 0xFF);
            writeFile(file, bytes);
            EXPECT_EQ(::mount(nullptr, mount.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        } else if (node == "sparse_3_gib") {
            writeFile(file, sampleImage());
            EXPECT_EQ(::truncate(file.c_str(), off_t(3) << 30), 0);
        }
        return file;
    }
};

// What is left of a file: its size and its first 64 KiB. (A failed append
// that was cut away again leaves a new modification time.)
std::string traceOf(const std::string& file) {
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0)
        return "absent";
    std::string head;
    if (S_ISREG(info.st_mode)) { // opening a FIFO would wait for a writer
        head.resize(65536);
        std::ifstream in(file, std::ios::binary);
        head.resize(std::size_t(in.read(head.data(), std::streamsize(head.size())).gcount()));
    }
    return std::to_string(info.st_size) + " bytes, hash of the first 64 KiB " +
           std::to_string(std::hash<std::string>{}(head));
}

TEST_P(BadInput, StatusMessageAndNoChange) {
    const auto& [node, command] = GetParam();
    std::string skip;
    const std::string file = make(node.name, skip);
    if (file.empty())
        GTEST_SKIP() << skip;
    const std::string before = traceOf(file);
    std::vector<std::string> args = kCommands[command];
    args.push_back(file);
    const bool drop = std::string_view(node.name) == "unreadable" && ::geteuid() == 0;
    const CliRun run = runCli(args, dir(), drop ? kNobody : uid_t(-1));

    const int status = node.status[std::size_t(command)];
    EXPECT_EQ(run.status, status) << run.err;
    if (status != 0) {
        // verify names an image it judged in its output line.
        EXPECT_TRUE(run.err.find('"' + file + '"') != std::string::npos ||
                    run.out.find('\t' + file + '\t') != std::string::npos)
            << run.err;
        EXPECT_EQ(traceOf(file), before) << "a refused file changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Nodes, BadInput,
                         ::testing::Combine(::testing::ValuesIn(kNodes), ::testing::Range(0, 7)),
                         [](const auto& info) {
                             std::string name = std::get<0>(info.param).name;
                             for (const std::string& arg : kCommands[std::get<1>(info.param)])
                                 name += '_' + arg.substr(arg.find_first_not_of('-'));
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A padding that does not fit on the disk is cut away again; fix -p then
// leaves the header alone too.
TEST_F(BadInput, FullDiskLeavesTheFileAsItWas) {
    const std::string mount = mountSmallTmpfs("full", 48 * 1024);
    if (mount.empty())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const std::string file = joinPath(mount, "x.gba");
    writeFile(file, sampleImage(40000));
    const std::string before = traceOf(file);
    for (const auto& args : {std::vector<std::string>{"pad", file},
                             std::vector<std::string>{"fix", "-p", "-tNEW", file}}) {
        const CliRun run = runCli(args, dir());
        EXPECT_EQ(run.status, 2) << args[0] << ": " << run.err;
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
        EXPECT_EQ(traceOf(file), before) << args[0] << " left a change";
    }
}

// Random command lines from the words the program knows and the files in
// its directory: each ends with 0, 1 or 2, and every file it was not given
// (and the directory's list of names) stays as it was.
TEST_F(BadInput, RandomCommandLinesStayInTheirFiles) {
    const std::vector<std::string> files = {"a.gba", "b.gba", "short.gba", "-dash.gba"};
    writeFile(path("a.gba"), sampleImage(8824));
    writeFile(path("b.gba"), sampleImage(20000));
    writeFile(path("short.gba"), sampleImage(150));
    writeFile(path("-dash.gba"), sampleImage(1000));
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(path("sub").c_str(), 0755), 0);
    const std::vector<std::string> words = {
        "info",     "fix",    "trim",      "pad",       "repair",      "rename-to-list",
        "--dat",    "--json", "--header",  "--dry-run", "--byte",      "--byte=0x00",
        "0xFF",     "-p",     "-t",        "-tTITLE",   "-t\xFF",      "-c",
        "-cAXVE",   "-cAB",   "-m01",      "-r1",       "-r0x1FF",     "-d",
        "--",       "-",      "-h",        "--help",    "--version",   "-x",
        "--nope=1", "=",      "fifo",      "sub",       "missing.gba", "/dev/null",
        "a.gba",    "b.gba",  "short.gba", "-dash.gba", "verify",      "-r"};
    const std::vector<std::string> namesBefore = namesIn(dir());

    std::mt19937 random(19);
    for (int round = 0; round < 300; ++round) {
        // Mostly a command first (the first six words), so most runs get past it.
        std::vector<std::string> args;
        if (random() % 8 != 0)
            args.push_back(words[random() % 6]);
        const int count = int(random() % 7);
        for (int i = 0; i < count; ++i) {
            if (random() % 8 == 0) {
                std::string noise(random() % 6 + 1, '\0');
                for (char& c : noise)
                    c = char(random() % 255 + 1);
                args.push_back(noise);
            } else {
                args.push_back(words[random() % words.size()]);
            }
        }
        std::map<std::string, std::string> before;
        for (const std::string& file : files)
            before[file] = traceOf(path(file));
        const CliRun run = runCli(args, dir());
        std::string line;
        for (const std::string& arg : args)
            line += arg + ' ';
        ASSERT_LE(run.status, 2) << "round " << round << ": " << line << "\n" << run.err;
        for (const std::string& file : files) {
            const bool given = std::any_of(args.begin(), args.end(), [&](const std::string& arg) {
                return arg.find(file) != std::string::npos;
            });
            if (!given) {
                ASSERT_EQ(traceOf(path(file)), before[file]) << "round " << round << ": " << line;
            }
        }
        ASSERT_EQ(namesIn(dir()), namesBefore) << "round " << round << ": " << line;
    }
}

} // namespace

// rename-to-list: Image > Rename To List Name for many files. Each image is
// hashed (through the hash cache) and held against the lists; one that
// matched under another name takes the first match's name in its own
// directory, its save files with it, never over another file.
#include "cli/command.h"
#include "cli/listcheck.h"
#include "romheader/rename.h"

#include <sys/stat.h>

namespace kelvo::cli {

namespace {

constexpr Option kOptions[] = {{"dry-run"}, kDatOption, {"help", 'h'}};

Status renameOne(const std::string& path, const ListSet& lists, HashCache& cache, bool dryRun) {
    constexpr std::string_view kNotListed = "Not in the loaded lists; left as it is";
    // The file renamed is the file hashed: one put in its place meanwhile is refused.
    // (A file that cannot be looked at is refused by the scan, with the reason.)
    struct stat info {};
    const bool seen = ::stat(path.c_str(), &info) == 0;
    const FileIdentity identity{std::uint64_t(info.st_dev), std::uint64_t(info.st_ino)};
    if (seen && S_ISREG(info.st_mode) && !anyEntryOfSize(lists, std::uint64_t(info.st_size)))
        return problem(path, kNotListed);
    const ImageScan scan = scanThroughCache(path, cache);
    const std::vector<ListMatch> matches = matchThroughCache(lists, scan, path, cache);
    if (matches.empty())
        return problem(path, kNotListed);
    const std::string_view name = matches.front().rom->name;
    try {
        const std::vector<Rename> renames =
            dryRun ? planImageRename(path, name, &identity) : renameImage(path, name, &identity);
        std::string lines;
        for (const Rename& rename : renames)
            lines += rename.from + " -> " + rename.to + "\n";
        print(lines.empty() ? path + ": already named as in the list\n" : lines);
        return Status::Ok;
    } catch (const FileError& error) {
        // The image is as it was. A name taken or refused is the list's
        // name meeting this directory; anything else, a failure to rename.
        using Kind = FileError::Kind;
        const bool refused =
            error.kind() == Kind::InvalidName || error.kind() == Kind::AlreadyExists;
        say('"' + path + "\": " + error.what());
        return refused ? Status::Problem : Status::Failure;
    }
}

Status runRenameToList(const Arguments& arguments) {
    const std::vector<std::string>& files = filesOf(arguments);
    const Lists lists = loadLists(arguments);
    if (!lists.configured)
        throw UsageError("no checksum list is configured; name one with --dat FILE");
    if (lists.set.empty()) {
        say("no checksum list could be loaded; nothing was renamed");
        return Status::Failure;
    }
    HashCache cache;
    Status status = lists.status;
    for (const std::string& path : files) {
        try {
            status = worse(status, renameOne(path, lists.set, cache, arguments.has("dry-run")));
        } catch (const FileError& error) {
            status = worse(status, report(error));
        }
    }
    return status;
}

} // namespace

const Command kRenameToListCommand = {
    "rename-to-list",
    "rename-to-list [--dry-run] [--dat FILE]... FILE...",
    "Gives each image its name in the checksum lists (Image > Rename To List Name).",
    "Each image is hashed and held against the lists configured in\n"
    "$XDG_CONFIG_HOME/kelvo-gba/checksum-lists and any given with --dat. One that\n"
    "matched under another name takes the first match's name in its own directory;\n"
    "a save file beside it (the same stem, .sav or .srm) is renamed with it. Each\n"
    "rename is printed as 'OLD -> NEW'. A file is never replaced, and the list's\n"
    "name must be one a file can have (no '/', '\\', control characters or\n"
    ": * ? \" < > |, not starting with '.', at most 255 bytes).\n\n"
    "Options:\n"
    "      --dry-run    Prints the renames and makes none.\n"
    "      --dat FILE   Holds the images against this checksum list too (repeatable).\n"
    "  -h, --help       Shows this help and exits.\n\n"
    "Exit status: 0 every image renamed or named as in the list already; 1 an image\n"
    "not in the lists, or whose list name is taken by another file or refused (that\n"
    "image is left as it was); 2 a file or checksum list that could not be read, no\n"
    "list loaded, or a usage error.\n",
    kOptions,
    runRenameToList,
};

} // namespace kelvo::cli

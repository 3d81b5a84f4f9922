// verify: the collection check for shell scripts. Files, directories (-r
// descends) and the images inside .zip archives, each matched against the
// configured checksum lists and those given with --dat, one line per image
// in the order the walk finds them, and an exit status that says whether
// every image is a good dump.
#include "cli/command.h"

#include "checksumlists/listdetails.h"
#include "cli/listcheck.h"
#include "collection/check.h"
#include "collection/walk.h"

#include <nlohmann/json.hpp>

namespace kelvo::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr Option kOptions[] = {kDatOption, {"json"}, {"recursive", 'r'}, {"help", 'h'}};

std::string_view statusWord(const CheckRow& row) {
    return row.readable() ? kelvo::statusWord(row.status) : "error";
}

Status statusOf(const CheckRow& row) {
    if (row.failure)
        return row.failure->content ? Status::Problem : Status::Failure;
    return row.status == ListStatus::Verified || row.status == ListStatus::Good ? Status::Ok
                                                                                : Status::Problem;
}

// A row's path as the user can use it: below a directory named, the
// directory joined with the path under it; a file or directory named (or
// one that could not be read), as named; a member, after its archive and a
// slash.
class Paths {
public:
    explicit Paths(const std::vector<std::string>& operands) : operands_(operands) {
        for (const std::string& operand : operands)
            absolute_.push_back(absolutePath(operand));
    }

    [[nodiscard]] std::string of(const CheckRow& row) const {
        const std::string& operand = operands_.at(row.root);
        if (row.path != absolute_.at(row.root))
            return joinPath(operand, row.file);
        return row.member.empty() ? operand : operand + '/' + row.member;
    }

private:
    const std::vector<std::string>& operands_;
    std::vector<std::string> absolute_;
};

Status runVerify(const Arguments& arguments) {
    const std::vector<std::string>& operands = filesOf(arguments);
    Lists loaded = loadLists(arguments);
    Status status = loaded.status;
    ListSet lists = std::move(loaded.set);
    if (lists.empty())
        say("no checksum lists are configured or given with --dat: no image can be verified");
    const bool json = arguments.has("json");

    HashCache cache;
    CheckOptions options;
    options.paths = operands;
    options.recursive = arguments.has("recursive");
    CollectionCheck check(std::move(options), std::move(lists), &cache);
    const Paths paths(operands);
    RowOrder order;
    Json all = Json::array();
    std::size_t images = 0;
    for (bool finished = false; !finished;) {
        CheckBatch batch = check.takeWaiting(std::chrono::milliseconds(250));
        finished = batch.finished;
        std::string lines;
        for (const CheckRow& row : order.add(std::move(batch))) {
            const std::string path = paths.of(row);
            ++images;
            status = worse(status, statusOf(row));
            if (row.failure)
                say('"' + path + "\": " + row.failure->reason);
            if (json) {
                const bool matched = row.readable() && row.matchCount > 0;
                all.push_back({{"path", path},
                               {"status", statusWord(row)},
                               {"list_name", matched ? Json(row.listName) : Json()},
                               {"list", matched ? Json(row.listLabel) : Json()}});
            } else {
                lines.append(statusWord(row)).append("\t").append(path).append("\t");
                lines.append(row.readable() ? row.listName : "").append("\n");
            }
        }
        print(lines);
    }
    if (json) // a name that is not UTF-8 shows U+FFFD where its odd bytes were
        print(all.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
    if (images == 0)
        say("no images found (.gba, .agb, .bin, or inside .zip archives)");
    if (const std::optional<std::string> problem = cache.takeProblem())
        say(*problem);
    return status;
}

} // namespace

const Command kVerifyCommand = {
    "verify",
    "verify [--dat FILE]... [--json] [-r] PATH...",
    "Checks every image against the checksum lists; a good dump exits 0.",
    "PATH is an image, a .zip archive (each image inside it is checked) or a\n"
    "directory (its images and archives; with -r those below it too). One line per\n"
    "image, STATUS<TAB>PATH<TAB>LIST NAME, the status one of verified, good,\n"
    "baddump, trimmed, unknown (in no list) or error (named on standard error).\n"
    "The lists are those in $XDG_CONFIG_HOME/kelvo-gba/checksum-lists and those given\n"
    "with --dat. Images seen before are answered from the hash cache.\n\n"
    "Options:\n"
    "      --dat FILE   Adds a checksum list (Logiqx XML, clrmamepro, or a .zip of one).\n"
    "      --json       An array of objects with keys path, status, list_name, list.\n"
    "  -r, --recursive  Descends into the directories below each directory.\n"
    "  -h, --help       Shows this help and exits.\n\n"
    "Exit status: 0 every image verified or good; 1 an image bad, trimmed, unknown,\n"
    "or in a damaged archive; 2 a file or list that could not be read, or a usage\n"
    "error.\n",
    kOptions,
    runVerify,
};

} // namespace kelvo::cli

// What every subcommand shares: its table entry, the exit status, and the
// one way results and messages leave the program (results on standard
// output, messages on standard error, each naming the file).
#pragma once

#include "cli/args.h"
#include "romheader/imageinfo.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::cli {

inline constexpr std::string_view kProgram = "kelvo-gba-cli";

// With several files, the highest status is the program's.
enum class Status {
    Ok = 0,      // done, or nothing needed doing
    Problem = 1, // a file's content is not as it should be, or was refused for it
    Failure = 2, // a usage error, or a file that could not be opened, read or written
};

[[nodiscard]] inline Status worse(Status a, Status b) {
    return a > b ? a : b;
}

struct Command {
    std::string_view name;
    std::string_view synopsis; // "info [--json] [--header] FILE..."
    std::string_view summary;  // one line, for kelvo-gba-cli --help
    std::string_view help;     // the rest of NAME --help
    std::span<const Option> options;
    Status (*run)(const Arguments& arguments);
};

extern const Command kInfoCommand;
extern const Command kFixCommand;
extern const Command kTrimCommand;
extern const Command kPadCommand;
extern const Command kRepairCommand;
extern const Command kVerifyCommand;
extern const Command kRenameToListCommand;

// A result line (or lines) on standard output.
void print(std::string_view text);
// "kelvo-gba-cli: " and `text` on standard error, after what standard output
// holds so far, so the two read in order on a terminal.
void say(std::string_view text);

// Says what went wrong (the operation, the path, the reason) and what it
// means for the exit status: a file too short or too large is a problem
// with its content, anything else a failure to open, read or write it.
Status report(const FileError& error);
// A problem found in a file's content: `"PATH": reason`.
Status problem(const std::string& path, std::string_view reason);

// "0xBD: 0x51 -> 0x50", as the fixer's users read its changes.
[[nodiscard]] std::string changeLine(const HeaderChange& change);
// The operands, refusing none at all.
[[nodiscard]] const std::vector<std::string>& filesOf(const Arguments& arguments);

} // namespace kelvo::cli

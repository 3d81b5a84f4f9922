// The command line's own argument parser: options may come before, between
// or after the operands (as gbafix takes its file first), `--` ends the
// options, and a lone `-` is an operand. Each option is one argument: short
// options are not bundled, since the fixer's letters carry their values
// attached (`-tMYGAME`).
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo::cli {

enum class Takes {
    Nothing,          // --json, -p
    Value,            // --byte 0xFF, --byte=0xFF
    Attached,         // -cAXVE: the rest of the argument, possibly empty
    AttachedOptional, // -t or -tTITLE
};

struct Option {
    std::string_view longName; // without "--"; empty for a letter only
    char letter = '\0';        // '\0' for a long name only
    Takes takes = Takes::Nothing;
};

// A command line that cannot be acted on; the message says why.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Arguments {
    struct Given {
        const Option* option;
        std::optional<std::string> value;
    };
    std::vector<Given> options; // in the order given
    std::vector<std::string> operands;

    // `key` is an option's long name, or its letter for one without.
    [[nodiscard]] bool has(std::string_view key) const;
    // The value of the last of `key` given, if it had one.
    [[nodiscard]] std::optional<std::string> value(std::string_view key) const;
};

// An option's name as a user spells it: "--json", "-t".
[[nodiscard]] std::string spelling(const Option& option);

// Parses `args` (the arguments after the subcommand) against `options`.
// Throws UsageError for an unknown option, a missing value, or a value given
// to an option that takes none.
[[nodiscard]] Arguments parseArguments(std::span<const char* const> args,
                                       std::span<const Option> options);

} // namespace kelvo::cli

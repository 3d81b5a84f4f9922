// The argument parser and the numbers the command line takes, as tables.
#include "cli/args.h"
#include "cli/numbers.h"

#include <gtest/gtest.h>

namespace {

using namespace kelvo::cli;

constexpr Option kOptions[] = {
    {"json"},
    {"byte", '\0', Takes::Value},
    {"", 'p'},
    {"", 'c', Takes::Attached},
    {"", 't', Takes::AttachedOptional},
    {"help", 'h'},
};

// What was parsed, as one line: options with their values, then operands
// after '|', or the usage error's message.
std::string parsed(std::vector<const char*> args) {
    try {
        const Arguments arguments = parseArguments(args, kOptions);
        std::string text;
        for (const auto& given : arguments.options)
            text += spelling(*given.option) + (given.value ? "=" + *given.value : "") + ' ';
        text += '|';
        for (const std::string& operand : arguments.operands)
            text += ' ' + operand;
        return text;
    } catch (const UsageError& error) {
        return std::string("error: ") + error.what();
    }
}

struct ParseRow {
    const char* name;
    std::vector<const char*> args;
    const char* expected;
};

class Parse : public ::testing::TestWithParam<ParseRow> {};

TEST_P(Parse, ReadsOptionsAndOperands) {
    EXPECT_EQ(parsed(GetParam().args), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Parse,
    ::testing::Values(
        ParseRow{"file_before_options", {"a.gba", "-p", "-cAXVE"}, "-p -c=AXVE | a.gba"},
        ParseRow{"attached_may_be_empty", {"-c", "a.gba"}, "-c= | a.gba"},
        ParseRow{"title_alone_takes_nothing", {"-t", "a.gba"}, "-t | a.gba"},
        ParseRow{"title_attached", {"-tMY GAME"}, "-t=MY GAME |"},
        ParseRow{"long_value_separate", {"--byte", "0x00", "a"}, "--byte=0x00 | a"},
        ParseRow{"long_value_attached", {"--byte=0x00"}, "--byte=0x00 |"},
        ParseRow{"long_value_missing", {"--byte"}, "error: option '--byte' needs a value"},
        ParseRow{"flag_given_a_value", {"--json=1"}, "error: option '--json' takes no value"},
        ParseRow{"dashes_end_options", {"--", "-p", "--json"}, "| -p --json"},
        ParseRow{"lone_dash_is_a_file", {"-", "-p"}, "-p | -"},
        ParseRow{"letters_not_bundled", {"-ph"}, "error: unknown option '-ph'"},
        ParseRow{"unknown_long", {"--jsonx"}, "error: unknown option '--jsonx'"},
        ParseRow{"unknown_long_with_value", {"--x=1"}, "error: unknown option '--x'"},
        ParseRow{"help_by_letter", {"-h"}, "--help |"}),
    [](const auto& info) { return std::string(info.param.name); });

struct NumberRow {
    const char* text;
    std::optional<std::uint64_t> value;
};

class Numbers : public ::testing::TestWithParam<NumberRow> {};

// As strtoul with base 0 reads them, but only whole.
TEST_P(Numbers, ReadWhole) {
    EXPECT_EQ(parseNumber(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Numbers,
    ::testing::Values(NumberRow{"0", 0}, NumberRow{"12", 12}, NumberRow{"0x1f", 31},
                      NumberRow{"0XFF", 255}, NumberRow{"017", 15}, NumberRow{"08", std::nullopt},
                      NumberRow{"0x", std::nullopt}, NumberRow{"", std::nullopt},
                      NumberRow{" 1", std::nullopt}, NumberRow{"+1", std::nullopt},
                      NumberRow{"-1", std::nullopt}, NumberRow{"1x", std::nullopt},
                      NumberRow{"4294967295", 4294967295u}, NumberRow{"4294967296", std::nullopt}));

} // namespace

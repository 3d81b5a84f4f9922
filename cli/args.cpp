#include "cli/args.h"

#include <algorithm>

namespace kelvo::cli {

namespace {

bool isKey(const Option& option, std::string_view key) {
    return option.longName.empty() ? key.size() == 1 && key[0] == option.letter
                                   : option.longName == key;
}

const Option* findLong(std::span<const Option> options, std::string_view name) {
    const auto found = std::find_if(options.begin(), options.end(), [&](const Option& option) {
        return !option.longName.empty() && option.longName == name;
    });
    return found == options.end() ? nullptr : &*found;
}

const Option* findLetter(std::span<const Option> options, char letter) {
    const auto found = std::find_if(options.begin(), options.end(),
                                    [&](const Option& option) { return option.letter == letter; });
    return found == options.end() ? nullptr : &*found;
}

[[noreturn]] void unknown(std::string_view argument) {
    throw UsageError("unknown option '" + std::string(argument) + "'");
}

} // namespace

std::string spelling(const Option& option) {
    return option.longName.empty() ? std::string{'-', option.letter}
                                   : "--" + std::string(option.longName);
}

bool Arguments::has(std::string_view key) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const Given& given) { return isKey(*given.option, key); });
}

std::optional<std::string> Arguments::value(std::string_view key) const {
    for (auto given = options.rbegin(); given != options.rend(); ++given) {
        if (isKey(*given->option, key))
            return given->value;
    }
    return std::nullopt;
}

Arguments parseArguments(std::span<const char* const> args, std::span<const Option> options) {
    Arguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view argument = args[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            parsed.operands.emplace_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument.starts_with("--")) {
            const std::size_t equals = argument.find('=');
            const Option* option = findLong(options, argument.substr(2, equals - 2));
            if (!option)
                unknown(argument.substr(0, equals));
            std::optional<std::string> value;
            if (equals != std::string_view::npos) {
                if (option->takes == Takes::Nothing)
                    throw UsageError("option '" + spelling(*option) + "' takes no value");
                value = std::string(argument.substr(equals + 1));
            } else if (option->takes == Takes::Value) {
                if (i + 1 == args.size())
                    throw UsageError("option '" + spelling(*option) + "' needs a value");
                value = args[++i];
            }
            parsed.options.push_back({option, std::move(value)});
        } else {
            const Option* option = findLetter(options, argument[1]);
            if (!option)
                unknown(argument);
            const std::string_view rest = argument.substr(2);
            std::optional<std::string> value;
            switch (option->takes) {
            case Takes::Nothing:
                if (!rest.empty())
                    unknown(argument);
                break;
            case Takes::Value:
                if (rest.empty() && i + 1 == args.size())
                    throw UsageError("option '-" + std::string(1, option->letter) +
                                     "' needs a value");
                value = rest.empty() ? std::string(args[++i]) : std::string(rest);
                break;
            case Takes::Attached:
                value = std::string(rest);
                break;
            case Takes::AttachedOptional:
                if (!rest.empty())
                    value = std::string(rest);
                break;
            }
            parsed.options.push_back({option, std::move(value)});
        }
    }
    return parsed;
}

} // namespace kelvo::cli

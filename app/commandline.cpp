#include "app/commandline.h"

#include <algorithm>
#include <string_view>

namespace kelvo {

CommandLine::CommandLine(int argc, const char* const* argv) {
    for (int i = 0; i < argc; ++i)
        given_.emplace_back(argv[i]);
    end_ = std::size_t(
        std::find(given_.begin() + std::min<std::size_t>(1, given_.size()), given_.end(), "--") -
        given_.begin());
    forQt_.assign(given_.begin(), given_.begin() + std::ptrdiff_t(end_));
    for (std::string& argument : forQt_)
        qtArgv_.push_back(argument.data());
    qtArgc_ = int(qtArgv_.size());
    qtArgv_.push_back(nullptr);
}

std::vector<std::string> CommandLine::programArguments() const {
    std::vector<std::string> arguments(qtArgv_.begin(), qtArgv_.begin() + qtArgc_);
    arguments.insert(arguments.end(), given_.begin() + std::ptrdiff_t(end_), given_.end());
    return arguments;
}

namespace {

// Calls `path` for each path argument and `list` for each --dat value.
template <typename OnPath, typename OnList>
void splitArguments(const std::vector<std::string>& arguments, OnPath&& path, OnList&& list) {
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (optionsEnded) {
            path(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--dat" || argument == "-dat") {
            if (i + 1 < arguments.size())
                list(std::string_view(arguments[++i]));
        } else if (argument.starts_with("--dat=") || argument.starts_with("-dat=")) {
            list(argument.substr(argument.find('=') + 1));
        } else if (argument == "-" || !argument.starts_with('-')) {
            path(argument);
        }
    }
}

} // namespace

std::vector<std::string> pathsOf(const std::vector<std::string>& arguments) {
    std::vector<std::string> paths;
    splitArguments(
        arguments, [&](std::string_view path) { paths.emplace_back(path); },
        [](std::string_view) {});
    return paths;
}

std::vector<std::string> listsOf(const std::vector<std::string>& arguments) {
    std::vector<std::string> lists;
    splitArguments(
        arguments, [](std::string_view) {},
        [&](std::string_view list) { lists.emplace_back(list); });
    return lists;
}

} // namespace kelvo

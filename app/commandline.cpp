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

std::vector<std::string> pathsOf(const std::vector<std::string>& arguments) {
    std::vector<std::string> paths;
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string_view argument = arguments[i];
        if (!optionsEnded && argument == "--")
            optionsEnded = true;
        else if (optionsEnded || argument == "-" || !argument.starts_with('-'))
            paths.emplace_back(argument);
    }
    return paths;
}

} // namespace kelvo

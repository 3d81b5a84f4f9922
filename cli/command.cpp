#include "cli/command.h"

#include <cstdio>

namespace kelvo::cli {

void print(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void say(std::string_view text) {
    std::fflush(stdout);
    std::string line(kProgram);
    line.append(": ").append(text).append("\n");
    std::fwrite(line.data(), 1, line.size(), stderr);
}

Status report(const FileError& error) {
    say(error.what());
    using Kind = FileError::Kind;
    return error.kind() == Kind::TooShort || error.kind() == Kind::TooLarge ? Status::Problem
                                                                            : Status::Failure;
}

Status problem(const std::string& path, std::string_view reason) {
    say('"' + path + "\": " + std::string(reason));
    return Status::Problem;
}

std::string changeLine(const HeaderChange& change) {
    char line[32];
    std::snprintf(line, sizeof line, "0x%02zX: 0x%02X -> 0x%02X\n", change.offset,
                  unsigned{change.before}, unsigned{change.after});
    return line;
}

const std::vector<std::string>& filesOf(const Arguments& arguments) {
    if (arguments.operands.empty())
        throw UsageError("no file named");
    return arguments.operands;
}

} // namespace kelvo::cli

// kelvo-gba-cli: the header core on the command line, for build scripts and
// shell scripts; no window system is needed or loaded.
#include "cli/command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

using namespace kelvo::cli;

constexpr const Command* kCommands[] = {&kInfoCommand,  &kFixCommand,    &kTrimCommand,
                                        &kPadCommand,   &kRepairCommand, &kRenameToListCommand,
                                        &kVerifyCommand};

std::string overview() {
    std::string text = "Usage: kelvo-gba-cli COMMAND [OPTION]... FILE...\n"
                       "Reads, fixes, trims and pads Game Boy Advance ROM images.\n\nCommands:\n";
    std::size_t width = 0;
    for (const Command* command : kCommands)
        width = std::max(width, command->name.size());
    for (const Command* command : kCommands) {
        text.append("  ").append(command->name);
        text.append(width + 2 - command->name.size(), ' ').append(command->summary).append("\n");
    }
    text += "\nOptions:\n"
            "  -h, --help     Shows this help and exits.\n"
            "  -v, --version  Shows the version and exits.\n\n"
            "Each command takes --help. Exit status: 0 done; 1 a problem in a file's content;\n"
            "2 a usage error, or a file that could not be opened, read or written.\n";
    return text;
}

std::string helpOf(const Command& command) {
    std::string text = "Usage: kelvo-gba-cli ";
    text.append(command.synopsis).append("\n").append(command.summary).append("\n\n");
    text.append(command.help);
    return text;
}

const Command* find(std::string_view name) {
    for (const Command* command : kCommands) {
        if (command->name == name)
            return command;
    }
    return nullptr;
}

// Results that never reached standard output (a full disk, a closed pipe's
// reader gone) are a failure too.
int finish(Status status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        say(std::string("cannot write the output: ") + std::strerror(errno));
        status = Status::Failure;
    }
    return static_cast<int>(status);
}

Status run(const Command& command, int argc, char* argv[]) {
    try {
        const Arguments arguments = parseArguments(
            std::span<const char* const>(argv + 2, std::size_t(argc - 2)), command.options);
        if (arguments.has("help")) {
            print(helpOf(command));
            return Status::Ok;
        }
        return command.run(arguments);
    } catch (const UsageError& error) {
        say(std::string(command.name) + ": " + error.what() + "\nTry 'kelvo-gba-cli " +
            std::string(command.name) + " --help'.");
    } catch (const std::exception& error) {
        say(std::string(command.name) + ": " + error.what());
    }
    return Status::Failure;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string_view first = argc > 1 ? argv[1] : "";
    if (first == "-h" || first == "--help") {
        print(overview());
        return finish(Status::Ok);
    }
    if (first == "-v" || first == "--version") {
        std::string text = "kelvo-gba-cli " KELVO_VERSION "\nCommands:";
        for (const Command* command : kCommands)
            text.append(" ").append(command->name);
        print(text + "\n");
        return finish(Status::Ok);
    }
    const Command* command = find(first);
    if (!command) {
        say(argc > 1 ? "unknown command '" + std::string(first) + "'; see 'kelvo-gba-cli --help'"
                     : std::string("no command given; see 'kelvo-gba-cli --help'"));
        return static_cast<int>(Status::Failure);
    }
    return finish(run(*command, argc, argv));
}

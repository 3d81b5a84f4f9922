// fix: the homebrew toolchains' header fixer, with its options and their
// spelling (values attached to their letter, the file before or after them),
// so a Makefile switches by changing the program's name. Where the fixer
// would write something a console or a reader of the header cannot use (a
// short code, a non-ASCII title, a version past a byte, the debug logo), the
// command line is refused instead and nothing is written.
#include "cli/command.h"
#include "cli/numbers.h"
#include "romheader/imageedit.h"

#include <algorithm>

namespace kelvo::cli {

namespace {

constexpr Option kOptions[] = {
    {"", 'p'},
    {"", 't', Takes::AttachedOptional},
    {"", 'c', Takes::Attached},
    {"", 'm', Takes::Attached},
    {"", 'r', Takes::Attached},
    {"", 'd', Takes::Attached},
    {"dry-run"},
    {"help", 'h'},
};

bool printableAscii(std::uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

// The fixer cuts a title to 12 bytes and pads it with NULs.
TitleBytes titleBytes(std::string_view text) {
    TitleBytes title{};
    text = text.substr(0, title.size());
    std::copy(text.begin(), text.end(), title.begin());
    const auto odd = std::find_if_not(text.begin(), text.end(), [](char c) {
        return printableAscii(static_cast<std::uint8_t>(c));
    });
    if (odd != text.end())
        throw UsageError("the title (-t) holds a byte that is not printable ASCII: " +
                         byteText(static_cast<std::uint8_t>(*odd)));
    return title;
}

// `-t` alone: the file's name without its directory and its last extension.
std::string titleFromName(std::string_view path) {
    std::string_view name = path.substr(path.rfind('/') + 1);
    return std::string(name.substr(0, name.rfind('.')));
}

template <std::size_t N>
std::array<std::uint8_t, N> codeBytes(std::string_view text, std::string_view what) {
    if (text.size() != N || !std::all_of(text.begin(), text.end(), [](char c) {
            return printableAscii(static_cast<std::uint8_t>(c));
        }))
        throw UsageError("the " + std::string(what) + " must be " + std::to_string(N) +
                         " printable ASCII characters, not \"" + std::string(text) + '"');
    std::array<std::uint8_t, N> code{};
    std::copy(text.begin(), text.end(), code.begin());
    return code;
}

FixFields fieldsOf(const Arguments& arguments, const std::string& path) {
    FixFields fields;
    if (arguments.has("t"))
        fields.title = titleBytes(arguments.value("t").value_or(titleFromName(path)));
    if (arguments.has("c"))
        fields.gameCode = codeBytes<4>(*arguments.value("c"), "game code (-c)");
    if (arguments.has("m"))
        fields.makerCode = codeBytes<kMakerWidth>(*arguments.value("m"), "maker code (-m)");
    if (arguments.has("r")) {
        const std::string text = *arguments.value("r");
        const std::optional<std::uint64_t> version = parseNumber(text);
        if (!version || *version > 0xFF)
            throw UsageError("the version (-r) must be a number from 0 to 255 (decimal, 0x hex "
                             "or 0 octal), not \"" +
                             text + '"');
        fields.version = std::uint8_t(*version);
    }
    return fields;
}

Status runFix(const Arguments& arguments) {
    if (arguments.has("d"))
        throw UsageError("-d is refused: it writes a byte of the boot logo that a console "
                         "without debugging hardware does not start with");
    const std::vector<std::string>& files = filesOf(arguments);
    if (files.size() > 1)
        throw UsageError("one file at a time, not " + std::to_string(files.size()));
    const std::string& path = files.front();
    const FixFields fields = fieldsOf(arguments, path);
    try {
        const FixPlan plan = planFix(path, fields, arguments.has("p"));
        if (!arguments.has("dry-run"))
            applyFix(path, plan);
        std::string lines;
        for (const HeaderChange& change : plan.changes)
            lines += changeLine(change);
        if (plan.padding > 0)
            lines += "padded " + std::to_string(plan.state.size) + " -> " +
                     std::to_string(plan.state.size + plan.padding) + " bytes with 0xFF\n";
        print(lines.empty() ? "nothing to change\n" : lines);
        return Status::Ok;
    } catch (const FileError& error) {
        return report(error);
    }
}

} // namespace

const Command kFixCommand = {
    "fix",
    "fix [-p] [-t[TITLE]] [-c<CODE>] [-m<MAKER>] [-r<VERSION>] [--dry-run] FILE",
    "Fixes a built image's header as the homebrew toolchains' fixer does.",
    "Writes the console's boot logo (0x04..0x9F), the fixed value 0x96 (0xB2), device\n"
    "type 0x00 (0xB4), the fields given, 0x00 at 0xBE..0xBF and the check byte\n"
    "(0xBD), and prints each header byte it changed. The file may come before or\n"
    "after the options; values are attached to their letter.\n\n"
    "Options:\n"
    "  -p             Pads the file with 0xFF to the next power of two.\n"
    "  -t[TITLE]      The title, cut to 12 bytes, padded with NULs; -t alone takes\n"
    "                 the file's name without its directory and last extension.\n"
    "  -c<CODE>       The game code, 4 characters (0xAC).\n"
    "  -m<MAKER>      The maker code, 2 characters (0xB0).\n"
    "  -r<VERSION>    The version, 0 to 255: decimal, 0x hex or 0 octal (0xBC).\n"
    "      --dry-run  Prints what would change and writes nothing.\n"
    "  -h, --help     Shows this help and exits.\n\n"
    "Exit status: 0 fixed, or nothing to change; 1 the file is shorter than a header\n"
    "(192 bytes) or, with -p, larger than 32 MiB; 2 a usage error, or the file could\n"
    "not be read or written.\n",
    kOptions,
    runFix,
};

} // namespace kelvo::cli

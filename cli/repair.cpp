// repair: Image > Repair Header for many files. It mends the fixed value and
// the check byte; a wrong boot logo it leaves alone and reports, since a
// dump's logo is the cartridge's own (fix is the build tool that writes one).
#include "cli/command.h"

namespace kelvo::cli {

namespace {

constexpr Option kOptions[] = {{"dry-run"}, {"help", 'h'}};

Status runRepair(const Arguments& arguments) {
    Status status = Status::Ok;
    for (const std::string& path : filesOf(arguments)) {
        try {
            const RepairPlan plan = planRepair(path);
            if (!arguments.has("dry-run"))
                repairHeader(path, plan);
            std::string lines;
            for (const HeaderChange& change : plan.changes)
                lines += path + ": " + changeLine(change);
            print(lines.empty() ? path + ": nothing to change\n" : lines);
            if (!plan.logoValid)
                status = worse(status, problem(path, "The boot logo is not the console's; a "
                                                     "console refuses this image (fix writes "
                                                     "the logo)"));
        } catch (const FileError& error) {
            status = worse(status, report(error));
        }
    }
    return status;
}

} // namespace

const Command kRepairCommand = {
    "repair",
    "repair [--dry-run] FILE...",
    "Mends the fixed value and check byte of each image (Image > Repair Header).",
    "Sets the fixed value at 0xB2 to 0x96 and recomputes the check byte at 0xBD,\n"
    "printing each byte it changed. The boot logo is left alone.\n\n"
    "Options:\n"
    "      --dry-run  Prints what would change and writes nothing.\n"
    "  -h, --help     Shows this help and exits.\n\n"
    "Exit status: 0 repaired, or nothing to change; 1 a file shorter than a header,\n"
    "or whose boot logo is not the console's; 2 a file that could not be read or\n"
    "written, or a usage error.\n",
    kOptions,
    runRepair,
};

} // namespace kelvo::cli

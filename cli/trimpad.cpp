// trim and pad: the padding that ends an image, taken off to fit more on a
// flash cart's card, or put back (to a power of two) before matching a dump.
// For both, a file with nothing to do is a success.
#include "cli/command.h"
#include "cli/numbers.h"
#include "romheader/imageedit.h"

namespace kelvo::cli {

namespace {

constexpr Option kTrimOptions[] = {{"dry-run"}, {"help", 'h'}};
constexpr Option kPadOptions[] = {{"byte", '\0', Takes::Value}, {"dry-run"}, {"help", 'h'}};

template <typename Each> Status forEachFile(const Arguments& arguments, Each each) {
    Status status = Status::Ok;
    for (const std::string& path : filesOf(arguments)) {
        try {
            print(path + ": " + each(path, !arguments.has("dry-run")));
        } catch (const FileError& error) {
            status = worse(status, report(error));
        }
    }
    return status;
}

Status runTrim(const Arguments& arguments) {
    return forEachFile(arguments, [](const std::string& path, bool write) {
        const TrimPlan plan = planTrim(path);
        if (plan.count() == 0)
            return std::string("nothing to trim\n");
        if (write)
            trimImage(path, plan);
        return "trimmed " + std::to_string(plan.state.size) + " -> " +
               std::to_string(plan.sizeAfter) + " bytes of " + byteText(plan.value) + " padding\n";
    });
}

std::uint8_t padByteOf(const Arguments& arguments) {
    const std::optional<std::string> text = arguments.value("byte");
    if (!text)
        return 0xFF;
    const std::optional<std::uint64_t> value = parseNumber(*text);
    if (!value || (*value != 0xFF && *value != 0x00))
        throw UsageError("--byte takes 0xFF or 0x00, not \"" + *text + '"');
    return std::uint8_t(*value);
}

Status runPad(const Arguments& arguments) {
    const std::uint8_t value = padByteOf(arguments);
    return forEachFile(arguments, [value](const std::string& path, bool write) {
        const PadPlan plan = planPad(path, value);
        if (plan.count == 0)
            return std::string("nothing to pad\n");
        if (write)
            appendBytes(path, plan.count, plan.value, plan.state);
        return "padded " + std::to_string(plan.state.size) + " -> " +
               std::to_string(plan.sizeAfter()) + " bytes with " + byteText(plan.value) + '\n';
    });
}

} // namespace

const Command kTrimCommand = {
    "trim",
    "trim [--dry-run] FILE...",
    "Removes the padding that ends each image.",
    "The padding is the run of the image's last byte when that byte is 0xFF or 0x00\n"
    "and the run is at least 1 KiB long (Image Details' Padding). The image is cut\n"
    "at the run's first byte rounded up to a multiple of 4, never below 192 bytes.\n"
    "Prints each file's size before and after.\n\n"
    "Options:\n"
    "      --dry-run  Prints what would be cut and changes nothing.\n"
    "  -h, --help     Shows this help and exits.\n\n"
    "Exit status: 0 trimmed, or nothing to trim; 1 a file shorter than a header;\n"
    "2 a file that could not be read or written, or a usage error.\n",
    kTrimOptions,
    runTrim,
};

const Command kPadCommand = {
    "pad",
    "pad [--byte 0xFF|0x00] [--dry-run] FILE...",
    "Pads each image to the next power of two.",
    "Appends 0xFF bytes (or 0x00 with --byte 0x00) until the size is a power of two;\n"
    "an image whose size is one already is left alone.\n\n"
    "Options:\n"
    "      --byte B   The byte to pad with: 0xFF (the default) or 0x00.\n"
    "      --dry-run  Prints what would be appended and changes nothing.\n"
    "  -h, --help     Shows this help and exits.\n\n"
    "Exit status: 0 padded, or nothing to pad; 1 a file shorter than a header, or\n"
    "larger than a cartridge holds (32 MiB); 2 a file that could not be read or\n"
    "written (a full disk), or a usage error.\n",
    kPadOptions,
    runPad,
};

} // namespace kelvo::cli

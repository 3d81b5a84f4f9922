// info: every row Image Details shows, as text or JSON. With --header only
// the header is read (one read of 192 bytes), so a script that wants the
// title of many images does not hash them. Otherwise the whole-file pass goes
// through the hash cache and, while lists are configured, the image is held
// against them.
#include "checksumlists/listdetails.h"
#include "cli/command.h"
#include "cli/listcheck.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <optional>

namespace kelvo::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr Option kOptions[] = {{"json"}, {"header"}, kDatOption, {"help", 'h'}};

// What is known of one file: its size and header, and the whole-file pass
// unless only the header was asked for. A file shorter than a header is
// always passed over whole: it is read by then anyway.
struct Look {
    std::string path;
    std::uint64_t size = 0;
    HeaderBytes header{};
    std::optional<ImageScan> scan;
    // What the lists say, while any is configured (never with --header).
    std::optional<std::vector<ListMatch>> matches;
    bool listsLoaded = false;

    [[nodiscard]] bool hasHeader() const { return size >= kHeaderLength; }
};

// `cache` is null for --header: the header alone, and a file too short to
// hold one read whole without the cache.
Look lookAt(const std::string& path, HashCache* cache, const Lists& lists) {
    Look look;
    look.path = path;
    if (!cache) {
        RomHeader read;
        readHeader(path, read);
        look.size = std::uint64_t(read.sizeBytes);
        look.header = read.bytes;
        if (look.hasHeader())
            return look;
    }
    look.scan = cache ? scanThroughCache(path, *cache) : scanImage(path);
    look.size = look.scan->size;
    look.header = look.scan->header;
    if (cache && lists.configured) {
        look.matches = matchThroughCache(lists.set, *look.scan, path, *cache);
        look.listsLoaded = !lists.set.empty();
    }
    return look;
}

std::string textOf(const Look& look) {
    std::vector<DetailRow> rows = look.scan ? imageDetails(look.path, *look.scan)
                                            : headerDetails(look.path, look.size, look.header);
    if (look.matches) {
        for (DetailRow& row : listDetailRows(*look.matches, look.listsLoaded))
            rows.push_back(std::move(row));
    }
    std::string text;
    for (const DetailRow& row : rows)
        text.append(row.caption).append(": ").append(row.value).append("\n");
    return text;
}

Json stringOrNull(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

// The keys are the same for every file; what was not read, or does not
// apply (a header the file is too short to hold, padding it does not end
// in), is null.
Json jsonOf(const Look& look) {
    Json json;
    json["file"] = look.path;
    json["size"] = look.size;
    const HeaderInfo info = decodeHeaderInfo(look.header);
    const bool header = look.hasHeader();
    const auto ifHeader = [header](Json value) { return header ? std::move(value) : Json(); };
    json["title"] = ifHeader(visibleText(info.title));
    json["title_hex"] = ifHeader(hexText(info.title));
    json["game_code"] = ifHeader(stringOrNull(codeText(info.gameCode)));
    json["maker_code"] = ifHeader(stringOrNull(codeText(info.makerCode)));
    json["maker_name"] = ifHeader(stringOrNull(info.makerName));
    json["entry_point"] = ifHeader(info.entryPoint ? Json(*info.entryPoint) : Json());
    json["logo_valid"] = ifHeader(info.logoValid);
    json["fixed_value"] = ifHeader(info.fixedValue);
    json["unit_code"] = ifHeader(info.unitCode);
    json["device_type"] = ifHeader(info.deviceType);
    json["version"] = ifHeader(info.version);
    json["check_stored"] = ifHeader(info.storedCheck);
    json["check_computed"] = ifHeader(info.computedCheck);

    const ImageScan* scan = look.scan ? &*look.scan : nullptr;
    for (const char* key : {"save_ids", "crc32", "md5", "sha1", "sha256"})
        json[key] = nullptr;
    if (scan) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08x", unsigned{scan->crc32});
        json["save_ids"] = scan->saveIds;
        json["crc32"] = crc;
        json["md5"] = hexText(scan->md5);
        json["sha1"] = hexText(scan->sha1);
        json["sha256"] = hexText(scan->sha256);
    }
    const bool padded = scan && isPadding(scan->lastByte, scan->trailingRun);
    json["padding_byte"] = padded ? Json(scan->lastByte) : Json();
    json["padding_length"] = padded ? Json(scan->trailingRun) : Json();
    if (look.matches) {
        // The status as verify words it; all null when no list could be loaded.
        const ListMatch* first = look.matches->empty() ? nullptr : &look.matches->front();
        json["list_status"] = look.listsLoaded
                                  ? Json(statusWord(first ? first->status : ListStatus::NotListed))
                                  : Json();
        json["list_name"] = first ? Json(first->rom->name) : Json();
        json["list"] = first ? Json(first->list->label()) : Json();
    }
    return json;
}

Status runInfo(const Arguments& arguments) {
    const bool json = arguments.has("json");
    const bool headerOnly = arguments.has("header");
    const std::vector<std::string>& files = filesOf(arguments);
    if (headerOnly && arguments.has("dat"))
        throw UsageError("--dat needs the whole file read; it cannot go with --header");
    Lists lists;
    std::optional<HashCache> cache;
    if (!headerOnly) {
        lists = loadLists(arguments);
        cache.emplace();
    }
    Status status = lists.status;
    Json all = Json::array();
    bool first = true;
    for (const std::string& path : files) {
        try {
            const Look look = lookAt(path, cache ? &*cache : nullptr, lists);
            if (json) {
                all.push_back(jsonOf(look));
            } else {
                print((first ? "" : "\n") + textOf(look));
                first = false;
            }
            if (!look.hasHeader())
                status =
                    worse(status, problem(path, "Only " + std::to_string(look.size) +
                                                    " bytes long, shorter than a header (" +
                                                    std::to_string(kHeaderLength) + " bytes)"));
        } catch (const FileError& error) {
            status = worse(status, report(error));
        }
    }
    // Several files always make an array, empty if none could be read, so
    // a script's JSON reader always has something to read.
    if (json && (files.size() > 1 || !all.empty())) {
        // A name that is not UTF-8 shows U+FFFD where its odd bytes were.
        const Json& shown = files.size() == 1 ? all.front() : all;
        print(shown.dump(2, ' ', false, Json::error_handler_t::replace) + "\n");
    }
    return status;
}

} // namespace

const Command kInfoCommand = {
    "info",
    "info [--json] [--header] [--dat FILE]... FILE...",
    "Prints everything Image Details shows about each image.",
    "Each row as 'Caption: value', a blank line between files: the header decoded\n"
    "and checked, the save type, the whole file's CRC32, MD5, SHA-1 and SHA-256, and\n"
    "the padding that ends it. While checksum lists are configured (those in\n"
    "$XDG_CONFIG_HOME/kelvo-gba/checksum-lists, and any given with --dat), three\n"
    "rows follow: List status (Verified, Good, Bad dump, Trimmed, Not in the loaded\n"
    "lists, or No lists loaded), List name (the list's name for the image) and List\n"
    "(the list's name and version). Hashes are kept in the hash cache.\n\n"
    "Options:\n"
    "      --json       One JSON object per file (an array for several files); with\n"
    "                   lists, list_status (verified, good, baddump, trimmed or\n"
    "                   unknown), list_name and list, null where none applies.\n"
    "      --header     Only what the header says; the rest of the file is not read\n"
    "                   and no list is consulted.\n"
    "      --dat FILE   Holds the images against this checksum list too (repeatable).\n"
    "  -h, --help       Shows this help and exits.\n\n"
    "Exit status: 0 every file read; 1 a file shorter than a header (192 bytes);\n"
    "2 a file or checksum list that could not be read, or a usage error. An image\n"
    "not in the lists is no error: info reports what it finds.\n",
    kOptions,
    runInfo,
};

} // namespace kelvo::cli

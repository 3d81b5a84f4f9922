#include "collection/summary.h"

#include <unordered_set>
#include <vector>

namespace kelvo {

namespace {

struct Sha1Hash {
    std::size_t operator()(const Sha1Digest& digest) const {
        std::size_t value = 0;
        for (std::size_t i = 0; i < sizeof value; ++i)
            value = value << 8 | digest[i];
        return value;
    }
};

std::string counted(std::uint64_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + ' ' + std::string(count == 1 ? one : many);
}

} // namespace

CheckSummary summarize(std::span<const CheckRow> rows, bool listsLoaded) {
    CheckSummary summary;
    summary.listsLoaded = listsLoaded;
    std::unordered_set<Sha1Digest, Sha1Hash> seen;
    for (const CheckRow& row : rows) {
        if (!row.readable()) {
            ++summary.unreadable;
            continue;
        }
        ++summary.images;
        if (headerProblems(row).repairable())
            ++summary.headersToRepair;
        if (row.whole && !seen.insert(row.sha1).second)
            ++summary.duplicates;
        if (!listsLoaded)
            continue;
        switch (row.status) {
        case ListStatus::Verified:
            ++summary.verified;
            break;
        case ListStatus::Good:
            ++summary.good;
            break;
        case ListStatus::Trimmed:
            ++summary.trimmed;
            break;
        case ListStatus::BadDump:
            ++summary.badDumps;
            break;
        case ListStatus::NotListed:
            ++summary.notListed;
            break;
        }
    }
    return summary;
}

std::string summaryText(const CheckSummary& summary) {
    std::vector<std::string> attention;
    if (summary.headersToRepair > 0)
        attention.push_back(
            counted(summary.headersToRepair, "header to repair", "headers to repair"));
    if (summary.duplicates > 0)
        attention.push_back(counted(summary.duplicates, "duplicate", "duplicates"));
    if (summary.unreadable > 0)
        attention.push_back(std::to_string(summary.unreadable) + " unreadable");

    std::string text;
    if (summary.images == 0) {
        text = summary.unreadable == 0 ? "No images found" : "No readable images";
    } else {
        text = counted(summary.images, "image", "images");
        std::vector<std::string> listed;
        const auto add = [&listed](std::uint64_t count, std::string_view one,
                                   std::string_view many) {
            if (count > 0)
                listed.push_back(counted(count, one, many));
        };
        if (summary.listsLoaded) {
            add(summary.verified, "verified", "verified");
            add(summary.good, "good", "good");
            add(summary.badDumps, "bad dump", "bad dumps");
            add(summary.trimmed, "trimmed", "trimmed");
            add(summary.notListed, "not in the loaded lists", "not in the loaded lists");
        }
        for (std::size_t i = 0; i < listed.size(); ++i)
            text += (i == 0 ? ": " : ", ") + listed[i];
    }
    for (const std::string& part : attention)
        text += "; " + part;
    return text + '.';
}

} // namespace kelvo

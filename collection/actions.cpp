#include "collection/actions.h"

#include <map>
#include <numeric>

namespace kelvo {

namespace {

constexpr const char* kInArchive = "inside an archive (archives are never written)";
constexpr const char* kChangedSince = "changed since the check";

std::vector<std::size_t> chosen(std::span<const CheckRow> rows,
                                std::span<const std::size_t> selected) {
    std::vector<std::size_t> indexes;
    if (selected.empty()) {
        indexes.resize(rows.size());
        std::iota(indexes.begin(), indexes.end(), std::size_t{0});
    } else {
        for (const std::size_t index : selected) {
            if (index < rows.size())
                indexes.push_back(index);
        }
    }
    return indexes;
}

// Why the row's file can no longer be acted on as checked, if it cannot.
std::optional<std::string> changedSince(const CheckRow& row, FileIdentity& identity) {
    try {
        const FileState now = fileState(row.path);
        if (now != row.state)
            return kChangedSince;
        identity = now.identity;
    } catch (const FileError& error) {
        return "cannot be read now: " + error.reason();
    }
    return std::nullopt;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

} // namespace

RepairPlans planRepairs(std::span<const CheckRow> rows, std::span<const std::size_t> selected) {
    RepairPlans plans;
    for (const std::size_t index : chosen(rows, selected)) {
        const CheckRow& row = rows[index];
        const HeaderProblems problems = headerProblems(row);
        if (!problems.repairable())
            continue;
        const auto skip = [&](std::string reason) {
            plans.skipped.push_back({index, std::move(reason)});
        };
        if (row.inArchive()) {
            skip(kInArchive);
            continue;
        }
        if (problems.logo) {
            skip("the boot logo is not the console's (a dump's logo is not mended)");
            continue;
        }
        PlannedRepair repair{index, row.path, {}, {}};
        if (std::optional<std::string> why = changedSince(row, repair.identity)) {
            skip(std::move(*why));
            continue;
        }
        try {
            repair.plan = planRepair(row.path);
        } catch (const FileError& error) {
            skip(error.reason());
            continue;
        }
        if (repair.plan.changes.empty()) {
            skip(kChangedSince);
            continue;
        }
        plans.repairs.push_back(std::move(repair));
    }
    return plans;
}

void applyRepair(const PlannedRepair& repair) {
    repairHeader(repair.path, repair.plan, &repair.identity);
}

RenamePlans planRenames(std::span<const CheckRow> rows, std::span<const std::size_t> selected) {
    RenamePlans plans;
    std::vector<PlannedRename> candidates;
    std::map<std::string, std::size_t> wanted; // target path -> how many want it
    for (const std::size_t index : chosen(rows, selected)) {
        const CheckRow& row = rows[index];
        if (!row.readable() || row.status == ListStatus::NotListed || row.listName.empty() ||
            row.listName == row.baseName())
            continue;
        const auto skip = [&](std::string reason) {
            plans.skipped.push_back({index, std::move(reason)});
        };
        if (row.inArchive()) {
            skip(kInArchive);
            continue;
        }
        if (std::optional<std::string> problem = fileNameProblem(row.listName)) {
            skip(std::move(*problem));
            continue;
        }
        PlannedRename rename{index, row.path, row.listName, {}, {}};
        if (std::optional<std::string> why = changedSince(row, rename.identity)) {
            skip(std::move(*why));
            continue;
        }
        ++wanted[joinPath(directoryOf(row.path), row.listName)];
        candidates.push_back(std::move(rename));
    }
    for (PlannedRename& rename : candidates) {
        if (wanted[joinPath(directoryOf(rename.path), rename.newName)] > 1) {
            plans.skipped.push_back(
                {rename.row, "another file wants the name \"" + rename.newName + "\" too"});
            continue;
        }
        try {
            rename.renames = planImageRename(rename.path, rename.newName, &rename.identity);
        } catch (const FileError& error) {
            plans.skipped.push_back(
                {rename.row, error.kind() == FileError::Kind::AlreadyExists
                                 ? "the name \"" + baseName(error.path()) + "\" is taken"
                                 : error.reason()});
            continue;
        }
        if (!rename.renames.empty())
            plans.renames.push_back(std::move(rename));
    }
    std::sort(plans.skipped.begin(), plans.skipped.end(),
              [](const SkippedRow& a, const SkippedRow& b) { return a.row < b.row; });
    return plans;
}

std::vector<Rename> applyRename(const PlannedRename& rename) {
    return renameImage(rename.path, rename.newName, &rename.identity);
}

CheckRow renamedRow(CheckRow row, const std::string& newName) {
    row.path = joinPath(directoryOf(row.path), newName);
    const std::size_t slash = row.file.find_last_of('/');
    row.file = slash == std::string::npos ? newName : row.file.substr(0, slash + 1) + newName;
    return row;
}

std::vector<std::string> repairLines(std::span<const CheckRow> rows, const RepairPlans& plans) {
    std::vector<std::string> lines;
    for (const PlannedRepair& repair : plans.repairs) {
        for (const HeaderChange& change : repair.plan.changes)
            lines.push_back(displayText(rows[repair.row].file) + ": " + changeText(change));
    }
    for (const SkippedRow& skipped : plans.skipped)
        lines.push_back("Skipped " + displayText(rows[skipped.row].file) + ": " + skipped.reason);
    return lines;
}

std::vector<std::string> renameLines(std::span<const CheckRow> rows, const RenamePlans& plans) {
    std::vector<std::string> lines;
    for (const PlannedRename& rename : plans.renames)
        lines.push_back(displayText(rows[rename.row].file) + " -> " + displayText(rename.newName));
    for (const SkippedRow& skipped : plans.skipped)
        lines.push_back("Skipped " + displayText(rows[skipped.row].file) + ": " +
                        displayText(skipped.reason));
    return lines;
}

} // namespace kelvo

// Acting on a check's rows: Repair Headers and Rename To List Names for the
// rows the user selected (all rows when none are). Each is planned first,
// for the confirmation or preview the window shows, with the rows that
// cannot take part listed as skipped and why; then each planned file is
// changed on its own, through the same core calls as the header window's
// Image > Repair Header and Image > Rename To List Name (the file's identity
// checked, one write and fsync; never replacing a file).
#pragma once

#include "collection/row.h"

#include "romheader/imageinfo.h"
#include "romheader/rename.h"

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace kelvo {

// A row left out of an action, and why: "the boot logo is not the
// console's", "inside an archive", "changed since the check", ...
struct SkippedRow {
    std::size_t row = 0; // index into the rows given
    std::string reason;
};

struct PlannedRepair {
    std::size_t row = 0;
    std::string path;
    RepairPlan plan; // the byte changes, for the confirmation
    FileIdentity identity;
};

struct RepairPlans {
    std::vector<PlannedRepair> repairs;
    std::vector<SkippedRow> skipped;
};

// The rows of `selected` (indexes into `rows`; all rows when empty) whose
// header needs its fixed value or check byte mended. Rows that need it but
// cannot have it are skipped: an invalid boot logo, an archive member, a
// file that changed since the check (or cannot be read now).
[[nodiscard]] RepairPlans planRepairs(std::span<const CheckRow> rows,
                                      std::span<const std::size_t> selected);

// Repairs one planned file; throws FileError (kind Changed when the file is
// no longer the one planned, nothing written).
void applyRepair(const PlannedRepair& repair);

struct PlannedRename {
    std::size_t row = 0;
    std::string path;
    std::string newName;         // the list's name for the image
    std::vector<Rename> renames; // the image first, then its save files
    FileIdentity identity;
};

struct RenamePlans {
    std::vector<PlannedRename> renames;
    std::vector<SkippedRow> skipped;
};

// The rows of `selected` (all when empty) that matched a list under
// another name than their file's. Skipped, with the reason: archive
// members, files changed since the check, names the file system cannot
// take, a name another file already has, and every row of two or more that
// want the same new name.
[[nodiscard]] RenamePlans planRenames(std::span<const CheckRow> rows,
                                      std::span<const std::size_t> selected);

// Renames one planned file (and its save files), never replacing a file;
// returns the renames made. Throws FileError, leaving nothing renamed.
std::vector<Rename> applyRename(const PlannedRename& rename);

// `row` after its file was renamed to `newName` in its directory: the path
// and the relative path take the new name.
[[nodiscard]] CheckRow renamedRow(CheckRow row, const std::string& newName);

// The confirmation's lines: "sub/a.gba: Byte 0xBD (check byte): 0x51
// becomes 0x50" for each change, then "Skipped sub/b.gba: <reason>".
[[nodiscard]] std::vector<std::string> repairLines(std::span<const CheckRow> rows,
                                                   const RepairPlans& plans);
// The preview's lines: "sub/a.gba -> Game (Europe).gba", then the skipped.
[[nodiscard]] std::vector<std::string> renameLines(std::span<const CheckRow> rows,
                                                   const RenamePlans& plans);

} // namespace kelvo

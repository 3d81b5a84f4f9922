// Export Report: the check's rows as a file a user keeps, in RFC 4180 CSV
// (opens in a spreadsheet) or JSON (read by scripts).
//
// Both are UTF-8: a name that is not UTF-8 shows U+FFFD where its odd bytes
// were, as the window shows it. In CSV a cell starting with = + - @ or a
// tab is written after a ' so that a spreadsheet shows it rather than runs
// it as a formula (names and titles come from the files); JSON keeps every
// text as the cell shows it.
#pragma once

#include "collection/row.h"

#include <span>
#include <string>

namespace kelvo {

// A header line with the column captions, then one line per row, each
// ending in CR LF; fields holding a comma, a quote or a line break quoted.
[[nodiscard]] std::string csvReport(std::span<const CheckRow> rows);

// An array with one object per row; keys file, title, game_code, maker,
// size (a number), header, save_type, crc32, sha1, list_status, list_name;
// null where the cell is empty or says "not computed".
[[nodiscard]] std::string jsonReport(std::span<const CheckRow> rows);

// Writes the report to `path` atomically (see replaceFileAtomically), as
// CSV or JSON by its ending (.csv or .json, any case). Throws FileError:
// InvalidName for another ending, nothing written; the file's failures.
void exportReport(const std::string& path, std::span<const CheckRow> rows);

} // namespace kelvo

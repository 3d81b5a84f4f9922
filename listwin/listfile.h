// The list file: what "Make List" appends to list.txt. One block per press:
// with columns chosen, a line of their captions, one row per listed file and
// the count line; with none, the count line alone. Lines end with CR LF.
// The List Name column, when chosen, comes last, so a list without it is as
// it always was.
#pragma once

#include "romheader/romheader.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvo {

// In the order the columns appear in a row.
enum class Column { Filename, Header, CartId, SizeBytes, SizeMbit, Publisher, ListName };

[[nodiscard]] std::string_view columnCaption(Column column);

struct ListEntry {
    ListEntry(std::string name = {}, std::optional<RomHeader> header = {},
              std::string listName = {})
        : name(std::move(name)), header(std::move(header)), listName(std::move(listName)) {}

    std::string name;                // as listed
    std::optional<RomHeader> header; // empty when the file could not be read
    std::string listName;            // the first checksum-list match's name, or empty
};

// " 12 \r\n": a blank, the count, a blank, CR LF.
[[nodiscard]] std::string countLine(std::size_t count);

// The block for `entries`; `columns` in any order, each at most once.
[[nodiscard]] std::string formatListBlock(std::vector<Column> columns,
                                          const std::vector<ListEntry>& entries);

// A value made safe for one cell: control characters (tab, CR, LF...) become
// blanks and malformed UTF-8 becomes U+FFFD, so every row keeps its columns.
[[nodiscard]] std::string cellText(std::string_view value);

} // namespace kelvo

#include "listwin/listfile.h"

#include <algorithm>
#include <array>

namespace kelvo {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

std::string cellValue(Column column, const ListEntry& entry) {
    if (column == Column::Filename)
        return entry.name;
    if (column == Column::ListName)
        return entry.listName;
    if (!entry.header)
        return {};
    const RomHeader& header = *entry.header;
    switch (column) {
    case Column::Header:
        return visibleText(header.title);
    case Column::CartId:
        return codeText(header.cartId);
    case Column::SizeBytes:
        return std::to_string(header.sizeBytes);
    case Column::SizeMbit:
        return megabitText(header.sizeMbit);
    case Column::Publisher:
        return decodeMaker(header.makerCode);
    case Column::Filename:
    case Column::ListName:
        break;
    }
    return {};
}

// Length of the well-formed UTF-8 sequence at the start of `s`, 0 when malformed.
std::size_t sequenceLength(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t ch = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        ch = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        ch = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        ch = lead & 0x07;
    } else {
        return 0;
    }
    if (s.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        ch = (ch << 6) | (byte(i) & 0x3F);
    }
    const bool overlong = (length == 3 && ch < 0x800) || (length == 4 && ch < 0x10000);
    const bool invalid = ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF);
    return overlong || invalid ? 0 : length;
}

} // namespace

std::string_view columnCaption(Column column) {
    switch (column) {
    case Column::Filename:
        return "Filename";
    case Column::Header:
        return "Header";
    case Column::CartId:
        return "Cart ID";
    case Column::SizeBytes:
        return "Size (Bytes)";
    case Column::SizeMbit:
        return "Size (Mbit)";
    case Column::Publisher:
        return "Publisher";
    case Column::ListName:
        return "List Name";
    }
    return {};
}

std::string countLine(std::size_t count) {
    std::string line = " ";
    line += std::to_string(count);
    line += ' ';
    line += kLineEnd;
    return line;
}

std::string cellText(std::string_view value) {
    std::string cell;
    cell.reserve(value.size());
    while (!value.empty()) {
        const std::size_t length = sequenceLength(value);
        if (length == 0) {
            cell += "\xEF\xBF\xBD"; // U+FFFD
            value.remove_prefix(1);
            continue;
        }
        const auto lead = static_cast<unsigned char>(value[0]);
        // C0 controls, DEL and the C1 controls (U+0080..U+009F, lead 0xC2 0x80..0x9F).
        const bool control =
            lead < 0x20 || lead == 0x7F ||
            (length == 2 && lead == 0xC2 && static_cast<unsigned char>(value[1]) < 0xA0);
        if (control)
            cell += ' ';
        else
            cell.append(value.substr(0, length));
        value.remove_prefix(length);
    }
    return cell;
}

std::string formatListBlock(std::vector<Column> columns, const std::vector<ListEntry>& entries) {
    std::sort(columns.begin(), columns.end());
    columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
    if (columns.empty())
        return countLine(entries.size());

    std::string block;
    block.reserve(64 + entries.size() * 24 * columns.size());
    const auto appendRow = [&](auto&& valueOf) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (i > 0)
                block += '\t';
            block += cellText(valueOf(columns[i]));
        }
        block += kLineEnd;
    };
    appendRow([](Column column) { return std::string(columnCaption(column)); });
    for (const ListEntry& entry : entries)
        appendRow([&entry](Column column) { return cellValue(column, entry); });
    block += countLine(entries.size());
    return block;
}

} // namespace kelvo

// The cells of a check's row, worked out from what the row holds when they
// are shown, so a row stays small (10,000 of them are a large collection).
#include "collection/row.h"

#include "romheader/imageinfo.h"

#include <cstdio>

namespace kelvo {

namespace {

// The length of the well-formed UTF-8 sequence `text` starts with (Unicode,
// table 3-7); 0 when it starts with none.
std::size_t sequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF)
            return 0;
    }
    return length;
}

std::string headerCell(const CheckRow& row) {
    if (row.failure)
        return row.failure->reason;
    const HeaderProblems problems = headerProblems(row);
    if (problems.tooShort)
        return "too short";
    std::string text;
    const auto add = [&text](bool wrong, const char* what) {
        if (wrong)
            text.append(text.empty() ? "" : ", ").append(what);
    };
    add(problems.checkByte, "check byte bad");
    add(problems.fixedValue, "fixed value bad");
    add(problems.logo, "logo invalid");
    return text.empty() ? "OK" : text;
}

} // namespace

std::string_view columnCaption(CheckColumn column) {
    switch (column) {
    case CheckColumn::File:
        return "File";
    case CheckColumn::Title:
        return "Title";
    case CheckColumn::GameCode:
        return "Game code";
    case CheckColumn::Maker:
        return "Maker";
    case CheckColumn::Size:
        return "Size";
    case CheckColumn::Header:
        return "Header";
    case CheckColumn::SaveType:
        return "Save type";
    case CheckColumn::Crc32:
        return "CRC32";
    case CheckColumn::Sha1:
        return "SHA-1";
    case CheckColumn::ListStatus:
        return "List status";
    case CheckColumn::ListName:
        return "List name";
    }
    return {};
}

std::string CheckRow::baseName() const {
    const std::string_view name = member.empty() ? std::string_view(path) : member;
    const std::size_t slash = name.find_last_of('/');
    return std::string(slash == std::string_view::npos ? name : name.substr(slash + 1));
}

HeaderProblems headerProblems(const CheckRow& row) {
    HeaderProblems problems;
    if (row.failure)
        return problems;
    if (row.size.value_or(0) < kHeaderLength) {
        problems.tooShort = true;
        return problems;
    }
    const HeaderInfo info = decodeHeaderInfo(row.header);
    problems.checkByte = !info.checkValid();
    problems.fixedValue = !info.fixedValueValid();
    problems.logo = !info.logoValid;
    return problems;
}

std::string cellText(const CheckRow& row, CheckColumn column) {
    const bool header = row.readable() && row.size.value_or(0) >= kHeaderLength;
    switch (column) {
    case CheckColumn::File:
        return displayText(row.file);
    case CheckColumn::Title:
        return header ? displayText(
                            visibleText(std::span(row.header).subspan<kTitleOffset, kTitleWidth>()))
                      : std::string();
    case CheckColumn::GameCode:
        return header ? displayText(codeText(std::span(row.header).subspan<kGameTypeOffset, 4>()))
                      : std::string();
    case CheckColumn::Maker:
        return header ? makerText(decodeHeaderInfo(row.header)) : std::string();
    case CheckColumn::Size:
        return row.size ? std::to_string(*row.size) : std::string();
    case CheckColumn::Header:
        return headerCell(row);
    case CheckColumn::SaveType:
        if (!row.readable() || !header)
            return {};
        return row.whole ? saveTypeText(row.saveIds) : std::string(kNotComputed);
    case CheckColumn::Crc32:
        return row.readable() ? crc32Text(row.crc32) : std::string();
    case CheckColumn::Sha1:
        if (!row.readable())
            return {};
        return row.whole ? hexText(row.sha1) : std::string(kNotComputed);
    case CheckColumn::ListStatus:
        if (!row.readable())
            return {};
        return row.listsLoaded ? std::string(statusText(row.status)) : "No lists loaded";
    case CheckColumn::ListName:
        return row.readable() ? displayText(row.listName) : std::string();
    }
    return {};
}

std::array<std::string, kColumnCount> cellTexts(const CheckRow& row) {
    std::array<std::string, kColumnCount> cells;
    for (std::size_t i = 0; i < kColumnCount; ++i)
        cells[i] = cellText(row, CheckColumn(i));
    return cells;
}

std::string displayText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = sequenceLength(bytes);
        if (length == 0) {
            text += "\xEF\xBF\xBD"; // U+FFFD
            bytes.remove_prefix(1);
            continue;
        }
        text.append(bytes.substr(0, length));
        bytes.remove_prefix(length);
    }
    return text;
}

std::string crc32Text(std::uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", unsigned{crc});
    return text;
}

} // namespace kelvo

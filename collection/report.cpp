#include "collection/report.h"

#include "romheader/xdg.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace kelvo {

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kJsonKeys[kColumnCount] = {
    "file",      "title", "game_code", "maker",       "size",      "header",
    "save_type", "crc32", "sha1",      "list_status", "list_name",
};

std::string csvField(std::string text) {
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(text.begin(), '\'');
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char ch : text) {
        quoted += ch;
        if (ch == '"')
            quoted += '"';
    }
    return quoted + '"';
}

void appendLine(std::string& csv, const std::array<std::string, kColumnCount>& cells) {
    for (std::size_t i = 0; i < kColumnCount; ++i)
        csv.append(i == 0 ? "" : ",").append(csvField(cells[i]));
    csv += "\r\n";
}

bool endsWithNoCase(std::string_view path, std::string_view ending) {
    if (path.size() < ending.size())
        return false;
    const std::string_view tail = path.substr(path.size() - ending.size());
    return std::equal(tail.begin(), tail.end(), ending.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? char(a | 0x20) : a) == b;
    });
}

} // namespace

std::string csvReport(std::span<const CheckRow> rows) {
    std::array<std::string, kColumnCount> captions;
    for (std::size_t i = 0; i < kColumnCount; ++i)
        captions[i] = std::string(columnCaption(CheckColumn(i)));
    std::string csv;
    appendLine(csv, captions);
    for (const CheckRow& row : rows)
        appendLine(csv, cellTexts(row));
    return csv;
}

std::string jsonReport(std::span<const CheckRow> rows) {
    Json report = Json::array();
    for (const CheckRow& row : rows) {
        const std::array<std::string, kColumnCount> cells = cellTexts(row);
        Json object = Json::object();
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const std::string& cell = cells[i];
            if (cell.empty() || cell == kNotComputed)
                object[kJsonKeys[i]] = nullptr;
            else if (CheckColumn(i) == CheckColumn::Size)
                object[kJsonKeys[i]] = *row.size;
            else
                object[kJsonKeys[i]] = cell;
        }
        report.push_back(std::move(object));
    }
    // The cells are UTF-8 already; replacing is what a stray byte would get.
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + '\n';
}

void exportReport(const std::string& path, std::span<const CheckRow> rows) {
    if (endsWithNoCase(path, ".csv"))
        replaceFileAtomically(path, csvReport(rows));
    else if (endsWithNoCase(path, ".json"))
        replaceFileAtomically(path, jsonReport(rows));
    else
        throw FileError(FileError::Kind::InvalidName, "write the report", path,
                        "A report's name ends in .csv or .json");
}

} // namespace kelvo

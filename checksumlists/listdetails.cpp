#include "checksumlists/listdetails.h"

namespace kelvo {

std::vector<DetailRow> listDetailRows(const std::vector<ListMatch>& matches, bool listsLoaded) {
    std::vector<DetailRow> rows{
        {"List status", std::string(kNoListsLoaded)}, {"List name", {}}, {"List", {}}};
    if (!listsLoaded)
        return rows;
    if (matches.empty()) {
        rows[0].value = statusText(ListStatus::NotListed);
        return rows;
    }
    const ListMatch& first = matches.front();
    rows[0].value = statusText(first.status);
    rows[1].value = first.rom->name;
    rows[2].value = first.list->label();
    return rows;
}

std::string_view statusWord(ListStatus status) {
    switch (status) {
    case ListStatus::Verified:
        return "verified";
    case ListStatus::Good:
        return "good";
    case ListStatus::Trimmed:
        return "trimmed";
    case ListStatus::BadDump:
        return "baddump";
    case ListStatus::NotListed:
        break;
    }
    return "unknown";
}

} // namespace kelvo

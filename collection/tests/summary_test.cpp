// The summary sentence for rows written by hand.
#include "collection/tests/collection_support.h"

#include "collection/summary.h"

namespace {

using namespace kelvo;
using namespace kelvo::test;

// A row as a word: its status letter (V verified, G good, B bad dump, T
// trimmed, N not listed, U unreadable), then r for a check byte to repair,
// l for an invalid logo alone, x for a trusted member without a SHA-1, and
// a number naming its SHA-1 (rows with the same number are duplicates).
CheckRow rowOf(std::string_view word) {
    CheckRow row;
    if (word.front() == 'U') {
        row.failure = RowFailure{"unreadable: Permission denied", false};
        return row;
    }
    const std::string_view statuses = "VGTBN";
    row.status = ListStatus(statuses.find(word.front()));
    Bytes bytes = image(4096);
    row.size = bytes.size();
    row.whole = word.find('x') == std::string_view::npos;
    if (word.find('r') != std::string_view::npos)
        bytes[kCheckOffset] ^= 1;
    if (word.find('l') != std::string_view::npos)
        bytes[kLogoOffset] ^= 1;
    std::copy_n(bytes.begin(), kHeaderLength, row.header.begin());
    const std::size_t digit = word.find_first_of("0123456789");
    const int number =
        digit == std::string_view::npos ? 0 : std::stoi(std::string(word.substr(digit)));
    row.sha1[0] = std::uint8_t(number >> 8);
    row.sha1[1] = std::uint8_t(number);
    return row;
}

// `count` rows of each word; a word without a number gets a SHA-1 of its own.
std::vector<std::string> many(std::initializer_list<std::pair<int, const char*>> counts) {
    std::vector<std::string> words;
    int unique = 1000;
    for (const auto& [count, word] : counts) {
        const bool numbered =
            std::string_view(word).find_first_of("0123456789") != std::string_view::npos;
        for (int i = 0; i < count; ++i)
            words.push_back(word + (numbered ? "" : std::to_string(unique++)));
    }
    return words;
}

struct SummaryRow {
    const char* name;
    std::vector<std::string> rows;
    bool lists;
    std::string sentence;
};

class Summary : public ::testing::TestWithParam<SummaryRow> {};

TEST_P(Summary, SaysItInOneSentence) {
    std::vector<CheckRow> rows;
    for (const std::string& word : GetParam().rows)
        rows.push_back(rowOf(word));
    EXPECT_EQ(summaryText(summarize(rows, GetParam().lists)), GetParam().sentence);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Summary,
    ::testing::Values(
        SummaryRow{"a_collection",
                   many({{186, "V"},
                         {4, "V7"},
                         {3, "G"},
                         {2, "B"},
                         {1, "T"},
                         {12, "N"},
                         {1, "N7"},
                         {5, "Nr"},
                         {1, "U"}}),
                   true,
                   "214 images: 190 verified, 3 good, 2 bad dumps, 1 trimmed, 18 not in the "
                   "loaded lists; 5 headers to repair; 4 duplicates; 1 unreadable."},
        SummaryRow{"one_of_each",
                   {"V1", "G2", "B3", "T4", "Nr4", "U"},
                   true,
                   "5 images: 1 verified, 1 good, 1 bad dump, 1 trimmed, 1 not in the loaded "
                   "lists; 1 header to repair; 1 duplicate; 1 unreadable."},
        SummaryRow{"no_lists", {"Gr1", "G2", "G3"}, false, "3 images; 1 header to repair."},
        SummaryRow{"no_lists_nothing_to_say", {"G1", "G2"}, false, "2 images."},
        SummaryRow{"one_image", {"V1"}, true, "1 image: 1 verified."},
        SummaryRow{"nothing", {}, true, "No images found."},
        SummaryRow{"only_unreadable", {"U", "U"}, true, "No readable images; 2 unreadable."},
        SummaryRow{"unreadable_counts_only_as_such",
                   {"V1", "U"},
                   true,
                   "1 image: 1 verified; 1 unreadable."},
        SummaryRow{"trusted_members_are_no_duplicates", {"Gx", "Gx"}, true, "2 images: 2 good."},
        SummaryRow{"a_logo_alone_is_not_repaired", {"Gl1"}, true, "1 image: 1 good."}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

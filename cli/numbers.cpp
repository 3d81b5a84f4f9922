#include "cli/numbers.h"

namespace kelvo::cli {

std::optional<std::uint64_t> parseNumber(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (text.size() > 1 && text[0] == '0') {
        base = 8;
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const unsigned digit = c >= '0' && c <= '9'   ? unsigned(c - '0')
                               : c >= 'a' && c <= 'f' ? unsigned(c - 'a' + 10)
                               : c >= 'A' && c <= 'F' ? unsigned(c - 'A' + 10)
                                                      : base;
        if (digit >= base)
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFF'FFFFu)
            return std::nullopt;
    }
    return value;
}

} // namespace kelvo::cli

// Numbers as the command line takes and shows them.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kelvo::cli {

// A whole number as C's strtoul reads one with base 0 (decimal, 0x or 0X
// hex, a leading 0 for octal), but only when the whole text is one: no
// blanks, no sign, nothing after it. Nothing for anything else, or a number
// past 2^32.
[[nodiscard]] std::optional<std::uint64_t> parseNumber(std::string_view text);

} // namespace kelvo::cli

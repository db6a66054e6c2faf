// Reading decimal numbers from answers: plain C++, no platform headers, so that it can be checked
// natively.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

namespace tarnix {

// A count or a version part, read as the C library's atoi reads it (white space skipped, an
// optional sign, then digits up to the first other character; no digits give 0), but with no
// value for a negative number or one above `limit`: from an answer such a number is no count,
// and taken as it is it would wrap (a negative version part would read as 4294967295).
inline std::optional<uint32_t> ReadNonNegativeDecimal(std::string_view text,
                                                      uint32_t limit = std::numeric_limits<int32_t>::max()) noexcept {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    if (i < text.size() && text[i] == '-') return std::nullopt;
    if (i < text.size() && text[i] == '+') ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        if ((value = value * 10 + static_cast<uint32_t>(text[i] - '0')) > limit) return std::nullopt;
    return static_cast<uint32_t>(value);
}

// Reads an HTTP Content-Length value. Only a plain decimal number of at most 32 bits counts (white
// space around it and a plus sign allowed); anything else, a negative number included, gives 0,
// as an absent header does.
inline uint32_t ParseContentLength(std::string_view text) noexcept {
    constexpr std::string_view kBlanks = " \t\r\n";
    size_t i = text.find_first_not_of(kBlanks);
    if (i == std::string_view::npos) return 0;
    const size_t end = text.find_last_not_of(kBlanks) + 1;
    if (text[i] == '+') ++i;
    if (i == end) return 0;
    uint64_t value = 0;
    for (; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        if (value > std::numeric_limits<uint32_t>::max()) return 0;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace tarnix

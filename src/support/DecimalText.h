// Reading decimal numbers from answers: plain C++, no platform headers, so that it can be checked
// natively.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace tarnix {

// As the C library's atoi does on the platform (32-bit long): white space skipped, an optional sign, then digits up to the first other character; no digits
// give 0, and a value beyond 32 bits gives the nearest 32-bit limit.
inline int32_t ReadDecimal(std::string_view text) noexcept {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulated as a magnitude up to one past INT32_MAX, the magnitude of INT32_MIN.
    constexpr uint32_t kLimit = static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) + 1u;
    uint32_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        uint32_t digit = static_cast<uint32_t>(text[i] - '0');
        magnitude = magnitude > (kLimit - digit) / 10 ? kLimit : magnitude * 10 + digit;
    }
    if (negative) return magnitude == kLimit ? std::numeric_limits<int32_t>::min() : -static_cast<int32_t>(magnitude);
    return magnitude == kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(magnitude);
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

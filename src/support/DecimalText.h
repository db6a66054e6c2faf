// Reading a decimal number the way the C library's atoi does on the platform (32-bit long):
// plain C++, no platform headers, so that it can be checked natively.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

namespace tarnix {

// White space skipped, an optional sign, then digits up to the first other character; no digits
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

}  // namespace tarnix

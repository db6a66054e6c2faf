// Independent readings of decimal text, from the C library, that the targets compare the
// library's own readers with.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tarnix::fuzz {

// atoi on a 32-bit long: strtoll on the text up to its first zero byte, held to 32 bits.
inline int32_t ReferenceAtoi(std::string_view text) {
    const std::string copy(text.substr(0, text.find('\0')));
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace tarnix::fuzz

// Independent readings of decimal text, from the C library, that the targets compare the
// library's own readers with.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace tarnix::fuzz {

// strtoll on the text up to its first zero byte; no value for a minus sign where the number
// starts or a value above INT32_MAX.
inline std::optional<uint32_t> ReferenceNonNegative(std::string_view text) {
    const std::string copy(text.substr(0, text.find('\0')));
    const size_t start = copy.find_first_not_of(" \t\n\v\f\r");
    if (start != std::string::npos && copy[start] == '-') return std::nullopt;
    errno = 0;
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace tarnix::fuzz

// Version texts of the form major.minor.third and their comparison. Plain C++, no platform
// headers, so that it can be checked natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnix {

// Version texts travel in fields of 64 bytes: at most 63 characters and the terminator.
constexpr size_t kVersionFieldSize = 64;

struct VersionTriple {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t third = 0;
};

// "7.2.15" gives (7, 2, 15). Without a dot the result is (0, 0, 0); without a second dot minor and
// third stay 0 ("7.2" gives (7, 0, 0)); the third part runs to the end ("1.2.3.4" gives
// (1, 2, 3)). Each part is read as a decimal number; no value when a part read is negative or
// does not fit a signed 32-bit number ("-1.-1.-1", "99999999999.1.1").
std::optional<VersionTriple> ParseVersion(std::string_view text);

// True when the service's version is greater than the local one, compared as numbers major
// first. A text that does not fit its 64-byte field, or that is not a valid version, on either
// side, never counts as newer: cut short it would be a different version, and a negative part
// must not read as the largest one.
bool IsNewerVersion(std::string_view local, std::string_view service);

}  // namespace tarnix

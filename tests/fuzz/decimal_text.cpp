// The decimal readers under every answer, against the C library's readings: ReadNonNegativeDecimal
// reads as strtoll does (up to a zero byte) but refuses a negative number and one beyond 32 signed
// bits; ParseContentLength accepts exactly a plain decimal of at most 32 bits (white space around
// it, a plus sign) and gives 0 for anything else.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "support/DecimalText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string upToZero(text.substr(0, text.find('\0')));
    errno = 0;
    const long long value = std::strtoll(upToZero.c_str(), nullptr, 10);
    const bool negative = upToZero[std::min(upToZero.find_first_not_of(" \t\n\v\f\r"), upToZero.size())] == '-';
    const bool none = errno == ERANGE || value > INT32_MAX || negative;
    FUZZ_CHECK(tarnix::ReadNonNegativeDecimal(text) == (none ? std::nullopt : std::optional<uint32_t>(value)));

    // The number between the blanks, its plus sign taken off: digits only, or no length.
    const size_t first = std::min(text.find_first_not_of(" \t\r\n"), size), end = text.find_last_not_of(" \t\r\n") + 1;
    std::string number(text.substr(first, end > first ? end - first : 0));
    if (!number.empty() && number[0] == '+') number.erase(0, 1);
    errno = 0;
    const unsigned long long length = std::strtoull(number.c_str(), nullptr, 10);
    const bool plain = !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
    FUZZ_CHECK(tarnix::ParseContentLength(text) == (plain && errno != ERANGE && length <= UINT32_MAX ? length : 0));
    return 0;
}

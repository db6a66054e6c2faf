// The decimal readers under every answer: ReadNonNegativeDecimal agrees with the C library's
// strtoll, refusing a negative number and one beyond 32 signed bits; ParseContentLength accepts exactly a plain decimal of at most 32 bits (white space
// around it, a plus sign) and gives 0 for anything else.
#include <algorithm>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "Reference.h"
#include "support/DecimalText.h"

namespace {

uint32_t ReferenceContentLength(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return 0;
    std::string_view number = text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
    if (!number.empty() && number[0] == '+') number.remove_prefix(1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) return 0;
    const std::string digits(number.substr(std::min(number.find_first_not_of('0'), number.size())));
    if (digits.size() > 10) return 0;
    const unsigned long long value = digits.empty() ? 0 : std::strtoull(digits.c_str(), nullptr, 10);
    return value > UINT32_MAX ? 0 : static_cast<uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(tarnix::ReadNonNegativeDecimal(text) == tarnix::fuzz::ReferenceNonNegative(text));
    FUZZ_CHECK(tarnix::ParseContentLength(text) == ReferenceContentLength(text));
    return 0;
}

// URLEncode. Properties: the escaped text holds only the unreserved characters and "%xx" with
// lower-case hex digits, escapes nothing it could keep, and reads back to the input; together
// they leave one right answer for every input.
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "support/UrlEscape.h"

static constexpr std::string_view kUnreserved = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-_*",
                           kHex = "0123456789abcdef";

// The text that `escaped` stands for; nothing when it holds anything but unreserved characters
// and "%" with two lower-case hex digits.
static std::optional<std::string> Unescape(std::string_view escaped) {
    std::string text;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] == '%' && i + 2 < escaped.size() && kHex.find(escaped[i + 1]) < 16 && kHex.find(escaped[i + 2]) < 16)
            text += static_cast<char>(kHex.find(escaped[i + 1]) * 16 + kHex.find(escaped[i + 2])), i += 2;
        else if (kUnreserved.find(escaped[i]) < kUnreserved.size())
            text += escaped[i];
        else
            return std::nullopt;
    }
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size), escaped = tarnix::URLEncode(text);
    size_t kept = 0;
    for (char c : text) kept += kUnreserved.find(c) < kUnreserved.size();
    FUZZ_CHECK(Unescape(escaped) == text);
    FUZZ_CHECK(escaped.size() == kept + 3 * (size - kept));  // nothing escaped needlessly
    return 0;
}

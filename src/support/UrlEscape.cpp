#include "support/UrlEscape.h"

namespace tarnix {

namespace {

bool StaysUnescaped(unsigned char c) {
    // Spelled out rather than isalnum(): the C locale functions would accept letters of the
    // host's code page, which must be escaped.
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '-' || c == '_' || c == '*';
}

}  // namespace

std::string URLEncode(const std::string& text) {
    static const char kHexDigits[] = "0123456789abcdef";
    std::string result;
    result.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (StaysUnescaped(c)) {
            result += ch;
        } else {
            result += '%';
            result += kHexDigits[c >> 4];
            result += kHexDigits[c & 0x0F];
        }
    }
    return result;
}

}  // namespace tarnix

#include "operations/UrlEncode.h"

#include "support/Text.h"

namespace tarnix {

namespace {

bool StaysUnescaped(unsigned char c) {
    // Spelled out rather than isalnum(): the C locale functions would accept letters of the
    // host's code page, which must be escaped.
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '-' || c == '_' || c == '*';
}

void AppendText(std::string& query, const char* key, const std::string& value) {
    if (value.empty()) return;
    query += key;
    query += URLEncode(value);
}

void AppendYear(std::string& query, const char* key, int year) {
    if (year <= 0) return;
    query += key;
    query += Format("%04d", year);
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

std::string BuildSearchQuery(const std::string& surname, const std::string& givenNames,
    const std::string& birthPlace, int birthYear, const std::string& deathPlace, int deathYear,
    const std::string& father, const std::string& mother, const std::string& spouse,
    const std::string& cobrand) {
    std::string query;
    // The service reads the co-brand code first, although hosts pass it last.
    AppendText(query, "&cobrand=", cobrand);
    AppendText(query, "&surname=", surname);
    AppendText(query, "&givennames=", givenNames);
    AppendText(query, "&birthplace=", birthPlace);
    AppendYear(query, "&birthyear=", birthYear);
    AppendText(query, "&deathplace=", deathPlace);
    AppendYear(query, "&deathyear=", deathYear);
    AppendText(query, "&father=", father);
    AppendText(query, "&mother=", mother);
    AppendText(query, "&spouse=", spouse);
    return query;
}

}  // namespace tarnix

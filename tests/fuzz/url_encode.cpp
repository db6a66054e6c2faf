// URLEncode and the search query built with it. Properties: the escaped text holds only the
// unreserved characters and "%xx" with lower-case hex digits, escapes nothing it could keep, and
// reads back to the input; the query holds exactly the present fields, in their fixed order,
// each reading back to its value.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "operations/UrlEncode.h"

namespace {

bool Unreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == '*';
}

int LowerHex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The text that `escaped` stands for; nothing when it holds anything but unreserved characters
// and "%" with two lower-case hex digits.
std::optional<std::string> Unescape(const std::string& escaped) {
    std::string text;
    for (size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c != '%') {
            if (!Unreserved(static_cast<unsigned char>(c))) return std::nullopt;
            text += c;
            continue;
        }
        if (escaped.size() - i < 3) return std::nullopt;
        const int high = LowerHex(escaped[i + 1]), low = LowerHex(escaped[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        text += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return text;
}

void CheckEscaped(const std::string& text) {
    const std::string escaped = tarnix::URLEncode(text);
    const std::optional<std::string> back = Unescape(escaped);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == text);
    size_t kept = 0;
    for (unsigned char c : text) kept += Unreserved(c);
    FUZZ_CHECK(escaped.size() == kept + 3 * (text.size() - kept));  // nothing escaped needlessly
}

void CheckQuery(FuzzedDataProvider& input) {
    std::string text[8];
    for (std::string& value : text) value = input.ConsumeRandomLengthString(64);
    const int birthYear = input.ConsumeIntegral<int>(), deathYear = input.ConsumeIntegral<int>();
    const std::string query = tarnix::BuildSearchQuery(text[0], text[1], text[2], birthYear, text[3], deathYear,
                                                       text[4], text[5], text[6], text[7]);

    // What each present field must give, in the query's order.
    struct Field {
        const char* key;
        std::string value;  // as sent, before escaping
        bool present;
        bool year;
    };
    auto year = [](int value) {
        char printed[16];
        std::snprintf(printed, sizeof printed, "%04d", value);
        return std::string(printed);
    };
    const Field fields[] = {
        {"cobrand", text[7], !text[7].empty(), false},     {"surname", text[0], !text[0].empty(), false},
        {"givennames", text[1], !text[1].empty(), false},  {"birthplace", text[2], !text[2].empty(), false},
        {"birthyear", year(birthYear), birthYear > 0, true}, {"deathplace", text[3], !text[3].empty(), false},
        {"deathyear", year(deathYear), deathYear > 0, true}, {"father", text[4], !text[4].empty(), false},
        {"mother", text[5], !text[5].empty(), false},      {"spouse", text[6], !text[6].empty(), false},
    };
    size_t at = 0;
    for (const Field& field : fields) {
        if (!field.present) continue;
        const std::string key = std::string("&") + field.key + "=";
        FUZZ_CHECK(query.compare(at, key.size(), key) == 0);
        at += key.size();
        const size_t end = query.find('&', at);
        const std::string value = query.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (field.year) {
            FUZZ_CHECK(value == field.value);
        } else {
            const std::optional<std::string> back = Unescape(value);
            FUZZ_CHECK(back.has_value() && *back == field.value);
        }
        at += value.size();
    }
    FUZZ_CHECK(at == query.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckEscaped(std::string(reinterpret_cast<const char*>(data), size));
    FuzzedDataProvider input(data, size);
    CheckQuery(input);
    return 0;
}

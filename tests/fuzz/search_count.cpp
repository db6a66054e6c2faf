// The search counts' plain-text answer. The answers the service is known to send, checked once;
// then, for answers written from numbers the fuzzer picks, the counts are those numbers (the
// first, the one after the first comma, the one after the last; all 0 unless the first is above
// 0; refused when one of them is negative, or the second leaves no room for the one added to
// it); and for any text, a blank after each comma or before the text changes nothing, nor does
// what follows a zero byte, and the word Error in any case is refused while Error followed by
// anything with a comma reads as a first field without digits.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "operations/SearchCountAnswer.h"

namespace {

using tarnix::ReadSearchCountAnswer;
using tarnix::SearchCounts;

constexpr SearchCounts kRefused{-1, -1, -1};

SearchCounts Read(std::string_view answer) { return ReadSearchCountAnswer(answer).value_or(kRefused); }

bool operator==(const SearchCounts& a, const SearchCounts& b) {
    return a.first == b.first && a.second == b.second && a.last == b.last;
}

std::string WithBlankAfterEachComma(std::string_view text) {
    std::string spaced;
    for (char c : text) spaced += c == ',' ? std::string(", ") : std::string(1, c);
    return spaced;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const struct {
        const char* answer;
        SearchCounts counts;
    } examples[] = {
        {"57,3,12", {57, 3, 12}}, {"57,3", {57, 3, 3}},   {"57,3,8,12", {57, 3, 12}},   {"0,3,12", {0, 0, 0}},
        {"", {0, 0, 0}},          {"ERROR", kRefused},    {"error", kRefused},          {"Error\r\n", kRefused},
        {"Error\r\n,7,9", {0, 0, 0}}, {"12", kRefused},   {" 12, 4, 9", {12, 4, 9}},    {"-2,3,12", kRefused},
        {"57,-3,12", kRefused},   {"57,3,-12", kRefused}, {"99999999999999999999,3,12", kRefused},
        {"5,2147483647,1", kRefused}, {"5,2147483646,2147483647", {5, 2147483646, 2147483647}},
    };
    for (const auto& example : examples) FUZZ_CHECK(Read(example.answer) == example.counts);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // An answer written from numbers: first, second, any fields between, last.
    std::vector<int32_t> fields(input.ConsumeIntegralInRange<size_t>(2, 6));
    std::string written;
    for (size_t i = 0; i < fields.size(); ++i) {
        fields[i] = input.ConsumeIntegral<int32_t>();
        char field[16];
        std::snprintf(field, sizeof field, "%s%d", i ? "," : "", static_cast<int>(fields[i]));
        written += field;
    }
    const bool untrustworthy = fields[0] < 0 || fields[1] < 0 || fields.back() < 0 || fields[1] == INT32_MAX;
    const SearchCounts expected = untrustworthy ? kRefused
                                  : fields[0] > 0 ? SearchCounts{fields[0], fields[1], fields.back()}
                                                  : SearchCounts{};
    FUZZ_CHECK(Read(written) == expected);

    const std::string text = input.ConsumeRemainingBytesAsString();
    const SearchCounts counts = Read(text);
    FUZZ_CHECK(Read(text.substr(0, text.find('\0'))) == counts);
    if (text.find(',') < text.find('\0')) {
        FUZZ_CHECK(Read(WithBlankAfterEachComma(text)) == counts);
        FUZZ_CHECK(Read(" \t" + text) == counts);
    }
    std::string error = "error";
    for (size_t i = 0; i < error.size(); ++i)
        if (!text.empty() && (static_cast<unsigned char>(text[0]) >> i & 1)) error[i] -= 'a' - 'A';
    FUZZ_CHECK(Read(error) == kRefused);
    if (text.find(',') < text.find('\0')) FUZZ_CHECK(Read(error + text) == Read("x" + text));
    return 0;
}

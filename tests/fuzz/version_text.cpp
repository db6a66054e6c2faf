// Version texts. The texts the service and the hosts are known to use, checked once; then, for
// versions written from numbers the fuzzer picks, ParseVersion gives those numbers back, whatever
// blanks, leading zeros, plus signs or trailing words decorate them, and IsNewerVersion is those
// numbers compared major first (so 7.10.0 is above 7.9.9); and for any texts, IsNewerVersion never
// holds both ways or for equal texts, holds through a third text, and never for a text that does
// not fit its 64-byte field; a text with a negative or overflowing part is no version and never
// newer, nor older.
#include <fuzzer/FuzzedDataProvider.h>

#include <optional>
#include <string>
#include <tuple>

#include "FuzzCheck.h"
#include "operations/VersionText.h"

namespace {

using Triple = std::tuple<uint32_t, uint32_t, uint32_t>;
constexpr Triple kInvalid{UINT32_MAX, UINT32_MAX, UINT32_MAX};  // no value: what a wrap would give

Triple Parsed(std::string_view text) {
    const std::optional<tarnix::VersionTriple> version = tarnix::ParseVersion(text);
    return version ? Triple{version->major, version->minor, version->third} : kInvalid;
}

// A part as people write it: maybe blanks, a plus sign or leading zeros before the digits.
std::string Decorated(FuzzedDataProvider& input, uint32_t part) {
    const uint8_t how = input.ConsumeIntegral<uint8_t>();
    std::string text = std::to_string(part);
    if (how & 1) text = "00" + text;
    if (how & 2) text = "+" + text;
    if (how & 4) text = " \t" + text;
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const struct {
        const char* text;
        Triple parsed;
    } parsed[] = {{"7.2.15", {7, 2, 15}}, {"7.2", {7, 0, 0}}, {"7", {0, 0, 0}}, {"1.2.3.4", {1, 2, 3}}, {"", {0, 0, 0}},
                  {"-1.-1.-1", kInvalid}, {"99999999999.1.1", kInvalid}, {"1.2147483648.0", kInvalid}};
    for (const auto& example : parsed) FUZZ_CHECK(Parsed(example.text) == example.parsed);
    const std::string tooLong = "1.0.0" + std::string(59, ' ');  // 64 characters: never cut to 1.0.0
    const struct {
        const char *local, *service;
        bool newer;
    } compared[] = {{"7.2.15", "7.2.16", true},  {"7.10.0", "7.9.9", false}, {"7.9.9", "7.10.0", true},
                    {"7.2.16", "7.2.16", false}, {"3.0.0", "3.0.1", true},   {"1.0.0", "", false},
                    {tooLong.c_str(), "9.0.0", false}, {"1.0.0", "-1.-1.-1", false},
                    {"1.0.0", "99999999999.1.1", false}, {"-1.0.0", "2.0.0", false}};
    for (const auto& example : compared) FUZZ_CHECK(tarnix::IsNewerVersion(example.local, example.service) == example.newer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // Two versions written from numbers (as signed 32-bit decimals: up to 2147483647 a part).
    Triple numbers[2];
    std::string written[2];
    for (int v = 0; v < 2; ++v) {
        const uint32_t major = input.ConsumeIntegralInRange<uint32_t>(0, INT32_MAX),
                       minor = input.ConsumeIntegralInRange<uint32_t>(0, INT32_MAX),
                       third = input.ConsumeIntegralInRange<uint32_t>(0, INT32_MAX);
        numbers[v] = {major, minor, third};
        written[v] = Decorated(input, major) + "." + Decorated(input, minor) + "." + Decorated(input, third);
        if (input.ConsumeBool()) written[v] += input.ConsumeBool() ? ".4 beta" : "-rc1";
        FUZZ_CHECK(Parsed(written[v]) == numbers[v]);
    }
    // At most 54 characters each: they fit their fields.
    FUZZ_CHECK(tarnix::IsNewerVersion(written[0], written[1]) == (numbers[1] > numbers[0]));

    const std::string a = input.ConsumeRandomLengthString(80), b = input.ConsumeRandomLengthString(80),
                      c = input.ConsumeRemainingBytesAsString();
    const bool ab = tarnix::IsNewerVersion(a, b), ba = tarnix::IsNewerVersion(b, a);
    FUZZ_CHECK(!(ab && ba));
    FUZZ_CHECK(!tarnix::IsNewerVersion(a, a));
    if (a.size() >= tarnix::kVersionFieldSize || b.size() >= tarnix::kVersionFieldSize) FUZZ_CHECK(!ab);
    if (ab && tarnix::IsNewerVersion(b, c)) FUZZ_CHECK(tarnix::IsNewerVersion(a, c));
    return 0;
}

// Version texts: a few known ones, then versions written from numbers, whatever blanks, signs, leading zeros or trailing
// words decorate them, parse to those numbers (none for a part below 0 or beyond 32 signed bits) and compare as them.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <tuple>

#include "FuzzCheck.h"
#include "operations/VersionText.h"

using Triple = std::tuple<uint32_t, uint32_t, uint32_t>;
static constexpr Triple kNone{UINT32_MAX, UINT32_MAX, UINT32_MAX};  // what a wrapped part would give

static Triple Parsed(std::string_view text) {
    const auto version = tarnix::ParseVersion(text);
    return version ? Triple{version->major, version->minor, version->third} : kNone;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FUZZ_CHECK(Parsed("7.2") == Triple(7, 0, 0) && Parsed("7") == Triple(0, 0, 0) && Parsed("1.2.3.4") == Triple(1, 2, 3));
    // A text of 64 characters does not fit its field, on either side, and is not cut to fit.
    const auto padded = [](std::string text, size_t size) { return text.resize(size, ' '), text; };
    const struct { std::string local, service; bool newer; } compared[] = {{"7.10.0", "7.9.9", false},
        {padded("1.0.0", 63), padded("9.0.0", 63), true}, {padded("1.0.0", 64), "9.0.0", false}, {"1.0.0", padded("9.0.0", 64), false}};
    for (const auto& example : compared) FUZZ_CHECK(tarnix::IsNewerVersion(example.local, example.service) == example.newer);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    Triple numbers[2];
    std::string written[2];  // at most 56 characters: they fit their fields
    for (int v = 0; v < 2; ++v) {
        uint32_t part[3];
        bool valid = true;
        for (int p = 0; p < 3; ++p) {
            const uint8_t how = input.ConsumeIntegral<uint8_t>();
            const bool odd = (how & 0x38) == 0x38, negative = odd && how & 0x40;  // one in eight is no part
            part[p] = input.ConsumeIntegralInRange<uint32_t>(0, INT32_MAX);
            written[v] += std::string(p ? "." : "") + (how & 4 ? " \t" : "") + (negative ? "-" : how & 2 ? "+" : "") +
                          (how & 1 ? "00" : "") + std::to_string(odd && !negative ? part[p] + (1ull << 31) : part[p]);
            valid &= !odd;
        }
        written[v] += (input.ConsumeBool() ? "." : "-") + input.ConsumeRandomLengthString(8);  // 1.2.3.4, 1.2.3-rc1
        numbers[v] = valid ? Triple{part[0], part[1], part[2]} : kNone;
        FUZZ_CHECK(Parsed(written[v]) == numbers[v]);
    }
    const bool versions = numbers[0] != kNone && numbers[1] != kNone;
    FUZZ_CHECK(tarnix::IsNewerVersion(written[0], written[1]) == (versions && numbers[1] > numbers[0]));
    return 0;
}

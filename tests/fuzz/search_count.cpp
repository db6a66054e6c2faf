// The search counts' plain-text answer (the known ones are rows of the count exports' test): one written from numbers
// reads as those numbers; in any text, a blank after each comma or before the text, or what follows a zero byte,
// changes nothing; Error in any case is refused, and Error followed by anything else is no word at all.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <tuple>
#include <vector>

#include "FuzzCheck.h"
#include "operations/SearchCountAnswer.h"

using Counts = std::tuple<int32_t, int32_t, int32_t>;
static constexpr Counts kRefused{-1, -1, -1}, kZeros{0, 0, 0};

static Counts Read(std::string_view answer) {
    const auto counts = tarnix::ReadSearchCountAnswer(answer);
    return counts ? Counts{counts->first, counts->second, counts->last} : kRefused;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // First, second, any fields between, last: those three counts, all 0 unless the first is above
    // 0; refused when one of them is negative or the second leaves no room for the one added to it.
    std::vector<int32_t> fields(input.ConsumeIntegralInRange<size_t>(2, 6));
    std::string written;
    for (int32_t& field : fields) written += (written.empty() ? "" : ",") + std::to_string(field = input.ConsumeIntegral<int32_t>());
    const bool untrustworthy = fields[0] < 0 || fields[1] < 0 || fields.back() < 0 || fields[1] == INT32_MAX;
    FUZZ_CHECK(Read(written) == (untrustworthy ? kRefused : fields[0] > 0 ? Counts{fields[0], fields[1], fields.back()} : kZeros));

    const std::string text = input.ConsumeRemainingBytesAsString();
    std::string error = "error", spaced;  // in upper case where the first byte's bits say so
    for (size_t i = 0; i < error.size(); ++i)
        if (!text.empty() && (static_cast<unsigned char>(text[0]) >> i & 1)) error[i] -= 'a' - 'A';
    FUZZ_CHECK(Read(error) == kRefused && Read(text.substr(0, text.find('\0'))) == Read(text));
    if (text.find(',') < text.find('\0')) {
        for (char c : text) spaced += c == ',' ? std::string(", ") : std::string(1, c);
        FUZZ_CHECK(Read(spaced) == Read(text) && Read(" \t" + text) == Read(text));
        FUZZ_CHECK(Read(error + text) == Read("x" + text));
    }
    return 0;
}

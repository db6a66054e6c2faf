// The search counts' plain-text answer. Properties, against the C library's own reading of each
// number: a refusal is only the word Error or a text without a comma; a count is only reported
// with a first number above 0 (else all three are 0), and then the three numbers are the ones
// before the first comma, after it, and after the last.
#include <string_view>

#include "FuzzCheck.h"
#include "Reference.h"
#include "operations/SearchCountAnswer.h"

namespace {

bool IsErrorWord(std::string_view text) {
    if (text.size() != 5) return false;
    for (size_t i = 0; i < 5; ++i)
        if ((text[i] | 0x20) != "error"[i]) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view answer(reinterpret_cast<const char*>(data), size);
    const std::optional<tarnix::SearchCounts> counts = tarnix::ReadSearchCountAnswer(answer);

    const std::string_view text = answer.substr(0, answer.find('\0'));  // the text ends at a zero byte
    const size_t firstComma = text.find(',');
    const bool refusal = IsErrorWord(text) || (!text.empty() && firstComma == std::string_view::npos);
    FUZZ_CHECK(counts.has_value() == !refusal);
    if (!counts) return 0;

    if (counts->first <= 0) {
        FUZZ_CHECK(counts->first == 0 && counts->second == 0 && counts->last == 0);
        FUZZ_CHECK(text.empty() || tarnix::fuzz::ReferenceAtoi(text) <= 0);
        return 0;
    }
    FUZZ_CHECK(firstComma != std::string_view::npos);
    FUZZ_CHECK(counts->first == tarnix::fuzz::ReferenceAtoi(text));
    FUZZ_CHECK(counts->second == tarnix::fuzz::ReferenceAtoi(text.substr(firstComma + 1)));
    FUZZ_CHECK(counts->last == tarnix::fuzz::ReferenceAtoi(text.substr(text.rfind(',') + 1)));
    return 0;
}

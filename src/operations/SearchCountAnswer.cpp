#include "operations/SearchCountAnswer.h"

#include <limits>

#include "support/DecimalText.h"

namespace tarnix {

namespace {

// Compared over six characters, the terminator included: "Error" with anything after it (a
// line break, say) is not the refusal and is read as numbers.
bool IsErrorWord(std::string_view text) {
    static constexpr char kWord[] = "error";
    if (text.size() != sizeof kWord - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] - 'A' + 'a') : text[i];
        if (c != kWord[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<SearchCounts> ReadSearchCountAnswer(std::string_view answer) {
    answer = answer.substr(0, answer.find('\0'));
    if (IsErrorWord(answer)) return std::nullopt;
    if (answer.empty()) return SearchCounts{};
    const size_t firstComma = answer.find(',');
    if (firstComma == std::string_view::npos) return std::nullopt;
    const size_t lastComma = answer.rfind(',');

    // The fields between the second and the last comma are not read.
    const std::optional<uint32_t> first = ReadNonNegativeDecimal(answer),
                                  second = ReadNonNegativeDecimal(answer.substr(firstComma + 1)),
                                  last = ReadNonNegativeDecimal(answer.substr(lastComma + 1));
    // A negative or overflowing number makes the whole answer untrustworthy; so does a second
    // count that the host could not be given plus one.
    if (!first || !second || !last || *second == std::numeric_limits<int32_t>::max()) return std::nullopt;
    if (*first == 0) return SearchCounts{};
    SearchCounts counts;
    counts.first = static_cast<int32_t>(*first);
    counts.second = static_cast<int32_t>(*second);
    counts.last = static_cast<int32_t>(*last);
    return counts;
}

}  // namespace tarnix

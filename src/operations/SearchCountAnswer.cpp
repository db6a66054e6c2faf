#include "operations/SearchCountAnswer.h"

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

    SearchCounts counts;
    counts.first = ReadDecimal(answer);
    // The fields between the second and the last comma are not read.
    counts.second = ReadDecimal(answer.substr(firstComma + 1));
    counts.last = ReadDecimal(answer.substr(lastComma + 1));
    if (counts.first <= 0) return SearchCounts{};
    return counts;
}

}  // namespace tarnix

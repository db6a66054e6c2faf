// The plain-text answer of the search counts: "first,second,...,last", or the word Error.
// Plain C++, no platform headers, so that it can be checked natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnix {

struct SearchCounts {
    int32_t first = 0;   // the count of matches
    int32_t second = 0;  // after the first comma
    int32_t last = 0;    // after the last comma
};

// Reads an answer body. No value (a failed request) for the service's refusal, the word Error
// in any case with nothing after it, a text without a comma, and a first, second or last number
// that is negative or does not fit 32 bits (the second must also leave room for the one that
// GetSecondValue adds). An empty text, or a first number of 0, reads as all zeros. The text
// ends at its first zero byte.
std::optional<SearchCounts> ReadSearchCountAnswer(std::string_view answer);

}  // namespace tarnix

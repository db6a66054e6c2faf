// Text composition for gatekeeper queries and page addresses: the one escaping rule for query
// values and the search query built from the ten search fields.
#pragma once

#include <string>

namespace tarnix {

// Escapes `text` byte by byte: ASCII letters, digits and ". - _ *" stay; every other byte
// (space and 0x80-0xFF included) becomes '%' and two lower-case hex digits. No plus form for
// the space and no character set conversion.
std::string URLEncode(const std::string& text);

// The search query: "&key=value" pairs for the fields that are present (text not empty, year
// greater than 0), co-brand first, then the fields in argument order. Text values are escaped
// with URLEncode, years printed with "%04d". Empty when no field is present.
std::string BuildSearchQuery(const std::string& surname, const std::string& givenNames,
    const std::string& birthPlace, int birthYear, const std::string& deathPlace, int deathYear,
    const std::string& father, const std::string& mother, const std::string& spouse,
    const std::string& cobrand);

}  // namespace tarnix

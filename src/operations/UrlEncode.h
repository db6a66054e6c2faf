// Text composition for gatekeeper queries and page addresses: the search query built from the
// ten search fields (the escaping rule itself is support/UrlEscape.h).
#pragma once

#include <string>

#include "support/UrlEscape.h"

namespace tarnix {

// The search query: "&key=value" pairs for the fields that are present (text not empty, year
// greater than 0), co-brand first, then the fields in argument order. Text values are escaped
// with URLEncode, years printed with "%04d". Empty when no field is present.
std::string BuildSearchQuery(const std::string& surname, const std::string& givenNames,
    const std::string& birthPlace, int birthYear, const std::string& deathPlace, int deathYear,
    const std::string& father, const std::string& mother, const std::string& spouse,
    const std::string& cobrand);

}  // namespace tarnix

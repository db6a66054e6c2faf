// CResultTable: the rows of named text values that a query request collects, keyed by
// "<row>:<name with A-Z lowered>" in a hash map, so that storing and finding cost the same
// whatever the table holds. Plain C++, no platform headers, so that it can be checked natively.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace tarnix {

class CResultTable {
public:
    // Stores a value; storing a key again replaces its value.
    void Set(uint32_t row, const char* name, std::string value);
    // The value stored under (row, name), or null.
    const std::string* Find(uint32_t row, const char* name) const;
    void Clear() noexcept { m_values.clear(); }

    // "%lu:%s" of the row and the name with A-Z lowered (nothing else changes); null is "".
    static std::string MakeKey(uint32_t row, const char* name);

private:
    std::unordered_map<std::string, std::string> m_values;
};

}  // namespace tarnix

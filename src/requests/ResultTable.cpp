#include "requests/ResultTable.h"

#include "support/Text.h"

namespace tarnix {

std::string CResultTable::MakeKey(uint32_t row, const char* name) {
    std::string key = Format("%lu:%s", static_cast<unsigned long>(row), name ? name : "");
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

void CResultTable::Set(uint32_t row, const char* name, std::string value) {
    m_values.insert_or_assign(MakeKey(row, name), std::move(value));
}

const std::string* CResultTable::Find(uint32_t row, const char* name) const {
    const auto found = m_values.find(MakeKey(row, name));
    return found == m_values.end() ? nullptr : &found->second;
}

}  // namespace tarnix

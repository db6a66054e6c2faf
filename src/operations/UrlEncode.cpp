#include "operations/UrlEncode.h"

#include "support/Text.h"

namespace tarnix {

namespace {

void AppendText(std::string& query, const char* key, const std::string& value) {
    if (value.empty()) return;
    query += key;
    query += URLEncode(value);
}

void AppendYear(std::string& query, const char* key, int year) {
    if (year <= 0) return;
    query += key;
    query += Format("%04d", year);
}

}  // namespace

std::string BuildSearchQuery(const std::string& surname, const std::string& givenNames,
    const std::string& birthPlace, int birthYear, const std::string& deathPlace, int deathYear,
    const std::string& father, const std::string& mother, const std::string& spouse,
    const std::string& cobrand) {
    std::string query;
    // The service reads the co-brand code first, although hosts pass it last.
    AppendText(query, "&cobrand=", cobrand);
    AppendText(query, "&surname=", surname);
    AppendText(query, "&givennames=", givenNames);
    AppendText(query, "&birthplace=", birthPlace);
    AppendYear(query, "&birthyear=", birthYear);
    AppendText(query, "&deathplace=", deathPlace);
    AppendYear(query, "&deathyear=", deathYear);
    AppendText(query, "&father=", father);
    AppendText(query, "&mother=", mother);
    AppendText(query, "&spouse=", spouse);
    return query;
}

}  // namespace tarnix

#include "Gedcom.h"

#include <map>
#include <unordered_map>

#include "Errors.h"

namespace tarnix::service {

namespace {

struct Line {
    int level = 0;
    std::string_view xref;
    std::string_view tag;
    std::string_view value;
};

bool ParseLine(std::string_view text, Line& line) {
    text = TrimSpace(text);
    std::size_t i = 0;
    if (i == text.size() || text[i] < '0' || text[i] > '9') return false;
    line.level = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && line.level < 100)
        line.level = line.level * 10 + (text[i++] - '0');
    auto rest = TrimSpace(text.substr(i));
    line.xref = {};
    if (!rest.empty() && rest.front() == '@') {
        auto close = rest.find('@', 1);
        if (close == std::string_view::npos) return false;
        line.xref = rest.substr(0, close + 1);
        rest = TrimSpace(rest.substr(close + 1));
    }
    auto space = rest.find(' ');
    line.tag = rest.substr(0, space);
    line.value = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return !line.tag.empty();
}

// Calls `visit` for each line; GEDCOM files end lines with CR LF, LF or CR.
template <typename Visit>
void ForEachLine(std::string_view bytes, Visit visit) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    while (!bytes.empty()) {
        auto end = bytes.find_first_of("\r\n");
        visit(bytes.substr(0, end));
        if (end == std::string_view::npos) break;
        bytes.remove_prefix(end + 1);
    }
}

PersonName ParseName(std::string_view value) {
    PersonName name;
    auto slash = value.find('/');
    name.given = Words(value.substr(0, slash));
    if (slash != std::string_view::npos) {
        auto close = value.find('/', slash + 1);
        name.surname = NormalizeSpace(value.substr(slash + 1, close == std::string_view::npos ? close : close - slash - 1));
    }
    return name;
}

void ReadYears(std::string_view date, PersonEvent& event) {
    for (std::size_t i = 0; i < date.size();) {
        if (date[i] < '0' || date[i] > '9') {
            ++i;
            continue;
        }
        int value = 0;
        std::size_t start = i;
        while (i < date.size() && date[i] >= '0' && date[i] <= '9' && i - start < 9) value = value * 10 + (date[i++] - '0');
        // Days have one or two digits; years three or four.
        if (i - start < 3 || i - start > 4 || value == 0) continue;
        if (event.firstYear == 0 || value < event.firstYear) event.firstYear = value;
        if (value > event.lastYear) event.lastYear = value;
    }
}

std::vector<std::string> PlaceParts(std::string_view place) {
    std::vector<std::string> parts;
    while (true) {
        auto comma = place.find(',');
        auto part = NormalizeSpace(place.substr(0, comma));
        if (!part.empty()) parts.push_back(std::move(part));
        if (comma == std::string_view::npos) return parts;
        place.remove_prefix(comma + 1);
    }
}

std::vector<std::string> NameWords(const PersonName& name) {
    auto words = name.given;
    for (auto& word : Words(name.surname)) words.push_back(std::move(word));
    return words;
}

// A pattern ending in '*' matches every text that begins with the rest of it.
bool PatternMatches(std::string_view pattern, std::string_view text) {
    if (!pattern.empty() && pattern.back() == '*') {
        pattern.remove_suffix(1);
        return text.substr(0, pattern.size()) == pattern;
    }
    return pattern == text;
}

bool EachFound(const std::vector<std::string>& wanted, const std::vector<std::string>& have) {
    for (const auto& pattern : wanted) {
        bool found = false;
        for (const auto& text : have) found = found || PatternMatches(pattern, text);
        if (!found) return false;
    }
    return true;
}

bool EventMatches(const PersonEvent& event, int year, const std::vector<std::string>& place) {
    if (year > 0 && (event.firstYear == 0 || year < event.firstYear || year > event.lastYear)) return false;
    return EachFound(place, event.places);
}

bool RelativeMatches(const std::vector<std::vector<std::string>>& relatives, const std::vector<std::string>& wanted) {
    if (wanted.empty()) return true;
    for (const auto& words : relatives)
        if (EachFound(wanted, words)) return true;
    return false;
}

int ReadYear(const Query& query, const char* name) {
    auto found = query.find(name);
    if (found == query.end()) return 0;
    auto text = TrimSpace(found->second);
    if (text.empty()) return 0;
    if (text.size() > 6 || text.find_first_not_of("0123456789") != std::string_view::npos)
        throw ServiceError(hr::kInvalidArg, std::string(name) + " is not a year");
    return std::stoi(std::string(text));
}

std::string Value(const Query& query, const char* name) {
    auto found = query.find(name);
    return found == query.end() ? std::string() : found->second;
}

}  // namespace

bool LooksLikeGedcom(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    Line line;
    auto first = bytes.substr(0, bytes.find_first_of("\r\n"));
    return ParseLine(first, line) && line.level == 0 && line.xref.empty() && line.tag == "HEAD" &&
           TrimSpace(line.value).empty();
}

std::vector<IndexedPerson> IndexGedcom(std::string_view bytes) {
    struct RawPerson {
        std::vector<PersonName> names;
        std::map<std::string, PersonEvent, std::less<>> events;  // the first of each kind
        std::vector<std::string> famc, fams;
    };
    struct RawFamily {
        std::string husband, wife;
    };
    std::vector<RawPerson> people;
    std::unordered_map<std::string, std::size_t> personIndex;
    std::unordered_map<std::string, RawFamily> families;

    RawPerson* person = nullptr;
    RawFamily* family = nullptr;
    PersonEvent* event = nullptr;  // the event whose DATE and PLAC come next
    ForEachLine(bytes, [&](std::string_view text) {
        Line line;
        if (!ParseLine(text, line)) return;
        if (line.level == 0) {
            person = nullptr;
            family = nullptr;
            event = nullptr;
            if (line.tag == "INDI") {
                personIndex[std::string(line.xref)] = people.size();
                person = &people.emplace_back();
            } else if (line.tag == "FAM") {
                family = &families[std::string(line.xref)];
            }
            return;
        }
        if (line.level == 1) {
            event = nullptr;
            if (person) {
                if (line.tag == "NAME") {
                    person->names.push_back(ParseName(line.value));
                } else if (line.tag == "FAMC" || line.tag == "FAMS") {
                    (line.tag == "FAMC" ? person->famc : person->fams).emplace_back(TrimSpace(line.value));
                } else if (line.tag == "BIRT" || line.tag == "CHR" || line.tag == "BAPM" || line.tag == "DEAT" ||
                           line.tag == "BURI" || line.tag == "CREM") {
                    if (person->events.find(line.tag) == person->events.end())
                        event = &person->events[std::string(line.tag)];
                }
            } else if (family && (line.tag == "HUSB" || line.tag == "WIFE")) {
                (line.tag == "HUSB" ? family->husband : family->wife) = std::string(TrimSpace(line.value));
            }
            return;
        }
        if (line.level == 2 && event) {
            if (line.tag == "DATE") ReadYears(line.value, *event);
            if (line.tag == "PLAC") event->places = PlaceParts(line.value);
        }
    });

    auto firstOf = [](const RawPerson& raw, std::initializer_list<const char*> tags) {
        for (const char* tag : tags) {
            auto found = raw.events.find(tag);
            if (found != raw.events.end()) return found->second;
        }
        return PersonEvent();
    };
    auto namesOf = [&](const std::string& xref, std::vector<std::vector<std::string>>& out) {
        auto found = personIndex.find(xref);
        if (found == personIndex.end()) return;
        for (const auto& name : people[found->second].names) out.push_back(NameWords(name));
    };

    std::vector<IndexedPerson> index(people.size());
    for (std::size_t i = 0; i < people.size(); ++i) {
        const auto& raw = people[i];
        auto& indexed = index[i];
        indexed.names = raw.names;
        indexed.birth = firstOf(raw, {"BIRT", "CHR", "BAPM"});
        indexed.death = firstOf(raw, {"DEAT", "BURI", "CREM"});
        for (const auto& xref : raw.famc) {
            auto found = families.find(xref);
            if (found == families.end()) continue;
            namesOf(found->second.husband, indexed.fathers);
            namesOf(found->second.wife, indexed.mothers);
        }
        for (const auto& xref : raw.fams) {
            auto found = families.find(xref);
            if (found == families.end()) continue;
            auto self = personIndex.find(found->second.husband);
            bool isHusband = self != personIndex.end() && self->second == i;
            namesOf(isHusband ? found->second.wife : found->second.husband, indexed.spouses);
        }
    }
    return index;
}

SearchQuery SearchQuery::FromQuery(const Query& query) {
    SearchQuery search;
    search.surname = NormalizeSpace(Value(query, "surname"));
    search.givenNames = Words(Value(query, "givennames"));
    search.birthPlace = PlaceParts(Value(query, "birthplace"));
    search.deathPlace = PlaceParts(Value(query, "deathplace"));
    search.father = Words(Value(query, "father"));
    search.mother = Words(Value(query, "mother"));
    search.spouse = Words(Value(query, "spouse"));
    search.birthYear = ReadYear(query, "birthyear");
    search.deathYear = ReadYear(query, "deathyear");
    return search;
}

bool SearchQuery::HasCriteria() const {
    return !surname.empty() || !givenNames.empty() || !birthPlace.empty() || !deathPlace.empty() ||
           !father.empty() || !mother.empty() || !spouse.empty() || birthYear > 0 || deathYear > 0;
}

bool Matches(const IndexedPerson& person, const SearchQuery& query) {
    bool nameMatches = query.surname.empty() && query.givenNames.empty();
    for (const auto& name : person.names)
        nameMatches = nameMatches || ((query.surname.empty() || PatternMatches(query.surname, name.surname)) &&
                                      EachFound(query.givenNames, name.given));
    return nameMatches && EventMatches(person.birth, query.birthYear, query.birthPlace) &&
           EventMatches(person.death, query.deathYear, query.deathPlace) &&
           RelativeMatches(person.fathers, query.father) && RelativeMatches(person.mothers, query.mother) &&
           RelativeMatches(person.spouses, query.spouse);
}

}  // namespace tarnix::service

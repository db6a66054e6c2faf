#include "Gedcom.h"

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

// The given names (lower-case words before the surname) and the surname (the text between
// the slashes) of a NAME.
std::pair<std::vector<std::string>, std::string> ParseName(std::string_view value) {
    auto slash = value.find('/');
    std::string surname;
    if (slash != std::string_view::npos) {
        auto close = value.find('/', slash + 1);
        surname = NormalizeSpace(value.substr(slash + 1, close == std::string_view::npos ? close : close - slash - 1));
    }
    return {Words(value.substr(0, slash)), surname};
}

// Days have one or two digits; years three or four.
void ReadYears(std::string_view date, int& firstYear, int& lastYear) {
    for (std::size_t i = 0; i < date.size();) {
        if (date[i] < '0' || date[i] > '9') {
            ++i;
            continue;
        }
        int value = 0;
        std::size_t start = i;
        while (i < date.size() && date[i] >= '0' && date[i] <= '9' && i - start < 9) value = value * 10 + (date[i++] - '0');
        if (i - start < 3 || i - start > 4 || value == 0) continue;
        if (firstYear == 0 || value < firstYear) firstYear = value;
        if (value > lastYear) lastYear = value;
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

// A pattern ending in '*' matches every text that begins with the rest of it.
bool PatternMatches(std::string_view pattern, std::string_view text) {
    if (!pattern.empty() && pattern.back() == '*') {
        pattern.remove_suffix(1);
        return text.substr(0, pattern.size()) == pattern;
    }
    return pattern == text;
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

// Builds a GedcomIndex in three passes over the file: the individuals and families are
// numbered, then each family's husband and wife are read, then the individuals themselves.
class GedcomIndexer {
public:
    GedcomIndexer(std::string_view bytes, std::size_t limit) : bytes_(bytes), limit_(limit) {}

    std::shared_ptr<const GedcomIndex> Build() {
        index_ = std::make_shared<GedcomIndex>();
        ForEachLine(bytes_, [&](std::string_view text) {
            Line line;
            if (!ParseLine(text, line) || line.level != 0) return;
            if (line.tag == "INDI") people_[std::string(line.xref)] = peopleCount_++;
            if (line.tag == "FAM") families_.try_emplace(std::string(line.xref), static_cast<Id>(families_.size()));
        });
        husbands_.assign(families_.size(), kNone);
        wives_.assign(families_.size(), kNone);
        Id family = kNone;
        ForEachLine(bytes_, [&](std::string_view text) {
            Line line;
            if (!ParseLine(text, line)) return;
            if (line.level == 0) family = line.tag == "FAM" ? families_.at(std::string(line.xref)) : kNone;
            else if (line.level == 1 && family != kNone && (line.tag == "HUSB" || line.tag == "WIFE"))
                (line.tag == "HUSB" ? husbands_ : wives_)[family] = PersonNumber(TrimSpace(line.value));
        });
        index_->people_.reserve(peopleCount_);
        bool fits = true;
        ForEachLine(bytes_, [&](std::string_view text) {
            Line line;
            if (fits && ParseLine(text, line)) fits = Read(line);
        });
        if (!fits || !EndPerson()) return nullptr;
        index_->ids_.shrink_to_fit();
        index_->names_.shrink_to_fit();
        return index_->Bytes() <= limit_ ? index_ : nullptr;
    }

private:
    using Id = GedcomIndex::Id;
    static constexpr Id kNone = ~Id(0);
    // The six events a birth or death may come from: BIRT, CHR, BAPM, then DEAT, BURI, CREM.
    struct RawEvent {
        bool seen = false;
        int firstYear = 0, lastYear = 0;
        std::vector<Id> places;
    };

    Id PersonNumber(std::string_view xref) const {
        auto found = people_.find(std::string(xref));
        return found == people_.end() ? kNone : found->second;
    }
    Id Text(std::string text) {
        auto [found, added] = texts_.try_emplace(std::move(text), static_cast<Id>(index_->texts_.size()));
        if (added) {
            index_->texts_.push_back(found->first);
            textBytes_ += sizeof(std::string) + found->first.capacity();
        }
        return found->second;
    }
    GedcomIndex::Span Append(const std::vector<Id>& ids) {
        auto begin = static_cast<Id>(index_->ids_.size());
        index_->ids_.insert(index_->ids_.end(), ids.begin(), ids.end());
        return {begin, static_cast<Id>(index_->ids_.size())};
    }
    GedcomIndex::Span AppendTexts(const std::vector<std::string>& texts) {
        std::vector<Id> ids;
        for (const auto& text : texts) ids.push_back(Text(text));
        return Append(ids);
    }
    GedcomIndex::Event ChooseEvent(int first) {
        for (int kind = first; kind < first + 3; ++kind) {
            const auto& raw = events_[kind];
            if (raw.seen)
                return {static_cast<std::int16_t>(raw.firstYear), static_cast<std::int16_t>(raw.lastYear), Append(raw.places)};
        }
        return {};
    }

    // Ends the individual being read, if any; false once the index (as far as it is counted
    // while it grows) passes the limit.
    bool EndPerson() {
        if (!inPerson_) return true;
        inPerson_ = false;
        auto self = static_cast<Id>(index_->people_.size());
        GedcomIndex::Person person;
        person.names = {namesBegin_, static_cast<Id>(index_->names_.size())};
        person.birth = ChooseEvent(0);
        person.death = ChooseEvent(3);
        std::vector<Id> fathers, mothers, spouses;
        for (Id family : childOf_) {
            if (husbands_[family] != kNone) fathers.push_back(husbands_[family]);
            if (wives_[family] != kNone) mothers.push_back(wives_[family]);
        }
        for (Id family : spouseIn_) {
            Id spouse = husbands_[family] == self ? wives_[family] : husbands_[family];
            if (spouse != kNone) spouses.push_back(spouse);
        }
        person.fathers = Append(fathers);
        person.mothers = Append(mothers);
        person.spouses = Append(spouses);
        index_->people_.push_back(person);
        return textBytes_ + index_->ids_.size() * sizeof(Id) + index_->names_.size() * sizeof(GedcomIndex::Name) +
                   index_->people_.capacity() * sizeof(GedcomIndex::Person) <= limit_;
    }

    bool Read(const Line& line) {
        static const char* const kEvents[] = {"BIRT", "CHR", "BAPM", "DEAT", "BURI", "CREM"};
        if (line.level == 0) {
            if (!EndPerson()) return false;
            if (line.tag == "INDI") {
                inPerson_ = true;
                namesBegin_ = static_cast<Id>(index_->names_.size());
                for (auto& raw : events_) raw = RawEvent();
                childOf_.clear();
                spouseIn_.clear();
            }
            event_ = nullptr;
            return true;
        }
        if (!inPerson_) return true;
        if (line.level == 1) {
            event_ = nullptr;
            if (line.tag == "NAME") {
                auto [given, surname] = ParseName(line.value);
                index_->names_.push_back({AppendTexts(given), Text(surname), AppendTexts(Words(surname))});
            } else if (line.tag == "FAMC" || line.tag == "FAMS") {
                auto family = families_.find(std::string(TrimSpace(line.value)));
                if (family != families_.end()) (line.tag == "FAMC" ? childOf_ : spouseIn_).push_back(family->second);
            } else {
                for (int kind = 0; kind < 6; ++kind)
                    if (line.tag == kEvents[kind] && !events_[kind].seen) (event_ = &events_[kind])->seen = true;
            }
        } else if (line.level == 2 && event_) {
            if (line.tag == "DATE") ReadYears(line.value, event_->firstYear, event_->lastYear);
            if (line.tag == "PLAC") {
                event_->places.clear();
                for (const auto& part : PlaceParts(line.value)) event_->places.push_back(Text(part));
            }
        }
        return true;
    }

    std::string_view bytes_;
    std::size_t limit_;
    std::shared_ptr<GedcomIndex> index_;
    std::unordered_map<std::string, Id> people_, families_, texts_;
    Id peopleCount_ = 0;
    std::vector<Id> husbands_, wives_;  // by family number
    std::size_t textBytes_ = 0;
    // The individual being read.
    bool inPerson_ = false;
    Id namesBegin_ = 0;
    RawEvent events_[6];
    RawEvent* event_ = nullptr;  // the event whose DATE and PLAC come next
    std::vector<Id> childOf_, spouseIn_;
};

std::shared_ptr<const GedcomIndex> GedcomIndex::Build(std::string_view bytes, std::size_t limit) {
    return GedcomIndexer(bytes, limit).Build();
}

std::size_t GedcomIndex::Bytes() const {
    std::size_t bytes = sizeof *this + texts_.capacity() * sizeof(std::string) + ids_.capacity() * sizeof(Id) +
                        names_.capacity() * sizeof(Name) + people_.capacity() * sizeof(Person);
    for (const auto& text : texts_) bytes += text.capacity() + 1;
    return bytes;
}

GedcomIndex::Marks GedcomIndex::Mark(const std::vector<std::string>& patterns) const {
    Marks marks;
    for (const auto& pattern : patterns) {
        auto& marked = marks.emplace_back(texts_.size());
        for (std::size_t i = 0; i < texts_.size(); ++i) marked[i] = PatternMatches(pattern, texts_[i]);
    }
    return marks;
}

// Whether each pattern matches one of the words.
bool GedcomIndex::AllFound(const Marks& wanted, Span words, Span moreWords) const {
    for (const auto& marked : wanted) {
        bool found = false;
        for (auto i = words.begin; i < words.end && !found; ++i) found = marked[ids_[i]];
        for (auto i = moreWords.begin; i < moreWords.end && !found; ++i) found = marked[ids_[i]];
        if (!found) return false;
    }
    return true;
}

bool GedcomIndex::RelativeMatches(Span relatives, const Marks& wanted) const {
    if (wanted.empty()) return true;
    for (auto i = relatives.begin; i < relatives.end; ++i) {
        const auto& relative = people_[ids_[i]];
        for (auto n = relative.names.begin; n < relative.names.end; ++n)
            if (AllFound(wanted, names_[n].given, names_[n].surnameWords)) return true;
    }
    return false;
}

bool GedcomIndex::Matches(const Person& person, const SearchQuery& query, const Prepared& marks) const {
    auto eventMatches = [&](const Event& event, int year, const Marks& place) {
        if (year > 0 && (event.firstYear == 0 || year < event.firstYear || year > event.lastYear)) return false;
        return AllFound(place, event.places);
    };
    bool nameMatches = query.surname.empty() && query.givenNames.empty();
    for (auto n = person.names.begin; n < person.names.end && !nameMatches; ++n)
        nameMatches = (query.surname.empty() || marks.surname[0][names_[n].surname]) && AllFound(marks.given, names_[n].given);
    return nameMatches && eventMatches(person.birth, query.birthYear, marks.birthPlace) &&
           eventMatches(person.death, query.deathYear, marks.deathPlace) &&
           RelativeMatches(person.fathers, marks.father) && RelativeMatches(person.mothers, marks.mother) &&
           RelativeMatches(person.spouses, marks.spouse);
}

long long GedcomIndex::Count(const SearchQuery& query) const {
    if (!query.HasCriteria()) return 0;
    Prepared marks{query.surname.empty() ? Marks() : Mark({query.surname}),
                   Mark(query.givenNames),
                   Mark(query.birthPlace),
                   Mark(query.deathPlace),
                   Mark(query.father),
                   Mark(query.mother),
                   Mark(query.spouse)};
    long long matches = 0;
    for (const auto& person : people_) matches += Matches(person, query, marks) ? 1 : 0;
    return matches;
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

}  // namespace tarnix::service

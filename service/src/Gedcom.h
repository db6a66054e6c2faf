// Reading GEDCOM files for the search counts: the individuals with their names, birth and death
// (year and place), and their parents and spouses, found through FAMC and FAMS and the HUSB and
// WIFE of the FAM records. Everything else in a file is skipped.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

namespace tarnix::service {

// An upload is taken as GEDCOM when its first line (after an optional UTF-8 byte-order mark
// and leading blanks) is "0 HEAD".
bool LooksLikeGedcom(std::string_view bytes);

// The criteria of a search-count query, prepared for matching (lower-case, white space made
// single). Every criterion given must hold; text compares without regard to the case of A to Z,
// and a word or place part ending in '*' matches every text that begins with the rest of it.
struct SearchQuery {
    std::string surname;                    // the whole surname
    std::vector<std::string> givenNames;    // each word is one of the given names, in any order
    std::vector<std::string> birthPlace;    // each comma-separated part is one of the place's parts
    std::vector<std::string> deathPlace;
    std::vector<std::string> father;        // each word is a word of the relative's name
    std::vector<std::string> mother;
    std::vector<std::string> spouse;
    int birthYear = 0;                      // within the years that the date names
    int deathYear = 0;

    // Throws ServiceError(kInvalidArg) for a year that is not a whole number.
    static SearchQuery FromQuery(const Query& query);
    bool HasCriteria() const;
};

// The individuals of one GEDCOM file, ready for the search counts, and compact: each distinct
// text (a given name, a surname, a word of one, a place part), lower-cased, is kept once and
// named by its number, and people name their texts, parents and spouses by number, so that an
// ordinary tree takes less memory than its file.
class GedcomIndex {
public:
    // nullptr when the index would take more than `limit` bytes.
    static std::shared_ptr<const GedcomIndex> Build(std::string_view bytes, std::size_t limit);

    std::size_t People() const { return people_.size(); }
    std::size_t Bytes() const;                        // the memory it holds
    long long Count(const SearchQuery& query) const;  // the individuals that match

private:
    friend class GedcomIndexer;
    using Id = std::uint32_t;
    using Marks = std::vector<std::vector<bool>>;  // per pattern, per text: whether it matches
    struct Span {
        Id begin, end;  // a run of ids_ (or of names_)
    };
    struct Name {
        Span given;
        Id surname = 0;     // the whole surname
        Span surnameWords;  // relatives match on the given names and these
    };
    struct Event {
        std::int16_t firstYear = 0, lastYear = 0;  // the years the date names; 0 when none
        Span places;
    };
    struct Person {
        Span names;                     // of names_
        Event birth, death;             // BIRT, else CHR or BAPM; DEAT, else BURI or CREM
        Span fathers, mothers, spouses;  // person numbers
    };
    struct Prepared {
        Marks surname, given, birthPlace, deathPlace, father, mother, spouse;
    };

    Marks Mark(const std::vector<std::string>& patterns) const;
    bool AllFound(const Marks& wanted, Span words, Span moreWords = {}) const;
    bool RelativeMatches(Span relatives, const Marks& wanted) const;
    bool Matches(const Person& person, const SearchQuery& query, const Prepared& marks) const;

    std::vector<std::string> texts_;
    std::vector<Id> ids_;  // text numbers and person numbers, as spans name them
    std::vector<Name> names_;
    std::vector<Person> people_;
};

}  // namespace tarnix::service

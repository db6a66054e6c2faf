// Reading GEDCOM files for the search counts: the individuals with their names, birth and death
// (year and place), and the names of their parents and spouses, found through FAMC and FAMS and
// the HUSB and WIFE of the FAM records. Everything else in a file is skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Text.h"

namespace tarnix::service {

// An upload is taken as GEDCOM when its first line (after an optional UTF-8 byte-order mark
// and leading blanks) is "0 HEAD".
bool LooksLikeGedcom(std::string_view bytes);

struct PersonName {
    std::vector<std::string> given;  // lower-case words before the surname
    std::string surname;             // lower-case, the text between the slashes
};

struct PersonEvent {
    int firstYear = 0;  // smallest and largest year the date names; 0 when it names none
    int lastYear = 0;
    std::vector<std::string> places;  // the place's comma-separated parts, lower-case
};

struct IndexedPerson {
    std::vector<PersonName> names;
    PersonEvent birth;  // BIRT, else CHR or BAPM
    PersonEvent death;  // DEAT, else BURI or CREM
    // Each relative as the words of one of his or her names (given names and surname).
    std::vector<std::vector<std::string>> fathers, mothers, spouses;
};

std::vector<IndexedPerson> IndexGedcom(std::string_view bytes);

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

bool Matches(const IndexedPerson& person, const SearchQuery& query);

}  // namespace tarnix::service

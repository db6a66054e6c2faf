// The URL encoding and address exports, called through tarnix.dll as a host calls them. Each
// caller buffer is followed by guard bytes; every byte starts as kSentinel, so a comparison of
// the whole block shows what was written, what was left alone and that nothing past the
// declared size was touched.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tarnix.h"

namespace {

// The build's default TARNIX_SERVICE_HOST.
const std::string kBase = std::string("http://") + TARNIX_EXPECTED_SERVICE_HOST + "/vft/gatekeeper.ashx";

constexpr char kSentinel = static_cast<char>(0xCD);
constexpr size_t kGuard = 8;

std::string Untouched(size_t size) { return std::string(size + kGuard, kSentinel); }

// Written whole with its terminator; the rest of the buffer keeps the sentinel.
std::string Whole(const std::string& text, size_t size) {
    return Untouched(size).replace(0, text.size() + 1, text.c_str(), text.size() + 1);
}

// Cut to size - 1 bytes, then zeros up to the end of the buffer.
std::string Cut(const std::string& text, size_t size) {
    std::string written = text.substr(0, size - 1);
    written.resize(size, '\0');
    return Untouched(size).replace(0, size, written);
}

struct Search {
    const char *surname, *givenNames, *birthPlace;
    int birthYear;
    const char* deathPlace;
    int deathYear;
    const char *father, *mother, *spouse, *cobrand;
    int method;
};

// One export with its arguments bound, the text it must write, and what it does with a buffer too
// short for it: write nothing and fail (search pages), or cut the text and succeed (the rest).
struct Row {
    std::string name;
    std::function<HRESULT(char*, ULONG)> call;
    std::string text;
    bool cuts;
};

std::vector<Row> Rows() {
    using SearchExport = HRESULT(TARNIX_STDCALL*)(const char*, const char*, const char*, int, const char*, int,
                                                   const char*, const char*, const char*, const char*, int, char*, ULONG);
    const struct { const char* name; SearchExport call; const char* prefix; } searchExports[] = {
        {"TarnixSearchDataURL", &TarnixSearchDataURL, "?op=datasearch&method="},
        {"TarnixSearchTreeURL", &TarnixSearchTreeURL, "?op=treesearch&method="},
        {"TarnixSearchBoardsURL", &TarnixSearchBoardsURL, "?op=boardsearch&method="},
    };
    const struct { const char* what; Search search; const char* tail; } searches[] = {
        {"every field", {"Sur", "Giv", "BP", 1801, "DP", 1802, "Fa", "Mo", "Sp", "Co", 1},
         "0&cobrand=Co&surname=Sur&givennames=Giv&birthplace=BP&birthyear=1801&deathplace=DP&deathyear=1802"
         "&father=Fa&mother=Mo&spouse=Sp"},
        {"example", {"O Brien", nullptr, nullptr, 1850, nullptr, 0, nullptr, nullptr, nullptr, "xy", 2},
         "1&cobrand=xy&surname=O%20Brien&birthyear=1850"},
        {"null fields", {nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 1}, "0"},
        {"empty fields", {"", "", "", 0, "", -5, "", "", "", "", 3}, "2"},
        {"co-brand escaped", {nullptr, nullptr, nullptr, 7, nullptr, 0, nullptr, nullptr, nullptr, "a b", 0},
         "-1&cobrand=a%20b&birthyear=0007"},
        {"lowest method", {nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, INT_MIN},
         "-2147483649"},
        {"highest method", {nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, INT_MAX},
         "2147483646"},
    };
    std::vector<Row> rows;
    for (const auto& e : searchExports)
        for (const auto& c : searches)
            rows.push_back({std::string(e.name) + ": " + c.what, [call = e.call, s = c.search](char* buffer, ULONG size) {
                                return call(s.surname, s.givenNames, s.birthPlace, s.birthYear, s.deathPlace, s.deathYear,
                                            s.father, s.mother, s.spouse, s.cobrand, s.method, buffer, size);
                            }, kBase + e.prefix + c.tail, false});
    for (auto [name, call, prefix] : {std::make_tuple("TarnixGetLoginURL", &TarnixGetLoginURL, "?op=login&cobrand="),
                                      std::make_tuple("TarnixGetSignUpURL", &TarnixGetSignUpURL, "?op=signup&cobrand=")})
        for (const char* cobrand : {"a b&c", static_cast<const char*>(nullptr)})  // sent unescaped
            rows.push_back({std::string(name) + (cobrand ? ": co-brand" : ": no co-brand"),
                            [call = call, cobrand](char* buffer, ULONG size) { return call(buffer, size, cobrand); },
                            kBase + prefix + (cobrand ? cobrand : ""), true});
    for (auto [text, encoded] : {std::make_pair("a b&\xE9", "a%20b%26%e9"), std::make_pair("abc", "abc"), std::make_pair("", "")})
        rows.push_back({std::string("TarnixURLEncode: ") + text,
                        [text = text](char* buffer, ULONG size) { return TarnixURLEncode(text, buffer, size); }, encoded, true});
    return rows;
}

TEST(AddressExports, WriteExactTextsAndKeepToTheBuffer) {
    for (const Row& row : Rows()) {
        const ULONG fit = static_cast<ULONG>(row.text.size() + 1);
        const struct { const char* what; ULONG size; } sizes[] = {
            {"room to spare", fit + 3}, {"exact fit", fit}, {"one short", fit - 1}, {"one byte", 1}};
        for (const auto& s : sizes) {
            if (s.size == 0) continue;  // an empty text has no "one short"
            SCOPED_TRACE(row.name + ", " + s.what);
            std::string block = Untouched(s.size);
            const bool refuses = s.size < fit && !row.cuts;
            EXPECT_EQ(refuses ? E_INVALIDARG : S_OK, row.call(&block[0], s.size));
            EXPECT_EQ(refuses ? Untouched(s.size) : row.cuts ? Cut(row.text, s.size) : Whole(row.text, s.size), block);
        }
        SCOPED_TRACE(row.name);
        std::string block = Untouched(0);
        EXPECT_EQ(E_INVALIDARG, row.call(&block[0], 0));
        EXPECT_EQ(Untouched(0), block);
        EXPECT_EQ(E_POINTER, row.call(nullptr, fit));
        EXPECT_EQ(E_INVALIDARG, row.call(nullptr, 0));
    }
}

TEST(AddressExports, EncodingRefusesMissingText) {
    std::string block = Untouched(16);
    EXPECT_EQ(E_POINTER, TarnixURLEncode(nullptr, &block[0], 16));
    EXPECT_EQ(Untouched(16), block);
}

}  // namespace

// The URL encoding and address exports, called through tarnix.dll as a host calls them. Each
// caller buffer is followed by guard bytes; every byte starts as kSentinel, so a comparison of
// the whole block shows what was written, what was left alone and that nothing past the
// declared size was touched.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tarnix.h"

namespace {

// The build's default TARNIX_SERVICE_HOST.
const std::string kBase = "http://trees.tarnix.example/vft/gatekeeper.ashx";

constexpr char kSentinel = static_cast<char>(0xCD);
constexpr size_t kGuard = 8;

std::string Untouched(size_t size) { return std::string(size + kGuard, kSentinel); }

// Written whole with its terminator; the rest of the buffer keeps the sentinel.
std::string Whole(const std::string& text, size_t size) {
    std::string block = Untouched(size);
    block.replace(0, text.size() + 1, text.c_str(), text.size() + 1);
    return block;
}

// Cut to size - 1 bytes, then zeros up to the end of the buffer.
std::string Cut(const std::string& text, size_t size) {
    std::string block = Untouched(size);
    std::string written = text.substr(0, size - 1);
    written.resize(size, '\0');
    return block.replace(0, size, written);
}

struct Search {
    const char* surname = nullptr;
    const char* givenNames = nullptr;
    const char* birthPlace = nullptr;
    int birthYear = 0;
    const char* deathPlace = nullptr;
    int deathYear = 0;
    const char* father = nullptr;
    const char* mother = nullptr;
    const char* spouse = nullptr;
    const char* cobrand = nullptr;
    int method = 1;
};

using SearchExport = HRESULT(TARNIX_STDCALL*)(const char*, const char*, const char*, int,
    const char*, int, const char*, const char*, const char*, const char*, int, char*, ULONG);

const struct {
    const char* name;
    SearchExport call;
    const char* prefix;
} kSearchExports[] = {
    {"TarnixSearchDataURL", &TarnixSearchDataURL, "?op=datasearch&method="},
    {"TarnixSearchTreeURL", &TarnixSearchTreeURL, "?op=treesearch&method="},
    {"TarnixSearchBoardsURL", &TarnixSearchBoardsURL, "?op=boardsearch&method="},
};

HRESULT CallSearch(SearchExport call, const Search& s, char* buffer, ULONG size) {
    return call(s.surname, s.givenNames, s.birthPlace, s.birthYear, s.deathPlace, s.deathYear,
        s.father, s.mother, s.spouse, s.cobrand, s.method, buffer, size);
}

TEST(SearchAddressExports, ComposeExactAddresses) {
    const Search everything{"Sur", "Giv", "BP", 1801, "DP", 1802, "Fa", "Mo", "Sp", "Co", 1};
    const Search example{"O Brien", nullptr, nullptr, 1850, nullptr, 0, nullptr, nullptr,
        nullptr, "xy", 2};
    const Search empty{"", "", "", 0, "", -5, "", "", "", "", 3};
    const Search cobrandOnly{nullptr, nullptr, nullptr, 7, nullptr, 0, nullptr, nullptr,
        nullptr, "a b", 0};
    Search lowest;
    lowest.method = INT_MIN;
    Search highest;
    highest.method = INT_MAX;
    const struct {
        const char* what;
        Search search;
        std::string tail;
    } kCases[] = {
        {"every field", everything,
            "0&cobrand=Co&surname=Sur&givennames=Giv&birthplace=BP&birthyear=1801"
            "&deathplace=DP&deathyear=1802&father=Fa&mother=Mo&spouse=Sp"},
        {"example", example, "1&cobrand=xy&surname=O%20Brien&birthyear=1850"},
        {"null fields", Search(), "0"},
        {"empty fields", empty, "2"},
        {"co-brand escaped", cobrandOnly, "-1&cobrand=a%20b&birthyear=0007"},
        {"lowest method", lowest, "-2147483649"},
        {"highest method", highest, "2147483646"},
    };
    for (const auto& e : kSearchExports) {
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(e.name) + ": " + c.what);
            std::string expected = kBase + e.prefix + c.tail;
            std::string block = Untouched(500);
            ASSERT_EQ(S_OK, CallSearch(e.call, c.search, &block[0], 500));
            EXPECT_EQ(Whole(expected, 500), block);
        }
    }
}

TEST(SearchAddressExports, WriteWholeOrNothing) {
    Search search;
    search.surname = "O Brien";
    search.cobrand = "xy";
    for (const auto& e : kSearchExports) {
        const std::string address = kBase + e.prefix + "0&cobrand=xy&surname=O%20Brien";
        const ULONG fit = static_cast<ULONG>(address.size() + 1);
        const struct {
            ULONG size;
            HRESULT result;
        } kCases[] = {{fit + 3, S_OK}, {fit, S_OK}, {fit - 1, E_INVALIDARG}, {1, E_INVALIDARG},
            {0, E_INVALIDARG}};
        for (const auto& c : kCases) {
            SCOPED_TRACE(std::string(e.name) + " size " + std::to_string(c.size));
            std::string block = Untouched(c.size);
            EXPECT_EQ(c.result, CallSearch(e.call, search, &block[0], c.size));
            EXPECT_EQ(c.result == S_OK ? Whole(address, c.size) : Untouched(c.size), block);
        }
        SCOPED_TRACE(e.name);
        EXPECT_EQ(E_POINTER, CallSearch(e.call, search, nullptr, fit));
        EXPECT_EQ(E_INVALIDARG, CallSearch(e.call, search, nullptr, 0));
    }
}

const struct {
    const char* name;
    HRESULT(TARNIX_STDCALL* call)(char*, ULONG, const char*);
    const char* prefix;
} kPageExports[] = {
    {"TarnixGetLoginURL", &TarnixGetLoginURL, "?op=login&cobrand="},
    {"TarnixGetSignUpURL", &TarnixGetSignUpURL, "?op=signup&cobrand="},
};

TEST(PageAddressExports, CarryTheCobrandUnescapedAndCutToSize) {
    for (const auto& e : kPageExports) {
        const std::string address = kBase + e.prefix + "a b&c";
        const ULONG fit = static_cast<ULONG>(address.size() + 1);
        for (ULONG size : {fit + 5, fit, fit - 1, 10UL, 1UL}) {
            SCOPED_TRACE(std::string(e.name) + " size " + std::to_string(size));
            std::string block = Untouched(size);
            EXPECT_EQ(S_OK, e.call(&block[0], size, "a b&c"));
            EXPECT_EQ(Cut(address, size), block);
        }
        SCOPED_TRACE(e.name);
        std::string block = Untouched(100);
        EXPECT_EQ(S_OK, e.call(&block[0], 100, nullptr));
        EXPECT_EQ(Cut(kBase + e.prefix, 100), block);

        // Spelled out once: the scheme, two letters of the host and the terminator.
        block = Untouched(10);
        EXPECT_EQ(S_OK, e.call(&block[0], 10, "xy"));
        EXPECT_EQ(std::string("http://tr\0", 10) + std::string(kGuard, kSentinel), block);

        block = Untouched(0);
        EXPECT_EQ(E_INVALIDARG, e.call(&block[0], 0, "xy"));
        EXPECT_EQ(Untouched(0), block);
        EXPECT_EQ(E_POINTER, e.call(nullptr, 64, "xy"));
        EXPECT_EQ(E_INVALIDARG, e.call(nullptr, 0, "xy"));
    }
}

TEST(UrlEncodeExport, EscapesAndCutsToSize) {
    const struct {
        const char* text;
        ULONG size;
        std::string written;  // the whole buffer
    } kCases[] = {
        {"abc", 8, std::string("abc\0\0\0\0\0", 8)},
        {"abc", 4, std::string("abc\0", 4)},
        {"abc", 3, std::string("ab\0", 3)},
        {"abc", 1, std::string(1, '\0')},
        {"", 3, std::string(3, '\0')},
        {"a b&\xE9", 12, std::string("a%20b%26%e9\0", 12)},
        {"a b&\xE9", 6, std::string("a%20b\0", 6)},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.text) + " size " + std::to_string(c.size));
        std::string block = Untouched(c.size);
        EXPECT_EQ(S_OK, TarnixURLEncode(c.text, &block[0], c.size));
        EXPECT_EQ(c.written + std::string(kGuard, kSentinel), block);
    }
}

TEST(UrlEncodeExport, RefusesMissingTextOrBufferAndWritesNothing) {
    std::string block = Untouched(16);
    EXPECT_EQ(E_POINTER, TarnixURLEncode(nullptr, &block[0], 16));
    EXPECT_EQ(E_INVALIDARG, TarnixURLEncode("abc", &block[0], 0));
    EXPECT_EQ(Untouched(16), block);
    EXPECT_EQ(E_POINTER, TarnixURLEncode("abc", nullptr, 16));
    EXPECT_EQ(E_INVALIDARG, TarnixURLEncode("abc", nullptr, 0));
}

}  // namespace

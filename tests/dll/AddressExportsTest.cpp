// The URL encoding and address exports through tarnix.dll. A caller's buffer and guard bytes after it
// start as sentinels, so that the whole block shows what was written and what was left alone.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tarnix.h"

namespace {

const std::string kBase = std::string("http://") + TARNIX_EXPECTED_SERVICE_HOST + "/vft/gatekeeper.ashx";

std::string Untouched(size_t size) { return std::string(size + 8, static_cast<char>(0xCD)); }

// Every search field present and told apart, each in its place (the search exports share one routine).
#define EVERY_FIELD "Sur", "Giv", "BP", 7, "DP", 1802, "Fa", "Mo", "Sp", "a b", 1
const std::string kEveryField = "&method=0&cobrand=a%20b&surname=Sur&givennames=Giv&birthplace=BP&birthyear=0007"
                                "&deathplace=DP&deathyear=1802&father=Fa&mother=Mo&spouse=Sp";

// An export with its arguments bound, its text, and whether a buffer too short for it gets the text
// cut (and success) or nothing (and a failure).
const struct Row { HRESULT (*call)(char*, ULONG); std::string text; bool cuts; } kRows[] = {
    {[](char* b, ULONG n) { return TarnixSearchDataURL(EVERY_FIELD, b, n); }, kBase + "?op=datasearch" + kEveryField, false},
    {[](char* b, ULONG n) { return TarnixSearchTreeURL(EVERY_FIELD, b, n); }, kBase + "?op=treesearch" + kEveryField, false},
    {[](char* b, ULONG n) { return TarnixSearchBoardsURL(EVERY_FIELD, b, n); }, kBase + "?op=boardsearch" + kEveryField, false},
    // Null or empty texts and years below 1 left out; the lowest method, less one without overflow.
    {[](char* b, ULONG n) { return TarnixSearchTreeURL(nullptr, "", nullptr, 0, "", -5, nullptr, "", nullptr, "", INT_MIN, b, n); },
     kBase + "?op=treesearch&method=-2147483649", false},
    {[](char* b, ULONG n) { return TarnixGetLoginURL(b, n, "a b&c"); }, kBase + "?op=login&cobrand=a b&c", true},  // as it is
    {[](char* b, ULONG n) { return TarnixGetSignUpURL(b, n, nullptr); }, kBase + "?op=signup&cobrand=", true},
    {[](char* b, ULONG n) { return TarnixURLEncode("a b&\xE9", b, n); }, "a%20b%26%e9", true},
};

TEST(AddressExports, WriteExactTextsAndKeepToTheBuffer) {
    for (const Row& row : kRows) {
        const ULONG fit = static_cast<ULONG>(row.text.size() + 1);
        for (const ULONG size : {fit + 3, fit, fit - 1, 1ul, 0ul}) {
            SCOPED_TRACE(row.text + " in a buffer of " + std::to_string(size));
            std::string block = Untouched(size), expected = block;
            if (row.cuts && size)  // size - 1 bytes at most, then zeros to the end of the buffer
                expected.replace(0, size, (row.text.substr(0, size - 1) + std::string(size, '\0')).substr(0, size));
            else if (size >= fit)  // whole, with its terminator; the rest as it was
                expected.replace(0, fit, row.text.c_str(), fit);
            EXPECT_EQ(size == 0 || (size < fit && !row.cuts) ? E_INVALIDARG : S_OK, row.call(&block[0], size));
            EXPECT_EQ(expected, block);
        }
        EXPECT_EQ(E_POINTER, row.call(nullptr, fit)) << row.text;
        EXPECT_EQ(E_INVALIDARG, row.call(nullptr, 0)) << row.text;
    }
    std::string block = Untouched(16);
    EXPECT_EQ(E_POINTER, TarnixURLEncode(nullptr, &block[0], 16));
    EXPECT_EQ(Untouched(16), block);
}

}  // namespace

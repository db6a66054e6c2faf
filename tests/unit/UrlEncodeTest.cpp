#include "operations/UrlEncode.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace tarnix {
namespace {

TEST(UrlEncode, EveryByteFollowsTheRule) {
    const char kUnescaped[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-_*";
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        const char byte = static_cast<char>(value);
        std::string expected(1, byte);
        if (value == 0 || std::strchr(kUnescaped, value) == nullptr) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02x", value);
            expected = escaped;
        }
        EXPECT_EQ(expected, URLEncode(std::string(1, byte)));
    }
}

TEST(UrlEncode, NamedCases) {
    const struct {
        const char* text;
        const char* encoded;
    } kCases[] = {
        {"", ""},
        {"a b", "a%20b"},
        {"Smith-Jones_2.0*", "Smith-Jones_2.0*"},
        {"&=?%+", "%26%3d%3f%25%2b"},
        {"\n\t/~", "%0a%09%2f%7e"},
        {"Ren\xE9\xFF", "Ren%e9%ff"},
        {"%20", "%2520"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.encoded, URLEncode(c.text));
    }
}

TEST(BuildSearchQuery, PairsInServiceOrder) {
    const std::string none;
    EXPECT_EQ("", BuildSearchQuery(none, none, none, 0, none, 0, none, none, none, none));
    // Distinct values in every position show that no two arguments are swapped.
    EXPECT_EQ("&cobrand=Co&surname=Sur&givennames=Giv&birthplace=BP&birthyear=1801"
              "&deathplace=DP&deathyear=1802&father=Fa&mother=Mo&spouse=Sp",
        BuildSearchQuery("Sur", "Giv", "BP", 1801, "DP", 1802, "Fa", "Mo", "Sp", "Co"));
    EXPECT_EQ("&cobrand=xy&surname=O%20Brien&birthyear=1850",
        BuildSearchQuery("O Brien", none, none, 1850, none, 0, none, none, none, "xy"));
    EXPECT_EQ("&givennames=Mary%20Ann&mother=M%26M&spouse=%e9",
        BuildSearchQuery(none, "Mary Ann", none, 0, none, 0, none, "M&M", "\xE9", none));
}

TEST(BuildSearchQuery, YearsArePaddedToFourDigitsAndOnlyPositiveOnesKept) {
    const std::string none;
    const struct {
        int year;
        const char* written;  // null: left out
    } kCases[] = {
        {INT_MIN, nullptr}, {-5, nullptr}, {0, nullptr}, {1, "0001"}, {7, "0007"},
        {850, "0850"}, {1875, "1875"}, {12345, "12345"}, {INT_MAX, "2147483647"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.year);
        std::string birth = c.written ? std::string("&birthyear=") + c.written : "";
        std::string death = c.written ? std::string("&deathyear=") + c.written : "";
        EXPECT_EQ(birth,
            BuildSearchQuery(none, none, none, c.year, none, 0, none, none, none, none));
        EXPECT_EQ(death,
            BuildSearchQuery(none, none, none, 0, none, c.year, none, none, none, none));
    }
}

}  // namespace
}  // namespace tarnix

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

}  // namespace
}  // namespace tarnix

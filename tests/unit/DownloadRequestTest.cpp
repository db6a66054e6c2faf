// Reading an announced length: only a decimal number of at most 32 bits counts; anything else
// reads as no length at all, so that received can never pass the total.
#include <gtest/gtest.h>

#include <cstdint>

#include "support/DecimalText.h"

namespace tarnix {
namespace {

TEST(DownloadRequest, OnlyAPlainDecimalOf32BitsIsALength) {
    const struct {
        const char* text;
        uint32_t length;
    } cases[] = {{"123", 123}, {" 42\r\n", 42}, {"+7", 7}, {"4294967295", 4294967295u}, {"4294967296", 0},
                 {"-5", 0},    {"12abc", 0},    {"1 2", 0}, {"", 0},                  {"+", 0}, {"0x10", 0}};
    for (const auto& c : cases) EXPECT_EQ(c.length, ParseContentLength(c.text)) << '"' << c.text << '"';
}

}  // namespace
}  // namespace tarnix

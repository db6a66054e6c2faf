// What the download dialog shows of a transfer, from the counters a poll reads, at the edges that the
// dialogs' test (a first poll, one half-way, a plain destination) does not reach.
#include <gtest/gtest.h>

#include <string>

#include "dialogs/TransferText.h"

namespace tarnix {
namespace {

TEST(TransferText, ShowsATransferAsTheDownloadDialogDoes) {
    // 2,500,000 bytes, 1,000,000 of them received 4 s after the first poll that saw them coming.
    const std::uint32_t rate = TransferRate(1000000, 10000, 14000);
    const struct {
        const char* what;
        std::string shown, expected;
    } cases[] = {
        {"a byte short of a megabyte", FormatByteSize(999999), "1000.00 KB"},
        {"one and a half megabytes", FormatByteSize(1500000), "1.50 MB"},
        {"the largest count", FormatByteSize(0xFFFFFFFFu), "4294.97 MB"},
        {"a minute less a second", FormatTimeLeft(59), "59 sec"},
        {"two minutes less a second", FormatTimeLeft(119), "1 min"},
        {"the example's rate", RateText(rate), "250.00 KB/Sec"},
        {"the example's progress", ProgressText(2500000, 1000000, rate), "6 sec (1.00 MB of 2.50 MB copied)"},
        {"the tick count wrapped", RateText(TransferRate(5000, 0xFFFFFF00u, 100)), "3.60 KB/Sec"},
        {"near 4 GB, without overflow", CompletedTitle(Percentage(4000000000u, 0xFFFFFFFFu), "/f"), "93% of /f Completed"},
        {"a byte in two seconds: rate 0", ProgressText(1000, 1, TransferRate(1, 0, 2000)),
         "unknown (0.00 KB of 1.00 KB copied)"},
        {"a rate past 32 bits is held there", std::to_string(TransferRate(0xFFFFFFFFu, 0, 1)), "4294967295"},
        {"slashes and backslashes", FileNameAndExtension("D:/trees\\ohio/cousins"), "cousins"},
        {"a drive without a folder", FileNameAndExtension("C:tree.ged"), "tree.ged"},
        {"a folder", FileNameAndExtension("C:\\trees\\"), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, c.shown) << c.what;
}

}  // namespace
}  // namespace tarnix

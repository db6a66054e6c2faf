// What the download dialog shows of a transfer, from the counters a poll reads, at the edges that the
// dialogs' tests (a first poll, one half-way, a download without a length) do not reach.
#include <gtest/gtest.h>

#include <string>

#include "dialogs/TransferText.h"

namespace tarnix {
namespace {

TEST(TransferText, ShowsATransferAsTheDownloadDialogDoes) {
    // 2,500,000 bytes, 1,000,000 of them received 4 s after the first poll that saw them coming.
    const std::uint32_t rate = TransferRate(1000000, 10000, 14000);
    const std::string cases[][2] = {
        {RateText(rate), "250.00 KB/Sec"}, {ProgressText(2500000, 1000000, rate), "6 sec (1.00 MB of 2.50 MB copied)"},
        {CompletedTitle(Percentage(1000000, 2500000), "/f"), "40% of /f Completed"},
        {FormatByteSize(999999), "1000.00 KB"}, {FormatByteSize(1500000), "1.50 MB"}, {FormatTimeLeft(59), "59 sec"},
        {FormatTimeLeft(60), "1 min"}, {FormatTimeLeft(119), "1 min"},
        // Nothing received yet, or a tick count that wrapped: the unmeasured rate. A byte in two
        // seconds is a rate of 0; more than the announced total leaves no time.
        {RateText(TransferRate(0, 0, 1000)), "3.60 KB/Sec"}, {RateText(TransferRate(5000, 0xFFFFFF00u, 100)), "3.60 KB/Sec"},
        {ProgressText(1000, 1, TransferRate(1, 0, 2000)), "unknown (0.00 KB of 1.00 KB copied)"},
        {ProgressText(0, 16, 3600), "0 sec (0.02 KB of 0.00 KB copied)"},
        // Near 4 GB without overflow; a rate held within 32 bits; no percentage without a total.
        {std::to_string(Percentage(4000000000u, 0xFFFFFFFFu)), "93"},
        {std::to_string(TransferRate(0xFFFFFFFFu, 0, 1)), "4294967295"}, {std::to_string(Percentage(5, 0)), "0"},
        {FileNameAndExtension("D:/trees\\ohio/cousins"), "cousins"}, {FileNameAndExtension("C:tree.ged"), "tree.ged"}};
    for (const auto& c : cases) EXPECT_EQ(c[1], c[0]);
}

}  // namespace
}  // namespace tarnix

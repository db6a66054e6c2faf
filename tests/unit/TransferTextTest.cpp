// What the download dialog shows of a transfer, at the edges its tests (a first poll, one half-way, no length) do not reach.
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
        {CompletedTitle(Percentage(1000000, 2500000), "/f"), "40% of /f Completed"}, {FormatByteSize(999999), "1000.00 KB"},
        {FormatTimeLeft(59), "59 sec"}, {FormatTimeLeft(60), "1 min"}, {FormatTimeLeft(119), "1 min"},
        // A wrapped tick count: the unmeasured rate. More than the total leaves no time; a byte in two seconds is a rate of 0.
        {RateText(TransferRate(5000, 0xFFFFFF00u, 100)), "3.60 KB/Sec"}, {ProgressText(0, 16, 3600), "0 sec (0.02 KB of 0.00 KB copied)"},
        {ProgressText(1000, 1, TransferRate(1, 0, 2000)), "unknown (0.00 KB of 1.00 KB copied)"}, {std::to_string(Percentage(5, 0)), "0"},
        // No percentage without a total (above); near 4 GB without overflow; a rate held within 32 bits.
        {std::to_string(Percentage(4000000000u, 0xFFFFFFFFu)), "93"}, {std::to_string(TransferRate(0xFFFFFFFFu, 0, 1)), "4294967295"},
        {FileNameAndExtension("D:/trees\\ohio/cousins"), "cousins"}, {FileNameAndExtension("C:tree.ged"), "tree.ged"}};
    for (const auto& c : cases) EXPECT_EQ(c[1], c[0]);
}

}  // namespace
}  // namespace tarnix

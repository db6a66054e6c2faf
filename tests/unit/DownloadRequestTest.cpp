// The download's counters at their limits, where no server reached through the platform can take
// them: an announced length that is no number of 32 bits, and more bytes than were announced.
#include <gtest/gtest.h>

#include "transport/DownloadRequest.h"
#include "transport/FileStream.h"

namespace tarnix {
namespace {

TEST(DownloadRequest, OnlyAPlainDecimalOf32BitsIsALength) {
    const struct {
        const char* text;
        ULONG length;
    } cases[] = {
        {"123", 123},   {" 42\r\n", 42}, {"+7", 7},          {"4294967295", 4294967295u}, {"0", 0},
        {"4294967296", 0}, {"-5", 0},    {"12abc", 0},       {"1 2", 0},                  {"", 0},
        {" ", 0},          {"+", 0},     {"0x10", 0},        {"99999999999999999999999", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(c.length, ParseContentLength(c.text)) << '"' << c.text << '"';
}

class CountedDownload : public CDownloadRequest {
public:
    using CDownloadRequest::AddBytesReceived;
    using CDownloadRequest::BeginTransfer;
    using CDownloadRequest::FinishTransfer;
};

TEST(DownloadRequest, ReceivedNeverPassesTheTotalAndEqualsItWhenDone) {
    const struct {
        ULONG total;
        ULONG adds[3];
        ULONG received;  // after the adds
    } cases[] = {
        {10, {4, 3, 0}, 7},
        {10, {4, 7, 0}, 10},
        {10, {4, 0xFFFFFFFF, 1}, 10},  // the sum passes 32 bits
        {0, {4096, 4096, 0}, 0},
        {10, {0, 0, 0}, 0},
    };
    ComPtr<IStream> stream = CreateTempFileStream();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        ComPtr<CountedDownload> download(new CountedDownload());
        download->Configure("h", "/p", nullptr);
        download->BeginTransfer("t", c.total);
        for (ULONG add : c.adds) download->AddBytesReceived(add);
        ULONG received = 0xdeadbeef;
        ASSERT_EQ(S_OK, download->GetBytesReceived(&received));
        EXPECT_EQ(c.received, received);
        download->FinishTransfer(stream.get());
        ASSERT_EQ(S_OK, download->GetBytesReceived(&received));
        EXPECT_EQ(c.total, received);
    }
}

}  // namespace
}  // namespace tarnix

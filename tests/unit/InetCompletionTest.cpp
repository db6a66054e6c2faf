// The end of an asynchronous WinINet operation, reported through the status callback as the
// platform reports it, and seen by the exchange's wait.
#include <gtest/gtest.h>

#include "transport/Inet.h"

namespace tarnix {
namespace {

void ReportEnd(CInetCompletion* completion, DWORD_PTR result, DWORD error) {
    INTERNET_ASYNC_RESULT outcome = {result, error};
    CInetCompletion::StatusCallback(nullptr, completion->Context(), INTERNET_STATUS_REQUEST_COMPLETE, &outcome,
                                    sizeof outcome);
}

TEST(InetCompletionTest, AnEndIsSeenOnceAndOneThatNoWaitSawDoesNotEndTheNextOperation) {
    CInetCompletion* completion = CInetCompletion::Create();
    ASSERT_NE(completion, nullptr);

    completion->Arm();
    EXPECT_FALSE(completion->WaitEnded(0));
    ReportEnd(completion, TRUE, 0);
    EXPECT_TRUE(completion->WaitEnded(0));
    EXPECT_EQ(completion->Outcome(), S_OK);
    EXPECT_FALSE(completion->WaitEnded(0));

    // An end reported while nothing waited (an operation given up): the next one starts afresh.
    ReportEnd(completion, TRUE, 0);
    completion->Arm();
    EXPECT_FALSE(completion->WaitEnded(0));
    ReportEnd(completion, FALSE, ERROR_INTERNET_TIMEOUT);
    EXPECT_TRUE(completion->WaitEnded(0));
    EXPECT_EQ(completion->Outcome(), HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT));

    completion->Release();
}

}  // namespace
}  // namespace tarnix

// What the fault suite and the load runs share: the library's own count of what it holds, and the
// request families started through their exports (linked statically, so that the counts are the
// ones those requests change) against one local service that answers each family well unless a
// case puts a fault on it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>

#include "ProxySetting.h"
#include "TestService.h"
#include "frame/Library.h"
#include "requests/RequestBase.h"
#include "support/Module.h"
#include "tarnix.h"
#include "transport/Exchange.h"

namespace tarnix::test {

// What the library holds ("" for nothing): request objects, open WinINet handles, exchange states, and
// handles whose closing report the platform still owes.
inline std::string Holdings() {
    const LONG requests = LiveRequestCount(), handles = OpenInetHandleCount(),
               states = LiveExchangeStateCount(), due = CallbacksDue();
    if (requests == 0 && handles == 0 && states == 0 && due == 0) return "";
    return "requests " + std::to_string(requests) + ", handles " + std::to_string(handles) + ", exchange states " +
           std::to_string(states) + ", closings due " + std::to_string(due);
}

// Polls until the library holds nothing. A worker leaves a given-up request within a fraction of
// a second; Wine reports a given-up handle closing only once its operation has ended (a timeout,
// or the server's answer), hence the generous bound.
inline ::testing::AssertionResult HoldsNothing(DWORD timeoutMs = 20000) {
    for (const DWORD start = GetTickCount();; Sleep(10)) {
        const std::string held = Holdings();
        if (held.empty()) return ::testing::AssertionSuccess();
        if (GetTickCount() - start > timeoutMs) return ::testing::AssertionFailure() << "still held: " << held;
    }
}

// A header value that the service replaces with the address of the request it answers.
constexpr char kThisAddress[] = "<this address>";

enum Family { kQuery, kCount, kDownload, kTreeGatekeeper, kTreeFile, kUpload, kFamilyCount };

// The local service with every family's good answer, and a fault in place of one family's answer
// on demand. Each family has a route of its own, so that all of them can run at once. The online
// tree download has two: a fault on its gatekeeper answer (kTreeGatekeeper) or on its file
// (kTreeFile), each request naming its own.
class FamilyService {
public:
    FamilyService();
    ~FamilyService();

    static const char* Name(Family family) {
        static const char* const names[] = {"query", "search count", "download", "tree download (gatekeeper)",
                                            "tree download (file)", "upload"};
        return names[family];
    }
    // Starts a request of the family as a host does; the caller holds the one reference.
    HRESULT Start(Family family, IRequest** request) const;
    // The body of the family's good answer (the file, for the downloads).
    static const std::string& Good(Family family);

    // The upload's local file: a little over 100 KB, padded with zeros to `bytes` if that is more.
    void SetUploadSize(uint64_t bytes);

    void SetFault(Family family, std::optional<HttpAnswer> answer);
    void ClearFaults();

    // Reads the results as text a test can compare: rows, counts, the file's bytes or "done".
    static std::string Results(Family family, IRequest* request);
    // What Results must read after a success: the good rows, the counts given (or the good
    // ones), the file as `delivered`, or "done".
    static std::string Expected(Family family, const std::string& delivered, const char* counts = nullptr);

    TestService service;

private:
    HttpAnswer Answer(const ReceivedRequest& request);

    std::mutex m_lock;
    std::optional<HttpAnswer> m_faults[kFamilyCount];
    std::string m_localFile;
    ProxySetting m_proxy{service.Port()};
};

// The family's good answer, held on `gate` before its head or half-way through its body.
inline HttpAnswer HeldAnswer(Family family, HANDLE gate, bool midBody = false) {
    HttpAnswer answer{200, "OK", {}, FamilyService::Good(family)};
    answer.hold = gate;
    answer.holdBeforeHead = !midBody;
    answer.holdAfterBytes = midBody ? answer.body.size() / 2 : 0;
    return answer;
}

// A test of the families: it starts with the library initialized and holding nothing, and must end
// holding nothing once `gate` has let every held answer go and the last terminate has run.
class FamiliesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ("", Holdings());
        ASSERT_EQ(S_OK, TARNIXInitialize(0));
    }
    void TearDown() override {
        SetEvent(gate);
        while (InitializationCount() > 0) TARNIXTerminate();
        EXPECT_TRUE(HoldsNothing());
        CloseHandle(gate);
    }

    FamilyService families;
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

}  // namespace tarnix::test

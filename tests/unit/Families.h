// What the fault suite and the load runs share: the library's own count of what it holds, and the
// request families started through their exports (linked statically, so that the counts are the
// ones those requests change) against one local service, reached directly, that answers each
// family well unless a case puts a fault on it.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <string>

#include "TestService.h"
#include "frame/Library.h"
#include "requests/RequestBase.h"
#include "support/Module.h"
#include "tarnix.h"
#include "transport/Exchange.h"

namespace tarnix::test {

// What the library holds ("" for nothing): request objects, open WinINet handles, exchange
// states, and handles whose closing report the platform still owes.
inline std::string Holdings() {
    const LONG counts[] = {LiveRequestCount(), OpenInetHandleCount(), LiveExchangeStateCount(), CallbacksDue()};
    if (!counts[0] && !counts[1] && !counts[2] && !counts[3]) return "";
    return "requests " + std::to_string(counts[0]) + ", handles " + std::to_string(counts[1]) + ", states " +
           std::to_string(counts[2]) + ", closings due " + std::to_string(counts[3]);
}

// Polls until the library holds nothing. Wine reports a given-up handle closing only once its
// operation has ended (the server's answer or a timeout), hence the generous bound.
inline ::testing::AssertionResult HoldsNothing(DWORD timeoutMs = 20000) {
    for (const DWORD start = GetTickCount();; Sleep(10)) {
        const std::string held = Holdings();
        if (held.empty()) return ::testing::AssertionSuccess();
        if (GetTickCount() - start > timeoutMs) return ::testing::AssertionFailure() << "still held: " << held;
    }
}

enum Family { kQuery, kCount, kDownload, kTreeGatekeeper, kTreeFile, kUpload, kFamilyCount };

// A header value that the service replaces with the address of the request it answers.
constexpr char kThisAddress[] = "<this address>";

// The local service with every family's good answer, and a fault in place of one family's answer
// on demand. Each family has a route of its own, so that all of them can run at once. The online
// tree download has two: a fault on its gatekeeper answer (kTreeGatekeeper) or on its file
// (kTreeFile), each request naming its own.
class FamilyService {
public:
    FamilyService();  // before TARNIXInitialize: the library reaches the service directly
    ~FamilyService();

    static const char* Name(Family family);
    // Starts a request of the family as a host does; the caller holds the one reference.
    HRESULT Start(Family family, IRequest** request) const;
    // The body of the family's good answer (the file, for the downloads).
    const std::string& Good(Family family) const { return m_good[family]; }

    // The upload's local file: a little over 100 KB, padded with zeros to `bytes` if that is more.
    void SetUploadSize(uint64_t bytes);
    void SetFault(Family family, std::optional<HttpAnswer> answer);
    void ClearFaults();

    // Reads the results as text a test can compare: rows, counts, the file's bytes or "done".
    static std::string Results(Family family, IRequest* request);
    // What Results must read after a success: the good rows, the counts given (or the good
    // ones), the file as `delivered`, or "done".
    std::string Expected(Family family, const std::string& delivered, const char* counts = nullptr) const;

    TestService service;

private:
    HttpAnswer Answer(const ReceivedRequest& request);

    std::string m_good[kFamilyCount];
    std::mutex m_lock;
    std::optional<HttpAnswer> m_faults[kFamilyCount];
    std::string m_localFile;
};

// The family's good answer, held on `gate` before its head or half-way through its body.
inline HttpAnswer HeldAnswer(const FamilyService& families, Family family, HANDLE gate, bool midBody = false) {
    HttpAnswer answer{200, "OK", {}, families.Good(family)};
    if (midBody) answer.steps.push_back(SendBody(answer.body.size() / 2));
    answer.steps.push_back(Hold(gate));
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

// What the fault suite and the load runs share: the library's own count of what it holds (linked
// statically), and every request family started through its export against one local service
// that answers each family well unless a case puts a fault on it.
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

// What the library holds ("" for nothing), closing reports the platform still owes among it.
inline std::string Holdings() {
    const LONG counts[] = {LiveRequestCount(), OpenInetHandleCount(), LiveExchangeStateCount(), CallbacksDue()};
    if (!counts[0] && !counts[1] && !counts[2] && !counts[3]) return "";
    return "requests " + std::to_string(counts[0]) + ", handles " + std::to_string(counts[1]) + ", states " +
           std::to_string(counts[2]) + ", closings due " + std::to_string(counts[3]);
}

// Generous: Wine reports a given-up handle closing only once its operation has ended.
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

// Each family has a route of its own, so that all can run at once; the tree download has two, a
// fault on its gatekeeper answer (kTreeGatekeeper) or on its file (kTreeFile).
class FamilyService {
public:
    FamilyService();  // before TARNIXInitialize: the library reaches the service directly
    ~FamilyService();

    static const char* Name(Family family);
    HRESULT Start(Family family, IRequest** request) const;
    // The body of the family's good answer (the file, for the downloads).
    const std::string& Good(Family family) const { return m_good[family]; }

    // The upload's local file: some 100 KB, padded with zeros to `bytes` if that is more.
    void SetUploadSize(uint64_t bytes);
    void SetFault(Family family, std::optional<HttpAnswer> answer);
    void ClearFaults();

    // The results as comparable text; Expected: what they must be after a success.
    static std::string Results(Family family, IRequest* request);
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

// Starts initialized and holding nothing; must end holding nothing once `gate` let every held answer go.
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

// The fault suite: every request family against every bad answer the local service can script,
// and a host that lets go at every step. A case ends with its defined status (a success only with
// the right results), or quietly when the host let go: never a crash, a hang or a success that is
// not one. After each group the library holds no request, WinINet handle or completion.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "BlackHole.h"
#include "Families.h"
#include "RequestWait.h"
#include "frame/Library.h"
#include "transport/Exchange.h"

namespace tarnix {
namespace {

using test::BlackHole;
using test::Family;
using test::FamilyService;
using test::HoldsNothing;
using test::HttpAnswer;

constexpr HRESULT kBadXml = E_INVALIDARG;
constexpr HRESULT kCut = HRESULT_FROM_WIN32(ERROR_INTERNET_CONNECTION_ABORTED);
constexpr HRESULT kStalled = HRESULT_FROM_WIN32(ERROR_INTERNET_TIMEOUT);
constexpr HRESULT kTooLarge = HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
constexpr HRESULT kRedirects = HRESULT_FROM_WIN32(ERROR_HTTP_REDIRECT_FAILED);
constexpr DWORD kStallMs = 300;  // the receive timeout of the stalled answers

// A status as text, and after a success the results.
std::string Outcome(HRESULT hr, const std::string& results) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text + (hr == S_OK ? ", " + results : "");
}

// The bytes a client can take for the body: up to a drop, and no further than a length announced.
std::string Delivered(const HttpAnswer& answer) {
    std::string body = answer.body.substr(0, std::min(answer.body.size(), answer.dropAfter));
    for (const auto& [name, value] : answer.headers)
        if (name == "Content-Length" && !value.empty() && value.find_first_not_of("0123456789") == std::string::npos)
            body.resize(std::min<size_t>(body.size(), std::strtoull(value.c_str(), nullptr, 10)));
    return body;
}

// How a bad answer differs from a family's good answer `a` (made of the body `good`); `hold` is an
// event that the answer may wait on (never set, for the faults).
using Change = void (*)(HttpAnswer& a, const std::string& good, HANDLE hold);
#define CHANGE [](HttpAnswer & a, const std::string& good, HANDLE hold)

HttpAnswer Changed(Change change, Family family, HANDLE hold) {
    HttpAnswer answer{200, "OK", {}, FamilyService::Good(family)};
    change(answer, FamilyService::Good(family), hold);
    return answer;
}

// A status, and after a success the search count's values if not the good ones.
struct Expect { HRESULT status; const char* counts = nullptr; };
// What each family must reach: query, search count, download, tree download with the fault on its
// gatekeeper answer, on its file, and upload. Each reads the answer as gatekeeper XML, counts or a file.
using Expects = std::array<Expect, test::kFamilyCount>;
Expects By(Expect xml, Expect counts, Expect file) { return {xml, counts, file, xml, file, xml}; }
// As By, with the query's and the tree download's gatekeeper answer given their own status.
Expects By(Expect xml, Expect counts, Expect file, HRESULT query, HRESULT treeGatekeeper = S_OK) {
    Expects expects = By(xml, counts, file);
    if (query != S_OK) expects[test::kQuery] = {query};
    if (treeGatekeeper != S_OK) expects[test::kTreeGatekeeper] = {treeGatekeeper};
    return expects;
}
Expects All(HRESULT status) { return By({status}, {status}, {status}); }
// A body the XML readers refuse and the downloads take as it is.
Expects NotXml(Expect counts) { return By({kBadXml}, counts, {S_OK}); }
// A status other than 200: the gatekeeper operations fail, a download tells it apart.
Expects Status(HRESULT download) { return By({E_FAIL}, {E_FAIL}, {download}); }

// `text` with its first `what` replaced by `with` (unchanged without one).
std::string Replaced(std::string text, const char* what, const char* with) {
    const size_t at = text.find(what);
    return at == std::string::npos ? text : text.replace(at, std::strlen(what), with);
}

// One bad answer, made from the good answer of each family in turn.
struct Fault { const char* name; Change change; Expects expect; };

const Fault kFaults[] = {
    {"malformed XML", CHANGE { a.body = "<gatekeeper><ok/><oft></gatekeeper></oft>"; }, NotXml({E_FAIL})},
    {"truncated XML, its length announced", CHANGE { a.body.resize(good.size() / 2); }, NotXml({S_OK, "57 1 0"})},
    {"zero bytes and no XML", CHANGE { a.body.assign("\0\xFF<ok/>,1,2", 11); }, NotXml({S_OK, "0 1 0"})},
    {"several megabytes",
     CHANGE {
         const size_t close = good.rfind("</");
         if (good[0] != '<' || close == std::string::npos) a.body += std::string(4 << 20, ' ');
         else a.body = good.substr(0, close) + "<pad>" + std::string(4 << 20, 'x') + "</pad>" + good.substr(close);
     },
     All(S_OK)},
    // An answer that would have the parser fetch an address or a local file: refused unread.
    {"a document type declaration",
     CHANGE { a.body = "<!DOCTYPE r [<!ENTITY x SYSTEM \"http://entities.tarnix.example/ext\">]>"
                       "<gatekeeper><ok/><ATT>&x;</ATT><oft><OFTName>&x;</OFTName></oft></gatekeeper>"; },
     NotXml({E_FAIL})},
    // An error answer fails whatever its code says: never as a success, nor as a request that
    // looks pending for ever.
    {"error answer of E_PENDING", CHANGE { a.body = "<gatekeeper><error><hresult>8000000A</hresult></error></gatekeeper>"; },
     By({E_FAIL}, {E_FAIL}, {S_OK})},
    {"error answer of a success code", CHANGE { a.body = "<gatekeeper><error><hresult>1</hresult></error></gatekeeper>"; },
     By({E_FAIL}, {E_FAIL}, {S_OK})},
    // A file address that would add header lines, or that names another scheme: refused unsent.
    {"a file address with a line break",
     CHANGE { a.body = Replaced(good, "/exports/gate.ged", "/exports/gate.ged\r\nX-Evil: 1"); },
     By({S_OK}, {S_OK}, {S_OK}, S_OK, E_INVALIDARG)},
    {"a file address of another scheme", CHANGE { a.body = Replaced(good, "http://files.", "ftp://files."); },
     By({S_OK}, {S_OK}, {S_OK}, S_OK, E_INVALIDARG)},
    {"error answer without a usable code",
     CHANGE { a.body = "<gatekeeper><error><hresult>zz</hresult></error></gatekeeper>"; }, NotXml({E_FAIL})},
    // The bodies of the error statuses wait on `hold`: a family that read one would stall.
    {"status 404", CHANGE { a.status = 404, a.reason = "Not Found", a.hold = hold; }, Status(0x80190194)},
    {"status 500", CHANGE { a.status = 500, a.reason = "Oops", a.hold = hold; }, Status(0x801901F4)},
    {"status 204 without a body", CHANGE { a = HttpAnswer{204, "No Content"}; }, Status(S_OK)},
    {"status 999", CHANGE { a.status = 999, a.reason = "Odd"; }, Status(0x801903E7)},
    // The platform reads an answer without a status line as HTTP/0.9: status 200, and all after
    // the first line is the body. Each family then meets that body as any other.
    {"a status line that is not HTTP", CHANGE { a.rawHead = "SPDY/9 what\r\n"; }, All(S_OK)},
    {"counts that are not numbers", CHANGE { a.body = "x,,y"; }, NotXml({S_OK, "0 1 0"})},
    {"counts beyond 32 bits", CHANGE { a.body = "99999999999999999999,3,12"; }, NotXml({E_FAIL})},
    {"negative counts", CHANGE { a.body = "57,-3,-12"; }, NotXml({E_FAIL})},
    {"the refusal", CHANGE { a.body = "ERROR"; }, NotXml({E_FAIL})},
    {"no Content-Length", CHANGE { a.contentLength = false; }, All(S_OK)},
    // No gatekeeper answer comes near this; a file may.
    {"beyond the answer limit", CHANGE { a.body = good + std::string((8 << 20) + 1 - good.size(), ' '); },
     By({kTooLarge}, {kTooLarge}, {S_OK})},
    {"beyond the answer limit, without a length",
     CHANGE { a.body = good + std::string((8 << 20) + 1 - good.size(), ' '), a.contentLength = false; },
     By({kTooLarge}, {kTooLarge}, {S_OK})},
    {"more rows than taken",
     CHANGE {
         if (good.find("<oft>") == std::string::npos) return;
         a.body = "<gatekeeper><ok/>";
         for (int i = 0; i <= 50000; ++i) a.body += "<oft/>";
         a.body += "</gatekeeper>";
     },
     By({S_OK}, {S_OK}, {S_OK}, kTooLarge)},
    // The platform ends a chunked body cut before its last chunk as quietly as a whole one, and no
    // answer to an HTTP/1.0 request may be chunked: neither is taken.
    {"chunked, cut before its last chunk",
     CHANGE { a.rawHead = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", a.body = "7fffffff\r\n" + good.substr(0, 28); },
     All(kCut)},
    {"chunked and whole",
     CHANGE {
         char size[16];
         std::snprintf(size, sizeof size, "%zx\r\n", good.size());
         a.rawHead = "HTTP/1.0 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", a.body = size + good + "\r\n0\r\n\r\n";
     },
     All(kCut)},
    // Cookies the service sets stay with no later request (the uploads' bytes are checked where
    // they are compared whole).
    {"cookies set", CHANGE { a.headers = {{"Set-Cookie", "ATT=planted; path=/"}, {"Set-Cookie", "att=x; path=/"}}; },
     All(S_OK)},
    {"a redirect to itself", CHANGE { a.status = 302, a.reason = "Found", a.headers = {{"Location", test::kThisAddress}}; },
     By({E_FAIL}, {E_FAIL}, {kRedirects})},
    {"Content-Length beyond the body", CHANGE { a.headers = {{"Content-Length", std::to_string(good.size() + 10)}}; },
     All(kCut)},
    {"Content-Length short of the body", CHANGE { a.headers = {{"Content-Length", std::to_string(good.size() / 2)}}; },
     NotXml({S_OK, "57 1 0"})},
    {"Content-Length not a number", CHANGE { a.headers = {{"Content-Length", "many"}}; }, All(S_OK)},
    {"Content-Length negative", CHANGE { a.headers = {{"Content-Length", "-1"}}; }, All(S_OK)},
    {"dropped before the head", CHANGE { a.noAnswer = true; }, All(kCut)},
    {"dropped in the status line", CHANGE { a = HttpAnswer{}, a.rawHead = "HTTP/1.0 20"; }, All(kCut)},
    {"dropped in the head, after its length",
     CHANGE { a = HttpAnswer{}, a.rawHead = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(good.size()) + "\r\nContent-Ty"; },
     All(kCut)},
    // The platform takes a head cut before its blank line for a whole one: without a length,
    // nothing tells this answer from an empty one, and each family reads it as such.
    {"dropped in the head, before any length", CHANGE { a = HttpAnswer{}, a.rawHead = "HTTP/1.0 200 OK\r\nContent-Ty"; },
     NotXml({S_OK, "0 1 0"})},
    {"dropped mid-body", CHANGE { a.dropAfter = good.size() / 2; }, All(kCut)},
    {"dropped mid-body without a length", CHANGE { a.contentLength = false, a.dropAfter = good.size() / 2; },
     NotXml({S_OK, "57 1 0"})},
    // Wine reports a receive timeout before the head as an aborted connection.
    {"stalled before the head", CHANGE { a.hold = hold, a.holdBeforeHead = true; }, All(kCut)},
    {"stalled in the head", CHANGE { a.rawHead = "HTTP/1.0 200 OK\r\nContent-Ty", a.hold = hold; }, All(kStalled)},
    {"stalled mid-body", CHANGE { a.hold = hold, a.holdAfterBytes = good.size() / 2; }, All(kStalled)},
};

class FaultSuiteTest : public test::FamiliesTest {
protected:
    void TearDown() override {
        ExchangeTimeouts() = m_timeouts;
        FamiliesTest::TearDown();
    }
    // After each group of cases the library must hold nothing (counted for the figures); its gate goes.
    void EndGroup(HANDLE gate = nullptr) {
        const ::testing::AssertionResult settled = HoldsNothing();
        EXPECT_TRUE(settled);
        ++groups, groupsSettled += static_cast<bool>(settled);
        if (gate) CloseHandle(gate);
    }

    const HANDLE never = gate;  // an answer held on it waits until the test is over
    size_t groups = 0, groupsSettled = 0;

private:
    const InetTimeouts m_timeouts = ExchangeTimeouts();
};

TEST_F(FaultSuiteTest, EveryFamilyMeetsEveryBadAnswerWithItsDefinedStatus) {
    size_t cases = 0, defined = 0;
    for (const Fault& fault : kFaults) {
        SCOPED_TRACE(fault.name);
        // Every family at once: each has its own route.
        HttpAnswer answers[test::kFamilyCount];
        IRequest* requests[test::kFamilyCount] = {};
        for (int f = 0; f < test::kFamilyCount; ++f)
            families.SetFault(Family(f), answers[f] = Changed(fault.change, Family(f), never));
        // Short timeouts only where answers wait, so that no other case can meet them on a busy machine.
        ExchangeTimeouts() = {10000, 10000, answers[0].hold == never ? kStallMs : 10000};
        for (int f = 0; f < test::kFamilyCount; ++f) ASSERT_EQ(S_OK, families.Start(Family(f), &requests[f]));
        for (int f = 0; f < test::kFamilyCount; ++f, ++cases) {
            SCOPED_TRACE(FamilyService::Name(Family(f)));
            const Expect& e = fault.expect[f];
            const HRESULT hr = test::WaitForRequest(requests[f], 30000);
            const std::string got = Outcome(hr, FamilyService::Results(Family(f), requests[f]));
            const std::string want = Outcome(e.status, FamilyService::Expected(Family(f), Delivered(answers[f]), e.counts));
            EXPECT_EQ(want, got);
            defined += got == want;
            requests[f]->Release();
        }
        families.ClearFaults();
        EndGroup();
    }
    for (const test::ReceivedRequest& request : families.service.Requests())
        EXPECT_EQ(std::string::npos, request.target.find("/ext")) << "an entity was fetched";
    std::printf("[ figures  ] %zu fault cases (%zu bad answers, %d families): %zu ended as defined; "
                "library holdings back to none after %zu of %zu groups\n",
                cases, std::size(kFaults), test::kFamilyCount, defined, groupsSettled, groups);
}

// Where the host lets go, for one family at a time: the step is reached when the service has
// seen `arrived` requests of the case (none while connecting, as the proxy is a black hole, or
// while an upload is still posting its body, which the service reads slowly).
struct AbandonStep {
    const char* name;
    bool blackHole;
    Change change;         // the family's good answer, held on `hold`
    bool posting = false;  // the upload alone, mid-body
};

const AbandonStep kAbandonSteps[] = {
    {"during connect", true, nullptr},
    {"awaiting the head", false, CHANGE { a.hold = hold, a.holdBeforeHead = true; }},
    {"during the body", false, CHANGE { a.hold = hold, a.holdAfterBytes = good.size() / 2; }},
    // Wine reads an unread body to its end as the request's handle closes: that must not keep the
    // worker.
    {"during a body that keeps coming", false, CHANGE { a.body += std::string(24 << 20, ' '); }},
    {"posting the upload's body", false, nullptr, true},  // last: it leaves the upload large and the service slow
};
#undef CHANGE

// How long after its release by the host the last request was destroyed (its worker free), up to
// 5 s: far less than any timeout of the exchange.
DWORD MsUntilDestroyed() {
    const DWORD start = GetTickCount();
    while (LiveRequestCount() > 0 && GetTickCount() - start <= 5000) Sleep(2);
    return GetTickCount() - start;
}

TEST_F(FaultSuiteTest, AHostLettingGoAtAnyStepEndsTheRequestQuietly) {
    size_t cases = 0;
    DWORD slowest = 0;  // ms from a release to the request's end
    // Released while queued: both pools' workers are held by answers that wait on `gate`.
    {
        SCOPED_TRACE("released while queued");
        HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        for (Family f : {test::kQuery, test::kCount}) families.SetFault(f, test::HeldAnswer(f, gate));
        std::vector<IRequest*> blockers(kGeneralPoolThreads + kSearchPoolThreads);
        for (size_t i = 0; i < blockers.size(); ++i)
            ASSERT_EQ(S_OK, families.Start(i < kGeneralPoolThreads ? test::kQuery : test::kCount, &blockers[i]));
        ASSERT_TRUE(families.service.WaitForRequests(blockers.size(), 20000)) << "the pools do not run side by side";
        for (int f = 0; f < test::kFamilyCount; ++f, ++cases) {
            IRequest* request = nullptr;
            ASSERT_EQ(S_OK, families.Start(Family(f), &request));
            EXPECT_EQ(1u, request->Release()) << "the queue holds it";
        }
        EXPECT_EQ(static_cast<LONG>(blockers.size()) + test::kFamilyCount, LiveRequestCount());
        SetEvent(gate);
        for (IRequest* blocker : blockers) {
            EXPECT_EQ(S_OK, test::WaitForRequest(blocker));
            blocker->Release();
        }
        MsUntilDestroyed();
        EXPECT_EQ(0, LiveRequestCount()) << "the queued requests went with the blockers' workers";
        EXPECT_EQ(blockers.size(), families.service.RequestCount()) << "a request released while queued was sent";
        families.ClearFaults();
        EndGroup(gate);
    }
    constexpr uint64_t kLargeUpload = 64 << 20;  // far more than the sockets' buffers take at once
    for (const AbandonStep& step : kAbandonSteps) {
        SCOPED_TRACE(step.name);
        HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::optional<BlackHole> hole;
        std::optional<test::ProxySetting> proxy;
        if (step.blackHole) {
            proxy.emplace(hole.emplace().Port());
            ExchangeTimeouts().connectMs = 3000;  // so that Wine's own connect ends soon after
        }
        if (step.posting) {
            families.SetUploadSize(kLargeUpload);
            families.service.SetBodyReadPace(64 * 1024, 10);  // some 6 MB/s: 10 s for the whole file
        }
        for (int f = 0; f < test::kFamilyCount; ++f) {
            // The file's connect goes the way of the gatekeeper's: the download covers it.
            if ((step.blackHole && f == test::kTreeFile) || (step.posting && f != test::kUpload)) continue;
            SCOPED_TRACE(FamilyService::Name(Family(f)));
            ++cases;
            if (step.change) families.SetFault(Family(f), Changed(step.change, Family(f), gate));
            const size_t before = families.service.RequestCount();
            size_t arrived = step.blackHole || step.posting ? 0 : f == test::kTreeFile ? 2 : 1;
            IRequest* request = nullptr;
            ASSERT_EQ(S_OK, families.Start(Family(f), &request));
            if (step.blackHole) {
                for (const DWORD start = GetTickCount(); OpenInetHandleCount() < 3 && GetTickCount() - start < 20000;)
                    Sleep(5);
                ASSERT_EQ(3, OpenInetHandleCount()) << "session, connection and request";
            } else {
                ASSERT_TRUE(families.service.WaitForRequests(before + arrived, 20000));
            }
            Sleep(step.posting ? 300 : 60);  // well into the step; nothing depends on how far
            request->Release();
            const DWORD took = MsUntilDestroyed();
            EXPECT_LT(took, 1000u) << "the worker stayed with a request its host let go";
            slowest = std::max(slowest, took);
            if (step.posting) {
                // The service records what it got once the connection is closed: a part.
                ASSERT_TRUE(families.service.WaitForRequests(before + ++arrived, 20000));
                EXPECT_LT(families.service.Requests().back().body.size(), kLargeUpload) << "the whole file went";
            }
            EXPECT_EQ(before + arrived, families.service.RequestCount()) << "sent on after the host let go";
            families.ClearFaults();
        }
        // Wine keeps a given-up handle's operation going until the server answers or the connect
        // fails: only then do the last closing reports come.
        SetEvent(gate);
        proxy.reset();
        hole.reset();
        EndGroup(gate);
    }
    std::printf("[ figures  ] %zu abandon cases: the slowest request ended %lu ms after its release; "
                "library holdings back to none after %zu of %zu groups\n",
                cases, static_cast<unsigned long>(slowest), groupsSettled, groups);
}

}  // namespace
}  // namespace tarnix

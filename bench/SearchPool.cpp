// Search pool: five search counts queued while both workers of the general pool are held by slow
// sign-ins, against one count alone. The counts have a pool of their own, so the five finish in
// about the time of one slow answer, while the sign-ins are still waiting for theirs.
//
// The slow service is a small HTTP server of this program's own (nginx cannot hold an answer):
// it holds each sign-in for --general-ms and each count for --count-ms before answering.
#include <winsock2.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "Bench.h"
#include "Loopback.h"

namespace bench {

namespace {

class SlowService {
public:
    SlowService(DWORD generalMs, DWORD countMs) : m_generalMs(generalMs), m_countMs(countMs) {
        sockaddr_in address;
        m_listener = tarnix::test::ListenOnLoopback(64, address);
        if (m_listener == INVALID_SOCKET) Fail("slow service: cannot listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { Accept(); });
    }
    ~SlowService() {
        closesocket(m_listener);  // ends the accept loop
        m_acceptor.join();
        // Connections still held finish on their own threads, which hold no state of ours.
        WSACleanup();
    }
    unsigned short Port() const { return m_port; }
    // Requests received so far (their answers may still be held).
    LONG GeneralArrived() const { return m_generalArrived; }

private:
    void Accept() {
        for (;;) {
            SOCKET connection = accept(m_listener, nullptr, nullptr);
            if (connection == INVALID_SOCKET) return;
            if (!tarnix::test::RunOnOwnThread([this, connection] { Serve(connection); })) closesocket(connection);
        }
    }
    void Serve(SOCKET connection) {
        std::string head;
        char buffer[2048];
        while (head.find("\r\n\r\n") == std::string::npos) {
            const int got = recv(connection, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            head.append(buffer, got);
        }
        const bool count = head.find("searchcount") != std::string::npos;
        if (!count) InterlockedIncrement(&m_generalArrived);
        Sleep(count ? m_countMs : m_generalMs);
        const std::string body =
            count ? "12,3,40" : "<gatekeeper op=\"apilogin\"><ok/><ATT>0123456789abcdef</ATT></gatekeeper>";
        char answer[512];
        const int length = std::snprintf(answer, sizeof answer,
                                         "HTTP/1.0 200 OK\r\nContent-Type: text/%s\r\nContent-Length: %u\r\n\r\n%s",
                                         count ? "plain" : "xml", static_cast<unsigned>(body.size()), body.c_str());
        send(connection, answer, length, 0);
        shutdown(connection, SD_SEND);
        while (recv(connection, buffer, sizeof buffer, 0) > 0) {
        }
        closesocket(connection);
    }

    DWORD m_generalMs, m_countMs;
    SOCKET m_listener = INVALID_SOCKET;
    unsigned short m_port = 0;
    volatile LONG m_generalArrived = 0;
    std::thread m_acceptor;
};

ISearchCountRequest* StartCount() {
    ISearchCountRequest* request = nullptr;
    if (FAILED(TARNIX(TarnixSearchTree)("Haverfield", "", "", 0, "", 0, "", "", "", "bench", &request)))
        Fail("TarnixSearchTree failed");
    return request;
}

void FinishCount(ISearchCountRequest* request) {
    HRESULT hr = WaitDone(request);
    LONG first = 0;
    if (SUCCEEDED(hr)) hr = request->GetFirstValue(&first);
    if (FAILED(hr) || first != 12) Fail("search count: 0x%08lX, %ld", static_cast<unsigned long>(hr), first);
    request->Release();
}

}  // namespace

int RunSearchPool(const Options& options) {
    const DWORD generalMs = options.Number("general-ms", 1500);
    const DWORD countMs = options.Number("count-ms", 500);
    const int rounds = options.Number("rounds", 5);
    SlowService service(generalMs, countMs);
    InitializeLibrary("127.0.0.1:" + std::to_string(service.Port()));

    std::vector<double> alone, fiveBesideBusy;
    int generalStillRunning = 0;
    for (int round = 0; round < rounds; ++round) {
        // One count alone: one slow answer's time, as the library delivers it.
        double start = Now();
        FinishCount(StartCount());
        alone.push_back(Now() - start);

        // Both general workers busy: two sign-ins whose requests the service is holding.
        const LONG before = service.GeneralArrived();
        IQueryRequest* signIns[2] = {};
        for (IQueryRequest*& signIn : signIns)
            if (FAILED(TARNIX(TarnixLogin)("bench", "bench-pass", &signIn))) Fail("TarnixLogin failed");
        while (service.GeneralArrived() < before + 2) Sleep(1);

        start = Now();
        std::vector<ISearchCountRequest*> counts;
        for (int i = 0; i < 5; ++i) counts.push_back(StartCount());
        for (ISearchCountRequest* count : counts) FinishCount(count);
        fiveBesideBusy.push_back(Now() - start);

        for (IQueryRequest* signIn : signIns) {
            LONG state = REQUEST_STATE_PENDING;
            if (SUCCEEDED(signIn->GetStatus(&state)) && state != REQUEST_STATE_DONE) ++generalStillRunning;
        }
        for (IQueryRequest* signIn : signIns) {
            if (FAILED(WaitDone(signIn))) Fail("slow sign-in failed");
            signIn->Release();
        }
    }
    TerminateLibrary();

    Note("a count held %lu ms: alone %.3f s; five while both general workers are held (%lu ms each): %.3f s",
         countMs, Summarize(alone).median, generalMs, Summarize(fiveBesideBusy).median);
    Note("general sign-ins still running when the five counts had finished: %d of %d", generalStillRunning,
         2 * rounds);
    std::vector<double> ratio;
    for (int round = 0; round < rounds; ++round) ratio.push_back(fiveBesideBusy[round] / alone[round]);
    Report("search.five_counts_beside_busy_general_vs_one_alone", ratio, "time ratio");
    return generalStillRunning == 2 * rounds ? 0 : 1;
}

}  // namespace bench

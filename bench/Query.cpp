// Query overhead: a sign-in from the export to the rows read (TarnixLogin, polled until done,
// the ticket read), against the bare platform doing the same: one WinINet chain for the same
// GET, the answer read in the same blocks, parsed into an MSXML DOM document and the ticket
// selected. Per request, in rounds of many requests one after the other; then a burst of
// sign-ins queued at once, against the same number of bare chains run on as many threads as the
// library's general pool has workers.
#include <msxml2.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "Bench.h"

namespace bench {

namespace {

const CLSID kClsidDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr char kUser[] = "bench";
constexpr char kPassword[] = "bench-pass";
constexpr char kLoginPath[] = "/vft/gatekeeper.ashx?op=apilogin&username=bench&password=bench-pass";
// The general pool's workers: the bare burst runs on as many threads.
constexpr int kGeneralWorkers = 2;

// The ticket of the answer's first ATT element, as a host with MSXML reads it.
std::string ParseTicket(const std::string& answer) {
    IXMLDOMDocument* document = nullptr;
    if (FAILED(CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER, kIidXmlDomDocument,
                                reinterpret_cast<void**>(&document))))
        Fail("no DOMDocument");
    std::wstring wide(answer.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, answer.data(), static_cast<int>(answer.size()), &wide[0],
                                    static_cast<int>(wide.size())));
    BSTR source = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    BSTR query = SysAllocString(L"//ATT");
    VARIANT_BOOL parsed = VARIANT_FALSE;
    IXMLDOMNode* node = nullptr;
    std::string ticket;
    if (SUCCEEDED(document->loadXML(source, &parsed)) && parsed == VARIANT_TRUE &&
        SUCCEEDED(document->selectSingleNode(query, &node)) && node) {
        BSTR text = nullptr;
        if (SUCCEEDED(node->get_text(&text)) && text) {
            char narrow[128] = "";
            WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
            ticket = narrow;
            SysFreeString(text);
        }
        node->Release();
    }
    SysFreeString(query);
    SysFreeString(source);
    document->Release();
    return ticket;
}

void BareSignIn(const std::string& host, INTERNET_PORT port, bool async) {
    std::string answer;
    {
        BareChain chain(host, port, "GET", kLoginPath, {async, 4096, true});
        chain.Send();
        if (chain.StatusCode() != 200) Fail("bare sign-in: status %lu", chain.StatusCode());
        char block[4096];
        for (DWORD read; (read = chain.Read(block, sizeof block)) > 0;) answer.append(block, read);
    }
    if (ParseTicket(answer).empty()) Fail("bare sign-in: no ticket in %s", answer.c_str());
}

// `count` requests on `threads` threads, each doing its share one after the other, while the
// calling thread polls for their end as it polls requests.
void OnThreads(int threads, int count, const std::function<void()>& one) {
    volatile LONG finished = 0;
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t)
        running.emplace_back([&, t] {
            CoInitialize(nullptr);
            for (int i = t; i < count; i += threads) one();
            CoUninitialize();
            InterlockedIncrement(&finished);
        });
    while (finished < threads) PollPause();
    for (std::thread& thread : running) thread.join();
}

// All `count` sign-ins queued at once, then waited for.
void LibraryBurst(int count) {
    std::vector<IQueryRequest*> requests(count, nullptr);
    for (IQueryRequest*& request : requests)
        if (FAILED(TARNIX(TarnixLogin)(kUser, kPassword, &request))) Fail("TarnixLogin failed");
    for (IQueryRequest* request : requests) {
        HRESULT hr = WaitDone(request);
        char ticket[128] = "";
        if (SUCCEEDED(hr)) hr = request->GetValue(0, "att", ticket, sizeof ticket);
        if (FAILED(hr) || !*ticket) Fail("library burst: 0x%08lX", static_cast<unsigned long>(hr));
        request->Release();
    }
}

}  // namespace

int RunQuery(const Options& options) {
    const std::string service = options.Text("service");
    const int requests = options.Number("requests", 200);
    const int burst = options.Number("burst", 50);
    const int rounds = options.Number("rounds", 15);
    if (service.empty()) Fail("query needs --service host:port");
    std::string host;
    INTERNET_PORT port = 0;
    SplitHostPort(service, host, port);
    CoInitialize(nullptr);
    InitializeLibrary(service);

    // Per request, one after the other. The bare chains run on a worker of the host's, polled
    // as the library's requests are.
    PolledWorker worker;
    const std::function<void()> bareSync = [&] { BareSignIn(host, port, false); };
    const std::function<void()> bareAsync = [&] { BareSignIn(host, port, true); };
    struct Variant {
        const char* name;
        std::function<void()> one;
        std::vector<double> perRequest;
    };
    std::vector<Variant> variants = {
        {"library", [] { SignIn(kUser, kPassword); }, {}},
        {"bare sync", [&] { worker.Run(bareSync); }, {}},
        {"bare async", [&] { worker.Run(bareAsync); }, {}},
    };
    std::vector<double> libraryBurst, bareBurst;
    // --only NAME runs that variant's requests once (to trace what they call), and reports nothing.
    const std::string only = options.Text("only");
    if (!only.empty()) {
        for (Variant& variant : variants) {
            if (only != variant.name) continue;
            const double start = Now();
            for (int r = 0; r < requests; ++r) variant.one();
            Note("%s: %.3f ms a sign-in", variant.name, (Now() - start) * 1000 / requests);
        }
        TerminateLibrary();
        return 0;
    }
    for (Variant& variant : variants)
        for (int i = 0; i < 10; ++i) variant.one();  // warm-up: DLLs, the DOM, the server
    for (int round = 0; round < rounds; ++round) {
        for (size_t i = 0; i < variants.size(); ++i) {
            Variant& variant = variants[(round + i) % variants.size()];
            const double start = Now();
            for (int r = 0; r < requests; ++r) variant.one();
            variant.perRequest.push_back((Now() - start) / requests);
        }
        // The burst: the library's two general workers against two bare threads.
        const bool libraryFirst = round % 2 == 0;
        for (int i = 0; i < 2; ++i) {
            const double start = Now();
            if ((i == 0) == libraryFirst) {
                LibraryBurst(burst);
                libraryBurst.push_back(Now() - start);
            } else {
                OnThreads(kGeneralWorkers, burst, [&] { BareSignIn(host, port, false); });
                bareBurst.push_back(Now() - start);
            }
        }
    }
    TerminateLibrary();
    CoUninitialize();

    for (const Variant& variant : variants)
        Note("%-12s median %.3f ms a sign-in", variant.name, Summarize(variant.perRequest).median * 1000);
    Note("%d queued at once: library %.3f s, bare on %d threads %.3f s", burst, Summarize(libraryBurst).median,
         kGeneralWorkers, Summarize(bareBurst).median);
    auto ratio = [&](const std::vector<double>& a, const std::vector<double>& b) {
        std::vector<double> values;
        for (size_t i = 0; i < a.size(); ++i) values.push_back(a[i] / b[i]);
        return values;
    };
    Report("query.library_vs_bare_sync", ratio(variants[0].perRequest, variants[1].perRequest), "time ratio");
    Report("query.library_vs_bare_async", ratio(variants[0].perRequest, variants[2].perRequest), "time ratio");
    Report("query.bare_async_vs_bare_sync", ratio(variants[2].perRequest, variants[1].perRequest), "time ratio");
    Report("query.burst_library_vs_bare_sync", ratio(libraryBurst, bareBurst), "time ratio");
    return 0;
}

}  // namespace bench

// Answers from a hostile or broken service: a tree list of many rows costs time in proportion to
// its rows (10,000 against 40,000, the most below the library's limit of 50,000), and an answer
// beyond the size limit fails without being held (its process's peak working set before and
// after). nginx serves the answers as files: the list's ticket names the file.
#include <cstdio>

#include "Bench.h"

namespace bench {

namespace {

// Seconds from the export until the request is done, its rows counted.
double ListSeconds(const std::string& answer, ULONG rows) {
    IQueryRequest* request = nullptr;
    const double start = Now();
    if (FAILED(TARNIX(TarnixListOnlineFamilyTrees)(answer.c_str(), "bench", &request))) Fail("list: not started");
    const HRESULT hr = WaitDone(request);
    const double seconds = Now() - start;
    if (FAILED(hr) || request->GetRowCount() != rows)
        Fail("list %s: 0x%08lX, %lu rows", answer.c_str(), static_cast<unsigned long>(hr), request->GetRowCount());
    request->Release();
    return seconds;
}

}  // namespace

int RunAnswers(const Options& options) {
    const int rounds = options.Number("rounds", 5);
    InitializeLibrary(options.Text("service"));
    if (options.Text("service").empty()) Fail("answers needs --service host:port");

    // First, while nothing else has raised the peak: the oversized answer, once to warm up.
    auto refuse = [] {
        IQueryRequest* request = nullptr;
        if (FAILED(TARNIX(TarnixListOnlineFamilyTrees)("oversized", "bench", &request))) Fail("list: not started");
        const HRESULT hr = WaitDone(request);
        request->Release();
        if (hr != HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE))
            Fail("oversized answer: 0x%08lX", static_cast<unsigned long>(hr));
    };
    refuse();
    const Memory before = ReadMemory();
    const double start = Now();
    refuse();
    const double refusedSeconds = Now() - start;
    const Memory after = ReadMemory();
    Note("oversized answer (16 MiB) refused in %.3f s; peak working set %.1f MiB before, %.1f after", refusedSeconds,
         before.peakWorkingSetMiB, after.peakWorkingSetMiB);
    Report("answers.oversized_peak_growth", {after.peakWorkingSetMiB - before.peakWorkingSetMiB}, "MiB");

    ListSeconds("rows-10000", 10000);  // unmeasured
    std::vector<double> small, large, ratio;
    for (int round = 0; round < rounds; ++round) {
        // Taking turns at going first.
        if (round % 2) large.push_back(ListSeconds("rows-40000", 40000));
        small.push_back(ListSeconds("rows-10000", 10000));
        if (round % 2 == 0) large.push_back(ListSeconds("rows-40000", 40000));
        ratio.push_back(large.back() / small.back());
        Note("round %d: 10,000 rows %.3f s, 40,000 rows %.3f s", round + 1, small.back(), large.back());
    }
    TerminateLibrary();
    Report("answers.list_40000_vs_10000_rows", ratio, "time ratio");
    return 0;
}

}  // namespace bench

// Download: one large file from a local web server into a file, through TarnixGetInternetFile
// (timed from the export until the request reports done; the file is then whole on disk),
// against bare WinINet loops that read the same body in the same 4096-byte blocks, or in 64 KiB
// blocks, and write each block to a file created as the library creates its own (timed until
// the last block is written). Also the processor time each variant took, less the host thread's.
#include <cstdio>
#include <vector>

#include "Bench.h"

namespace bench {

namespace {

struct DownloadRun {
    double seconds = 0;
    double releaseSeconds = 0;  // giving the request (or the file) up afterwards
};

DownloadRun LibraryDownload(const std::string& server, const std::string& path, ULONGLONG expected) {
    IDownloadRequest* request = nullptr;
    const double start = Now();
    if (FAILED(TARNIX(TarnixGetInternetFile)(server.c_str(), path.c_str(), &request)))
        Fail("TarnixGetInternetFile failed");
    const HRESULT hr = WaitDone(request);
    DownloadRun run;
    run.seconds = Now() - start;
    ULONG received = 0;
    if (FAILED(hr) || FAILED(request->GetBytesReceived(&received)) || received != expected)
        Fail("library download: 0x%08lX, %lu bytes of %llu", static_cast<unsigned long>(hr), received, expected);
    // Once the worker has let go, the host's release is the last one and closes the file.
    Sleep(200);
    const double releaseStart = Now();
    request->Release();
    run.releaseSeconds = Now() - releaseStart;
    return run;
}

DownloadRun BareDownload(const std::string& server, const std::string& path, ULONGLONG expected,
                         const BareOptions& options) {
    std::string host;
    INTERNET_PORT port = 0;
    SplitHostPort(server, host, port);
    std::vector<char> block(options.blockSize);
    DownloadRun run;
    const double start = Now();
    HANDLE file = INVALID_HANDLE_VALUE;
    {
        BareChain chain(host, port, "GET", path, options);
        chain.Send();
        if (chain.StatusCode() != 200) Fail("bare download: status %lu", chain.StatusCode());
        file = CreateOutputFile(TempFileName("BAR"), true);
        ULONGLONG total = 0;
        for (DWORD read; (read = chain.Read(block.data(), options.blockSize)) > 0; total += read) {
            DWORD written = 0;
            if (!WriteFile(file, block.data(), read, &written, nullptr) || written != read) Fail("WriteFile failed");
        }
        run.seconds = Now() - start;
        if (total != expected) Fail("bare download: %llu bytes of %llu", total, expected);
    }
    const double releaseStart = Now();
    CloseHandle(file);
    run.releaseSeconds = Now() - releaseStart;
    return run;
}

}  // namespace

int RunDownload(const Options& options) {
    const std::string server = options.Text("server");
    const int rounds = options.Number("rounds", 5);
    // What the variants fetch: the measured file, or first the smaller one that warms up the
    // server, WinINet and the file system (--warm-path, --warm-mib).
    struct Target {
        std::string path;
        ULONGLONG size;
    };
    const Target measured = {options.Text("path"), static_cast<ULONGLONG>(options.Number("mib", 256)) << 20};
    Target target = {options.Text("warm-path", measured.path.c_str()),
                     static_cast<ULONGLONG>(options.Number("warm-mib", options.Number("mib", 256))) << 20};
    const std::string& path = target.path;
    const ULONGLONG& size = target.size;
    if (server.empty() || measured.path.empty()) Fail("download needs --server host:port --path /file");
    InitializeLibrary("");
    PolledWorker worker;
    // The bare loops run on the worker, polled as the library's request is.
    auto polled = [&](BareOptions bare) {
        return [&, bare] {
            DownloadRun run;
            worker.Run([&] { run = BareDownload(server, path, size, bare); });
            return run;
        };
    };

    struct Variant {
        const char* name;
        std::function<DownloadRun()> run;
        std::vector<double> seconds, releaseSeconds, cpuSeconds;
    };
    std::vector<Variant> variants = {
        {"library", [&] { return LibraryDownload(server, path, size); }, {}, {}, {}},
        {"bare sync 4 KiB", polled({false, 4096}), {}, {}, {}},
        {"bare sync 64 KiB", polled({false, 65536}), {}, {}, {}},
        {"bare async 4 KiB", polled({true, 4096}), {}, {}, {}},
    };
    // --only NAME runs one variant once (to trace what it calls), and reports nothing.
    const std::string only = options.Text("only");
    if (!only.empty()) {
        target = measured;
        for (Variant& variant : variants)
            if (only == variant.name) Note("%s: %.3f s", variant.name, variant.run().seconds);
        TerminateLibrary();
        return 0;
    }
    for (Variant& variant : variants) variant.run();  // unmeasured
    target = measured;
    for (int round = 0; round < rounds; ++round) {
        // Interleaved, each round starting one variant further on, so that no variant always
        // follows the same one.
        std::string line = "round " + std::to_string(round + 1) + ":";
        for (size_t i = 0; i < variants.size(); ++i) {
            Variant& variant = variants[(round + i) % variants.size()];
            const double cpuStart = WorkerCpuSeconds();
            const DownloadRun run = variant.run();
            variant.cpuSeconds.push_back(WorkerCpuSeconds() - cpuStart);
            variant.seconds.push_back(run.seconds);
            variant.releaseSeconds.push_back(run.releaseSeconds);
            char text[96];
            std::snprintf(text, sizeof text, " %s %.3f s (processor %.2f s);", variant.name, run.seconds,
                          variant.cpuSeconds.back());
            line += text;
        }
        Note("%s", line.c_str());
    }
    TerminateLibrary();

    const double mib = static_cast<double>(size) / (1 << 20);
    for (const Variant& variant : variants) {
        const Spread time = Summarize(variant.seconds);
        Note("%-18s median %7.3f s (%6.1f MiB/s), release or close %.3f s, processor %.3f s", variant.name, time.median,
             mib / time.median, Summarize(variant.releaseSeconds).median, Summarize(variant.cpuSeconds).median);
    }
    // Throughput ratios, round by round: above 1 is faster than the reference.
    auto ratio = [&](size_t faster, size_t reference) {
        std::vector<double> values;
        for (int round = 0; round < rounds; ++round)
            values.push_back(variants[reference].seconds[round] / variants[faster].seconds[round]);
        return values;
    };
    Report("download.library_vs_bare_sync_4k", ratio(0, 1), "throughput ratio");
    Report("download.library_vs_bare_async_4k", ratio(0, 3), "throughput ratio");
    Report("download.bare_async_4k_vs_bare_sync_4k", ratio(3, 1), "throughput ratio");
    Report("download.bare_sync_64k_vs_bare_sync_4k", ratio(2, 1), "throughput ratio");
    return 0;
}

}  // namespace bench

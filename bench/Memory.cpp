// Memory: the peak working set of a process that downloads (TarnixGetInternetFile) or uploads
// (TarnixCreateOnlineFamilyTree) one file of a given size and does nothing else. Each transfer
// runs in a fresh process of this program, sizes interleaved round by round, so no transfer
// inherits another's peak. Constant memory: the 256 MiB transfer peaks where the 16 MiB one does.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "Bench.h"

namespace bench {

int RunMemoryChild(const Options& options) {
    const std::string kind = options.Text("kind");
    InitializeLibrary(options.Text("service"));
    std::string ticket;
    if (kind == "upload") ticket = SignIn("bench", "bench-pass");
    const Memory before = ReadMemory();
    HRESULT hr = E_FAIL;
    if (kind == "download") {
        IDownloadRequest* request = nullptr;
        if (SUCCEEDED(hr = TARNIX(TarnixGetInternetFile)(options.Text("server").c_str(), options.Text("path").c_str(),
                                                         &request))) {
            hr = WaitDone(request);
            request->Release();
        }
    } else if (kind == "upload") {
        IRequest* request = nullptr;
        if (SUCCEEDED(hr = TARNIX(TarnixCreateOnlineFamilyTree)(ticket.c_str(), options.Text("file").c_str(), "4101",
                                                                "Bench tree", FALSE, "bench", &request))) {
            hr = WaitDone(request);
            request->Release();
        }
    } else {
        Fail("memory-child: --kind download or upload");
    }
    if (FAILED(hr)) Fail("%s: 0x%08lX", kind.c_str(), static_cast<unsigned long>(hr));
    const Memory after = ReadMemory();
    TerminateLibrary();
    std::printf("MEMORY %.2f %.2f %.2f\n", after.peakWorkingSetMiB, before.workingSetMiB, after.peakPrivateMiB);
    return 0;
}

int RunMemory(const Options& options) {
    const std::vector<unsigned> sizes = options.Numbers("sizes", "16,256");
    const int rounds = options.Number("rounds", 3);
    const std::string server = options.Text("server");
    const std::string service = options.Text("service");
    // Where the files of each size are: "/files/%um.bin" on the server, "...\%um.bin" on disk.
    const std::string pathFormat = options.Text("path-format");
    const std::string fileFormat = options.Text("file-format");
    if (sizes.size() != 2 || server.empty() || service.empty() || pathFormat.empty() || fileFormat.empty())
        Fail("memory needs --server, --service, --path-format, --file-format and two --sizes");

    for (const char* kind : {"download", "upload"}) {
        std::vector<double> peaks[2], baselines[2], privates[2], ratio, difference;
        for (int round = 0; round < rounds; ++round) {
            for (size_t i = 0; i < 2; ++i) {
                char path[512], file[512];
                std::snprintf(path, sizeof path, pathFormat.c_str(), sizes[i]);
                std::snprintf(file, sizeof file, fileFormat.c_str(), sizes[i]);
                const std::string output = RunChild(std::string("memory-child --kind ") + kind + " --server " + server +
                                                    " --service " + service + " --path " + path + " --file \"" + file +
                                                    "\"");
                double peak = 0, baseline = 0, privatePeak = 0;
                const size_t at = output.find("MEMORY ");
                if (at == std::string::npos ||
                    std::sscanf(output.c_str() + at, "MEMORY %lf %lf %lf", &peak, &baseline, &privatePeak) != 3)
                    Fail("memory-child said: %s", output.c_str());
                peaks[i].push_back(peak);
                baselines[i].push_back(baseline);
                privates[i].push_back(privatePeak);
            }
            ratio.push_back(peaks[1].back() / peaks[0].back());
            difference.push_back(peaks[1].back() - peaks[0].back());
        }
        for (size_t i = 0; i < 2; ++i)
            Note("%s of %3u MiB: peak working set %.1f MiB (%.1f MiB above the working set before it), peak "
                 "private bytes %.1f MiB",
                 kind, sizes[i], Summarize(peaks[i]).median, Summarize(peaks[i]).median - Summarize(baselines[i]).median,
                 Summarize(privates[i]).median);
        const std::string name = std::string("memory.") + kind + "_peak_" + std::to_string(sizes[1]) + "_vs_" +
                                 std::to_string(sizes[0]);
        Report(name.c_str(), ratio, "peak working set ratio");
        Report((name + "_difference").c_str(), difference, "MiB");
    }
    return 0;
}

}  // namespace bench

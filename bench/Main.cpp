// tarnix_bench: the benchmarks of the library against the bare platform.
//
//   tarnix_bench.exe [--dll PATH] BENCHMARK [--poll-us N] [--option value ...]
//
// BENCHMARK is download, query, search-pool, upload, memory or answers (see each one's source for its
// options); tools/run-bench.sh runs them all against its own nginx and prints their ratios as
// one table. --poll-us is how long the host waits between two polls of a request (100).
//
//   tarnix_bench.exe report NAME UNIT VALUE...
//
// prints the RESULT line of values gathered outside one process (the download's rounds).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Bench.h"

int main(int argc, char** argv) {
    int first = 1;
    const char* dll = "tarnix.dll";
    if (argc > 2 && std::strcmp(argv[1], "--dll") == 0) {
        dll = argv[2];
        first = 3;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: tarnix_bench [--dll PATH] download|query|search-pool|upload|memory [--option value ...]\n");
        return 2;
    }
    const char* benchmark = argv[first];
    if (std::strcmp(benchmark, "report") == 0 && argc - first >= 4) {
        std::vector<double> values;
        for (int i = first + 3; i < argc; ++i) values.push_back(std::strtod(argv[i], nullptr));
        bench::Report(argv[first + 1], values, argv[first + 2]);
        return 0;
    }
    const bench::Options options(argc, argv, first + 1);
    bench::LoadLibraryUnderTest(dll);
    bench::SetPollInterval(options.Number("poll-us", 100));
    if (std::strcmp(benchmark, "download") == 0) return bench::RunDownload(options);
    if (std::strcmp(benchmark, "query") == 0) return bench::RunQuery(options);
    if (std::strcmp(benchmark, "search-pool") == 0) return bench::RunSearchPool(options);
    if (std::strcmp(benchmark, "upload") == 0) return bench::RunUpload(options);
    if (std::strcmp(benchmark, "memory") == 0) return bench::RunMemory(options);
    if (std::strcmp(benchmark, "answers") == 0) return bench::RunAnswers(options);
    if (std::strcmp(benchmark, "memory-child") == 0) return bench::RunMemoryChild(options);
    std::fprintf(stderr, "tarnix_bench: no benchmark %s\n", benchmark);
    return 2;
}

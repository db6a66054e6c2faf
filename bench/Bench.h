// The benchmark host: what its benchmarks share. Like the genealogy application, it loads
// tarnix.dll with LoadLibrary and finds the exports by name; the bare variants it measures the
// library against call WinINet and MSXML directly, with the settings the library uses.
//
// Every benchmark runs its variants in interleaved rounds (A, B, C, A, B, C, ...) so that what
// the shared machine does meanwhile falls on all of them alike, and reports ratios of the
// variants within each round: their median, quartiles, extremes and the number of rounds.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tarnix.h"

namespace bench {

// ---- Command line: "--name value" options ----

class Options {
public:
    Options(int argc, char** argv, int first);
    std::string Text(const char* name, const char* fallback = "") const;
    int Number(const char* name, int fallback) const;
    // A comma-separated list of numbers.
    std::vector<unsigned> Numbers(const char* name, const char* fallback) const;

private:
    std::map<std::string, std::string> m_values;
};

// Ends the program with a message (exit code 1).
[[noreturn]] void Fail(const char* format, ...);

// ---- Time, statistics, output ----

// Seconds on the performance counter.
double Now();

struct Spread {
    double median = 0, lowerQuartile = 0, upperQuartile = 0, minimum = 0, maximum = 0;
    size_t rounds = 0;
};
Spread Summarize(std::vector<double> values);

// One result line: "RESULT <name> median <m> iqr <q1>-<q3> range <min>-<max> rounds <n> <unit>",
// which the bench command gathers into its table.
void Report(const char* name, const std::vector<double>& values, const char* unit);
// A line of context (absolute figures of this run, conditions), shown but not tabulated.
void Note(const char* format, ...);

// ---- The library, loaded as a host loads it ----

void LoadLibraryUnderTest(const std::string& path);
FARPROC LibraryExport(const char* name);
#define TARNIX(name) reinterpret_cast<decltype(&name)>(reinterpret_cast<void*>(::bench::LibraryExport(#name)))

// Sets TARNIX_SERVICE (read by the outermost TARNIXInitialize) and initializes the library.
void InitializeLibrary(const std::string& service);
void TerminateLibrary();

// Polls `request` until it is done or has failed (see SetPollInterval); gives the failure or S_OK.
HRESULT WaitDone(IRequest* request);
// Waits only while the state is below `state`.
HRESULT WaitState(IRequest* request, LONG state);

// How long the host thread waits between two polls, in microseconds (0 yields the processor).
void SetPollInterval(DWORD microseconds);
void PollPause();

// A thread of the host's that runs one piece of work at a time while the calling thread polls
// for its end as it polls a request: the bare variants run under the same conditions as the
// library's requests, with the same delay between the end of the work and the host seeing it.
class PolledWorker {
public:
    PolledWorker();
    ~PolledWorker();
    PolledWorker(const PolledWorker&) = delete;
    PolledWorker& operator=(const PolledWorker&) = delete;
    void Run(const std::function<void()>& work);

private:
    void Loop();
    HANDLE m_go;
    const std::function<void()>* volatile m_work = nullptr;
    volatile bool m_stop = false;
    volatile LONG m_done = 0;
    std::thread m_thread;
};

// Signs in through the library and gives the ticket (fails the program when it cannot).
std::string SignIn(const char* user, const char* password);

// Processor time of this process in seconds (user and kernel), less the calling thread's: what
// the transfer's threads used, without the host thread that polls for their end.
double WorkerCpuSeconds();

// ---- Memory ----

struct Memory {
    double peakWorkingSetMiB = 0, workingSetMiB = 0, peakPrivateMiB = 0;
};
Memory ReadMemory();

// Runs this program again with `arguments` and gives what it printed (the child's stdout).
std::string RunChild(const std::string& arguments);

// ---- Files ----

// A new file name in the temporary folder.
std::string TempFileName(const char* prefix);
// A file created for writing as the library creates its temporary download file (deleted on
// close), or a named file.
HANDLE CreateOutputFile(const std::string& name, bool deleteOnClose);

// ---- Bare WinINet: one chain per exchange, as the library opens it ----

struct BareOptions {
    bool async = false;        // INTERNET_FLAG_ASYNC with a completion callback, as the library
    DWORD blockSize = 4096;    // bytes per InternetReadFile(Ex) / InternetWriteFile
    bool direct = false;       // no proxy lookup, as the library reaches the service TARNIX_SERVICE names
};

// The handles of one exchange: session, connection, request; closed child first.
class BareChain {
public:
    BareChain(const std::string& host, INTERNET_PORT port, const char* verb, const std::string& path,
              const BareOptions& options);
    ~BareChain();
    BareChain(const BareChain&) = delete;
    BareChain& operator=(const BareChain&) = delete;

    void Send(const char* headers = nullptr, DWORD headersLength = 0);
    void BeginSend(const std::string& headers, DWORD contentLength);
    void Write(const void* data, DWORD length);
    void EndSend();
    DWORD StatusCode();
    // The next bytes of the body into `buffer` (at most `length`); 0 at its end.
    DWORD Read(void* buffer, DWORD length);

private:
    // Waits for an asynchronous call that went on in the background; fails on failure.
    void Complete(BOOL done, const char* what);

    BareOptions m_options;
    HINTERNET m_session = nullptr, m_connection = nullptr, m_request = nullptr;
    struct Completion;
    Completion* m_completion = nullptr;
    INTERNET_BUFFERSA m_buffers;
};

// "host:port" split; the port is required.
void SplitHostPort(const std::string& address, std::string& host, INTERNET_PORT& port);

// ---- Benchmarks ----

int RunDownload(const Options& options);
int RunQuery(const Options& options);
int RunSearchPool(const Options& options);
int RunUpload(const Options& options);
int RunMemory(const Options& options);
int RunAnswers(const Options& options);
// One transfer in a process of its own, for RunMemory.
int RunMemoryChild(const Options& options);

}  // namespace bench

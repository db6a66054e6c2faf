#include "Bench.h"

#include <psapi.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace bench {

// ---- Command line ----

Options::Options(int argc, char** argv, int first) {
    for (int i = first; i < argc; i += 2) {
        if (std::strncmp(argv[i], "--", 2) != 0 || i + 1 >= argc) Fail("unexpected argument %s", argv[i]);
        m_values[argv[i] + 2] = argv[i + 1];
    }
}

std::string Options::Text(const char* name, const char* fallback) const {
    auto found = m_values.find(name);
    return found == m_values.end() ? fallback : found->second;
}

int Options::Number(const char* name, int fallback) const {
    auto found = m_values.find(name);
    return found == m_values.end() ? fallback : std::atoi(found->second.c_str());
}

std::vector<unsigned> Options::Numbers(const char* name, const char* fallback) const {
    std::vector<unsigned> numbers;
    const std::string text = Text(name, fallback);
    for (size_t at = 0; at < text.size();) {
        size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        numbers.push_back(static_cast<unsigned>(std::strtoul(text.substr(at, comma - at).c_str(), nullptr, 10)));
        at = comma + 1;
    }
    return numbers;
}

void Fail(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::fprintf(stderr, "tarnix_bench: ");
    std::vfprintf(stderr, format, arguments);
    std::fprintf(stderr, "\n");
    va_end(arguments);
    std::fflush(stdout);
    ExitProcess(1);
}

// ---- Time, statistics, output ----

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) / frequency;
}

namespace {

// The value at fraction `at` (0 to 1) of sorted values, interpolated between neighbours.
double Quantile(const std::vector<double>& sorted, double at) {
    if (sorted.empty()) return 0;
    const double position = at * static_cast<double>(sorted.size() - 1);
    const size_t below = static_cast<size_t>(position);
    if (below + 1 >= sorted.size()) return sorted.back();
    const double weight = position - static_cast<double>(below);
    return sorted[below] * (1 - weight) + sorted[below + 1] * weight;
}

}  // namespace

Spread Summarize(std::vector<double> values) {
    Spread spread;
    if (values.empty()) return spread;
    std::sort(values.begin(), values.end());
    spread.median = Quantile(values, 0.5);
    spread.lowerQuartile = Quantile(values, 0.25);
    spread.upperQuartile = Quantile(values, 0.75);
    spread.minimum = values.front();
    spread.maximum = values.back();
    spread.rounds = values.size();
    return spread;
}

void Report(const char* name, const std::vector<double>& values, const char* unit) {
    const Spread s = Summarize(values);
    std::printf("RESULT %s median %.3f iqr %.3f-%.3f range %.3f-%.3f rounds %zu %s\n", name, s.median,
                s.lowerQuartile, s.upperQuartile, s.minimum, s.maximum, s.rounds, unit);
    std::fflush(stdout);
}

void Note(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::printf("  ");
    std::vprintf(format, arguments);
    std::printf("\n");
    va_end(arguments);
    std::fflush(stdout);
}

// ---- The library ----

namespace {
HMODULE g_library = nullptr;
}

void LoadLibraryUnderTest(const std::string& path) {
    g_library = LoadLibraryA(path.c_str());
    if (!g_library) Fail("cannot load %s (error %lu)", path.c_str(), GetLastError());
}

FARPROC LibraryExport(const char* name) {
    FARPROC proc = g_library ? GetProcAddress(g_library, name) : nullptr;
    if (!proc) Fail("tarnix.dll has no export %s", name);
    return proc;
}

void InitializeLibrary(const std::string& service) {
    SetEnvironmentVariableA("TARNIX_SERVICE", service.empty() ? nullptr : service.c_str());
    if (FAILED(TARNIX(TARNIXInitialize)(0))) Fail("TARNIXInitialize failed");
}

void TerminateLibrary() { TARNIX(TARNIXTerminate)(); }

// 100 microseconds: short beside the millisecond a sign-in takes, long enough to leave the
// processor to the threads doing the work. Sleep cannot wait less than a millisecond, so the
// wait goes to the system's own delay, in units of 100 ns.
DWORD g_pollUs = 100;
using DelayFunction = LONG(NTAPI*)(BOOLEAN alertable, const LARGE_INTEGER* interval);

void SetPollInterval(DWORD microseconds) { g_pollUs = microseconds; }

void PollPause() {
    static const DelayFunction delay =
        reinterpret_cast<DelayFunction>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDelayExecution")));
    if (g_pollUs == 0 || !delay) {
        Sleep(g_pollUs / 1000);
        return;
    }
    LARGE_INTEGER interval;
    interval.QuadPart = -static_cast<LONGLONG>(g_pollUs) * 10;  // relative
    delay(FALSE, &interval);
}

PolledWorker::PolledWorker() : m_go(CreateEventA(nullptr, FALSE, FALSE, nullptr)), m_thread([this] { Loop(); }) {}

PolledWorker::~PolledWorker() {
    m_stop = true;
    SetEvent(m_go);
    m_thread.join();
    CloseHandle(m_go);
}

void PolledWorker::Run(const std::function<void()>& work) {
    m_work = &work;
    m_done = 0;
    SetEvent(m_go);
    while (!m_done) PollPause();
}

void PolledWorker::Loop() {
    CoInitialize(nullptr);
    for (;;) {
        WaitForSingleObject(m_go, INFINITE);
        if (m_stop) break;
        (*m_work)();
        m_done = 1;
    }
    CoUninitialize();
}

HRESULT WaitState(IRequest* request, LONG wanted) {
    for (;;) {
        LONG state = REQUEST_STATE_PENDING;
        const HRESULT hr = request->GetStatus(&state);
        if (FAILED(hr) || state >= wanted) return hr;
        PollPause();
    }
}

HRESULT WaitDone(IRequest* request) { return WaitState(request, REQUEST_STATE_DONE); }

std::string SignIn(const char* user, const char* password) {
    IQueryRequest* request = nullptr;
    if (FAILED(TARNIX(TarnixLogin)(user, password, &request))) Fail("TarnixLogin failed");
    HRESULT hr = WaitDone(request);
    char ticket[256] = "";
    if (SUCCEEDED(hr)) hr = request->GetValue(0, "att", ticket, sizeof ticket);
    request->Release();
    if (FAILED(hr) || !*ticket) Fail("sign-in failed: 0x%08lX", static_cast<unsigned long>(hr));
    return ticket;
}

namespace {
double Seconds(const FILETIME& time) {
    return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}
}  // namespace

double WorkerCpuSeconds() {
    FILETIME created, exited, kernel, user, threadKernel, threadUser;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user) ||
        !GetThreadTimes(GetCurrentThread(), &created, &exited, &threadKernel, &threadUser))
        Fail("no processor times (%lu)", GetLastError());
    return Seconds(kernel) + Seconds(user) - Seconds(threadKernel) - Seconds(threadUser);
}

// ---- Memory ----

Memory ReadMemory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        Fail("memory counters unavailable (%lu)", GetLastError());
    const double mib = 1024.0 * 1024.0;
    Memory memory;
    memory.peakWorkingSetMiB = counters.PeakWorkingSetSize / mib;
    memory.workingSetMiB = counters.WorkingSetSize / mib;
    memory.peakPrivateMiB = counters.PeakPagefileUsage / mib;
    return memory;
}

std::string RunChild(const std::string& arguments) {
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    std::string commandLine = std::string("\"") + program + "\" " + arguments;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) Fail("CreatePipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        Fail("cannot start %s (%lu)", commandLine.c_str(), GetLastError());
    CloseHandle(writeEnd);
    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &read, nullptr) && read > 0) output.append(buffer, read);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (exitCode != 0) Fail("%s ended with %lu:\n%s", commandLine.c_str(), exitCode, output.c_str());
    return output;
}

// ---- Files ----

std::string TempFileName(const char* prefix) {
    char directory[MAX_PATH + 1];
    char name[MAX_PATH + 1];
    if (!GetTempPathA(MAX_PATH, directory) || !GetTempFileNameA(directory, prefix, 0, name))
        Fail("no temporary file name (%lu)", GetLastError());
    return name;
}

HANDLE CreateOutputFile(const std::string& name, bool deleteOnClose) {
    const DWORD flags = deleteOnClose ? FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE : FILE_ATTRIBUTE_NORMAL;
    HANDLE file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) Fail("cannot create %s (%lu)", name.c_str(), GetLastError());
    return file;
}

void SplitHostPort(const std::string& address, std::string& host, INTERNET_PORT& port) {
    const size_t colon = address.rfind(':');
    if (colon == std::string::npos) Fail("%s: host:port expected", address.c_str());
    host = address.substr(0, colon);
    port = static_cast<INTERNET_PORT>(std::atoi(address.c_str() + colon + 1));
}

}  // namespace bench

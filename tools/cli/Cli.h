// The tarnix command-line host: what its commands share. It drives tarnix.dll as a genealogy
// application does: LoadLibrary, exports looked up by name, requests polled until they end.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tarnix.h"

namespace cli {

// Exit codes: 0 done, 1 the library or the service reported a failure, 2 bad usage.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

// A failure to report and leave with: the message is printed, then the exit code returned.
struct Failure {
    int exitCode;
    std::string message;
};

// The only values that may come from the environment: what a sign-in needs across commands.
// (TARNIX_SERVICE, a local service's host:port, is read by the library itself.)
constexpr char kTicketVariable[] = "TARNIX_TICKET";
constexpr char kPasswordVariable[] = "TARNIX_PASSWORD";
constexpr char kDllVariable[] = "TARNIX_DLL";

// The environment variable's value, or "" when it is unset.
std::string Environment(const char* variable);

// Command-line arguments: "--name value" options, "--flag" switches, and the rest in order.
// Options come from the command line alone.
class Args {
public:
    Args(std::vector<std::string> words, std::vector<std::string> switches);
    std::string Option(const char* name, const char* fallback = "") const;
    int Number(const char* name, int fallback) const;
    bool Switch(const char* name) const;
    const std::vector<std::string>& Positional() const { return m_positional; }
    std::string At(size_t index, const char* what) const;  // a required positional argument
    std::string Ticket() const;                              // --ticket or TARNIX_TICKET

private:
    std::map<std::string, std::string> m_options;
    std::vector<std::string> m_switches;
    std::vector<std::string> m_positional;
};

// The loaded library and its exports, looked up by name.
class Library {
public:
    static Library& Get();
    void Load(const std::string& path);
    template <class Fn>
    Fn Export(const char* name) const {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(Find(name)));
    }

private:
    FARPROC Find(const char* name) const;
    HMODULE m_module = nullptr;
};
#define TARNIX(name) ::cli::Library::Get().Export<decltype(&name)>(#name)

// The HRESULT and what it means, in words: a WinINet error, an HTTP status, a COM or Win32 code.
std::string Describe(HRESULT hr);
// Raises a Failure for a failed HRESULT, naming what was being done.
void Check(HRESULT hr, const std::string& doing);

// Polls a request as a host's timer would (every 50 ms) until it fails or is done; `onTick`
// runs at every poll (progress). Raises a Failure for a failed request.
void Wait(IRequest* request, const std::string& doing, const std::function<void()>& onTick = nullptr);

// One value of a query request's row, or "" when it holds none.
std::string Value(IQueryRequest* request, ULONG row, const char* name);
// Prints every row with the given names.
void PrintRows(IQueryRequest* request, const std::vector<const char*>& names);

// A progress line drawn in place on the console: bytes, rate, time left, percentage.
class ProgressLine {
public:
    explicit ProgressLine(std::string label);
    void Update(ULONG received, ULONG total);
    void Finish(ULONG total);

private:
    std::string m_label;
    ULONGLONG m_start;
    ULONGLONG m_lastDraw = 0;
    ULONG m_lastReceived = 0;
};

// The library initialized for the scope of a command: declared before the requests, so that
// they are released before the last TARNIXTerminate.
struct Initialized {
    Initialized() { Check(TARNIX(TARNIXInitialize)(0), "initializing"); }
    ~Initialized() { TARNIX(TARNIXTerminate)(); }
    Initialized(const Initialized&) = delete;
    Initialized& operator=(const Initialized&) = delete;
};

// Releases a request (or any COM-style object) on the way out. Its address, taken to receive an
// object, first releases what it held.
template <class T>
struct Held {
    T* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { Reset(); }
    void Reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T** operator&() {
        Reset();
        return &p;
    }
    T* operator->() const { return p; }
};

struct Command {
    const char* name;
    const char* usage;    // arguments, after the name
    const char* summary;  // one line
    const char* details;  // the rest of --help
    std::vector<std::string> switches;
    std::function<int(const Args&)> run;
};

// The commands of each group, in the order --help lists them.
std::vector<Command> AccountCommands();
std::vector<Command> TransferCommands();
std::vector<Command> SearchCommands();
std::vector<Command> DialogCommands();

// The search fields' options, for --help.
#define CLI_SEARCH_FIELDS                                                                         \
    "  --surname S --given G --birth-place P --birth-year Y --death-place P --death-year Y\n"   \
    "  --father F --mother M --spouse S --cobrand C (each optional; empty ones are left out)"

}  // namespace cli

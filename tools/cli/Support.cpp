// What the commands share: arguments, the loaded library, waiting on requests, describing
// failures in words, and the progress line.
#include <windows.h>
#include <wininet.h>

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "Cli.h"

namespace cli {

// ---- Arguments ----

Args::Args(std::vector<std::string> words, std::vector<std::string> switches) : m_switches() {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < 3 || word.compare(0, 2, "--") != 0) {
            m_positional.push_back(word);
            continue;
        }
        const std::string name = word.substr(2);
        if (std::find(switches.begin(), switches.end(), name) != switches.end()) {
            m_switches.push_back(name);
        } else if (i + 1 < words.size()) {
            m_options[name] = words[++i];
        } else {
            throw Failure{kUsage, "--" + name + " needs a value"};
        }
    }
}

std::string Environment(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? value : "";
}

std::string Args::Option(const char* name, const char* fallback) const {
    auto found = m_options.find(name);
    return found != m_options.end() ? found->second : fallback;
}

int Args::Number(const char* name, int fallback) const {
    const std::string text = Option(name);
    if (text.empty()) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0') throw Failure{kUsage, "--" + std::string(name) + " takes a number"};
    return static_cast<int>(value);
}

bool Args::Switch(const char* name) const {
    return std::find(m_switches.begin(), m_switches.end(), name) != m_switches.end();
}

std::string Args::At(size_t index, const char* what) const {
    if (index >= m_positional.size()) throw Failure{kUsage, std::string("missing ") + what};
    return m_positional[index];
}

std::string Args::Ticket() const {
    std::string ticket = Option("ticket", Environment(kTicketVariable).c_str());
    if (ticket.empty()) throw Failure{kUsage, "a sign-in ticket is needed: --ticket T or TARNIX_TICKET (tarnix login)"};
    return ticket;
}

// ---- The library ----

Library& Library::Get() {
    static Library library;
    return library;
}

void Library::Load(const std::string& path) {
    m_module = LoadLibraryA(path.c_str());
    if (!m_module) throw Failure{kFailed, "cannot load " + path + ": " + Describe(HRESULT_FROM_WIN32(GetLastError()))};
}

FARPROC Library::Find(const char* name) const {
    FARPROC proc = m_module ? GetProcAddress(m_module, name) : nullptr;
    if (!proc) throw Failure{kFailed, std::string("tarnix.dll has no export ") + name};
    return proc;
}

// ---- Failures in words ----

namespace {

const struct {
    DWORD code;
    const char* words;
} kWinInetErrors[] = {
    {ERROR_INTERNET_TIMEOUT, "the request timed out"},
    {ERROR_INTERNET_INTERNAL_ERROR, "internal error of WinINet"},
    {ERROR_INTERNET_INVALID_URL, "the address is not valid"},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "the address has an unknown scheme"},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "the server name could not be resolved"},
    {ERROR_INTERNET_OPERATION_CANCELLED, "the operation was cancelled"},
    {ERROR_INTERNET_CANNOT_CONNECT, "could not connect to the server"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "the connection was aborted (or the body was cut short)"},
    {ERROR_INTERNET_CONNECTION_RESET, "the connection was reset"},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, "the server's certificate names another host"},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, "the server's certificate has expired"},
    {ERROR_INTERNET_INVALID_CA, "the server's certificate is not trusted"},
    {ERROR_HTTP_HEADER_NOT_FOUND, "an HTTP header was missing"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "the server's answer is not valid HTTP"},
    {ERROR_HTTP_REDIRECT_FAILED, "a redirection failed"},
};

const struct {
    HRESULT code;
    const char* words;
} kComErrors[] = {
    {E_FAIL, "failed (an HTTP status other than 200 from the service, a full queue, or another failure)"},
    {E_PENDING, "the request has not finished"},
    {E_INVALIDARG, "invalid argument, or an answer that could not be read"},
    {E_POINTER, "a required pointer was null"},
    {E_ABORT, "given up: the library stopped"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_NOTIMPL, "not implemented by the service"},
};

const char* HttpReason(int status) {
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 410: return "Gone";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    default: return status >= 500 ? "server error" : status >= 400 ? "client error" : "not a success";
    }
}

}  // namespace

std::string Describe(HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string words;
    const DWORD value = static_cast<DWORD>(hr);
    if ((value & 0xFFFF0000u) == 0x80190000u) {
        const int status = static_cast<int>(value & 0xFFFF);
        words = "HTTP status " + std::to_string(status) + " " + HttpReason(status);
    }
    for (const auto& e : kComErrors)
        if (e.code == hr) words = e.words;
    if (words.empty() && HRESULT_FACILITY(hr) == FACILITY_WIN32) {
        const DWORD error = HRESULT_CODE(hr);
        for (const auto& e : kWinInetErrors)
            if (e.code == error) words = std::string("WinINet error ") + std::to_string(error) + ": " + e.words;
        if (words.empty()) {
            char text[512] = {};
            if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                               sizeof text, nullptr)) {
                words = text;
                while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.'))
                    words.pop_back();
            }
        }
    }
    return words.empty() ? std::string(code) : std::string(code) + " (" + words + ")";
}

void Check(HRESULT hr, const std::string& doing) {
    if (FAILED(hr)) throw Failure{kFailed, doing + " failed: " + Describe(hr)};
}

// ---- Requests ----

void Wait(IRequest* request, const std::string& doing, const std::function<void()>& onTick) {
    for (;;) {
        LONG state = REQUEST_STATE_PENDING;
        const HRESULT hr = request->GetStatus(&state);
        Check(hr, doing);
        if (onTick) onTick();
        if (state == REQUEST_STATE_DONE) return;
        Sleep(50);
    }
}

std::string Value(IQueryRequest* request, ULONG row, const char* name) {
    ULONG length = 0;
    if (FAILED(request->GetValueLength(row, name, &length))) return std::string();
    std::string value(length + 1, '\0');
    if (FAILED(request->GetValue(row, name, &value[0], length + 1))) return std::string();
    value.resize(length);
    return value;
}

void PrintRows(IQueryRequest* request, const std::vector<const char*>& names) {
    const ULONG rows = request->GetRowCount();
    for (ULONG row = 0; row < rows; ++row) {
        std::printf("%lu:", static_cast<unsigned long>(row));
        for (const char* name : names) std::printf(" %s=\"%s\"", name, Value(request, row, name).c_str());
        std::printf("\n");
    }
    std::printf("(%lu row%s)\n", static_cast<unsigned long>(rows), rows == 1 ? "" : "s");
}

// ---- Progress ----

namespace {

std::string Size(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 3) bytes /= 1024, ++unit;
    char text[32];
    std::snprintf(text, sizeof text, unit ? "%.1f %s" : "%.0f %s", bytes, units[unit]);
    return text;
}

}  // namespace

ProgressLine::ProgressLine(std::string label) : m_label(std::move(label)), m_start(GetTickCount64()) {}

void ProgressLine::Update(ULONG received, ULONG total) {
    // In place on a console; a line a second when the output is kept (a log, a pipe).
    static const bool console = _isatty(_fileno(stderr)) != 0;
    const ULONGLONG now = GetTickCount64();
    if (now - m_lastDraw < (console ? 200u : 1000u) && m_lastDraw != 0) return;
    m_lastDraw = now;
    m_lastReceived = received;
    const double seconds = static_cast<double>(now - m_start) / 1000.0;
    const double rate = seconds > 0 ? received / seconds : 0;
    std::string line = m_label + " " + Size(received);
    if (total > 0) {
        const int percent = static_cast<int>(100.0 * received / total);
        const int filled = percent / 5;
        line += " of " + Size(total) + " [" + std::string(filled, '#') + std::string(20 - filled, '.') + "] " +
                std::to_string(percent) + "%";
    }
    line += "  " + Size(rate) + "/s";
    if (total > 0 && rate > 0) {
        const unsigned left = static_cast<unsigned>((total - received) / rate);
        char eta[32];
        std::snprintf(eta, sizeof eta, "  %u:%02u left", left / 60, left % 60);
        line += eta;
    } else if (total > 0) {
        line += "  time left unknown";
    }
    std::fprintf(stderr, console ? "\r%-78s" : "%s\n", line.c_str());
    std::fflush(stderr);
}

void ProgressLine::Finish(ULONG total) {
    if (m_lastReceived != total || m_lastDraw == 0) {
        m_lastDraw = 0;
        Update(total, total);
    }
    if (_isatty(_fileno(stderr))) std::fprintf(stderr, "\n");
}

}  // namespace cli

#include "frame/Library.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "support/Result.h"
#include "support/Sync.h"
#include "tarnix.h"
#include "transport/Exchange.h"

#ifndef TARNIX_SERVICE_HOST
#define TARNIX_SERVICE_HOST "trees.tarnix.example"
#endif

namespace tarnix {

namespace {

HINSTANCE g_module = nullptr;

// Serializes TARNIXInitialize and TARNIXTerminate; made by static initialization.
CriticalSection g_globalLock;
LONG g_initializationCount = 0;

CThreadPool* g_generalPool = nullptr;

// Read by the outermost TARNIXInitialize, under the global lock; empty when not set.
std::string g_serviceOverride;

// "host" or "host:port" with a port of 1 to 65535; anything else is ignored, so that a mistyped
// setting cannot send the user's password to an unexpected place.
std::string ReadServiceOverride() {
    char value[256];
    const DWORD length = GetEnvironmentVariableA(kServiceOverrideVariable, value, sizeof value);
    if (length == 0 || length >= sizeof value) return std::string();
    std::string text(value, length);
    const size_t colon = text.find(':');
    const std::string host = text.substr(0, colon);
    if (host.empty() || host.find_first_of(" /?#@") != std::string::npos) return std::string();
    if (colon != std::string::npos) {
        const std::string port = text.substr(colon + 1);
        if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return std::string();
        const unsigned long number = std::strtoul(port.c_str(), nullptr, 10);
        if (number == 0 || number > 65535) return std::string();
    }
    return text;
}

std::vector<TerminateAction> g_terminateActions;  // guarded by g_globalLock

void RunTerminateActions() noexcept {
    for (TerminateAction action : g_terminateActions) action();
}

// The search pool's holder gives its reference up at unload if the host never made the last
// TARNIXTerminate.
struct SearchPoolHolder {
    CThreadPool* pool = nullptr;
    void Reset(CThreadPool* next) noexcept {
        CThreadPool* old = pool;
        pool = next;
        if (old) old->Release();
    }
    ~SearchPoolHolder() { Reset(nullptr); }
} g_searchPool;

CThreadPool* StartPool(ULONG threads) {
    CThreadPool* pool = new CThreadPool();
    pool->AddRef();
    try {
        pool->Start(threads, kPoolQueueLimit);
    } catch (...) {
        pool->Release();
        throw;
    }
    return pool;
}

void QueueOn(CThreadPool* pool, IRequestJob* job) {
    // Requests may only start between TARNIXInitialize and the last TARNIXTerminate.
    ThrowHrIf(pool == nullptr, E_FAIL);
    pool->QueueJob(job);
}

}  // namespace

HINSTANCE ModuleHandle() noexcept { return g_module ? g_module : GetModuleHandleA(nullptr); }
void SetModuleHandle(HINSTANCE module) noexcept { g_module = module; }

const char* ServiceHostName() noexcept { return TARNIX_SERVICE_HOST; }

std::string ServiceHost() {
    // Requests may only start while the library is initialized, so the override no longer
    // changes under them.
    return g_serviceOverride.empty() ? std::string(TARNIX_SERVICE_HOST) : g_serviceOverride;
}

void QueueOnGeneralPool(IRequestJob* job) { QueueOn(g_generalPool, job); }
void QueueOnSearchPool(IRequestJob* job) { QueueOn(g_searchPool.pool, job); }

LONG InitializationCount() noexcept { return g_initializationCount; }
bool GeneralPoolRunning() noexcept { return g_generalPool != nullptr; }
bool SearchPoolRunning() noexcept { return g_searchPool.pool != nullptr; }

void AtLastTerminate(TerminateAction action) {
    Lock lock(g_globalLock);
    if (std::find(g_terminateActions.begin(), g_terminateActions.end(), action) == g_terminateActions.end())
        g_terminateActions.push_back(action);
}

}  // namespace tarnix

using namespace tarnix;

extern "C" HRESULT TARNIX_STDCALL TARNIXInitialize(DWORD /*reserved*/) {
    Lock lock(g_globalLock);
    return GuardHr([] {
        // The count takes its new value even when a pool fails to start, so every call is
        // undone by exactly one TARNIXTerminate.
        if (g_initializationCount++ == 0) {
            g_serviceOverride = ReadServiceOverride();
            SetDirectHost(g_serviceOverride);
            g_generalPool = StartPool(kGeneralPoolThreads);
            g_searchPool.Reset(StartPool(kSearchPoolThreads));
        }
        return S_OK;
    });
}

extern "C" void TARNIX_STDCALL TARNIXTerminate(void) {
    Lock lock(g_globalLock);
    // An unmatched call leaves the count at 0, so the next TARNIXInitialize starts the pools.
    if (g_initializationCount == 0) return;
    if (--g_initializationCount == 0) {
        g_searchPool.Reset(nullptr);
        if (CThreadPool* general = g_generalPool) {
            g_generalPool = nullptr;
            general->Release();
        }
        RunTerminateActions();
    }
}

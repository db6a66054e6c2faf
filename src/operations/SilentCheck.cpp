// The silent update check: TarnixUpdateVelmoraFamilyTreeSilentCheck, the timer procedure that
// watches its version check, and the update flag in the registry.
//
// The timer procedure lives in this module and runs from the host's message loop, so no timer of
// ours may outlive the library's use: a new check kills the timer of the one before, and the last
// TARNIXTerminate kills the running check's timer (the platform lets any thread of the process
// kill it). While the library is initialized its pools keep the module loaded.
#include "operations/SilentCheck.h"

#include <cstdio>
#include <utility>

#include "frame/Library.h"
#include "operations/VersionText.h"
#include "support/Result.h"
#include "support/Sync.h"
#include "support/Text.h"

namespace tarnix {

namespace {

constexpr REGSAM kFlagKeyAccess = KEY_READ | KEY_WRITE;  // 0x2001F

struct SilentCheckState {
    CriticalSection lock;
    SilentCheckRecord record;  // of the running check; no request once it has ended
    HWND window = nullptr;     // of the running check; null once it has ended
    ULONG ticks = 0;           // the running check's own count
};
SilentCheckState g_check;

// Under the lock: the running check's timer goes, and its request with it, so that a worker
// still waiting for the answer gives up.
void EndCheck() noexcept {
    if (g_check.window) KillTimer(g_check.window, kSilentCheckTimerId);
    g_check.window = nullptr;
    g_check.record.request.reset();
}

// HKEY_CURRENT_USER\software\<company>\<product>\VFTUpdates "UpdateAvailable"; a failure at any
// step writes nothing and is not reported.
void WriteUpdateFlag(const std::string& companyKey, const std::string& productKey, DWORD value) noexcept {
    auto create = [](HKEY parent, const char* name, UniqueRegKey& key) {
        return RegCreateKeyExA(parent, name, 0, nullptr, 0, kFlagKeyAccess, nullptr, key.put(), nullptr) ==
               ERROR_SUCCESS;
    };
    UniqueRegKey software, company, product, updates;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, kFlagKeyAccess, software.put()) != ERROR_SUCCESS) return;
    if (!create(software.get(), companyKey.c_str(), company) || !create(company.get(), productKey.c_str(), product) ||
        !create(product.get(), "VFTUpdates", updates))
        return;
    RegSetValueExA(updates.get(), "UpdateAvailable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                   sizeof value);
}

// A value that cannot be read (missing, or too long for its field) counts as empty.
std::string ServiceVersion(IQueryRequest* request, const char* name) {
    char buffer[kVersionFieldSize];
    if (FAILED(request->GetValue(0, name, buffer, sizeof buffer))) return std::string();
    return buffer;
}

void Tick(HWND window) {
    SilentCheckRecord answered;
    {
        Lock lock(g_check.lock);
        // The running check is the library's own record: the window's user data may have been
        // changed by the host since. Any other timer of ours is a leftover and ends here.
        if (window != g_check.window || !g_check.record.request) {
            KillTimer(window, kSilentCheckTimerId);
            return;
        }
        if (++g_check.ticks >= kSilentCheckTickLimit) return EndCheck();
        LONG state = REQUEST_STATE_PENDING;
        if (FAILED(g_check.record.request->GetStatus(&state))) return EndCheck();
        if (state != REQUEST_STATE_DONE) return;
        answered = g_check.record;
        EndCheck();
    }
    IQueryRequest* request = answered.request.get();
    const bool newer = IsNewerVersion(answered.exeVersion, ServiceVersion(request, "EXE")) ||
                       IsNewerVersion(answered.webctlVersion, ServiceVersion(request, "WEBCTL")) ||
                       IsNewerVersion(answered.tarnixVersion, ServiceVersion(request, "TARNIX"));
    WriteUpdateFlag(answered.companyKey, answered.productKey, newer ? 1 : 0);
}

void CALLBACK SilentCheckTimerProc(HWND window, UINT, UINT_PTR, DWORD) noexcept {
    try {
        Tick(window);
    } catch (...) {
        // Nothing may reach the host's message loop: a check that cannot go on ends.
        Lock lock(g_check.lock);
        if (window == g_check.window) EndCheck();
        KillTimer(window, kSilentCheckTimerId);
    }
}

// The check cannot finish without the pools, and a timer left set could outlive the library.
void EndAtTerminate() noexcept {
    Lock lock(g_check.lock);
    EndCheck();
}

UINT StartSilentCheck(HWND window, const char* companyKey, const char* productKey, const char* exeVersion,
                      const char* webctlVersion, const char* tarnixVersion, const char* cobrand) {
    // Before the check's lock: the terminate takes the two locks the other way round.
    AtLastTerminate(&EndAtTerminate);
    Lock lock(g_check.lock);
    EndCheck();

    // Without both names the flag would land under another key, where the host never looks.
    if (!companyKey || !*companyKey || !productKey || !*productKey) ThrowHr(E_INVALIDARG);
    IQueryRequest* started = nullptr;
    ThrowIfFailed(TarnixCheckVelmoraFamilyTreeVersion(exeVersion, webctlVersion, tarnixVersion, cobrand, &started));
    ComPtr<IQueryRequest> request = ComPtr<IQueryRequest>::Attach(started);
    g_check.record = SilentCheckRecord{TextOrEmpty(companyKey),    TextOrEmpty(productKey),
                                       TextOrEmpty(exeVersion),    TextOrEmpty(webctlVersion),
                                       TextOrEmpty(tarnixVersion), std::move(request)};
    const LONG_PTR hostData = SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&g_check.record));
    const UINT_PTR timer = SetTimer(window, kSilentCheckTimerId, SilentCheckPeriodMs(), &SilentCheckTimerProc);
    if (timer == 0) {
        // No check runs: the host keeps its user data.
        SetWindowLongPtrA(window, GWLP_USERDATA, hostData);
        g_check.record.request.reset();
        return 0;
    }
    g_check.window = window;
    g_check.ticks = 0;
    return static_cast<UINT>(timer);
}

void ShowStartFailure(HWND window, HRESULT failure) noexcept {
    char text[64];
    std::snprintf(text, sizeof text, "An error has occured. The error code is %08X", static_cast<unsigned>(failure));
    MessageBoxA(window, text, "Version Check", MB_OK | MB_ICONSTOP);
}

}  // namespace

UINT& SilentCheckPeriodMs() noexcept {
    static UINT period = 5000;
    return period;
}

bool SilentCheckRunning(HWND window) noexcept {
    Lock lock(g_check.lock);
    return window && g_check.window == window;
}

}  // namespace tarnix

using namespace tarnix;

extern "C" UINT TARNIX_CDECL TarnixUpdateVelmoraFamilyTreeSilentCheck(HWND window, const char* companyKey,
                                                                      const char* productKey, const char* exeVersion,
                                                                      const char* webctlVersion,
                                                                      const char* tarnixVersion, const char* cobrand) {
    // Without a window nothing could run the timer: no check at all.
    if (!window || !IsWindow(window)) return 0;
    HRESULT failure = E_FAIL;
    try {
        return StartSilentCheck(window, companyKey, productKey, exeVersion, webctlVersion, tarnixVersion, cobrand);
    } catch (...) {
        failure = CaughtToHResult();
    }
    // Outside the check's lock: the message box runs a message loop, and timers with it.
    ShowStartFailure(window, failure);
    return 0;
}

// The silent update check: a version check watched by a timer on a window of the host, which
// records in the registry whether the service has newer versions.
#pragma once

#include <windows.h>

#include <string>

#include "support/Handles.h"
#include "tarnix.h"

namespace tarnix {

// What the running check compares once the service has answered. The library keeps one; its
// address goes into the window's GWLP_USERDATA, but the timer reads the library's own copy.
struct SilentCheckRecord {
    std::string companyKey;
    std::string productKey;
    std::string exeVersion;
    std::string webctlVersion;
    std::string tarnixVersion;
    ComPtr<IQueryRequest> request;
};

constexpr UINT_PTR kSilentCheckTimerId = 305;
// A check without an answer by this tick (a minute at the host's period) is given up.
constexpr ULONG kSilentCheckTickLimit = 12;

// The timer's period: 5000 ms. Tests linking the library statically shorten it.
UINT& SilentCheckPeriodMs() noexcept;

// True while the running check watches `window` with its timer.
bool SilentCheckRunning(HWND window) noexcept;

}  // namespace tarnix

// Failures inside the library travel as HResultError exceptions; every boundary (export,
// interface method, thread procedure, request run) turns them back into an HRESULT with
// CaughtToHResult, so no exception ever reaches the host or Windows.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace tarnix {

class HResultError {
public:
    explicit HResultError(HRESULT hr) noexcept : m_hr(hr) {}
    HRESULT Code() const noexcept { return m_hr; }

private:
    HRESULT m_hr;
};

[[noreturn]] inline void ThrowHr(HRESULT hr) { throw HResultError(hr); }

inline void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) ThrowHr(hr);
}

inline void ThrowHrIf(bool condition, HRESULT hr) {
    if (condition) ThrowHr(hr);
}

// The Win32 form of a failing system call: 0x80070000 | (error & 0xFFFF), or 0 for error 0.
inline HRESULT HResultFromWin32Error(DWORD error) noexcept {
    return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

inline HRESULT HResultFromLastError() noexcept { return HResultFromWin32Error(GetLastError()); }

// What a failed platform call raises: its last error, or E_FAIL when it left none, so that a
// failure is never mistaken for success.
inline HRESULT LastErrorFailure() noexcept {
    const HRESULT hr = HResultFromLastError();
    return FAILED(hr) ? hr : E_FAIL;
}

[[noreturn]] inline void ThrowLastError() { ThrowHr(LastErrorFailure()); }

inline void ThrowLastErrorIf(bool failed) {
    if (failed) ThrowLastError();
}

// For calls that report failure by a null/false result.
template <class T>
T ThrowLastErrorIfNull(T value) {
    if (!value) ThrowLastError();
    return value;
}

// Call only from inside a catch block: maps the exception in flight to an HRESULT.
inline HRESULT CaughtToHResult(HRESULT otherwise = E_FAIL) noexcept {
    try {
        throw;
    } catch (const HResultError& e) {
        return e.Code();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return otherwise;
    }
}

// Runs `body` (returning HRESULT) at a boundary and converts whatever it throws.
template <class F>
HRESULT GuardHr(F&& body, HRESULT otherwise = E_FAIL) noexcept {
    try {
        return std::forward<F>(body)();
    } catch (...) {
        return CaughtToHResult(otherwise);
    }
}

}  // namespace tarnix

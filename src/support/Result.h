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

// For calls that report failure by a null/false result. Falls back to `ifNoError` when the
// call left no last error, so a failure is never mistaken for success.
template <class T>
T ThrowLastErrorIfNull(T value, HRESULT ifNoError = E_FAIL) {
    if (!value) {
        HRESULT hr = HResultFromLastError();
        ThrowHr(FAILED(hr) ? hr : ifNoError);
    }
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

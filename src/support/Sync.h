// Win32 synchronization with scope-bound ownership.
#pragma once

#include <windows.h>

namespace tarnix {

class CriticalSection {
public:
    CriticalSection() noexcept { InitializeCriticalSection(&m_cs); }
    ~CriticalSection() { DeleteCriticalSection(&m_cs); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() noexcept { EnterCriticalSection(&m_cs); }
    void Leave() noexcept { LeaveCriticalSection(&m_cs); }

private:
    CRITICAL_SECTION m_cs;
};

// Holds a critical section for its scope; left on every way out, exceptions included.
class Lock {
public:
    explicit Lock(CriticalSection& cs) noexcept : m_cs(cs) { m_cs.Enter(); }
    ~Lock() { m_cs.Leave(); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    CriticalSection& m_cs;
};

// Runs a callable when the scope ends: cleanup that has no owner type of its own.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F f) noexcept : m_f(f) {}
    ~ScopeExit() {
        if (m_armed) m_f();
    }
    void Dismiss() noexcept { m_armed = false; }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F m_f;
    bool m_armed = true;
};

}  // namespace tarnix

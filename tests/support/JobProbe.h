// A stand-in request job for the worker-pool tests: it counts its references and runs, notes on
// which worker and in what order it started, can hold its worker until the test opens its gate,
// and can do extra work (which may throw) once the gate is open.
#pragma once

#include <windows.h>

#include <functional>

#include "requests/RequestJob.h"
#include "support/Handles.h"

namespace tarnix::test {

constexpr DWORD kGenerousWaitMs = 30000;  // only against hanging, never a measure of speed

class JobProbe final : public IRequestJob {
public:
    explicit JobProbe(bool held = false) : m_gate(CreateEventA(nullptr, TRUE, !held, nullptr)) {}
    JobProbe(const JobProbe&) = delete;
    JobProbe& operator=(const JobProbe&) = delete;

    void Open() noexcept { SetEvent(m_gate.get()); }
    bool WaitStarted() const noexcept { return Wait(m_started); }
    bool WaitFinished() const noexcept { return Wait(m_finished); }
    // Ran `runs` times and every reference a pool took came back, none twice: the test's own one
    // is all that is left.
    bool Settled(LONG runs) const noexcept { return m_runs == runs && m_refs == 1 && !m_misused; }

    std::function<void()> action;
    LONG order = 0;    // when it started, counted over every probe of the process
    DWORD thread = 0;  // the worker it ran on

    // No pool asks a job for an interface.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs < 1) m_misused = true;
        return static_cast<ULONG>(refs);
    }
    void STDMETHODCALLTYPE Run() override {
        static volatile LONG s_starts = 0;
        if (m_refs < 2) m_misused = true;  // run with no reference held for it
        thread = GetCurrentThreadId();
        order = InterlockedIncrement(&s_starts);
        InterlockedIncrement(&m_runs);
        SetEvent(m_started.get());
        struct Finish {
            HANDLE event;
            ~Finish() { SetEvent(event); }
        } finish{m_finished.get()};
        WaitForSingleObject(m_gate.get(), INFINITE);
        if (action) action();
    }

private:
    static bool Wait(const UniqueKernelHandle& event) noexcept {
        return WaitForSingleObject(event.get(), kGenerousWaitMs) == WAIT_OBJECT_0;
    }

    UniqueKernelHandle m_gate;
    UniqueKernelHandle m_started{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    UniqueKernelHandle m_finished{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    volatile LONG m_refs = 1;
    volatile LONG m_runs = 0;
    volatile bool m_misused = false;
};

}  // namespace tarnix::test

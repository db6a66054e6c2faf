// Stand-in request jobs for the worker-pool tests. A probe counts its references and its runs,
// reports when and on which thread it started, can hold its worker inside Run until the test
// opens its gate, and can do extra work inside Run (which may throw).
#pragma once

#include <windows.h>
#include <process.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "requests/RequestJob.h"
#include "support/Handles.h"

namespace tarnix::test {

// Bounds every wait so that a broken pool fails its test instead of hanging it. It is far above
// anything a working pool needs and says nothing about speed.
constexpr DWORD kGenerousWaitMs = 30000;

class JobProbe;

// Where the probes of one test report, oldest start first.
class JobLog {
public:
    struct Start {
        JobProbe* probe;
        DWORD thread;
    };

    JobLog() : m_startedEvent(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

    void RecordStart(JobProbe* probe) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_starts.push_back({probe, GetCurrentThreadId()});
        }
        m_changed.notify_all();
        SetEvent(m_startedEvent.get());
    }

    void RecordFinish() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_finishes;
        }
        m_changed.notify_all();
    }

    bool WaitForStarts(size_t count) {
        return WaitFor([&] { return m_starts.size() >= count; });
    }
    bool WaitForFinishes(size_t count) {
        return WaitFor([&] { return m_finishes >= count; });
    }

    std::vector<Start> Starts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_starts;
    }

    // Auto-reset, set at every start: lets a test wait for a start and a thread's end at once.
    HANDLE StartedEvent() const noexcept { return m_startedEvent.get(); }

private:
    template <class Predicate>
    bool WaitFor(Predicate done) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(kGenerousWaitMs), done);
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Start> m_starts;
    size_t m_finishes = 0;
    UniqueKernelHandle m_startedEvent;
};

class JobProbe final : public IRequestJob {
public:
    enum Gate { kOpen, kClosed };

    // The probe begins with one reference, the test's own, which is never given away: every
    // reference a pool takes must come back, and none more.
    explicit JobProbe(JobLog* log, Gate gate = kOpen)
        : m_log(log), m_gate(CreateEventA(nullptr, TRUE, gate == kOpen, nullptr)) {}
    JobProbe(const JobProbe&) = delete;
    JobProbe& operator=(const JobProbe&) = delete;

    // Work done inside Run once the gate is open.
    void SetAction(std::function<void()> action) { m_action = std::move(action); }
    void Open() noexcept { SetEvent(m_gate.get()); }

    LONG Runs() const noexcept { return m_runs; }
    // References held by anyone but the test.
    LONG HeldReferences() const noexcept { return m_refs - 1; }
    // A reference released that nobody had added, or Run called with no reference held for it.
    bool Misused() const noexcept { return m_misused != 0; }
    DWORD RunThread() const noexcept { return m_runThread; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid != IID_IUnknown) return E_NOINTERFACE;
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG refs = InterlockedDecrement(&m_refs);
        if (refs < 1) InterlockedExchange(&m_misused, 1);
        return static_cast<ULONG>(refs);
    }

    void STDMETHODCALLTYPE Run() override {
        if (m_refs < 2) InterlockedExchange(&m_misused, 1);
        m_runThread = GetCurrentThreadId();
        InterlockedIncrement(&m_runs);
        if (m_log) m_log->RecordStart(this);
        struct Finish {
            JobLog* log;
            ~Finish() {
                if (log) log->RecordFinish();
            }
        } finish{m_log};
        WaitForSingleObject(m_gate.get(), INFINITE);
        if (m_action) m_action();
    }

private:
    JobLog* m_log;
    UniqueKernelHandle m_gate;
    std::function<void()> m_action;
    volatile LONG m_refs = 1;
    volatile LONG m_runs = 0;
    volatile LONG m_misused = 0;
    volatile DWORD m_runThread = 0;
};

// A test's probes at fixed addresses, with the log they share.
class ProbeSet {
public:
    JobProbe& Add(JobProbe::Gate gate = JobProbe::kOpen) { return m_probes.emplace_back(&log, gate); }
    // Lets every held worker go: call it before a pool is destroyed, or the stop waits on them.
    void OpenAll() noexcept {
        for (JobProbe& probe : m_probes) probe.Open();
    }
    size_t size() const noexcept { return m_probes.size(); }
    JobProbe& operator[](size_t index) { return m_probes[index]; }
    std::deque<JobProbe>::iterator begin() { return m_probes.begin(); }
    std::deque<JobProbe>::iterator end() { return m_probes.end(); }

    JobLog log;

private:
    std::deque<JobProbe> m_probes;
};

namespace detail {
inline unsigned __stdcall RunBody(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
}
}  // namespace detail

// Runs `body` on a new thread; the handle is signalled when it returns (null if no thread).
inline UniqueKernelHandle RunOnThread(std::function<void()> body) {
    auto* heapBody = new std::function<void()>(std::move(body));
    uintptr_t thread = _beginthreadex(nullptr, 0, &detail::RunBody, heapBody, 0, nullptr);
    if (thread == 0) delete heapBody;
    return UniqueKernelHandle(reinterpret_cast<HANDLE>(thread));
}

// Runs `stop` (the destruction of a pool) on a thread of its own while the workers are held in
// probes, and opens each probe's gate once it has started, until `stop` returns. A pool clears
// its running flag before it waits for its workers, but nothing outside shows that moment: a
// worker let go too early starts the next queued probe, which is let go in turn, and the probes
// still queued when the flag drops are the ones the stop must release unrun. No probe is let go
// before every handle in `holdUntil` is signalled. Returns false if `stop` never returned.
inline bool StopWhileBusy(ProbeSet& probes, std::function<void()> stop,
                          const std::vector<HANDLE>& holdUntil = {}) {
    UniqueKernelHandle announced(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HANDLE announcedEvent = announced.get();
    UniqueKernelHandle thread = RunOnThread([&stop, announcedEvent] {
        SetEvent(announcedEvent);
        stop();
    });
    if (!thread) return false;

    bool returned = false;
    bool held = WaitForSingleObject(announcedEvent, kGenerousWaitMs) == WAIT_OBJECT_0;
    for (HANDLE handle : holdUntil)
        held = held && WaitForSingleObject(handle, kGenerousWaitMs) == WAIT_OBJECT_0;
    for (size_t opened = 0; held;) {
        std::vector<JobLog::Start> starts = probes.log.Starts();
        for (; opened < starts.size(); ++opened) starts[opened].probe->Open();
        HANDLE handles[] = {thread.get(), probes.log.StartedEvent()};
        DWORD woken = WaitForMultipleObjects(2, handles, FALSE, kGenerousWaitMs);
        if (woken == WAIT_OBJECT_0) returned = true;
        if (woken != WAIT_OBJECT_0 + 1) break;
    }
    if (!returned) {
        // Let everything go so that the stop ends (within its own per-worker waits) before the
        // probes it uses go out of scope.
        probes.OpenAll();
        WaitForSingleObject(thread.get(), INFINITE);
    }
    return returned;
}

}  // namespace tarnix::test

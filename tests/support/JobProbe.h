// Stand-in request jobs for the worker-pool tests. A probe counts its references and runs, logs
// when and on which thread it started, can hold its worker in Run until the test opens its gate,
// and can do extra work inside Run (which may throw).
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

// Bounds every wait so that a broken pool fails its test instead of hanging it; it says nothing
// about speed.
constexpr DWORD kGenerousWaitMs = 30000;

class JobProbe;

// Where the probes of one test report, oldest start first.
class JobLog {
public:
    struct Start {
        JobProbe* probe;
        DWORD thread;
    };

    void Record(JobProbe* started) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (started)
                m_starts.push_back({started, GetCurrentThreadId()});
            else
                ++m_finishes;
        }
        m_changed.notify_all();
    }
    bool WaitForStarts(size_t count) { return WaitFor([&] { return m_starts.size() >= count; }); }
    bool WaitForFinishes(size_t count) { return WaitFor([&] { return m_finishes >= count; }); }
    std::vector<Start> Starts() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_starts;
    }
    std::vector<JobProbe*> StartOrder() const {
        std::vector<JobProbe*> order;
        for (const Start& start : Starts()) order.push_back(start.probe);
        return order;
    }

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
};

class JobProbe final : public IRequestJob {
public:
    enum Gate { kOpen, kClosed };

    // The probe starts with one reference, the test's own, which it never gives away: every
    // reference a pool takes must come back, and no more.
    JobProbe(JobLog* log, Gate gate) : m_log(log), m_gate(CreateEventA(nullptr, TRUE, gate == kOpen, nullptr)) {}
    JobProbe(const JobProbe&) = delete;
    JobProbe& operator=(const JobProbe&) = delete;

    void SetAction(std::function<void()> action) { m_action = std::move(action); }  // runs once the gate opens
    void Open() noexcept { SetEvent(m_gate.get()); }

    LONG Runs() const noexcept { return m_runs; }
    LONG HeldReferences() const noexcept { return m_refs - 1; }  // by anyone but the test
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
        if (refs < 1) m_misused = 1;
        return static_cast<ULONG>(refs);
    }
    void STDMETHODCALLTYPE Run() override {
        if (m_refs < 2) m_misused = 1;
        m_runThread = GetCurrentThreadId();
        InterlockedIncrement(&m_runs);
        m_log->Record(this);
        struct Finish {
            JobLog* log;
            ~Finish() { log->Record(nullptr); }
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
    // Lets every held worker go: needed before a pool stops, or the stop waits on them.
    void OpenAll() noexcept {
        for (JobProbe& probe : m_probes) probe.Open();
    }
    size_t size() const noexcept { return m_probes.size(); }
    JobProbe& operator[](size_t index) { return m_probes[index]; }

    // How many probes in [from, to) ran other than `runs` times, are still referenced, or were
    // misused: one figure per test rather than a message per probe.
    size_t Unsettled(size_t from, size_t to, LONG runs) {
        size_t wrong = 0;
        for (size_t i = from; i < to; ++i)
            if (m_probes[i].Runs() != runs || m_probes[i].HeldReferences() != 0 || m_probes[i].Misused()) ++wrong;
        return wrong;
    }

    JobLog log;

private:
    std::deque<JobProbe> m_probes;
};

inline unsigned __stdcall RunBody(void* body) {
    std::unique_ptr<std::function<void()>>(static_cast<std::function<void()>*>(body))->operator()();
    return 0;
}

// Runs `body` on a new thread; the handle is signalled when it returns (null if no thread).
inline UniqueKernelHandle RunOnThread(std::function<void()> body) {
    auto* heapBody = new std::function<void()>(std::move(body));
    uintptr_t thread = _beginthreadex(nullptr, 0, &RunBody, heapBody, 0, nullptr);
    if (thread == 0) delete heapBody;
    return UniqueKernelHandle(reinterpret_cast<HANDLE>(thread));
}

// Ends the threads held in the started probes, as though they had died in their jobs. A stop
// that follows finds the waiting jobs still queued and no worker that could take one, so what it
// does with them is seen exactly; workers let go instead might take a waiting job before the stop
// clears the running flag, and nothing outside shows that moment. The held probes keep the
// reference their worker had. Returns false if a thread did not end.
inline bool EndHeldWorkers(const JobLog& log) {
    bool ended = true;
    for (const JobLog::Start& start : log.Starts()) {
        UniqueKernelHandle thread(OpenThread(THREAD_TERMINATE | SYNCHRONIZE, FALSE, start.thread));
        bool gone = thread && TerminateThread(thread.get(), 0xDEAD) &&
                    WaitForSingleObject(thread.get(), kGenerousWaitMs) == WAIT_OBJECT_0;
        ended = ended && gone;
    }
    return ended;
}

}  // namespace tarnix::test

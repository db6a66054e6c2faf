#include "requests/Thread.h"

#include <process.h>

#include <cstdio>
#include <deque>

#include "support/Handles.h"
#include "support/Module.h"
#include "support/Result.h"
#include "support/Sync.h"

namespace tarnix {

namespace {

// Written to the debugger when something escapes a job's Run. The location is part of the
// text that existing debug-log readers look for, so it stays fixed.
constexpr char kEscapedJobLocation[] = "Thread.cpp(35)";
constexpr char kEscapedJobText[] = "Caught unhandled exception in CThreadPool::ThreadProc";

void ReportEscapedJobException() noexcept {
    char line[4096];
    std::snprintf(line, sizeof line, "%s: %s\r\n", kEscapedJobLocation, kEscapedJobText);
    OutputDebugStringA(line);
}

// The running flag of the pool whose worker this thread is; null on every other thread.
thread_local const volatile LONG* t_poolRunning = nullptr;

}  // namespace

struct CThreadPool::Shared {
    CriticalSection lock;                     // guards `queue`
    std::deque<IRequestJob*> queue;           // each entry holds one reference to its job
    UniqueKernelHandle semaphore;             // one count per queued job, one per worker at stop
    volatile LONG running = 0;
};

// What a new worker receives: its own share of the pool's state and its own reference to the
// module, both given up only as the thread ends.
struct CThreadPool::WorkerStart {
    std::shared_ptr<Shared> shared;
    HMODULE module;
};

CThreadPool::CThreadPool() : m_shared(std::make_shared<Shared>()) {}

bool CThreadPool::CurrentWorkerStopping() noexcept {
    return t_poolRunning != nullptr && *t_poolRunning == 0;
}

ULONG CThreadPool::AddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG CThreadPool::Release() noexcept {
    LONG refs = InterlockedDecrement(&m_refs);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

void CThreadPool::Start(ULONG threadCount, ULONG queueLimit) {
    m_threadCount = threadCount;
    m_queueLimit = queueLimit;
    InterlockedExchange(&m_shared->running, 1);

    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, static_cast<LONG>(threadCount + queueLimit), nullptr);
    ThrowHrIf(semaphore == nullptr, E_FAIL);
    m_shared->semaphore.reset(semaphore);

    m_threads.clear();
    m_threads.resize(threadCount);
    m_threadIds.assign(threadCount, 0);
    ULONG started = 0;
    for (ULONG i = 0; i < threadCount; ++i) {
        // Handed over to the thread on success.
        auto* start = new WorkerStart{m_shared, AcquireModuleReference()};
        uintptr_t thread = _beginthreadex(nullptr, 0, &CThreadPool::WorkerEntry, start, 0, &m_threadIds[i]);
        if (thread == 0) {
            ReleaseModuleReference(start->module);
            delete start;
            continue;  // fewer workers; the ones started still serve the queue
        }
        m_threads[i].reset(reinterpret_cast<HANDLE>(thread));
        ++started;
    }
    // A pool without a single worker would accept jobs that never run.
    ThrowHrIf(threadCount > 0 && started == 0, E_FAIL);
}

unsigned __stdcall CThreadPool::WorkerEntry(void* argument) {
    HMODULE module = static_cast<WorkerStart*>(argument)->module;
    DWORD exitCode;
    {
        std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(argument));
        t_poolRunning = &start->shared->running;
        HRESULT coInit = CoInitialize(nullptr);
        try {
            exitCode = ThreadProc(*start->shared);
        } catch (...) {
            exitCode = 0xFFFFFFFF;
        }
        if (SUCCEEDED(coInit)) CoUninitialize();
        t_poolRunning = nullptr;
    }
    // A worker may outlive the stop and even the host's last FreeLibrary: it keeps the module
    // mapped until it has left the module's code for good.
    ReleaseModuleReferenceAndExitThread(module, exitCode);
}

DWORD CThreadPool::ThreadProc(Shared& shared) {
    for (;;) {
        WaitForSingleObject(shared.semaphore.get(), INFINITE);
        if (shared.running == 0) return 0;

        IRequestJob* job = nullptr;
        {
            Lock lock(shared.lock);
            if (shared.queue.empty()) continue;  // not expected: every count has an entry
            job = shared.queue.front();
            job->AddRef();
            shared.queue.pop_front();
            job->Release();  // the entry's reference; the worker's keeps the job alive
        }

        try {
            job->Run();
        } catch (...) {
            ReportEscapedJobException();
        }
        job->Release();
    }
}

void CThreadPool::QueueJob(IRequestJob* job) {
    ThrowHrIf(job == nullptr, E_POINTER);
    {
        Lock lock(m_shared->lock);
        ThrowHrIf(m_shared->queue.size() >= m_queueLimit, E_FAIL);
        m_shared->queue.push_back(job);
        job->AddRef();
    }
    ThrowHrIf(!ReleaseSemaphore(m_shared->semaphore.get(), 1, nullptr), E_FAIL);
}

ULONG CThreadPool::QueuedCount() const noexcept {
    Lock lock(m_shared->lock);
    return static_cast<ULONG>(m_shared->queue.size());
}

CThreadPool::~CThreadPool() {
    InterlockedExchange(&m_shared->running, 0);
    if (m_shared->semaphore && m_threadCount > 0)
        ReleaseSemaphore(m_shared->semaphore.get(), static_cast<LONG>(m_threadCount), nullptr);

    // One deadline for all: workers waiting on the network give up at once (see
    // CurrentWorkerStopping); one stuck inside the platform ends on its own later.
    const ULONGLONG deadline = GetTickCount64() + kStopWaitMs;
    for (UniqueKernelHandle& thread : m_threads) {
        if (!thread) continue;
        const ULONGLONG now = GetTickCount64();
        WaitForSingleObject(thread.get(), now < deadline ? static_cast<DWORD>(deadline - now) : 0);
        thread.reset();
    }

    // Jobs still waiting are dropped without running; their requests stay pending.
    std::deque<IRequestJob*> dropped;
    {
        Lock lock(m_shared->lock);
        dropped.swap(m_shared->queue);
    }
    for (IRequestJob* job : dropped) job->Release();
    // The semaphore and the lock go with the last holder of m_shared: here, or a worker that
    // outlived its stop wait.
}

}  // namespace tarnix

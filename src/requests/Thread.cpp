#include "requests/Thread.h"

#include <process.h>

#include <cstdio>
#include <deque>

#include "support/Handles.h"
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

}  // namespace

struct CThreadPool::Shared {
    CriticalSection lock;                     // guards `queue`
    std::deque<IRequestJob*> queue;           // each entry holds one reference to its job
    UniqueKernelHandle semaphore;             // one count per queued job, one per worker at stop
    volatile LONG running = 0;
};

CThreadPool::CThreadPool() : m_shared(std::make_shared<Shared>()) {}

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

    m_threads.assign(threadCount, nullptr);
    m_threadIds.assign(threadCount, 0);
    ULONG started = 0;
    for (ULONG i = 0; i < threadCount; ++i) {
        // The worker's own reference to what it uses; handed over to the thread on success.
        auto* workerShare = new std::shared_ptr<Shared>(m_shared);
        uintptr_t thread = _beginthreadex(nullptr, 0, &CThreadPool::WorkerEntry, workerShare, 0, &m_threadIds[i]);
        if (thread == 0) {
            delete workerShare;
            continue;  // fewer workers; the ones started still serve the queue
        }
        m_threads[i] = reinterpret_cast<HANDLE>(thread);
        ++started;
    }
    // A pool without a single worker would accept jobs that never run.
    ThrowHrIf(threadCount > 0 && started == 0, E_FAIL);
}

unsigned __stdcall CThreadPool::WorkerEntry(void* argument) {
    std::unique_ptr<std::shared_ptr<Shared>> share(static_cast<std::shared_ptr<Shared>*>(argument));
    HRESULT coInit = CoInitialize(nullptr);
    DWORD exitCode;
    try {
        exitCode = ThreadProc(**share);
    } catch (...) {
        exitCode = 0xFFFFFFFF;
    }
    if (SUCCEEDED(coInit)) CoUninitialize();
    return exitCode;
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

    for (HANDLE thread : m_threads) {
        if (!thread) continue;
        WaitForSingleObject(thread, kWorkerStopWaitMs);
        CloseHandle(thread);
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

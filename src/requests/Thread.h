// CThreadPool: a fixed set of worker threads taking request jobs from a bounded FIFO queue.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "requests/RequestJob.h"
#include "support/Handles.h"

namespace tarnix {

class CThreadPool {
public:
    CThreadPool();
    CThreadPool(const CThreadPool&) = delete;
    CThreadPool& operator=(const CThreadPool&) = delete;

    // Holders take their reference with AddRef; the last Release stops and frees the pool.
    ULONG AddRef() noexcept;
    ULONG Release() noexcept;

    // Starts `threadCount` workers; at most `queueLimit` jobs may wait. Raises E_FAIL when the
    // semaphore cannot be created.
    void Start(ULONG threadCount, ULONG queueLimit);

    // Appends a job (taking a reference to it). Raises E_FAIL when the queue is full or the
    // workers cannot be signalled.
    void QueueJob(IRequestJob* job);

    // Number of jobs waiting (not yet taken by a worker).
    ULONG QueuedCount() const noexcept;

    // True on a worker of a pool whose stop has begun: a job waiting on the network gives up
    // then, so that the stop does not wait for it.
    static bool CurrentWorkerStopping() noexcept;

    // How long the stop waits for all the workers together. A worker still inside the platform
    // after that keeps its own reference to the module and to what it uses, and ends later.
    static constexpr DWORD kStopWaitMs = 3000;

protected:
    // Stops the pool: wakes every worker, waits for them (up to kStopWaitMs in all), then
    // releases the jobs still queued without running them.
    virtual ~CThreadPool();

private:
    struct Shared;
    struct WorkerStart;
    static unsigned __stdcall WorkerEntry(void* argument);
    static DWORD ThreadProc(Shared& shared);

    LONG m_refs = 0;
    ULONG m_threadCount = 0;
    ULONG m_queueLimit = 0;
    // What the workers use lives apart from the pool, with a reference held by each worker, so
    // that a worker still inside a job when its stop wait ends never touches freed memory.
    std::shared_ptr<Shared> m_shared;
    std::vector<UniqueKernelHandle> m_threads;
    std::vector<unsigned> m_threadIds;
};

}  // namespace tarnix

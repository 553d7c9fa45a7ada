// The online services' worker threads: start with a reference on the core,
// stop without waiting out a blocked worker.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include "base/own_thread.h"
#include "online/service_worker.h"

struct service_worker {
    volatile LONG stop;
    own_thread *thread; /* the game thread's */
    HANDLE wake;        /* auto-reset; closed with the block */
    SRWLOCK host_gate;
    http_cancel http;
    service_worker_body body;
    /* the service's context follows */
};

namespace {

void run(void *arg)
{
    service_worker *w = (service_worker *)arg;
    w->body(w);
}

void release(void *arg)
{
    service_worker *w = (service_worker *)arg;
    CloseHandle(w->wake);
    free(w);
}

} // namespace

service_worker *service_worker_start(service_worker_body body, const void *ctx, size_t ctx_size)
{
    service_worker *w = (service_worker *)calloc(1, sizeof(service_worker) + ctx_size);
    if (!w) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    w->body = body;
    InitializeSRWLock(&w->host_gate);
    http_cancel_init(&w->http);
    if (ctx_size)
        memcpy(service_worker_ctx(w), ctx, ctx_size);
    w->wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (w->wake && (w->thread = own_thread_start(run, w, release)))
        return w;
    DWORD error = GetLastError();
    if (w->wake)
        CloseHandle(w->wake);
    free(w);
    SetLastError(error);
    return nullptr;
}

bool service_worker_stop(service_worker *w)
{
    InterlockedExchange(&w->stop, 1);
    SetEvent(w->wake);
    http_cancel_now(&w->http);
    // A call into the host that began before the stop ends before it returns;
    // a later one sees the stop and is not made.
    AcquireSRWLockExclusive(&w->host_gate);
    ReleaseSRWLockExclusive(&w->host_gate);
    return own_thread_join(w->thread, SERVICE_STOP_WAIT_MS);
}

void service_worker_wake(service_worker *w) { SetEvent(w->wake); }

void *service_worker_ctx(service_worker *w) { return w + 1; }

bool service_worker_stopping(const service_worker *w) { return w->stop != 0; }

void service_worker_wait(service_worker *w, DWORD ms) { WaitForSingleObject(w->wake, ms); }

http_cancel *service_worker_http(service_worker *w) { return &w->http; }

bool service_worker_host_enter(service_worker *w)
{
    AcquireSRWLockShared(&w->host_gate);
    if (!w->stop)
        return true;
    ReleaseSRWLockShared(&w->host_gate);
    return false;
}

void service_worker_host_leave(service_worker *w) { ReleaseSRWLockShared(&w->host_gate); }

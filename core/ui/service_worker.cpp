// The online services' worker threads: start with a reference on the core,
// stop without waiting out a blocked worker.
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include "service_worker.h"

struct service_worker {
    volatile LONG refs; /* the game thread's and the worker's */
    volatile LONG stop;
    HANDLE thread;  /* the game thread's */
    HANDLE wake;    /* auto-reset; closed with the block */
    HMODULE module; /* the worker's reference on the core */
    SRWLOCK host_gate;
    http_cancel http;
    service_worker_body body;
    /* the service's context follows */
};

namespace {

void release(service_worker *w)
{
    if (InterlockedDecrement(&w->refs) == 0) {
        CloseHandle(w->wake);
        free(w);
    }
}

DWORD WINAPI run(void *arg)
{
    service_worker *w = (service_worker *)arg;
    HMODULE module = w->module;
    w->body(w);
    release(w);
    // Drops the reference taken for this thread and ends it without
    // returning into the core, which may be unmapped by then.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

} // namespace

service_worker *service_worker_start(service_worker_body body, const void *ctx, size_t ctx_size)
{
    service_worker *w = (service_worker *)calloc(1, sizeof(service_worker) + ctx_size);
    if (!w) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    w->refs = 2;
    w->body = body;
    InitializeSRWLock(&w->host_gate);
    http_cancel_init(&w->http);
    if (ctx_size)
        memcpy(service_worker_ctx(w), ctx, ctx_size);
    DWORD error = 0;
    w->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!w->wake ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void *)&run, &w->module)) {
        error = GetLastError();
    } else if (!(w->thread = CreateThread(nullptr, 0, run, w, 0, nullptr))) {
        error = GetLastError();
        FreeLibrary(w->module);
    }
    if (!w->thread) {
        if (w->wake)
            CloseHandle(w->wake);
        free(w);
        SetLastError(error);
        return nullptr;
    }
    return w;
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
    bool ended = WaitForSingleObject(w->thread, SERVICE_STOP_WAIT_MS) == WAIT_OBJECT_0;
    CloseHandle(w->thread);
    release(w);
    return ended;
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

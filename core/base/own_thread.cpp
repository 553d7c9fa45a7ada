/* Threads that keep the core mapped while they run (own_thread.h). */
#include <windows.h>
#include <stdlib.h>
#include "base/own_thread.h"

struct own_thread {
    volatile LONG refs; /* the starter's and the thread's */
    HANDLE thread;      /* the starter's */
    HMODULE module;     /* the thread's reference on the core */
    void (*body)(void *arg);
    void (*release)(void *arg);
    void *arg;
};

namespace {

void let_go(own_thread *t)
{
    if (InterlockedDecrement(&t->refs) == 0) {
        t->release(t->arg);
        free(t);
    }
}

DWORD WINAPI run(void *p)
{
    own_thread *t = (own_thread *)p;
    HMODULE module = t->module;
    t->body(t->arg);
    let_go(t);
    // Drops the thread's reference and ends it without returning into the
    // core, which may be unmapped by then.
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

} // namespace

own_thread *own_thread_start(void (*body)(void *arg), void *arg, void (*release)(void *arg))
{
    own_thread *t = (own_thread *)calloc(1, sizeof *t);
    if (!t) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    t->refs = 2;
    t->body = body;
    t->release = release;
    t->arg = arg;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void *)&run, &t->module)) {
        free(t);
        return nullptr;
    }
    if (!(t->thread = CreateThread(nullptr, 0, run, t, 0, nullptr))) {
        DWORD error = GetLastError();
        FreeLibrary(t->module);
        free(t);
        SetLastError(error);
        return nullptr;
    }
    return t;
}

bool own_thread_join(own_thread *t, DWORD ms)
{
    bool ended = WaitForSingleObject(t->thread, ms) == WAIT_OBJECT_0;
    CloseHandle(t->thread);
    let_go(t);
    return ended;
}

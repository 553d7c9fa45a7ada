/* A thread of the core that holds its own reference on the core and ends
 * through FreeLibraryAndExitThread: a stop can give up waiting for it (a
 * stalled file or network call) without the thread running on in an
 * unmapped library, and the next core loads beside it. What the starter
 * and the thread share is released by whichever of the two lets go last.
 * own_thread.cpp. */
#pragma once
#include <windows.h>

typedef struct own_thread own_thread;

/* Runs body(arg) on a new thread. release(arg) is called exactly once, by
 * the thread after body returned or by own_thread_join, whichever comes
 * last. Null with GetLastError when no thread could be started (then
 * release is not called and arg is still the caller's). */
own_thread *own_thread_start(void (*body)(void *arg), void *arg, void (*release)(void *arg));
/* Waits at most ms for the thread; true when it ended. The handle is the
 * caller's no longer either way. */
bool own_thread_join(own_thread *t, DWORD ms);

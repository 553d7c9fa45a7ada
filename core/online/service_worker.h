/* A worker thread of the online services (the server list's, the updater's)
 * that a stop never waits out.
 *
 * The worker is an own_thread (it holds its own reference on the core),
 * and the control block (stop flag, wake event,
 * HTTP cancel slot, the service's context) belongs to the game thread and
 * the worker together: whichever lets go last frees it. So a stop signals,
 * cancels the request in flight, waits briefly and returns; a worker still
 * blocked (a stalled receive under Wine, a blocking name lookup) ends on its
 * own later, in code that stays mapped, and the next core loads beside it.
 *
 * Once stopped, a worker touches nothing outside its block: calls into the
 * host (the log) go through the host gate, which the stop closes, and the
 * service checks service_worker_stopping before it writes a file or a
 * shared flag. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include "online/http_get.h"

/* How long a stop waits for a worker that is not blocked. */
#define SERVICE_STOP_WAIT_MS 20

typedef struct service_worker service_worker;
typedef void (*service_worker_body)(service_worker *w);

/* Starts body on a thread of its own with a copy of ctx (ctx_size bytes);
 * null with GetLastError when it cannot. */
service_worker *service_worker_start(service_worker_body body, const void *ctx, size_t ctx_size);
/* Signals the stop, cancels the request in flight, closes the host gate and
 * waits at most SERVICE_STOP_WAIT_MS; true when the worker ended. The block
 * is the caller's no longer either way. */
bool service_worker_stop(service_worker *w);
/* Sets the wake event (game or render thread, while the worker is not stopped). */
void service_worker_wake(service_worker *w);

/* ---- the worker's side ---- */

void *service_worker_ctx(service_worker *w);
bool service_worker_stopping(const service_worker *w);
/* Waits on the wake event (auto-reset) for up to ms. */
void service_worker_wait(service_worker *w, DWORD ms);
/* The cancel slot that the stop cancels: every GET goes through it. */
http_cancel *service_worker_http(service_worker *w);
/* Enters the host gate; false (and not entered) once stopping. Hold it only
 * around short calls into the host. */
bool service_worker_host_enter(service_worker *w);
void service_worker_host_leave(service_worker *w);

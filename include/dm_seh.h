/* Structured-exception guard for code built with g++ (which has no __try).
 * dm_seh_call runs fn(arg); when a structured exception is raised inside it,
 * filter(pointers, ctx) decides: EXCEPTION_EXECUTE_HANDLER unwinds back into
 * dm_seh_call, which returns 0; EXCEPTION_CONTINUE_SEARCH lets outer handlers
 * see it; EXCEPTION_CONTINUE_EXECUTION resumes at the faulting context.
 * A null filter catches everything. Returns 1 when fn returned normally.
 * C++ exceptions must not leave fn: the guard passes them on untouched. */
#ifndef DM_SEH_H
#define DM_SEH_H

#ifdef __cplusplus
extern "C" {
#endif

struct _EXCEPTION_POINTERS;
typedef long (*dm_seh_filter_fn)(struct _EXCEPTION_POINTERS *pointers, void *ctx);
typedef void (*dm_seh_body_fn)(void *arg);

int dm_seh_call(dm_seh_body_fn fn, void *arg, dm_seh_filter_fn filter, void *ctx);

/* Runs fn(arg) and catches nothing; when an exception raised inside it is
 * taken by a handler further out (or the thread exits), on_unwind(ctx) runs
 * while the unwind passes this frame, then the unwind goes on. For what must
 * be given back on every path around code that may raise (a C++ object's
 * destructor does not run when a structured exception unwinds through a
 * g++ frame). */
void dm_seh_call_unwind(dm_seh_body_fn fn, void *arg, dm_seh_body_fn on_unwind, void *ctx);

/* A filter that records the exception code, code address and data address
 * (second parameter when present) into a dm_seh_fault and catches. */
typedef struct dm_seh_fault {
    unsigned long code;
    void *code_address;
    void *data_address;
    unsigned long param_count;
} dm_seh_fault;
long dm_seh_record_filter(struct _EXCEPTION_POINTERS *pointers, void *fault);

#ifdef __cplusplus
}
#endif
#endif

/* Structured-exception guard for code built with g++ (which has no __try or
 * __finally). dm_seh_call runs fn(arg); when a structured exception is raised inside it,
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

/* dm_seh_call_finally runs fn(arg), then done(ctx) once: when fn returns,
 * or while an exception (structured or C++) that an outer handler caught
 * unwinds through it, before the frames of fn are gone. It catches nothing:
 * the exception goes on to that handler. done must not raise. */
typedef void (*dm_seh_done_fn)(void *ctx);
void dm_seh_call_finally(dm_seh_body_fn fn, void *arg, dm_seh_done_fn done, void *ctx);

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

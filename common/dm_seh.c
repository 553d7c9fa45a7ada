/* Language handlers of dm_seh_call and dm_seh_call_unwind. */
#include <windows.h>
#include "dm_seh.h"

extern void dm_seh_recover(void);

/* Codes GCC's own C++ unwinder raises; never ours to catch. */
#define DM_GCC_THROW 0x20474343UL
#define DM_GCC_UNWIND 0x21474343UL
#define DM_GCC_FORCED 0x22474343UL

EXCEPTION_DISPOSITION dm_seh_handler(EXCEPTION_RECORD *rec, void *frame, CONTEXT *context,
                                     DISPATCHER_CONTEXT *dispatch);
EXCEPTION_DISPOSITION dm_seh_unwind_handler(EXCEPTION_RECORD *rec, void *frame, CONTEXT *context,
                                            DISPATCHER_CONTEXT *dispatch);

EXCEPTION_DISPOSITION dm_seh_handler(EXCEPTION_RECORD *rec, void *frame, CONTEXT *context,
                                     DISPATCHER_CONTEXT *dispatch)
{
    if (rec->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if (rec->ExceptionCode == DM_GCC_THROW || rec->ExceptionCode == DM_GCC_UNWIND ||
        rec->ExceptionCode == DM_GCC_FORCED)
        return ExceptionContinueSearch;
    /* frame == rbp of dm_seh_call: saved rbp at +0, return address at +8,
     * home slots fn, arg, filter, ctx at +16..+40. */
    void **home = (void **)((char *)frame + 16);
    dm_seh_filter_fn filter = (dm_seh_filter_fn)home[2];
    void *ctx = home[3];
    EXCEPTION_POINTERS pointers = { rec, context };
    long verdict = filter ? filter(&pointers, ctx) : EXCEPTION_EXECUTE_HANDLER;
    if (verdict == EXCEPTION_CONTINUE_EXECUTION)
        return ExceptionContinueExecution;
    if (verdict != EXCEPTION_EXECUTE_HANDLER)
        return ExceptionContinueSearch;
    RtlUnwindEx(frame, (void *)dm_seh_recover, rec, (void *)0, dispatch->ContextRecord,
                dispatch->HistoryTable);
    return ExceptionContinueSearch; /* not reached */
}

/* Called only while an unwind passes dm_seh_call_unwind's frame (an outer
 * handler took the exception, or the thread exits): the cleanup runs once,
 * and the unwind goes on. */
EXCEPTION_DISPOSITION dm_seh_unwind_handler(EXCEPTION_RECORD *rec, void *frame, CONTEXT *context,
                                            DISPATCHER_CONTEXT *dispatch)
{
    (void)context;
    (void)dispatch;
    if (rec->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
        void **home = (void **)((char *)frame + 16);
        dm_seh_body_fn on_unwind = (dm_seh_body_fn)home[2];
        if (on_unwind)
            on_unwind(home[3]);
    }
    return ExceptionContinueSearch;
}

long dm_seh_record_filter(EXCEPTION_POINTERS *pointers, void *fault_out)
{
    dm_seh_fault *fault = (dm_seh_fault *)fault_out;
    const EXCEPTION_RECORD *rec = pointers->ExceptionRecord;
    if (fault) {
        fault->code = rec->ExceptionCode;
        fault->code_address = rec->ExceptionAddress;
        fault->param_count = rec->NumberParameters;
        fault->data_address = rec->NumberParameters >= 2
            ? (void *)rec->ExceptionInformation[1] : NULL;
    }
    return EXCEPTION_EXECUTE_HANDLER;
}

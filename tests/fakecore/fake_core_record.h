/* What a fake core records, in a named shared block the test reads; the test
 * also writes there which call should fault. */
#pragma once
#include <stdint.h>
#include "dm_api.h"

/* One block per process, so test executables running side by side never share it. */
#define FAKE_CORE_BLOCK_FORMAT "Local\\drovemark_fake_core_record_%lu"

enum fake_core_call { FC_INIT, FC_FRAME, FC_UI, FC_SHUTDOWN, FC_UNHOOK, FC_CALLS };

typedef struct fake_core_record {
    uint32_t calls[FC_CALLS];       /* how often each export ran */
    uint32_t fault_on[FC_CALLS];    /* set by the test: fault on the nth call (1 = first) */
    uint32_t throw_on[FC_CALLS];    /* set by the test: throw a C++ exception on the nth call */
    int32_t init_result;            /* set by the test: what dm_core_init returns */
    uint32_t api_size, api_version; /* the dm_host_api the core was given */
    char api_base_dir[260];
    void *api_log;                  /* the log function it was given */
    dm_frame_info last_frame;       /* as the core saw it */
    char module_name[64];           /* file name of the running copy */
    uint32_t sequence;              /* bumped on every call; orders calls across cores */
    uint32_t order[FC_CALLS];       /* sequence number of each export's last call */
} fake_core_record;

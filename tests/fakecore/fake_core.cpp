// A core that records how the plug-in calls it. Built into several DLLs:
// FAKE_NO_FRAME drops a required export, FAKE_NO_UNHOOK and FAKE_NO_UI the
// optional ones. Faults, C++ exceptions and the init result are set at run
// time through the shared record.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <stdexcept>
#include "fake_core_record.h"
#include "dm_module.h"

static fake_core_record *rec;
static const dm_host_api *api;
static volatile int *volatile fault_address = (volatile int *)(uintptr_t)0x10;

static fake_core_record *record()
{
    if (!rec) {
        char fake_block_name[64];
        snprintf(fake_block_name, sizeof fake_block_name, FAKE_CORE_BLOCK_FORMAT, GetCurrentProcessId());
        HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(fake_core_record), fake_block_name);
        rec = (fake_core_record *)MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    }
    return rec;
}

static void called(fake_core_call c)
{
    fake_core_record *r = record();
    r->calls[c]++;
    r->order[c] = ++r->sequence;
    if (r->fault_on[c] && r->calls[c] == r->fault_on[c])
        *fault_address = 1; // access violation at data address 0x10
    if (r->throw_on[c] && r->calls[c] == r->throw_on[c])
        throw std::runtime_error("fake core");
}

#define EXPORT extern "C" __declspec(dllexport)

EXPORT int32_t dm_core_init(const dm_host_api *a)
{
    fake_core_record *r = record();
    r->api_size = a->size;
    r->api_version = a->version;
    r->api_log = (void *)a->log;
    snprintf(r->api_base_dir, sizeof r->api_base_dir, "%s", a->base_dir);
    dm_module_file_name(dm_module_at((const void *)&dm_core_init), r->module_name, sizeof r->module_name);
    api = a;
    called(FC_INIT);
    a->log("[fake] init %s", r->module_name);
    return r->init_result;
}

#ifndef FAKE_NO_FRAME
EXPORT void dm_core_frame(const dm_frame_info *info)
{
    record()->last_frame = *info;
    called(FC_FRAME);
}
#endif

EXPORT void dm_core_shutdown(void)
{
    called(FC_SHUTDOWN);
    api->log("[fake] shutdown");
}

#ifndef FAKE_NO_UNHOOK
EXPORT void dm_core_unhook(void) { called(FC_UNHOOK); }
#endif

#ifndef FAKE_NO_UI
EXPORT void dm_core_ui(const dm_ui_frame_args *) { called(FC_UI); }
#endif

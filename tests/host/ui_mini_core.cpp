// The smallest cores the overlay tests need: one without a UI export, and
// one whose UI export faults on its second call.
#include <windows.h>
#include "dm_api.h"

#define EXPORT extern "C" __declspec(dllexport)

static volatile int ui_calls;

EXPORT int32_t dm_core_init(const dm_host_api *) { return 1; }
EXPORT void dm_core_frame(const dm_frame_info *) {}
EXPORT void dm_core_shutdown(void) {}

static volatile int *volatile fault_at = (volatile int *)(uintptr_t)0x10;

#ifdef MINI_UI_FAULTS
EXPORT void dm_core_ui(const dm_ui_frame_args *)
{
    ui_calls = ui_calls + 1;
    if (ui_calls == 2)
        *fault_at = 1;
}
EXPORT int mini_ui_calls() { return ui_calls; }
#endif

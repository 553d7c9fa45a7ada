// Loads the core from a numbered copy of its file, binds its exports, calls
// them only through structured-exception guards, and reloads it whenever the
// file's write time changes.
#include "host.h"
#include <stdio.h>
#include "dm_file.h"
#include "dm_module.h"
#include "imgui.h"
#include "imgui_internal.h"

static HMODULE core_module;
static dm_core_init_fn core_init;
static dm_core_frame_fn core_frame;
static dm_core_shutdown_fn core_shutdown;
static dm_core_unhook_fn core_unhook;
static dm_core_ui_fn core_ui; // written under host_lock; read by the render thread under it
static FILETIME core_write_time;
static uint32_t core_generation;
static double next_poll;

namespace {

void set_ui_entry(dm_core_ui_fn fn)
{
    EnterCriticalSection(&host_lock);
    core_ui = fn;
    LeaveCriticalSection(&host_lock);
}

void forget_core()
{
    core_module = nullptr;
    core_init = nullptr;
    core_frame = nullptr;
    core_shutdown = nullptr;
    core_unhook = nullptr;
    core_ui = nullptr;
}

bool host_guard_core_unhook()
{
    return host_guarded([] { core_unhook(); }, "[host] core unhook faulted (0x%08lx)");
}

// After a fault in the core's init or frame: a core that removed its hooks
// is freed without dm_core_shutdown; one that could not (no unhook, or the
// unhook faulted too) may still be reached through patches in the game, so
// it stays mapped for good and is only forgotten.
void retire_faulted_core()
{
    set_ui_entry(nullptr);
    if (core_unhook && host_guard_core_unhook()) {
        host_log("[host] core hooks removed after the fault");
        core_shutdown = nullptr;
        host_core_unload();
        return;
    }
    host_log("[host] core hooks may still be installed; keeping the faulted core loaded");
    dm_module_pin((const void *)core_module);
    forget_core();
}

} // namespace

void host_core_unload()
{
    if (!core_module)
        return;
    set_ui_entry(nullptr); // waits for a running UI call to finish
    if (core_shutdown)
        host_guarded([] { core_shutdown(); }, "[host] core shutdown faulted (0x%08lx)");
    FreeLibrary(core_module);
    forget_core();
}

void host_core_stop()
{
    host_core_unload();
    // A later start in the same process loads the core again.
    core_write_time = {};
    next_poll = 0;
}

void host_core_load()
{
    char file[DM_PATH_MAX], copy[DM_PATH_MAX];
    snprintf(file, sizeof file, "%score\\drovemark_core.dll", host_base_dir);
    WIN32_FILE_ATTRIBUTE_DATA attr;
    if (!dm_file_attributes_ex(file, &attr))
        return;
    if (CompareFileTime(&attr.ftLastWriteTime, &core_write_time) == 0)
        return;
    core_write_time = attr.ftLastWriteTime; // a failed load is not retried until the file changes

    host_core_unload();

    // A copy still mapped (a core that pinned itself, from an earlier start
    // of the plug-in in this process) keeps its name: the next one is taken.
    do {
        core_generation++;
        snprintf(copy, sizeof copy, "%score\\loaded_%u.dll", host_base_dir, core_generation);
    } while (dm_module_loaded(copy) && core_generation < 1000);
    if (!dm_file_copy(file, copy, FALSE)) {
        host_log("[host] copy core failed (%lu)", GetLastError());
        return;
    }
    if (core_generation > 1) {
        char previous[DM_PATH_MAX];
        snprintf(previous, sizeof previous, "%score\\loaded_%u.dll", host_base_dir,
                 core_generation - 1);
        dm_file_delete(previous); // still mapped when the old core pinned itself; then it stays
    }
    HMODULE m = dm_load_library(copy);
    if (!m) {
        host_log("[host] LoadLibrary core failed (%lu)", GetLastError());
        return;
    }
    auto init = (dm_core_init_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_INIT);
    auto frame = (dm_core_frame_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_FRAME);
    auto shutdown = (dm_core_shutdown_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_SHUTDOWN);
    auto unhook = (dm_core_unhook_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_UNHOOK);
    if (!init || !frame || !shutdown) {
        host_log("[host] core is missing exports");
        FreeLibrary(m);
        return;
    }
    core_module = m;
    core_init = init;
    core_frame = frame;
    core_shutdown = shutdown;
    core_unhook = unhook;

    int32_t init_result = 0;
    bool completed = host_guarded([&] { init_result = init(&host_api); }, "[host] core init faulted (0x%08lx)");
    if (!completed || init_result == 0) {
        host_log("[host] core init failed");
        if (completed) {
            core_shutdown = nullptr; // refused: a core that never started is not stopped
            host_core_unload();
        } else {
            retire_faulted_core(); // it may have left hooks behind half-way through its start
        }
        return;
    }

    auto ui = (dm_core_ui_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_UI);
    set_ui_entry(ui);
    host_log("[host] core generation %u loaded%s", core_generation,
             ui ? "" : " (no dm_core_ui: overlay draws nothing from the core)");
}

void host_core_frame()
{
    if (host_frame.seconds >= next_poll) {
        next_poll = host_frame.seconds + 0.5;
        host_core_load();
    }
    if (!core_module || !core_frame)
        return;
    if (host_guarded([] { core_frame(&host_frame); },
                     "[host] core frame faulted (0x%08lx); core disabled until next build"))
        return;
    retire_faulted_core();
}

bool host_core_ui_call(float width, float height, uint32_t ui_mode)
{
    if (!core_ui)
        return false;
    dm_ui_frame_args args = {};
    host_ui_fill_args(&args);
    args.width = width;
    args.height = height;
    args.ui_mode = ui_mode;
    // What the core may leave open when it faults (windows, pushed styles,
    // fonts) is closed again from this saved state.
    ImGuiErrorRecoveryState saved;
    ImGui::ErrorRecoveryStoreState(&saved);
    dm_core_ui_fn ui = core_ui;
    if (host_guarded([&] { ui(&args); }, "[host] core ui faulted (0x%08lx); core UI disabled until next build"))
        return true;
    core_ui = nullptr; // host_lock is held by the caller
    ImGui::ErrorRecoveryTryToRecoverState(&saved);
    return false;
}

int host_core_ui_state()
{
    if (!core_module)
        return 0;
    return core_ui ? 2 : 1;
}

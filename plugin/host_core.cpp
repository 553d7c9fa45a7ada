// Loads the core from a numbered copy of its file, binds its exports, calls
// them only through structured-exception guards, and reloads it whenever the
// file's write time changes: once the new file is settled and checked, so
// that a bad one leaves the running core as it is.
#include "host.h"
#include <stdio.h>
#include "host_core_file.h"
#include "dm_file.h"
#include "dm_module.h"
#include "imgui.h"
#include "imgui_internal.h"

static HMODULE core_module;
static dm_core_init_fn core_init;
static dm_core_frame_fn core_frame;
static dm_core_shutdown_fn core_shutdown;
static dm_core_unhook_fn core_unhook;
static dm_core_exit_fn core_exit;
static dm_core_ui_fn core_ui; // written under host_lock; read by the render thread under it
static FILETIME core_write_time; // of the file last acted on
static uint32_t core_generation;
static uint32_t core_loaded_generation; // of the copy the mapped core came from; 0 none
/* The core file as one poll sees it. */
struct core_file_look {
    FILETIME time;
    uint64_t size;
};
/* The core file at the previous poll: a file is loaded once two polls see it alike. */
static core_file_look core_seen;
static bool core_seen_valid;
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
    core_exit = nullptr;
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
    // The game is closing: the core says goodbye to the server first, which
    // a reload never does.
    if (core_module && core_exit)
        host_guarded([] { core_exit(); }, "[host] core exit faulted (0x%08lx)");
    host_core_unload();
    // A later start in the same process loads the core again.
    core_write_time = {};
    core_seen_valid = false;
    next_poll = 0;
}

namespace {

bool look_at(const char *file, core_file_look *out)
{
    WIN32_FILE_ATTRIBUTE_DATA attr;
    if (!dm_file_attributes_ex(file, &attr))
        return false;
    out->time = attr.ftLastWriteTime;
    out->size = (uint64_t)attr.nFileSizeHigh << 32 | attr.nFileSizeLow;
    return true;
}

bool same_look(const core_file_look &a, const core_file_look &b)
{
    return CompareFileTime(&a.time, &b.time) == 0 && a.size == b.size;
}

bool read_at(void *ctx, uint64_t offset, void *out, size_t n)
{
    FILE *f = (FILE *)ctx;
    return _fseeki64(f, (long long)offset, SEEK_SET) == 0 && fread(out, 1, n, f) == n;
}

/* The copy is a usable core; otherwise false with why in why. */
bool copy_is_core(const char *copy, char *why, size_t why_size)
{
    FILE *f = dm_file_open(copy, "rb");
    if (!f) {
        snprintf(why, why_size, "unreadable (%lu)", GetLastError());
        return false;
    }
    long long size = _fseeki64(f, 0, SEEK_END) == 0 ? _ftelli64(f) : -1;
    bool ok = size >= 0 && host_core_file_check((uint64_t)size, read_at, f, why, why_size);
    fclose(f);
    return ok;
}

/* One line for a new core file that is not loaded, and what runs instead. */
void not_loaded(const char *what)
{
    host_log("[host] %s; %s", what, core_module ? "keeping the running core" : "no core loaded");
}

/* The copy of a core that is gone; a copy still mapped (a core that pinned
 * itself) stays. */
void delete_copy(uint32_t generation)
{
    char copy[DM_PATH_MAX];
    snprintf(copy, sizeof copy, "%score\\loaded_%u.dll", host_base_dir, generation);
    dm_file_delete(copy);
}

/* Loads the core file when its write time is not the one last acted on.
 * settle: only a file that is unchanged since the previous poll (one still
 * being copied in changes between two polls), as the frame's poll asks;
 * the start loads at once. The running core is stopped only for a new file
 * that is a core and is mapped with its exports bound, so a bad file (a
 * half-copied one, a 32-bit build, another DLL) leaves it running. */
void core_load(bool settle)
{
    char file[DM_PATH_MAX], copy[DM_PATH_MAX], line[128];
    snprintf(file, sizeof file, "%score\\drovemark_core.dll", host_base_dir);
    core_file_look now;
    if (!look_at(file, &now)) {
        core_seen_valid = false; // no file: a running core stays
        return;
    }
    bool settled = core_seen_valid && same_look(core_seen, now);
    core_seen = now;
    core_seen_valid = true;
    if (CompareFileTime(&now.time, &core_write_time) == 0)
        return;
    if (settle && !settled)
        return;
    core_write_time = now.time; // a file that fails is not tried again until it changes

    // 1. A numbered copy. One still mapped (a core that pinned itself, from
    // an earlier start of the plug-in in this process) keeps its name: the
    // next one is taken.
    do {
        core_generation++;
        snprintf(copy, sizeof copy, "%score\\loaded_%u.dll", host_base_dir, core_generation);
    } while (dm_module_loaded(copy) && core_generation < 1000);
    if (!dm_file_copy(file, copy, FALSE)) {
        snprintf(line, sizeof line, "copy core failed (%lu)", GetLastError());
        not_loaded(line);
        return;
    }
    core_file_look after;
    if (!look_at(file, &after) || !same_look(after, now)) {
        dm_file_delete(copy); // written to while it was copied: the next polls look again
        return;
    }

    // 2. The copy is checked, mapped and bound beside the running core.
    char why[64];
    if (!copy_is_core(copy, why, sizeof why)) {
        dm_file_delete(copy);
        snprintf(line, sizeof line, "core file is not a usable core (%s)", why);
        not_loaded(line);
        return;
    }
    HMODULE m = dm_load_library(copy);
    if (!m) {
        snprintf(line, sizeof line, "LoadLibrary core failed (%lu)", GetLastError());
        dm_file_delete(copy);
        not_loaded(line);
        return;
    }
    auto init = (dm_core_init_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_INIT);
    auto frame = (dm_core_frame_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_FRAME);
    auto shutdown = (dm_core_shutdown_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_SHUTDOWN);
    if (!init || !frame || !shutdown) {
        FreeLibrary(m);
        dm_file_delete(copy);
        not_loaded("core is missing exports");
        return;
    }

    // 3. The running core stops, and its copy goes.
    host_core_unload();
    if (core_loaded_generation)
        delete_copy(core_loaded_generation);
    core_loaded_generation = core_generation;

    // 4. The new core starts.
    core_module = m;
    core_init = init;
    core_frame = frame;
    core_shutdown = shutdown;
    core_unhook = (dm_core_unhook_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_UNHOOK);
    core_exit = (dm_core_exit_fn)(void *)GetProcAddress(m, DM_EXPORT_CORE_EXIT);

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

} // namespace

void host_core_load() { core_load(false); }

void host_core_frame()
{
    if (host_frame.seconds >= next_poll) {
        next_poll = host_frame.seconds + 0.5;
        core_load(true);
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

// The game's image inside the main module, and import patching.
#include "sim/sim.h"
#include "dm_pe_imports.h"
#include <string.h>


namespace sim {
namespace {
const sim_exe_imports *exe;
const uint32_t image_start = 0x1000, image_end = 0x3700000;
} // namespace

uint8_t *game_base() { return (uint8_t *)GetModuleHandleA(nullptr); }

uint8_t *game_at(uint32_t offset)
{
    if (offset < image_start || offset >= image_end)
        return nullptr;
    return game_base() + offset;
}

void game_write(uint32_t offset, const void *bytes, size_t size)
{
    uint8_t *p = game_at(offset);
    if (p && offset + size <= image_end)
        memcpy(p, bytes, size);
}

void game_clear() { memset(game_base() + image_start, 0, image_end - image_start); }

const sim_exe_imports *exe_imports() { return exe; }

namespace {
BOOL(WINAPI *user32_clip_cursor)(const RECT *);
SRWLOCK clip_lock = SRWLOCK_INIT;
bool clip_set;
RECT clip_rect;

// Sits in the game's import slot before anything patches it, so every call
// that reaches user32 through that slot is seen.
BOOL WINAPI clip_cursor_recorder(const RECT *r)
{
    AcquireSRWLockExclusive(&clip_lock);
    clip_set = r != nullptr;
    if (r)
        clip_rect = *r;
    ReleaseSRWLockExclusive(&clip_lock);
    return user32_clip_cursor(r);
}
} // namespace

bool exe_last_clip(RECT *out)
{
    AcquireSRWLockShared(&clip_lock);
    bool set = clip_set;
    *out = clip_rect;
    ReleaseSRWLockShared(&clip_lock);
    return set;
}

void *patch_import(HMODULE module, const char *dll, const char *function, void *replacement)
{
    void **slot = dm_pe_import_slot(module, dll, function);
    if (!slot)
        return nullptr;
    DWORD old;
    VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
    void *previous = *slot;
    *slot = replacement;
    VirtualProtect(slot, sizeof *slot, old, &old);
    return previous;
}

} // namespace sim

extern "C" void sim_register_exe(const sim_exe_imports *imports)
{
    sim::exe = imports;
    sim::user32_clip_cursor = (BOOL(WINAPI *)(const RECT *))sim::patch_import(
        GetModuleHandleA(nullptr), "user32.dll", "ClipCursor", (void *)sim::clip_cursor_recorder);
    if (!sim::user32_clip_cursor) // not imported by name: nothing to watch
        sim::user32_clip_cursor = ClipCursor;
}

// Patching helpers shared by the overlay and the input routing.
//
// Index of this file:
// - saved previous entries (per slot, process life)
// - slot patching (virtual tables and imports)
// - module helpers
// - hook guard
#include "host_patch.h"
#include "dm_module.h"
#include "dm_pe_imports.h"
#include <stdio.h>

namespace {

// ---- saved previous entries ----

// The entry each slot held before our first patch of it. A slot whose last
// restore succeeded (nobody chained over us) takes a fresh previous value
// the next time it is patched; one that could not be restored keeps its
// saved value for good, since whoever chained over us still calls our hook
// and expects it to go on to the entry below us.
struct saved_slot {
    void *const *slot;
    void *volatile previous;
    volatile LONG settled; // 1: the previous value may no longer be replaced
};
saved_slot saved[64];
volatile LONG saved_count;
SRWLOCK saved_lock = SRWLOCK_INIT;

saved_slot *saved_find(void *const *slot)
{
    LONG n = saved_count;
    for (LONG i = 0; i < n; i++)
        if (saved[i].slot == slot)
            return &saved[i];
    return nullptr;
}

// Records the previous value of a slot we are about to patch; false when
// the table of saved slots is full.
bool saved_remember(void *const *slot, void *previous)
{
    AcquireSRWLockExclusive(&saved_lock);
    saved_slot *s = saved_find(slot);
    if (s) {
        if (!s->settled)
            s->previous = previous;
        s->settled = 1;
    } else if (saved_count < (LONG)(sizeof saved / sizeof saved[0])) {
        s = &saved[saved_count];
        s->slot = slot;
        s->previous = previous;
        s->settled = 1;
        InterlockedIncrement(&saved_count); // published after it is filled
    }
    ReleaseSRWLockExclusive(&saved_lock);
    return s != nullptr;
}

void saved_release(void *const *slot)
{
    AcquireSRWLockExclusive(&saved_lock);
    if (saved_slot *s = saved_find(slot))
        s->settled = 0;
    ReleaseSRWLockExclusive(&saved_lock);
}

} // namespace

void *host_slot_previous(void *const *slot)
{
    saved_slot *s = saved_find(slot);
    return s ? s->previous : nullptr;
}

// ---- slot patching ----

bool host_patch_slot(host_slot_patch *p, void **slot, void *replacement)
{
    if (*slot == replacement)
        return host_slot_previous(slot) != nullptr;
    DWORD old;
    if (!VirtualProtect(slot, sizeof(void *), PAGE_READWRITE, &old))
        return false;
    void *current = *slot;
    bool ok = saved_remember(slot, current) &&
              InterlockedCompareExchangePointer(slot, replacement, current) == current;
    VirtualProtect(slot, sizeof(void *), old, &old);
    if (!ok)
        return false;
    FlushInstructionCache(GetCurrentProcess(), slot, sizeof(void *));
    p->slot = slot;
    p->previous = current;
    p->replacement = replacement;
    return true;
}

bool host_unpatch_slot(host_slot_patch *p)
{
    if (!p->slot)
        return true;
    bool ok = false;
    DWORD old;
    if (*p->slot == p->replacement && VirtualProtect(p->slot, sizeof(void *), PAGE_READWRITE, &old)) {
        // Someone may chain over us between the look and the write: only
        // a slot that still holds ours gets the previous value back.
        ok = InterlockedCompareExchangePointer(p->slot, p->previous, p->replacement) == p->replacement;
        VirtualProtect(p->slot, sizeof(void *), old, &old);
    }
    if (ok)
        saved_release(p->slot);
    *p = {};
    return ok;
}

bool host_iat_hook(host_slot_patch *p, const char *module, const char *function, void *replacement)
{
    void **slot = dm_pe_import_slot(GetModuleHandleW(nullptr), module, function);
    return slot && host_patch_slot(p, slot, replacement);
}

// ---- module helpers ----

void host_module_name(const void *address, char *out, size_t size)
{
    if (!dm_module_file_name(dm_module_at(address), out, size))
        snprintf(out, size, "?");
}

void host_pin_self(const char *why)
{
    dm_module_pin((const void *)&host_pin_self);
    host_log("[host] ui: %s; the plug-in stays loaded", why);
}

// ---- hook guard ----

bool host_hook_fault(const char *what, volatile LONG *logged, const dm_seh_fault &fault)
{
    if (InterlockedExchange(logged, 1) == 0)
        host_log("[host] ui: %s faulted (0x%08lx)", what, fault.code);
    return false;
}

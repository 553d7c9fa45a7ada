/* Pointer slots that the overlay and the input routing patch (virtual-table
 * slots and import slots), the entries those slots held before us, the
 * guarded hook body, and the module helpers their log lines and teardown
 * use. */
#pragma once
#include "host.h"
#include "dm_guard.h"

/* One patched pointer slot (virtual table or import). A null slot address
 * means not patched. */
struct host_slot_patch {
    void **slot;
    void *previous;
    void *replacement;
};

/* Exchanges the replacement into the slot and records it; false when the
 * slot cannot be made writable. A slot that already holds the replacement
 * (an earlier start whose teardown could not restore it) counts as patched
 * and is left alone. */
bool host_patch_slot(host_slot_patch *p, void **slot, void *replacement);
/* Puts the previous value back only when the slot still holds ours (one
 * compare-exchange); false when it no longer does (someone chained over us)
 * or cannot be written. The record is cleared either way. */
bool host_unpatch_slot(host_slot_patch *p);
/* The entry that a slot held before we patched it, for the hooks to call:
 * kept per slot (so per table) for the life of the process, because a hook
 * may still be reached through someone who chained over it. Null when the
 * slot was never patched. */
void *host_slot_previous(void *const *slot);
/* The same for slot index of an object's own virtual table. */
inline void *host_object_previous(const void *object, int index)
{
    return host_slot_previous(&(*(void **const *)object)[index]);
}
/* Patches the game executable's import of function from module. */
bool host_iat_hook(host_slot_patch *p, const char *module, const char *function, void *replacement);

/* Base name of the module holding an address, "?" when none. */
void host_module_name(const void *address, char *out, size_t size);
/* Keeps the plug-in mapped for the life of the process. */
void host_pin_self(const char *why);

/* Runs a hook's own work under the guard: no fault and no C++ exception
 * leaves it into the game. A fault logs "[host] ui: <what> faulted
 * (0x%08lx)" (the first one of each hook only) and returns false. */
bool host_hook_fault(const char *what, volatile LONG *logged, const dm_seh_fault &fault);
template <typename F> bool host_hook_guarded(const char *what, F &&fn)
{
    static volatile LONG logged;
    dm_seh_fault fault = {};
    if (dm_guarded(fn, &fault))
        return true;
    return host_hook_fault(what, &logged, fault);
}

// Inline hooks (see inline_hook.h).
//
// Index of this file:
//   the absolute jump
//   patching a prologue   one locked 16-byte compare-exchange over the head
//   hook_install_inline
//   hook_remove        bytes back, bounded drain; the trampoline stays
#include "base/inline_hook.h"
#include <string.h>
#include "base/core.h"
#include "base/game_mem.h"

namespace {

/* ---- the absolute jump ---- */

void write_jump(uint8_t *at, uint64_t destination)
{
    static const uint8_t head[6] = { 0xFF, 0x25, 0x00, 0x00, 0x00, 0x00 }; // jmp [rip+0]
    memcpy(at, head, sizeof head);
    memcpy(at + 6, &destination, 8);
}

/* ---- patching a prologue ---- */

const size_t head_size = 16;

/* One lock cmpxchg16b: the 16 bytes at p become desired when they still
 * equal expected. */
bool cas16(volatile void *p, const uint8_t expected[16], const uint8_t desired[16])
{
    uint64_t e[2], d[2];
    memcpy(e, expected, 16);
    memcpy(d, desired, 16);
    bool ok;
    __asm__ __volatile__("lock cmpxchg16b %1"
                         : "=@ccz"(ok), "+m"(*(volatile __int128 *)p), "+a"(e[0]), "+d"(e[1])
                         : "b"(d[0]), "c"(d[1])
                         : "memory");
    return ok;
}

/* Writes bytes over the target's first length bytes, whose first
 * min(length, 16) bytes must still equal was. The head goes in one atomic
 * exchange (bytes 16 and 17 of a shorter patch keep their value); the bytes
 * after it are never reached while the jump is there, so they go in after
 * the head when installing (the jump first) and before it when removing
 * (the jump last). False when the head no longer matched (nothing written
 * by the exchange) or the protection could not be changed. */
bool patch_prologue(uint64_t target, const uint8_t *bytes, const uint8_t *was, size_t length, bool installing)
{
    uint8_t *p = (uint8_t *)(uintptr_t)target;
    DWORD old;
    if (!VirtualProtect(p, length, PAGE_EXECUTE_READWRITE, &old))
        return false;
    size_t head = length < head_size ? length : head_size;
    bool ok = false;
    if (!installing && length > head_size)
        memcpy(p + head_size, bytes + head_size, length - head_size);
    for (int tries = 0; tries < 8 && !ok; tries++) {
        uint8_t now[16], next[16];
        memcpy(now, (const void *)p, 16);
        if (memcmp(now, was, head) != 0)
            break; // someone else patched it meanwhile
        memcpy(next, now, 16);
        memcpy(next, bytes, head);
        ok = cas16(p, now, next); // fails only when bytes past the patch changed
    }
    if (ok && installing && length > head_size)
        memcpy(p + head_size, bytes + head_size, length - head_size);
    VirtualProtect(p, length, old, &old);
    FlushInstructionCache(GetCurrentProcess(), p, length);
    return ok;
}

} // namespace

/* ---- hook_install_inline ---- */

uint64_t hook_install_inline(inline_hook *h, uint64_t target, const uint8_t *expected, size_t length,
                             const void *detour)
{
    if (h->target || length < HOOK_LENGTH_MIN || length > HOOK_LENGTH_MAX)
        return 0;
    if (target % head_size != 0 || !probe_read(target, length) ||
        memcmp((const void *)(uintptr_t)target, expected, length) != 0)
        return 0;
    // What the trampoline must hold: the routine's bytes, then the jump back.
    uint8_t want[HOOK_LENGTH_MAX + HOOK_JUMP_SIZE];
    memcpy(want, (const void *)(uintptr_t)target, length);
    write_jump(want + length, target + length);
    uint8_t *tramp = (uint8_t *)(uintptr_t)h->trampoline;
    if (!tramp || memcmp(tramp, want, length + HOOK_JUMP_SIZE) != 0) {
        // A kept trampoline of other bytes stays as it is for whoever may
        // still call it.
        tramp = (uint8_t *)VirtualAlloc(nullptr, HOOK_TRAMPOLINE_SIZE, MEM_COMMIT | MEM_RESERVE,
                                        PAGE_EXECUTE_READWRITE);
        if (!tramp)
            return 0;
        memcpy(tramp, want, length + HOOK_JUMP_SIZE);
        FlushInstructionCache(GetCurrentProcess(), tramp, HOOK_TRAMPOLINE_SIZE);
        // The detour calls through this field: it is set before any thread
        // can reach the detour, and never zeroed.
        h->trampoline = (uint64_t)(uintptr_t)tramp;
    }
    memcpy(h->saved, want, length);

    uint8_t patch[HOOK_LENGTH_MAX];
    write_jump(patch, (uint64_t)(uintptr_t)detour);
    memset(patch + HOOK_JUMP_SIZE, 0xCC, length - HOOK_JUMP_SIZE);
    if (!patch_prologue(target, patch, h->saved, length, true))
        return 0; // the trampoline is kept for the next install
    // From now on a thread may be past the jump before it is counted: the
    // detour's code stays for the life of the game.
    core_pin_self();
    h->target = target;
    h->length = length;
    return h->trampoline;
}

/* ---- hook_remove ---- */

bool hook_remove(inline_hook *h, detour_gate *gate, const char *name)
{
    if (!h->target)
        return true;
    // What install wrote: the jump (its destination read back) and the filler.
    uint8_t ours[HOOK_LENGTH_MAX];
    uint64_t detour = 0;
    bool readable = probe_read(h->target, (size_t)h->length);
    if (readable)
        memcpy(&detour, (const void *)(uintptr_t)(h->target + 6), 8);
    write_jump(ours, detour);
    memset(ours + HOOK_JUMP_SIZE, 0xCC, HOOK_LENGTH_MAX - HOOK_JUMP_SIZE);
    bool restored = readable && memcmp((const void *)(uintptr_t)h->target, ours, (size_t)h->length) == 0 &&
                    patch_prologue(h->target, h->saved, ours, (size_t)h->length, false);
    bool drained = restored && detour_gate_drain(gate, HOOK_DRAIN_MS);
    if (!drained)
        core_log("[core] %s hook at %p: %s; trampoline kept, the core stays loaded", name,
                 (void *)(uintptr_t)h->target,
                 restored ? "detour still running after 1 s" : "our jump is no longer there");
    h->target = 0;
    h->length = 0;
    return drained;
}

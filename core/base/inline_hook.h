/* Inline hooks: a game routine's first bytes replaced by an absolute jump to a
 * detour, with a trampoline that runs the replaced bytes and jumps back, so
 * the detour can call the routine unchanged. Used by the draw and shadow
 * hooks (hooks.cpp) and the freight-row hook.
 *
 * Formats written to memory:
 *   absolute jump (14 bytes)  FF 25 00 00 00 00, then the u64 destination
 *                             (jmp through the 8 bytes after the instruction;
 *                             no register is touched, so RAX set by the
 *                             replaced bytes reaches the routine's body)
 *   trampoline (64 bytes RWX) the saved bytes, then the absolute jump to
 *                             target + length
 *   patched target            the absolute jump to the detour, then 0xCC up
 *                             to length
 *
 * Other threads may be running the routine while it is patched. The first
 * 16 bytes (which hold the whole jump) change in one locked 16-byte
 * compare-exchange, so no thread ever runs half-written bytes; the target
 * must be 16-byte aligned (a compiler's function entries are). Bytes past the
 * first 16 are never reached through the jump and are written outside it.
 *
 * A detour counts itself through a gate (detour_gate.h) for its whole
 * call. A thread can be past the jump but not yet counted, or come through
 * another program's hook that chained onto ours, at any time: so the core
 * that wrote a jump stays mapped for the life of the game (it pins itself
 * at the first install), and a trampoline, once made, is never freed or
 * zeroed: removal puts the bytes back, waits (bounded) for the detours
 * inside the gate, and leaves the trampoline in the record, where the next
 * install of the same routine takes it again. Game thread only, except the
 * detours. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "base/detour_gate.h"

#define HOOK_JUMP_SIZE 14
#define HOOK_LENGTH_MIN 14
#define HOOK_LENGTH_MAX 32
#define HOOK_TRAMPOLINE_SIZE 64

typedef struct inline_hook {
    uint64_t target;     /* the patched routine; 0 while not installed (empty) */
    uint64_t trampoline; /* 0 until the first install; set before the jump is
                            written, kept callable after removal */
    uint8_t saved[HOOK_LENGTH_MAX];
    uint64_t length;
} inline_hook;

/* Installs the hook; returns the trampoline, or 0 with nothing changed (the
 * record not empty, a length outside 14..32, a target not 16-byte aligned,
 * bytes that cannot be read or differ from expected, no memory, no write
 * access). A kept trampoline that holds these bytes and the jump back is
 * taken again; otherwise a new one is made (the old one stays callable). */
uint64_t hook_install_inline(inline_hook *h, uint64_t target, const uint8_t *expected, size_t length,
                             const void *detour);

/* Undoes one hook (nothing for an empty record) and empties the record (the
 * trampoline stays). Waits up to HOOK_DRAIN_MS for the detours inside the
 * gate; when one is still running then, or our jump is no longer there,
 * logs a line naming the hook and returns false. */
#define HOOK_DRAIN_MS 1000
bool hook_remove(inline_hook *h, detour_gate *gate, const char *name);

/* Inline hooks: a game routine's first bytes replaced by an absolute jump to a
 * stub of ours outside the core's image, which counts the thread in and
 * calls the detour; a trampoline runs the replaced bytes and jumps back, so
 * the detour can call the routine unchanged. Used by the draw and shadow
 * hooks (hooks.cpp) and the freight-row hook.
 *
 * Formats written to memory:
 *   absolute jump (14 bytes)  FF 25 00 00 00 00, then the u64 destination
 *                             (jmp through the 8 bytes after the instruction;
 *                             no register is touched, so RAX set by the
 *                             replaced bytes reaches the routine's body)
 *   patched target            the absolute jump to the block's stub, then
 *                             0xCC up to length
 *   hook block                8 KB of our own, one per routine for the life
 *                             of the process (HOOK_BLOCK_*):
 *     page 0, read and execute
 *       +0x000  trampoline: the saved bytes, then the absolute jump to
 *               target + length
 *       +0x040  stub: lock inc the count; load the detour; when it is 0,
 *               lock dec and jump to the trampoline (the routine as if not
 *               hooked); otherwise sub rsp 0x28, call it, lock dec, add rsp
 *               0x28, ret
 *       +0x080  the stub's unwind handler: lock dec the count when an
 *               unwind passes the stub's frame
 *       +0x0C0  the stub's function entry and unwind data (registered with
 *               RtlAddFunctionTable, so an exception unwinds through it)
 *     page 1, read and write
 *       +0x1000 tag "drovemark hook 1", u64 target at +0x1010, u64 detour at
 *               +0x1018 (0 while no core has the routine hooked), i32
 *               count at +0x1020 (threads inside the stub)
 *   The detours take at most four integer arguments: the stub passes the
 *   registers on and no stack argument.
 *
 * Other threads may be running the routine while it is patched. The first
 * 16 bytes (which hold the whole jump) change in one locked 16-byte
 * compare-exchange, so no thread ever runs half-written bytes; the target
 * must be 16-byte aligned (a compiler's function entries are). Bytes past the
 * first 16 are never reached through the jump and are written outside it.
 *
 * Why the stub: a thread can be past the jump but not yet counted, or come
 * through another program's hook that chained onto ours, at any time. Such a
 * thread only ever runs the stub and the trampoline, which stay for the life
 * of the game; it reaches the core's code only after the stub counted it.
 * Removal puts the bytes back, sets the detour to 0 and waits (bounded) for
 * the count to reach 0: from then on no thread is in or can enter the
 * core's detour, and the core may be unloaded. A core whose detour is still
 * running after the wait pins itself (it stays mapped until the game exits).
 * Blocks are noted in a named section (HOOK_BLOCKS_NAME) so the next core
 * takes the same block again instead of making one more a reload. Game
 * thread only, except the detours. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "base/detour_gate.h"

#define HOOK_JUMP_SIZE 14
#define HOOK_LENGTH_MIN 14
#define HOOK_LENGTH_MAX 32
#define HOOK_BLOCK_SIZE 0x2000
#define HOOK_BLOCK_STUB 0x40
#define HOOK_BLOCK_DATA 0x1000
#define HOOK_BLOCKS_NAME "Localdrovemark_hook_blocks_%lu"

typedef struct inline_hook {
    uint64_t target;     /* the patched routine; 0 while not installed (empty) */
    uint64_t trampoline; /* the hook block (its trampoline first); 0 until the
                            first install; set before the jump is written,
                            kept callable after removal */
    uint8_t saved[HOOK_LENGTH_MAX];
    uint64_t length;
} inline_hook;

/* Installs the hook; returns the trampoline, or 0 with nothing changed (the
 * record not empty, a length outside 14..32, a target not 16-byte aligned,
 * bytes that cannot be read or differ from expected, no memory, no write
 * access). A kept block whose trampoline holds these bytes and the jump
 * back (the record's own, or the one noted for the routine by an earlier
 * core) is taken again; otherwise a new one is made (the old one stays
 * callable). */
uint64_t hook_install_inline(inline_hook *h, uint64_t target, const uint8_t *expected, size_t length,
                             const void *detour);

/* Undoes one hook (nothing for an empty record) and empties the record (the
 * block stays). Waits up to HOOK_DRAIN_MS in all for the detours inside the
 * gate and for the threads inside the stub. When one is still running then,
 * the core pins itself; when our jump is no longer there (another hook
 * chained onto ours), the calls through it go straight to the routine. Either
 * way it logs a line naming the hook and returns false. */
#define HOOK_DRAIN_MS 1000
bool hook_remove(inline_hook *h, detour_gate *gate, const char *name);

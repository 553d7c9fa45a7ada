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
 * A detour counts itself while it runs (hook_in_flight_scope); removal puts
 * the bytes back, then waits (bounded) for that count to reach zero before it
 * frees the trampoline. Game thread only, except the detours. */
#pragma once
#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#define HOOK_JUMP_SIZE 14
#define HOOK_LENGTH_MIN 14
#define HOOK_LENGTH_MAX 32
#define HOOK_TRAMPOLINE_SIZE 64

typedef struct inline_hook {
    uint64_t target;     /* the patched routine; 0 while not installed */
    uint64_t trampoline; /* 0 when none; set before the jump is written */
    uint8_t saved[HOOK_LENGTH_MAX];
    uint64_t length;
} inline_hook;

/* Every detour holds one of these for the whole call. */
struct hook_in_flight_scope {
    volatile LONG *count;
    explicit hook_in_flight_scope(volatile LONG *c) : count(c) { InterlockedIncrement(count); }
    ~hook_in_flight_scope() { InterlockedDecrement(count); }
};

/* Installs the hook; returns the trampoline, or 0 with nothing changed (the
 * record not empty, a length outside 14..32, a target not 16-byte aligned,
 * bytes that cannot be read or differ from expected, no memory, no write
 * access). */
uint64_t hook_install_inline(inline_hook *h, uint64_t target, const uint8_t *expected, size_t length,
                             const void *detour);

/* Undoes one hook (nothing for an empty record) and empties the record. The
 * trampoline is freed once in_flight (the detour's count) reached zero;
 * when it does not within HOOK_DRAIN_MS, the trampoline is left in place,
 * the core is pinned so the running detours keep their code, and false is
 * returned (after a log line naming the hook). */
#define HOOK_DRAIN_MS 1000
bool dm_hook_remove(inline_hook *h, volatile LONG *in_flight, const char *name);

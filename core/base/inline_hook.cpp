// Inline hooks (see inline_hook.h).
//
// Index of this file:
//   the absolute jump     and the patch a hook writes
//   patching a prologue   one locked 16-byte compare-exchange over the head
//   the hook block        trampoline, stub, unwind data; made once a routine
//   the blocks noted      the named section that hands a block to the next core
//   hook_install_inline
//   hook_remove        bytes back, detour off, bounded drain; the block stays
#include "base/inline_hook.h"
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "base/game_mem.h"
#include "base/shared_section.h"

namespace {

/* ---- the absolute jump ---- */

void write_jump(uint8_t *at, uint64_t destination)
{
    static const uint8_t head[6] = { 0xFF, 0x25, 0x00, 0x00, 0x00, 0x00 }; // jmp [rip+0]
    memcpy(at, head, sizeof head);
    memcpy(at + 6, &destination, 8);
}

/* What a hook writes over its routine: the jump to the block's stub, then
 * 0xCC up to HOOK_LENGTH_MAX (a hook of length n uses the first n bytes). */
void write_patch(uint8_t out[HOOK_LENGTH_MAX], uint64_t block)
{
    write_jump(out, block + HOOK_BLOCK_STUB);
    memset(out + HOOK_JUMP_SIZE, 0xCC, HOOK_LENGTH_MAX - HOOK_JUMP_SIZE);
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


/* ---- the hook block ---- */

const size_t block_handler = 0x80, block_function = 0xC0, block_unwind = 0xD0;
const char block_tag[16] = { 'd', 'r', 'o', 'v', 'e', 'm', 'a', 'r', 'k', ' ', 'h', 'o', 'o', 'k', ' ', '1' };

struct block_data {
    char tag[16];
    uint64_t target;
    uint64_t detour;        /* the running core's detour; 0: straight to the routine */
    volatile int32_t count; /* threads past the stub's count-in */
};
static_assert(sizeof(block_data) <= 40, "the data page's fields as the header lists them");

block_data *data_of(uint64_t block) { return (block_data *)(uintptr_t)(block + HOOK_BLOCK_DATA); }

/* Puts code bytes at `at` in the block, with the rel32 field at `field`
 * (an offset into the bytes) aimed at `to`; the displacement counts from
 * the end of the instruction, `length` bytes after `at`. */
void put_rel32(uint8_t *block, size_t at, const uint8_t *bytes, size_t length, size_t field, size_t to)
{
    memcpy(block + at, bytes, length);
    int32_t d = (int32_t)((int64_t)to - (int64_t)(at + length));
    memcpy(block + at + field, &d, 4);
}

/* The stub, its unwind handler and its unwind data, as the header lists
 * them; count and detour are the data page's fields. */
void write_stub(uint8_t *b)
{
    const size_t stub = HOOK_BLOCK_STUB, count = HOOK_BLOCK_DATA + offsetof(block_data, count),
                 detour = HOOK_BLOCK_DATA + offsetof(block_data, detour);
    static const uint8_t inc[7] = { 0xF0, 0xFF, 0x05, 0, 0, 0, 0 };   // lock inc dword [rip+count]
    static const uint8_t load[7] = { 0x48, 0x8B, 0x05, 0, 0, 0, 0 };  // mov rax, [rip+detour]
    static const uint8_t test_jz[5] = { 0x48, 0x85, 0xC0, 0x74, 18 }; // test rax, rax; jz pass
    static const uint8_t call[6] = { 0x48, 0x83, 0xEC, 0x28, 0xFF, 0xD0 }; // sub rsp, 0x28; call rax
    static const uint8_t dec[7] = { 0xF0, 0xFF, 0x0D, 0, 0, 0, 0 };   // lock dec dword [rip+count]
    static const uint8_t leave[5] = { 0x48, 0x83, 0xC4, 0x28, 0xC3 }; // add rsp, 0x28; ret
    static const uint8_t back[5] = { 0xE9, 0, 0, 0, 0 };              // jmp trampoline
    put_rel32(b, stub + 0, inc, 7, 3, count);
    put_rel32(b, stub + 7, load, 7, 3, detour);
    memcpy(b + stub + 14, test_jz, 5);
    memcpy(b + stub + 19, call, 6); // the prologue ends after the sub, at 23
    put_rel32(b, stub + 25, dec, 7, 3, count);
    memcpy(b + stub + 32, leave, 5);
    // pass (stub + 37): outside the function entry, a frame of nothing
    put_rel32(b, stub + 37, dec, 7, 3, count);
    put_rel32(b, stub + 44, back, 5, 1, 0);

    // The unwind handler: when an unwind passes (ExceptionFlags at +4 has
    // EXCEPTION_UNWINDING or EXCEPTION_EXIT_UNWIND), the thread leaves the
    // count; then ExceptionContinueSearch.
    static const uint8_t flags[6] = { 0xF6, 0x41, 0x04, 0x06, 0x74, 0x07 }; // test byte [rcx+4], 6; jz +7
    static const uint8_t search[6] = { 0xB8, 0x01, 0x00, 0x00, 0x00, 0xC3 }; // mov eax, 1; ret
    memcpy(b + block_handler, flags, 6);
    put_rel32(b, block_handler + 6, dec, 7, 3, count);
    memcpy(b + block_handler + 13, search, 6);

    // The function entry covers the counted path only: stub .. stub + 37.
    RUNTIME_FUNCTION *f = (RUNTIME_FUNCTION *)(b + block_function);
    f->BeginAddress = (DWORD)stub;
    f->EndAddress = (DWORD)(stub + 37);
    f->UnwindData = (DWORD)block_unwind;
    // Version 1 with an unwind handler; prologue 23 bytes; one code:
    // UWOP_ALLOC_SMALL of 0x28 at 23 (and one slot of padding); the handler.
    const uint8_t unwind[8] = { 0x01 | (UNW_FLAG_UHANDLER << 3), 23, 1, 0, 23, 0x42, 0, 0 };
    memcpy(b + block_unwind, unwind, 8);
    DWORD handler = (DWORD)block_handler;
    memcpy(b + block_unwind + 8, &handler, 4);
}

/* A new block for a routine whose trampoline is `want` (n bytes); 0 when
 * memory or protection fails (then nothing was left behind). */
uint64_t block_make(uint64_t target, const uint8_t *want, size_t n)
{
    uint8_t *b = (uint8_t *)VirtualAlloc(nullptr, HOOK_BLOCK_SIZE, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!b)
        return 0;
    memcpy(b, want, n);
    write_stub(b);
    block_data *d = data_of((uint64_t)(uintptr_t)b);
    memcpy(d->tag, block_tag, sizeof block_tag);
    d->target = target;
    DWORD old;
    if (!VirtualProtect(b, HOOK_BLOCK_DATA, PAGE_EXECUTE_READ, &old) ||
        !RtlAddFunctionTable((RUNTIME_FUNCTION *)(b + block_function), 1, (DWORD64)(uintptr_t)b)) {
        VirtualFree(b, 0, MEM_RELEASE); // no thread has seen it yet
        return 0;
    }
    FlushInstructionCache(GetCurrentProcess(), b, HOOK_BLOCK_DATA);
    return (uint64_t)(uintptr_t)b;
}

/* A block of ours for this routine, with this trampoline. */
bool block_fits(uint64_t block, uint64_t target, const uint8_t *want, size_t n)
{
    if (!block || !probe_read(block, HOOK_BLOCK_SIZE))
        return false;
    block_data *d = data_of(block);
    return memcmp(d->tag, block_tag, sizeof block_tag) == 0 && d->target == target &&
           memcmp((const void *)(uintptr_t)block, want, n) == 0;
}

/* ---- the blocks noted ----
 * One row a routine, {target, block}, in a section every core build maps;
 * a core that cannot map it keeps its own rows (then a reload makes a new
 * block, 8 KB). */

struct noted_block {
    uint64_t target, block;
};
const int noted_max = 16;

noted_block *noted_rows()
{
    static noted_block own[noted_max];
    static noted_block *rows;
    if (!rows) {
        char name[64];
        snprintf(name, sizeof name, HOOK_BLOCKS_NAME, (unsigned long)GetCurrentProcessId());
        rows = (noted_block *)section_map(name, sizeof(noted_block) * noted_max);
        if (!rows)
            rows = own;
    }
    return rows;
}

uint64_t noted_block_for(uint64_t target)
{
    noted_block *rows = noted_rows();
    for (int i = 0; i < noted_max; i++)
        if (rows[i].target == target)
            return rows[i].block;
    return 0;
}

void note_block(uint64_t target, uint64_t block)
{
    noted_block *rows = noted_rows();
    int free_row = -1;
    for (int i = 0; i < noted_max; i++) {
        if (rows[i].target == target) {
            rows[i].block = block;
            return;
        }
        if (!rows[i].target && free_row < 0)
            free_row = i;
    }
    if (free_row >= 0) {
        rows[free_row].block = block;
        rows[free_row].target = target;
    }
}

/* Waits until no thread is inside the stub, up to the deadline. */
bool stub_drain(block_data *d, DWORD started, DWORD timeout_ms)
{
    while (__atomic_load_n(&d->count, __ATOMIC_SEQ_CST) != 0) {
        if (GetTickCount() - started >= timeout_ms)
            return false;
        Sleep(1);
    }
    return true;
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
    size_t n = length + HOOK_JUMP_SIZE;
    uint64_t block = h->trampoline;
    if (!block_fits(block, target, want, n))
        block = noted_block_for(target);
    if (!block_fits(block, target, want, n)) {
        // A kept block of other bytes stays as it is for whoever may still
        // call it.
        block = block_make(target, want, n);
        if (!block)
            return 0;
    }
    // The detour calls through this field: it is set before any thread can
    // reach the detour, and never zeroed.
    h->trampoline = block;
    note_block(target, block);
    memcpy(h->saved, want, length);

    block_data *d = data_of(block);
    __atomic_store_n(&d->detour, (uint64_t)(uintptr_t)detour, __ATOMIC_SEQ_CST);
    uint8_t patch[HOOK_LENGTH_MAX];
    write_patch(patch, block);
    if (!patch_prologue(target, patch, h->saved, length, true)) {
        __atomic_store_n(&d->detour, 0, __ATOMIC_SEQ_CST);
        return 0; // the block is kept for the next install
    }
    h->target = target;
    h->length = length;
    return h->trampoline;
}

/* ---- hook_remove ---- */

bool hook_remove(inline_hook *h, detour_gate *gate, const char *name)
{
    if (!h->target)
        return true;
    // What install wrote: the jump to the stub and the filler.
    uint8_t ours[HOOK_LENGTH_MAX];
    write_patch(ours, h->trampoline);
    bool restored = probe_read(h->target, (size_t)h->length) &&
                    memcmp((const void *)(uintptr_t)h->target, ours, (size_t)h->length) == 0 &&
                    patch_prologue(h->target, h->saved, ours, (size_t)h->length, false);
    // From here a thread the stub counts in goes straight to the routine;
    // one counted before this store is waited for (the count is read after
    // it, and the stub reads the detour after counting itself in).
    block_data *d = data_of(h->trampoline);
    __atomic_exchange_n(&d->detour, 0, __ATOMIC_SEQ_CST);
    DWORD started = GetTickCount();
    bool drained = detour_gate_drain(gate, HOOK_DRAIN_MS) && stub_drain(d, started, HOOK_DRAIN_MS);
    if (!drained)
        core_pin_self(); // our detour may still return into this image
    if (!restored || !drained)
        core_log("[core] %s hook at %p: %s; %s", name, (void *)(uintptr_t)h->target,
                 restored ? "detour still running after 1 s" : "our jump is no longer there",
                 drained ? "calls through it go straight to the game's routine"
                         : "trampoline kept, the core stays loaded");
    h->target = 0;
    h->length = 0;
    return restored && drained;
}

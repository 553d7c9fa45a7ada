// The game-memory access layer. Every read of a pointer taken from game
// memory goes through a page probe or a structured-exception guard.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"

int game_build_state = -1;
uint32_t last_fault_code;
uint64_t last_fault_address;
uint64_t last_fault_data;

uint64_t game_va(uint64_t address) { return address - game_base + GAME_PREFERRED_BASE; }
uint64_t game_from_va(uint64_t va) { return game_base - GAME_PREFERRED_BASE + va; }
uint64_t game_addr(uint32_t offset) { return game_base + offset; }

bool probe_read(uint64_t address, size_t size)
{
    if (size == 0)
        return true;
    if (address == 0 || address + size < address)
        return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    uint64_t at = address, end = address + size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION mbi;
        if (VirtualQuery((const void *)(uintptr_t)at, &mbi, sizeof mbi) != sizeof mbi)
            return false;
        if (mbi.State != MEM_COMMIT || (mbi.Protect & (PAGE_NOACCESS | PAGE_GUARD)) ||
            !(mbi.Protect & readable))
            return false;
        uint64_t region_end = (uint64_t)(uintptr_t)mbi.BaseAddress + mbi.RegionSize;
        if (region_end <= at)
            return false;
        at = region_end;
    }
    return true;
}

namespace {

// Copies size bytes from a game address under the guard, byte by byte
// through a volatile source so the compiler cannot widen or hoist the reads.
bool guarded_copy(void *out, uint64_t from, size_t size)
{
    return dm_guarded([=] {
        volatile const uint8_t *src = (volatile const uint8_t *)(uintptr_t)from;
        uint8_t *dst = (uint8_t *)out;
        for (size_t i = 0; i < size; i++)
            dst[i] = src[i];
    });
}

template <typename T> bool safe_read(uint64_t address, T *out)
{
    T value;
    if (!guarded_copy(&value, address, sizeof(T)))
        return false;
    *out = value;
    return true;
}

} // namespace

bool safe_read_u8(uint64_t address, uint8_t *out) { return safe_read(address, out); }
bool safe_read_u64(uint64_t address, uint64_t *out) { return safe_read(address, out); }

bool game_copy_guarded(void *out, uint64_t address, size_t size)
{
    return probe_read(address, size) && guarded_copy(out, address, size);
}

uint64_t game_take(game_taken *taken, uint64_t pointer, size_t size)
{
    if (pointer != taken->pointer || !taken->readable) {
        taken->pointer = pointer;
        taken->readable = pointer && probe_read(pointer, size);
    }
    return taken->readable ? pointer : 0;
}

bool game_copy_unprobed(void *out, uint64_t address, size_t size) { return guarded_copy(out, address, size); }

bool game_read_guarded_text(uint64_t address, char *out, size_t size)
{
    if (size == 0)
        return false;
    out[0] = 0;
    size_t have = 0;
    // A page at a time: the name may end in the page before one that
    // cannot be read, and nothing past the first NUL is needed.
    while (have < size - 1) {
        uint64_t at = address + have;
        size_t chunk = (size_t)(0x1000 - (at & 0xFFF));
        if (chunk > size - 1 - have)
            chunk = size - 1 - have;
        if (!game_copy_guarded(out + have, at, chunk))
            break;
        size_t len = strnlen(out + have, chunk);
        have += len;
        if (len < chunk)
            break;
    }
    out[have] = 0;
    return have > 0 || probe_read(address, 1);
}

void game_render_word_set(game_render_word *w, uint64_t manager)
{
    if (!manager)
        return;
    w->saved = game_field<volatile uint32_t>(manager, GAME_CAMERA_RENDER_WORD);
    game_field<volatile uint32_t>(manager, GAME_CAMERA_RENDER_WORD) = 1;
    w->manager = manager; // from here on the word must be put back
}

bool game_render_word_restore(game_render_word *w)
{
    uint64_t manager = w->manager;
    uint32_t value = w->saved;
    if (!manager)
        return true;
    return dm_guarded([&] { game_field<volatile uint32_t>(manager, GAME_CAMERA_RENDER_WORD) = value; });
}

long fault_record_filter(EXCEPTION_POINTERS *pointers, void *)
{
    const EXCEPTION_RECORD *rec = pointers->ExceptionRecord;
    last_fault_code = rec->ExceptionCode;
    last_fault_address = (uint64_t)(uintptr_t)rec->ExceptionAddress;
    last_fault_data = rec->NumberParameters >= 2 ? (uint64_t)rec->ExceptionInformation[1] : 0;
    return EXCEPTION_EXECUTE_HANDLER;
}

bool game_build_ok()
{
    if (game_build_state >= 0)
        return game_build_state == 1;
    uint64_t at = game_addr(GAME_OFF_BUILD_HASH);
    uint64_t head, want_head;
    uint32_t tail, want_tail;
    memcpy(&want_head, GAME_BUILD_HASH, 8);
    memcpy(&want_tail, GAME_BUILD_HASH + 8, 4);
    bool ok = game_read_guarded(at, &head) && game_read_guarded(at + 8, &tail) && head == want_head &&
              tail == want_tail;
    game_build_state = ok ? 1 : 0;
    return ok;
}

void game_build_report()
{
    char text[13] = {};
    uint64_t at = game_addr(GAME_OFF_BUILD_HASH);
    if (game_copy_guarded(text, at, 12)) {
        for (int i = 0; i < 12; i++)
            if (text[i] && ((uint8_t)text[i] < 32 || (uint8_t)text[i] > 126))
                text[i] = '?';
    } else {
        memset(text, 0, sizeof text);
    }
    bool ok = game_build_ok();
    core_log("[core] build hash at 0x142256940: '%s' (expected prefix da49adfbbbdb for 1.61.3.1)%s",
             text, ok ? "" : " -- WRONG GAME BUILD: game-memory features are OFF (telemetry + network only)");
}

const char *game_class_name(uint64_t class_object, char *out, size_t size)
{
    uint64_t name_object = 0, chars = 0;
    if (!class_object || !game_read_guarded(class_object, &name_object) || !name_object ||
        !game_read_guarded(name_object, &chars) || !chars || !game_read_guarded_text(chars, out, size))
        snprintf(out, size, "?");
    return out;
}

uint64_t game_object_class(uint64_t object)
{
    uint64_t vtable = 0, get_class = 0, result = 0;
    if (!object || !game_read_guarded(object, &vtable) || !vtable ||
        !game_read_guarded(game_vslot_entry(vtable, GAME_VSLOT_GET_CLASS), &get_class) || !get_class)
        return 0;
    if (!dm_guarded_filter([&] { result = ((uint64_t(*)(uint64_t))(uintptr_t)get_class)(object); },
                           fault_record_filter, nullptr))
        return 0;
    return result;
}

bool game_class_reaches(uint64_t class_object, uint64_t target)
{
    uint64_t c = class_object;
    for (int i = 0; i < (int)GAME_CLASS_CHAIN_MAX && c; i++) {
        if (c == target)
            return true;
        if (!game_read_guarded(c + GAME_CLASS_PARENT, &c))
            return false;
    }
    return false;
}

bool game_is_trailer_actor(uint64_t object)
{
    uint64_t vtable = 0;
    if (!object || !probe_read(object, GAME_TRAILER_ACTOR_SIZE) || !game_read_guarded(object, &vtable) ||
        vtable != game_addr(GAME_OFF_TRAILER_ACTOR_VTABLE))
        return false;
    return game_object_class(object) == game_addr(GAME_OFF_TRAILER_ACTOR_CLASS);
}

void game_take_ref(uint64_t object)
{
    volatile LONG *word = (volatile LONG *)(uintptr_t)(object + GAME_REF_WORD);
    InterlockedOr(word, (LONG)GAME_REF_CORE_FLAG);
    InterlockedIncrement(word);
}

void game_add_ref(uint64_t object) { InterlockedIncrement((volatile LONG *)(uintptr_t)(object + GAME_REF_WORD)); }

void game_release(uint64_t object)
{
    game_vslot<void (*)(uint64_t)>(object, GAME_VSLOT_RELEASE)(object);
    LONG now = InterlockedDecrement((volatile LONG *)(uintptr_t)(object + GAME_REF_WORD));
    if (((uint32_t)now & GAME_REF_COUNT_MASK) == 0)
        game_fn<void (*)(uint64_t)>(GAME_OFF_DESTROY)(object);
}

uint64_t game_create_unit(uint64_t class_record_va)
{
    uint32_t index = *(const uint32_t *)(uintptr_t)game_addr(GAME_OFF_FACTORY_INDEX);
    // Only indices 0..3 name a factory; anything else is "none" (never past the table).
    if (index >= GAME_FACTORY_COUNT)
        return 0;
    uint64_t factory = *(const uint64_t *)(uintptr_t)(game_addr(GAME_OFF_FACTORY_TABLE) + 8ull * index);
    if (!factory)
        return 0;
    uint64_t record = game_from_va(class_record_va);
    uint64_t create = *(const uint64_t *)(uintptr_t)(record + 8);
    if (!create)
        return 0;
    return ((uint64_t(*)(uint64_t))(uintptr_t)create)(factory);
}

uint64_t game_ctrl_guarded() { return game_image_value<uint64_t>(GAME_OFF_CTRL); }

namespace {

/* game_ctrl and the player block, asked for in every frame by several
 * steps: each probed when it is taken (a profile loaded), up to the link
 * read from it, then read under the guard alone. */
game_taken taken_ctrl, taken_block;

uint64_t link_of(game_taken *taken, uint64_t object, uint32_t offset)
{
    uint64_t link = 0;
    if (!game_take(taken, object, offset + 8ull) || !game_copy_unprobed(&link, object + offset, sizeof link))
        return 0;
    return link;
}

} // namespace

uint64_t game_player_block_guarded() { return link_of(&taken_ctrl, game_ctrl_guarded(), GAME_CTRL_PLAYER_BLOCK); }

uint64_t game_local_truck() { return link_of(&taken_block, game_player_block_guarded(), GAME_PLAYER_LOCAL_TRUCK); }

int game_object_placement(uint64_t object, placement *out)
{
    uint64_t vtable = 0, fn = 0, result = 0;
    placement got = {};
    if (!object || !game_read_guarded(object, &vtable) || !vtable ||
        !game_read_guarded(game_vslot_entry(vtable, GAME_VSLOT_GET_PLACEMENT), &fn) || !fn)
        return GAME_PLACEMENT_UNREADABLE;
    if (!dm_guarded_filter([&] { result = ((uint64_t(*)(uint64_t, placement *))(uintptr_t)fn)(object, &got); },
                           fault_record_filter, nullptr))
        return GAME_PLACEMENT_FAULTED;
    if ((result & 0xFF) == 0)
        return GAME_PLACEMENT_FALSE;
    *out = got;
    return GAME_PLACEMENT_OK;
}

bool local_truck_placement(placement *out)
{
    uint64_t truck = game_local_truck();
    memset(out, 0, sizeof *out);
    int r = truck ? game_object_placement(truck, out) : GAME_PLACEMENT_UNREADABLE;
    if (r == GAME_PLACEMENT_UNREADABLE)
        core_log("[core] no local truck (game_ctrl=%p)", (void *)(uintptr_t)game_ctrl_guarded());
    else if (r == GAME_PLACEMENT_FAULTED)
        core_log("[core] get_placement faulted (0x%08x at game VA 0x%llx, data addr %p)", last_fault_code,
                 (unsigned long long)game_va(last_fault_address), (void *)(uintptr_t)last_fault_data);
    else if (r == GAME_PLACEMENT_FALSE)
        core_log("[core] get_placement returned false");
    return r == GAME_PLACEMENT_OK;
}

void log_placement(const char *label, const placement *p)
{
    core_log("[core] %s: local(%.3f, %.3f, %.3f) sector(%d, %d) -> world(%.3f, %.3f, %.3f) "
             "q(w=%.4f x=%.4f y=%.4f z=%.4f)",
             label, p->x, p->y, p->z, p->sector_x, p->sector_z, placement_world_x(p), (double)p->y,
             placement_world_z(p), p->qw, p->qx, p->qy, p->qz);
}

// The simulated game's memory framework (see sim_game.h).
#include "sim/sim_game.h"
#include "sim/sim_convoy.h"
#include <stdio.h>
#include <array>
#include <map>
#include <mutex>
#include <utility>

namespace sim {
namespace {

const uint32_t image_start = 0x1000, image_end = 0x3700000;

std::mutex calls_mutex;
std::vector<call> recorded;
call_observer observer;

/* Objects are carved out of large reservations (arenas): each one's body
 * is committed and followed by a page left reserved, so a read past its end
 * faults; a released object's pages are decommitted in place and never
 * taken again. A reservation of its own for each object would leave one
 * address range (a mapping of the host's kernel, under Wine) for every
 * object ever made, and a long run would use them all up. */
const size_t page = 0x1000, arena_bytes = (size_t)64 << 20;
struct arena {
    uint8_t *base;
    size_t used, size;
};
std::vector<arena> arenas;
std::map<uintptr_t, size_t> allocations; /* body start -> body bytes, every object made */
SRWLOCK objects_lock = SRWLOCK_INIT;
uint64_t slot_results[vtable_max_slots];

uint8_t truck_placement[32];
bool truck_placement_result = true;

template <int N> uint64_t slot_fake(uint64_t a0, uint64_t a1, uint64_t a2, uint64_t a3)
{
    char name[16];
    snprintf(name, sizeof name, "vslot%d", N);
    record(name, a0, a1, a2, a3);
    return slot_results[N];
}

template <size_t... I> constexpr std::array<void *, sizeof...(I)> make_slot_fakes(std::index_sequence<I...>)
{
    return { (void *)&slot_fake<(int)I>... };
}
const std::array<void *, vtable_max_slots> slot_fakes = make_slot_fakes(std::make_index_sequence<vtable_max_slots>());

void fill_vtable(void **vt, int slots)
{
    for (int i = 0; i < slots && i < vtable_max_slots; i++)
        vt[i] = slot_fakes[i];
}

uint64_t truck_get_placement(uint64_t truck, uint64_t out, uint64_t, uint64_t)
{
    record("get_placement", truck, out);
    memcpy((void *)(uintptr_t)out, truck_placement, sizeof truck_placement);
    return truck_placement_result ? 1 : 0;
}

} // namespace

void game_reset()
{
    DWORD old;
    VirtualProtect(game_base() + image_start, image_end - image_start, PAGE_EXECUTE_READWRITE, &old);
    convoy_forget(); // its objects go with the others
    game_clear();
    AcquireSRWLockExclusive(&objects_lock);
    for (auto &a : arenas)
        VirtualFree(a.base, 0, MEM_RELEASE);
    arenas.clear();
    allocations.clear();
    ReleaseSRWLockExclusive(&objects_lock);
    calls_clear();
    observer = nullptr;
    memset(slot_results, 0, sizeof slot_results);
    memset(truck_placement, 0, sizeof truck_placement);
    truck_placement_result = true;
}

void set_build_hash(const char *text)
{
    char bytes[12] = {};
    memcpy(bytes, text, strnlen(text, 12));
    game_write(off::build_hash, bytes, 12);
}

uint64_t game_va(const void *address) { return (uint64_t)(uintptr_t)address - (uint64_t)(uintptr_t)game_base() + preferred_base; }
uint8_t *game_from_va(uint64_t va) { return game_base() + (va - preferred_base); }

void record(const char *name, uint64_t a0, uint64_t a1, uint64_t a2, uint64_t a3)
{
    call c = { name, { a0, a1, a2, a3 } };
    {
        std::lock_guard<std::mutex> g(calls_mutex);
        recorded.push_back(c);
    }
    if (call_observer o = observer)
        o(c);
}

void calls_observe(call_observer o) { observer = o; }

std::vector<call> calls()
{
    std::lock_guard<std::mutex> g(calls_mutex);
    return recorded;
}

std::vector<call> calls_named(const char *name)
{
    std::vector<call> out;
    for (auto &c : calls())
        if (c.name == name)
            out.push_back(c);
    return out;
}

void calls_clear()
{
    std::lock_guard<std::mutex> g(calls_mutex);
    recorded.clear();
}

uint8_t *game_function(uint32_t offset, void *fake)
{
    uint8_t stub[12] = { 0x48, 0xB8 }; // mov rax, imm64
    uint64_t target = (uint64_t)(uintptr_t)fake;
    memcpy(stub + 2, &target, 8);
    stub[10] = 0xFF; // jmp rax
    stub[11] = 0xE0;
    game_write(offset, stub, sizeof stub);
    FlushInstructionCache(GetCurrentProcess(), game_at(offset), sizeof stub);
    return game_at(offset);
}

uint8_t *game_function_faulting(uint32_t offset, uint64_t data_address)
{
    uint8_t stub[14] = { 0x48, 0xB8 }; // mov rax, imm64
    memcpy(stub + 2, &data_address, 8);
    stub[10] = 0x48; // mov rax, [rax]
    stub[11] = 0x8B;
    stub[12] = 0x00;
    stub[13] = 0xC3; // ret
    game_write(offset, stub, sizeof stub);
    FlushInstructionCache(GetCurrentProcess(), game_at(offset), sizeof stub);
    return game_at(offset);
}

void **vtable_at(uint32_t offset, int slots)
{
    void **vt = (void **)game_at(offset);
    fill_vtable(vt, slots);
    return vt;
}

void **vtable_new(int slots)
{
    void **vt = (void **)object_new((size_t)slots * 8);
    fill_vtable(vt, slots);
    return vt;
}

void vtable_set(void **vtable, int slot, void *fake) { vtable[slot] = fake; }

void vslot_result(int slot, uint64_t value)
{
    if (slot >= 0 && slot < vtable_max_slots)
        slot_results[slot] = value;
}

uint8_t *object_new(size_t size, void **vtable)
{
    size_t body = (size + page - 1) / page * page;
    if (body == 0)
        body = page;
    AcquireSRWLockExclusive(&objects_lock);
    if (arenas.empty() || arenas.back().used + body + page > arenas.back().size) {
        size_t bytes = body + page > arena_bytes ? body + page : arena_bytes;
        uint8_t *b = (uint8_t *)VirtualAlloc(nullptr, bytes, MEM_RESERVE, PAGE_NOACCESS);
        if (!b) {
            ReleaseSRWLockExclusive(&objects_lock);
            return nullptr;
        }
        arenas.push_back({ b, 0, bytes });
    }
    arena &a = arenas.back();
    uint8_t *base = a.base + a.used;
    if (!VirtualAlloc(base, body, MEM_COMMIT, PAGE_READWRITE)) {
        ReleaseSRWLockExclusive(&objects_lock);
        return nullptr;
    }
    a.used += body + page; // the page after the body stays reserved: no access
    allocations[(uintptr_t)base] = body;
    ReleaseSRWLockExclusive(&objects_lock);
    // Placed so that its last byte is the last before the no-access page
    // (8-byte aligned: sizes that are not a multiple of 8 leave a few bytes).
    uint8_t *object = base + ((body - size) & ~(size_t)7);
    if (vtable)
        memcpy(object, &vtable, 8);
    return object;
}

void object_release(const void *object)
{
    // The body that holds the object, whatever protection a test gave parts
    // of it; a second release finds nothing committed and changes nothing.
    AcquireSRWLockExclusive(&objects_lock);
    auto it = allocations.upper_bound((uintptr_t)object);
    if (object && it != allocations.begin()) {
        --it;
        if ((uintptr_t)object < it->first + it->second)
            VirtualFree((void *)it->first, it->second, MEM_DECOMMIT);
    }
    ReleaseSRWLockExclusive(&objects_lock);
}

size_t game_records_bytes()
{
    size_t bytes = 0;
    AcquireSRWLockShared(&objects_lock);
    for (const auto &a : allocations) {
        // An object's body is committed until it is released.
        uint8_t *at = (uint8_t *)a.first, *end = at + a.second;
        MEMORY_BASIC_INFORMATION mbi;
        while (at < end && VirtualQuery(at, &mbi, sizeof mbi) == sizeof mbi) {
            uint8_t *next = (uint8_t *)mbi.BaseAddress + mbi.RegionSize;
            if (next > end)
                next = end;
            if (mbi.State == MEM_COMMIT)
                bytes += (size_t)(next - at);
            at = next;
        }
    }
    // A map node: its pair and about four words of the tree's own.
    bytes += allocations.size() * (sizeof(std::pair<const uintptr_t, size_t>) + 4 * sizeof(void *)) +
             arenas.capacity() * sizeof(arena);
    ReleaseSRWLockShared(&objects_lock);
    std::lock_guard<std::mutex> g(calls_mutex);
    return bytes + recorded.capacity() * sizeof(call);
}

void game_protect(const void *address, size_t size, uint32_t protection)
{
    DWORD old;
    VirtualProtect((void *)address, size, protection, &old);
}

player game_player_create()
{
    player p;
    p.truck_vtable = vtable_new(40);
    vtable_set(p.truck_vtable, 29, (void *)truck_get_placement);
    p.ctrl = object_new(ctrl_size);
    p.block = object_new(player_block_size);
    p.truck = object_new(truck_size, p.truck_vtable);
    put<uint64_t>(p.ctrl, off::ctrl_player_block, (uint64_t)(uintptr_t)p.block);
    put<uint64_t>(p.block, off::player_local_truck, (uint64_t)(uintptr_t)p.truck);
    game_put<uint64_t>(off::game_ctrl, (uint64_t)(uintptr_t)p.ctrl);
    return p;
}

void game_player_remove() { game_put<uint64_t>(off::game_ctrl, 0); }

void player_set_placement(const void *placement32, bool result)
{
    memcpy(truck_placement, placement32, sizeof truck_placement);
    truck_placement_result = result;
}

} // namespace sim

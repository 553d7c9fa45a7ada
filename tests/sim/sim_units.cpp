// The simulated game's units (see sim_vehicles.h): every object of the
// vehicle world is a unit with a reference word; strings, arrays, classes
// and the factory make and hold them.
//
// Index
//   units        the registry, reference words, release and destroy
//   drawing      the draws and shadows of units, on the render thread
//   strings      string objects and their reserve
//   arrays       array objects, grow and erase
//   classes      class objects and get-class
//   factory      create functions by class record, counted_unit_create
//   install      units_install
//   units and references  refword, destroyed, units_since, unit_problems,
//                         units_records_bytes
//   behaviours   the factory's creates, the erase, the removal observer
#include "sim/sim_vehicles_internal.h"
#include "sim/sim_draw.h"
#include <stdio.h>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace sim {

/* ---- units ---- */

/* Cleared by vehicle_world_install: the objects of a game_reset are gone. */
std::vector<unit> units;
void (*observer)(const void *object) = nullptr;
void (*made_observer)(uint8_t *object, uint32_t class_record) = nullptr;
void (*destroyed_observer)(uint8_t *vehicle) = nullptr;

namespace {

const int slot_release = 1, slot_clone = 2, slot_reserve = 2, slot_grow = 3, slot_get_class = 5;
const uint32_t ref_mask = 0x1FFFFFF;

std::map<const void *, size_t> unit_index;
/* behaviours */
std::map<uint32_t, create_result> create_behaviours;
bool erase_is_stuck = false;

volatile LONG *word(const void *object) { return (volatile LONG *)((uint8_t *)object + 8); }

uint64_t fake_destroy(uint64_t object, uint64_t, uint64_t, uint64_t)
{
    record("destroy", object);
    unit_destroy((uint8_t *)(uintptr_t)object);
    return 0;
}

uint64_t fake_release_hook(uint64_t object, uint64_t, uint64_t, uint64_t)
{
    record("release", object);
    if (observer)
        observer((const void *)(uintptr_t)object);
    if (unit *u = unit_of((void *)(uintptr_t)object); u && u->destroyed)
        u->released_dead++;
    return 0;
}

} // namespace

unit *unit_of(const void *object)
{
    auto it = unit_index.find(object);
    return it == unit_index.end() ? nullptr : &units[it->second];
}

unit &unit_add(uint8_t *object, unit_type type, const void *cls)
{
    unit u = { object, type, accessory_kind::generic, def_kind::vehicle, cls, 0, 0, 0, 0, 0, 0 };
    unit_index[object] = units.size();
    units.push_back(u);
    return units.back();
}

/* The game's own release: -1, destroy at count 0. */
void unit_release(uint8_t *object)
{
    if (!object)
        return;
    if (unit *u = unit_of(object); u && u->destroyed) {
        u->released_dead++;
        return; // its pages are gone
    }
    LONG now = InterlockedDecrement(word(object));
    if (((uint32_t)now & ref_mask) == 0)
        unit_destroy(object);
}

/* The game's own reference: +1 (nothing on a word a test made unwritable). */
void unit_ref(const void *object)
{
    MEMORY_BASIC_INFORMATION mbi;
    if (object && VirtualQuery((const uint8_t *)object + 8, &mbi, sizeof mbi) == sizeof mbi &&
        (mbi.Protect & (PAGE_READWRITE | PAGE_EXECUTE_READWRITE)) && !(mbi.Protect & PAGE_GUARD))
        InterlockedIncrement(word(object));
}

void unit_destroy(uint8_t *object)
{
    unit *u = unit_of(object);
    if (!u)
        return;
    if (u->destroyed++)
        return;
    if (u->type == unit_type::netobj) {
        u->destroyed_added += u->added; /* the convoy's netobj frees its link itself */
    } else if (u->type == unit_type::vehicle) {
        u->destroyed_added += u->added;
        unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, phys::definition));
        if (destroyed_observer)
            destroyed_observer(object);
    } else if (u->type == unit_type::definition) {
        for (uint8_t *el : array_elements(object + vdef::accessories))
            unit_release(el);
        put<uint64_t>(object, vdef::accessory_count, 0);
        if (u->dkind == def_kind::trailer) {
            unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, vdef::trailer_def));
            unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, trl::def_next));
        }
        for (uint32_t at : { vdef::accessories + 8, vdef::accessories, vdef::plate + 8, vdef::plate } /* data, table */)
            owned_release(get<uint64_t>(object, at));
    } else if (u->type == unit_type::accessory) {
        if (u->kind == accessory_kind::cargo)
            unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, acc::cargo_def));
        for (uint32_t at : { acc::path_string + 8, acc::path_string })
            owned_release(get<uint64_t>(object, at));
    }
    u->destroyed_drawing += unit_being_drawn(object);
    object_release(object);
}

/* ---- drawing ---- */

namespace {

/* Written on the render thread, read on the game thread. */
SRWLOCK draw_lock = SRWLOCK_INIT;
struct draw_record {
    unit_drawn counts;
    int inside; /* draw or shadow calls running now */
};
std::map<const void *, draw_record> draw_records;

} // namespace

/* The held draw: the next draw of hold_unit waits in unit_draw_begin. */
static volatile LONG64 hold_unit, hold_frame;
static volatile LONG hold_state; /* 0 off, 1 armed, 2 a draw is held, 3 let go, 4 it returned */

void unit_draw_begin(const void *object)
{
    AcquireSRWLockExclusive(&draw_lock);
    draw_records[object].inside++;
    ReleaseSRWLockExclusive(&draw_lock);
    if (InterlockedCompareExchange64(&hold_unit, 0, 0) == (LONG64)(uintptr_t)object &&
        InterlockedCompareExchange(&hold_state, 2, 1) == 1) {
        InterlockedExchange64(&hold_frame, (LONG64)draw_stats().frames);
        for (int i = 0; i < 30000 && InterlockedCompareExchange(&hold_state, 0, 0) == 2; i++)
            Sleep(1);
        InterlockedExchange(&hold_state, 4);
    }
}

void unit_draw_end(const void *object, bool shadow)
{
    AcquireSRWLockExclusive(&draw_lock);
    draw_record &r = draw_records[object];
    r.inside--;
    (shadow ? r.counts.shadows : r.counts.draws)++;
    ReleaseSRWLockExclusive(&draw_lock);
    if (InterlockedCompareExchange64(&hold_unit, 0, 0) == (LONG64)(uintptr_t)object)
        InterlockedCompareExchange(&hold_state, 5, 4); // the held call has returned
}

void unit_draw_hold(const void *unit)
{
    InterlockedExchange64(&hold_unit, (LONG64)(uintptr_t)unit);
    InterlockedExchange(&hold_state, 1);
}

bool unit_draw_held(int timeout_ms, uint64_t *frame)
{
    for (int i = 0; i <= timeout_ms; i++) {
        if (InterlockedCompareExchange(&hold_state, 0, 0) == 2) {
            if (frame)
                *frame = (uint64_t)InterlockedCompareExchange64(&hold_frame, 0, 0);
            return true;
        }
        Sleep(1);
    }
    return false;
}

bool unit_draw_let_go(int timeout_ms)
{
    bool held = InterlockedCompareExchange(&hold_state, 3, 2) == 2;
    for (int i = 0; held && i <= timeout_ms && InterlockedCompareExchange(&hold_state, 0, 0) != 5; i++)
        Sleep(1);
    bool returned = held && InterlockedCompareExchange(&hold_state, 0, 0) == 5;
    InterlockedExchange(&hold_state, 0);
    InterlockedExchange64(&hold_unit, 0);
    return returned;
}

int unit_being_drawn(const void *object)
{
    AcquireSRWLockShared(&draw_lock);
    auto it = draw_records.find(object);
    int n = it == draw_records.end() ? 0 : it->second.inside;
    ReleaseSRWLockShared(&draw_lock);
    return n;
}

unit_drawn unit_draws(const void *object)
{
    AcquireSRWLockShared(&draw_lock);
    auto it = draw_records.find(object);
    unit_drawn d = it == draw_records.end() ? unit_drawn{} : it->second.counts;
    ReleaseSRWLockShared(&draw_lock);
    return d;
}

/* ---- strings ---- */

/* A buffer of exactly n bytes whose last byte is the last before a
 * no-access page (object_new aligns its start down to 8). */
uint8_t *exact_buffer(size_t n)
{
    uint8_t *b = object_new(n ? n : 1);
    return b + (8 - n % 8) % 8;
}

// The tables, characters and element buffers of strings and arrays are
// their own: the game frees them with the string or array (a grow or reserve
// frees the buffer it replaced, a destroyed unit its strings and arrays).
// Only what they made themselves is freed, never a table the image holds.
namespace {

std::mutex owned_mutex;
std::set<uint64_t> owned; /* cleared by units_install */

uint8_t *owned_buffer(size_t n)
{
    uint8_t *b = exact_buffer(n);
    std::lock_guard<std::mutex> g(owned_mutex);
    owned.insert((uint64_t)(uintptr_t)b);
    return b;
}

void **owned_table(int slots)
{
    void **vt = vtable_new(slots);
    std::lock_guard<std::mutex> g(owned_mutex);
    owned.insert((uint64_t)(uintptr_t)vt);
    return vt;
}

} // namespace

void owned_release(uint64_t p)
{
    {
        std::lock_guard<std::mutex> g(owned_mutex);
        if (!p || !owned.erase(p))
            return;
    }
    object_release((const void *)(uintptr_t)p);
}

namespace {

uint64_t fake_string_reserve(uint64_t string, uint64_t n, uint64_t, uint64_t)
{
    record("string_reserve", string, n);
    uint8_t *s = (uint8_t *)(uintptr_t)string;
    const char *old = (const char *)(uintptr_t)get<uint64_t>(s, 8);
    uint8_t *chars = owned_buffer(n);
    if (old && n) {
        size_t keep = strnlen(old, n - 1);
        memcpy(chars, old, keep);
        chars[keep] = 0;
    }
    put<uint64_t>(s, 8, (uint64_t)(uintptr_t)chars);
    owned_release((uint64_t)(uintptr_t)old);
    return string;
}

} // namespace

/* A string object at that address holding the text (null: no characters). */
void string_init(uint8_t *at, const char *text)
{
    void **vt = owned_table(4);
    vtable_set(vt, slot_reserve, (void *)fake_string_reserve);
    put<uint64_t>(at, 0, (uint64_t)(uintptr_t)vt);
    put<uint64_t>(at, 8, 0);
    put<uint64_t>(at, 0x10, 0);
    if (text) {
        size_t n = strlen(text);
        uint8_t *chars = owned_buffer(n + 1);
        memcpy(chars, text, n + 1);
        put<uint64_t>(at, 8, (uint64_t)(uintptr_t)chars);
        put<uint64_t>(at, 0x10, n);
    }
}

std::string string_text(const uint8_t *at)
{
    const char *chars = (const char *)(uintptr_t)get<uint64_t>(at, 8);
    return chars ? std::string(chars, strnlen(chars, get<uint64_t>(at, 0x10))) : std::string();
}

/* ---- arrays ---- */

namespace {

const uint32_t arr_data = 0x08, arr_count = 0x10, arr_capacity = 0x18;

uint64_t fake_array_grow(uint64_t array, uint64_t n, uint64_t, uint64_t)
{
    record("array_grow", array, n);
    uint8_t *a = (uint8_t *)(uintptr_t)array;
    if (get<uint64_t>(a, arr_capacity) >= n)
        return array;
    uint8_t *data = owned_buffer(n * 8);
    uint64_t count = get<uint64_t>(a, arr_count);
    const uint8_t *old = (const uint8_t *)(uintptr_t)get<uint64_t>(a, arr_data);
    if (old)
        memcpy(data, old, count * 8);
    put<uint64_t>(a, arr_data, (uint64_t)(uintptr_t)data);
    put<uint64_t>(a, arr_capacity, n);
    owned_release((uint64_t)(uintptr_t)old);
    return array;
}

uint64_t fake_array_erase(uint64_t array, uint64_t position, uint64_t, uint64_t)
{
    record("array_erase", array, position);
    if (erase_is_stuck)
        return 0;
    uint8_t *a = (uint8_t *)(uintptr_t)array;
    uint64_t data = get<uint64_t>(a, arr_data), count = get<uint64_t>(a, arr_count);
    uint64_t i = (position - data) / 8;
    if (!data || position < data || i >= count)
        return 0;
    uint8_t *el = (uint8_t *)(uintptr_t)get<uint64_t>((void *)(uintptr_t)data, (uint32_t)(8 * i));
    memmove((void *)(uintptr_t)(data + 8 * i), (void *)(uintptr_t)(data + 8 * i + 8), (count - i - 1) * 8);
    put<uint64_t>(a, arr_count, count - 1);
    unit_release(el);
    return 0;
}

} // namespace

void array_init(uint8_t *at)
{
    void **vt = owned_table(unit_vtable_slots);
    vtable_set(vt, slot_grow, (void *)fake_array_grow);
    put<uint64_t>(at, 0, (uint64_t)(uintptr_t)vt);
}

/* Appends with a game reference. */
void array_push(uint8_t *array, uint8_t *object)
{
    uint64_t count = get<uint64_t>(array, arr_count);
    fake_array_grow((uint64_t)(uintptr_t)array, count + 1, 0, 0);
    uint8_t *data = (uint8_t *)(uintptr_t)get<uint64_t>(array, arr_data);
    put<uint64_t>(data, (uint32_t)(8 * count), (uint64_t)(uintptr_t)object);
    put<uint64_t>(array, arr_count, count + 1);
    unit_ref(object);
}

std::vector<uint8_t *> array_elements(const uint8_t *array)
{
    std::vector<uint8_t *> out;
    const uint8_t *data = (const uint8_t *)(uintptr_t)get<uint64_t>(array, arr_data);
    uint64_t count = get<uint64_t>(array, arr_count);
    for (uint64_t i = 0; data && i < count; i++)
        out.push_back((uint8_t *)(uintptr_t)get<uint64_t>(data, (uint32_t)(8 * i)));
    return out;
}

/* ---- classes ---- */

namespace {

uint64_t fake_get_class(uint64_t object, uint64_t, uint64_t, uint64_t)
{
    unit *u = unit_of((void *)(uintptr_t)object);
    return u ? (uint64_t)(uintptr_t)u->cls : 0;
}

} // namespace

void class_init(uint8_t *at, const char *name, const void *parent)
{
    size_t n = strlen(name);
    uint8_t *chars = exact_buffer(n + 1);
    memcpy(chars, name, n + 1);
    uint8_t *name_object = object_new(8);
    put<uint64_t>(name_object, 0, (uint64_t)(uintptr_t)chars);
    put<uint64_t>(at, 0, (uint64_t)(uintptr_t)name_object);
    put<uint64_t>(at, 0x18, (uint64_t)(uintptr_t)parent);
}

/* A table of unit_vtable_slots recording slots with the release hook,
 * get-class and (when given) the clone. */
void unit_vtable_fill(void **vt, void *clone)
{
    vtable_set(vt, slot_release, (void *)fake_release_hook);
    vtable_set(vt, slot_get_class, (void *)fake_get_class);
    if (clone)
        vtable_set(vt, slot_clone, clone);
}

void **unit_vtable_new()
{
    void **vt = vtable_new(unit_vtable_slots);
    unit_vtable_fill(vt, nullptr);
    return vt;
}

/* ---- factory ---- */

namespace {

struct creatable {
    uint32_t class_offset;
    bool is_def;
    accessory_kind kind;
};
const creatable creatables[] = {
    { veh_off::trailer_def_class, true, accessory_kind::generic },
    { veh_off::accessory_class, false, accessory_kind::generic },
    { veh_off::part_accessory_class, false, accessory_kind::part },
    { veh_off::paint_accessory_class, false, accessory_kind::paint },
    { veh_off::wheel_accessory_class, false, accessory_kind::wheel },
    { veh_off::cargo_accessory_class, false, accessory_kind::cargo },
};

template <int I> uint64_t fake_create(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    const creatable &c = creatables[I];
    record("create_unit", preferred_base + c.class_offset, factory);
    auto it = create_behaviours.find(c.class_offset);
    create_result r = it == create_behaviours.end() ? create_result::unit : it->second;
    if (r == create_result::null)
        return 0;
    uint8_t *made = c.is_def ? def_new(def_kind::trailer) : accessory_new(c.kind, nullptr);
    if (r == create_result::foreign_vtable)
        put<uint64_t>(made, 0, (uint64_t)(uintptr_t)unit_vtable_new());
    if (r == create_result::kept_ref)
        unit_ref(made);
    return (uint64_t)(uintptr_t)made;
}

void *const create_fakes[] = { (void *)fake_create<0>, (void *)fake_create<1>, (void *)fake_create<2>,
                               (void *)fake_create<3>, (void *)fake_create<4>, (void *)fake_create<5> };
static_assert(sizeof create_fakes / sizeof create_fakes[0] == sizeof creatables / sizeof creatables[0],
              "one create function per class");

} // namespace

/* A counted vehicle-like unit from the factory's create of that class
 * record, as its create behaviour says; null for create_result::null. */
uint8_t *counted_unit_create(uint32_t class_record, uint64_t factory, size_t size, void **vtable)
{
    record("create_unit", preferred_base + class_record, factory);
    auto it = create_behaviours.find(class_record);
    create_result r = it == create_behaviours.end() ? create_result::unit : it->second;
    if (r == create_result::null)
        return nullptr;
    uint8_t *v = object_new(size, r == create_result::foreign_vtable ? unit_vtable_new() : vtable);
    unit_add(v, unit_type::vehicle,
             r == create_result::foreign_class ? game_at(veh_off::accessory_class) : game_at(class_record));
    if (r == create_result::kept_ref)
        unit_ref(v);
    if (made_observer)
        made_observer(v, class_record);
    return v;
}

/* ---- install ---- */

/* Forgets the units of the last game_reset and puts the destroy, the erase
 * and the factory with its creates at the game's offsets. */
void units_install()
{
    units.clear();
    unit_index.clear();
    {
        std::lock_guard<std::mutex> g(owned_mutex);
        owned.clear(); // game_reset freed them with everything else
    }
    AcquireSRWLockExclusive(&draw_lock);
    draw_records.clear();
    ReleaseSRWLockExclusive(&draw_lock);
    hold_unit = 0;
    hold_state = 0;
    create_behaviours.clear();
    erase_is_stuck = false;
    observer = nullptr;
    made_observer = nullptr;
    destroyed_observer = nullptr;
    for (size_t i = 0; i < sizeof creatables / sizeof creatables[0]; i++)
        put<uint64_t>(game_at(creatables[i].class_offset), 8, (uint64_t)(uintptr_t)create_fakes[i]);
    game_function(veh_off::array_erase, (void *)fake_array_erase);
    game_function(off::destroy, (void *)fake_destroy);
    game_put<uint32_t>(off::factory_index, 0);
    game_put<uint64_t>(off::factory_table, (uint64_t)(uintptr_t)object_new(0x100));
}

uint8_t *class_new(const char *name, const void *parent)
{
    uint8_t *c = object_new(0x20);
    class_init(c, name, parent);
    return c;
}

/* ---- units and references ---- */

uint32_t refword(const void *unit)
{
    MEMORY_BASIC_INFORMATION mbi;
    if (VirtualQuery((const uint8_t *)unit + 8, &mbi, sizeof mbi) != sizeof mbi ||
        !(mbi.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE)) ||
        (mbi.Protect & PAGE_GUARD))
        return 0;
    return get<uint32_t>(unit, 8);
}

int destroyed(const void *object)
{
    unit *u = unit_of(object);
    return u ? u->destroyed : 0;
}

size_t units_mark() { return units.size(); }

std::vector<uint8_t *> units_since(size_t mark)
{
    std::vector<uint8_t *> out;
    for (size_t i = mark; i < units.size(); i++)
        out.push_back(units[i].object);
    return out;
}

size_t units_records_bytes()
{
    // A map node: its pair and about four words of the tree's own.
    const size_t node = 4 * sizeof(void *);
    return units.capacity() * sizeof(unit) + unit_index.size() * (sizeof(std::pair<const void *, size_t>) + node) +
           draw_records.size() * (sizeof(std::pair<const void *, draw_record>) + node) + physics_records_bytes();
}

std::vector<std::string> unit_problems()
{
    std::vector<std::string> out;
    char line[160];
    for (auto &u : units) {
        const char *what = u.destroyed > 1 ? "destroyed twice"
                           : u.released_dead ? "released after its destroy"
                           : u.destroyed_drawing ? "destroyed while being drawn"
                           : u.destroyed_added ? "destroyed while in the game's list"
                           : u.removed_unadded ? "removed from the game's list without being added"
                           : (refword(u.object) & ref_mask) > ref_mask / 2 ? "counted below 0"
                                                                            : nullptr;
        if (what) {
            snprintf(line, sizeof line, "unit %p (%s): %s, refword %08x", (void *)u.object,
                     u.type == unit_type::accessory ? accessory_path(u.object).c_str() : "", what,
                     refword(u.object));
            out.push_back(line);
        }
    }
    return out;
}

void unit_set_class(void *object, const void *class_object)
{
    if (unit *u = unit_of(object))
        u->cls = class_object;
}

/* ---- behaviours ---- */

void create_behaviour(uint32_t class_offset, create_result r) { create_behaviours[class_offset] = r; }
void erase_stuck(bool stuck) { erase_is_stuck = stuck; }
void removal_observer(void (*fn)(const void *object)) { observer = fn; }

} // namespace sim

// The simulated game's vehicle world (see sim_vehicles.h).
//
// Index
//   units        the registry, reference words, release and destroy
//   strings      string objects and their reserve
//   arrays       array objects, grow and erase
//   classes      class objects and get-class
//   accessories  accessory_new, clone, cargo
//   definitions  def_new, the definition clone
//   factory      create functions by class record
//   calls        accessory data, data key, cargo lookup, token-to-text
//   physics vehicles  the class, its table's slots, bodies, wheels,
//                steering, collision arrays, the game's list of vehicles
//   trailer actors  the factory's trailer actors and their table
//   world        vehicle_world_install, the player
//   trailer actors  chained parts, coupling, kingpin, dynamic cargo,
//                chained definitions
#include "sim/sim_vehicles.h"
#include <stdio.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {
namespace {

const int accessory_vtable_slots = 16;
const int unit_vtable_slots = 8;
const int slot_release = 1, slot_clone = 2, slot_reserve = 2, slot_grow = 3, slot_get_class = 5;
const uint32_t ref_mask = 0x1FFFFFF;

/* ---- units ---- */

enum class unit_type { accessory, definition, data, cargo_def, entry, actor, vehicle };

struct unit {
    uint8_t *object;
    unit_type type;
    accessory_kind kind; /* accessories */
    def_kind dkind;      /* definitions */
    const void *cls;
    int destroyed;
    int released_dead;
    /* vehicles */
    int added;          /* in the game's list of vehicles */
    int destroyed_added;
    int removed_unadded;
};

/* Cleared by vehicle_world_install: the objects of a game_reset are gone. */
std::vector<unit> units;
std::map<const void *, size_t> unit_index;
std::map<std::string, uint8_t *> data_by_path;
uint32_t next_data_id = 1;

/* behaviours */
def_clone_result clone_behaviour = def_clone_result::copy;
accessory_clone_result acc_clone_behaviour = accessory_clone_result::copy;
std::map<uint32_t, create_result> create_behaviours;
bool erase_is_stuck = false;
int data_null_from = 0, data_calls = 0;
const void *cargo_answer = nullptr;
void (*observer)(const void *object) = nullptr;

unit *unit_of(const void *object)
{
    auto it = unit_index.find(object);
    return it == unit_index.end() ? nullptr : &units[it->second];
}

unit &unit_add(uint8_t *object, unit_type type, const void *cls)
{
    unit u = { object, type, accessory_kind::generic, def_kind::vehicle, cls, 0, 0, 0, 0, 0 };
    unit_index[object] = units.size();
    units.push_back(u);
    return units.back();
}

volatile LONG *word(const void *object) { return (volatile LONG *)((uint8_t *)object + 8); }

void unit_destroy(uint8_t *object);

/* The game's own release: -1, destroy at count 0. */
void unit_release(uint8_t *object)
{
    if (!object)
        return;
    if (unit *u = unit_of(object); u && u->destroyed)
        u->released_dead++;
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

std::vector<uint8_t *> array_elements(const uint8_t *array);

void unit_destroy(uint8_t *object)
{
    unit *u = unit_of(object);
    if (!u)
        return;
    if (u->destroyed++)
        return;
    if (u->type == unit_type::vehicle) {
        u->destroyed_added += u->added;
        unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, phys::definition));
    } else if (u->type == unit_type::definition) {
        for (uint8_t *el : array_elements(object + vdef::accessories))
            unit_release(el);
        put<uint64_t>(object, vdef::accessory_count, 0);
        if (u->dkind == def_kind::trailer) {
            unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, vdef::trailer_def));
            unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, trl::def_next));
        }
    } else if (u->type == unit_type::accessory && u->kind == accessory_kind::cargo) {
        unit_release((uint8_t *)(uintptr_t)get<uint64_t>(object, acc::cargo_def));
    }
}

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

/* ---- strings ---- */

/* A buffer of exactly n bytes whose last byte is the last before a
 * no-access page (object_new aligns its start down to 8). */
uint8_t *exact_buffer(size_t n)
{
    uint8_t *b = object_new(n ? n : 1);
    return b + (8 - n % 8) % 8;
}

uint64_t fake_string_reserve(uint64_t string, uint64_t n, uint64_t, uint64_t)
{
    record("string_reserve", string, n);
    uint8_t *s = (uint8_t *)(uintptr_t)string;
    const char *old = (const char *)(uintptr_t)get<uint64_t>(s, 8);
    uint8_t *chars = exact_buffer(n);
    if (old && n) {
        size_t keep = strnlen(old, n - 1);
        memcpy(chars, old, keep);
        chars[keep] = 0;
    }
    put<uint64_t>(s, 8, (uint64_t)(uintptr_t)chars);
    return string;
}

/* A string object at that address holding the text (null: no characters). */
void string_init(uint8_t *at, const char *text)
{
    void **vt = vtable_new(4);
    vtable_set(vt, slot_reserve, (void *)fake_string_reserve);
    put<uint64_t>(at, 0, (uint64_t)(uintptr_t)vt);
    put<uint64_t>(at, 8, 0);
    put<uint64_t>(at, 0x10, 0);
    if (text) {
        size_t n = strlen(text);
        uint8_t *chars = exact_buffer(n + 1);
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

const uint32_t arr_data = 0x08, arr_count = 0x10, arr_capacity = 0x18;

uint64_t fake_array_grow(uint64_t array, uint64_t n, uint64_t, uint64_t)
{
    record("array_grow", array, n);
    uint8_t *a = (uint8_t *)(uintptr_t)array;
    if (get<uint64_t>(a, arr_capacity) >= n)
        return array;
    uint8_t *data = exact_buffer(n * 8);
    uint64_t count = get<uint64_t>(a, arr_count);
    const uint8_t *old = (const uint8_t *)(uintptr_t)get<uint64_t>(a, arr_data);
    if (old)
        memcpy(data, old, count * 8);
    put<uint64_t>(a, arr_data, (uint64_t)(uintptr_t)data);
    put<uint64_t>(a, arr_capacity, n);
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

void array_init(uint8_t *at)
{
    void **vt = vtable_new(unit_vtable_slots);
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

uint64_t fake_get_class(uint64_t object, uint64_t, uint64_t, uint64_t)
{
    unit *u = unit_of((void *)(uintptr_t)object);
    return u ? (uint64_t)(uintptr_t)u->cls : 0;
}

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

/* ---- accessories ---- */

uint32_t vtable_offset(accessory_kind kind)
{
    switch (kind) {
    case accessory_kind::wheel: return veh_off::wheel_vtable;
    case accessory_kind::paint: return veh_off::paint_vtable;
    case accessory_kind::cargo: return veh_off::cargo_vtable;
    case accessory_kind::part: return veh_off::part_accessory_vtable;
    default: return veh_off::generic_accessory_vtable;
    }
}

uint32_t class_offset(accessory_kind kind)
{
    switch (kind) {
    case accessory_kind::wheel: return veh_off::wheel_accessory_class;
    case accessory_kind::paint: return veh_off::paint_accessory_class;
    case accessory_kind::cargo: return veh_off::cargo_accessory_class;
    case accessory_kind::part: return veh_off::part_accessory_class;
    default: return veh_off::accessory_class;
    }
}

size_t object_size(accessory_kind kind)
{
    switch (kind) {
    case accessory_kind::wheel: return acc::wheel_size;
    case accessory_kind::paint: return acc::paint_size;
    case accessory_kind::cargo: return acc::cargo_size;
    default: return acc::generic_size;
    }
}

uint64_t fake_accessory_clone(uint64_t object, uint64_t, uint64_t, uint64_t);

/* A copy of an accessory as the game's clone makes it: same kind, path and
 * fields, count 0; a cargo copy holds its own reference on the cargo. */
uint8_t *accessory_copy(const uint8_t *from, accessory_kind kind)
{
    uint8_t *a = accessory_new(kind, accessory_path(from).c_str());
    size_t size = object_size(kind);
    if (size > 0x40)
        memcpy(a + 0x40, from + 0x40, size - 0x40);
    if (kind == accessory_kind::cargo)
        unit_ref((void *)(uintptr_t)get<uint64_t>(a, acc::cargo_def));
    return a;
}

uint64_t fake_accessory_clone(uint64_t object, uint64_t, uint64_t, uint64_t)
{
    record("accessory_clone", object);
    uint8_t *from = (uint8_t *)(uintptr_t)object;
    unit *u = unit_of(from);
    if (!u)
        return 0;
    switch (acc_clone_behaviour) {
    case accessory_clone_result::null: return 0;
    case accessory_clone_result::self: return object;
    case accessory_clone_result::other_class: {
        accessory_kind other = u->kind == accessory_kind::part ? accessory_kind::generic : accessory_kind::part;
        return (uint64_t)(uintptr_t)accessory_new(other, accessory_path(from).c_str());
    }
    default: return (uint64_t)(uintptr_t)accessory_copy(from, u->kind);
    }
}

/* ---- definitions ---- */

uint64_t fake_def_clone(uint64_t source, uint64_t, uint64_t, uint64_t)
{
    record("def_clone", source);
    uint8_t *src = (uint8_t *)(uintptr_t)source;
    unit *u = unit_of(src);
    if (!u)
        return 0;
    def_kind kind = u->dkind;
    switch (clone_behaviour) {
    case def_clone_result::null: return 0;
    case def_clone_result::source: return source;
    case def_clone_result::short_object: {
        uint8_t *o = object_new(0x40, (void **)game_at(kind == def_kind::vehicle ? veh_off::vehicle_def_vtable
                                                                                : veh_off::trailer_def_vtable));
        unit &s = unit_add(o, unit_type::definition, u->cls);
        s.dkind = kind;
        return (uint64_t)(uintptr_t)o;
    }
    default: break;
    }
    uint8_t *def = def_new(kind, def_plate(src).c_str());
    std::vector<uint8_t *> from = def_accessories(src);
    if (clone_behaviour == def_clone_result::one_less && !from.empty())
        from.pop_back();
    for (uint8_t *el : from) {
        if (!el || clone_behaviour == def_clone_result::shared) {
            def_push(def, el);
        } else {
            uint8_t *copy = accessory_copy(el, unit_of(el)->kind);
            def_push(def, copy);
        }
    }
    if (kind == def_kind::trailer) {
        uint8_t *entry = (uint8_t *)(uintptr_t)get<uint64_t>(src, vdef::trailer_def);
        unit_ref(entry);
        put<uint64_t>(def, vdef::trailer_def, (uint64_t)(uintptr_t)entry);
        uint64_t next = get<uint64_t>(src, trl::def_next);
        if (next && clone_behaviour != def_clone_result::chain_shared)
            next = fake_def_clone(next, 0, 0, 0);
        unit_ref((const void *)(uintptr_t)next);
        put<uint64_t>(def, trl::def_next, next);
    }
    if (clone_behaviour == def_clone_result::foreign_vtable)
        put<uint64_t>(def, 0, (uint64_t)(uintptr_t)unit_vtable_new());
    if (clone_behaviour == def_clone_result::no_array)
        put<uint64_t>(def, vdef::accessories, 0);
    if (clone_behaviour == def_clone_result::foreign_class)
        unit_set_class(def, game_at(veh_off::accessory_class));
    return (uint64_t)(uintptr_t)def;
}

/* ---- factory ---- */

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

/* ---- calls ---- */

std::mutex names_mutex;
/* The names of the cargo definitions, by name id - 1. Kept for the life of
 * the process (ids stay unique across game_reset). */
std::vector<std::string> cargo_names;

bool cargo_name_known(uint32_t id, std::string *out)
{
    std::lock_guard<std::mutex> g(names_mutex);
    if (id == 0 || id > cargo_names.size())
        return false;
    *out = cargo_names[id - 1];
    return true;
}

uint64_t fake_accessory_data(uint64_t accessory, uint64_t, uint64_t, uint64_t)
{
    record("accessory_data", accessory);
    data_calls++;
    if (data_null_from && data_calls >= data_null_from)
        return 0;
    auto it = data_by_path.find(accessory_path((const void *)(uintptr_t)accessory));
    return it == data_by_path.end() ? 0 : (uint64_t)(uintptr_t)it->second;
}

uint64_t fake_data_key(uint64_t out, uint64_t id, uint64_t data, uint64_t)
{
    record("data_key", (uint32_t)id, data);
    put<uint64_t>((void *)(uintptr_t)out, 0, data_key_of((uint32_t)id));
    return out;
}

uint64_t fake_cargo_lookup(uint64_t name_pointer, uint64_t, uint64_t, uint64_t)
{
    record("cargo_lookup", name_pointer);
    if (cargo_answer)
        return (uint64_t)(uintptr_t)cargo_answer;
    const char *name = *(const char **)(uintptr_t)name_pointer;
    std::string known;
    for (auto &u : units)
        if (u.type == unit_type::cargo_def && !u.destroyed &&
            cargo_name_known(get<uint32_t>(u.object, acc::cargo_def_name_id), &known) && known == name)
            return (uint64_t)(uintptr_t)u.object;
    return 0;
}

/* The caller's text builder. */
struct text_builder {
    char *chars;
    uint64_t length;
    uint64_t capacity;
};

uint64_t fake_token_to_text(uint64_t builder, uint64_t id, uint64_t definition, uint64_t)
{
    uint32_t name_id = (uint32_t)id;
    record("token_to_text", builder, name_id, definition);
    std::string name;
    if (!cargo_name_known(name_id, &name))
        return builder;
    text_builder *b = (text_builder *)(uintptr_t)builder;
    if (b->capacity > 0) {
        size_t n = name.size() < b->capacity - 1 ? name.size() : (size_t)b->capacity - 1;
        memcpy(b->chars, name.data(), n);
        b->chars[n] = 0;
    }
    b->length = name.size();
    return builder;
}

/* ---- physics vehicles ---- */

/* Room for the draw (96) and shadow (43) slots; those past the fakes stay
 * null until a test or the demo sets them. */
const int vehicle_slots = 97;
const uint32_t faulting_stub_offset = 0x1100;
const size_t body_size = 0x200, wheel_block_size = 0x318;
void **physics_vtable;
int loaded_after = 1;
std::map<const void *, std::vector<placement32>> placements_set;
std::map<const void *, placement32> placement_kept;

uint32_t f32_bits(float f)
{
    uint32_t b;
    memcpy(&b, &f, 4);
    return b;
}

uint64_t v_set_data(uint64_t vehicle, uint64_t def, uint32_t flags)
{
    record("set_data", vehicle, def, flags);
    unit_ref((const void *)(uintptr_t)def);
    put<uint64_t>((void *)(uintptr_t)vehicle, phys::definition, def);
    return 0;
}
uint64_t v_continue_loading(uint64_t vehicle)
{
    record("continue_loading", vehicle);
    uint8_t *v = (uint8_t *)(uintptr_t)vehicle;
    put<uint32_t>(v, phys::load_state, get<uint32_t>(v, phys::load_state) + 1);
    return 0;
}
bool v_is_loaded(uint64_t vehicle)
{
    record("is_loaded", vehicle);
    uint32_t loads = get<uint32_t>((void *)(uintptr_t)vehicle, phys::load_state);
    return loaded_after >= 0 && loads >= (uint32_t)loaded_after;
}
uint64_t v_finalize(uint64_t vehicle, uint64_t def, uint32_t flags)
{
    record("finalize", vehicle, def, flags);
    return 0;
}
uint64_t v_update(uint64_t vehicle)
{
    record("update", vehicle, get<uint32_t>((void *)(uintptr_t)vehicle, phys::lights));
    return 0;
}
uint64_t v_get_placement(uint64_t vehicle, placement32 *out)
{
    record("vehicle_get_placement", vehicle);
    *out = placement_kept[(const void *)(uintptr_t)vehicle];
    return 1;
}
uint64_t v_set_placement(uint64_t vehicle, const placement32 *p)
{
    record("set_placement", vehicle);
    placement_kept[(const void *)(uintptr_t)vehicle] = *p;
    placements_set[(const void *)(uintptr_t)vehicle].push_back(*p);
    return 0;
}

uint64_t fake_pre_add(uint64_t vehicle, uint64_t, uint64_t, uint64_t)
{
    record("pre_add", vehicle);
    return 0;
}
uint64_t fake_ctrl_add(uint64_t ctrl, uint64_t vehicle, uint64_t, uint64_t)
{
    record("ctrl_add_vehicle", ctrl, vehicle, get<uint8_t>((void *)(uintptr_t)vehicle, phys::finalize_byte));
    if (unit *u = unit_of((void *)(uintptr_t)vehicle))
        u->added = 1;
    return 0;
}
uint64_t fake_ctrl_remove(uint64_t ctrl, uint64_t vehicle, uint64_t, uint64_t)
{
    record("ctrl_remove_vehicle", ctrl, vehicle);
    if (observer)
        observer((const void *)(uintptr_t)vehicle);
    if (unit *u = unit_of((void *)(uintptr_t)vehicle)) {
        u->removed_unadded += !u->added;
        u->added = 0;
    }
    return 0;
}
uint64_t fake_body_settle(uint64_t body, int steps)
{
    record("body_settle", body, (uint64_t)steps);
    return 0;
}
uint64_t fake_body_190(uint64_t body, uint32_t zero, float f, const uint8_t *p)
{
    static const uint8_t zeros[16] = {};
    record("body_190", body, zero, f32_bits(f), p && memcmp(p, zeros, 16) == 0);
    return 0;
}
uint64_t fake_body_1c0(uint64_t body, float f)
{
    record("body_1c0", body, f32_bits(f));
    return 0;
}
uint64_t fake_child_48(uint64_t child)
{
    record("child_48", child);
    return 0;
}
uint64_t fake_steer(uint64_t object, float value, int one)
{
    record("steer", object, f32_bits(value), (uint64_t)one);
    return 0;
}
uint64_t fake_collide_on(uint64_t element)
{
    record("collide_on", element);
    return 0;
}
uint64_t fake_collide_off(uint64_t element)
{
    record("collide_off", element);
    return 0;
}

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
    return v;
}

uint64_t fake_create_vehicle(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    uint8_t *v = counted_unit_create(phys::class_record, factory, phys::vehicle_size, physics_vtable);
    if (v)
        put<uint8_t>(v, phys::finalize_byte, 1);
    return (uint64_t)(uintptr_t)v;
}

void physics_install()
{
    loaded_after = 1;
    placements_set.clear();
    placement_kept.clear();
    class_init(game_at(phys::cab_class), "cab_class", nullptr);
    class_init(game_at(phys::chained_class), "chained_class", game_at(phys::cab_class));
    class_init(game_at(phys::class_record), "game_physics_vehicle", game_at(phys::chained_class));
    put<uint64_t>(game_at(phys::class_record), 8, (uint64_t)(uintptr_t)fake_create_vehicle);
    physics_vtable = vtable_new(vehicle_slots);
    unit_vtable_fill(physics_vtable, nullptr);
    struct { uint32_t slot; void *fn; } slots[] = {
        { 0x60, (void *)v_set_data }, { 0x68, (void *)v_continue_loading }, { 0x78, (void *)v_is_loaded },
        { 0x80, (void *)v_finalize }, { 0xA8, (void *)v_update }, { 0xE8, (void *)v_get_placement },
        { 0x110, (void *)v_set_placement },
    };
    for (auto &sl : slots)
        vtable_set(physics_vtable, (int)(sl.slot / 8), sl.fn);
    game_function(phys::pre_add, (void *)fake_pre_add);
    game_function(phys::ctrl_add, (void *)fake_ctrl_add);
    game_function(phys::ctrl_remove, (void *)fake_ctrl_remove);
    game_function(phys::body_settle, (void *)fake_body_settle);
    game_function(phys::steer, (void *)fake_steer);
    game_function_faulting(faulting_stub_offset);
}

/* ---- trailer actors ---- */

const size_t physics_data_size = 0x74C;
int actor_parts = 0;

uint64_t t_slot_328(uint64_t actor, int value)
{
    record("slot_328", actor, (uint64_t)value);
    return 0;
}
uint64_t fake_cargo_delete(uint64_t object, int value)
{
    record("cargo_delete", object, (uint64_t)value);
    return 0;
}

uint64_t fake_create_trailer(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    uint8_t *a = counted_unit_create(trl::class_record, factory, vdef::trailer_actor_size,
                                     (void **)game_at(off::trailer_actor_vtable));
    uint8_t *parent = a;
    for (int i = 0; a && i < actor_parts; i++)
        parent = trailer_part_new(parent);
    return (uint64_t)(uintptr_t)a;
}

void trailer_install()
{
    actor_parts = 0;
    void **vt = vtable_at(off::trailer_actor_vtable, unit_vtable_slots);
    unit_vtable_fill(vt, nullptr);
    struct { uint32_t slot; void *fn; } slots[] = {
        { 0x60, (void *)v_set_data }, { 0x68, (void *)v_continue_loading }, { 0x78, (void *)v_is_loaded },
        { 0x80, (void *)v_finalize }, { 0xA8, (void *)v_update }, { 0xE8, (void *)v_get_placement },
        { 0x110, (void *)v_set_placement }, { 0x328, (void *)t_slot_328 },
    };
    for (auto &sl : slots)
        vtable_set(vt, (int)(sl.slot / 8), sl.fn);
    put<uint64_t>(game_at(trl::class_record), 8, (uint64_t)(uintptr_t)fake_create_trailer);
}

} // namespace

/* ---- accessories ---- */

void **accessory_vtable(accessory_kind kind)
{
    uint32_t offset = vtable_offset(kind);
    if (!game_get<uint64_t>(offset)) { // zeroed by game_reset
        void **vt = vtable_at(offset, accessory_vtable_slots);
        unit_vtable_fill(vt, (void *)fake_accessory_clone);
    }
    return (void **)game_at(offset);
}

uint8_t *accessory_new(accessory_kind kind, const char *path)
{
    uint8_t *a = object_new(object_size(kind), accessory_vtable(kind));
    string_init(a + acc::path_string, path);
    unit &u = unit_add(a, unit_type::accessory, game_at(class_offset(kind)));
    u.kind = kind;
    return a;
}

std::string accessory_path(const void *accessory) { return string_text((const uint8_t *)accessory + acc::path_string); }

void accessory_set_cargo(uint8_t *a, const uint8_t *definition, const cargo_fields &f)
{
    put<uint64_t>(a, acc::cargo_def, (uint64_t)(uintptr_t)definition);
    unit_ref(definition);
    put(a, acc::cargo_seed, f.seed);
    put(a, acc::cargo_load, f.load);
    put(a, acc::cargo_lash, f.lash);
    put(a, acc::cargo_gear, f.gear);
    for (int i = 0; i < 3; i++) {
        put(a, acc::cargo_hook + 4 * i, f.hook[i]);
        put(a, acc::cargo_dims + 4 * i, f.dims[i]);
    }
    put(a, acc::cargo_units, f.units);
    put(a, acc::cargo_models, f.models);
}

uint8_t *cargo_def_new(const char *name)
{
    uint8_t *def = object_new(acc::cargo_def_size, unit_vtable_new());
    uint32_t id = 0;
    if (name) {
        std::lock_guard<std::mutex> g(names_mutex);
        cargo_names.push_back(name);
        id = (uint32_t)cargo_names.size();
    }
    put<uint32_t>(def, acc::cargo_def_name_id, id);
    put<uint32_t>(def, 8, 1); // the game's list of cargoes holds it
    unit_add(def, unit_type::cargo_def, game_at(veh_off::cargo_class));
    return def;
}

void token_to_text_install() { game_function(veh_off::token_to_text, (void *)fake_token_to_text); }
void token_to_text_faulting() { game_function_faulting(veh_off::token_to_text); }

/* ---- definitions ---- */

uint8_t *def_new(def_kind kind, const char *plate)
{
    bool vehicle = kind == def_kind::vehicle;
    uint8_t *def = object_new(vehicle ? vdef::vehicle_size : vdef::trailer_size,
                              (void **)game_at(vehicle ? veh_off::vehicle_def_vtable : veh_off::trailer_def_vtable));
    array_init(def + vdef::accessories);
    string_init(def + vdef::plate, plate);
    unit &u = unit_add(def, unit_type::definition,
                       game_at(vehicle ? veh_off::vehicle_def_class : veh_off::trailer_def_class));
    u.dkind = kind;
    return def;
}

void def_push(uint8_t *def, uint8_t *accessory) { array_push(def + vdef::accessories, accessory); }

std::vector<uint8_t *> def_accessories(const uint8_t *def) { return array_elements(def + vdef::accessories); }

std::string def_plate(const uint8_t *def) { return string_text(def + vdef::plate); }

/* ---- data ---- */

uint8_t *data_new(const char *path, const void *class_object)
{
    uint8_t *data = object_new(0x20, unit_vtable_new());
    put<uint32_t>(data, 0x0C, next_data_id++);
    unit_add(data, unit_type::data, class_object);
    data_by_path[path] = data;
    return data;
}

uint64_t data_key_of(uint32_t id) { return 0x5EED000000000000ull | id; }

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

std::vector<std::string> unit_problems()
{
    std::vector<std::string> out;
    char line[160];
    for (auto &u : units) {
        const char *what = u.destroyed > 1 ? "destroyed twice"
                           : u.released_dead ? "released after its destroy"
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

void def_clone_behaviour(def_clone_result r) { clone_behaviour = r; }
void accessory_clone_behaviour(accessory_clone_result r) { acc_clone_behaviour = r; }
void create_behaviour(uint32_t class_offset, create_result r) { create_behaviours[class_offset] = r; }
void erase_stuck(bool stuck) { erase_is_stuck = stuck; }
void accessory_data_null_from(int n)
{
    data_null_from = n;
    data_calls = 0;
}
void cargo_lookup_answer(const void *object) { cargo_answer = object; }

/* ---- physics vehicles ---- */

void vehicle_loaded_after(int n) { loaded_after = n; }
void vehicle_slot_faulting(uint32_t slot_offset)
{
    vtable_set(physics_vtable, (int)(slot_offset / 8), game_at(faulting_stub_offset));
}
void **vehicle_vtable() { return physics_vtable; }
std::vector<placement32> vehicle_placements(const void *vehicle)
{
    auto it = placements_set.find(vehicle);
    return it == placements_set.end() ? std::vector<placement32>{} : it->second;
}
void vehicle_set_placement(const void *vehicle, const placement32 &p) { placement_kept[vehicle] = p; }
bool vehicle_listed(const void *vehicle)
{
    unit *u = unit_of(vehicle);
    return u && u->added;
}

uint8_t *body_new(int children, bool null_child)
{
    void **vt = vtable_new(vtable_max_slots);
    vtable_set(vt, 0x190 / 8, (void *)fake_body_190);
    vtable_set(vt, 0x1C0 / 8, (void *)fake_body_1c0);
    uint8_t *body = object_new(body_size, vt);
    void **child_vt = vtable_new(16);
    vtable_set(child_vt, 0x48 / 8, (void *)fake_child_48);
    uint8_t *list = object_new((size_t)(children ? children : 1) * 8);
    for (int i = 0; i < children; i++)
        put<uint64_t>(list, (uint32_t)(8 * i), null_child && i == 1 ? 0 : (uint64_t)(uintptr_t)object_new(0x20, child_vt));
    put<uint64_t>(body, 0x10, (uint64_t)(uintptr_t)list);
    put<uint64_t>(body, 0x18, (uint64_t)children);
    return body;
}

std::vector<uint8_t *> body_children(const uint8_t *body)
{
    std::vector<uint8_t *> out;
    const uint8_t *list = (const uint8_t *)(uintptr_t)get<uint64_t>(body, 0x10);
    for (uint64_t i = 0; i < get<uint64_t>(body, 0x18); i++)
        out.push_back((uint8_t *)(uintptr_t)get<uint64_t>(list, (uint32_t)(8 * i)));
    return out;
}

uint8_t *wheel_block_new(uint8_t *vehicle, uint64_t n, uint64_t angle_count, float k, const std::vector<float> &radii,
                         bool spins)
{
    uint8_t *block = object_new(wheel_block_size);
    put<float>(block, phys::wb_spin_to_angle, k);
    put<uint64_t>(block, phys::wb_count, n);
    put<uint64_t>(block, phys::wb_angle_count, angle_count);
    if (spins)
        put<uint64_t>(block, phys::wb_spins, (uint64_t)(uintptr_t)exact_buffer(4 * (n ? n : 1)));
    put<uint64_t>(block, phys::wb_angles, (uint64_t)(uintptr_t)exact_buffer(4 * (angle_count ? angle_count : 1)));
    put<uint64_t>(vehicle, phys::wheels, (uint64_t)(uintptr_t)block);
    uint8_t *def = (uint8_t *)(uintptr_t)get<uint64_t>(vehicle, phys::definition);
    if (def && !radii.empty()) {
        float *r = (float *)exact_buffer(4 * radii.size());
        memcpy(r, radii.data(), 4 * radii.size());
        put<uint64_t>(def, phys::def_radii, (uint64_t)(uintptr_t)r);
        put<uint64_t>(def, phys::def_radius_count, radii.size());
    }
    return block;
}

float *wheel_spins(const uint8_t *block) { return (float *)(uintptr_t)get<uint64_t>(block, phys::wb_spins); }
float *wheel_angles(const uint8_t *block) { return (float *)(uintptr_t)get<uint64_t>(block, phys::wb_angles); }

uint8_t *steering_object_new(uint8_t *vehicle)
{
    uint8_t *object = object_new(0x40);
    put<uint64_t>(vehicle, phys::steering_object, (uint64_t)(uintptr_t)object);
    return object;
}

uint8_t *vehicle_part_new(const void *class_object)
{
    uint8_t *part = object_new(phys::vehicle_size, unit_vtable_new());
    unit_add(part, unit_type::actor, class_object);
    return part;
}

std::vector<uint8_t *> collision_elements(uint8_t *part, uint32_t array_offset, int n, int null_at)
{
    void **vt = vtable_new(4);
    vtable_set(vt, 1, (void *)fake_collide_on);
    vtable_set(vt, 2, (void *)fake_collide_off);
    uint8_t *data = object_new((size_t)(n ? n : 1) * 8);
    std::vector<uint8_t *> out;
    for (int i = 0; i < n; i++) {
        uint8_t *e = i == null_at ? nullptr : object_new(0x10, vt);
        put<uint64_t>(data, (uint32_t)(8 * i), (uint64_t)(uintptr_t)e);
        out.push_back(e);
    }
    put<uint64_t>(part, array_offset + 8, (uint64_t)(uintptr_t)data);
    put<uint64_t>(part, array_offset + 0x10, (uint64_t)n);
    return out;
}

/* ---- world ---- */

void vehicle_world_install()
{
    units.clear();
    unit_index.clear();
    data_by_path.clear();
    clone_behaviour = def_clone_result::copy;
    acc_clone_behaviour = accessory_clone_result::copy;
    create_behaviours.clear();
    erase_is_stuck = false;
    data_null_from = data_calls = 0;
    cargo_answer = nullptr;
    observer = nullptr;

    struct { uint32_t offset; const char *name; uint32_t parent; } classes[] = {
        { veh_off::accessory_class, "accessory", 0 },
        { veh_off::part_accessory_class, "accessory_part", veh_off::accessory_class },
        { veh_off::paint_accessory_class, "accessory_paint", veh_off::accessory_class },
        { veh_off::wheel_accessory_class, "accessory_wheel", veh_off::accessory_class },
        { veh_off::cargo_accessory_class, "accessory_cargo", veh_off::accessory_class },
        { veh_off::part_data_class, "part_data", 0 },
        { veh_off::paint_data_class, "paint_data", 0 },
        { veh_off::wheel_data_class, "wheel_data", 0 },
        { veh_off::wheel_data_class_2, "wheel_data_pair", 0 },
        { veh_off::cargo_holder_data_class, "cargo_holder_data", 0 },
        { veh_off::cargo_class, "cargo", 0 },
        { veh_off::vehicle_def_class, "vehicle_def", 0 },
        { veh_off::trailer_def_class, "trailer_def", 0 },
        { off::trailer_actor_class, "game_trailer_actor", 0 },
    };
    for (auto &c : classes)
        class_init(game_at(c.offset), c.name, c.parent ? game_at(c.parent) : nullptr);
    for (size_t i = 0; i < sizeof creatables / sizeof creatables[0]; i++)
        put<uint64_t>(game_at(creatables[i].class_offset), 8, (uint64_t)(uintptr_t)create_fakes[i]);

    for (accessory_kind k : { accessory_kind::generic, accessory_kind::part, accessory_kind::wheel,
                              accessory_kind::paint, accessory_kind::cargo })
        accessory_vtable(k);
    struct { uint32_t vtable, clone; } defs[] = {
        { veh_off::vehicle_def_vtable, veh_off::vehicle_def_clone },
        { veh_off::trailer_def_vtable, veh_off::trailer_def_clone },
    };
    for (auto &d : defs) {
        uint8_t *stub = game_function(d.clone, (void *)fake_def_clone);
        unit_vtable_fill(vtable_at(d.vtable, unit_vtable_slots), stub);
    }

    game_function(veh_off::accessory_data, (void *)fake_accessory_data);
    game_function(veh_off::array_erase, (void *)fake_array_erase);
    game_function(veh_off::data_key, (void *)fake_data_key);
    game_function(veh_off::cargo_lookup, (void *)fake_cargo_lookup);
    game_function(off::destroy, (void *)fake_destroy);
    token_to_text_install();

    game_put<uint32_t>(off::factory_index, 0);
    game_put<uint64_t>(off::factory_table, (uint64_t)(uintptr_t)object_new(0x100));
    physics_install();
    trailer_install();
}

void player_truck_def(const player &p, uint8_t *def)
{
    put<uint64_t>(p.truck, vdef::vehicle_definition, (uint64_t)(uintptr_t)def);
}

uint8_t *player_trailer_new(const player &p, uint8_t *def)
{
    uint8_t *actor = object_new(vdef::trailer_actor_size, (void **)game_at(off::trailer_actor_vtable));
    unit_add(actor, unit_type::actor, game_at(off::trailer_actor_class));
    put<uint64_t>(actor, vdef::vehicle_definition, (uint64_t)(uintptr_t)def);
    put<uint64_t>(p.block, vdef::player_trailer, (uint64_t)(uintptr_t)actor);
    return actor;
}

std::vector<uint8_t *> ctrl_trailer_defs(const player &p, int n)
{
    uint8_t *array = p.ctrl + vdef::ctrl_trailer_defs;
    array_init(array);
    std::vector<uint8_t *> out;
    uint8_t *cls = class_new("trailer_def_entry", nullptr);
    for (int i = 0; i < n; i++) {
        uint8_t *e = object_new(0x40, unit_vtable_new());
        unit_add(e, unit_type::entry, cls);
        array_push(array, e);
        out.push_back(e);
    }
    return out;
}

} // namespace sim

namespace sim {

/* ---- trailer actors ---- */

void trailer_actor_parts(int n) { actor_parts = n; }

uint8_t *trailer_part_new(uint8_t *parent)
{
    uint8_t *part = object_new(vdef::trailer_actor_size, (void **)game_at(off::trailer_actor_vtable));
    unit_add(part, unit_type::actor, game_at(off::trailer_actor_class));
    put<uint64_t>(parent, trl::next_part, (uint64_t)(uintptr_t)part);
    return part;
}

void trailer_couple(uint8_t *actor, const void *truck, bool joint)
{
    put<uint64_t>(actor, trl::coupled_to, (uint64_t)(uintptr_t)truck);
    put<uint64_t>(actor, trl::joint, joint ? (uint64_t)(uintptr_t)object_new(0x40) : 0);
}

void trailer_kingpin(uint8_t *actor, float x, float y, float z)
{
    uint8_t *physics = object_new(physics_data_size);
    put<float>(physics, trl::physics_kingpin, x);
    put<float>(physics, trl::physics_kingpin + 4, y);
    put<float>(physics, trl::physics_kingpin + 8, z);
    put<uint64_t>(actor, trl::physics, (uint64_t)(uintptr_t)physics);
}

uint8_t *dynamic_cargo_new(uint8_t *part)
{
    void **vt = vtable_new(4);
    vtable_set(vt, 0, (void *)fake_cargo_delete);
    uint8_t *cargo = object_new(0x20, vt);
    put<uint64_t>(part, trl::dynamic_cargo, (uint64_t)(uintptr_t)cargo);
    return cargo;
}

void removal_observer(void (*fn)(const void *object)) { observer = fn; }

void def_chain(uint8_t *def, uint8_t *next)
{
    unit_ref(next);
    put<uint64_t>(def, trl::def_next, (uint64_t)(uintptr_t)next);
}

} // namespace sim

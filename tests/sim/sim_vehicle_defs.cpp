// The simulated game's accessories and vehicle definitions (see
// sim_vehicles.h), with the data, cargo and token-to-text calls that read
// them.
//
// Index
//   accessories  accessory_new, clone, cargo
//   definitions  def_new, the definition clone
//   calls        accessory data, data key, cargo lookup, token-to-text
//   install      definitions_install
//   data         data_new, data_key_of
//   behaviours   the clones, the data call, the cargo lookup
#include "sim/sim_vehicles_internal.h"
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {
namespace {

const int accessory_vtable_slots = 16;

/* Cleared by vehicle_world_install: the objects of a game_reset are gone. */
std::map<std::string, uint8_t *> data_by_path;
uint32_t next_data_id = 1;

/* behaviours */
def_clone_result clone_behaviour = def_clone_result::copy;
accessory_clone_result acc_clone_behaviour = accessory_clone_result::copy;
int data_null_from = 0, data_calls = 0;
const void *cargo_answer = nullptr;

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

/* ---- install ---- */

/* Puts the accessory and definition tables, the data and cargo calls and
 * the token-to-text call at the game's offsets, their behaviours as after
 * game_reset. */
void definitions_install()
{
    data_by_path.clear();
    clone_behaviour = def_clone_result::copy;
    acc_clone_behaviour = accessory_clone_result::copy;
    data_null_from = data_calls = 0;
    cargo_answer = nullptr;

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
    game_function(veh_off::data_key, (void *)fake_data_key);
    game_function(veh_off::cargo_lookup, (void *)fake_cargo_lookup);
    token_to_text_install();
}

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

/* ---- behaviours ---- */

void def_clone_behaviour(def_clone_result r) { clone_behaviour = r; }
void accessory_clone_behaviour(accessory_clone_result r) { acc_clone_behaviour = r; }
void accessory_data_null_from(int n)
{
    data_null_from = n;
    data_calls = 0;
}
void cargo_lookup_answer(const void *object) { cargo_answer = object; }

} // namespace sim

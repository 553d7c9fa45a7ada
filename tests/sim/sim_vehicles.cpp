// The simulated game's vehicle accessories (see sim_vehicles.h).
#include "sim/sim_vehicles.h"
#include <mutex>
#include <string>
#include <vector>

namespace sim {
namespace {

const int accessory_vtable_slots = 16;

/* The names of the cargo definitions, by name id - 1. Kept for the life of
 * the process (ids stay unique across game_reset). */
std::mutex names_mutex;
std::vector<std::string> cargo_names;

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
    {
        std::lock_guard<std::mutex> g(names_mutex);
        if (name_id == 0 || name_id > cargo_names.size())
            return builder;
        name = cargo_names[name_id - 1];
    }
    text_builder *b = (text_builder *)(uintptr_t)builder;
    if (b->capacity > 0) {
        size_t n = name.size() < b->capacity - 1 ? name.size() : (size_t)b->capacity - 1;
        memcpy(b->chars, name.data(), n);
        b->chars[n] = 0;
    }
    b->length = name.size();
    return builder;
}

uint32_t vtable_offset(accessory_kind kind)
{
    switch (kind) {
    case accessory_kind::wheel: return veh_off::wheel_vtable;
    case accessory_kind::paint: return veh_off::paint_vtable;
    case accessory_kind::cargo: return veh_off::cargo_vtable;
    default: return veh_off::generic_accessory_vtable;
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

} // namespace

void **accessory_vtable(accessory_kind kind)
{
    uint32_t offset = vtable_offset(kind);
    if (!game_get<uint64_t>(offset)) // zeroed by game_reset
        vtable_at(offset, accessory_vtable_slots);
    return (void **)game_at(offset);
}

uint8_t *accessory_new(accessory_kind kind, const char *path)
{
    uint8_t *a = object_new(object_size(kind), accessory_vtable(kind));
    put<uint64_t>(a, acc::path_string, (uint64_t)(uintptr_t)vtable_new(4));
    if (path) {
        size_t n = strlen(path);
        uint8_t *chars = object_new(n + 1);
        // object_new aligns its start down to 8: place the text so that its
        // NUL is the last byte before the no-access page.
        chars += (8 - (n + 1) % 8) % 8;
        memcpy(chars, path, n + 1);
        put<uint64_t>(a, acc::path_chars, (uint64_t)(uintptr_t)chars);
        put<uint64_t>(a, acc::path_length, n);
    }
    return a;
}

void accessory_set_cargo(uint8_t *a, const uint8_t *definition, const cargo_fields &f)
{
    put<uint64_t>(a, acc::cargo_def, (uint64_t)(uintptr_t)definition);
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
    uint8_t *def = object_new(acc::cargo_def_size);
    uint32_t id = 0;
    if (name) {
        std::lock_guard<std::mutex> g(names_mutex);
        cargo_names.push_back(name);
        id = (uint32_t)cargo_names.size();
    }
    put<uint32_t>(def, acc::cargo_def_name_id, id);
    return def;
}

void token_to_text_install() { game_function(veh_off::token_to_text, (void *)fake_token_to_text); }
void token_to_text_faulting() { game_function_faulting(veh_off::token_to_text); }

} // namespace sim

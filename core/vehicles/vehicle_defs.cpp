// Vehicle definitions: cloning a game definition after an exact class
// check, and building one from a look list (see vehicle_defs.h).
//
// Index
//   game addresses   descriptors, classes, calls and fields of build 1.61.3.1
//   reading          guarded reads, class names, data paths, the data call
//   cloning          def_clone_guarded, def_set_plate, def_clone
//   accessories      look_create_accessory, game_array_push_ref,
//                    look_resolve_entry
//   building         look_build_def
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

/* ---- game addresses ---- */

const class_descriptor def_class_vehicle = { "vehicle", vehicle_def_class_va, defs_game::vehicle_def_vtable_va,
                                             defs_game::vehicle_def_clone_va, defs_game::vehicle_def_size };
const class_descriptor def_class_trailer = { "trailer", trailer_def_class_va, defs_game::trailer_def_vtable_va,
                                             defs_game::trailer_def_clone_va, defs_game::trailer_def_size };

uint8_t look_building_off;

namespace {

using namespace defs_game; /* vehicle_game.h */
using namespace game_array_off;

const size_t array_readable = 32;
const int report_max = 64;
const int erase_max = 256;

/* ---- reading ---- */

struct class_text {
    char text[64];
};
class_text class_name_of(uint64_t object)
{
    class_text t;
    game_class_name(game_object_class(object), t.text, sizeof t.text);
    return t;
}

/* An accessory's data path, cut to the buffer and at unreadable memory. */
void data_path(uint64_t accessory, char *out, size_t size)
{
    out[0] = 0;
    uint64_t chars = game_u64_guarded(accessory + acc_off::path_chars);
    if (chars)
        game_read_guarded_text(chars, out, size);
}

/* The game's data for an accessory: 0 when its path does not resolve. */
uint64_t accessory_data(uint64_t accessory)
{
    return game_fn<uint64_t(*)(uint64_t)>(call_accessory_data)(accessory);
}

bool has_vtable(uint64_t object, uint64_t vtable_va) { return object && game_u64_guarded(object) == game_from_va(vtable_va); }

} // namespace

/* ---- cloning ---- */

uint64_t def_clone_guarded(uint64_t definition, uint8_t *fault)
{
    uint64_t result = 0;
    bool returned = dm_guarded_filter(
        [&] {
            result = game_vslot<uint64_t (*)(uint64_t)>(definition, vslot_clone)(definition);
        },
        fault_record_filter, nullptr);
    *fault = returned ? 0 : 1;
    return returned ? result : 0;
}

void def_set_plate(uint64_t definition)
{
    static const char plate[] = DEF_PLATE_TEXT;
    uint64_t string = definition + DEF_PLATE;
    game_vslot<void (*)(uint64_t, uint64_t)>(string, vslot_string_reserve)(string, sizeof plate);
    memcpy(game_ptr(*(const uint64_t *)(uintptr_t)(definition + DEF_PLATE_CHARS)), plate, sizeof plate);
    *(volatile uint64_t *)(uintptr_t)(definition + DEF_PLATE_LENGTH) = sizeof plate - 1;
}

uint64_t def_clone(uint64_t source, const class_descriptor *d)
{
    if (!source || !probe_read(source, d->readable_size)) {
        core_log("[core] clone: bad source def %p", game_ptr(source));
        return 0;
    }
    uint64_t vtable = game_u64_guarded(source), clone_fn = 0;
    uint64_t want_vtable = game_from_va(d->vtable_va), want_clone = game_from_va(d->clone_va);
    if (vtable)
        game_read_guarded(game_vslot_entry(vtable, vslot_clone), &clone_fn);
    if (vtable != want_vtable || clone_fn != want_clone) {
        core_log("[core] clone: src=%p vtable=%p (expect %p) clone fn=%p (expect %p): not the expected `%s` class; "
                 "refusing",
                 game_ptr(source), game_ptr(vtable), game_ptr(want_vtable), game_ptr(clone_fn), game_ptr(want_clone),
                 d->name);
        return 0;
    }
    uint64_t source_class = game_object_class(source);
    char name[64];
    uint64_t source_count = game_u64_guarded(source + DEF_ACCESSORY_COUNT);
    core_log("[core] clone: src=%p class=%s vtable=%p clone fn=%p refword=%08x accessories=%llu", game_ptr(source),
             game_class_name(source_class, name, sizeof name), game_ptr(vtable), game_ptr(clone_fn), game_u32_guarded(source + GAME_REF_WORD),
             (unsigned long long)source_count);
    if (source_class != game_from_va(d->class_va)) {
        core_log("[core] clone: descriptor is not `%s`; refusing", d->name);
        return 0;
    }

    uint8_t fault = 0;
    uint64_t def = def_clone_guarded(source, &fault);
    if (fault) {
        core_log("[core] clone: game clone FAULTED (possible leaked partial clone)");
        return 0;
    }
    if (!def) {
        core_log("[core] clone: game clone returned null (_clone_attributes_to failed)");
        return 0;
    }
    // The new definition is written to below (reference word, plate): it
    // must be a whole object of the class, not just carry its table.
    uint64_t def_class = game_object_class(def);
    if (def == source || !probe_read(def, d->readable_size) || game_u64_guarded(def) != want_vtable ||
        def_class != game_from_va(d->class_va)) {
        core_log("[core] clone: unexpected result %p (class %s); not using it (leaked)", game_ptr(def),
                 game_class_name(def_class, name, sizeof name));
        return 0;
    }
    core_log("[core] clone: new def=%p refword=%08x (expect count 0)", game_ptr(def), game_u32_guarded(def + GAME_REF_WORD));
    game_take_ref(def);

    uint64_t count = game_u64_guarded(def + DEF_ACCESSORY_COUNT);
    if (count != source_count)
        core_log("[core] clone: WARNING accessory count %llu differs from source %llu", (unsigned long long)count,
                 (unsigned long long)source_count);
    uint64_t data = game_u64_guarded(def + DEF_ACCESSORY_DATA), source_data = game_u64_guarded(source + DEF_ACCESSORY_DATA);
    for (uint64_t i = 0; i < count && i < (uint64_t)report_max; i++) {
        uint64_t acc = game_u64_guarded(data + 8 * i);
        if (!acc) {
            core_log("[core]   [%llu] null accessory", (unsigned long long)i);
            continue;
        }
        uint64_t src_acc = i < source_count ? game_u64_guarded(source_data + 8 * i) : 0;
        char path[LOOK_ENTRY_SIZE];
        data_path(acc, path, sizeof path);
        core_log("[core]   [%llu] %p (src %p) %-28s refword=%08x data_path='%s'%s", (unsigned long long)i, game_ptr(acc),
                 game_ptr(src_acc), class_name_of(acc).text, game_u32_guarded(acc + GAME_REF_WORD), path,
                 acc == src_acc ? "  SHARED?!" : "");
    }

    def_set_plate(def);
    char plate[32];
    game_read_guarded_text(game_u64_guarded(def + DEF_PLATE_CHARS), plate, sizeof plate);
    core_log("[core] clone: def=%p refword=%08x plate='%s' accessories=%llu", game_ptr(def), game_u32_guarded(def + GAME_REF_WORD), plate,
             (unsigned long long)count);
    return def;
}

/* ---- accessories ---- */

uint64_t look_create_accessory(uint64_t class_record_va, uint64_t vtable_va, const char *path)
{
    uint64_t acc = game_create_unit(class_record_va);
    if (!acc) {
        core_log("[core] look: create_unit(%llx) returned null", (unsigned long long)class_record_va);
        return 0;
    }
    uint64_t vtable = game_u64_guarded(acc);
    if (vtable != game_from_va(vtable_va)) {
        core_log("[core] look: accessory %p has vtable %p, expected %p; not using it", game_ptr(acc), game_ptr(vtable),
                 game_ptr(game_from_va(vtable_va)));
        return 0;
    }
    game_add_ref(acc);
    size_t n = strlen(path);
    uint64_t string = acc + acc_off::path_string;
    game_vslot<void (*)(uint64_t, uint64_t)>(string, vslot_string_reserve)(string, n + 1);
    memcpy(game_ptr(*(const uint64_t *)(uintptr_t)(acc + acc_off::path_chars)), path, n + 1);
    *(volatile uint64_t *)(uintptr_t)(acc + acc_off::path_length) = n;
    return acc;
}

void game_array_push_ref(uint64_t array, uint64_t object)
{
    uint64_t count = *(const uint64_t *)(uintptr_t)(array + array_count);
    game_vslot<void (*)(uint64_t, uint64_t)>(array, vslot_array_grow)(array, count + 1);
    game_take_ref(object);
    uint64_t data = *(const uint64_t *)(uintptr_t)(array + array_data);
    *(volatile uint64_t *)(uintptr_t)(data + 8 * count) = object;
    *(volatile uint64_t *)(uintptr_t)(array + array_count) = count + 1;
}

namespace {

/* Step 1 of resolving: the first unused element of the reuse array with
 * the entry's path, cloned. found := false when none matched. */
uint64_t clone_local_accessory(const look_entry *e, uint64_t reuse, uint8_t *used, uint8_t *ours, bool *found)
{
    *found = false;
    uint64_t data = game_u64_guarded(reuse + array_data), count = game_u64_guarded(reuse + array_count);
    uint64_t base = game_from_va(accessory_base_class);
    for (uint64_t k = 0; k < count && k < LOOK_LIST_MAX; k++) {
        uint64_t el = used[k] ? 0 : game_u64_guarded(data + 8 * k);
        if (!el)
            continue;
        char path[LOOK_ENTRY_SIZE + 1];
        data_path(el, path, sizeof path);
        if (strcmp(path, e->path) != 0)
            continue;
        uint64_t el_class = game_object_class(el);
        if (!game_class_reaches(el_class, base))
            continue;
        *found = true;
        uint64_t fn = game_u64_guarded(game_vslot_entry(game_u64_guarded(el), vslot_clone));
        uint64_t copy = ((uint64_t(*)(uint64_t))(uintptr_t)fn)(el);
        if (!copy || copy == el || game_object_class(copy) != el_class) {
            core_log("[core] look: clone of local accessory %p failed (%p)", game_ptr(el), game_ptr(copy));
            return 0;
        }
        game_take_ref(copy);
        used[k] = 1;
        *ours = 1;
        if (accessory_data(copy))
            return copy;
        core_log("[core] look: cloned '%s' has no data", e->path);
        game_release(copy);
        return 0;
    }
    return 0;
}

/* Step 4 of resolving: a cargo accessory for the entry's ";k=", or the
 * generic accessory when there is none or the cargo is not known here. */
uint64_t cargo_accessory(const look_entry *e, uint64_t generic)
{
    if (!e->has_cargo)
        return generic;
    const char *name = e->cargo_name;
    uint64_t cargo = game_fn<uint64_t(*)(const char **)>(call_cargo_lookup)(&name);
    if (!cargo || !game_class_reaches(game_object_class(cargo), game_from_va(cargo_class))) {
        core_log("[core] look: cargo '%s' not found here (%p); the trailer comes without its load", e->cargo_name,
                 game_ptr(cargo));
        return generic;
    }
    uint64_t acc = look_create_accessory(cargo_accessory_class, cargo_accessory_vtable, e->path);
    if (!acc)
        return generic;
    game_release(generic);
    game_take_ref(cargo);
    game_cargo_fields f;
    f.definition = cargo;
    f.seed = e->cargo_seed;
    f.load = e->cargo_load;
    f.lash = e->cargo_lash;
    f.gear = e->cargo_gear;
    memcpy(f.hook, e->cargo_hook, sizeof f.hook);
    f.units = e->cargo_units;
    f.models = e->cargo_models;
    memcpy(f.dims, e->cargo_dims, sizeof f.dims);
    memcpy(game_ptr(acc + LOOK_ACC_FIELDS), &f, LOOK_CARGO_FIELDS_SIZE);
    if (accessory_data(acc))
        return acc;
    core_log("[core] look: cargo accessory '%s' has no data", e->path);
    game_release(acc);
    return 0;
}

} // namespace

uint64_t look_resolve_entry(const look_entry *e, uint64_t reuse, uint8_t *used, uint8_t *ours)
{
    *ours = 0;
    if (reuse) {
        bool found = false;
        uint64_t acc = clone_local_accessory(e, reuse, used, ours, &found);
        if (found)
            return acc;
    }

    uint64_t generic = look_create_accessory(accessory_base_class, generic_accessory_vtable, e->path);
    if (!generic)
        return 0;
    uint64_t data = accessory_data(generic);
    if (!data) {
        core_log("[core] look: '%s' doesn't resolve (missing def/mod, or not an accessory)", e->path);
        game_release(generic);
        return 0;
    }
    uint64_t data_class = game_object_class(data);
    for (const data_mapping &m : data_mappings) {
        if (!game_class_reaches(data_class, game_from_va(m.data_class)))
            continue;
        game_release(generic);
        uint64_t acc = look_create_accessory(m.accessory_class, m.accessory_vtable, e->path);
        if (!acc)
            return 0;
        if (accessory_data(acc))
            return acc;
        char name[64];
        core_log("[core] look: '%s' rejected by %s", e->path,
                 game_class_name(game_from_va(m.accessory_class), name, sizeof name));
        game_release(acc);
        return 0;
    }
    if (game_class_reaches(data_class, game_from_va(cargo_holder_data_class)))
        return cargo_accessory(e, generic);
    char name[64];
    core_log("[core] look: '%s' resolved to class %s; refusing", e->path,
             game_class_name(data_class, name, sizeof name));
    game_release(generic);
    return 0;
}

/* ---- building ---- */

namespace {

/* Step 2 for a truck: a clone of the local truck's definition, whose
 * accessories are the reuse source. */
uint64_t start_truck(uint64_t *reuse)
{
    uint64_t truck = game_local_truck();
    uint64_t local = truck ? game_u64_guarded(truck + actor_off::definition) : 0;
    if (!has_vtable(local, def_class_vehicle.vtable_va)) {
        core_log("[core] look: no local `vehicle` definition to start from");
        return 0;
    }
    uint64_t def = def_clone(local, &def_class_vehicle);
    if (def)
        *reuse = local + DEF_ACCESSORY_ARRAY;
    return def;
}

/* Step 2 for a trailer: a new trailer definition from the unit factory,
 * linked to game_ctrl's first trailer_def entry; the player's own trailer's
 * accessories are the reuse source when there is one. */
uint64_t start_trailer(uint64_t *reuse)
{
    uint64_t block = game_player_block_guarded();
    uint64_t actor = block ? game_u64_guarded(block + GAME_PLAYER_TRAILER) : 0;
    if (actor && game_is_trailer_actor(actor)) {
        uint64_t own = game_u64_guarded(actor + actor_off::definition);
        if (has_vtable(own, def_class_trailer.vtable_va))
            *reuse = own + DEF_ACCESSORY_ARRAY;
    }
    uint64_t ctrl = game_ctrl_guarded();
    uint64_t entries = ctrl ? game_u64_guarded(ctrl + ctrl_trailer_defs) : 0;
    uint64_t first = entries ? game_u64_guarded(entries) : 0;
    if (!ctrl || game_u64_guarded(ctrl + ctrl_trailer_def_count) == 0 || !first) {
        core_log("[core] look: game_ctrl has no trailer_def entries; can't build a trailer");
        return 0;
    }
    uint64_t def = game_create_unit(def_class_trailer.class_va);
    if (!has_vtable(def, def_class_trailer.vtable_va)) {
        core_log("[core] look: create_unit(trailer) gave %p; not using it", game_ptr(def));
        return 0;
    }
    game_take_ref(def);
    game_take_ref(first);
    *(volatile uint64_t *)(uintptr_t)(def + DEF_TRAILER_DEF) = first;
    def_set_plate(def);
    return def;
}

/* Steps 3 and 4: the definition's accessory array, emptied; 0 when it is
 * missing or will not empty. */
uint64_t emptied_array(uint64_t def)
{
    uint64_t array = def + DEF_ACCESSORY_ARRAY;
    if (!probe_read(array, array_readable) || !game_u64_guarded(array)) {
        core_log("[core] look: clone has no accessory list (%p)", game_ptr(array));
        return 0;
    }
    auto erase = game_fn<void (*)(uint64_t, uint64_t)>(call_array_erase);
    for (int erased = 0;; erased++) {
        uint64_t count = *(const uint64_t *)(uintptr_t)(array + array_count);
        if (count == 0)
            return array;
        if (erased == erase_max) {
            core_log("[core] look: couldn't empty the cloned list");
            return 0;
        }
        erase(array, *(const uint64_t *)(uintptr_t)(array + array_data) + 8 * (count - 1));
    }
}

uint64_t wheel_key(uint64_t accessory)
{
    uint64_t data = accessory_data(accessory), key = 0;
    uint32_t id = *(const uint32_t *)(uintptr_t)(data + data_key_id);
    game_fn<void (*)(uint64_t *, uint32_t, uint64_t)>(call_data_key)(&key, id, data);
    return key;
}

uint64_t build(const char *list, int32_t count, int kind)
{
    uint64_t reuse = 0;
    uint64_t def = kind == LOOK_BUILD_TRUCK ? start_truck(&reuse) : start_trailer(&reuse);
    if (!def)
        return 0;
    uint64_t array = emptied_array(def);
    if (!array) {
        game_release(def);
        return 0;
    }

    uint8_t used[LOOK_LIST_MAX] = {};
    look_wheel_table wheels = {};
    int pushed = 0, wheel_count = 0, cloned = 0;
    const char *text = list;
    for (int i = 0; i < count; i++, text += strlen(text) + 1) {
        look_entry e;
        if (!look_parse_entry(text, &e)) {
            core_log("[core] look: bad entry %d '%.80s'", i, text);
            game_release(def);
            return 0;
        }
        uint8_t ours = 0;
        uint64_t acc = look_resolve_entry(&e, reuse, used, &ours);
        if (!acc) {
            game_release(def);
            return 0;
        }
        uint64_t vtable = game_u64_guarded(acc);
        if (vtable == game_from_va(wheel_accessory_vtable)) {
            wheel_count++;
            uint16_t offset = e.wheel_offset >= 0 ? (uint16_t)e.wheel_offset : look_wheel_offset(&wheels, wheel_key(acc));
            *(volatile uint16_t *)(uintptr_t)(acc + acc_off::wheel_offset) = offset;
        } else if (vtable == game_from_va(paint_accessory_vtable) && e.has_paint) {
            memcpy(game_ptr(acc + acc_off::paint), e.paint, sizeof e.paint);
        }

        uint64_t before = *(const uint64_t *)(uintptr_t)(array + array_count);
        game_array_push_ref(array, acc);
        game_release(acc); // the array keeps the resolver's reference
        uint64_t after = *(const uint64_t *)(uintptr_t)(array + array_count);
        uint32_t refword = *(const volatile uint32_t *)(uintptr_t)(acc + GAME_REF_WORD);
        core_log("[core] look:   [%d] %-28s %s refword %08x list %llu->%llu %s", i, class_name_of(acc).text,
                 ours ? "(ours)" : "(new) ", refword, (unsigned long long)before, (unsigned long long)after, text);
        // The push took when the array holds exactly the one reference the
        // push itself flagged: the flag is GAME_REF_CORE_FLAG (bit 29), the
        // one the push ORs in; bit 31 is set by nothing the core does.
        if (after != before + 1 || (refword & GAME_REF_COUNT_MASK) != 1 || !(refword & GAME_REF_CORE_FLAG) ||
            !accessory_data(acc)) {
            core_log("[core] look: push didn't take; not using this definition");
            game_release(def);
            return 0;
        }
        pushed++;
        cloned += ours;
    }
    if (kind == LOOK_BUILD_TRUCK && wheel_count == 0) {
        core_log("[core] look: no wheel accessories in the list; not using it");
        game_release(def);
        return 0;
    }
    core_log("[core] look: built %s def %p with %d accessories (%d wheels, %d cloned from ours, %d new)",
             kind == LOOK_BUILD_TRUCK ? "truck" : "trailer", game_ptr(def), pushed, wheel_count, cloned,
             pushed - cloned);
    return def;
}

} // namespace

uint64_t look_build_def(const char *list, int32_t count, int kind)
{
    if (!list || count < 1)
        return 0;
    if (look_building_off) {
        core_log("[core] look: disabled after a load fault this session; using the plain clone");
        return 0;
    }
    if (count > LOOK_LIST_MAX) {
        core_log("[core] look: %d entries is too many", count);
        return 0;
    }
    uint64_t def = 0;
    if (!dm_guarded_filter([&] { def = build(list, count, kind); }, fault_record_filter, nullptr)) {
        core_log("[core] look: FAULT while building the definition (partial units leaked)");
        return 0;
    }
    return def;
}

// The "damage" and "repair" commands: the wear of the local truck and of
// the trailers coupled to it, read and reset in the game's own data.
//
// What the objects are: the truck's and each trailer's data are the objects
// at actor_off::definition of the truck and of the trailer actor, that is
// their vehicle and trailer definitions (vehicle_def_class_va and
// trailer_def_class_va, vehicle_game.h). The trailer definition class is not
// the trailer actor's (GAME_OFF_TRAILER_ACTOR_CLASS): the check is made on
// the definition reached through the actor, so it is right as it stands;
// each trailer of the coupled chain is checked the same way.
//
// Index: data objects, printing, repair, the command.
#include <windows.h>
#include <string.h>
#include <initializer_list>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/vehicle_game.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_read.h"
#include "world/world_text.h"

namespace {

[[maybe_unused]] const dm_host_api *damage_api; /* kept for the life cycle; nothing is sent */

using namespace damage_field; /* world_game.h */

/* ---- data objects ---- */

uint64_t data_of_class(uint64_t data, uint64_t class_va)
{
    return data && game_object_class(data) == game_from_va(class_va) ? data : 0;
}

uint64_t player_data(uint32_t link, uint64_t class_va)
{
    uint64_t block = game_player_block_guarded(), vehicle = 0, data = 0;
    if (!block || !game_read_guarded(block + link, &vehicle) || !vehicle ||
        !game_read_guarded(vehicle + actor_off::definition, &data))
        return 0;
    return data_of_class(data, class_va);
}

/* The coupled trailers' data from the first: at most 4, ending at a null
 * link or one of another class. */
int trailer_chain(uint64_t first, uint64_t out[DAMAGE_TRAILERS_MAX])
{
    int n = 0;
    for (uint64_t t = first; t && n < DAMAGE_TRAILERS_MAX;) {
        out[n++] = t;
        t = data_of_class(world_read<uint64_t>(t + def_off::trailer_next), trailer_def_class_va);
    }
    return n;
}

float f32_at(uint64_t at) { return world_read<float>(at); }

/* ---- printing ---- */

size_t wheel_values(uint64_t data, uint32_t ptr_at, uint32_t count_at, float *out)
{
    uint64_t ptr = world_read<uint64_t>(data + ptr_at), count = world_read<uint64_t>(data + count_at);
    if (!ptr || !count)
        return 0;
    size_t n = count < DAMAGE_WHEELS_PRINT_MAX ? (size_t)count : DAMAGE_WHEELS_PRINT_MAX;
    world_copy(out, ptr, n * sizeof(float));
    return n;
}

void print_chassis_wheels(const char *label, uint64_t data)
{
    float fix[DAMAGE_WHEELS_PRINT_MAX], unfix[DAMAGE_WHEELS_PRINT_MAX];
    size_t nf = wheel_values(data, wheels_fix, wheels_fix_count, fix);
    size_t nu = wheel_values(data, wheels_unfix, wheels_unfix_count, unfix);
    char line[512];
    damage_format_chassis_wheels(line, sizeof line, label, (void *)(uintptr_t)data, f32_at(data + chassis_fix),
                                 f32_at(data + chassis_unfix), fix, nf, unfix, nu);
    core_log("%s", line);
}

void damage_print()
{
    uint64_t truck = damage_player_truck();
    if (!truck) {
        core_log("[core] damage: no player truck");
    } else {
        core_log("[core] damage: truck %p engine %.3f+%.3f transmission %.3f+%.3f cabin %.3f+%.3f",
                 (void *)(uintptr_t)truck, (double)f32_at(truck + engine),
                 (double)f32_at(truck + engine + unfixable_step), (double)f32_at(truck + transmission),
                 (double)f32_at(truck + transmission + unfixable_step), (double)f32_at(truck + cabin),
                 (double)f32_at(truck + cabin + unfixable_step));
        print_chassis_wheels("truck", truck);
    }
    uint64_t chain[DAMAGE_TRAILERS_MAX];
    int n = trailer_chain(damage_player_trailer(), chain);
    if (n == 0)
        core_log("[core] damage: no trailer attached");
    for (int i = 0; i < n; i++) {
        core_log("[core] damage: trailer[%d] %p body %.3f+%.3f cargo %.3f", i, (void *)(uintptr_t)chain[i],
                 (double)f32_at(chain[i] + body_fix), (double)f32_at(chain[i] + body_unfix),
                 (double)f32_at(chain[i] + cargo));
        print_chassis_wheels(i == 0 ? "trailer" : "trailer(slave)", chain[i]);
    }
}

/* ---- repair ---- */

void zero_wheels(uint64_t data, uint32_t ptr_at, uint32_t count_at)
{
    uint64_t ptr = world_read<uint64_t>(data + ptr_at), count = world_read<uint64_t>(data + count_at);
    if (!ptr)
        return;
    for (uint64_t i = 0; i < count && i < DAMAGE_WHEELS_RESET_MAX; i++)
        world_write<float>(ptr + 4 * i, 0.0f);
}

/* Chassis and wheels: the fixable parts, and the unfixable ones too unless
 * fixable only. */
void zero_chassis_wheels(uint64_t data, bool fixable_only)
{
    world_write<float>(data + chassis_fix, 0.0f);
    zero_wheels(data, wheels_fix, wheels_fix_count);
    if (fixable_only)
        return;
    world_write<float>(data + chassis_unfix, 0.0f);
    zero_wheels(data, wheels_unfix, wheels_unfix_count);
}

void damage_repair(const damage_repair_sel &sel)
{
    const char *tail = sel.fixable_only ? " (fixable only)" : "";
    if (sel.truck) {
        uint64_t truck = damage_player_truck();
        if (!truck) {
            core_log("[core] repair: no player truck");
        } else {
            for (uint32_t part : { engine, transmission, cabin }) {
                world_write<float>(truck + part, 0.0f);
                if (!sel.fixable_only)
                    world_write<float>(truck + part + unfixable_step, 0.0f);
            }
            zero_chassis_wheels(truck, sel.fixable_only);
            core_log("[core] repair: truck %p%s", (void *)(uintptr_t)truck, tail);
        }
    }
    if (sel.trailer || sel.cargo) {
        uint64_t chain[DAMAGE_TRAILERS_MAX];
        int n = trailer_chain(damage_player_trailer(), chain);
        if (n == 0)
            core_log("[core] repair: no trailer attached");
        for (int i = 0; i < n; i++) {
            if (sel.trailer) {
                world_write<float>(chain[i] + body_fix, 0.0f);
                if (!sel.fixable_only)
                    world_write<float>(chain[i] + body_unfix, 0.0f);
                zero_chassis_wheels(chain[i], sel.fixable_only);
            }
            if (sel.cargo)
                world_write<float>(chain[i] + cargo, 0.0f);
            core_log("[core] repair: trailer[%d] %p%s%s", i, (void *)(uintptr_t)chain[i],
                     sel.trailer ? " body/chassis/wheels" : "", sel.cargo ? " cargo" : "");
        }
    }
    damage_print();
}

} // namespace

void damage_init(const dm_host_api *api) { damage_api = api; }

uint64_t damage_player_truck() { return player_data(GAME_PLAYER_LOCAL_TRUCK, vehicle_def_class_va); }
uint64_t damage_player_trailer() { return player_data(GAME_PLAYER_TRAILER, trailer_def_class_va); }

/* ---- the command ---- */

namespace {

/* Runs a read or a repair of game data, a fault logged with its code. */
template <typename F> void damage_guarded(F &&act)
{
    if (!dm_guarded_filter(act, fault_record_filter, nullptr))
        core_log("[core] damage: fault (0x%08lx)", (unsigned long)last_fault_code);
}

} // namespace

void damage_command() { damage_guarded([] { damage_print(); }); }

void repair_command(const char *rest)
{
    // The words are read before anything is touched: a word of another
    // kind resets nothing.
    damage_repair_sel sel = {};
    if (!damage_parse_repair(rest, &sel)) {
        core_log("[core] usage: repair [fixable] [truck] [trailer] [cargo]");
        return;
    }
    damage_guarded([&] { damage_repair(sel); });
}

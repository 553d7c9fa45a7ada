// The convoy remote vehicles' slots (rv.h): a slot is a game netobj made by
// the game's factory, its vehicle's model built from a definition with its
// accessories, and taken down again; in single player the two stand-ins the
// game's remote-vehicle code expects in its world controller (a player-info
// object and a server-rules object) are planted first.
//
// Index
//   state        the slots, reset, the game's objects
//   faults       rv_log_fault
//   stand-ins    the player-info page, server_config create and remove
//   netobjs      create, build, destroy, alive, release a definition
//   spawn        rv_spawn
//   despawn      rv_despawn, rv_despawn_remotes, rv_forget_all
#include <windows.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/rv.h"
#include "vehicles/rv_game.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

/* ---- state ---- */

rv_slot_state rv_slots[DM_RV_SLOTS];
rv_settings rv_config;

void rv_slot_reset(rv_slot_state *slot) { *slot = rv_slot_state {}; }

void rv_slot_reset_logged(rv_slot_state *slot)
{
    const rv_slot_state fresh {};
    slot->last_flags = fresh.last_flags;
    slot->last_ticked = fresh.last_ticked;
    slot->last_physics = fresh.last_physics;
}

namespace {

/* The two controllers, each probed when it is taken (a world loaded) for
 * the fields the frame reads: the world controller up to its physics clock,
 * the truck controller up to its ticked count. */
game_taken taken_wc, taken_ctrl;
const size_t wc_frame_bytes = wc_field::physics_clock + 8, ctrl_frame_bytes = ctrl_field::ticked + 8;

} // namespace

uint64_t rv_world_controller()
{
    return game_take(&taken_wc, game_image_value<uint64_t>(rv_addr::world_controller), wc_frame_bytes);
}

uint64_t rv_truck_ctrl()
{
    return game_take(&taken_ctrl, game_image_value<uint64_t>(rv_addr::truck_ctrl), ctrl_frame_bytes);
}

bool rv_unit_factory_ok()
{
    uint32_t index = game_image_value<uint32_t>(GAME_OFF_FACTORY_INDEX);
    return index < GAME_FACTORY_COUNT && game_u64_guarded(game_addr(GAME_OFF_FACTORY_TABLE) + 8ull * index) != 0;
}

bool rv_any_netobj()
{
    for (const rv_slot_state &s : rv_slots)
        if (s.netobj)
            return true;
    return false;
}

uint32_t rv_netobj_id(int index) { return (uint32_t)(index + 32752) | 0x10000u; }

namespace {

uint64_t ctrl_count()
{
    uint64_t ctrl = rv_truck_ctrl();
    return ctrl ? game_u64_guarded(ctrl + ctrl_field::count) : 0;
}

template <typename F> bool guarded(const char *step, F &&fn)
{
    if (dm_guarded_filter(fn, fault_record_filter, nullptr))
        return true;
    rv_log_fault(step);
    return false;
}

} // namespace

/* ---- faults ---- */

void rv_log_fault(const char *step)
{
    core_log("[core] rv: %s FAULTED 0x%08x at %p (game VA 0x%llx), data %p", step, last_fault_code,
             game_ptr(last_fault_address), last_fault_va(), game_ptr(last_fault_data));
}

/* ---- stand-ins ---- */

namespace {

/* The player-info page: a routine that returns 0, a table whose every slot
 * is that routine, the object (its table and the tag) and the save area. */
const uint32_t pinfo_routine = 0, pinfo_table = 256, pinfo_object = 2048, pinfo_save = 512; /* save: object + */
const int pinfo_table_slots = 128;
const char pinfo_tag[16] = "drovemark pinfo";
uint64_t pinfo_page; /* made by this core; the next finds it by its tag */

bool has_pinfo_tag(uint64_t object)
{
    char tag[16];
    return probe_read(object, 24) && game_copy_guarded(tag, object + 8, sizeof tag) &&
           memcmp(tag, pinfo_tag, sizeof tag) == 0;
}

uint64_t make_pinfo()
{
    if (pinfo_page)
        return pinfo_page + pinfo_object;
    uint8_t *page = (uint8_t *)VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!page)
        return 0;
    const uint8_t ret0[] = { 0x31, 0xC0, 0xC3 }; // xor eax, eax; ret
    memcpy(page + pinfo_routine, ret0, sizeof ret0);
    for (int i = 0; i < pinfo_table_slots; i++) {
        uint64_t routine = (uint64_t)(uintptr_t)(page + pinfo_routine);
        memcpy(page + pinfo_table + 8 * i, &routine, 8);
    }
    uint64_t table = (uint64_t)(uintptr_t)(page + pinfo_table);
    memcpy(page + pinfo_object, &table, 8);
    memcpy(page + pinfo_object + 8, pinfo_tag, sizeof pinfo_tag);
    DWORD old;
    if (!VirtualProtect(page, 4096, PAGE_EXECUTE_READ, &old)) {
        VirtualFree(page, 0, MEM_RELEASE);
        return 0;
    }
    FlushInstructionCache(GetCurrentProcess(), page, 4096);
    pinfo_page = (uint64_t)(uintptr_t)page;
    return pinfo_page + pinfo_object;
}

bool network_game(uint64_t wc)
{
    return game_u64_guarded(wc + wc_field::network_game) || game_u64_guarded(wc + wc_field::word2);
}

/* Step 2 of the spawn: the player info, ours planted when there is none. */
bool player_info_ready(uint64_t wc)
{
    uint64_t info = game_u64_guarded(wc + wc_field::player_info);
    if (info) {
        core_log("[core] rv: wc+0x48 = %p (%s)", game_ptr(info), has_pinfo_tag(info) ? "our stand-in" : "the game's own");
        return true;
    }
    if (network_game(wc)) {
        core_log("[core] rv: no player info at wc+0x48 in a network game; not spawning");
        return false;
    }
    uint64_t object = make_pinfo();
    if (!object) {
        core_log("[core] rv: could not allocate the player-info stand-in");
        return false;
    }
    game_field<uint64_t>(wc, wc_field::player_info) = object;
    core_log("[core] rv: installed player-info stand-in %p at wc+0x48 (all slots return 0)", game_ptr(object));
    return true;
}

void log_rules(uint64_t rules)
{
    uint8_t f[rules_field::size] = {};
    game_copy_guarded(f, rules, sizeof f);
    uint16_t timezones, max_players;
    memcpy(&timezones, f + rules_field::timezones, 2);
    memcpy(&max_players, f + rules_field::max_players, 2);
    core_log("[core] rv: installed server_config stand-in %p at wc+0x70: damage %u traffic %u hide_in_company %u "
             "hide_colliding %u timezones %u no_service_coll %u menu_ghost %u name_tags %u max_players %u",
             game_ptr(rules), f[rules_field::damage], f[rules_field::traffic], f[rules_field::hide_in_company],
             f[rules_field::hide_colliding], timezones, f[rules_field::no_service_coll], f[rules_field::menu_ghost],
             f[rules_field::name_tags], max_players);
}

/* Step 3 of the spawn: the session rules, ours planted when there are none. */
bool rules_ready(uint64_t wc)
{
    uint64_t rules = game_u64_guarded(wc + wc_field::rules);
    if (rules) {
        bool ours = rv_is_server_config(rules);
        core_log("[core] rv: wc+0x70 = %p (%s)", game_ptr(rules),
                 !ours ? "NOT a server_config_u" : game_u64_guarded(wc + wc_field::network_game) ? "the session's"
                                                                                                : "our stand-in");
        if (ours)
            return true;
    } else if (!network_game(wc)) {
        rules = rv_server_config_create();
        if (rules) {
            game_take_ref(rules); // ours while it stands there; the remove drops it
            game_field<uint64_t>(wc, wc_field::rules) = rules;
            log_rules(rules);
            return true;
        }
        core_log("[core] rv: could not create the server_config stand-in");
    }
    core_log("[core] rv: no usable session rules at wc+0x70; not spawning");
    return false;
}

} // namespace

bool rv_is_server_config(uint64_t object)
{
    return object && game_object_class(object) == game_addr(rv_addr::server_config_class);
}

uint64_t rv_server_config_create()
{
    if (!rv_unit_factory_ok())
        return 0;
    uint64_t made = 0;
    if (!guarded("server_config create", [&] { made = game_create_unit(game_va(game_addr(rv_addr::server_config_class))); }))
        return 0;
    if (!made)
        return 0;
    if (!rv_is_server_config(made)) {
        core_log("[core] rv: server_config create gave %p of another class", game_ptr(made));
        return 0;
    }
    bool ok = guarded("server_config create", [&] {
        typedef uint64_t (*getter_fn)(uint64_t setting, uint64_t arg);
        uint64_t zones = game_fn<getter_fn>(GAME_OFF_SETTING_GETTER)(game_addr(rv_addr::timezone_setting), 0);
        game_field<uint16_t>(made, rules_field::timezones) = (uint16_t)zones;
        game_field<uint8_t>(made, rules_field::name_tags) = 0;
    });
    return ok ? made : 0;
}

void rv_server_config_remove()
{
    uint64_t wc = rv_world_controller();
    if (!wc)
        return;
    uint64_t rules = game_u64_guarded(wc + wc_field::rules);
    if (!rv_is_server_config(rules) || network_game(wc))
        return;
    if (!dm_guarded_filter([&] {
            game_field<uint64_t>(wc, wc_field::rules) = 0;
            game_release(rules);
        }, fault_record_filter, nullptr)) {
        core_log("[core] rv: releasing the server_config stand-in faulted");
        return;
    }
    core_log("[core] rv: removed the server_config stand-in");
}

namespace {

/* The player info last seen at wc+0x48 and whether it carried our tag: our
 * page is never freed and read only, so its tag is checked once, when a
 * new pointer is taken, not in every frame's save. */
uint64_t pinfo_seen;
bool pinfo_seen_ours;

} // namespace

uint64_t rv_pinfo_save_area()
{
    uint64_t wc = rv_world_controller();
    uint64_t info = 0;
    if (wc)
        game_copy_unprobed(&info, wc + wc_field::player_info, sizeof info);
    if (info != pinfo_seen) {
        pinfo_seen = info;
        pinfo_seen_ours = info && has_pinfo_tag(info);
    }
    return pinfo_seen_ours ? info + pinfo_save : 0;
}

/* ---- netobjs ---- */

bool rv_create_netobj(rv_slot_state *slot, int index, const placement *at, uint64_t owner)
{
    uint32_t id[2] = { rv_netobj_id(index), 0 };
    uint64_t netobj = 0;
    if (!guarded("create", [&] {
            typedef uint64_t (*factory_fn)(uint64_t, const uint32_t *, const placement *);
            netobj = game_fn<factory_fn>(rv_addr::factory)(owner, id, at);
        }))
        return false;
    if (!netobj) {
        core_log("[core] rv: factory returned null");
        return false;
    }
    slot->netobj = netobj;
    uint64_t net_time = rv_net_time_us();
    return guarded("create", [&] {
        uint64_t vtable = game_field<uint64_t>(netobj, 0);
        core_log("[core] rv[%d]: netobj=%p vtable %s, id %08x/%04x, state word %08x, status %08x", index,
                 game_ptr(netobj), vtable == game_addr(rv_addr::netobj_vtable) ? "ok" : "UNEXPECTED",
                 game_field<uint32_t>(netobj, netobj_field::id), game_field<uint16_t>(netobj, netobj_field::id_high),
                 game_field<uint32_t>(netobj, netobj_field::state), game_field<uint32_t>(netobj, netobj_field::status));
        game_field<uint8_t>(netobj, netobj_field::state) = 1;
        game_field<placement>(netobj, netobj_field::key_previous) = *at;
        game_field<placement>(netobj, netobj_field::key_current) = *at;
        game_field<uint8_t>(netobj, netobj_field::key_mode) = 2;
        game_field<uint64_t>(netobj, netobj_field::key_base) = net_time;
        game_field<uint64_t>(netobj, netobj_field::key_time) = net_time;
        game_field<uint64_t>(netobj, netobj_field::reset_a) = 0;
        game_field<uint64_t>(netobj, netobj_field::reset_b) = 0;
        game_field<uint32_t>(netobj, netobj_field::status) |= 0x0C;
        game_vslot<void (*)(uint64_t, uint64_t)>(netobj, netobj_slot::add)(netobj, netobj_slot::list_argument);
    });
}

bool rv_build_model(rv_slot_state *slot, uint64_t link, uint64_t accessory_array)
{
    uint64_t vehicle = game_u64_guarded(slot->netobj + netobj_field::vehicle);
    uint64_t link_array = link + DEF_ACCESSORY_ARRAY;
    return guarded("build", [&] {
        uint64_t pushed = 0;
        if (accessory_array) {
            uint64_t data = game_field<uint64_t>(accessory_array, 8), count = game_field<uint64_t>(accessory_array, 0x10);
            for (uint64_t i = 0; data && i < count; i++) {
                uint64_t entry = game_field<uint64_t>(data, (uint32_t)(8 * i));
                if (!entry)
                    continue;
                game_array_push_ref(link_array, entry);
                pushed++;
            }
        }
        core_log("[core] rv: pushed %llu accessories into %p (now %llu); building the model",
                 (unsigned long long)pushed, game_ptr(link_array),
                 (unsigned long long)game_field<uint64_t>(link_array, 0x10));
        game_vslot<void (*)(uint64_t)>(vehicle, rv_slot::build_model)(vehicle);
        core_log("[core] rv: built: model(+0x270)=%p phys(+0x10)=%p flags=%04x",
                 game_ptr(game_field<uint64_t>(vehicle, rv_field::model)),
                 game_ptr(game_field<uint64_t>(vehicle, rv_field::physics)), game_field<uint16_t>(vehicle, rv_field::flags));
    });
}

bool rv_destroy_netobj(rv_slot_state *slot)
{
    uint64_t netobj = slot->netobj;
    return guarded("despawn", [&] {
        game_vslot<void (*)(uint64_t, uint64_t)>(netobj, netobj_slot::remove)(netobj, netobj_slot::list_argument);
        game_vslot<void (*)(uint64_t, uint64_t)>(netobj, netobj_slot::destroy)(netobj, 1);
    });
}

bool rv_release_definition(uint64_t definition)
{
    if (!definition)
        return false;
    return guarded("definition release", [&] { game_release(definition); });
}

namespace {

const uint64_t ctrl_list_max = 4096;

/* Our table, the slot's id and the vehicle in the controller's list, with
 * plain loads: the caller guards them. */
bool netobj_listed(uint64_t netobj, int index, uint64_t ctrl)
{
    if (game_field<uint64_t>(netobj, 0) != game_addr(rv_addr::netobj_vtable) ||
        game_field<uint32_t>(netobj, netobj_field::id) != rv_netobj_id(index))
        return false;
    uint64_t vehicle = game_field<uint64_t>(netobj, netobj_field::vehicle);
    uint64_t array = game_field<uint64_t>(ctrl, ctrl_field::array), count = game_field<uint64_t>(ctrl, ctrl_field::count);
    if (!vehicle || !array || count > ctrl_list_max)
        return false;
    for (uint64_t i = 0; i < count; i++)
        if (game_field<uint64_t>(array, (uint32_t)(8 * i)) == vehicle)
            return true;
    return false;
}

} // namespace

bool rv_netobj_alive(uint64_t netobj, int index)
{
    uint64_t ctrl = rv_truck_ctrl();
    if (!ctrl || !netobj || !probe_read(netobj, netobj_field::vehicle + 8))
        return false;
    uint64_t array = game_u64_guarded(ctrl + ctrl_field::array), count = game_u64_guarded(ctrl + ctrl_field::count);
    if (count > ctrl_list_max || !probe_read(array, 8 * count))
        return false;
    return rv_netobj_listed(netobj, index, ctrl);
}

bool rv_netobj_listed(uint64_t netobj, int index, uint64_t ctrl)
{
    bool listed = false;
    return netobj && ctrl && dm_guarded([&] { listed = netobj_listed(netobj, index, ctrl); }) && listed;
}

/* ---- spawn ---- */

bool rv_spawn(int index, const placement *at, uint64_t definition, uint64_t accessory_array, int target_stage)
{
    rv_slot_state &slot = rv_slots[index];
    uint64_t wc = rv_world_controller();
    if (!wc) {
        core_log("[core] rv: no world controller; not spawning");
        return false;
    }
    if (!player_info_ready(wc) || !rules_ready(wc))
        return false;
    uint64_t ctrl = rv_truck_ctrl();
    uint64_t before = ctrl_count();
    uint64_t block = game_player_block_guarded();
    uint64_t network = block ? game_u64_guarded(block + player_block_network) : 0;
    uint64_t owner = network ? game_u64_guarded(network + player_network_owner) : 0;

    rv_slot_reset(&slot);
    if (!rv_create_netobj(&slot, index, at, owner)) {
        // A netobj that faulted after the factory made it stays in the game.
        slot.netobj = 0;
        return false;
    }
    slot.stage = RV_STAGE_A;
    slot.ctrl = ctrl;
    uint64_t netobj = slot.netobj;
    uint64_t vehicle = game_u64_guarded(netobj + netobj_field::vehicle);
    uint64_t link = game_u64_guarded(netobj + netobj_field::link);
    uint64_t vehicle_def = vehicle ? game_u64_guarded(vehicle + rv_field::definition) : 0;
    core_log("[core] rv[%d]: added; ctrl trucks %llu -> %llu; rv=%p (vtable %p) def link(+0x298)=%p rv "
             "def(+0x290)=%p%s",
             index, (unsigned long long)before, (unsigned long long)ctrl_count(), game_ptr(vehicle),
             game_ptr(vehicle ? game_u64_guarded(vehicle) : 0), game_ptr(link), game_ptr(vehicle_def),
             link == vehicle_def ? " (same)" : "");
    log_placement("rv placement", at);

    if (target_stage >= RV_STAGE_B) {
        uint64_t array = link ? link + DEF_ACCESSORY_ARRAY : 0;
        uint64_t table = 0;
        bool found = vehicle && link && probe_read(array, 24) && game_read_guarded(array, &table) &&
                     table >= game_base && table < game_base + rv_addr::image_span;
        if (!found) {
            core_log("[core] rv[%d]: definition array not found (def %p, array %p, vtable %p); staying at stage A",
                     index, game_ptr(link), game_ptr(array), game_ptr(table));
        } else {
            // The slot holds the definition only with a model built from it.
            if (rv_build_model(&slot, link, accessory_array)) {
                slot.definition = definition;
                slot.stage = target_stage;
                rv_slot_reset_logged(&slot);
            }
        }
    }
    rv_info(index);
    rv_save_slots();
    return true;
}

/* ---- despawn ---- */

void rv_despawn(int index, const char *reason)
{
    rv_slot_state &slot = rv_slots[index];
    if (!slot.netobj)
        return;
    if (!rv_netobj_alive(slot.netobj, index) || rv_truck_ctrl() != slot.ctrl) {
        // The world under it went away: no game call on what may be gone.
        core_log("[core] rv[%d]: despawn (%s): netobj %p is gone; forgotten without game calls", index, reason,
                 game_ptr(slot.netobj));
        rv_slot_reset(&slot);
        rv_save_slots();
        return;
    }
    uint64_t before = ctrl_count();
    bool destroyed = rv_destroy_netobj(&slot);
    uint64_t ctrl = rv_truck_ctrl();
    core_log("[core] rv[%d]: despawn (%s) %s; ctrl trucks %llu -> %llu, ticked %llu", index, reason,
             destroyed ? "done" : "FAILED (object leaked)", (unsigned long long)before,
             (unsigned long long)ctrl_count(), (unsigned long long)(ctrl ? game_u64_guarded(ctrl + ctrl_field::ticked) : 0));
    uint64_t definition = slot.definition;
    bool owned = slot.owns_definition;
    rv_slot_reset(&slot);
    if (destroyed && owned && rv_release_definition(definition))
        core_log("[core] rv[%d]: released its definition %p", index, game_ptr(definition));
    rv_save_slots();
    if (destroyed && !rv_any_netobj())
        rv_server_config_remove();
}

void rv_despawn_remotes(const char *reason)
{
    for (int i = 1; i < DM_RV_SLOTS; i++)
        if (rv_slots[i].netobj && rv_slots[i].player)
            rv_despawn(i, reason);
}

void rv_forget_all()
{
    for (rv_slot_state &s : rv_slots)
        rv_slot_reset(&s);
}

void *rv_slot_netobj(int slot)
{
    return slot >= 0 && slot < DM_RV_SLOTS ? game_ptr(rv_slots[slot].netobj) : nullptr;
}

// The console commands that test and drive the spawned vehicle: local,
// spawn, info, cargodump, move, defdump, spawnlist and the switches of the
// spawned vehicle (flags, wheeldbg, steer flip, spawnmode, collide, tick). Game thread only; every game read is probed and guarded.
// The arguments and the spawn list file are parsed in vehicle_args.cpp.
//
// Index
//   game addresses   fields, slots and classes of build 1.61.3.1
//   local            cmd_local
//   spawn            cmd_spawn
//   info             cmd_info
//   cargodump        cmd_cargodump
//   move             cmd_move
//   files            the base directory, defdump's file
//   defdump          cmd_defdump
//   spawnlist        cmd_spawnlist
//   switches         cmd_flags, cmd_flags_off, cmd_wheeldbg, cmd_steer_flip, cmd_spawnmode,
//                    cmd_collide, cmd_tick
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_file.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/look_list.h"
#include "vehicles/motion_math.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_args.h"
#include "vehicles/vehicle_defs.h"
#include "vehicles/vehicle_game.h"

/* ---- game addresses ---- */

namespace {

const uint64_t defdump_accessories_max = 128;
const uint64_t cargodump_accessories_max = 64;
/* game_ctrl's arrays: a data pointer followed by a u64 count, searched in
 * the object's first bytes for the cargo definition. */
const uint32_t ctrl_scan_bytes = 0x4000;
const uint64_t ctrl_array_max = 65536;


const char *class_name_of(uint64_t object, char *out, size_t size)
{
    return game_class_name(game_object_class(object), out, size);
}

/* A definition's accessory array: its data and count (0 when none). */
uint64_t accessories_of(uint64_t def, uint64_t *count)
{
    *count = def ? game_read_guarded_or_zero<uint64_t>(def + DEF_ACCESSORY_COUNT) : 0;
    return def ? game_read_guarded_or_zero<uint64_t>(def + DEF_ACCESSORY_DATA) : 0;
}

} // namespace

/* ---- local ---- */

void cmd_local(const dm_frame_info *info)
{
    uint64_t ctrl = game_ctrl_guarded();
    uint64_t truck = game_local_truck();
    uint64_t def = truck ? game_read_guarded_or_zero<uint64_t>(truck + actor_off::definition) : 0;
    core_log("[core] game_ctrl=%p truck=%p def=%p", game_ptr(ctrl), game_ptr(truck), game_ptr(def));
    if (!truck) {
        core_log("[core] no local truck (game_ctrl=%p)", game_ptr(ctrl));
        return;
    }
    placement p;
    if (game_object_placement(truck, &p) != GAME_PLACEMENT_OK) {
        core_log("[core] get_placement returned false");
        return;
    }
    log_placement("local truck (game)", &p);
    log_telemetry_pos(info);
    core_log("[core] diff game-telemetry: dx=%.3f dy=%.3f dz=%.3f", placement_world_x(&p) - info->x,
             (double)p.y - info->y, placement_world_z(&p) - info->z);
}

/* ---- spawn ---- */

void cmd_spawn(const char *rest)
{
    float metres;
    if (!vcmd_parse_spawn(rest, &metres)) {
        core_log("[core] spawn [metres right]");
        return;
    }
    spawn_vehicle(metres, nullptr, 0);
}

/* ---- info ---- */

void cmd_info()
{
    spawn_state_record &s = spawn_state;
    if (s.state == SPAWN_NONE) {
        core_log("[core] info: nothing spawned");
        return;
    }
    uint64_t vehicle = s.vehicle;
    placement p = {};
    bool placed = game_object_placement(vehicle, &p) == GAME_PLACEMENT_OK;
    core_log("[core] info: veh=%p state=%d load=%u refword=%08x flags2a0=%08x def=%p (local def %p) chassis=%p "
             "cabin=%p",
             game_ptr(vehicle), (int)s.state, game_read_guarded_or_zero<uint32_t>(vehicle + actor_off::load_state), game_read_guarded_or_zero<uint32_t>(vehicle + GAME_REF_WORD),
             game_read_guarded_or_zero<uint32_t>(vehicle + actor_off::lights), game_ptr(game_read_guarded_or_zero<uint64_t>(vehicle + actor_off::definition)), game_ptr(s.definition),
             game_ptr(game_read_guarded_or_zero<uint64_t>(vehicle + actor_off::body)), game_ptr(game_read_guarded_or_zero<uint64_t>(vehicle + truck_cabin)));
    if (placed)
        log_placement("info: get_placement", &p);
    else
        core_log("[core] info: get_placement returned false");
    placement body = {};
    if (dm_guarded_filter(
            [&] { game_vslot<void (*)(uint64_t, placement *)>(vehicle, actor_slot::body_placement)(vehicle, &body); },
            fault_record_filter, nullptr))
        log_placement("info: chassis body placement (+0xf8)", &body);
    else
        core_log("[core] info: chassis body placement FAULT %08x at game VA %llx", last_fault_code,
                 (unsigned long long)game_va(last_fault_address));
    if (s.trailer_state != SPAWN_NONE)
        trailer_info();
}

/* ---- cargodump ---- */

namespace {

/* Where the cargo definition stands in an array of game_ctrl: a data
 * pointer followed by a count, each element a pointer. */
void cargodump_find_in_ctrl(uint64_t cargo)
{
    uint64_t ctrl = game_ctrl_guarded();
    if (!ctrl || !cargo)
        return;
    for (uint32_t at = 0; at + 16 <= ctrl_scan_bytes; at += 8) {
        uint64_t head[2];
        if (!game_copy_guarded(head, ctrl + at, sizeof head))
            break;
        uint64_t data = head[0], count = head[1];
        if (!data || count == 0 || count > ctrl_array_max)
            continue;
        uint64_t chunk[256];
        for (uint64_t i = 0; i < count; i += 256) {
            uint64_t n = count - i < 256 ? count - i : 256;
            if (!game_copy_guarded(chunk, data + 8 * i, (size_t)(8 * n)))
                break;
            for (uint64_t k = 0; k < n; k++)
                if (chunk[k] == cargo) {
                    core_log("[core] cargodump:   found in game_ctrl+0x%llx[%llu] of %llu", (unsigned long long)at,
                             (unsigned long long)(i + k), (unsigned long long)count);
                    return;
                }
        }
    }
}

void cargodump_body()
{
    uint64_t block = game_player_block_guarded();
    uint64_t actor = block ? game_read_guarded_or_zero<uint64_t>(block + GAME_PLAYER_TRAILER) : 0;
    if (!game_is_trailer_actor(actor)) {
        core_log("[core] cargodump: no trailer");
        return;
    }
    uint64_t count;
    uint64_t data = accessories_of(game_read_guarded_or_zero<uint64_t>(actor + actor_off::definition), &count);
    uint64_t cargo_acc_class = game_from_va(cargo_accessory_class);
    for (uint64_t i = 0; data && i < count && i < cargodump_accessories_max; i++) {
        uint64_t acc = game_read_guarded_or_zero<uint64_t>(data + 8 * i);
        if (!acc || !game_class_reaches(game_object_class(acc), cargo_acc_class))
            continue;
        game_cargo_fields c = {};
        game_copy_guarded(&c, acc + LOOK_ACC_FIELDS, LOOK_CARGO_FIELDS_SIZE);
        char path[LOOK_ENTRY_SIZE] = "", cls[64], name[LOOK_ENTRY_SIZE];
        game_read_guarded_text(game_read_guarded_or_zero<uint64_t>(acc + acc_off::path_chars), path, sizeof path);
        core_log("[core] cargodump: [%llu] %p path='%s' cargo_data=%p (%s, refword %08x) seed=%llx load=%u lash=%u "
                 "gear=%u hook=(%.3f %.3f %.3f) units=%.3f models=%u dims=(%.3f %.3f %.3f)",
                 (unsigned long long)i, game_ptr(acc), path, game_ptr(c.definition),
                 c.definition ? class_name_of(c.definition, cls, sizeof cls) : "?",
                 c.definition ? game_read_guarded_or_zero<uint32_t>(c.definition + GAME_REF_WORD) : 0, (unsigned long long)c.seed, c.load,
                 c.lash, c.gear, c.hook[0], c.hook[1], c.hook[2], c.units, c.models, c.dims[0], c.dims[1], c.dims[2]);
        look_cargo_name(c.definition, name, sizeof name);
        core_log("[core] cargodump:   cargo_data full name '%s' (name id %08x)", name,
                 c.definition ? game_read_guarded_or_zero<uint32_t>(c.definition + acc_off::cargo_name_id) : 0);
        cargodump_find_in_ctrl(c.definition);
    }
}

} // namespace

void cmd_cargodump()
{
    if (!dm_guarded([] { cargodump_body(); }))
        core_log("[core] cargodump: FAULT");
}

/* ---- move ---- */

void cmd_move(const char *rest)
{
    spawn_state_record &s = spawn_state;
    if (s.state != SPAWN_SPAWNED) {
        core_log("[core] move: nothing spawned");
        return;
    }
    vcmd_move_args m;
    bool ok = vcmd_parse_move(rest, &m);
    if (ok && strcmp(m.word, "circle") == 0) {
        placement truck;
        if (!local_truck_placement(&truck))
            return;
        if (m.given >= 1 && m.a > 2.0)
            s.circle_radius = m.a;
        if (m.given >= 2 && m.b > 0.0)
            s.circle_speed = m.b;
        double cx = placement_world_x(&truck), cz = placement_world_z(&truck);
        spawn_move_circle(cx, truck.y, cz);
        core_log("[core] move circle: centre (%.1f, %.1f) radius %.1f m speed %.1f m/s", cx, cz, s.circle_radius,
                 s.circle_speed);
    } else if (ok && strcmp(m.word, "follow") == 0) {
        if (m.given >= 1 && m.a > 3.0)
            s.follow_distance = m.a;
        spawn_move_follow();
        core_log("[core] move follow: %.1f m behind along your path", s.follow_distance);
    } else if (ok && strcmp(m.word, "park") == 0) {
        placement truck;
        if (!local_truck_placement(&truck))
            return;
        placement right = placement_advance(&truck, (float)m.a);
        placement at = motion_advance_forward(&right, (float)m.b);
        spawn_move_park(&at);
        log_placement("move park", &at);
    } else if (ok && strcmp(m.word, "stop") == 0) {
        spawn_move_stop();
        core_log("[core] move stop");
    } else {
        core_log("[core] move: circle [radius] [speed] | follow [distance] | stop");
    }
}

/* ---- files ---- */

namespace {

const char *base_dir() { return core_api && core_api->base_dir ? core_api->base_dir : ""; }

/* The path of a command's file, as given or in the base directory. */
bool command_path(char *out, size_t size, const char *name) { return vcmd_path(out, size, base_dir(), name); }

/* Whether the path, as the system resolves it, is one of our own files.
 * Both sides are resolved: the base directory may hold "..", "." or "/". */
bool own_file(const char *path)
{
    char full[3 * MAX_PATH], base[3 * MAX_PATH];
    if (!dm_full_path(path, full, sizeof full) || !dm_full_path(base_dir(), base, sizeof base))
        return true; // cannot tell where it lies: not written
    return vcmd_is_own_file(full, base);
}

/* defdump's file: written under a temporary name next to it and put in
 * place when complete, so a failed dump never leaves half a list. */
struct dump_file {
    FILE *f = nullptr;
    bool failed = false;
    char path[DM_PATH_MAX + 8];
    char temp[DM_PATH_MAX + 8];
};

bool dump_open(dump_file *d, const char *name)
{
    if (!command_path(d->path, sizeof d->path, name)) {
        snprintf(d->path, sizeof d->path, "%.259s", name);
        core_log("[core] defdump: can't write %s", d->path);
        return false;
    }
    if (own_file(d->path)) {
        core_log("[core] defdump: %s is one of our own files; not writing it", d->path);
        return false;
    }
    int n = snprintf(d->temp, sizeof d->temp, "%s.tmp", d->path);
    if (n < 0 || (size_t)n >= sizeof d->temp || own_file(d->temp) || !(d->f = dm_file_open(d->temp, "w"))) {
        core_log("[core] defdump: can't write %s", d->path);
        return false;
    }
    return true;
}

void dump_line(dump_file *d, const char *entry)
{
    if (d->f && fprintf(d->f, "%s\n", entry) < 0)
        d->failed = true;
}

void dump_close(dump_file *d)
{
    if (!d->f)
        return;
    bool ok = !d->failed && !ferror(d->f);
    ok = fclose(d->f) == 0 && ok;
    d->f = nullptr;
    if (ok && dm_file_move(d->temp, d->path, MOVEFILE_REPLACE_EXISTING)) {
        core_log("[core] defdump: wrote %s", d->path);
        return;
    }
    dm_file_delete(d->temp);
    core_log("[core] defdump: can't write %s", d->path);
}

} // namespace

/* ---- defdump ---- */

void cmd_defdump(const char *file)
{
    uint64_t truck = game_local_truck();
    if (!truck) {
        core_log("[core] defdump: no local truck");
        return;
    }
    uint64_t def = game_read_guarded_or_zero<uint64_t>(truck + actor_off::definition), count;
    uint64_t data = accessories_of(def, &count);
    char cls[64] = "?", plate[64] = "";
    if (def) {
        class_name_of(def, cls, sizeof cls);
        game_read_guarded_text(game_read_guarded_or_zero<uint64_t>(def + DEF_PLATE_CHARS), plate, sizeof plate);
    }
    core_log("[core] defdump: def=%p class=%s refword=%08x plate='%s' accessories=%llu", game_ptr(def), cls,
             def ? game_read_guarded_or_zero<uint32_t>(def + GAME_REF_WORD) : 0, plate, (unsigned long long)count);
    dump_file d;
    if (file && file[0])
        dump_open(&d, file);
    for (uint64_t i = 0; data && i < count && i < defdump_accessories_max; i++) {
        uint64_t acc = game_read_guarded_or_zero<uint64_t>(data + 8 * i);
        char entry[LOOK_ENTRY_SIZE];
        look_format_accessory(acc, entry, sizeof entry);
        core_log("[core]   [%llu] %p %-28s %s", (unsigned long long)i, game_ptr(acc),
                 acc ? class_name_of(acc, cls, sizeof cls) : "?", entry);
        dump_line(&d, entry);
    }
    dump_close(&d);
}

/* ---- spawnlist ---- */

void cmd_spawnlist(const char *rest)
{
    static char list[LOOK_LIST_MAX * LOOK_ENTRY_SIZE];
    char name[VCMD_FILE_MAX + 1];
    float metres;
    if (!vcmd_parse_spawnlist(rest, name, sizeof name, &metres)) {
        core_log("[core] spawnlist <file> [metres right]");
        return;
    }
    char path[DM_PATH_MAX + 8];
    bool fits = command_path(path, sizeof path, name);
    FILE *f = fits ? dm_file_open(path, "r") : nullptr;
    if (!f) {
        core_log("[core] spawnlist: can't open %.259s", fits ? path : name);
        return;
    }
    int count = spawnlist_read(f, list);
    fclose(f);
    core_log("[core] spawnlist: %d entries from %s", count, path);
    if (count > 0)
        spawn_vehicle(metres, list, count);
}

/* ---- switches ---- */

void cmd_flags(const char *rest)
{
    uint32_t word;
    if (!vcmd_parse_flags(rest, &word)) {
        core_log("[core] flags <hex light word> | flags off");
        return;
    }
    spawn_state.forced_word = word;
    spawn_state.forced_on = 1;
    core_log("[core] forcing veh+0x2a0 = %08x", word);
}

void cmd_flags_off()
{
    spawn_state.forced_on = 0;
    core_log("[core] flags no longer forced");
}

void cmd_wheeldbg() { spawn_state.wheel_debug = 5; }

void cmd_steer_flip()
{
    spawn_state.steer_sign = -spawn_state.steer_sign;
    core_log("[core] steering sign %+.0f", spawn_state.steer_sign);
}

void cmd_spawnmode(bool clone)
{
    spawn_state.spawn_mode_clone = clone ? 1 : 0;
    core_log("[core] spawn mode: %s", clone ? "clone" : "share");
}

void cmd_collide(bool on)
{
    spawn_state.collision_on = on;
    spawn_apply_collision("command");
}

void cmd_tick(bool on)
{
    spawn_state.tick_on = on;
    core_log("[core] per-frame update %s", spawn_state.tick_on ? "ON" : "OFF");
}

// Reload blocks (reload_blocks.h): the spawned vehicle, its trailer and the
// connection handed from one core build to the next.
//
// Index
//   the sections     reload_blocks_map
//   writing          reload_blocks_frame, reload_blocks_write (dm_core_shutdown)
//   core and trailer dm_restore_after_reload (dm_core_init)
//   net              reload_restore_net (the first frame)
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "auto_connect.h"
#include "core.h"
#include "core_config.h"
#include "game_mem.h"
#include "hooks.h"
#include "net_client.h"
#include "reload_blocks.h"
#include "shared_section.h"
#include "spawn.h"
#include "vehicle_game.h"

namespace {

/* Null while that block is off for this core build. */
dm_core_state_block *core_block;
dm_trailer_state_block *trailer_block;
dm_net_state_block *net_block;
/* game_ctrl as the last frame saw it (at init before the first frame). */
uint64_t frame_ctrl;

/* The physics vehicle's class object: a vehicle is taken back only while it
 * still answers it. */

template <typename T> T *map_block(const char *format)
{
    char name[64];
    snprintf(name, sizeof name, format, (unsigned long)GetCurrentProcessId());
    return (T *)dm_section_map(name, sizeof(T));
}

bool is_our_vehicle_class(uint64_t vehicle)
{
    return game_build_ok() && game_object_class(vehicle) == game_from_va(physics_vehicle_class_va);
}

} // namespace

/* ---- the sections ---- */

void reload_blocks_map()
{
    frame_ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    core_block = map_block<dm_core_state_block>(RELOAD_CORE_NAME);
    trailer_block = map_block<dm_trailer_state_block>(RELOAD_TRAILER_NAME);
    net_block = map_block<dm_net_state_block>(RELOAD_NET_NAME);
}

/* ---- writing ---- */

void reload_blocks_frame() { frame_ctrl = game_build_ok() ? game_ctrl_guarded() : 0; }

void reload_blocks_write()
{
    const spawn_state_record &s = spawn_state;
    const trailer_rig_record &r = trailer_rig;
    // The profile the last frame saw: a profile changed after it leaves
    // nothing that the next core takes back.
    uint64_t ctrl = frame_ctrl;
    bool spawned = dm_spawn_state_value() == SPAWN_SPAWNED;
    if (core_block) {
        dm_core_state_block &b = *core_block;
        b.magic = RELOAD_CORE_MAGIC;
        b.version = RELOAD_VERSION;
        b.game_ctrl = ctrl;
        b.vehicle = s.vehicle;
        b.definition = s.definition;
        b.state = spawned ? 2 : 0;
        b.move_mode = s.move_mode;
        b.flags = (s.spawn_mode_clone ? RELOAD_FLAG_SPAWN_CLONE : 0) | (s.owns_definition ? RELOAD_FLAG_OWN_DEF : 0) |
                  (s.built_from_look_list ? RELOAD_FLAG_LOOK_BUILT : 0);
        b.drawing = hook_draw_installed() && hook_drawing_enabled() ? 1 : 0;
        b.place = s.place;
        memcpy(b.circle_centre, s.circle_centre, sizeof b.circle_centre);
        b.circle_radius = s.circle_radius;
        b.circle_speed = s.circle_speed;
        b.circle_angle = s.circle_angle;
        b.follow_distance = s.follow_distance;
        b.steer_sign = s.steer_sign;
    }
    if (core_block && trailer_block) {
        dm_trailer_state_block &t = *trailer_block;
        t.magic = RELOAD_TRAILER_MAGIC;
        t.version = RELOAD_VERSION;
        t.game_ctrl = ctrl;
        t.vehicle = s.vehicle;
        t.trailer = s.trailer_actor;
        t.definition = s.trailer_definition;
        t.state = spawned && dm_spawn_trailer_state_value() == SPAWN_SPAWNED ? 2 : 0;
        t.rigid = r.mode == TRAILER_RIGID ? 1 : 0;
        memcpy(t.fifth_wheel, r.fifth_wheel, sizeof t.fifth_wheel);
        memcpy(t.kingpin, r.kingpin, sizeof t.kingpin);
        memcpy(t.rigid_offset, r.rigid_offset, sizeof t.rigid_offset);
        t.drag_length = r.drag_length;
        t.articulation_offset = r.articulation_offset;
        memcpy(t.drag_point, r.drag_point, sizeof t.drag_point);
        memcpy(t.last_hitch, r.last_hitch, sizeof t.last_hitch);
        t.drag_set = r.drag_set;
        memcpy(t.rigid_rotation, r.rigid_rotation, sizeof t.rigid_rotation);
    }
    if (net_block) {
        dm_net_state_block &n = *net_block;
        memset(&n, 0, sizeof n);
        n.magic = RELOAD_NET_MAGIC;
        n.version = RELOAD_VERSION;
        n.game_ctrl = ctrl;
        n.vehicle = spawned ? s.vehicle : 0;
        n.hidden = spawned && s.hidden ? 1 : 0;
        n.remote_trailers = net_remote_trailers() ? 1 : 0;
        n.vehicle_player = spawned ? s.net_player : 0;
        n.trailer_player = dm_remote_trailer_player();
        net_connection c;
        memset(&c, 0, sizeof c);
        if (net_get_connection(&c)) {
            n.connected = 1;
            snprintf(n.host, sizeof n.host, "%s", c.host);
            n.port = c.port;
            snprintf(n.name, sizeof n.name, "%s", c.name);
            n.nonce = c.nonce;
        }
    }
}

/* ---- core and trailer ---- */

namespace {

void restore_trailer(uint64_t ctrl)
{
    dm_trailer_state_block &t = *trailer_block;
    if (t.magic != RELOAD_TRAILER_MAGIC || t.version != RELOAD_VERSION)
        return;
    t.magic = 0;
    spawn_state_record &s = spawn_state;
    if (t.state != 2 || !t.trailer || !t.definition || s.state != SPAWN_SPAWNED || t.vehicle != s.vehicle ||
        t.game_ctrl != ctrl || !game_is_trailer_actor(t.trailer))
        return;
    trailer_rig_record &r = trailer_rig;
    s.trailer_actor = t.trailer;
    s.trailer_definition = t.definition;
    r.mode = t.rigid ? TRAILER_RIGID : TRAILER_ARTICULATED;
    memcpy(r.fifth_wheel, t.fifth_wheel, sizeof r.fifth_wheel);
    memcpy(r.kingpin, t.kingpin, sizeof r.kingpin);
    memcpy(r.rigid_offset, t.rigid_offset, sizeof r.rigid_offset);
    r.drag_length = t.drag_length;
    r.articulation_offset = t.articulation_offset;
    memcpy(r.drag_point, t.drag_point, sizeof r.drag_point);
    memcpy(r.last_hitch, t.last_hitch, sizeof r.last_hitch);
    r.drag_set = t.drag_set ? 1 : 0;
    memcpy(r.rigid_rotation, t.rigid_rotation, sizeof r.rigid_rotation);
    dm_trailer_measure_parts(t.trailer);
    spawn_set_trailer_state(SPAWN_SPAWNED);
    core_log("[core] restored trailer %p def %p (%s mode)", game_ptr(t.trailer), game_ptr(t.definition),
             t.rigid ? "rigid" : "articulated");
}

} // namespace

void dm_restore_after_reload()
{
    if (!core_block)
        return;
    dm_core_state_block &b = *core_block;
    if (b.magic != RELOAD_CORE_MAGIC || b.version != RELOAD_VERSION)
        return;
    spawn_state_record &s = spawn_state;
    s.spawn_mode_clone = (b.flags & RELOAD_FLAG_SPAWN_CLONE) ? 1 : 0;
    s.steer_sign = b.steer_sign == 0.0f ? 1.0f : b.steer_sign;
    s.circle_radius = b.circle_radius;
    s.circle_speed = b.circle_speed;
    s.follow_distance = b.follow_distance;

    uint64_t ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    if (b.state == 2 && b.vehicle && ctrl && b.game_ctrl == ctrl && is_our_vehicle_class(b.vehicle)) {
        s.vehicle = b.vehicle;
        s.definition = b.definition;
        s.place = b.place;
        memcpy(s.circle_centre, b.circle_centre, sizeof s.circle_centre);
        s.circle_angle = b.circle_angle;
        s.move_mode = b.move_mode;
        s.owns_definition = (b.flags & RELOAD_FLAG_OWN_DEF) ? 1 : 0;
        s.built_from_look_list = (b.flags & RELOAD_FLAG_LOOK_BUILT) ? 1 : 0;
        if (s.move_mode == MOVE_FOLLOW)
            dm_spawn_trail_reset(&s.place);
        // The truck the old core saw: the restore is not a change of truck.
        s.remembered_truck = game_local_truck();
        spawn_set_state(SPAWN_SPAWNED);
        core_log("[core] restored spawned vehicle %p def %p (%s, move mode %d)", game_ptr(s.vehicle),
                 game_ptr(s.definition), s.owns_definition ? "clone" : "shared", (int)s.move_mode);
    }
    if (trailer_block)
        restore_trailer(ctrl);
    if (b.drawing && game_build_ok())
        hook_install_draw();
    b.magic = 0;
}

/* ---- net ---- */

void reload_restore_net(double now)
{
    if (!net_block)
        return;
    dm_net_state_block &n = *net_block;
    if (n.magic != RELOAD_NET_MAGIC || n.version != RELOAD_VERSION)
        return;
    n.magic = 0;
    net_set_remote_trailers(n.remote_trailers != 0);
    spawn_state_record &s = spawn_state;
    uint64_t ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    if (dm_spawn_state_value() == SPAWN_SPAWNED && n.vehicle == s.vehicle && n.game_ctrl == ctrl) {
        s.hidden = n.hidden ? 1 : 0;
        dm_remote_restore_binding(n.vehicle_player,
                                  dm_spawn_trailer_state_value() == SPAWN_SPAWNED ? n.trailer_player : 0);
    } else if (s.move_mode == MOVE_NET) {
        // Followed a remote player without the binding: it stops.
        s.move_mode = MOVE_PARK;
    }
    if (!n.connected)
        return;
    char host[sizeof n.host], name[sizeof n.name];
    snprintf(host, sizeof host, "%.*s", (int)sizeof n.host - 1, n.host);
    snprintf(name, sizeof name, "%.*s", (int)sizeof n.name - 1, n.name);
    core_log("[core] net: reconnecting to %s:%u as '%s' after reload (slot -> player %u)", host, (unsigned)n.port,
             name, (unsigned)s.net_player);
    net_connect(host, n.port, name, n.nonce, now);
    auto_connect_set_owned(core_config.autoconnect && core_config.server[0] &&
                           _stricmp(host, core_config.server) == 0);
}

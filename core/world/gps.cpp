// The "gps" command: the route of the game's own navigation, read and set
// through the game's navigation calls on the game thread.
//
// Index: the navigation block, game calls, status, the command.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_read.h"
#include "world/world_text.h"

namespace {

/* ---- the navigation block (its layout in world_game.h) ---- */

using namespace gps_field;

/* The mark: the truck's position at "gps mark"; lost at a core reload. */
struct {
    double x, y, z;
    bool marked;
} gps_mark;

uint64_t navigation_block()
{
    uint64_t ctrl = game_ctrl_guarded();
    return ctrl ? ctrl + ctrl_navigation : 0;
}

/* The route's points (at most 32); returns how many were read, *count the
 * whole count. */
size_t route_points(uint64_t nav, gps_node *out, uint64_t *count)
{
    *count = world_read<uint64_t>(nav + nav_ahead_count);
    size_t n = *count < GPS_POINTS_MAX ? (size_t)*count : GPS_POINTS_MAX;
    uint64_t at = world_read<uint64_t>(nav + nav_ahead);
    if (n && !at)
        return 0;
    world_copy(out, at, n * sizeof(gps_node));
    return n;
}

/* ---- game calls ---- */

/* A list as the game's route setter takes it. */
struct game_list {
    uint64_t marker, data, count, capacity;
};

const gps_node none_node = { 2, 0, 0, 2, 0 };

typedef uint64_t (*nearest_fn)(uint64_t ctrl, gps_node *out, uint64_t zero, int32_t x, int32_t y, int32_t z,
                               uint8_t flag, uint64_t zero2, uint64_t one);
typedef uint64_t (*route_set_fn)(uint64_t nav, int32_t mode, game_list *start, game_list *points, uint64_t a,
                                 uint64_t b);
typedef uint64_t (*route_clear_fn)(uint64_t nav);

/* Runs a step under the guard; a fault logs the step and the fault. */
template <typename F> bool guarded_step(const char *step, F &&fn)
{
    if (dm_guarded_filter(fn, fault_record_filter, nullptr))
        return true;
    core_log("[core] gps: %s FAULT 0x%08x at %p (game VA 0x%llx), data %p", step, last_fault_code,
             (void *)(uintptr_t)last_fault_address, (unsigned long long)game_va(last_fault_address),
             (void *)(uintptr_t)last_fault_data);
    return false;
}

} // namespace

namespace {

/* The node search; 1 found, 0 none, -1 out of range or faulted (either
 * already logged). */
int nearest_node(double x, double y, double z, gps_node *out)
{
    *out = none_node;
    uint64_t ctrl = game_ctrl_guarded();
    if (!ctrl)
        return 0;
    int32_t xi, yi, zi;
    if (!gps_scale_coord(x, &xi) || !gps_scale_coord(y, &yi) || !gps_scale_coord(z, &zi)) {
        core_log("[core] gps: (%.1f, %.1f, %.1f) is out of range (at most %.0f m)", x, y, z, GPS_COORD_MAX);
        return -1;
    }
    uint64_t block = game_player_block_guarded();
    uint8_t flag = block ? game_read_guarded_or_zero<uint8_t>(block + player_nearest_flag) : 0;
    gps_node node = none_node;
    if (!guarded_step("nearest node", [&] {
            game_fn<nearest_fn>(off_nearest_node)(ctrl, &node, 0, xi, yi, zi, flag, 0, 1);
        }))
        return -1;
    *out = node;
    core_log("[core] gps: (%.1f, %.1f, %.1f) -> node type %d idx %u item %llx dir %u", x, y, z, node.type,
             node.index, (unsigned long long)node.item, node.direction);
    return node.type != 2 ? 1 : 0;
}

} // namespace

bool gps_nearest_node(double x, double y, double z, gps_node *out) { return nearest_node(x, y, z, out) == 1; }

bool gps_set_route(int32_t mode, const gps_node *nodes, size_t count)
{
    uint64_t nav = navigation_block();
    if (!nav)
        return false;
    gps_node start_node = none_node;
    gps_node points[GPS_POINTS_MAX];
    memcpy(points, nodes, count * sizeof *points);
    uint64_t marker = game_addr(off_list_marker);
    game_list start = { marker, (uint64_t)(uintptr_t)&start_node, 1, 1 };
    game_list list = { marker, (uint64_t)(uintptr_t)points, count, count };
    return guarded_step("route set", [&] {
        game_fn<route_set_fn>(off_route_set)(nav, mode, &start, &list, nav + nav_setter_a, nav + nav_setter_b);
    });
}

static bool route_clear(uint64_t nav)
{
    return guarded_step("route clear", [&] { game_fn<route_clear_fn>(off_route_clear)(nav); });
}

/* ---- status ---- */

void gps_log_status()
{
    uint64_t nav = navigation_block();
    if (!nav)
        return;
    guarded_step("status", [&] {
        int32_t mode = world_read<int32_t>(nav + nav_mode);
        int32_t rev = world_read<int32_t>(nav + nav_revision);
        gps_node points[GPS_POINTS_MAX];
        uint64_t ahead;
        size_t n = route_points(nav, points, &ahead);
        core_log("[core] gps: mode %d (%s) rev %d behind %llu ahead %llu avoid %llu history %llu", mode,
                 gps_mode_name(mode), rev, (unsigned long long)world_read<uint64_t>(nav + nav_behind_count),
                 (unsigned long long)ahead, (unsigned long long)world_read<uint64_t>(nav + nav_avoid_count),
                 (unsigned long long)world_read<uint64_t>(nav + nav_history_count));
        for (size_t i = 0; i < n; i++)
            core_log("[core] gps:   ahead[%zu] type %d idx %u item %llx dir %u", i, points[i].type, points[i].index,
                     (unsigned long long)points[i].item, points[i].direction);
    });
}

/* ---- the command ---- */

namespace {

/* The mode and the route's points, read under the guard. */
bool read_route(uint64_t nav, int32_t *mode, gps_node *points, size_t *n, uint64_t *count)
{
    return guarded_step("route read", [&] {
        *mode = world_read<int32_t>(nav + nav_mode);
        *n = route_points(nav, points, count);
    });
}

void gps_clear(uint64_t nav)
{
    int32_t mode = 0;
    gps_node points[GPS_POINTS_MAX];
    uint64_t count = 0;
    size_t n = 0;
    if (!read_route(nav, &mode, points, &n, &count))
        return;
    // A custom route that is only its destination is cleared: otherwise a
    // route set by "gps to" could never be cleared.
    if (gps_route_active(mode) && (n >= 2 || (n == 1 && mode != GPS_MODE_CUSTOM))) {
        if (gps_set_route(mode, &points[n - 1], 1))
            core_log("[core] gps: via-points dropped, %s destination kept", gps_mode_name(mode));
    } else if (route_clear(nav)) {
        core_log("[core] gps: route cleared");
    }
}

void gps_target(const dm_frame_info *info, uint64_t nav, const char *text, bool to)
{
    double x, y, z;
    switch (gps_parse_target(text, info->y, &x, &y, &z)) {
    case GPS_TARGET_BAD: core_log("[core] gps: need <x> <z> or <x> <y> <z>"); return;
    case GPS_TARGET_MARK:
        if (!gps_mark.marked) {
            core_log("[core] gps: no mark yet (gps mark)");
            return;
        }
        x = gps_mark.x, y = gps_mark.y, z = gps_mark.z;
        break;
    case GPS_TARGET_POINT: break;
    }
    gps_node node;
    int found = nearest_node(x, y, z, &node);
    if (found == 0)
        core_log("[core] gps: no road node near that point");
    if (found != 1)
        return;
    int32_t mode = 0;
    gps_node points[GPS_POINTS_MAX + 1];
    uint64_t count = 0;
    size_t n = 0;
    if (!read_route(nav, &mode, points, &n, &count))
        return;
    bool active = gps_route_active(mode);
    if (to && !active) {
        if (gps_set_route(GPS_MODE_CUSTOM, &node, 1))
            core_log("[core] gps: custom route set");
        return;
    }
    if (count >= GPS_POINTS_MAX) {
        core_log("[core] gps: route already has %zu points", (size_t)count);
        return;
    }
    n = gps_insert_point(points, n, &node, active);
    int32_t set_mode = active ? mode : GPS_MODE_CUSTOM;
    if (gps_set_route(set_mode, points, n))
        core_log("[core] gps: via-point added%s (%zu ahead points, %s route)",
                 to ? " (the destination is fixed)" : "", n, gps_mode_name(set_mode));
}

} // namespace

void gps_command(const dm_frame_info *info, const char *rest)
{
    uint64_t nav = navigation_block();
    if (!nav) {
        core_log("[core] gps: no game_ctrl (profile not loaded?)");
        return;
    }
    const char *target;
    switch (gps_parse(rest, &target)) {
    case GPS_STATUS: gps_log_status(); break;
    case GPS_MARK:
        gps_mark = { info->x, info->y, info->z, true };
        core_log("[core] gps: marked (%.1f, %.1f, %.1f)", info->x, info->y, info->z);
        break;
    case GPS_CLEAR: gps_clear(nav); break;
    case GPS_TO: gps_target(info, nav, target, true); break;
    case GPS_ADD: gps_target(info, nav, target, false); break;
    case GPS_USAGE:
        core_log("[core] gps: usage gps | gps to <x> <z> | gps to <x> <y> <z> | gps add ... | gps to mark | gps mark | "
                 "gps clear");
        break;
    }
}

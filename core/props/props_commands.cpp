// The "model" command family: place, list, move, turn, level, attach,
// light and remove props; switch drawing, collision and autosnap; layout
// requests. While joined, a change to a server prop goes to the server as a
// request and the echo applies it. Game thread (the dispatcher).
//
// Index of this file:
//   helpers     numbers, tokens, the doesn't-apply line
//   spawn       props_cmd_spawn
//   list        the status and one block per live prop
//   edits       despawn, nudge, move, rot, here, ray, bounds, detach, light, exists
//   switches    collide, autosnap, raymask, layouts, draw
//   dispatch    props_command
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "base/dm_token.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "base/plain_text.h"
#include "props/props_internal.h"
#include "props/props_text.h"
#include "props/props.h"

namespace {

/* ---- helpers ---- */

bool finite_all(const float *v, int n)
{
    for (int i = 0; i < n; i++)
        if (!isfinite(v[i]) || fabsf(v[i]) > 1e6f)
            return false;
    return true;
}

void refuse_numbers(const char *what) { props_log("[props] %s: numbers must be finite (within 1e6)", what); }

/* A sub-command's "<id|last>" and up to four numbers (v holds their
 * defaults): the usage line with fewer than need fields, the finite check,
 * then the prop (null when any of these fails; each logs). */
prop_record *id_and_numbers(const char *rest, float *v, int n, int need, const char *usage, const char *word)
{
    char id[16] = "";
    float t[4] = { 0, 0, 0, 0 };
    memcpy(t, v, sizeof(float) * (size_t)n);
    if (sscanf(rest, "%15s %f %f %f %f", id, &t[0], &t[1], &t[2], &t[3]) < need) {
        props_log("[props] usage: %s", usage);
        return nullptr;
    }
    memcpy(v, t, sizeof(float) * (size_t)n);
    if (!finite_all(v, n)) {
        refuse_numbers(word);
        return nullptr;
    }
    return props_find(id);
}

bool attached_refuses(const prop_record *r, const char *word)
{
    if (!r->attach_part)
        return false;
    props_log("[props] #%u is attached to the %s: %s doesn't apply (use move/rot, or detach first)", r->local_id,
              props_part_name(r->attach_part), word);
    return true;
}

void world_of(const prop_record *r, double pos[3], float q[4])
{
    placement_world(&r->place, pos);
    q[0] = r->place.qw;
    q[1] = r->place.qx;
    q[2] = r->place.qy;
    q[3] = r->place.qz;
}

/* ---- spawn ---- */

void props_cmd_spawn(const char *rest)
{
    props_spawn_args a;
    if (!props_parse_spawn(rest, &a)) {
        props_log("[props] usage: model spawn <name|token|/path.pmd> [metres ahead] [metres right] [look] [variant]");
        return;
    }
    if (!isfinite(a.ahead) || !isfinite(a.right) || fabsf(a.ahead) > 1e6f || fabsf(a.right) > 1e6f) {
        refuse_numbers("spawn");
        return;
    }
    char path[PROPS_PATH_MAX + 1];
    if (!model_catalog_resolve(a.name, path, sizeof path))
        return;
    if (!props_path_ok(path)) {
        char shown[PROPS_PATH_MAX * 4 + 1];
        text_clean(shown, sizeof shown, path, strlen(path));
        props_log("[props] spawn: %s isn't a .pmd in the game's files", shown);
        return;
    }
    uint64_t look = 0, variant = 0;
    if (!token_from_text(a.look, &look) || !token_from_text(a.variant, &variant) || !look || !variant) {
        props_log("[props] look/variant must be tokens (a-z0-9_, max 12)");
        return;
    }
    double pos[3];
    float q[4];
    if (!props_truck_offset(a.ahead, a.right, 0, pos, q))
        return;
    if (props_autosnap && !props_ground_probe(pos, nullptr))
        props_log("[props] spawn: no ground hit below; using the truck's road plane");
    if (!props_joined()) {
        placement p;
        props_placement_from_world(&p, pos, q);
        prop_record *r = props_spawn_model(path, look, variant, &p, 0, 0);
        if (!r)
            return;
        props_last_id = r->local_id;
        props_last_is_server = false;
        if (props_autosnap && props_level_on_ground(r->model, pos, q, "spawn", r->actor)) {
            props_placement_from_world(&r->place, pos, q);
            props_push_placement(r);
        }
        props_log("[props] #%u spawned %s (look %s, variant %s) at (%.1f, %.1f, %.1f), %.0f m ahead %.0f m right",
                  r->local_id, path, a.look, a.variant, pos[0], pos[1], pos[2], a.ahead, a.right);
        return;
    }
    prop_state s = {};
    memcpy(s.pos, pos, sizeof s.pos);
    memcpy(s.rot, q, sizeof s.rot);
    s.look = look;
    s.variant = variant;
    snprintf(s.model, sizeof s.model, "%s", path);
    bool sent = net_send_prop(&s);
    if (sent) {
        props_pending_creates++;
        props_last_id = 0;
        props_last_is_server = true;
    }
    props_log("[props] create request %s to the server: %s at (%.1f, %.1f, %.1f)", props_sent_word(sent), path, pos[0],
              pos[1], pos[2]);
}

/* ---- list ---- */

void props_cmd_list()
{
    props_log("[props] %d live, drawing %s, %u draw calls%s%s", props_live_count(),
              props_block->drawing_on ? "on" : "off", (unsigned)props_draw_calls,
              props_draw_faulted ? ", DRAW FAULTED" : "", props_joined() ? "; joined: spawns go to the server" : "");
    for (auto &r : props_block->table) {
        if (r.state != PROP_LIVE)
            continue;
        char who[48] = "local";
        if (r.server_id)
            snprintf(who, sizeof who, "server %u by player %u", r.server_id, r.owner);
        double w[3];
        placement_world(&r.place, w);
        props_log("[props]  #%u (%s) %.160s at (%.1f, %.1f, %.1f) model %p flags %08x", r.local_id, who, r.path, w[0],
                  w[1], w[2], (void *)(uintptr_t)r.model,
                  props_model_ok(r.model) ? game_u32_guarded(r.model + MODEL_FLAGS) : 0);
        if (r.attach_part) {
            bool ours = props_our_player(r.attach_player);
            props_log("[props]     attached to %s %s: right %.2f up %.2f ahead %.2f%s", ours ? "our" : "a remote",
                      props_part_name(r.attach_part), r.rel.x, r.rel.y, -r.rel.z,
                      r.attach_missing ? " (part missing: hidden)" : "");
            if (!ours)
                props_log("[props]     (player %u)", r.attach_player);
        }
        if (r.light_mode)
            props_log("[props]     light %s (now %s)", props_light_mode_name(r.light_mode),
                      r.light_applied == 0xFF ? "?" : r.light_applied ? "on" : "off");
    }
}

/* ---- edits ---- */

void props_cmd_despawn_all()
{
    bool joined = props_joined();
    bool sent = joined && net_send_prop_remove(0);
    for (auto &r : props_block->table)
        if (r.state == PROP_LIVE && (!r.server_id || !joined))
            props_queue(&r);
    const char *server = !joined ? "" : sent ? " (server props: request sent)" : " (server props: request not sent)";
    props_log("[props] despawn all%s", server);
}

void props_cmd_despawn(const char *rest)
{
    prop_record *r = props_find_first_word(rest, nullptr);
    if (!r)
        return;
    if (r->server_id && props_joined()) {
        bool sent = net_send_prop_remove(r->server_id);
        props_log("[props] remove request for server prop %u %s", r->server_id, props_sent_word(sent));
        return;
    }
    props_queue(r);
    props_log("[props] #%u despawn queued", r->local_id);
}

void props_cmd_nudge(const char *rest)
{
    float v[4] = { 0, 0, 0, 0 };
    prop_record *r = id_and_numbers(rest, v, 4, 4, "model nudge <id|last> <dx> <dy> <dz> [yaw deg]", "nudge");
    if (!r || attached_refuses(r, "nudge"))
        return;
    double pos[3];
    float q[4];
    world_of(r, pos, q);
    for (int i = 0; i < 3; i++)
        pos[i] += v[i];
    if (v[3] != 0)
        quat_rotate_yaw(q, v[3]);
    if (!props_position_ok(pos)) {
        props_log("[props] nudge: position out of range");
        return;
    }
    props_commit_placement(r, pos, q, "nudge");
}

void props_cmd_move(const char *rest)
{
    float v[3] = { 0, 0, 0 }; // ahead, right, up
    prop_record *r = id_and_numbers(rest, v, 3, 2, "model move <id|last> <ahead> [right] [up]", "move");
    if (!r)
        return;
    if (r->attach_part) {
        props_relative rel = r->rel;
        rel.x += v[1];
        rel.y += v[2];
        rel.z -= v[0];
        const float offset[3] = { rel.x, rel.y, rel.z };
        if (!props_attach_offset_ok(offset)) {
            props_log("[props] move: offsets must stay within %.0f m of the part", PROPS_ATTACH_OFFSET_MAX);
            return;
        }
        if (r->server_id && props_joined()) {
            bool sent = props_send_attach(r, r->attach_part, r->attach_player, &rel);
            props_log("[props] move request for server prop %u %s", r->server_id, props_sent_word(sent));
            return;
        }
        r->rel = rel;
        props_log("[props] #%u offset on the %s: right %.2f up %.2f ahead %.2f", r->local_id,
                  props_part_name(r->attach_part), rel.x, rel.y, -rel.z);
        return;
    }
    double a[3], b[3];
    float q[4];
    if (!props_truck_offset(0, 0, 0, a, q) || !props_truck_offset(v[0], v[1], v[2], b, q))
        return;
    double pos[3];
    world_of(r, pos, q);
    for (int i = 0; i < 3; i++)
        pos[i] += b[i] - a[i];
    if (!props_position_ok(pos)) {
        props_log("[props] move: position out of range");
        return;
    }
    props_commit_placement(r, pos, q, "move");
}

void props_cmd_rot(const char *rest)
{
    float deg = 0;
    prop_record *r = id_and_numbers(rest, &deg, 1, 2, "model rot <id|last> <degrees>", "rot");
    if (!r)
        return;
    if (r->attach_part) {
        props_relative rel = r->rel;
        float q[4] = { rel.qw, rel.qx, rel.qy, rel.qz };
        quat_rotate_yaw(q, deg);
        rel.qw = q[0];
        rel.qx = q[1];
        rel.qy = q[2];
        rel.qz = q[3];
        if (r->server_id && props_joined()) {
            bool sent = props_send_attach(r, r->attach_part, r->attach_player, &rel);
            props_log("[props] rotate request for server prop %u %s", r->server_id, props_sent_word(sent));
            return;
        }
        r->rel = rel;
        props_log("[props] #%u turned %.0f deg on the %s", r->local_id, deg, props_part_name(r->attach_part));
        return;
    }
    double pos[3];
    float q[4];
    world_of(r, pos, q);
    quat_rotate_yaw(q, deg);
    props_commit_placement(r, pos, q, "rotate");
}

void props_cmd_here(const char *rest)
{
    float v[2] = { 10.0f, 0.0f };
    prop_record *r = id_and_numbers(rest, v, 2, 1, "model here <id|last> [ahead] [right]", "here");
    if (!r || attached_refuses(r, "here"))
        return;
    double pos[3];
    float q[4];
    if (!props_truck_offset(v[0], v[1], 0, pos, q))
        return;
    if (props_autosnap && !props_level_on_ground(r->model, pos, q, "here", r->actor))
        props_log("[props] here: no ground hit below; using the truck's road plane");
    props_commit_placement(r, pos, q, "here");
}

void props_cmd_ray(const char *rest)
{
    float ahead = 10.0f;
    sscanf(rest, "%f", &ahead);
    if (!finite_all(&ahead, 1)) {
        refuse_numbers("ray");
        return;
    }
    double p[3];
    float q[4];
    if (!props_truck_offset(ahead, 0, 0, p, q))
        return;
    if (!props_physics_scene()) {
        props_log("[props] ray: physics scene not found");
        return;
    }
    props_hit h;
    if (!props_raycast_down(p[0], p[1] + 20.0, p[2], 60.0, &h, props_ray_filter)) {
        props_log("[props] ray at %.0f m ahead: no hit (filter %08x)", ahead, props_ray_filter);
        return;
    }
    props_log("[props] ray at %.0f m ahead: hit (%.2f, %.2f, %.2f), %.2f m from the start, normal (%.2f %.2f %.2f), "
              "actor %p, substance %u; truck-plane height there %.2f",
              ahead, h.sector_x * 512.0 + h.x, h.y, h.sector_z * 512.0 + h.z, h.fraction * 60.0, h.normal[0],
              h.normal[1], h.normal[2], (void *)(uintptr_t)h.actor, h.substance, p[1]);
}

void props_cmd_bounds(const char *rest)
{
    prop_record *r = props_find_first_word(rest, nullptr);
    if (!r)
        return;
    uint64_t t = game_u64_guarded(r->model + MODEL_BOX_DESCRIPTOR);
    uint64_t box = t && probe_read(t, 32) ? game_u64_guarded(t + 0x18) : 0;
    float f[24];
    if (!box || !game_copy_guarded(f, box, sizeof f)) {
        props_log("[props] bounds: unreadable (t %p)", (void *)(uintptr_t)t);
        return;
    }
    for (int i = 0; i < 6; i++)
        props_log("[props] bounds +%02x: %9.3f %9.3f %9.3f %9.3f", i * 16, f[4 * i], f[4 * i + 1], f[4 * i + 2],
                  f[4 * i + 3]);
}

void props_cmd_detach(const char *rest)
{
    prop_record *r = props_find_first_word(rest, nullptr);
    if (!r)
        return;
    if (!r->attach_part) {
        props_log("[props] #%u isn't attached", r->local_id);
        return;
    }
    props_update_attached(r);
    if (r->server_id && props_joined()) {
        props_relative zero = { 0, 0, 0, 0, 1, 0, 0, 0 };
        bool sent = props_send_attach(r, 0, 0, &zero);
        props_log("[props] detach request for server prop %u %s", r->server_id, props_sent_word(sent));
        return;
    }
    r->attach_part = 0;
    r->attach_missing = 0;
    props_push_placement(r);
    if (props_collision_on)
        props_create_collision(r);
    double w[3];
    placement_world(&r->place, w);
    props_log("[props] #%u detached at (%.1f, %.1f, %.1f)", r->local_id, w[0], w[1], w[2]);
}

void props_cmd_light(const char *rest)
{
    char id[16] = "", word[16] = "";
    if (sscanf(rest, "%15s %15s", id, word) < 2) {
        props_log("[props] usage: model light <id|last> on|off|headlights|!headlights|beacons|!beacons|default");
        return;
    }
    int mode = props_light_mode_parse(word);
    if (mode < 0) {
        props_log("[props] light: unknown mode '%s'", word);
        return;
    }
    prop_record *r = props_find(id);
    if (!r)
        return;
    uint32_t hookups = 0;
    int32_t flares = props_count_flares(r->model, &hookups);
    if (!hookups)
        props_log("[props] #%u has no light hookups; the mode is stored but changes nothing", r->local_id);
    if (r->server_id && props_joined()) {
        prop_state s;
        props_to_state(r, &s);
        s.light_mode = (uint8_t)mode;
        bool sent = net_send_prop(&s);
        props_log("[props] light request for server prop %u %s (%s)", r->server_id, props_sent_word(sent),
                  props_light_mode_names[mode]);
        return;
    }
    r->light_mode = (uint8_t)mode;
    r->light_applied = 0xFF;
    props_log("[props] #%u light %s (%d blinking flare(s))", r->local_id, props_light_mode_names[mode], flares);
}

void props_cmd_exists(const char *rest)
{
    char shown[PROPS_PATH_MAX * 4 + 1];
    text_clean(shown, sizeof shown, rest, strnlen(rest, PROPS_PATH_MAX));
    props_log("[props] exists %s: %s (prop path %s)", shown,
              strnlen(rest, PROPS_PATH_MAX) < PROPS_PATH_MAX && props_game_file_exists(rest) ? "yes" : "no",
              props_path_ok(rest) ? "ok" : "refused");
}

/* ---- switches ---- */

void props_cmd_collide(bool on)
{
    props_collision_on = on;
    for (auto &r : props_block->table) {
        if (r.state != PROP_LIVE)
            continue;
        if (!props_collision_on || r.attach_part)
            props_remove_collision(&r);
        else if (on && !props_create_collision(&r) && !props_collision_on)
            break; // a fault switched collision off: no more builds
    }
    props_log("[props] collision %s", props_collision_on ? "on" : "off");
}

void props_cmd_layout(uint8_t op, const char *name)
{
    size_t n = strlen(name);
    if (op != 3 && (n == 0 || n > 32)) {
        props_log("[props] layout names are 1 to 32 bytes");
        return;
    }
    if (!net_send_layout_cmd(op, op == 3 ? nullptr : name))
        props_log("[props] layouts live on the server: connect first (net connect ...)");
}

} // namespace

/* ---- dispatch ---- */

void props_command(const char *text)
{
    if (!props_block)
        return;
    const char *rest;
    switch (props_match(text, &rest)) {
    case PROPS_SPAWN: props_cmd_spawn(rest); break;
    case PROPS_LIST: props_cmd_list(); break;
    case PROPS_DESPAWN_ALL: props_cmd_despawn_all(); break;
    case PROPS_DESPAWN: props_cmd_despawn(rest); break;
    case PROPS_NUDGE: props_cmd_nudge(rest); break;
    case PROPS_SEARCH: model_catalog_search_command(rest); break;
    case PROPS_MOVE: props_cmd_move(rest); break;
    case PROPS_ROT: props_cmd_rot(rest); break;
    case PROPS_HERE: props_cmd_here(rest); break;
    case PROPS_RAY: props_cmd_ray(rest); break;
    case PROPS_SNAP:
    case PROPS_LEVEL: props_cmd_snap_level(rest); break;
    case PROPS_BOUNDS: props_cmd_bounds(rest); break;
    case PROPS_ATTACH: props_cmd_attach(rest); break;
    case PROPS_DETACH: props_cmd_detach(rest); break;
    case PROPS_LIGHT: props_cmd_light(rest); break;
    case PROPS_HOOKUPS: props_cmd_hookups(rest); break;
    case PROPS_EXISTS: props_cmd_exists(rest); break;
    case PROPS_COLLIDE_ON: props_cmd_collide(true); break;
    case PROPS_COLLIDE_OFF: props_cmd_collide(false); break;
    case PROPS_AUTOSNAP_ON:
    case PROPS_AUTOSNAP_OFF:
        props_autosnap = props_match(text, &rest) == PROPS_AUTOSNAP_ON;
        props_log("[props] autosnap %s", props_autosnap ? "on" : "off");
        break;
    case PROPS_RAYMASK:
        props_ray_filter = (uint32_t)strtoul(rest, nullptr, 16);
        props_log("[props] ray filter %08x", props_ray_filter);
        break;
    case PROPS_SAVE: props_cmd_layout(1, rest); break;
    case PROPS_LOAD: props_cmd_layout(2, rest); break;
    case PROPS_LAYOUTS: props_cmd_layout(3, ""); break;
    case PROPS_DELETE: props_cmd_layout(4, rest); break;
    case PROPS_DRAW_ON:
        props_block->drawing_on = 1;
        props_draw_faulted = 0;
        props_fault_reported = false; // a new fault is reported again
        props_log("[props] drawing on");
        break;
    case PROPS_DRAW_OFF:
        props_block->drawing_on = 0;
        props_log("[props] drawing off");
        break;
    case PROPS_UNKNOWN: {
        char shown[512];
        text_clean(shown, sizeof shown, rest, strnlen(rest, 400));
        props_log("[props] unknown: model %s (search|spawn|here|move|rot|snap|autosnap|nudge|attach|detach|list|despawn|"
                  "draw|save|load|layouts|delete|ray)",
                  shown);
        break;
    }
    }
}

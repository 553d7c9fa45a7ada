// Prop levelling: rays straight down through the game's physics scene, the
// ground probe, the four-corner levelling on the ground, the fit onto a
// vehicle part, model boxes, the point ahead of the local truck, and the
// "snap" and "level" sub-commands. Game thread only.
//
// Index of this file:
//   rays        props_raycast_down, the own-actor skip, props_ground_probe
//   boxes       props_part_bounds
//   ground      props_level_on_ground
//   parts       props_corner_ray, props_fit_on_part
//   truck       props_truck_offset
//   command     props_cmd_snap_level
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "props/props_internal.h"

/* ---- rays ---- */

typedef uint64_t (*cast_fn)(uint64_t scene, uint64_t hit, uint32_t filter, uint64_t origin, uint64_t direction,
                            float length, uint64_t zero);

bool props_raycast_down(double x, double y, double z, double length, props_hit *out, uint32_t filter)
{
    uint64_t scene = props_physics_scene();
    if (!scene)
        return false;
    struct {
        float x, y, z;
        int16_t sx, sz;
    } origin;
    static_assert(sizeof origin == 16, "a sector position");
    origin.sx = (int16_t)floor(x / DM_SECTOR_SIZE);
    origin.sz = (int16_t)floor(z / DM_SECTOR_SIZE);
    origin.x = (float)(x - origin.sx * DM_SECTOR_SIZE);
    origin.y = (float)y;
    origin.z = (float)(z - origin.sz * DM_SECTOR_SIZE);
    const float direction[3] = { 0.0f, -1.0f, 0.0f };
    memset(out, 0, sizeof *out);
    out->fraction = -1.0f;
    bool ok = dm_guarded([&] {
        cast_fn cast = game_vslot<cast_fn>(scene, SCENE_SLOT_CAST);
        cast(scene, (uint64_t)(uintptr_t)out, filter, (uint64_t)(uintptr_t)&origin, (uint64_t)(uintptr_t)direction,
             (float)length, 0);
    });
    if (!ok) {
        props_log("[props] raycast faulted");
        return false;
    }
    return out->fraction >= 0.0f;
}

static double hit_world_y(const props_hit *h) { return h->y; }

/* A downward ray that passes through the prop's own collision actor: a hit
 * on it casts again from just below, for what is left of the length. */
static bool ray_past(double x, double y, double z, double length, props_hit *out, uint32_t filter, uint64_t own)
{
    for (int i = 0; i < 4; i++) {
        if (!props_raycast_down(x, y, z, length, out, filter))
            return false;
        if (!own || out->actor != own)
            return true;
        double below = hit_world_y(out) - 0.01;
        length -= y - below;
        y = below;
        if (length <= 0)
            return false;
    }
    return false;
}

static bool probe(double pos[3], double *previous_y, uint64_t own)
{
    props_hit h;
    if (!ray_past(pos[0], pos[1] + 3.0, pos[2], 40.0, &h, props_ray_filter, own))
        return false;
    if (previous_y)
        *previous_y = pos[1];
    pos[1] = h.y;
    return true;
}

bool props_ground_probe(double pos[3], double *previous_y) { return probe(pos, previous_y, 0); }

/* ---- boxes ---- */

bool props_part_bounds(uint64_t model, float min[3], float max[3])
{
    if (!model || !probe_read(model, 296))
        return false;
    uint64_t desc = game_u64_guarded(model + MODEL_BOX_DESCRIPTOR);
    if (!desc || !probe_read(desc, 32))
        return false;
    uint64_t box = game_u64_guarded(desc + 0x18);
    if (!box || !game_copy_guarded(min, box + 0x30, 12) || !game_copy_guarded(max, box + 0x3C, 12))
        return false;
    return probe_read(box, 72) && props_box_valid(min, max);
}

/* ---- ground ---- */

bool props_level_on_ground(uint64_t model, double pos[3], float q[4], const char *label, uint64_t own_actor)
{
    double yaw = props_yaw(q), c = cos(yaw), s = sin(yaw);
    float mn[3], mx[3];
    if (!props_part_bounds(model, mn, mx)) {
        if (!probe(pos, nullptr, own_actor))
            return false;
        props_log("[props] %s: box unknown; centre snapped to %.2f", label, pos[1]);
        return true;
    }
    const double X[2] = { mn[0], mx[0] }, Z[2] = { mn[2], mx[2] };
    double h[4];
    for (int i = 0; i < 4; i++) {
        double bx = X[i / 2], bz = Z[i % 2];
        props_hit hit;
        if (!ray_past(pos[0] + bx * c + bz * s, pos[1] + 5.0, pos[2] - bx * s + bz * c, 50.0, &hit, props_ray_filter,
                      own_actor)) {
            bool centre = probe(pos, nullptr, own_actor);
            props_log("[props] %s: corner (%.1f, %.1f) missed the ground; %s", label, bx, bz,
                      centre ? "centre snap only" : "no hit");
            return centre;
        }
        h[i] = hit.y;
    }
    double tilt, gap;
    pos[1] = props_plane_fit(X, Z, h, yaw, q, &tilt, &gap);
    props_log("[props] %s: leveled on 4 corners (%.2fx%.2f m): height %.2f, tilt %.1f deg, worst corner gap %.2f m",
              label, X[1] - X[0], Z[1] - Z[0], pos[1], tilt, gap);
    return true;
}

/* ---- parts ---- */

bool props_corner_ray(const float part_max[3], const placement *frame, const float part_min[3], double x, double z,
                      double *height)
{
    props_relative start = { (float)x, part_max[1] + 1.0f, (float)z, 0, 1, 0, 0, 0 };
    placement w;
    if (!props_game_compose(frame, &start, &w))
        return false;
    double p[3];
    placement_world(&w, p);
    props_hit hit;
    if (!props_raycast_down(p[0], p[1], p[2], (part_max[1] - part_min[1]) + 1.5, &hit, 0))
        return false;
    placement hp = {};
    hp.x = hit.x;
    hp.y = hit.y;
    hp.z = hit.z;
    hp.sector_x = hit.sector_x;
    hp.sector_z = hit.sector_z;
    hp.qw = 1;
    props_relative rel;
    placement_relative(&rel, frame, &hp);
    *height = rel.y;
    return part_min[1] < rel.y && rel.y <= part_max[1] + 0.01;
}

bool props_fit_on_part(const prop_record *r, uint64_t part_model, const placement *frame, props_relative *rel,
                       const char *label)
{
    float pmn[3], pmx[3];
    if (!props_part_bounds(part_model, pmn, pmx)) {
        props_log("[props] %s: part box unknown; not fitted", label);
        return false;
    }
    float q[4] = { rel->qw, rel->qx, rel->qy, rel->qz };
    double yaw = props_yaw(q), c = cos(yaw), s = sin(yaw);
    float mn[3], mx[3];
    if (props_part_bounds(r->model, mn, mx)) {
        const double X[2] = { mn[0], mx[0] }, Z[2] = { mn[2], mx[2] };
        double h[4];
        int i = 0;
        for (; i < 4; i++) {
            double bx = X[i / 2], bz = Z[i % 2];
            if (!props_corner_ray(pmx, frame, pmn, rel->x + bx * c + bz * s, rel->z - bx * s + bz * c, &h[i]))
                break;
        }
        if (i == 4) {
            double tilt, gap;
            float out[4];
            rel->y = (float)props_plane_fit(X, Z, h, yaw, out, &tilt, &gap);
            rel->qw = out[0];
            rel->qx = out[1];
            rel->qy = out[2];
            rel->qz = out[3];
            props_log("[props] %s: rests on the %s on 4 corners (%.2fx%.2f m): up %.2f, tilt %.1f deg, worst corner "
                      "gap %.2f m",
                      label, r->attach_part ? props_part_name(r->attach_part) : "cabin", X[1] - X[0], Z[1] - Z[0],
                      rel->y, tilt, gap);
            return true;
        }
    }
    double up;
    if (props_corner_ray(pmx, frame, pmn, rel->x, rel->z, &up)) {
        rel->y = (float)up;
        props_log("[props] %s: corners missed the part; centre ray: up %.2f", label, up);
        return true;
    }
    props_log("[props] %s: no ray hit the part (box top %.2f kept)", label, pmx[1]);
    return false;
}

/* ---- truck ---- */

bool props_truck_offset(double ahead, double right, double up, double out[3], float q[4])
{
    placement t;
    if (!local_truck_placement(&t)) {
        props_log("[props] no local truck placement (load a profile first)");
        return false;
    }
    props_offset_point(&t, ahead, right, up, out);
    q[0] = t.qw;
    q[1] = t.qx;
    q[2] = t.qy;
    q[3] = t.qz;
    return true;
}

/* ---- command ---- */

void props_cmd_snap_level(const char *rest)
{
    char id[16];
    prop_record *r = props_find_first_word(rest, id);
    if (!r)
        return;
    if (!r->attach_part) {
        double pos[3];
        placement_world(&r->place, pos);
        float q[4] = { r->place.qw, r->place.qx, r->place.qy, r->place.qz };
        if (!props_level_on_ground(r->model, pos, q, "level", r->actor)) {
            props_log("[props] level: no ground hit below prop '%s'", id);
            return;
        }
        props_commit_placement(r, pos, q, "level");
        return;
    }
    uint64_t part = props_attach_target_model(r);
    placement frame;
    if (!part || !props_attach_source_placement(r, &frame)) {
        props_log("[props] level: the %s isn't there", props_part_name(r->attach_part));
        return;
    }
    props_relative rel = r->rel;
    if (!props_fit_on_part(r, part, &frame, &rel, "level"))
        return;
    if (r->server_id && props_joined()) {
        bool sent = props_send_attach(r, r->attach_part, r->attach_player, &rel);
        props_log("[props] level request for server prop %u %s", r->server_id, props_sent_word(sent));
        return;
    }
    r->rel = rel;
}

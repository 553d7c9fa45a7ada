// Props attached to vehicle parts: the part's model and frame (our truck,
// cabin and trailer; the player shown by the spawned vehicle; a player shown
// as a convoy vehicle), the reads the props tick shares among the props on
// one part, the re-placement each props tick, the "attach" sub-command, and
// attach states sent and received for server props.
//
// Index of this file:
//   game calls     world placement, composition
//   target         props_attach_target_model, props_attach_source_placement
//   shared reads   one read per (player, part) a tick; the carrier's light word
//   re-placement   props_update_attached
//   requests       props_send_attach, props_apply_server_attach
//   command        the three offset ways, props_cmd_attach
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "props/props_internal.h"
#include "props/props_text.h"
#include "vehicles/vehicle_game.h"
#include "vehicles/vehicles.h"

/* ---- game calls ---- */

bool props_game_world_placement(uint64_t model, placement *out)
{
    volatile uint64_t at = 0;
    if (!dm_guarded([&] { at = game_fn<uint64_t(*)(uint64_t)>(GAME_OFF_WORLD_PLACEMENT)(model + MODEL_TRANSFORM); }))
        return false;
    return at && game_copy_guarded(out, at, sizeof *out);
}

bool props_game_compose(const placement *frame, const props_relative *rel, placement *out)
{
    placement tmp = {};
    bool ok = dm_guarded([&] {
        game_fn<uint64_t(*)(uint64_t, uint64_t, uint64_t)>(GAME_OFF_COMPOSE)(
            (uint64_t)(uintptr_t)frame, (uint64_t)(uintptr_t)&tmp, (uint64_t)(uintptr_t)rel);
    });
    if (ok)
        *out = tmp;
    return ok;
}

/* ---- target ---- */

static uint64_t vehicle_part_model(uint64_t vehicle, uint8_t part)
{
    if (part == PROP_PART_CABIN) {
        uint64_t m = props_model_from_slot(vehicle, VEHICLE_CABIN_SLOTS);
        return m ? m : props_model_from_slot(vehicle, VEHICLE_CHASSIS_SLOTS);
    }
    return props_model_from_slot(vehicle, VEHICLE_CHASSIS_SLOTS);
}

uint64_t props_attach_target_model(const prop_record *r)
{
    uint8_t part = r->attach_part;
    if (part < PROP_PART_TRUCK || part > PROP_PART_TRAILER)
        return 0;
    if (!props_our_player(r->attach_player)) {
        void *out = nullptr;
        void *v = player_vehicle(r->attach_player, part == PROP_PART_TRAILER, &out);
        if (v)
            return vehicle_part_model((uint64_t)(uintptr_t)v, part);
        // A convoy vehicle is one model and carries no trailer part.
        if (part == PROP_PART_TRAILER)
            return 0;
        uint64_t m = (uint64_t)(uintptr_t)out;
        return props_model_ok(m) ? m : 0;
    }
    uint64_t block = game_player_block_guarded();
    if (!block)
        return 0;
    uint64_t vehicle = game_u64_guarded(block + (part == PROP_PART_TRAILER ? GAME_PLAYER_TRAILER : GAME_PLAYER_LOCAL_TRUCK));
    return vehicle ? vehicle_part_model(vehicle, part) : 0;
}

static bool read_source_placement(const prop_record *r, placement *out)
{
    if (!props_our_player(r->attach_player) && r->attach_part != PROP_PART_TRAILER &&
        remote_rv_pose(r->attach_player, out))
        return true;
    uint64_t m = props_attach_target_model(r);
    return m && props_game_world_placement(m, out);
}

static uint64_t carrying_vehicle(const prop_record *r)
{
    if (props_our_player(r->attach_player)) {
        uint64_t block = game_player_block_guarded();
        return block ? game_u64_guarded(block + GAME_PLAYER_LOCAL_TRUCK) : 0;
    }
    void *out = nullptr;
    return (uint64_t)(uintptr_t)player_vehicle(r->attach_player, false, &out);
}

/* A word that cannot be read after the probe counts as 0 (no lights on). */
static bool read_carrier_light_word(const prop_record *r, uint32_t *word)
{
    uint64_t vehicle = carrying_vehicle(r);
    if (!vehicle || !probe_read(vehicle, actor_off::lights + 4))
        return false;
    *word = game_u32_guarded(vehicle + actor_off::lights);
    return true;
}

/* ---- shared reads ----
 * The game may change a truck's part list or its lights from one frame to
 * the next, so the chain to a part is read (and each hop probed, as a part
 * list read is) in every props tick, but once per (player, part): 32 props
 * on our truck cost one read of it, not 32. Within the tick nothing else
 * runs on the game thread, so the one read holds for every prop on it. */

namespace {

enum { SHARED_FRAME = 0, SHARED_LIGHT_WORD = 1 };

struct shared_read {
    uint16_t player; /* 0 for ours */
    uint8_t part;    /* the attach part; 0 for a light word (any part of the carrier) */
    uint8_t kind;    /* SHARED_FRAME, SHARED_LIGHT_WORD */
    bool found;
    uint32_t light_word;
    placement frame;
};

shared_read shared[2 * PROPS_SLOTS]; /* at most a frame and a light word per prop */
int shared_count;
bool sharing;

/* The read of this kind for the record: made at its first use in the tick
 * and shared after, made afresh into scratch outside the tick (or, never
 * with 64 props, when the table is full). */
const shared_read *shared_get(const prop_record *r, uint8_t kind, shared_read *scratch)
{
    uint16_t player = props_our_player(r->attach_player) ? 0 : r->attach_player;
    uint8_t part = kind == SHARED_FRAME ? r->attach_part : 0;
    for (int i = 0; sharing && i < shared_count; i++)
        if (shared[i].player == player && shared[i].part == part && shared[i].kind == kind)
            return &shared[i];
    bool room = sharing && shared_count < (int)(sizeof shared / sizeof shared[0]);
    shared_read *e = room ? &shared[shared_count++] : scratch;
    *e = shared_read {};
    e->player = player;
    e->part = part;
    e->kind = kind;
    e->found = kind == SHARED_FRAME ? read_source_placement(r, &e->frame) : read_carrier_light_word(r, &e->light_word);
    return e;
}

} // namespace

void props_shared_reads_begin()
{
    shared_count = 0;
    sharing = true;
}

void props_shared_reads_end() { sharing = false; }

bool props_attach_source_placement(const prop_record *r, placement *out)
{
    shared_read scratch;
    const shared_read *e = shared_get(r, SHARED_FRAME, &scratch);
    if (e->found)
        *out = e->frame;
    return e->found;
}

bool props_carrier_light_word(const prop_record *r, uint32_t *word)
{
    shared_read scratch;
    const shared_read *e = shared_get(r, SHARED_LIGHT_WORD, &scratch);
    if (e->found)
        *word = e->light_word;
    return e->found;
}

/* ---- re-placement ---- */

bool props_update_attached(prop_record *r)
{
    placement frame, p;
    if (!props_attach_source_placement(r, &frame) || !props_game_compose(&frame, &r->rel, &p)) {
        r->attach_missing = 1;
        return false;
    }
    r->place = p;
    props_push_placement(r);
    r->attach_missing = 0;
    return true;
}

/* ---- requests ---- */

bool props_send_attach(const prop_record *r, uint8_t part, uint16_t player, const props_relative *rel)
{
    prop_state s;
    props_to_state(r, &s);
    if (part) {
        prop_record copy = *r;
        copy.attach_part = part;
        copy.attach_player = player;
        copy.rel = *rel;
        placement frame, p;
        if (props_attach_source_placement(&copy, &frame) && props_game_compose(&frame, rel, &p)) {
            placement_world(&p, s.pos);
            s.rot[0] = p.qw;
            s.rot[1] = p.qx;
            s.rot[2] = p.qy;
            s.rot[3] = p.qz;
        }
    }
    s.attach_part = part;
    s.attach_player = part ? player : 0;
    s.attach_offset[0] = rel->x;
    s.attach_offset[1] = rel->y;
    s.attach_offset[2] = rel->z; // back, sent as stored
    s.attach_rot[0] = rel->qw;
    s.attach_rot[1] = rel->qx;
    s.attach_rot[2] = rel->qy;
    s.attach_rot[3] = rel->qz;
    return net_send_prop(&s);
}

bool props_apply_server_attach(prop_record *r, const prop_state *s)
{
    if (s->attach_part) {
        props_relative rel = { s->attach_offset[0], s->attach_offset[1], s->attach_offset[2], 0.0f,
                               s->attach_rot[0],    s->attach_rot[1],    s->attach_rot[2],    s->attach_rot[3] };
        if (r->attach_part == s->attach_part && r->attach_player == s->attach_player &&
            memcmp(&r->rel, &rel, sizeof rel) == 0)
            return true;
        bool before = r->attach_part != 0;
        props_remove_collision(r);
        r->rel = rel;
        r->attach_player = s->attach_player;
        r->attach_part = s->attach_part;
        props_log("[props] server prop %u %s player %u's %s: right %.2f up %.2f ahead %.2f%s", r->server_id,
                  before ? "moved on" : "attached to", s->attach_player, props_part_name(s->attach_part), rel.x,
                  rel.y, -rel.z, props_our_player(s->attach_player) ? " (ours)" : "");
        return true;
    }
    if (r->attach_part) {
        r->attach_part = 0;
        r->attach_missing = 0;
        r->attach_player = 0;
        props_log("[props] server prop %u detached", r->server_id);
        if (props_collision_on)
            props_create_collision(r);
    }
    return false;
}

/* ---- command ----
 * The offset on the part comes one of three ways: the roof's top centre
 * (roof without numbers), the typed numbers, or where the prop stands now
 * (no numbers). */

namespace {

/* Roof without numbers: the top centre of the cabin's box, then the prop
 * fitted onto it (which may change the up offset and the rotation). False
 * (logged) when the box is unknown. */
bool attach_offset_on_roof(const prop_record *copy, uint64_t target, const placement *frame, props_relative *rel)
{
    float mn[3], mx[3];
    if (!props_part_bounds(target, mn, mx)) {
        props_log("[props] attach: cabin box unknown; give offsets");
        return false;
    }
    rel->x = (mn[0] + mx[0]) / 2;
    rel->y = mx[1];
    rel->z = (mn[2] + mx[2]) / 2;
    props_log("[props] attach: cabin box (%.2f %.2f %.2f)..(%.2f %.2f %.2f)", mn[0], mn[1], mn[2], mx[0], mx[1],
              mx[2]);
    props_fit_on_part(copy, target, frame, rel, "attach");
    return true;
}

/* Typed numbers (props_typed_relative). False (logged) when the yaw is not
 * finite. */
bool attach_offset_typed(const props_attach_args *a, props_relative *rel)
{
    if (props_typed_relative(a->ahead, a->right, a->up, a->yaw, rel))
        return true;
    props_log("[props] attach: offsets must be finite metres within %.0f", PROPS_ATTACH_OFFSET_MAX);
    return false;
}

/* No numbers: where the prop stands now, relative to the frame; composed
 * back through the game as a check, and the distance logged. */
void attach_offset_in_place(const placement *frame, const placement *place, props_relative *rel)
{
    placement_relative(rel, frame, place);
    placement back;
    double err = -1;
    if (props_game_compose(frame, rel, &back)) {
        double a3[3], b3[3];
        placement_world(&back, a3);
        placement_world(place, b3);
        err = sqrt((a3[0] - b3[0]) * (a3[0] - b3[0]) + (a3[1] - b3[1]) * (a3[1] - b3[1]) +
                   (a3[2] - b3[2]) * (a3[2] - b3[2]));
    }
    props_log("[props] attach: kept in place; round trip error %.3f m", err);
}

} // namespace

void props_cmd_attach(const char *rest)
{
    // 1. The words: id, part (with an optional player) and up to four numbers.
    props_attach_args a;
    if (!props_parse_attach(rest, &a)) {
        props_log("[props] usage: model attach <id|last> truck|cabin|roof|trailer[@player] [ahead right up [yaw]]");
        return;
    }
    uint16_t player = a.player == net_our_player_id() ? 0 : a.player;
    if (!a.part_value) {
        props_log("[props] attach: unknown part '%s' (truck|cabin|roof|trailer)", a.part);
        return;
    }
    // 2. The prop, and whether the server decides (a server prop while joined).
    prop_record *r = props_find(a.id);
    if (!r)
        return;
    bool request = r->server_id && props_joined();
    // 3. The part's model and frame, found for a copy carrying the new part.
    prop_record copy = *r;
    copy.attach_part = a.part_value;
    copy.attach_player = player;
    uint64_t target = props_attach_target_model(&copy);
    placement frame;
    if (!target || !props_attach_source_placement(&copy, &frame)) {
        props_log("[props] attach: no %s model on %s (no trailer? not spawned here?)", a.part,
                  player ? "that player's vehicle" : "our vehicle");
        return;
    }
    // 4. The offset on the part, one of three ways.
    props_relative rel = { 0, 0, 0, 0, 1, 0, 0, 0 };
    if (a.roof && a.fields < 3) {
        if (!attach_offset_on_roof(&copy, target, &frame, &rel))
            return;
    } else if (a.fields >= 3) {
        if (!attach_offset_typed(&a, &rel))
            return;
    } else {
        attach_offset_in_place(&frame, &r->place, &rel);
    }
    // 5. The bound every receiver holds an attach offset to, ours included:
    // typed, kept in place or fitted, an offset beyond it is never taken.
    const float offset[3] = { rel.x, rel.y, rel.z };
    if (!props_attach_offset_ok(offset)) {
        props_log("[props] attach: offsets must be finite metres within %.0f", PROPS_ATTACH_OFFSET_MAX);
        return;
    }
    rel.zero = 0;
    const char *label = a.roof ? "cabin roof" : props_part_name(a.part_value);
    // 6. A local prop is attached at once; a server prop's request goes to
    // the server, whose echo attaches it.
    if (!request) {
        props_remove_collision(r);
        r->rel = rel;
        r->attach_player = player;
        r->attach_part = a.part_value;
        props_update_attached(r);
        double w[3];
        placement_world(&r->place, w);
        props_log("[props] #%u attached to the %s (model %p): offset right %.2f up %.2f ahead %.2f; now at (%.1f, "
                  "%.1f, %.1f)",
                  r->local_id, label, (void *)(uintptr_t)target, rel.x, rel.y, -rel.z, w[0], w[1], w[2]);
        return;
    }
    bool sent = props_send_attach(r, a.part_value, player ? player : net_our_player_id(), &rel);
    props_log("[props] attach request for server prop %u %s (%s, right %.2f up %.2f ahead %.2f)", r->server_id,
              props_sent_word(sent), label, rel.x, rel.y, -rel.z);
}

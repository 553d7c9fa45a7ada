// Server props: the prop_state a record sends, the commit of an edited
// position (a request while joined, a local edit otherwise), and the three
// handlers the network client calls for types 20, 21 and 22. Game thread
// (inside net_tick).
//
// Index of this file:
//   state        props_to_state
//   commit       props_commit_placement
//   checks       what a received prop must hold
//   handlers     placed, removed, id list; the handler table
//   connection   the requests a closed connection forgets
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "net/net.h"
#include "base/plain_text.h"
#include "props/props_internal.h"

/* ---- state ---- */

void props_to_state(const prop_record *r, prop_state *out)
{
    memset(out, 0, sizeof *out);
    out->server_id = r->server_id;
    placement_world(&r->place, out->pos);
    out->rot[0] = r->place.qw;
    out->rot[1] = r->place.qx;
    out->rot[2] = r->place.qy;
    out->rot[3] = r->place.qz;
    out->look = r->look;
    out->variant = r->variant;
    memcpy(out->model, r->path, strnlen(r->path, PROPS_PATH_MAX));
    out->attach_part = r->attach_part;
    out->attach_player = r->attach_player;
    out->attach_offset[0] = r->rel.x;
    out->attach_offset[1] = r->rel.y;
    out->attach_offset[2] = r->rel.z;
    out->attach_rot[0] = r->rel.qw;
    out->attach_rot[1] = r->rel.qx;
    out->attach_rot[2] = r->rel.qy;
    out->attach_rot[3] = r->rel.qz;
    out->light_mode = r->light_mode;
}

/* ---- commit ---- */

void props_commit_placement(prop_record *r, const double pos[3], const float q[4], const char *label)
{
    if (r->server_id && props_joined()) {
        prop_state s;
        props_to_state(r, &s);
        memcpy(s.pos, pos, sizeof s.pos);
        memcpy(s.rot, q, sizeof s.rot);
        bool sent = net_send_prop(&s);
        props_log("[props] %s request for server prop %u %s", label, r->server_id, props_sent_word(sent));
        return;
    }
    props_placement_from_world(&r->place, pos, q);
    props_push_placement(r);
    props_log("[props] #%u %s: (%.2f, %.2f, %.2f)", r->local_id, label, pos[0], pos[1], pos[2]);
}

/* ---- checks ---- */

namespace {

/* The reason a received prop is refused, or null; the quaternions are
 * normalised in the copy. */
const char *refusal(prop_state *s)
{
    if (!props_position_ok(s->pos))
        return "position not finite or out of range";
    if (!props_quat_take(s->rot))
        return "rotation not a unit quaternion";
    if (!props_path_text_ok(s->model))
        return "model path refused";
    if (s->attach_part > PROP_PART_TRAILER)
        return "unknown attach part";
    if (s->attach_part) {
        if (!props_attach_offset_ok(s->attach_offset))
            return "attach offset out of range";
        if (!props_quat_take(s->attach_rot))
            return "attach rotation not a unit quaternion";
    }
    return nullptr;
}

prop_record *find_server(uint32_t id)
{
    for (auto &r : props_block->table)
        if (r.state == PROP_LIVE && r.server_id == id)
            return &r;
    return nullptr;
}

/* ---- handlers ---- */

void on_server_prop(const prop_state *in)
{
    if (!props_block || !props_api || !in->server_id)
        return;
    prop_state s = *in;
    // A received attach player 0 is the sender's own vehicle: the packet's
    // player. Without a sender (the server's own prop) there is no vehicle
    // to ride on, and the prop stands where it is.
    if (s.attach_part && !s.attach_player)
        s.attach_player = s.owner;
    if (s.attach_part && !s.attach_player)
        s.attach_part = 0;
    if (const char *why = refusal(&s)) {
        if (props_refused_before(s.server_id))
            return;
        char shown[NET_PROP_PATH_MAX * 4 + 1];
        text_clean(shown, sizeof shown, s.model, strnlen(s.model, NET_PROP_PATH_MAX));
        props_log("[props] server prop %u refused (%s): %s", s.server_id, why, shown);
        return;
    }
    uint8_t mode = s.light_mode > 6 ? 0 : s.light_mode;
    placement p;
    props_placement_from_world(&p, s.pos, s.rot);
    prop_record *r = find_server(s.server_id);
    if (r && strncmp(r->path, s.model, PROPS_PATH_MAX) == 0 && r->look == s.look && r->variant == s.variant) {
        if (r->light_mode != mode) {
            r->light_mode = mode;
            r->light_applied = 0xFF;
            props_log("[props] server prop %u light %s", s.server_id, props_light_mode_name(mode));
        }
        if (!props_apply_server_attach(r, &s) && memcmp(&p, &r->place, sizeof p) != 0) {
            r->place = p;
            props_push_placement(r);
            props_log("[props] server prop %u moved to (%.1f, %.1f, %.1f)", s.server_id, s.pos[0], s.pos[1],
                      s.pos[2]);
        }
        return;
    }
    if (r)
        props_queue(r);
    // Our own create comes back with our id as the sender: one pending request fewer.
    bool ours = net_our_player_id() && s.owner == net_our_player_id() && props_pending_creates > 0;
    if (ours)
        props_pending_creates--;
    r = props_spawn_model(s.model, s.look, s.variant, &p, s.server_id, s.owner);
    if (!r)
        return;
    r->light_applied = 0xFF;
    r->light_mode = mode;
    if (s.attach_part) {
        props_apply_server_attach(r, &s);
        return;
    }
    if (ours) { // the prop our spawn asked for
        props_last_id = s.server_id;
        props_last_is_server = true;
        double pos[3] = { s.pos[0], s.pos[1], s.pos[2] };
        float q[4] = { s.rot[0], s.rot[1], s.rot[2], s.rot[3] };
        if (props_autosnap && props_level_on_ground(r->model, pos, q, "spawn", r->actor))
            props_commit_placement(r, pos, q, "level");
    }
    props_log("[props] server prop %u (by player %u): %s at (%.1f, %.1f, %.1f), local #%u", s.server_id, s.owner,
              r->path, s.pos[0], s.pos[1], s.pos[2], r->local_id);
}

void on_server_prop_removed(uint32_t id)
{
    if (!props_block || !props_api)
        return;
    for (auto &r : props_block->table)
        if (r.state == PROP_LIVE && r.server_id && (id == 0 || r.server_id == id)) {
            props_queue(&r);
            props_log("[props] server prop %u removed", r.server_id);
        }
}

void on_server_prop_list(const uint32_t *ids, uint16_t count)
{
    if (!props_block || !props_api)
        return;
    for (auto &r : props_block->table) {
        if (r.state != PROP_LIVE || !r.server_id)
            continue;
        bool listed = false;
        for (uint16_t i = 0; i < count && !listed; i++)
            listed = ids[i] == r.server_id;
        if (!listed) {
            props_queue(&r);
            props_log("[props] server prop %u is gone from the server list; removed", r.server_id);
        }
    }
}

} // namespace

const net_prop_handlers props_net_handlers = { on_server_prop, on_server_prop_removed, on_server_prop_list };

/* ---- connection ---- */

bool props_disconnected()
{
    if (net_is_open())
        return false;
    props_pending_creates = 0;
    return true;
}

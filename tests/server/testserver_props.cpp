// The test server's props: a store of placed props with ids from 1; a
// player's type 20 with id 0 creates, any other id updates, and the result
// goes to every client (the sender included) with the requester as the
// header's player; type 21 removes (0 = all of the requester's own, each
// told by its id); type 22 asks for the list;
// a joining client gets every prop and then the list; a layout command
// (type 23) is answered by a server message (type 24).
//
// Index
//   store       find, free slot
//   sending     one prop to every client, the list
//   requests    types 20 to 23 from a client
//   tests       place as a player, remove, on join
#include <stdio.h>
#include <string.h>
#include "net/net_wire.h"
#include "testserver.h"

/* ---- store ---- */

static ts_prop *find(ts_server *s, uint32_t id)
{
    for (auto &p : s->props.props)
        if (p.used && p.state.server_id == id)
            return &p;
    return nullptr;
}

const ts_prop *ts_props_find(const ts_server *s, uint32_t id) { return find((ts_server *)s, id); }

/* ---- sending ---- */

static void send_prop_to(ts_server *s, const ts_client *c, uint16_t from, const prop_state *prop)
{
    uint8_t p[512];
    int n = net_build_prop(p, sizeof p, prop);
    if (n > 0)
        ts_send(s, c, NET_PROP, 0, from, p, n);
}

static void echo(ts_server *s, uint16_t from, const prop_state *prop)
{
    for (auto &c : s->clients)
        if (c.used && !c.bot)
            send_prop_to(s, &c, from, prop);
}

/* The id list's payload of the store. */
static int list_payload(const ts_server *s, uint8_t *out, int cap)
{
    uint32_t ids[NET_PROP_IDS_MAX];
    int n = 0;
    for (auto &p : s->props.props)
        if (p.used && n < NET_PROP_IDS_MAX)
            ids[n++] = p.state.server_id;
    return net_build_prop_list(out, cap, ids, n);
}

void ts_props_send_list(ts_server *s)
{
    uint8_t out[4 + 4 * NET_PROP_IDS_MAX];
    ts_broadcast(s, NET_PROP_LIST, 0, out, list_payload(s, out, sizeof out));
}

/* ---- requests ---- */

/* A player's "despawn all": that player's props only, each removal told
 * by its id (an id 0 would remove every client's props). */
static void remove_all_of(ts_server *s, uint16_t player)
{
    for (auto &p : s->props.props)
        if (p.used && p.owner == player)
            ts_props_remove(s, p.state.server_id);
}

static uint32_t place(ts_server *s, uint16_t player, const prop_state *in)
{
    prop_state st = *in;
    ts_prop *slot = st.server_id ? find(s, st.server_id) : nullptr;
    if (st.server_id && !slot)
        return 0; // an update of a prop the server does not have
    if (!slot) {
        for (auto &p : s->props.props)
            if (!p.used) {
                slot = &p;
                break;
            }
        if (!slot)
            return 0;
        if (!s->props.next_id)
            s->props.next_id = 1;
        st.server_id = s->props.next_id++;
        slot->used = true;
        slot->owner = player;
        s->props.creates++;
    } else {
        s->props.updates++;
    }
    st.owner = slot->owner;
    slot->state = st;
    echo(s, player, &st);
    return st.server_id;
}

void ts_props_on_datagram(ts_server *s, ts_client *c, uint8_t type, const uint8_t *p, size_t n)
{
    if (type == NET_PROP) {
        // The parser takes only server props (id non-zero): a create request's
        // id 0 is read with a stand-in id and put back.
        uint8_t copy[2048];
        if (n < 4 || n > sizeof copy)
            return;
        memcpy(copy, p, n);
        if (n <= sizeof s->props.last_request_bytes) {
            memcpy(s->props.last_request_bytes, p, n);
            s->props.last_request_len = (int)n;
        }
        uint32_t id = net_get_u32(copy);
        if (!id)
            net_put_u32(copy, 0xFFFFFFFFu);
        prop_state st;
        if (!net_parse_prop(copy, n, c->id, &st))
            return;
        st.server_id = id;
        s->props.last_request = st;
        if (s->props.hold_echoes)
            s->props.held++;
        else
            place(s, c->id, &st);
    } else if (type == NET_PROP_REMOVED) {
        uint32_t id;
        if (!net_parse_u32(p, n, &id))
            return;
        s->props.removes++;
        if (s->props.hold_echoes)
            return;
        if (id)
            ts_props_remove(s, id);
        else
            remove_all_of(s, c->id);
    } else if (type == NET_PROP_LIST) {
        ts_props_send_list(s);
    } else if (type == NET_LAYOUT_CMD) {
        uint8_t op;
        char name[33];
        if (!net_parse_layout_cmd(p, n, &op, name))
            return;
        s->props.layouts_in++;
        s->props.last_layout_op = op;
        snprintf(s->props.last_layout_name, sizeof s->props.last_layout_name, "%s", name);
        char text[80];
        snprintf(text, sizeof text, "layout %u '%s': done", op, name);
        uint8_t out[128];
        ts_send(s, c, NET_MESSAGE, 0, 0, out, net_build_text(out, sizeof out, text));
    }
}

/* ---- tests ---- */

uint32_t ts_props_place_as(ts_server *s, uint16_t player, const prop_state *prop) { return place(s, player, prop); }

void ts_props_remove(ts_server *s, uint32_t id)
{
    for (auto &p : s->props.props)
        if (p.used && (id == 0 || p.state.server_id == id))
            p.used = false;
    uint8_t out[4];
    ts_broadcast(s, NET_PROP_REMOVED, 0, out, net_build_u32(out, sizeof out, id));
}

void ts_props_on_join(ts_server *s, ts_client *c)
{
    for (auto &p : s->props.props)
        if (p.used)
            send_prop_to(s, c, p.owner, &p.state);
    uint8_t out[4 + 4 * NET_PROP_IDS_MAX];
    ts_send(s, c, NET_PROP_LIST, 0, 0, out, list_payload(s, out, sizeof out));
}

// The roster of remote players: joins and drops, state rings with clock
// offset and jitter estimates, accessory lists assembled from parts, roles,
// server messages and the kick notice; and our own accessory lists.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "net/net_internal.h"
#include "net/net_wire.h"
#include "base/plain_text.h"
#include "dm_fnv.h"

net_player net_roster[NET_MAX_PLAYERS];
net_local_list net_local_lists[2];
bool net_local_lists_due;
static net_kick_record kick_record;
static bool kick_recorded;
static char our_role[NET_ROLE_MAX + 1];

static const char *const list_names[2] = {"truck", "trailer"};

net_player *net_roster_find(uint16_t id)
{
    for (auto &p : net_roster)
        if (p.used && p.id == id)
            return &p;
    return nullptr;
}

static void acc_block_clear(net_acc_block *b)
{
    for (int i = 0; i < NET_ACC_PARTS; i++) {
        free(b->parts[i]);
        b->parts[i] = nullptr;
        b->part_size[i] = 0;
    }
    free(b->joined);
    b->joined = nullptr;
    b->received = 0;
    b->entries = 0;
    b->complete = 0;
}

static void free_slot(net_player *p)
{
    acc_block_clear(&p->acc[0]);
    acc_block_clear(&p->acc[1]);
    memset(p, 0, sizeof *p);
}

void net_roster_reset()
{
    for (auto &p : net_roster)
        free_slot(&p);
    memset(net_local_lists, 0, sizeof net_local_lists);
    net_local_lists_due = false;
    memset(&kick_record, 0, sizeof kick_record);
    kick_recorded = false;
    our_role[0] = 0;
    net_interp_reset();
}

void net_roster_on_joined(uint16_t id, uint16_t ours, const uint8_t *p, size_t n, double now)
{
    char name[33];
    if (id == ours || !net_parse_joined(p, n, name) || net_roster_find(id))
        return;
    for (auto &s : net_roster) {
        if (s.used)
            continue;
        free_slot(&s);
        s.used = 1;
        s.id = id;
        memcpy(s.name, name, sizeof name);
        s.name_colour = 0xFFFFFFFFu;
        s.last_state_time = now;
        char clean[33];
        net_log_server("[net] player %u '%s' is here", id, text_clean(clean, sizeof clean, name, 32));
        return;
    }
    net_log_server("[net] roster full; ignoring player %u", id);
}

void net_roster_on_dropped(uint16_t id, const uint8_t *p, size_t n)
{
    net_player *pl = net_roster_find(id);
    if (!pl)
        return;
    uint8_t reason = n >= 1 ? p[0] : 0;
    char clean[33];
    net_log_server("[net] player %u '%s' removed (%s)", id, text_clean(clean, sizeof clean, pl->name, 32),
                   net_drop_text(reason));
    free_slot(pl);
}

void net_roster_drop_all(const char *reason)
{
    char clean[33];
    for (auto &s : net_roster) {
        if (!s.used)
            continue;
        net_log_server("[net] player %u '%s' dropped (%s)", s.id, text_clean(clean, sizeof clean, s.name, 32), reason);
        free_slot(&s);
    }
}

void net_roster_drop_stale(double now)
{
    char clean[33];
    for (auto &s : net_roster) {
        if (!s.used || s.states == 0 || now - s.last_state_time <= 15.0)
            continue;
        net_log_server("[net] player %u '%s' dropped (no state for %.0f s)", s.id,
                       text_clean(clean, sizeof clean, s.name, 32), now - s.last_state_time);
        free_slot(&s);
    }
}

void net_roster_on_state(uint16_t id, uint32_t seq, const uint8_t *p, size_t n, double now)
{
    net_player *pl = net_roster_find(id);
    if (!pl)
        return;
    uint32_t ms, hash;
    net_pose pose;
    if (!net_parse_state(p, n, &ms, &pose, &hash))
        return;
    if (pl->seq_valid && (int32_t)(seq - pl->last_seq) < 1)
        return;
    pl->last_seq = seq;
    pl->seq_valid = 1;
    double t = ms / 1000.0;
    if (pl->count > 0) {
        double t0 = pl->ring[(pl->head + NET_RING - 1) % NET_RING].t;
        double d = t - t0;
        if (d > 0 && d < 2.0)
            pl->interval += (d - pl->interval) * (d > pl->interval ? 0.3 : 0.01);
        if (t0 - 60.0 > t) {
            pl->count = 0;
            pl->offset_valid = 0;
        }
    }
    net_ring_entry *e = &pl->ring[pl->head];
    e->t = t;
    e->pose = pose;
    pl->head = (pl->head + 1) % NET_RING;
    if (pl->count < NET_RING)
        pl->count++;
    double s = now - t;
    if (!pl->offset_valid || pl->offset > s) {
        pl->offset = s;
        pl->offset_valid = 1;
    } else {
        pl->offset += (s - pl->offset) * 0.02;
    }
    double err = s - pl->offset;
    pl->jitter += (err - pl->jitter) * (err > pl->jitter ? 0.5 : 0.01);
    pl->states++;
    if (pl->states == 1) {
        char clean[33];
        net_log_server("[net] first state from %u '%s': (%.1f, %.1f, %.1f)%s", id,
                       text_clean(clean, sizeof clean, pl->name, 32), pose.pos[0], pose.pos[1], pose.pos[2],
                       pose.has_trailer ? " + trailer" : "");
    }
    pl->last_state_time = now;
}

void net_roster_on_acc_part(uint16_t id, const uint8_t *p, size_t n)
{
    net_player *pl = net_roster_find(id);
    net_acc_part_head h;
    if (!pl || !net_parse_acc_part_head(p, n, &h))
        return;
    net_acc_block *b = &pl->acc[h.list];
    if (h.hash != b->hash || h.count != b->part_count) {
        acc_block_clear(b);
        b->hash = h.hash;
        b->part_count = h.count;
    }
    if (b->received & (1u << h.index))
        return;
    int span = net_acc_part_span(p, n, h.entries);
    if (span < 0) {
        net_log_server("[net] player %u: malformed accessory part %u/%u; dropped", id, h.index, h.count);
        return;
    }
    uint8_t *copy = (uint8_t *)malloc(span > 0 ? (size_t)span : 1);
    if (!copy)
        return;
    memcpy(copy, p + 8, (size_t)span);
    b->parts[h.index] = copy;
    b->part_size[h.index] = span;
    b->entries += h.entries;
    b->received |= 1u << h.index;
    uint32_t all = h.count == 32 ? 0xFFFFFFFFu : ((1u << h.count) - 1);
    if ((b->received & all) != all || b->complete)
        return;
    /* joined: each entry's bytes then a NUL; a part of span bytes holds at
     * most span bytes of text plus one NUL per length byte */
    size_t total = 1;
    for (int i = 0; i < h.count; i++)
        total += (size_t)b->part_size[i];
    char *joined = (char *)malloc(total);
    if (!joined)
        return;
    size_t at = 0;
    for (int i = 0; i < h.count; i++) {
        const uint8_t *q = b->parts[i];
        int k = 0;
        while (k < b->part_size[i]) {
            int len = q[k];
            memcpy(joined + at, q + k + 1, (size_t)len);
            at += (size_t)len;
            joined[at++] = 0;
            k += 1 + len;
        }
    }
    joined[at] = 0;
    for (int i = 0; i < NET_ACC_PARTS; i++) {
        free(b->parts[i]);
        b->parts[i] = nullptr;
        b->part_size[i] = 0;
    }
    b->joined = joined;
    b->complete = 1;
    char clean[33], first[256];
    net_log_server("[net] player %u '%s' %s accessories: %d entries, hash %08x (first '%s')", id,
                   text_clean(clean, sizeof clean, pl->name, 32), list_names[h.list], (int)b->entries, b->hash,
                   text_clean(first, sizeof first, b->entries ? joined : "", 255));
}

void net_roster_on_role(uint16_t id, uint16_t ours, const uint8_t *p, size_t n)
{
    uint32_t tag, name_colour;
    char text[NET_ROLE_MAX + 1];
    if (!net_parse_role(p, n, &tag, &name_colour, text))
        return;
    char clean[NET_ROLE_MAX + 1], cname[33];
    if (id == ours && ours != 0) {
        if (strcmp(text, our_role) != 0)
            net_log_server("[net] our role: %s",
                           text[0] ? text_clean(clean, sizeof clean, text, NET_ROLE_MAX) : "member");
        memcpy(our_role, text, sizeof our_role);
        return;
    }
    net_player *pl = net_roster_find(id);
    if (!pl)
        return;
    if (strcmp(text, pl->role) != 0)
        net_log_server("[net] player %u '%s' role: %s", id, text_clean(cname, sizeof cname, pl->name, 32),
                       text_clean(clean, sizeof clean, text, NET_ROLE_MAX));
    memcpy(pl->role, text, sizeof pl->role);
    pl->tag_colour = tag;
    pl->name_colour = name_colour;
}

void net_roster_on_message(const uint8_t *p, size_t n)
{
    char text[NET_TEXT_MAX + 1], clean[NET_TEXT_MAX + 1];
    if (net_parse_message(p, n, text))
        net_log_server("[server] %s", text_clean(clean, sizeof clean, text, NET_TEXT_MAX));
}

void net_roster_record_kick(uint8_t kind, const uint8_t *p, size_t n, double now, char *status,
                            size_t status_size)
{
    uint32_t notice = kick_record.notice + 1;
    memset(&kick_record, 0, sizeof kick_record);
    kick_record.kind = kind;
    kick_record.notice = notice;
    kick_record.time = now;
    if (n >= 2 && p[1] <= NET_TEXT_MAX && n >= 2 + (size_t)p[1])
        memcpy(kick_record.text, p + 2, p[1]);
    kick_recorded = true;
    const char *text = kick_record.text;
    bool has = text[0] != 0;
    char clean[NET_TEXT_MAX + 1];
    text_clean(clean, sizeof clean, text, NET_TEXT_MAX);
    net_log_server("[net] %s by the server%s%s; you are offline (keep driving in single player)",
                   kind == 5 ? "BANNED" : "KICKED", has ? ": " : "", clean);
    snprintf(status, status_size, "%s%s%.60s", kind == 5 ? "banned" : "kicked", has ? ": " : "", clean);
}

/* getters */

bool net_has_player(uint16_t id) { return net_roster_find(id) != nullptr; }

const char *net_player_name(uint16_t id)
{
    net_player *p = net_roster_find(id);
    return p ? p->name : "?";
}

bool net_player_role(uint16_t id, const char **role, uint32_t *tag_colour, uint32_t *name_colour)
{
    net_player *p = net_roster_find(id);
    if (!p)
        return false;
    if (role)
        *role = p->role;
    if (tag_colour)
        *tag_colour = p->tag_colour;
    if (name_colour)
        *name_colour = p->name_colour;
    return true;
}

int net_list_players(uint16_t *out, int capacity)
{
    int n = 0;
    for (auto &p : net_roster)
        if (p.used && n < capacity)
            out[n++] = p.id;
    return n;
}

bool net_player_accessories(uint16_t id, int list, uint32_t *hash, const char **entries, uint32_t *count)
{
    net_player *p = net_roster_find(id);
    if (!p || list < 0 || list > 1 || !p->acc[list].complete)
        return false;
    if (hash)
        *hash = p->acc[list].hash;
    if (entries)
        *entries = p->acc[list].joined;
    if (count)
        *count = p->acc[list].entries;
    return true;
}

bool net_get_kick_info(net_kick_record *out)
{
    if (!kick_recorded)
        return false;
    *out = kick_record;
    return true;
}

/* local lists */

void net_set_local_accessories(int list, const char *const *paths, int count)
{
    if (list < 0 || list > 1)
        return;
    if (count < 0)
        count = 0;
    if (count > NET_ACC_MAX)
        count = NET_ACC_MAX;
    uint32_t h = DM_FNV1A_BASIS;
    for (int i = 0; i < count; i++) {
        const char *s = paths[i] ? paths[i] : "";
        h = dm_fnv1a(h, s, strlen(s) + 1);
    }
    net_local_list *l = &net_local_lists[list];
    if (l->set && l->hash == h && l->count == count)
        return;
    for (int i = 0; i < count; i++)
        snprintf(l->paths[i], sizeof l->paths[i], "%s", paths[i] ? paths[i] : "");
    l->count = count;
    l->hash = h;
    l->set = 1;
    net_log("[net] local %s accessories: %d paths, hash %08x", list_names[list], count, h);
    net_local_lists_due = true;
}

int net_acc_pack(int list, int starts[NET_ACC_PARTS + 1])
{
    const net_local_list *l = &net_local_lists[list];
    int parts = 0, size = NET_HEADER_SIZE + 8, in_part = 0;
    starts[0] = 0;
    for (int i = 0; i < l->count; i++) {
        int need = 1 + (int)strlen(l->paths[i]);
        if (in_part > 0 && (in_part >= 255 || size + need > NET_ACC_DATAGRAM_MAX)) {
            starts[++parts] = i;
            size = NET_HEADER_SIZE + 8;
            in_part = 0;
        }
        size += need;
        in_part++;
    }
    starts[++parts] = l->count;
    return parts;
}

int net_acc_build_part(int list, const int *starts, int index, int count, uint8_t *p, int cap)
{
    const net_local_list *l = &net_local_lists[list];
    int first = starts[index], end = starts[index + 1];
    if (cap < 8)
        return -1;
    net_put_u32(p, l->hash);
    p[4] = (uint8_t)list;
    p[5] = (uint8_t)index;
    p[6] = (uint8_t)count;
    p[7] = (uint8_t)(end - first);
    int at = 8;
    for (int i = first; i < end; i++) {
        int len = (int)strlen(l->paths[i]);
        if (at + 1 + len > cap)
            return -1;
        p[at] = (uint8_t)len;
        memcpy(p + at + 1, l->paths[i], (size_t)len);
        at += 1 + len;
    }
    return at;
}

uint32_t net_local_state_hash()
{
    uint32_t truck = net_local_lists[0].set ? net_local_lists[0].hash : 0;
    uint32_t trailer = net_local_lists[1].set ? net_local_lists[1].hash : 0;
    return (trailer * 31u) ^ truck;
}

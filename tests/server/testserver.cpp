// The test server: a real peer of the client's protocol on 127.0.0.1.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "net/net_key.h"
#include "net/net_socket.h"
#include "net/net_wire.h"
#include "testserver.h"
#include "dm_fnv.h"


static SOCKET open_bound(uint16_t port, uint16_t *bound)
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return s;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (bind(s, (sockaddr *)&a, sizeof a) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    int len = sizeof a;
    getsockname(s, (sockaddr *)&a, &len);
    *bound = ntohs(a.sin_port);
    net_socket_setup(s);
    return s;
}

bool ts_start(ts_server *s, uint16_t port)
{
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0)
        return false;
    memset(s, 0, sizeof *s);
    s->refuse_reason = -1;
    s->send_challenge = true;
    s->max_players = TS_MAX_CLIENTS;
    s->protocol = NET_PROTOCOL_VERSION;
    s->client_timeout = 10.0;
    s->next_id = 1;
    s->world.period = 2.0;
    snprintf(s->info_name, sizeof s->info_name, "drovemark test server");
    uint16_t p2;
    SOCKET a = open_bound(port, &s->port);
    SOCKET b = open_bound(0, &p2);
    if (a == INVALID_SOCKET || b == INVALID_SOCKET) {
        if (a != INVALID_SOCKET)
            closesocket(a);
        if (b != INVALID_SOCKET)
            closesocket(b);
        WSACleanup();
        return false;
    }
    s->sock = a;
    s->second_sock = b;
    return true;
}

void ts_stop(ts_server *s)
{
    closesocket((SOCKET)s->sock);
    closesocket((SOCKET)s->second_sock);
    WSACleanup();
}

ts_client *ts_find(ts_server *s, uint16_t id)
{
    for (auto &c : s->clients)
        if (c.used && c.id == id)
            return &c;
    return nullptr;
}

ts_client *ts_find_name(ts_server *s, const char *name)
{
    for (auto &c : s->clients)
        if (c.used && strcmp(c.name, name) == 0)
            return &c;
    return nullptr;
}

void ts_send_raw(ts_server *s, const ts_client *to, const uint8_t *data, int len, bool second_port)
{
    if (!to || to->bot)
        return;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = to->addr;
    a.sin_port = to->port;
    sendto((SOCKET)(second_port ? s->second_sock : s->sock), (const char *)data, len, 0, (sockaddr *)&a, sizeof a);
}

void ts_send(ts_server *s, const ts_client *to, uint8_t type, uint32_t seq, uint16_t subject,
             const uint8_t *payload, int len)
{
    if (s->silent || len < 0)
        return;
    uint8_t buf[2048];
    net_write_header(buf, type, seq, subject);
    if (len)
        memcpy(buf + NET_HEADER_SIZE, payload, (size_t)len);
    ts_send_raw(s, to, buf, NET_HEADER_SIZE + len, false);
}

void ts_broadcast(ts_server *s, uint8_t type, uint16_t subject, const uint8_t *payload, int len)
{
    for (auto &c : s->clients)
        if (c.used && !c.bot)
            ts_send(s, &c, type, 0, subject, payload, len);
}

static void relay(ts_server *s, ts_client *from, uint8_t type, const uint8_t *payload, int len)
{
    from->out_seq++;
    for (auto &c : s->clients)
        if (c.used && !c.bot && &c != from)
            ts_send(s, &c, type, from->out_seq, from->id, payload, len);
}

void ts_drop(ts_server *s, uint16_t id, uint8_t reason, const char *text)
{
    ts_client *c = ts_find(s, id);
    if (!c)
        return;
    uint8_t p[256];
    int n = net_build_reason(p, sizeof p, reason, text);
    ts_broadcast(s, NET_PLAYER_DROPPED, id, p, n);
    c->used = false;
}

void ts_send_role(ts_server *s, uint16_t id, uint32_t tag, uint32_t name_colour, const char *text)
{
    uint8_t p[300];
    ts_broadcast(s, NET_ROLE, id, p, net_build_role(p, sizeof p, tag, name_colour, text));
}

void ts_send_message(ts_server *s, const char *text)
{
    uint8_t p[300];
    ts_broadcast(s, NET_MESSAGE, 0, p, net_build_text(p, sizeof p, text));
}

void ts_send_time(ts_server *s, double seconds, float rate)
{
    uint8_t p[12];
    ts_broadcast(s, NET_TIME_OF_DAY, 0, p, net_build_time_of_day(p, sizeof p, seconds, rate));
}

void ts_send_weather(ts_server *s, uint8_t kind, uint8_t roll, float seconds)
{
    uint8_t p[6];
    ts_broadcast(s, NET_WEATHER, 0, p, net_build_weather(p, sizeof p, kind, roll, seconds));
}

void ts_send_owner(ts_server *s, uint16_t owner, int slot)
{
    uint8_t p[3];
    ts_broadcast(s, NET_TRAFFIC_OWNER, 0, p, net_build_owner(p, sizeof p, owner, slot));
}

void ts_send_job(ts_server *s, const server_job *job)
{
    uint8_t p[47];
    ts_broadcast(s, NET_JOB, 0, p, net_build_job(p, sizeof p, job));
}

void ts_send_job_removed(ts_server *s, uint32_t id)
{
    uint8_t p[4];
    ts_broadcast(s, NET_JOB_REMOVED, 0, p, net_build_u32(p, sizeof p, id));
}

void ts_send_challenge(ts_server *s, ts_client *c)
{
    for (int i = 0; i < 32; i++)
        c->challenge[i] = (uint8_t)(c->id * 31 + i * 7 + (int)(s->now * 10));
    c->challenged = true;
    c->auth_result = 0;
    ts_send(s, c, NET_AUTH_CHALLENGE, 0, c->id, c->challenge, 32);
}

static void on_hello(ts_server *s, ts_client *c, const sockaddr_in &from, const uint8_t *p, size_t n)
{
    uint32_t nonce;
    uint16_t proto;
    char name[33];
    if (s->hello_times < 64)
        s->last_hello_at[s->hello_times] = s->now;
    s->hello_times++;
    ts_client tmp = {};
    tmp.addr = from.sin_addr.s_addr;
    tmp.port = from.sin_port;
    uint8_t out[256];
    if (!net_parse_hello(p, n, &nonce, &proto, name)) {
        ts_send(s, &tmp, NET_REFUSED, 0, 0, out, net_build_reason(out, sizeof out, 3, nullptr));
        return;
    }
    if (s->refuse_reason >= 0) {
        ts_send(s, &tmp, NET_REFUSED, 0, 0, out,
                net_build_reason(out, sizeof out, (uint8_t)s->refuse_reason, s->refuse_text));
        return;
    }
    if (proto != NET_PROTOCOL_VERSION) {
        ts_send(s, &tmp, NET_REFUSED, 0, 0, out, net_build_reason(out, sizeof out, 1, nullptr));
        return;
    }
    if (!c) {
        for (auto &k : s->clients)
            if (k.used && !k.bot && k.nonce == nonce)
                c = &k; /* the same player from a new address (a core reload) */
    }
    bool fresh = !c;
    if (fresh) {
        int used = 0;
        for (auto &k : s->clients)
            used += k.used;
        for (auto &k : s->clients) {
            if (!k.used && used < s->max_players) {
                c = &k;
                break;
            }
        }
        if (!c) {
            ts_send(s, &tmp, NET_REFUSED, 0, 0, out, net_build_reason(out, sizeof out, 2, nullptr));
            return;
        }
        memset(c, 0, sizeof *c);
        c->used = true;
        c->id = s->next_id++;
        if (s->next_id == 0)
            s->next_id = 1;
    }
    c->addr = from.sin_addr.s_addr;
    c->port = from.sin_port;
    c->nonce = nonce;
    c->hellos++;
    snprintf(c->name, sizeof c->name, "%s", name);
    ts_send(s, c, NET_WELCOME, 0, s->welcome_id_zero ? 0 : c->id, nullptr, 0);
    if (!fresh) {
        // A rejoin by nonce (a core reload): the player's new roster hears of
        // every other player again; nobody else hears of a join.
        for (auto &k : s->clients) {
            if (!k.used || &k == c)
                continue;
            uint8_t kn[64];
            ts_send(s, c, NET_PLAYER_JOINED, 0, k.id, kn, net_build_name(kn, sizeof kn, k.name));
        }
        return;
    }
    int nn = net_build_name(out, sizeof out, c->name);
    for (auto &k : s->clients) {
        if (!k.used || &k == c)
            continue;
        ts_send(s, &k, NET_PLAYER_JOINED, 0, c->id, out, nn);
        uint8_t kn[64];
        ts_send(s, c, NET_PLAYER_JOINED, 0, k.id, kn, net_build_name(kn, sizeof kn, k.name));
    }
    if (s->send_challenge)
        ts_send_challenge(s, c);
    ts_props_on_join(s, c);
}

/* The server's own copy of the signed prefix, written out rather than taken
 * from the client, so a client signing anything else fails the check. */
static const char ts_auth_prefix[] = "drovemark-auth-v1";
#define TS_AUTH_PREFIX_LEN (sizeof ts_auth_prefix - 1)

static void on_auth_reply(ts_client *c, const uint8_t *p, size_t n)
{
    uint8_t pub[32], sig[64], msg[TS_AUTH_PREFIX_LEN + 32];
    if (!c->challenged || !net_parse_auth_reply(p, n, pub, sig)) {
        c->auth_result = -1;
        return;
    }
    memcpy(msg, ts_auth_prefix, TS_AUTH_PREFIX_LEN);
    memcpy(msg + TS_AUTH_PREFIX_LEN, c->challenge, 32);
    c->auth_result = crypto_eddsa_check(sig, pub, msg, sizeof msg) == 0 ? 1 : -1;
    memcpy(c->auth_pub, pub, 32);
}

static void on_time_report(ts_client *c, const uint8_t *p, size_t n)
{
    double seconds;
    float rate;
    if (!net_parse_time_of_day(p, n, &seconds, &rate))
        return;
    c->time_reports++;
    c->time_reported = seconds;
    c->rate_reported = rate;
}

void ts_world_set_time(ts_server *s, double seconds, float rate)
{
    s->world.has_time = true;
    s->world.time_base = seconds;
    s->world.time_epoch = s->now;
    s->world.rate = rate;
    s->world.next_send = 0;
}

void ts_world_set_weather(ts_server *s, uint8_t kind, uint8_t roll, float next_roll_in)
{
    s->world.has_weather = true;
    s->world.kind = kind;
    s->world.roll = roll;
    s->world.roll_at = s->now + next_roll_in;
    s->world.next_send = 0;
}

double ts_world_time(const ts_server *s, double now)
{
    return fmod(s->world.time_base + (now - s->world.time_epoch) * s->world.rate, 86400.0);
}

void ts_world_tick(ts_server *s, double now)
{
    ts_world *w = &s->world;
    if ((!w->has_time && !w->has_weather) || now < w->next_send)
        return;
    w->next_send = now + w->period;
    if (w->has_time)
        ts_send_time(s, ts_world_time(s, now), w->rate);
    if (w->has_weather)
        ts_send_weather(s, w->kind, w->roll, w->roll_at > now ? (float)(w->roll_at - now) : 0.0f);
}

// ---- traffic: the owner, what the players send, relays as a player

void ts_traffic_set_owner(ts_server *s, uint16_t owner, int slot)
{
    s->traffic.owner = owner;
    s->traffic.slot = slot;
    ts_send_owner(s, owner, slot);
}

static ts_traffic_car *traffic_car(ts_server *s, uint16_t sender, uint32_t net_id, bool make)
{
    ts_traffic &t = s->traffic;
    for (int i = 0; i < t.car_count; i++)
        if (t.cars[i].sender == sender && t.cars[i].net_id == net_id)
            return &t.cars[i];
    if (!make || t.car_count >= TS_TRAFFIC_CARS_MAX)
        return nullptr;
    ts_traffic_car *c = &t.cars[t.car_count++];
    memset(c, 0, sizeof *c);
    c->sender = sender;
    c->net_id = net_id;
    return c;
}

static void traffic_drop(ts_server *s, uint16_t sender, const uint32_t *ids, int count, bool all)
{
    ts_traffic &t = s->traffic;
    int kept = 0;
    for (int i = 0; i < t.car_count; i++) {
        bool gone = false;
        if (t.cars[i].sender == sender) {
            gone = all;
            for (int k = 0; k < count && !gone; k++)
                gone = ids[k] == t.cars[i].net_id;
        }
        if (!gone)
            t.cars[kept++] = t.cars[i];
    }
    t.car_count = kept;
}

static void on_traffic(ts_server *s, uint16_t sender, uint8_t type, const uint8_t *p, size_t n)
{
    ts_traffic &t = s->traffic;
    if (type == NET_TRAFFIC_DEFS) {
        static traffic_car_definition def;
        t.defs_in++;
        if (!net_parse_traffic_defs(p, n, &def))
            return;
        if (ts_traffic_car *c = traffic_car(s, sender, def.net_id, true)) {
            c->car_type = def.car_type;
            c->path_count = def.path_count;
            snprintf(c->first_path, sizeof c->first_path, "%s", def.path_count ? def.paths[0] : "");
        }
    } else if (type == NET_TRAFFIC_CARS) {
        static traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM];
        int count = 0;
        t.cars_in++;
        if (!net_parse_traffic_cars(p, n, &t.last_sender_ms, cars, &count))
            return;
        for (int i = 0; i < count; i++) {
            ts_traffic_car *c = traffic_car(s, sender, cars[i].net_id, false);
            if (!c)
                continue;
            c->has_state = true;
            memcpy(c->pos, cars[i].pos, sizeof c->pos);
            memcpy(c->rot, cars[i].rot, sizeof c->rot);
            c->speed = cars[i].speed;
            c->lights = cars[i].lights;
            c->states++;
        }
    } else if (type == NET_TRAFFIC_IDS) {
        static uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED];
        uint8_t flags;
        uint16_t count;
        t.ids_in++;
        if (!net_parse_traffic_ids(p, n, &flags, ids, &count))
            return;
        if (flags & 1)
            t.complete_lists++;
        else
            t.ids_removed += count;
        traffic_drop(s, sender, ids, count, flags & 1);
    }
}

void ts_traffic_send_as(ts_server *s, uint16_t from, uint8_t type, const uint8_t *payload, int len)
{
    ts_client *c = ts_find(s, from);
    if (!c)
        return;
    relay(s, c, type, payload, len);
}

const ts_traffic_car *ts_traffic_find(const ts_server *s, uint16_t sender, uint32_t net_id)
{
    return traffic_car((ts_server *)s, sender, net_id, false);
}

void ts_poll(ts_server *s, double now)
{
    s->now = now;
    for (int i = 0; i < 4096; i++) {
        uint8_t buf[2048];
        sockaddr_in from = {};
        int fl = sizeof from;
        int n = recvfrom((SOCKET)s->sock, (char *)buf, sizeof buf, 0, (sockaddr *)&from, &fl);
        if (n < 0) {
            int e = WSAGetLastError();
            if (e == WSAECONNRESET || e == WSAEMSGSIZE)
                continue;
            break;
        }
        net_header h;
        if (!net_read_header(buf, (size_t)n, &h))
            continue;
        s->datagrams++;
        s->by_type[h.type]++;
        s->last_seq_in = h.seq;
        s->last_type_in = h.type;
        const uint8_t *p = buf + NET_HEADER_SIZE;
        size_t pn = (size_t)n - NET_HEADER_SIZE;
        if (h.type != NET_KEEPALIVE) {
            memcpy(s->last_payload, p, pn);
            s->last_payload_len = (int)pn;
            s->last_payload_type = h.type;
        }
        if (h.type == NET_INFO_QUERY) {
            uint8_t out[128];
            int players = 0;
            for (auto &k : s->clients)
                players += k.used;
            uint32_t nonce = pn >= 4 ? net_get_u32(p) : 0;
            s->info_from_addr = from.sin_addr.s_addr;
            s->info_from_port = from.sin_port;
            s->info_nonce = nonce;
            if (s->info_ignore > 0) {
                s->info_ignore--;
                continue;
            }
            ts_client tmp = {};
            tmp.addr = from.sin_addr.s_addr;
            tmp.port = from.sin_port;
            ts_send(s, &tmp, NET_INFO_REPLY, 0, 0, out,
                    net_build_info_reply(out, sizeof out, nonce, s->protocol, (uint8_t)players, s->max_players,
                                         s->info_name));
            continue;
        }
        ts_client *c = nullptr;
        for (auto &k : s->clients)
            if (k.used && !k.bot && k.addr == from.sin_addr.s_addr && k.port == from.sin_port)
                c = &k;
        if (h.type == NET_HELLO) {
            on_hello(s, c, from, p, pn);
            continue;
        }
        if (!c)
            continue;
        c->last_seen = now;
        switch (h.type) {
        case NET_KEEPALIVE:
            // Nothing in the protocol answers a keep-alive; a repeated welcome
            // keeps the client's silence watch fed while nothing else flows.
            ts_send(s, c, NET_WELCOME, 0, c->id, nullptr, 0);
            break;
        case NET_LEAVE:
            ts_drop(s, c->id, 0, nullptr);
            break;
        case NET_STATE:
            c->states_in++;
            if (pn <= sizeof c->last_state) {
                memcpy(c->last_state, p, pn);
                c->last_state_len = (int)pn;
            }
            relay(s, c, h.type, p, (int)pn);
            break;
        case NET_TIME_OF_DAY:
            on_time_report(c, p, pn);
            relay(s, c, h.type, p, (int)pn);
            break;
        case NET_ACC_PART:
            c->acc_parts_in++;
            if (pn > 4 && p[4] < 2 && pn <= sizeof c->last_acc_part[0]) {
                memcpy(c->last_acc_part[p[4]], p, pn);
                c->last_acc_part_len[p[4]] = (int)pn;
            }
            relay(s, c, h.type, p, (int)pn);
            break;
        case NET_TRAFFIC_DEFS:
        case NET_TRAFFIC_CARS:
        case NET_TRAFFIC_IDS:
            on_traffic(s, c->id, h.type, p, pn);
            relay(s, c, h.type, p, (int)pn);
            break;
        case NET_PROP:
        case NET_PROP_REMOVED:
        case NET_PROP_LIST:
        case NET_LAYOUT_CMD:
            ts_props_on_datagram(s, c, h.type, p, pn);
            break;
        case NET_AUTH_REPLY:
            on_auth_reply(c, p, pn);
            break;
        default:
            break;
        }
    }
    for (auto &k : s->clients)
        if (k.used && !k.bot && k.last_seen > 0 && now - k.last_seen > s->client_timeout)
            ts_drop(s, k.id, 1, nullptr);
    ts_world_tick(s, now);
}

uint16_t ts_add_bot(ts_server *s, const char *name, double now)
{
    for (auto &k : s->clients) {
        if (k.used)
            continue;
        memset(&k, 0, sizeof k);
        k.used = true;
        k.bot = true;
        k.id = s->next_id++;
        snprintf(k.name, sizeof k.name, "%s", name);
        k.bot_phase = k.id * 0.7;
        uint8_t out[64];
        int n = net_build_name(out, sizeof out, k.name);
        for (auto &c : s->clients)
            if (c.used && !c.bot)
                ts_send(s, &c, NET_PLAYER_JOINED, 0, k.id, out, n);
        return k.id;
    }
    return 0;
}

/* A point on bot b's circle (40 m around x = 1000 + 100 id, z = -2000, 50 m
 * up), driven at 10 m/s: the angle at now, its pose. */
static double bot_angle(const ts_client &b, double now, double offset) { return b.bot_phase + offset + now * 10.0 / 40; }
static void circle_pose(const ts_client &b, double a, double pos[3], float rot[4])
{
    pos[0] = 1000 + b.id * 100 + 40 * cos(a);
    pos[1] = 50;
    pos[2] = -2000 + 40 * sin(a);
    double heading = -a; /* turning about y */
    rot[0] = (float)cos(heading / 2);
    rot[1] = 0;
    rot[2] = (float)sin(heading / 2);
    rot[3] = 0;
}

void ts_bots_traffic_tick(ts_server *s, double now, double *next_states, double *next_defs)
{
    static const char *const models[2] = { "/def/vehicle/ai/sedan/data.sii", "/def/vehicle/ai/van/data.sii" };
    // A definition goes with a state, so no car is known without a place.
    bool defs = now >= *next_defs, states = defs || now >= *next_states;
    if (states)
        *next_states = now + 0.1;
    if (defs)
        *next_defs = now + 5.0;
    for (auto &b : s->clients) {
        if (!b.used || !b.bot)
            continue;
        if (defs)
            for (int i = 0; i < 2; i++) {
                static traffic_car_definition def;
                memset(&def, 0, sizeof def);
                def.net_id = (uint32_t)(i + 1);
                def.car_type = (uint8_t)(i + 1);
                def.path_count = 1;
                snprintf(def.paths[0], sizeof def.paths[0], "%s", models[i]);
                uint8_t p[NET_TRAFFIC_DEFS_MAX];
                relay(s, &b, NET_TRAFFIC_DEFS, p, net_build_traffic_defs(p, sizeof p, &def));
            }
        if (states) {
            traffic_car_state cars[2] = {};
            for (int i = 0; i < 2; i++) {
                cars[i].net_id = (uint32_t)(i + 1);
                circle_pose(b, bot_angle(b, now, 3.14159265358979 * (i + 0.5)), cars[i].pos, cars[i].rot);
                cars[i].speed = 10;
                cars[i].lights = 0x1; /* low beams */
            }
            uint8_t p[5 + 30 * 2];
            relay(s, &b, NET_TRAFFIC_CARS, p, net_build_traffic_cars(p, sizeof p, (uint32_t)(uint64_t)(now * 1000), cars, 2));
        }
    }
}

void ts_bots_tick(ts_server *s, double now, double *next_state, double *next_lists)
{
    bool states = now >= *next_state, lists = now >= *next_lists;
    if (states)
        *next_state = now + 0.1;
    if (lists)
        *next_lists = now + 5.0;
    for (auto &b : s->clients) {
        if (!b.used || !b.bot)
            continue;
        if (states) {
            // A circle of 40 m at 10 m/s around a point per bot.
            double r = 40, w = 10.0 / r, a = bot_angle(b, now, 0);
            net_pose pose = {};
            pose.flags = 4;
            circle_pose(b, a, pose.pos, pose.rot);
            pose.vel[0] = (float)(-r * w * sin(a));
            pose.vel[2] = (float)(r * w * cos(a));
            pose.speed = 10;
            if (s->bot_trailer_path) {
                pose.has_trailer = 1;
                circle_pose(b, a - 8.0 / r, pose.trailer_pos, pose.trailer_rot);
            }
            if (s->bot_lights_on) {
                pose.has_lights = 1;
                pose.lights = s->bot_lights;
                if (s->bot_blink > 0 && fmod(now, 2 * s->bot_blink) < s->bot_blink)
                    pose.lights |= 0x40;
            }
            uint8_t p[128];
            int n = net_build_state(p, sizeof p, (uint32_t)(uint64_t)(now * 1000), &pose, 0);
            relay(s, &b, NET_STATE, p, n);
        }
        if (lists) {
            static const char *const truck[] = {"/def/vehicle/truck/demo.truck/chassis/4x2.sii",
                                                "/def/vehicle/truck/demo.truck/cabin/big.sii"};
            uint8_t p[600];
            uint32_t h = DM_FNV1A_BASIS;
            for (auto *e : truck)
                h = dm_fnv1a(h, e, strlen(e) + 1);
            net_put_u32(p, h);
            p[4] = 0;
            p[5] = 0;
            p[6] = 1;
            p[7] = 2;
            int at = 8;
            for (auto *e : truck) {
                int len = (int)strlen(e);
                p[at] = (uint8_t)len;
                memcpy(p + at + 1, e, (size_t)len);
                at += 1 + len;
            }
            relay(s, &b, NET_ACC_PART, p, at);
            uint8_t t[8 + 256] = {0xC5, 0x9D, 0x1C, 0x81, 1, 0, 1, 0}; /* empty trailer list */
            int t_len = 8;
            if (const char *e = s->bot_trailer_path) {
                int len = (int)strnlen(e, 255);
                net_put_u32(t, dm_fnv1a(DM_FNV1A_BASIS, e, (size_t)len + 1));
                t[7] = 1;
                t[8] = (uint8_t)len;
                memcpy(t + 9, e, (size_t)len);
                t_len = 9 + len;
            }
            relay(s, &b, NET_ACC_PART, t, t_len);
        }
    }
}

// Datagram header and payload codec of the UDP protocol.
//
// Index of this file:
// - Float fields
// - Header
// - Builders (client packets, then the server's)
// - Parsers
// - Reason texts and text cleaning
#include "net/net_wire.h"
#include <math.h>
#include <string.h>
#include "dm_utf8.h"

/* Float fields */

void net_put_f32(uint8_t *p, float v)
{
    uint32_t u;
    memcpy(&u, &v, 4);
    net_put_u32(p, u);
}
void net_put_f64(uint8_t *p, double v)
{
    uint64_t u;
    memcpy(&u, &v, 8);
    net_put_u64(p, u);
}
float net_get_f32(const uint8_t *p)
{
    uint32_t u = net_get_u32(p);
    float v;
    memcpy(&v, &u, 4);
    return v;
}
double net_get_f64(const uint8_t *p)
{
    uint64_t u = net_get_u64(p);
    double v;
    memcpy(&v, &u, 8);
    return v;
}

/* Header */

void net_write_header(uint8_t *buf, uint8_t type, uint32_t seq, uint16_t player)
{
    buf[0] = 'D';
    buf[1] = 'M';
    buf[2] = NET_WIRE_VERSION;
    buf[3] = type;
    net_put_u32(buf + 4, seq);
    net_put_u16(buf + 8, player);
    net_put_u16(buf + 10, 0);
}

bool net_read_header(const uint8_t *buf, size_t len, net_header *out)
{
    if (len < NET_HEADER_SIZE || buf[0] != 'D' || buf[1] != 'M' || buf[2] != NET_WIRE_VERSION)
        return false;
    out->type = buf[3];
    out->seq = net_get_u32(buf + 4);
    out->player = net_get_u16(buf + 8);
    return true;
}

/* Builders */

static size_t text_length_at_most(const char *text, size_t max)
{
    size_t n = 0;
    while (text && n < max && text[n])
        n++;
    return n;
}

/* Copies the len bytes that text_length_at_most measured; a null text has
 * none (memcpy must not be handed a null pointer even for no bytes). */
static void copy_text(uint8_t *to, const char *text, size_t len)
{
    if (len)
        memcpy(to, text, len);
}

int net_build_hello(uint8_t *p, int cap, uint32_t nonce, const char *name)
{
    size_t len = text_length_at_most(name, 33);
    if (len < 1 || len > 32 || cap < (int)(7 + len))
        return -1;
    net_put_u32(p, nonce);
    net_put_u16(p + 4, NET_PROTOCOL_VERSION);
    p[6] = (uint8_t)len;
    copy_text(p + 7, name, len);
    return (int)(7 + len);
}

int net_build_state(uint8_t *p, int cap, uint32_t sender_ms, const net_pose *pose, uint32_t acc_hash)
{
    int len = 73 + (pose->has_trailer ? 40 : 0) + (pose->has_lights ? 5 : 0);
    if (cap < len)
        return -1;
    uint8_t flags = (uint8_t)(pose->flags & ~(2 | 8));
    if (pose->has_trailer)
        flags |= 2;
    if (pose->has_lights)
        flags |= 8;
    net_put_u32(p, sender_ms);
    p[4] = flags;
    for (int i = 0; i < 3; i++)
        net_put_f64(p + 5 + 8 * i, pose->pos[i]);
    for (int i = 0; i < 4; i++)
        net_put_f32(p + 29 + 4 * i, pose->rot[i]);
    for (int i = 0; i < 3; i++)
        net_put_f32(p + 45 + 4 * i, pose->vel[i]);
    net_put_f32(p + 57, pose->steering);
    net_put_f32(p + 61, pose->speed);
    net_put_f32(p + 65, pose->rpm);
    net_put_u32(p + 69, acc_hash);
    int at = 73;
    if (pose->has_trailer) {
        for (int i = 0; i < 3; i++)
            net_put_f64(p + at + 8 * i, pose->trailer_pos[i]);
        for (int i = 0; i < 4; i++)
            net_put_f32(p + at + 24 + 4 * i, pose->trailer_rot[i]);
        at += 40;
    }
    if (pose->has_lights) {
        net_put_u32(p + at, pose->lights);
        p[at + 4] = pose->horns;
    }
    return len;
}

int net_build_prop(uint8_t *p, int cap, const prop_state *prop)
{
    size_t len = text_length_at_most(prop->model, NET_PROP_PATH_MAX);
    bool attach = prop->attach_part != 0;
    int total = (int)(62 + len + (attach ? 32 : 0));
    if (len == 0 || cap < total)
        return -1;
    net_put_u32(p, prop->server_id);
    for (int i = 0; i < 3; i++)
        net_put_f64(p + 4 + 8 * i, prop->pos[i]);
    for (int i = 0; i < 4; i++)
        net_put_f32(p + 28 + 4 * i, prop->rot[i]);
    net_put_u64(p + 44, prop->look);
    net_put_u64(p + 52, prop->variant);
    p[60] = (uint8_t)(((prop->light_mode & 7) << 1) | (attach ? 1 : 0));
    p[61] = (uint8_t)len;
    memcpy(p + 62, prop->model, len);
    if (attach) {
        uint8_t *block = p + 62 + len;
        net_put_u16(block, prop->attach_player);
        block[2] = prop->attach_part;
        block[3] = 0;
        for (int i = 0; i < 3; i++)
            net_put_f32(block + 4 + 4 * i, prop->attach_offset[i]);
        for (int i = 0; i < 4; i++)
            net_put_f32(block + 16 + 4 * i, prop->attach_rot[i]);
    }
    return total;
}

int net_build_u32(uint8_t *p, int cap, uint32_t v)
{
    if (cap < 4)
        return -1;
    net_put_u32(p, v);
    return 4;
}

int net_build_layout_cmd(uint8_t *p, int cap, uint8_t op, const char *name)
{
    size_t len = text_length_at_most(name, 32);
    if (cap < (int)(2 + len))
        return -1;
    p[0] = op;
    p[1] = (uint8_t)len;
    if (len)
        copy_text(p + 2, name, len);
    return (int)(2 + len);
}

int net_build_traffic_defs(uint8_t *p, int cap, const traffic_car_definition *def)
{
    if (def->net_id == 0 || def->path_count > NET_TRAFFIC_PATHS_MAX)
        return -1;
    size_t total = 6;
    for (uint32_t i = 0; i < def->path_count; i++)
        total += 1 + text_length_at_most(def->paths[i], NET_TRAFFIC_PATH_MAX);
    if (total > NET_TRAFFIC_DEFS_MAX || (int)total > cap)
        return -1;
    net_put_u32(p, def->net_id);
    p[4] = def->car_type;
    p[5] = (uint8_t)def->path_count;
    size_t at = 6;
    for (uint32_t i = 0; i < def->path_count; i++) {
        size_t len = text_length_at_most(def->paths[i], NET_TRAFFIC_PATH_MAX);
        p[at] = (uint8_t)len;
        memcpy(p + at + 1, def->paths[i], len);
        at += 1 + len;
    }
    return (int)total;
}

int net_build_traffic_ids(uint8_t *p, int cap, const uint32_t *ids, int count, uint8_t flags)
{
    if (count < 0 || count > NET_TRAFFIC_IDS_ACCEPTED || cap < 3 + 4 * count)
        return -1;
    p[0] = flags;
    net_put_u16(p + 1, (uint16_t)count);
    for (int i = 0; i < count; i++)
        net_put_u32(p + 3 + 4 * i, ids[i]);
    return 3 + 4 * count;
}

static int16_t quat_component_to_i16(float v)
{
    if (!(v >= -1.0f))
        v = v > 0 ? 1.0f : -1.0f; /* NaN and below -1 */
    if (v > 1.0f)
        v = 1.0f;
    return (int16_t)lrintf(v * 32767.0f);
}

static int32_t metres_to_centimetres(double v)
{
    double cm = floor(v * 100.0 + 0.5);
    if (!(cm >= -2147483648.0))
        cm = -2147483648.0;
    if (cm > 2147483647.0)
        cm = 2147483647.0;
    return (int32_t)cm;
}

int net_build_traffic_cars(uint8_t *p, int cap, uint32_t sender_ms, const traffic_car_state *cars, int count)
{
    if (count < 0 || count > NET_TRAFFIC_CARS_PER_DATAGRAM || cap < 5 + 30 * count)
        return -1;
    net_put_u32(p, sender_ms);
    p[4] = (uint8_t)count;
    for (int i = 0; i < count; i++) {
        uint8_t *record = p + 5 + 30 * i;
        const traffic_car_state *car = &cars[i];
        net_put_u32(record, car->net_id);
        for (int k = 0; k < 3; k++)
            net_put_u32(record + 4 + 4 * k, (uint32_t)metres_to_centimetres(car->pos[k]));
        for (int k = 0; k < 4; k++)
            net_put_u16(record + 16 + 2 * k, (uint16_t)quat_component_to_i16(car->rot[k]));
        double speed_cm = floor((double)car->speed * 100.0 + 0.5);
        if (!(speed_cm >= 0))
            speed_cm = 0;
        if (speed_cm > 65535)
            speed_cm = 65535;
        net_put_u16(record + 24, (uint16_t)speed_cm);
        net_put_u32(record + 26, car->lights);
    }
    return 5 + 30 * count;
}

int net_build_time_of_day(uint8_t *p, int cap, double seconds, float rate)
{
    if (cap < 12)
        return -1;
    net_put_f64(p, seconds);
    net_put_f32(p + 8, rate);
    return 12;
}

int net_build_auth_reply(uint8_t *p, int cap, const uint8_t pub[32], const uint8_t sig[64])
{
    if (cap < 96)
        return -1;
    memcpy(p, pub, 32);
    memcpy(p + 32, sig, 64);
    return 96;
}

void net_build_info_query(uint8_t out[16], uint32_t nonce)
{
    net_write_header(out, NET_INFO_QUERY, 0, 0);
    net_put_u32(out + 12, nonce);
}

int net_build_reason(uint8_t *p, int cap, uint8_t reason, const char *text)
{
    if (reason != 4 && reason != 5) {
        if (cap < 1)
            return -1;
        p[0] = reason;
        return 1;
    }
    size_t len = text_length_at_most(text, NET_TEXT_MAX);
    if (cap < (int)(2 + len))
        return -1;
    p[0] = reason;
    p[1] = (uint8_t)len;
    copy_text(p + 2, text, len);
    return (int)(2 + len);
}

int net_build_name(uint8_t *p, int cap, const char *name)
{
    size_t len = text_length_at_most(name, 255);
    if (cap < (int)(1 + len))
        return -1;
    p[0] = (uint8_t)len;
    copy_text(p + 1, name, len);
    return (int)(1 + len);
}

int net_build_text(uint8_t *p, int cap, const char *text) { return net_build_name(p, cap, text); }

int net_build_role(uint8_t *p, int cap, uint32_t tag_colour, uint32_t name_colour, const char *text)
{
    size_t len = text_length_at_most(text, 255);
    if (cap < (int)(9 + len))
        return -1;
    net_put_u32(p, tag_colour);
    net_put_u32(p + 4, name_colour);
    p[8] = (uint8_t)len;
    copy_text(p + 9, text, len);
    return (int)(9 + len);
}

int net_build_weather(uint8_t *p, int cap, uint8_t kind, uint8_t roll_id, float seconds)
{
    if (cap < 6)
        return -1;
    p[0] = kind;
    p[1] = roll_id;
    net_put_f32(p + 2, seconds);
    return 6;
}

int net_build_owner(uint8_t *p, int cap, uint16_t owner, int slot)
{
    int len = slot < 0 ? 2 : 3;
    if (cap < len)
        return -1;
    net_put_u16(p, owner);
    if (slot >= 0)
        p[2] = (uint8_t)slot;
    return len;
}

int net_build_job(uint8_t *p, int cap, const server_job *job)
{
    if (cap < 47)
        return -1;
    net_put_u32(p, job->id);
    net_put_u64(p + 4, job->source_company);
    net_put_u64(p + 12, job->source_city);
    net_put_u64(p + 20, job->target_company);
    net_put_u64(p + 28, job->target_city);
    net_put_u64(p + 36, job->cargo);
    net_put_u16(p + 44, job->hours);
    p[46] = job->urgency;
    return 47;
}

int net_build_prop_list(uint8_t *p, int cap, const uint32_t *ids, int count)
{
    if (count < 0 || count > NET_PROP_IDS_MAX || cap < 2 + 4 * count)
        return -1;
    net_put_u16(p, (uint16_t)count);
    for (int i = 0; i < count; i++)
        net_put_u32(p + 2 + 4 * i, ids[i]);
    return 2 + 4 * count;
}

int net_build_info_reply(uint8_t *p, int cap, uint32_t nonce, uint16_t protocol, uint8_t players,
                         uint8_t max_players, const char *name)
{
    size_t len = text_length_at_most(name, 255);
    if (cap < (int)(9 + len))
        return -1;
    net_put_u32(p, nonce);
    net_put_u16(p + 4, protocol);
    p[6] = players;
    p[7] = max_players;
    p[8] = (uint8_t)len;
    copy_text(p + 9, name, len);
    return (int)(9 + len);
}

/* Parsers */

/* A peer's floats must be finite before they reach the game: a NaN or an
 * infinity in a pose would be handed on to placement and physics. */
static bool all_finite_f64(const double *v, int count)
{
    for (int i = 0; i < count; i++)
        if (!isfinite(v[i]))
            return false;
    return true;
}
static bool all_finite_f32(const float *v, int count)
{
    for (int i = 0; i < count; i++)
        if (!isfinite(v[i]))
            return false;
    return true;
}

bool net_parse_hello(const uint8_t *p, size_t n, uint32_t *nonce, uint16_t *protocol, char name[33])
{
    if (n < 7)
        return false;
    size_t len = p[6];
    if (len < 1 || len > 32 || n < 7 + len)
        return false;
    *nonce = net_get_u32(p);
    *protocol = net_get_u16(p + 4);
    memcpy(name, p + 7, len);
    name[len] = 0;
    return true;
}

bool net_parse_reason(const uint8_t *p, size_t n, uint8_t *reason, char text[NET_TEXT_MAX + 1],
                      bool *has_text)
{
    *reason = n >= 1 ? p[0] : 0;
    *has_text = false;
    text[0] = 0;
    if ((*reason == 4 || *reason == 5) && n >= 2) {
        size_t len = p[1];
        if (len <= NET_TEXT_MAX && n >= 2 + len) {
            memcpy(text, p + 2, len);
            text[len] = 0;
            *has_text = true;
        }
    }
    return true;
}

bool net_parse_joined(const uint8_t *p, size_t n, char name[33])
{
    if (n < 1)
        return false;
    size_t len = p[0];
    if (len > n - 1)
        len = n - 1;
    // at most 32 bytes, cut at a whole character as every stored name is
    len = dm_utf8_cut((const char *)p + 1, len, 32);
    memcpy(name, p + 1, len);
    name[len] = 0;
    return true;
}

bool net_parse_state(const uint8_t *p, size_t n, uint32_t *sender_ms, net_pose *pose, uint32_t *acc_hash)
{
    if (n < 73)
        return false;
    memset(pose, 0, sizeof *pose);
    *sender_ms = net_get_u32(p);
    pose->flags = p[4];
    for (int i = 0; i < 3; i++)
        pose->pos[i] = net_get_f64(p + 5 + 8 * i);
    for (int i = 0; i < 4; i++)
        pose->rot[i] = net_get_f32(p + 29 + 4 * i);
    for (int i = 0; i < 3; i++)
        pose->vel[i] = net_get_f32(p + 45 + 4 * i);
    pose->steering = net_get_f32(p + 57);
    pose->speed = net_get_f32(p + 61);
    pose->rpm = net_get_f32(p + 65);
    *acc_hash = net_get_u32(p + 69);
    size_t lights_at = 73;
    if ((pose->flags & 2) && n >= 113) {
        pose->has_trailer = 1;
        for (int i = 0; i < 3; i++)
            pose->trailer_pos[i] = net_get_f64(p + 73 + 8 * i);
        for (int i = 0; i < 4; i++)
            pose->trailer_rot[i] = net_get_f32(p + 97 + 4 * i);
        lights_at = 113;
    }
    if ((pose->flags & 8) && n >= lights_at + 5) {
        pose->has_lights = 1;
        pose->lights = net_get_u32(p + lights_at);
        pose->horns = p[lights_at + 4];
    }
    return all_finite_f64(pose->pos, 3) && all_finite_f32(pose->rot, 4) && all_finite_f32(pose->vel, 3) &&
           isfinite(pose->steering) && isfinite(pose->speed) && isfinite(pose->rpm) &&
           all_finite_f64(pose->trailer_pos, 3) && all_finite_f32(pose->trailer_rot, 4);
}

bool net_parse_acc_part_head(const uint8_t *p, size_t n, net_acc_part_head *out)
{
    if (n < 8)
        return false;
    out->hash = net_get_u32(p);
    out->list = p[4];
    out->index = p[5];
    out->count = p[6];
    out->entries = p[7];
    return out->list <= 1 && out->count >= 1 && out->count <= 32 && out->index < out->count;
}

int net_acc_part_span(const uint8_t *p, size_t n, int entries)
{
    size_t at = 8;
    for (int i = 0; i < entries; i++) {
        if (at + 1 > n || at + 1 + p[at] > n)
            return -1;
        at += 1 + p[at];
    }
    return (int)(at - 8);
}

bool net_parse_time_of_day(const uint8_t *p, size_t n, double *seconds, float *rate)
{
    if (n < 12)
        return false;
    double s = net_get_f64(p);
    float r = net_get_f32(p + 8);
    if (!(s >= 0 && s < 86400) || !(r > 0 && r <= 1000))
        return false;
    *seconds = s;
    *rate = r;
    return true;
}

bool net_parse_weather(const uint8_t *p, size_t n, uint8_t *kind, uint8_t *roll_id, float *seconds)
{
    if (n < 6 || p[0] > 1)
        return false;
    float until_roll = net_get_f32(p + 2);
    if (!isfinite(until_roll))
        return false;
    *kind = p[0];
    *roll_id = p[1];
    *seconds = until_roll;
    return true;
}

bool net_parse_prop(const uint8_t *p, size_t n, uint16_t owner, prop_state *out)
{
    if (n < 62)
        return false;
    uint32_t id = net_get_u32(p);
    size_t len = p[61];
    if (id == 0 || len < 1 || len > NET_PROP_PATH_MAX || 62 + len > n)
        return false;
    memset(out, 0, sizeof *out);
    out->server_id = id;
    out->owner = owner;
    for (int i = 0; i < 3; i++)
        out->pos[i] = net_get_f64(p + 4 + 8 * i);
    for (int i = 0; i < 4; i++)
        out->rot[i] = net_get_f32(p + 28 + 4 * i);
    out->look = net_get_u64(p + 44);
    out->variant = net_get_u64(p + 52);
    out->light_mode = (uint8_t)((p[60] >> 1) & 7);
    memcpy(out->model, p + 62, len);
    out->model[len] = 0;
    const uint8_t *block = p + 62 + len;
    if ((p[60] & 1) && 62 + len + 32 <= n && block[2] >= 1 && block[2] <= 3) {
        out->attach_player = net_get_u16(block);
        out->attach_part = block[2];
        for (int i = 0; i < 3; i++)
            out->attach_offset[i] = net_get_f32(block + 4 + 4 * i);
        for (int i = 0; i < 4; i++)
            out->attach_rot[i] = net_get_f32(block + 16 + 4 * i);
    }
    /* The floats go on as they came, finite or not: the props handler
     * refuses a prop it cannot place with a line that names it. */
    return true;
}

bool net_parse_u32(const uint8_t *p, size_t n, uint32_t *v)
{
    if (n < 4)
        return false;
    *v = net_get_u32(p);
    return true;
}

bool net_parse_prop_list(const uint8_t *p, size_t n, uint32_t ids[NET_PROP_IDS_MAX], uint16_t *count)
{
    if (n < 2)
        return false;
    uint16_t id_count = net_get_u16(p);
    if (id_count > NET_PROP_IDS_MAX || n < 2 + 4 * (size_t)id_count)
        return false;
    for (int i = 0; i < id_count; i++)
        ids[i] = net_get_u32(p + 2 + 4 * i);
    *count = id_count;
    return true;
}

bool net_parse_layout_cmd(const uint8_t *p, size_t n, uint8_t *op, char name[33])
{
    if (n < 2 || p[1] > 32 || n < 2 + (size_t)p[1])
        return false;
    *op = p[0];
    memcpy(name, p + 2, p[1]);
    name[p[1]] = 0;
    return true;
}

bool net_parse_message(const uint8_t *p, size_t n, char text[NET_TEXT_MAX + 1])
{
    if (n < 1 || p[0] > NET_TEXT_MAX || n < 1 + (size_t)p[0])
        return false;
    memcpy(text, p + 1, p[0]);
    text[p[0]] = 0;
    return true;
}

bool net_parse_traffic_defs(const uint8_t *p, size_t n, traffic_car_definition *out)
{
    if (n < 6)
        return false;
    uint32_t id = net_get_u32(p);
    uint8_t path_count = p[5];
    if (id == 0 || path_count > NET_TRAFFIC_PATHS_MAX)
        return false;
    memset(out, 0, sizeof *out);
    out->net_id = id;
    out->car_type = p[4];
    out->path_count = path_count;
    size_t at = 6;
    for (int i = 0; i < path_count; i++) {
        if (at + 1 > n)
            return false;
        size_t len = p[at];
        if (len > NET_TRAFFIC_PATH_MAX || at + 1 + len > n)
            return false;
        memcpy(out->paths[i], p + at + 1, len);
        out->paths[i][len] = 0;
        at += 1 + len;
    }
    return true;
}

bool net_parse_traffic_cars(const uint8_t *p, size_t n, uint32_t *sender_ms,
                            traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM], int *count)
{
    if (n < 5)
        return false;
    int car_count = p[4];
    if (car_count > NET_TRAFFIC_CARS_PER_DATAGRAM || n < 5 + 30 * (size_t)car_count)
        return false;
    *sender_ms = net_get_u32(p);
    for (int i = 0; i < car_count; i++) {
        const uint8_t *record = p + 5 + 30 * i;
        traffic_car_state *car = &cars[i];
        memset(car, 0, sizeof *car);
        car->net_id = net_get_u32(record);
        for (int k = 0; k < 3; k++)
            car->pos[k] = (int32_t)net_get_u32(record + 4 + 4 * k) / 100.0;
        for (int k = 0; k < 4; k++)
            car->rot[k] = (float)((int16_t)net_get_u16(record + 16 + 2 * k) / 32767.0);
        car->speed = (float)(net_get_u16(record + 24) / 100.0);
        car->lights = net_get_u32(record + 26);
    }
    *count = car_count;
    return true;
}

bool net_parse_traffic_ids(const uint8_t *p, size_t n, uint8_t *flags,
                           uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED], uint16_t *count)
{
    if (n < 3)
        return false;
    uint16_t id_count = net_get_u16(p + 1);
    if (id_count > NET_TRAFFIC_IDS_ACCEPTED || n < 3 + 4 * (size_t)id_count)
        return false;
    *flags = p[0];
    for (int i = 0; i < id_count; i++)
        ids[i] = net_get_u32(p + 3 + 4 * i);
    *count = id_count;
    return true;
}

bool net_parse_owner(const uint8_t *p, size_t n, uint16_t *owner, uint32_t *slot)
{
    if (n < 2)
        return false;
    *owner = net_get_u16(p);
    *slot = n >= 3 ? p[2] : 0xFFFFFFFFu;
    return true;
}

bool net_parse_job(const uint8_t *p, size_t n, server_job *out)
{
    if (n < 47)
        return false;
    memset(out, 0, sizeof *out);
    out->id = net_get_u32(p);
    out->source_company = net_get_u64(p + 4);
    out->source_city = net_get_u64(p + 12);
    out->target_company = net_get_u64(p + 20);
    out->target_city = net_get_u64(p + 28);
    out->cargo = net_get_u64(p + 36);
    out->hours = net_get_u16(p + 44);
    out->urgency = p[46];
    return true;
}

bool net_parse_role(const uint8_t *p, size_t n, uint32_t *tag_colour, uint32_t *name_colour,
                    char text[NET_ROLE_MAX + 1])
{
    if (n < 9)
        return false;
    *tag_colour = net_get_u32(p);
    *name_colour = net_get_u32(p + 4);
    size_t len = p[8];
    if (len > NET_ROLE_MAX)
        len = NET_ROLE_MAX;
    if (len > n - 9)
        len = n - 9;
    memcpy(text, p + 9, len);
    text[len] = 0;
    return true;
}

bool net_parse_auth_reply(const uint8_t *p, size_t n, uint8_t pub[32], uint8_t sig[64])
{
    if (n != 96)
        return false;
    memcpy(pub, p, 32);
    memcpy(sig, p + 32, 64);
    return true;
}

bool net_parse_info_reply(const uint8_t *d, size_t len, uint32_t *nonce, uint16_t *protocol,
                          uint8_t *players, uint8_t *max_players, char name[256])
{
    net_header h;
    if (!net_read_header(d, len, &h) || h.type != NET_INFO_REPLY || len < 21)
        return false;
    const uint8_t *p = d + NET_HEADER_SIZE;
    *nonce = net_get_u32(p);
    *protocol = net_get_u16(p + 4);
    *players = p[6];
    *max_players = p[7];
    size_t name_len = p[8];
    if (name_len > len - 21)
        name_len = len - 21;
    memcpy(name, p + 9, name_len);
    name[name_len] = 0;
    return true;
}

/* Reason texts and text cleaning */

const char *net_refusal_text(uint8_t reason)
{
    static const char *const texts[] = {"?", "protocol version", "server full", "bad name", "banned",
                                        "kicked (rejoin later)"};
    return reason <= 5 ? texts[reason] : "?";
}

const char *net_drop_text(uint8_t reason)
{
    static const char *const texts[] = {"left", "timeout", "replaced", "server shutdown", "kicked", "banned"};
    return reason <= 5 ? texts[reason] : "?";
}

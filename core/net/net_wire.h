/* The UDP protocol's datagram header and payload layouts: builders and
 * checked parsers for every packet type. Little-endian, no padding. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "net/net_records.h"

#define NET_HEADER_SIZE 12
#define NET_WIRE_VERSION 1
#define NET_PROTOCOL_VERSION 1
#define NET_RECV_BUFFER 2048
#define NET_ACC_DATAGRAM_MAX 1200
#define NET_TRAFFIC_DEFS_MAX 1188
#define NET_TRAFFIC_CARS_PER_DATAGRAM 39
#define NET_TRAFFIC_IDS_PER_DATAGRAM 296
#define NET_TRAFFIC_IDS_ACCEPTED 297
#define NET_PROP_IDS_MAX 256
#define NET_TEXT_MAX 200
#define NET_ROLE_MAX 24

enum net_packet_type {
    NET_HELLO = 1, NET_WELCOME = 2, NET_REFUSED = 3, NET_LEAVE = 4, NET_KEEPALIVE = 5,
    NET_PLAYER_JOINED = 6, NET_PLAYER_DROPPED = 7, NET_INFO_QUERY = 8, NET_INFO_REPLY = 9,
    NET_STATE = 16, NET_ACC_PART = 17, NET_TIME_OF_DAY = 18, NET_WEATHER = 19,
    NET_PROP = 20, NET_PROP_REMOVED = 21, NET_PROP_LIST = 22, NET_LAYOUT_CMD = 23,
    NET_MESSAGE = 24, NET_TRAFFIC_DEFS = 25, NET_TRAFFIC_CARS = 26, NET_TRAFFIC_IDS = 27,
    NET_TRAFFIC_OWNER = 28, NET_JOB = 48, NET_JOB_REMOVED = 49, NET_AUTH_CHALLENGE = 64,
    NET_AUTH_REPLY = 65, NET_ROLE = 66,
};

typedef struct net_header {
    uint8_t type;
    uint32_t seq;
    uint16_t player;
} net_header;

/* little-endian field access */
static inline void net_put_u16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v; p[1] = (uint8_t)(v >> 8); }
static inline void net_put_u32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}
static inline void net_put_u64(uint8_t *p, uint64_t v)
{
    for (int i = 0; i < 8; i++)
        p[i] = (uint8_t)(v >> (8 * i));
}
static inline uint16_t net_get_u16(const uint8_t *p) { return (uint16_t)(p[0] | (p[1] << 8)); }
static inline uint32_t net_get_u32(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
static inline uint64_t net_get_u64(const uint8_t *p)
{
    return (uint64_t)net_get_u32(p) | ((uint64_t)net_get_u32(p + 4) << 32);
}
void net_put_f32(uint8_t *p, float v);
void net_put_f64(uint8_t *p, double v);
float net_get_f32(const uint8_t *p);
double net_get_f64(const uint8_t *p);

/* Header: writes 12 bytes. */
void net_write_header(uint8_t *buf, uint8_t type, uint32_t seq, uint16_t player);
/* false when shorter than 12 bytes, or magic or version wrong. */
bool net_read_header(const uint8_t *buf, size_t len, net_header *out);

/* Builders write a payload at p (room for cap bytes) and return its length,
 * or -1 when the values are out of range or it does not fit. */
int net_build_hello(uint8_t *p, int cap, uint32_t nonce, const char *name);
int net_build_state(uint8_t *p, int cap, uint32_t sender_ms, const net_pose *pose, uint32_t acc_hash);
int net_build_prop(uint8_t *p, int cap, const prop_state *prop);
int net_build_u32(uint8_t *p, int cap, uint32_t v); /* types 21, 49 */
int net_build_layout_cmd(uint8_t *p, int cap, uint8_t op, const char *name);
int net_build_traffic_defs(uint8_t *p, int cap, const traffic_car_definition *def);
int net_build_traffic_ids(uint8_t *p, int cap, const uint32_t *ids, int count, uint8_t flags);
int net_build_traffic_cars(uint8_t *p, int cap, uint32_t sender_ms, const traffic_car_state *cars, int count);
int net_build_time_of_day(uint8_t *p, int cap, double seconds, float rate);
int net_build_auth_reply(uint8_t *p, int cap, const uint8_t pub[32], const uint8_t sig[64]);
/* The whole 16-byte info query datagram. */
void net_build_info_query(uint8_t out[16], uint32_t nonce);
/* server side */
int net_build_reason(uint8_t *p, int cap, uint8_t reason, const char *text); /* types 3, 7 */
int net_build_name(uint8_t *p, int cap, const char *name);                   /* type 6 */
int net_build_text(uint8_t *p, int cap, const char *text);                   /* type 24 */
int net_build_role(uint8_t *p, int cap, uint32_t tag_colour, uint32_t name_colour, const char *text);
int net_build_weather(uint8_t *p, int cap, uint8_t kind, uint8_t roll_id, float seconds);
int net_build_owner(uint8_t *p, int cap, uint16_t owner, int slot); /* slot < 0: omitted */
int net_build_job(uint8_t *p, int cap, const server_job *job);
int net_build_prop_list(uint8_t *p, int cap, const uint32_t *ids, int count);
int net_build_info_reply(uint8_t *p, int cap, uint32_t nonce, uint16_t protocol, uint8_t players,
                         uint8_t max_players, const char *name);

/* Parsers: false when the payload fails the type's length and range checks.
 * A state with a float that is not finite, and weather whose seconds are not
 * finite, fail like a malformed packet. A server prop's floats are handed on
 * as they came: its handler checks them and says why it refuses one. */
bool net_parse_hello(const uint8_t *p, size_t n, uint32_t *nonce, uint16_t *protocol, char name[33]);
/* Types 3 and 7: reason (0 when absent); text only for 4 and 5 when it fits. */
bool net_parse_reason(const uint8_t *p, size_t n, uint8_t *reason, char text[NET_TEXT_MAX + 1],
                      bool *has_text);
bool net_parse_joined(const uint8_t *p, size_t n, char name[33]);
bool net_parse_state(const uint8_t *p, size_t n, uint32_t *sender_ms, net_pose *pose, uint32_t *acc_hash);
typedef struct net_acc_part_head {
    uint32_t hash;
    uint8_t list, index, count, entries;
} net_acc_part_head;
bool net_parse_acc_part_head(const uint8_t *p, size_t n, net_acc_part_head *out);
/* Walks the announced entries from offset 8; returns the bytes they take
 * (from offset 8), or -1 when fewer entries fit than announced. */
int net_acc_part_span(const uint8_t *p, size_t n, int entries);
bool net_parse_time_of_day(const uint8_t *p, size_t n, double *seconds, float *rate);
bool net_parse_weather(const uint8_t *p, size_t n, uint8_t *kind, uint8_t *roll_id, float *seconds);
bool net_parse_prop(const uint8_t *p, size_t n, uint16_t owner, prop_state *out);
bool net_parse_u32(const uint8_t *p, size_t n, uint32_t *v);
bool net_parse_prop_list(const uint8_t *p, size_t n, uint32_t ids[NET_PROP_IDS_MAX], uint16_t *count);
bool net_parse_layout_cmd(const uint8_t *p, size_t n, uint8_t *op, char name[33]);
bool net_parse_message(const uint8_t *p, size_t n, char text[NET_TEXT_MAX + 1]);
bool net_parse_traffic_defs(const uint8_t *p, size_t n, traffic_car_definition *out);
bool net_parse_traffic_cars(const uint8_t *p, size_t n, uint32_t *sender_ms,
                            traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM], int *count);
bool net_parse_traffic_ids(const uint8_t *p, size_t n, uint8_t *flags,
                           uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED], uint16_t *count);
/* slot: 0xFFFFFFFF when the optional byte is absent */
bool net_parse_owner(const uint8_t *p, size_t n, uint16_t *owner, uint32_t *slot);
bool net_parse_job(const uint8_t *p, size_t n, server_job *out);
bool net_parse_role(const uint8_t *p, size_t n, uint32_t *tag_colour, uint32_t *name_colour,
                    char text[NET_ROLE_MAX + 1]);
bool net_parse_auth_reply(const uint8_t *p, size_t n, uint8_t pub[32], uint8_t sig[64]);
/* The whole datagram: at least 21 bytes, header type 9. Name cut to what it holds. */
bool net_parse_info_reply(const uint8_t *d, size_t len, uint32_t *nonce, uint16_t *protocol,
                          uint8_t *players, uint8_t *max_players, char name[256]);

/* Reason texts of types 3 and 7 ("?" above 5). */
const char *net_refusal_text(uint8_t reason);
const char *net_drop_text(uint8_t reason);


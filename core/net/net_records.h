/* The records the network client exchanges with the vehicles and the world
 * features: poses, props, traffic cars, jobs, the kick notice and the saved
 * connection. Plain data; no windows.h. */
#pragma once
#include <stdint.h>

/* One vehicle's pose as sent and sampled. */
typedef struct net_pose {
    uint8_t flags;       /* 4 driving, 5 paused; on the wire OR 2 (trailer) OR 8 (lights) */
    uint8_t has_trailer; /* trailer_pos/trailer_rot are valid */
    uint8_t has_lights;  /* lights/horns came with the state */
    uint8_t horns;       /* horn bits */
    uint32_t lights;     /* light bits */
    double pos[3];       /* world x, y, z in metres */
    float rot[4];        /* quaternion w, x, y, z */
    float vel[3];        /* m/s */
    float steering;
    float speed;         /* m/s */
    float rpm;
    double trailer_pos[3];
    float trailer_rot[4];
} net_pose;

#define NET_PROP_PATH_MAX 160
/* A server prop (type 20). model holds up to 160 bytes plus its terminator. */
typedef struct prop_state {
    uint32_t server_id;  /* 0 in a create request */
    uint16_t owner;      /* the placing player, filled on receipt */
    double pos[3];
    float rot[4];
    uint64_t look;       /* token */
    uint64_t variant;    /* token */
    char model[NET_PROP_PATH_MAX + 1];
    uint8_t reserved;
    uint8_t attach_part;     /* 0 none, 1 truck, 2 cabin, 3 trailer */
    uint16_t attach_player;  /* 0 = the sender's own vehicle */
    float attach_offset[3];  /* right, up, back */
    float attach_rot[4];     /* relative quaternion w, x, y, z */
    uint8_t light_mode;      /* 0..6 */
} prop_state;

#define NET_TRAFFIC_PATHS_MAX 8
#define NET_TRAFFIC_PATH_MAX 160
typedef struct traffic_car_definition {
    uint32_t net_id;
    uint8_t car_type;
    uint32_t path_count; /* at most 8 */
    char paths[NET_TRAFFIC_PATHS_MAX][NET_TRAFFIC_PATH_MAX + 1];
} traffic_car_definition;

typedef struct traffic_car_state {
    uint32_t net_id;
    double pos[3];  /* metres */
    float rot[4];   /* w, x, y, z */
    float speed;    /* m/s */
    uint32_t lights;
} traffic_car_state;

typedef struct server_job {
    uint32_t id;
    uint64_t source_company, source_city, target_company, target_city, cargo; /* tokens */
    uint16_t hours;
    uint8_t urgency;
} server_job;

/* The last kick or ban; kind 4 kicked, 5 banned. */
typedef struct net_kick_record {
    uint8_t kind;
    uint32_t notice;   /* one more than the previous notice; the first is 1 */
    double time;       /* seconds, the client's clock */
    char text[208];    /* the server's text, at most 200 bytes */
} net_kick_record;

/* The connection values kept across a core reload. */
typedef struct net_connection {
    char host[64];
    uint16_t port;
    char name[33];
    uint32_t nonce;
} net_connection;

typedef struct net_interp_stats {
    uint64_t samples;
    uint64_t extrapolations;
    uint64_t long_extrapolations; /* beyond 0.5 s */
    uint64_t snaps;
    double delay_sum;             /* seconds */
} net_interp_stats;

/* Handler tables of the world features; run inside net_tick. */
typedef struct net_prop_handlers {
    void (*on_prop)(const prop_state *prop);
    void (*on_removed)(uint32_t server_id); /* 0 = every prop */
    void (*on_list)(const uint32_t *ids, uint16_t count);
} net_prop_handlers;

typedef struct net_job_handlers {
    void (*on_job)(const server_job *job);
    void (*on_removed)(uint32_t job_id);
} net_job_handlers;

typedef struct net_traffic_handlers {
    void (*on_definition)(uint16_t sender, const traffic_car_definition *def);
    void (*on_cars)(uint16_t sender, uint32_t sender_ms, const traffic_car_state *cars, int count);
    void (*on_ids)(uint16_t sender, const uint32_t *ids, uint16_t count, uint8_t flags);
} net_traffic_handlers;

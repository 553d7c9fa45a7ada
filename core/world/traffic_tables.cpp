// The pure part of traffic sync (see traffic_tables.h).
//
// Index of this file:
//   modes          server slot, mode in effect, mode texts
//   sent cars      find, free slot, speed samples, net ids, definitions,
//                  distances
//   remote cars    checks of received records, define, state, remove, age
#include "world/traffic_tables.h"
#include <math.h>
#include <string.h>

/* ---- modes ---- */

int32_t traffic_server_mode(uint32_t slot)
{
    return slot == 1 ? TRAFFIC_MODE_OFF : slot == 0 ? TRAFFIC_MODE_LOCAL : TRAFFIC_MODE_NONE;
}

int32_t traffic_mode_in_effect(int32_t config, int32_t command, int32_t server)
{
    if (server == TRAFFIC_MODE_OFF)
        return TRAFFIC_MODE_OFF;
    return command != TRAFFIC_MODE_NONE ? command : config;
}

const char *traffic_mode_text(int32_t mode)
{
    return mode == TRAFFIC_MODE_OFF ? "off" : mode == TRAFFIC_MODE_LOCAL ? "local" : "-";
}

/* ---- sent cars ---- */

int traffic_sent_find(const traffic_sent_car *table, uint64_t car, uint32_t car_id)
{
    for (int i = 0; i < TRAFFIC_SENT_MAX; i++)
        if (table[i].used && table[i].car == car && table[i].car_id == car_id)
            return i;
    return -1;
}

int traffic_sent_free_slot(const traffic_sent_car *table)
{
    for (int i = 0; i < TRAFFIC_SENT_MAX; i++)
        if (!table[i].used)
            return i;
    return -1;
}

int traffic_sent_used(const traffic_sent_car *table)
{
    int n = 0;
    for (int i = 0; i < TRAFFIC_SENT_MAX; i++)
        n += table[i].used ? 1 : 0;
    return n;
}

void traffic_sent_sample(traffic_sent_car *car, const double pos[3], double now)
{
    double dt = now - car->sample_time;
    if (!(dt > TRAFFIC_SPEED_MIN_DT))
        return;
    double dx = pos[0] - car->pos[0], dy = pos[1] - car->pos[1], dz = pos[2] - car->pos[2];
    double speed = sqrt(dx * dx + dy * dy + dz * dz) / dt;
    if (speed <= TRAFFIC_SPEED_MAX)
        car->speed = (float)speed;
    memcpy(car->pos, pos, sizeof car->pos);
    car->sample_time = now;
}

uint32_t traffic_take_net_id(uint32_t *next)
{
    if (*next == 0)
        *next = 1;
    uint32_t id = (*next)++;
    if (*next == 0)
        *next = 1;
    return id;
}

void traffic_definition_make(traffic_car_definition *out, uint32_t net_id, uint32_t car_type,
                             const char (*paths)[NET_TRAFFIC_PATH_MAX + 1], int count)
{
    memset(out, 0, sizeof *out);
    out->net_id = net_id;
    out->car_type = (uint8_t)car_type;
    if (count < 0)
        count = 0;
    if (count > NET_TRAFFIC_PATHS_MAX)
        count = NET_TRAFFIC_PATHS_MAX;
    out->path_count = (uint32_t)count;
    for (int i = 0; i < count; i++)
        memcpy(out->paths[i], paths[i], strnlen(paths[i], NET_TRAFFIC_PATH_MAX));
}

double traffic_horizontal_distance(const double a[3], double x, double z)
{
    double dx = a[0] - x, dz = a[2] - z;
    return sqrt(dx * dx + dz * dz);
}

double traffic_nearest(const double pos[3], const double (*points)[3], int count)
{
    double best = TRAFFIC_NO_DISTANCE;
    for (int i = 0; i < count; i++) {
        double d = traffic_horizontal_distance(pos, points[i][0], points[i][2]);
        if (d < best)
            best = d;
    }
    return best;
}

/* ---- remote cars ---- */

bool traffic_definition_valid(const traffic_car_definition *def)
{
    if (def->path_count > NET_TRAFFIC_PATHS_MAX)
        return false;
    for (uint32_t i = 0; i < def->path_count; i++)
        if (!memchr(def->paths[i], 0, sizeof def->paths[i]))
            return false;
    return true;
}

bool traffic_state_valid(const traffic_car_state *state)
{
    for (int k = 0; k < 3; k++)
        if (!isfinite(state->pos[k]))
            return false;
    for (int k = 0; k < 4; k++)
        if (!isfinite(state->rot[k]))
            return false;
    return isfinite(state->speed);
}

int traffic_remote_find(const traffic_remote_car *table, uint16_t sender, uint32_t net_id)
{
    for (int i = 0; i < TRAFFIC_REMOTE_MAX; i++)
        if (table[i].used && table[i].sender == sender && table[i].net_id == net_id)
            return i;
    return -1;
}

int traffic_remote_used(const traffic_remote_car *table)
{
    int n = 0;
    for (int i = 0; i < TRAFFIC_REMOTE_MAX; i++)
        n += table[i].used ? 1 : 0;
    return n;
}

int traffic_remote_define(traffic_remote_car *table, uint16_t sender, const traffic_car_definition *def,
                          double now, bool *is_new)
{
    *is_new = false;
    int at = traffic_remote_find(table, sender, def->net_id);
    if (at < 0) {
        for (int i = 0; i < TRAFFIC_REMOTE_MAX && at < 0; i++)
            if (!table[i].used)
                at = i;
        if (at < 0)
            return -1;
        memset(&table[at], 0, sizeof table[at]);
        table[at].used = 1;
        table[at].sender = sender;
        table[at].net_id = def->net_id;
        table[at].last_time = now; /* only a new slot: states keep a car alive */
        *is_new = true;
    }
    traffic_remote_car &car = table[at];
    car.car_type = def->car_type;
    car.path_count = def->path_count;
    car.first_path[0] = 0;
    if (def->path_count > 0) {
        size_t len = strnlen(def->paths[0], NET_TRAFFIC_PATH_MAX);
        memcpy(car.first_path, def->paths[0], len);
        car.first_path[len] = 0;
    }
    return at;
}

bool traffic_remote_state(traffic_remote_car *table, uint16_t sender, const traffic_car_state *state, double now)
{
    int at = traffic_remote_find(table, sender, state->net_id);
    if (at < 0)
        return false;
    traffic_remote_car &car = table[at];
    memcpy(car.pos, state->pos, sizeof car.pos);
    memcpy(car.rot, state->rot, sizeof car.rot);
    car.speed = state->speed;
    car.lights = state->lights;
    car.last_time = now;
    car.has_state = 1;
    return true;
}

int traffic_remote_remove(traffic_remote_car *table, uint16_t sender, const uint32_t *ids, int count,
                          bool complete)
{
    int freed = 0;
    for (int i = 0; i < TRAFFIC_REMOTE_MAX; i++) {
        traffic_remote_car &car = table[i];
        if (!car.used || car.sender != sender)
            continue;
        bool listed = complete;
        for (int k = 0; k < count && !listed; k++)
            listed = ids[k] == car.net_id;
        if (listed) {
            car.used = 0;
            freed++;
        }
    }
    return freed;
}

int traffic_remote_age(traffic_remote_car *table, double now, double x, double z, int *live, double *nearest)
{
    int freed = 0;
    *live = 0;
    *nearest = TRAFFIC_NO_DISTANCE;
    for (int i = 0; i < TRAFFIC_REMOTE_MAX; i++) {
        traffic_remote_car &car = table[i];
        if (!car.used)
            continue;
        if (now - car.last_time > TRAFFIC_REMOTE_TIMEOUT) {
            car.used = 0;
            freed++;
            continue;
        }
        (*live)++;
        if (car.has_state) {
            double d = traffic_horizontal_distance(car.pos, x, z);
            if (d < *nearest)
                *nearest = d;
        }
    }
    return freed;
}

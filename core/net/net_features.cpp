// The feature channels: the world-sync features (props, traffic, jobs,
// weather, clock) share the connection without the client knowing what
// their packets mean. Each feature registers a table of handlers that the
// dispatch calls with a record built from the packet; typed senders build
// their payloads; the values the client keeps itself (time of day, weather,
// traffic owner and slot) are read through getters.
//
// Index:
//   registration   the handler tables
//   receivers      packets of the features, by type
//   senders        typed senders (sent only while joined)
//   getters        the values the client keeps
#include "net/net_client_state.h"
#include <string.h>

// ---------------------------------------------------------------- registration

void net_set_prop_handlers(const net_prop_handlers *table)
{
    net_client.features.props = table ? *table : net_prop_handlers{};
}

void net_set_job_handlers(const net_job_handlers *table)
{
    net_client.features.jobs = table ? *table : net_job_handlers{};
}

void net_set_traffic_handlers(const net_traffic_handlers *table)
{
    net_client.features.traffic = table ? *table : net_traffic_handlers{};
}

// ---------------------------------------------------------------- receivers

namespace {

void on_time_of_day(const uint8_t *p, size_t n, double now)
{
    net_feature_state &f = net_client.features;
    double seconds;
    float rate;
    if (!net_parse_time_of_day(p, n, &seconds, &rate))
        return;
    if (!f.time_of_day_received)
        net_log_server("[net] server time of day %02d:%02d (rate %.2f)", (int)(seconds / 3600),
                       (int)(seconds / 60) % 60, rate);
    f.time_of_day_seconds = seconds;
    f.time_of_day_rate = rate;
    f.time_of_day_received_at = now;
    f.time_of_day_received = true;
}

void on_weather(const uint8_t *p, size_t n)
{
    net_feature_state &f = net_client.features;
    uint8_t kind, roll;
    float seconds;
    if (!net_parse_weather(p, n, &kind, &roll, &seconds))
        return;
    if (!f.weather_received || roll != f.weather_payload[1])
        net_log_server("[net] server weather: %s (next roll in %.0f s)", kind ? "bad" : "normal", seconds);
    memcpy(f.weather_payload, p, sizeof f.weather_payload);
    f.weather_received = true;
}

void on_traffic_owner(const uint8_t *p, size_t n)
{
    net_feature_state &f = net_client.features;
    uint16_t owner;
    uint32_t slot;
    if (!net_parse_owner(p, n, &owner, &slot))
        return;
    if (owner != f.traffic_owner) {
        if (owner == 0)
            net_log_server("[net] traffic owner: none");
        else
            net_log_server("[net] traffic owner: player %u%s", owner, owner == net_client.our_id ? " (us)" : "");
    }
    f.traffic_owner = owner;
    f.traffic_slot = slot;
}

} // namespace

void net_features_on_datagram(const net_header &h, const uint8_t *p, size_t n, double now)
{
    net_feature_state &f = net_client.features;
    switch (h.type) {
    case NET_TIME_OF_DAY:
        on_time_of_day(p, n, now);
        return;
    case NET_WEATHER:
        on_weather(p, n);
        return;
    case NET_TRAFFIC_OWNER:
        on_traffic_owner(p, n);
        return;
    case NET_PROP: {
        prop_state prop;
        if (f.props.on_prop && net_parse_prop(p, n, h.player, &prop))
            f.props.on_prop(&prop);
        return;
    }
    case NET_PROP_REMOVED: {
        uint32_t id;
        if (f.props.on_removed && net_parse_u32(p, n, &id))
            f.props.on_removed(id);
        return;
    }
    case NET_PROP_LIST: {
        static uint32_t ids[NET_PROP_IDS_MAX];
        uint16_t count;
        if (f.props.on_list && net_parse_prop_list(p, n, ids, &count))
            f.props.on_list(ids, count);
        return;
    }
    case NET_JOB: {
        server_job job;
        if (f.jobs.on_job && net_parse_job(p, n, &job))
            f.jobs.on_job(&job);
        return;
    }
    case NET_JOB_REMOVED: {
        uint32_t id;
        if (f.jobs.on_removed && net_parse_u32(p, n, &id))
            f.jobs.on_removed(id);
        return;
    }
    case NET_TRAFFIC_DEFS: {
        static traffic_car_definition definition;
        if (f.traffic.on_definition && net_parse_traffic_defs(p, n, &definition))
            f.traffic.on_definition(h.player, &definition);
        return;
    }
    case NET_TRAFFIC_CARS: {
        static traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM];
        uint32_t sender_ms;
        int count;
        if (f.traffic.on_cars && net_parse_traffic_cars(p, n, &sender_ms, cars, &count))
            f.traffic.on_cars(h.player, sender_ms, cars, count);
        return;
    }
    case NET_TRAFFIC_IDS: {
        static uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED];
        uint8_t flags;
        uint16_t count;
        if (f.traffic.on_ids && net_parse_traffic_ids(p, n, &flags, ids, &count))
            f.traffic.on_ids(h.player, ids, count, flags);
        return;
    }
    default:
        return;
    }
}

void net_features_forget_received()
{
    net_client.features.time_of_day_received = false;
    net_client.features.weather_received = false;
}

// ---------------------------------------------------------------- senders

bool net_send_prop(const prop_state *prop)
{
    if (!net_is_joined() || !prop)
        return false;
    uint8_t p[300];
    int n = net_build_prop(p, sizeof p, prop);
    if (n < 0)
        return false;
    net_send_datagram(NET_PROP, p, n);
    return true;
}

bool net_send_prop_remove(uint32_t id)
{
    if (!net_is_joined())
        return false;
    uint8_t p[4];
    net_send_datagram(NET_PROP_REMOVED, p, net_build_u32(p, 4, id));
    return true;
}

bool net_send_layout_cmd(uint8_t operation, const char *name)
{
    if (!net_is_joined())
        return false;
    uint8_t p[40];
    net_send_datagram(NET_LAYOUT_CMD, p, net_build_layout_cmd(p, sizeof p, operation, name));
    return true;
}

bool net_send_traffic_defs(const traffic_car_definition *definition)
{
    if (!net_is_joined() || !definition)
        return false;
    uint8_t p[NET_TRAFFIC_DEFS_MAX];
    int n = net_build_traffic_defs(p, sizeof p, definition);
    if (n < 0)
        return false;
    net_send_datagram(NET_TRAFFIC_DEFS, p, n);
    return true;
}

bool net_send_traffic_ids(const uint32_t *ids, int count, uint8_t complete)
{
    if (!net_is_joined() || count < 0 || (count > 0 && !ids))
        return false;
    uint8_t p[3 + 4 * NET_TRAFFIC_IDS_PER_DATAGRAM];
    if (complete) { // a complete list is one datagram
        int n = count < NET_TRAFFIC_IDS_PER_DATAGRAM ? count : NET_TRAFFIC_IDS_PER_DATAGRAM;
        net_send_datagram(NET_TRAFFIC_IDS, p, net_build_traffic_ids(p, sizeof p, ids, n, 1));
        return true;
    }
    for (int at = 0; at < count; at += NET_TRAFFIC_IDS_PER_DATAGRAM) {
        int n = count - at < NET_TRAFFIC_IDS_PER_DATAGRAM ? count - at : NET_TRAFFIC_IDS_PER_DATAGRAM;
        net_send_datagram(NET_TRAFFIC_IDS, p, net_build_traffic_ids(p, sizeof p, ids + at, n, 0));
    }
    return true;
}

bool net_send_traffic_cars(uint32_t sender_ms, const traffic_car_state *cars, int64_t count)
{
    if (!net_is_joined())
        return false;
    if (count < 1)
        return true;
    if (!cars)
        return false;
    uint8_t p[5 + 30 * NET_TRAFFIC_CARS_PER_DATAGRAM];
    for (int64_t at = 0; at < count; at += NET_TRAFFIC_CARS_PER_DATAGRAM) {
        int n = (int)(count - at < NET_TRAFFIC_CARS_PER_DATAGRAM ? count - at : NET_TRAFFIC_CARS_PER_DATAGRAM);
        net_send_datagram(NET_TRAFFIC_CARS, p, net_build_traffic_cars(p, sizeof p, sender_ms, cars + at, n));
    }
    return true;
}

bool net_send_time_of_day(double seconds, float rate)
{
    if (!net_is_joined())
        return false;
    uint8_t p[12];
    net_send_datagram(NET_TIME_OF_DAY, p, net_build_time_of_day(p, sizeof p, seconds, rate));
    return true;
}

// ---------------------------------------------------------------- getters

bool net_server_time(double *seconds, float *rate, double *received_at)
{
    const net_feature_state &f = net_client.features;
    if (!f.time_of_day_received)
        return false;
    if (seconds)
        *seconds = f.time_of_day_seconds;
    if (rate)
        *rate = f.time_of_day_rate;
    if (received_at)
        *received_at = f.time_of_day_received_at;
    return true;
}

bool net_server_weather(uint8_t *kind, uint8_t *roll_id, float *seconds)
{
    const net_feature_state &f = net_client.features;
    if (!f.weather_received)
        return false;
    if (kind)
        *kind = f.weather_payload[0];
    if (roll_id)
        *roll_id = f.weather_payload[1];
    if (seconds)
        *seconds = net_get_f32(f.weather_payload + 2);
    return true;
}

uint16_t net_traffic_owner() { return net_is_joined() ? net_client.features.traffic_owner : 0; }
uint32_t net_traffic_slot() { return net_is_joined() ? net_client.features.traffic_slot : NET_NO_TRAFFIC_SLOT; }

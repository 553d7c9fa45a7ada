// drovemark_testserver: the test server on 127.0.0.1 for the demo.
//   drovemark_testserver [port] [bots] [seconds] [leave] [servers.json] [traffic]
// The bots leave after leave seconds when it is given (0: never). With a
// servers.json file it also serves that file over HTTP on 127.0.0.1 (any
// free port, printed) as /servers.json ("-": none). With traffic 1 the first
// real player to join is named the traffic owner (with the local traffic
// setting, named again every 2 s so a player that joins late hears it) and
// the bots send AI cars of their own.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/dm_token.h"
#include "http_server.h"
#include "net/net_records.h"
#include "testserver.h"

/* One server job for the demo (gravel from Berlin's quarry to the farm at
 * Hamburg), pushed every two seconds from the fourth on: the same id again
 * only updates it, so a client that joins late still gets it. */
namespace {

// The file's bytes, alive while the HTTP server runs; false when unreadable.
bool serve_list(hs_server *http, const char *path)
{
    static char body[65536];
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    size_t n = fread(body, 1, sizeof body, f);
    fclose(f);
    hs_route_add(http, "/servers.json", 200, HS_ANSWER, body, n);
    return hs_start(http);
}

} // namespace

static void push_demo_job(ts_server *s, double now, double *next)
{
    if (now < *next)
        return;
    *next = now + 2;
    server_job job = {};
    job.id = 1;
    token_from_text("quarry", &job.source_company);
    token_from_text("berlin", &job.source_city);
    token_from_text("farm", &job.target_company);
    token_from_text("hamburg", &job.target_city);
    token_from_text("gravel", &job.cargo);
    job.hours = 48;
    job.urgency = 1;
    ts_send_job(s, &job);
}

static void name_traffic_owner(ts_server *s, double now, double *next)
{
    if (now < *next)
        return;
    *next = now + 2;
    uint16_t owner = s->traffic.owner;
    if (owner && !ts_find(s, owner))
        owner = 0; /* the owner left: the next real player takes over */
    for (auto &c : s->clients)
        if (!owner && c.used && !c.bot)
            owner = c.id;
    if (!owner)
        return;
    if (owner != s->traffic.owner)
        printf("testserver: player %u is the traffic owner\n", (unsigned)owner);
    fflush(stdout);
    ts_traffic_set_owner(s, owner, 0);
}

int main(int argc, char **argv)
{
    int port = argc > 1 ? atoi(argv[1]) : 42870;
    int bots = argc > 2 ? atoi(argv[2]) : 3;
    double limit = argc > 3 ? atof(argv[3]) : 0;
    double leave = argc > 4 ? atof(argv[4]) : 0;
    static ts_server s;
    if (port < 1 || port > 65535 || !ts_start(&s, (uint16_t)port)) {
        fprintf(stderr, "testserver: can't listen on 127.0.0.1:%d\n", port);
        return 1;
    }
    // The shared world: half past six in the morning at the game's own pace,
    // and bad weather (roll 1) for half an hour.
    ts_world_set_time(&s, 6 * 3600 + 30 * 60, 1.0f);
    ts_world_set_weather(&s, 1, 1, 1800.0f);
    printf("testserver: listening on 127.0.0.1:%u with %d bots; time 06:30, weather bad\n", s.port, bots);
    static hs_server http;
    bool list = argc > 5 && strcmp(argv[5], "-") != 0;
    bool traffic = argc > 6 && atoi(argv[6]) != 0;
    if (list) {
        if (!serve_list(&http, argv[5])) {
            fprintf(stderr, "testserver: can't serve %s\n", argv[5]);
            return 1;
        }
        printf("testserver: server list at http://127.0.0.1:%u/servers.json\n", http.port);
    }
    fflush(stdout);
    LARGE_INTEGER f, t0, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t0);
    char name[33];
    for (int i = 0; i < bots && i < 16; i++) {
        snprintf(name, sizeof name, "bot %d", i + 1);
        ts_add_bot(&s, name, 0);
    }
    double next_state = 0, next_lists = 0, next_job = 4, next_owner = 0, next_cars = 0, next_defs = 0;
    for (;;) {
        QueryPerformanceCounter(&t);
        double now = (double)(t.QuadPart - t0.QuadPart) / (double)f.QuadPart;
        if (limit > 0 && now > limit)
            break;
        ts_poll(&s, now);
        if (leave > 0 && now > leave) {
            leave = 0;
            for (auto &c : s.clients)
                if (c.used && c.bot) {
                    printf("testserver: %s leaves\n", c.name);
                    ts_drop(&s, c.id, 0, nullptr);
                }
            fflush(stdout);
        }
        ts_bots_tick(&s, now, &next_state, &next_lists);
        if (traffic) {
            name_traffic_owner(&s, now, &next_owner);
            ts_bots_traffic_tick(&s, now, &next_cars, &next_defs);
        }
        push_demo_job(&s, now, &next_job);
        Sleep(5);
    }
    ts_stop(&s);
    if (list)
        hs_stop(&http);
    return 0;
}

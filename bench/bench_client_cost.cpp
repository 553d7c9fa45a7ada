// Client cost: what the network client takes from a frame with a full
// server. The client joins the test server on 127.0.0.1; the server socket
// then carries 64 remote players, each sending a state at 10 Hz: their
// phases spread over the interval, as players send them, for both
// interpolation modes; then all 64 at once, as a server that relays the
// states in its tick sends them (mode 1). Per 60 Hz frame we time net_tick
// plus sampling every remote player and print the median and 99th
// percentile in microseconds, and count the client's receive calls (calls
// per frame: one per datagram and one that finds the socket empty). A
// second pass hands the same datagrams to the client through its
// injectable receive function, which leaves out the socket's per-datagram
// cost (large under Wine; the call that finds the socket empty stays).
// Loopback only; the clock is driven here, the loops are bounded.
#include <winsock2.h>
#include <windows.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "bench_stats.h"
#include "net/net.h"
#include "net/net_internal.h"
#include "net/net_win.h"
#include "net/net_wire.h"
#include "testserver.h"

namespace {

constexpr int players = 64;
constexpr uint16_t first_id = 1001; /* well away from the ids the server hands out */
constexpr double frame_dt = 1.0 / 60.0;
constexpr double send_interval = 0.1;
constexpr int warmup_frames = 300;   /* 5 s: join, rings full, estimates settled */
constexpr int measured_frames = 3600; /* 60 s per mode */

ts_server srv;
double now = 100.0;
uint32_t seqs[players];
double next_send[players];
uint64_t sent_total;

/* The injected path: datagrams queued here are what recvfrom returns next;
 * with the queue empty the real socket is read. */
constexpr int queue_max = 256;
struct queued {
    uint8_t data[160];
    int len;
};
queued queue[queue_max];
int queue_head, queue_count;
bool injecting;
sockaddr_in server_addr;
uint64_t recv_calls; /* the client's, both passes */

int counted_recv(uintptr_t sock, char *buf, int len, void *from, int *fromlen, int *error)
{
    recv_calls++;
    if (!injecting || queue_count == 0) {
        int n = recvfrom((SOCKET)sock, buf, len, 0, (sockaddr *)from, fromlen);
        *error = n < 0 ? WSAGetLastError() : 0;
        return n;
    }
    const queued &q = queue[queue_head];
    queue_head = (queue_head + 1) % queue_max;
    queue_count--;
    int n = q.len < len ? q.len : len;
    memcpy(buf, q.data, (size_t)n);
    memcpy(from, &server_addr, sizeof server_addr);
    *fromlen = sizeof server_addr;
    *error = 0;
    return n;
}

void deliver(ts_client *me, uint32_t seq, uint16_t id, const uint8_t *p, int n)
{
    if (!injecting) {
        ts_send(&srv, me, NET_STATE, seq, id, p, n);
        return;
    }
    if (queue_count == queue_max || NET_HEADER_SIZE + n > (int)sizeof queue[0].data)
        return;
    queued &q = queue[(queue_head + queue_count) % queue_max];
    net_write_header(q.data, NET_STATE, seq, id);
    memcpy(q.data + NET_HEADER_SIZE, p, (size_t)n);
    q.len = NET_HEADER_SIZE + n;
    queue_count++;
}

LARGE_INTEGER qpc_freq;
double micros(const LARGE_INTEGER &a, const LARGE_INTEGER &b)
{
    return (double)(b.QuadPart - a.QuadPart) * 1e6 / (double)qpc_freq.QuadPart;
}

void log_nothing(const char *, ...) {}

/* The next send of every player: spread over one interval, or all at once
 * (the server's tick) from the next frame on. */
void set_phases(bool one_tick)
{
    for (int i = 0; i < players; i++)
        next_send[i] = now + frame_dt + (one_tick ? 0 : send_interval * i / players);
}

/* Each player drives its own circle; any plausible motion will do here. */
void send_states(ts_client *me)
{
    for (int i = 0; i < players; i++) {
        if (now < next_send[i])
            continue;
        double t = next_send[i];
        next_send[i] += send_interval;
        double r = 30 + i, w = 12.0 / r, a = i * 0.37 + t * w;
        net_pose pose = {};
        pose.flags = 4;
        pose.pos[0] = 800 + i * 90 + r * cos(a);
        pose.pos[1] = 40;
        pose.pos[2] = -1500 + r * sin(a);
        pose.rot[0] = (float)cos(-a / 2);
        pose.rot[2] = (float)sin(-a / 2);
        pose.vel[0] = (float)(-r * w * sin(a));
        pose.vel[2] = (float)(r * w * cos(a));
        pose.speed = 12;
        pose.rpm = 1300;
        uint8_t p[128];
        /* sender clocks differ per player */
        int n = net_build_state(p, sizeof p, (uint32_t)llround((t + 1000.0 * i) * 1000.0), &pose, 0);
        if (n > 0) {
            deliver(me, ++seqs[i], (uint16_t)(first_id + i), p, n);
            sent_total++;
        }
    }
}

uint64_t states_received()
{
    uint64_t n = 0;
    for (const net_player &p : net_roster)
        if (p.used)
            n += p.states;
    return n;
}

double tick_us[measured_frames], sample_us[measured_frames], total_us[measured_frames];

/* One frame: the server's datagrams go out, then the timed client work. */
bool frame(ts_client *me, bool measure, int index)
{
    now += frame_dt;
    send_states(me);
    Sleep(1); /* let loopback deliver before the frame reads it */
    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    net_tick(now);
    QueryPerformanceCounter(&t1);
    uint16_t ids[NET_MAX_PLAYERS];
    int n = net_list_players(ids, NET_MAX_PLAYERS);
    net_pose pose;
    int sampled = 0;
    for (int i = 0; i < n; i++)
        sampled += net_sample_player(ids[i], now, &pose);
    QueryPerformanceCounter(&t2);
    ts_poll(&srv, now); /* keep-alives, so the server keeps us */
    if (measure) {
        tick_us[index] = micros(t0, t1);
        sample_us[index] = micros(t1, t2);
        total_us[index] = micros(t0, t2);
    }
    return sampled == players;
}

void report(const char *path, const char *arrival, int mode, int full_frames, uint64_t received, uint64_t sent,
            uint64_t calls)
{
    bench_sort(tick_us, measured_frames);
    bench_sort(sample_us, measured_frames);
    bench_sort(total_us, measured_frames);
    printf("%-8s %-7s %4d  %8.1f %8.1f  %8.1f %8.1f  %8.1f %8.1f %8.1f  %5d/%-5d %6.2f %6.2f  %6llu/%-6llu\n",
           path, arrival, mode, bench_percentile(tick_us, measured_frames, 0.5),
           bench_percentile(tick_us, measured_frames, 0.99),
           bench_percentile(sample_us, measured_frames, 0.5), bench_percentile(sample_us, measured_frames, 0.99),
           bench_percentile(total_us, measured_frames, 0.5), bench_percentile(total_us, measured_frames, 0.99),
           total_us[measured_frames - 1], full_frames, measured_frames, (double)received / measured_frames,
           (double)calls / measured_frames, (unsigned long long)received, (unsigned long long)sent);
}

} // namespace

int main()
{
    QueryPerformanceFrequency(&qpc_freq);
    net_reset_for_tests();
    net_set_log(log_nothing);
    if (!ts_start(&srv, 0)) {
        printf("client cost: the test server can't listen on 127.0.0.1\n");
        return 1;
    }
    srv.send_challenge = false;
    if (!net_connect("127.0.0.1", srv.port, "bench", 0, now)) {
        printf("client cost: net_connect failed\n");
        ts_stop(&srv);
        return 1;
    }
    ts_client *me = nullptr;
    for (int i = 0; i < 600 && !(me && net_our_player_id() != 0); i++) {
        now += frame_dt;
        Sleep(1);
        ts_poll(&srv, now);
        Sleep(1);
        net_tick(now);
        me = ts_find_name(&srv, "bench");
    }
    if (!me || net_our_player_id() == 0) {
        printf("client cost: no welcome from the test server\n");
        net_shutdown();
        ts_stop(&srv);
        return 1;
    }
    /* the remote players arrive */
    for (int i = 0; i < players; i++) {
        char name[33];
        snprintf(name, sizeof name, "driver %02d", i + 1);
        uint8_t p[64];
        int n = net_build_name(p, sizeof p, name);
        ts_send(&srv, me, NET_PLAYER_JOINED, 0, (uint16_t)(first_id + i), p, n);
    }
    printf("client cost: net_tick + sampling %d remote players, each sending states at 10 Hz over 127.0.0.1\n",
           players);
    printf("60 Hz frames, %d measured per mode after %d warm-up frames; times in microseconds per frame\n\n",
           measured_frames, warmup_frames);
    printf("path     arrival mode  net_tick          sampling          tick + sampling            frames       "
           "states  calls  states\n");
    printf("                       median      p99  median      p99  median      p99      max  with all %d  "
           "/frame /frame  recv/sent\n", players);
    server_addr.sin_family = AF_INET;
    server_addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server_addr.sin_port = htons(srv.port);
    net_set_recv_fn(counted_recv);
    const struct {
        bool one_tick;
        int mode;
    } runs[] = { { false, 1 }, { false, 2 }, { true, 1 } };
    for (int pass = 0; pass < 2; pass++) {
        injecting = pass == 1;
        for (const auto &run : runs) {
            net_set_interp_mode(run.mode);
            set_phases(run.one_tick);
            for (int f = 0; f < warmup_frames; f++)
                frame(me, false, 0);
            uint64_t r0 = states_received(), s0 = sent_total, c0 = recv_calls;
            int full = 0;
            for (int f = 0; f < measured_frames; f++)
                full += frame(me, true, f);
            report(injecting ? "injected" : "loopback", run.one_tick ? "tick" : "spread", run.mode, full,
                   states_received() - r0, sent_total - s0, recv_calls - c0);
        }
    }
    net_set_recv_fn(nullptr);
    net_disconnect(true);
    net_shutdown();
    ts_stop(&srv);
    return 0;
}

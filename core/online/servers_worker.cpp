// The server-list worker thread: loads the favourites, fetches the list when
// it is due or asked for, merges, and asks every listed server for its state
// with the protocol's info query on a UDP socket of its own, measuring the
// round trip. It runs on a timetable only while the Servers window is drawn
// and otherwise sleeps on an auto-reset event that the UI signals.
//
// The worker is a service worker (service_worker.h): the stop never waits
// out a blocking name lookup or a stalled read; a worker left running keeps
// its core mapped, logs nothing and writes nothing, and ends on its own.
//
// Index of this file:
// [SECTION] Worker control
// [SECTION] Query pass
// [SECTION] Worker loop
// [SECTION] Start, stop, touch, wake
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_utf8.h"
#include "net/net_socket.h"
#include "net/net_wire.h"
#include "online/servers.h"
#include "online/service_worker.h"

//-----------------------------------------------------------------------------
// [SECTION] Worker control
//-----------------------------------------------------------------------------

namespace {

const DWORD IDLE_WAIT_MS = 500;
const uint64_t BROWSER_SHOWN_MS = 1500;
const uint64_t REFETCH_MS = 300000;
const uint64_t REQUERY_MS = 20000;
const uint64_t RESEND_MS = 800;
const uint64_t PASS_MS = 2000;
const int REPLY_BUFFER = 512;
const int DATAGRAMS_PER_BATCH = 256; // a flood cannot hold the pass past its time checks

service_worker *worker;      // the game thread's handle, null when stopped
service_worker *running;     // the worker thread's own block
volatile LONG workers_alive; // started and not yet ended, a late one included
volatile LONG64 browser_drawn;
uint32_t pass_counter; // worker thread only

//-----------------------------------------------------------------------------
// [SECTION] Query pass
//-----------------------------------------------------------------------------

struct query_target {
    sockaddr_in addr;
    bool resolved, done;
    uint64_t sent[2]; // tick of attempt 0 and 1; 0 = not sent
};

// Pass counter in bits 16..31, attempt in 8..15, list index in 0..7.
uint32_t query_token(uint32_t pass, int attempt, int index)
{
    return (pass << 16) | ((uint32_t)attempt << 8) | (uint32_t)index;
}

bool resolve(const char *host, uint16_t port, sockaddr_in *out)
{
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *res = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &res) != 0 || !res)
        return false;
    bool ok = false;
    for (addrinfo *a = res; a && !ok; a = a->ai_next)
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            memcpy(out, a->ai_addr, sizeof *out);
            out->sin_port = htons(port);
            ok = true;
        }
    freeaddrinfo(res);
    return ok;
}

void send_query(SOCKET s, query_target &t, int attempt, int index)
{
    uint8_t d[16];
    net_build_info_query(d, query_token(pass_counter, attempt, index));
    sendto(s, (const char *)d, sizeof d, 0, (const sockaddr *)&t.addr, sizeof t.addr);
    t.sent[attempt] = GetTickCount64();
}

// An info reply to this pass, from the address and port the query went to,
// for a server not answered yet and an attempt that was sent.
bool take_reply(const uint8_t *d, int len, const sockaddr_in &from, query_target *targets, server_list_snapshot *w)
{
    uint32_t token;
    uint16_t protocol;
    uint8_t players, max_players;
    char name[256];
    if (!net_parse_info_reply(d, (size_t)len, &token, &protocol, &players, &max_players, name))
        return false;
    uint32_t attempt = (token >> 8) & 0xFF, index = token & 0xFF;
    if ((token >> 16) != pass_counter || index >= (uint32_t)w->count || attempt > 1)
        return false;
    query_target &t = targets[index];
    if (!t.resolved || t.done || t.sent[attempt] == 0)
        return false;
    if (from.sin_family != AF_INET || from.sin_addr.s_addr != t.addr.sin_addr.s_addr ||
        from.sin_port != t.addr.sin_port)
        return false;
    server_entry &e = w->entries[index];
    dm_utf8_copy(e.reported_name, sizeof e.reported_name, name, 64);
    e.players = players;
    e.max_players = max_players;
    e.protocol = protocol;
    e.query_state = SERVER_ANSWERED;
    e.ping = (uint32_t)(GetTickCount64() - t.sent[attempt]);
    t.done = true;
    return true;
}

bool all_done(const query_target *targets, int count)
{
    for (int i = 0; i < count; i++)
        if (!targets[i].done)
            return false;
    return true;
}

void servers_query_all(SOCKET s)
{
    server_list_snapshot *w = servers_working();
    pass_counter = (pass_counter + 1) & 0xFFFF;
    w->busy = 1;
    servers_publish();

    query_target targets[SERVERS_MAX];
    memset(targets, 0, sizeof targets);
    int count = w->count;
    for (int i = 0; i < count; i++) {
        query_target &t = targets[i];
        t.resolved = resolve(w->entries[i].host, w->entries[i].port, &t.addr);
        if (!t.resolved) {
            w->entries[i].query_state = SERVER_UNRESOLVED;
            t.done = true;
        }
        if (servers_stopping())
            return;
    }
    for (int i = 0; i < count; i++)
        if (targets[i].resolved)
            send_query(s, targets[i], 0, i);

    uint64_t t0 = GetTickCount64();
    bool resent = false;
    for (;;) {
        uint64_t now = GetTickCount64();
        if (!resent && now - t0 >= RESEND_MS) {
            resent = true;
            for (int i = 0; i < count; i++)
                if (targets[i].resolved && !targets[i].done)
                    send_query(s, targets[i], 1, i);
        }
        if (all_done(targets, count) || now - t0 >= PASS_MS || servers_stopping())
            break;
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(s, &readable);
        timeval tv = { 0, 50000 };
        select(0, &readable, nullptr, nullptr, &tv);
        bool taken = false;
        for (int k = 0; k < DATAGRAMS_PER_BATCH; k++) {
            uint8_t buf[REPLY_BUFFER];
            sockaddr_in from;
            int from_len = sizeof from;
            int n = recvfrom(s, (char *)buf, sizeof buf, 0, (sockaddr *)&from, &from_len);
            if (n < 0) {
                int e = WSAGetLastError();
                if (e == WSAECONNRESET || e == WSAEMSGSIZE)
                    continue;
                break;
            }
            taken |= take_reply(buf, n, from, targets, w);
        }
        if (taken)
            servers_publish();
    }
    for (int i = 0; i < count; i++)
        if (!targets[i].done)
            w->entries[i].query_state = SERVER_NO_ANSWER;
    w->busy = 0;
    w->last_query_end = GetTickCount64();
    servers_publish();
}

//-----------------------------------------------------------------------------
// [SECTION] Worker loop
//-----------------------------------------------------------------------------

void worker_loop(service_worker *w)
{
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0)
        return;
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s != INVALID_SOCKET)
        net_socket_setup(s);
    servers_favorites_load();
    uint8_t fetch_due = 1, query_due = 1;
    uint64_t last_fetch = 0;
    favorite_edit edits[SERVERS_EDITS_MAX];
    server_list_snapshot *list = servers_working();
    while (!servers_stopping()) {
        int n = servers_take_requests(edits, &fetch_due, &query_due);
        if (n > 0) {
            servers_favorites_edit(edits, n);
            servers_merge();
            query_due = 1;
        }
        uint64_t now = GetTickCount64();
        if (now - (uint64_t)browser_drawn < BROWSER_SHOWN_MS) { // the Servers window is on screen
            if (now - last_fetch > REFETCH_MS)
                fetch_due = 1;
            if (!list->busy && now - list->last_query_end > REQUERY_MS)
                query_due = 1;
        }
        if (fetch_due) {
            servers_fetch_list();
            servers_merge();
            last_fetch = GetTickCount64();
            fetch_due = 0;
            query_due = 1;
        } else if (!query_due) {
            service_worker_wait(w, IDLE_WAIT_MS);
            continue;
        }
        if (servers_stopping())
            break;
        if (s != INVALID_SOCKET) {
            servers_query_all(s);
            query_due = 0;
        } else if (list->busy) { // no pass will ever end the busy time a fetch began
            list->busy = 0;
            servers_publish();
        }
        service_worker_wait(w, IDLE_WAIT_MS);
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
}

void servers_worker(service_worker *w)
{
    running = w;
    worker_loop(w);
    InterlockedDecrement(&workers_alive);
}

} // namespace

//-----------------------------------------------------------------------------
// [SECTION] Start, stop, touch, wake
//-----------------------------------------------------------------------------

void servers_start(const dm_host_api *api)
{
    if (worker)
        return;
    if (workers_alive) { // a worker of this core that outlived its stop still runs
        core_log("[core] servers: the last worker is still running; no new one");
        return;
    }
    servers_set_base_dir(api ? api->base_dir : "");
    InterlockedIncrement(&workers_alive);
    worker = service_worker_start(servers_worker, nullptr, 0);
    if (!worker) {
        core_log("[core] servers: can't start the worker (%lu)", GetLastError());
        InterlockedDecrement(&workers_alive);
    }
}

bool servers_stop()
{
    if (!worker)
        return true;
    bool ended = service_worker_stop(worker);
    worker = nullptr;
    if (!ended)
        core_log("[core] servers: worker didn't stop in %u ms; it ends on its own", (unsigned)SERVICE_STOP_WAIT_MS);
    return ended;
}

uint64_t servers_touch() { return (uint64_t)InterlockedExchange64(&browser_drawn, (LONG64)GetTickCount64()); }

bool servers_stopping() { return service_worker_stopping(running); }

http_cancel *servers_http() { return service_worker_http(running); }

void servers_log(const char *fmt, ...)
{
    if (!service_worker_host_enter(running))
        return;
    va_list ap;
    va_start(ap, fmt);
    core_logv(fmt, ap);
    va_end(ap);
    service_worker_host_leave(running);
}

void servers_wake()
{
    service_worker *w = worker;
    if (w)
        service_worker_wake(w);
}

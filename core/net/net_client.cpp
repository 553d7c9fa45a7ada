// The connection to one game server over UDP: connect with an asynchronous
// name lookup, the hello schedule, welcome and refusals, the auth challenge,
// keep-alive, the silence watch and rejoin, leave, the info query, the
// per-frame receive and dispatch, and the feature channels' senders.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "net_key.h"
#include "net_socket.h"
#include "net_win.h"
#include "net_wire.h"
#include "dm_fnv.h"

extern "C" {
// Not declared by mingw's headers.
WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExCancel(LPHANDLE lpHandle);
WINSOCK_API_LINKAGE int WSAAPI GetAddrInfoExOverlappedResult(LPOVERLAPPED lpOverlapped);
}


net_key_state net_key;

namespace {

// The lookup's request block lives on the heap: when a cancel does not
// complete in time the block (and its event) are abandoned to the system,
// which may still write into them; no completion routine points into us.
struct lookup_request {
    OVERLAPPED ov;
    ADDRINFOEXW *result;
    HANDLE cancel;
    HANDLE event;
    bool done_at_once;
    int at_once_error;
};

struct client_state {
    SOCKET sock = INVALID_SOCKET;
    SOCKET info_sock = INVALID_SOCKET;
    bool wsa_started = false;
    sockaddr_in server = {};
    net_connection conn = {};
    uint16_t our_id = 0;
    uint32_t seq = 0;
    int hello_tries = 0;
    double last_hello = 0;
    double now = 0; /* the send path's current time */
    double last_send = 0, last_recv = 0, joined_at = 0, acc_due = 0;
    uint8_t last_refusal = 0;
    char status[96] = "";
    HANDLE event = nullptr;
    lookup_request *lookup = nullptr;
    bool lookup_pending = false;
    double lookup_retry = 0;
    uint64_t received = 0, states_sent = 0;
    uint32_t info_nonce = 0;
    double info_deadline = 0;
    char info_label[80] = "";
    /* feature channels */
    net_prop_handlers props = {};
    net_job_handlers jobs = {};
    net_traffic_handlers traffic = {};
    bool tod_received = false;
    double tod_seconds = 0, tod_at = 0;
    float tod_rate = 0;
    bool weather_received = false;
    uint8_t weather[6] = {};
    uint16_t traffic_owner = 0;
    uint32_t traffic_slot = 0xFFFFFFFFu;
    net_recv_fn recv_fn = nullptr;
};

client_state c;

bool start_winsock()
{
    if (c.wsa_started)
        return true;
    WSADATA wd;
    if (WSAStartup(MAKEWORD(2, 2), &wd) != 0)
        return false;
    c.wsa_started = true;
    return true;
}

void stop_winsock()
{
    if (c.wsa_started) {
        WSACleanup();
        c.wsa_started = false;
    }
}

SOCKET open_udp()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return s;
    net_socket_setup(s);
    return s;
}

bool joined() { return c.sock != INVALID_SOCKET && c.our_id != 0; }

void addr_text(char *out, size_t size, const in_addr &a)
{
    const uint8_t *b = (const uint8_t *)&a;
    snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

bool parse_ipv4(const char *host, in_addr *out)
{
    if (_stricmp(host, "localhost") == 0) {
        out->s_addr = htonl(INADDR_LOOPBACK);
        return true;
    }
    return inet_pton(AF_INET, host, out) == 1;
}

void send_raw(uint8_t type, const uint8_t *payload, int len)
{
    if (c.sock == INVALID_SOCKET || len < 0 || len > NET_RECV_BUFFER - NET_HEADER_SIZE)
        return;
    uint8_t buf[NET_RECV_BUFFER];
    net_write_header(buf, type, ++c.seq, c.our_id);
    if (len)
        memcpy(buf + NET_HEADER_SIZE, payload, (size_t)len);
    sendto(c.sock, (const char *)buf, NET_HEADER_SIZE + len, 0, (const sockaddr *)&c.server, sizeof c.server);
    c.last_send = c.now;
}

void send_hello()
{
    uint8_t p[64];
    int n = net_build_hello(p, sizeof p, c.conn.nonce, c.conn.name);
    if (n < 0)
        return;
    send_raw(NET_HELLO, p, n);
    c.hello_tries++;
    c.last_hello = c.now;
}

void free_lookup(lookup_request *r)
{
    if (r->result)
        FreeAddrInfoExW(r->result);
    free(r);
}

/* Starts the lookup; false (with the status text set) when it cannot. */
bool start_lookup()
{
    if (!c.event)
        c.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!c.event) {
        snprintf(c.status, sizeof c.status, "can't resolve '%s' (%d)", c.conn.host, (int)GetLastError());
        return false;
    }
    ResetEvent(c.event);
    wchar_t wide[129];
    int wn = MultiByteToWideChar(CP_UTF8, 0, c.conn.host, -1, wide, 129);
    if (wn <= 0) {
        snprintf(c.status, sizeof c.status, "can't resolve '%s' (%d)", c.conn.host, (int)GetLastError());
        return false;
    }
    lookup_request *r = (lookup_request *)calloc(1, sizeof *r);
    if (!r) {
        snprintf(c.status, sizeof c.status, "can't resolve '%s' (%d)", c.conn.host, (int)ERROR_OUTOFMEMORY);
        return false;
    }
    r->event = c.event;
    r->ov.hEvent = c.event;
    ADDRINFOEXW hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    int rc = GetAddrInfoExW(wide, nullptr, NS_DNS, nullptr, &hints, &r->result, nullptr, &r->ov, nullptr,
                            &r->cancel);
    if (rc == NO_ERROR) {
        r->done_at_once = true;
        SetEvent(c.event);
    } else if (rc != WSA_IO_PENDING) {
        snprintf(c.status, sizeof c.status, "can't resolve '%s' (%d)", c.conn.host, rc);
        if (r->result)
            FreeAddrInfoExW(r->result);
        free(r);
        return false;
    }
    c.lookup = r;
    c.lookup_pending = true;
    return true;
}

/* Cancels a pending lookup and waits up to 2 s for it. */
void cancel_lookup()
{
    c.lookup_retry = 0;
    if (!c.lookup)
        return;
    lookup_request *r = c.lookup;
    c.lookup = nullptr;
    c.lookup_pending = false;
    if (r->done_at_once) {
        free_lookup(r);
        return;
    }
    GetAddrInfoExCancel(&r->cancel);
    if (WaitForSingleObject(r->event, 2000) == WAIT_OBJECT_0) {
        free_lookup(r);
        return;
    }
    // Still running: leave the block and its event to the lookup.
    c.event = nullptr;
}

void close_socket(bool leave)
{
    if (c.sock == INVALID_SOCKET)
        return;
    if (leave && joined())
        send_raw(NET_LEAVE, nullptr, 0);
    closesocket(c.sock);
    c.sock = INVALID_SOCKET;
    c.our_id = 0;
    c.joined_at = 0;
    c.tod_received = false;
    c.weather_received = false;
    net_roster_drop_all(leave ? "disconnect" : "core reload");
    if (c.info_sock == INVALID_SOCKET)
        stop_winsock();
    net_log("[net] socket closed%s", leave ? " (left)" : "");
}

void lose_join(const char *reason)
{
    c.joined_at = 0;
    c.our_id = 0;
    net_roster_drop_all(reason);
}

void read_info_socket()
{
    if (c.info_sock == INVALID_SOCKET)
        return;
    for (int i = 0; i < 256; i++) {
        uint8_t buf[512];
        int n = recvfrom(c.info_sock, (char *)buf, sizeof buf, 0, nullptr, nullptr);
        if (n < 0) {
            int e = WSAGetLastError();
            if (e == WSAECONNRESET || e == WSAEMSGSIZE)
                continue;
            break;
        }
        uint32_t nonce;
        uint16_t proto;
        uint8_t players, max_players;
        char name[256], clean[256];
        if (!net_parse_info_reply(buf, (size_t)n, &nonce, &proto, &players, &max_players, name) ||
            nonce != c.info_nonce || c.info_deadline == 0)
            continue;
        net_clean(clean, sizeof clean, name, sizeof name);
        net_log("[net] info: %s is '%.*s', %u/%u players, protocol %u%s", c.info_label, (int)strlen(clean), clean,
                players, max_players, proto, proto == NET_PROTOCOL_VERSION ? "" : " (NOT ours: can't join)");
        c.info_deadline = 0;
    }
}

void on_auth_challenge(const uint8_t *p, size_t n)
{
    if (!net_key.loaded || !joined() || n != 32)
        return;
    uint8_t msg[NET_AUTH_PREFIX_LEN + 32], sig[64], reply[96];
    memcpy(msg, NET_AUTH_PREFIX, NET_AUTH_PREFIX_LEN);
    memcpy(msg + NET_AUTH_PREFIX_LEN, p, 32);
    crypto_eddsa_sign(sig, net_key.secret, msg, sizeof msg);
    int len = net_build_auth_reply(reply, sizeof reply, net_key.pub, sig);
    send_raw(NET_AUTH_REPLY, reply, len);
}

void on_feature(const net_header &h, const uint8_t *p, size_t n, double now)
{
    switch (h.type) {
    case NET_TIME_OF_DAY: {
        double s;
        float rate;
        if (!net_parse_time_of_day(p, n, &s, &rate))
            return;
        if (!c.tod_received)
            net_log("[net] server time of day %02d:%02d (rate %.2f)", (int)(s / 3600), (int)(s / 60) % 60, rate);
        c.tod_seconds = s;
        c.tod_rate = rate;
        c.tod_at = now;
        c.tod_received = true;
        return;
    }
    case NET_WEATHER: {
        uint8_t kind, roll;
        float secs;
        if (!net_parse_weather(p, n, &kind, &roll, &secs))
            return;
        if (!c.weather_received || roll != c.weather[1])
            net_log("[net] server weather: %s (next roll in %.0f s)", kind ? "bad" : "normal", secs);
        memcpy(c.weather, p, 6);
        c.weather_received = true;
        return;
    }
    case NET_TRAFFIC_OWNER: {
        uint16_t owner;
        uint32_t slot;
        if (!net_parse_owner(p, n, &owner, &slot))
            return;
        if (owner != c.traffic_owner) {
            if (owner == 0)
                net_log("[net] traffic owner: none");
            else
                net_log("[net] traffic owner: player %u%s", owner, owner == c.our_id ? " (us)" : "");
        }
        c.traffic_owner = owner;
        c.traffic_slot = slot;
        return;
    }
    case NET_PROP: {
        prop_state prop;
        if (c.props.on_prop && net_parse_prop(p, n, h.player, &prop))
            c.props.on_prop(&prop);
        return;
    }
    case NET_PROP_REMOVED: {
        uint32_t id;
        if (c.props.on_removed && net_parse_u32(p, n, &id))
            c.props.on_removed(id);
        return;
    }
    case NET_PROP_LIST: {
        static uint32_t ids[NET_PROP_IDS_MAX];
        uint16_t count;
        if (c.props.on_list && net_parse_prop_list(p, n, ids, &count))
            c.props.on_list(ids, count);
        return;
    }
    case NET_JOB: {
        server_job job;
        if (c.jobs.on_job && net_parse_job(p, n, &job))
            c.jobs.on_job(&job);
        return;
    }
    case NET_JOB_REMOVED: {
        uint32_t id;
        if (c.jobs.on_removed && net_parse_u32(p, n, &id))
            c.jobs.on_removed(id);
        return;
    }
    case NET_TRAFFIC_DEFS: {
        static traffic_car_definition def;
        if (c.traffic.on_definition && net_parse_traffic_defs(p, n, &def))
            c.traffic.on_definition(h.player, &def);
        return;
    }
    case NET_TRAFFIC_CARS: {
        static traffic_car_state cars[NET_TRAFFIC_CARS_PER_DATAGRAM];
        uint32_t ms;
        int count;
        if (c.traffic.on_cars && net_parse_traffic_cars(p, n, &ms, cars, &count))
            c.traffic.on_cars(h.player, ms, cars, count);
        return;
    }
    case NET_TRAFFIC_IDS: {
        static uint32_t ids[NET_TRAFFIC_IDS_ACCEPTED];
        uint8_t flags;
        uint16_t count;
        if (c.traffic.on_ids && net_parse_traffic_ids(p, n, &flags, ids, &count))
            c.traffic.on_ids(h.player, ids, count, flags);
        return;
    }
    default:
        return;
    }
}

/* One datagram from the server; false ends this frame's receiving. */
bool dispatch(const net_header &h, const uint8_t *p, size_t n, double now)
{
    switch (h.type) {
    case NET_WELCOME:
        if (h.player == 0) // an id the server cannot have given
            return true;
        c.hello_tries = 0;
        c.status[0] = 0;
        if (h.player != c.our_id) {
            c.traffic_slot = 0xFFFFFFFFu;
            net_log("[net] joined as player %u", h.player);
            c.acc_due = now;
            c.joined_at = now;
        }
        c.our_id = h.player;
        return true;
    case NET_REFUSED: {
        uint8_t reason = n >= 1 ? p[0] : 0;
        const char *text = net_refusal_text(reason);
        net_log("[net] server refused us: %s; disconnecting", text);
        snprintf(c.status, sizeof c.status, "refused: %s", text);
        if (reason == 4 || reason == 5)
            net_roster_record_kick(reason == 4 ? 5 : 4, p, n, now, c.status, sizeof c.status);
        net_disconnect(false);
        c.last_refusal = reason == 0 ? 255 : reason;
        return false;
    }
    case NET_PLAYER_DROPPED:
        if (h.player == c.our_id) {
            uint8_t reason = n >= 1 ? p[0] : 0;
            if ((reason == 4 || reason == 5) && joined()) {
                net_roster_record_kick(reason, p, n, now, c.status, sizeof c.status);
                net_disconnect(false);
                return false;
            }
            net_log("[net] server dropped us (%s); rejoining", net_drop_text(reason));
            lose_join("we were dropped");
            return true;
        }
        net_roster_on_dropped(h.player, p, n);
        return true;
    case NET_PLAYER_JOINED:
        net_roster_on_joined(h.player, c.our_id, p, n, now);
        return true;
    case NET_STATE:
        net_roster_on_state(h.player, h.seq, p, n, now);
        return true;
    case NET_ACC_PART:
        net_roster_on_acc_part(h.player, p, n);
        return true;
    case NET_ROLE:
        net_roster_on_role(h.player, c.our_id, p, n);
        return true;
    case NET_MESSAGE:
        net_roster_on_message(p, n);
        return true;
    case NET_AUTH_CHALLENGE:
        on_auth_challenge(p, n);
        return true;
    default:
        on_feature(h, p, n, now);
        return true;
    }
}

int socket_recv(char *buf, int len, sockaddr_in *from, int *error)
{
    int fromlen = sizeof *from;
    if (c.recv_fn)
        return c.recv_fn((uintptr_t)c.sock, buf, len, from, &fromlen, error);
    int n = recvfrom(c.sock, buf, len, 0, (sockaddr *)from, &fromlen);
    *error = n < 0 ? WSAGetLastError() : 0;
    return n;
}

void receive(double now)
{
    static uint8_t buf[NET_RECV_BUFFER];
    for (int i = 0; i < 256 && c.sock != INVALID_SOCKET; i++) {
        sockaddr_in from = {};
        int error = 0;
        int n = socket_recv((char *)buf, sizeof buf, &from, &error);
        if (n < 0) {
            if (error == WSAEWOULDBLOCK)
                return;
            if (error == WSAECONNRESET || error == WSAEMSGSIZE)
                continue;
            net_log("[net] recvfrom error %d", error);
            return;
        }
        net_header h;
        if (from.sin_family != AF_INET || from.sin_addr.s_addr != c.server.sin_addr.s_addr ||
            from.sin_port != c.server.sin_port || !net_read_header(buf, (size_t)n, &h))
            continue;
        c.received++;
        c.last_recv = now;
        if (!dispatch(h, buf + NET_HEADER_SIZE, (size_t)n - NET_HEADER_SIZE, now))
            return;
    }
}

void poll_lookup(double now)
{
    if (WaitForSingleObject(c.lookup->event, 0) != WAIT_OBJECT_0)
        return;
    lookup_request *r = c.lookup;
    c.lookup = nullptr;
    c.lookup_pending = false;
    int rc = r->done_at_once ? 0 : GetAddrInfoExOverlappedResult(&r->ov);
    bool found = false;
    if (rc == 0) {
        for (ADDRINFOEXW *a = r->result; a; a = (ADDRINFOEXW *)a->ai_next) {
            if (a->ai_family == AF_INET && a->ai_addr && a->ai_addrlen >= sizeof(sockaddr_in)) {
                c.server.sin_addr = ((sockaddr_in *)a->ai_addr)->sin_addr;
                found = true;
                break;
            }
        }
    }
    free_lookup(r);
    if (found) {
        char text[32];
        addr_text(text, sizeof text, c.server.sin_addr);
        net_log("[net] %s is %s; connecting", c.conn.host, text);
        c.last_recv = now;
        send_hello();
    } else {
        snprintf(c.status, sizeof c.status, "can't resolve '%s' (%d)", c.conn.host, rc ? rc : WSAHOST_NOT_FOUND);
        net_log("[net] %s; retrying in 10 s", c.status);
        c.lookup_retry = now + 10;
    }
}

} // namespace

void net_set_recv_fn(net_recv_fn fn) { c.recv_fn = fn; }

void net_reset_for_tests()
{
    net_shutdown();
    net_recv_fn keep = nullptr;
    c = client_state();
    c.recv_fn = keep;
    net_key = net_key_state();
    net_roster_reset();
}

bool net_connect(const char *host, uint16_t port, const char *name, uint32_t nonce, double now)
{
    net_disconnect(true);
    memset(&c.server, 0, sizeof c.server);
    c.server.sin_family = AF_INET;
    c.server.sin_port = htons(port);
    c.last_refusal = 0;
    c.status[0] = 0;
    c.hello_tries = 0;
    size_t hl = host ? strnlen(host, 64) : 0;
    if (hl == 0 || hl >= 64) {
        net_log("[net] bad server address");
        return false;
    }
    size_t nl = name ? strnlen(name, 33) : 0;
    if (nl < 1 || nl > NET_NAME_MAX) {
        net_log("[net] name must be 1..%d bytes", NET_NAME_MAX);
        return false;
    }
    if (!start_winsock()) {
        net_log("[net] WSAStartup failed");
        return false;
    }
    c.sock = open_udp();
    if (c.sock == INVALID_SOCKET) {
        net_log("[net] socket failed (%d)", WSAGetLastError());
        if (c.info_sock == INVALID_SOCKET)
            stop_winsock();
        return false;
    }
    snprintf(c.conn.host, sizeof c.conn.host, "%s", host);
    c.conn.port = port;
    snprintf(c.conn.name, sizeof c.conn.name, "%s", name);
    if (nonce == 0) {
        uint32_t h = (uint32_t)GetCurrentProcessId() * 0x9E3779B1u;
        LARGE_INTEGER pc;
        QueryPerformanceCounter(&pc);
        uint8_t counter[8];
        for (int i = 0; i < 8; i++)
            counter[i] = (uint8_t)((uint64_t)pc.QuadPart >> (8 * i));
        nonce = dm_fnv1a(h, counter, sizeof counter);
    }
    c.conn.nonce = nonce | 1u;
    c.our_id = 0;
    uint32_t raised = (uint32_t)(uint64_t)(now * 4000.0);
    if ((int32_t)(raised - c.seq) > 0)
        c.seq = raised;
    c.now = now;
    c.last_send = now;
    c.last_recv = now;
    c.joined_at = 0;
    c.acc_due = 0;
    c.received = 0;
    c.states_sent = 0;
    net_roster_drop_all("connect");
    in_addr a;
    if (parse_ipv4(c.conn.host, &a)) {
        c.server.sin_addr = a;
        char text[32];
        addr_text(text, sizeof text, a);
        net_log("[net] connecting to %s:%u as '%s' (nonce %08x)", text, port, c.conn.name, c.conn.nonce);
        send_hello();
        return true;
    }
    net_log("[net] resolving %s ... (then join as '%s', nonce %08x)", c.conn.host, c.conn.name, c.conn.nonce);
    if (!start_lookup()) {
        net_log("[net] %s; retrying in 10 s", c.status);
        c.lookup_retry = now + 10;
    }
    return true;
}

void net_disconnect(bool send_leave)
{
    cancel_lookup();
    close_socket(send_leave);
}

void net_tick(double now)
{
    read_info_socket();
    if (c.info_deadline != 0 && now > c.info_deadline) {
        net_log("[net] info: no answer from %s within 2 s", c.info_label);
        c.info_deadline = 0;
    }
    if (c.sock == INVALID_SOCKET)
        return;
    c.now = now;
    if (c.lookup_pending) {
        poll_lookup(now);
    } else if (c.lookup_retry != 0 && now >= c.lookup_retry) {
        c.lookup_retry = 0;
        if (!start_lookup()) {
            net_log("[net] %s; retrying in 10 s", c.status);
            c.lookup_retry = now + 10;
        }
    }
    if (c.lookup_pending || c.lookup_retry != 0) {
        c.last_recv = now;
        return;
    }
    receive(now);
    if (c.sock == INVALID_SOCKET)
        return;
    if (!joined()) {
        double interval = c.hello_tries < 5 ? 1 : c.hello_tries < 8 ? 2 : c.hello_tries < 11 ? 4 : 8;
        if (now - c.last_hello >= interval)
            send_hello();
    } else {
        if (net_local_lists_due || now >= c.acc_due) {
            net_local_lists_due = false;
            c.acc_due = now + 5.0;
            net_send_accessories(0);
            net_send_accessories(1);
        }
        if (now - c.last_send >= 1.0)
            send_raw(NET_KEEPALIVE, nullptr, 0);
    }
    net_roster_drop_stale(now);
    if (now - c.last_recv > 5.0) {
        if (joined()) {
            net_log("[net] server silent for %.0f s; rejoining", now - c.last_recv);
            c.hello_tries = 0;
        } else if (c.hello_tries > 0) {
            snprintf(c.status, sizeof c.status, "no answer from the server");
        }
        lose_join("server timeout");
        c.last_recv = now;
    }
}

bool net_is_open() { return c.sock != INVALID_SOCKET; }
uint16_t net_our_player_id() { return c.our_id; }
bool net_join_settled(double now) { return joined() && c.joined_at != 0 && now - c.joined_at >= 1.0; }
uint8_t net_last_refusal() { return c.last_refusal; }

void net_query_info(const char *host, uint16_t port, double now)
{
    in_addr a;
    bool ok = host && parse_ipv4(host, &a);
    if (!ok && host && c.sock != INVALID_SOCKET && !c.lookup_pending && c.lookup_retry == 0 &&
        strcmp(host, c.conn.host) == 0) {
        a = c.server.sin_addr;
        ok = true;
    }
    if (!ok) {
        char clean[64];
        net_log("[net] info: '%s' needs to be an IPv4 address (or the connected server's name)",
                net_clean(clean, sizeof clean, host ? host : "", 63));
        return;
    }
    if (!start_winsock()) {
        net_log("[net] WSAStartup failed");
        return;
    }
    if (c.info_sock == INVALID_SOCKET)
        c.info_sock = open_udp();
    if (c.info_sock == INVALID_SOCKET) {
        net_log("[net] socket failed (%d)", WSAGetLastError());
        return;
    }
    c.info_nonce = (uint32_t)GetTickCount() | 1u;
    uint8_t q[16];
    net_build_info_query(q, c.info_nonce);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = a;
    sendto(c.info_sock, (const char *)q, sizeof q, 0, (const sockaddr *)&to, sizeof to);
    snprintf(c.info_label, sizeof c.info_label, "%s:%u", host, port);
    c.info_deadline = now + 2.0;
    net_log("[net] info: asking %s", c.info_label);
}

bool net_get_connection(net_connection *out)
{
    if (c.sock == INVALID_SOCKET)
        return false;
    *out = c.conn;
    return true;
}

const char *net_status_line()
{
    static char line[200];
    if (c.sock != INVALID_SOCKET && c.lookup_pending)
        snprintf(line, sizeof line, "resolving %s", c.conn.host);
    else if (c.sock != INVALID_SOCKET && c.lookup_retry != 0)
        snprintf(line, sizeof line, "waiting to resolve %s (%s)", c.conn.host, c.status);
    else if (joined())
        snprintf(line, sizeof line, "joined %s:%u as player %u", c.conn.host, c.conn.port, c.our_id);
    else if (c.sock != INVALID_SOCKET)
        snprintf(line, sizeof line, "joining %s:%u (try %d)%s%s", c.conn.host, c.conn.port, c.hello_tries,
                 c.status[0] ? ": " : "", c.status);
    else
        snprintf(line, sizeof line, "offline%s%s", c.status[0] ? ": " : "", c.status);
    return line;
}

void net_print_status(double now)
{
    if (c.sock == INVALID_SOCKET) {
        net_log("[net] status: not connected");
        return;
    }
    char text[32];
    addr_text(text, sizeof text, c.server.sin_addr);
    net_log("[net] status: server %s:%u name '%s' id %u (%s), last packet %.1f s ago, %llu states sent, "
            "%llu packets in",
            text, c.conn.port, c.conn.name, c.our_id, joined() ? "joined" : "joining", now - c.last_recv,
            (unsigned long long)c.states_sent, (unsigned long long)c.received);
    char clean[33];
    for (auto &p : net_roster) {
        if (!p.used)
            continue;
        net_log("[net]   player %u '%s': %llu states, last %.1f s ago, clock offset %.3f s, accessories "
                "truck %d / trailer %d",
                p.id, net_clean(clean, sizeof clean, p.name, 32), (unsigned long long)p.states,
                now - p.last_state_time, p.offset, (int)p.acc[0].entries, (int)p.acc[1].entries);
    }
}

void net_shutdown()
{
    cancel_lookup();
    close_socket(false);
    if (c.info_sock != INVALID_SOCKET) {
        closesocket(c.info_sock);
        c.info_sock = INVALID_SOCKET;
    }
    c.info_deadline = 0;
    if (c.event) {
        CloseHandle(c.event);
        c.event = nullptr;
    }
    c.tod_received = false;
    c.weather_received = false;
    stop_winsock();
}

/* roster senders */

void net_send_accessories(int list)
{
    if (list < 0 || list > 1 || !net_local_lists[list].set)
        return;
    int starts[NET_ACC_PARTS + 1];
    int count = net_acc_pack(list, starts);
    for (int i = 0; i < count; i++) {
        uint8_t p[NET_ACC_DATAGRAM_MAX];
        int n = net_acc_build_part(list, starts, i, count, p, NET_ACC_DATAGRAM_MAX - NET_HEADER_SIZE);
        if (n >= 0)
            send_raw(NET_ACC_PART, p, n);
    }
}

bool net_send_state(double now, const net_pose *pose)
{
    if (!joined() || !pose)
        return false;
    uint8_t p[128];
    uint32_t ms = (uint32_t)(uint64_t)(now * 1000.0);
    int n = net_build_state(p, sizeof p, ms, pose, net_local_state_hash());
    if (n < 0)
        return false;
    c.now = now;
    send_raw(NET_STATE, p, n);
    c.states_sent++;
    return true;
}

/* feature channels */

void net_set_prop_handlers(const net_prop_handlers *table) { c.props = table ? *table : net_prop_handlers{}; }
void net_set_job_handlers(const net_job_handlers *table) { c.jobs = table ? *table : net_job_handlers{}; }
void net_set_traffic_handlers(const net_traffic_handlers *table)
{
    c.traffic = table ? *table : net_traffic_handlers{};
}

bool net_send_prop(const prop_state *prop)
{
    if (!joined() || !prop)
        return false;
    uint8_t p[300];
    int n = net_build_prop(p, sizeof p, prop);
    if (n < 0)
        return false;
    send_raw(NET_PROP, p, n);
    return true;
}

bool net_send_prop_remove(uint32_t id)
{
    if (!joined())
        return false;
    uint8_t p[4];
    send_raw(NET_PROP_REMOVED, p, net_build_u32(p, 4, id));
    return true;
}

bool net_send_layout_cmd(uint8_t operation, const char *name)
{
    if (!joined())
        return false;
    uint8_t p[40];
    send_raw(NET_LAYOUT_CMD, p, net_build_layout_cmd(p, sizeof p, operation, name));
    return true;
}

bool net_send_traffic_defs(const traffic_car_definition *def)
{
    if (!joined() || !def)
        return false;
    uint8_t p[NET_TRAFFIC_DEFS_MAX];
    int n = net_build_traffic_defs(p, sizeof p, def);
    if (n < 0)
        return false;
    send_raw(NET_TRAFFIC_DEFS, p, n);
    return true;
}

bool net_send_traffic_ids(const uint32_t *ids, int count, uint8_t complete)
{
    if (!joined() || count < 0 || (count > 0 && !ids))
        return false;
    uint8_t p[3 + 4 * NET_TRAFFIC_IDS_PER_DATAGRAM];
    if (complete) {
        int n = count < NET_TRAFFIC_IDS_PER_DATAGRAM ? count : NET_TRAFFIC_IDS_PER_DATAGRAM;
        send_raw(NET_TRAFFIC_IDS, p, net_build_traffic_ids(p, sizeof p, ids, n, 1));
        return true;
    }
    for (int at = 0; at < count; at += NET_TRAFFIC_IDS_PER_DATAGRAM) {
        int n = count - at < NET_TRAFFIC_IDS_PER_DATAGRAM ? count - at : NET_TRAFFIC_IDS_PER_DATAGRAM;
        send_raw(NET_TRAFFIC_IDS, p, net_build_traffic_ids(p, sizeof p, ids + at, n, 0));
    }
    return true;
}

bool net_send_traffic_cars(uint32_t sender_ms, const traffic_car_state *cars, int64_t count)
{
    if (!joined())
        return false;
    if (count < 1)
        return true;
    if (!cars)
        return false;
    uint8_t p[5 + 30 * NET_TRAFFIC_CARS_PER_DATAGRAM];
    for (int64_t at = 0; at < count; at += NET_TRAFFIC_CARS_PER_DATAGRAM) {
        int n = (int)(count - at < NET_TRAFFIC_CARS_PER_DATAGRAM ? count - at : NET_TRAFFIC_CARS_PER_DATAGRAM);
        send_raw(NET_TRAFFIC_CARS, p, net_build_traffic_cars(p, sizeof p, sender_ms, cars + at, n));
    }
    return true;
}

bool net_send_time_of_day(double seconds, float rate)
{
    if (!joined())
        return false;
    uint8_t p[12];
    send_raw(NET_TIME_OF_DAY, p, net_build_time_of_day(p, sizeof p, seconds, rate));
    return true;
}

bool net_server_time(double *seconds, float *rate, double *received_at)
{
    if (!c.tod_received)
        return false;
    if (seconds)
        *seconds = c.tod_seconds;
    if (rate)
        *rate = c.tod_rate;
    if (received_at)
        *received_at = c.tod_at;
    return true;
}

bool net_server_weather(uint8_t *kind, uint8_t *roll_id, float *seconds)
{
    if (!c.weather_received)
        return false;
    if (kind)
        *kind = c.weather[0];
    if (roll_id)
        *roll_id = c.weather[1];
    if (seconds)
        *seconds = net_get_f32(c.weather + 2);
    return true;
}

uint16_t net_traffic_owner() { return joined() ? c.traffic_owner : 0; }
uint32_t net_traffic_slot() { return joined() ? c.traffic_slot : 0xFFFFFFFFu; }

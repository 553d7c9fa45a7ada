// The connection to one game server: opening it (the address, the nonce,
// the name lookup or the first hello), the hello schedule until the welcome,
// the join's own packets (welcome, refusal, being dropped, the auth
// challenge), the per-frame work in its order (net_tick), the keep-alive and
// the silence watch with its rejoin, leaving, and the shutdown. The client
// has no thread: all of it runs on the game thread, sockets non-blocking.
//
// Index:
//   sockets        Winsock, the UDP sockets, address texts
//   connect        net_connect
//   join           the hello and the packets of the join
//   frame          net_tick, the client's per-frame work
//   leave          net_disconnect, net_shutdown
//   getters        what the rest of the core asks about the connection
//   test hooks
#include "net/net_client_state.h"
#include <stdio.h>
#include <string.h>
#include "net/net_key.h"
#include "base/plain_text.h"
#include "dm_fnv.h"

net_client_state net_client;

// ---------------------------------------------------------------- sockets

bool net_winsock_start()
{
    if (net_client.winsock_started)
        return true;
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    net_client.winsock_started = true;
    return true;
}

void net_winsock_stop_if_unused()
{
    if (net_client.winsock_started && net_client.socket == INVALID_SOCKET &&
        net_client.info.socket == INVALID_SOCKET) {
        WSACleanup();
        net_client.winsock_started = false;
    }
}

SOCKET net_open_udp_socket()
{
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s != INVALID_SOCKET)
        net_socket_setup(s);
    return s;
}

void net_address_text(char *out, size_t size, const in_addr &address)
{
    const uint8_t *b = (const uint8_t *)&address;
    snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

bool net_numeric_host(const char *host, in_addr *out)
{
    if (_stricmp(host, "localhost") == 0) {
        out->s_addr = htonl(INADDR_LOOPBACK);
        return true;
    }
    return inet_pton(AF_INET, host, out) == 1;
}

// ---------------------------------------------------------------- connect

namespace {

/* The process id and the performance counter, mixed by FNV-1a. */
uint32_t fresh_nonce()
{
    uint32_t h = (uint32_t)GetCurrentProcessId() * 0x9E3779B1u;
    LARGE_INTEGER pc;
    QueryPerformanceCounter(&pc);
    uint8_t counter[8];
    for (int i = 0; i < 8; i++)
        counter[i] = (uint8_t)((uint64_t)pc.QuadPart >> (8 * i));
    return dm_fnv1a(h, counter, sizeof counter);
}

} // namespace

bool net_connect(const char *host, uint16_t port, const char *name, uint32_t nonce, double now)
{
    net_client_state &client = net_client;
    net_disconnect(true);
    memset(&client.server, 0, sizeof client.server);
    client.server.sin_family = AF_INET;
    client.server.sin_port = htons(port);
    client.last_refusal = 0;
    client.status[0] = 0;
    client.hello_tries = 0;
    size_t host_len = host ? strnlen(host, 64) : 0;
    if (host_len == 0 || host_len >= 64) {
        net_log("[net] bad server address");
        return false;
    }
    size_t name_len = name ? strnlen(name, 33) : 0;
    if (name_len < 1 || name_len > NET_NAME_MAX) {
        net_log("[net] name must be 1..%d bytes", NET_NAME_MAX);
        return false;
    }
    if (!net_winsock_start()) {
        net_log("[net] WSAStartup failed");
        return false;
    }
    client.socket = net_open_udp_socket();
    if (client.socket == INVALID_SOCKET) {
        net_log("[net] socket failed (%d)", WSAGetLastError());
        net_winsock_stop_if_unused();
        return false;
    }
    snprintf(client.connection.host, sizeof client.connection.host, "%s", host);
    client.connection.port = port;
    snprintf(client.connection.name, sizeof client.connection.name, "%s", name);
    client.connection.nonce = (nonce ? nonce : fresh_nonce()) | 1u;
    client.our_id = 0;
    uint32_t raised = (uint32_t)(uint64_t)(now * 4000.0);
    if ((int32_t)(raised - client.sequence) > 0)
        client.sequence = raised;
    client.send_time = now;
    client.last_send_time = now;
    client.last_receive_time = now;
    client.joined_time = 0;
    client.accessories_due = 0;
    client.datagrams_received = 0;
    client.states_sent = 0;
    net_roster_drop_all("connect");
    // The host may come from a fetched server list: logged with control bytes replaced.
    char shown_host[64], shown_name[33];
    text_clean(shown_host, sizeof shown_host, client.connection.host, sizeof client.connection.host);
    text_clean(shown_name, sizeof shown_name, client.connection.name, sizeof client.connection.name);
    in_addr address;
    if (net_numeric_host(client.connection.host, &address)) {
        client.server.sin_addr = address;
        char text[32];
        net_address_text(text, sizeof text, address);
        net_log("[net] connecting to %s:%u as '%s' (nonce %08x)", text, port, shown_name, client.connection.nonce);
        net_send_hello();
        return true;
    }
    net_log("[net] resolving %s ... (then join as '%s', nonce %08x)", shown_host, shown_name,
            client.connection.nonce);
    if (!net_lookup_start())
        net_lookup_retry_later(now);
    return true;
}

// ---------------------------------------------------------------- join

void net_send_hello()
{
    uint8_t p[64];
    int n = net_build_hello(p, sizeof p, net_client.connection.nonce, net_client.connection.name);
    if (n < 0)
        return;
    net_send_datagram(NET_HELLO, p, n);
    net_client.hello_tries++;
    net_client.last_hello_time = net_client.send_time;
}

namespace {

/* Not joined any more: the hello schedule takes over again. */
void lose_join(const char *reason)
{
    net_client.joined_time = 0;
    net_client.our_id = 0;
    net_roster_drop_all(reason);
}

/* The hello interval after the given number of tries: 1, 2, 4, then 8 s. */
double hello_interval(int tries) { return tries < 5 ? 1 : tries < 8 ? 2 : tries < 11 ? 4 : 8; }

} // namespace

void net_on_welcome(uint16_t id, double now)
{
    if (id == 0) // an id the server cannot have given
        return;
    net_client.hello_tries = 0;
    net_client.status[0] = 0;
    if (id != net_client.our_id) {
        net_client.features.traffic_slot = NET_NO_TRAFFIC_SLOT;
        net_log_server("[net] joined as player %u", id);
        net_client.accessories_due = now;
        net_client.joined_time = now;
    }
    net_client.our_id = id;
}

bool net_on_refused(const uint8_t *p, size_t n, double now)
{
    uint8_t reason = n >= 1 ? p[0] : 0;
    const char *text = net_refusal_text(reason);
    net_log_server("[net] server refused us: %s; disconnecting", text);
    snprintf(net_client.status, sizeof net_client.status, "refused: %s", text);
    if (reason == 4 || reason == 5) // refusal 4 is a ban, 5 a kick
        net_roster_record_kick(reason == 4 ? 5 : 4, p, n, now, net_client.status, sizeof net_client.status);
    net_disconnect(false);
    net_client.last_refusal = reason == 0 ? 255 : reason;
    return false;
}

bool net_on_dropped_us(const uint8_t *p, size_t n, double now)
{
    uint8_t reason = n >= 1 ? p[0] : 0;
    if ((reason == 4 || reason == 5) && net_is_joined()) {
        net_roster_record_kick(reason, p, n, now, net_client.status, sizeof net_client.status);
        net_disconnect(false);
        return false;
    }
    net_log_server("[net] server dropped us (%s); rejoining", net_drop_text(reason));
    lose_join("we were dropped");
    return true;
}

void net_on_auth_challenge(const uint8_t *p, size_t n)
{
    if (!net_key.loaded || !net_is_joined() || n != 32)
        return;
    uint8_t message[NET_AUTH_PREFIX_LEN + 32], signature[64], reply[96];
    memcpy(message, NET_AUTH_PREFIX, NET_AUTH_PREFIX_LEN);
    memcpy(message + NET_AUTH_PREFIX_LEN, p, 32);
    crypto_eddsa_sign(signature, net_key.secret, message, sizeof message);
    int len = net_build_auth_reply(reply, sizeof reply, net_key.pub, signature);
    net_send_datagram(NET_AUTH_REPLY, reply, len);
}

// ---------------------------------------------------------------- frame

namespace {

const char NO_ANSWER[] = "no answer from the server";

} // namespace

void net_tick(double now)
{
    net_client_state &client = net_client;
    net_log_clock(now);
    net_info_tick(now);
    if (client.socket == INVALID_SOCKET)
        return;
    client.send_time = now;
    if (client.lookup.pending) {
        net_lookup_poll(now);
    } else if (client.lookup.retry_at != 0 && now >= client.lookup.retry_at) {
        client.lookup.retry_at = 0;
        if (!net_lookup_start())
            net_lookup_retry_later(now);
    }
    if (client.lookup.pending || client.lookup.retry_at != 0) {
        client.last_receive_time = now;
        return;
    }
    net_receive_datagrams(now);
    if (client.socket == INVALID_SOCKET)
        return;
    if (!net_is_joined()) {
        if (now - client.last_hello_time >= hello_interval(client.hello_tries))
            net_send_hello();
    } else {
        if (net_local_lists_due || now >= client.accessories_due) {
            net_local_lists_due = false;
            client.accessories_due = now + 5.0;
            net_send_accessories(0);
            net_send_accessories(1);
        }
        if (now - client.last_send_time >= 1.0)
            net_send_datagram(NET_KEEPALIVE, nullptr, 0);
    }
    net_roster_drop_stale(now);
    if (now - client.last_receive_time > 5.0) {
        if (net_is_joined()) {
            net_log("[net] server silent for %.0f s; rejoining", now - client.last_receive_time);
            client.hello_tries = 0;
        } else if (client.hello_tries > 0 && strcmp(client.status, NO_ANSWER) != 0) {
            // Said once a connection: the hellos go on, the status line keeps it.
            char shown_host[64];
            text_clean(shown_host, sizeof shown_host, client.connection.host, sizeof client.connection.host);
            net_log("[net] no answer from %s:%u after %d hellos; still trying", shown_host,
                    (unsigned)client.connection.port, client.hello_tries);
            snprintf(client.status, sizeof client.status, "%s", NO_ANSWER);
        }
        lose_join("server timeout");
        client.last_receive_time = now;
    }
}

// ---------------------------------------------------------------- leave

namespace {

void close_connection_socket(bool leave)
{
    net_client_state &client = net_client;
    if (client.socket == INVALID_SOCKET)
        return;
    if (leave && net_is_joined())
        net_send_datagram(NET_LEAVE, nullptr, 0);
    closesocket(client.socket);
    client.socket = INVALID_SOCKET;
    client.our_id = 0;
    client.joined_time = 0;
    net_features_forget_received();
    net_roster_drop_all(leave ? "disconnect" : "core reload");
    net_winsock_stop_if_unused();
    net_log("[net] socket closed%s", leave ? " (left)" : "");
}

} // namespace

void net_disconnect(bool send_leave)
{
    net_lookup_cancel();
    close_connection_socket(send_leave);
}

void net_shutdown()
{
    net_lookup_cancel();
    close_connection_socket(false);
    net_info_close();
    net_lookup_close();
    net_features_forget_received();
    net_winsock_stop_if_unused();
}

// ---------------------------------------------------------------- getters

bool net_is_joined() { return net_client.socket != INVALID_SOCKET && net_client.our_id != 0; }
bool net_is_open() { return net_client.socket != INVALID_SOCKET; }
uint16_t net_our_player_id() { return net_client.our_id; }
bool net_join_settled(double now)
{
    return net_is_joined() && net_client.joined_time != 0 && now - net_client.joined_time >= 1.0;
}
uint8_t net_last_refusal() { return net_client.last_refusal; }

bool net_get_connection(net_connection *out)
{
    if (net_client.socket == INVALID_SOCKET)
        return false;
    *out = net_client.connection;
    return true;
}

// ---------------------------------------------------------------- test hooks

void net_set_recv_fn(net_recv_fn fn) { net_client.recv_fn = fn; }

void net_reset_for_tests()
{
    net_shutdown();
    net_client = net_client_state();
    net_key = net_key_state();
    net_roster_reset();
}

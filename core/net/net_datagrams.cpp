// Datagrams on the connection socket. Out: every datagram gets the header
// with the next sequence number and goes to the server's address; our own
// state and accessory lists are sent from here. In: at most 256 datagrams a
// frame, only from the server's address and port and with a sound header,
// each dispatched by type to the join, the roster or the feature channels.
//
// Index:
//   send path      header, sequence, the time of the last send
//   our datagrams  net_send_state, net_send_accessories
//   receive        the receive loop and its checks
//   dispatch       by packet type
#include "net/net_client_state.h"
#include <string.h>

// ---------------------------------------------------------------- send path

void net_send_datagram(uint8_t type, const uint8_t *payload, int len)
{
    net_client_state &client = net_client;
    if (client.socket == INVALID_SOCKET || len < 0 || len > NET_RECV_BUFFER - NET_HEADER_SIZE)
        return;
    uint8_t buf[NET_RECV_BUFFER];
    net_write_header(buf, type, ++client.sequence, client.our_id);
    if (len)
        memcpy(buf + NET_HEADER_SIZE, payload, (size_t)len);
    // Sending errors are ignored: the keep-alive and the silence watch cover a lost datagram.
    sendto(client.socket, (const char *)buf, NET_HEADER_SIZE + len, 0, (const sockaddr *)&client.server,
           sizeof client.server);
    client.last_send_time = client.send_time;
}

// ---------------------------------------------------------------- our datagrams

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
            net_send_datagram(NET_ACC_PART, p, n);
    }
}

bool net_send_state(double now, const net_pose *pose)
{
    if (!net_is_joined() || !pose)
        return false;
    uint8_t p[128];
    uint32_t sender_ms = (uint32_t)(uint64_t)(now * 1000.0);
    int n = net_build_state(p, sizeof p, sender_ms, pose, net_local_state_hash());
    if (n < 0)
        return false;
    net_client.send_time = now;
    net_send_datagram(NET_STATE, p, n);
    net_client.states_sent++;
    return true;
}

// ---------------------------------------------------------------- receive

namespace {

bool dispatch(const net_header &h, const uint8_t *p, size_t n, double now);

/* recvfrom on the connection socket, or the test's replacement. */
int receive_one(char *buf, int len, sockaddr_in *from, int *error)
{
    int from_len = sizeof *from;
    if (net_client.recv_fn)
        return net_client.recv_fn((uintptr_t)net_client.socket, buf, len, from, &from_len, error);
    int n = recvfrom(net_client.socket, buf, len, 0, (sockaddr *)from, &from_len);
    *error = n < 0 ? WSAGetLastError() : 0;
    return n;
}

bool from_server(const sockaddr_in &from)
{
    return from.sin_family == AF_INET && from.sin_addr.s_addr == net_client.server.sin_addr.s_addr &&
           from.sin_port == net_client.server.sin_port;
}

} // namespace

void net_receive_datagrams(double now)
{
    static uint8_t buf[NET_RECV_BUFFER];
    for (int i = 0; i < 256 && net_client.socket != INVALID_SOCKET; i++) {
        sockaddr_in from = {};
        int error = 0;
        int n = receive_one((char *)buf, sizeof buf, &from, &error);
        if (n < 0) {
            if (error == WSAEWOULDBLOCK)
                return;
            if (error == WSAECONNRESET || error == WSAEMSGSIZE)
                continue;
            net_log_server("[net] recvfrom error %d", error);
            return;
        }
        net_header h;
        if (!from_server(from) || !net_read_header(buf, (size_t)n, &h))
            continue;
        net_client.datagrams_received++;
        net_client.last_receive_time = now;
        if (!dispatch(h, buf + NET_HEADER_SIZE, (size_t)n - NET_HEADER_SIZE, now))
            return;
    }
}

// ---------------------------------------------------------------- dispatch

namespace {

/* One datagram from the server; false ends this frame's receiving. */
bool dispatch(const net_header &h, const uint8_t *p, size_t n, double now)
{
    uint16_t ours = net_client.our_id;
    switch (h.type) {
    case NET_WELCOME:
        net_on_welcome(h.player, now);
        return true;
    case NET_REFUSED:
        return net_on_refused(p, n, now);
    case NET_PLAYER_DROPPED:
        if (h.player == ours)
            return net_on_dropped_us(p, n, now);
        net_roster_on_dropped(h.player, p, n);
        return true;
    case NET_PLAYER_JOINED:
        net_roster_on_joined(h.player, ours, p, n, now);
        return true;
    case NET_STATE:
        net_roster_on_state(h.player, h.seq, p, n, now);
        return true;
    case NET_ACC_PART:
        net_roster_on_acc_part(h.player, p, n);
        return true;
    case NET_ROLE:
        net_roster_on_role(h.player, ours, p, n);
        return true;
    case NET_MESSAGE:
        net_roster_on_message(p, n);
        return true;
    case NET_AUTH_CHALLENGE:
        net_on_auth_challenge(p, n);
        return true;
    default:
        net_features_on_datagram(h, p, n, now);
        return true;
    }
}

} // namespace

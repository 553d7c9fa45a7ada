// The info query: asks any server (not only the connected one) for its name,
// player count and protocol on a socket of its own, opened by the first query
// and kept open, and logs every answer carrying the last query's nonce (also
// one that comes late), and that none came within 2 s.
#include "net/net_client_state.h"
#include <stdio.h>
#include <string.h>
#include "base/plain_text.h"

namespace {

void read_replies()
{
    net_info_state &info = net_client.info;
    if (info.socket == INVALID_SOCKET)
        return;
    for (int i = 0; i < 256; i++) {
        uint8_t buf[512];
        int n = recvfrom(info.socket, (char *)buf, sizeof buf, 0, nullptr, nullptr);
        if (n < 0) {
            int error = WSAGetLastError();
            if (error == WSAECONNRESET || error == WSAEMSGSIZE)
                continue;
            break;
        }
        uint32_t nonce;
        uint16_t protocol;
        uint8_t players, max_players;
        char name[256], clean[256];
        // A late answer to the last query is still its answer; the nonce is
        // what ties it to the query, not the deadline.
        if (!net_parse_info_reply(buf, (size_t)n, &nonce, &protocol, &players, &max_players, name) ||
            nonce != info.nonce)
            continue;
        text_clean(clean, sizeof clean, name, sizeof name);
        net_log_server("[net] info: %s is '%s', %u/%u players, protocol %u%s", info.label, clean, players,
                       max_players, protocol, protocol == NET_PROTOCOL_VERSION ? "" : " (NOT ours: can't join)");
        info.deadline = 0;
    }
}

} // namespace

void net_info_tick(double now)
{
    read_replies();
    net_info_state &info = net_client.info;
    if (info.deadline != 0 && now > info.deadline) {
        net_log("[net] info: no answer from %s within 2 s", info.label);
        info.deadline = 0;
    }
}

void net_query_info(const char *host, uint16_t port, double now)
{
    net_client_state &client = net_client;
    net_info_state &info = client.info;
    in_addr address;
    bool ok = host && net_numeric_host(host, &address);
    if (!ok && host && client.socket != INVALID_SOCKET && !client.lookup.pending && client.lookup.retry_at == 0 &&
        strcmp(host, client.connection.host) == 0) {
        address = client.server.sin_addr;
        ok = true;
    }
    if (!ok) {
        char clean[64];
        net_log("[net] info: '%s' needs to be an IPv4 address (or the connected server's name)",
                text_clean(clean, sizeof clean, host ? host : "", 63));
        return;
    }
    if (!net_winsock_start()) {
        net_log("[net] WSAStartup failed");
        return;
    }
    if (info.socket == INVALID_SOCKET)
        info.socket = net_open_udp_socket();
    if (info.socket == INVALID_SOCKET) {
        net_log("[net] socket failed (%d)", WSAGetLastError());
        return;
    }
    info.nonce = (uint32_t)GetTickCount() | 1u;
    uint8_t query[16];
    net_build_info_query(query, info.nonce);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr = address;
    sendto(info.socket, (const char *)query, sizeof query, 0, (const sockaddr *)&to, sizeof to);
    char shown_host[64];
    snprintf(info.label, sizeof info.label, "%s:%u", text_clean(shown_host, sizeof shown_host, host, 63), port);
    info.deadline = now + 2.0;
    net_log("[net] info: asking %s", info.label);
}

void net_info_close()
{
    net_info_state &info = net_client.info;
    if (info.socket != INVALID_SOCKET) {
        closesocket(info.socket);
        info.socket = INVALID_SOCKET;
    }
    info.deadline = 0;
}

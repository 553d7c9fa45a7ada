// The connection's status in words: the one line the UI's status line
// shows (resolving, waiting to resolve, joining, joined, offline, with the
// last problem), and the lines "net status" logs about the connection and
// every player in the roster.
#include "net/net_client_state.h"
#include <stdio.h>
#include "base/plain_text.h"

const char *net_status_line()
{
    const net_client_state &client = net_client;
    static char line[200];
    char host[64]; // control bytes replaced: the host may come from a fetched server list
    text_clean(host, sizeof host, client.connection.host, sizeof client.connection.host);
    bool open = client.socket != INVALID_SOCKET;
    const char *problem_gap = client.status[0] ? ": " : "";
    if (open && client.lookup.pending)
        snprintf(line, sizeof line, "resolving %s", host);
    else if (open && client.lookup.retry_at != 0)
        snprintf(line, sizeof line, "waiting to resolve %s (%s)", host, client.status);
    else if (net_is_joined())
        snprintf(line, sizeof line, "joined %s:%u as player %u", host, client.connection.port,
                 client.our_id);
    else if (open)
        snprintf(line, sizeof line, "joining %s:%u (try %d)%s%s", host, client.connection.port,
                 client.hello_tries, problem_gap, client.status);
    else
        snprintf(line, sizeof line, "offline%s%s", problem_gap, client.status);
    return line;
}

void net_print_status(double now)
{
    const net_client_state &client = net_client;
    if (client.socket == INVALID_SOCKET) {
        net_log("[net] status: not connected");
        return;
    }
    char address[32], name[33];
    net_address_text(address, sizeof address, client.server.sin_addr);
    text_clean(name, sizeof name, client.connection.name, sizeof client.connection.name);
    net_log("[net] status: server %s:%u name '%s' id %u (%s), last packet %.1f s ago, %llu states sent, "
            "%llu packets in",
            address, client.connection.port, name, client.our_id,
            net_is_joined() ? "joined" : "joining", now - client.last_receive_time,
            (unsigned long long)client.states_sent, (unsigned long long)client.datagrams_received);
    char clean[33];
    for (auto &p : net_roster) {
        if (!p.used)
            continue;
        net_log("[net]   player %u '%s': %llu states, last %.1f s ago, clock offset %.3f s, accessories "
                "truck %d / trailer %d",
                p.id, text_clean(clean, sizeof clean, p.name, 32), (unsigned long long)p.states,
                now - p.last_state_time, p.offset, (int)p.acc[0].entries, (int)p.acc[1].entries);
    }
}

/* The network client's one state, `net_client`, and the functions its files
 * call on one another. Everything here belongs to the game thread. The files:
 *   net_connection.cpp  opening, joining, the per-frame order, leaving
 *   net_lookup.cpp      the asynchronous name lookup
 *   net_datagrams.cpp   the send path, the receive loop and dispatch by type
 *   net_info.cpp        the info query and its own socket
 *   net_features.cpp    the feature channels: receivers, senders, values
 *   net_status.cpp      the status texts */
#pragma once
#include "net/net_socket.h"
#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include "net/net_internal.h"
#include "net/net_win.h"
#include "net/net_wire.h"

#define NET_NO_TRAFFIC_SLOT 0xFFFFFFFFu

struct net_lookup_request; /* net_lookup.cpp */

struct net_lookup_state {
    HANDLE event = nullptr; /* manual reset, created once */
    net_lookup_request *request = nullptr;
    bool pending = false;
    double retry_at = 0; /* 0: none */
};

struct net_info_state {
    SOCKET socket = INVALID_SOCKET; /* opened by the first query, kept open */
    uint32_t nonce = 0;             /* of the last query */
    double deadline = 0;            /* 0: no query waiting */
    char label[80] = "";            /* "host:port" */
};

struct net_feature_state {
    net_prop_handlers props = {};
    net_job_handlers jobs = {};
    net_traffic_handlers traffic = {};
    bool time_of_day_received = false;
    double time_of_day_seconds = 0, time_of_day_received_at = 0;
    float time_of_day_rate = 0;
    bool weather_received = false;
    uint8_t weather_payload[6] = {}; /* kind, roll id, seconds to the next roll */
    uint16_t traffic_owner = 0;
    uint32_t traffic_slot = NET_NO_TRAFFIC_SLOT;
};

struct net_client_state {
    SOCKET socket = INVALID_SOCKET; /* the connection's */
    bool winsock_started = false;
    sockaddr_in server = {};
    net_connection connection = {};
    uint16_t our_id = 0;
    uint32_t sequence = 0;
    int hello_tries = 0;
    double last_hello_time = 0;
    double send_time = 0; /* the send path's current time */
    double last_send_time = 0, last_receive_time = 0, joined_time = 0, accessories_due = 0;
    uint8_t last_refusal = 0;
    char status[96] = "";
    uint64_t datagrams_received = 0, states_sent = 0;
    net_lookup_state lookup;
    net_info_state info;
    net_feature_state features;
    net_recv_fn recv_fn = nullptr;
};

extern net_client_state net_client;

/* net_connection.cpp */
bool net_winsock_start();
/* Stops Winsock when neither socket is open. */
void net_winsock_stop_if_unused();
SOCKET net_open_udp_socket();
bool net_is_joined();
/* "a.b.c.d" */
void net_address_text(char *out, size_t size, const in_addr &address);
/* "localhost" (any case) or a dotted IPv4 address. */
bool net_numeric_host(const char *host, in_addr *out);
void net_send_hello();
/* Handling of the join's packet types; false ends this frame's receiving. */
void net_on_welcome(uint16_t id, double now);
bool net_on_refused(const uint8_t *p, size_t n, double now);
bool net_on_dropped_us(const uint8_t *p, size_t n, double now);
void net_on_auth_challenge(const uint8_t *p, size_t n);

/* net_lookup.cpp: false (with the status text set) when it cannot start. */
bool net_lookup_start();
/* Takes the result once the lookup has completed: found, the hello goes out. */
void net_lookup_poll(double now);
/* Cancels a pending lookup, waiting up to 2 s; clears the retry time. */
void net_lookup_cancel();
/* The event too (shutdown). */
void net_lookup_close();
/* Logs the lookup's failure and schedules the next try in 10 s. */
void net_lookup_retry_later(double now);

/* net_datagrams.cpp */
void net_send_datagram(uint8_t type, const uint8_t *payload, int len);
void net_receive_datagrams(double now);

/* net_info.cpp */
void net_info_tick(double now);
void net_info_close();

/* net_features.cpp */
void net_features_on_datagram(const net_header &h, const uint8_t *p, size_t n, double now);
void net_features_forget_received();

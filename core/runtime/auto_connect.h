/* Auto-connect: joins the configured server while the player is in the game
 * and leaves it after the player has left the game for more than 3 s. The
 * decision (auto_connect_step.cpp) is pure logic over what the frame
 * observed; auto_connect.cpp feeds it from the network client and game
 * memory and carries it out. */
#pragma once
#include <stdint.h>

typedef struct auto_connect_state {
    bool paused;
    bool owned;              /* the open connection was made by auto-connect */
    bool refusal_handled;    /* the refusal now reported was acted on already */
    double next_attempt;     /* seconds */
    double left_game;        /* seconds; 0 = in the game */
    uint32_t last_notice;    /* id of the last kick or ban notice seen */
} auto_connect_state;

typedef struct auto_connect_input {
    double now;
    bool enabled;            /* autoconnect on and a server configured */
    bool in_game;
    bool open;               /* the connection socket is open */
    uint8_t refusal;         /* the network client's last refusal code */
    bool has_notice;
    uint32_t notice;
    uint8_t notice_kind;     /* 5 = ban */
} auto_connect_input;

enum auto_connect_action {
    AUTO_NONE,
    AUTO_DISCONNECT,         /* "left the game; disconnecting": disconnect with a leave, not owned */
    AUTO_REFUSED,            /* "the server refused us (%u)": paused */
    AUTO_FULL,               /* "server full; retrying in 30 s" */
    AUTO_CONNECT,            /* "connecting to ...": the caller sets owned from net_connect */
};

typedef struct auto_connect_result {
    bool notice_seen;        /* a new kick or ban notice paused auto-connect */
    auto_connect_action action;
} auto_connect_result;

/* One frame of auto-connect; updates the state and says what to do. */
auto_connect_result auto_connect_step(auto_connect_state *s, const auto_connect_input *in);

/* auto_connect.cpp: once a frame, before the network client's tick. */
void net_auto_connect_tick(double now);
/* "config reload": un-paused, next attempt at once. */
void auto_connect_reload();
bool auto_connect_paused();
/* After the reconnect of a core reload: whether auto-connect owns that connection. */
void auto_connect_set_owned(bool owned);
/* Hands the net command what it needs from the runtime: the configured name
 * and server, and the pause and resume of auto-connect. */
void auto_connect_env_install();

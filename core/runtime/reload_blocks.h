/* Reload blocks: what a core hands the next core build across a hot reload.
 * Three named sections of the process carry the spawned vehicle with its
 * motion settings (core block), the spawned trailer with its follower
 * (trailer block) and the connection with the binding of remote players to
 * our vehicles (net block). dm_core_init maps them and takes the core and
 * trailer blocks back; the first frame takes the net block back;
 * dm_core_shutdown writes all three. A reader clears the magic, so a block
 * is taken back at most once. reload_blocks.cpp. The vehicles fill and
 * take back the payload of the core and trailer blocks (their layouts are
 * in spawn_reload.h); the runtime writes and checks magic, version and the
 * profile, and owns the net block.
 *
 * The layouts are read by other core builds: little-endian, every field at
 * the offset asserted below, never moved. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "vehicles/spawn_reload.h"

#define RELOAD_CORE_NAME "Localdrovemark_core_state_%lu"
#define RELOAD_TRAILER_NAME "Localdrovemark_trailer_state_%lu"
#define RELOAD_NET_NAME "Localdrovemark_net_state_%lu"
#define RELOAD_CORE_MAGIC 0x444D434Fu    /* "DMCO": bytes 4F 43 4D 44 */
#define RELOAD_TRAILER_MAGIC 0x444D524Cu /* "DMRL" */
#define RELOAD_NET_MAGIC 0x444D4E54u     /* "DMNT" */
#define RELOAD_VERSION 1u

typedef struct net_state_block {
    uint32_t magic, version;
    uint64_t game_ctrl;
    uint64_t vehicle;        /* the spawned vehicle when its state is 2, else 0 */
    uint32_t connected;      /* the socket was open: the connection below is filled */
    uint32_t hidden;         /* our spawned vehicle was hidden (state 2 only) */
    uint32_t remote_trailers;
    uint16_t vehicle_player; /* the remote player our vehicle shows (state 2 only) */
    uint16_t trailer_player; /* the remote player our trailer shows */
    char host[64];
    uint16_t port;
    char name[33];
    uint8_t reserved;
    uint32_t nonce;
} net_state_block;
static_assert(offsetof(net_state_block, game_ctrl) == 8 && offsetof(net_state_block, vehicle) == 16 &&
                  offsetof(net_state_block, connected) == 24 && offsetof(net_state_block, hidden) == 28 &&
                  offsetof(net_state_block, remote_trailers) == 32 &&
                  offsetof(net_state_block, vehicle_player) == 36 &&
                  offsetof(net_state_block, trailer_player) == 38 && offsetof(net_state_block, host) == 40 &&
                  offsetof(net_state_block, port) == 104 && offsetof(net_state_block, name) == 106 &&
                  offsetof(net_state_block, reserved) == 139 && offsetof(net_state_block, nonce) == 140 &&
                  sizeof(net_state_block) == 144,
              "the net block's layout");

/* dm_core_init: creates or opens the three sections (a section that cannot
 * be mapped leaves its block off, silently), then takes back the core and
 * trailer blocks (restore_after_reload); drawing that was on asks for
 * the draw hook, which dm_core_init decides on at once (draw_hook_decide). */
void reload_blocks_map();
void restore_after_reload();
/* Each frame: the profile the blocks are written for. */
void reload_blocks_frame();
/* dm_core_shutdown, before the sockets close and the hooks go. */
void reload_blocks_write();
/* The first frame: the binding and the connection from the net block. */
void reload_restore_net(double now);

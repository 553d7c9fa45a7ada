// Reload blocks (reload_blocks.h): the spawned vehicle, its trailer and the
// connection handed from one core build to the next. The vehicles fill and
// take back their blocks' payload (spawn_reload.h); here the sections, their
// magic, version and profile, the net block and the order.
//
// Index
//   the sections     reload_blocks_map
//   writing          reload_blocks_frame, reload_blocks_write (dm_core_shutdown)
//   core and trailer restore_after_reload (dm_core_init), with the hidden
//                    flag from the net block
//   net              reload_restore_net (the first frame)
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "runtime/auto_connect.h"
#include "base/core.h"
#include "base/core_config.h"
#include "base/game_mem.h"
#include "runtime/hooks.h"
#include "net/net.h"
#include "runtime/reload_blocks.h"
#include "runtime/runtime.h"
#include "base/shared_section.h"

namespace {

/* Null while that block is off for this core build. */
dm_core_state_block *core_block;
trailer_state_block *trailer_block;
net_state_block *net_block;
/* game_ctrl as the last frame saw it (at init before the first frame). */
uint64_t frame_ctrl;
/* The core block said the old core drew and no frame has yet decided on the
 * draw hook: a shutdown before that frame hands the drawing on as it came. */
bool drawing_undecided;

template <typename T> T *map_block(const char *format)
{
    char name[64];
    snprintf(name, sizeof name, format, (unsigned long)GetCurrentProcessId());
    return (T *)section_map(name, sizeof(T));
}

} // namespace

/* ---- the sections ---- */

void reload_blocks_map()
{
    frame_ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    core_block = map_block<dm_core_state_block>(RELOAD_CORE_NAME);
    trailer_block = map_block<trailer_state_block>(RELOAD_TRAILER_NAME);
    net_block = map_block<net_state_block>(RELOAD_NET_NAME);
}

/* ---- writing ---- */

void reload_blocks_frame()
{
    frame_ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    drawing_undecided = false; // this frame's "draw_hook" step decides
}

void reload_blocks_write()
{
    // The profile the last frame saw: a profile changed after it leaves
    // nothing that the next core takes back.
    uint64_t ctrl = frame_ctrl;
    if (core_block) {
        dm_core_state_block &b = *core_block;
        b.magic = RELOAD_CORE_MAGIC;
        b.version = RELOAD_VERSION;
        b.game_ctrl = ctrl;
        spawn_reload_save(&b);
        b.drawing = (hook_draw_installed() && hook_drawing_enabled()) || drawing_undecided ? 1 : 0;
    }
    if (core_block && trailer_block) {
        trailer_state_block &t = *trailer_block;
        t.magic = RELOAD_TRAILER_MAGIC;
        t.version = RELOAD_VERSION;
        t.game_ctrl = ctrl;
        spawn_reload_save_trailer(&t);
    }
    if (net_block) {
        net_state_block &n = *net_block;
        memset(&n, 0, sizeof n);
        n.magic = RELOAD_NET_MAGIC;
        n.version = RELOAD_VERSION;
        n.game_ctrl = ctrl;
        spawn_reload_binding bind;
        spawn_reload_save_binding(&bind);
        n.vehicle = bind.vehicle;
        n.hidden = bind.hidden;
        n.remote_trailers = net_remote_trailers() ? 1 : 0;
        n.vehicle_player = bind.vehicle_player;
        n.trailer_player = bind.trailer_player;
        net_connection c;
        memset(&c, 0, sizeof c);
        if (net_get_connection(&c)) {
            n.connected = 1;
            snprintf(n.host, sizeof n.host, "%s", c.host);
            n.port = c.port;
            snprintf(n.name, sizeof n.name, "%s", c.name);
            n.nonce = c.nonce;
        }
    }
}

/* ---- core and trailer ---- */

void restore_after_reload()
{
    if (!core_block)
        return;
    dm_core_state_block &b = *core_block;
    if (b.magic != RELOAD_CORE_MAGIC || b.version != RELOAD_VERSION)
        return;
    uint64_t ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    // Hidden comes back with the vehicle, before the draw hook: the render
    // thread may draw before the first frame takes the rest of the net
    // block back.
    uint64_t hidden_vehicle = 0;
    if (net_block && net_block->magic == RELOAD_NET_MAGIC && net_block->version == RELOAD_VERSION &&
        net_block->game_ctrl == ctrl && net_block->hidden)
        hidden_vehicle = net_block->vehicle;
    spawn_reload_restore(&b, ctrl, hidden_vehicle);
    if (trailer_block) {
        trailer_state_block &t = *trailer_block;
        if (t.magic == RELOAD_TRAILER_MAGIC && t.version == RELOAD_VERSION) {
            t.magic = 0;
            spawn_reload_restore_trailer(&t, ctrl);
        }
    }
    if (b.drawing) {
        drawing_undecided = game_build_ok();
        draw_hook_ask(DRAW_HOOK_FOR_RELOAD);
    }
    b.magic = 0;
}

/* ---- net ---- */

void reload_restore_net(double now)
{
    if (!net_block)
        return;
    net_state_block &n = *net_block;
    if (n.magic != RELOAD_NET_MAGIC || n.version != RELOAD_VERSION)
        return;
    n.magic = 0;
    net_set_remote_trailers(n.remote_trailers != 0);
    uint64_t ctrl = game_build_ok() ? game_ctrl_guarded() : 0;
    spawn_reload_binding bind = {};
    bind.vehicle = n.vehicle;
    bind.hidden = n.hidden ? 1 : 0;
    bind.vehicle_player = n.vehicle_player;
    bind.trailer_player = n.trailer_player;
    uint16_t player = spawn_reload_restore_binding(&bind, n.game_ctrl == ctrl);
    if (!n.connected)
        return;
    char host[sizeof n.host], name[sizeof n.name];
    snprintf(host, sizeof host, "%.*s", (int)sizeof n.host - 1, n.host);
    snprintf(name, sizeof name, "%.*s", (int)sizeof n.name - 1, n.name);
    core_log("[core] net: reconnecting to %s:%u as '%s' after reload (slot -> player %u)", host, (unsigned)n.port,
             name, (unsigned)player);
    net_connect(host, n.port, name, n.nonce, now);
    auto_connect_set_owned(core_config.autoconnect && core_config.server[0] &&
                           _stricmp(host, core_config.server) == 0);
}

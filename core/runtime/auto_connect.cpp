// Auto-connect carried out: each frame feeds auto_connect_step from the
// network client and game memory and acts on its answer; "config reload" and
// the net command's connect and disconnect pause and resume it.
#include <stdio.h>
#include "runtime/auto_connect.h"
#include "base/core.h"
#include "base/core_config.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "vehicles/vehicles.h"

namespace {

auto_connect_state auto_state;

bool in_game()
{
    if (!game_build_ok())
        return true; // the check needs game memory: count as in the game
    return game_local_truck() != 0;
}

void env_config_name(char *out, unsigned size) { snprintf(out, size, "%s", core_config.name); }

bool env_config_server(char *host, unsigned size, uint16_t *port)
{
    if (!core_config.server[0])
        return false;
    snprintf(host, size, "%s", core_config.server);
    *port = core_config.port;
    return true;
}

void env_resume()
{
    auto_state.paused = false;
    auto_state.owned = false;
    auto_state.refusal_handled = false; // the hand connect clears the client's refusal code
}

bool env_pause()
{
    auto_state.paused = true;
    auto_state.owned = false;
    return core_config.autoconnect && core_config.server[0];
}

} // namespace

void auto_connect_set_owned(bool owned) { auto_state.owned = owned; }

void net_auto_connect_tick(double now)
{
    auto_connect_input in = {};
    in.now = now;
    in.enabled = core_config.autoconnect && core_config.server[0];
    net_kick_record kick;
    if (net_get_kick_info(&kick)) {
        in.has_notice = true;
        in.notice = kick.notice;
        in.notice_kind = kick.kind;
    }
    in.in_game = in.enabled && in_game();
    in.open = net_is_open();
    in.refusal = net_last_refusal();
    auto_connect_result r = auto_connect_step(&auto_state, &in);
    if (r.notice_seen)
        core_log("[core] %s from the server%s%s; auto-connect paused", kick.kind == 5 ? "banned" : "kicked",
                 kick.text[0] ? ": " : "", kick.text);
    switch (r.action) {
    case AUTO_DISCONNECT:
        core_log("[core] auto: left the game; disconnecting");
        net_disconnect(true);
        break;
    case AUTO_REFUSED:
        core_log("[core] auto: the server refused us (%u); auto-connect paused until `config reload` or `net connect`",
                 (unsigned)in.refusal);
        break;
    case AUTO_FULL:
        core_log("[core] auto: server full; retrying in 30 s");
        break;
    case AUTO_CONNECT:
        core_log("[core] auto: connecting to %s:%u as '%s'", core_config.server, (unsigned)core_config.port,
                 core_config.name);
        auto_state.owned = net_connect(core_config.server, core_config.port, core_config.name, 0, now);
        break;
    case AUTO_NONE:
        break;
    }
}

void auto_connect_reload()
{
    auto_state.paused = false;
    auto_state.next_attempt = 0;
}

bool auto_connect_paused() { return auto_state.paused; }

void auto_connect_env_install()
{
    net_command_env env = {};
    env.base_dir = core_api ? core_api->base_dir : nullptr;
    env.config_name = env_config_name;
    env.config_server = env_config_server;
    env.auto_connect_resume = env_resume;
    env.auto_connect_pause = env_pause;
    env.remote_gone = remote_gone;
    env.slot_status = remote_slot_status;
    net_set_command_env(&env);
}

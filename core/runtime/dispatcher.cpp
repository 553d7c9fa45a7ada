// dm_cmd_run: the core's one console, for cmd.txt lines and the UI's queued
// lines. Logs the line, applies the game-build gate, then runs the first
// matching row of the command table.
#include <string.h>
#include "auto_connect.h"
#include "core.h"
#include "core_config.h"
#include "diagnostics.h"
#include "game_mem.h"
#include "hooks.h"
#include "net_client.h"
#include "runtime.h"
#include "ui_frame.h"
#include "vehicles.h"
#include "world.h"

int dm_cmd_run(const char *line, const dm_frame_info *info)
{
    core_log("[core] cmd: %s", line);
    if (!game_build_ok() && !cmd_gate_passes(line)) {
        core_log("[core] refused on this game build (only ping, pos, build, threads, net, config, update)");
        return 0;
    }
    const char *rest = nullptr;
    cmd_id id = cmd_match(line, dm_spawn_state_value() == SPAWN_SPAWNED, &rest);
    switch (id) {
    case CMD_NONE:
        core_log("[core] unknown command");
        return 0;
    case CMD_PING: core_log("[core] pong"); break;
    case CMD_POS: log_telemetry_pos(info); break;
    case CMD_BUILD: game_build_report(); break;
    case CMD_UPDATE: update_command(rest); break;
    case CMD_THREADS: cmd_threads(); break;
    case CMD_LOCAL: cmd_local(info); break;
    case CMD_SPAWN: cmd_spawn(rest); break;
    case CMD_DESPAWN: spawn_despawn(); break;
    case CMD_TRAILER: spawn_trailer(); break;
    case CMD_TRAILER_OFF:
        if (dm_spawn_trailer_state_value() == SPAWN_NONE)
            core_log("[core] trailer: none");
        else
            dm_trailer_remove("trailer off");
        break;
    case CMD_INFO: cmd_info(); break;
    case CMD_CONFIG_RELOAD:
        config_load();
        auto_connect_reload();
        break;
    case CMD_CONFIG_REFRESH: config_refresh(); break;
    case CMD_CONFIG: cmd_config_status(); break;
    case CMD_CARGODUMP: cmd_cargodump(); break;
    case CMD_PEEK: cmd_peek(rest); break;
    case CMD_TRAFFIC: traffic_command(info, rest); break;
    case CMD_RVSPAWN: cmd_rvspawn(rest); break;
    case CMD_RVDESPAWN: cmd_rvdespawn(rest); break;
    case CMD_RVINFO: {
        bool any = false;
        for (int slot = 0; slot < DM_RV_SLOTS; slot++)
            if (dm_rv_slot_netobj(slot)) {
                any = true;
                dm_rv_info(slot);
            }
        if (!any)
            core_log("[core] rv: none");
        break;
    }
    case CMD_REMOTE: cmd_remote(rest); break;
    case CMD_RVMOVE: cmd_rvmove(rest); break;
    case CMD_WEATHER: weather_command(rest); break;
    case CMD_ROADEVENTS: roadevents_command(info, rest); break;
    case CMD_CLOCK: clock_command(rest, info->seconds); break;
    case CMD_MEMREC: cmd_memrec(rest, info->seconds); break;
    case CMD_MODEL:
        props_command(rest);
        draw_hook_ask(DRAW_HOOK_FOR_PROPS_COMMAND);
        break;
    case CMD_GPS: gps_command(info, rest); break;
    case CMD_CAM: dm_cam_command(rest); break;
    case CMD_NAMETAGS: dm_nametags_command(rest); break;
    case CMD_JOB: job_command(rest, info); break;
    case CMD_DAMAGE:
    case CMD_REPAIR: damage_command(line); break;
    case CMD_WATCH_ON: cmd_watch(true); break;
    case CMD_WATCH_OFF: cmd_watch(false); break;
    case CMD_CMP: cmd_cmp(); break;
    case CMD_MOVE: cmd_move(rest ? rest : ""); break;
    case CMD_HOOK_ON:
    case CMD_HOOK_OFF:
    case CMD_SHADOW_ON:
    case CMD_SHADOW_OFF: hook_command(id); break;
    case CMD_DEFDUMP: cmd_defdump(rest); break;
    case CMD_SPAWNLIST: cmd_spawnlist(rest); break;
    case CMD_RVVEL:
    case CMD_RVSTEP:
    case CMD_RVCLOCK: dm_rv_inline_command(id, rest); break;
    case CMD_FLAGS:
    case CMD_FLAGS_OFF:
    case CMD_WHEELDBG:
    case CMD_STEER_FLIP:
    case CMD_SPAWNMODE_CLONE:
    case CMD_SPAWNMODE_SHARE:
    case CMD_COLLIDE_ON:
    case CMD_COLLIDE_OFF:
    case CMD_TICK_ON:
    case CMD_TICK_OFF: dm_vehicle_inline_command(id, rest); break;
    case CMD_NET: net_command(line, info); break;
    }
    return 1;
}

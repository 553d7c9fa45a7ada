// cmd_run: the core's one console, for cmd.txt lines and the UI's queued
// lines. Logs the line, finds the first matching row of the command table,
// applies the game-build gate of the row, then runs its handler.
//
// A command is one row: its word, how the word is matched (cmd_table.h), whether
// it runs on a game build other than the supported one, and its handler.
#include <string.h>
#include "runtime/auto_connect.h"
#include "base/cmd_table.h"
#include "base/core.h"
#include "base/core_config.h"
#include "runtime/diagnostics.h"
#include "base/game_mem.h"
#include "runtime/hooks.h"
#include "net/net.h"
#include "online/online.h"
#include "props/props.h"
#include "runtime/runtime.h"
#include "ui/ui.h"
#include "vehicles/vehicles.h"
#include "world/world.h"

namespace {

void run_trailer_off()
{
    if (spawn_trailer_state_value() == SPAWN_NONE)
        core_log("[core] trailer: none");
    else
        trailer_remove("trailer off");
}

void run_rvinfo()
{
    bool any = false;
    for (int slot = 0; slot < DM_RV_SLOTS; slot++)
        if (rv_slot_netobj(slot)) {
            any = true;
            rv_info(slot);
        }
    if (!any)
        core_log("[core] rv: none");
}

void run_model(const char *rest)
{
    props_command(rest);
    draw_hook_ask(DRAW_HOOK_FOR_PROPS_COMMAND);
}

typedef const cmd_call &call;

} // namespace

// Order matters: the first match wins.
const cmd_row cmd_rows[] = {
    { "ping", CMD_EXACT, true, [](call) { core_log("[core] pong"); } },
    { "pos", CMD_EXACT, true, [](call c) { log_telemetry_pos(c.info); } },
    { "build", CMD_EXACT, true, [](call) { game_build_report(); } },
    { "update", CMD_WORD, true, [](call c) { update_command(c.rest); } },
    { "threads", CMD_EXACT, true, [](call) { cmd_threads(); } },
    { "local", CMD_EXACT, false, [](call c) { cmd_local(c.info); } },
    { "spawn", CMD_WORD_DEFAULT, false, [](call c) { cmd_spawn(c.rest); } },
    { "despawn", CMD_EXACT, false, [](call) { spawn_despawn(); } },
    { "trailer", CMD_EXACT, false, [](call) { spawn_trailer(); } },
    { "trailer off", CMD_EXACT, false, [](call) { run_trailer_off(); } },
    { "info", CMD_EXACT, false, [](call) { cmd_info(); } },
    { "config reload", CMD_EXACT, true, [](call) { config_load(); auto_connect_reload(); } },
    { "config refresh", CMD_EXACT, true, [](call) { config_refresh(); } },
    { "config", CMD_EXACT, true, [](call) { cmd_config_status(); } },
    { "cargodump", CMD_EXACT, false, [](call) { cmd_cargodump(); } },
    { "peek ", CMD_PREFIX, false, [](call c) { cmd_peek(c.rest); } },
    { "traffic", CMD_WORD, false, [](call c) { traffic_command(c.info, c.rest); } },
    { "rvspawn", CMD_WORD, false, [](call c) { cmd_rvspawn(c.rest); } },
    { "rvdespawn", CMD_WORD, false, [](call c) { cmd_rvdespawn(c.rest); } },
    { "rvinfo", CMD_EXACT, false, [](call) { run_rvinfo(); } },
    { "rvvel", CMD_PREFIX, false, [](call c) { cmd_rvvel(c.rest); } },
    { "remote", CMD_WORD, false, [](call c) { cmd_remote(c.rest); } },
    { "rvmove", CMD_PREFIX, false, [](call c) { cmd_rvmove(c.rest); } },
    { "rvstep", CMD_PREFIX, false, [](call c) { cmd_rvstep(c.rest); } },
    { "rvclock", CMD_PREFIX, false, [](call c) { cmd_rvclock(c.rest); } },
    { "weather", CMD_WORD, false, [](call c) { weather_command(c.rest); } },
    { "roadevents", CMD_WORD, false, [](call c) { roadevents_command(c.info, c.rest); } },
    { "clock", CMD_WORD, false, [](call c) { clock_command(c.rest, c.info->seconds); } },
    { "memrec ", CMD_PREFIX, false, [](call c) { cmd_memrec(c.rest, c.info->seconds); } },
    { "model", CMD_WORD, false, [](call c) { run_model(c.rest); } },
    { "gps", CMD_WORD, false, [](call c) { gps_command(c.info, c.rest); } },
    { "cam", CMD_WORD, false, [](call c) { cam_command(c.rest); } },
    { "nametags", CMD_WORD, false, [](call c) { nametags_command(c.rest); } },
    { "job", CMD_WORD, false, [](call c) { job_command(c.rest, c.info); } },
    { "damage", CMD_EXACT, false, [](call) { damage_command(); } },
    { "repair", CMD_WORD, false, [](call c) { repair_command(c.rest); } },
    { "watch on", CMD_EXACT, false, [](call) { cmd_watch(true); } },
    { "watch off", CMD_EXACT, false, [](call) { cmd_watch(false); } },
    { "cmp", CMD_EXACT, false, [](call) { cmd_cmp(); } },
    { "flags off", CMD_EXACT, false, [](call) { cmd_flags_off(); } },
    { "flags ", CMD_PREFIX_SPAWNED, false, [](call c) { cmd_flags(c.rest); } },
    { "wheeldbg", CMD_EXACT, false, [](call) { cmd_wheeldbg(); } },
    { "steer flip", CMD_EXACT, false, [](call) { cmd_steer_flip(); } },
    { "move", CMD_WORD_DEFAULT, false, [](call c) { cmd_move(c.rest ? c.rest : ""); } },
    { "hook on", CMD_EXACT, false, [](call) { hook_install_draw(); } },
    { "hook off", CMD_EXACT, false, [](call) { hook_remove_all(); } },
    { "shadow on", CMD_EXACT, false, [](call) { hook_shadows(true); } },
    { "shadow off", CMD_EXACT, false, [](call) { hook_shadows(false); } },
    { "defdump", CMD_WORD_DEFAULT, false, [](call c) { cmd_defdump(c.rest); } },
    { "spawnlist ", CMD_PREFIX, false, [](call c) { cmd_spawnlist(c.rest); } },
    { "spawnmode clone", CMD_EXACT, false, [](call) { cmd_spawnmode(true); } },
    { "spawnmode share", CMD_EXACT, false, [](call) { cmd_spawnmode(false); } },
    { "collide on", CMD_EXACT, false, [](call) { cmd_collide(true); } },
    { "net collide on", CMD_EXACT, true, [](call) { cmd_collide(true); } },
    { "collide off", CMD_EXACT, false, [](call) { cmd_collide(false); } },
    { "net collide off", CMD_EXACT, true, [](call) { cmd_collide(false); } },
    { "tick on", CMD_EXACT, false, [](call) { cmd_tick(true); } },
    { "tick off", CMD_EXACT, false, [](call) { cmd_tick(false); } },
    { "net", CMD_WORD_DEFAULT, true, [](call c) { net_command(c.line, c.info); } },
};
const int cmd_row_count = (int)(sizeof cmd_rows / sizeof cmd_rows[0]);

int cmd_run(const char *line, const dm_frame_info *info)
{
    core_log("[core] cmd: %s", line);
    const char *rest = nullptr;
    const cmd_row *row = cmd_match(cmd_rows, cmd_row_count, line, spawn_state_value() == SPAWN_SPAWNED, &rest);
    // Another game build takes only the rows allowed there, and of the lines
    // no row takes only those of the families the refusal names (they then
    // are unknown, as on this build).
    bool allowed = row ? row->other_builds
                       : !strncmp(line, "net", 3) || !strncmp(line, "config", 6) || !strncmp(line, "update", 6);
    if (!game_build_ok() && !allowed) {
        core_log("[core] refused on this game build (only ping, pos, build, threads, net, config, update)");
        return 0;
    }
    if (!row) {
        core_log("[core] unknown command");
        return 0;
    }
    row->handler({ line, rest, info });
    return 1;
}

// core_frame: every per-frame task of the core in one fixed order. Each
// step's name is stored before it runs, for the frame fault filter.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "core.h"
#include "core_features.h"

static double next_state_time, next_poll_time;
static bool draw_hook_attempted;

hook_counters hook_stats;
static bool notice_shadow, notice_trailer_draw, notice_trailer_shadow;
static double next_stats_time;
static uint32_t stats_last_draws;

void core_frame_reset()
{
    next_state_time = 0;
    next_poll_time = 0;
    draw_hook_attempted = false;
    notice_shadow = notice_trailer_draw = notice_trailer_shadow = false;
    next_stats_time = 0;
    stats_last_draws = 0;
}

void core_stats_step(double now)
{
    if (hook_stats.draw_fault && hook_drawing_enabled()) {
        hook_set_drawing_enabled(false);
        core_log("[core] draw call faulted; drawing disabled (hook stays)");
    }
    if (hook_stats.shadow_fault && !notice_shadow) {
        notice_shadow = true;
        core_log("[core] shadow call faulted; shadows disabled");
    }
    if (hook_stats.trailer_draw_fault && !notice_trailer_draw) {
        notice_trailer_draw = true;
        core_log("[core] trailer draw faulted; trailer drawing disabled");
    }
    if (hook_stats.trailer_shadow_fault && !notice_trailer_shadow) {
        notice_trailer_shadow = true;
        core_log("[core] trailer shadow faulted; trailer shadow disabled");
    }
    if (hook_drawing_enabled() && now >= next_stats_time) {
        next_stats_time = now + 5.0;
        uint32_t draws = hook_stats.draw;
        if (draws != stats_last_draws)
            core_log("[core] draw calls: %u, shadow calls: %u, trailer draw/shadow: %u/%u", draws,
                     (unsigned)hook_stats.shadow, (unsigned)hook_stats.trailer_draw,
                     (unsigned)hook_stats.trailer_shadow);
        stats_last_draws = draws;
    }
}

static void write_state(const dm_frame_info *info)
{
    next_state_time = info->seconds + 0.25;
    char tmp[DM_PATH_MAX], path[DM_PATH_MAX];
    if (!core_path(tmp, sizeof tmp, "state.json.tmp") || !core_path(path, sizeof path, "state.json"))
        return;
    FILE *f = fopen(tmp, "wt");
    if (!f)
        return;
    fprintf(f,
            "{\"frame\":%llu,\"time\":%.3f,\"paused\":%d,\"x\":%.3f,\"y\":%.3f,\"z\":%.3f,"
            "\"heading\":%.5f,\"pitch\":%.5f,\"roll\":%.5f,\"speed\":%.3f,\"spawn_state\":%d}\n",
            (unsigned long long)info->frame, info->seconds, (int)info->paused, info->x, info->y,
            info->z, info->heading, info->pitch, info->roll, info->speed, dm_spawn_state_value());
    fclose(f);
    MoveFileExA(tmp, path, MOVEFILE_REPLACE_EXISTING);
}

static void poll_commands(const dm_frame_info *info)
{
    next_poll_time = info->seconds + 0.2;
    char cmd[DM_PATH_MAX], taken[DM_PATH_MAX];
    if (!core_path(cmd, sizeof cmd, "cmd.txt") || !core_path(taken, sizeof taken, "cmd.txt.taken"))
        return;
    DeleteFileA(taken);
    if (!MoveFileA(cmd, taken))
        return;
    FILE *f = fopen(taken, "rt");
    if (f) {
        char line[256];
        while (fgets(line, sizeof line, f)) {
            line[strcspn(line, "\r\n")] = 0;
            if (line[0])
                dm_cmd_run(line, info);
        }
        fclose(f);
    }
    DeleteFileA(taken);
}

void core_frame(const dm_frame_info *info)
{
    double now = info->seconds;
    core_frame_step = "start";
    if (next_state_time == 0)
        game_build_report();
    if (core_first_frame) {
        core_first_frame = false;
        reload_restore_net(now);
    }
    core_frame_step = "rv_restore";
    dm_rv_restore_after_reload();
    core_frame_step = "net_tick";
    dm_remote_tick(info);
    core_frame_step = "clock";
    clock_sync_tick(info);
    core_frame_step = "traffic";
    traffic_tick(info);
    core_frame_step = "tick_spawn";
    dm_spawn_tick(info);
    core_frame_step = "rv";
    dm_rv_tick(info);
    core_frame_step = "props";
    if (props_tick(info) && !hook_draw_installed() && !draw_hook_attempted) {
        draw_hook_attempted = true;
        hook_install_draw();
    }
    core_frame_step = "watch";
    dm_watch_tick();
    memrec_sample(now);
    core_frame_step = "stats";
    core_stats_step(now);
    if (now >= next_state_time) {
        core_frame_step = "write_state";
        write_state(info);
    }
    if (now >= next_poll_time) {
        core_frame_step = "poll_commands";
        poll_commands(info);
    }
    core_frame_step = "nametags";
    dm_view_snapshot_update(info);
    core_frame_step = "ui";
    dm_ui_game_tick(info, dm_cmd_run);
    core_frame_step = "update";
    update_install_staged_core(net_is_open());
    core_frame_step = "done";
}

// core_frame: every per-frame task of the core in one fixed order, read from
// the step table at the end of this file. Each step's name is stored before
// it runs, for the frame fault filter.
//
// Index of this file:
//   the frame's own steps   start, rv_restore, tick_spawn, props, watch, stats,
//                           write_state, poll_commands, ui, draw_hook, update
//   the step table          frame_steps: {name, when due, the function}
//   core_frame              runs the table
#include <windows.h>
#include "base/core.h"
#include "runtime/diagnostics.h"
#include "base/game_mem.h"
#include "runtime/hooks.h"
#include "net/net.h"
#include "online/online.h"
#include "props/props.h"
#include "runtime/reload_blocks.h"
#include "runtime/runtime.h"
#include "runtime/state_files.h"
#include "ui/ui.h"
#include "vehicles/vehicles.h"
#include "world/world.h"

namespace {

double next_state_time, next_poll_time;
/* the "draw_hook" step's: what asked this frame, whether the live props
 * wanted it and whether the props' want was tried in this core */
unsigned draw_hook_asked;
bool props_want_draw;
bool draw_hook_attempted;
bool notice_shadow, notice_trailer_draw, notice_trailer_shadow;
double next_stats_time;
uint32_t stats_last_draws;

/* ---- the frame's own steps ---- */

void start_step(const dm_frame_info *info)
{
    if (next_state_time == 0) // the first frame of this core
        game_build_report();
    if (core_first_frame) {
        core_first_frame = false;
        reload_restore_net(info->seconds);
    }
    reload_blocks_frame();
}

void rv_restore_step(const dm_frame_info *) { rv_restore_after_reload(); }

uint32_t trailer_builds_seen;

void tick_spawn_step(const dm_frame_info *info)
{
    spawn_tick(info);
    uint32_t builds = spawn_trailer_builds();
    if (builds != trailer_builds_seen) {
        trailer_builds_seen = builds;
        hook_reset_trailer_faults(); // a new trailer is drawn again
    }
}

void props_step(const dm_frame_info *info) { props_want_draw = props_tick(info); }

void watch_step(const dm_frame_info *info)
{
    watch_tick();
    memrec_sample(info->seconds);
}

bool write_state_due(const dm_frame_info *info) { return info->seconds >= next_state_time; }

// The worker writes state.json from this frame's values.
void write_state_step(const dm_frame_info *info)
{
    next_state_time = info->seconds + 0.25;
    state_files_publish(info, spawn_state_value());
}

// Due every 0.2 s, when the worker is asked to take cmd.txt, and in every
// frame in which lines it has read wait to be run.
bool poll_commands_due(const dm_frame_info *info)
{
    return info->seconds >= next_poll_time || state_files_lines_waiting();
}

void poll_commands_step(const dm_frame_info *info)
{
    if (info->seconds >= next_poll_time) {
        next_poll_time = info->seconds + 0.2;
        state_files_request_commands();
    }
    char line[256];
    while (state_files_next_line(line, sizeof line))
        cmd_run(line, info);
}

void ui_step(const dm_frame_info *info) { ui_game_tick(info, cmd_run); }

// The one place the draw hook is decided on, after the commands of this
// frame (the cmd.txt lines and the UI's): it goes in when not in yet and a
// remote player's vehicle, a "model" command that left props live or the
// reload asked, or the live props want it (tried once a core: a hook that
// cannot go in is not tried every frame).
void draw_hook_step(const dm_frame_info *) { draw_hook_decide(); }

void update_step(const dm_frame_info *) { update_install_staged_core(net_is_open()); }

} // namespace

void stats_step(const dm_frame_info *info)
{
    double now = info->seconds;
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

namespace {

/* ---- the step table ---- */

typedef void (*frame_step_fn)(const dm_frame_info *info);
typedef bool (*frame_due_fn)(const dm_frame_info *info);

struct frame_step {
    const char *name; /* what the frame fault filter prints */
    frame_due_fn due; /* null: every frame; else the step (and its name) only when due */
    frame_step_fn run;
};

const frame_step frame_steps[] = {
    { "start", nullptr, start_step },
    { "rv_restore", nullptr, rv_restore_step },
    { "net_tick", nullptr, net_tick_step },
    { "clock", nullptr, clock_sync_tick },
    { "traffic", nullptr, traffic_tick },
    { "tick_spawn", nullptr, tick_spawn_step },
    { "rv", nullptr, rv_tick },
    { "props", nullptr, props_step },
    { "watch", nullptr, watch_step },
    { "stats", nullptr, stats_step },
    { "write_state", write_state_due, write_state_step },
    { "poll_commands", poll_commands_due, poll_commands_step },
    { "nametags", nullptr, view_snapshot_update },
    { "ui", nullptr, ui_step },
    { "draw_hook", nullptr, draw_hook_step },
    { "update", nullptr, update_step },
    { "done", nullptr, nullptr }, // the frame is over
};

} // namespace

/* ---- core_frame ---- */

void (*core_frame_observer)(const char *step);

void draw_hook_ask(unsigned reasons) { draw_hook_asked |= reasons; }

void draw_hook_decide()
{
    unsigned asked = draw_hook_asked;
    bool props_want = props_want_draw;
    draw_hook_asked = 0;
    props_want_draw = false;
    if (hook_draw_installed())
        return;
    bool install = (asked & DRAW_HOOK_FOR_REMOTE_VEHICLE) != 0;
    if ((asked & DRAW_HOOK_FOR_PROPS_COMMAND) && props_any_live())
        install = true;
    if ((asked & DRAW_HOOK_FOR_RELOAD) && game_build_ok())
        install = true;
    if (props_want && !draw_hook_attempted) {
        draw_hook_attempted = true;
        install = true;
    }
    if (install)
        hook_install_draw();
}

void core_frame_reset()
{
    next_state_time = 0;
    next_poll_time = 0;
    draw_hook_asked = 0;
    props_want_draw = false;
    draw_hook_attempted = false;
    notice_shadow = notice_trailer_draw = notice_trailer_shadow = false;
    next_stats_time = 0;
    stats_last_draws = 0;
    trailer_builds_seen = spawn_trailer_builds();
}

void core_frame(const dm_frame_info *info)
{
    for (const frame_step &step : frame_steps) {
        if (step.due && !step.due(info))
            continue;
        core_frame_step = step.name;
        if (core_frame_observer)
            core_frame_observer(step.name);
        if (step.run)
            step.run(info);
    }
}

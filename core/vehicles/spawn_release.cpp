// Releases after the draws: the spawned vehicle's and trailer's removal and
// release wait until no draw or shadow detour can still be inside a call on
// them (see spawn.h).
//
// Index
//   waiting jobs        the fixed list of releases left for later frames
//   spawn_release_after_draws, spawn_release_tick, spawn_release_finish
#include <windows.h>
#include "base/core.h"
#include "base/detour_gate.h"
#include "base/game_mem.h"
#include "vehicles/spawn.h"
#include "vehicles/vehicle_game.h"

/* ---- waiting jobs ---- */

namespace {

struct release_job {
    spawn_release_fn release;
    uint64_t object, definition;
    uint8_t listed;
    uint64_t ctrl; /* the game_ctrl the object was listed in */
};
const int jobs_max = 8;
release_job jobs[jobs_max];
int job_count;

void run(const release_job &j) { j.release(j.object, j.definition, j.listed); }

/* Runs the waiting jobs (all of them: the detours left the gate); those of
 * a world that went away meanwhile are dropped without a game call. */
void run_waiting()
{
    uint64_t ctrl = game_ctrl_guarded();
    for (int i = 0; i < job_count; i++) {
        if (jobs[i].ctrl != ctrl) {
            core_log("[core] release of %p dropped without game calls: its world went away (leaked)",
                     game_ptr(jobs[i].object));
            continue;
        }
        run(jobs[i]);
    }
    job_count = 0;
}

} // namespace

/* ---- the calls ---- */

bool spawn_release_after_draws(const char *what, spawn_release_fn release, uint64_t object, uint64_t definition,
                               uint8_t listed)
{
    // Jobs already waiting keep their order: this one waits behind them.
    if (job_count == 0 && detour_gate_drain(render_gate, SPAWN_DRAW_WAIT_MS)) {
        release(object, definition, listed);
        return true;
    }
    if (job_count == jobs_max) {
        core_log("[core] %s: %p still being drawn and %d releases waiting; left to the game (leaked)", what,
                 game_ptr(object), jobs_max);
        return false;
    }
    jobs[job_count++] = release_job{ release, object, definition, listed, game_ctrl_guarded() };
    core_log("[core] %s: %p still being drawn after %d ms; released in a later frame", what, game_ptr(object),
             SPAWN_DRAW_WAIT_MS);
    return false;
}

void spawn_release_tick()
{
    if (job_count > 0 && detour_gate_drain(render_gate, SPAWN_DRAW_RETRY_MS))
        run_waiting();
}

int spawn_releases_waiting() { return job_count; }

void spawn_release_finish()
{
    if (job_count == 0)
        return;
    if (detour_gate_drain(render_gate, SPAWN_DRAW_WAIT_MS)) {
        run_waiting();
        return;
    }
    core_log("[core] %d releases still wait for a draw; left to the game (leaked)", job_count);
    job_count = 0;
}

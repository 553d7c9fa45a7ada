// Clock sync: every client reports its game clock to the server every 5 s
// and moves the game clock to the server's time of day whenever the two have
// drifted more than 5 s apart. The "clock" frame step, at most once a
// second, also drives weather sync; the "clock" command shows and sets the
// clock by hand. Game thread only.
//
// Index of this file:
//   the game clock    clock_economy, clock_read, clock_shift
//   the frame step    clock_sync_tick
//   the command       clock_command
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "base/plain_text.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_sync_math.h"

namespace {

bool sync_on = true;
double next_step;            /* frame seconds */
clock_sync_state sync_state; /* next report time, the rate warning */

bool joined() { return net_is_open() && net_our_player_id() != 0; }

/* game_ctrl and the economy, each probed when it is taken (a profile
 * loaded) up to the last field the clock reads from it, then read under
 * one guard. */
game_taken taken_ctrl, taken_economy;

/* The economy's minutes and seconds, under one guard: false on a fault. */
bool read_economy(uint64_t economy, uint32_t *minutes, float *seconds)
{
    return dm_guarded([&] {
        *minutes = game_field<uint32_t>(economy, GAME_ECONOMY_MINUTES);
        *seconds = game_field<float>(economy, GAME_ECONOMY_SECONDS);
    });
}

} // namespace

/* ---- the game clock ---- */

uint64_t clock_economy()
{
    return game_take(&taken_economy, game_image_value<uint64_t>(GAME_OFF_ECONOMY), GAME_ECONOMY_SECONDS + 4);
}

bool clock_read(double *time_of_day, float *scale, uint32_t *total_minutes)
{
    uint64_t ctrl = game_take(&taken_ctrl, game_ctrl_guarded(), GAME_CTRL_TIME_SCALE + 4);
    uint64_t economy = ctrl ? clock_economy() : 0;
    uint32_t minutes;
    float seconds, s;
    if (!economy || !read_economy(economy, &minutes, &seconds) ||
        !game_copy_unprobed(&s, ctrl + GAME_CTRL_TIME_SCALE, sizeof s) || !clock_plausible(seconds, s))
        return false;
    *time_of_day = clock_time_of_day(minutes, seconds);
    *scale = s;
    *total_minutes = minutes;
    return true;
}

bool clock_shift(double delta)
{
    uint64_t economy = clock_economy();
    uint32_t minutes;
    float seconds;
    if (!economy || !read_economy(economy, &minutes, &seconds))
        return false;
    // Minutes and seconds lie side by side: one write moves both.
    struct {
        uint32_t minutes;
        float seconds;
    } shifted;
    static_assert(GAME_ECONOMY_SECONDS == GAME_ECONOMY_MINUTES + 4, "the minutes and seconds are adjacent");
    if (!clock_shifted(minutes, seconds, delta, &shifted.minutes, &shifted.seconds))
        return false;
    return world_write_guarded(economy + GAME_ECONOMY_MINUTES, &shifted, sizeof shifted);
}

/* ---- the frame step ---- */

void clock_sync_tick(const dm_frame_info *info)
{
    double now = info->seconds;
    if (now < next_step || !game_build_ok())
        return;
    next_step = now + 1.0;
    if (!joined()) {
        weather_sync_idle();
        return;
    }
    weather_sync_tick();
    clock_sync_input in = {};
    uint32_t minutes;
    if (!clock_read(&in.local_tod, &in.local_scale, &minutes))
        return;
    in.now = now;
    in.sync_on = sync_on;
    in.has_server = net_server_time(&in.server_seconds, &in.server_rate, &in.received_at);
    clock_sync_plan plan = clock_sync_decide(&sync_state, &in);
    if (plan.report)
        net_send_time_of_day(in.local_tod, in.local_scale);
    if (plan.warn_rate)
        core_log("[core] clock: our time scale %.3f differs from the server's %.3f (expect regular corrections)",
                 in.local_scale, in.server_rate);
    if (plan.shift && clock_shift(plan.drift))
        core_log("[core] clock: %s -> %s (%+.0f game s) to match the server", clock_format_hms(in.local_tod),
                 clock_format_hms(plan.target), plan.drift);
}

/* ---- the command ---- */

void clock_command(const char *rest, double now)
{
    const char *t = rest;
    while (*t == ' ' || *t == '\t')
        t++;
    if (strcmp(t, "sync on") == 0) {
        sync_on = true;
        next_step = 0; // the step runs in the next frame
        core_log("[core] clock sync on");
        return;
    }
    if (strcmp(t, "sync off") == 0) {
        sync_on = false;
        core_log("[core] clock sync off");
        return;
    }
    // Only the status (no argument) and "set " remain; any other text is
    // answered with the set form rather than taken for the status.
    bool set = strncmp(t, "set ", 4) == 0;
    if (!set && !text_at_end(t)) {
        core_log("[core] clock set HH:MM");
        return;
    }
    double tod;
    float scale;
    uint32_t minutes;
    if (!clock_read(&tod, &scale, &minutes)) {
        core_log("[core] clock: no economy (profile not loaded?)");
        return;
    }
    if (set) {
        int32_t h, m;
        if (!clock_parse_set(t + 4, &h, &m)) {
            core_log("[core] clock set HH:MM");
            return;
        }
        double d = clock_wrap_day_seconds(h * 3600.0 + m * 60.0 - tod);
        if (!clock_shift(d))
            return;
        core_log("[core] clock: %s -> %02d:%02d (%+.0f game s)%s", clock_format_hms(tod), h, m, d,
                 sync_on && joined() ? "; sync is on, the server time will win again" : "");
        return;
    }
    double server_seconds, received_at;
    float rate;
    bool has = net_server_time(&server_seconds, &rate, &received_at);
    core_log("[core] clock: local %s day %u (rate %.3f)%s%s%s, sync %s", clock_format_hms(tod), minutes / 1440u,
             scale, has ? ", server " : ", no server time",
             has ? clock_format_hms(clock_server_now(server_seconds, rate, received_at, now)) : "", "",
             sync_on ? "on" : "off");
}

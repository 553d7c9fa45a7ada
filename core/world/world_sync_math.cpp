// The pure part of clock and weather sync (see world_sync_math.h).
//
// Index of this file:
//   the day              wrap, format, time of day, plausibility, shift, server now
//   the clock step       clock_sync_decide
//   the weather tick     weather_sync_decide, weather_kind_name
//   command lines        the weather set and apply and the clock set lines
#include "world/world_sync_math.h"
#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/plain_text.h"

/* ---- the day ---- */

double clock_wrap_day_seconds(double x)
{
    double r = fmod(x, CLOCK_DAY_SECONDS);
    if (r >= CLOCK_DAY_SECONDS / 2)
        r -= CLOCK_DAY_SECONDS;
    else if (r < -CLOCK_DAY_SECONDS / 2)
        r += CLOCK_DAY_SECONDS;
    return r;
}

const char *clock_format_hms(double seconds)
{
    static char buffers[4][16];
    static uint32_t counter;
    char *out = buffers[counter++ % 4];
    // Truncated to whole seconds; a value beyond any day count prints as 0.
    long long s = (seconds > -1e15 && seconds < 1e15) ? (long long)seconds : 0;
    snprintf(out, 16, "%02d:%02d:%02d", (int)((s / 3600) % 24), (int)((s / 60) % 60), (int)(s % 60));
    return out;
}

double clock_time_of_day(uint32_t total_minutes, float seconds)
{
    return (double)(total_minutes % 1440u) * 60.0 + (double)seconds;
}

bool clock_plausible(float seconds, float scale)
{
    return seconds >= 0.0f && seconds < 61.0f && scale > 0.0f && scale <= 1000.0f;
}

bool clock_shifted(uint32_t total_minutes, float seconds, double delta, uint32_t *out_minutes,
                   float *out_seconds)
{
    if (!isfinite(delta) || !isfinite(seconds))
        return false;
    double t = (double)total_minutes * 60.0 + (double)seconds + delta;
    if (t < 0)
        t += CLOCK_DAY_SECONDS;
    if (t < 0)
        return false;
    double minutes = floor(t / 60.0);
    if (minutes > (double)UINT32_MAX) // the game's minute counter cannot hold it
        return false;
    *out_minutes = (uint32_t)minutes;
    *out_seconds = (float)(t - minutes * 60.0);
    return true;
}

double clock_server_now(double server_seconds, float rate, double received_at, double now)
{
    return fmod((now - received_at) * (double)rate + server_seconds, CLOCK_DAY_SECONDS);
}

/* ---- the clock step ---- */

clock_sync_plan clock_sync_decide(clock_sync_state *s, const clock_sync_input *in)
{
    clock_sync_plan plan = {};
    if (in->now >= s->next_report) {
        s->next_report = in->now + CLOCK_REPORT_PERIOD;
        plan.report = true;
    }
    if (!in->sync_on || !in->has_server)
        return plan;
    plan.target = clock_server_now(in->server_seconds, in->server_rate, in->received_at, in->now);
    if (fabs((double)in->local_scale - (double)in->server_rate) > CLOCK_RATE_TOLERANCE && !s->rate_warned) {
        s->rate_warned = true;
        plan.warn_rate = true;
    }
    plan.drift = clock_wrap_day_seconds(plan.target - in->local_tod);
    plan.shift = fabs(plan.drift) > CLOCK_DRIFT_LIMIT;
    return plan;
}

/* ---- the weather tick ---- */

weather_sync_plan weather_sync_decide(const weather_sync_input *in)
{
    weather_sync_plan plan = {};
    if (!in->sync_on || !in->has_server) {
        plan.idle = true;
        return plan;
    }
    if (in->game_kind != in->server_kind) {
        plan.change = true;
        // The first difference after sync became active switches at once;
        // later ones (a new roll while we follow) blend as the game would.
        plan.instant = in->last_roll < 0 ? 1 : 0;
    }
    plan.hold_timer = in->game_timer < WEATHER_TIMER_FLOOR;
    return plan;
}

const char *weather_kind_name(uint32_t kind) { return kind & 1 ? "bad" : "normal"; }

/* ---- command lines ---- */

bool weather_parse_set(const char *text, uint8_t *kind, uint8_t *instant)
{
    int32_t n;
    if (!text_parse_int(&text, &n))
        return false;
    *kind = (uint8_t)(n & 1);
    const char *blank = strchr(text, ' ');
    *instant = (blank && blank[1] == 'i') ? 0 : 1;
    return true;
}

bool weather_parse_apply(const char *text, weather_apply_args *out)
{
    weather_apply_args a;
    if (!text_parse_int(&text, &a.index) || !text_parse_int(&text, &a.pair[0]) ||
        !text_parse_int(&text, &a.pair[1]) || !text_parse_int(&text, &a.next[0]) ||
        !text_parse_int(&text, &a.next[1]) || !text_parse_float(&text, &a.mix) ||
        !text_parse_float(&text, &a.weather_timer) || !text_parse_float(&text, &a.second_timer))
        return false;
    *out = a;
    return true;
}

bool clock_parse_set(const char *text, int32_t *hours, int32_t *minutes)
{
    int32_t h, m = 0;
    if (!text_parse_int(&text, &h))
        return false;
    if (*text == ':') {
        text++;
        text_parse_int(&text, &m); // "7:" alone is 07:00
    }
    if (h < 0 || h > 23 || m < 0 || m > 59)
        return false;
    *hours = h;
    *minutes = m;
    return true;
}

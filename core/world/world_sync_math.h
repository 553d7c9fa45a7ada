/* The pure part of clock and weather sync: the day arithmetic, the clock
 * step's and the weather tick's decisions, and the parsing of the two
 * commands' lines. No game memory, no windows.h; clock_sync.cpp and
 * weather_sync.cpp read and write the game and carry the decisions out. */
#pragma once
#include <stdint.h>

/* ---- the day ---- */
#define CLOCK_DAY_SECONDS 86400.0
#define CLOCK_DRIFT_LIMIT 5.0     /* game seconds of drift left alone */
#define CLOCK_REPORT_PERIOD 5.0   /* seconds between our type-18 reports */
#define CLOCK_RATE_TOLERANCE 0.01 /* scale difference that earns the warning */

/* fmod(x, 86400) moved into [-43200, 43200): the shortest way round the day. */
double clock_wrap_day_seconds(double x);
/* "HH:MM:SS" of the whole seconds, in the next of four 16-byte buffers (a
 * result stays valid for three further calls). */
const char *clock_format_hms(double seconds);
/* (minutes mod 1440) * 60 + seconds. */
double clock_time_of_day(uint32_t total_minutes, float seconds);
/* A clock worth using: 0 <= seconds < 61 and 0 < scale <= 1000. */
bool clock_plausible(float seconds, float scale);
/* The clock moved by delta game seconds: false (nothing written) when the
 * total stays negative after adding one day, or the result does not fit. */
bool clock_shifted(uint32_t total_minutes, float seconds, double delta, uint32_t *out_minutes,
                   float *out_seconds);
/* The server's time of day now: fmod((now - received_at) * rate + seconds, 86400). */
double clock_server_now(double server_seconds, float rate, double received_at, double now);

/* ---- the clock step's decision ---- */
typedef struct clock_sync_state {
    double next_report;  /* frame seconds */
    bool rate_warned;    /* the scale warning is given once per core */
} clock_sync_state;

typedef struct clock_sync_input {
    double now;
    double local_tod;    /* game seconds since midnight */
    float local_scale;
    bool sync_on;
    bool has_server;
    double server_seconds;
    float server_rate;
    double received_at;
} clock_sync_input;

typedef struct clock_sync_plan {
    bool report;         /* send the time of day and scale now */
    bool warn_rate;      /* log the scale warning now */
    bool shift;          /* move the game clock by drift */
    double target;       /* the server's time of day (when has_server) */
    double drift;        /* target - local, the short way round */
} clock_sync_plan;

/* One run of the clock step on a valid clock; updates the state. */
clock_sync_plan clock_sync_decide(clock_sync_state *s, const clock_sync_input *in);

/* ---- the weather tick's decision ---- */
typedef struct weather_sync_input {
    bool sync_on;
    bool has_server;
    uint8_t server_kind;
    uint8_t server_roll;
    uint32_t game_kind;   /* the environment's current kind */
    float game_timer;     /* seconds until the game rolls its own */
    int32_t last_roll;    /* -1: nothing applied since sync was last idle */
} weather_sync_input;

typedef struct weather_sync_plan {
    bool idle;            /* sync off or no server weather: last roll := -1, nothing else */
    bool change;          /* set the server's kind */
    uint8_t instant;      /* 1 forced (at once), 0 interpolated (blend) */
    bool hold_timer;      /* the game's timer := WEATHER_HELD_TIMER */
} weather_sync_plan;

#define WEATHER_TIMER_FLOOR 600.0f  /* below this the game's timer is pushed back */
#define WEATHER_HELD_TIMER 3600.0f

weather_sync_plan weather_sync_decide(const weather_sync_input *in);
const char *weather_kind_name(uint32_t kind); /* "normal" or "bad" (any odd kind) */

/* ---- command lines ----
 * Their numbers are read with plain_text.h's text_parse_int and _float. */

/* "weather set <n> [i|f]": kind = the lowest bit of n; instant 0 when the
 * character after the blank behind the number is 'i'. False without a number. */
bool weather_parse_set(const char *text, uint8_t *kind, uint8_t *instant);

typedef struct weather_apply_args {
    int32_t index;
    int32_t pair[2];
    int32_t next[2];
    float mix;
    float weather_timer;
    float second_timer;
} weather_apply_args;
/* "weather apply <idx> <p0> <p1> <n0> <n1> <mix> <wt> <ct>": false unless all eight read. */
bool weather_parse_apply(const char *text, weather_apply_args *out);

/* "clock set H[:M]": false without an hour, for an hour outside 0..23 or a
 * minute outside 0..59. */
bool clock_parse_set(const char *text, int32_t *hours, int32_t *minutes);

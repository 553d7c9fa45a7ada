// Clock and weather sync's pure logic: the day arithmetic, the clock step's
// and the weather tick's decisions, and the commands' numbers.
#include <gtest/gtest.h>
#include <math.h>
#include <string>
#include "world/world_sync_math.h"

namespace {

TEST(clock_day, WrapTakesTheShortWayRoundTheDay)
{
    struct { double x, want; } cases[] = {
        { 0, 0 }, { 4, 4 }, { -4, -4 }, { 43199.5, 43199.5 }, { 43200, -43200 }, { -43200, -43200 },
        { -43200.5, 43199.5 }, { 86400, 0 }, { 86380, -20 }, { -86380, 20 }, { 2 * 86400 + 10, 10 },
        // local 23:59:58, server 00:00:02
        { 2 - 86398, 4 },
        // local 23:59:50, server 00:00:10
        { 10 - 86390, 20 },
    };
    for (auto &c : cases)
        EXPECT_EQ(clock_wrap_day_seconds(c.x), c.want) << c.x;
}

TEST(clock_day, FormatTruncatesAndRotatesFourBuffers)
{
    struct { double s; const char *want; } cases[] = {
        { 0, "00:00:00" }, { 59.999, "00:00:59" }, { 3600 * 7 + 60 * 5 + 9.9, "07:05:09" },
        { 86399.9, "23:59:59" }, { 86400, "00:00:00" }, { 90061, "01:01:01" },
        { NAN, "00:00:00" }, { INFINITY, "00:00:00" },
    };
    for (auto &c : cases)
        EXPECT_STREQ(clock_format_hms(c.s), c.want) << c.s;
    // A result stays valid for three further calls, and is reused by the fourth.
    const char *first = clock_format_hms(3600);
    clock_format_hms(1);
    clock_format_hms(2);
    clock_format_hms(3);
    EXPECT_STREQ(first, "01:00:00");
    clock_format_hms(4);
    EXPECT_STREQ(first, "00:00:04");
}

TEST(clock_day, TimeOfDayAndPlausibility)
{
    EXPECT_EQ(clock_time_of_day(3 * 1440 + 14 * 60 + 5, 30.5f), 14 * 3600 + 5 * 60 + 30.5);
    EXPECT_EQ(clock_time_of_day(1439, 59.75f), 86399.75);
    struct { float seconds, scale; bool want; } cases[] = {
        { 0, 1, true }, { 60.99f, 1000, true }, { 61, 1, false }, { -0.01f, 1, false }, { 0, 0, false },
        { 0, -1, false }, { 0, 1000.01f, false }, { NAN, 1, false }, { 0, NAN, false }, { 0, INFINITY, false },
    };
    for (auto &c : cases)
        EXPECT_EQ(clock_plausible(c.seconds, c.scale), c.want) << c.seconds << " " << c.scale;
}

TEST(clock_day, ShiftMovesTheDayAndRefusesWhatCannotBe)
{
    struct {
        uint32_t minutes;
        float seconds;
        double delta;
        bool ok;
        uint32_t want_minutes;
        float want_seconds;
    } cases[] = {
        // 23:59:50 on day 2, +20 s: 00:00:10 on day 3
        { 2 * 1440 + 1439, 50, 20, true, 3 * 1440, 10 },
        // back across midnight: 00:00:10 on day 3, -20 s
        { 3 * 1440, 10, -20, true, 2 * 1440 + 1439, 50 },
        { 600, 30.5f, -90.25, true, 599, 0.25f },
        // negative total: one day added
        { 0, 10, -20, true, 1439, 50 },
        // still negative after one day: refused
        { 0, 10, -86411, false, 0, 0 },
        { 0, 0, -86400, true, 0, 0 },
        // not a number, or past what the minute counter holds: refused
        { 600, 0, NAN, false, 0, 0 },
        { 600, 0, INFINITY, false, 0, 0 },
        { 600, NAN, 1, false, 0, 0 },
        { UINT32_MAX, 59, 60, false, 0, 0 },
    };
    for (auto &c : cases) {
        uint32_t m = 12345;
        float s = 12.5f;
        SCOPED_TRACE(testing::Message() << c.minutes << " " << c.seconds << " " << c.delta);
        EXPECT_EQ(clock_shifted(c.minutes, c.seconds, c.delta, &m, &s), c.ok);
        if (c.ok) {
            EXPECT_EQ(m, c.want_minutes);
            EXPECT_FLOAT_EQ(s, c.want_seconds);
        } else {
            EXPECT_EQ(m, 12345u);
            EXPECT_EQ(s, 12.5f);
        }
    }
}

TEST(clock_day, ServerNowRunsAtTheRate)
{
    EXPECT_EQ(clock_server_now(3600, 1.0f, 100, 110), 3610);
    EXPECT_EQ(clock_server_now(3600, 1.5f, 100, 110), 3615);
    EXPECT_EQ(clock_server_now(86390, 2.0f, 100, 110), 10);
}

clock_sync_input clock_at(double now, double local, float scale, double server, float rate, double received_at = 0)
{
    clock_sync_input in = {};
    in.now = now;
    in.local_tod = local;
    in.local_scale = scale;
    in.sync_on = true;
    in.has_server = true;
    in.server_seconds = server;
    in.server_rate = rate;
    in.received_at = received_at;
    return in;
}

TEST(clock_step, CorrectsOnlyADriftAboveFiveSeconds)
{
    struct { double local, server; bool shift; double drift; } cases[] = {
        { 86398, 2, false, 4 },      /* 23:59:58 against 00:00:02 */
        { 86390, 10, true, 20 },     /* 23:59:50 against 00:00:10 */
        { 36000, 36005, false, 5 },  /* exactly 5 s */
        { 36005, 36000, false, -5 },
        { 36000, 36005.25, true, 5.25 },
        { 36000, 35994.5, true, -5.5 },
        { 36000, 36000 - 43200, true, -43200 },
    };
    for (auto &c : cases) {
        clock_sync_state s = {};
        clock_sync_input in = clock_at(10, c.local, 1, c.server, 1, 10);
        clock_sync_plan p = clock_sync_decide(&s, &in);
        EXPECT_EQ(p.shift, c.shift) << c.local << " " << c.server;
        EXPECT_EQ(p.drift, c.drift) << c.local << " " << c.server;
        EXPECT_EQ(p.target, c.server);
    }
}

TEST(clock_step, ReportsEveryFiveSecondsAndWarnsOnceAboutTheRate)
{
    clock_sync_state s = {};
    // The server at 1.5 against our 1.0: the drift grows by half a second a
    // second, one warning, then a correction whenever it passes 5 s.
    std::string seen;
    double local = 1000;
    for (int now = 0; now <= 30; now++) {
        clock_sync_input in = clock_at(now, local, 1.0f, 1000, 1.5f, 0);
        clock_sync_plan p = clock_sync_decide(&s, &in);
        seen += p.report ? "R" : "";
        seen += p.warn_rate ? "W" : "";
        if (p.shift) {
            seen += "S";
            local += p.drift;
        }
        seen += ".";
        local += 1.0;
    }
    // Reports at 0, 5, 10, ...; the drift reaches exactly 5.0 at 10 s (left
    // alone) and 5.5 at 11 s (corrected), then again 11 s later.
    EXPECT_EQ(seen, "RW.....R.....R.S....R.....R..S...R.....R.");
    // Within the tolerance: no warning; sync off or no server: report only.
    clock_sync_state quiet = {};
    clock_sync_input in = clock_at(0, 1000, 1.0f, 1000, 1.0099f);
    EXPECT_FALSE(clock_sync_decide(&quiet, &in).warn_rate);
    in = clock_at(1, 1000, 1.0f, 1100, 2.0f);
    in.sync_on = false;
    clock_sync_plan p = clock_sync_decide(&quiet, &in);
    EXPECT_FALSE(p.warn_rate || p.shift || p.report);
    in.sync_on = true;
    in.has_server = false;
    in.now = 5;
    p = clock_sync_decide(&quiet, &in);
    EXPECT_TRUE(p.report);
    EXPECT_FALSE(p.warn_rate || p.shift);
}

TEST(weather_tick, DecisionsByKindRollAndTimer)
{
    struct {
        const char *name;
        bool sync_on, has_server;
        uint8_t server_kind;
        uint32_t game_kind;
        float timer;
        int32_t last_roll;
        bool idle, change;
        uint8_t instant;
        bool hold;
    } cases[] = {
        { "sync off", false, true, 1, 0, 10, 4, true, false, 0, false },
        { "no server weather", true, false, 1, 0, 10, 4, true, false, 0, false },
        { "first difference is forced", true, true, 1, 0, 1200, -1, false, true, 1, false },
        { "later differences blend", true, true, 0, 1, 1200, 7, false, true, 0, false },
        { "same kind, new roll: no call", true, true, 1, 1, 1200, 7, false, false, 0, false },
        { "timer at 600 is left alone", true, true, 1, 1, 600.0f, 7, false, false, 0, false },
        { "timer at 599.9 is pushed back", true, true, 1, 1, 599.9f, 7, false, false, 0, true },
        { "change and hold together", true, true, 0, 1, 0.5f, -1, false, true, 1, true },
    };
    for (auto &c : cases) {
        weather_sync_input in = {};
        in.sync_on = c.sync_on;
        in.has_server = c.has_server;
        in.server_kind = c.server_kind;
        in.server_roll = 9;
        in.game_kind = c.game_kind;
        in.game_timer = c.timer;
        in.last_roll = c.last_roll;
        weather_sync_plan p = weather_sync_decide(&in);
        EXPECT_EQ(p.idle, c.idle) << c.name;
        EXPECT_EQ(p.change, c.change) << c.name;
        EXPECT_EQ(p.instant, c.instant) << c.name;
        EXPECT_EQ(p.hold_timer, c.hold) << c.name;
    }
    EXPECT_STREQ(weather_kind_name(0), "normal");
    EXPECT_STREQ(weather_kind_name(1), "bad");
}

TEST(command_numbers, WeatherSetAndApplyLines)
{
    struct { const char *text; bool ok; uint8_t kind, instant; } sets[] = {
        { "1", true, 1, 1 }, { "0", true, 0, 1 }, { "3", true, 1, 1 }, { "2 f", true, 0, 1 },
        { "0 i", true, 0, 0 }, { "1 i", true, 1, 0 }, { "1 x", true, 1, 1 }, { "-1", true, 1, 1 },
        { "", false, 0, 0 }, { "x", false, 0, 0 }, { "nan", false, 0, 0 }, { "99999999999", false, 0, 0 },
    };
    for (auto &c : sets) {
        uint8_t kind = 9, instant = 9;
        EXPECT_EQ(weather_parse_set(c.text, &kind, &instant), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(kind, c.kind) << c.text;
            EXPECT_EQ(instant, c.instant) << c.text;
        }
    }
    weather_apply_args a;
    ASSERT_TRUE(weather_parse_apply("5 1 2 3 4 0.25 700 -1.5", &a));
    EXPECT_EQ(a.index, 5);
    EXPECT_EQ(a.pair[0], 1);
    EXPECT_EQ(a.pair[1], 2);
    EXPECT_EQ(a.next[0], 3);
    EXPECT_EQ(a.next[1], 4);
    EXPECT_EQ(a.mix, 0.25f);
    EXPECT_EQ(a.weather_timer, 700);
    EXPECT_EQ(a.second_timer, -1.5f);
    const char *refused[] = {
        "5 1 2 3 4 0.25 700", "5 1 2 3 4 nan 700 1", "5 1 2 3 4 0.25 inf 1", "5 1 2 3 4 0.25 700 1e40",
        "5 1 2 3 x 0.25 700 1", "", "5.5 1 2 3 4 0.25 700 1",
    };
    for (const char *r : refused)
        EXPECT_FALSE(weather_parse_apply(r, &a)) << r;
}

TEST(command_numbers, ClockSetLine)
{
    struct { const char *text; bool ok; int32_t h, m; } cases[] = {
        { "7", true, 7, 0 }, { "07:30", true, 7, 30 }, { "23:59", true, 23, 59 }, { "0:0", true, 0, 0 },
        { "7:", true, 7, 0 }, { "7:xx", true, 7, 0 }, { " 7: 5", true, 7, 5 },
        { "24", false, 0, 0 }, { "7:60", false, 0, 0 }, { "-1", false, 0, 0 }, { "7:-1", false, 0, 0 },
        { "", false, 0, 0 }, { "x", false, 0, 0 }, { "nan", false, 0, 0 }, { "inf:3", false, 0, 0 },
        { "4294967303", false, 0, 0 },
    };
    for (auto &c : cases) {
        int32_t h = -9, m = -9;
        EXPECT_EQ(clock_parse_set(c.text, &h, &m), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(h, c.h) << c.text;
            EXPECT_EQ(m, c.m) << c.text;
        }
    }
}

} // namespace

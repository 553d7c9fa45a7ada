// Clock and weather sync through the real plug-in and core in the simulated
// game, joined to the test server on 127.0.0.1: the game clock follows the
// server's time of day and is reported to it, the game's weather follows the
// server's kind and the game's own roll is held off while sync is on; and the
// lines of the clock and weather commands.
#include "runtime/runtime_fixture.h"
#include "sim/sim_world.h"
#include <math.h>

using rt::as_pointer;
using rt::fmt;

namespace {

double hms(int h, int m, double s) { return h * 3600.0 + m * 60.0 + s; }

/* target - local, the short way round the day. */
double drift(double target, double local)
{
    double d = fmod(target - local, 86400.0);
    if (d >= 43200)
        d -= 86400;
    if (d < -43200)
        d += 86400;
    return d;
}

bool starts_with(const std::string &s, const std::string &prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

class world_sync : public rt::server_test {
protected:
    sim::world world {};

    void SetUp() override
    {
        rt::server_test::SetUp();
        world = sim::world_create(player);
        sim::world_set_clock(2, 10, 0, 0);
        sim::world_set_weather(0, 1200);
    }

    /* Frames of dt: before each the server answers and the game's world
     * moves on. */
    void server_frames(int n, double dt) override
    {
        for (int i = 0; i < n; i++) {
            if (server_up)
                ts_poll(&server, sim::clock_now());
            sim::world_advance(dt);
            sim::frames(1, dt);
        }
        if (server_up)
            ts_poll(&server, sim::clock_now());
    }
    void run_for(double seconds, double dt = 0.1) { server_frames((int)(seconds / dt + 0.5), dt); }


    std::vector<std::string> corrections_since(size_t from)
    {
        std::vector<std::string> out;
        for (auto &l : lines_since(from, "[core] clock: "))
            if (ends_with(l, " to match the server"))
                out.push_back(l);
        return out;
    }

    double server_now() { return ts_world_time(&server, sim::clock_now()); }

    uint64_t env() { return rt::as_address(world.environment); }

    /* The set-weather calls as "kind/instant" words. */
    std::string set_calls()
    {
        std::string out;
        for (auto &c : sim::calls_named("set_weather")) {
            EXPECT_EQ(c.args[0], env());
            out += fmt("%s%llu/%llu", out.empty() ? "" : " ", (unsigned long long)c.args[1],
                       (unsigned long long)c.args[2]);
        }
        return out;
    }
};

/* ---- the clock ---- */

TEST_F(world_sync, ClockFollowsTheServerOnlyBeyondFiveSeconds)
{
    join();
    struct {
        const char *name;
        int local_h, local_m;
        float local_s;
        double server;
        bool corrected;
        const char *line_head; /* the correction's old local time, to the tens of seconds */
        const char *line_tail;
        uint32_t day;          /* after 3 s */
    } cases[] = {
        { "+4 s across midnight", 23, 59, 58, hms(0, 0, 2), false, nullptr, nullptr, 3 },
        { "+20 s across midnight", 23, 59, 50, hms(0, 0, 10), true, "[core] clock: 23:59:5", "(+20 game s) to match the server", 3 },
        { "-60 s", 10, 0, 0, hms(9, 59, 0), true, "[core] clock: 10:00:0", "(-60 game s) to match the server", 2 },
        { "+4.5 s", 10, 0, 0, hms(10, 0, 4.5), false, nullptr, nullptr, 2 },
        { "+6 s", 10, 0, 0, hms(10, 0, 6), true, "[core] clock: 10:00:0", "(+6 game s) to match the server", 2 },
        { "-10 s back across midnight", 0, 0, 5, hms(23, 59, 55), true, "[core] clock: 00:00:0", "(-10 game s) to match the server", 1 },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        sim::world_set_clock(2, c.local_h, c.local_m, c.local_s);
        ts_world_set_time(&server, c.server, 1.0f);
        double before = drift(c.server, sim::world_time_of_day());
        size_t from = log_lines().size();
        run_for(3.0);
        auto fixed = corrections_since(from);
        double after = drift(server_now(), sim::world_time_of_day());
        if (c.corrected) {
            ASSERT_EQ(fixed.size(), 1u) << log_text();
            EXPECT_TRUE(starts_with(fixed[0], c.line_head)) << fixed[0];
            EXPECT_TRUE(ends_with(fixed[0], c.line_tail)) << fixed[0];
            EXPECT_LT(fabs(after), 0.5);
        } else {
            EXPECT_TRUE(fixed.empty()) << fixed[0];
            EXPECT_NEAR(after, before, 0.01);
        }
        EXPECT_EQ(sim::world_day(), c.day);
    }
    EXPECT_EQ(log_find("[core] clock: our time scale"), -1);
}

TEST_F(world_sync, ReportsTheGameClockEveryFiveSeconds)
{
    join();
    sim::world_set_scale(2.5f);
    ts_client *c = ts_find_name(&server, "tester");
    std::vector<double> at;
    uint64_t seen = c->time_reports;
    for (int i = 0; i < 260; i++) {
        run_for(0.1);
        if (c->time_reports != seen) {
            ASSERT_EQ(c->time_reports, seen + 1);
            seen = c->time_reports;
            at.push_back(sim::clock_now());
            // What the game's clock said in the frame that sent it.
            EXPECT_EQ(c->time_reported, sim::world_time_of_day());
            EXPECT_EQ(c->rate_reported, 2.5f);
        }
    }
    // The step runs at most once a second (the first frame at or after it),
    // so a report comes 5.0 to 5.5 s after the one before.
    ASSERT_GE(at.size(), 4u);
    for (size_t i = 1; i < at.size(); i++) {
        EXPECT_GE(at[i] - at[i - 1], 4.99) << i;
        EXPECT_LE(at[i] - at[i - 1], 5.51) << i;
    }

    // An implausible scale, the economy's page gone under the pointer the
    // clock already read through (the game stands still meanwhile), or no
    // economy: neither report nor correction, and no fault.
    ts_world_set_time(&server, hms(3, 0, 0), 1.0f);
    struct {
        const char *name;
        float scale;
        uint32_t economy; /* its page's protection, 0: no economy */
    } variants[] = {
        { "scale 0", 0.0f, PAGE_READWRITE },
        { "scale 1000.5", 1000.5f, PAGE_READWRITE },
        { "the economy unreadable", 1.0f, PAGE_NOACCESS },
        { "no economy", 1.0f, 0 },
    };
    uint8_t *minutes = world.economy + sim::world_off::economy_minutes;
    for (auto &v : variants) {
        SCOPED_TRACE(v.name);
        sim::world_set_scale(v.scale);
        sim::world_pause(v.economy == PAGE_NOACCESS);
        sim::game_protect(minutes, 8, v.economy ? v.economy : PAGE_READWRITE);
        if (!v.economy)
            sim::world_remove_economy();
        size_t from = log_lines().size();
        uint64_t before = c->time_reports;
        run_for(6.0);
        EXPECT_EQ(c->time_reports, before);
        EXPECT_TRUE(corrections_since(from).empty());
        EXPECT_EQ(log_find("FRAME FAULT"), -1) << log_text();
    }
    sim::game_put<uint64_t>(sim::world_off::economy, rt::as_address(world.economy));
    size_t from = log_lines().size();
    uint64_t before = c->time_reports;
    run_for(1.5);
    EXPECT_EQ(c->time_reports, before + 1); // the report was due long ago
    EXPECT_EQ(corrections_since(from).size(), 1u) << log_text();
}

TEST_F(world_sync, ADifferentServerRateWarnsOnceAndCorrectsRegularly)
{
    join();
    sim::world_set_clock(2, 10, 0, 0);
    ts_world_set_time(&server, hms(10, 0, 0), 1.5f);
    size_t from = log_lines().size();
    run_for(30.0);
    auto warnings = lines_since(from, "[core] clock: our time scale");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "[core] clock: our time scale 1.000 differs from the server's 1.500 (expect regular corrections)");
    // Half a second of drift a second: a correction of a little over 5 s
    // about every 10 to 11 s.
    auto fixed = corrections_since(from);
    EXPECT_GE(fixed.size(), 2u) << log_text();
    EXPECT_LE(fixed.size(), 3u) << log_text();
    for (auto &f : fixed)
        EXPECT_TRUE(ends_with(f, "(+5 game s) to match the server") || ends_with(f, "(+6 game s) to match the server"))
            << f;

    // At the server's rate the drift stays put; the warning is not repeated.
    sim::world_set_scale(1.5f);
    ts_world_set_time(&server, sim::world_time_of_day(), 1.5f);
    from = log_lines().size();
    run_for(20.0);
    EXPECT_TRUE(corrections_since(from).empty());
    EXPECT_TRUE(lines_since(from, "[core] clock: our time scale").empty());
    ts_world_set_time(&server, hms(10, 0, 0), 0.5f);
    run_for(3.0);
    EXPECT_TRUE(lines_since(from, "[core] clock: our time scale").empty());
}

TEST_F(world_sync, WhileTheGameIsPausedTheServerRunsAheadAndWins)
{
    join();
    sim::world_set_clock(2, 10, 0, 0);
    ts_world_set_time(&server, hms(10, 0, 0), 1.0f);
    run_for(2.0);
    ts_client *c = ts_find_name(&server, "tester");
    uint64_t reports = c->time_reports;
    sim::event_paused();
    sim::world_pause(true);
    size_t from = log_lines().size();
    run_for(8.0);
    // Frozen at 10:00:02: corrected once the server is more than 5 s ahead.
    auto fixed = corrections_since(from);
    ASSERT_EQ(fixed.size(), 1u) << log_text();
    EXPECT_TRUE(starts_with(fixed[0], "[core] clock: 10:00:02 -> 10:00:0")) << fixed[0];
    EXPECT_TRUE(ends_with(fixed[0], "(+5 game s) to match the server") ||
                ends_with(fixed[0], "(+6 game s) to match the server"))
        << fixed[0];
    EXPECT_GT(c->time_reports, reports); // reports go on while paused

    sim::event_started();
    sim::world_pause(false);
    from = log_lines().size();
    run_for(5.0);
    EXPECT_TRUE(corrections_since(from).empty());
    EXPECT_LT(fabs(drift(server_now(), sim::world_time_of_day())), 5.0);
}

TEST_F(world_sync, ClockSyncOffLeavesTheDriftAndOnCorrectsInTheNextFrame)
{
    join();
    EXPECT_EQ(first("clock sync off"), "[core] clock sync off");
    sim::world_set_clock(2, 10, 0, 0);
    ts_world_set_time(&server, hms(12, 0, 0), 1.0f);
    size_t from = log_lines().size();
    run_for(4.0);
    EXPECT_TRUE(corrections_since(from).empty());
    EXPECT_NEAR(drift(server_now(), sim::world_time_of_day()), hms(2, 0, 0), 0.5);
    ts_client *c = ts_find_name(&server, "tester");
    EXPECT_GT(c->time_reports, 0u); // sync off still reports

    // The correction may come in the frame that runs the command.
    from = log_lines().size();
    EXPECT_EQ(first("clock sync on"), "[core] clock sync on");
    run_for(0.1);
    auto fixed = corrections_since(from);
    ASSERT_EQ(fixed.size(), 1u) << log_text();
    EXPECT_TRUE(ends_with(fixed[0], "(+7200 game s) to match the server")) << fixed[0];
    EXPECT_LT(fabs(drift(server_now(), sim::world_time_of_day())), 0.5);
}

TEST_F(world_sync, OnAnotherGameBuildNeitherClockNorWeatherIsTouched)
{
    sim::set_build_hash("da49adfbbbdc");
    join();
    ts_world_set_time(&server, hms(12, 0, 0), 1.5f);
    ts_world_set_weather(&server, 1, 1, 1800);
    sim::world_set_weather(0, 100.0f);
    run_for(6.0);
    EXPECT_EQ(ts_find_name(&server, "tester")->time_reports, 0u);
    EXPECT_EQ(log_find("[core] clock:"), -1) << log_text();
    EXPECT_EQ(log_find("[core] weather"), -1) << log_text();
    EXPECT_TRUE(sim::calls_named("set_weather").empty());
    EXPECT_LT(sim::world_timer(), 100.0f);
    EXPECT_EQ(sim::world_day(), 2u);
    EXPECT_LT(sim::world_time_of_day(), hms(10, 1, 0));
}

TEST_F(world_sync, ClockCommandLines)
{
    start();
    sim::world_pause(true); // the game's clock stands still: exact lines
    struct {
        const char *line;
        const char *want;
        double tod_after;
        uint32_t day_after;
    } cases[] = {
        { "clock", "[core] clock: local 10:00:00 day 2 (rate 1.000), no server time, sync on", hms(10, 0, 0), 2 },
        { "clock   ", "[core] clock: local 10:00:00 day 2 (rate 1.000), no server time, sync on", hms(10, 0, 0), 2 },
        { "clock set 7", "[core] clock: 10:00:00 -> 07:00 (-10800 game s)", hms(7, 0, 0), 2 },
        { "clock set 7:45", "[core] clock: 07:00:00 -> 07:45 (+2700 game s)", hms(7, 45, 0), 2 },
        // The short way round: back into the day before.
        { "clock set 23:30", "[core] clock: 07:45:00 -> 23:30 (-29700 game s)", hms(23, 30, 0), 1 },
        { "clock set 0:10", "[core] clock: 23:30:00 -> 00:10 (+2400 game s)", hms(0, 10, 0), 2 },
        { "clock set 24", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock set 7:60", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock set -1", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock set x", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock set nan", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock set inf:5", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock set", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock sync off", "[core] clock sync off", hms(0, 10, 0), 2 },
        { "clock", "[core] clock: local 00:10:00 day 2 (rate 1.000), no server time, sync off", hms(0, 10, 0), 2 },
        { "clock sync on", "[core] clock sync on", hms(0, 10, 0), 2 },
        // Any other text is no status: the set form answers it and nothing moves.
        { "clock sync", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock -1", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock nan", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock 7:30", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock sync onward", "[core] clock set HH:MM", hms(0, 10, 0), 2 },
        { "clock", "[core] clock: local 00:10:00 day 2 (rate 1.000), no server time, sync on", hms(0, 10, 0), 2 },
    };
    for (auto &c : cases) {
        EXPECT_EQ(first(c.line), c.want) << c.line;
        EXPECT_EQ(sim::world_time_of_day(), c.tod_after) << c.line;
        EXPECT_EQ(sim::world_day(), c.day_after) << c.line;
    }
    EXPECT_EQ(sim::world_seconds(), 0.0f);

    // Without a usable clock every other line says so; sync on and off still work.
    const char *no_economy = "[core] clock: no economy (profile not loaded?)";
    sim::world_set_scale(0);
    EXPECT_EQ(first("clock"), no_economy);
    sim::world_set_scale(1);
    sim::world_remove_economy();
    EXPECT_EQ(first("clock set 7"), no_economy);
    EXPECT_EQ(first("clock -1"), "[core] clock set HH:MM"); // wrong whatever the clock
    EXPECT_EQ(first("clock sync off"), "[core] clock sync off");
    sim::game_put<uint64_t>(sim::world_off::economy, rt::as_address(world.economy));
    sim::game_player_remove();
    EXPECT_EQ(first("clock"), no_economy);
}

TEST_F(world_sync, ClockCommandWhileJoined)
{
    join();
    EXPECT_EQ(first("clock sync off"), "[core] clock sync off");
    sim::world_set_clock(2, 10, 0, 0);
    ts_world_set_time(&server, hms(12, 0, 0), 1.0f);
    run_for(1.0);
    sim::world_pause(true);
    std::string status = first("clock");
    EXPECT_TRUE(starts_with(status, "[core] clock: local 10:00:0")) << status;
    EXPECT_NE(status.find(" day 2 (rate 1.000), server 12:00:0"), std::string::npos) << status;
    EXPECT_TRUE(ends_with(status, ", sync off")) << status;
    // Sync off: a manual set stays.
    std::string set = first("clock set 8");
    EXPECT_TRUE(ends_with(set, " -> 08:00 (-7201 game s)") || ends_with(set, " -> 08:00 (-7202 game s)")) << set;
    EXPECT_EQ(sim::world_time_of_day(), hms(8, 0, 0));
    // Sync on: the step runs in the next frame and takes the server's time.
    EXPECT_EQ(first("clock sync on"), "[core] clock sync on");
    size_t from = log_lines().size();
    run_for(0.1);
    ASSERT_EQ(corrections_since(from).size(), 1u) << log_text();
    EXPECT_TRUE(starts_with(corrections_since(from)[0], "[core] clock: 08:00:00 -> 12:00:0"));
    // A manual set while joined says the server wins, and the next step does.
    std::vector<std::string> out = command("clock set 9");
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(starts_with(out[0], "[core] clock: 12:00:0")) << out[0];
    EXPECT_NE(out[0].find(" -> 09:00 (-1080"), std::string::npos) << out[0];
    EXPECT_TRUE(ends_with(out[0], " game s); sync is on, the server time will win again")) << out[0];
    EXPECT_EQ(sim::world_time_of_day(), hms(9, 0, 0));
    from = log_lines().size();
    sim::world_pause(false);
    run_for(1.5);
    EXPECT_EQ(corrections_since(from).size(), 1u) << log_text();
    EXPECT_LT(fabs(drift(server_now(), sim::world_time_of_day())), 0.5);
}

/* ---- the weather ---- */

TEST_F(world_sync, WeatherFollowsTheServersKindAndRoll)
{
    join();
    sim::calls_clear();
    struct {
        const char *name;
        uint8_t kind, roll;
        const char *line; /* null: none */
        const char *calls;
        uint32_t game_kind;
    } steps[] = {
        { "first difference: at once", 1, 1, "[core] weather: server says bad; forced change", "1/1", 1 },
        { "a new roll: blended", 0, 2, "[core] weather: server says normal; interpolated change", "0/0", 0 },
        { "same kind, new roll: no call", 0, 3, nullptr, "", 0 },
        { "bad again", 1, 4, "[core] weather: server says bad; interpolated change", "1/0", 1 },
    };
    for (auto &s : steps) {
        SCOPED_TRACE(s.name);
        ts_world_set_weather(&server, s.kind, s.roll, 1800);
        size_t from = log_lines().size();
        run_for(2.5);
        auto said = lines_since(from, "[core] weather: server says");
        if (s.line) {
            ASSERT_EQ(said.size(), 1u) << log_text();
            EXPECT_EQ(said[0], s.line);
        } else {
            EXPECT_TRUE(said.empty()) << said[0];
        }
        EXPECT_EQ(set_calls(), s.calls);
        EXPECT_EQ(sim::world_kind(), s.game_kind);
        sim::calls_clear();
    }
    std::string shown = command("weather").at(1);
    EXPECT_TRUE(starts_with(shown, "[core] weather: server bad (roll 4, next in 179")) << shown;
    EXPECT_TRUE(ends_with(shown, " s), sync on")) << shown;

    // The server falls silent and we rejoin (the server's weather is kept
    // meanwhile); the game rolled in between: the next difference is at once.
    server.silent = true;
    size_t from = log_lines().size();
    run_for(7.0);
    ASSERT_FALSE(lines_since(from, "[net] server silent for").empty()) << log_text();
    sim::world_set_weather(0, 1200);
    server.silent = false;
    for (int i = 0; i < 100 && lines_since(from, "[net] joined as player").empty(); i++)
        run_for(0.1);
    ASSERT_FALSE(lines_since(from, "[net] joined as player").empty()) << log_text();
    run_for(3.0);
    EXPECT_EQ(lines_since(from, "[core] weather: server says"),
              std::vector<std::string> { "[core] weather: server says bad; forced change" });
    EXPECT_EQ(set_calls(), "1/1");
    sim::calls_clear();

    // Leave and join again: the game rolled meanwhile; the next difference is at once.
    command("net disconnect");
    run_for(1.5);
    sim::world_set_weather(0, 1200);
    from = log_lines().size();
    command(fmt("net connect 127.0.0.1 %u tester", server.port));
    for (int i = 0; i < 100 && lines_since(from, "[net] joined as player").empty(); i++)
        run_for(0.1);
    ASSERT_FALSE(lines_since(from, "[net] joined as player").empty()) << log_text();
    run_for(3.0);
    auto said = lines_since(from, "[core] weather: server says");
    ASSERT_EQ(said.size(), 1u) << log_text();
    EXPECT_EQ(said[0], "[core] weather: server says bad; forced change");
    EXPECT_EQ(set_calls(), "1/1");
}

TEST_F(world_sync, TheGamesOwnRollIsHeldWhileSyncIsOn)
{
    join();
    // Joined without server weather the game rolls its own.
    sim::world_set_weather(0, 2.0f);
    run_for(2.5);
    EXPECT_EQ(sim::calls_named("game_roll").size(), 1u);
    EXPECT_EQ(sim::world_kind(), 1u);
    EXPECT_TRUE(sim::calls_named("set_weather").empty());

    ts_world_set_weather(&server, 1, 1, 1800);
    run_for(0.2);
    sim::calls_clear();
    sim::world_set_weather(1, 3.0f);
    run_for(10.0);
    EXPECT_TRUE(sim::calls_named("game_roll").empty());
    EXPECT_GT(sim::world_timer(), 3580.0f);

    // The floor: 600.0 s is left alone, 599.9 s is pushed back to an hour.
    sim::world_pause(true);
    sim::world_set_weather(1, 600.0f);
    run_for(2.5);
    EXPECT_EQ(sim::world_timer(), 600.0f);
    sim::world_set_weather(1, 599.9f);
    run_for(2.5);
    EXPECT_EQ(sim::world_timer(), 3600.0f);
    sim::world_pause(false);

    // Sync off: the timer runs on from where it is and the game rolls again.
    EXPECT_EQ(first("weather sync off"),
              "[core] weather sync off (the game rolls its own again once its timer runs out)");
    sim::world_set_weather(1, 500.0f);
    run_for(2.0);
    EXPECT_NEAR(sim::world_timer(), 498.0f, 0.3f);
    sim::world_set_weather(1, 2.0f);
    run_for(3.0);
    EXPECT_EQ(sim::calls_named("game_roll").size(), 1u);
    EXPECT_EQ(sim::world_kind(), 0u);
    EXPECT_TRUE(sim::calls_named("set_weather").empty());

    // Sync on again: the server's kind at once, and the timer held.
    EXPECT_EQ(first("weather sync on"), "[core] weather sync on");
    size_t from = log_lines().size();
    run_for(1.5);
    EXPECT_EQ(lines_since(from, "[core] weather: server says"),
              std::vector<std::string> { "[core] weather: server says bad; forced change" });
    EXPECT_EQ(set_calls(), "1/1");
}

TEST_F(world_sync, AFaultySetWeatherTurnsSyncOffAndAnUnreadableEnvironmentChangesNothing)
{
    join();
    sim::world_fault_set_weather(true);
    ts_world_set_weather(&server, 1, 1, 1800);
    size_t from = log_lines().size();
    run_for(5.0);
    EXPECT_EQ(lines_since(from, "[core] weather"),
              (std::vector<std::string> { "[core] weather: server says bad; forced change",
                                          "[core] weather: set_weather faulted",
                                          "[core] weather sync off after a fault" }));
    EXPECT_EQ(sim::world_kind(), 0u);
    std::string shown = command("weather").at(1);
    EXPECT_TRUE(starts_with(shown, "[core] weather: server bad (roll 1, next in 179")) << shown;
    EXPECT_TRUE(ends_with(shown, " s), sync off")) << shown;

    // The environment's kind unreadable: the tick changes nothing and says nothing.
    sim::world_fault_set_weather(false);
    sim::world_pause(true);
    sim::world_set_weather(0, 100.0f);
    sim::game_protect(world.environment + 0x3000, 0x1000, PAGE_NOACCESS);
    sim::calls_clear();
    EXPECT_EQ(first("weather sync on"), "[core] weather sync on");
    from = log_lines().size();
    run_for(3.0);
    EXPECT_TRUE(lines_since(from, "[core] weather").empty());
    EXPECT_TRUE(sim::calls_named("set_weather").empty());
    sim::game_protect(world.environment + 0x3000, 0x1000, PAGE_READWRITE);
    EXPECT_EQ(sim::world_timer(), 100.0f);
    run_for(1.5);
    EXPECT_EQ(lines_since(from, "[core] weather"),
              std::vector<std::string> { "[core] weather: server says bad; forced change" });
    EXPECT_EQ(set_calls(), "1/1");
    EXPECT_EQ(sim::world_timer(), 3600.0f);
}

TEST_F(world_sync, WeatherCommandLines)
{
    start();
    sim::world_pause(true);
    uint8_t *e = world.environment;
    sim::world_set_weather(0, 1234.5f);
    sim::put<int32_t>(e, sim::world_off::env_pair, 3);
    sim::put<int32_t>(e, sim::world_off::env_pair + 4, 4);
    sim::put<int32_t>(e, sim::world_off::env_next_pair, 5);
    sim::put<int32_t>(e, sim::world_off::env_next_pair + 4, 6);
    sim::put<float>(e, sim::world_off::env_mix, 0.25f);
    sim::put<float>(e, sim::world_off::env_second_timer, 12.25f);
    sim::put<float>(e, sim::world_off::env_rain, 0.5f);
    sim::put<uint32_t>(e, sim::world_off::env_seed, 0xDEADBEEF);
    sim::put<int32_t>(e, sim::world_off::env_lock, 2);
    sim::put<uint64_t>(e, sim::world_off::env_climate, 0x1234560);
    sim::put<uint64_t>(e, sim::world_off::env_climate + 8, 0x7654320);
    sim::world_set_clock(2, 10, 0, 30.375f);
    auto dump = [](const char *label, int kind, int trans, const char *pairs, const char *timers) {
        return fmt("[core] weather(%s): idx %d/%d %s %s trans %d rain 0.500 seed deadbeef envlock 2 clock 10:00+30.4s "
                   "econ 3480 (day 2 10:00) climate %p/%p",
                   label, kind, kind, pairs, timers, trans, as_pointer((uint64_t)0x1234560),
                   as_pointer((uint64_t)0x7654320));
    };
    const char *pairs = "pair 3 4 next 5 6 mix 0.250";
    const char *timers = "wtimer 1234.50 ctimer 12.25";
    const char *usage = "[core] weather: usage weather | weather set <0|1> [i|f] | weather apply <idx> <p0> <p1> "
                        "<n0> <n1> <mix> <wt> <ct>";
    const char *need = "[core] weather apply: need <idx> <p0> <p1> <n0> <n1> <mix> <wtimer> <ctimer>";
    struct {
        const char *line;
        std::vector<std::string> want;
        const char *calls;
    } cases[] = {
        { "weather", { dump("now", 0, 0, pairs, timers), "[core] weather: no server weather, sync on" }, "" },
        { "weather set 3", { dump("before", 0, 0, pairs, timers), dump("after", 1, 0, pairs, timers) }, "1/1" },
        { "weather set 0 i", { dump("before", 1, 0, pairs, timers), dump("after", 0, 1, pairs, timers) }, "0/0" },
        { "weather set 1 f", { dump("before", 0, 1, pairs, timers), dump("after", 1, 0, pairs, timers) }, "1/1" },
        { "weather set", { usage }, "" },
        { "weather set x", { usage }, "" },
        { "weather set nan", { usage }, "" },
        { "weather rain", { usage }, "" },
        { "weather apply 1 2 3", { need }, "" },
        { "weather apply 1 2 3 4 5 nan 100 200", { need }, "" },
        { "weather apply 1 2 3 4 5 0.5 inf 200", { need }, "" },
        { "weather apply 1 2 3 4 5 0.5 100 1e39", { need }, "" },
        { "weather apply 0 7 8 9 10 0.75 3000 42.5",
          { dump("before", 1, 0, pairs, timers),
            dump("after", 0, 0, "pair 7 8 next 9 10 mix 0.750", "wtimer 3000.00 ctimer 42.50") },
          "0/1" },
        { "weather sync off", { "[core] weather sync off (the game rolls its own again once its timer runs out)" }, "" },
        { "weather", { dump("now", 0, 0, "pair 7 8 next 9 10 mix 0.750", "wtimer 3000.00 ctimer 42.50"),
                       "[core] weather: no server weather, sync off" }, "" },
        { "weather sync on", { "[core] weather sync on" }, "" },
    };
    for (auto &c : cases) {
        sim::calls_clear();
        EXPECT_EQ(command(c.line), c.want) << c.line;
        EXPECT_EQ(set_calls(), c.calls) << c.line;
        bool applies = strncmp(c.line, "weather apply", 13) == 0 && c.calls[0];
        EXPECT_EQ(sim::calls_named("apply_weather").size(), applies ? 1u : 0u) << c.line;
        if (applies) {
            EXPECT_EQ(sim::calls_named("apply_weather")[0].args[0], env());
        }
    }

    // Faults in the game's functions and in the environment's fields.
    const std::string after_apply = dump("before", 0, 0, "pair 7 8 next 9 10 mix 0.750", "wtimer 3000.00 ctimer 42.50");
    sim::world_fault_apply_weather(true);
    EXPECT_EQ(command("weather apply 0 1 1 1 1 0 100 100"),
              (std::vector<std::string> { after_apply, "[core] weather apply: fault" }));
    sim::world_fault_apply_weather(false);
    sim::world_fault_set_weather(true);
    auto faulted = command("weather set 1");
    ASSERT_EQ(faulted.size(), 2u);
    EXPECT_EQ(faulted[1], "[core] weather: set_weather faulted");
    EXPECT_EQ(command("weather apply 1 1 1 1 1 0 100 100").back(), "[core] weather: set_weather faulted");
    sim::world_fault_set_weather(false);
    sim::game_protect(e + 0x4000, 0x800, PAGE_NOACCESS);
    EXPECT_EQ(command("weather"),
              (std::vector<std::string> { "[core] weather: read fault", "[core] weather: no server weather, sync on" }));
    sim::game_protect(e + 0x4000, 0x800, PAGE_READWRITE);
    const char *no_env = "[core] weather: no environment (profile not loaded?)";
    sim::calls_clear();
    sim::world_remove_environment();
    for (const char *line : { "weather", "weather set 1", "weather sync off", "weather x" })
        EXPECT_EQ(command(line), std::vector<std::string> { no_env }) << line;
    sim::game_player_remove();
    EXPECT_EQ(command("weather"), std::vector<std::string> { no_env });
    EXPECT_TRUE(sim::calls_named("set_weather").empty());
}

} // namespace

/* A game test of the core runtime: a fresh simulated game (image zeroed, the
 * supported build hash, a player in the game) and the real core installed. */
#pragma once
#include <winsock2.h>
#include <stdarg.h>
#include <functional>
#include "log_capture.h"
#include "sim/fixture.h"
#include "sim/sim_game.h"
#include "sim/sim_vehicles.h"
#include "testserver.h"

namespace rt {

using fx::fmt;

/* Addresses as the core prints them (%p) and as it passes them (u64). */
inline void *as_pointer(const void *address) { return (void *)address; }
inline void *as_pointer(uint64_t address) { return (void *)(uintptr_t)address; }
inline uint64_t as_address(const void *address) { return (uint64_t)(uintptr_t)address; }

/* The player's truck (after sim::vehicle_world_install): a definition of
 * one chassis part that the game knows, standing at (100, 10, 50). */
inline uint8_t *player_truck(const sim::player &p)
{
    const char *chassis = "/def/truck/chassis.sii";
    sim::data_new(chassis, sim::game_at(sim::veh_off::part_data_class));
    uint8_t *def = sim::def_new(sim::def_kind::vehicle, "AB 123");
    sim::def_push(def, sim::accessory_new(sim::accessory_kind::part, chassis));
    sim::player_truck_def(p, def);
    sim::placement32 at = { 100, 10, 50, 0, 0, 1, 0, 0, 0 };
    sim::player_set_placement(&at);
    return def;
}

/* The two entries of the test server's bots' truck list, known to the game
 * (the cabin stands for a wheel: a truck is built only from a list with one). */
inline void bot_truck_data()
{
    sim::data_new("/def/vehicle/truck/demo.truck/chassis/4x2.sii", sim::game_at(sim::veh_off::part_data_class));
    sim::data_new("/def/vehicle/truck/demo.truck/cabin/big.sii", sim::game_at(sim::veh_off::wheel_data_class));
}

/* Game frames of dt with the test server answering before each and after the last. */
inline void frames_with(ts_server *server, int n, double dt)
{
    for (int i = 0; i < n; i++) {
        ts_poll(server, sim::clock_now());
        sim::frames(1, dt);
    }
    ts_poll(server, sim::clock_now());
}

class core_test : public fx::game_test {
protected:
    sim::player player {};

    void SetUp() override
    {
        fx::game_test::SetUp();
        sim::game_reset();
        sim::set_build_hash();
        player = sim::game_player_create();
        install_core("drovemark_core.dll");
    }

    void TearDown() override
    {
        fx::game_test::TearDown();
        sim::game_reset();
    }

    /* Ends this game and loads the plug-in afresh, with an empty log. */
    void restart()
    {
        shutdown();
        sim::plugin_unload();
        dm_file_delete((base + "drovemark.log").c_str());
        reload_fx::clear_blocks(); // a new game: nothing of the last core's is taken back
        ASSERT_TRUE(sim::plugin_load(fx::bin("drovemark.dll").c_str()));
    }

    /* Starts the game with the core and runs its first frame. */
    void start()
    {
        ASSERT_EQ(init(), SCS_RESULT_OK);
        ASSERT_GE(log_find("[core] init (build "), 0) << log_text();
        sim::event_started();
        sim::frames(1, 0.05);
    }

    /* After a frame whose poll asked for cmd.txt: waits (at most 2 s, no
     * frames) until the core's file worker has taken the file and read it;
     * the next frame runs its lines. */
    void wait_commands_taken()
    {
        for (int i = 0; i < 400 && (fx::exists(base + "cmd.txt") || fx::exists(base + "cmd.txt.taken")); i++)
            Sleep(5);
    }

    /* The same, then the frame that runs the lines. */
    void run_taken_commands()
    {
        wait_commands_taken();
        sim::frames(1, 0);
    }

    /* Runs the lines as cmd.txt (asked for in a poll, run a frame later)
     * and returns the log lines that follow the first "[core] cmd: " line. */
    std::vector<std::string> run(const std::string &text)
    {
        int before = (int)log_lines().size();
        fx::write_file(base + "cmd.txt", text);
        sim::frames(1, 0.25);
        run_taken_commands();
        auto lines = log_lines();
        std::vector<std::string> out;
        for (int i = before; i < (int)lines.size(); i++)
            out.push_back(lines[i]);
        return out;
    }

    /* The lines a single command logged after its echo. */
    std::vector<std::string> command(const std::string &line)
    {
        auto lines = run(line + "\n");
        std::vector<std::string> out;
        bool after = false;
        for (auto &l : lines) {
            if (after)
                out.push_back(l);
            else if (l == "[core] cmd: " + line)
                after = true;
        }
        return out;
    }

    std::string first(const std::string &line)
    {
        auto out = command(line);
        return out.empty() ? "(nothing)" : out[0];
    }

    /* The lines echoed by the dispatcher, in order. */
    std::vector<std::string> echoed()
    {
        std::vector<std::string> out;
        for (auto &l : log_lines())
            if (l.rfind("[core] cmd: ", 0) == 0)
                out.push_back(l.substr(12));
        return out;
    }

    /* The file's text, read as an outside reader should read a file the core
     * replaces: shared for deletion, so that the core's replacing move is
     * never refused while it is open here. */
    static std::string read_shared(const std::string &path)
    {
        std::string out;
        HANDLE h = dm_file_create(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  OPEN_EXISTING);
        if (h == INVALID_HANDLE_VALUE)
            return out;
        char buf[4096];
        DWORD n;
        while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0)
            out.append(buf, n);
        CloseHandle(h);
        return out;
    }

    /* Waits (at most 5 s, no frames) until the file, written by the core's
     * file worker, begins with the prefix; what it held last. */
    std::string wait_for_file(const std::string &path, const std::string &prefix)
    {
        std::string text;
        for (int i = 0; i < 500; i++) {
            text = read_shared(path);
            if (text.compare(0, prefix.size(), prefix) == 0)
                break;
            Sleep(10);
        }
        return text;
    }
};

/* A core test with the test server on 127.0.0.1. join() starts the server,
 * the game and the core as "tester" (with more config lines if given) and
 * runs frames until the core has joined; a fixture whose world moves with
 * the frames says how in server_frames. */
class server_test : public core_test {
protected:
    ts_server server {};
    bool server_up = false;

    void TearDown() override
    {
        core_test::TearDown();
        if (server_up)
            ts_stop(&server);
    }

    /* n frames of dt with the server answering before each and after the last. */
    virtual void server_frames(int n, double dt) { frames_with(&server, n, dt); }

    /* Log lines since the given count that begin with the prefix. */
    std::vector<std::string> lines_since(size_t from, const std::string &prefix)
    {
        std::vector<std::string> out;
        auto lines = log_lines();
        for (size_t i = from; i < lines.size(); i++)
            if (lines[i].compare(0, prefix.size(), prefix) == 0)
                out.push_back(lines[i]);
        return out;
    }

    void join(const std::string &config = "")
    {
        ASSERT_TRUE(ts_start(&server, 0));
        server_up = true;
        write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port) + config);
        start();
        for (int i = 0; i < 100 && log_find("[net] joined as player") < 0; i++)
            server_frames(1, 0.1);
        ASSERT_GE(log_find("[net] joined as player"), 0) << log_text();
        ASSERT_TRUE(ts_find_name(&server, "tester"));
    }
};

/* A server test whose bots drive and whose core is hot-reloaded: frames
 * with the server and its bots answering, and the plug-in's reload of the
 * same core file. */
class reload_server_test : public server_test {
protected:
    double next_state = 0, next_lists = 0;
    int reloads = 0;

    /* Frames of dt; with the server up, it and its bots answer around each. */
    void step(int n, double dt)
    {
        for (int i = 0; i < n; i++) {
            if (server_up) {
                ts_poll(&server, sim::clock_now());
                ts_bots_tick(&server, sim::clock_now(), &next_state, &next_lists);
            }
            sim::frames(1, dt);
        }
        if (server_up)
            ts_poll(&server, sim::clock_now());
    }
    void server_frames(int n, double dt) override { step(n, dt); }

    /* Frames until a log line from `from` on begins with the prefix; its index or -1. */
    int step_until(const std::string &prefix, double seconds, int from = 0, double dt = 0.05)
    {
        for (double t = 0; t < seconds && log_find(prefix, from) < 0; t += dt)
            step(1, dt);
        return log_find(prefix, from);
    }

    int count_since(int from, const std::string &prefix)
    {
        int n = 0;
        auto lines = log_lines();
        for (int i = from; i < (int)lines.size(); i++)
            n += lines[i].compare(0, prefix.size(), prefix) == 0;
        return n;
    }

    /* The bot's states and lists go out from the next frame on. */
    uint16_t add_bot(const char *name)
    {
        next_state = next_lists = 0;
        return ts_add_bot(&server, name, sim::clock_now());
    }

    /* A hot reload of the same core: every frame of 0.5 s polls the file. The
     * test touches it, the next frame sees it changed (the old core's last
     * frame), the test runs `before` (the game between that frame and the
     * reload), and the frame after, seeing the file alike, reloads. */
    void touch_core() { fx::set_write_time(base + "core\\drovemark_core.dll", 60.0 * ++reloads); }
    void reload_core(const std::function<void()> &before = {})
    {
        // The plug-in counts generations over the process's life.
        int loaded = 0;
        for (auto &l : log_lines())
            sscanf(l.c_str(), "[host] core generation %d loaded", &loaded);
        step(1, 0.5);
        touch_core();
        step(1, 0.5);
        if (before)
            before();
        step(1, 0.5);
        ASSERT_GE(log_find(fmt("[host] core generation %d loaded", loaded + 1)), 0) << log_text();
    }
};

} // namespace rt

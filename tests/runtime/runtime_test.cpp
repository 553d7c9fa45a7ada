// The core runtime through the real plug-in and core in the simulated game:
// the build gate, cmd.txt, state.json, the dispatcher, config.ini,
// auto-connect and the diagnostic commands, checked by their log lines and files.
#include <algorithm>
#include "runtime_fixture.h"

using rt::as_pointer;
using rt::fmt;
using rt::frames_with;

namespace {

class runtime : public rt::core_test {};

const char *const report_prefix = "[core] build hash at 0x142256940: '";
const char *const wrong_suffix =
    "' (expected prefix da49adfbbbdb for 1.61.3.1) -- WRONG GAME BUILD: game-memory features are OFF (telemetry + network only)";

TEST_F(runtime, BuildGateOnRightWrongAndUnreadableHashes)
{
    struct {
        const char *hash;
        bool unreadable;
        std::string report;
    } cases[] = {
        { "da49adfbbbdb", false, std::string(report_prefix) + "da49adfbbbdb' (expected prefix da49adfbbbdb for 1.61.3.1)" },
        { "da49adfbbbdc", false, std::string(report_prefix) + "da49adfbbbdc" + wrong_suffix },
        { "da49\x01\x7f" "dfbbbdb", false, std::string(report_prefix) + "da49??dfbbbd" + wrong_suffix },
        { "da49", false, std::string(report_prefix) + "da49" + wrong_suffix },
        { "da49adfbbbdb", true, std::string(report_prefix) + wrong_suffix },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.report);
        sim::set_build_hash(c.hash);
        if (c.unreadable)
            sim::game_protect(sim::game_at(sim::off::build_hash), 12, PAGE_NOACCESS);
        start();
        bool ok = c.report.find("WRONG") == std::string::npos;
        EXPECT_EQ(log_count(report_prefix), 1);
        EXPECT_GE(log_find(c.report), 0) << log_text();
        // The result is settled once: a changed hash does not change it.
        sim::game_protect(sim::game_at(sim::off::build_hash), 12, PAGE_EXECUTE_READWRITE);
        sim::set_build_hash(ok ? "000000000000" : "da49adfbbbdb");
        std::string build = std::string(report_prefix) + (ok ? "000000000000" : "da49adfbbbdb") +
                            (ok ? "' (expected prefix da49adfbbbdb for 1.61.3.1)" : wrong_suffix);
        EXPECT_EQ(first("build"), build);
        EXPECT_EQ(first("despawn"), ok ? "[core] nothing spawned"
                                       : "[core] refused on this game build (only ping, pos, build, threads, net, config, update)");
        EXPECT_EQ(first("ping"), "[core] pong");
        EXPECT_EQ(first("netx"), "[core] unknown command"); // through the gate, then no row
        // a line no row takes, of no family the gate lets through, is refused there
        EXPECT_EQ(first("pinger"), ok ? "[core] unknown command"
                                      : "[core] refused on this game build (only ping, pos, build, threads, net, config, update)");
        restart();
    }
}

TEST_F(runtime, CmdTxtLinesRunOnceInOrder)
{
    // Written while no core runs: the first frame of the core takes it.
    // A line of more than 255 characters is refused whole: its tail (here a
    // command of its own from byte 256 on) never runs. One of exactly 255
    // runs. A Ctrl-Z byte is a byte like any other, not the end of the file.
    std::string long_line = "nametags dist 12 " + std::string(238, 'x') + "nametags off";
    ASSERT_EQ(long_line.find("nametags off"), 255u);
    std::string full_line = "ping " + std::string(250, 'y');
    CreateDirectoryA(base.c_str(), nullptr);
    fx::write_file(base + "cmd.txt", "ping\r\n\r\n\r\nPING\r\n" + long_line + "\r\n" + full_line +
                                         "\nbuild\r\x1a\n\nthreads");
    start();
    run_taken_commands();
    std::vector<std::string> expect = { "ping", "PING", full_line, "build", "threads" };
    EXPECT_EQ(echoed(), expect);
    std::string refusal = "[core] cmd.txt: refused a line of more than 255 characters: nametags dist 12 " +
                          std::string(23, 'x') + "...";
    EXPECT_EQ(log_count("[core] cmd.txt: refused"), 1) << log_text();
    int refused_at = log_find(refusal);
    EXPECT_GT(refused_at, log_find("[core] cmd: PING")) << log_text();
    EXPECT_LT(refused_at, log_find("[core] cmd: " + full_line)) << log_text();
    EXPECT_EQ(log_count("[nametags]"), 0) << log_text();
    EXPECT_FALSE(fx::exists(base + "cmd.txt"));
    EXPECT_FALSE(fx::exists(base + "cmd.txt.taken"));

    // Polled every 0.2 s: a file written now waits for the next poll (once
    // the core's file worker has answered the first frame's poll).
    Sleep(100);
    fx::write_file(base + "cmd.txt", "ping\n");
    sim::frames(1, 0.1);
    Sleep(50);
    EXPECT_TRUE(fx::exists(base + "cmd.txt"));
    sim::frames(1, 0.1);
    run_taken_commands();
    EXPECT_FALSE(fx::exists(base + "cmd.txt"));
    EXPECT_EQ(log_count("[core] pong"), 2);
}

TEST_F(runtime, StateJsonIsOneLineReplacedEveryQuarterSecond)
{
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::event_started();
    sim::channel_placement(1000.5, 20.25, -30.125, 0.25f, -0.125f, 0.0625f);
    sim::channel_speed(22.5f);
    sim::frames(1, 0.5);
    std::string expect = "{\"frame\":1,\"time\":0.500,\"paused\":0,\"x\":1000.500,\"y\":20.250,\"z\":-30.125,"
                         "\"heading\":0.25000,\"pitch\":-0.12500,\"roll\":0.06250,\"speed\":22.500,\"spawn_state\":0}\r\n";
    EXPECT_EQ(wait_for_file(base + "state.json", "{"), expect);
    EXPECT_FALSE(fx::exists(base + "state.json.tmp"));
    sim::frames(2, 0.1); // 0.7 s: not yet
    Sleep(100);           // time enough for the core's file worker to write
    EXPECT_EQ(read_shared(base + "state.json"), expect);
    sim::frames(1, 0.1); // 0.8 s
    std::string now = wait_for_file(base + "state.json", "{\"frame\":4,");
    EXPECT_EQ(now.rfind("{\"frame\":4,\"time\":0.800,", 0), 0u) << now;
    EXPECT_EQ(std::count(now.begin(), now.end(), '\n'), 1);
}

TEST_F(runtime, DispatcherRowsThroughTheCore)
{
    start();
    struct {
        const char *line;
        const char *answer;
    } cases[] = {
        { "ping", "[core] pong" },
        { "PING", "[core] unknown command" },
        { "trailer off", "[core] trailer: none" },
        { "rvinfo", "[core] rv: none" },
        { "watch on", "[core] watch on" },
        { "watch off", "[core] watch off" },
        { "peek 0x1000", "[core] peek: give a game VA (0x14...)" },
        { "memrec 5", "[core] memrec: usage memrec <secs> <file name>" },
        // Never "recording 0 s", never a recording without an end.
        { "memrec 0.5 x", "[core] memrec: usage memrec <secs> <file name>" },
        { "memrec nan x", "[core] memrec: usage memrec <secs> <file name>" },
        { "memrec 1e309 x", "[core] memrec: usage memrec <secs> <file name>" },
        { "damage now", "[core] unknown command" },
        { "spawnx", "[core] unknown command" },
        { "net", "[core] net: connect <host> [port] [name] | disconnect | status | info [host] [port] | "
                 "trailers on|off | record <file>|off" },
        { "flags 1", "[core] unknown command" }, // its row needs a spawned vehicle
    };
    for (auto &c : cases)
        EXPECT_EQ(first(c.line), c.answer) << c.line;
    EXPECT_EQ(first("pos"), "[core] telemetry pos x=0.000 y=0.000 z=0.000 heading=0.0000 pitch=0.0000 roll=0.0000 "
                            "speed=0.00 paused=0");
    std::string threads = fmt("[core] threads: frame_end=%lu, core init=%lu, game window owner=",
                              GetCurrentThreadId(), GetCurrentThreadId());
    EXPECT_EQ(first("threads").rfind(threads, 0), 0u) << first("threads");
}

TEST_F(runtime, TheVehicleRowsAnswerWithoutAVehicle)
{
    start();
    // The spawned vehicle and its commands are in this build: "spawn 12"
    // places it 12 m to the right of the local truck (whose definition this
    // game lacks).
    EXPECT_EQ(first("spawn 12").rfind("[core] spawn at: local(12.000, 0.000, 0.000) sector(0, 0)", 0), 0u)
        << first("spawn 12");
    EXPECT_EQ(command("despawn"), std::vector<std::string>{ "[core] nothing spawned" });
    // So is the trailer, which needs the spawned vehicle.
    EXPECT_EQ(command("trailer"), std::vector<std::string>{ "[core] trailer: spawn a truck first" });
}

std::string computer_name()
{
    char name[64];
    DWORD n = sizeof name;
    if (!GetComputerNameA(name, &n) || n == 0)
        return "player";
    return std::string(name).substr(0, 32);
}

TEST_F(runtime, ConfigIniAsTheCoreReadsIt)
{
    std::string pc = computer_name();
    std::string url(600, 'u');
    struct {
        std::string file;
        std::string line;
    } cases[] = {
        { "port = 1000\nport = 2000\n", "server '' port 2000 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        { "; server = x\n# port = 5\n  SERVER\t=  example.org  \r\nNAME = Bob\nname =\nAutoConnect = 0\n",
          "server 'example.org' port 42870 name 'Bob' autoconnect off remote_mode clone sync 1" },
        { "remote_mode = RV\nport = 99999\nsync = 2\n", "server '' port 42870 name '" + pc + "' autoconnect on remote_mode rv sync 2" },
        { "name = \n" + std::string("update_url = ") + url + "\nserver = after\n",
          "server 'after' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
    };
    for (auto &c : cases) {
        write_config(c.file);
        ASSERT_EQ(init(), SCS_RESULT_OK);
        EXPECT_GE(log_find("[core] config: " + c.line), 0) << c.file << log_text();
        restart();
    }
    // "config reload" reads the file again; "config" shows what is in force.
    write_config("server = a.b\nautoconnect = 0\n");
    start();
    write_config("server = c.d\nport = 7\nautoconnect = 0\n");
    EXPECT_EQ(first("config"), "[core] config: server 'a.b' port 42870 name '" + pc + "' autoconnect off; " +
                                   std::string(first("net status").substr(12)));
    EXPECT_EQ(first("config reload"), "[core] config: server 'c.d' port 7 name '" + pc +
                                          "' autoconnect off remote_mode clone sync 1");
}

/* Text as the UTF-16 bytes a Windows shell writes: the byte-order mark, then
 * each unit little- or big-endian. */
std::string utf16_file(const std::u16string &text, bool big_endian)
{
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t u : text) {
        char lo = (char)(u & 0xFF), hi = (char)(u >> 8);
        out += big_endian ? std::string{ hi, lo } : std::string{ lo, hi };
    }
    return out;
}

// config.ini is read as bytes: a 0x1A byte is a byte like any other, a UTF-8
// byte-order mark is skipped, and a UTF-16 file is read and written back as
// UTF-8 with every line kept (said in one line).
TEST_F(runtime, ConfigIniIsReadWholeInAnyOfItsEncodings)
{
    const std::string settings = "server 'a.b' port 7 name 'J\xC3\xB6rg' autoconnect off remote_mode clone sync 1";
    const std::string utf8 = "# mine\r\nserver = a.b\r\nport = 7\r\nname = J\xC3\xB6rg\r\nautoconnect = 0\r\n";
    const std::u16string text = u"# mine\r\nserver = a.b\r\nport = 7\r\nname = J\u00F6rg\r\nautoconnect = 0\r\n";
    struct {
        const char *what;
        std::string file, converted, after;
    } cases[] = {
        { "a 0x1A byte", "server = a.b\n\x1A\nport = 7\nname = J\xC3\xB6rg\nautoconnect = 0\n", "", "" },
        { "a UTF-8 byte-order mark", "\xEF\xBB\xBFserver = a.b\nport = 7\nname = J\xC3\xB6rg\nautoconnect = 0\n", "", "" },
        { "UTF-16 LE", utf16_file(text, false), "UTF-16 LE", utf8 },
        { "UTF-16 BE", utf16_file(text, true), "UTF-16 BE", utf8 },
    };
    for (auto &c : cases) {
        write_config(c.file);
        ASSERT_EQ(init(), SCS_RESULT_OK);
        EXPECT_GE(log_find("[core] config: " + settings), 0) << c.what << "\n" << log_text();
        std::string said = "[core] config: config.ini was " + c.converted + "; written back as UTF-8, every line kept";
        EXPECT_EQ(log_count("[core] config: config.ini was"), c.converted.empty() ? 0 : 1) << c.what;
        if (!c.converted.empty()) {
            EXPECT_GE(log_find(said), 0) << c.what << "\n" << log_text();
        }
        EXPECT_EQ(fx::read_file(base + "config.ini"), c.after.empty() ? c.file : c.after) << c.what;
        restart();
    }
}

// A value that is not understood is said in one line with the key, the value
// and what is used instead; numbers and flags are digits only.
TEST_F(runtime, EachRefusedValueIsSaidOnce)
{
    std::string pc = computer_name();
    const std::string long_host(64, 'h'), a31(31, 'a');
    const std::string prefix = "[core] config: ";
    struct {
        std::string file;
        std::vector<std::string> said;
        std::string settings;
    } cases[] = {
        { "autoconnect = on\nauto_update = yes\n",
          { "autoconnect = 'on' refused (digits only); using 1", "auto_update = 'yes' refused (digits only); using 1" },
          "server '' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        { "autoconnect = 0\nautoconnect = -1\nautoconnect =\n",
          { "autoconnect = '-1' refused (digits only); using 0", "autoconnect = '' refused (digits only); using 0" },
          "server '' port 42870 name '" + pc + "' autoconnect off remote_mode clone sync 1" },
        { "port = 0\n", { "port = '0' refused (a number 1..65535); using 42870" },
          "server '' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        { "port = 1000\nport = 70000\nport = 1e309\n",
          { "port = '70000' refused (a number 1..65535); using 1000", "port = '1e309' refused (a number 1..65535); using 1000" },
          "server '' port 1000 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        { "server = " + long_host + "\n", { "server = '" + long_host + "' refused (at most 63 characters); using no server" },
          "server '' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        { "server = a.b\nserver = " + long_host + "\n",
          { "server = '" + long_host + "' refused (at most 63 characters); using 'a.b'" },
          "server 'a.b' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        { "sync = 2\nsync = fast\n", { "sync = 'fast' refused (digits only); using the mode in force" },
          "server '' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 2" },
        { "ui_toasts = on\nui_statusbar = 1\nui_scale = 1.25\n",
          { "ui_toasts = 'on' refused (digits only); using 1",
            "ui_scale = '1.25' refused (a whole percentage above 0); using 100" },
          "server '' port 42870 name '" + pc + "' autoconnect on remote_mode clone sync 1" },
        // A name is cut at the character that crosses 32 bytes, not inside it.
        { "name = " + a31 + "\xC3\xB6\n", {},
          "server '' port 42870 name '" + a31 + "' autoconnect on remote_mode clone sync 1" },
    };
    for (auto &c : cases) {
        write_config(c.file);
        ASSERT_EQ(init(), SCS_RESULT_OK);
        EXPECT_GE(log_find(prefix + c.settings), 0) << c.file << log_text();
        for (auto &line : c.said)
            EXPECT_EQ(log_count(prefix + line), 1) << c.file << log_text();
        int refused = 0;
        for (auto &line : log_lines())
            refused += line.find("' refused (") != std::string::npos;
        EXPECT_EQ(refused, (int)c.said.size()) << c.file << log_text();
        restart();
    }
}

TEST_F(runtime, MissingConfigIniGetsTheDefaultFile)
{
    std::string pc = computer_name();
    start();
    std::string expect =
        "# drovemark client settings (README.md \"config.ini\"). Edit, then `config reload` in cmd.txt (or restart).\r\n"
        "# server: IPv4 address or hostname of an drovemark server (empty = don't connect)\r\n"
        "server = \r\n"
        "port = 42870\r\n"
        "# name shown to other players (1..32 bytes)\r\n"
        "name = " + pc + "\r\n"
        "# 1 = join when you're in the game (a profile is loaded), leave on the main menu\r\n"
        "autoconnect = 1\r\n"
        "# how remote players are shown: clone (a full copy of a player vehicle, with trailers) or rv (the\r\n"
        "# game's own convoy remote vehicle: lighter, pushable, no trailers yet)\r\n"
        "remote_mode = clone\r\n"
        "# remote smoothing: 1 = fixed 150 ms buffer (default), 2 = adaptive buffer + smoothed corrections (README.md)\r\n"
        "sync = 1\r\n"
        "# AI traffic: off (default for the alpha: the game's traffic is held at 0; your own setting comes back\r\n"
        "# with local) or local (each player sees their own unsynced traffic). A server set to off overrides local.\r\n"
        "traffic = off\r\n"
        "# self-updater (README.md \"Updates\"): folder URL that holds manifest.txt (empty = no updates); auto_update 1 = install\r\n"
        "# new builds by itself, 0 = only tell me (F2 -> Settings has an Install button)\r\n"
        "update_url = \r\n"
        "auto_update = 1\r\n";
    EXPECT_EQ(fx::read_file(base + "config.ini"), expect);
    EXPECT_GE(log_find("[core] config: wrote defaults to " + base + "config.ini (set `server` to play online)"), 0);
}

/* A UDP socket that takes the hello and never answers. */
struct silent_server {
    SOCKET s = INVALID_SOCKET;
    uint16_t port = 0;
    silent_server()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(s, (sockaddr *)&a, sizeof a);
        int len = sizeof a;
        getsockname(s, (sockaddr *)&a, &len);
        port = ntohs(a.sin_port);
    }
    ~silent_server() { closesocket(s); }
};

TEST_F(runtime, AutoConnectJoinsInTheGameAndLeavesAfterThreeSeconds)
{
    silent_server server;
    write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    sim::game_player_remove(); // on the main menu
    start();
    sim::frames(20, 0.25);
    std::string connecting = fmt("[core] auto: connecting to 127.0.0.1:%u as 'tester'", server.port);
    EXPECT_EQ(log_count(connecting), 0);

    player = sim::game_player_create(); // a profile is loaded
    sim::frames(1, 0.05);
    ASSERT_EQ(log_count(connecting), 1) << log_text();
    sim::frames(8, 0.25);
    EXPECT_EQ(log_count(connecting), 1); // the connection is open

    // Out of the game for 2 s and back: kept.
    sim::game_player_remove();
    sim::frames(8, 0.25);
    player = sim::game_player_create();
    sim::frames(2, 0.25);
    EXPECT_EQ(log_find("[core] auto: left the game; disconnecting"), -1);
    // 3 s and more: dropped.
    sim::game_player_remove();
    sim::frames(12, 0.25);
    EXPECT_EQ(log_find("[core] auto: left the game; disconnecting"), -1);
    sim::frames(2, 0.25);
    EXPECT_EQ(log_count("[core] auto: left the game; disconnecting"), 1) << log_text();
    sim::frames(20, 0.25);
    EXPECT_EQ(log_count(connecting), 1);
}

TEST_F(runtime, AutoConnectActsOnEachRefusalOnce)
{
    ts_server server;
    ASSERT_TRUE(ts_start(&server, 0));
    server.refuse_reason = 3;
    write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    start();
    std::string connecting = fmt("[core] auto: connecting to 127.0.0.1:%u as 'tester'", server.port);
    const std::string refused =
        "[core] auto: the server refused us (3); auto-connect paused until `config reload` or `net connect`";
    frames_with(&server, 30, 0.25);
    EXPECT_EQ(log_count(connecting), 1) << log_text(); // refused: acted on at the next attempt time
    EXPECT_EQ(log_count(refused), 1);
    frames_with(&server, 40, 0.25);
    EXPECT_EQ(log_count(connecting), 1); // paused

    // Lifting the pause tries again at once; the old refusal does not pause it.
    run("config reload\n");
    frames_with(&server, 1, 0.05); // the next frame's auto-connect
    EXPECT_EQ(log_count(connecting), 2) << log_text();
    EXPECT_EQ(log_count(refused), 1);
    frames_with(&server, 30, 0.25);
    EXPECT_EQ(log_count(refused), 2); // refused anew: paused again
    EXPECT_EQ(log_count(connecting), 2);
    ts_stop(&server);
}

TEST_F(runtime, AKickPausesAutoConnectOnce)
{
    ts_server server;
    ASSERT_TRUE(ts_start(&server, 0));
    write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    start();
    frames_with(&server, 12, 0.25);
    ts_client *c = ts_find_name(&server, "tester");
    ASSERT_TRUE(c) << log_text();
    ts_drop(&server, c->id, 4, "too fast");
    frames_with(&server, 40, 0.25);
    EXPECT_EQ(log_count("[core] kicked from the server: too fast; auto-connect paused"), 1) << log_text();
    EXPECT_EQ(log_count(fmt("[core] auto: connecting to 127.0.0.1:%u as 'tester'", server.port)), 1);
    ts_stop(&server);
}

TEST_F(runtime, AutoConnectOnAnotherBuildCountsAsInTheGame)
{
    silent_server server;
    write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\n", server.port));
    sim::set_build_hash("000000000000");
    sim::game_player_remove();
    start();
    EXPECT_EQ(log_count(fmt("[core] auto: connecting to 127.0.0.1:%u as 'tester'", server.port)), 1) << log_text();
}

TEST_F(runtime, PeekFollowsChainsAndStopsAtNullsAndUnreadableAddresses)
{
    start();
    uint8_t *ctrl_slot = sim::game_at(sim::off::game_ctrl);
    sim::put<uint64_t>(player.truck, 0x8, 0x1122334455667788ull);
    auto lines = command("peek 0x1436B8D70 +31b0 +18");
    uint8_t *at = player.block + 0x18;
    std::vector<std::string> expect = {
        fmt("[core] peek: *%p = %016llx", as_pointer(ctrl_slot), (unsigned long long)(uintptr_t)player.ctrl),
        fmt("[core] peek: *%p = %016llx", as_pointer(player.ctrl + 0x31B0), (unsigned long long)(uintptr_t)player.block),
    };
    for (int off = 0; off < 0x40; off += 8)
        expect.push_back(fmt("[core] peek: %p +%02x: %016llx", as_pointer(at), off, (unsigned long long)sim::get<uint64_t>(at, off)));
    EXPECT_EQ(lines, expect);
    EXPECT_EQ(sim::get<uint64_t>(at, 0), (uint64_t)(uintptr_t)player.truck);

    // A null link.
    EXPECT_EQ(command("peek 0x1436B8D70+31b0+20+0"),
              (std::vector<std::string>{
                  fmt("[core] peek: *%p = %016llx", as_pointer(ctrl_slot), (unsigned long long)(uintptr_t)player.ctrl),
                  fmt("[core] peek: *%p = %016llx", as_pointer(player.ctrl + 0x31B0), (unsigned long long)(uintptr_t)player.block),
                  fmt("[core] peek: *%p = %016llx", as_pointer(player.block + 0x20), 0ull),
                  "[core] peek: null, stop" }));

    // A pointer into a no-access page, and a dump that runs into one.
    uint8_t *obj = sim::object_new(0x20);
    sim::game_put<uint64_t>(0x1000, (uint64_t)(uintptr_t)(obj + 0x20));
    EXPECT_EQ(command("peek 0x140001000 +0"),
              (std::vector<std::string>{
                  fmt("[core] peek: *%p = %016llx", as_pointer(sim::game_at(0x1000)), (unsigned long long)(uintptr_t)(obj + 0x20)),
                  fmt("[core] peek: unreadable at %p", as_pointer(obj + 0x20)) }));
    sim::game_put<uint64_t>(0x1000, (uint64_t)(uintptr_t)obj);
    auto dump = command("peek 0x140001000+0");
    ASSERT_EQ(dump.size(), 6u);
    EXPECT_EQ(dump[4], fmt("[core] peek: %p +18: %016llx", as_pointer(obj), 0ull));
    EXPECT_EQ(dump[5], fmt("[core] peek: unreadable at %p", as_pointer(obj + 0x20)));
}

TEST_F(runtime, MemrecRecordsReadablePagesAndZeroesTheRest)
{
    start();
    for (uint32_t i = 0; i < sim::player_block_size; i += 8)
        sim::put<uint64_t>(player.block, i, 0xB000000000000000ull | i);
    sim::put<uint64_t>(player.block, sim::off::player_local_truck, (uint64_t)(uintptr_t)player.truck);
    for (uint32_t i = 0x20; i < sim::truck_size; i += 8)
        sim::put<uint64_t>(player.truck, i, 0x7000000000000000ull | i);
    sim::game_protect(player.block + 0x3000, 0x2000, PAGE_NOACCESS);
    sim::game_protect(player.block + 0x8000, 0x1000, PAGE_READWRITE | PAGE_GUARD);

    EXPECT_EQ(first("memrec 5 config.ini"), "[core] memrec: usage memrec <secs> <file name>");
    EXPECT_EQ(first("memrec 5 sub\\rec.bin"), "[core] memrec: usage memrec <secs> <file name>");
    // A second recording closes the first one without "done".
    run("memrec 5 first.bin\nmemrec 1 rec.bin\n");
    EXPECT_GE(log_find("[core] memrec: recording 5 s to " + base + "first.bin"), 0);
    EXPECT_GE(log_find("[core] memrec: recording 1 s to " + base + "rec.bin"), 0);
    sim::frames(12, 0.1);
    EXPECT_EQ(log_count("[core] memrec: done"), 1) << log_text();
    EXPECT_EQ(fx::read_file(base + "first.bin").size(), 8u); // closed, nothing more

    // The guard page was never touched.
    MEMORY_BASIC_INFORMATION mbi;
    VirtualQuery(player.block + 0x8000, &mbi, sizeof mbi);
    EXPECT_TRUE(mbi.Protect & PAGE_GUARD);
    sim::game_protect(player.block + 0x3000, 0x2000, PAGE_READWRITE);
    sim::game_protect(player.block + 0x8000, 0x1000, PAGE_READWRITE);

    std::string file = fx::read_file(base + "rec.bin");
    const size_t record = 8 + 0x24000;
    ASSERT_GE(file.size(), 8 + record);
    ASSERT_EQ((file.size() - 8) % record, 0u);
    EXPECT_EQ(sim::get<uint32_t>(file.data(), 0), 0x20000u);
    EXPECT_EQ(sim::get<uint32_t>(file.data(), 4), 0x4000u);
    std::string expect_block((const char *)player.block, sim::player_block_size);
    memset(&expect_block[0x3000], 0, 0x2000);
    memset(&expect_block[0x8000], 0, 0x1000);
    std::string expect_truck((const char *)player.truck, sim::truck_size);
    for (size_t at = 8; at < file.size(); at += record) {
        EXPECT_TRUE(file.compare(at + 8, sim::player_block_size, expect_block) == 0) << "record at " << at;
        std::string truck = file.substr(at + 8 + sim::player_block_size, sim::truck_size);
        size_t diff = 0;
        while (diff < truck.size() && truck[diff] == expect_truck[diff])
            diff++;
        EXPECT_EQ(diff, truck.size()) << "truck bytes differ from offset " << diff;
    }
    EXPECT_FALSE(fx::read_file(base + "config.ini").empty());
}

TEST_F(runtime, WatchLogsChangesOnlyAndCmpShowsTheTruck)
{
    start();
    uint8_t *sound = sim::object_new(0x100);
    sim::put<uint64_t>(sound, 0xF8, 0x105);
    sim::put<uint64_t>(player.block, 0x1E730, (uint64_t)(uintptr_t)sound);
    uint8_t *helper = sim::object_new(0x40);
    sim::put<uint8_t>(helper, 0x3C, 7);
    sim::put<uint64_t>(player.truck, 0x6A0, (uint64_t)(uintptr_t)helper);
    sim::put<uint32_t>(player.truck, 0x2A0, 0xABC);
    sim::put<uint32_t>(player.block, 0x248, 0x11);
    sim::put<float>(player.block, 0x438, 1.5f);

    EXPECT_EQ(first("watch on"), "[core] watch on");
    sim::frames(1, 0.05);
    EXPECT_GE(log_find("[core] watch: sound objs +1e730=5 +1e740=0 +1e8e0=0"), 0) << log_text();
    EXPECT_GE(log_find("[core] watch: veh+2a0=00000abc (chg 00000000)  slot+248=00000011 (chg 00000000)  "
                       "helper+3c=07  slot+234=00 +1bc=00  +438=1.500 +450=0.000"), 0);
    sim::frames(3, 0.05);
    EXPECT_EQ(log_count("[core] watch: "), 2);
    sim::put<uint32_t>(player.truck, 0x2A0, 0xABD);
    sim::frames(1, 0.05);
    EXPECT_GE(log_find("[core] watch: veh+2a0=00000abd (chg 00000001)  slot+248=00000011 (chg 00000000)"), 0);
    EXPECT_EQ(log_count("[core] watch: sound"), 1);

    uint8_t *wheels = sim::object_new(0x180);
    float spin[2] = { 1.25f, -2.5f };
    uint8_t *values = sim::object_new(sizeof spin);
    memcpy(values, spin, sizeof spin);
    sim::put<uint64_t>(wheels, 0x170, (uint64_t)(uintptr_t)values);
    sim::put<uint64_t>(wheels, 0x178, 2);
    sim::put<uint64_t>(player.truck, 0x150, (uint64_t)(uintptr_t)wheels);
    sim::put<float>(player.truck, 0x690, 0.5f);
    sim::put<uint8_t>(player.truck, 0x25B, 9);
    EXPECT_EQ(first("cmp"), fmt("[core] local %p: flags2a0=00000abd steer690=0.500 f238=0.0000 wheels=2 "
                                "spin=1.250,-2.500,0.000 0x25b=9 0x698=%p 0x6a0=%p",
                                as_pointer(player.truck), as_pointer(nullptr), as_pointer(helper)));
}

// The plug-in's init line, the core's and the "update" command name one
// build: the id this build was made from.
TEST_F(runtime, EveryLineNamesTheBuildsOwnId)
{
    start();
    auto after = [this](const std::string &line, const std::string &marker, char end) {
        size_t at = line.find(marker);
        if (at == std::string::npos)
            return std::string("(no '" + marker + "' in: " + line + ")");
        at += marker.size();
        return line.substr(at, end ? line.find(end, at) - at : std::string::npos);
    };
    int host = log_find("[host] ---- init: ");
    int core = log_find("[core] init (build ");
    ASSERT_GE(host, 0) << log_text();
    ASSERT_GE(core, 0) << log_text();
    std::string plugin_id = after(log_lines()[host], ", drovemark build ", 0);
    std::string core_id = after(log_lines()[core], "[core] init (build ", ',');
    std::string status = first("update");
    ASSERT_EQ(status.rfind("[update] ", 0), 0u) << log_text();
    std::string update_id = after(status, "; build ", ',');
    EXPECT_FALSE(plugin_id.empty());
    EXPECT_EQ(core_id, plugin_id);
    EXPECT_EQ(update_id, plugin_id);
}

} // namespace

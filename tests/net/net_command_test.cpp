#include "net_fixture.h"
#include <string.h>

namespace {
char base[MAX_PATH];
void cfg_name(char *out, unsigned size) { snprintf(out, size, "configured"); }
bool cfg_server(char *, unsigned, uint16_t *) { return false; }
dm_frame_info frame_at(double t)
{
    dm_frame_info f = {};
    f.size = sizeof f;
    f.seconds = t;
    return f;
}
} // namespace

struct net_commands : net_fixture {
    void SetUp() override
    {
        net_fixture::SetUp();
        GetTempPathA(sizeof base, base);
        net_command_env env = {};
        env.base_dir = base;
        env.config_name = cfg_name;
        env.config_server = cfg_server;
        net_set_command_env(&env);
    }
    void cmd(const std::string &line)
    {
        dm_frame_info f = frame_at(now);
        net_command(line.c_str(), &f);
    }
};

TEST_F(net_commands, WordsAndTheirLines)
{
    const char *usage = "[core] net: connect <host> [port] [name] | disconnect | status | info [host] [port] | "
                        "trailers on|off | record <file>|off";
    struct { const char *line; const char *expect; } cases[] = {
        {"net", usage},
        {"net bogus", usage},
        {"net trailers", usage},
        {"net record", usage},
        {"net connect 127.0.0.1 0", "[core] net: bad port"},
        {"net connect 127.0.0.1 70000", "[core] net: bad port"},
        {"net sync", "[core] net: sync mode 1 (config `sync` keeps it across reloads); 0 frames, 0.0% extrapolated, "
                     "0.0% held, 0 teleports, mean delay 0 ms"},
        {"net sync 2", "[core] net: sync mode 2"},
        {"net trailers yes", "[core] net: remote trailers off"},
        {"net trailers on", "[core] net: remote trailers ON"},
        {"net info", "[core] net: info <host> [port] (no server in config.ini)"},
        {"net status", "[net] status: not connected"},
    };
    for (auto &c : cases) {
        fx::captured_clear();
        cmd(c.line);
        EXPECT_TRUE(logged(c.expect)) << c.line;
    }
    EXPECT_FALSE(net_is_open());
    fx::captured_clear();
    cmd("net record off"); /* not recording: nothing */
    EXPECT_TRUE(fx::captured().empty());
}

TEST_F(net_commands, ConnectTakesTheRestOfTheLineAsName)
{
    cmd("net connect 127.0.0.1 " + std::to_string(srv.port) + " Big  Rig Joe");
    ts_poll(&srv, now);
    ASSERT_TRUE(joined());
    EXPECT_NE(ts_find_name(&srv, "Big  Rig Joe"), nullptr);
    cmd("net status");
    EXPECT_TRUE(logged("[core] net: joined 127.0.0.1:"));
    EXPECT_TRUE(logged("name 'Big  Rig Joe' id 1 (joined)"));
    EXPECT_TRUE(logged("[core] net: slot -> player 0, vehicle"));
    cmd("net disconnect");
    EXPECT_FALSE(net_is_open());
    cmd("net connect localhost");
    net_connection conn;
    ASSERT_TRUE(net_get_connection(&conn));
    EXPECT_EQ(conn.port, 42870);
    EXPECT_STREQ(conn.name, "configured");
}

TEST_F(net_commands, RecordingHeaderRowsAndFlushes)
{
    char name[64];
    snprintf(name, sizeof name, "dm_rec_%lu.csv", GetCurrentProcessId());
    std::string path = std::string(base) + name;
    cmd(std::string("net record ") + name);
    EXPECT_TRUE(logged("[core] net: recording the local truck at 10 Hz to " + path));
    dm_frame_info f = frame_at(1.5);
    f.x = 10;
    f.heading = 0.25f;
    f.speed = 3;
    net_pose pose;
    net_sample_local_telemetry(&f, &pose);
    auto file_lines = [&] {
        FILE *r = fopen(path.c_str(), "rt");
        int n = 0;
        char l[512];
        while (r && fgets(l, sizeof l, r))
            n++;
        if (r)
            fclose(r);
        return n;
    };
    for (int i = 0; i < 120; i++) {
        net_recording_write(1.5 + i * 0.1, &pose);
        if (i == 49) {
            EXPECT_EQ(file_lines(), 51);
        }
    }
    EXPECT_EQ(file_lines(), 101); /* flushed after rows 50 and 100 */
    cmd("net record off");
    EXPECT_TRUE(logged("[core] net: recording stopped (120 rows)"));
    FILE *r = fopen(path.c_str(), "rt");
    ASSERT_NE(r, nullptr);
    char l1[512], l2[512];
    ASSERT_TRUE(fgets(l1, sizeof l1, r));
    ASSERT_TRUE(fgets(l2, sizeof l2, r));
    fclose(r);
    EXPECT_STREQ(l1, "t,pid,flags,x,y,z,qw,qx,qy,qz,vx,vy,vz,steer,speed,rpm,tx,ty,tz,tqw,tqx,tqy,tqz\n");
    EXPECT_STREQ(l2, "1.500,0,4,10.0000,0.0000,0.0000,0.707107,0.000000,0.707107,0.000000,0.0000,0.0000,0.0000,"
                     "0.0000,3.0000,0.0,,,,,,,\n");
    DeleteFileA(path.c_str());
    cmd("net record Z:\\no\\such\\dir\\x.csv");
    EXPECT_TRUE(logged("[core] net: can't open Z:\\no\\such\\dir\\x.csv"));
}

TEST_F(net_commands, RecordingNeverReplacesTheSystemsOwnFiles)
{
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%sdm_own_%lu\\", base, GetCurrentProcessId());
    CreateDirectoryA(dir, nullptr);
    net_command_env env = {};
    env.base_dir = dir;
    env.config_name = cfg_name;
    env.config_server = cfg_server;
    net_set_command_env(&env);
    auto read_file = [](const std::string &path) {
        std::string text;
        FILE *f = fopen(path.c_str(), "rb");
        char buf[256];
        size_t n;
        while (f && (n = fread(buf, 1, sizeof buf, f)) > 0)
            text.append(buf, n);
        if (f)
            fclose(f);
        return text;
    };
    std::string config = std::string(dir) + "config.ini";
    FILE *f = fopen(config.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("port = 5\n", f);
    fclose(f);

    for (std::string name : { std::string("config.ini"), std::string("Config.INI."), std::string("x\\..\\config.ini"),
                              std::string("core\\drovemark_core.dll"), std::string("config.ini::$DATA"), config }) {
        cmd("net record " + name);
        bool absolute = name.find(':') != std::string::npos;
        EXPECT_TRUE(logged("[core] net: can't open " + (absolute ? name : dir + name))) << name;
        EXPECT_FALSE(net_recording_is_open()) << name;
        EXPECT_EQ(read_file(config), "port = 5\n") << name;
    }
    // A name that only begins like an own file is a recording like any other.
    cmd("net record config.ini.csv");
    EXPECT_TRUE(net_recording_is_open());
    cmd("net record off");
    std::string rec = std::string(dir) + "config.ini.csv";
    EXPECT_NE(read_file(rec).find("t,pid,flags"), std::string::npos);
    DeleteFileA(rec.c_str());
    DeleteFileA(config.c_str());
    RemoveDirectoryA(dir);
}

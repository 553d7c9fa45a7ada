// The plug-in and the real core with LOCALAPPDATA in a profile folder named
// outside any one ANSI code page, set through the wide environment as Windows
// holds it: every file the two libraries name lands inside that folder, and
// the log prints its paths as UTF-8 (the log file is UTF-8).
#include "runtime_fixture.h"

namespace {

class profile_folder : public rt::core_test {
protected:
    void SetUp() override
    {
        appdata_name = fx::profile_folder_name;
        rt::core_test::SetUp();
    }

    /* Runs frames until a log line starts with the prefix (at most n). */
    bool frames_until(const std::string &prefix, int n, double dt)
    {
        for (int i = 0; i < n && log_find(prefix) < 0; i++)
            sim::frames(1, dt);
        return log_find(prefix) >= 0;
    }
};

TEST_F(profile_folder, EveryFileOfThePluginAndTheCoreIsInside)
{
    // Written while no core runs: the first frame of the core takes it.
    dm_dir_create(base.c_str());
    fx::write_file(base + "cmd.txt", "ping\n");
    start();
    EXPECT_GE(log_find("[host] ---- init: game "), 0) << "drovemark.log is in " << base;
    EXPECT_GE(log_find("[host] core generation 1 loaded"), 0) << log_text();
    EXPECT_EQ(log_count("[core] pong"), 1) << log_text();
    EXPECT_FALSE(fx::exists(base + "cmd.txt"));
    EXPECT_FALSE(fx::exists(base + "cmd.txt.taken"));
    EXPECT_EQ(fx::read_file(base + "identity.key").find('\n'), 64u) << "a new key: 64 hex digits on its first line";
    EXPECT_GE(log_find("[core] config: wrote defaults to " + base + "config.ini (set `server` to play online)"), 0)
        << log_text();
    sim::frames(2, 0.25);
    // state.json is written by the file worker: wait for it, never race it
    EXPECT_EQ(wait_for_file(base + "state.json", "{\"frame\":").rfind("{\"frame\":", 0), 0u);

    // config.ini is UTF-8 bytes both ways: a name written by hand is read back.
    const std::string name = "J\xC3\xB6rg-\xE7\x8E\x8B";
    write_config("name = " + name + "\nautoconnect = 0\n");
    EXPECT_EQ(first("config reload").rfind("[core] config: server '' port 42870 name '" + name + "'", 0), 0u);

    // The files the commands name, themselves named in another script.
    const std::string memrec = "\xD0\xBF\xD0\xB0\xD0\xBC\xD1\x8F\xD1\x82\xD1\x8C.bin"; // "память.bin"
    EXPECT_EQ(first("memrec 1 " + memrec), "[core] memrec: recording 1 s to " + base + memrec);
    EXPECT_TRUE(frames_until("[core] memrec: done", 15, 0.1)) << log_text();
    EXPECT_GT(fx::read_file(base + memrec).size(), 8u);

    const std::string csv = "\xE8\xAE\xB0\xE5\xBD\x95.csv"; // "记录.csv"
    const std::string recording = "[core] net: recording the local truck at 10 Hz to " + base + csv;
    EXPECT_EQ(first("net record " + csv).rfind(recording, 0), 0u);
    run("net record off\n");
    EXPECT_EQ(fx::read_file(base + csv).rfind("t,", 0), 0u) << "the header row";

    const std::string dump = "J\xC3\xB6rg.txt";
    auto out = command("defdump " + dump);
    EXPECT_NE(std::find(out.begin(), out.end(), "[core] defdump: wrote " + base + dump), out.end()) << log_text();
    EXPECT_TRUE(fx::exists(base + dump));

    // A hot reload copies and loads the core inside the folder too.
    fx::set_write_time(base + "core\\drovemark_core.dll", 60);
    ASSERT_TRUE(frames_until("[host] core generation 2 loaded", 20, 0.1)) << log_text();
    EXPECT_TRUE(fx::exists(base + "core\\loaded_2.dll"));
    EXPECT_TRUE(GetModuleHandleW(fx::wide(base + "core\\loaded_2.dll").c_str()));
    EXPECT_EQ(first("ping"), "[core] pong");
}

} // namespace

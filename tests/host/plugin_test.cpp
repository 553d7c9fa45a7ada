// The plug-in as the game loads it: SDK entry, telemetry into dm_frame_info,
// the log, config.ini's overlay keys, the staged core, binding, hot reload
// and every guard road, against fake cores that record their calls.
#include "sim/fixture.h"
#include "fakecore/fake_core_record.h"
#include <stdexcept>

namespace {

fake_core_record *fake()
{
    static fake_core_record *rec = [] {
        char fake_block_name[64];
        snprintf(fake_block_name, sizeof fake_block_name, FAKE_CORE_BLOCK_FORMAT, GetCurrentProcessId());
        HANDLE h = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(fake_core_record), fake_block_name);
        return (fake_core_record *)MapViewOfFile(h, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    }();
    return rec;
}

class plugin : public fx::game_test {
protected:
    void SetUp() override
    {
        fx::game_test::SetUp();
        reset_fake();
    }
    // A fresh record for the next core, whose init succeeds.
    static void reset_fake()
    {
        memset(fake(), 0, sizeof(fake_core_record));
        fake()->init_result = 1;
    }
    // A new log and a fresh record, for the next start within one test.
    void next_run()
    {
        DeleteFileA((base + "drovemark.log").c_str());
        reset_fake();
    }
    // Runs frames on a thread of their own, so a frame that blocks fails
    // the test at once instead of stalling it.
    static bool frames_return(int n, double dt)
    {
        struct frame_run {
            int n;
            double dt;
        };
        static frame_run run;
        run = { n, dt };
        HANDLE t = CreateThread(
            nullptr, 0,
            [](void *p) -> DWORD {
                auto *r = (frame_run *)p;
                sim::frames(r->n, r->dt);
                return 0;
            },
            &run, 0, nullptr);
        bool returned = WaitForSingleObject(t, 10000) == WAIT_OBJECT_0;
        CloseHandle(t);
        return returned;
    }
    bool core_copy_mapped(unsigned generation)
    {
        std::string path = base + "core\\loaded_" + std::to_string(generation) + ".dll";
        return GetModuleHandleA(path.c_str()) != nullptr;
    }
};

TEST_F(plugin, RefusesUnsupportedSdkVersionsAndCreatesNothing)
{
    for (uint32_t v : { 0x00010002u, 0x0000FFFFu, 0x00020000u }) {
        EXPECT_EQ(init(v), SCS_RESULT_UNSUPPORTED) << std::hex << v;
        EXPECT_FALSE(fx::exists(base)) << std::hex << v;
    }
    // Accepted, and a second start in the same process loads the core again.
    install_core("fake_core_full.dll");
    for (uint32_t v : { SCS_TELEMETRY_VERSION_1_00, SCS_TELEMETRY_VERSION_1_01 }) {
        EXPECT_EQ(init(v), SCS_RESULT_OK) << std::hex << v;
        shutdown();
    }
    EXPECT_EQ(fake()->calls[FC_INIT], 2u);
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 2u);
}

TEST_F(plugin, RefusesMissingOverlongOrNonFolderLocalAppData)
{
    // Each refusal is said once, in the game's log: there is no log of our own.
    std::vector<std::string> said = { "0 [drovemark] LOCALAPPDATA is not set; not loaded" };
    SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
    EXPECT_EQ(init(), SCS_RESULT_GENERIC_ERROR);
    EXPECT_EQ(sim::game_log(), said);

    // A file, or a folder that is not there: nothing is made beside or in it.
    std::string file = root + "\\appdata.txt", missing = root + "\\no such folder";
    fx::write_file(file, "not a folder");
    for (const std::string &value : { file, missing }) {
        SetEnvironmentVariableW(L"LOCALAPPDATA", fx::wide(value).c_str());
        EXPECT_EQ(init(), SCS_RESULT_GENERIC_ERROR) << value;
        said.push_back("0 [drovemark] LOCALAPPDATA (" + value + ") is not a folder; not loaded");
        EXPECT_EQ(sim::game_log(), said);
        EXPECT_FALSE(fx::exists(value + "\\drovemark")) << value;
    }
    EXPECT_EQ(fx::read_file(file), "not a folder");

    const std::string refused = "0 [drovemark] LOCALAPPDATA is too long for the drovemark folder; not loaded";
    // A base directory whose longest derived path would no longer fit.
    std::string deep = appdata + "\\" + std::string(240 - appdata.size(), 'd');
    SetEnvironmentVariableW(L"LOCALAPPDATA", fx::wide(deep).c_str());
    EXPECT_EQ(init(), SCS_RESULT_GENERIC_ERROR);
    EXPECT_FALSE(fx::exists(deep + "\\drovemark"));
    said.push_back(refused);
    EXPECT_EQ(sim::game_log(), said);

    // Under 260 UTF-16 units, as Windows counts, but over 259 bytes as UTF-8:
    // refused whole, never cut inside a character.
    std::string wide_deep = appdata, wang;
    for (int i = 0; i < 20; i++)
        wang += "\xE7\x8E\x8B"; // 王: three bytes, one unit
    while (wide_deep.size() <= 259)
        wide_deep += "\\" + wang + fx::profile_folder_name;
    ASSERT_LT(fx::wide(wide_deep).size(), 260u);
    ASSERT_GT(wide_deep.size(), 259u);
    SetEnvironmentVariableW(L"LOCALAPPDATA", fx::wide(wide_deep).c_str());
    EXPECT_EQ(init(), SCS_RESULT_GENERIC_ERROR);
    said.push_back(refused);
    EXPECT_EQ(sim::game_log(), said) << "one line for each start";
}

TEST_F(plugin, ALogThatCannotBeOpenedIsSaidInTheGamesLogAndTheStartGoesOn)
{
    // Something in the log's place that is no file: the plug-in runs on
    // without a log and says so where the player can see it.
    install_core("fake_core_full.dll");
    ASSERT_TRUE(dm_dir_create((base + "drovemark.log").c_str()));
    ASSERT_EQ(init(), SCS_RESULT_OK);
    EXPECT_EQ(sim::game_log(), (std::vector<std::string>{
                                   "0 [drovemark] can't open " + base + "drovemark.log (error 5); running without a log",
                                   "0 [drovemark] plugin loaded" }));
    EXPECT_EQ(fake()->calls[FC_INIT], 1u);
}

TEST_F(plugin, InitRegistersLogsAndAnnouncesItself)
{
    install_core("fake_core_full.dll");
    sim::telemetry_config cfg;
    cfg.game_version = SCS_MAKE_VERSION(1, 9);
    ASSERT_EQ(init(SCS_TELEMETRY_VERSION_1_00, cfg), SCS_RESULT_OK);

    EXPECT_EQ(sim::registered_events(), (std::vector<uint32_t>{ 2, 3, 4 }));
    auto ch = sim::registered_channels();
    ASSERT_EQ(ch.size(), 2u);
    EXPECT_EQ(ch[0].name, "truck.world.placement");
    EXPECT_EQ(ch[0].index, SCS_U32_NIL);
    EXPECT_EQ(ch[0].type, SCS_VALUE_TYPE_DPLACEMENT);
    EXPECT_EQ(ch[1].name, "truck.speed");
    EXPECT_EQ(ch[1].type, SCS_VALUE_TYPE_FLOAT);
    EXPECT_EQ(ch[1].flags, 0u);
    EXPECT_EQ(sim::game_log(), (std::vector<std::string>{ "0 [drovemark] plugin loaded" }));

    // The build's own id ends the line (the same id the core logs: runtime_tests).
    char expect[256];
    snprintf(expect, sizeof expect,
             "[host] ---- init: game 'ats' (American Truck Simulator) telemetry 1.0 game 1.9, base %p, "
             "drovemark build ",
             (void *)GetModuleHandleA(nullptr));
    auto lines = log_lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind(expect, 0), 0u) << lines[0];
    EXPECT_GT(lines[0].size(), strlen(expect)) << lines[0];
    EXPECT_EQ(lines[1], "[fake] init loaded_1.dll");
    EXPECT_EQ(lines[2], "[host] core generation 1 loaded");
    EXPECT_TRUE(fx::exists(base + "core"));

    // The host API as the core received it.
    EXPECT_EQ(fake()->api_size, 24u);
    EXPECT_EQ(fake()->api_version, 1u);
    EXPECT_EQ(std::string(fake()->api_base_dir), base);

    shutdown();
    auto last = log_lines();
    EXPECT_EQ(last[last.size() - 2], "[fake] shutdown");
    EXPECT_EQ(last.back(), "[host] ---- shutdown");
    EXPECT_FALSE(core_copy_mapped(1));
}

TEST_F(plugin, FailedEventRegistrationStopsTheStart)
{
    install_core("fake_core_full.dll");
    struct {
        int fail_event;
        bool with_unregister;
        std::vector<uint32_t> left_registered;
    } cases[] = {
        { SCS_TELEMETRY_EVENT_STARTED, true, {} },
        { SCS_TELEMETRY_EVENT_PAUSED, true, {} },
        // A game without the unregister function keeps firing frame end.
        { SCS_TELEMETRY_EVENT_PAUSED, false, { SCS_TELEMETRY_EVENT_FRAME_END } },
    };
    for (auto &c : cases) {
        sim::telemetry_config cfg;
        cfg.fail_event = c.fail_event;
        cfg.with_unregister = c.with_unregister;
        cfg.with_log = false;
        EXPECT_EQ(init(SCS_TELEMETRY_VERSION_1_01, cfg), SCS_RESULT_GENERIC_ERROR) << c.fail_event;
        EXPECT_EQ(log_lines().back(), "[host] event registration failed");
        EXPECT_EQ(sim::registered_events(), c.left_registered) << c.fail_event;
        EXPECT_TRUE(sim::registered_channels().empty());

        // Frames after the failed start find nothing set up and do nothing.
        bool returned = frames_return(3, 0.5);
        initialised = returned; // a plug-in blocked in a frame is not shut down
        ASSERT_TRUE(returned) << "a frame blocked after event " << c.fail_event << " failed";
        EXPECT_EQ(fake()->calls[FC_INIT], 0u) << c.fail_event;
        EXPECT_EQ(log_lines().back(), "[host] event registration failed") << log_text();
        shutdown();
        next_run();
    }
}

TEST_F(plugin, FailedChannelRegistrationIsIgnored)
{
    install_core("fake_core_full.dll");
    sim::telemetry_config cfg;
    cfg.fail_channels = true;
    ASSERT_EQ(init(SCS_TELEMETRY_VERSION_1_01, cfg), SCS_RESULT_OK);
    EXPECT_TRUE(sim::registered_channels().empty());
    EXPECT_EQ(sim::registered_events(), (std::vector<uint32_t>{ 2, 3, 4 }));
    EXPECT_GE(log_find("[host] core generation 1 loaded"), 0);
    EXPECT_EQ(sim::game_log(), (std::vector<std::string>{ "0 [drovemark] plugin loaded" }));

    // The frames go on; position and speed keep their start values.
    sim::event_started();
    sim::channel_placement(1000.5, 20.25, -30000.75, 0.25f, -0.125f, 0.0625f);
    sim::channel_speed(22.5f);
    sim::frames(2, 0.25);
    dm_frame_info f = fake()->last_frame;
    EXPECT_EQ(f.frame, 2u);
    EXPECT_EQ(f.paused, 0u);
    EXPECT_EQ(f.x, 0.0);
    EXPECT_EQ(f.heading, 0.0f);
    EXPECT_EQ(f.speed, 0.0f);
}

TEST_F(plugin, FrameInfoAsTheCoreSeesIt)
{
    install_core("fake_core_full.dll");
    ASSERT_EQ(init(SCS_TELEMETRY_VERSION_1_01), SCS_RESULT_OK);
    sim::clock_advance(0.25);
    sim::frame();
    dm_frame_info f = fake()->last_frame;
    EXPECT_EQ(f.size, 72u);
    EXPECT_EQ(f.paused, 1u);
    EXPECT_EQ(f.frame, 1u);
    EXPECT_NEAR(f.seconds, 0.25, 1e-6);
    EXPECT_EQ(f.x, 0.0);
    EXPECT_EQ(f.game_base, (uint64_t)(uintptr_t)GetModuleHandleA(nullptr));

    sim::event_started();
    sim::channel_placement(1000.5, 20.25, -30000.75, 0.25f, -0.125f, 0.0625f);
    sim::channel_speed(22.5f);
    sim::clock_advance(0.5);
    sim::frame();
    f = fake()->last_frame;
    EXPECT_EQ(f.paused, 0u);
    EXPECT_EQ(f.frame, 2u);
    EXPECT_NEAR(f.seconds, 0.75, 1e-6);
    EXPECT_EQ(f.x, 1000.5);
    EXPECT_EQ(f.y, 20.25);
    EXPECT_EQ(f.z, -30000.75);
    EXPECT_EQ(f.heading, 0.25f);
    EXPECT_EQ(f.pitch, -0.125f);
    EXPECT_EQ(f.roll, 0.0625f);
    EXPECT_EQ(f.speed, 22.5f);

    // Values of another type change nothing.
    sim::channel_placement(1, 2, 3, 0, 0, 0, SCS_VALUE_TYPE_FLOAT);
    sim::channel_speed(99.0f, SCS_VALUE_TYPE_DPLACEMENT);
    sim::event_paused();
    sim::frame();
    f = fake()->last_frame;
    EXPECT_EQ(f.x, 1000.5);
    EXPECT_EQ(f.speed, 22.5f);
    EXPECT_EQ(f.paused, 1u);
    EXPECT_GE(log_find("[host] started"), 0);
    EXPECT_GE(log_find("[host] paused"), 0);
}

TEST_F(plugin, OverlayKeysOfConfigIni)
{
    using namespace std::string_literals;
    const std::string off = "[host] ui: overlay off (config.ini overlay = ";
    struct {
        std::string config;
        const char *shown;   // the value the overlay-off line shows; null: the overlay stays on
        const char *refused; // the line that says a value is not understood
    } cases[] = {
        { "overlay=0\n", "0)", nullptr },
        { "   OVERLAY \t=   0\n", "0)", nullptr },
        { "overlay = 00\n", "00)", nullptr },
        // Numbers are digits only: anything else is said and the default kept.
        { "overlay = off\n", nullptr, "[host] config: overlay = 'off' refused (digits only); using 1" },
        { "overlay = -1\n", nullptr, "[host] config: overlay = '-1' refused (digits only); using 1" },
        { "overlay =\n", nullptr, "[host] config: overlay = '' refused (digits only); using 1" },
        { "overlay = abc\noverlay = 0\n", nullptr, "[host] config: overlay = 'abc' refused (digits only); using 1" },
        { "overlay = 4294967296\n", nullptr, nullptr }, // saturates rather than wrapping to 0
        { "overlay_isolate = 0\n", nullptr, nullptr },  // another key that only begins with it
        { "overlay = 1\noverlay = 0\n", nullptr, nullptr }, // the first line counts
        { "# overlay = 0\n; overlay = 0\n", nullptr, nullptr },
        { "", nullptr, nullptr },
        // The file is read as bytes, in the encodings a Windows editor or shell writes.
        { "x = \x1A\noverlay = 0\n", "0)", nullptr },
        { "\xEF\xBB\xBFoverlay = 0\r\n", "0)", nullptr },
        { "\xFF\xFEo\0v\0e\0r\0l\0a\0y\0 \0=\0 \0\x30\0\r\0\n\0"s, "0)", nullptr },
        { "\xFE\xFF\0o\0v\0e\0r\0l\0a\0y\0=\0\x30\0\n"s, "0)", nullptr },
    };
    for (auto &c : cases) {
        write_config(c.config);
        ASSERT_EQ(init(), SCS_RESULT_OK);
        EXPECT_EQ(log_find(off) >= 0, c.shown != nullptr) << c.config << log_text();
        if (c.shown) {
            EXPECT_GE(log_find(off + c.shown), 0) << c.config << log_text();
        }
        EXPECT_EQ(log_count("[host] config: "), c.refused ? 1 : 0) << c.config << log_text();
        if (c.refused) {
            EXPECT_GE(log_find(c.refused), 0) << c.config << log_text();
        }
        shutdown();
        DeleteFileA((base + "drovemark.log").c_str());
    }
}

TEST_F(plugin, InstallsTheStagedCoreBeforeLoading)
{
    install_core("fake_core_full.dll");
    install_core("fake_core_no_ui.dll", "drovemark_core.next.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    EXPECT_GE(log_find("[host] installed the staged core update"), 0);
    EXPECT_GE(log_find("[host] core generation 1 loaded (no dm_core_ui: overlay draws nothing from the core)"), 0);
    EXPECT_FALSE(fx::exists(base + "core\\drovemark_core.next.dll"));
}

TEST_F(plugin, FailedStagedMoveLogsItsOwnErrorAndLoadsTheOldCore)
{
    install_core("fake_core_full.dll");
    install_core("fake_core_no_ui.dll", "drovemark_core.next.dll");
    std::string staged = base + "core\\drovemark_core.next.dll";
    // Held open without sharing, the staged file cannot be moved.
    HANDLE h = CreateFileA(staged.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::string probe = base + "core\\probe.dll";
    fx::write_file(probe, "x");
    ASSERT_FALSE(MoveFileExA(staged.c_str(), probe.c_str(), MOVEFILE_REPLACE_EXISTING));
    DWORD expected = GetLastError();
    ASSERT_NE(expected, 0u);

    ASSERT_EQ(init(), SCS_RESULT_OK);
    CloseHandle(h);
    EXPECT_GE(log_find("[host] staged core update: move failed (" + std::to_string(expected) + ")"), 0)
        << log_text();
    EXPECT_GE(log_find("[host] core generation 1 loaded"), 0);
    EXPECT_EQ(log_find("[host] core generation 1 loaded (no"), -1);
}

TEST_F(plugin, HotReloadOnAnyWriteTimeChange)
{
    install_core("fake_core_full.dll");
    std::string file = base + "core\\drovemark_core.dll";
    fx::write_file(base + "core\\loaded_1.dll", "left over from an earlier run");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    ASSERT_GE(log_find("[host] core generation 1 loaded"), 0);

    // Polled every 0.5 s: the poll after a touch sees the file changed, the
    // one after it sees it alike (settled) and reloads it, not before.
    sim::frames(1, 0.1); // the first frame polls at once
    fx::set_write_time(file, 60);
    sim::frames(5, 0.1);
    EXPECT_EQ(log_find("[host] core generation 2 loaded"), -1);
    sim::frames(4, 0.1);
    EXPECT_EQ(log_find("[host] core generation 2 loaded"), -1);
    sim::frames(1, 0.1);
    EXPECT_GE(log_find("[host] core generation 2 loaded"), 0);
    EXPECT_TRUE(fx::exists(base + "core\\loaded_2.dll"));
    EXPECT_FALSE(fx::exists(base + "core\\loaded_1.dll"));
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 1u);
    EXPECT_EQ(std::string(fake()->module_name), "loaded_2.dll");

    // An older time counts as a change too.
    fx::set_write_time(file, -3600);
    sim::frames(11, 0.1);
    EXPECT_GE(log_find("[host] core generation 3 loaded"), 0);
    EXPECT_FALSE(core_copy_mapped(2));
    EXPECT_EQ(fake()->calls[FC_INIT], 3u);

    // No change: no reload.
    sim::frames(20, 0.1);
    EXPECT_EQ(log_count("[host] core generation"), 3);
}

// Files dropped over the core's while it runs: each bad one is looked at
// once it is settled (alike at two polls), refused with one line, and the
// running core goes on; a copy in progress is not judged half-way; a good
// file then replaces the core.
TEST_F(plugin, ABadCoreFileLeavesTheRunningCore)
{
    install_core("fake_core_full.dll");
    write_config("overlay = 0\n"); // no overlay lines among the frames
    std::string file = base + "core\\drovemark_core.dll";
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(1, 0.5); // each frame of 0.5 s polls once
    std::string good = fx::read_file(fx::bin("fake_core_full.dll"));
    ASSERT_GT(good.size(), 4096u);
    std::string noise(4096, '\0');
    uint32_t x = 12345;
    for (char &c : noise)
        c = (char)((x = x * 1103515245u + 12345u) >> 24);
    // A copy that sets the file's size first and has come an eighth of the way.
    std::string zero_tail = good.substr(0, good.size() / 8) + std::string(good.size() - good.size() / 8, '\0');
    struct {
        const char *name;
        std::string bytes;
        const char *why;
    } cases[] = {
        { "random bytes", noise, "not a DLL" },
        { "cut short", good.substr(0, good.size() / 2), "cut short" },
        { "headers only", good.substr(0, 700), "cut short" },
        { "zero tail", zero_tail, "no dm_core_init export" },
        { "32-bit build", fx::read_file(fx::bin("fake_core_x86.dll")), "not a 64-bit DLL" },
        { "another DLL", fx::read_file(fx::bin("seh_peer.dll")), "no dm_core_init export" },
        { "a program", fx::read_file(fx::bin("plugin_tests.exe")), "not a DLL" },
        { "one export short", fx::read_file(fx::bin("fake_core_no_frame.dll")), "no dm_core_frame export" },
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.bytes.empty());
        uint32_t frames = fake()->calls[FC_FRAME];
        int from = (int)log_lines().size();
        fx::write_file(file, c.bytes);
        sim::frames(1, 0.5); // seen changed: not judged yet
        EXPECT_EQ((int)log_lines().size(), from) << log_text();
        sim::frames(3, 0.5);
        auto lines = log_lines();
        ASSERT_EQ((int)lines.size(), from + 1) << "one line, nothing more\n" << log_text();
        EXPECT_EQ(lines[from],
                  std::string("[host] core file is not a usable core (") + c.why + "); keeping the running core");
        EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 0u);
        EXPECT_EQ(fake()->calls[FC_FRAME], frames + 4) << "the running core had every frame";
    }
    EXPECT_EQ(log_find("[host] LoadLibrary core failed"), -1) << log_text();
    EXPECT_TRUE(core_copy_mapped(1));

    // A copy in progress: half of it at one poll, all of it at the next, then
    // settled.
    int from = (int)log_lines().size();
    fx::write_file(file, good.substr(0, good.size() / 2));
    sim::frames(1, 0.5);
    fx::write_file(file, good);
    sim::frames(1, 0.5);
    EXPECT_EQ(core_generation(from), 0) << log_text();
    sim::frames(1, 0.5);
    int generation = core_generation(from);
    EXPECT_GT(generation, 1) << log_text();
    EXPECT_EQ(log_find("[host] core file is not a usable core", from), -1) << log_text();
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 1u);
    EXPECT_EQ(fake()->calls[FC_INIT], 2u);
    EXPECT_FALSE(core_copy_mapped(1));
    EXPECT_FALSE(fx::exists(base + "core\\loaded_1.dll"));
    EXPECT_TRUE(core_copy_mapped(generation));
    uint32_t frames = fake()->calls[FC_FRAME];
    sim::frames(2, 0.5);
    EXPECT_EQ(fake()->calls[FC_FRAME], frames + 2);
}

TEST_F(plugin, CopyFailureIsNotRetriedUntilTheFileChanges)
{
    install_core("fake_core_full.dll");
    // A folder in the way of the copy.
    CreateDirectoryA((base + "core\\loaded_1.dll").c_str(), nullptr);
    ASSERT_EQ(init(), SCS_RESULT_OK);
    EXPECT_EQ(log_count("[host] copy core failed ("), 1);
    sim::frames(10, 0.2);
    EXPECT_EQ(log_count("[host] copy core failed ("), 1);
    EXPECT_EQ(fake()->calls[FC_FRAME], 0u);

    fx::set_write_time(base + "core\\drovemark_core.dll", 30);
    sim::frames(6, 0.2);
    EXPECT_GE(log_find("[host] core generation 2 loaded"), 0);
    EXPECT_GT(fake()->calls[FC_FRAME], 0u);
}

TEST_F(plugin, CoresThatCannotStart)
{
    // Not a library at all: looked at, never loaded.
    CreateDirectoryA(base.c_str(), nullptr);
    CreateDirectoryA((base + "core").c_str(), nullptr);
    fx::write_file(base + "core\\drovemark_core.dll", "MZ but not really");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    EXPECT_GE(log_find("[host] core file is not a usable core (cut short); no core loaded"), 0) << log_text();
    EXPECT_FALSE(fx::exists(base + "core\\loaded_1.dll"));
    shutdown();

    // A required export missing: never mapped, never called.
    install_core("fake_core_no_frame.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    EXPECT_GE(log_find("[host] core file is not a usable core (no dm_core_frame export); no core loaded"), 0)
        << log_text();
    EXPECT_EQ(fake()->calls[FC_INIT], 0u);
    EXPECT_FALSE(core_copy_mapped(1));
    shutdown();

    // A refused init: freed without dm_core_shutdown.
    install_core("fake_core_full.dll");
    fake()->init_result = 0;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    EXPECT_GE(log_find("[host] core init failed"), 0);
    EXPECT_EQ(fake()->calls[FC_INIT], 1u);
    EXPECT_EQ(fake()->calls[FC_UNHOOK], 0u);
    EXPECT_FALSE(core_copy_mapped(1));
    sim::frames(3, 0.1);
    shutdown();
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 0u);
    EXPECT_EQ(fake()->calls[FC_FRAME], 0u);
}

TEST_F(plugin, InitFaultIsCaughtAndTheCoreUnhookedThenFreed)
{
    install_core("fake_core_full.dll");
    fake()->fault_on[FC_INIT] = 1;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    int fault = log_find("[host] core init faulted (0xc0000005)");
    ASSERT_GE(fault, 0) << log_text();
    EXPECT_GT(log_find("[host] core init failed"), fault);
    EXPECT_GT(log_find("[host] core hooks removed after the fault"), fault);
    EXPECT_EQ(fake()->calls[FC_UNHOOK], 1u);
    EXPECT_FALSE(core_copy_mapped(1));
    shutdown();
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 0u);
}

TEST_F(plugin, InitFaultWithoutAWorkingUnhookLeavesTheCoreMapped)
{
    struct {
        const char *core;
        bool unhook_faults;
    } cases[] = {
        { "fake_core_no_unhook.dll", false },
        { "fake_core_full.dll", true },
    };
    unsigned generation = 0;
    for (auto &c : cases) {
        next_run();
        fake()->fault_on[FC_INIT] = 1;
        fake()->fault_on[FC_UNHOOK] = c.unhook_faults ? 1 : 0;
        install_core(c.core);
        ASSERT_EQ(init(), SCS_RESULT_OK);
        generation++;
        int failed = log_find("[host] core init failed");
        ASSERT_GE(failed, 0) << log_text();
        int unhook = log_find("[host] core unhook faulted (0xc0000005)", failed);
        EXPECT_EQ(unhook >= 0, c.unhook_faults) << c.core;
        EXPECT_GT(log_find("[host] core hooks may still be installed; keeping the faulted core loaded", failed),
                  unhook)
            << c.core;
        EXPECT_TRUE(core_copy_mapped(generation)) << c.core;

        sim::frames(3, 0.1);
        shutdown();
        EXPECT_EQ(fake()->calls[FC_FRAME], 0u) << c.core;
        EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 0u) << c.core;
        EXPECT_TRUE(core_copy_mapped(generation)) << c.core;
    }
}

TEST_F(plugin, FrameFaultWithUnhookFreesTheCoreWithoutShutdown)
{
    install_core("fake_core_full.dll");
    fake()->fault_on[FC_FRAME] = 2;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(2, 0.1);
    int fault = log_find("[host] core frame faulted (0xc0000005); core disabled until next build");
    ASSERT_GE(fault, 0) << log_text();
    EXPECT_EQ(log_find("[host] core hooks removed after the fault"), fault + 1);
    EXPECT_EQ(fake()->calls[FC_UNHOOK], 1u);
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 0u);
    EXPECT_FALSE(core_copy_mapped(1));

    sim::frames(10, 0.1);
    EXPECT_EQ(fake()->calls[FC_FRAME], 2u);

    // A new build comes back.
    fx::set_write_time(base + "core\\drovemark_core.dll", 30);
    sim::frames(11, 0.1);
    EXPECT_GE(log_find("[host] core generation 2 loaded"), 0);
    EXPECT_GT(fake()->calls[FC_FRAME], 2u);
}

TEST_F(plugin, FrameFaultWithoutUnhookLeavesTheCoreMapped)
{
    install_core("fake_core_no_unhook.dll");
    fake()->fault_on[FC_FRAME] = 1;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(3, 0.1);
    EXPECT_GE(log_find("[host] core hooks may still be installed; keeping the faulted core loaded"), 0);
    EXPECT_TRUE(core_copy_mapped(1));
    EXPECT_EQ(fake()->calls[FC_FRAME], 1u);
    shutdown();
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 0u);
}

TEST_F(plugin, FaultingUnhookAndShutdownAreCaught)
{
    install_core("fake_core_full.dll");
    fake()->fault_on[FC_FRAME] = 1;
    fake()->fault_on[FC_UNHOOK] = 1;
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(1, 0.1);
    int unhook = log_find("[host] core unhook faulted (0xc0000005)");
    ASSERT_GE(unhook, 0) << log_text();
    EXPECT_EQ(log_find("[host] core hooks may still be installed; keeping the faulted core loaded"), unhook + 1);
    shutdown();

    next_run();
    fake()->fault_on[FC_SHUTDOWN] = 1;
    install_core("fake_core_no_ui.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    shutdown();
    auto lines = log_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "[host] core shutdown faulted (0xc0000005)");
    EXPECT_EQ(lines.back(), "[host] ---- shutdown");
}

TEST_F(plugin, CxxExceptionsFromTheCoreAreFaultsOfThatCall)
{
    // Each export throws in turn; the guard of that call reports it as it
    // reports any fault, and the plug-in goes on.
    struct {
        fake_core_call call;
        const char *line;
    } cases[] = {
        { FC_INIT, "[host] core init faulted (0xe0444d43)" },
        { FC_FRAME, "[host] core frame faulted (0xe0444d43); core disabled until next build" },
        { FC_UNHOOK, "[host] core unhook faulted (0xe0444d43)" }, // after a frame fault
        { FC_SHUTDOWN, "[host] core shutdown faulted (0xe0444d43)" },
    };
    install_core("fake_core_full.dll");
    for (auto &c : cases) {
        next_run();
        fake()->throw_on[c.call] = 1;
        if (c.call == FC_UNHOOK)
            fake()->fault_on[FC_FRAME] = 1;
        ASSERT_EQ(init(), SCS_RESULT_OK);
        sim::frames(2, 0.1);
        shutdown();
        EXPECT_GE(log_find(c.line), 0) << log_text();
        EXPECT_EQ(fake()->calls[c.call], 1u) << c.line;
        EXPECT_EQ(log_lines().back(), "[host] ---- shutdown");
    }
}

BOOL WINAPI throwing_qpc(LARGE_INTEGER *) { throw std::runtime_error("performance counter"); }
BOOL WINAPI throwing_free_library(HMODULE) { throw std::runtime_error("free library"); }

TEST_F(plugin, CxxExceptionsNeverLeaveTheSdkExports)
{
    // In the start, from the game's own log callback at its very end: the
    // start is taken back (core stopped, events returned) and refused.
    install_core("fake_core_full.dll");
    sim::telemetry_config cfg;
    cfg.log_throws = true;
    EXPECT_EQ(init(SCS_TELEMETRY_VERSION_1_01, cfg), SCS_RESULT_GENERIC_ERROR);
    int fault = log_find("[host] init faulted (0xe0444d43)");
    ASSERT_GE(fault, 0) << log_text();
    EXPECT_EQ(fake()->calls[FC_INIT], 1u);
    EXPECT_EQ(fake()->calls[FC_SHUTDOWN], 1u);
    EXPECT_GT(log_find("[fake] shutdown"), fault);
    EXPECT_TRUE(sim::registered_events().empty());
    sim::frames(3, 0.5);
    EXPECT_EQ(fake()->calls[FC_FRAME], 0u);
    shutdown();

    // In a frame end: that frame is lost, the next ones run.
    next_run();
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(1, 0.1);
    ASSERT_EQ(fake()->calls[FC_FRAME], 1u);
    void *qpc = sim::patch_import(sim::plugin_module(), "kernel32.dll", "QueryPerformanceCounter",
                                  (void *)throwing_qpc);
    ASSERT_TRUE(qpc);
    sim::frames(2, 0.1);
    sim::patch_import(sim::plugin_module(), "kernel32.dll", "QueryPerformanceCounter", qpc);
    EXPECT_EQ(log_count("[host] frame end faulted (0xe0444d43)"), 2) << log_text();
    EXPECT_EQ(fake()->calls[FC_FRAME], 1u);
    sim::frames(2, 0.1);
    EXPECT_EQ(fake()->calls[FC_FRAME], 3u);

    // In the shutdown: logged, and the log is still closed behind it.
    void *free_library = sim::patch_import(sim::plugin_module(), "kernel32.dll", "FreeLibrary",
                                           (void *)throwing_free_library);
    ASSERT_TRUE(free_library);
    shutdown();
    sim::patch_import(sim::plugin_module(), "kernel32.dll", "FreeLibrary", free_library);
    auto lines = log_lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "[fake] shutdown");
    EXPECT_EQ(lines[lines.size() - 2], "[host] shutdown faulted (0xe0444d43)");
    EXPECT_EQ(lines.back(), "[host] ---- shutdown");
}

TEST_F(plugin, RunsWithoutACore)
{
    ASSERT_EQ(init(), SCS_RESULT_OK);
    sim::frames(5, 0.2);
    EXPECT_EQ(log_find("[host] core"), -1) << log_text();
    // A core dropped in later is picked up by the poll.
    install_core("fake_core_full.dll");
    sim::frames(6, 0.2);
    EXPECT_GE(log_find("[host] core generation 1 loaded"), 0);
}

TEST_F(plugin, LogLinesFromManyThreadsStayWholeAndLateWritersAreHarmless)
{
    install_core("fake_core_full.dll");
    ASSERT_EQ(init(), SCS_RESULT_OK);
    dm_log_fn log = (dm_log_fn)fake()->api_log; // the host_log handed to the core
    ASSERT_TRUE(log);
    struct ctx { dm_log_fn log; int id; volatile LONG *stop; };
    volatile LONG stop = 0;
    auto writer = [](void *p) -> DWORD {
        auto *c = (ctx *)p;
        for (int i = 0; i < 300 || !*c->stop; i++)
            c->log("[t%d] line %d %s", c->id, i, "abcdefghijklmnopqrstuvwxyz0123456789");
        return 0;
    };
    ctx ctxs[6];
    HANDLE threads[6];
    for (int i = 0; i < 6; i++) {
        ctxs[i] = { log, i, &stop };
        threads[i] = CreateThread(nullptr, 0, writer, &ctxs[i], 0, nullptr);
    }
    Sleep(50);
    shutdown(); // closes the log while the writers go on
    InterlockedExchange(&stop, 1);
    WaitForMultipleObjects(6, threads, TRUE, 20000);
    for (HANDLE h : threads)
        CloseHandle(h);
    int written = 0;
    for (auto &l : log_lines()) {
        if (l.empty() || l.compare(0, 2, "[t") != 0)
            continue;
        written++;
        int id, n;
        char tail[64];
        ASSERT_EQ(sscanf(l.c_str(), "[t%d] line %d %63s", &id, &n, tail), 3) << l;
        EXPECT_STREQ(tail, "abcdefghijklmnopqrstuvwxyz0123456789") << l;
    }
    EXPECT_GT(written, 0);
}

} // namespace

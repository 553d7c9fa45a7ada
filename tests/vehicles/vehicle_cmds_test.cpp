// The vehicle commands through the real plug-in and core in the simulated
// game: local, spawn, info, move, the inline settings, defdump and
// spawnlist (a round trip through the real files) and cargodump, checked
// by their log lines, the sim vehicle's fields and calls, and the files.
#include <math.h>
#include "runtime/runtime_fixture.h"
#include "sim/sim_convoy.h"
#include "sim/sim_vehicles.h"

using rt::fmt;

namespace {

std::string ptr(const void *p) { return fmt("%p", p); }
using lines = std::vector<std::string>;

constexpr const char *chassis_path = "/def/truck/chassis.sii";
constexpr const char *wheel_path = "/def/truck/wheel.sii";
const char *const move_usage = "[core] move: circle [radius] [speed] | follow [distance] | stop";

std::string placed(const char *label, float x, float y, float z, int sx, int sz, float qw, float qx, float qy,
                   float qz)
{
    return fmt("[core] %s: local(%.3f, %.3f, %.3f) sector(%d, %d) -> world(%.3f, %.3f, %.3f) "
               "q(w=%.4f x=%.4f y=%.4f z=%.4f)",
               label, x, y, z, sx, sz, sx * 512.0 + x, (double)y, sz * 512.0 + z, qw, qx, qy, qz);
}

class vehicle_cmds : public rt::core_test {
protected:
    uint8_t *local = nullptr, *chassis = nullptr, *wheel = nullptr;

    void SetUp() override
    {
        rt::core_test::SetUp();
        sim::vehicle_world_install();
        sim::token_to_text_install();
        sim::data_new(chassis_path, sim::game_at(sim::veh_off::part_data_class));
        sim::data_new(wheel_path, sim::game_at(sim::veh_off::wheel_data_class));
        local = sim::def_new(sim::def_kind::vehicle, "AB 123");
        chassis = sim::accessory_new(sim::accessory_kind::part, chassis_path);
        wheel = sim::accessory_new(sim::accessory_kind::wheel, wheel_path);
        sim::put<uint16_t>(wheel, sim::acc::wheel_offset, 4);
        sim::def_push(local, chassis);
        sim::def_push(local, wheel);
        sim::player_truck_def(player, local);
        truck_at(100.0f, 10.0f, 50.0f);
    }

    void truck_at(float x, float y, float z, int16_t sx = 0, int16_t sz = 0, float qw = 1, float qy = 0,
                  bool result = true)
    {
        sim::placement32 at = { x, y, z, sx, sz, qw, 0, qy, 0 };
        sim::player_set_placement(&at, result);
    }

    /* The vehicle the core made, from its spawn line. */
    uint8_t *spawned_vehicle()
    {
        int at = log_find("[core] spawn: veh=");
        if (at < 0)
            return nullptr;
        void *v = nullptr;
        sscanf(log_lines()[at].c_str(), "[core] spawn: veh=%p", &v);
        return (uint8_t *)v;
    }

    /* "spawn", loaded in the next frame, and the info report 30 frames
     * later behind us. */
    uint8_t *spawn()
    {
        command("spawn");
        sim::frames(2, 0.05);
        EXPECT_EQ(log_count("[core] spawn complete"), 1) << log_text();
        sim::frames(31, 0.05);
        return spawned_vehicle();
    }
};

/* ---- local and spawn ---- */

TEST_F(vehicle_cmds, LocalReportsTheTruckAgainstTelemetry)
{
    start();
    truck_at(100.0f, 10.0f, 50.0f, 1, -1);
    sim::channel_placement(611.5, 9.0, -460.0, 0.25f, 0, 0);
    std::string head = fmt("[core] game_ctrl=%s truck=%s def=%s", ptr(player.ctrl).c_str(),
                           ptr(player.truck).c_str(), ptr(local).c_str());
    EXPECT_EQ(command("local"),
              (lines{ head, placed("local truck (game)", 100, 10, 50, 1, -1, 1, 0, 0, 0),
                      "[core] telemetry pos x=611.500 y=9.000 z=-460.000 heading=0.2500 pitch=0.0000 roll=0.0000 "
                      "speed=0.00 paused=0",
                      "[core] diff game-telemetry: dx=0.500 dy=1.000 dz=-2.000" }));

    truck_at(0, 0, 0, 0, 0, 1, 0, false);
    EXPECT_EQ(command("local"), (lines{ head, "[core] get_placement returned false" }));

    sim::game_player_remove();
    EXPECT_EQ(command("local"), (lines{ fmt("[core] game_ctrl=%s truck=%s def=%s", ptr(nullptr).c_str(),
                                            ptr(nullptr).c_str(), ptr(nullptr).c_str()),
                                        "[core] no local truck (game_ctrl=" + ptr(nullptr) + ")" }));
}

TEST_F(vehicle_cmds, SpawnTakesOnlyAFiniteDistance)
{
    start();
    for (const char *bad : { "spawn abc", "spawn nan", "spawn inf", "spawn 1e39", "spawn 12 13", "spawn " })
        EXPECT_EQ(command(bad), lines{ "[core] spawn [metres right]" }) << bad;
    EXPECT_EQ(log_find("[core] spawn at"), -1);
    EXPECT_EQ(first("spawn 12.5"), placed("spawn at", 112.5f, 10, 50, 0, 0, 1, 0, 0, 0));
}

/* ---- info, move and the settings ---- */

TEST_F(vehicle_cmds, NothingSpawnedAnswers)
{
    start();
    EXPECT_EQ(command("info"), lines{ "[core] info: nothing spawned" });
    EXPECT_EQ(command("move circle"), lines{ "[core] move: nothing spawned" });
    EXPECT_EQ(command("move"), lines{ "[core] move: nothing spawned" });
    EXPECT_EQ(command("flags 1ff"), lines{ "[core] unknown command" });
}

uint8_t *body_placement_out;
uint64_t fake_body_placement(uint64_t vehicle, uint64_t out, uint64_t, uint64_t)
{
    sim::placement32 p = { 1.5f, 2.5f, -3.5f, 2, -3, 0, 0, 1, 0 };
    memcpy((void *)(uintptr_t)out, &p, sizeof p);
    body_placement_out = (uint8_t *)(uintptr_t)vehicle;
    return 0;
}

TEST_F(vehicle_cmds, InfoReportsTheVehicleOnceByItselfAndOnRequest)
{
    start();
    sim::vtable_set(sim::vehicle_vtable(), 0xF8 / 8, (void *)fake_body_placement);
    uint8_t *veh = spawn();
    ASSERT_TRUE(veh);
    EXPECT_EQ(log_count("[core] info: veh="), 1) << log_text(); // 30 frames after the spawn
    auto expect = lines{
        fmt("[core] info: veh=%s state=2 load=%u refword=%08x flags2a0=%08x def=%s (local def %s) chassis=%s cabin=%s",
            ptr(veh).c_str(), sim::get<uint32_t>(veh, sim::phys::load_state), sim::refword(veh),
            sim::get<uint32_t>(veh, sim::phys::lights), ptr(local).c_str(), ptr(local).c_str(), ptr(nullptr).c_str(),
            ptr(nullptr).c_str()),
        placed("info: get_placement", 106, 10, 50, 0, 0, 1, 0, 0, 0),
        placed("info: chassis body placement (+0xf8)", 1.5f, 2.5f, -3.5f, 2, -3, 0, 0, 1, 0),
    };
    EXPECT_EQ(command("info"), expect);
    EXPECT_EQ(body_placement_out, veh);
}

TEST_F(vehicle_cmds, MoveKeepsValuesOutOfRangeAndRefusesOtherText)
{
    start();
    uint8_t *veh = spawn();
    ASSERT_TRUE(veh);
    struct {
        const char *line;
        std::string answer;
    } cases[] = {
        { "move", move_usage },
        { "move jump", move_usage },
        { "move circle nan", move_usage },
        { "move circle 30 inf", move_usage },
        { "move follow abc", move_usage },
        { "move circle 1 2 3", move_usage },
        { "move circle 1.5", "[core] move circle: centre (100.0, 50.0) radius 20.0 m speed 5.0 m/s" },
        { "move circle 30 7.5", "[core] move circle: centre (100.0, 50.0) radius 30.0 m speed 7.5 m/s" },
        { "move circle 2 0", "[core] move circle: centre (100.0, 50.0) radius 30.0 m speed 7.5 m/s" },
        { "move follow 2", "[core] move follow: 15.0 m behind along your path" },
        { "move follow 25", "[core] move follow: 25.0 m behind along your path" },
        { "move follow", "[core] move follow: 25.0 m behind along your path" },
        { "move stop", "[core] move stop" },
    };
    for (auto &c : cases)
        EXPECT_EQ(command(c.line), lines{ c.answer }) << c.line;

    // Park: 2 m to the truck's right, then 3 m ahead, of a truck turned
    // 90 degrees (it faces -x, its right is -z).
    const float h = 0.70710678f;
    truck_at(100.0f, 10.0f, 50.0f, 0, 0, h, h);
    EXPECT_EQ(command("move park 2 3"), lines{ placed("move park", 97, 10, 48, 0, 0, h, 0, h, 0) });
    sim::frames(1, 0.05);
    sim::placement32 now = sim::vehicle_placements(veh).back();
    EXPECT_FLOAT_EQ(now.x, 97.0f);
    EXPECT_FLOAT_EQ(now.z, 48.0f);

    // Circle: the vehicle goes around the truck from where it stands.
    truck_at(100.0f, 10.0f, 50.0f);
    command("move circle 30 7.5");
    sim::frames(3, 0.05);
    now = sim::vehicle_placements(veh).back();
    double r = hypot(now.x - 100.0, now.z - 50.0);
    EXPECT_NEAR(r, 30.0, 1e-3);
}

TEST_F(vehicle_cmds, SettingsDriveTheSpawnedVehicle)
{
    start();
    uint8_t *veh = spawn();
    ASSERT_TRUE(veh);
    auto elements = sim::collision_elements(veh, 0x40, 2);
    sim::put<uint32_t>(veh, sim::phys::lights, 0x200);

    EXPECT_EQ(command("flags 1ff"), lines{ "[core] forcing veh+0x2a0 = 000001ff" });
    sim::frames(1, 0.05);
    EXPECT_EQ(sim::get<uint32_t>(veh, sim::phys::lights) & ~0x200u, 0x1FFu);
    for (const char *bad : { "flags xyz", "flags 100000000", "flags 1 2" })
        EXPECT_EQ(command(bad), lines{ "[core] flags <hex light word> | flags off" }) << bad;
    EXPECT_EQ(command("flags off"), lines{ "[core] flags no longer forced" });
    sim::put<uint32_t>(veh, sim::phys::lights, 0x204);
    sim::frames(1, 0.05);
    EXPECT_EQ(sim::get<uint32_t>(veh, sim::phys::lights), 0x204u);

    EXPECT_EQ(command("steer flip"), lines{ "[core] steering sign -1" });
    EXPECT_EQ(command("steer flip"), lines{ "[core] steering sign +1" });

    sim::wheel_block_new(veh, 2, 2, 1.0f, { 0.5f });
    EXPECT_EQ(command("wheeldbg"), lines{});
    sim::frames(8, 0.05);
    EXPECT_EQ(log_count("[core] wheeldbg: spin[0] before update"), 5);

    EXPECT_EQ(command("tick off"), lines{ "[core] per-frame update OFF" });
    sim::calls_clear();
    sim::frames(2, 0.05);
    EXPECT_TRUE(sim::calls_named("update").empty());
    EXPECT_EQ(command("tick on"), lines{ "[core] per-frame update ON" });
    sim::frames(1, 0.05);
    EXPECT_FALSE(sim::calls_named("update").empty());

    sim::calls_clear();
    EXPECT_EQ(command("collide off"), lines{ "[core] collision OFF (ghost) for our vehicles (command)" });
    EXPECT_EQ(sim::calls_named("collide_off").size(), elements.size());
    EXPECT_EQ(command("net collide on"), lines{ "[core] collision ON for our vehicles (command)" });
    EXPECT_EQ(sim::calls_named("collide_on").size(), elements.size());
    EXPECT_EQ(command("net collide off"), lines{ "[core] collision OFF (ghost) for our vehicles (command)" });
    EXPECT_EQ(command("collide on"), lines{ "[core] collision ON for our vehicles (command)" });

    // Clone mode: a despawnable vehicle on a copy of our definition.
    EXPECT_EQ(command("spawnmode clone"), lines{ "[core] spawn mode: clone" });
    EXPECT_EQ(first("despawn"), "[core] despawn refused: shared definition (crashes the game); restart instead");
    EXPECT_EQ(command("tick off"), lines{ "[core] per-frame update OFF" });
    EXPECT_EQ(command("spawnmode share"), lines{ "[core] spawn mode: share" });
    EXPECT_EQ(command("spawnmode clone"), lines{ "[core] spawn mode: clone" });
}

TEST_F(vehicle_cmds, SpawnModeCloneSpawnsOnACopy)
{
    start();
    EXPECT_EQ(command("spawnmode clone"), lines{ "[core] spawn mode: clone" });
    uint8_t *veh = spawn();
    ASSERT_TRUE(veh);
    uint8_t *def = (uint8_t *)(uintptr_t)sim::get<uint64_t>(veh, sim::phys::definition);
    EXPECT_NE(def, local);
    EXPECT_EQ(sim::def_plate(def), "DROVEMARK|california");
    EXPECT_EQ(command("despawn").back(), "[core] despawned");
    EXPECT_EQ(command("spawnmode share"), lines{ "[core] spawn mode: share" });
    command("spawn");
    sim::frames(2, 0.05);
    veh = nullptr;
    for (auto &l : log_lines())
        if (l.rfind("[core] spawn: veh=", 0) == 0)
            sscanf(l.c_str(), "[core] spawn: veh=%p", (void **)&veh);
    ASSERT_TRUE(veh);
    EXPECT_EQ(sim::get<uint64_t>(veh, sim::phys::definition), (uint64_t)(uintptr_t)local);
}

/* ---- defdump and spawnlist ---- */

TEST_F(vehicle_cmds, DefdumpWritesAListThatSpawnlistSpawnsFrom)
{
    start();
    std::string head = fmt("[core] defdump: def=%s class=vehicle_def refword=%08x plate='AB 123' accessories=2",
                           ptr(local).c_str(), sim::refword(local));
    lines dump = { head, fmt("[core]   [0] %s %-28s %s", ptr(chassis).c_str(), "accessory_part", chassis_path),
                   fmt("[core]   [1] %s %-28s %s;o=4", ptr(wheel).c_str(), "accessory_wheel", wheel_path) };
    // Without a file name: the log only.
    EXPECT_EQ(command("defdump"), dump);

    lines written = dump;
    written.push_back("[core] defdump: wrote " + base + "truck.txt");
    EXPECT_EQ(command("defdump truck.txt"), written);
    EXPECT_EQ(fx::read_file(base + "truck.txt"), std::string(chassis_path) + "\r\n" + wheel_path + ";o=4\r\n");
    EXPECT_FALSE(fx::exists(base + "truck.txt.tmp"));

    // Read back: a truck built from the two entries, 9 m to the right.
    auto out = command("spawnlist truck.txt 9");
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[0], "[core] spawnlist: 2 entries from " + base + "truck.txt");
    EXPECT_EQ(out[1], placed("spawn at", 109, 10, 50, 0, 0, 1, 0, 0, 0));
    EXPECT_EQ(out[2], "[core] spawn: building the definition from 2 accessory entries");
    sim::frames(2, 0.05);
    ASSERT_EQ(log_count("[core] spawn complete"), 1) << log_text();
    uint8_t *veh = spawned_vehicle();
    auto *def = (uint8_t *)(uintptr_t)sim::get<uint64_t>(veh, sim::phys::definition);
    auto accs = sim::def_accessories(def);
    ASSERT_EQ(accs.size(), 2u);
    EXPECT_NE(def, local);
    EXPECT_EQ(sim::accessory_path(accs[0]), chassis_path);
    EXPECT_EQ(sim::accessory_path(accs[1]), wheel_path);
    EXPECT_EQ(sim::get<uint16_t>(accs[1], sim::acc::wheel_offset), 4);
}

TEST_F(vehicle_cmds, DefdumpNeverWritesOurOwnFilesNorHalfAList)
{
    start();
    std::string config = fx::read_file(base + "config.ini"), key = fx::read_file(base + "identity.key");
    ASSERT_FALSE(config.empty());
    struct {
        std::string name, path;
    } own[] = {
        { "config.ini", base + "config.ini" },
        { "CMD.TXT.", base + "CMD.TXT." },
        { base + "state.json", base + "state.json" },
        { "sub\\..\\identity.key", base + "sub\\..\\identity.key" },
    };
    for (auto &c : own) {
        auto out = command("defdump " + c.name);
        ASSERT_EQ(out.size(), 4u) << c.name;
        EXPECT_EQ(out[1], "[core] defdump: " + c.path + " is one of our own files; not writing it");
        EXPECT_EQ(out.back().rfind("[core]   [1] ", 0), 0u); // the dump goes on to the log
    }
    EXPECT_EQ(fx::read_file(base + "config.ini"), config);
    EXPECT_EQ(fx::read_file(base + "identity.key"), key);
    EXPECT_FALSE(fx::exists(base + "state.json.tmp"));

    // A name that cannot be put in place: the temporary file goes, the
    // place stays as it was.
    CreateDirectoryA((base + "busy.txt").c_str(), nullptr);
    auto out = command("defdump busy.txt");
    EXPECT_EQ(out.back(), "[core] defdump: can't write " + base + "busy.txt");
    EXPECT_FALSE(fx::exists(base + "busy.txt.tmp"));
    out = command("defdump nodir\\x.txt");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1], "[core] defdump: can't write " + base + "nodir\\x.txt");

    sim::game_player_remove();
    EXPECT_EQ(command("defdump x.txt"), lines{ "[core] defdump: no local truck" });
}

TEST_F(vehicle_cmds, SpawnlistReadsLinesAsTheListHasThem)
{
    start();
    EXPECT_EQ(command("spawnlist none.txt"), lines{ "[core] spawnlist: can't open " + base + "none.txt" });
    for (const char *bad : { "spawnlist  ", "spawnlist a.txt nan", "spawnlist a.txt inf", "spawnlist a.txt x",
                             "spawnlist a.txt 1 2" })
        EXPECT_EQ(command(bad), lines{ "[core] spawnlist <file> [metres right]" }) << bad;
    EXPECT_EQ(command("spawnlist"), lines{ "[core] unknown command" });

    // An over-long line whose rest is an entry: skipped whole.
    fx::write_file(base + "long.txt", "# mine\r\n\r\n" + std::string(255, 'x') + wheel_path + "\r\n" +
                                          std::string(224, 'y') + "\n" + chassis_path + "\r\n");
    auto out = command("spawnlist long.txt");
    ASSERT_GE(out.size(), 3u);
    EXPECT_EQ(out[0], "[core] spawnlist: 1 entries from " + base + "long.txt");
    EXPECT_EQ(out[1], placed("spawn at", 106, 10, 50, 0, 0, 1, 0, 0, 0));
    EXPECT_EQ(out[2], "[core] spawn: building the definition from 1 accessory entries");
    EXPECT_GE(log_find("[core] look: no wheel accessories in the list; not using it"), 0);
    sim::frames(2, 0.05);
    EXPECT_EQ(first("despawn").rfind("[core] despawn", 0), 0u);
    sim::frames(1, 0.05);

    // 200 usable lines: the first 128 are the list.
    std::string text;
    for (int i = 0; i < 200; i++)
        text += std::string(i % 2 ? wheel_path : chassis_path) + "\n";
    fx::write_file(base + "many.txt", text);
    EXPECT_EQ(first("spawnlist many.txt"), "[core] spawnlist: 128 entries from " + base + "many.txt");

    fx::write_file(base + "empty.txt", "# nothing\n\n");
    EXPECT_EQ(command("spawnlist empty.txt"), lines{ "[core] spawnlist: 0 entries from " + base + "empty.txt" });
}

/* ---- cargodump ---- */

TEST_F(vehicle_cmds, CargodumpListsTheTrailersCargo)
{
    start();
    EXPECT_EQ(command("cargodump"), lines{ "[core] cargodump: no trailer" });

    uint8_t *cargo = sim::cargo_def_new("cargo.steel");
    uint8_t *tdef = sim::def_new(sim::def_kind::trailer);
    uint8_t *body = sim::accessory_new(sim::accessory_kind::part, "/def/trailer/body.sii");
    uint8_t *load = sim::accessory_new(sim::accessory_kind::cargo, "/def/trailer/cargo.sii");
    sim::cargo_fields f = { 0xABCDEF, 1, 2, 3, { 0.5f, 1.0f, -2.0f }, 12.0f, 4, { 2.5f, 1.5f, 8.0f } };
    sim::accessory_set_cargo(load, cargo, f);
    sim::def_push(tdef, body);
    sim::def_push(tdef, load);
    sim::player_trailer_new(player, tdef);
    // The cargo in an array of game_ctrl.
    uint8_t *array = sim::object_new(3 * 8);
    sim::put<uint64_t>(array, 16, (uint64_t)(uintptr_t)cargo);
    sim::put<uint64_t>(player.ctrl, 0x800, (uint64_t)(uintptr_t)array);
    sim::put<uint64_t>(player.ctrl, 0x808, 3);

    EXPECT_EQ(command("cargodump"),
              (lines{ fmt("[core] cargodump: [1] %s path='/def/trailer/cargo.sii' cargo_data=%s (cargo, refword %08x) "
                          "seed=abcdef load=1 lash=2 gear=3 hook=(0.500 1.000 -2.000) units=12.000 models=4 "
                          "dims=(2.500 1.500 8.000)",
                          ptr(load).c_str(), ptr(cargo).c_str(), sim::refword(cargo)),
                      "[core] cargodump:   cargo_data full name 'cargo.steel' (name id 00000001)",
                      "[core] cargodump:   found in game_ctrl+0x800[2] of 3" }));

    // A name call that faults gives an empty name; the dump goes on.
    sim::token_to_text_faulting();
    EXPECT_EQ(command("cargodump")[1], "[core] cargodump:   cargo_data full name '' (name id 00000001)");
}

} // namespace

/* ---- the convoy test vehicle's commands ---- */

TEST_F(vehicle_cmds, ConvoySwitchesTakeOnOrOffAndTheTestVehicleSaysWhyNot)
{
    sim::convoy_install(player);
    start();
    ASSERT_EQ(log_count("[core] rv: stage C: promoting"), 0);
    command("rvspawn");
    ASSERT_EQ(log_count("[core] rv: stage C: promoting"), 1) << log_text();

    // Each switch line and what the state dump shows afterwards; both start on.
    const std::string vel_usage = "[core] usage: rvvel [on|off]", clock_usage = "[core] usage: rvclock [on|off]";
    struct {
        const char *line;
        std::string reply;
        bool velocity, clock;
    } rows[] = {
        { "rvvel on", "[core] rv: velocity on", true, true },
        { "rvvel banana", vel_usage, true, true },
        { "rvvel", "[core] rv: velocity off", false, true },
        { "rvvel onward", vel_usage, false, true },
        { "rvvel 1", vel_usage, false, true },
        { "rvvel  on ", "[core] rv: velocity on", true, true },
        { "rvclock off", "[core] rv: clock off", true, false },
        { "rvclock banana", clock_usage, true, false },
        { "rvclock -1", clock_usage, true, false },
        { "rvclock", "[core] rv: clock on", true, true },
        { "rvclock offline", clock_usage, true, true },
        { "rvclock on", "[core] rv: clock on", true, true },
    };
    for (auto &r : rows) {
        EXPECT_EQ(command(r.line), lines{ r.reply }) << r.line;
        auto info = command("rvinfo");
        ASSERT_GE(info.size(), 2u) << r.line;
        EXPECT_EQ(info[1].find(" (advancing)") != std::string::npos, r.clock) << r.line << "\n" << info[1];
        std::string vel = r.velocity ? ", vel on" : ", vel off";
        EXPECT_EQ(info[1].substr(info[1].size() - std::min(info[1].size(), vel.size())), vel) << r.line;
    }

    // Without a profile every form of rvspawn says why it spawns nothing.
    command("rvdespawn");
    sim::game_player_remove();
    const std::string no_truck = "[core] no local truck (game_ctrl=" + ptr(nullptr) + ")";
    for (const char *line : { "rvspawn", "rvspawn a", "rvspawn b", "rvspawn c", "rvspawn  c " })
        EXPECT_EQ(command(line), lines{ no_truck }) << line;
    EXPECT_EQ(command("rvinfo"), lines{ "[core] rv: none" });
}

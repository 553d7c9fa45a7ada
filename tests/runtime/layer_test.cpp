// The core's game-memory layer and its config.ini writer, called directly:
// the core's sources are linked into this simulated game and started with a
// host API of the test's own.
#include <stdarg.h>
#include <stdexcept>
#include "runtime_fixture.h"
#include "log_capture.h"
#include "dm_api.h"
#include "base/core.h"
#include "base/core_config.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "runtime/hooks.h"
#include "runtime/runtime.h"

extern "C" int32_t dm_core_init(const dm_host_api *api);
extern "C" void dm_core_shutdown(void);

using rt::as_address;
using rt::as_pointer;
using rt::fmt;

namespace {

class layer : public ::testing::Test {
protected:
    std::string base;
    dm_host_api api {};

    void SetUp() override
    {
        sim::game_reset();
        sim::set_build_hash();
        base = fx::test_out_dir() + "\\";
        api = { 24, 1, fx::capture_log, base.c_str() };
        fx::captured_clear();
        ASSERT_EQ(dm_core_init(&api), 1);
        // The server-list worker logs its first fetch from its own thread:
        // wait for it, so that the last line captured is the test's own.
        auto fetched = [] {
            for (auto &l : fx::captured())
                if (l.rfind("[core] servers: ", 0) == 0)
                    return true;
            return false;
        };
        for (int i = 0; i < 2500 && !fetched(); i++)
            Sleep(2);
    }
    void TearDown() override
    {
        dm_core_shutdown();
        sim::game_reset();
    }
    bool logged_line(const std::string &line) { return fx::captured_has(line); }
    std::string last_line() { return fx::captured_last(); }
};

uint64_t fake_destroy(uint64_t object, uint64_t, uint64_t, uint64_t)
{
    sim::record("destroy", object);
    return 0;
}

uint64_t created_unit;
uint64_t fake_create(uint64_t factory, uint64_t, uint64_t, uint64_t)
{
    sim::record("create", factory);
    return created_unit;
}

TEST_F(layer, ReferenceWordsAndRelease)
{
    sim::game_function(sim::off::destroy, (void *)fake_destroy);
    void **vt = sim::vtable_new(8);
    uint8_t *obj = sim::object_new(0x40, vt);

    game_take_ref(as_address(obj));
    EXPECT_EQ(sim::get<uint32_t>(obj, 8), 0x20000001u);
    game_take_ref(as_address(obj));
    EXPECT_EQ(sim::get<uint32_t>(obj, 8), 0x20000002u);

    // 0x20000002 only decrements; slot 1 is called with the object first.
    game_release(as_address(obj));
    EXPECT_EQ(sim::get<uint32_t>(obj, 8), 0x20000001u);
    auto c = sim::calls();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].name, "vslot1");
    EXPECT_EQ(c[0].args[0], as_address(obj));

    // 0x20000001 reaches count 0: to the game's destroy function.
    game_release(as_address(obj));
    c = sim::calls();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c[1].name, "vslot1");
    EXPECT_EQ(c[2].name, "destroy");
    EXPECT_EQ(c[2].args[0], as_address(obj));

    // Only the low 25 bits count: other flags do not keep it alive.
    sim::calls_clear();
    sim::put<uint32_t>(obj, 8, 0x2E000001u);
    game_release(as_address(obj));
    EXPECT_EQ(sim::calls_named("destroy").size(), 1u);
}

TEST_F(layer, CreateUnitThroughTheFactoryTable)
{
    uint8_t *factory = sim::object_new(0x100);
    uint8_t *unit = sim::object_new(0x100);
    created_unit = as_address(unit);
    sim::game_put<uint64_t>(sim::off::factory_table + 8 * 1, as_address(factory));
    // The class record of game_physics_vehicle, its create function at +8.
    uint8_t *record = sim::game_from_va(0x141E22410);
    uint8_t *create = sim::game_function(0x1000, (void *)fake_create);
    sim::put<uint64_t>(record, 8, as_address(create));

    struct { uint32_t index; bool made; } cases[] = {
        { 1, true }, { 4, false }, { 5, false }, { 0xFFFFFFFF, false }, { 2, false /* null factory */ },
    };
    for (auto &c : cases) {
        sim::calls_clear();
        sim::game_put<uint32_t>(sim::off::factory_index, c.index);
        EXPECT_EQ(game_create_unit(0x141E22410), c.made ? as_address(unit) : 0) << c.index;
        auto made = sim::calls_named("create");
        ASSERT_EQ(made.size(), c.made ? 1u : 0u) << c.index;
        if (c.made) {
            EXPECT_EQ(made[0].args[0], as_address(factory));
        }
    }
}

TEST_F(layer, TrailerActorClassChecks)
{
    void **vt = sim::vtable_at(sim::off::trailer_actor_vtable, 8);
    uint64_t cls = as_address(sim::game_at(sim::off::trailer_actor_class));
    sim::vslot_result(5, cls);
    uint8_t *actor = sim::object_new(4792, vt);
    EXPECT_TRUE(game_is_trailer_actor(as_address(actor)));
    EXPECT_EQ(sim::calls_named("vslot5").size(), 1u);

    // Short of the probed size: refused before any call.
    sim::calls_clear();
    uint8_t *small = sim::object_new(4784, vt);
    EXPECT_FALSE(game_is_trailer_actor(as_address(small)));
    EXPECT_TRUE(sim::calls_named("vslot5").empty());
    // A foreign table, another class, null.
    uint8_t *foreign = sim::object_new(4792, sim::vtable_new(8));
    EXPECT_FALSE(game_is_trailer_actor(as_address(foreign)));
    sim::vslot_result(5, cls + 8);
    EXPECT_FALSE(game_is_trailer_actor(as_address(actor)));
    EXPECT_FALSE(game_is_trailer_actor(0));
    // Behind a guard page: refused, and the guard stays.
    uint8_t *guarded = sim::object_new(4792, vt);
    sim::game_protect(guarded + 4096, 1, PAGE_READWRITE | PAGE_GUARD);
    sim::vslot_result(5, cls);
    EXPECT_FALSE(game_is_trailer_actor(as_address(guarded)));
    MEMORY_BASIC_INFORMATION mbi;
    VirtualQuery(guarded + 4096, &mbi, sizeof mbi);
    EXPECT_TRUE(mbi.Protect & PAGE_GUARD);

    // Its table's get-class slot on a no-access page: refused without a fault.
    sim::game_protect(vt + 5, 8, PAGE_NOACCESS);
    EXPECT_FALSE(game_is_trailer_actor(as_address(actor)));
    sim::game_protect(vt + 5, 8, PAGE_READWRITE);
    EXPECT_TRUE(game_is_trailer_actor(as_address(actor)));

    // A get-class that faults: false, and last_fault names the game code.
    uint8_t *stub = sim::game_function_faulting(0x2000);
    sim::vtable_set(vt, 5, stub);
    EXPECT_FALSE(game_is_trailer_actor(as_address(actor)));
    EXPECT_EQ(last_fault_code, 0xC0000005u);
    EXPECT_EQ(last_fault_data, sim::fault_data_address);
    EXPECT_EQ(game_va(last_fault_address), 0x140002000ull + 10); // the load after mov rax, imm64
}

TEST_F(layer, ClassNamesAreCopiedWithABoundAndGuardedReads)
{
    static const char name[] = "game_trailer_actor";
    char out[64];
    uint8_t *name_object = sim::object_new(8);
    sim::put<uint64_t>(name_object, 0, as_address(name));
    uint8_t *cls = sim::object_new(8);
    sim::put<uint64_t>(cls, 0, as_address(name_object));
    EXPECT_STREQ(game_class_name(as_address(cls), out, sizeof out), "game_trailer_actor");
    char small[5];
    EXPECT_STREQ(game_class_name(as_address(cls), small, sizeof small), "game"); // cut to fit
    EXPECT_STREQ(game_class_name(0, out, sizeof out), "?");

    // A name across a page boundary is read whole.
    uint8_t *pages = sim::object_new(0x3000);
    uint8_t *across = pages + (0x1000 - (as_address(pages) & 0xFFF)) - 3;
    memcpy(across, name, sizeof name);
    sim::put<uint64_t>(name_object, 0, as_address(across));
    EXPECT_STREQ(game_class_name(as_address(cls), out, sizeof out), "game_trailer_actor");
    // A name that runs into a no-access page before its NUL: what can be
    // read, and no fault.
    uint8_t *tail = sim::object_new(8);
    memcpy(tail, "game_tra", 8);
    sim::put<uint64_t>(name_object, 0, as_address(tail));
    EXPECT_STREQ(game_class_name(as_address(cls), out, sizeof out), "game_tra");
    // Characters, name object or class object on the no-access page, or a null hop.
    sim::put<uint64_t>(name_object, 0, as_address(tail + 8));
    EXPECT_STREQ(game_class_name(as_address(cls), out, sizeof out), "?");
    sim::put<uint64_t>(name_object, 0, 0);
    EXPECT_STREQ(game_class_name(as_address(cls), out, sizeof out), "?");
    sim::put<uint64_t>(cls, 0, as_address(name_object) + 8);
    EXPECT_STREQ(game_class_name(as_address(cls), out, sizeof out), "?");
    EXPECT_STREQ(game_class_name(as_address(cls) + 8, out, sizeof out), "?");

    uint8_t *obj = sim::object_new(8);
    sim::put<uint64_t>(obj, 0, 0x0123456789ABCDEFull);
    uint64_t v = 7;
    uint8_t b = 7;
    EXPECT_TRUE(safe_read_u64(as_address(obj), &v));
    EXPECT_EQ(v, 0x0123456789ABCDEFull);
    EXPECT_TRUE(safe_read_u8(as_address(obj) + 7, &b));
    EXPECT_EQ(b, 0x01);
    v = 7;
    b = 7;
    EXPECT_FALSE(safe_read_u64(as_address(obj) + 1, &v)); // its last byte is past the end
    EXPECT_FALSE(safe_read_u8(as_address(obj) + 8, &b));
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(b, 7);
    EXPECT_TRUE(probe_read(as_address(obj), 8));
    EXPECT_FALSE(probe_read(as_address(obj), 9));
    EXPECT_FALSE(probe_read(0, 1));

    // The filter on a record with one parameter leaves the data address 0.
    EXCEPTION_RECORD rec = {};
    rec.ExceptionCode = 0xC0000094;
    rec.ExceptionAddress = sim::game_at(0x3000);
    rec.NumberParameters = 1;
    rec.ExceptionInformation[0] = 0x55;
    EXCEPTION_POINTERS ptrs = { &rec, nullptr };
    EXPECT_EQ(fault_record_filter(&ptrs, nullptr), EXCEPTION_EXECUTE_HANDLER);
    EXPECT_EQ(last_fault_code, 0xC0000094u);
    EXPECT_EQ(last_fault_data, 0u);
    EXPECT_EQ(game_va(last_fault_address), 0x140003000ull);
    rec.NumberParameters = 2;
    rec.ExceptionInformation[1] = 0x1234;
    fault_record_filter(&ptrs, nullptr);
    EXPECT_EQ(last_fault_data, 0x1234u);
}

TEST_F(layer, LocalTruckPlacement)
{
    placement out;
    EXPECT_FALSE(local_truck_placement(&out));
    EXPECT_EQ(last_line(), fmt("[core] no local truck (game_ctrl=%p)", as_pointer(nullptr)));

    sim::player pl = sim::game_player_create();
    EXPECT_EQ(game_local_truck(), as_address(pl.truck));
    // The game writes its placement bytes; the core reads each field where
    // the game put it.
    sim::placement_bytes given = sim::placement_at(-24.0f, 12.5f, 212.0f, 2, -1, 1.0f, 0.0f, 0.5f, -0.25f);
    sim::player_set_placement(&given);
    ASSERT_TRUE(local_truck_placement(&out));
    EXPECT_EQ(out.x, -24.0f);
    EXPECT_EQ(out.y, 12.5f);
    EXPECT_EQ(out.z, 212.0f);
    EXPECT_EQ(out.sector_x, 2);
    EXPECT_EQ(out.sector_z, -1);
    EXPECT_EQ(out.qw, 1.0f);
    EXPECT_EQ(out.qx, 0.0f);
    EXPECT_EQ(out.qy, 0.5f);
    EXPECT_EQ(out.qz, -0.25f);
    auto c = sim::calls_named("get_placement");
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].args[0], as_address(pl.truck));
    log_placement("local", &out);
    EXPECT_EQ(last_line(), "[core] local: local(-24.000, 12.500, 212.000) sector(2, -1) -> world(1000.000, 12.500, "
                           "-300.000) q(w=1.0000 x=0.0000 y=0.5000 z=-0.2500)");
    sim::player_set_placement(&given, false);
    EXPECT_FALSE(local_truck_placement(&out));
    EXPECT_EQ(last_line(), "[core] get_placement returned false");

    // A get_placement that faults is caught and reported; the result is false.
    sim::vtable_set(pl.truck_vtable, 29, sim::game_function_faulting(0x2000));
    EXPECT_FALSE(local_truck_placement(&out));
    EXPECT_EQ(last_line(), fmt("[core] get_placement faulted (0xc0000005 at game VA 0x%llx, data addr %p)",
                               0x140002000ULL + 10, (void *)0x10)); // the stub faults at its 11th byte

    // A truck pointer into a page that cannot be read is no truck.
    sim::game_protect(pl.truck, 8, PAGE_NOACCESS);
    EXPECT_EQ(game_local_truck(), as_address(pl.truck)); // the chain itself is readable
    EXPECT_FALSE(local_truck_placement(&out));
    EXPECT_EQ(last_line(), fmt("[core] no local truck (game_ctrl=%p)", as_pointer(pl.ctrl)));
    sim::game_protect(pl.block, 8, PAGE_NOACCESS);
    EXPECT_EQ(game_local_truck(), 0u);
}

// game_ctrl first seen while it cannot be read gives no truck, and is probed
// again each time until it can: a verdict of unreadable is not kept.
TEST_F(layer, APointerTakenWhileUnreadableIsProbedAgainUntilItCanBeRead)
{
    sim::game_player_remove();
    EXPECT_EQ(game_local_truck(), 0u); // no profile: nothing taken
    sim::player pl = sim::game_player_create();
    sim::game_protect(pl.ctrl, 8, PAGE_NOACCESS);
    EXPECT_EQ(game_local_truck(), 0u);
    EXPECT_EQ(game_local_truck(), 0u);
    sim::game_protect(pl.ctrl, 8, PAGE_READWRITE);
    EXPECT_EQ(game_local_truck(), as_address(pl.truck));
}

TEST_F(layer, ConfigSetKeepsEveryReaderInAgreement)
{
    // Missing file: the line is appended to an empty file.
    DeleteFileA((base + "config.ini").c_str());
    EXPECT_TRUE(config_set("server", "a.example"));
    EXPECT_EQ(fx::read_file(base + "config.ini"), "server = a.example\r\n");
    EXPECT_EQ(last_line(), "[core] ui: config server = a.example");

    std::string long_value(1000, 'v');
    fx::write_file(base + "config.ini",
                   "# port = 1\r\n  Port\t= 1000\r\nname = x\r\nlong = " + long_value + "\r\nport = 2000\r\nportal = 3\r\ntail = 1");
    EXPECT_TRUE(config_set("port", "42871"));
    EXPECT_EQ(fx::read_file(base + "config.ini"),
              "# port = 1\r\nport = 42871\r\nname = x\r\nlong = " + long_value + "\r\nportal = 3\r\ntail = 1");
    EXPECT_FALSE(fx::exists(base + "config.ini.new"));
    char out[1100];
    ASSERT_TRUE(config_get("PORT", out, sizeof out));
    EXPECT_STREQ(out, "42871");
    ASSERT_TRUE(config_get("long", out, sizeof out));
    EXPECT_EQ(std::string(out), long_value); // read whole
    ASSERT_TRUE(config_get("long", out, 11));
    EXPECT_STREQ(out, "vvvvvvvvvv");
    EXPECT_FALSE(config_get("missing", out, sizeof out));
    EXPECT_FALSE(config_get("port", out, 0));

    // Refused: the file stays as it was.
    std::string before = fx::read_file(base + "config.ini");
    for (auto [key, value] : { std::pair{ "name", "a\r\nport = 1" }, { "na\nme", "b" }, { "", "c" }, { "  ", "d" } }) {
        EXPECT_FALSE(config_set(key, value)) << key;
        EXPECT_EQ(fx::read_file(base + "config.ini"), before);
        EXPECT_NE(last_line().find(" (write FAILED)"), std::string::npos);
    }

    // The core's reader takes the value written.
    EXPECT_TRUE(config_set("server", "b.example"));
    config_load();
    EXPECT_STREQ(core_config.server, "b.example");
    EXPECT_EQ(core_config.port, 42871);
}

TEST_F(layer, ConfigLineWithANulByteEndsOnlyAtItsNewline)
{
    // The NUL line is copied as it is and reads as a line of its own; the
    // later "name" line is dropped, so every reader takes the value written.
    using namespace std::string_literals;
    fx::write_file(base + "config.ini", "name = a\r\n\0\r\nname = b\r\nport = 5\r\n"s);
    EXPECT_TRUE(config_set("name", "c"));
    EXPECT_EQ(fx::read_file(base + "config.ini"), "name = c\r\n\0\r\nport = 5\r\n"s);
    char out[64];
    ASSERT_TRUE(config_get("name", out, sizeof out));
    EXPECT_STREQ(out, "c");
    config_load();
    EXPECT_STREQ(core_config.name, "c");
    EXPECT_EQ(core_config.port, 5);

    fx::write_file(base + "config.ini", "port = 6\0tail\r\nname = d\r\n"s);
    config_load();
    EXPECT_EQ(core_config.port, 6); // the text before the NUL
    EXPECT_STREQ(core_config.name, "d");
}

// A single-key write reads and writes the file as bytes (the line rules
// themselves are the pure tests'): a 0x1A byte, LF line ends and a UTF-8
// byte-order mark stay as they were, and so do bytes that are no text at all.
TEST_F(layer, ConfigSetKeepsEveryOtherLineByteForByte)
{
    struct {
        const char *what;
        std::string before, key, value, after;
    } cases[] = {
        { "a 0x1A byte", "# mine\r\nserver = a\r\n\x1A\r\nport = 7\r\nname = Bob\r\n", "server", "b",
          "# mine\r\nserver = b\r\n\x1A\r\nport = 7\r\nname = Bob\r\n" },
        { "a 0x1A byte before the key", "x\x1Ay\r\nport = 7\r\n", "port", "8", "x\x1Ay\r\nport = 8\r\n" },
        { "LF line ends", "a = 1\nport = 5\nnot a setting\n", "port", "6", "a = 1\nport = 6\nnot a setting\n" },
        { "a UTF-8 byte-order mark", "\xEF\xBB\xBFserver = a\r\nport = 1\r\n", "server", "b",
          "\xEF\xBB\xBFserver = b\r\nport = 1\r\n" },
    };
    for (auto &c : cases) {
        fx::write_file(base + "config.ini", c.before);
        EXPECT_TRUE(config_set(c.key.c_str(), c.value.c_str())) << c.what;
        EXPECT_EQ(fx::read_file(base + "config.ini"), c.after) << c.what;
    }

    // 4 KB of bytes of every value (a fixed sequence): nothing of them is lost.
    std::string noise(4096, 0);
    uint32_t x = 12345;
    for (char &b : noise) {
        x = x * 1103515245u + 12345u;
        b = (char)(x >> 16);
    }
    ASSERT_EQ(noise.find("server"), std::string::npos);
    ASSERT_NE(noise.find('\x1A'), std::string::npos);
    fx::write_file(base + "config.ini", noise);
    EXPECT_TRUE(config_set("server", "x"));
    std::string end = noise.back() == '\n' ? "" : "\r\n";
    EXPECT_EQ(fx::read_file(base + "config.ini"), noise + end + "server = x\r\n");
}

// A UTF-16 file is written back as UTF-8 with the key set and every line kept.
TEST_F(layer, ConfigSetOnAUtf16FileWritesItAsUtf8)
{
    using namespace std::string_literals;
    fx::write_file(base + "config.ini", "\xFF\xFE#\0 \0\xF6\0\r\0\n\0p\0o\0r\0t\0=\0\x31\0\r\0\n\0"s);
    EXPECT_TRUE(config_set("port", "2"));
    EXPECT_EQ(fx::read_file(base + "config.ini"), "# \xC3\xB6\r\nport = 2\r\n");
    EXPECT_TRUE(logged_line("[core] config: config.ini was UTF-16 LE; written back as UTF-8, every line kept"));
}

// A config.ini that cannot be replaced: the write fails, the file stays as it
// was and no config.ini.new is left behind.
TEST_F(layer, FailedConfigSetLeavesNothingBehind)
{
    std::string path = base + "config.ini";
    fx::write_file(path, "autoconnect = 1\r\n");
    // Held open by another program that lets others only read it.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(config_set("autoconnect", "0"));
    CloseHandle(h);
    EXPECT_EQ(last_line(), "[core] ui: config autoconnect = 0 (write FAILED)");
    EXPECT_EQ(fx::read_file(path), "autoconnect = 1\r\n");
    EXPECT_FALSE(fx::exists(base + "config.ini.new"));
}

TEST_F(layer, StatsStepSaysEachDetourFaultOnce)
{
    hook_stats = {};
    hook_stats.shadow_fault = 1;
    hook_stats.trailer_draw_fault = 1;
    dm_frame_info info = {};
    for (int i = 0; i < 3; i++) {
        info.seconds = 1.0 + i;
        stats_step(&info);
    }
    hook_stats.trailer_shadow_fault = 1;
    info.seconds = 10.0;
    stats_step(&info);
    info.seconds = 11.0;
    stats_step(&info);
    int shadow = 0, trailer_draw = 0, trailer_shadow = 0;
    for (auto &l : fx::captured()) {
        shadow += l == "[core] shadow call faulted; shadows disabled";
        trailer_draw += l == "[core] trailer draw faulted; trailer drawing disabled";
        trailer_shadow += l == "[core] trailer shadow faulted; trailer shadow disabled";
    }
    EXPECT_EQ(shadow, 1);
    EXPECT_EQ(trailer_draw, 1);
    EXPECT_EQ(trailer_shadow, 1);
    hook_stats = {};
}

/* A host log function that throws once, at the first line that begins with
 * the armed prefix; every other line is captured. */
std::string throw_at;
void throwing_log(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
void throwing_log(const char *fmt, ...)
{
    char line[2048];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (!throw_at.empty() && strncmp(line, throw_at.c_str(), throw_at.size()) == 0) {
        throw_at.clear();
        throw std::runtime_error(line);
    }
    fx::capture_log("%s", line);
}

TEST_F(layer, ACppExceptionNeverLeavesAnExport)
{
    dm_core_shutdown();
    api.log = throwing_log;

    // In dm_core_init: one line, and the start is refused.
    fx::captured_clear();
    throw_at = "[core] init (build ";
    EXPECT_EQ(dm_core_init(&api), 0);
    EXPECT_EQ(fx::captured(), std::vector<std::string>{ "[core] dm_core_init: C++ exception; the call is abandoned" });
    ASSERT_EQ(dm_core_init(&api), 1);

    // In dm_core_shutdown: one line, and the caller's guard sees a fault of
    // the call (a structured exception, never the C++ one).
    fx::captured_clear();
    throw_at = "[core] shutdown";
    dm_seh_fault fault = {};
    EXPECT_FALSE(dm_guarded([] { dm_core_shutdown(); }, &fault));
    EXPECT_EQ(fault.code, DM_FAULT_CXX_EXCEPTION);
    EXPECT_EQ(last_line(), "[core] dm_core_shutdown: C++ exception; the call is abandoned");
    EXPECT_EQ(fx::captured().size(), 1u);
    throw_at.clear();
}

} // namespace

// The look entry of a game accessory, written by the core's code linked into
// this simulated game: each kind told by its virtual table, the cargo's name
// from the game's token-to-text call, and what the game may get wrong
// (a missing cargo definition, unreadable memory, a faulting call).
#include <windows.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string>
#include "base/core.h"
#include "vehicles/look_list.h"
#include "sim/sim_vehicles.h"

namespace {

using sim::accessory_kind;

uint64_t u(const void *address) { return (uint64_t)(uintptr_t)address; }

sim::cargo_fields some_cargo()
{
    sim::cargo_fields f = {};
    f.seed = 0xfeed0000beefull;
    f.load = 12;
    f.lash = 0;
    f.gear = 7;
    f.hook[0] = 0.25f;
    f.hook[1] = 1.0f;
    f.hook[2] = -3.5f;
    f.units = 1.0f;
    f.models = 2;
    f.dims[0] = 2.5f;
    f.dims[1] = 0.75f;
    f.dims[2] = 4.0f;
    return f;
}
const char *const some_cargo_text = ";s=feed0000beef;m=12,0,7;h=0.25,1,-3.5;u=1;n=2;d=2.5,0.75,4";

class look_format : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::game_reset();
        game_base = (uint64_t)(uintptr_t)GetModuleHandleA(nullptr); // as the core's init sets it
        sim::token_to_text_install();
    }
    void TearDown() override { sim::game_reset(); }

    std::string entry(const void *accessory, size_t size = LOOK_ENTRY_SIZE, int *result = nullptr)
    {
        char buf[1024];
        memset(buf, 'X', sizeof buf);
        int r = look_format_accessory(u(accessory), buf, size);
        if (result)
            *result = r;
        EXPECT_LT(strnlen(buf, sizeof buf), size) << "not NUL-terminated within the size";
        return buf;
    }
};

// Each kind by its virtual table, with its fields from +0x40.
TEST_F(look_format, EachKind)
{
    uint8_t *chassis = sim::accessory_new(accessory_kind::generic, "/def/acc/chassis.sii");
    uint8_t *wheel = sim::accessory_new(accessory_kind::wheel, "/def/acc/wheel_rear.sii");
    sim::put<uint16_t>(wheel, sim::acc::wheel_offset, 65534);
    uint8_t *paint = sim::accessory_new(accessory_kind::paint, "/def/acc/paint.sii");
    const float colours[LOOK_PAINT_COUNT] = { 0.5f, 1.0f, 0.0f, 2.0f, -1.0f, 0.25f, 0.75f, 0.2f, 0.8f,
                                              0.1f, 0.9f, 0.4f, 0.6f, 0.3f, 0.7f, 0.01f, 0.99f, 1e-9f };
    for (int i = 0; i < LOOK_PAINT_COUNT; i++)
        sim::put<float>(paint, sim::acc::paint + 4 * i, colours[i]);
    uint8_t *cargo = sim::accessory_new(accessory_kind::cargo, "/def/acc/cargo.sii");
    uint8_t *logs = sim::cargo_def_new("cargo.logs");
    sim::accessory_set_cargo(cargo, logs, some_cargo());
    // A wheel's u16 in an object of another class is not a wheel offset.
    uint8_t *foreign = sim::object_new(sim::acc::wheel_size, sim::vtable_new(8));
    sim::put<uint64_t>(foreign, sim::acc::path_chars, sim::get<uint64_t>(wheel, sim::acc::path_chars));
    sim::put<uint16_t>(foreign, sim::acc::wheel_offset, 3);

    struct { const char *what; const uint8_t *accessory; std::string text; } cases[] = {
        { "generic", chassis, "/def/acc/chassis.sii" },
        { "wheel", wheel, "/def/acc/wheel_rear.sii;o=65534" },
        { "paint", paint, "/def/acc/paint.sii;p=80ff00ff0040c033cc1ae666994db303fd01" },
        { "cargo", cargo, std::string("/def/acc/cargo.sii;k=cargo.logs") + some_cargo_text },
        { "foreign vtable", foreign, "/def/acc/wheel_rear.sii" },
    };
    for (auto &c : cases)
        EXPECT_EQ(entry(c.accessory), c.text) << c.what;

    // The name came from the call with the definition's name id and the definition.
    auto asked = sim::calls_named("token_to_text");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].args[0], 0u);
    EXPECT_EQ(asked[0].args[1], sim::get<uint32_t>(logs, sim::acc::cargo_def_name_id));
    EXPECT_EQ(asked[0].args[2], u(logs));
}

// Cargo entries that end after the path: no definition, no name, a name
// with ";", a name longer than the builder, a tail that does not fit, and a
// token-to-text call that faults.
TEST_F(look_format, CargoThatEndsAfterThePath)
{
    const char *path = "/def/acc/cargo.sii";
    struct { const char *what; const uint8_t *definition; size_t path_len; } cases[] = {
        { "no definition", nullptr, 0 },
        { "nameless definition", sim::cargo_def_new(nullptr), 0 },
        { "empty name", sim::cargo_def_new(""), 0 },
        { "name with ;", sim::cargo_def_new("cargo.a;b"), 0 },
        { "name longer than an entry", sim::cargo_def_new(std::string(300, 'n').c_str()), 0 },
        { "tail does not fit", sim::cargo_def_new(std::string(95, 'n').c_str()), 80 },
    };
    for (auto &c : cases) {
        std::string long_path = c.path_len ? std::string(c.path_len, 'p') : path;
        uint8_t *cargo = sim::accessory_new(accessory_kind::cargo, long_path.c_str());
        sim::accessory_set_cargo(cargo, c.definition, some_cargo());
        int r = 0;
        EXPECT_EQ(entry(cargo, LOOK_ENTRY_SIZE, &r), long_path) << c.what;
        EXPECT_EQ(r, (int)long_path.size()) << c.what;
    }
    EXPECT_EQ(sim::calls_named("token_to_text").size(), 5u) << "not asked without a definition";

    // A name cut by the text builder is never written, whatever the room.
    uint8_t *long_name = sim::accessory_new(accessory_kind::cargo, "p");
    sim::accessory_set_cargo(long_name, cases[4].definition, some_cargo());
    EXPECT_EQ(entry(long_name, 1024), "p");

    // The same 95-character name fits behind a shorter path.
    uint8_t *cargo = sim::accessory_new(accessory_kind::cargo, "p");
    sim::accessory_set_cargo(cargo, cases[5].definition, some_cargo());
    EXPECT_EQ(entry(cargo), "p;k=" + std::string(95, 'n') + some_cargo_text);

    sim::token_to_text_faulting();
    EXPECT_EQ(entry(cargo), "p");
    sim::token_to_text_install();
    EXPECT_EQ(entry(cargo), "p;k=" + std::string(95, 'n') + some_cargo_text);
}

// Paint only when the text so far + 40 < the buffer; a buffer that cuts the
// path gets nothing after it.
TEST_F(look_format, BufferLimits)
{
    uint8_t *fits = sim::accessory_new(accessory_kind::paint, std::string(183, 'a').c_str());
    uint8_t *over = sim::accessory_new(accessory_kind::paint, std::string(184, 'a').c_str());
    EXPECT_EQ(entry(fits), std::string(183, 'a') + ";p=" + std::string(36, '0'));
    EXPECT_EQ(entry(over), std::string(184, 'a'));

    uint8_t *wheel = sim::accessory_new(accessory_kind::wheel, "/def/acc/wheel_front.sii");
    int r = 0;
    EXPECT_EQ(entry(wheel, 10, &r), "/def/acc/");
    EXPECT_EQ(r, 24);
    // A path of several pages: read up to what the buffer holds.
    uint8_t *long_path = sim::accessory_new(accessory_kind::wheel, std::string(9000, 'b').c_str());
    EXPECT_EQ(entry(long_path, LOOK_ENTRY_SIZE, &r), std::string(223, 'b'));
    EXPECT_GE(r, LOOK_ENTRY_SIZE);
}

// Unreadable game memory never faults the writer: an unreadable accessory is
// an empty text, a path ends where its memory does, unreadable kind fields
// leave the path alone.
TEST_F(look_format, UnreadableMemory)
{
    EXPECT_EQ(entry(nullptr), "");

    uint8_t *hidden = sim::accessory_new(accessory_kind::generic, "/def/acc/hidden.sii");
    sim::game_protect((const void *)(uintptr_t)sim::get<uint64_t>(hidden, sim::acc::path_chars), 1, PAGE_NOACCESS);
    EXPECT_EQ(entry(hidden), "");

    // A guard page is never touched: it keeps its guard.
    uint8_t *guarded = sim::accessory_new(accessory_kind::generic, "/def/acc/guarded.sii");
    const void *guarded_chars = (const void *)(uintptr_t)sim::get<uint64_t>(guarded, sim::acc::path_chars);
    sim::game_protect(guarded_chars, 1, PAGE_READWRITE | PAGE_GUARD);
    EXPECT_EQ(entry(guarded), "");
    MEMORY_BASIC_INFORMATION mbi;
    ASSERT_EQ(VirtualQuery(guarded_chars, &mbi, sizeof mbi), sizeof mbi);
    EXPECT_TRUE(mbi.Protect & PAGE_GUARD);

    uint8_t *no_path = sim::accessory_new(accessory_kind::wheel, nullptr);
    sim::put<uint16_t>(no_path, sim::acc::wheel_offset, 4);
    EXPECT_EQ(entry(no_path), ";o=4");

    // Objects with a kind's table but too short for its fields.
    for (accessory_kind kind : { accessory_kind::wheel, accessory_kind::paint, accessory_kind::cargo }) {
        uint8_t *chars = sim::object_new(8);
        memcpy(chars, "/a/b.s", 7);
        uint8_t *short_one = sim::object_new(sim::acc::generic_size, sim::accessory_vtable(kind));
        sim::put<uint64_t>(short_one, sim::acc::path_chars, u(chars));
        EXPECT_EQ(entry(short_one), "/a/b.s") << (int)kind;
    }

    // A path across a page boundary is read on; an unreadable page ends it.
    uint8_t *pages = sim::object_new(0x2000);
    uint8_t *chars = pages + 0x1000 - 100;
    memset(chars, 'c', 300);
    chars[300] = 0;
    uint8_t *across = sim::accessory_new(accessory_kind::generic, nullptr);
    sim::put<uint64_t>(across, sim::acc::path_chars, u(chars));
    EXPECT_EQ(entry(across), std::string(223, 'c'));
    sim::game_protect(pages + 0x1000, 1, PAGE_NOACCESS);
    EXPECT_EQ(entry(across), std::string(100, 'c'));

    // A cargo definition that cannot be read: the call is not made.
    uint8_t *gone = sim::cargo_def_new("cargo.gone");
    sim::game_protect(gone, 1, PAGE_NOACCESS);
    uint8_t *cargo = sim::accessory_new(accessory_kind::cargo, "c");
    sim::accessory_set_cargo(cargo, gone, some_cargo());
    EXPECT_EQ(entry(cargo), "c");
    EXPECT_TRUE(sim::calls_named("token_to_text").empty());
}

} // namespace

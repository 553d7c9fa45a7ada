// Vehicle definitions cloned and built from look lists by the core's code
// linked into this simulated game: the class checks and refusals of a
// clone, the accessories a built truck or trailer gets (reused from the
// local vehicle, created by the factory, numbered wheels, paint, cargo), and
// on every path the game's reference words: nothing the core made is left
// behind or released twice.
#include <windows.h>
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>
#include "base/core.h"
#include "core_linked.h"
#include "base/game_mem.h"
#include "log_capture.h"
#include "vehicles/look_list.h"
#include "vehicles/vehicle_defs.h"
#include "sim/sim_vehicles.h"

namespace {

using sim::accessory_kind;
using sim::def_kind;

uint64_t u(const void *address) { return (uint64_t)(uintptr_t)address; }
uint8_t *p(uint64_t address) { return (uint8_t *)(uintptr_t)address; }

using fx::fmt;

/* A look list: the entries back to back, each with its NUL. */
std::string list_of(const std::vector<std::string> &entries)
{
    std::string out;
    for (auto &e : entries)
        out += e + std::string(1, '\0');
    return out;
}

const char *const chassis = "/def/truck/chassis.sii";
const char *const cabin = "/def/truck/cabin.sii";
const char *const paint = "/def/truck/paint.sii";
const char *const wheel_f = "/def/truck/wheel_f.sii";
const char *const wheel_r = "/def/truck/wheel_r.sii";
const char *const body = "/def/trailer/body.sii";
const char *const t_wheel = "/def/trailer/wheel.sii";
const char *const holder = "/def/trailer/holder.sii";
const char *const odd = "/def/odd.sii";

class defs : public ::testing::Test {
protected:
    dm_host_api api {};
    sim::player pl {};
    uint8_t *local = nullptr;          /* the local truck's definition */
    std::vector<uint8_t *> local_acc;  /* its accessories */
    uint8_t *own_trailer = nullptr;    /* the player's trailer's definition */
    std::vector<uint8_t *> entries;    /* game_ctrl's trailer_def entries */
    uint8_t *logs = nullptr;           /* a cargo definition */
    uint8_t *other_data_class = nullptr;

    void SetUp() override
    {
        fx::core_linked_setup(api);
        look_building_off = 0;
        local_acc.clear();

        auto cls = [](uint32_t offset) { return sim::game_at(offset); };
        sim::data_new(chassis, cls(sim::veh_off::part_data_class));
        sim::data_new(cabin, cls(sim::veh_off::part_data_class));
        sim::data_new(paint, cls(sim::veh_off::paint_data_class));
        sim::data_new(wheel_f, cls(sim::veh_off::wheel_data_class));
        sim::data_new(wheel_r, cls(sim::veh_off::wheel_data_class_2));
        sim::data_new(body, cls(sim::veh_off::part_data_class));
        sim::data_new(t_wheel, cls(sim::veh_off::wheel_data_class));
        sim::data_new(holder, cls(sim::veh_off::cargo_holder_data_class));
        other_data_class = sim::class_new("other_data", nullptr);
        sim::data_new(odd, other_data_class);

        pl = sim::game_player_create();
        local = sim::def_new(def_kind::vehicle, "AB 123");
        for (auto [kind, path] : { std::pair{ accessory_kind::part, chassis }, { accessory_kind::part, cabin },
                                   { accessory_kind::paint, paint }, { accessory_kind::wheel, wheel_r },
                                   { accessory_kind::wheel, wheel_r } }) {
            uint8_t *a = sim::accessory_new(kind, path);
            sim::def_push(local, a);
            local_acc.push_back(a);
        }
        sim::player_truck_def(pl, local);
        own_trailer = sim::def_new(def_kind::trailer, "TR 9");
        for (auto [kind, path] : { std::pair{ accessory_kind::part, body }, { accessory_kind::wheel, t_wheel } })
            sim::def_push(own_trailer, sim::accessory_new(kind, path));
        sim::player_trailer_new(pl, own_trailer);
        entries = sim::ctrl_trailer_defs(pl, 2);
        logs = sim::cargo_def_new("cargo.logs");
        sim::calls_clear();
    }
    void TearDown() override
    {
        core_api = nullptr;
        sim::game_reset();
    }

    bool logged(const std::string &line) { return fx::captured_has(line); }
    bool logged_prefix(const std::string &prefix)
    {
        for (auto &l : fx::captured())
            if (l.compare(0, prefix.size(), prefix) == 0)
                return true;
        return false;
    }
    std::string log_text()
    {
        std::string out;
        for (auto &l : fx::captured())
            out += l + "\n";
        return out;
    }

    uint64_t build(const std::vector<std::string> &list, int kind)
    {
        std::string text = list_of(list);
        return look_build_def(text.data(), (int32_t)list.size(), kind);
    }

    /* The reference words of every unit that exists now. */
    std::vector<std::pair<uint8_t *, uint32_t>> words_now()
    {
        std::vector<std::pair<uint8_t *, uint32_t>> out;
        for (uint8_t *unit : sim::units_since(0))
            out.push_back({ unit, sim::refword(unit) });
        return out;
    }

    /* After a call that made units since mark: exactly `kept` of them are
     * still alive, the others were destroyed once; every older unit has its
     * count back; no unit was released twice. */
    void expect_clean(size_t mark, const std::vector<std::pair<uint8_t *, uint32_t>> &before, int kept,
                      const std::string &what)
    {
        int alive = 0;
        for (uint8_t *unit : sim::units_since(mark)) {
            EXPECT_LE(sim::destroyed(unit), 1) << what;
            alive += sim::destroyed(unit) == 0;
        }
        EXPECT_EQ(alive, kept) << what << "\n" << log_text();
        // Counts only: the flag the core ORs in stays once set.
        for (auto &[unit, word] : before)
            EXPECT_EQ(sim::refword(unit) & GAME_REF_COUNT_MASK, word & GAME_REF_COUNT_MASK)
                << what << ": an older unit's count changed";
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{}) << what;
    }
};

/* ---- cloning ---- */

// Every refusal and failure of a clone: its line, no definition, and no
// reference taken or dropped on anything that existed before.
TEST_F(defs, CloneRefusesAndFails)
{
    uint8_t *vt = sim::game_at(sim::veh_off::vehicle_def_vtable);
    void *want_vt = vt, *want_clone = sim::game_at(sim::veh_off::vehicle_def_clone);
    void *other_clone = sim::game_at(sim::veh_off::trailer_def_clone);
    void **foreign_table = sim::accessory_vtable(accessory_kind::part);
    auto behave = [](sim::def_clone_result r) { sim::def_clone_behaviour(r); };
    using line_fn = std::function<std::string(uint64_t)>;
    auto refused = [&](void *table, void *clone) {
        return line_fn([=](uint64_t src) {
            return fmt("[core] clone: src=%p vtable=%p (expect %p) clone fn=%p (expect %p): not the expected "
                       "`vehicle` class; refusing",
                       (void *)src, table, want_vt, clone, want_clone);
        });
    };
    auto bad_source = line_fn([](uint64_t src) { return fmt("[core] clone: bad source def %p", (void *)src); });
    auto unexpected = line_fn([](uint64_t) { return std::string("[core] clone: unexpected result "); });
    struct row {
        const char *what;
        std::function<uint64_t()> source; /* sets the case up */
        line_fn line;                     /* the line, or its beginning */
        int kept;                         /* units the game made and keeps */
    } rows[] = {
        { "null source", [] { return 0ull; }, bad_source, 0 },
        { "trailer too short for a vehicle", [&] { return u(own_trailer); }, bad_source, 0 },
        { "unreadable source",
          [&] {
              uint8_t *d = sim::def_new(def_kind::vehicle);
              sim::game_protect(d + 0x210, 1, PAGE_NOACCESS);
              return u(d);
          },
          bad_source, 0 },
        { "another table",
          [&] {
              uint8_t *d = sim::def_new(def_kind::vehicle);
              sim::put<uint64_t>(d, 0, u(foreign_table));
              return u(d);
          },
          refused(foreign_table, foreign_table[2]), 0 },
        { "another clone function",
          [&] {
              sim::put<uint64_t>(vt, 0x10, u(other_clone));
              return u(local);
          },
          refused(want_vt, other_clone), 0 },
        { "another class",
          [&] {
              sim::unit_set_class(local, sim::game_at(sim::veh_off::trailer_def_class));
              return u(local);
          },
          line_fn([](uint64_t) { return "[core] clone: descriptor is not `vehicle`; refusing"; }), 0 },
        { "faulting clone",
          [&] {
              sim::game_function_faulting(sim::veh_off::vehicle_def_clone);
              return u(local);
          },
          line_fn([](uint64_t) { return "[core] clone: game clone FAULTED (possible leaked partial clone)"; }), 0 },
        { "null clone",
          [&] {
              behave(sim::def_clone_result::null);
              return u(local);
          },
          line_fn([](uint64_t) { return "[core] clone: game clone returned null (_clone_attributes_to failed)"; }), 0 },
        { "the source back",
          [&] {
              behave(sim::def_clone_result::source);
              return u(local);
          },
          line_fn([](uint64_t src) {
              return fmt("[core] clone: unexpected result %p (class vehicle_def); not using it (leaked)", (void *)src);
          }),
          0 },
        // The game's own results are left to it: a new definition and its
        // five accessory copies stay alive.
        { "a result with another table",
          [&] {
              behave(sim::def_clone_result::foreign_vtable);
              return u(local);
          },
          unexpected, 6 },
        { "a result of another class",
          [&] {
              behave(sim::def_clone_result::foreign_class);
              return u(local);
          },
          unexpected, 6 },
        { "a result too short for its class",
          [&] {
              behave(sim::def_clone_result::short_object);
              return u(local);
          },
          unexpected, 1 },
    };
    for (auto &r : rows) {
        SetUp();
        uint64_t source = r.source();
        auto before = words_now();
        size_t mark = sim::units_mark();
        EXPECT_EQ(def_clone(source, &def_class_vehicle), 0u) << r.what;
        EXPECT_TRUE(logged_prefix(r.line(source))) << r.what << ": wanted " << r.line(source) << "\n" << log_text();
        EXPECT_TRUE(sim::calls_named("release").empty()) << r.what << ": nothing is released";
        expect_clean(mark, before, r.kept, r.what);
    }
    // The fault is the game's, recorded where the clone function is.
    SetUp();
    sim::game_function_faulting(sim::veh_off::vehicle_def_clone);
    uint8_t fault = 0;
    EXPECT_EQ(def_clone_guarded(u(local), &fault), 0u);
    EXPECT_EQ(fault, 1);
    EXPECT_EQ(last_fault_code, 0xC0000005u);
    EXPECT_EQ(game_va(last_fault_address), 0x140000000ull + sim::veh_off::vehicle_def_clone + 10);
}

// A clone: one reference of ours, the accessory report, the plate written
// into exactly 21 reserved bytes; released, it takes its copies with it.
TEST_F(defs, CloneReportsAndSetsThePlate)
{
    uint32_t local_word = sim::refword(local);
    auto before = words_now();
    size_t mark = sim::units_mark();
    uint64_t def = def_clone(u(local), &def_class_vehicle);
    ASSERT_NE(def, 0u) << log_text();
    uint8_t *d = p(def);
    EXPECT_EQ(sim::refword(d), 0x20000001u);
    EXPECT_EQ(sim::def_plate(d), "DROVEMARK|california");
    EXPECT_EQ(sim::get<uint64_t>(d, sim::vdef::plate_length), 20u);
    auto reserves = sim::calls_named("string_reserve");
    ASSERT_EQ(reserves.size(), 1u);
    EXPECT_EQ(reserves[0].args[0], def + sim::vdef::plate);
    EXPECT_EQ(reserves[0].args[1], 21u);

    auto copies = sim::def_accessories(d);
    ASSERT_EQ(copies.size(), 5u);
    EXPECT_TRUE(logged(fmt("[core] clone: src=%p class=vehicle_def vtable=%p clone fn=%p refword=%08x accessories=5",
                           local, sim::game_at(sim::veh_off::vehicle_def_vtable),
                           sim::game_at(sim::veh_off::vehicle_def_clone), local_word)))
        << log_text();
    EXPECT_TRUE(logged(fmt("[core] clone: new def=%p refword=00000000 (expect count 0)", d)));
    EXPECT_TRUE(logged(fmt("[core]   [2] %p (src %p) %-28s refword=00000001 data_path='/def/truck/paint.sii'",
                           copies[2], local_acc[2], "accessory_paint")))
        << log_text();
    EXPECT_TRUE(logged(fmt("[core] clone: def=%p refword=20000001 plate='DROVEMARK|california' accessories=5", d)));
    EXPECT_FALSE(logged_prefix("[core] clone: WARNING"));

    game_release(def);
    expect_clean(mark, before, 0, "released clone");
    EXPECT_EQ(sim::refword(local), local_word);
}

// What the report says about a game clone that shares accessories, has
// fewer of them, or a null one; a trailer clone keeps its trailer_def link.
TEST_F(defs, CloneReportOfOddResults)
{
    sim::def_clone_behaviour(sim::def_clone_result::shared);
    uint64_t shared = def_clone(u(local), &def_class_vehicle);
    ASSERT_NE(shared, 0u);
    EXPECT_TRUE(logged(fmt("[core]   [0] %p (src %p) %-28s refword=00000002 data_path='/def/truck/chassis.sii'  "
                           "SHARED?!",
                           local_acc[0], local_acc[0], "accessory_part")))
        << log_text();
    game_release(shared);
    EXPECT_EQ(sim::refword(local_acc[0]), 1u);

    fx::captured_clear();
    sim::def_clone_behaviour(sim::def_clone_result::one_less);
    uint64_t fewer = def_clone(u(local), &def_class_vehicle);
    ASSERT_NE(fewer, 0u);
    EXPECT_TRUE(logged("[core] clone: WARNING accessory count 4 differs from source 5"));
    // A null element of the new array is said as such.
    fx::captured_clear();
    sim::def_clone_behaviour(sim::def_clone_result::copy);
    uint8_t *with_null = sim::def_new(def_kind::vehicle);
    sim::def_push(with_null, sim::accessory_new(accessory_kind::part, chassis));
    sim::put<uint64_t>(p(sim::get<uint64_t>(with_null, sim::vdef::accessory_data)), 0, 0);
    uint64_t c = def_clone(u(with_null), &def_class_vehicle);
    ASSERT_NE(c, 0u);
    EXPECT_TRUE(logged("[core]   [0] null accessory")) << log_text();

    // Trailer: the link to the trailer_def entry is the game's, shared.
    sim::put<uint64_t>(own_trailer, sim::vdef::trailer_def, u(entries[1]));
    sim::put<uint32_t>(entries[1], 8, sim::refword(entries[1]) + 1);
    uint64_t t = def_clone(u(own_trailer), &def_class_trailer);
    ASSERT_NE(t, 0u) << log_text();
    EXPECT_EQ(sim::get<uint64_t>(p(t), sim::vdef::trailer_def), u(entries[1]));
    EXPECT_EQ(sim::def_plate(p(t)), "DROVEMARK|california");
}

/* ---- building ---- */

// A truck from a list: reused accessories are clones of the local ones (two
// entries of one path take two different ones, a third makes a new one),
// wheels numbered per model unless ";o=" says, paint copied; the built
// definition writes the same list back; released, nothing is left.
TEST_F(defs, BuildsATruck)
{
    std::string paint_entry = std::string(paint) + ";p=" + "ff8000" + std::string(30, '0');
    std::vector<std::string> list = {
        chassis, cabin, paint_entry, wheel_r, wheel_r, wheel_r, wheel_f, std::string(wheel_f) + ";o=9", wheel_f,
    };
    auto before = words_now();
    size_t mark = sim::units_mark();
    uint64_t def = build(list, LOOK_BUILD_TRUCK);
    ASSERT_NE(def, 0u) << log_text();
    uint8_t *d = p(def);
    EXPECT_EQ(sim::refword(d), 0x20000001u);
    EXPECT_EQ(sim::def_plate(d), "DROVEMARK|california");
    EXPECT_TRUE(logged(fmt("[core] look: built truck def %p with 9 accessories (6 wheels, 5 cloned from ours, 4 new)",
                           d)))
        << log_text();

    auto got = sim::def_accessories(d);
    ASSERT_EQ(got.size(), list.size());
    const char *want_text[] = {
        chassis, cabin, "/def/truck/paint.sii;p=ff8000000000000000000000000000000000",
        "/def/truck/wheel_r.sii;o=0", "/def/truck/wheel_r.sii;o=2", "/def/truck/wheel_r.sii;o=4",
        "/def/truck/wheel_f.sii;o=0", "/def/truck/wheel_f.sii;o=9", "/def/truck/wheel_f.sii;o=2",
    };
    for (size_t i = 0; i < got.size(); i++) {
        char entry[LOOK_ENTRY_SIZE];
        look_format_accessory(u(got[i]), entry, sizeof entry);
        EXPECT_STREQ(entry, want_text[i]) << i;
        EXPECT_EQ(sim::refword(got[i]), 0x20000001u) << i;
        for (uint8_t *l : local_acc)
            EXPECT_NE(got[i], l) << i << ": a local accessory itself";
    }
    // Reused: clones of local [3] and [4], then a new one.
    auto clones = sim::calls_named("accessory_clone");
    ASSERT_EQ(clones.size(), 5u);
    EXPECT_EQ(clones[3].args[0], u(local_acc[3]));
    EXPECT_EQ(clones[4].args[0], u(local_acc[4]));
    EXPECT_TRUE(logged(fmt("[core] look:   [4] %-28s (ours) refword 20000001 list 4->5 %s", "accessory_wheel",
                           wheel_r)))
        << log_text();
    EXPECT_TRUE(logged(fmt("[core] look:   [5] %-28s (new)  refword 20000001 list 5->6 %s", "accessory_wheel",
                           wheel_r)));
    // Two wheel models: keys from the game's call with each data's id.
    auto keys = sim::calls_named("data_key");
    EXPECT_EQ(keys.size(), 5u) << "one per wheel without ;o=";

    game_release(def);
    expect_clean(mark, before, 0, "released truck");
}

// A trailer: a new definition from the factory linked to game_ctrl's first
// trailer_def entry, the player's trailer's accessories reused, cargo found
// by name (and not found), no wheel needed; the same list as a truck is refused.
TEST_F(defs, BuildsATrailer)
{
    std::string cargo_entry = std::string(holder) + ";k=cargo.logs;s=abc;m=1,2,3;h=0.5,1,2;u=2;n=3;d=4,5,6";
    std::vector<std::string> list = { body, cargo_entry, std::string(holder) + ";k=cargo.gone", holder };
    uint32_t logs_word = sim::refword(logs);
    auto before = words_now();
    size_t mark = sim::units_mark();
    uint64_t def = build(list, LOOK_BUILD_TRAILER);
    ASSERT_NE(def, 0u) << log_text();
    uint8_t *d = p(def);
    EXPECT_EQ(sim::refword(d), 0x20000001u);
    EXPECT_EQ(sim::def_plate(d), "DROVEMARK|california");
    EXPECT_EQ(sim::get<uint64_t>(d, sim::vdef::trailer_def), u(entries[0]));
    EXPECT_EQ(sim::refword(entries[0]), 0x20000002u) << "the game's array's and ours";
    EXPECT_TRUE(logged(fmt("[core] look: built trailer def %p with 4 accessories (0 wheels, 1 cloned from ours, 3 new)",
                           d)))
        << log_text();
    EXPECT_TRUE(logged(fmt("[core] look: cargo 'cargo.gone' not found here (%p); the trailer comes without its load",
                           nullptr)));
    auto got = sim::def_accessories(d);
    ASSERT_EQ(got.size(), 4u);
    char entry[LOOK_ENTRY_SIZE];
    const char *want[] = { body, "/def/trailer/holder.sii;k=cargo.logs;s=abc;m=1,2,3;h=0.5,1,2;u=2;n=3;d=4,5,6",
                           holder, holder };
    for (int i = 0; i < 4; i++) {
        look_format_accessory(u(got[i]), entry, sizeof entry);
        EXPECT_STREQ(entry, want[i]) << i;
    }
    ASSERT_EQ(sim::get<uint64_t>(got[1], 0), u(sim::accessory_vtable(accessory_kind::cargo)));
    EXPECT_EQ(sim::get<uint64_t>(got[1], sim::acc::cargo_def), u(logs));
    EXPECT_EQ(sim::refword(logs), (logs_word | 0x20000000u) + 1);
    EXPECT_EQ(sim::get<uint64_t>(got[2], 0), u(sim::accessory_vtable(accessory_kind::generic)));

    game_release(def);
    expect_clean(mark, before, 0, "released trailer");
    // A lookup that answers something that is not a cargo.
    fx::captured_clear();
    sim::cargo_lookup_answer(entries[1]);
    uint64_t t = build({ std::string(holder) + ";k=cargo.logs" }, LOOK_BUILD_TRAILER);
    EXPECT_NE(t, 0u);
    EXPECT_TRUE(logged(fmt("[core] look: cargo 'cargo.logs' not found here (%p); the trailer comes without its load",
                           entries[1])));
    sim::cargo_lookup_answer(nullptr);

    // Without a trailer of the player's own, or with one that cannot be
    // read, nothing is reused.
    for (int unreadable = 0; unreadable < 2; unreadable++) {
        fx::captured_clear();
        if (unreadable)
            sim::game_protect(own_trailer, 8, PAGE_NOACCESS);
        else
            sim::put<uint64_t>(pl.block, sim::vdef::player_trailer, 0);
        uint64_t plain = build({ body }, LOOK_BUILD_TRAILER);
        ASSERT_NE(plain, 0u) << log_text();
        EXPECT_TRUE(logged(fmt("[core] look: built trailer def %p with 1 accessories (0 wheels, 0 cloned from ours, "
                               "1 new)",
                               p(plain))))
            << log_text();
        sim::player_trailer_new(pl, own_trailer);
    }

    // The same wheel-less list as a truck.
    before = words_now();
    mark = sim::units_mark();
    EXPECT_EQ(build({ body, holder }, LOOK_BUILD_TRUCK), 0u);
    EXPECT_TRUE(logged("[core] look: no wheel accessories in the list; not using it"));
    expect_clean(mark, before, 0, "truck without wheels");
}

// Lists refused before any game call, and the switch that turns building off.
TEST_F(defs, RefusedBeforeAnyGameCall)
{
    std::vector<std::string> many(129, chassis);
    std::string text = list_of(many);
    struct { const char *what; const char *list; int count; const char *line; } rows[] = {
        { "129 entries", text.data(), 129, "[core] look: 129 entries is too many" },
        { "no list", nullptr, 3, nullptr },
        { "no entries", text.data(), 0, nullptr },
        { "negative count", text.data(), -1, nullptr },
    };
    for (auto &r : rows) {
        fx::captured_clear();
        EXPECT_EQ(look_build_def(r.list, r.count, LOOK_BUILD_TRUCK), 0u) << r.what;
        EXPECT_TRUE(sim::calls().empty()) << r.what;
        EXPECT_EQ(fx::captured(), r.line ? std::vector<std::string>{ r.line } : std::vector<std::string>{}) << r.what;
    }
    look_building_off = 1;
    fx::captured_clear();
    EXPECT_EQ(build({ chassis, wheel_r }, LOOK_BUILD_TRUCK), 0u);
    EXPECT_EQ(fx::captured(),
              std::vector<std::string>{ "[core] look: disabled after a load fault this session; using the plain clone" });
    EXPECT_TRUE(sim::calls().empty());
    look_building_off = 0;
    // 128 entries are built.
    std::vector<std::string> most(128, wheel_f);
    uint64_t def = build(most, LOOK_BUILD_TRUCK);
    ASSERT_NE(def, 0u) << log_text();
    EXPECT_EQ(sim::def_accessories(p(def)).size(), 128u);
}

// Each data class picks its accessory class, through a class chain; the
// cargo holder without ";k=" keeps the generic accessory; anything else is
// refused.
TEST_F(defs, DataClassesPickTheAccessoryClass)
{
    uint8_t *wheel_child = sim::class_new("wheel_data_child", sim::game_at(sim::veh_off::wheel_data_class));
    // A chain of 16 classes ends at a class below paint data: too deep.
    uint8_t *deep = sim::class_new("deep_0", sim::game_at(sim::veh_off::paint_data_class));
    for (int i = 1; i < 16; i++)
        deep = sim::class_new(fmt("deep_%d", i).c_str(), deep);
    uint8_t *shallow = sim::class_new("shallow", sim::game_at(sim::veh_off::paint_data_class));
    for (int i = 1; i < 15; i++)
        shallow = sim::class_new(fmt("shallow_%d", i).c_str(), shallow);
    sim::data_new("/x/child.sii", wheel_child);
    sim::data_new("/x/deep.sii", deep);
    sim::data_new("/x/shallow.sii", shallow);
    struct { const char *path; uint32_t vtable; } rows[] = {
        { chassis, sim::veh_off::part_accessory_vtable },
        { paint, sim::veh_off::paint_vtable },
        { wheel_f, sim::veh_off::wheel_vtable },
        { wheel_r, sim::veh_off::wheel_vtable },
        { "/x/child.sii", sim::veh_off::wheel_vtable },
        { "/x/shallow.sii", sim::veh_off::paint_vtable },
        { holder, sim::veh_off::generic_accessory_vtable },
    };
    for (auto &r : rows) {
        uint64_t def = build({ r.path }, LOOK_BUILD_TRAILER);
        ASSERT_NE(def, 0u) << r.path << "\n" << log_text();
        auto got = sim::def_accessories(p(def));
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(sim::get<uint64_t>(got[0], 0), u(sim::game_at(r.vtable))) << r.path;
        game_release(def);
    }
    EXPECT_EQ(build({ "/x/deep.sii" }, LOOK_BUILD_TRAILER), 0u);
    EXPECT_TRUE(logged("[core] look: '/x/deep.sii' resolved to class deep_15; refusing")) << log_text();
}

// Every way a build fails: its line, no definition, and everything the
// core made released exactly once (or, where the game made it and the core
// never took it, left to the game).
TEST_F(defs, EveryFailureReleasesWhatItMade)
{
    std::string new_part = "/def/truck/new_part.sii";
    struct row {
        const char *what;
        std::function<void()> setup;
        std::vector<std::string> list;
        int kind;
        std::string line; /* or its beginning */
        int kept;         /* units the game keeps */
    } rows[] = {
        { "bad entry", [] {}, { wheel_r, ";o=1" }, LOOK_BUILD_TRUCK, "[core] look: bad entry 1 ';o=1'", 0 },
        { "path too long", [] {}, { std::string(224, 'a') }, LOOK_BUILD_TRUCK,
          "[core] look: bad entry 0 '" + std::string(80, 'a') + "'", 0 },
        { "doesn't resolve", [] {}, { wheel_r, "/def/missing.sii" }, LOOK_BUILD_TRUCK,
          "[core] look: '/def/missing.sii' doesn't resolve (missing def/mod, or not an accessory)", 0 },
        { "another data class", [] {}, { wheel_r, odd }, LOOK_BUILD_TRUCK,
          "[core] look: '/def/odd.sii' resolved to class other_data; refusing", 0 },
        { "rejected by the picked class", [] { sim::accessory_data_null_from(2); }, { wheel_f }, LOOK_BUILD_TRUCK,
          "[core] look: '/def/truck/wheel_f.sii' rejected by accessory_wheel", 0 },
        { "cloned accessory without data", [] { sim::accessory_data_null_from(1); }, { chassis }, LOOK_BUILD_TRUCK,
          "[core] look: cloned '/def/truck/chassis.sii' has no data", 0 },
        { "local clone null", [] { sim::accessory_clone_behaviour(sim::accessory_clone_result::null); },
          { chassis }, LOOK_BUILD_TRUCK, "[core] look: clone of local accessory ", 0 },
        { "local clone is the element", [] { sim::accessory_clone_behaviour(sim::accessory_clone_result::self); },
          { chassis }, LOOK_BUILD_TRUCK, "[core] look: clone of local accessory ", 0 },
        // The game's odd result is not ours to release.
        { "local clone of another class",
          [] { sim::accessory_clone_behaviour(sim::accessory_clone_result::other_class); }, { chassis },
          LOOK_BUILD_TRUCK, "[core] look: clone of local accessory ", 1 },
        { "push without data after it", [] { sim::accessory_data_null_from(2); }, { chassis }, LOOK_BUILD_TRUCK,
          "[core] look: push didn't take; not using this definition", 0 },
        // The factory's own reference stays with the game.
        { "push with a reference too many",
          [] {
              sim::data_new("/def/truck/new_part.sii", sim::game_at(sim::veh_off::part_data_class));
              sim::create_behaviour(sim::veh_off::part_accessory_class, sim::create_result::kept_ref);
          },
          { new_part }, LOOK_BUILD_TRUCK, "[core] look: push didn't take; not using this definition", 1 },
        { "factory gives null", [] { sim::create_behaviour(sim::veh_off::accessory_class, sim::create_result::null); },
          { wheel_f }, LOOK_BUILD_TRUCK, "[core] look: create_unit(141e1f200) returned null", 0 },
        { "factory gives another table",
          [] { sim::create_behaviour(sim::veh_off::wheel_accessory_class, sim::create_result::foreign_vtable); },
          { wheel_f }, LOOK_BUILD_TRUCK, "[core] look: accessory ", 1 },
        { "no factory", [] { sim::game_put<uint32_t>(sim::off::factory_index, 4); }, { wheel_f }, LOOK_BUILD_TRUCK,
          "[core] look: create_unit(141e1f200) returned null", 0 },
        { "cargo accessory without data", [] { sim::accessory_data_null_from(2); },
          { std::string(holder) + ";k=cargo.logs" }, LOOK_BUILD_TRAILER,
          "[core] look: cargo accessory '/def/trailer/holder.sii' has no data", 0 },
        { "cargo accessory not made",
          [] { sim::create_behaviour(sim::veh_off::cargo_accessory_class, sim::create_result::null); },
          { std::string(holder) + ";k=cargo.logs", ";bad" }, LOOK_BUILD_TRAILER, "[core] look: bad entry 1 ';bad'", 0 },
        { "list that will not empty", [] { sim::erase_stuck(true); }, { wheel_r }, LOOK_BUILD_TRUCK,
          "[core] look: couldn't empty the cloned list", 0 },
        { "clone without an accessory list", [] { sim::def_clone_behaviour(sim::def_clone_result::no_array); },
          { wheel_r }, LOOK_BUILD_TRUCK, "[core] look: clone has no accessory list (", 0 },
        { "clone refused", [] { sim::def_clone_behaviour(sim::def_clone_result::null); }, { wheel_r },
          LOOK_BUILD_TRUCK, "[core] clone: game clone returned null", 0 },
        { "no local truck definition", [this] { sim::player_truck_def(pl, nullptr); }, { wheel_r },
          LOOK_BUILD_TRUCK, "[core] look: no local `vehicle` definition to start from", 0 },
        { "local definition of a trailer", [this] { sim::player_truck_def(pl, own_trailer); }, { wheel_r },
          LOOK_BUILD_TRUCK, "[core] look: no local `vehicle` definition to start from", 0 },
        { "local definition unreadable", [this] { sim::game_protect(local, 8, PAGE_NOACCESS); }, { wheel_r },
          LOOK_BUILD_TRUCK, "[core] look: no local `vehicle` definition to start from", 0 },
        { "no trailer_def entries", [this] { sim::put<uint64_t>(pl.ctrl, 0x440, 0); }, { body },
          LOOK_BUILD_TRAILER, "[core] look: game_ctrl has no trailer_def entries; can't build a trailer", 0 },
        { "null first trailer_def entry",
          [this] { sim::put<uint64_t>(p(sim::get<uint64_t>(pl.ctrl, 0x438)), 0, 0); }, { body },
          LOOK_BUILD_TRAILER, "[core] look: game_ctrl has no trailer_def entries; can't build a trailer", 0 },
        { "factory gives no trailer",
          [] { sim::create_behaviour(sim::veh_off::trailer_def_class, sim::create_result::null); }, { body },
          LOOK_BUILD_TRAILER, fmt("[core] look: create_unit(trailer) gave %p; not using it", nullptr), 0 },
        { "factory gives another trailer",
          [] { sim::create_behaviour(sim::veh_off::trailer_def_class, sim::create_result::foreign_vtable); },
          { body }, LOOK_BUILD_TRAILER, "[core] look: create_unit(trailer) gave ", 1 },
    };
    for (auto &r : rows) {
        SetUp();
        r.setup();
        auto before = words_now();
        size_t mark = sim::units_mark();
        EXPECT_EQ(build(r.list, r.kind), 0u) << r.what;
        EXPECT_TRUE(logged_prefix(r.line)) << r.what << ": wanted " << r.line << "\n" << log_text();
        expect_clean(mark, before, r.kept, r.what);
    }
}

// A fault inside the game while building is caught: one line, the
// definition left to the game (nothing released after the fault).
TEST_F(defs, AFaultWhileBuildingIsCaught)
{
    std::string cargo = std::string(holder) + ";k=cargo.logs";
    struct { const char *what; uint32_t offset; std::vector<std::string> list; int kind; } rows[] = {
        { "data key", sim::veh_off::data_key, { chassis, wheel_f }, LOOK_BUILD_TRUCK },
        { "erase", sim::veh_off::array_erase, { chassis, wheel_f }, LOOK_BUILD_TRUCK },
        { "data call", sim::veh_off::accessory_data, { chassis, wheel_f }, LOOK_BUILD_TRUCK },
        { "destroy", sim::off::destroy, { chassis, wheel_f }, LOOK_BUILD_TRUCK },
        { "cargo lookup", sim::veh_off::cargo_lookup, { body, cargo }, LOOK_BUILD_TRAILER },
    };
    for (auto &r : rows) {
        SetUp();
        sim::game_function_faulting(r.offset);
        size_t mark = sim::units_mark();
        EXPECT_EQ(build(r.list, r.kind), 0u) << r.what;
        EXPECT_EQ(fx::captured_last(), "[core] look: FAULT while building the definition (partial units leaked)")
            << r.what << "\n" << log_text();
        EXPECT_EQ(last_fault_code, 0xC0000005u) << r.what;
        EXPECT_EQ(last_fault_data, sim::fault_data_address) << r.what;
        // What was made stays with the game: nothing destroyed after the fault.
        for (uint8_t *unit : sim::units_since(mark))
            EXPECT_LE(sim::destroyed(unit), 1) << r.what;
        EXPECT_EQ(sim::unit_problems(), std::vector<std::string>{}) << r.what;
    }
}

// The push: grows by one through the array's slot, flags and counts the
// reference, stores at the end.
TEST_F(defs, PushTakesAReference)
{
    uint8_t *d = sim::def_new(def_kind::vehicle);
    uint8_t *a = sim::accessory_new(accessory_kind::part, chassis);
    uint8_t *b = sim::accessory_new(accessory_kind::part, cabin);
    game_array_push_ref(u(d) + DEF_ACCESSORY_ARRAY, u(a));
    game_array_push_ref(u(d) + DEF_ACCESSORY_ARRAY, u(b));
    EXPECT_EQ(sim::def_accessories(d), (std::vector<uint8_t *>{ a, b }));
    EXPECT_EQ(sim::refword(a), 0x20000001u);
    auto grows = sim::calls_named("array_grow");
    ASSERT_EQ(grows.size(), 2u);
    EXPECT_EQ(grows[1].args[0], u(d) + sim::vdef::accessories);
    EXPECT_EQ(grows[1].args[1], 2u);
}

} // namespace

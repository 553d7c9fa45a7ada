// Server jobs through the real plug-in and core in the simulated game, joined
// to the test server on 127.0.0.1: a pushed job becomes a tagged offer at its
// source company and its freight row is drawn with the "[SERVER JOB]" prefix
// on the render thread; jobs the market cannot take are refused with their
// line; the freight-row hook's bytes; and the job command's sub-commands.
#include "runtime/runtime_fixture.h"
#include "sim/sim_economy.h"
#include "net/net_records.h"
#include <math.h>

using rt::as_address;
using rt::as_pointer;
using rt::fmt;

namespace {

const char *prefix = "<color value=FF33DD33>[SERVER JOB] ";
const uint8_t row_prologue[16] = { 0x48, 0x89, 0x54, 0x24, 0x10, 0x55, 0x41, 0x54,
                                   0x48, 0x8D, 0xAC, 0x24, 0xA8, 0xEE, 0xFF, 0xFF };

class server_jobs : public rt::server_test {
protected:
    sim::world world {};
    uint8_t *gravel = nullptr, *milk = nullptr;
    uint8_t *quarry = nullptr, *dairy = nullptr, *farm = nullptr, *store = nullptr;

    /* Berlin's quarry with three offers: 13 km to the dairy 10 km away
     * (0.0013 km per m), 30 km to the farm 20 km away (0.0015) and one of
     * 666 km that never counts; the store has no offers. */
    void SetUp() override
    {
        rt::server_test::SetUp();
        world = sim::world_create(player);
        sim::world_set_clock(2, 10, 0, 0);
        sim::economy_create(world);
        gravel = sim::economy_cargo("gravel");
        milk = sim::economy_cargo("milk");
        quarry = sim::economy_company("quarry", "berlin", 0, 0);
        dairy = sim::economy_company("dairy", "hamburg", 10000, 0);
        farm = sim::economy_company("farm", "hamburg", 0, 20000);
        store = sim::economy_company("store", "berlin", 50, 50, false);
        sim::economy_city_name("berlin", "Berlin");
        sim::economy_offer(quarry, "dairy.hamburg", gravel, 13);
        sim::economy_offer(quarry, "farm.hamburg", milk, 30);
        sim::economy_offer(quarry, "dairy.hamburg", milk, 666);
    }

    void TearDown() override
    {
        sim::economy_rows_stop();
        rt::server_test::TearDown();
    }

    server_job job(uint32_t id, const char *sco, const char *scity, const char *tco, const char *tcity,
                   const char *cargo, uint16_t hours, uint8_t urgency)
    {
        server_job j = {};
        j.id = id;
        j.source_company = sim::economy_token(sco);
        j.source_city = sim::economy_token(scity);
        j.target_company = sim::economy_token(tco);
        j.target_city = sim::economy_token(tcity);
        j.cargo = sim::economy_token(cargo);
        j.hours = hours;
        j.urgency = urgency;
        return j;
    }

    /* Pushes the job and runs frames until the core took it in; the log
     * lines it wrote since. */
    std::vector<std::string> push(const server_job &j)
    {
        size_t before = log_lines().size();
        ts_send_job(&server, &j);
        rt::frames_with(&server, 3, 0.05);
        auto lines = log_lines();
        return std::vector<std::string>(lines.begin() + (long)before, lines.end());
    }

    std::vector<std::string> remove(uint32_t id)
    {
        size_t before = log_lines().size();
        ts_send_job_removed(&server, id);
        rt::frames_with(&server, 3, 0.05);
        auto lines = log_lines();
        return std::vector<std::string>(lines.begin() + (long)before, lines.end());
    }

    /* The row texts drawn in a full list for the offer (header row aside). */
    std::string drawn(const uint8_t *offer)
    {
        EXPECT_TRUE(sim::economy_rows_wait(2));
        for (auto &r : sim::economy_rows())
            if (r.offer == as_address(offer) && !r.header)
                return r.cargo;
        return "(not drawn)";
    }

    std::string offer_line(const char *label, const uint8_t *offer, uint32_t urgency, uint32_t km, int expires)
    {
        return fmt("[core] job offer %s: %p target '%s' cargo %p trailer def %p, urgency %u, %u km, %u units, "
                   "expires in %d min",
                   label, as_pointer(offer), sim::economy_offer_target(offer).c_str(),
                   as_pointer(sim::get<uint64_t>(offer, sim::econ_off::offer_cargo)), as_pointer((uint64_t)0), urgency,
                   km, sim::get<uint32_t>(offer, sim::econ_off::offer_units), expires);
    }
};

bool has(const std::vector<std::string> &lines, const std::string &line)
{
    for (auto &l : lines)
        if (l == line)
            return true;
    return false;
}

std::string joined(const std::vector<std::string> &lines)
{
    std::string out;
    for (auto &l : lines)
        out += l + "\n";
    return out;
}

/* ---- pushed jobs ---- */

TEST_F(server_jobs, APushedJobBecomesATaggedOfferDrawnWithThePrefixUntilItIsRemoved)
{
    join();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    auto lines = push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    EXPECT_TRUE(has(lines, "[core] server job #7 received: gravel, 5 h, urgency 1")) << joined(lines);
    EXPECT_TRUE(has(lines, "[core] job: freight row hook installed")) << joined(lines);
    // The first untagged offer is refilled: cargo and target from the
    // generator; urgency and expiry from the job; 20 km straight times the
    // upper median of 0.0013 and 0.0015 km per m is 30 km.
    EXPECT_EQ(sim::economy_offer_target(offer), "farm.hamburg");
    EXPECT_EQ(sim::get<uint64_t>(offer, sim::econ_off::offer_cargo), as_address(gravel));
    EXPECT_EQ(sim::get<uint32_t>(offer, sim::econ_off::offer_urgency), 1u);
    EXPECT_EQ(sim::get<uint32_t>(offer, sim::econ_off::offer_expiry), sim::world_minutes() + 300u);
    EXPECT_EQ(sim::get<uint16_t>(offer, sim::econ_off::offer_km), 30u);
    EXPECT_TRUE(has(lines, offer_line("server job #7", offer, 1, 30, 300))) << joined(lines);
    // The generator got the cargo and the two names as game strings, each
    // made with the game's two words and freed again.
    auto gen = sim::calls_named("offer_generator");
    ASSERT_EQ(gen.size(), 1u);
    EXPECT_EQ(gen[0].args[0], as_address(world.economy));
    EXPECT_EQ(sim::calls_named("string_assign").size(), 3u);
    EXPECT_EQ(sim::calls_named("string_free").size(), 3u);
    for (auto &c : sim::calls_named("string_assign")) {
        EXPECT_EQ(c.args[1], as_address(sim::game_at(sim::econ_off::string_word0)));
        EXPECT_EQ(c.args[2], as_address(sim::game_at(sim::econ_off::string_word1)));
    }

    // The render thread draws the freight list through the hook.
    sim::economy_rows_start();
    EXPECT_EQ(drawn(offer), std::string(prefix) + "gravel");
    EXPECT_EQ(drawn(sim::economy_offer_at(quarry, 1)), "milk");
    EXPECT_EQ(sim::economy_row_last_result(), sim::row_result);
    for (auto &r : sim::economy_rows()) {
        if (r.header) {
            EXPECT_EQ(r.cargo, "gravel") << "a header row is drawn unchanged";
        }
    }
    EXPECT_EQ(first("job server"), fmt("[core] server job #7: gravel quarry -> farm, offer %p", as_pointer(offer)));

    // The same id again updates its entry and keeps the offer.
    lines = push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 9, 1));
    EXPECT_EQ(joined(lines).find("received"), std::string::npos) << joined(lines);
    EXPECT_EQ(command("job server").size(), 1u);
    EXPECT_EQ(sim::calls_named("offer_generator").size(), 1u);

    lines = remove(0);
    EXPECT_TRUE(has(lines, "[core] server job #7 removed (its offer stays in the market, untagged)")) << joined(lines);
    EXPECT_EQ(drawn(offer), "gravel");
    EXPECT_EQ(sim::economy_offer_target(offer), "farm.hamburg");
    EXPECT_EQ(command("job server"), std::vector<std::string>{ "[core] server jobs: none" });
    sim::economy_rows_stop();
    // The cargo's own name is back after every call.
    EXPECT_EQ(sim::get<uint32_t>(gravel, sim::econ_off::cargo_name_length), 6u);
}

TEST_F(server_jobs, AJobTheMarketCannotTakeIsRefusedWithItsLine)
{
    join();
    sim::economy_offer(dairy, "quarry.berlin", milk, 13);
    struct {
        server_job job;
        bool refuse;
        const char *line;
    } cases[] = {
        { job(21, "nowhere", "berlin", "farm", "hamburg", "gravel", 5, 1), false,
          "[core] server job #21: company not found (nowhere.berlin -> farm.hamburg); skipped" },
        { job(22, "quarry", "berlin", "farm", "paris", "gravel", 5, 1), false,
          "[core] server job #22: company not found (quarry.berlin -> farm.paris); skipped" },
        { job(23, "quarry", "berlin", "farm", "hamburg", "coal", 5, 1), false,
          "[core] server job #23: cargo 'coal' not found; skipped" },
        { job(24, "store", "berlin", "farm", "hamburg", "gravel", 5, 1), false,
          "[core] server job #24: no free offer slot at store.berlin" },
        { job(25, "dairy", "hamburg", "farm", "hamburg", "gravel", 5, 1), true,
          "[core] server job #25: the game didn't take it (see the [economy] log lines); skipped" },
    };
    for (auto &c : cases) {
        sim::economy_generator_refuses(c.refuse);
        auto lines = push(c.job);
        EXPECT_TRUE(has(lines, c.line)) << c.line << "\n" << joined(lines);
    }
    // Each is kept, without an offer.
    auto listed = command("job server");
    ASSERT_EQ(listed.size(), 5u) << joined(listed);
    for (auto &l : listed)
        EXPECT_NE(l.find(fmt("offer %p", as_pointer((uint64_t)0))), std::string::npos) << l;
}

TEST_F(server_jobs, AnUpdateTheMarketCannotTakeUntagsTheOldOffer)
{
    join();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    sim::economy_rows_start();
    EXPECT_EQ(drawn(offer), std::string(prefix) + "gravel");
    // The same id, now to a company that is not there: quietly no offer
    // (it had one), and its old offer is drawn plain again.
    auto lines = push(job(7, "quarry", "berlin", "farm", "paris", "gravel", 5, 1));
    EXPECT_EQ(joined(lines).find("company not found"), std::string::npos) << joined(lines);
    EXPECT_EQ(first("job server"), fmt("[core] server job #7: gravel quarry -> farm, offer %p", as_pointer((uint64_t)0)));
    EXPECT_EQ(drawn(offer), "gravel");
}

TEST_F(server_jobs, AnIdenticalOfferAlreadyInTheMarketIsTakenAsItIs)
{
    join();
    uint8_t *offer = sim::economy_offer_at(quarry, 1);
    auto lines = push(job(3, "quarry", "berlin", "farm", "hamburg", "milk", 5, 0));
    EXPECT_TRUE(has(lines, "[core] server job #3: found milk quarry.berlin -> farm.hamburg already in the market"))
        << joined(lines);
    EXPECT_TRUE(sim::calls_named("offer_generator").empty());
    EXPECT_EQ(first("job server"), fmt("[core] server job #3: milk quarry -> farm, offer %p", as_pointer(offer)));
    // A second job of the same kind may not share it: it gets a new offer.
    lines = push(job(4, "quarry", "berlin", "farm", "hamburg", "milk", 5, 0));
    EXPECT_EQ(sim::calls_named("offer_generator").size(), 1u) << joined(lines);
}

TEST_F(server_jobs, AnUrgencyTheGameDoesNotHaveIsRefusedAndNothingIsWritten)
{
    join();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    const uint32_t expiry = sim::get<uint32_t>(offer, sim::econ_off::offer_expiry);
    for (uint8_t urgency : { 3, 255 }) {
        // A new job and an update of job 7: one line each, and neither the
        // job table nor the market changes.
        for (uint32_t id : { 8u, 7u }) {
            auto lines = push(job(id, "quarry", "berlin", "dairy", "hamburg", "milk", 9, urgency));
            EXPECT_EQ(lines, std::vector<std::string>{ fmt("[core] server job #%u refused: urgency %u (the game's are "
                                                           "0 to 2)",
                                                           id, urgency) })
                << joined(lines);
        }
    }
    EXPECT_EQ(sim::calls_named("offer_generator").size(), 1u);
    EXPECT_EQ(command("job server"),
              std::vector<std::string>{ fmt("[core] server job #7: gravel quarry -> farm, offer %p", as_pointer(offer)) });
    EXPECT_EQ(sim::economy_offer_target(offer), "farm.hamburg");
    EXPECT_EQ(sim::get<uint32_t>(offer, sim::econ_off::offer_urgency), 1u);
    EXPECT_EQ(sim::get<uint32_t>(offer, sim::econ_off::offer_expiry), expiry);
    // The highest of the game's urgencies is taken.
    auto lines = push(job(9, "quarry", "berlin", "dairy", "hamburg", "milk", 9, 2));
    EXPECT_TRUE(has(lines, "[core] server job #9 received: milk, 9 h, urgency 2")) << joined(lines);
}

/* ---- the row hook ---- */

/* A row whose draw throws unwinds through the hook to the list's own
 * handler: the cargo's name is the game's again at once, the next lists draw
 * as before, and the hook still comes off cleanly. */
TEST_F(server_jobs, ARowThatThrowsLeavesTheCargoNameAsTheGameHadIt)
{
    join();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    const uint64_t name = sim::get<uint64_t>(gravel, sim::econ_off::cargo_name);
    sim::economy_row_unwinds(offer);
    sim::economy_rows_start();
    EXPECT_TRUE(sim::economy_rows_wait(3));
    sim::economy_row_unwinds(nullptr);
    sim::economy_rows_stop();
    EXPECT_GE(sim::economy_rows_caught(), 3u);
    EXPECT_EQ(sim::get<uint64_t>(gravel, sim::econ_off::cargo_name), name);
    EXPECT_EQ(sim::get<uint32_t>(gravel, sim::econ_off::cargo_name_length), 6u);
    sim::economy_rows_start();
    EXPECT_EQ(drawn(offer), std::string(prefix) + "gravel");
    sim::economy_rows_stop();
    EXPECT_EQ(sim::get<uint64_t>(gravel, sim::econ_off::cargo_name), name);
    shutdown();
    EXPECT_GE(log_find("[core] job: freight row hook removed ("), 0) << log_text();
    EXPECT_LT(log_find("[core] freight row hook at "), 0) << log_text();
}

/* Two threads inside the routine for rows of one cargo at once: each draws
 * the prefixed name, and the game's own name is back when both have left. */
TEST_F(server_jobs, TwoThreadsDrawingOneCargoKeepItsNameOnce)
{
    join();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    const uint64_t name = sim::get<uint64_t>(gravel, sim::econ_off::cargo_name);
    for (int round = 0; round < 3; round++) {
        sim::drawn_row seen[2];
        ASSERT_TRUE(sim::economy_rows_overlap(offer, seen)) << "the two threads were never inside together";
        EXPECT_EQ(seen[0].cargo, std::string(prefix) + "gravel");
        EXPECT_EQ(seen[1].cargo, std::string(prefix) + "gravel");
        EXPECT_EQ(sim::get<uint64_t>(gravel, sim::econ_off::cargo_name), name) << round;
        EXPECT_EQ(sim::get<uint32_t>(gravel, sim::econ_off::cargo_name_length), 6u) << round;
    }
}

TEST_F(server_jobs, TheRowHookPatchesExactlyItsBytesAndPutsThemBack)
{
    join();
    uint8_t *at = sim::game_at(sim::econ_off::row_routine);
    push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    uint8_t now[16];
    memcpy(now, at, 16);
    const uint8_t jump[6] = { 0xFF, 0x25, 0, 0, 0, 0 };
    EXPECT_EQ(memcmp(now, jump, 6), 0);
    EXPECT_EQ(now[14], 0xCC);
    EXPECT_EQ(now[15], 0xCC);
    // The jump leads to the hook block's stub (block + 0x40), which calls
    // the detour held at block + 0x1018.
    uint64_t stub, detour;
    memcpy(&stub, now + 6, 8);
    memcpy(&detour, (const void *)(uintptr_t)(stub - 0x40 + 0x1018), 8);
    HMODULE core = nullptr;
    ASSERT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   (const char *)(uintptr_t)detour, &core));
    char path[MAX_PATH] = {};
    GetModuleFileNameA(core, path, sizeof path);
    EXPECT_NE(strstr(path, "\\core\\loaded_"), nullptr) << path << ": the detour is the loaded core's";
    sim::economy_rows_start();
    ASSERT_TRUE(sim::economy_rows_wait(3));
    sim::economy_rows_stop();
    shutdown();
    int removed = log_find("[core] job: freight row hook removed (");
    ASSERT_GE(removed, 0) << log_text();
    unsigned rows = 0;
    EXPECT_EQ(sscanf(log_lines()[removed].c_str(), "[core] job: freight row hook removed (%u rows tagged)", &rows), 1);
    EXPECT_GE(rows, 3u); // one tagged row in each of three lists
    EXPECT_EQ(memcmp(at, row_prologue, 16), 0);
}

TEST_F(server_jobs, AnotherPrologueIsLeftUntouched)
{
    join();
    uint8_t *at = sim::game_at(sim::econ_off::row_routine);
    sim::game_protect(at, 16, PAGE_EXECUTE_READWRITE);
    at[12] = 0xA0; // another frame size
    uint8_t before[40];
    memcpy(before, at, sizeof before);
    auto lines = push(job(7, "quarry", "berlin", "farm", "hamburg", "gravel", 5, 1));
    EXPECT_TRUE(has(lines, "[core] job: freight row hook NOT installed (prologue mismatch)")) << joined(lines);
    EXPECT_EQ(memcmp(at, before, sizeof before), 0);
}

/* ---- the job command ---- */

TEST_F(server_jobs, StatusWhereAndTheOfferListing)
{
    start();
    uint64_t eco_player = sim::get<uint64_t>(world.economy, sim::econ_off::economy_player);
    std::string status = fmt("[core] job: player %p, job ptrs %p %p %p, has truck %%d, game time %u min",
                             as_pointer(eco_player), as_pointer((uint64_t)0x10B0001), as_pointer((uint64_t)0x10B0002),
                             as_pointer((uint64_t)0x10B0003), sim::world_minutes());
    EXPECT_EQ(first("job"), fmt(status.c_str(), 0));
    sim::economy_player_truck(true);
    EXPECT_EQ(first("job status"), fmt(status.c_str(), 1));

    sim::channel_placement(9000, 0, 100, 0, 0, 0);
    sim::frames(1, 0.05);
    auto where = command("job where 2");
    ASSERT_EQ(where.size(), 3u) << joined(where);
    EXPECT_EQ(where[0], "[core] job where: truck 9000.0 100.0 -> nearest city ? (hamburg), company dairy 1005 m away; "
                        "3/4 companies placed");
    EXPECT_EQ(where[1], fmt("[core]   %2d %7.0f m  %-12s %-12s %-20s at %.1f %.1f %.1f", 1, 1005.0, "dairy", "hamburg", "?",
                            10000.0, 0.0, 0.0));
    EXPECT_EQ(where[2], fmt("[core]   %2d %7.0f m  %-12s %-12s %-20s at %.1f %.1f %.1f", 2, hypot(9000, 100), "quarry",
                            "berlin", "Berlin", 0.0, 0.0, 0.0));

    auto offers = command("job offers quarry berlin");
    ASSERT_EQ(offers.size(), 4u) << joined(offers);
    EXPECT_EQ(offers[0], "[core] job offers: quarry.berlin has 3 offers, median 0.0015 km per straight m");
    EXPECT_EQ(offers[1], "[core]   [0] dairy.hamburg                   13 km, straight    10000 m, ratio 0.0013");
    EXPECT_EQ(offers[3], "[core]   [2] dairy.hamburg                  666 km, straight    10000 m, ratio 0.0666");
    EXPECT_EQ(first("job offers nowhere berlin"), "[core] job offers: company not found");

    // Marking tags the first offer; the listing says so; clear empties it.
    EXPECT_EQ(first("job mark quarry berlin").rfind("[core] job", 0), 0u);
    offers = command("job offers quarry berlin");
    ASSERT_EQ(offers.size(), 4u);
    EXPECT_NE(offers[1].find("  [SERVER JOB]"), std::string::npos) << offers[1];
    // A tagged offer no longer counts in the median.
    EXPECT_EQ(offers[0], "[core] job offers: quarry.berlin has 3 offers, median 0.0015 km per straight m");
    sim::economy_rows_start();
    EXPECT_EQ(drawn(sim::economy_offer_at(quarry, 0)), std::string(prefix) + "gravel");
    EXPECT_EQ(command("job mark clear"), std::vector<std::string>{ "[core] job mark: cleared" });
    EXPECT_EQ(drawn(sim::economy_offer_at(quarry, 0)), "gravel");
    EXPECT_EQ(first("job mark store berlin"), "[core] job mark: no offers");
    EXPECT_EQ(first("job mark quarry"), "[core] job mark: usage: job mark <co> <city> | job mark clear");
}

TEST_F(server_jobs, OfferGetTakeAndTheirRefusals)
{
    start();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    auto lines = command("job offer quarry berlin dairy hamburg milk 1 10");
    ASSERT_EQ(lines.size(), 3u) << joined(lines);
    EXPECT_EQ(lines[0], "[core] job: freight row hook installed");
    EXPECT_EQ(lines[1].rfind(fmt("[core] job offer before: %p target 'dairy.hamburg'", as_pointer(offer)), 0), 0u)
        << lines[1];
    EXPECT_EQ(lines[2], offer_line("after", offer, 1, 999, 600));

    struct {
        const char *line, *answer;
    } refusals[] = {
        { "job offer quarry berlin dairy hamburg", "[core] job offer: usage: job offer <src_co> <src_city> <dst_co> "
                                                   "<dst_city> <cargo> [urgency] [hours]" },
        { "job offer quarry berlin dairy hamburg Milk!", "[core] job offer: bad name" },
        { "job offer store berlin dairy hamburg milk", "[core] job offer: source company has no offers to reuse" },
        { "job offer quarry paris dairy hamburg milk", "[core] job offer: bad name" },
        { "job take quarry berlin dairy thirteen_chars", "[core] job: bad name (a-z 0-9 _, up to 12 chars)" },
        { "job take quarry paris dairy hamburg", "[core] job: source company not found (company.volatile.quarry.paris)" },
        { "job take quarry berlin dairy paris", "[core] job: target company not found (company.volatile.dairy.paris)" },
        { "job get paris rome", "[core] job: no linked companies between paris and rome" },
        { "job get here hamburg", "[core] job: bad city name (or no company near the truck for 'here')" },
        { "job frobnicate", "[core] job: usage: job status | job where [n] | job get <src_city|here> <dst_city> [tp] | "
                            "job take <src_co> <src_city> <dst_co> <dst_city> [cargo|-] [trailer_def|-] [tp]" },
    };
    // No telemetry position yet: "here" has no company near the truck
    // only when nothing is placed, so take the companies' placements away.
    sim::put<uint64_t>(sim::get<uint8_t *>(quarry, sim::econ_off::company_item), sim::econ_off::item_owner, 0);
    sim::put<uint64_t>(sim::get<uint8_t *>(dairy, sim::econ_off::company_item), sim::econ_off::item_owner, 0);
    sim::put<uint64_t>(sim::get<uint8_t *>(farm, sim::econ_off::company_item), sim::econ_off::item_owner, 0);
    for (auto &r : refusals)
        EXPECT_EQ(first(r.line), r.answer) << r.line;

    // take: the block carries the names, prepared with tp and has truck, then taken.
    sim::economy_player_truck(true);
    sim::economy_result_text(4, "job taken");
    sim::economy_take_result(4);
    lines = command("job take quarry berlin dairy hamburg milk box tp");
    ASSERT_EQ(lines.size(), 2u) << joined(lines);
    EXPECT_EQ(lines[0], fmt("[core] job prepared: src co %016llx city %016llx, dst co %016llx city %016llx, cargo %016llx, "
                            "type 00, trailer 'box'",
                            (unsigned long long)sim::economy_token("quarry"), (unsigned long long)sim::economy_token("berlin"),
                            (unsigned long long)sim::economy_token("dairy"), (unsigned long long)sim::economy_token("hamburg"),
                            (unsigned long long)sim::economy_token("milk")));
    EXPECT_EQ(lines[1], "[core] job: take -> 4 job taken");
    auto prep = sim::calls_named("job_prepare");
    ASSERT_EQ(prep.size(), 1u);
    EXPECT_EQ(prep[0].args[1], 1u);
    EXPECT_EQ(prep[0].args[2], 1u);
    auto freed = sim::calls_named("job_free");
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_NE(freed[0].args[1], 0u) << "the prepared object's reference is dropped by the free call";

    // get: the game picks the companies; a failed prepare stops before take.
    sim::economy_prepare_status(30);
    lines = command("job get berlin hamburg");
    ASSERT_EQ(lines.size(), 3u) << joined(lines);
    EXPECT_EQ(lines[0].rfind("[core] job picked: src co ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("type 01, trailer 'box'"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[2], "[core] job: prepare failed: 30 ?");
    EXPECT_EQ(sim::calls_named("job_take").size(), 1u);
    EXPECT_EQ(sim::calls_named("job_prepare").back().args[1], 0u);
}

/* job offer's urgency and hours: the typed urgency is set when below 3;
 * a negative or non-numeric number is a usage error and nothing changes. */
TEST_F(server_jobs, TheOfferCommandChecksItsNumbers)
{
    start();
    uint8_t *offer = sim::economy_offer_at(quarry, 0);
    const char *usage = "[core] job offer: usage: job offer <src_co> <src_city> <dst_co> <dst_city> <cargo> [urgency] "
                        "[hours]";
    for (const char *numbers : { "-1", "x", "1x", "1 -5", "2 abc", "256", "1 65536", "1 4294967295" }) {
        auto lines = command(fmt("job offer quarry berlin farm hamburg milk %s", numbers));
        EXPECT_EQ(lines, std::vector<std::string>{ usage }) << numbers;
    }
    EXPECT_TRUE(sim::calls_named("offer_generator").empty());
    EXPECT_EQ(sim::economy_offer_target(offer), "dairy.hamburg");
    EXPECT_EQ(sim::get<uint32_t>(offer, sim::econ_off::offer_expiry), 0u);

    struct {
        const char *numbers;
        uint32_t urgency;
        int expires;
    } cases[] = {
        { "", 2, 72 * 60 },
        { "0 1", 0, 60 },
        { "5 0", 0, 0 }, // 3 and above: the generator's urgency stays
        { "2 65535", 2, 65535 * 60 },
    };
    for (auto &c : cases) {
        auto lines = command(fmt("job offer quarry berlin farm hamburg milk %s", c.numbers));
        ASSERT_FALSE(lines.empty()) << c.numbers;
        EXPECT_EQ(lines.back(), offer_line("after", offer, c.urgency, 999, c.expires)) << c.numbers;
    }
}

TEST_F(server_jobs, WithoutAnEconomyNothingIsTouched)
{
    sim::world_remove_economy();
    start();
    EXPECT_EQ(first("job"), "[core] job: no economy/player (load a profile)");
    EXPECT_EQ(first("job where"), "[core] job where: no economy (load a profile)");
    EXPECT_EQ(first("job offer a b c d e"), "[core] job offer: no economy");
    EXPECT_EQ(first("job server"), "[core] server jobs: none");
}

} // namespace

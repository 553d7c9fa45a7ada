// The pure part of traffic sync: modes, the sent table's selection and speed
// samples, the remote table, and the checks of records from peers.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>
#include <limits>
#include <algorithm>
#include <string>
#include <vector>
#include "net_test_hex.h"
#include "net/net_wire.h"
#include "world/traffic_tables.h"

namespace {

TEST(traffic_modes, ConfigCommandAndServerGiveTheModeInEffect)
{
    const int32_t none = TRAFFIC_MODE_NONE, local = TRAFFIC_MODE_LOCAL, off = TRAFFIC_MODE_OFF;
    struct {
        int32_t config, command;
        uint32_t slot;
        int32_t effect;
    } cases[] = {
        { off, none, 0xFFFFFFFFu, off },  { local, none, 0xFFFFFFFFu, local }, { off, local, 0xFFFFFFFFu, local },
        { local, off, 0xFFFFFFFFu, off }, { local, local, 1, off },             { off, local, 0, local },
        { off, none, 0, off },            { local, none, 7, local },            { local, none, 1, off },
    };
    for (auto &c : cases)
        EXPECT_EQ(traffic_mode_in_effect(c.config, c.command, traffic_server_mode(c.slot)), c.effect)
            << c.config << " " << c.command << " " << c.slot;
    EXPECT_EQ(traffic_server_mode(2), none);
    EXPECT_STREQ(traffic_mode_text(off), "off");
    EXPECT_STREQ(traffic_mode_text(local), "local");
    EXPECT_STREQ(traffic_mode_text(none), "-");
}

TEST(traffic_sent, SpeedSamplesSkipShortGapsAndJumps)
{
    traffic_sent_car car = {};
    car.sample_time = 10.0;
    car.speed = 7.0f;
    double p1[3] = { 1.0, 0, 0 };
    traffic_sent_sample(&car, p1, 10.04); // 0.04 s: no sample at all
    EXPECT_EQ(car.speed, 7.0f);
    EXPECT_EQ(car.pos[0], 0.0);
    EXPECT_EQ(car.sample_time, 10.0);
    double p2[3] = { 3.0, 4.0, 0 };
    traffic_sent_sample(&car, p2, 10.5); // 5 m in 0.5 s
    EXPECT_FLOAT_EQ(car.speed, 10.0f);
    EXPECT_EQ(car.sample_time, 10.5);
    double p3[3] = { 3.0, 4.0, 61.0 };
    traffic_sent_sample(&car, p3, 11.0); // 122 m/s: a jump, the speed stays, the sample moves
    EXPECT_FLOAT_EQ(car.speed, 10.0f);
    EXPECT_EQ(car.pos[2], 61.0);
    EXPECT_EQ(car.sample_time, 11.0);
}

TEST(traffic_sent, NetIdsSkipZeroAndTheTableHas128Slots)
{
    uint32_t next = 0xFFFFFFFFu;
    EXPECT_EQ(traffic_take_net_id(&next), 0xFFFFFFFFu);
    EXPECT_EQ(traffic_take_net_id(&next), 1u);
    EXPECT_EQ(traffic_take_net_id(&next), 2u);

    static traffic_sent_car table[TRAFFIC_SENT_MAX];
    memset(table, 0, sizeof table);
    for (int i = 0; i < TRAFFIC_SENT_MAX; i++) {
        int at = traffic_sent_free_slot(table);
        ASSERT_EQ(at, i);
        table[at].used = 1;
        table[at].car = 0x1000 + i;
        table[at].car_id = (uint32_t)i;
    }
    EXPECT_EQ(traffic_sent_free_slot(table), -1);
    EXPECT_EQ(traffic_sent_used(table), TRAFFIC_SENT_MAX);
    EXPECT_EQ(traffic_sent_find(table, 0x1000 + 5, 5), 5);
    EXPECT_EQ(traffic_sent_find(table, 0x1000 + 5, 6), -1); // same car, another id: a new car
}

// The definition the owner sends, pinned both ways by the type-25 payload
// written by hand (u32 net id, u8 type, u8 path count, then each path as u8
// length and its bytes): built, it is these bytes; these bytes parsed give
// the same record to the last byte, so a reused record (filled with 0xEE
// here) keeps nothing of the car before.
TEST(traffic_sent, TheOwnersDefinitionIsTheseBytes)
{
    const std::string x160 = bytes_to_hex(std::vector<uint8_t>(160, 'x'));
    static char paths[9][NET_TRAFFIC_PATH_MAX + 1];
    struct {
        const char *what;
        uint32_t net_id, car_type;
        std::vector<std::string> texts; // each copied into its 161-byte field
        int count;
        std::string hex;
    } cases[] = {
        { "type cut to its low byte", 0x0A0B0C0D, 0x1234, { "ab", "c" }, 2, "0d0c0b0a" "34" "02" "026162" "0163" },
        { "a field without its NUL: 160 bytes", 1, 7, { std::string(161, 'x') }, 1, "01000000" "07" "01" "a0" + x160 },
        { "only count paths", 2, 0, { "unsent" }, 0, "02000000" "00" "00" },
        { "at most 8 paths", 3, 1, { "p0", "p1", "p2", "p3", "p4", "p5", "p6", "p7", "p8" }, 9,
          "03000000" "01" "08" "027030" "027031" "027032" "027033" "027034" "027035" "027036" "027037" },
    };
    for (auto &c : cases) {
        memset(paths, 0, sizeof paths);
        for (size_t i = 0; i < c.texts.size(); i++)
            memcpy(paths[i], c.texts[i].data(), std::min(c.texts[i].size(), sizeof paths[i]));
        static traffic_car_definition def, parsed;
        memset(&def, 0xEE, sizeof def);
        traffic_definition_make(&def, c.net_id, c.car_type, paths, c.count);
        static uint8_t p[NET_TRAFFIC_DEFS_MAX];
        int n = net_build_traffic_defs(p, sizeof p, &def);
        ASSERT_GT(n, 0) << c.what;
        EXPECT_EQ(bytes_to_hex(p, (size_t)n), c.hex) << c.what;
        std::vector<uint8_t> golden = hex_to_bytes(c.hex);
        ASSERT_TRUE(net_parse_traffic_defs(golden.data(), golden.size(), &parsed)) << c.what;
        EXPECT_EQ(memcmp(&def, &parsed, sizeof def), 0) << c.what;
    }
}

TEST(traffic_sent, NearestIsHorizontal)
{
    double players[2][3] = { { 0, 0, 0 }, { 1000, -500, 0 } };
    double car[3] = { 1000, 900, 50 };
    EXPECT_DOUBLE_EQ(traffic_nearest(car, players, 2), 50.0);
    EXPECT_EQ(traffic_nearest(car, players, 0), TRAFFIC_NO_DISTANCE);
}

TEST(traffic_remote, PeerRecordsWithNonFiniteNumbersOrUnendedPathsAreRefused)
{
    const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    traffic_car_state good = { 1, { 1, 2, 3 }, { 1, 0, 0, 0 }, 5, 0 };
    EXPECT_TRUE(traffic_state_valid(&good));
    for (int field = 0; field < 8; field++)
        for (double bad : { nan, inf, -inf }) {
            traffic_car_state s = good;
            if (field < 3)
                s.pos[field] = bad;
            else if (field < 7)
                s.rot[field - 3] = (float)bad;
            else
                s.speed = (float)bad;
            EXPECT_FALSE(traffic_state_valid(&s)) << field << " " << bad;
        }

    static traffic_car_definition def;
    memset(&def, 0, sizeof def);
    def.net_id = 1;
    def.path_count = 2;
    strcpy(def.paths[0], "/def/a.sii");
    EXPECT_TRUE(traffic_definition_valid(&def));
    memset(def.paths[1], 'x', sizeof def.paths[1]); // 161 bytes, no terminator
    EXPECT_FALSE(traffic_definition_valid(&def));
    def.path_count = 1; // the unended field is beyond the count
    EXPECT_TRUE(traffic_definition_valid(&def));
    def.path_count = 9;
    EXPECT_FALSE(traffic_definition_valid(&def));
}

TEST(traffic_remote, TableKeeps256CarsStoresStatesRemovesAndAges)
{
    static traffic_remote_car table[TRAFFIC_REMOTE_MAX];
    memset(table, 0, sizeof table);
    static traffic_car_definition def;
    memset(&def, 0, sizeof def);
    bool is_new = false;
    for (uint32_t id = 1; id <= TRAFFIC_REMOTE_MAX; id++) {
        def.net_id = id;
        ASSERT_GE(traffic_remote_define(table, 2, &def, 100.0, &is_new), 0);
        EXPECT_TRUE(is_new);
    }
    def.net_id = 999;
    EXPECT_EQ(traffic_remote_define(table, 2, &def, 100.0, &is_new), -1);
    def.net_id = 3; // a known car takes its own slot even in a full table
    def.path_count = 1;
    def.car_type = 4;
    strcpy(def.paths[0], "/def/van.sii");
    int at = traffic_remote_define(table, 2, &def, 101.0, &is_new);
    ASSERT_GE(at, 0);
    EXPECT_FALSE(is_new);
    EXPECT_STREQ(table[at].first_path, "/def/van.sii");
    EXPECT_EQ(table[at].last_time, 100.0); // a definition does not keep a known car alive

    traffic_car_state st = { 3, { 30, 0, 40 }, { 1, 0, 0, 0 }, 2, 5 };
    EXPECT_TRUE(traffic_remote_state(table, 2, &st, 104.0));
    st.net_id = 3;
    EXPECT_FALSE(traffic_remote_state(table, 9, &st, 104.0)); // another sender's car 3 is unknown

    uint32_t gone[] = { 1, 2, 777 };
    EXPECT_EQ(traffic_remote_remove(table, 9, gone, 3, false), 0);
    EXPECT_EQ(traffic_remote_remove(table, 2, gone, 3, false), 2);
    EXPECT_EQ(traffic_remote_used(table), TRAFFIC_REMOTE_MAX - 2);

    int live = 0;
    double nearest = 0;
    EXPECT_EQ(traffic_remote_age(table, 105.0, 0, 0, &live, &nearest), 0); // exactly 5 s: kept
    EXPECT_EQ(live, TRAFFIC_REMOTE_MAX - 2);
    EXPECT_DOUBLE_EQ(nearest, 50.0);
    EXPECT_EQ(traffic_remote_age(table, 105.5, 0, 0, &live, &nearest), TRAFFIC_REMOTE_MAX - 3);
    EXPECT_EQ(live, 1);
    EXPECT_EQ(traffic_remote_remove(table, 2, nullptr, 0, true), 1);
    EXPECT_EQ(traffic_remote_used(table), 0);
}

} // namespace

// Pure logic of the network client: codec, player key, roster, CSV.
#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>
#include "net/net_csv.h"
#include "net/net_internal.h"
#include "net/net_key.h"
#include "net_test_hex.h"
#include "net/net_wire.h"

TEST(net_key, KnownAnswer)
{
    uint8_t seed[32], sk[64], pk[32], sig[64], msg[49];
    for (int i = 0; i < 32; i++)
        seed[i] = (uint8_t)(7 * i + 1);
    crypto_eddsa_key_pair(sk, pk, seed);
    EXPECT_EQ(bytes_to_hex(pk, 32), "367afe3c5bc4da47ab53f793a636521f3f3087ed0c1d76b7283201af8e144a06");
    memcpy(msg, "drovemark-auth-v1", 17);
    for (int i = 0; i < 32; i++)
        msg[17 + i] = (uint8_t)(0xA0 + i);
    crypto_eddsa_sign(sig, sk, msg, sizeof msg);
    EXPECT_EQ(bytes_to_hex(sig, 64), "c5654a535075d10ecc2e2b615121e6cfbf0ee1075b1c9cba32087d4d3f38bed8"
                              "18d41e0827142ae9d00103d290c301cd7e2b1a4332fa637f922f2178ad7bbd07");
    EXPECT_EQ(crypto_eddsa_check(sig, pk, msg, sizeof msg), 0);
    char fp[17];
    net_key_fingerprint(pk, fp);
    EXPECT_STREQ(fp, "ac1c829c4a8178ab");
}

TEST(net_key, VectorsAndTampering)
{
    FILE *f = fopen(DM_NET_VECTORS, "rt");
    ASSERT_NE(f, nullptr) << DM_NET_VECTORS;
    char line[2048];
    int n = 0;
    while (fgets(line, sizeof line, f)) {
        char s[80], p[80], m[1024], g[160];
        ASSERT_EQ(sscanf(line, "%79s %79s %1023s %159s", s, p, m, g), 4);
        auto seed = hex_to_bytes(s), pub = hex_to_bytes(p), sig = hex_to_bytes(g);
        auto msg = strcmp(m, "-") == 0 ? std::vector<uint8_t>() : hex_to_bytes(m);
        uint8_t sk[64], pk[32], out[64];
        crypto_eddsa_key_pair(sk, pk, seed.data());
        EXPECT_EQ(bytes_to_hex(pk, 32), p);
        crypto_eddsa_sign(out, sk, msg.data(), msg.size());
        EXPECT_EQ(bytes_to_hex(out, 64), g);
        EXPECT_EQ(crypto_eddsa_check(sig.data(), pk, msg.data(), msg.size()), 0);
        for (int at : {0, 31, 32, 63}) {
            auto bad = sig;
            bad[at] ^= 0x01;
            EXPECT_EQ(crypto_eddsa_check(bad.data(), pk, msg.data(), msg.size()), -1) << at;
        }
        auto bad_msg = msg;
        bad_msg.push_back(0);
        EXPECT_EQ(crypto_eddsa_check(sig.data(), pk, bad_msg.data(), bad_msg.size()), -1);
        auto big_s = sig;
        memset(big_s.data() + 32, 0xFF, 32); /* S >= L */
        EXPECT_EQ(crypto_eddsa_check(big_s.data(), pk, msg.data(), msg.size()), -1);
        n++;
    }
    fclose(f);
    EXPECT_GE(n, 5);
}

TEST(net_key, IdentityLine)
{
    uint8_t seed[32];
    std::string good = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    EXPECT_TRUE(net_key_parse_line((good + " anything").c_str(), seed));
    EXPECT_EQ(seed[1], 0x11);
    EXPECT_FALSE(net_key_parse_line(good.substr(0, 63).c_str(), seed));
    EXPECT_FALSE(net_key_parse_line((good.substr(0, 63) + "\n").c_str(), seed));
    EXPECT_FALSE(net_key_parse_line(("0x" + good.substr(2)).c_str(), seed));
}

/* Each parser at its minimum and its true maximum size. fill(q, n) writes a
 * valid payload of n bytes, its length and count fields set so that it holds
 * exactly n. One byte short of the minimum is refused; for a payload whose
 * size its fields announce, one byte short of the maximum is refused too, and
 * so is the payload fill_past writes (one past the largest length or count). */
TEST(net_wire, ParsersAtTheirBounds)
{
    static uint8_t p[1400];
    typedef void (*fill_fn)(uint8_t *q, size_t n);
    typedef bool (*parse_fn)(const uint8_t *q, size_t n);
    struct bound_case {
        const char *name;
        size_t min, max;
        bool announced;  /* the fields give the size: max - 1 is refused */
        size_t past;     /* 0: none */
        fill_fn fill;    /* also fills the past payload when past is not 0 */
        parse_fn parse;
    } cases[] = {
        {"hello", 8, 39, true, 40, [](uint8_t *q, size_t n) { q[6] = (uint8_t)(n - 7); memset(q + 7, 'a', n - 7); },
         [](const uint8_t *q, size_t n) { uint32_t a; uint16_t b; char s[33]; return net_parse_hello(q, n, &a, &b, s); }},
        {"state", 73, 118, false, 0,
         [](uint8_t *q, size_t n) { q[4] = (uint8_t)(4 | (n >= 113 ? 2 : 0) | (n == 78 || n == 118 ? 8 : 0)); },
         [](const uint8_t *q, size_t n) {
             uint32_t a, h;
             net_pose s;
             return net_parse_state(q, n, &a, &s, &h) && s.has_trailer == (n >= 113) && s.has_lights == (n == 78 || n == 118);
         }},
        {"acc part", 8, 1188, true, 0,
         [](uint8_t *q, size_t n) { /* entries of up to 255 bytes filling the part */
             q[6] = 1;
             size_t at = 8;
             uint8_t entries = 0;
             while (at < n) {
                 size_t len = n - at - 1 > 255 ? 255 : n - at - 1;
                 q[at] = (uint8_t)len;
                 at += 1 + len;
                 entries++;
             }
             q[7] = entries;
         },
         [](const uint8_t *q, size_t n) {
             net_acc_part_head h;
             return net_parse_acc_part_head(q, n, &h) && net_acc_part_span(q, n, h.entries) == (int)n - 8;
         }},
        {"time", 12, 12, false, 0, [](uint8_t *q, size_t) { net_put_f64(q, 10); net_put_f32(q + 8, 1); },
         [](const uint8_t *q, size_t n) { double s; float r; return net_parse_time_of_day(q, n, &s, &r); }},
        {"weather", 6, 6, false, 0, [](uint8_t *, size_t) {},
         [](const uint8_t *q, size_t n) { uint8_t a, b; float c; return net_parse_weather(q, n, &a, &b, &c); }},
        {"prop", 63, 254, true, 223,
         [](uint8_t *q, size_t n) { /* up to 222 bytes a path alone, then a path of 160 and the attach block */
             q[0] = 1;
             bool attach = n > 223;
             q[60] = attach ? 1 : 0;
             q[61] = (uint8_t)(attach ? n - 62 - 32 : n - 62);
             memset(q + 62, 'm', q[61]);
             if (attach)
                 q[62 + q[61] + 2] = 1;
         },
         [](const uint8_t *q, size_t n) {
             prop_state s;
             return net_parse_prop(q, n, 0, &s) && s.attach_part == (n > 223 ? 1 : 0);
         }},
        {"prop removed", 4, 4, false, 0, [](uint8_t *, size_t) {},
         [](const uint8_t *q, size_t n) { uint32_t v; return net_parse_u32(q, n, &v); }},
        {"prop list", 2, 1026, true, 1030, [](uint8_t *q, size_t n) { net_put_u16(q, (uint16_t)((n - 2) / 4)); },
         [](const uint8_t *q, size_t n) { static uint32_t ids[256]; uint16_t c; return net_parse_prop_list(q, n, ids, &c); }},
        {"layout", 2, 34, true, 35, [](uint8_t *q, size_t n) { q[1] = (uint8_t)(n - 2); memset(q + 2, 'l', n - 2); },
         [](const uint8_t *q, size_t n) { uint8_t op; char s[33]; return net_parse_layout_cmd(q, n, &op, s); }},
        {"message", 1, 201, true, 202, [](uint8_t *q, size_t n) { q[0] = (uint8_t)(n - 1); memset(q + 1, 'm', n - 1); },
         [](const uint8_t *q, size_t n) {
             char s[201];
             return net_parse_message(q, n, s) && strlen(s) == n - 1;
         }},
        {"traffic defs", 6, 6 + 8 * 161, true, 6 + 162,
         [](uint8_t *q, size_t n) { /* paths of 160 bytes, the last one shorter; past: one path of 161 */
             net_put_u32(q, 1);
             size_t at = 6;
             uint8_t paths = 0;
             while (at < n) {
                 size_t len = n - at - 1 > 160 && n != 6 + 162 ? 160 : n - at - 1;
                 q[at] = (uint8_t)len;
                 at += 1 + len;
                 paths++;
             }
             q[5] = paths;
         },
         [](const uint8_t *q, size_t n) { static traffic_car_definition d; return net_parse_traffic_defs(q, n, &d); }},
        {"traffic cars", 5, 1175, true, 1205, [](uint8_t *q, size_t n) { q[4] = (uint8_t)((n - 5) / 30); },
         [](const uint8_t *q, size_t n) { static traffic_car_state c[39]; uint32_t ms; int k; return net_parse_traffic_cars(q, n, &ms, c, &k); }},
        {"traffic ids", 3, 1191, true, 1195, [](uint8_t *q, size_t n) { net_put_u16(q + 1, (uint16_t)((n - 3) / 4)); },
         [](const uint8_t *q, size_t n) { static uint32_t ids[297]; uint8_t f; uint16_t c; return net_parse_traffic_ids(q, n, &f, ids, &c); }},
        {"owner", 2, 3, false, 0, [](uint8_t *, size_t) {},
         [](const uint8_t *q, size_t n) { uint16_t o; uint32_t s; return net_parse_owner(q, n, &o, &s); }},
        {"job", 47, 47, false, 0, [](uint8_t *, size_t) {},
         [](const uint8_t *q, size_t n) { server_job j; return net_parse_job(q, n, &j); }},
        {"role", 9, 33, false, 0, [](uint8_t *q, size_t n) { q[8] = (uint8_t)(n - 9); memset(q + 9, 'r', n - 9); },
         [](const uint8_t *q, size_t n) {
             uint32_t a, b;
             char s[25];
             return net_parse_role(q, n, &a, &b, s) && strlen(s) == n - 9;
         }},
        {"joined", 1, 33, false, 0, [](uint8_t *q, size_t n) { q[0] = (uint8_t)(n - 1); memset(q + 1, 'j', n - 1); },
         [](const uint8_t *q, size_t n) {
             char s[33];
             return net_parse_joined(q, n, s) && strlen(s) == n - 1;
         }},
        {"auth reply", 96, 96, false, 97, [](uint8_t *, size_t) {},
         [](const uint8_t *q, size_t n) { uint8_t pub[32], sig[64]; return net_parse_auth_reply(q, n, pub, sig); }},
    };
    for (auto &c : cases) {
        memset(p, 0, sizeof p);
        c.fill(p, c.min);
        EXPECT_TRUE(c.parse(p, c.min)) << c.name << " min " << c.min;
        EXPECT_FALSE(c.parse(p, c.min - 1)) << c.name << " one short of min";
        memset(p, 0, sizeof p);
        c.fill(p, c.max);
        EXPECT_TRUE(c.parse(p, c.max)) << c.name << " max " << c.max;
        if (c.announced) {
            EXPECT_FALSE(c.parse(p, c.max - 1)) << c.name << " one short of max";
        }
        if (c.past) {
            memset(p, 0, sizeof p);
            c.fill(p, c.past);
            EXPECT_FALSE(c.parse(p, c.past)) << c.name << " one past max, " << c.past;
        }
    }
}

TEST(net_wire, HeaderAndBlocks)
{
    uint8_t d[NET_HEADER_SIZE];
    net_write_header(d, NET_STATE, 0xA1B2C3D4u, 0x0102);
    net_header h;
    ASSERT_TRUE(net_read_header(d, 12, &h));
    EXPECT_EQ(h.seq, 0xA1B2C3D4u);
    EXPECT_EQ(h.player, 0x0102);
    EXPECT_FALSE(net_read_header(d, 11, &h));
    d[2] = 2;
    EXPECT_FALSE(net_read_header(d, 12, &h));

    // State blocks: flags set but the payload too short reads as absent.
    net_pose pose = {}, out;
    pose.flags = 4;
    pose.has_trailer = 1;
    pose.has_lights = 1;
    pose.lights = 0x1234;
    pose.horns = 3;
    pose.trailer_pos[0] = 7.5;
    uint8_t p[128];
    uint32_t ms, hash;
    ASSERT_EQ(net_build_state(p, sizeof p, 1, &pose, 9), 118);
    EXPECT_EQ(p[4], 4 | 2 | 8);
    ASSERT_TRUE(net_parse_state(p, 118, &ms, &out, &hash));
    EXPECT_TRUE(out.has_trailer && out.has_lights);
    EXPECT_EQ(out.lights, 0x1234u);
    EXPECT_EQ(out.trailer_pos[0], 7.5);
    ASSERT_TRUE(net_parse_state(p, 112, &ms, &out, &hash));
    EXPECT_FALSE(out.has_trailer);
    EXPECT_TRUE(out.has_lights); /* read at 73 since the payload holds 78 */
    ASSERT_TRUE(net_parse_state(p, 117, &ms, &out, &hash));
    EXPECT_TRUE(out.has_trailer);
    EXPECT_FALSE(out.has_lights);

    // A prop's attach block is taken only with a kind of 1..3.
    prop_state ps = {}, got;
    ps.server_id = 3;
    snprintf(ps.model, sizeof ps.model, "m");
    ps.attach_part = 2;
    ps.attach_player = 9;
    int n = net_build_prop(p, sizeof p, &ps);
    ASSERT_EQ(n, 62 + 1 + 32);
    ASSERT_TRUE(net_parse_prop(p, (size_t)n, 4, &got));
    EXPECT_EQ(got.attach_part, 2);
    EXPECT_EQ(got.attach_player, 9);
    EXPECT_EQ(got.owner, 4);
    for (uint8_t kind : {0, 4}) {
        p[62 + 1 + 2] = kind;
        ASSERT_TRUE(net_parse_prop(p, (size_t)n, 4, &got));
        EXPECT_EQ(got.attach_part, 0) << (int)kind;
    }
    ps.model[0] = 0;
    EXPECT_LT(net_build_prop(p, sizeof p, &ps), 0);

    // Traffic cars round to centimetres and clamp.
    traffic_car_state car = {};
    car.pos[0] = 1.234;
    car.rot[0] = 2.0f;
    car.speed = -1;
    ASSERT_EQ(net_build_traffic_cars(p, sizeof p, 5, &car, 1), 35);
    traffic_car_state back[39];
    int k;
    ASSERT_TRUE(net_parse_traffic_cars(p, 35, &ms, back, &k));
    EXPECT_DOUBLE_EQ(back[0].pos[0], 1.23);
    EXPECT_FLOAT_EQ(back[0].rot[0], 1.0f);
    EXPECT_EQ(back[0].speed, 0.0f);
}

struct net_roster : ::testing::Test {
    void SetUp() override
    {
        net_roster_reset();
        uint8_t name[] = {3, 'b', 'o', 'b'};
        net_roster_on_joined(2, 1, name, sizeof name, 10.0);
        p = net_roster_find(2);
        ASSERT_NE(p, nullptr);
    }
    void TearDown() override { net_roster_reset(); }
    void state(uint32_t seq, double t, double now, double x, float vx = 0)
    {
        net_pose s = {};
        s.flags = 4;
        s.pos[0] = x;
        s.vel[0] = vx;
        s.rot[0] = 1;
        uint8_t b[128];
        int n = net_build_state(b, sizeof b, (uint32_t)llround(t * 1000), &s, 0);
        net_roster_on_state(2, seq, b, (size_t)n, now);
    }
    net_player *p = nullptr;
};

TEST_F(net_roster, SequencesAndClockJumps)
{
    state(0xFFFFFFF0u, 1.0, 20.0, 0);
    state(0xFFFFFFF0u, 1.1, 20.1, 0); /* repeat */
    EXPECT_EQ(p->count, 1);
    state(0x00000001u, 1.1, 20.1, 0); /* wrapped: ahead */
    EXPECT_EQ(p->count, 2);
    state(0x00000002u, 100.0, 20.2, 0);
    state(0x00000003u, 30.0, 20.3, 0); /* more than 60 s back: ring emptied first */
    EXPECT_EQ(p->count, 1);
    EXPECT_NEAR(p->offset, 20.3 - 30.0, 1e-9);
}

TEST_F(net_roster, LocalListsHashAndPack)
{
    net_set_local_accessories(0, nullptr, 0);
    EXPECT_EQ(net_local_lists[0].hash, 0x811C9DC5u);
    int starts[33];
    EXPECT_EQ(net_acc_pack(0, starts), 1);
    uint8_t b[1200];
    EXPECT_EQ(net_acc_build_part(0, starts, 0, 1, b, sizeof b), 8);
    std::vector<std::string> paths(128, std::string(223, 'p'));
    std::vector<const char *> ptrs;
    for (auto &s : paths)
        ptrs.push_back(s.c_str());
    net_set_local_accessories(1, ptrs.data(), 128);
    int parts = net_acc_pack(1, starts);
    EXPECT_EQ(parts, 26); /* 5 entries of 224 bytes fit one 1200-byte datagram */
    for (int i = 0; i < parts; i++)
        EXPECT_LE(NET_HEADER_SIZE + net_acc_build_part(1, starts, i, parts, b, sizeof b), 1200);
}

TEST(net_csv, Rows)
{
    net_pose p = {};
    p.flags = 5;
    p.has_trailer = 1;
    p.pos[0] = 1.23456;
    p.rot[0] = 1;
    p.trailer_pos[2] = -2;
    p.trailer_rot[0] = 1;
    char row[512];
    ASSERT_GT(net_csv_row(row, sizeof row, 2.0, &p), 0);
    EXPECT_STREQ(row, "2.000,0,7,1.2346,0.0000,0.0000,1.000000,0.000000,0.000000,0.000000,0.0000,0.0000,0.0000,"
                      "0.0000,0.0000,0.0,0.0000,0.0000,-2.0000,1.000000,0.000000,0.000000,0.000000\n");
    EXPECT_LT(net_csv_row(row, 20, 2.0, &p), 0);
}

// Name tags through the real plug-in and core in the simulated game: the
// game's camera in the simulated game's memory, remote players from the test
// server over UDP, and the tags' pixels read back from the swap chain; the
// cam and nametags commands' log lines.
#include <math.h>
#include <algorithm>
#include <functional>
#include "runtime/runtime_fixture.h"
#include "sim/sim_camera.h"
#include "sim/sim_render.h"
#include "net/net_wire.h"
#include "base/placement.h"
#include "testserver.h"

using rt::fmt;

namespace {

const double pi = 3.14159265358979;
const double tan_v = 0.5625; // 720 / 1280 of tan(45 degrees): square pixels at a 90 degree field
const float fov_v = (float)(2 * atan(tan_v) * 180 / pi);
const uint32_t TAG = 0xFF00FF, NAME = 0x00FF00, WHITE = 0xFFFFFF; // 0xRRGGBB

/* A colour 0xRRGGBB as the capture packs it. */
uint32_t packed(uint32_t rrggbb) { return ((rrggbb >> 16) & 0xFF) | (rrggbb & 0xFF00) | ((rrggbb & 0xFF) << 16); }

struct box {
    int n = 0, x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1; /* x1, y1 inclusive */
    double cx() const { return (x0 + x1 + 1) / 2.0; }
};

/* The pixels of the last capture within tol of a colour, inside a rectangle. */
box find(uint32_t rrggbb, int tol = 40, int rx0 = 0, int ry0 = 0, int rx1 = 1280, int ry1 = 720)
{
    box b;
    uint32_t want = packed(rrggbb);
    for (int y = ry0; y < ry1; y++)
        for (int x = rx0; x < rx1; x++) {
            uint32_t p = sim::capture_pixel(x, y);
            bool ok = true;
            for (int k = 0; k < 3; k++) {
                int a = (int)((p >> (8 * k)) & 0xFF), w = (int)((want >> (8 * k)) & 0xFF);
                ok &= abs(a - w) <= tol;
            }
            if (!ok)
                continue;
            b.n++;
            b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
            b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
        }
    return b;
}

/* Pixels where one colour family stands out: the name's green (green above
 * red and blue) or the tag's magenta (red and blue above green), at any
 * opacity and size. best: the brightest green or red seen. */
box tinted(bool green, int *best = nullptr)
{
    box b;
    for (int y = 0; y < 720; y++)
        for (int x = 0; x < 1280; x++) {
            uint32_t p = sim::capture_pixel(x, y);
            int r = p & 0xFF, g = (p >> 8) & 0xFF, bl = (p >> 16) & 0xFF;
            bool hit = green ? g > r + 40 && g > bl + 40 : r > g + 40 && bl > g + 40;
            if (!hit)
                continue;
            b.n++;
            b.x0 = std::min(b.x0, x), b.x1 = std::max(b.x1, x);
            b.y0 = std::min(b.y0, y), b.y1 = std::max(b.y1, y);
            if (best)
                *best = std::max(*best, green ? g : r);
        }
    return b;
}

box merge(const box &a, const box &b)
{
    box m;
    m.n = a.n + b.n;
    m.x0 = std::min(a.x0, b.x0), m.y0 = std::min(a.y0, b.y0);
    m.x1 = std::max(a.x1, b.x1), m.y1 = std::max(a.y1, b.y1);
    return m;
}

/* A remote player the test drives: its id on the server and the pose it sends. */
struct remote {
    uint16_t id = 0;
    double x = 0, y = 0, z = 0;
    uint32_t seq = 0;
};

class nametags : public rt::core_test {
protected:
    ts_server server {};
    bool serving = false;
    ts_client *me = nullptr;
    sim::camera_manager cams {};
    sim::camera_values cam;
    remote alice, bob;
    char saved_windir[MAX_PATH] = "";
    bool rendering = false;

    void SetUp() override
    {
        rt::core_test::SetUp();
        // Wine's xinput1_4 runs a thread of its own that can outlive the
        // library when the overlay frees it at the plug-in's unload (a page
        // fault at an address inside xinput1_4, on that thread, now and then).
        // Held for the whole process, it stays mapped.
        static HMODULE xinput = LoadLibraryA("xinput1_4.dll");
        (void)xinput;
        // A Windows folder without fonts: the tags use Dear ImGui's own font.
        GetEnvironmentVariableA("WINDIR", saved_windir, sizeof saved_windir);
        std::string win = root + "\\windows";
        CreateDirectoryA(win.c_str(), nullptr);
        SetEnvironmentVariableA("WINDIR", win.c_str());
        // The camera: sector (1, -2), local (10, 20, 30), so world (522, 20, -994), looking along -z.
        cams = sim::camera_manager_create(player, 2);
        cam.fov_h = 90, cam.fov_v = fov_v;
        cam.sector_x = 1, cam.sector_z = -2;
        cam.x = 10, cam.y = 20, cam.z = 30;
        sim::camera_set((uint8_t *)(uintptr_t)cams.array[0], cam);
    }

    void TearDown() override
    {
        rt::core_test::TearDown();
        if (rendering)
            sim::render_close();
        if (serving)
            ts_stop(&server);
        SetEnvironmentVariableA("WINDIR", saved_windir[0] ? saved_windir : nullptr);
    }

    uint8_t *camera0() { return (uint8_t *)(uintptr_t)cams.array[0]; }

    /* The game with the overlay, joined to the test server; alice (role
     * "crew", magenta tag, green name) and bob (no role) on the server. */
    void join()
    {
        ASSERT_TRUE(ts_start(&server, 0));
        serving = true;
        write_config(fmt("server = 127.0.0.1\nport = %u\nname = tester\nui_toasts = 0\nui_statusbar = 0\n",
                         server.port));
        ASSERT_TRUE(sim::render_open());
        rendering = true;
        start();
        for (int i = 0; i < 200 && !(me && me->states_in > 0); i++) {
            step(1);
            me = ts_find_name(&server, "tester");
        }
        ASSERT_TRUE(me && me->states_in > 0) << log_text();
        alice.id = ts_add_bot(&server, "alice", sim::clock_now());
        bob.id = ts_add_bot(&server, "bob", sim::clock_now());
        ts_send_role(&server, alice.id, TAG, NAME, "crew");
        place(alice, 0, 0, -40);
        place(bob, 0, 0, 0, false);
        step(30);
        ASSERT_GE(log_find("[net] player " + std::to_string(alice.id) + " 'alice' role: crew"), 0) << log_text();
    }

    /* Puts a player's tag anchor (4.5 m above its pose) at this offset from
     * the camera's world position (522, 20, -994); away: 2 km to the side. */
    void place(remote &r, double dx, double dy, double dz, bool here = true)
    {
        r.x = 522 + dx + (here ? 0 : 2000);
        r.y = 20 + dy - 4.5;
        r.z = -994 + dz;
    }

    void send_state(remote &r)
    {
        net_pose pose = {};
        pose.flags = 4;
        pose.pos[0] = r.x, pose.pos[1] = r.y, pose.pos[2] = r.z;
        pose.rot[0] = 1;
        uint8_t p[128];
        int n = net_build_state(p, sizeof p, (uint32_t)(uint64_t)(sim::clock_now() * 1000), &pose, 0);
        ts_send(&server, me, NET_STATE, ++r.seq, r.id, p, n);
    }

    /* Game frames (with the overlay's Present) while both players send
     * states every frame and the server answers. */
    void step(int n, double dt = 1.0 / 30)
    {
        for (int i = 0; i < n; i++) {
            if (me && alice.id) {
                send_state(alice);
                send_state(bob);
            }
            ts_poll(&server, sim::clock_now());
            sim::game_frames(1, dt);
        }
        ts_poll(&server, sim::clock_now());
    }

    /* Long enough for the interpolation to settle on the new poses, then one
     * captured frame. */
    void shot(const char *png = nullptr)
    {
        step(20);
        send_state(alice);
        send_state(bob);
        ts_poll(&server, sim::clock_now());
        ASSERT_TRUE(sim::capture_frame(1.0 / 30));
        if (png)
            sim::capture_save_png((root + "\\" + png).c_str());
    }

    /* The lines a command logged (its own and the dispatcher's answers),
     * with the server kept answering. */
    std::vector<std::string> lines_of(const std::string &line)
    {
        int before = (int)log_lines().size();
        fx::write_file(base + "cmd.txt", line + "\n");
        step(8);
        wait_commands_taken();
        step(1); // runs the line the core's file worker has read
        auto all = log_lines();
        std::vector<std::string> out;
        bool after = false;
        auto starts = [](const std::string &l, const char *p) { return l.compare(0, strlen(p), p) == 0; };
        for (int i = before; i < (int)all.size(); i++) {
            const std::string &l = all[i];
            if (after && (starts(l, "[cam] ") || starts(l, "[nametags] ") || starts(l, "[core] unknown command") ||
                          starts(l, "[core] refused")))
                out.push_back(l);
            else if (l == "[core] cmd: " + line)
                after = true;
        }
        return out;
    }
};

TEST_F(nametags, TagsStandWhereTheCameraSeesThePlayers)
{
    join();
    // At 40 m: the centre of the tag (prefix and name) at the projected x,
    // the name's bottom at the projected y. tan_h = 1, tan_v = 0.5625.
    const float t10 = (float)tan(10 * pi / 180), s5 = (float)sin(5 * pi / 180), c5 = (float)cos(5 * pi / 180);
    struct {
        const char *name;
        double dx, dy, dz; /* alice's anchor from the camera position */
        float fov_h;
        int16_t sector_x;
        float qw, qy;
        bool override_cam; /* the camera as an override camera, array entry 0 turned away */
        double x, y;       /* expected screen position of the anchor */
    } rows[] = {
        { "ahead", 0, 0, -40, 90, 1, 1, 0, false, 640, 360 },
        { "5 m right", 5, 0, -40, 90, 1, 1, 0, false, 640 * (1 + 5.0 / 40), 360 },
        { "5 m right, 60 degree field", 5, 0, -40, 60, 1, 1, 0, false, 640 * (1 + 0.125 / tan(30 * pi / 180)), 360 },
        { "5 m up", 0, 5, -40, 90, 1, 1, 0, false, 640, 360 * (1 - 5.0 / (40 * tan_v)) },
        { "camera turned 10 degrees left", 0, 0, -40, 90, 1, c5, s5, false, 640 * (1 + t10), 360 },
        // The same world position written from the next sector: local x -502.
        { "camera in the next sector", 5, 0, -40, 90, 2, 1, 0, false, 720, 360 },
        { "override camera", 5, 0, -40, 90, 1, 1, 0, true, 720, 360 },
    };
    double ahead_cx = 0, ahead_bottom = 0;
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        sim::camera_values v = cam;
        v.fov_h = r.fov_h;
        v.sector_x = r.sector_x;
        v.x = r.sector_x == 2 ? 10 - 512 : 10;
        v.q[0] = r.qw, v.q[2] = r.qy;
        if (r.override_cam) {
            sim::camera_values away = cam;
            away.q[0] = 0, away.q[2] = 1; // turned round
            sim::camera_set(camera0(), away);
            sim::camera_set_override(cams, sim::camera_new(v));
        } else {
            sim::camera_set(camera0(), v);
            sim::camera_set_override(cams, nullptr);
        }
        place(alice, r.dx, r.dy, r.dz);
        shot((std::string(r.name) + ".png").c_str());
        box tag = find(TAG), name = find(NAME), all = merge(tag, name);
        ASSERT_GT(tag.n, 10);
        ASSERT_GT(name.n, 10);
        EXPECT_LT(tag.x1, name.x0) << "the prefix stands left of the name";
        EXPECT_GT(find(0x000000, 24, all.x0 - 1, all.y0 - 1, all.x1 + 2, all.y1 + 2).n, 20) << "the outline";
        EXPECT_NEAR(all.cx(), r.x, 3.0) << all.x0 << ".." << all.x1;
        EXPECT_LE(name.y1, r.y) << "the name ends above the anchor";
        EXPECT_GE(name.y1, r.y - 8);
        EXPECT_EQ(find(WHITE, 80).n, 0) << "bob is far away";
        if (r.x == 640 && r.y == 360 && !ahead_cx) {
            ahead_cx = all.cx();
            ahead_bottom = name.y1;
        }
        // Moves agree with the projection to the pixel (the font's shapes cancel out).
        if (r.y == 360 && ahead_cx) {
            EXPECT_NEAR(all.cx() - ahead_cx, r.x - 640, 1.01);
        } else if (ahead_cx) {
            EXPECT_NEAR(name.y1 - ahead_bottom, r.y - 360, 1.01);
        }
    }

    // A player without a role: a white name without a prefix.
    sim::camera_set(camera0(), cam);
    sim::camera_set_override(cams, nullptr);
    place(alice, 0, 0, -40, false);
    place(bob, -10, 0, -40);
    shot("no_role.png");
    box white = find(WHITE, 80);
    EXPECT_GT(white.n, 10);
    EXPECT_NEAR(white.cx(), 640 * (1 - 10.0 / 40), 3.0);
    EXPECT_EQ(tinted(false).n, 0) << "no prefix";
    EXPECT_EQ(tinted(true).n, 0);
}

TEST_F(nametags, TagsHiddenOffBehindBeyondTheRangeAndWithoutAView)
{
    join();
    shot();
    int seen = tinted(true).n;
    ASSERT_GT(seen, 10) << log_text();
    EXPECT_EQ(log_find("[core] FRAME FAULT"), -1);

    struct {
        const char *name;
        const char *command;          /* run first, or null */
        double dz;                    /* alice at this distance ahead */
        std::function<void()> camera; /* changes the camera, or null */
        bool shown;
    } rows[] = {
        { "tags off", "nametags off", -40, nullptr, false },
        { "tags on again", "nametags on", -40, nullptr, true },
        { "behind the camera", nullptr, 40, nullptr, false },
        { "400 m", nullptr, -400, nullptr, true },
        { "beyond 500 m", nullptr, -501, nullptr, false },
        { "range 50 m, at 40 m", "nametags dist 50", -40, nullptr, true },
        { "range 50 m, at 60 m", nullptr, -60, nullptr, false },
        { "range 500 m again", "nametags dist 500", -40, nullptr, true },
        { "horizontal field 179 degrees", nullptr, -40,
          [&] { sim::put<float>(camera0(), sim::cam_off::fov_h, 179); }, false },
        { "vertical field 1 degree", nullptr, -40, [&] { sim::put<float>(camera0(), sim::cam_off::fov_v, 1); },
          false },
        { "position not a number", nullptr, -40,
          [&] { sim::put<float>(camera0(), sim::cam_off::position + 4, NAN); }, false },
        { "quaternion infinite", nullptr, -40,
          [&] { sim::put<float>(camera0(), sim::cam_off::orientation + 8, INFINITY); }, false },
        // Entry 2 holds a camera, but the array's count is 2.
        { "active index beyond the array", nullptr, -40,
          [&] {
              sim::camera_put(cams, 2, sim::camera_new(cam));
              sim::camera_set_active(cams, 2);
          },
          false },
        { "active index negative", nullptr, -40, [&] { sim::camera_set_active(cams, -1); }, false },
        { "no camera manager", nullptr, -40, [&] { sim::put<uint64_t>(player.ctrl, sim::cam_off::ctrl_manager, 0); },
          false },
        { "no profile (no game_ctrl)", nullptr, -40, [&] { sim::game_player_remove(); }, false },
        // Memory that faults: never touched (a guard page keeps its guard).
        { "camera on a no-access page", nullptr, -40,
          [&] { sim::game_protect(camera0(), sim::camera_size, PAGE_NOACCESS); }, false },
        { "camera on a guard page", nullptr, -40,
          [&] { sim::game_protect(camera0(), sim::camera_size, PAGE_READWRITE | PAGE_GUARD); }, false },
        { "camera manager pointing at unmapped memory", nullptr, -40,
          [&] { sim::put<uint64_t>(player.ctrl, sim::cam_off::ctrl_manager, 0x10); }, false },
    };
    for (auto &r : rows) {
        SCOPED_TRACE(r.name);
        // Each row starts from the working camera.
        sim::game_protect(camera0(), sim::camera_size, PAGE_READWRITE);
        sim::camera_set(camera0(), cam);
        sim::camera_set_active(cams, 0);
        sim::put<uint64_t>(player.ctrl, sim::cam_off::ctrl_manager, (uint64_t)(uintptr_t)cams.object);
        sim::game_put<uint64_t>(sim::off::game_ctrl, (uint64_t)(uintptr_t)player.ctrl);
        if (r.command) {
            ASSERT_FALSE(lines_of(r.command).empty());
        }
        place(alice, 0, 0, r.dz);
        if (r.camera)
            r.camera();
        shot();
        if (r.shown)
            EXPECT_GT(tinted(true).n, 10);
        else
            EXPECT_EQ(tinted(true).n + tinted(false).n, 0);
        MEMORY_BASIC_INFORMATION mbi;
        VirtualQuery(camera0(), &mbi, sizeof mbi);
        if (strstr(r.name, "guard page")) {
            EXPECT_TRUE(mbi.Protect & PAGE_GUARD) << "the guard page was never touched";
        }
    }
    sim::game_protect(camera0(), sim::camera_size, PAGE_READWRITE);
    EXPECT_EQ(log_find("[core] FRAME FAULT"), -1) << log_text();
    EXPECT_EQ(log_find("[core] ui: draw callback"), -1) << log_text();
}

TEST_F(nametags, FadeAndSizeWithTheDistance)
{
    join();
    // The brightest green of the name and its height: opaque and large at
    // 40 m, opaque at 0.91 of the base size at 400 m (t 0.8), alpha 127 at
    // 450 m (t 0.9), nothing at 500 m (alpha 0).
    const double dz[4] = { -40, -400, -450, -500 };
    int best[4] = {}, height[4] = {};
    for (int i = 0; i < 4; i++) {
        SCOPED_TRACE(dz[i]);
        place(alice, 0, 0, dz[i]);
        shot(fmt("fade_%d.png", i).c_str());
        box b = tinted(true, &best[i]);
        height[i] = b.n ? b.y1 - b.y0 + 1 : 0;
    }
    EXPECT_GE(best[0], 245);
    EXPECT_GT(height[0], height[1]) << "1.35 - 0.55 t of the base size";
    EXPECT_GT(best[1], 160);
    EXPECT_LT(best[2], best[1] * 3 / 4) << "half opaque";
    EXPECT_GT(best[2], best[1] / 4);
    EXPECT_EQ(best[3], 0);
}

TEST_F(nametags, CamCommand)
{
    join();
    placement truck = {};
    truck.x = 10, truck.y = 20, truck.z = 10, truck.sector_x = 1, truck.sector_z = -2, truck.qw = 1;
    sim::player_set_placement(&truck);
    place(bob, 40, 0, -40);
    step(20);
    EXPECT_EQ(lines_of("cam w2s"),
              (std::vector<std::string> {
                  "[cam] pos 522.00 20.00 -994.00 fwd 0.000 0.000 -1.000 tan_h 1.0000 tan_v 0.5625",
                  "[cam] our truck 522.0 20.0 -1014.0 -> screen 960, 540 (depth 20.0 m, 1920x1080)",
                  fmt("[cam] tag %u 'alice' [crew] -> screen 960, 540 (depth 40.0 m)", alice.id),
                  fmt("[cam] tag %u 'bob' [] -> screen 1920, 540 (depth 40.0 m)", bob.id) }));

    // The truck does not answer: the world origin, behind this camera.
    sim::player_set_placement(&truck, false);
    place(bob, 0, 0, 40);
    step(20);
    auto w2s = lines_of("cam w2s");
    ASSERT_EQ(w2s.size(), 4u);
    EXPECT_EQ(w2s[1], "[cam] our truck 0.0 0.0 0.0 -> BEHIND 0, 0 (depth -994.0 m, 1920x1080)");
    EXPECT_EQ(w2s[3], fmt("[cam] tag %u 'bob' [] -> BEHIND 0, 0 (depth -40.0 m)", bob.id));

    // The manager from game_ctrl: +960 gives game_ctrl + 0x960, +38 reads the manager there and
    // adds 0x38: its array pointer, the count (2), then the override list at +0x68 and its count.
    auto words = [](uint64_t v) { return fmt("%08x %08x", (uint32_t)v, (uint32_t)(v >> 32)); };
    auto floats = [](uint64_t v) {
        float f[2];
        memcpy(f, &v, 8);
        return fmt("%11.4f %11.4f", f[0], f[1]);
    };
    uint64_t array = (uint64_t)(uintptr_t)cams.array, list = (uint64_t)(uintptr_t)cams.overrides;
    EXPECT_EQ(lines_of("cam dump 40 +960 +38"),
              (std::vector<std::string> {
                  fmt("[cam] dump %p", (void *)(cams.object + 0x38)),
                  "[cam] +000: " + words(array) + " 00000002 00000000 | " + floats(array) + "      0.0000      0.0000",
                  "[cam] +010: 00000000 00000000 00000000 00000000 |      0.0000      0.0000      0.0000      0.0000",
                  "[cam] +020: 00000000 00000000 00000000 00000000 |      0.0000      0.0000      0.0000      0.0000",
                  "[cam] +030: " + words(list) + " 00000000 00000000 | " + floats(list) + "      0.0000      0.0000" }));

    // The active camera, 0xC0 bytes by default: its fields at +0x38..+0x60.
    uint32_t fv;
    memcpy(&fv, &fov_v, 4);
    auto dump = lines_of("cam dump");
    ASSERT_EQ(dump.size(), 13u);
    EXPECT_EQ(dump[0], fmt("[cam] dump %p", (void *)camera0()));
    EXPECT_EQ(dump[4], fmt("[cam] +030: 00000000 00000000 42b40000 %08x |      0.0000      0.0000     90.0000 %11.4f",
                           fv, (double)fov_v));
    uint32_t sectors = 0xfffe0001; // x 1, z -2
    float sectors_f;
    memcpy(&sectors_f, &sectors, 4);
    EXPECT_EQ(dump[5], fmt("[cam] +040: 41200000 41a00000 41f00000 fffe0001 |     10.0000     20.0000     30.0000 %11.4f",
                           (double)sectors_f));
    EXPECT_EQ(dump[6], "[cam] +050: 3f800000 00000000 00000000 00000000 |      1.0000      0.0000      0.0000      0.0000");
    EXPECT_EQ(dump[12], "[cam] +0b0: 00000000 00000000 00000000 00000000 |      0.0000      0.0000      0.0000      0.0000");

    // A camera at the end of its memory: the row past it cannot be read.
    uint8_t *short_cam = sim::camera_new(cam, 0x60);
    sim::camera_set_override(cams, short_cam);
    auto cut = lines_of("cam dump 80");
    ASSERT_EQ(cut.size(), 8u);
    EXPECT_EQ(cut[0], fmt("[cam] dump %p", (void *)short_cam));
    EXPECT_EQ(cut[7], "[cam] unreadable at +60");
    sim::camera_set_override(cams, nullptr);

    // A camera whose values are not finite gives no view.
    sim::put<float>(camera0(), sim::cam_off::position, INFINITY);
    EXPECT_EQ(lines_of("cam w2s"), (std::vector<std::string> { "[cam] no camera / bad fov" }));
    sim::camera_set(camera0(), cam);

    sim::game_protect(camera0(), sim::camera_size, PAGE_NOACCESS);
    EXPECT_EQ(lines_of("cam dump"), (std::vector<std::string> { fmt("[cam] dump %p", (void *)camera0()),
                                                                "[cam] unreadable at +0" }));
    EXPECT_EQ(lines_of("cam w2s"), (std::vector<std::string> { "[cam] no camera / bad fov" }));
    sim::game_protect(camera0(), sim::camera_size, PAGE_READWRITE);

    // A chain through a null pointer (the manager's first word) stops there.
    EXPECT_EQ(lines_of("cam dump 10 +960 +0 +8"),
              (std::vector<std::string> { fmt("[cam] chain: null/unreadable at %p", (void *)cams.object) }));
    EXPECT_EQ(lines_of("cam"), (std::vector<std::string> { "[cam] usage: cam dump [len] [+off ...] | cam w2s" }));
    EXPECT_EQ(lines_of("cam zoom"), (std::vector<std::string> { "[cam] usage: cam dump [len] [+off ...] | cam w2s" }));
    EXPECT_EQ(lines_of("camera"), (std::vector<std::string> { "[core] unknown command" }));

    sim::game_player_remove();
    EXPECT_EQ(lines_of("cam dump 10 +960"), (std::vector<std::string> { "[cam] no game_ctrl" }));
    EXPECT_EQ(lines_of("cam dump"), (std::vector<std::string> { "[cam] no camera (no profile loaded?)" }));
    EXPECT_EQ(lines_of("cam w2s"), (std::vector<std::string> { "[cam] no camera / bad fov" }));
}

TEST_F(nametags, NametagsCommand)
{
    join();
    struct {
        const char *line, *logged;
    } rows[] = {
        { "nametags", "[nametags] on, max 500 m" },
        { "nametags off", "[nametags] off, max 500 m" },
        { "nametags dist 5", "[nametags] off, max 500 m" },
        // No distance at all: refused, and the range stays.
        { "nametags dist -1", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametags dist nan", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametags dist 1e309", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametags dist 80 m", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametags", "[nametags] off, max 500 m" },
        { "nametags dist 50", "[nametags] off, max 50 m" },
        { "nametags   on", "[nametags] on, max 50 m" },
        { "nametags dist inf", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametags", "[nametags] on, max 50 m" },
        { "nametags dist", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametags maybe", "[nametags] usage: nametags on|off|dist <m>" },
        { "nametagsoff", "[core] unknown command" },
    };
    for (auto &r : rows)
        EXPECT_EQ(lines_of(r.line), (std::vector<std::string> { r.logged })) << r.line;

    // Both settings start again at their defaults with the next core.
    ASSERT_FALSE(lines_of("nametags off").empty());
    fx::set_write_time(base + "core\\drovemark_core.dll", 30);
    step(40);
    ASSERT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    EXPECT_EQ(lines_of("nametags"), (std::vector<std::string> { "[nametags] on, max 500 m" }));
}

TEST_F(nametags, NoTagsOnAnotherGameBuild)
{
    sim::set_build_hash("000000000000");
    join();
    shot("other_build.png");
    EXPECT_EQ(tinted(true).n + tinted(false).n, 0);
    EXPECT_EQ(lines_of("cam w2s"), (std::vector<std::string> {
                                       "[core] refused on this game build (only ping, pos, build, threads, net, "
                                       "config, update)" }));
}

} // namespace

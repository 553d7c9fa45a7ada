// The Servers page through the real plug-in and ui_test_core.dll (the
// real core with a snapshot export) in the simulated game: the list comes
// over loopback HTTP from a scripted server of this process, its servers are
// test servers on 127.0.0.1 that answer the worker's info queries, and the
// page is read from the swap chain's pixels. Clicks and keys are window
// messages.
#include <winsock2.h>
#include "host/overlay_fixture.h"
#include "http_server.h"
#include "online/servers.h"
#include "testserver.h"

namespace {

typedef uint32_t (*snapshot_fn)(server_list_snapshot *out);

std::string num(unsigned v) { return std::to_string(v); }

// The menu is 1060 x 640 in the middle of 1280 x 720; its page area starts
// 230 + 32 px right of the menu's left edge and 28 px below its top, and is
// 766 px wide.
constexpr int PAGE_X = 110 + 230 + 32, PAGE_W = 766, PAGE_Y = 40 + 28;
// A card's columns from the page's right edge.
constexpr int JOIN_X = PAGE_X + PAGE_W - 16 - 112, STAR_X = JOIN_X - 40, PING_X = STAR_X - 70,
              PLAYERS_X = PING_X - 104;
// The title's buttons.
constexpr int ADD_X = PAGE_X + PAGE_W - 300 + 75, REFRESH_X = PAGE_X + PAGE_W - 300 + 160 + 70, BUTTONS_Y = PAGE_Y + 6 + 19;

class servers_page : public overlay {
protected:
    ts_server game[3];
    hs_server http = {};
    bool http_running = false;
    // The test servers answer on a thread of their own, so that the pings
    // measure loopback, not the test's frames.
    HANDLE poller = nullptr;
    volatile LONG stop_polling = 0;
    snapshot_fn snapshot_ = nullptr;
    server_list_snapshot snap;

    void SetUp() override
    {
        overlay::SetUp();
        CreateDirectoryA(base.c_str(), nullptr);
        memset(&snap, 0, sizeof snap);
        // alpha answers with room, bravo speaks protocol 2, charlie is full.
        const char *names[] = { "alpha", "bravo", "charlie" };
        const uint8_t max[] = { 8, 16, 2 };
        for (int i = 0; i < 3; i++) {
            ASSERT_TRUE(ts_start(&game[i], 0));
            snprintf(game[i].info_name, sizeof game[i].info_name, "%s", names[i]);
            game[i].max_players = max[i];
        }
        game[1].protocol = 2;
        ASSERT_TRUE(ts_add_bot(&game[2], "bot one", 1) && ts_add_bot(&game[2], "bot two", 1));
        poller = CreateThread(nullptr, 0, &poll_servers, this, 0, nullptr);
        ASSERT_TRUE(poller);
    }

    static DWORD WINAPI poll_servers(void *p)
    {
        auto *t = (servers_page *)p;
        while (!t->stop_polling) {
            double now = GetTickCount64() / 1000.0;
            for (auto &g : t->game)
                ts_poll(&g, now);
            Sleep(1);
        }
        return 0;
    }

    void TearDown() override
    {
        overlay::TearDown(); // the plug-in's shutdown stops the worker
        if (poller) {
            InterlockedExchange(&stop_polling, 1);
            WaitForSingleObject(poller, 5000);
            CloseHandle(poller);
        }
        for (auto &g : game)
            ts_stop(&g);
        if (http_running)
            hs_stop(&http);
    }

    uint16_t port(int i) { return game[i].port; }
    void serve_http() { ASSERT_TRUE(http_running = hs_start(&http)); }
    std::string url(const char *path) { return "http://127.0.0.1:" + num(http.port) + path; }
    void set_source(const std::string &source)
    {
        write_config("autoconnect = 0\nname = tester\nserver_list = " + source + "\n");
    }

    // The core, the menu open on its first page (Servers).
    void open(const std::string &source)
    {
        set_source(source);
        start("ui_test_core.dll");
        snapshot_ = core_export<snapshot_fn>("srvtest_snapshot");
        ASSERT_TRUE(snapshot_);
        toggle_ui();
    }

    // Game frames in real time.
    void frames(int n)
    {
        for (int i = 0; i < n; i++) {
            sim::game_frames(1);
            Sleep(5);
        }
    }
    template <class F> bool until(F cond, double seconds = 15)
    {
        uint64_t end = GetTickCount64() + (uint64_t)(seconds * 1000);
        while (GetTickCount64() < end) {
            frames(1);
            if (snapshot_(&snap) && cond())
                return true;
        }
        return false;
    }
    bool settled()
    {
        return until([&] { return !snap.busy && snap.state != SERVER_LIST_LOADING && snap.last_query_end != 0; });
    }

    void click(int x, int y)
    {
        sim::mouse_click_message(x, y);
        frames(3);
    }
    void type(const char *text)
    {
        for (const char *c = text; *c; c++)
            sim::window_send(WM_CHAR, (WPARAM)(unsigned char)*c, 1);
        frames(2);
    }
    void key(WPARAM vk, int times = 1)
    {
        for (int i = 0; i < times; i++) {
            sim::window_send(WM_KEYDOWN, vk, 1);
            frames(1);
            sim::window_send(WM_KEYUP, vk, 1u | (3u << 30));
            frames(1);
        }
    }

    // The vertical middle of each card on the last capture, found down a
    // column inside the cards (a card is 76 px high).
    std::vector<int> card_middles()
    {
        std::vector<int> mids;
        int run = 0;
        for (int y = PAGE_Y; y < 660; y++) {
            uint32_t p = sim::capture_pixel(PAGE_X + 38, y); // between the dot and the name
            if (close_to(p, rgb(0x21262E), 2) || close_to(p, rgb(0x29303A), 2)) {
                run++;
                continue;
            }
            if (run >= 70)
                mids.push_back(y - run + 38);
            run = 0;
        }
        return mids;
    }
    bool has_line(const std::string &file, const std::string &line)
    {
        std::string text = "\n" + fx::read_file(file);
        return text.find("\n" + line + "\r\n") != std::string::npos || text.find("\n" + line + "\n") != std::string::npos;
    }
    int count(int x0, int y0, int x1, int y1, uint32_t rrggbb, int tol = 12)
    {
        return sim::capture_count(x0, y0, x1, y1, rgb(rrggbb), tol);
    }
};

TEST_F(servers_page, CardsFromTheListWithTheLiveQueryStarsAndJoin)
{
    static std::string list;
    list = "[{\"name\":\"Alpha road\",\"description\":\"The live test server\",\"region\":\"EU\",\"host\":\"127.0.0.1\","
           "\"port\":" + num(port(0)) + "},"
           "{\"host\":\"127.0.0.1\",\"port\":" + num(port(1)) + "},"
           "{\"host\":\"127.0.0.1\",\"port\":" + num(port(2)) + "}]";
    hs_route_add(&http, "/list.json", 200, HS_ANSWER, list.data(), list.size());
    serve_http();
    open(url("/list.json"));
    ASSERT_TRUE(settled()) << snap.status;
    ASSERT_EQ(snap.count, 3);
    frames(5);
    capture("servers_page.png");
    auto mid = card_middles();
    ASSERT_EQ(mid.size(), 3u);

    // The status dot: answered (green), another protocol (yellow).
    uint32_t dot[3];
    for (int i = 0; i < 3; i++)
        dot[i] = sim::capture_pixel(PAGE_X + 24, mid[i]);
    EXPECT_TRUE(close_to(dot[0], rgb(0x4DD96B), 6)) << hex(dot[0]);
    EXPECT_TRUE(close_to(dot[1], rgb(0xF5C833), 6)) << hex(dot[1]);
    EXPECT_TRUE(close_to(dot[2], rgb(0x4DD96B), 6)) << hex(dot[2]);
    // Players and capacity: alpha 0 of 8 (an empty bar), charlie 2 of 2 (full, red).
    auto bar = [&](int i, uint32_t c) { return count(PLAYERS_X, mid[i] + 8, PLAYERS_X + 84, mid[i] + 13, c, 10); };
    EXPECT_EQ(bar(0, 0xF25A5A) + bar(0, 0xFF8C1A), 0);
    EXPECT_GT(bar(2, 0xF25A5A), 84 * 4);
    EXPECT_GT(count(PLAYERS_X + 24, mid[0] - 20, PLAYERS_X + 100, mid[0], 0xEDF0F5), 20) << "players text";
    // The ping on loopback is green.
    EXPECT_GT(count(PING_X, mid[0] - 10, PING_X + 60, mid[0] + 10, 0x4DD96B), 20);
    // The region pill beside the name.
    EXPECT_GT(count(PAGE_X + 46, mid[0] - 24, PLAYERS_X, mid[0] - 2, 0xFFA240, 20), 10);
    // The description on the first card, the address on the others.
    EXPECT_GT(count(PAGE_X + 46, mid[0] + 4, PLAYERS_X, mid[0] + 22, 0x9BA4AF), 20);
    EXPECT_EQ(count(PAGE_X + 46, mid[1] + 4, PLAYERS_X, mid[1] + 22, 0x9BA4AF), 0);
    EXPECT_GT(count(PAGE_X + 46, mid[1] + 4, PLAYERS_X, mid[1] + 22, 0x666E78), 20);

    // The star writes favorites.txt; the next snapshot shows it lit.
    auto lit = [&](int i) { return count(STAR_X, mid[i] - 16, STAR_X + 32, mid[i] + 16, 0xFF8C1A, 20); };
    EXPECT_EQ(lit(0), 0);
    std::string fav = "127.0.0.1 " + num(port(0));
    click(STAR_X + 16, mid[0]);
    ASSERT_TRUE(until([&] { return snap.entries[0].favourite; }));
    EXPECT_TRUE(has_line(base + "favorites.txt", fav)) << fx::read_file(base + "favorites.txt");
    frames(3);
    capture("servers_page_starred.png");
    EXPECT_GT(lit(0), 5);
    click(STAR_X + 16, mid[0]);
    ASSERT_TRUE(until([&] { return !snap.entries[0].favourite && snap.count == 3; }));
    EXPECT_FALSE(has_line(base + "favorites.txt", fav));

    // Bravo's context menu, opened by a right click on the card: under the
    // address (muted) its two items.
    auto context_item = [&](int item) {
        int x = PAGE_X + 300, y = mid[1];
        LPARAM at = MAKELPARAM(x, y);
        sim::window_send(WM_MOUSEMOVE, 0, at);
        frames(1);
        sim::window_send(WM_RBUTTONDOWN, MK_RBUTTON, at);
        frames(1);
        sim::window_send(WM_RBUTTONUP, 0, at);
        frames(3);
        capture(item ? nullptr : "servers_card_menu.png");
        // The first item's text: the first text row below the mouse cursor
        // and the address; the items follow each other 27 px apart.
        int first = -1;
        for (int yy = y + 25; yy < y + 90 && first < 0; yy++)
            if (count(x + 4, yy, x + 150, yy + 1, 0xEDF0F5, 30) > 0)
                first = yy;
        ASSERT_GT(first, 0) << item;
        click(x + 40, first + 6 + 27 * item);
    };
    context_item(0); // "Add to favourites"
    ASSERT_TRUE(until([&] { return snap.entries[1].favourite; }));
    EXPECT_TRUE(has_line(base + "favorites.txt", "127.0.0.1 " + num(port(1))));
    context_item(1); // "Copy address"
    std::string copied;
    if (OpenClipboard(nullptr)) {
        HANDLE h = GetClipboardData(CF_TEXT);
        const char *text = h ? (const char *)GlobalLock(h) : nullptr;
        if (text) {
            copied = text;
            GlobalUnlock(h);
        }
        CloseClipboard();
    }
    EXPECT_EQ(copied, "127.0.0.1:" + num(port(1)));

    // Join is disabled for another protocol and for a full server.
    for (int i = 1; i < 3; i++) {
        click(JOIN_X + 56, mid[i]);
        frames(5);
        EXPECT_LT(log_find("[net] connecting to 127.0.0.1:" + num(port(i))), 0) << i;
    }
    // Alpha's Join: the target goes into config.ini, then the join runs.
    click(JOIN_X + 56, mid[0]);
    int connect = -1;
    ASSERT_TRUE(until([&] {
        connect = log_find("[net] connecting to 127.0.0.1:" + num(port(0)) + " as 'tester'");
        return connect >= 0 && log_find("[net] joined as player") >= 0;
    })) << log_text();
    int server_line = log_find("[core] ui: config server = 127.0.0.1");
    int port_line = log_find("[core] ui: config port = " + num(port(0)));
    EXPECT_TRUE(server_line >= 0 && port_line >= 0 && port_line < connect) << log_text();
    EXPECT_NE(fx::read_file(base + "config.ini").find("port = " + num(port(0))), std::string::npos);
    frames(10);
    capture("servers_page_joined.png");
    // The current server's card: a green outline and a red Leave.
    mid = card_middles();
    ASSERT_EQ(mid.size(), 3u) << "below the green banner";
    EXPECT_GT(count(PAGE_X + 100, mid[0] - 44, PAGE_X + 400, mid[0] - 34, 0x4DD96B, 30), 250);
    EXPECT_GT(count(JOIN_X + 10, mid[0] - 15, JOIN_X + 100, mid[0] + 15, 0xB43A3A, 8), 500);
    EXPECT_GT(count(PAGE_X, PAGE_Y + 60, PAGE_X + 300, mid[0] - 40, 0x4DD96B, 20), 50) << "Playing on banner";
}

// A Join whose server cannot be written to config.ini joins nothing, and the
// page says so in red under its title until a Join is written.
TEST_F(servers_page, AJoinThatCannotBeSavedJoinsNothingAndSaysSo)
{
    static std::string list;
    list = "[{\"host\":\"127.0.0.1\",\"port\":" + num(port(0)) + "}]";
    hs_route_add(&http, "/list.json", 200, HS_ANSWER, list.data(), list.size());
    serve_http();
    open(url("/list.json"));
    ASSERT_TRUE(settled()) << snap.status;
    frames(5);
    capture("servers_join_list.png");
    auto mid = card_middles();
    ASSERT_EQ(mid.size(), 1u);
    // The subtitle's row, left of the title's buttons.
    auto red_subtitle = [&] { return count(PAGE_X, PAGE_Y + 36, ADD_X - 90, PAGE_Y + 60, 0xF25A5A, 40); };
    EXPECT_EQ(red_subtitle(), 0);
    std::string before = fx::read_file(base + "config.ini");

    // Held open by another program that lets others only read it.
    HANDLE h = CreateFileA((base + "config.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    click(JOIN_X + 56, mid[0]);
    frames(10);
    capture("servers_join_not_saved.png");
    CloseHandle(h);
    EXPECT_GE(log_find("[core] ui: config server = 127.0.0.1 (write FAILED)"), 0) << log_text();
    EXPECT_LT(log_find("[net] connecting to"), 0) << log_text();
    EXPECT_LT(log_find("[core] cmd: config refresh"), 0) << log_text();
    EXPECT_GT(red_subtitle(), 40) << "the page says the join was not saved";
    EXPECT_EQ(fx::read_file(base + "config.ini"), before);
    EXPECT_FALSE(fx::exists(base + "config.ini.new"));

    // Writable again: the same Join is saved and runs, and the line is gone.
    click(JOIN_X + 56, mid[0]);
    ASSERT_TRUE(until([&] { return log_find("[net] joined as player") >= 0; })) << log_text();
    EXPECT_NE(fx::read_file(base + "config.ini").find("port = " + num(port(0))), std::string::npos);
    frames(3);
    capture("servers_join_saved.png");
    EXPECT_EQ(red_subtitle(), 0);
}

TEST_F(servers_page, AddServerDialogTakesOnlyAValidHostAndPort)
{
    open("");
    ASSERT_TRUE(until([&] { return !snap.busy && snap.state == SERVER_LIST_NONE; }));
    click(ADD_X, BUTTONS_Y);
    frames(3);
    capture("add_server_opened.png");
    // The dialog in the middle of the screen, the page dimmed behind it.
    EXPECT_FALSE(close_to(sim::capture_pixel(1100, 640), rgb(0x13151A), 4)) << hex(sim::capture_pixel(1100, 640));
    // Its fields (#0F1216), side by side through the middle of the dialog.
    int field_y = -1;
    for (int y = 280; y < 440 && field_y < 0; y++)
        if (count(650, y, 730, y + 1, 0x0F1216, 2) == 80 && count(815, y, 835, y + 1, 0x0F1216, 2) == 20)
            field_y = y + 15;
    ASSERT_GT(field_y, 0);
    int port_x = -1;
    for (int x = 900; x > 700 && port_x < 0; x--)
        if (close_to(sim::capture_pixel(x, field_y), rgb(0x0F1216), 2))
            port_x = x - 30;
    ASSERT_GT(port_x, 0);
    auto port_field = [&](const char *text) {
        click(port_x, field_y);
        key(VK_END);
        key(VK_BACK, 8);
        type(text);
    };

    std::string favorites = base + "favorites.txt";
    key(VK_RETURN); // the host is empty
    frames(5);
    EXPECT_FALSE(fx::exists(favorites));
    // Blanks, control characters and ';' are not taken into the host.
    click(port_x - 200, field_y);
    type("127.0 .0;.\x01\x7f\t" "1");
    for (const char *bad : { "0", "65536", "+80" }) {
        port_field(bad);
        key(VK_RETURN);
        frames(5);
        EXPECT_FALSE(fx::exists(favorites)) << bad;
    }
    port_field(num(port(0)).c_str());
    capture("add_server_dialog.png");
    key(VK_RETURN);
    ASSERT_TRUE(until([&] { return snap.count == 1 && snap.entries[0].query_state == SERVER_ANSWERED; }))
        << fx::read_file(favorites);
    EXPECT_EQ(fx::read_file(favorites), "# drovemark favourite servers: host port (edited by the in-game server browser)\r\n"
                                        "127.0.0.1 " + num(port(0)) + "\r\n");
    EXPECT_TRUE(snap.entries[0].favourite);
    frames(5);
    capture("add_server_added.png");
    EXPECT_TRUE(close_to(sim::capture_pixel(1100, 640), rgb(0x13151A), 4)) << "the dialog closed";
    auto mid = card_middles();
    ASSERT_EQ(mid.size(), 1u);
    EXPECT_GT(count(STAR_X, mid[0] - 16, STAR_X + 32, mid[0] + 16, 0xFF8C1A, 20), 5) << "a favourite";
}

TEST_F(servers_page, FailedAndEmptyListsShowTheirStatus)
{
    hs_route_add(&http, "/empty.json", 200, HS_ANSWER, "[]", 2);
    serve_http();
    // "No servers yet" and under it the list's status, centred text in
    // #9BA4AF; the status line's width.
    auto empty_page = [&](const char *png) {
        frames(3);
        capture(png);
        int left = 10000, right = -1;
        for (int y = 220; y < 640; y++)
            for (int x = PAGE_X; x < PAGE_X + PAGE_W; x++)
                if (close_to(sim::capture_pixel(x, y), rgb(0x9BA4AF), 12)) {
                    left = x < left ? x : left;
                    right = x > right ? x : right;
                }
        EXPECT_GT(right, left) << png;
        EXPECT_NEAR((left + right) / 2, PAGE_X + PAGE_W / 2, 8) << png;
        EXPECT_GT(count(PAGE_X, 250, PAGE_X + PAGE_W, 300, 0xEDF0F5), 50) << png << ": No servers yet";
        return right - left;
    };

    open(url("/missing.json"));
    ASSERT_TRUE(until([&] { return !snap.busy && snap.state == SERVER_LIST_FAILED; }));
    EXPECT_STREQ(snap.status, "the list server answered HTTP 404");
    int failed = empty_page("servers_failed.png");

    set_source(url("/empty.json"));
    click(REFRESH_X, BUTTONS_Y);
    ASSERT_TRUE(until([&] { return !snap.busy && snap.state == SERVER_LIST_LOADED; }));
    EXPECT_EQ(std::string(snap.status), "0 servers from " + url("/empty.json"));
    int empty = empty_page("servers_empty.png");
    EXPECT_GT(empty, failed * 120 / 100) << "48 characters instead of 33: a wider line";
}

} // namespace

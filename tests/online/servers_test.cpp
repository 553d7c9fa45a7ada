// The server list through the real core in the simulated game: the plug-in
// loads a core (the real one with a few exports more) whose UI starts the
// server-list worker. The list comes from files in a temporary LOCALAPPDATA
// or over loopback HTTP through the real WinHTTP from a scripted server of
// this process; its servers are test servers on 127.0.0.1 that answer the
// worker's info queries over UDP.
#include <winsock2.h>
#include "sim/fixture.h"
#include "http_server.h"
#include "net/net_wire.h"
#include "online/servers.h"
#include "testserver.h"

namespace {

typedef uint32_t (*snapshot_fn)(server_list_snapshot *out);
typedef void (*refresh_fn)(int refetch);
typedef int (*edit_fn)(int op, const char *host, uint16_t port);

std::string num(unsigned v) { return std::to_string(v); }

class server_list : public fx::game_test {
protected:
    ts_server game[3];
    ts_server mute; // takes queries, never answers
    uint16_t mute_port = 0;
    hs_server http = {};
    bool http_running = false;
    snapshot_fn snapshot_ = nullptr;
    refresh_fn refresh_ = nullptr;
    edit_fn edit_ = nullptr;
    server_list_snapshot snap;
    uint32_t gen = 0;

    void SetUp() override
    {
        fx::game_test::SetUp();
        dm_dir_create(base.c_str());
        const char *names[] = { "alpha", "bravo", "charlie" };
        const uint8_t max[] = { 8, 16, 32 };
        for (int i = 0; i < 3; i++) {
            ASSERT_TRUE(ts_start(&game[i], 0));
            snprintf(game[i].info_name, sizeof game[i].info_name, "%s", names[i]);
            game[i].max_players = max[i];
        }
        ASSERT_TRUE(ts_start(&mute, 0));
        mute.silent = true;
        mute_port = mute.port;
        memset(&snap, 0, sizeof snap);
    }

    void TearDown() override
    {
        fx::game_test::TearDown(); // the plug-in's shutdown stops the worker
        for (auto &g : game)
            ts_stop(&g);
        ts_stop(&mute);
        if (http_running)
            hs_stop(&http);
        SetEnvironmentVariableA("DM_SRVTEST_NO_UDP", nullptr);
        SetEnvironmentVariableA("DM_SRVTEST_ALLOC_FAIL_FROM", nullptr);
    }

    uint16_t port(int i) { return game[i].port; }

    void serve_http() { ASSERT_TRUE(http_running = hs_start(&http)); }
    std::string url(const char *path) { return "http://127.0.0.1:" + num(http.port) + path; }

    void set_source(const std::string &source)
    {
        write_config("autoconnect = 0\nserver_list = " + source + "\n");
    }

    void start(const std::string &source)
    {
        set_source(source);
        install_core("ui_test_core.dll");
        ASSERT_EQ(init(), SCS_RESULT_OK);
        HMODULE m = core_module();
        ASSERT_TRUE(m) << log_text();
        snapshot_ = (snapshot_fn)(void *)GetProcAddress(m, "srvtest_snapshot");
        refresh_ = (refresh_fn)(void *)GetProcAddress(m, "srvtest_refresh");
        edit_ = (edit_fn)(void *)GetProcAddress(m, "srvtest_edit");
        ASSERT_TRUE(snapshot_ && refresh_ && edit_);
    }

    /* The core loaded last. */
    HMODULE core_module()
    {
        return GetModuleHandleW(fx::wide(base + "core\\loaded_" + num(core_generation()) + ".dll").c_str());
    }

    // The test servers answer while the test waits.
    template <class F> bool until(F cond, double seconds = 10)
    {
        uint64_t end = GetTickCount64() + (uint64_t)(seconds * 1000);
        for (;;) {
            double now = GetTickCount64() / 1000.0;
            for (auto &g : game)
                ts_poll(&g, now);
            ts_poll(&mute, now);
            gen = snapshot_(&snap);
            if (gen && cond())
                return true;
            if (GetTickCount64() > end)
                return false;
            Sleep(2);
        }
    }

    // Published after `after`, with no fetch or query pass running.
    bool settled(uint32_t after, double seconds = 15)
    {
        return until([&] { return gen > after && !snap.busy && snap.state != SERVER_LIST_LOADING; }, seconds);
    }

    // A refresh asked for while the worker is idle, waited out.
    bool refresh(bool refetch)
    {
        uint32_t before = gen;
        refresh_(refetch ? 1 : 0);
        return settled(before);
    }

    const server_entry *find(const char *host, uint16_t p)
    {
        for (int i = 0; i < snap.count; i++)
            if (strcmp(snap.entries[i].host, host) == 0 && snap.entries[i].port == p)
                return &snap.entries[i];
        return nullptr;
    }

    std::string entry_list()
    {
        std::string s;
        for (int i = 0; i < snap.count; i++)
            s += std::string(snap.entries[i].host) + ":" + num(snap.entries[i].port) + " ";
        return s + "(status: " + snap.status + ")";
    }

    std::string server_json(const char *host, uint16_t p) { return "{\"host\":\"" + std::string(host) + "\",\"port\":" + num(p) + "}"; }
    std::string two_servers() { return "[" + server_json("127.0.0.1", port(0)) + "," + server_json("127.0.0.1", port(1)) + "]"; }
};

// ---- where the list comes from ----

TEST_F(server_list, HttpListIsSavedAndStandsInWhenTheListServerFails)
{
    static std::string good, bad = "[{\"host\":", big, cut;
    good = two_servers();
    big = "[" + std::string(300000, ' ') + "]";
    // Cut half-way, what arrived is a list of its own: one server.
    cut = "{\"servers\":[" + server_json("127.0.0.1", port(0)) + "]" + std::string(4000, ' ') + ",\"servers\":[" +
          server_json("127.0.0.1", port(2)) + "]}";
    hs_route_add(&http, "/list.json", 200, HS_ANSWER, good.data(), good.size());
    hs_route_add(&http, "/bad.json", 200, HS_ANSWER, bad.data(), bad.size());
    hs_route_add(&http, "/big.json", 200, HS_ANSWER, big.data(), big.size());
    hs_route_add(&http, "/cut.json", 200, HS_CUT, cut.data(), cut.size());
    hs_route_add(&http, "/gone.json", 500, HS_ANSWER, "oops", 4);
    serve_http();
    start(url("/list.json"));
    ASSERT_TRUE(settled(0)) << entry_list();
    EXPECT_EQ(snap.state, SERVER_LIST_LOADED);
    EXPECT_EQ(std::string(snap.status), "2 servers from " + url("/list.json"));
    ASSERT_EQ(snap.count, 2) << entry_list();
    EXPECT_TRUE(snap.entries[0].listed && !snap.entries[0].favourite);
    EXPECT_EQ(fx::read_file(base + "servers_cache.json"), good);
    EXPECT_GE(log_find("[core] servers: 2 servers from " + url("/list.json")), 0) << log_text();

    struct {
        const char *path, *error;
    } rows[] = {
        { "/missing.json", "the list server answered HTTP 404" },
        { "/gone.json", "the list server answered HTTP 500" },
        { "/bad.json", "the server list isn't valid JSON" },
        { "/big.json", "list is too big" },
        { "/cut.json", "download failed (12030)" },
    };
    for (auto &r : rows) {
        set_source(url(r.path));
        ASSERT_TRUE(refresh(true)) << r.path;
        EXPECT_EQ(snap.state, SERVER_LIST_SAVED_COPY) << r.path << ": " << snap.status;
        EXPECT_EQ(std::string(snap.status), std::string("Showing the saved list: ") + r.error) << r.path;
        ASSERT_EQ(snap.count, 2) << r.path << " " << entry_list();
        EXPECT_EQ(snap.entries[1].port, port(1)) << r.path;
        EXPECT_EQ(fx::read_file(base + "servers_cache.json"), good) << r.path << ": the saved list is kept";
    }
}

TEST_F(server_list, HttpFailureWithoutASavedListFails)
{
    static std::string bad = "{\"servers\":[{}";
    hs_route_add(&http, "/bad.json", 200, HS_ANSWER, bad.data(), bad.size());
    serve_http();
    fx::write_file(base + "favorites.txt", "127.0.0.1 " + num(port(2)) + "\n");
    start(url("/bad.json"));
    ASSERT_TRUE(settled(0));
    struct {
        const char *path, *status;
    } rows[] = {
        { "/bad.json", "the server list isn't valid JSON" },
        { "/missing.json", "the list server answered HTTP 404" },
    };
    for (auto &r : rows) {
        set_source(url(r.path));
        ASSERT_TRUE(refresh(true)) << r.path;
        EXPECT_EQ(snap.state, SERVER_LIST_FAILED) << r.path;
        EXPECT_STREQ(snap.status, r.status) << r.path;
        // A failed fetch keeps the favourites.
        ASSERT_EQ(snap.count, 1) << r.path << " " << entry_list();
        EXPECT_TRUE(snap.entries[0].favourite && !snap.entries[0].listed);
        EXPECT_EQ(snap.entries[0].query_state, SERVER_ANSWERED);
        EXPECT_FALSE(fx::exists(base + "servers_cache.json")) << r.path;
    }
}

TEST_F(server_list, FileSources)
{
    start("");
    ASSERT_TRUE(settled(0));
    std::string other = root + "\\other list.json";
    // A long path is said whole in the status.
    std::string long_name = root + "\\" + std::string(100, 'l') + ".json";
    struct {
        const char *what;
        std::string source, file, text;
        int state;
        std::string status;
        int count;
    } rows[] = {
        { "none set, and no servers.json", "", "", "", SERVER_LIST_NONE, "no server list (set server_list in config.ini)",
          0 },
        { "servers.json beside config.ini", "", base + "servers.json", two_servers(), SERVER_LIST_LOADED,
          "2 servers from " + base + "servers.json", 2 },
        { "a named file, one server", other, other, "[" + server_json("127.0.0.1", port(2)) + "]", SERVER_LIST_LOADED,
          "1 server from " + other, 1 },
        { "an empty list", other, other, "{\"servers\":[]}", SERVER_LIST_LOADED, "0 servers from " + other, 0 },
        { "malformed", other, other, "[{\"host\":\"127.0.0.1\"", SERVER_LIST_FAILED, "the server list isn't valid JSON", 0 },
        { "set, and not there", root + "\\nothing.json", "", "", SERVER_LIST_NONE,
          "no file " + root + "\\nothing.json (server_list in config.ini)", 0 },
        { "larger than 1 MiB", other, other, "[" + std::string(1048576, ' ') + "]", SERVER_LIST_FAILED,
          "the server list " + other + " is larger than 1 MB", 0 },
        { "a folder", root, "", "", SERVER_LIST_FAILED, "can't read the server list " + root + " (error 5)", 0 },
        { "larger than 1 MiB, a long path", long_name, long_name, "[" + std::string(1048576, ' ') + "]",
          SERVER_LIST_FAILED, "the server list " + long_name + " is larger than 1 MB", 0 },
        { "exactly 1 MiB", other, other, "[" + std::string(1048574, ' ') + "]", SERVER_LIST_LOADED,
          "0 servers from " + other, 0 },
    };
    for (auto &r : rows) {
        if (!r.file.empty())
            fx::write_file(r.file, r.text);
        set_source(r.source);
        ASSERT_TRUE(refresh(true)) << r.what;
        EXPECT_EQ(snap.state, r.state) << r.what;
        EXPECT_EQ(std::string(snap.status), r.status) << r.what;
        EXPECT_EQ(snap.count, r.count) << r.what << ": " << entry_list();
        EXPECT_GE(log_find("[core] servers: " + r.status), 0) << r.what;
    }
    EXPECT_FALSE(fx::exists(base + "servers_cache.json")) << "only a downloaded list is saved";
}

// ---- favourites ----

TEST_F(server_list, FavouritesAreReadEditedInQueueOrderAndRewritten)
{
    std::string p0 = num(port(0)), p1 = num(port(1)), p2 = num(port(2));
    fx::write_file(base + "favorites.txt", "# mine\n"
                                           "127.0.0.1 " + p0 + "\n"
                                           "  127.0.0.1\t" + p1 + "  \r\n"
                                           "127.0.0.2\n"
                                           "bad;host 5\n"
                                           "127.0.0.1 0\n"
                                           "127.0.0.1 70000\n"
                                           "127.0.0.1 12x\n" +
                                           std::string(200, 'h') + " 5\n");
    fx::write_file(base + "servers.json", "[" + server_json("127.0.0.1", port(0)) + "]");
    start("");
    ASSERT_TRUE(settled(0));
    ASSERT_EQ(snap.count, 3) << entry_list();
    EXPECT_TRUE(snap.entries[0].listed && snap.entries[0].favourite) << "listed and favourite stand once";
    EXPECT_EQ(snap.entries[1].port, port(1));
    EXPECT_TRUE(!snap.entries[1].listed && snap.entries[1].favourite);
    EXPECT_STREQ(snap.entries[2].host, "127.0.0.2");
    EXPECT_EQ(snap.entries[2].port, CONFIG_DEFAULT_PORT);
    EXPECT_EQ(snap.entries[2].query_state, SERVER_NO_ANSWER);

    // 127.0.0.2 never answers: the pass takes 2 s, and the edits queued
    // meanwhile wait for it to end.
    uint32_t before = gen;
    refresh_(0);
    ASSERT_TRUE(until([&] { return gen > before && snap.busy; }));
    EXPECT_EQ(edit_(FAVORITE_ADD, "bad host", 5), 0);
    EXPECT_EQ(edit_(FAVORITE_ADD, "x\nnet disconnect", 5), 0);
    EXPECT_EQ(edit_(FAVORITE_ADD, "127.0.0.1", 0), 0);
    struct {
        int op;
        const char *host;
        std::string port;
    } edits[] = {
        { FAVORITE_REMOVE, "127.0.0.2", "42870" },
        { FAVORITE_ADD, "127.0.0.1", p2 },
        { FAVORITE_ADD, "127.0.0.1", p0 },  // already there
        { FAVORITE_REMOVE, "127.0.0.1", p1 },
        { FAVORITE_ADD, "127.0.0.1", p1 },  // now after p2
        { FAVORITE_REMOVE, "nothere.example", "1" },
        { FAVORITE_ADD, "127.0.0.1", num(mute_port) },
        { FAVORITE_REMOVE, "127.0.0.1", num(mute_port) },
    };
    for (auto &e : edits)
        EXPECT_EQ(edit_(e.op, e.host, (uint16_t)atoi(e.port.c_str())), 1);
    EXPECT_EQ(edit_(FAVORITE_ADD, "127.0.0.1", 9), 0) << "a ninth edit waits nowhere";
    snapshot_(&snap);
    EXPECT_TRUE(snap.busy) << "the edits went in while the pass ran";

    // Each edit changed its own line only: the comment, the lines that hold
    // no favourite and the file's LF line ends stay.
    std::string want_file = "# mine\n"
                            "127.0.0.1 " + p0 + "\n"
                            "bad;host 5\n"
                            "127.0.0.1 0\n"
                            "127.0.0.1 70000\n"
                            "127.0.0.1 12x\n" +
                            std::string(200, 'h') + " 5\n"
                            "127.0.0.1 " + p2 + "\n"
                            "127.0.0.1 " + p1 + "\n";
    // The merge that follows the rewrite shows the edits; the file is read
    // only then (a reader holding it open would fail the replacing rename).
    ASSERT_TRUE(until([&] { return snap.count == 3 && !snap.busy && snap.entries[2].query_state == SERVER_ANSWERED; }))
        << entry_list();
    EXPECT_EQ(fx::read_file(base + "favorites.txt"), want_file);
    const uint16_t order[] = { port(0), port(2), port(1) };
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(snap.entries[i].port, order[i]) << i;
        EXPECT_TRUE(snap.entries[i].favourite) << i;
    }
    EXPECT_FALSE(fx::exists(base + "favorites.txt.new"));
}

TEST_F(server_list, RemovingOneFavouriteOfALongFileKeepsEveryOtherLine)
{
    // 64 lines: a comment, three lines of other things and 60 favourites,
    // of which the list keeps 48.
    std::string text = "# my servers, in the order I like them\r\n";
    for (int i = 0; i < 60; i++) {
        text += "127.0.0.1 " + num(40000 + i) + "\r\n";
        if (i == 9)
            text += "[old]\r\nserver = 10.0.0.1\r\nsee the forum for more\r\n";
    }
    fx::write_file(base + "favorites.txt", text);
    start("");
    ASSERT_TRUE(settled(0));
    ASSERT_EQ(snap.count, 48) << entry_list();
    EXPECT_EQ(snap.entries[47].port, 40047);

    ASSERT_EQ(edit_(FAVORITE_REMOVE, "127.0.0.1", 40003), 1);
    ASSERT_TRUE(until([&] { return !find("127.0.0.1", 40003) && !snap.busy; }, 20)) << entry_list();
    std::string want = text;
    want.erase(want.find("127.0.0.1 40003\r\n"), 17);
    EXPECT_EQ(fx::read_file(base + "favorites.txt"), want);
    // The first favourite beyond the 48 comes into the list in its place.
    ASSERT_EQ(snap.count, 48) << entry_list();
    EXPECT_EQ(snap.entries[47].port, 40048);
}

TEST_F(server_list, AFavouritesFileThatCannotBeReadIsNeverReplaced)
{
    // Larger than the 1 MB a list file may hold: the favourites are not
    // read, and an edit changes the list only, never the file.
    std::string text = "127.0.0.1 " + num(port(0)) + "\n" + std::string(1048576, '#') + "\n";
    fx::write_file(base + "favorites.txt", text);
    start("");
    ASSERT_TRUE(settled(0));
    EXPECT_EQ(snap.count, 0) << entry_list();
    EXPECT_GE(log_find("[core] servers: can't read favorites.txt (larger than 1 MB); no favourites"), 0) << log_text();
    ASSERT_EQ(edit_(FAVORITE_ADD, "127.0.0.1", port(1)), 1);
    ASSERT_TRUE(until([&] { return find("127.0.0.1", port(1)) && !snap.busy; })) << entry_list();
    EXPECT_GE(log_find("[core] servers: can't read favorites.txt (larger than 1 MB); favourite edits are not saved"), 0)
        << log_text();
    EXPECT_EQ(snap.count, 1) << entry_list();
    EXPECT_TRUE(fx::read_file(base + "favorites.txt") == text);
}

// A profile folder named in several scripts: the favourites are read and
// rewritten there, and the downloaded list is saved there and stands in.
class server_list_profile : public server_list {
protected:
    void SetUp() override
    {
        appdata_name = fx::profile_folder_name;
        server_list::SetUp();
    }
};

TEST_F(server_list_profile, FavouritesAndTheSavedListAreInsideIt)
{
    static std::string good;
    good = two_servers();
    hs_route_add(&http, "/list.json", 200, HS_ANSWER, good.data(), good.size());
    serve_http();
    fx::write_file(base + "favorites.txt", "127.0.0.1 " + num(port(2)) + "\n");
    ASSERT_NO_FATAL_FAILURE(start(url("/list.json")));
    ASSERT_TRUE(settled(0)) << entry_list();
    ASSERT_EQ(snap.count, 3) << entry_list();
    EXPECT_TRUE(find("127.0.0.1", port(2)) && find("127.0.0.1", port(2))->favourite) << entry_list();
    EXPECT_EQ(fx::read_file(base + "servers_cache.json"), good);

    EXPECT_EQ(edit_(FAVORITE_ADD, "127.0.0.1", port(0)), 1);
    ASSERT_TRUE(until([&] {
        const server_entry *e = find("127.0.0.1", port(0));
        return e && e->favourite && !snap.busy;
    })) << entry_list();
    EXPECT_EQ(fx::read_file(base + "favorites.txt"), "127.0.0.1 " + num(port(2)) + "\n127.0.0.1 " + num(port(0)) + "\n");

    set_source(url("/missing.json"));
    ASSERT_TRUE(refresh(true));
    EXPECT_EQ(snap.state, SERVER_LIST_SAVED_COPY) << snap.status;
    EXPECT_EQ(snap.count, 3) << entry_list();
}

// ---- info queries ----

TEST_F(server_list, EveryServerIsAskedAndAnswersAreKept)
{
    uint16_t bots = 0;
    bots += ts_add_bot(&game[0], "bot one", 1) != 0;
    bots += ts_add_bot(&game[0], "bot two", 1) != 0;
    ASSERT_EQ(bots, 2);
    game[2].protocol = 2;
    // Bravo's name crosses the 64 bytes kept in its last character (o
    // umlaut, two bytes): it is cut before that character.
    const std::string a63(63, 'a');
    snprintf(game[1].info_name, sizeof game[1].info_name, "%s\xC3\xB6 and more", a63.c_str());
    fx::write_file(base + "servers.json",
                   "{\"servers\":[{\"name\":\"Listed A\",\"host\":\"127.0.0.1\",\"port\":" + num(port(0)) + "}," +
                       server_json("127.0.0.1", port(1)) + "," + server_json("127.0.0.1", port(2)) + "," +
                       server_json("127.0.0.1", mute_port) + "," + server_json("no-such-host.invalid", 42870) + "," +
                       server_json("Twice.Invalid", 7) + "," + server_json("twice.INVALID", 7) + "," +
                       server_json("twice.invalid", 8) + "]}");
    start("");
    ASSERT_TRUE(settled(0)) << entry_list();
    ASSERT_EQ(snap.count, 7) << entry_list();
    struct {
        const char *host;
        uint16_t port;
        int state;
        const char *reported;
        int players, max, protocol;
    } rows[] = {
        { "127.0.0.1", port(0), SERVER_ANSWERED, "alpha", 2, 8, 1 },
        { "127.0.0.1", port(1), SERVER_ANSWERED, a63.c_str(), 0, 16, 1 },
        { "127.0.0.1", port(2), SERVER_ANSWERED, "charlie", 0, 32, 2 },
        { "127.0.0.1", mute_port, SERVER_NO_ANSWER, "", 0, 0, 0 },
        { "no-such-host.invalid", 42870, SERVER_UNRESOLVED, "", 0, 0, 0 },
        { "Twice.Invalid", 7, SERVER_UNRESOLVED, "", 0, 0, 0 }, // the first of the two spellings
        { "twice.invalid", 8, SERVER_UNRESOLVED, "", 0, 0, 0 },
    };
    for (int i = 0; i < 7; i++) {
        const server_entry &e = snap.entries[i];
        auto &r = rows[i];
        EXPECT_STREQ(e.host, r.host) << i;
        EXPECT_EQ(e.port, r.port) << i;
        EXPECT_EQ(e.query_state, r.state) << i << " " << e.host;
        EXPECT_STREQ(e.reported_name, r.reported) << i;
        EXPECT_EQ(e.players, r.players) << i;
        EXPECT_EQ(e.max_players, r.max) << i;
        EXPECT_EQ(e.protocol, r.protocol) << i;
        if (r.state == SERVER_ANSWERED) {
            EXPECT_LT(e.ping, 800u) << i << ": answered the first query";
        }
    }
    EXPECT_STREQ(snap.entries[0].name, "Listed A");
    EXPECT_GT(snap.last_query_end, 0u);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(game[i].by_type[NET_INFO_QUERY], 1u) << i << ": answered at once, asked once";
    EXPECT_EQ(mute.by_type[NET_INFO_QUERY], 2u) << "no answer: asked again once";
    // A merge keeps the answers until the next pass replaces them.
    uint32_t before = gen;
    refresh_(1);
    ASSERT_TRUE(until([&] { return gen > before && snap.busy && snap.state == SERVER_LIST_LOADED && snap.count == 7; }));
    EXPECT_EQ(snap.entries[0].query_state, SERVER_ANSWERED);
    EXPECT_STREQ(snap.entries[0].reported_name, "alpha");
    ASSERT_TRUE(settled(before));
}

TEST_F(server_list, RepliesAreTakenOnlyFromTheServerAskedInThisPass)
{
    fx::write_file(base + "servers.json", "[" + server_json("127.0.0.1", port(0)) + "]");
    // The first query goes unanswered: the answer to the resend is timed
    // from the resend.
    game[0].info_ignore = 1;
    start("");
    ASSERT_TRUE(settled(0));
    ASSERT_EQ(snap.count, 1);
    EXPECT_EQ(snap.entries[0].query_state, SERVER_ANSWERED);
    EXPECT_EQ(game[0].by_type[NET_INFO_QUERY], 2u);
    EXPECT_LT(snap.entries[0].ping, 800u) << "timed from the resend, not from the first query 800 ms before it";
    uint32_t old_nonce = game[0].info_nonce;
    EXPECT_EQ((old_nonce >> 8) & 0xFF, 1u) << "attempt 1 in the token";

    // The next pass: the server is silent; a late answer to the last pass,
    // and an answer to this pass from another port of the server, are not
    // answers.
    auto reply_from = [&](uint32_t nonce, bool second_port) {
        uint8_t d[64];
        net_write_header(d, NET_INFO_REPLY, 0, 0);
        int n = net_build_info_reply(d + NET_HEADER_SIZE, 50, nonce, 1, 3, 9, "forged");
        ts_client to = {};
        to.addr = game[0].info_from_addr;
        to.port = game[0].info_from_port;
        ts_send_raw(&game[0], &to, d, NET_HEADER_SIZE + n, second_port);
    };
    enum { THIS_PASS, LAST_PASS, RESEND_NOT_SENT };
    struct {
        const char *what;
        int token;
        bool second_port;
        int state;
    } rows[] = {
        { "late answer to the last pass", LAST_PASS, false, SERVER_NO_ANSWER },
        { "answer from another port", THIS_PASS, true, SERVER_NO_ANSWER },
        { "answer to a resend not sent yet", RESEND_NOT_SENT, false, SERVER_NO_ANSWER },
        { "answer from the server's port (control)", THIS_PASS, false, SERVER_ANSWERED },
    };
    game[0].silent = true;
    for (auto &r : rows) {
        uint64_t queries = game[0].by_type[NET_INFO_QUERY];
        uint32_t before = gen;
        uint32_t last_nonce = game[0].info_nonce;
        refresh_(0);
        ASSERT_TRUE(until([&] { return game[0].by_type[NET_INFO_QUERY] > queries; })) << r.what;
        // Attempt 0 of the last pass was sent then, and attempt 0 of this pass is sent too.
        uint32_t now_nonce = game[0].info_nonce;
        uint32_t token = r.token == LAST_PASS ? (last_nonce & 0xFFFF00FFu)
                         : r.token == RESEND_NOT_SENT ? ((now_nonce & 0xFFFF00FFu) | 0x100u) : now_nonce;
        reply_from(token, r.second_port);
        ASSERT_TRUE(settled(before)) << r.what;
        EXPECT_EQ(snap.entries[0].query_state, r.state) << r.what;
        EXPECT_EQ(snap.entries[0].players, r.state == SERVER_ANSWERED ? 3 : 0) << r.what;
    }
}

// ---- failures met for real ----

TEST_F(server_list, WithoutAQuerySocketTheListIsNotLeftBusy)
{
    SetEnvironmentVariableA("DM_SRVTEST_NO_UDP", "1");
    fx::write_file(base + "servers.json", two_servers());
    start("");
    ASSERT_TRUE(until([&] { return snap.state == SERVER_LIST_LOADED && !snap.busy; }, 5)) << entry_list();
    ASSERT_EQ(snap.count, 2);
    EXPECT_EQ(snap.entries[0].query_state, SERVER_CHECKING);
    EXPECT_EQ(snap.last_query_end, 0u);
    ASSERT_TRUE(refresh(true));
    EXPECT_EQ(game[0].by_type[NET_INFO_QUERY], 0u);
}

TEST_F(server_list, AnAllocationFailureIsAFailedFetch)
{
    SetEnvironmentVariableA("DM_SRVTEST_ALLOC_FAIL_FROM", "65536");
    static std::string long_list;
    long_list = "[" + std::string(100000, ' ') + server_json("127.0.0.1", port(0)) + "]";
    hs_route_add(&http, "/long.json", 200, HS_ANSWER, long_list.data(), long_list.size());
    serve_http();
    fx::write_file(base + "servers.json", long_list);
    start("");
    ASSERT_TRUE(settled(0));
    EXPECT_EQ(snap.state, SERVER_LIST_FAILED);
    EXPECT_STREQ(snap.status, "out of memory reading the server list");
    EXPECT_EQ(snap.count, 0);
    set_source(url("/long.json"));
    ASSERT_TRUE(refresh(true));
    EXPECT_EQ(snap.state, SERVER_LIST_FAILED);
    EXPECT_STREQ(snap.status, "download failed (8)");
    EXPECT_FALSE(fx::exists(base + "servers_cache.json"));
    // A list that fits under the limit loads.
    fx::write_file(base + "servers.json", "[" + server_json("127.0.0.1", port(0)) + "]");
    set_source("");
    ASSERT_TRUE(refresh(true));
    EXPECT_EQ(snap.state, SERVER_LIST_LOADED);
}

// ---- stopping ----

// Leaving the game and reloading the core while the list server holds back
// its answer: the game thread never waits for the request. The worker left
// inside WinHTTP (closing its session does not wake it under Wine) keeps its
// own reference on its core, so a reload loads the new core beside it; when
// the server finally drops the request the old worker logs and writes
// nothing and lets its core go.
TEST_F(server_list, AStalledDownloadNeverHoldsTheGameThread)
{
    enum { EXIT, RELOAD };
    struct {
        const char *what;
        int action;
    } rows[] = { { "leaving the game", EXIT }, { "a core reload", RELOAD } };
    for (auto &r : rows) {
        SCOPED_TRACE(r.what);
        http = {};
        hs_route_add(&http, "/stall.json", 200, HS_STALL, "", 0);
        serve_http();
        int from = (int)log_lines().size();
        start(url("/stall.json"));
        for (int i = 0; i < 500 && http.requests == 0; i++)
            Sleep(10);
        ASSERT_EQ(http.requests, 1);
        Sleep(300); // inside the wait for the response head
        int generation = core_generation(from);
        std::string loaded = base + "core\\loaded_" + num((unsigned)generation) + ".dll";
        ASSERT_TRUE(GetModuleHandleA(loaded.c_str())) << loaded;

        double ms = 0;
        if (r.action == EXIT) {
            ms = fx::timed_ms([&] { shutdown(); });
        } else {
            fx::set_write_time(base + "core\\drovemark_core.dll", 30);
            std::string next = "[host] core generation " + num((unsigned)generation + 1) + " loaded";
            for (int i = 0; i < 8 && log_find(next, from) < 0; i++)
                ms = std::max(ms, fx::timed_ms([] { sim::frames(1, 0.25); }));
            ASSERT_GE(log_find(next, from), 0) << log_text();
            for (int i = 0; i < 500 && http.requests < 2; i++)
                Sleep(10);
            EXPECT_EQ(http.requests, 2) << "the new core's worker fetches at once";
        }
        printf("[ stall   ] server-list stop on %s: %.1f ms\n", r.what, ms);
        EXPECT_LT(ms, 1000.0) << "the stop does not wait for the stalled request";
        EXPECT_TRUE(GetModuleHandleA(loaded.c_str())) << "the worker's reference keeps its core mapped";

        hs_stop(&http); // the stalled requests end
        http_running = false;
        for (int i = 0; i < 500 && GetModuleHandleA(loaded.c_str()); i++)
            Sleep(10);
        EXPECT_FALSE(GetModuleHandleA(loaded.c_str())) << "the worker left and let its core go";
        // Only the new core's worker, not stopped, reports its failed fetch.
        auto failed = [&] {
            int n = 0;
            for (int line = from; (line = log_find("[core] servers: can't reach the list server", line)) >= 0; line++)
                n++;
            return n;
        };
        for (int i = 0; r.action == RELOAD && i < 500 && failed() == 0; i++)
            Sleep(10);
        if (initialised)
            shutdown();
        EXPECT_EQ(failed(), r.action == RELOAD ? 1 : 0) << log_text();
    }
}

TEST_F(server_list, ALateWorkerKeepsTheCoreMappedUntilItEnds)
{
    // A list "file" that is a pipe: the worker's read blocks until the test writes.
    std::string pipe = "\\\\.\\pipe\\dm_servers_" + num(GetCurrentProcessId());
    HANDLE h = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 4096, 4096,
                                0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    OVERLAPPED ov = {};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool connected = ConnectNamedPipe(h, &ov) || GetLastError() == ERROR_PIPE_CONNECTED;
    start(pipe);
    if (!connected) {
        ASSERT_EQ(WaitForSingleObject(ov.hEvent, 5000), WAIT_OBJECT_0) << "the worker opened the list";
    }
    Sleep(200); // it reads

    shutdown(); // does not wait for the worker's read
    EXPECT_GE(log_find("[core] servers: worker didn't stop in 20 ms; it ends on its own"), 0) << log_text();
    EXPECT_GE(log_find("[core] shutdown"), 0);
    EXPECT_TRUE(core_module()) << "the worker's reference keeps the core mapped";
    HMODULE held = nullptr; // the test's own reference: the list stays readable after the worker
    ASSERT_TRUE(GetModuleHandleExA(0, (base + "core\\loaded_" + num(core_generation()) + ".dll").c_str(), &held));

    DWORD wrote = 0;
    OVERLAPPED wov = {};
    wov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WriteFile(h, "[]", 2, &wrote, &wov);
    WaitForSingleObject(wov.hEvent, 2000);
    CloseHandle(h); // the end of the list
    CloseHandle(wov.hEvent);
    CloseHandle(ov.hEvent);
    Sleep(500); // the worker reads the list and ends
    ASSERT_NE(snapshot_(&snap), 0u);
    EXPECT_EQ(snap.state, SERVER_LIST_LOADING) << "a stopped worker drops its fetch: " << snap.status;
    FreeLibrary(held);
    for (int i = 0; i < 500 && core_module(); i++)
        Sleep(10);
    EXPECT_FALSE(core_module()) << "the worker left and let the core go";
}

} // namespace

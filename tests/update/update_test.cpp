// The updater through the real plug-in and a core with a test release key in
// the simulated game: manifests and files over loopback HTTP (the scripted
// server of tests/server), files in a temporary LOCALAPPDATA, and the
// plug-in loaded from a folder of the test's own so that its swap touches a
// copy.
#include <winsock2.h>
#include <windows.h>
#include <bcrypt.h>
#include <algorithm>
#include <memory>
#include "http_server.h"
#include "net/net_key.h"
#include "runtime/runtime_fixture.h"

namespace {

using rt::fmt;

const char *const CLEAN_ID = "test-1-g0123abc";
const char *const DIRTY_ID = "test-1-g0123abc-dirty";

std::string sha256_hex(const std::string &data)
{
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE h = nullptr;
    UCHAR digest[32];
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    BCryptCreateHash(alg, &h, nullptr, 0, nullptr, 0, 0);
    BCryptHashData(h, (PUCHAR)data.data(), (ULONG)data.size(), 0);
    BCryptFinishHash(h, digest, sizeof digest, 0);
    BCryptDestroyHash(h);
    BCryptCloseAlgorithmProvider(alg, 0);
    std::string s;
    for (UCHAR b : digest)
        s += fmt("%02x", b);
    return s;
}

/* manifest.txt signed with the test release key (seed bytes i * 7 + 1). */
std::string signed_manifest(const std::string &body)
{
    uint8_t seed[32], secret[64], pub[32], sig[64];
    for (int i = 0; i < 32; i++)
        seed[i] = (uint8_t)(i * 7 + 1);
    crypto_eddsa_key_pair(secret, pub, seed);
    crypto_eddsa_sign(sig, secret, (const uint8_t *)body.data(), body.size());
    std::string s = body + "sig ";
    for (uint8_t b : sig)
        s += fmt("%02x", b);
    return s + "\n";
}

std::string file_line(const char *name, const std::string &bytes, const char *path)
{
    return fmt("file %s %s %zu %s\n", name, sha256_hex(bytes).c_str(), bytes.size(), path);
}

/* Every file below dir (recursively) whose name ends in one of the suffixes. */
void find_suffix(const std::string &dir, const std::vector<std::string> &suffixes, std::vector<std::string> *out)
{
    dm_find_data fd;
    HANDLE h = dm_find_first((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = fd.name, p = dir + "\\" + n;
        if (n == "." || n == "..")
            continue;
        if (fd.attributes & FILE_ATTRIBUTE_DIRECTORY)
            find_suffix(p, suffixes, out);
        for (auto &s : suffixes)
            if (n.size() > s.size() && n.compare(n.size() - s.size(), s.size(), s) == 0)
                out->push_back(p);
    } while (dm_find_next(h, &fd));
    FindClose(h);
}

class update : public rt::core_test {
protected:
    std::string game_name = "game"; /* the game's folder in root (UTF-8), set before SetUp */
    std::string plugin_dir, plugin_path;
    std::unique_ptr<hs_server> http = std::make_unique<hs_server>();
    std::vector<std::unique_ptr<std::string>> bodies; /* what the routes point at */

    void SetUp() override
    {
        rt::core_test::SetUp();
        // The plug-in from a game folder of this test's own: a swap renames it.
        sim::plugin_unload();
        dm_dir_create((root + "\\" + game_name).c_str());
        plugin_dir = root + "\\" + game_name + "\\plugins\\";
        dm_dir_create(plugin_dir.c_str());
        plugin_path = plugin_dir + "drovemark.dll";
        ASSERT_TRUE(dm_file_copy(fx::bin("drovemark.dll").c_str(), plugin_path.c_str(), FALSE));
        ASSERT_TRUE(sim::plugin_load(plugin_path.c_str()));
        install_core("update_test_core_clean.dll");
    }

    void TearDown() override
    {
        rt::core_test::TearDown();
        hs_stop(http.get());
    }

    void serve(const char *path, const std::string &body, int mode = HS_ANSWER, int status = 200)
    {
        bodies.push_back(std::make_unique<std::string>(body));
        hs_route_add(http.get(), path, status, mode, bodies.back()->data(), bodies.back()->size());
    }

    /* Starts the server and the game with update_url pointing at /rel/. */
    void start_with(const std::string &extra_config = "")
    {
        ASSERT_TRUE(hs_start(http.get()));
        write_config(fmt("update_url = http://127.0.0.1:%u/rel\n", http->port) + extra_config);
        start();
    }

    std::string folder() { return fmt("http://127.0.0.1:%u/rel/", http->port); }

    std::string file(const std::string &path) { return fx::read_file(path); }
    std::string core_bytes(const char *dll = "update_test_core_clean.dll") { return file(fx::bin(dll)); }
    /* Another build of a library: the same code with bytes appended, which
     * the loader ignores. */
    static std::string newer(const std::string &bytes) { return bytes + std::string("\0drovemark next build", 21); }

    /* A newer core (and plug-in) listed for build and interface api and
     * served at /rel/c/ and /rel/p/; returns the bytes served. */
    struct build_files {
        std::string core, plugin;
    };
    build_files serve_build(const char *build, int api, bool with_plugin,
                            const char *core_dll = "update_test_core_clean.dll")
    {
        build_files b = { newer(core_bytes(core_dll)), with_plugin ? newer(file(plugin_path)) : "" };
        std::string body = fmt("drovemark-manifest 1\nbuild %s\napi %d\n", build, api);
        if (with_plugin)
            body += file_line("drovemark.dll", b.plugin, "p/drovemark.dll");
        body += file_line("drovemark_core.dll", b.core, "c/drovemark_core.dll");
        serve("/rel/manifest.txt", signed_manifest(body));
        serve("/rel/c/drovemark_core.dll", b.core);
        if (with_plugin)
            serve("/rel/p/drovemark.dll", b.plugin);
        return b;
    }

    /* Game frames in real time until a log line starts with prefix; false
     * after the time limit. */
    bool wait_log(const std::string &prefix, double seconds = 10, ts_server *net = nullptr)
    {
        ULONGLONG end = GetTickCount64() + (ULONGLONG)(seconds * 1000);
        while (GetTickCount64() < end) {
            if (net)
                ts_poll(net, sim::clock_now());
            sim::frames(1, 0.05);
            if (log_find(prefix) >= 0)
                return true;
            Sleep(10);
        }
        return false;
    }

    std::vector<std::string> leftovers()
    {
        std::vector<std::string> out;
        find_suffix(root, { ".part", ".new" }, &out);
        return out;
    }
};

std::string joined(const std::vector<std::string> &v)
{
    std::string s;
    for (auto &x : v)
        s += x + "\n";
    return s;
}

// A build without a release key (the plain core, as built by default) never
// asks the server anything.
TEST_F(update, NoReleaseKeyBuiltInMeansNoUpdates)
{
    install_core("drovemark_core.dll");
    serve("/rel/manifest.txt", signed_manifest("drovemark-manifest 1\nbuild b1\napi 1\n"));
    start_with();
    EXPECT_GE(log_find("[update] off (this build has no release key)"), 0) << log_text();
    EXPECT_EQ(first("update check"), "[update] off (this build has no release key)");
    auto status = first("update");
    EXPECT_EQ(status.rfind("[update] off (this build has no release key); build ", 0), 0u) << status;
    EXPECT_NE(status.find(fmt(", url '%s', auto on", folder().c_str())), std::string::npos) << status;
    Sleep(300);
    EXPECT_EQ(http->requests, 0);
}

TEST_F(update, UpToDateWhenBothFilesMatch)
{
    serve("/rel/manifest.txt",
          signed_manifest("drovemark-manifest 1\nbuild b7\napi 1\n" +
                          file_line("drovemark.dll", file(plugin_path), "drovemark.dll") +
                          file_line("drovemark_core.dll", core_bytes(), "drovemark_core.dll")));
    start_with();
    EXPECT_GE(log_find(fmt("[update] first check in 15 s (%smanifest.txt)", folder().c_str())), 0) << log_text();
    run("update check\n"); // the first check at once, not after 15 s
    ASSERT_TRUE(wait_log("[update] up to date (build b7)", 8)) << log_text();
    EXPECT_EQ(http->requests, 1);
    EXPECT_EQ(first("update"), fmt("[update] up to date (build b7); build %s, url '%s', auto on", CLEAN_ID,
                                   folder().c_str()));
    EXPECT_EQ(first("update off"), "[update] usage: update | update check | update install");
}

TEST_F(update, ARejectedManifestDownloadsNothing)
{
    std::string body = "drovemark-manifest 1\nbuild b2\napi 1\n" +
                       file_line("drovemark_core.dll", newer(core_bytes()), "core.dll");
    std::string text = signed_manifest(body);
    text[text.find("b2") + 1] = '3'; // "b3": one byte changed after signing
    serve("/rel/manifest.txt", text);
    serve("/rel/core.dll", newer(core_bytes()));
    start_with();
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] rejected the update manifest: signature doesn't match the release key", 8))
        << log_text();
    EXPECT_EQ(http->requests, 1);
    EXPECT_FALSE(fx::exists(base + "update"));
}

// The folders an update runs in, LOCALAPPDATA's and the game's: plain ones,
// and ones named outside any one code page, as many players' are.
struct folders {
    const char *what;
    std::string appdata, game;
};

class update_folders : public update, public ::testing::WithParamInterface<folders> {
protected:
    void SetUp() override
    {
        appdata_name = GetParam().appdata;
        game_name = GetParam().game;
        update::SetUp();
    }
};

const char *const game_folder_name = "\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B \xE6\xB8\xB8\xE6\x88\x8F"; // "Игры 游戏"

INSTANTIATE_TEST_SUITE_P(, update_folders,
                         ::testing::Values(folders{ "plain", "appdata", "game" },
                                           folders{ "named_in_several_scripts", fx::profile_folder_name,
                                                    game_folder_name }),
                         [](const ::testing::TestParamInfo<folders> &info) { return std::string(info.param.what); });

// A new core of the same interface: downloaded, checked, staged; it waits
// while a server connection is open and goes in the frame the connection
// closes, and the plug-in then loads it.
TEST_P(update_folders, ANewCoreWaitsForTheConnectionToCloseThenReloads)
{
    std::string fresh = serve_build("b8", 1, false).core, old = core_bytes();
    ts_server server;
    ASSERT_TRUE(ts_start(&server, 0));
    start_with();
    run(fmt("net connect 127.0.0.1 %u tester\n", server.port));
    ASSERT_TRUE(wait_log("[net] joined as player", 5, &server)) << log_text();
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] build b8 downloaded; it installs when you leave the server", 8, &server))
        << log_text();
    EXPECT_EQ(log_find("[update] build b8 downloaded; it installs when you leave the server (plugin"), -1);
    EXPECT_GE(log_find("[update] downloading build b8"), 0);
    EXPECT_EQ(file(base + "update\\drovemark_core.dll"), fresh);
    EXPECT_TRUE(leftovers().empty()) << joined(leftovers());

    rt::frames_with(&server, 20, 0.1); // joined: it stays staged
    EXPECT_EQ(file(base + "core\\drovemark_core.dll"), old);
    EXPECT_EQ(log_find("[update] installing"), -1);
    // A second check finds it staged and downloads nothing more.
    int requests = http->requests;
    run("update check\n");
    Sleep(500);
    rt::frames_with(&server, 4, 0.1);
    EXPECT_EQ(http->requests, requests + 1) << log_text();

    int before = (int)log_lines().size();
    run("net disconnect\n"); // the update step runs after the commands, in the same frame
    auto lines = log_lines();
    auto it = std::find(lines.begin() + before, lines.end(), "[update] installing the new core (the plugin reloads it now)");
    ASSERT_NE(it, lines.end()) << log_text();
    EXPECT_EQ(file(base + "core\\drovemark_core.dll"), fresh);
    EXPECT_FALSE(fx::exists(base + "update\\drovemark_core.dll"));
    sim::frames(12, 0.1);
    EXPECT_GE(log_find("[host] core generation 2 loaded"), 0) << log_text();
    EXPECT_EQ(log_count("[update] installing the new core"), 1);
    ts_stop(&server);
}

// Another interface: the core goes to drovemark_core.next.dll, the new
// plug-in takes the old one's place (which is kept aside until a later check
// can delete it), and the next game start installs the core.
TEST_P(update_folders, AnotherInterfaceStagesTheCoreForTheNextStartWithTheNewPlugin)
{
    std::string old_plugin = file(plugin_path);
    auto [core, plugin] = serve_build("b9", 2, true);
    start_with();
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] build b9 installed; restart the game to finish", 8)) << log_text();
    EXPECT_EQ(file(base + "core\\drovemark_core.next.dll"), core);
    EXPECT_FALSE(fx::exists(base + "update\\drovemark_core.dll"));
    EXPECT_EQ(file(plugin_path), plugin);
    std::vector<std::string> backups;
    find_suffix(root + "\\" + game_name, { ".bak" }, &backups);
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].rfind(plugin_dir + "drovemark-old-", 0), 0u) << backups[0];
    EXPECT_EQ(file(backups[0]), old_plugin);
    EXPECT_TRUE(leftovers().empty()) << joined(leftovers());

    // The next start: the plug-in moves the staged core into place.
    shutdown();
    sim::plugin_unload();
    dm_file_delete((base + "drovemark.log").c_str());
    ASSERT_TRUE(sim::plugin_load(plugin_path.c_str()));
    start();
    EXPECT_GE(log_find("[host] installed the staged core update"), 0) << log_text();
    EXPECT_EQ(file(base + "core\\drovemark_core.dll"), core);
    // The old plug-in is no longer loaded: the next check deletes it.
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] up to date (build b9)", 8)) << log_text();
    EXPECT_FALSE(fx::exists(backups[0]));
}

TEST_F(update, AnotherInterfaceWithoutAPluginAsksForAReinstall)
{
    serve_build("b4", 3, false);
    start_with();
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] build b4 needs a reinstall (plugin API 1 -> 3): run install.cmd", 8)) << log_text();
    EXPECT_EQ(http->requests, 1);
}

TEST_F(update, ADevBuildIsNeverUpdated)
{
    install_core("update_test_core_dirty.dll");
    serve_build("b5", 1, false, "update_test_core_dirty.dll");
    start_with();
    run("update install\n");
    std::string refused = fmt("[update] build b5 available; not installing over a dev build (%s)", DIRTY_ID);
    ASSERT_TRUE(wait_log(refused, 8)) << log_text();
    EXPECT_EQ(http->requests, 1);
    EXPECT_FALSE(fx::exists(base + "update"));
    EXPECT_EQ(file(base + "core\\drovemark_core.dll"), core_bytes("update_test_core_dirty.dll"));
}

TEST_F(update, WithAutoUpdateOffANewBuildWaitsForInstall)
{
    std::string fresh = serve_build("b6", 1, false).core;
    start_with("auto_update = 0\n");
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] build b6 available", 8)) << log_text();
    EXPECT_EQ(http->requests, 1);
    run("update install\n"); // no connection: it goes in at once
    ASSERT_TRUE(wait_log("[update] installing the new core (the plugin reloads it now)", 8)) << log_text();
    EXPECT_EQ(http->requests, 3);
    EXPECT_EQ(file(base + "core\\drovemark_core.dll"), fresh);
}

// A server that fails or misbehaves: every case ends within its time-outs
// with its status line, and nothing is written.
TEST_F(update, AMisbehavingServerEndsInTimeAndWritesNothing)
{
    std::string fresh = newer(core_bytes());
    std::string manifest = signed_manifest("drovemark-manifest 1\nbuild b1\napi 1\n" +
                                           file_line("drovemark_core.dll", fresh, "core.dll"));
    std::string wrong = fresh;
    wrong[100] ^= 1;
    struct {
        const char *what;
        int manifest_mode, core_mode, manifest_status;
        std::string manifest_body, core_body, status;
    } rows[] = {
        { "manifest 404", HS_ANSWER, HS_ANSWER, 404, manifest, fresh, "check failed: the update server answered HTTP 404" },
        { "manifest header stalls", HS_STALL, HS_ANSWER, 200, manifest, fresh,
          "check failed: can't reach the update server (error " }, // Wine gives the socket's time-out
        { "manifest above 64 KiB", HS_ANSWER, HS_ANSWER, 200, std::string(65537, '#'), fresh,
          "check failed: download too big" },
        { "manifest cut", HS_CUT, HS_ANSWER, 200, manifest, fresh,
          fmt("check failed: download cut short (%zu of %zu bytes)", manifest.size() / 2, manifest.size()) },
        { "core missing", HS_ANSWER, -1, 200, manifest, fresh, "download failed: the update server answered HTTP 404" },
        { "core body stalls", HS_ANSWER, HS_STALL_BODY, 200, manifest, fresh, "download failed: download failed (" },
        { "core crawls", HS_ANSWER, HS_TRICKLE, 200, manifest, fresh, "download failed: download took longer than 4 s" },
        { "core cut", HS_ANSWER, HS_CUT, 200, manifest, fresh,
          fmt("download failed: download cut short (%zu of %zu bytes)", fresh.size() / 2, fresh.size()) },
        { "core differs", HS_ANSWER, HS_ANSWER, 200, manifest, wrong,
          "download failed: drovemark_core.dll doesn't match the manifest" },
    };
    start();
    for (auto &r : rows) {
        SCOPED_TRACE(r.what);
        hs_stop(http.get());
        http = std::make_unique<hs_server>();
        serve("/rel/manifest.txt", r.manifest_body, r.manifest_mode, r.manifest_status);
        if (r.core_mode >= 0)
            serve("/rel/core.dll", r.core_body, r.core_mode);
        ASSERT_TRUE(hs_start(http.get()));
        write_config(fmt("update_url = http://127.0.0.1:%u/rel\n", http->port));
        run("config refresh\nupdate check\n");
        ULONGLONG t0 = GetTickCount64();
        int from = (int)log_lines().size();
        bool seen = false;
        while (!seen && GetTickCount64() - t0 < 9000) {
            sim::frames(1, 0.05);
            Sleep(10);
            seen = log_find("[update] " + r.status, from) >= 0;
        }
        ASSERT_TRUE(seen) << log_text();
        EXPECT_LT(GetTickCount64() - t0, 6500u) << "receive 2 s, a request 4 s as a whole";
        EXPECT_FALSE(fx::exists(base + "update\\drovemark_core.dll"));
        EXPECT_TRUE(leftovers().empty()) << joined(leftovers());
    }
    EXPECT_EQ(file(base + "core\\drovemark_core.dll"), core_bytes());
}

// Files that cannot be written: the ".part" is removed, and a core written
// for a plug-in swap that then fails is taken back.
TEST_F(update, AFailedWriteLeavesNoPartAndAFailedSwapNoCore)
{
    std::string old_plugin = file(plugin_path);
    serve_build("b3", 2, true);
    // A folder where the new plug-in is to be renamed to: the rename fails.
    CreateDirectoryA((plugin_path + ".new").c_str(), nullptr);
    start_with();
    run("update check\n");
    // (the long path cuts the 200-byte status line)
    ASSERT_TRUE(wait_log("[update] plugin update failed: can't write ", 8)) << log_text();
    EXPECT_FALSE(fx::exists(base + "core\\drovemark_core.next.dll")) << "written first, taken back";
    EXPECT_EQ(file(plugin_path), old_plugin);
    RemoveDirectoryA((plugin_path + ".new").c_str());
    EXPECT_TRUE(leftovers().empty()) << joined(leftovers());

    // The core's own target is a folder: "can't save the new core".
    CreateDirectoryA((base + "core\\drovemark_core.next.dll").c_str(), nullptr);
    run("update check\n");
    ASSERT_TRUE(wait_log("[update] can't save the new core (5)", 8)) << log_text();
    EXPECT_EQ(file(plugin_path), old_plugin) << "the plug-in is not swapped without its core";
    EXPECT_TRUE(leftovers().empty()) << joined(leftovers());
}

// Leaving the game, reloading the core and changing update_url while the
// update server holds back its answer, with the shipped time-outs (a receive
// may wait 20 s): the game thread never waits for the request. A worker left
// inside WinHTTP (closing its session does not wake a receive under Wine)
// keeps its own reference on its core: the core stays mapped while it runs,
// a reload still loads the new core, and the worker logs and writes nothing
// when the server finally drops the request.
TEST_F(update, AStalledCheckNeverHoldsTheGameThread)
{
    enum { EXIT, RELOAD, REFRESH };
    struct {
        const char *what;
        int action;
    } rows[] = { { "leaving the game", EXIT }, { "a core reload", RELOAD }, { "config refresh with a new update_url", REFRESH } };
    install_core("update_test_core_shipped.dll");
    for (auto &r : rows) {
        SCOPED_TRACE(r.what);
        http = std::make_unique<hs_server>();
        serve("/rel/manifest.txt", "", HS_STALL);
        int from = (int)log_lines().size();
        start_with();
        run("update check\n");
        ULONGLONG wait_end = GetTickCount64() + 3000;
        while (http->requests == 0 && GetTickCount64() < wait_end)
            Sleep(10);
        ASSERT_EQ(http->requests, 1);
        Sleep(300); // inside the wait for the response head
        int generation = core_generation(from);
        ASSERT_GT(generation, 0) << log_text();
        std::string loaded = fmt("%score\\loaded_%d.dll", base.c_str(), generation);
        ASSERT_TRUE(GetModuleHandleA(loaded.c_str()));

        double ms = 0;
        if (r.action == EXIT) {
            ms = fx::timed_ms([&] { shutdown(); });
        } else if (r.action == RELOAD) {
            fx::set_write_time(base + "core\\drovemark_core.dll", 30);
            for (int i = 0; i < 8 && log_find(fmt("[host] core generation %d loaded", generation + 1), from) < 0; i++)
                ms = std::max(ms, fx::timed_ms([] { sim::frames(1, 0.25); }));
            ASSERT_GE(log_find(fmt("[host] core generation %d loaded", generation + 1), from), 0) << log_text();
            int reloaded = log_find("[core] init (build ", log_find("[core] init (build ", from) + 1);
            ASSERT_GT(reloaded, 0) << log_text();
            EXPECT_GE(log_find("[update] first check in 15 s", reloaded), 0) << "the new core's updater started";
        } else {
            write_config(fmt("update_url = http://127.0.0.1:%u/rel2\n", http->port));
            ms = fx::timed_ms([&] { run("config refresh\n"); });
            EXPECT_GE(log_find(fmt("[update] first check in 15 s (http://127.0.0.1:%u/rel2/manifest.txt)", http->port),
                               from), 0) << log_text();
        }
        printf("[ stall   ] updater stop on %s: %.1f ms\n", r.what, ms);
        EXPECT_LT(ms, 1000.0) << "the stop does not wait for the stalled request";
        if (r.action != REFRESH && log_find("[update] the worker did not stop within", from) >= 0) {
            EXPECT_TRUE(GetModuleHandleA(loaded.c_str())) << "the worker's reference keeps its core mapped";
        }

        hs_stop(http.get()); // the stalled request ends
        if (r.action != REFRESH) {
            for (int i = 0; i < 500 && GetModuleHandleA(loaded.c_str()); i++)
                Sleep(10);
            EXPECT_FALSE(GetModuleHandleA(loaded.c_str())) << "the worker left and let its core go";
        } else {
            Sleep(500);
        }
        if (initialised)
            shutdown();
        EXPECT_EQ(log_find("[update] check failed", from), -1) << "a stopped check reports nothing\n" << log_text();
        EXPECT_TRUE(leftovers().empty()) << joined(leftovers());
    }
}

} // namespace

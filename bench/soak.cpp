// Soak: the real plug-in and core in the simulated game for a number of
// minutes of wall time, joined to the test server on 127.0.0.1 in remote
// mode rv, with seven bots shown as convoy vehicles that keep leaving and
// joining, our own spawned vehicle with a trailer, props that keep coming
// and going (the bots place, move and remove server props; our own are
// spawned, attached to our truck and despawned), and a hot reload of the
// core every 30 s of game time in its first half (the second half has the
// same churn without reloads, so what the bots cost can be told from what
// reloads add). Frames are as fast as loopback allows (the game's clock runs
// ahead of the wall clock). At the end it prints the process's handle count
// and private bytes at the start and the end (and at every twentieth
// reload), the private bytes the simulated game keeps for its own records
// (its objects' pages, its units' registry: what it holds so that a late
// release is counted) apart from the rest, the rest per reload and per bot
// replaced (also in committed private pages, what the simulated game's
// records count: Wine's private bytes are the resident pages, its own
// bookkeeping outside the process's address space included), the simulated
// game's unit problems (leaks, double releases), the draw faults the core
// reported, the number of reloads and the props spawned and released.
// Usage: drovemark_soak [minutes] [reloads|bots] (default 10). With "reloads" the
// bots stay as they joined and the core reloads every 5 s of game time for the
// whole run, and the figure printed is the private bytes each reload adds
// (measured from the fifth reload on, past what the first ones warm up).
// With "bots" the core never reloads: once fourteen bots were replaced (the
// first two rounds warm up), the heaps' busy blocks and the open handles are
// taken, and again at the end; what changed is printed per bot replaced,
// with the C runtime blocks the plug-in and the core hold (their imports of
// the allocation functions count them from the start on). Keep it to three
// minutes or so: each object the simulated game ever made keeps host
// mappings of its own (it is decommitted, never released), and the host caps
// a process's mappings (vm.max_map_count, 65530 by default); past the cap
// the game's allocations fail (a string's buffer comes out as a small bogus
// pointer) and the core faults writing into them.
// Not part of the test suite.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "bench_game.h"
#include "bench_heaps.h"
#include "bench_world.h"
#include "sim/sim.h"
#include "sim/sim_convoy.h"
#include "sim/sim_draw.h"
#include "sim/sim_game.h"
#include "sim/sim_vehicles.h"
#include "sim/sim_props.h"
#include "testserver.h"

namespace {

constexpr double frame_dt = 1.0 / 60.0;
constexpr double reload_every = 30.0; /* game seconds */
constexpr double churn_every = 7.0;   /* game seconds between a bot leaving and a new one joining */
constexpr double props_every = 2.0;   /* game seconds between two steps of the props churn */
constexpr int bot_props_max = 8;      /* server props the bots keep placed at most */
constexpr int bots_wanted = 7;

ts_server srv;
double next_state, next_lists;
std::string base_dir, log_path;

struct usage {
    DWORD handles;
    SIZE_T private_bytes;
    SIZE_T sim_bytes; /* of them, the simulated game's own records */
    /* The private pages committed: what the simulated game's records count
     * (Wine's private bytes are the resident pages, its own included). */
    SIZE_T committed;
    double rest() const { return (double)private_bytes - (double)sim_bytes; }
    double rest_committed() const { return (double)committed - (double)sim_bytes; }
};
usage now_usage()
{
    usage u = {};
    if (!GetProcessHandleCount(GetCurrentProcess(), &u.handles) || !u.handles) {
        // Where the call answers nothing, the native query does.
        typedef LONG(WINAPI * query_fn)(HANDLE, int, void *, ULONG, ULONG *);
        auto query = (query_fn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess");
        ULONG count = 0;
        if (query && query(GetCurrentProcess(), 20 /* ProcessHandleCount */, &count, sizeof count, nullptr) == 0)
            u.handles = count;
    }
    if (!u.handles) {
        // Nor that one (Wine): the handle values that name an open handle.
        for (uintptr_t h = 4; h < (1u << 16); h += 4) {
            DWORD flags;
            if (GetHandleInformation((HANDLE)h, &flags))
                u.handles++;
        }
    }
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        u.private_bytes = pmc.PagefileUsage; // the private bytes committed
    u.sim_bytes = sim::game_records_bytes() + sim::units_records_bytes() + sim::convoy_records_bytes();
    u.committed = bench_private_take().committed;
    return u;
}

/* The core copies (loaded_N.dll) still mapped in the process. */
int core_copies_mapped()
{
    HMODULE mods[1024];
    DWORD need = 0;
    if (!EnumProcessModules(GetCurrentProcess(), mods, sizeof mods, &need))
        return -1;
    int n = 0;
    for (DWORD i = 0; i < need / sizeof(HMODULE) && i < 1024; i++) {
        wchar_t name[MAX_PATH];
        if (GetModuleBaseNameW(GetCurrentProcess(), mods[i], name, MAX_PATH) && wcsncmp(name, L"loaded_", 7) == 0)
            n++;
    }
    return n;
}

/* The core copy (loaded_N.dll) mapped last, or null. */
HMODULE core_copy()
{
    HMODULE mods[1024], found = nullptr;
    DWORD need = 0;
    if (!EnumProcessModules(GetCurrentProcess(), mods, sizeof mods, &need))
        return nullptr;
    for (DWORD i = 0; i < need / sizeof(HMODULE) && i < 1024; i++) {
        wchar_t name[MAX_PATH];
        if (GetModuleBaseNameW(GetCurrentProcess(), mods[i], name, MAX_PATH) && wcsncmp(name, L"loaded_", 7) == 0)
            found = mods[i];
    }
    return found;
}

/* The distinct player ids of the log's "joined as player" lines. */
int joined_ids(const std::string &path, unsigned *first)
{
    std::vector<unsigned> ids;
    FILE *f = fopen(path.c_str(), "rb");
    char line[1024];
    while (f && fgets(line, sizeof line, f)) {
        unsigned id;
        const char *at = strstr(line, "[net] joined as player ");
        if (at && sscanf(at, "[net] joined as player %u", &id) == 1) {
            bool seen = false;
            for (unsigned k : ids)
                seen = seen || k == id;
            if (!seen)
                ids.push_back(id);
        }
    }
    if (f)
        fclose(f);
    *first = ids.empty() ? 0 : ids[0];
    return (int)ids.size();
}

void frame()
{
    ts_poll(&srv, sim::clock_now());
    ts_bots_tick(&srv, sim::clock_now(), &next_state, &next_lists);
    Sleep(1); /* let loopback deliver before the frame reads it */
    sim::clock_advance(frame_dt);
    sim::frame();
}

bool frames_until(const char *text, double seconds)
{
    for (double t = 0; t < seconds; t += frame_dt) {
        if (bench_log_count(log_path, text) > 0)
            return true;
        frame();
    }
    return bench_log_count(log_path, text) > 0;
}

void command(const char *line)
{
    FILE *f = fopen((base_dir + "\\cmd.txt").c_str(), "ab");
    if (f) {
        fputs(line, f);
        fputs("\n", f);
        fclose(f);
    }
}

/* Lines of the log that hold both texts. */
int log_count_both(const char *a, const char *b)
{
    int n = 0;
    FILE *f = fopen(log_path.c_str(), "rb");
    char line[1024];
    while (f && fgets(line, sizeof line, f))
        n += strstr(line, a) && strstr(line, b);
    if (f)
        fclose(f);
    return n;
}

/* The props churn, one step each call: a bot places a server prop, moves
 * one or removes the oldest, in turns; our own prop is spawned, attached to
 * our truck and despawned, a step at a time (each waits for the server's
 * echo of the one before). */
struct props_churn {
    std::vector<uint32_t> placed; /* the bots' server props, oldest first */
    int step;
};

prop_state prop_at(double x, double z)
{
    prop_state p = {};
    p.pos[0] = x;
    p.pos[1] = 10;
    p.pos[2] = z;
    p.rot[0] = 1;
    p.look = p.variant = 0x1234;
    snprintf(p.model, sizeof p.model, "/model/cone.pmd");
    return p;
}

void props_churn_step(props_churn *c, uint16_t bot)
{
    int turn = c->step++ % 3;
    if (turn == 0 || c->placed.empty()) {
        prop_state p = prop_at(120 + c->step % 20, 40 + c->step % 7);
        c->placed.push_back(ts_props_place_as(&srv, bot, &p));
        command("model spawn /model/cone.pmd 8 0");
    } else if (turn == 1) {
        const ts_prop *moved = ts_props_find(&srv, c->placed.back());
        if (moved) {
            prop_state p = moved->state;
            p.pos[0] += 1;
            ts_props_place_as(&srv, moved->owner, &p);
        }
        command("model attach last truck 3 0 0");
    } else {
        if (c->placed.size() > (size_t)bot_props_max / 2) {
            ts_props_remove(&srv, c->placed.front());
            c->placed.erase(c->placed.begin());
        }
        command("model despawn last");
    }
}

void world(const sim::player &pl)
{
    bench_vehicle_world(pl, "SOAK 1");
    sim::props_world_install(pl);
    bench_cone_model();
    // The player's trailer, coupled, for the `trailer` command to copy.
    uint8_t *rig = sim::player_trailer_new(pl, sim::def_new(sim::def_kind::trailer, "SOAK T"));
    sim::vehicle_set_placement(rig, { 100, 10, 58, 0, 0, 1, 0, 0, 0 });
    sim::trailer_couple(rig, pl.truck);
    sim::trailer_kingpin(rig, 0, 1, -5);
    // The spawned vehicle and its trailer draw through the counting fakes.
    void **drawn = *(void ***)sim::draw_object_new();
    for (int slot : { 43, 96 })
        sim::vtable_set(sim::vehicle_vtable(), slot, drawn[slot]);
    sim::draw_thread_start();
}

int fail(const char *why)
{
    printf("soak: %s (log: %s)\n", why, log_path.c_str());
    sim::plugin_shutdown();
    sim::draw_thread_stop();
    sim::plugin_unload();
    ts_stop(&srv);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    double minutes = argc > 1 ? atof(argv[1]) : 10.0;
    if (!(minutes > 0))
        minutes = 10.0;
    bool reloads_only = argc > 2 && strcmp(argv[2], "reloads") == 0;
    bool bots_only = argc > 2 && strcmp(argv[2], "bots") == 0;
    constexpr int bots_warm = 14; /* bots replaced before the first census */
    double reload_gap = reloads_only ? 5.0 : reload_every;
    if (!ts_start(&srv, 0)) {
        printf("soak: the test server can't listen on 127.0.0.1\n");
        return 1;
    }
    std::string root = bench_exe_dir() + "\\..\\benchout";
    CreateDirectoryA(root.c_str(), nullptr);
    char config[160];
    snprintf(config, sizeof config, "server = 127.0.0.1\nport = %u\nname = soak\nui_statusbar = 0\nremote_mode = rv\n",
             srv.port);
    base_dir = bench_game_folder(root + "\\soak", config);
    log_path = base_dir + "\\drovemark.log";
    if (base_dir.empty()) {
        printf("soak: cannot prepare the game's folder\n");
        return 1;
    }
    sim::clock_set(1000.0);
    if (!sim::plugin_load((bench_exe_dir() + "\\drovemark.dll").c_str()))
        return fail("cannot load the plug-in");
    sim::game_reset();
    sim::set_build_hash();
    sim::player pl = sim::game_player_create();
    world(pl);
    if (sim::plugin_init(SCS_TELEMETRY_VERSION_1_01) != SCS_RESULT_OK)
        return fail("the plug-in did not start");
    sim::event_started();
    if (!frames_until("[net] joined as player", 10))
        return fail("no join");
    command("spawn");
    if (!frames_until("[core] spawn complete", 5))
        return fail("no spawned vehicle");
    command("trailer");
    if (!frames_until("[core] trailer complete", 5))
        return fail("no trailer");
    std::vector<uint16_t> bots;
    int named = 0;
    char name[16];
    next_state = next_lists = 0;
    for (int i = 0; i < bots_wanted; i++) {
        snprintf(name, sizeof name, "bot%d", named++);
        bots.push_back(ts_add_bot(&srv, name, sim::clock_now()));
    }
    for (int i = 0; i < 600 && bench_log_count(log_path, "[core] net: spawning an rv for player") < bots_wanted; i++)
        frame();

    if (bots_only) {
        // What the plug-in and the core hold of the C runtime's heap, from here on.
        HMODULE core = core_copy();
        printf("soak: counting the C runtime blocks of the plug-in (%d imports) and the core (%d imports)\n",
               bench_count_module(GetModuleHandleA("drovemark.dll")), core ? bench_count_module(core) : -1);
    }
    usage start = now_usage();
    printf("soak: %.1f minutes of wall time%s; start: %lu handles, %.1f MB private\n", minutes,
           reloads_only ? ", reloads only" : "", (unsigned long)start.handles, start.private_bytes / 1048576.0);
    fflush(stdout);
    DWORD began = GetTickCount();
    double next_reload = sim::clock_now() + reload_gap, next_churn = sim::clock_now() + churn_every;
    double next_props = sim::clock_now() + props_every;
    props_churn churn_of_props = {};
    int reloads = 0, churns = 0, churns_half = 0;
    bool second_half = false;
    usage half = start, fifth = start, warm = start;
    bench_heap_census heaps_warm = {};
    bench_handle_census handles_warm;
    bench_private_pages pages_warm = {};
    LONG64 ours_blocks = 0, ours_bytes = 0;
    while (GetTickCount() - began < (DWORD)(minutes * 60000.0)) {
        if (bots_only && !second_half) {
            second_half = true; // from the start on, no reloads
            half = start;
        }
        if (!reloads_only && !second_half && GetTickCount() - began >= (DWORD)(minutes * 30000.0)) {
            second_half = true;
            half = now_usage();
            churns_half = churns;
            printf("soak: half time, reloads stop: %lu handles, %.1f MB private, %d reloads, %d bots replaced\n",
                   (unsigned long)half.handles, half.private_bytes / 1048576.0, reloads, churns);
            fflush(stdout);
        }
        frame();
        double t = sim::clock_now();
        if (t >= next_props) {
            next_props = t + props_every;
            props_churn_step(&churn_of_props, bots[(size_t)churn_of_props.step % bots.size()]);
        }
        if (t >= next_churn && !reloads_only) {
            next_churn = t + churn_every;
            size_t k = (size_t)churns % bots.size();
            ts_drop(&srv, bots[k], 0, nullptr);
            snprintf(name, sizeof name, "bot%d", named++);
            bots[k] = ts_add_bot(&srv, name, t);
            churns++;
            sim::calls_clear(); // the sim's call record is a test's, not the game's
            if (bots_only && churns == bots_warm) {
                warm = now_usage();
                heaps_warm = bench_heap_take();
                handles_warm = bench_handles_take();
                pages_warm = bench_private_take();
                ours_blocks = bench_counted.blocks;
                ours_bytes = bench_counted.bytes;
            }
        }
        if (t >= next_reload && !second_half) {
            next_reload = t + reload_gap;
            if (reloads == 5)
                fifth = now_usage(); // the fifth reload's core has run its gap
            reloads++;
            bench_touch(base_dir + "\\core\\drovemark_core.dll", 60.0 * reloads);
            sim::calls_clear();
            if (reloads % 20 == 0) {
                usage u = now_usage();
                printf("soak: reload %d: %lu handles, %.1f MB private\n", reloads, (unsigned long)u.handles,
                       u.private_bytes / 1048576.0);
                fflush(stdout);
            }
        }
    }
    for (int i = 0; i < 120; i++)
        frame();
    usage end = now_usage();
    auto problems = sim::unit_problems();
    int loaded = bench_log_count(log_path, "[host] core generation");
    printf("soak: end: %lu handles, %.1f MB private\n", (unsigned long)end.handles, end.private_bytes / 1048576.0);
    printf("soak: the simulated game's own records: %.1f MB at the start, %.1f MB at the end; the rest %.1f MB, "
           "%.1f MB\n",
           start.sim_bytes / 1048576.0, end.sim_bytes / 1048576.0, start.rest() / 1048576.0, end.rest() / 1048576.0);
    if (reloads_only && reloads > 5)
        printf("soak: private bytes per reload: %.1f KB, of them the simulated game's %.1f KB, the rest %.1f KB "
               "(reloads 6 to %d)\n",
               ((double)end.private_bytes - (double)fifth.private_bytes) / 1024.0 / (reloads - 5),
               ((double)end.sim_bytes - (double)fifth.sim_bytes) / 1024.0 / (reloads - 5),
               (end.rest() - fifth.rest()) / 1024.0 / (reloads - 5), reloads);
    if (reloads_only && reloads > 5)
        printf("soak: in committed private pages, the rest per reload: %.1f KB (reloads 6 to %d)\n",
               (end.rest_committed() - fifth.rest_committed()) / 1024.0 / (reloads - 5), reloads);
    if (churns_half && churns > churns_half) {
        printf("soak: private bytes per bot replaced: %.1f KB with reloads, %.1f KB without\n",
               (double)(half.private_bytes - start.private_bytes) / 1024.0 / churns_half,
               (double)(end.private_bytes - half.private_bytes) / 1024.0 / (churns - churns_half));
        // The half without reloads tells what a bot costs; what the half with
        // them adds beyond that many bots is the reloads'.
        auto rest_figures = [&](const char *what, double (usage::*rest)() const) {
            double with = (half.*rest)() - (start.*rest)(), without = (end.*rest)() - (half.*rest)();
            int later = churns - churns_half;
            printf("soak: %s per bot replaced: %.1f KB with reloads, %.1f KB without; per reload %.1f KB\n", what,
                   with / 1024.0 / churns_half, without / 1024.0 / later,
                   reloads ? (with - without / later * churns_half) / 1024.0 / reloads : 0.0);
        };
        rest_figures("the rest", &usage::rest);
        rest_figures("in committed private pages, the rest", &usage::rest_committed);
    }
    if (bots_only && churns > bots_warm) {
        int events = churns - bots_warm;
        printf("soak: from bot %d to bot %d replaced: private bytes %.1f KB per bot, the simulated game's %.1f KB, "
               "the rest %.1f KB\n",
               bots_warm, churns, ((double)end.private_bytes - (double)warm.private_bytes) / 1024.0 / events,
               ((double)end.sim_bytes - (double)warm.sim_bytes) / 1024.0 / events, (end.rest() - warm.rest()) / 1024.0 / events);
        bench_private_pages pages_end = bench_private_take();
        printf("soak: private pages: committed %.1f MB then %.1f MB (%.1f KB per bot), resident %.1f MB then %.1f MB "
               "(%.1f KB per bot); committed but for the simulated game's records: %.1f KB per bot\n",
               pages_warm.committed / 1048576.0, pages_end.committed / 1048576.0,
               ((double)pages_end.committed - (double)pages_warm.committed) / 1024.0 / events,
               pages_warm.resident / 1048576.0, pages_end.resident / 1048576.0,
               ((double)pages_end.resident - (double)pages_warm.resident) / 1024.0 / events,
               (((double)pages_end.committed - (double)pages_warm.committed) - ((double)end.sim_bytes - (double)warm.sim_bytes)) /
                   1024.0 / events);
        printf("soak: reservations of the address space: %zu then %zu (%.1f per bot)\n", pages_warm.reservations,
               pages_end.reservations, ((double)pages_end.reservations - (double)pages_warm.reservations) / events);
        bench_handles_diff(handles_warm, bench_handles_take());
        printf("soak: the plug-in's and the core's C runtime blocks: %lld held since the counting began, %+lld blocks, "
               "%+lld bytes (%.1f bytes per bot)\n",
               (long long)bench_counted.blocks, (long long)(bench_counted.blocks - ours_blocks),
               (long long)(bench_counted.bytes - ours_bytes),
               (double)(bench_counted.bytes - ours_bytes) / events);
        HANDLE heaps[64];
        DWORD n = GetProcessHeaps(64, heaps);
        for (DWORD i = 0; i < n && i < 64; i++)
            if (heaps[i] == GetProcessHeap() || heaps[i] == (HANDLE)_get_heap_handle())
                printf("heaps: heap %lu is the %s heap\n", (unsigned long)i,
                       heaps[i] == GetProcessHeap() ? "process's" : "C runtime's");
        bench_heap_diff(heaps_warm, bench_heap_take(), events, 40);
    }
    printf("soak: %d reloads asked, %d core generations loaded, %d bots replaced, %d convoy vehicles spawned, %d "
           "restored across reloads, %d \"joined as player\" lines, %d frame faults\n",
           reloads, loaded, churns, bench_log_count(log_path, "[core] net: spawning an rv for player"),
           bench_log_count(log_path, "from before the reload (net"), bench_log_count(log_path, "[net] joined as player"),
           bench_log_count(log_path, "FRAME FAULT") + bench_log_count(log_path, "core frame faulted"));
    unsigned first_id = 0;
    int ids = joined_ids(log_path, &first_id);
    printf("soak: joined under %d player id%s (the first %u); leaves sent to the server: %llu\n", ids,
           ids == 1 ? "" : "s", first_id, (unsigned long long)srv.by_type[4]);
    printf("soak: spawned vehicle restored %d times, trailer restored %d times\n",
           bench_log_count(log_path, "[core] restored spawned vehicle"), bench_log_count(log_path, "[core] restored trailer"));
    printf("soak: draw faults reported: %d; draws counted by the game: %llu\n",
           bench_log_count(log_path, "call faulted") + bench_log_count(log_path, "draw faulted") +
               bench_log_count(log_path, "shadow faulted"),
           (unsigned long long)sim::draw_stats().draws);
    printf("soak: core copies still mapped: %d\n", core_copies_mapped());
    printf("soak: props spawned %d, released %d\n", log_count_both("[props] server prop ", ", local #") +
                                                       log_count_both("[props] #", " spawned /"),
           log_count_both("[props] #", " released"));
    printf("soak: unit problems: %d\n", (int)problems.size());
    for (size_t i = 0; i < problems.size() && i < 10; i++)
        printf("  %s\n", problems[i].c_str());
    sim::plugin_shutdown();
    sim::draw_thread_stop();
    sim::plugin_unload();
    ts_stop(&srv);
    return problems.empty() ? 0 : 1;
}

// The diagnostic commands (pos, threads, config, peek, memrec, watch, cmp)
// and the watch and memory-recorder work of the "watch" frame step. Every
// read of game memory is probed and guarded: a bad address reads as false or 0.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "runtime/auto_connect.h"
#include "base/core.h"
#include "base/core_config.h"
#include "runtime/diag_text.h"
#include "runtime/diagnostics.h"
#include "dm_file.h"
#include "dm_own_files.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "runtime/runtime_game.h"
#include "vehicles/vehicle_game.h"
#include "vehicles/vehicles.h"

namespace {

/* ---- watch ---- */
bool watch_on;
uint8_t watch_sound[3] = { 0xFF, 0xFF, 0xFF };
uint32_t watch_truck_flags = 0xFFFFFFFF, watch_slot248 = 0xFFFFFFFF;
uint8_t watch_helper = 0xFF, watch_slot234 = 0xFF, watch_slot1bc = 0xFF;
float watch_f438 = -1.0f, watch_f450 = -1.0f;

/* ---- memory recorder ---- */
const uint32_t memrec_block_bytes = 0x20000; /* of the player block */
const uint32_t memrec_truck_bytes = 0x4000;  /* of the local truck */
FILE *memrec_file;
double memrec_end, memrec_next;
uint8_t memrec_buffer[0x24000];

/* Copies size bytes from a game object 8 at a time as the file layout says:
 * a word that cannot be read stays 0. The pages are asked first, so only
 * readable pages are read, and each readable run is copied in one go. */
void memrec_fill(uint8_t *out, uint64_t from, uint32_t size)
{
    if (!from)
        return;
    uint64_t region_lo = 0, region_hi = 0;
    bool region_ok = false;
    auto readable = [&](uint64_t a) {
        if (a < region_lo || a >= region_hi) {
            MEMORY_BASIC_INFORMATION mbi;
            if (VirtualQuery((const void *)(uintptr_t)a, &mbi, sizeof mbi) != sizeof mbi) {
                region_lo = a & ~0xFFFull;
                region_hi = region_lo + 0x1000;
                region_ok = false;
            } else {
                region_lo = (uint64_t)(uintptr_t)mbi.BaseAddress;
                region_hi = region_lo + mbi.RegionSize;
                region_ok = probe_read(a, 1);
            }
        }
        return region_ok;
    };
    uint32_t run_start = 0;
    bool in_run = false;
    auto flush = [&](uint32_t end) {
        if (in_run && !game_copy_guarded(out + run_start, from + run_start, end - run_start))
            memset(out + run_start, 0, end - run_start);
        in_run = false;
    };
    for (uint32_t off = 0; off < size; off += 8) {
        uint64_t a = from + off;
        bool ok = a + 8 > a && readable(a) && readable(a + 7);
        if (ok && !in_run) {
            run_start = off;
            in_run = true;
        } else if (!ok) {
            flush(off);
        }
    }
    flush(size);
}

BOOL CALLBACK find_game_window_cb(HWND window, LPARAM out_thread)
{
    DWORD pid = 0;
    DWORD thread = GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && IsWindowVisible(window)) {
        *(DWORD *)out_thread = thread;
        return FALSE;
    }
    return TRUE;
}

} // namespace

void cmd_threads()
{
    DWORD window_thread = 0;
    EnumWindows(find_game_window_cb, (LPARAM)&window_thread);
    core_log("[core] threads: frame_end=%lu, core init=%lu, game window owner=%lu", GetCurrentThreadId(),
             (unsigned long)core_game_thread, window_thread);
}

void cmd_config_status()
{
    core_log("[core] config: server '%s' port %u name '%s' autoconnect %s%s; %s", core_config.server,
             (unsigned)core_config.port, core_config.name, core_config.autoconnect ? "on" : "off",
             auto_connect_paused() ? " (paused)" : "", net_status_line());
}

void cmd_peek(const char *rest)
{
    peek_args args;
    peek_parse(rest, &args);
    if (args.va < GAME_PREFERRED_BASE) {
        core_log("[core] peek: give a game VA (0x14...)");
        return;
    }
    uint64_t at = game_from_va(args.va);
    for (int i = 0; i < args.hops; i++) {
        uint64_t value;
        if (!game_read_guarded(at, &value)) {
            core_log("[core] peek: unreadable at %p", game_ptr(at));
            return;
        }
        core_log("[core] peek: *%p = %016llx", game_ptr(at), (unsigned long long)value);
        if (!value) {
            core_log("[core] peek: null, stop");
            return;
        }
        at = value + args.offsets[i];
    }
    for (uint32_t off = 0; off < 0x40; off += 8) {
        uint64_t value;
        if (!game_read_guarded(at + off, &value)) {
            core_log("[core] peek: unreadable at %p", game_ptr(at + off));
            return;
        }
        core_log("[core] peek: %p +%02x: %016llx", game_ptr(at), off, (unsigned long long)value);
    }
}

void cmd_memrec(const char *rest, double now)
{
    double seconds;
    char name[MEMREC_NAME_MAX + 1];
    // A recording never replaces one of the system's own files.
    if (!memrec_parse(rest, &seconds, name, sizeof name) || !dm_recording_path_allowed(name)) {
        core_log("[core] memrec: usage memrec <secs> <file name>");
        return;
    }
    if (memrec_file) {
        fclose(memrec_file);
        memrec_file = nullptr;
    }
    char path[DM_PATH_MAX];
    bool fits = core_path(path, sizeof path, name);
    FILE *f = fits ? dm_file_open(path, "wb") : nullptr;
    if (!f) {
        core_log("[core] memrec: cannot open %s", path);
        return;
    }
    uint32_t header[2] = { memrec_block_bytes, memrec_truck_bytes };
    fwrite(header, sizeof header, 1, f);
    memrec_file = f;
    memrec_next = 0;
    memrec_end = now + seconds;
    core_log("[core] memrec: recording %.0f s to %s", seconds, path);
}

void memrec_sample(double now)
{
    if (!memrec_file)
        return;
    if (now >= memrec_end) {
        fclose(memrec_file);
        memrec_file = nullptr;
        core_log("[core] memrec: done");
        return;
    }
    if (now < memrec_next)
        return;
    memrec_next = now + 0.1;
    uint64_t block = game_build_ok() ? game_player_block_guarded() : 0;
    uint64_t truck = game_build_ok() ? game_local_truck() : 0;
    memset(memrec_buffer, 0, sizeof memrec_buffer);
    memrec_fill(memrec_buffer, block, memrec_block_bytes);
    memrec_fill(memrec_buffer + memrec_block_bytes, truck, memrec_truck_bytes);
    fwrite(&now, sizeof now, 1, memrec_file);
    fwrite(memrec_buffer, sizeof memrec_buffer, 1, memrec_file);
}

void cmd_watch(bool on)
{
    watch_on = on;
    core_log(on ? "[core] watch on" : "[core] watch off");
}

void watch_tick()
{
    if (!watch_on || !game_build_ok())
        return;
    uint64_t block = game_player_block_guarded(), truck = game_local_truck();
    if (!block || !truck)
        return;
    uint8_t sound[3];
    for (int i = 0; i < 3; i++) {
        uint64_t obj = game_read_guarded_or_zero<uint64_t>(block + player_block_sounds[i]);
        sound[i] = obj ? (uint8_t)game_read_guarded_or_zero<uint64_t>(obj + sound_state) : 0;
    }
    if (memcmp(sound, watch_sound, 3) != 0) {
        core_log("[core] watch: sound objs +1e730=%u +1e740=%u +1e8e0=%u", sound[0], sound[1], sound[2]);
        memcpy(watch_sound, sound, 3);
    }
    uint32_t flags = game_read_guarded_or_zero<uint32_t>(truck + actor_off::lights);
    uint32_t slot248 = game_read_guarded_or_zero<uint32_t>(block + watch_field::slot248);
    uint64_t helper_ptr = game_read_guarded_or_zero<uint64_t>(truck + actor_off::helper);
    uint8_t helper = helper_ptr ? game_read_guarded_or_zero<uint8_t>(helper_ptr + watch_field::helper_byte) : 0;
    uint8_t slot234 = game_read_guarded_or_zero<uint8_t>(block + watch_field::slot234);
    uint8_t slot1bc = game_read_guarded_or_zero<uint8_t>(block + watch_field::slot1bc);
    float f438 = game_read_guarded_or_zero<float>(block + watch_field::f438);
    float f450 = game_read_guarded_or_zero<float>(block + watch_field::f450);
    if (flags != watch_truck_flags || slot248 != watch_slot248 || helper != watch_helper ||
        slot234 != watch_slot234 || slot1bc != watch_slot1bc || f438 != watch_f438 || f450 != watch_f450) {
        uint32_t chg_flags = watch_truck_flags == 0xFFFFFFFF ? 0 : watch_truck_flags ^ flags;
        uint32_t chg_slot = watch_slot248 == 0xFFFFFFFF ? 0 : watch_slot248 ^ slot248;
        core_log("[core] watch: veh+2a0=%08x (chg %08x)  slot+248=%08x (chg %08x)  helper+3c=%02x  "
                 "slot+234=%02x +1bc=%02x  +438=%.3f +450=%.3f",
                 flags, chg_flags, slot248, chg_slot, helper, slot234, slot1bc, f438, f450);
        watch_truck_flags = flags;
        watch_slot248 = slot248;
        watch_helper = helper;
        watch_slot234 = slot234;
        watch_slot1bc = slot1bc;
        watch_f438 = f438;
        watch_f450 = f450;
    }
}

void log_vehicle_debug(const char *label, uint64_t vehicle)
{
    uint64_t wheels = game_read_guarded_or_zero<uint64_t>(vehicle + actor_off::wheels);
    uint64_t values = wheels ? game_read_guarded_or_zero<uint64_t>(wheels + wheel_off::spins) : 0;
    unsigned long long count = wheels ? game_read_guarded_or_zero<uint64_t>(wheels + wheel_off::count) : 0;
    float spin[3] = {};
    for (unsigned i = 0; i < 3 && i < count && values; i++)
        spin[i] = game_read_guarded_or_zero<float>(values + 4ull * i);
    uint32_t flags = game_read_guarded_or_zero<uint32_t>(vehicle + actor_off::lights);
    float steer = game_read_guarded_or_zero<float>(vehicle + actor_off::steering);
    float f238 = game_read_guarded_or_zero<float>(vehicle + actor_off::time_scale);
    uint8_t b25b = game_read_guarded_or_zero<uint8_t>(vehicle + actor_off::finalize_byte);
    uint64_t p698 = game_read_guarded_or_zero<uint64_t>(vehicle + actor_off::steering_object);
    uint64_t p6a0 = game_read_guarded_or_zero<uint64_t>(vehicle + actor_off::helper);
    core_log("[core] %s %p: flags2a0=%08x steer690=%.3f f238=%.4f wheels=%llu spin=%.3f,%.3f,%.3f 0x25b=%u "
             "0x698=%p 0x6a0=%p",
             label, game_ptr(vehicle), flags, steer, f238, count, spin[0], spin[1], spin[2], b25b,
             game_ptr(p698), game_ptr(p6a0));
}

void cmd_cmp()
{
    uint64_t truck = game_local_truck();
    if (truck)
        log_vehicle_debug("local", truck);
    if (spawn_state_value() == SPAWN_SPAWNED)
        log_vehicle_debug("ours ", (uint64_t)(uintptr_t)spawn_vehicle_ptr());
}

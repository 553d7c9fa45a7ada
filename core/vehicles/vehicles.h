/* What the vehicles subsystem offers the rest of the core: its life cycle,
 * its frame steps, the state the runtime reports, the local truck's sample
 * for the network, and its console commands. The spawned vehicle is in
 * spawn.h, the convoy remote vehicles in rv.h. */
#pragma once
#include "dm_api.h"
#include "net/net_records.h"
#include "base/placement.h"

#define DM_RV_SLOTS 8

/* The states of the spawned vehicle and of its trailer. */
enum { SPAWN_NONE = 0, SPAWN_LOADING = 1, SPAWN_SPAWNED = 2 };

/* At shutdown, with the draw hooks removed: the releases still waiting for
 * a draw (spawn.h) are done, or left to the game when a draw still runs. */
void spawn_release_finish();

/* frame steps "rv_restore", "tick_spawn" and "rv" */
void rv_restore_after_reload();
void spawn_tick(const dm_frame_info *info);
/* How many trailers have been completed so far: a new one is drawn again even
 * when an earlier one's draw faulted, so the frame clears the detours'
 * trailer faults when this changes. */
uint32_t spawn_trailer_builds();
void rv_tick(const dm_frame_info *info);

/* The local truck's pose: from the game's truck on the supported build, from
 * telemetry on any other; false when the game's truck gives none. */
bool net_sample_local(const dm_frame_info *info, net_pose *out);

/* The remote-player glue after the network client's tick (the rest of the
 * "net_tick" frame step): a closed socket lets the remote players go; then
 * our accessory lists are published and, once the join has settled, the
 * remote players are shown in the remote mode in force. True when it spawned
 * a vehicle for a remote player, which the draw hook draws: the frame then
 * installs the hook. */
bool remote_glue_tick(double now);
/* Our accessory lists once a second (local_accessories.cpp). */
void local_accessories_tick(double now);
/* list 0 truck, 1 trailer, from a vehicle's accessory container (0: none,
 * published as empty); under the guard. */
void net_send_local_accessories(int list, uint64_t container);
/* The bound remote player is gone (reason text for the log). */
void remote_gone(const char *reason);
/* For props: the object showing that player's truck (or trailer) in clone
 * mode; null with *out set to a convoy remote vehicle's object otherwise.
 * Callers take the result first and *out second. */
void *player_vehicle(uint16_t id, bool trailer, void **out);
/* The placement of that player's convoy remote vehicle; false for id 0, the
 * bound player and players without one. */
bool remote_rv_pose(uint16_t id, placement *out);
/* The binding carried across a core reload: the remote player our vehicle
 * shows and the one our trailer shows; the first change of their lists after
 * the reload only updates the stored hashes (no respawn, no rebuild). */
void remote_restore_binding(uint16_t vehicle_player, uint16_t trailer_player);
uint16_t remote_trailer_player();
/* For "net status": bound player, spawned vehicle, spawn state, motion mode, hidden. */
void remote_slot_status(uint16_t *player, void **vehicle, int *state, int *mode, bool *hidden);

/* The convoy remote vehicles' side of the glue (rv_remote.cpp, rv_slots.cpp). */
void rv_despawn_remotes(const char *reason);
void rv_remote_update(double now);
void *rv_player_object(uint16_t id);
bool rv_player_placement(uint16_t id, placement *out);
void remote_mode_rv_command();
/* "remote" without arguments: the mode, the rv velocity and a line a slot. */
void rv_remote_report();
/* The slots into the player-info page and the section for the next core
 * (also at shutdown). */
void rv_save_slots();
/* dm_core_init: maps the section of the convoy slots' record (RV_SECTION_NAME);
 * one line when it cannot be mapped, and the record then lives in the
 * player-info page only. */
void rv_section_map();

/* state for the fault report, state.json, shutdown, the console and the
 * draw detours (these readers may run on the render thread) */
void *spawn_vehicle_ptr();
void *spawn_trailer_ptr();
int spawn_state_value();         /* SPAWN_NONE, SPAWN_LOADING, SPAWN_SPAWNED */
int spawn_trailer_state_value(); /* as the vehicle's; SPAWN_SPAWNED once built */
/* The draw and shadow detours read the four above and this one, on the
 * game's render thread: */
bool spawn_hidden(); /* a parked remote player's vehicle is not drawn */
void *rv_slot_netobj(int slot);

/* console */
void cmd_local(const dm_frame_info *info);
/* "spawn" [metres]: rest null for the default distance */
void cmd_spawn(const char *rest);
void spawn_vehicle(float metres, const char *look_list, int count);
void spawn_despawn();
void spawn_trailer();
void trailer_remove(const char *reason);
void cmd_info();
void cmd_cargodump();
void cmd_rvspawn(const char *rest);
void cmd_rvdespawn(const char *rest);
void rv_info(int slot);
void cmd_remote(const char *rest);
void cmd_rvmove(const char *rest);
void cmd_move(const char *rest);
void cmd_defdump(const char *file); /* null: none given */
void cmd_spawnlist(const char *rest);
/* The spawned vehicle's switches: "flags <hex>" forces its light word,
 * "flags off" ends that; "wheeldbg" logs the next wheel lines; "steer flip",
 * "spawnmode clone|share", "collide on|off" (also "net collide ..."),
 * "tick on|off". */
void cmd_flags(const char *rest);
void cmd_flags_off();
void cmd_wheeldbg();
void cmd_steer_flip();
void cmd_spawnmode(bool clone);
void cmd_collide(bool on);
void cmd_tick(bool on);
/* The convoy remote vehicles' switches: rvvel [on|off], rvstep auto|on|off,
 * rvclock [on|off] (rest: the text behind the word). */
void cmd_rvvel(const char *rest);
void cmd_rvstep(const char *rest);
void cmd_rvclock(const char *rest);

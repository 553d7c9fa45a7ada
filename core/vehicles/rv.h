/* The convoy remote vehicles: eight slots of the game's own network objects
 * for remote trucks, which the game's truck controller ticks, interpolates
 * and draws (slot 0 for the test commands, 1..7 for remote players).
 * Creating and taking them down with the two stand-in objects the game's
 * code expects in single player (rv_slots.cpp); driving them each frame and
 * keeping them across a core reload (rv_drive.cpp); the commands
 * (rv_commands.cpp); the remote-player glue's side (rv_remote.cpp). Game
 * thread only; the game's layout is in rv_game.h. */
#pragma once
#include <stdint.h>
#include "dm_api.h"
#include "base/game_mem.h"
#include "base/placement.h"
#include "vehicles/vehicles.h"

enum { RV_FREE = 0, RV_STAGE_A = 1, RV_STAGE_B = 2, RV_STAGE_C = 3 };
enum { RV_MOVE_NONE = 0, RV_MOVE_CIRCLE = 1, RV_MOVE_NET = 2 };
enum { RV_STEP_AUTO = 0, RV_STEP_ON = 1, RV_STEP_OFF = 2 };

#define RV_AUTO_STEP_FRAMES 30      /* unchanged stamps before the core steps it */
#define RV_KEY_DELAY_US 150000ULL   /* keys stamped this far in the past */
#define RV_CLOCK_CAP_US 1000000ULL  /* the physics clock advances at most this a frame */
#define RV_BLINK_HOLD 1.0           /* seconds a blinker bit is held after it was seen */
#define RV_LIGHT_LEFT 0x40u
#define RV_LIGHT_RIGHT 0x80u
/* The named section that carries the "rvsave2" record to the next core
 * beside the player-info page (the process id goes in). */
#define RV_SECTION_NAME "Localdrovemark_rv_state_%lu"

typedef struct rv_slot_state {
    uint64_t netobj;            /* 0: free */
    uint64_t definition;
    int32_t stage;              /* RV_FREE, RV_STAGE_A, B, C (and above: live) */
    uint8_t owns_definition;    /* despawning drops our reference on it */
    uint16_t player;            /* remote player shown; 0 for the test slot */
    uint32_t accessory_hash;
    uint32_t move_mode;         /* RV_MOVE_* */
    double centre[3];
    double radius = 20.0, speed = 5.0, angle, previous_time;
    uint16_t follow_player;
    uint16_t last_flags = 0xFFFF;
    uint64_t last_ticked = ~0ULL;
    uint8_t last_physics = 0xFF;
    uint8_t stepping_ourselves;
    uint64_t last_stamp;
    uint32_t unchanged_frames;
    uint8_t lights_present;
    uint32_t light_bits;
    double left_seen = -1000000000.0, right_seen = -1000000000.0;
    uint8_t velocity_valid;
    float velocity[3];
    uint64_t ctrl;              /* the truck controller it was made in */
    game_taken physics;         /* its vehicle's physics object, probed when it appears */
} rv_slot_state;
extern rv_slot_state rv_slots[DM_RV_SLOTS];

/* The settings of the commands and the driving's own state. */
typedef struct rv_settings {
    uint8_t velocity = 1;       /* hand the sampled velocity to the game */
    uint8_t clock = 1;          /* advance the physics clock in single player */
    uint32_t step_mode;         /* RV_STEP_* */
    double previous_stamp;      /* frame seconds of the previous clock step; 0 none */
    uint8_t restore_done;
} rv_settings;
extern rv_settings rv_config;

/* ---- slots (rv_slots.cpp) ---- */
void rv_slot_reset(rv_slot_state *slot);
/* The slot's "last logged" values back to their reset values. */
void rv_slot_reset_logged(rv_slot_state *slot);
uint64_t rv_world_controller();
uint64_t rv_truck_ctrl();
bool rv_unit_factory_ok();
bool rv_spawn(int slot, const placement *at, uint64_t definition, uint64_t accessory_array, int target_stage);
void rv_despawn(int slot, const char *reason);
bool rv_create_netobj(rv_slot_state *slot, int index, const placement *at, uint64_t owner);
bool rv_build_model(rv_slot_state *slot, uint64_t link, uint64_t accessory_array);
bool rv_destroy_netobj(rv_slot_state *slot);
bool rv_release_definition(uint64_t definition);
bool rv_is_server_config(uint64_t object);
uint64_t rv_server_config_create();
void rv_server_config_remove();
uint64_t rv_pinfo_save_area();
/* The netobj stands in the truck controller: our table, its vehicle in the
 * controller's list and the slot's own id at +0x10. */
bool rv_netobj_alive(uint64_t netobj, int index);
/* The same check in every frame, for a netobj probed when it was taken:
 * plain loads under one guard, a fault is not alive. It stays a per-frame
 * check because the netobj is the controller's (no reference of ours
 * keeps it), and the game may drop it from its list. */
bool rv_netobj_listed(uint64_t netobj, int index, uint64_t ctrl);
uint32_t rv_netobj_id(int index);
/* Forgets every slot without a game call (the world under them is gone). */
void rv_forget_all();
void rv_log_fault(const char *step);
bool rv_any_netobj();

/* ---- driving (rv_drive.cpp) ---- */
void rv_tick_slot(int slot, const dm_frame_info *info);
bool rv_target_pose(rv_slot_state *slot, const dm_frame_info *info, placement *out);
bool rv_step(rv_slot_state *slot, const placement *target, bool self_step);
uint64_t rv_net_time_us();
void rv_save_slots();

/* ---- commands (rv_commands.cpp) ---- */
void rv_peek();

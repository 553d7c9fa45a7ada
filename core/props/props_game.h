/* The game's layout that the props use (game build 1.61.3.1): models, the
 * file system, hookups and lights, and the physics server and collision
 * scene. Offsets from game_base unless named; slots are indexes into the
 * object's virtual table. What the props share with the vehicles (the
 * player's parts, their light word, the camera manager) is in game_mem.h and
 * vehicle_game.h. */
#pragma once

/* ---- models and the file system (props_models.cpp, props_attach.cpp) ---- */
#define GAME_OFF_MODEL_VTABLE 0x243E518u
#define GAME_OFF_MODEL_CLASS 0x1E796F0u     /* class record; its create at +8 */
#define GAME_OFF_FILES 0x273D228u           /* u64 array of file-system entries */
#define GAME_OFF_FILES_COUNT 0x273D230u     /* u64 entries; must exceed 4 */
#define FILES_INTERFACE_ENTRY 4             /* entry 4 is the interface whose slot 4 answers exists */
#define FILES_SLOT_EXISTS 4
#define GAME_OFF_ALLOC 0x13F4830u           /* (size) -> block */
#define SETUP_BLOCK_SIZE 0x110u             /* what the setup calls are given */
#define GAME_OFF_SETUP_CONSTRUCT 0x659400u  /* (block) */
#define GAME_OFF_SETUP_REF 0x39C6F0u        /* (u64 *out) */
#define GAME_OFF_SETUP_BIND 0x6594E0u       /* (block, 1, ref) */
#define GAME_OFF_SETUP_ATTACH 0x15E3200u    /* (model, block, ref) */
#define GAME_OFF_TRANSFORM_UPDATE 0x13CDD70u /* (model + 0x10, u64 at model + 0x50) */
#define GAME_OFF_WORLD_PLACEMENT 0x458A00u  /* (model + 0x10) -> placement * */
#define GAME_OFF_COMPOSE 0x139BD80u         /* (frame, out, relative) */
#define MODEL_SIZE 896u
#define MODEL_TRANSFORM 0x10u
#define MODEL_PLACEMENT 0x30u
#define MODEL_TRANSFORM_ARG 0x50u
#define MODEL_DESCRIPTOR 0x118u
#define MODEL_BOX_DESCRIPTOR 0x120u
#define MODEL_FLAGS 0x13Cu
#define MODEL_LOADED 0x100u
#define MODEL_HOOKUPS 0x320u
#define MODEL_HOOKUP_COUNT 0x328u
#define MODEL_SLOT_RELEASE 1
#define MODEL_SLOT_HOOKUP_TICK 17
#define MODEL_SLOT_DRAW 18
#define MODEL_SLOT_HOOKUPS_CREATE 30
#define MODEL_SLOT_SET_DATA 33
#define MODEL_SLOT_HOOKUPS_PREPARE 40
#define VEHICLE_CHASSIS_SLOTS 0x160u
#define VEHICLE_CABIN_SLOTS 0xFB8u
#define VEHICLE_SLOT_OBJECT_SIZE 4040u

/* ---- hookups and lights (props_lights.cpp) ---- */
#define GAME_OFF_FLARE_BLINK_CLASS 0x1E193C0u
#define GAME_OFF_LIGHT_CLASS 0x1E19320u
#define GAME_OFF_HOOKUP_CONTEXT 0x225BA20u
#define GAME_OFF_INLINE_LIST 0x21D2E48u
#define FLARE_DISABLED 0x240u
#define LIGHT_ALWAYS_ON 0x198u
#define HOOKUPS_MAX 4096u
#define CTRL_LIGHTS 0x3278u
#define CTRL_STATIC_LIGHTS 0x32A0u
#define CTRL_MOVING_LIGHTS 0x32C8u
#define LIGHT_HEADLIGHTS 0x2u
#define LIGHT_BEACONS 0x200u
/* a light object + : what the hookup dump prints */
#define LIGHT_LAMP 0x218u            /* u64 lamp object (its first byte printed) */
#define LIGHT_RANGE_A 0x168u         /* f32 */
#define LIGHT_RANGE_B 0x16Cu         /* f32 */
#define LIGHT_TYPE 0x110u            /* i32 */
#define LIGHT_INTENSITY 0x228u       /* f32 */
#define LIGHT_FADE 0x108u            /* f32 */
#define LIGHT_REGISTERED 0x210u      /* u8 */
#define LIGHT_PARENT 0x50u           /* u64 */
#define LIGHT_1A0 0x1A0u             /* u64, printed as +1a0 */
#define LIGHT_FRAME 0x1B0u           /* its world frame, as a model's at MODEL_TRANSFORM */
#define LIGHT_HOOKUP_LOCAL 0x30u     /* f32 x 3 */

/* ---- physics and collision (props_collision.cpp) ---- */
#define CTRL_PHYSICS_SERVER 0x2D90u      /* game_ctrl + : u64 */
#define CTRL_COLLISION_SCENE 0x2DA0u     /* game_ctrl + : u64 */
#define GAME_OFF_SCENE_VTABLE 0x244F028u
#define GAME_OFF_RESOURCE_LOAD 0x1E3C60u /* (manager + 0xD8, 1, &path, kind, 0, 0) -> resource */
#define GAME_OFF_RESOURCE_MANAGER 0x36B8B78u /* u64 pointer to the resource manager */
#define RESOURCE_MANAGER_LIST 0xD8u      /* manager + : what the load takes */
#define GAME_OFF_COLLISION_KIND 0x1E79740u
#define RESOURCE_DATA 0x50u
#define SERVER_SLOT_NEW_STATIC 12
#define ACTOR_SLOT_SET_PLACEMENT 34
#define SCENE_SLOT_CAST 22                /* the collision scene's ray cast (props_level.cpp) */
#define GAME_OFF_SHAPE_BUILD 0x157D810u
#define GAME_OFF_SCENE_ADD 0x16850B0u    /* (actor, collision scene) */
#define GAME_OFF_SHAPES_REMOVE 0x1682710u /* (server, &shapes) */
#define GAME_OFF_ACTOR_REMOVE 0x1682560u /* (server, actor) */

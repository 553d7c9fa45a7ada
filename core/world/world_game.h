/* The game's layout that the world code uses (game build 1.61.3.1): the
 * clock, time scale and weather (from game_base, game_ctrl, the economy
 * object or the environment object), the traffic manager and AI cars, the
 * navigation block, journey events, wear and the freight market; and a
 * guarded write. The props' layout is props_game.h. Game thread only. */
#pragma once
#include <stdint.h>
#include "dm_guard.h"

#define GAME_OFF_ECONOMY 0x304FD20u        /* u64 economy object */
#define GAME_ECONOMY_MINUTES 0x19Cu        /* u32 total game minutes */
#define GAME_ECONOMY_SECONDS 0x1A0u        /* f32 seconds within the minute */
#define GAME_CTRL_TIME_SCALE 0x31BCu       /* f32 game seconds per real second */
#define GAME_CTRL_ENVIRONMENT 0x998u       /* u64 environment object */

#define GAME_OFF_SET_WEATHER 0x4F20F0u     /* (environment, u8 kind, u8 instant) */
#define GAME_OFF_APPLY_WEATHER 0x4E71E0u   /* (environment) */

/* environment + */
#define GAME_ENV_INDEX 0x3E78u             /* i32 */
#define GAME_ENV_KIND 0x3E7Cu              /* u32: 0 normal, 1 bad */
#define GAME_ENV_CLOCK_MINUTES 0x3E80u     /* u32 */
#define GAME_ENV_CLOCK_SECONDS 0x3E84u     /* f32 */
#define GAME_ENV_MIX 0x3F28u               /* f32 */
#define GAME_ENV_PAIR 0x4568u              /* i32 x 2 */
#define GAME_ENV_NEXT_PAIR 0x4570u         /* i32 x 2 */
#define GAME_ENV_WEATHER_TIMER 0x4578u     /* f32 seconds until the game rolls its own */
#define GAME_ENV_TRANSITION 0x457Cu        /* i32 */
#define GAME_ENV_SECOND_TIMER 0x4588u      /* f32 */
#define GAME_ENV_RAIN 0x45E8u              /* f32 */
#define GAME_ENV_SEED 0x2A38u              /* u32 */
#define GAME_ENV_LOCK 0x4714u              /* i32 */
#define GAME_ENV_CLIMATE 0x2AB8u           /* u64 x 2, at +0 and +8 */

/* ---- the traffic manager and the g_traffic variable (traffic_lock.cpp,
 * traffic_sync.cpp) ---- */
#define GAME_OFF_TRAFFIC_MANAGER 0x36B8DC0u  /* u64 traffic manager */
#define TRAFFIC_MGR_ENTRIES 0xF8u            /* manager + : u64 entries (16 bytes: car, second word) */
#define TRAFFIC_MGR_COUNT 0x100u             /* manager + : u64 car count */
#define GAME_OFF_TRAFFIC_DENSITY 0x56C040u   /* (manager, f32 density) */
#define GAME_OFF_G_TRAFFIC 0x2D4EAB0u        /* the console variable object */
#define GAME_OFF_CVAR_VTABLE 0x2223C00u      /* its first word */
#define GAME_OFF_CVAR_REFUSE 0xF1D30u        /* a callback that returns false */
#define GAME_OFF_TRAFFIC_CALLBACK 0x41C080u  /* the game's own change callback */
#define GAME_OFF_CVAR_VALUE 0x1DC850u        /* (variable) -> f32 */
#define CVAR_NAME 0x8u                       /* inline text */
#define CVAR_KIND 0x90u                      /* u32, 2 */
#define CVAR_CALLBACK 0x98u                  /* u64 */
#define CVAR_VALUE_TEXT 0xB1u                /* inline text, up to the cached flag */
#define CVAR_CACHED 0x116u                   /* u8 */
#define CVAR_CACHED_VALUE 0x118u             /* f32 */
#define CVAR_ZERO_WORD 0x120u                /* u64, 0 */

/* ---- AI cars (traffic_sync.cpp) ---- */
#define GAME_OFF_AI_CAR_VTABLE 0x22DA610u    /* an AI car's first word */
#define AI_CAR_PLACEMENT 0x28u
#define AI_CAR_TYPE 0x70u                    /* u32 */
#define AI_CAR_MODEL 0x210u                  /* u64 model object */
#define AI_MODEL_LIGHTS 0x1C0u               /* model + : u32 light word */
#define AI_MODEL_FLAGS 0x1B8u                /* model + : u32 model flags */
#define AI_CAR_EXCLUDED 0x389u               /* u8 */
#define AI_CAR_DEFINITION 0x410u             /* u64 */
#define AI_CAR_ID 0x420u                     /* u32 */
#define CAR_DEF_ENTRIES 0x18u                /* definition + : u64 array of entry pointers */
#define CAR_DEF_ENTRY_COUNT 0x20u            /* definition + : u64 */
#define CAR_DEF_ENTRY_PATH 0x18u             /* entry + : u64 char pointer */
#define CAR_DEF_COLOURS 0x200u               /* definition + : u64 array of f32 x 3 */
#define CAR_DEF_COLOUR_COUNT 0x208u          /* definition + : u64 */
#define CAR_DEF_ENTRIES_WALKED 4096u         /* entries looked at, at most */

/* ---- the navigation block (gps.cpp) ---- */
namespace gps_field {
constexpr uint32_t ctrl_navigation = 0x4128;  /* game_ctrl + : the navigation block (in place) */
constexpr uint32_t nav_mode = 0x1C8, nav_revision = 0x270;
constexpr uint32_t nav_behind_count = 0x1E0, nav_ahead = 0x200, nav_ahead_count = 0x208;
constexpr uint32_t nav_avoid_count = 0x230, nav_history_count = 0x258;
constexpr uint32_t nav_setter_a = 0x220, nav_setter_b = 0x248;
constexpr uint32_t player_nearest_flag = 0x28; /* player block + : u8 for the node search */
constexpr uint32_t off_nearest_node = 0x7B65B0, off_route_set = 0x4FC3A0, off_route_clear = 0x4FC000;
constexpr uint32_t off_list_marker = 0x21FC348;
} // namespace gps_field

/* ---- journey events (road_events.cpp); the session object is the world
 * controller, rv_addr::world_controller (rv_game.h) ---- */
namespace road_field {
constexpr uint32_t off_manager = 0x36B8DC8;   /* u64 journey-events manager */
constexpr uint32_t off_handle_tables = 0x30517A0;
constexpr uint32_t off_road_item_of = 0x48DFB0, off_apply = 0x8E3830, off_remove = 0x8E3B80;
/* manager */
constexpr uint32_t mgr_events = 0x220, mgr_count = 0x228, mgr_next_uid = 0x240, mgr_defs_holder = 0x16E8;
constexpr uint32_t holder_list = 0x38, list_data = 0x18, list_count = 0x20;
/* an active event record */
constexpr uint32_t record_size = 144;
constexpr uint32_t rec_item = 0x00, rec_block = 0x08, rec_def = 0x18, rec_set = 0x74, rec_seed = 0x78;
constexpr uint32_t rec_uid = 0x80, rec_flag = 0x88;
/* a road item */
constexpr uint32_t item_type = 0x0A, item_min = 0x0C, item_max = 0x20, item_road = 0x40, item_loaded = 0x5F;
constexpr uint8_t item_type_road = 3;
/* a definition */
constexpr uint32_t def_handle = 0x0C;
} // namespace road_field

/* ---- wear (damage.cpp): the truck's and trailers' data are their
 * definitions (actor_off::definition, vehicle_game.h) ---- */
namespace damage_field {
/* truck data */
constexpr uint32_t engine = 0x1A0, transmission = 0x1A4, cabin = 0x1A8;
constexpr uint32_t unfixable_step = 0xC;     /* each truck part's unfixable: +0xC */
/* trailer data */
constexpr uint32_t body_fix = 0x1C4, body_unfix = 0x1C8, cargo = 0x1B0;
/* both */
constexpr uint32_t chassis_fix = 0x98, chassis_unfix = 0x9C;
constexpr uint32_t wheels_fix = 0xA8, wheels_fix_count = 0xB0, wheels_unfix = 0xD0, wheels_unfix_count = 0xD8;
} // namespace damage_field

/* ---- the freight market (job_market.h) ---- */
namespace job_off {

/* from game_base */
constexpr uint32_t company_lookup = 0x7D2390;  /* (u64 *company token, u64 *city token) -> company */
constexpr uint32_t cargo_lookup = 0xAB8F50;    /* (u64 *cargo token) -> cargo */
constexpr uint32_t offer_generator = 0x4A16D0; /* (economy, cargo, source name, target name) */
constexpr uint32_t string_word0 = 0x21D2CC0, string_word1 = 0x1DF246E;
constexpr uint32_t string_assign = 0xF5D60;    /* (string *, const char *) */
constexpr uint32_t string_free = 0x11B620;     /* (string *) */
constexpr uint32_t row_routine = 0x106CFC0;    /* (a1, a2, row) */
constexpr uint32_t result_texts = 0x1E1BBF0;   /* 28 text pointers */
constexpr uint32_t block_pick = 0x82F750, block_prepare = 0x831650;
constexpr uint32_t block_take = 0x830570, block_free = 0x82F910;
/* Chosen here (the game's own, found by this core's developer): the city
 * display-name call, (u64 *city token) -> const char * or null. */
constexpr uint32_t city_display_name = 0x7D2A40;

/* economy + */
constexpr uint32_t economy_player = 0x18;
/* Chosen here: the company list is a pointer to an array of company
 * pointers at economy + 0x40 and its u32 count at + 0x48. */
constexpr uint32_t economy_companies = 0x40, economy_company_count = 0x48;
/* economy player + */
constexpr uint32_t player_jobs[3] = { 0x28, 0x30, 0x38 };
constexpr uint32_t player_truck_list = 0x78, player_truck_count = 0x80;

/* company + ; the name tokens at + 0x20 and + 0x28 are chosen here */
constexpr uint32_t company_item = 0x10, company_token = 0x20, company_city = 0x28;
constexpr uint32_t company_offers = 0x80, company_offer_count = 0x88;
constexpr uint32_t item_owner = 0x58, item_position = 0x60;

/* offer + ; the target name is a pointer to NUL-terminated text (chosen
 * here), as are the trailer definition at + 0x60 and the u32 units at
 * + 0x54 */
constexpr uint32_t offer_target_name = 0x18, offer_expiry = 0x48, offer_urgency = 0x4C;
constexpr uint32_t offer_distance = 0x50, offer_units = 0x54, offer_cargo = 0x58, offer_trailer_def = 0x60;
/* cargo + */
constexpr uint32_t cargo_name = 0x18, cargo_name_length = 0x20;

/* The game's urgencies are 0..2. */
constexpr uint32_t urgency_max = 2;

} // namespace job_off

/* Writes the bytes to a game address under the guard; false on a fault. */
inline bool world_write_guarded(uint64_t address, const void *bytes, size_t size)
{
    return dm_guarded([=] {
        volatile uint8_t *dst = (volatile uint8_t *)(uintptr_t)address;
        const uint8_t *src = (const uint8_t *)bytes;
        for (size_t i = 0; i < size; i++)
            dst[i] = src[i];
    });
}
template <typename T> bool world_write_guarded(uint64_t address, T value)
{
    return world_write_guarded(address, &value, sizeof value);
}

/* The economy object (clock_sync.cpp): 0 without one or when unreadable. */
uint64_t clock_economy();

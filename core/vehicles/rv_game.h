/* The game's convoy remote-vehicle machinery that the core drives (game
 * build 1.61.3.1): the world controller, the truck controller of remote
 * vehicles, the clock object, the network object ("netobj") with its
 * vehicle object ("rv") and definition link, the server_config class and
 * the getter of game settings. Offsets from game_base unless said
 * otherwise; virtual slots as indexes into the object's table. */
#pragma once
#include <stdint.h>

namespace rv_addr {
constexpr uint32_t world_controller = 0x36B8E00; /* u64 wc (the road events' session object) */
constexpr uint32_t truck_ctrl = 0x36B8E70;       /* u64 remote_vehicle_ctrl */
constexpr uint32_t clock = 0x36B8DB0;            /* u64 clock object */
constexpr uint32_t factory = 0xB70220;           /* (owner, u64 *id, placement *) -> netobj */
constexpr uint32_t netobj_vtable = 0x2320A90;
constexpr uint32_t server_config_class = 0x1E79B80; /* class record (create at +8) and class object */
constexpr uint32_t pending_flush = 0x79BB80;     /* (truck controller) */
/* The time-zone setting, handed to GAME_OFF_SETTING_GETTER as (setting, 0). */
constexpr uint32_t timezone_setting = 0x2D41A50;
constexpr uint64_t image_span = 0x4000000;       /* a game table lies within base .. base + this */
} // namespace rv_addr

/* game_ctrl + / player block + */
constexpr uint32_t game_ctrl_truck_ctrl = 0x80;
constexpr uint32_t player_block_network = 0x1E6B0; /* u64 network object, its +8 the owner */
constexpr uint32_t player_network_owner = 0x08;

namespace wc_field {
constexpr uint32_t word = 0x08;         /* its byte +0x0B is the state */
constexpr uint32_t network_game = 0x10; /* null in single player */
constexpr uint32_t word2 = 0x18;        /* 0 in single player */
constexpr uint32_t player_info = 0x48;
constexpr uint32_t physics_clock = 0x50; /* u64 µs */
constexpr uint32_t rules = 0x70;        /* a server_config object */
constexpr uint32_t grid = 0x2D0;        /* (printed as the session's wc by the road events) */
constexpr uint32_t network_clock = 0x50; /* network game + : u64 µs */
} // namespace wc_field

namespace ctrl_field {
constexpr uint32_t array = 0x38, count = 0x40, trailers = 0x68, pending = 0x90, ticked = 0xB8, flag = 0xD0;
} // namespace ctrl_field

namespace clock_field {
constexpr uint32_t net_base = 0xB20;  /* u64 subtracted from the network time */
constexpr uint32_t sim_clock = 0xB38; /* u64 */
} // namespace clock_field

namespace netobj_field {
constexpr uint32_t id = 0x10;         /* u32 */
constexpr uint32_t id_high = 0x16;    /* u16 */
constexpr uint32_t state = 0x18;      /* u32; its first byte := 1 */
constexpr uint32_t reset_a = 0x38, reset_b = 0x40;
constexpr uint32_t key_base = 0xF8, key_time = 0x100; /* u64 µs */
constexpr uint32_t status = 0x154;    /* u32; bits 0x0C set */
constexpr uint32_t key_previous = 0x1B8, key_current = 0x1D8; /* 32-byte placements */
constexpr uint32_t key_mode = 0x1F8;  /* u8 := 2 */
constexpr uint32_t velocity_previous = 0x218, velocity = 0x224; /* f32 x 3 */
constexpr uint32_t lights_b = 0x2D8, lights = 0x2DC;            /* u32 */
constexpr uint32_t vehicle = 0x290;   /* the rv */
constexpr uint32_t link = 0x298;      /* the definition link */
} // namespace netobj_field

namespace netobj_slot {
constexpr uint32_t destroy = 0;    /* (1) */
constexpr uint32_t add = 4;        /* (0xFFFE) */
constexpr uint32_t remove = 5;     /* (0xFFFE) */
constexpr uint32_t apply_key = 6;
constexpr uint64_t list_argument = 0xFFFE;
} // namespace netobj_slot

namespace rv_field {
constexpr uint32_t physics = 0x10;    /* its byte +0xA8 the state, +0xA9 the one asked for */
constexpr uint32_t pose = 0x28;       /* 32-byte placement */
constexpr uint32_t interp = 0x88;     /* u8 */
constexpr uint32_t snap = 0xE0;       /* u64 := 0xE000000000000000 each step */
constexpr uint32_t flags = 0x228;     /* u16 */
constexpr uint32_t flags2 = 0x22C;    /* u32; bit 0x02: steppable */
constexpr uint32_t stamp = 0x230;     /* u64 step stamp */
constexpr uint32_t model = 0x270;
constexpr uint32_t definition = 0x290;
constexpr uint32_t physics_state = 0xA8, physics_requested = 0xA9;
constexpr uint64_t snap_value = 0xE000000000000000ULL;
constexpr uint8_t steppable = 0x02;
} // namespace rv_field

namespace rv_slot {
constexpr uint32_t build_model = 13;
constexpr uint32_t step = 16; /* (0, 0) */
} // namespace rv_slot

/* server_config fields (logged) */
namespace rules_field {
constexpr uint32_t damage = 600, traffic = 601, hide_in_company = 602, hide_colliding = 603, timezones = 606,
                   no_service_coll = 608, menu_ghost = 609, name_tags = 610, max_players = 448;
constexpr uint32_t size = 611;
} // namespace rules_field

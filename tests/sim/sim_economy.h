/* The simulated game's economy: companies placed in cities (with display
 * names), cargo, each company's freight offers, the offer generator, game
 * strings, the job parameter block calls, and the freight-row routine: real
 * code in the image at the build's offset, with the game's own 16-byte
 * prologue and unwind data (sim_economy_image.S), which the render thread
 * calls for every row of the freight list each frame. Built on sim_world.h
 * (the economy object) and sim_draw.h (the render thread).
 *
 *   create    economy_create (after world_create): the functions at their
 *             offsets, the company list and the economy player
 *   content   economy_cargo, economy_company, economy_offer, economy_city_name
 *   rows      economy_rows_start / economy_rows_stop: the render thread draws
 *             the freight list; economy_rows: what the last full frame drew;
 *             economy_row_unwinds: one row's draw throws as the game's code
 *             throws, and the list's own handler catches it;
 *             economy_rows_overlap: two threads inside one row's routine at
 *             once
 *   calls     "string_assign" (string, word0, word1), "string_free" (string),
 *             "offer_generator" (economy, cargo, source, target strings),
 *             "job_pick" (economy, from city, to city), "job_prepare"
 *             (block, tp, has truck), "job_take" (block), "job_free" (block)
 *
 * Layout choices (this simulation's own, written beside the core's too):
 * - the company list: economy + 0x40 a pointer to an array of company
 *   pointers, economy + 0x48 its u32 count;
 * - a company (0x100 bytes): +0x10 its placement item, +0x20 u64 company
 *   token, +0x28 u64 city token, +0x80 offer array (room for 64), +0x88 u64
 *   offer count; its item (0x80 bytes) points back at +0x58 and at +0x60 to
 *   three i32 x, y, z in 1/256 m;
 * - an offer (0x80 bytes): +0x18 a pointer to its NUL-terminated target name
 *   "company.city", +0x48 u32 expiry (game minutes), +0x4C u32 urgency,
 *   +0x50 u16 km, +0x54 u32 units, +0x58 the cargo object, +0x60 trailer
 *   definition;
 * - a cargo (0x40 bytes): +0x10 u64 token, +0x18 name text pointer, +0x20
 *   u32 name length (the text is not NUL-terminated for the game);
 * - the city display-name call at +0x7D2A40: (u64 *city token) -> const
 *   char * or null;
 * - a game string (32 bytes): the two words, then +0x10 the text the assign
 *   call copied and +0x18 its length; the free call releases the copy;
 * - the offer generator refills the source company's first offer with the
 *   cargo named and the target name, urgency 0, 999 km and 20 units (it
 *   takes nothing when the source or the cargo is unknown, or when
 *   economy_generator_refuses is set);
 * - the job parameter block (0x80 bytes): five u64 tokens (source company,
 *   city, target company, city, cargo), u8 type at +0x28, trailer text at
 *   +0x30 (64 bytes), the prepared object at +0x70; pick fills it from the
 *   first company in each city (type 1, the first cargo, trailer "box");
 *   prepare sets the prepared object and returns economy_prepare_status;
 *   take returns economy_take_result; free clears the prepared object;
 * - the economy player (economy + 0x18, 0x100 bytes): job pointers at +0x28,
 *   +0x30, +0x38; +0x78 a pointer to an array of entry pointers and +0x80
 *   its count (economy_player_truck builds one entry that makes "has truck");
 * - the freight list: a header row (+0x18 = 1) and then one row per
 *   non-null offer of every company in order; a row (0x20 bytes) has its
 *   offer at +8; the routine's body passes a1, a2, row to a fake that reads
 *   the offer's cargo name as drawn and returns row_result;
 * - a throwing row: the fake raises the game compiler's C++ exception code
 *   (row_throw_code) after reading the row; the list draw calls each row
 *   under its own handler, which catches that code, so the exception unwinds
 *   through the routine and whatever hooks it, and the list goes on with the
 *   next row;
 * - the overlap: thread 1 calls the routine for the row and waits inside it
 *   until thread 2 is inside too; thread 2 waits inside until thread 1 has
 *   returned (each wait bounded by overlap_wait_ms). */
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_world.h"

namespace sim {

namespace econ_off {
constexpr uint32_t company_lookup = 0x7D2390;  /* (u64 *company, u64 *city) -> company */
constexpr uint32_t cargo_lookup = 0xAB8F50;    /* (u64 *cargo) -> cargo */
constexpr uint32_t offer_generator = 0x4A16D0; /* (economy, cargo, source, target strings) */
constexpr uint32_t string_word0 = 0x21D2CC0, string_word1 = 0x1DF246E;
constexpr uint32_t string_assign = 0xF5D60, string_free = 0x11B620;
constexpr uint32_t row_routine = 0x106CFC0;    /* (a1, a2, row) */
constexpr uint32_t result_texts = 0x1E1BBF0;   /* 28 text pointers */
constexpr uint32_t block_pick = 0x82F750, block_prepare = 0x831650, block_take = 0x830570, block_free = 0x82F910;
constexpr uint32_t city_display_name = 0x7D2A40;
/* economy + */
constexpr uint32_t economy_player = 0x18, economy_companies = 0x40, economy_company_count = 0x48;
/* company + */
constexpr uint32_t company_item = 0x10, company_token = 0x20, company_city = 0x28;
constexpr uint32_t company_offers = 0x80, company_offer_count = 0x88;
constexpr uint32_t item_owner = 0x58, item_position = 0x60;
/* offer + */
constexpr uint32_t offer_target = 0x18, offer_expiry = 0x48, offer_urgency = 0x4C, offer_km = 0x50;
constexpr uint32_t offer_units = 0x54, offer_cargo = 0x58, offer_trailer = 0x60;
/* cargo + */
constexpr uint32_t cargo_token = 0x10, cargo_name = 0x18, cargo_name_length = 0x20;
/* block + */
constexpr uint32_t block_type = 0x28, block_trailer = 0x30, block_prepared = 0x70;
} // namespace econ_off

constexpr uint32_t row_routine_size = 40;
constexpr uint32_t row_throw_code = 0xE06D7363; /* the game compiler's C++ throw */
constexpr int overlap_wait_ms = 2000;
constexpr uint64_t row_result = 0x20B5EED20B5EEDULL;
constexpr size_t company_offers_max = 64;

/* The name's token (lowercase a-z, 0-9, _; up to 12). */
SIM_API uint64_t economy_token(const char *name);

SIM_API void economy_create(const world &w);
SIM_API uint8_t *economy_cargo(const char *name);
/* A company at x, z metres (y 0); unplaced: no valid placement item. */
SIM_API uint8_t *economy_company(const char *company, const char *city, double x, double z, bool placed = true);
SIM_API void economy_city_name(const char *city, const char *display);
/* Appends an offer (target "company.city"); returns it. */
SIM_API uint8_t *economy_offer(uint8_t *company, const char *target, uint8_t *cargo, uint16_t km,
                               uint32_t urgency = 0);
SIM_API uint8_t *economy_offer_at(const uint8_t *company, size_t index);
SIM_API std::string economy_offer_target(const uint8_t *offer);
SIM_API void economy_generator_refuses(bool refuse);
SIM_API void economy_player_truck(bool has_truck);
SIM_API void economy_prepare_status(int32_t status);
SIM_API void economy_take_result(int32_t result);
/* The game's text for a job result code ("" leaves the entry empty). */
SIM_API void economy_result_text(uint32_t code, const char *text);

/* ---- the freight list on the render thread ---- */
struct drawn_row {
    uint64_t offer;
    uint64_t header;     /* the row's word at +0x18 */
    std::string cargo;   /* the cargo name as the routine saw it */
};
SIM_API void economy_rows_start();
SIM_API void economy_rows_stop();
/* Waits until the render thread drew n more full lists; false after timeout_ms. */
SIM_API bool economy_rows_wait(uint64_t n, int timeout_ms = 5000);
SIM_API std::vector<drawn_row> economy_rows();
/* What the last routine call returned to the render thread. */
SIM_API uint64_t economy_row_last_result();
/* One list drawn on the calling thread (the render thread's step). */
SIM_API void economy_draw_rows();
/* The row of this offer throws from inside the routine in every list (null:
 * none does); how many row draws the list's handler caught so far. */
SIM_API void economy_row_unwinds(const uint8_t *offer);
SIM_API uint64_t economy_rows_caught();
/* The offer's row drawn by two threads at once (see the layout choices):
 * what each saw; false when a wait ran out (the two were never inside
 * together) or a thread did not end in time. */
SIM_API bool economy_rows_overlap(const uint8_t *offer, drawn_row seen[2]);

} // namespace sim

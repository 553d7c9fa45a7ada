/* The game's freight market as server jobs and the job command use it: the
 * layout of build 1.61.3.1 (offsets from game_base, the economy, its
 * player, companies, offers and cargo; the layout choices made here) and
 * the reads and calls on it (job_market.cpp). Game thread only. Calls marked
 * "inside a guard" run the game's code or read with world_read and expect
 * the caller's fault guard around them.
 *
 *   layout     job_off, game_string, job_block
 *   access     the economy, lookups, positions and distances, the offer
 *              generator, result texts
 *   offers     job_log_offer, job_find_offer, job_median_km_ratio
 *   player     job_player_of, job_player_has_truck
 *   companies  job_nearest_companies, job_city_display_name */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "game_mem.h"
#include "job_text.h"

// ---------------------------------------------------------------- layout

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

/* A game string (chosen here): the two words, then the text the assign call
 * made (pointer and length); the free call releases the text. */
struct game_string {
    uint64_t word0, word1, text, length;
};

/* The job parameter block (chosen here): pick (economy, u64 *source city,
 * u64 *target city, block) -> u8 found fills it; prepare (block, u8 tp,
 * u8 has truck) -> i32 status keeps the prepared object in it; take (block)
 * -> i32 result; free (block) drops the prepared object's reference. */
struct job_block {
    uint64_t source_company, source_city, target_company, target_city, cargo;
    uint8_t type;
    uint8_t pad[7];
    char trailer[64];
    uint64_t prepared;
    uint64_t spare;
};
static_assert(sizeof(job_block) == 0x80 && offsetof(job_block, trailer) == 0x30, "job_block layout");

// ---------------------------------------------------------------- access

/* The economy object, 0 without one. */
uint64_t job_economy();
/* Inside a guard: the company of the two tokens, 0 when missing. */
uint64_t job_company_lookup(uint64_t company, uint64_t city);
/* Inside a guard: the cargo object of the token, 0 when missing. */
uint64_t job_cargo_lookup(uint64_t cargo);
/* Inside a guard: "company.city" of the name, looked up; 0 when it does not split. */
uint64_t job_company_from_name(const char *name);
/* The NUL-terminated game text at the pointer, "" when null or unreadable. */
void job_text_at(uint64_t pointer, char *out, size_t size);
/* The company's x, y, z in metres; false without a valid placement item. */
bool job_company_position(uint64_t company, double xyz[3]);
/* Straight 2-D metres between two companies, -1.0 without placements. */
double job_company_distance(uint64_t a, uint64_t b);
/* Inside a guard: the offer generator refills the source company's first
 * offer from the three texts, made into game strings and freed again. */
void job_generate_offer(uint64_t eco, const char *cargo, const char *source, const char *target);
/* The game's text of a job result code, "?" outside 0..27 or when empty. */
const char *job_result_text(int32_t code, char *out, size_t size);

// ---------------------------------------------------------------- offers

/* Inside a guard: "[core] job offer <label>: ..." with the offer's fields. */
void job_log_offer(const char *label, uint64_t offer);
/* Inside a guard: the offer's target name is this text. */
bool job_target_is(uint64_t offer, const char *target);
/* Inside a guard: the offer is still in the company's array with this cargo
 * and target. */
bool job_find_offer(uint64_t company, uint64_t offer, uint64_t cargo, const char *target);
/* Inside a guard: km per straight metre of one offer, -1.0 when it does not
 * count (null, tagged, 0 or 666 km, no target company or 100 m or less);
 * *metres the straight distance (-1.0 unknown). */
double job_offer_ratio(uint64_t company, uint64_t offer, const job_tags *tagged, double *metres);
/* Inside a guard: the median ratio over the company's first 64 usable
 * offers, -1.0 with none. */
double job_median_km_ratio(uint64_t company, const job_tags *tagged);

// ---------------------------------------------------------------- player

/* The economy's player object, 0 without one. */
uint64_t job_player_of(uint64_t eco);
/* Inside a guard: the player has a truck of their own. */
bool job_player_has_truck(uint64_t player);

// ---------------------------------------------------------------- companies

struct placed_company {
    uint64_t company, token, city;
    double pos[3], distance;
};
/* Inside a guard: the economy's placed companies nearest to x, z first (at
 * most cap); *total := companies in the economy, *placed (when given) :=
 * those placed. */
size_t job_nearest_companies(uint64_t eco, double x, double z, placed_company *out, size_t cap, int *total,
                             int *placed = nullptr);
/* Inside a guard: the game's display name of the city, "?" without one. */
void job_city_display_name(uint64_t city, char *out, size_t size);

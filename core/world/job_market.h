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
#include "base/game_mem.h"
#include "world/job_text.h"
#include "world/world_game.h"

// ---------------------------------------------------------------- layout

/* job_off: in world_game.h */

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

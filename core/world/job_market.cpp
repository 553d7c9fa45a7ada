// The game's freight market: reads and calls on the economy, its companies,
// offers and player (see job_market.h).
//
// Index of this file:
//   access     economy, companies, cargo, game strings, distances
//   offers     job_log_offer, job_find_offer, job_median_km_ratio
//   player     job_player_of, job_player_has_truck
//   companies  job_nearest_companies, job_city_display_name
#include "world/job_market.h"
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "world/world_game.h"
#include "world/world_read.h"

using namespace job_off;

namespace {

const uint32_t job_result_count = 28;

void game_string_make(game_string *s, const char *text)
{
    memset(s, 0, sizeof *s);
    s->word0 = game_addr(string_word0);
    s->word1 = game_addr(string_word1);
    game_fn<void (*)(game_string *, const char *)>(string_assign)(s, text);
}

void game_string_release(game_string *s) { game_fn<void (*)(game_string *)>(string_free)(s); }

} // namespace

// ---------------------------------------------------------------- access

uint64_t job_economy() { return game_read_guarded_or_zero<uint64_t>(game_addr(GAME_OFF_ECONOMY)); }

uint64_t job_company_lookup(uint64_t company, uint64_t city)
{
    return game_fn<uint64_t (*)(const uint64_t *, const uint64_t *)>(company_lookup)(&company, &city);
}

uint64_t job_cargo_lookup(uint64_t cargo)
{
    return game_fn<uint64_t (*)(const uint64_t *)>(cargo_lookup)(&cargo);
}

uint64_t job_company_from_name(const char *name)
{
    char co[32], city[32];
    if (!job_split_name(name, co, city))
        return 0;
    uint64_t a = job_token_from_text(co), b = job_token_from_text(city);
    return a && b ? job_company_lookup(a, b) : 0;
}

void job_text_at(uint64_t pointer, char *out, size_t size)
{
    out[0] = 0;
    if (pointer && !game_read_guarded_text(pointer, out, size))
        out[0] = 0;
}

bool job_company_position(uint64_t company, double xyz[3])
{
    uint64_t item = 0, owner = 0, pos = 0;
    int32_t v[3];
    if (!company || !game_read_guarded(company + company_item, &item) || !item ||
        !game_read_guarded(item + item_owner, &owner) || owner != company ||
        !game_read_guarded(item + item_position, &pos) || !pos || !game_copy_guarded(v, pos, sizeof v))
        return false;
    for (int i = 0; i < 3; i++)
        xyz[i] = v[i] / 256.0;
    return true;
}

double job_company_distance(uint64_t a, uint64_t b)
{
    double p[3], q[3];
    if (!job_company_position(a, p) || !job_company_position(b, q))
        return -1.0;
    return hypot(p[0] - q[0], p[2] - q[2]);
}

void job_generate_offer(uint64_t eco, const char *cargo, const char *source, const char *target)
{
    game_string c, s, t;
    game_string_make(&c, cargo);
    game_string_make(&s, source);
    game_string_make(&t, target);
    game_fn<void (*)(uint64_t, game_string *, game_string *, game_string *)>(offer_generator)(eco, &c, &s, &t);
    game_string_release(&c);
    game_string_release(&s);
    game_string_release(&t);
}

const char *job_result_text(int32_t code, char *out, size_t size)
{
    snprintf(out, size, "?");
    uint64_t text = 0;
    if (code >= 0 && (uint32_t)code < job_result_count &&
        game_read_guarded(game_addr(result_texts) + 8u * (uint32_t)code, &text) && text) {
        job_text_at(text, out, size);
        if (!out[0])
            snprintf(out, size, "?");
    }
    return out;
}

// ---------------------------------------------------------------- offers

void job_log_offer(const char *label, uint64_t offer)
{
    char target[64];
    uint64_t eco = job_economy();
    job_text_at(world_read<uint64_t>(offer + offer_target_name), target, sizeof target);
    uint32_t now = eco ? world_read<uint32_t>(eco + GAME_ECONOMY_MINUTES) : 0;
    core_log("[core] job offer %s: %p target '%s' cargo %p trailer def %p, urgency %u, %u km, %u units, "
             "expires in %d min",
             label, (void *)(uintptr_t)offer, target, (void *)(uintptr_t)world_read<uint64_t>(offer + offer_cargo),
             (void *)(uintptr_t)world_read<uint64_t>(offer + offer_trailer_def), world_read<uint32_t>(offer + offer_urgency),
             world_read<uint16_t>(offer + offer_distance), world_read<uint32_t>(offer + offer_units),
             (int)(world_read<uint32_t>(offer + offer_expiry) - now));
}

bool job_target_is(uint64_t offer, const char *target)
{
    char name[64];
    job_text_at(world_read<uint64_t>(offer + offer_target_name), name, sizeof name);
    return strcmp(name, target) == 0;
}

bool job_find_offer(uint64_t company, uint64_t offer, uint64_t cargo, const char *target)
{
    uint64_t array = world_read<uint64_t>(company + company_offers);
    uint64_t count = world_read<uint64_t>(company + company_offer_count);
    for (uint64_t i = 0; i < count && i < 4096; i++)
        if (world_read<uint64_t>(array + 8 * i) == offer)
            return world_read<uint64_t>(offer + offer_cargo) == cargo && job_target_is(offer, target);
    return false;
}

double job_offer_ratio(uint64_t company, uint64_t offer, const job_tags *tagged, double *metres)
{
    *metres = 0;
    if (!offer || job_is_tagged(tagged, offer))
        return -1.0;
    uint16_t km = world_read<uint16_t>(offer + offer_distance);
    if (km == 0 || km == 666)
        return -1.0;
    char name[64];
    job_text_at(world_read<uint64_t>(offer + offer_target_name), name, sizeof name);
    uint64_t target = job_company_from_name(name);
    double d = target ? job_company_distance(company, target) : -1.0;
    *metres = d;
    return d > 100.0 ? km / d : -1.0;
}

double job_median_km_ratio(uint64_t company, const job_tags *tagged)
{
    double ratios[64];
    size_t n = 0;
    uint64_t array = world_read<uint64_t>(company + company_offers);
    uint64_t count = world_read<uint64_t>(company + company_offer_count);
    for (uint64_t i = 0; i < count && n < 64; i++) {
        double metres;
        double r = job_offer_ratio(company, world_read<uint64_t>(array + 8 * i), tagged, &metres);
        if (r > 0)
            ratios[n++] = r;
    }
    return job_median(ratios, n);
}

// ---------------------------------------------------------------- player

uint64_t job_player_of(uint64_t eco) { return eco ? game_read_guarded_or_zero<uint64_t>(eco + economy_player) : 0; }

bool job_player_has_truck(uint64_t player)
{
    uint64_t count = world_read<uint64_t>(player + player_truck_count);
    if (!count)
        return false;
    uint64_t list = world_read<uint64_t>(player + player_truck_list);
    uint64_t first = list ? world_read<uint64_t>(list) : 0;
    if (!first || world_read<int32_t>(first + 8) >= 0)
        return false;
    uint64_t p = world_read<uint64_t>(first + 0x48);
    return p && world_read<int32_t>(p + 8) < 0;
}

// ---------------------------------------------------------------- companies

size_t job_nearest_companies(uint64_t eco, double x, double z, placed_company *out, size_t cap, int *total,
                             int *placed)
{
    uint64_t list = world_read<uint64_t>(eco + economy_companies);
    uint32_t count = world_read<uint32_t>(eco + economy_company_count);
    *total = (int)count;
    size_t n = 0;
    for (uint32_t i = 0; i < count && list; i++) {
        placed_company c = {};
        c.company = world_read<uint64_t>(list + 8ull * i);
        if (!c.company || !job_company_position(c.company, c.pos))
            continue;
        if (placed)
            ++*placed;
        c.token = world_read<uint64_t>(c.company + company_token);
        c.city = world_read<uint64_t>(c.company + company_city);
        c.distance = hypot(c.pos[0] - x, c.pos[2] - z);
        size_t at = n < cap ? n++ : cap;
        if (at == cap) {
            if (c.distance >= out[cap - 1].distance)
                continue;
            at = cap - 1;
        }
        while (at > 0 && out[at - 1].distance > c.distance) {
            out[at] = out[at - 1];
            at--;
        }
        out[at] = c;
    }
    return n;
}

void job_city_display_name(uint64_t city, char *out, size_t size)
{
    const char *name = game_fn<const char *(*)(const uint64_t *)>(city_display_name)(&city);
    job_text_at((uint64_t)(uintptr_t)name, out, size);
    if (!out[0])
        snprintf(out, size, "?");
}

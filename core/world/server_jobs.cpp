// Server jobs in the game's freight market: a job the server pushes becomes
// an offer at its source company, tagged so its freight row is drawn with a
// "[SERVER JOB]" prefix (an inline hook on the freight-row routine); and the
// job command, which inspects the economy, places offers by hand and starts
// jobs through the game's own job parameter block.
//
// Index of this file:
//   game layout     offsets of build 1.61.3.1 and the layout choices
//   state           the job table, the tagged set, the row hook
//   game access     economy, companies, cargo, game strings, distances
//   offers          job_log_offer, job_find_offer, job_median_km_ratio
//   placement       job_apply_server_job
//   handlers        job_on_server_job, job_on_server_job_removed
//   row hook        job_row_hook, job_install_row_hook
//   command         job_command and its sub-commands
//   life cycle      job_init, job_unhook
#include <windows.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "core.h"
#include "dm_guard.h"
#include "game_mem.h"
#include "inline_hook.h"
#include "job_text.h"
#include "net_client.h"
#include "world.h"
#include "world_game.h"
#include "world_read.h"

// ---------------------------------------------------------------- game layout

namespace {

/* from game_base */
const uint32_t off_company_lookup = 0x7D2390; /* (u64 *company token, u64 *city token) -> company */
const uint32_t off_cargo_lookup = 0xAB8F50;   /* (u64 *cargo token) -> cargo */
const uint32_t off_offer_generator = 0x4A16D0; /* (economy, cargo, source name, target name) */
const uint32_t off_string_word0 = 0x21D2CC0, off_string_word1 = 0x1DF246E;
const uint32_t off_string_assign = 0xF5D60;   /* (string *, const char *) */
const uint32_t off_string_free = 0x11B620;    /* (string *) */
const uint32_t off_row_routine = 0x106CFC0;   /* (a1, a2, row) */
const uint32_t off_result_texts = 0x1E1BBF0;  /* 28 text pointers */
const uint32_t off_block_pick = 0x82F750, off_block_prepare = 0x831650;
const uint32_t off_block_take = 0x830570, off_block_free = 0x82F910;
/* Chosen here (the game's own, found by this core's developer): the city
 * display-name call, (u64 *city token) -> const char * or null. */
const uint32_t off_city_display_name = 0x7D2A40;

/* economy + */
const uint32_t economy_player = 0x18;
/* Chosen here: the company list is a pointer to an array of company
 * pointers at economy + 0x40 and its u32 count at + 0x48. */
const uint32_t economy_companies = 0x40, economy_company_count = 0x48;
/* economy player + */
const uint32_t player_jobs[3] = { 0x28, 0x30, 0x38 };
const uint32_t player_truck_list = 0x78, player_truck_count = 0x80;

/* company + ; the name tokens at + 0x20 and + 0x28 are chosen here */
const uint32_t company_item = 0x10, company_token = 0x20, company_city = 0x28;
const uint32_t company_offers = 0x80, company_offer_count = 0x88;
const uint32_t item_owner = 0x58, item_position = 0x60;

/* offer + ; the target name is a pointer to NUL-terminated text (chosen
 * here), as are the trailer definition at + 0x60 and the u32 units at
 * + 0x54 */
const uint32_t offer_target_name = 0x18, offer_expiry = 0x48, offer_urgency = 0x4C;
const uint32_t offer_distance = 0x50, offer_units = 0x54, offer_cargo = 0x58, offer_trailer_def = 0x60;
/* cargo + */
const uint32_t cargo_name = 0x18, cargo_name_length = 0x20;

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

const uint32_t job_result_count = 28;

// ---------------------------------------------------------------- state

#define JOB_TABLE_MAX 64
struct job_entry {
    uint8_t used;
    server_job job;
    uint64_t offer;
};

const dm_host_api *job_api;
job_entry job_table[JOB_TABLE_MAX];
job_tags tagged;
volatile LONG rows_tagged;
inline_hook row_hook;
detour_gate row_gate;

const uint8_t row_prologue[16] = { 0x48, 0x89, 0x54, 0x24, 0x10, 0x55, 0x41, 0x54,
                                   0x48, 0x8D, 0xAC, 0x24, 0xA8, 0xEE, 0xFF, 0xFF };

// ---------------------------------------------------------------- game access

uint64_t economy() { return game_read_guarded_or_zero<uint64_t>(game_addr(GAME_OFF_ECONOMY)); }

template <typename F> F game_fn(uint32_t offset) { return (F)(uintptr_t)game_addr(offset); }

/* Inside a guard: the company of the two tokens, 0 when missing. */
uint64_t company_lookup(uint64_t company, uint64_t city)
{
    return game_fn<uint64_t (*)(const uint64_t *, const uint64_t *)>(off_company_lookup)(&company, &city);
}

uint64_t cargo_lookup(uint64_t cargo)
{
    return game_fn<uint64_t (*)(const uint64_t *)>(off_cargo_lookup)(&cargo);
}

/* "company.city" of the name, looked up; 0 when it does not split. */
uint64_t company_from_name(const char *name)
{
    char co[32], city[32];
    if (!job_split_name(name, co, city))
        return 0;
    uint64_t a = token_from_text(co), b = token_from_text(city);
    return a && b ? company_lookup(a, b) : 0;
}

void text_at(uint64_t pointer, char *out, size_t size)
{
    out[0] = 0;
    if (pointer && !game_read_guarded_text(pointer, out, size))
        out[0] = 0;
}

/* The company's x, y, z in metres; false without a valid placement item. */
bool company_position(uint64_t company, double xyz[3])
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

/* job_company_distance: straight 2-D metres, -1.0 without placements. */
double job_company_distance(uint64_t a, uint64_t b)
{
    double p[3], q[3];
    if (!company_position(a, p) || !company_position(b, q))
        return -1.0;
    return hypot(p[0] - q[0], p[2] - q[2]);
}

void string_make(game_string *s, const char *text)
{
    memset(s, 0, sizeof *s);
    s->word0 = game_addr(off_string_word0);
    s->word1 = game_addr(off_string_word1);
    game_fn<void (*)(game_string *, const char *)>(off_string_assign)(s, text);
}

void string_free(game_string *s) { game_fn<void (*)(game_string *)>(off_string_free)(s); }

/* Inside a guard: the offer generator refills the source company's first
 * offer; the three game strings are freed again. */
void generate_offer(uint64_t eco, const char *cargo, const char *source, const char *target)
{
    game_string c, s, t;
    string_make(&c, cargo);
    string_make(&s, source);
    string_make(&t, target);
    game_fn<void (*)(uint64_t, game_string *, game_string *, game_string *)>(off_offer_generator)(eco, &c, &s, &t);
    string_free(&c);
    string_free(&s);
    string_free(&t);
}

const char *job_result_text(int32_t code, char *out, size_t size)
{
    snprintf(out, size, "?");
    uint64_t text = 0;
    if (code >= 0 && (uint32_t)code < job_result_count &&
        game_read_guarded(game_addr(off_result_texts) + 8u * (uint32_t)code, &text) && text) {
        text_at(text, out, size);
        if (!out[0])
            snprintf(out, size, "?");
    }
    return out;
}

// ---------------------------------------------------------------- offers

void job_log_offer(const char *label, uint64_t offer)
{
    char target[64];
    uint64_t eco = economy();
    text_at(world_read<uint64_t>(offer + offer_target_name), target, sizeof target);
    uint32_t now = eco ? world_read<uint32_t>(eco + GAME_ECONOMY_MINUTES) : 0;
    core_log("[core] job offer %s: %p target '%s' cargo %p trailer def %p, urgency %u, %u km, %u units, "
             "expires in %d min",
             label, (void *)(uintptr_t)offer, target, (void *)(uintptr_t)world_read<uint64_t>(offer + offer_cargo),
             (void *)(uintptr_t)world_read<uint64_t>(offer + offer_trailer_def), world_read<uint32_t>(offer + offer_urgency),
             world_read<uint16_t>(offer + offer_distance), world_read<uint32_t>(offer + offer_units),
             (int)(world_read<uint32_t>(offer + offer_expiry) - now));
}

bool target_is(uint64_t offer, const char *target)
{
    char name[64];
    text_at(world_read<uint64_t>(offer + offer_target_name), name, sizeof name);
    return strcmp(name, target) == 0;
}

/* The offer is still in the company's array with this cargo and target. */
bool job_find_offer(uint64_t company, uint64_t offer, uint64_t cargo, const char *target)
{
    uint64_t array = world_read<uint64_t>(company + company_offers);
    uint64_t count = world_read<uint64_t>(company + company_offer_count);
    for (uint64_t i = 0; i < count && i < 4096; i++)
        if (world_read<uint64_t>(array + 8 * i) == offer)
            return world_read<uint64_t>(offer + offer_cargo) == cargo && target_is(offer, target);
    return false;
}

/* km per straight metre, median over the company's usable offers. */
double job_offer_ratio(uint64_t company, uint64_t offer, double *metres)
{
    *metres = 0;
    if (!offer || job_is_tagged(&tagged, offer))
        return -1.0;
    uint16_t km = world_read<uint16_t>(offer + offer_distance);
    if (km == 0 || km == 666)
        return -1.0;
    char name[64];
    text_at(world_read<uint64_t>(offer + offer_target_name), name, sizeof name);
    uint64_t target = company_from_name(name);
    double d = target ? job_company_distance(company, target) : -1.0;
    *metres = d;
    return d > 100.0 ? km / d : -1.0;
}

double job_median_km_ratio(uint64_t company)
{
    double ratios[64];
    size_t n = 0;
    uint64_t array = world_read<uint64_t>(company + company_offers);
    uint64_t count = world_read<uint64_t>(company + company_offer_count);
    for (uint64_t i = 0; i < count && n < 64; i++) {
        double metres;
        double r = job_offer_ratio(company, world_read<uint64_t>(array + 8 * i), &metres);
        if (r > 0)
            ratios[n++] = r;
    }
    return job_median(ratios, n);
}

// ---------------------------------------------------------------- placement

void job_install_row_hook();

bool held_by_other(const job_entry *self, uint64_t offer)
{
    for (auto &e : job_table)
        if (&e != self && e.used && e.offer == offer)
            return true;
    return false;
}

/* Inside the guard; returns the entry's new offer (0 none). */
uint64_t place(job_entry *e, uint64_t eco)
{
    const server_job &j = e->job;
    char sco[13], scity[13], tco[13], tcity[13], cargo_text[13], source[32], target[32];
    job_token_text(j.source_company, sco);
    job_token_text(j.source_city, scity);
    job_token_text(j.target_company, tco);
    job_token_text(j.target_city, tcity);
    job_token_text(j.cargo, cargo_text);
    snprintf(source, sizeof source, "%s.%s", sco, scity);
    snprintf(target, sizeof target, "%s.%s", tco, tcity);

    uint64_t src = company_lookup(j.source_company, j.source_city);
    uint64_t dst = company_lookup(j.target_company, j.target_city);
    if (!src || !dst) {
        if (!e->offer)
            core_log("[core] server job #%u: company not found (%s -> %s); skipped", j.id, source, target);
        return 0;
    }
    uint64_t cargo = cargo_lookup(j.cargo);
    if (!cargo) {
        core_log("[core] server job #%u: cargo '%s' not found; skipped", j.id, cargo_text);
        return 0;
    }
    job_install_row_hook();
    if (e->offer && job_find_offer(src, e->offer, cargo, target)) {
        job_tag_offer(&tagged, e->offer);
        return e->offer;
    }
    uint64_t array = world_read<uint64_t>(src + company_offers);
    uint64_t count = world_read<uint64_t>(src + company_offer_count);
    for (uint64_t i = 0; i < count && i < 4096; i++) {
        uint64_t o = world_read<uint64_t>(array + 8 * i);
        if (o && !held_by_other(e, o) && world_read<uint64_t>(o + offer_cargo) == cargo && target_is(o, target) &&
            world_read<uint32_t>(o + offer_urgency) == j.urgency) {
            job_tag_offer(&tagged, o);
            core_log("[core] server job #%u: found %s %s -> %s already in the market", j.id, cargo_text, source, target);
            return o;
        }
    }
    uint64_t slot = count;
    for (uint64_t i = 0; i < count && i < 4096; i++) {
        uint64_t o = world_read<uint64_t>(array + 8 * i);
        if (o && !job_is_tagged(&tagged, o)) {
            slot = i;
            break;
        }
    }
    if (slot == count) {
        core_log("[core] server job #%u: no free offer slot at %s", j.id, source);
        return 0;
    }
    uint64_t first = world_read<uint64_t>(array), chosen = world_read<uint64_t>(array + 8 * slot);
    world_write<uint64_t>(array, chosen);
    world_write<uint64_t>(array + 8 * slot, first);
    double r = job_median_km_ratio(src);
    generate_offer(eco, cargo_text, source, target);

    uint64_t offer = world_read<uint64_t>(world_read<uint64_t>(src + company_offers));
    if (!offer || world_read<uint64_t>(offer + offer_cargo) != cargo) {
        core_log("[core] server job #%u: the game didn't take it (see the [economy] log lines); skipped", j.id);
        return 0;
    }
    world_write<uint32_t>(offer + offer_urgency, j.urgency);
    world_write<uint32_t>(offer + offer_expiry, j.hours * 60u + world_read<uint32_t>(eco + GAME_ECONOMY_MINUTES));
    double d = job_company_distance(src, dst);
    if (r > 0 && d > 0)
        world_write<uint16_t>(offer + offer_distance, job_km_from_metres(d, r));
    job_tag_offer(&tagged, offer);
    char label[32];
    snprintf(label, sizeof label, "server job #%u", j.id);
    job_log_offer(label, offer);
    return offer;
}

void job_apply_server_job(job_entry *e)
{
    uint64_t eco = economy();
    if (!eco)
        return;
    volatile uint64_t result = 0;
    dm_seh_fault fault = {};
    uint64_t before = e->offer;
    if (dm_guarded([&] { result = place(e, eco); }, &fault)) {
        e->offer = result;
    } else {
        e->offer = 0;
        core_log("[core] server job #%u: FAULT (code 0x%08lx)", e->job.id, fault.code);
    }
    // An offer the entry no longer holds is no server job's any more.
    if (before && before != e->offer && !held_by_other(e, before))
        job_untag_offer(&tagged, before);
}

// ---------------------------------------------------------------- handlers

void job_on_server_job(const server_job *job)
{
    job_entry *e = nullptr;
    for (auto &x : job_table)
        if (x.used && x.job.id == job->id) {
            e = &x;
            break;
        }
    if (e) {
        e->job = *job;
    } else {
        for (auto &x : job_table)
            if (!x.used) {
                e = &x;
                break;
            }
        if (!e)
            return; // a full table drops the job
        e->used = 1;
        e->job = *job;
        e->offer = 0;
        char cargo[13];
        job_token_text(job->cargo, cargo);
        core_log("[core] server job #%u received: %s, %u h, urgency %u", job->id, cargo, job->hours, job->urgency);
    }
    job_apply_server_job(e);
}

void job_on_server_job_removed(uint32_t id)
{
    for (auto &e : job_table) {
        if (!e.used || (id && e.job.id != id))
            continue;
        job_untag_offer(&tagged, e.offer);
        core_log("[core] server job #%u removed (its offer stays in the market, untagged)", e.job.id);
        e = job_entry{};
    }
}

// ---------------------------------------------------------------- row hook

typedef uint64_t (*row_routine)(uint64_t, uint64_t, uint64_t);

uint64_t job_row_hook(uint64_t a1, uint64_t a2, uint64_t row)
{
    uint32_t entered = detour_gate_enter(&row_gate);
    char text[JOB_ROW_TEXT_SIZE];
    uint64_t cargo = 0, name = 0;
    uint32_t length = 0;
    volatile bool swapped = false;
    dm_guarded([&] {
        uint64_t offer = 0, header = 0;
        if (!row || !game_read_guarded(row + 8, &offer) || !offer || !game_read_guarded(row + 0x18, &header) ||
            header || !job_is_tagged(&tagged, offer) || !game_read_guarded(offer + offer_cargo, &cargo) || !cargo ||
            !game_read_guarded(cargo + cargo_name, &name) || !name ||
            !game_read_guarded(cargo + cargo_name_length, &length) || !dm_probe_read(name, length))
            return;
        size_t n = job_row_text(text, (const char *)(uintptr_t)name, length);
        if (n < 1 || n > JOB_ROW_TEXT_SIZE - 1)
            return;
        *(volatile uint64_t *)(uintptr_t)(cargo + cargo_name) = (uint64_t)(uintptr_t)text;
        *(volatile uint32_t *)(uintptr_t)(cargo + cargo_name_length) = (uint32_t)n;
        swapped = true;
        InterlockedIncrement(&rows_tagged);
    });
    uint64_t result = 0;
    dm_unwind_guarded([&] { result = ((row_routine)(uintptr_t)row_hook.trampoline)(a1, a2, row); },
                      [&] { detour_gate_leave(&row_gate, entered); });
    if (swapped)
        dm_guarded([&] {
            *(volatile uint64_t *)(uintptr_t)(cargo + cargo_name) = name;
            *(volatile uint32_t *)(uintptr_t)(cargo + cargo_name_length) = length;
        });
    detour_gate_leave(&row_gate, entered);
    return result;
}

void job_install_row_hook()
{
    if (row_hook.target)
        return;
    if (!hook_install_inline(&row_hook, game_addr(off_row_routine), row_prologue, sizeof row_prologue,
                             (const void *)job_row_hook)) {
        core_log("[core] job: freight row hook NOT installed (prologue mismatch)");
        return;
    }
    core_log("[core] job: freight row hook installed");
}

// ---------------------------------------------------------------- command

typedef char job_word[JOB_WORD_SIZE];

void log_block(const char *label, const job_block *b)
{
    core_log("[core] job %s: src co %016llx city %016llx, dst co %016llx city %016llx, cargo %016llx, type %02x, "
             "trailer '%.63s'",
             label, (unsigned long long)b->source_company, (unsigned long long)b->source_city,
             (unsigned long long)b->target_company, (unsigned long long)b->target_city, (unsigned long long)b->cargo,
             b->type, b->trailer);
}

/* The economy player's "has truck". */
bool player_has_truck(uint64_t player)
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

uint64_t player_of(uint64_t eco) { return eco ? game_read_guarded_or_zero<uint64_t>(eco + economy_player) : 0; }

void cmd_status()
{
    uint64_t eco = economy(), player = player_of(eco);
    if (!player) {
        core_log("[core] job: no economy/player (load a profile)");
        return;
    }
    volatile int has = 0;
    uint64_t jobs[3] = {};
    dm_seh_fault fault = {};
    if (!dm_guarded(
            [&] {
                for (int i = 0; i < 3; i++)
                    jobs[i] = world_read<uint64_t>(player + player_jobs[i]);
                has = player_has_truck(player);
            },
            &fault)) {
        core_log("[core] job: FAULT reading companies (code 0x%08lx)", fault.code);
        return;
    }
    core_log("[core] job: player %p, job ptrs %p %p %p, has truck %d, game time %u min", (void *)(uintptr_t)player,
             (void *)(uintptr_t)jobs[0], (void *)(uintptr_t)jobs[1], (void *)(uintptr_t)jobs[2], (int)has,
             game_read_guarded_or_zero<uint32_t>(eco + GAME_ECONOMY_MINUTES));
}

struct placed_company {
    uint64_t company, token, city;
    double pos[3], distance;
};

/* Inside a guard: the economy's placed companies nearest first (at most
 * cap); *total := companies in the economy. */
size_t nearest_companies(uint64_t eco, double x, double z, placed_company *out, size_t cap, int *total,
                         int *placed = nullptr)
{
    uint64_t list = world_read<uint64_t>(eco + economy_companies);
    uint32_t count = world_read<uint32_t>(eco + economy_company_count);
    *total = (int)count;
    size_t n = 0;
    for (uint32_t i = 0; i < count && list; i++) {
        placed_company c = {};
        c.company = world_read<uint64_t>(list + 8ull * i);
        if (!c.company || !company_position(c.company, c.pos))
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

void city_display_name(uint64_t city, char *out, size_t size)
{
    const char *name = game_fn<const char *(*)(const uint64_t *)>(off_city_display_name)(&city);
    text_at((uint64_t)(uintptr_t)name, out, size);
    if (!out[0])
        snprintf(out, size, "?");
}

/* The city token of the company nearest the truck, 0 when none. */
uint64_t here_city(const dm_frame_info *info)
{
    uint64_t eco = economy();
    if (!eco || !info)
        return 0;
    volatile uint64_t city = 0;
    dm_guarded([&] {
        placed_company c;
        int total;
        if (nearest_companies(eco, info->x, info->z, &c, 1, &total))
            city = c.city;
    });
    return city;
}

void cmd_where(const dm_frame_info *info, job_word *w, int n)
{
    int want = n > 1 ? atoi(w[1]) : 5;
    if (want < 1)
        want = 5;
    if (want > 64)
        want = 64;
    if (!info) {
        core_log("[core] job where: no truck position");
        return;
    }
    uint64_t eco = economy();
    if (!eco) {
        core_log("[core] job where: no economy (load a profile)");
        return;
    }
    placed_company closest[64];
    volatile size_t found = 0;
    int total = 0, placed = 0;
    dm_seh_fault fault = {};
    if (!dm_guarded([&] { found = nearest_companies(eco, info->x, info->z, closest, (size_t)want, &total, &placed); },
                    &fault)) {
        core_log("[core] job: FAULT reading companies (code 0x%08lx)", fault.code);
        return;
    }
    if (!found) {
        core_log("[core] job where: no placed companies (%d in economy)", total);
        return;
    }
    char co[13], city[13], display[64];
    job_token_text(closest[0].token, co);
    job_token_text(closest[0].city, city);
    display[0] = 0;
    if (!dm_guarded([&] { city_display_name(closest[0].city, display, sizeof display); }))
        snprintf(display, sizeof display, "?");
    core_log("[core] job where: truck %.1f %.1f -> nearest city %s (%s), company %s %.0f m away; %d/%d companies placed",
             info->x, info->z, display, city, co, closest[0].distance, placed, total);
    for (size_t i = 0; i < found; i++) {
        job_token_text(closest[i].token, co);
        job_token_text(closest[i].city, city);
        if (!dm_guarded([&] { city_display_name(closest[i].city, display, sizeof display); }))
            snprintf(display, sizeof display, "?");
        core_log("[core]   %2d %7.0f m  %-12s %-12s %-20s at %.1f %.1f %.1f", (int)i + 1, closest[i].distance, co, city,
                 display, closest[i].pos[0], closest[i].pos[1], closest[i].pos[2]);
    }
}

void cmd_offer(job_word *w, int n)
{
    if (n < 6) {
        core_log("[core] job offer: usage: job offer <src_co> <src_city> <dst_co> <dst_city> <cargo> [urgency] [hours]");
        return;
    }
    uint32_t urgency = n > 6 ? (uint32_t)atoi(w[6]) : 2, hours = n > 7 ? (uint32_t)atoi(w[7]) : 72;
    uint64_t eco = economy();
    if (!eco) {
        core_log("[core] job offer: no economy");
        return;
    }
    uint64_t t[5];
    for (int i = 0; i < 5; i++)
        if (!(t[i] = token_from_text(w[1 + i]))) {
            core_log("[core] job offer: bad name");
            return;
        }
    volatile uint64_t src = 0, dst = 0;
    if (!dm_guarded([&] {
            src = company_lookup(t[0], t[1]);
            dst = company_lookup(t[2], t[3]);
        }) ) {
        core_log("[core] job offer: company read faulted");
        return;
    }
    if (!src || !dst) {
        core_log("[core] job offer: bad name");
        return;
    }
    dm_seh_fault fault = {};
    bool ok = dm_guarded(
        [&] {
            if (!world_read<uint64_t>(src + company_offer_count) || !world_read<uint64_t>(world_read<uint64_t>(src + company_offers))) {
                core_log("[core] job offer: source company has no offers to reuse");
                return;
            }
            job_install_row_hook();
            job_log_offer("before", world_read<uint64_t>(world_read<uint64_t>(src + company_offers)));
            char source[32], target[32];
            snprintf(source, sizeof source, "%s.%s", w[1], w[2]);
            snprintf(target, sizeof target, "%s.%s", w[3], w[4]);
            generate_offer(eco, w[5], source, target);
            uint64_t offer = world_read<uint64_t>(world_read<uint64_t>(src + company_offers));
            if (world_read<uint32_t>(offer + offer_urgency) < 3)
                world_write<uint32_t>(offer + offer_urgency, urgency);
            world_write<uint32_t>(offer + offer_expiry, hours * 60u + world_read<uint32_t>(eco + GAME_ECONOMY_MINUTES));
            job_log_offer("after", offer);
            job_tag_offer(&tagged, offer);
        },
        &fault);
    if (!ok)
        core_log("[core] job offer: FAULT (code 0x%08lx)", fault.code);
}

void cmd_mark(job_word *w, int n)
{
    if (n == 2 && strcmp(w[1], "clear") == 0) {
        tagged = job_tags{};
        core_log("[core] job mark: cleared");
        return;
    }
    if (n < 3) {
        core_log("[core] job mark: usage: job mark <co> <city> | job mark clear");
        return;
    }
    uint64_t co = token_from_text(w[1]), city = token_from_text(w[2]);
    volatile uint64_t offer = 0;
    dm_guarded([&] {
        uint64_t c = co && city ? company_lookup(co, city) : 0;
        if (c && world_read<uint64_t>(c + company_offer_count))
            offer = world_read<uint64_t>(world_read<uint64_t>(c + company_offers));
    });
    if (!offer) {
        core_log("[core] job mark: no offers");
        return;
    }
    job_install_row_hook();
    job_tag_offer(&tagged, offer);
    core_log("[core] job mark: marked %p", (void *)(uintptr_t)offer);
}

void cmd_offers(job_word *w, int n)
{
    uint64_t co = n > 2 ? token_from_text(w[1]) : 0, city = n > 2 ? token_from_text(w[2]) : 0;
    dm_seh_fault fault = {};
    bool ok = dm_guarded(
        [&] {
            uint64_t c = co && city && economy() ? company_lookup(co, city) : 0;
            if (!c) {
                core_log("[core] job offers: company not found");
                return;
            }
            uint64_t array = world_read<uint64_t>(c + company_offers);
            size_t count = (size_t)world_read<uint64_t>(c + company_offer_count);
            core_log("[core] job offers: %s.%s has %zu offers, median %.4f km per straight m", w[1], w[2], count,
                     job_median_km_ratio(c));
            for (size_t i = 0; i < count && i < 4096; i++) {
                uint64_t o = world_read<uint64_t>(array + 8 * i);
                if (!o)
                    continue;
                char target[64];
                text_at(world_read<uint64_t>(o + offer_target_name), target, sizeof target);
                uint16_t km = world_read<uint16_t>(o + offer_distance);
                uint64_t t = company_from_name(target);
                double metres = t ? job_company_distance(c, t) : -1.0;
                core_log("[core]   [%zu] %-28s %5u km, straight %8.0f m, ratio %.4f%s", i, target, km, metres,
                         metres > 0 ? km / metres : 0.0, job_is_tagged(&tagged, o) ? "  [SERVER JOB]" : "");
            }
        },
        &fault);
    if (!ok)
        core_log("[core] job: FAULT reading companies (code 0x%08lx)", fault.code);
}

void cmd_server()
{
    bool any = false;
    for (auto &e : job_table) {
        if (!e.used)
            continue;
        any = true;
        char cargo[13], sco[13], tco[13];
        job_token_text(e.job.cargo, cargo);
        job_token_text(e.job.source_company, sco);
        job_token_text(e.job.target_company, tco);
        core_log("[core] server job #%u: %s %s -> %s, offer %p", e.job.id, cargo, sco, tco, (void *)(uintptr_t)e.offer);
    }
    if (!any)
        core_log("[core] server jobs: none");
}

/* job_prepare_take: the block prepared and taken, then freed. */
void job_prepare_take(job_block *b, uint64_t player, bool tp)
{
    dm_seh_fault fault = {};
    bool ok = dm_guarded(
        [&] {
            uint8_t has = player_has_truck(player) ? 1 : 0;
            int32_t status = game_fn<int32_t (*)(job_block *, uint8_t, uint8_t)>(off_block_prepare)(b, tp ? 1 : 0, has);
            log_block("prepared", b);
            char text[128];
            if (status != 0) {
                core_log("[core] job: prepare failed: %d %s", status, job_result_text(status, text, sizeof text));
            } else {
                int32_t r = game_fn<int32_t (*)(job_block *)>(off_block_take)(b);
                core_log("[core] job: take -> %d %s", r, job_result_text(r, text, sizeof text));
            }
            game_fn<void (*)(job_block *)>(off_block_free)(b);
        },
        &fault);
    if (!ok)
        core_log("[core] job: FAULT in prepare/take (code 0x%08lx)", fault.code);
}

void cmd_get(const dm_frame_info *info, job_word *w, int n)
{
    uint64_t eco = economy(), player = player_of(eco);
    if (!player) {
        core_log("[core] job: no economy/player (load a profile)");
        return;
    }
    uint64_t from = 0;
    if (strcmp(w[1], "here") == 0) {
        from = here_city(info);
        if (from) {
            char text[13];
            job_token_text(from, text);
            core_log("[core] job: here = %s", text);
        }
    } else {
        from = token_from_text(w[1]);
    }
    uint64_t to = token_from_text(w[2]);
    if (!from || !to) {
        core_log("[core] job: bad city name (or no company near the truck for 'here')");
        return;
    }
    job_block b = {};
    volatile uint8_t found = 0;
    dm_seh_fault fault = {};
    if (!dm_guarded(
            [&] {
                found = game_fn<uint8_t (*)(uint64_t, const uint64_t *, const uint64_t *, job_block *)>(off_block_pick)(
                    eco, &from, &to, &b);
            },
            &fault)) {
        core_log("[core] job: FAULT in prepare/take (code 0x%08lx)", fault.code);
        return;
    }
    if (!found) {
        char a[13], c[13];
        job_token_text(from, a);
        job_token_text(to, c);
        core_log("[core] job: no linked companies between %s and %s", a, c);
        return;
    }
    log_block("picked", &b);
    job_prepare_take(&b, player, n > 3 && strcmp(w[3], "tp") == 0);
}

void cmd_take(job_word *w, int n)
{
    uint64_t eco = economy(), player = player_of(eco);
    if (!player) {
        core_log("[core] job: no economy/player (load a profile)");
        return;
    }
    job_block b = {};
    b.source_company = token_from_text(w[1]);
    b.source_city = token_from_text(w[2]);
    b.target_company = token_from_text(w[3]);
    b.target_city = token_from_text(w[4]);
    bool cargo_given = n > 5 && strcmp(w[5], "-") != 0 && strcmp(w[5], "tp") != 0;
    bool trailer_given = n > 6 && strcmp(w[6], "-") != 0 && strcmp(w[6], "tp") != 0;
    b.cargo = cargo_given ? token_from_text(w[5]) : 0;
    if (!b.source_company || !b.source_city || !b.target_company || !b.target_city || (cargo_given && !b.cargo) ||
        (trailer_given && !token_from_text(w[6]))) {
        core_log("[core] job: bad name (a-z 0-9 _, up to 12 chars)");
        return;
    }
    if (trailer_given)
        snprintf(b.trailer, sizeof b.trailer, "%s", w[6]);
    volatile uint64_t src = 0, dst = 0;
    dm_guarded([&] {
        src = company_lookup(b.source_company, b.source_city);
        dst = company_lookup(b.target_company, b.target_city);
    });
    if (!src || !dst) {
        core_log("[core] job: %s company not found (company.volatile.%s.%s)", !src ? "source" : "target",
                 !src ? w[1] : w[3], !src ? w[2] : w[4]);
        return;
    }
    bool tp = false;
    for (int i = 5; i < n; i++)
        tp = tp || strcmp(w[i], "tp") == 0;
    job_prepare_take(&b, player, tp);
}

} // namespace

void job_command(const char *rest, const dm_frame_info *info)
{
    job_word w[JOB_WORDS_MAX];
    int n = job_words(rest, w);
    const char *verb = n ? w[0] : "status";
    if (strcmp(verb, "status") == 0)
        cmd_status();
    else if (strcmp(verb, "where") == 0)
        cmd_where(info, w, n);
    else if (strcmp(verb, "offer") == 0)
        cmd_offer(w, n);
    else if (strcmp(verb, "mark") == 0)
        cmd_mark(w, n);
    else if (strcmp(verb, "offers") == 0)
        cmd_offers(w, n);
    else if (strcmp(verb, "server") == 0)
        cmd_server();
    else if (strcmp(verb, "get") == 0 && n >= 3)
        cmd_get(info, w, n);
    else if (strcmp(verb, "take") == 0 && n >= 5)
        cmd_take(w, n);
    else
        core_log("[core] job: usage: job status | job where [n] | job get <src_city|here> <dst_city> [tp] | job take "
                 "<src_co> <src_city> <dst_co> <dst_city> [cargo|-] [trailer_def|-] [tp]");
}

// ---------------------------------------------------------------- life cycle

void job_init(const dm_host_api *api)
{
    job_api = api;
    static const net_job_handlers handlers = { job_on_server_job, job_on_server_job_removed };
    net_set_job_handlers(&handlers);
}

void job_unhook()
{
    net_set_job_handlers(nullptr);
    if (!row_hook.target)
        return;
    dm_hook_remove(&row_hook, &row_gate, "freight row");
    core_log("[core] job: freight row hook removed (%u rows tagged)", (unsigned)rows_tagged);
}

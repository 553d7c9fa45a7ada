// The job command: inspects the freight market, places offers by hand and
// starts jobs through the game's own job parameter block.
//
// Index of this file:
//   words and blocks  job_word, log_block
//   status and where  cmd_status, here_city, cmd_where
//   offers            cmd_offer, cmd_mark, cmd_offers, cmd_server
//   jobs              job_prepare_take, cmd_get, cmd_take
//   the command       job_rows, job_command
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/dm_token.h"
#include "base/game_mem.h"
#include "world/job_market.h"
#include "world/job_sync.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_read.h"

using namespace job_off;

namespace {

// ---------------------------------------------------------------- words and blocks

typedef char job_word[JOB_WORD_SIZE];

void log_block(const char *label, const job_block *b)
{
    core_log("[core] job %s: src co %016llx city %016llx, dst co %016llx city %016llx, cargo %016llx, type %02x, "
             "trailer '%.63s'",
             label, (unsigned long long)b->source_company, (unsigned long long)b->source_city,
             (unsigned long long)b->target_company, (unsigned long long)b->target_city, (unsigned long long)b->cargo,
             b->type, b->trailer);
}

// ---------------------------------------------------------------- status and where

void cmd_status()
{
    uint64_t eco = job_economy(), player = job_player_of(eco);
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
                has = job_player_has_truck(player);
            },
            &fault)) {
        core_log("[core] job: FAULT reading companies (code 0x%08lx)", fault.code);
        return;
    }
    core_log("[core] job: player %p, job ptrs %p %p %p, has truck %d, game time %u min", (void *)(uintptr_t)player,
             (void *)(uintptr_t)jobs[0], (void *)(uintptr_t)jobs[1], (void *)(uintptr_t)jobs[2], (int)has,
             game_read_guarded_or_zero<uint32_t>(eco + GAME_ECONOMY_MINUTES));
}

/* The city token of the company nearest the truck, 0 when none. */
uint64_t here_city(const dm_frame_info *info)
{
    uint64_t eco = job_economy();
    if (!eco || !info)
        return 0;
    volatile uint64_t city = 0;
    dm_guarded([&] {
        placed_company c;
        int total;
        if (job_nearest_companies(eco, info->x, info->z, &c, 1, &total))
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
    uint64_t eco = job_economy();
    if (!eco) {
        core_log("[core] job where: no economy (load a profile)");
        return;
    }
    placed_company closest[64];
    volatile size_t found = 0;
    int total = 0, placed = 0;
    dm_seh_fault fault = {};
    if (!dm_guarded([&] { found = job_nearest_companies(eco, info->x, info->z, closest, (size_t)want, &total, &placed); },
                    &fault)) {
        core_log("[core] job: FAULT reading companies (code 0x%08lx)", fault.code);
        return;
    }
    if (!found) {
        core_log("[core] job where: no placed companies (%d in economy)", total);
        return;
    }
    char co[13], city[13], display[64];
    token_to_text(closest[0].token, co, sizeof co);
    token_to_text(closest[0].city, city, sizeof city);
    display[0] = 0;
    if (!dm_guarded([&] { job_city_display_name(closest[0].city, display, sizeof display); }))
        snprintf(display, sizeof display, "?");
    core_log("[core] job where: truck %.1f %.1f -> nearest city %s (%s), company %s %.0f m away; %d/%d companies placed",
             info->x, info->z, display, city, co, closest[0].distance, placed, total);
    for (size_t i = 0; i < found; i++) {
        token_to_text(closest[i].token, co, sizeof co);
        token_to_text(closest[i].city, city, sizeof city);
        if (!dm_guarded([&] { job_city_display_name(closest[i].city, display, sizeof display); }))
            snprintf(display, sizeof display, "?");
        core_log("[core]   %2d %7.0f m  %-12s %-12s %-20s at %.1f %.1f %.1f", (int)i + 1, closest[i].distance, co, city,
                 display, closest[i].pos[0], closest[i].pos[1], closest[i].pos[2]);
    }
}

// ---------------------------------------------------------------- offers

void cmd_offer(job_word *w, int n)
{
    uint32_t urgency = 2, hours = 72;
    if (n < 6 || (n > 6 && !job_parse_number(w[6], JOB_OFFER_URGENCY_MAX, &urgency)) ||
        (n > 7 && !job_parse_number(w[7], JOB_OFFER_HOURS_MAX, &hours))) {
        core_log("[core] job offer: usage: job offer <src_co> <src_city> <dst_co> <dst_city> <cargo> [urgency] [hours]");
        return;
    }
    uint64_t eco = job_economy();
    if (!eco) {
        core_log("[core] job offer: no economy");
        return;
    }
    uint64_t t[5];
    for (int i = 0; i < 5; i++)
        if (!(t[i] = job_token_from_text(w[1 + i]))) {
            core_log("[core] job offer: bad name");
            return;
        }
    volatile uint64_t src = 0, dst = 0;
    if (!dm_guarded([&] {
            src = job_company_lookup(t[0], t[1]);
            dst = job_company_lookup(t[2], t[3]);
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
            job_generate_offer(eco, w[5], source, target);
            uint64_t offer = world_read<uint64_t>(world_read<uint64_t>(src + company_offers));
            if (urgency <= urgency_max) // the typed urgency, when it is one of the game's
                world_write<uint32_t>(offer + offer_urgency, urgency);
            world_write<uint32_t>(offer + offer_expiry, hours * 60u + world_read<uint32_t>(eco + GAME_ECONOMY_MINUTES));
            job_log_offer("after", offer);
            job_tag(offer);
        },
        &fault);
    if (!ok)
        core_log("[core] job offer: FAULT (code 0x%08lx)", fault.code);
}

void cmd_mark(job_word *w, int n)
{
    if (n == 2 && strcmp(w[1], "clear") == 0) {
        job_untag_all();
        core_log("[core] job mark: cleared");
        return;
    }
    if (n < 3) {
        core_log("[core] job mark: usage: job mark <co> <city> | job mark clear");
        return;
    }
    uint64_t co = job_token_from_text(w[1]), city = job_token_from_text(w[2]);
    volatile uint64_t offer = 0;
    dm_guarded([&] {
        uint64_t c = co && city ? job_company_lookup(co, city) : 0;
        if (c && world_read<uint64_t>(c + company_offer_count))
            offer = world_read<uint64_t>(world_read<uint64_t>(c + company_offers));
    });
    if (!offer) {
        core_log("[core] job mark: no offers");
        return;
    }
    job_install_row_hook();
    job_tag(offer);
    core_log("[core] job mark: marked %p", (void *)(uintptr_t)offer);
}

void cmd_offers(job_word *w, int n)
{
    uint64_t co = n > 2 ? job_token_from_text(w[1]) : 0, city = n > 2 ? job_token_from_text(w[2]) : 0;
    dm_seh_fault fault = {};
    bool ok = dm_guarded(
        [&] {
            uint64_t c = co && city && job_economy() ? job_company_lookup(co, city) : 0;
            if (!c) {
                core_log("[core] job offers: company not found");
                return;
            }
            uint64_t array = world_read<uint64_t>(c + company_offers);
            size_t count = (size_t)world_read<uint64_t>(c + company_offer_count);
            core_log("[core] job offers: %s.%s has %zu offers, median %.4f km per straight m", w[1], w[2], count,
                     job_median_km_ratio(c, job_tagged()));
            for (size_t i = 0; i < count && i < 4096; i++) {
                uint64_t o = world_read<uint64_t>(array + 8 * i);
                if (!o)
                    continue;
                char target[64];
                job_text_at(world_read<uint64_t>(o + offer_target_name), target, sizeof target);
                uint16_t km = world_read<uint16_t>(o + offer_distance);
                uint64_t t = job_company_from_name(target);
                double metres = t ? job_company_distance(c, t) : -1.0;
                core_log("[core]   [%zu] %-28s %5u km, straight %8.0f m, ratio %.4f%s", i, target, km, metres,
                         metres > 0 ? km / metres : 0.0, job_is_tagged(job_tagged(), o) ? "  [SERVER JOB]" : "");
            }
        },
        &fault);
    if (!ok)
        core_log("[core] job: FAULT reading companies (code 0x%08lx)", fault.code);
}

void cmd_server()
{
    server_job jobs[64];
    uint64_t offers[64];
    int n = job_table_list(jobs, offers, 64);
    for (int i = 0; i < n; i++) {
        char cargo[13], sco[13], tco[13];
        token_to_text(jobs[i].cargo, cargo, sizeof cargo);
        token_to_text(jobs[i].source_company, sco, sizeof sco);
        token_to_text(jobs[i].target_company, tco, sizeof tco);
        core_log("[core] server job #%u: %s %s -> %s, offer %p", jobs[i].id, cargo, sco, tco,
                 (void *)(uintptr_t)offers[i]);
    }
    if (!n)
        core_log("[core] server jobs: none");
}

// ---------------------------------------------------------------- jobs

/* job_prepare_take: the block prepared and taken, then freed. */
void job_prepare_take(job_block *b, uint64_t player, bool tp)
{
    dm_seh_fault fault = {};
    bool ok = dm_guarded(
        [&] {
            uint8_t has = job_player_has_truck(player) ? 1 : 0;
            int32_t status = game_fn<int32_t (*)(job_block *, uint8_t, uint8_t)>(block_prepare)(b, tp ? 1 : 0, has);
            log_block("prepared", b);
            char text[128];
            if (status != 0) {
                core_log("[core] job: prepare failed: %d %s", status, job_result_text(status, text, sizeof text));
            } else {
                int32_t r = game_fn<int32_t (*)(job_block *)>(block_take)(b);
                core_log("[core] job: take -> %d %s", r, job_result_text(r, text, sizeof text));
            }
            game_fn<void (*)(job_block *)>(block_free)(b);
        },
        &fault);
    if (!ok)
        core_log("[core] job: FAULT in prepare/take (code 0x%08lx)", fault.code);
}

void cmd_get(const dm_frame_info *info, job_word *w, int n)
{
    uint64_t eco = job_economy(), player = job_player_of(eco);
    if (!player) {
        core_log("[core] job: no economy/player (load a profile)");
        return;
    }
    uint64_t from = 0;
    if (strcmp(w[1], "here") == 0) {
        from = here_city(info);
        if (from) {
            char text[13];
            token_to_text(from, text, sizeof text);
            core_log("[core] job: here = %s", text);
        }
    } else {
        from = job_token_from_text(w[1]);
    }
    uint64_t to = job_token_from_text(w[2]);
    if (!from || !to) {
        core_log("[core] job: bad city name (or no company near the truck for 'here')");
        return;
    }
    job_block b = {};
    volatile uint8_t found = 0;
    dm_seh_fault fault = {};
    if (!dm_guarded(
            [&] {
                found = game_fn<uint8_t (*)(uint64_t, const uint64_t *, const uint64_t *, job_block *)>(block_pick)(
                    eco, &from, &to, &b);
            },
            &fault)) {
        core_log("[core] job: FAULT in prepare/take (code 0x%08lx)", fault.code);
        return;
    }
    if (!found) {
        char a[13], c[13];
        token_to_text(from, a, sizeof a);
        token_to_text(to, c, sizeof c);
        core_log("[core] job: no linked companies between %s and %s", a, c);
        return;
    }
    log_block("picked", &b);
    job_prepare_take(&b, player, n > 3 && strcmp(w[3], "tp") == 0);
}

void cmd_take(job_word *w, int n)
{
    uint64_t eco = job_economy(), player = job_player_of(eco);
    if (!player) {
        core_log("[core] job: no economy/player (load a profile)");
        return;
    }
    job_block b = {};
    b.source_company = job_token_from_text(w[1]);
    b.source_city = job_token_from_text(w[2]);
    b.target_company = job_token_from_text(w[3]);
    b.target_city = job_token_from_text(w[4]);
    bool cargo_given = n > 5 && strcmp(w[5], "-") != 0 && strcmp(w[5], "tp") != 0;
    bool trailer_given = n > 6 && strcmp(w[6], "-") != 0 && strcmp(w[6], "tp") != 0;
    b.cargo = cargo_given ? job_token_from_text(w[5]) : 0;
    if (!b.source_company || !b.source_city || !b.target_company || !b.target_city || (cargo_given && !b.cargo) ||
        (trailer_given && !job_token_from_text(w[6]))) {
        core_log("[core] job: bad name (a-z 0-9 _, up to 12 chars)");
        return;
    }
    if (trailer_given)
        snprintf(b.trailer, sizeof b.trailer, "%s", w[6]);
    volatile uint64_t src = 0, dst = 0;
    dm_guarded([&] {
        src = job_company_lookup(b.source_company, b.source_city);
        dst = job_company_lookup(b.target_company, b.target_city);
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

// ---------------------------------------------------------------- the command

/* What a sub-command's handler is given: the frame and the line's words
 * (w[0] the sub-command's own). */
struct job_call {
    const dm_frame_info *info;
    job_word *w;
    int n;
};

/* The sub-commands: the word, the fewest words the line needs, the handler.
 * A line of no row (or too few words) gets the usage line. */
struct job_row {
    const char *word;
    int min_words;
    void (*handler)(const job_call &call);
};
const job_row job_rows[] = {
    { "status", 0, [](const job_call &) { cmd_status(); } },
    { "where", 0, [](const job_call &c) { cmd_where(c.info, c.w, c.n); } },
    { "offer", 0, [](const job_call &c) { cmd_offer(c.w, c.n); } },
    { "mark", 0, [](const job_call &c) { cmd_mark(c.w, c.n); } },
    { "offers", 0, [](const job_call &c) { cmd_offers(c.w, c.n); } },
    { "server", 0, [](const job_call &) { cmd_server(); } },
    { "get", 3, [](const job_call &c) { cmd_get(c.info, c.w, c.n); } },
    { "take", 5, [](const job_call &c) { cmd_take(c.w, c.n); } },
};

} // namespace

void job_command(const char *rest, const dm_frame_info *info)
{
    job_word w[JOB_WORDS_MAX];
    int n = job_words(rest, w);
    const char *verb = n ? w[0] : "status";
    for (const job_row &row : job_rows)
        if (strcmp(verb, row.word) == 0 && n >= row.min_words) {
            row.handler({ info, w, n });
            return;
        }
    core_log("[core] job: usage: job status | job where [n] | job get <src_city|here> <dst_city> [tp] | job take "
             "<src_co> <src_city> <dst_co> <dst_city> [cargo|-] [trailer_def|-] [tp]");
}

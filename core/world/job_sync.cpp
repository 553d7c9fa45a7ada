// Server jobs in the game's freight market: a job the server pushes becomes
// an offer at its source company, tagged so its freight row is drawn with a
// "[SERVER JOB]" prefix by an inline hook on the freight-row routine.
//
// Index of this file:
//   state          the job table, the tagged set, the row hook
//   placement      job_apply_server_job
//   handlers       job_on_server_job, job_on_server_job_removed
//   row hook       the cargo-name swaps, job_row_hook, job_install_row_hook
//   for the command  the tagged set and the table (job_sync.h)
//   life cycle     job_init, job_unhook
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "base/detour_gate.h"
#include "dm_guard.h"
#include "base/dm_token.h"
#include "base/game_mem.h"
#include "base/inline_hook.h"
#include "world/job_market.h"
#include "world/job_sync.h"
#include "net/net.h"
#include "world/world.h"
#include "world/world_game.h"
#include "world/world_read.h"

using namespace job_off;

namespace {

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

// ---------------------------------------------------------------- placement

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
    token_to_text(j.source_company, sco, sizeof sco);
    token_to_text(j.source_city, scity, sizeof scity);
    token_to_text(j.target_company, tco, sizeof tco);
    token_to_text(j.target_city, tcity, sizeof tcity);
    token_to_text(j.cargo, cargo_text, sizeof cargo_text);
    snprintf(source, sizeof source, "%s.%s", sco, scity);
    snprintf(target, sizeof target, "%s.%s", tco, tcity);

    uint64_t src = job_company_lookup(j.source_company, j.source_city);
    uint64_t dst = job_company_lookup(j.target_company, j.target_city);
    if (!src || !dst) {
        if (!e->offer)
            core_log("[core] server job #%u: company not found (%s -> %s); skipped", j.id, source, target);
        return 0;
    }
    uint64_t cargo = job_cargo_lookup(j.cargo);
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
        if (o && !held_by_other(e, o) && world_read<uint64_t>(o + offer_cargo) == cargo && job_target_is(o, target) &&
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
    double r = job_median_km_ratio(src, &tagged);
    job_generate_offer(eco, cargo_text, source, target);

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
    uint64_t eco = job_economy();
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
    // The wire carries a byte; the game knows three urgencies. A job outside
    // them is refused as a whole: no entry changes, nothing is written.
    if (job->urgency > urgency_max) {
        core_log("[core] server job #%u refused: urgency %u (the game's are 0 to 2)", job->id, job->urgency);
        return;
    }
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
        token_to_text(job->cargo, cargo, sizeof cargo);
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

/* A cargo object is shared by every offer of that cargo, and the game may
 * draw freight rows on more than one thread. While rows of a tagged offer
 * are inside the game's routine, the cargo's name points at the tagged text
 * of one swap record: the first call in saves the game's own name and puts
 * the text in, later calls of the same cargo join it, and the last call out
 * puts the game's name back. The text lives in the record (the core's own
 * storage), not on a detour's stack. One record per cargo in a call at once;
 * as many records as tagged offers, so each of those can be in a call. */
struct row_swap {
    uint64_t cargo;  /* 0 = never used */
    uint64_t name;   /* the game's own name text and length */
    uint32_t length;
    uint32_t users;  /* calls inside the routine with the text in place */
    char text[JOB_ROW_TEXT_SIZE];
};
row_swap row_swaps[JOB_TAGS_MAX];
SRWLOCK row_swap_lock = SRWLOCK_INIT;

/* Under the lock: the record of a cargo in a call, else a record no call
 * uses (that cargo's own first), else null. */
row_swap *row_swap_for(uint64_t cargo, bool *in_use)
{
    row_swap *idle = nullptr;
    for (auto &s : row_swaps) {
        if (s.cargo == cargo && s.users) {
            *in_use = true;
            return &s;
        }
        if (!s.users && (!idle || s.cargo == cargo))
            idle = &s;
    }
    *in_use = false;
    return idle;
}

/* The row's swap, begun or joined; null when the row is drawn unchanged
 * (no tagged offer, a header row, no name, a text too long, all records
 * in calls). */
row_swap *row_swap_begin(uint64_t row)
{
    uint64_t offer = 0, header = 0, cargo = 0;
    if (!row || !game_read_guarded(row + 8, &offer) || !offer || !game_read_guarded(row + 0x18, &header) || header ||
        !job_is_tagged(&tagged, offer) || !game_read_guarded(offer + offer_cargo, &cargo) || !cargo)
        return nullptr;
    AcquireSRWLockExclusive(&row_swap_lock);
    bool in_use = false;
    row_swap *s = row_swap_for(cargo, &in_use);
    if (s && in_use) {
        s->users++;
    } else if (s) {
        uint64_t name = 0;
        uint32_t length = 0;
        size_t n = 0;
        bool readable = game_read_guarded(cargo + cargo_name, &name) && name &&
                        game_read_guarded(cargo + cargo_name_length, &length) && probe_read(name, length);
        if (readable && !dm_guarded([&] { n = job_row_text(s->text, (const char *)(uintptr_t)name, length); }))
            n = 0;
        if (n >= 1 && n <= JOB_ROW_TEXT_SIZE - 1 &&
            world_write_guarded<uint64_t>(cargo + cargo_name, (uint64_t)(uintptr_t)s->text)) {
            if (world_write_guarded<uint32_t>(cargo + cargo_name_length, (uint32_t)n)) {
                s->cargo = cargo;
                s->name = name;
                s->length = length;
                s->users = 1;
            } else {
                world_write_guarded<uint64_t>(cargo + cargo_name, name);
                s = nullptr;
            }
        } else {
            s = nullptr;
        }
    }
    ReleaseSRWLockExclusive(&row_swap_lock);
    if (s)
        InterlockedIncrement(&rows_tagged);
    return s;
}

void row_swap_end(row_swap *s)
{
    AcquireSRWLockExclusive(&row_swap_lock);
    if (--s->users == 0) {
        world_write_guarded<uint64_t>(s->cargo + cargo_name, s->name);
        world_write_guarded<uint32_t>(s->cargo + cargo_name_length, s->length);
    }
    ReleaseSRWLockExclusive(&row_swap_lock);
}

typedef uint64_t (*row_routine_fn)(uint64_t, uint64_t, uint64_t);

/* The swap ended and the gate left: after the game's routine returned, and
 * also while an exception from it unwinds past the detour to an outer
 * handler (a g++ destructor would not run then). */
void row_call_leave(row_swap *swap, uint32_t entered)
{
    if (swap)
        row_swap_end(swap);
    detour_gate_leave(&row_gate, entered);
}

uint64_t job_row_hook(uint64_t a1, uint64_t a2, uint64_t row)
{
    uint32_t entered = detour_gate_enter(&row_gate);
    row_swap *swap = row_swap_begin(row);
    uint64_t result = 0;
    dm_unwind_guarded([&] { result = ((row_routine_fn)(uintptr_t)row_hook.trampoline)(a1, a2, row); },
                      [&] { row_call_leave(swap, entered); });
    row_call_leave(swap, entered);
    return result;
}

} // namespace

void job_install_row_hook()
{
    if (row_hook.target)
        return;
    if (!hook_install_inline(&row_hook, game_addr(row_routine), row_prologue, sizeof row_prologue,
                             (const void *)job_row_hook)) {
        core_log("[core] job: freight row hook NOT installed (prologue mismatch)");
        return;
    }
    core_log("[core] job: freight row hook installed");
}

// ---------------------------------------------------------------- for the command

void job_tag(uint64_t offer) { job_tag_offer(&tagged, offer); }
void job_untag_all() { tagged = job_tags{}; }
const job_tags *job_tagged() { return &tagged; }

int job_table_list(server_job *jobs, uint64_t *offers, int max)
{
    int n = 0;
    for (auto &e : job_table)
        if (e.used && n < max) {
            jobs[n] = e.job;
            offers[n] = e.offer;
            n++;
        }
    return n;
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
    hook_remove(&row_hook, &row_gate, "freight row");
    core_log("[core] job: freight row hook removed (%u rows tagged)", (unsigned)rows_tagged);
}

// The props table in its reload block: the block mapped or made, start and
// stop, the per-frame tick (world change, disconnect, draw-fault report,
// re-placing attached props, the deferred release, hookups and lights), and
// the draw passes a release waits for.
//
// Index of this file:
//   state         the core-side state and the log
//   records       publishing, queueing, model checks, models checked when taken
//   draw passes   what a release waits for
//   release       one record's game objects let go
//   life cycle    props_init, props_shutdown, props_any_live
//   tick          props_tick in its order
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "base/detour_gate.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "net/net.h"
#include "props/props_internal.h"
#include "base/shared_section.h"
#include "props/props.h"

/* ---- state ---- */

const dm_host_api *props_api;
props_state_block *props_block;
volatile uint8_t props_draw_faulted;
volatile long props_draw_calls;
uint32_t props_last_id;
bool props_last_is_server;
uint32_t props_pending_creates;
uint8_t props_autosnap = 1, props_collision_on;
uint32_t props_ray_filter = 0xFFFFFFFFu;
bool props_fault_reported;

namespace {

props_state_block fallback_block;
uint32_t release_counter;
/* Per slot, the model that passed props_model_ok when the record took it
 * (spawn, restore); 0 when none did. */
uint64_t model_checked[PROPS_SLOTS];

} // namespace

void props_log(const char *fmt, ...)
{
    if (!props_api)
        return;
    va_list ap;
    va_start(ap, fmt);
    core_logv(fmt, ap);
    va_end(ap);
}

bool props_joined() { return net_our_player_id() != 0; }
bool props_our_player(uint16_t player) { return player == 0 || player == net_our_player_id(); }

/* ---- draw passes ----
 * props_draw runs inside render_gate, which every core build of the process
 * shares. A record is queued (state 2) before the game thread drains the
 * gate, so a pass that enters after the drain began skips it, and one that
 * entered before has ended when the drain returns: a release after a
 * drained gate never meets a pass that read the record live, the passes of
 * a core reloaded meanwhile included. */

/* How long a release batch or a world change waits for the passes inside. */
#define PROPS_RELEASE_WAIT_MS 2
#define PROPS_WORLD_WAIT_MS 500

/* ---- records ---- */

uint32_t props_state_of(const prop_record *r) { return __atomic_load_n(&r->state, __ATOMIC_ACQUIRE); }
void props_publish(prop_record *r, uint32_t state) { __atomic_store_n(&r->state, state, __ATOMIC_RELEASE); }

void (*props_queue_observer)(const prop_record *r);

void props_queue(prop_record *r)
{
    __atomic_store_n(&r->state, (uint32_t)PROP_QUEUED, __ATOMIC_SEQ_CST);
    if (props_queue_observer)
        props_queue_observer(r);
}

bool props_model_ok(uint64_t model)
{
    uint64_t vt = 0;
    return model && probe_read(model, MODEL_SIZE) && game_read_guarded(model, &vt) &&
           vt == game_addr(GAME_OFF_MODEL_VTABLE);
}

bool props_model_loaded(uint64_t model)
{
    return props_model_ok(model) && (game_u32_guarded(model + MODEL_FLAGS) & MODEL_LOADED);
}

/* A model is probed when a record takes it (spawn, restore), not in every
 * frame: we hold a reference on it, so it lives as long as the record, and a
 * world change forgets the records before anything reads them. The slot
 * notes which model passed, so a record that later holds another model (a
 * slot reused) counts as unchecked until it is taken again. */
static size_t slot_of(const prop_record *r) { return (size_t)(r - props_block->table); }

void props_model_taken(const prop_record *r)
{
    model_checked[slot_of(r)] = props_model_ok(r->model) ? r->model : 0;
}

bool props_model_held(const prop_record *r) { return r->model && model_checked[slot_of(r)] == r->model; }

bool props_model_held_loaded(const prop_record *r)
{
    uint64_t model = r->model;
    volatile uint32_t flags = 0;
    return props_model_held(r) && dm_guarded([&] { flags = game_field<volatile uint32_t>(model, MODEL_FLAGS); }) &&
           (flags & MODEL_LOADED);
}

int props_live_count()
{
    int n = 0;
    if (props_block)
        for (auto &r : props_block->table)
            n += props_state_of(&r) == PROP_LIVE;
    return n;
}

/* ---- release ---- */

void props_model_release(uint64_t model)
{
    if (props_model_ok(model))
        dm_guarded([&] { game_release(model); });
}

static void release_record(prop_record *r)
{
    props_remove_collision(r);
    props_model_release(r->model);
    props_log("[props] #%u released", r->local_id);
    props_publish(r, PROP_FREE);
    memset(r, 0, sizeof *r);
}

/* ---- life cycle ---- */

void props_init(const dm_host_api *api)
{
    props_api = api;
    char name[64];
    snprintf(name, sizeof name, PROPS_SECTION_NAME, PROPS_VERSION, (unsigned long)GetCurrentProcessId());
    props_block = (props_state_block *)section_map(name, sizeof(props_state_block));
    if (!props_block) {
        props_log("[props] shared memory failed; props won't survive a reload");
        props_block = &fallback_block;
    }
    if (props_block->magic != PROPS_MAGIC || props_block->version != PROPS_VERSION) {
        memset(props_block, 0, sizeof *props_block);
        props_block->magic = PROPS_MAGIC;
        props_block->version = PROPS_VERSION;
        props_block->drawing_on = 1;
    }
    props_draw_faulted = 0;
    net_set_prop_handlers(&props_net_handlers);
    // The kept records' models are taken again: this core has checked none.
    memset(model_checked, 0, sizeof model_checked);
    for (auto &r : props_block->table)
        if (props_state_of(&r) == PROP_LIVE)
            props_model_taken(&r);
    int kept = props_live_count();
    if (kept)
        props_log("[props] %d prop(s) kept from before the reload", kept);
}

void props_shutdown()
{
    net_set_prop_handlers(nullptr);
    model_catalog_destroy();
    if (props_block)
        props_block->game_ctrl = game_ctrl_guarded();
    // A pass of ours still running ends on its own; none after it reads the
    // block (the view stays mapped while this core is).
    __atomic_store_n(&props_block, (props_state_block *)nullptr, __ATOMIC_SEQ_CST);
    props_api = nullptr;
}

bool props_any_live() { return props_block && props_block->drawing_on && props_live_count() > 0; }

/* ---- tick ---- */

static void world_change()
{
    // Probed in every tick: this read is where a new world is seen, before
    // any record's model is touched.
    uint64_t ctrl = game_ctrl_guarded();
    if (props_block->game_ctrl && props_block->game_ctrl != ctrl) {
        int n = 0;
        for (auto &r : props_block->table) {
            n += r.state != PROP_FREE;
            props_publish(&r, PROP_FREE);
        }
        // The models went with the world; a pass still inside reads the
        // records until it ends.
        detour_gate_drain(render_gate, PROPS_WORLD_WAIT_MS);
        memset(props_block->table, 0, sizeof props_block->table);
        memset(model_checked, 0, sizeof model_checked);
        props_pending_creates = 0;
        if (n)
            props_log("[props] world changed; forgot %d prop(s)", n);
    }
    props_block->game_ctrl = ctrl;
}

static void deferred_release()
{
    bool any = false;
    for (auto &r : props_block->table)
        any |= r.state == PROP_QUEUED;
    if (!any) {
        release_counter = 0;
        return;
    }
    if (++release_counter < 3)
        return;
    if (!detour_gate_drain(render_gate, PROPS_RELEASE_WAIT_MS)) {
        release_counter = 2; // a pass that may read them still runs: the next tick again
        return;
    }
    release_counter = 0;
    for (auto &r : props_block->table)
        if (r.state == PROP_QUEUED)
            release_record(&r);
}

bool props_tick(const dm_frame_info *)
{
    if (!props_block)
        return false;
    world_change();
    if (props_disconnected())
        for (auto &r : props_block->table)
            if (r.state == PROP_LIVE && r.server_id) {
                props_queue(&r);
                props_log("[props] server prop %u removed (not connected)", r.server_id);
            }
    if (props_draw_faulted && !props_fault_reported) {
        props_fault_reported = true;
        props_log("[props] draw faulted; prop drawing disabled (model draw on to retry)");
    } else if (!props_draw_faulted) {
        props_fault_reported = false;
    }
    // Attached props follow their parts here, after the vehicle steps; the
    // draw only reads what this wrote. The parts are read once for all the
    // props on each of them (props_shared_reads_begin).
    props_shared_reads_begin();
    for (auto &r : props_block->table)
        if (r.state == PROP_LIVE && r.attach_part)
            props_update_attached(&r);
    deferred_release();
    for (auto &r : props_block->table)
        if (r.state == PROP_LIVE && r.hookup_state == PROP_HOOKUPS_NONE && props_model_held_loaded(&r))
            props_create_hookups(&r);
    // The model is ours and was checked when taken: its hookup count is read
    // under the tick's guard, not probed.
    for (auto &r : props_block->table) {
        if (r.state != PROP_LIVE || r.hookup_state != PROP_HOOKUPS_CREATED || !props_model_held(&r))
            continue;
        uint64_t model = r.model;
        bool ok = dm_guarded([&] {
            if (game_field<volatile uint64_t>(model, MODEL_HOOKUP_COUNT))
                game_vslot<void (*)(uint64_t)>(model, MODEL_SLOT_HOOKUP_TICK)(model);
        });
        if (!ok) {
            r.hookup_state = PROP_HOOKUPS_STOPPED;
            props_log("[props] #%u hookup tick faulted; stopped", r.local_id);
        }
    }
    for (auto &r : props_block->table) {
        if (r.state != PROP_LIVE || r.hookup_state != PROP_HOOKUPS_CREATED)
            continue;
        if (!dm_guarded([&] { props_apply_lights(&r); })) {
            r.hookup_state = PROP_HOOKUPS_STOPPED;
            props_log("[props] #%u light faulted; hookups stopped", r.local_id);
        }
    }
    props_shared_reads_end();
    return props_block->drawing_on && props_live_count() > 0;
}

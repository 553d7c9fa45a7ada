// Prop models: the path rules against the game's file system, a model made
// into a free record, its placement pushed into the game, the live props
// drawn inside the game's draw call (render thread), "<id|last>" resolved,
// and the first model of a vehicle's slot list.
//
// Index of this file:
//   file system   the game's exists query
//   paths         props_path_ok
//   spawning      props_spawn_model under one guard
//   placement     props_push_placement
//   drawing       props_draw
//   finding       props_find, props_model_from_slot
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/core.h"
#include "base/detour_gate.h"
#include "dm_guard.h"
#include "base/dm_token.h"
#include "base/game_mem.h"
#include "base/plain_text.h"
#include "props/props_internal.h"
#include "props/props.h"

namespace {

/* Server ids of refused server props, newest first: a refusal is logged
 * once per server prop, however often the server resends it. */
uint32_t refused[32];

/* What the guarded part of a spawn came to. */
enum spawn_outcome {
    SPAWN_MADE,          /* a model with its descriptor, referenced */
    SPAWN_NULL,          /* the game made no object */
    SPAWN_FOREIGN,       /* the game made another kind of object (let go) */
    SPAWN_NO_DESCRIPTOR, /* the model found no descriptor for the path (released) */
};



/* Our reference dropped: -1, the game's destroy at count 0. */
void drop_ref(uint64_t object)
{
    LONG now = InterlockedDecrement((volatile LONG *)(uintptr_t)(object + GAME_REF_WORD));
    if (((uint32_t)now & GAME_REF_COUNT_MASK) == 0)
        game_fn<uint64_t (*)(uint64_t)>(GAME_OFF_DESTROY)(object);
}

} // namespace

bool props_refused_before(uint32_t server_id)
{
    for (uint32_t r : refused)
        if (r == server_id)
            return true;
    memmove(refused + 1, refused, sizeof refused - sizeof refused[0]);
    refused[0] = server_id;
    return false;
}

/* ---- file system ----
 * The u64 at GAME_OFF_FILES points to an array of file-system entries, and
 * the u64 at GAME_OFF_FILES_COUNT counts them; entry 4 (the array's word at
 * +0x20) is the interface whose virtual slot 4 answers (interface, pointer
 * to the path pointer) -> a byte, non-zero when the path exists. */

bool props_game_file_exists(const char *path)
{
    uint64_t count = game_u64_guarded(game_addr(GAME_OFF_FILES_COUNT));
    uint64_t files = game_u64_guarded(game_addr(GAME_OFF_FILES));
    if (count <= FILES_INTERFACE_ENTRY || !files || !probe_read(files, 8 * (FILES_INTERFACE_ENTRY + 1)))
        return false;
    uint64_t iface = game_u64_guarded(files + 8 * FILES_INTERFACE_ENTRY), vt = 0;
    if (!iface || !game_read_guarded(iface, &vt) || !vt || !probe_read(game_vslot_entry(vt, FILES_SLOT_EXISTS), 8))
        return false;
    volatile uint8_t answer = 0;
    const char *p = path;
    typedef uint64_t (*exists_fn)(uint64_t, uint64_t);
    bool ok = dm_guarded(
        [&] { answer = (uint8_t)game_vslot<exists_fn>(iface, FILES_SLOT_EXISTS)(iface, (uint64_t)(uintptr_t)&p); });
    return ok && answer;
}

/* ---- paths ---- */

bool props_path_ok(const char *path) { return props_path_text_ok(path) && props_game_file_exists(path); }

/* ---- spawning ---- */

prop_record *props_spawn_model(const char *path, uint64_t look, uint64_t variant, const placement *p,
                               uint32_t server_id, uint16_t owner)
{
    // 1. The path: a .pmd in the game's files.
    if (!props_block || !game_ctrl_guarded())
        return nullptr;
    char shown[NET_PROP_PATH_MAX * 4 + 1];
    text_clean(shown, sizeof shown, path, strnlen(path, PROPS_PATH_MAX));
    if (!props_path_ok(path)) {
        if (server_id && props_refused_before(server_id))
            return nullptr;
        props_log("[props] %s isn't a .pmd in the game's files; not loaded%s", shown, server_id ? " (server prop)" : "");
        return nullptr;
    }
    // 2. A free record.
    prop_record *r = nullptr;
    for (auto &slot : props_block->table)
        if (slot.state == PROP_FREE) {
            r = &slot;
            break;
        }
    if (!r) {
        props_log("[props] all %d slots used; despawn some", PROPS_SLOTS);
        return nullptr;
    }
    // 3. The model made and given its data, under one guard.
    volatile uint64_t model = 0;
    volatile spawn_outcome outcome = SPAWN_MADE;
    bool ok = dm_guarded([&] {
        uint64_t made = game_create_unit(GAME_PREFERRED_BASE + GAME_OFF_MODEL_CLASS);
        if (!made) {
            outcome = SPAWN_NULL;
            return;
        }
        if (*(const uint64_t *)(uintptr_t)made != game_addr(GAME_OFF_MODEL_VTABLE)) {
            outcome = SPAWN_FOREIGN; // not a model object: our reference taken and dropped lets the game free it
            game_take_ref(made);
            game_release(made);
            return;
        }
        game_take_ref(made);
        model = made;
        // From here a fault leaves the model in a queued record for the normal release.
        r->model = made;
        const char *path_ptr = path;
        uint64_t lk = look, vr = variant;
        typedef uint64_t (*set_data_fn)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t);
        game_vslot<set_data_fn>(made, MODEL_SLOT_SET_DATA)(made, (uint64_t)(uintptr_t)&path_ptr,
                                                          (uint64_t)(uintptr_t)&lk, (uint64_t)(uintptr_t)&vr, 0);
        if (!*(const uint64_t *)(uintptr_t)(made + MODEL_DESCRIPTOR)) {
            outcome = SPAWN_NO_DESCRIPTOR;
            r->model = 0;
            game_vslot<uint64_t (*)(uint64_t)>(made, MODEL_SLOT_RELEASE)(made);
            drop_ref(made);
            return;
        }
        uint64_t block = game_fn<uint64_t (*)(uint64_t)>(GAME_OFF_ALLOC)(SETUP_BLOCK_SIZE);
        if (block) {
            game_fn<uint64_t (*)(uint64_t)>(GAME_OFF_SETUP_CONSTRUCT)(block);
            uint64_t ref = 0;
            game_fn<uint64_t (*)(uint64_t)>(GAME_OFF_SETUP_REF)((uint64_t)(uintptr_t)&ref);
            game_fn<uint64_t (*)(uint64_t, uint64_t, uint64_t)>(GAME_OFF_SETUP_BIND)(block, 1, ref);
            game_fn<uint64_t (*)(uint64_t, uint64_t, uint64_t)>(GAME_OFF_SETUP_ATTACH)(made, block, ref);
            if (ref)
                drop_ref(ref);
        }
    });
    // 4. A fault or a refusal logged; nothing live.
    if (!ok) {
        props_log("[props] spawning %s faulted at %p; %s", shown, (void *)(uintptr_t)last_fault_address,
                  r->model ? "the model waits for its release" : "nothing kept");
        if (r->model) {
            uint64_t kept = r->model;
            memset(r, 0, sizeof *r);
            r->model = kept;
            r->local_id = ++props_block->last_local_id;
            props_queue(r);
        }
        return nullptr;
    }
    switch (outcome) {
    case SPAWN_MADE: break;
    case SPAWN_NULL:
        props_log("[props] create_unit(model_object) returned null");
        return nullptr;
    case SPAWN_FOREIGN:
        props_log("[props] create_unit(model_object) returned another kind of object; released");
        return nullptr;
    case SPAWN_NO_DESCRIPTOR: {
        char lt[DM_TOKEN_TEXT_SIZE], vt[DM_TOKEN_TEXT_SIZE];
        token_to_text(look, lt, sizeof lt);
        token_to_text(variant, vt, sizeof vt);
        props_log("[props] missing model descriptor: %s (look %s, variant %s); released", shown, lt, vt);
        return nullptr;
    }
    }
    // 5. The record filled, placed and published live; its collision when on.
    memset(r, 0, sizeof *r);
    r->model = model;
    props_model_taken(r);
    r->local_id = ++props_block->last_local_id;
    r->owner = owner;
    r->server_id = server_id;
    r->look = look;
    r->variant = variant;
    r->place = *p;
    r->light_applied = 0xFF;
    size_t n = strnlen(path, PROPS_PATH_MAX);
    memcpy(r->path, path, n);
    props_push_placement(r);
    props_publish(r, PROP_LIVE);
    if (props_collision_on)
        props_create_collision(r);
    return r;
}

/* ---- placement ---- */

void props_push_placement(prop_record *r)
{
    uint64_t model = r->model, actor = r->actor;
    placement *p = &r->place;
    dm_guarded([&] {
        memcpy((void *)(uintptr_t)(model + MODEL_PLACEMENT), p, sizeof *p);
        game_fn<uint64_t (*)(uint64_t, uint64_t)>(GAME_OFF_TRANSFORM_UPDATE)(
            model + MODEL_TRANSFORM, *(const uint64_t *)(uintptr_t)(model + MODEL_TRANSFORM_ARG));
        if (actor)
            game_vslot<uint64_t (*)(uint64_t, uint64_t)>(actor, ACTOR_SLOT_SET_PLACEMENT)(actor, (uint64_t)(uintptr_t)p);
    });
}

/* ---- drawing (render thread) ----
 * Inside render_gate before anything of the block is read: the game thread
 * drains the gate before it releases a record, and a core that shut down
 * has dropped its block pointer, so its passes that begin later read
 * nothing. Every read of the block is under the guard. */

void props_draw(uint64_t context)
{
    if (!context || props_draw_faulted)
        return;
    // game_ctrl and its camera manager are probed in every pass: the render
    // thread holds no reference on them and cannot know whether the game
    // thread has seen the world change yet.
    uint64_t ctrl = game_ctrl_guarded();
    if (!ctrl)
        return;
    detour_gate *gate = render_gate;
    uint32_t entered = detour_gate_enter(gate);
    props_state_block *b = __atomic_load_n(&props_block, __ATOMIC_SEQ_CST);
    if (!b) {
        detour_gate_leave(gate, entered);
        return;
    }
    uint64_t camera = game_u64_guarded(ctrl + GAME_CTRL_CAMERA_MANAGER);
    game_render_word word = {};
    long drawn = 0; // added to the shared count once a pass
    bool ok = dm_guarded([&] {
        if (!b->drawing_on)
            return;
        for (auto &r : b->table) {
            if (props_state_of(&r) != PROP_LIVE)
                continue;
            uint8_t hookups = __atomic_load_n(&r.hookup_state, __ATOMIC_ACQUIRE);
            if (hookups == PROP_HOOKUPS_NONE || hookups == PROP_HOOKUPS_CREATING)
                continue;
            if (r.attach_part && r.attach_missing)
                continue;
            uint64_t model = r.model;
            if (!model || !(*(const uint32_t *)(uintptr_t)(model + MODEL_FLAGS) & MODEL_LOADED))
                continue;
            if (!word.manager)
                game_render_word_set(&word, camera);
            game_vslot<uint64_t (*)(uint64_t, uint64_t)>(model, MODEL_SLOT_DRAW)(model, context);
            drawn++;
        }
    });
    if (drawn)
        InterlockedExchangeAdd(&props_draw_calls, drawn);
    // The render word goes back on every path, a fault's too.
    game_render_word_restore(&word);
    if (!ok)
        props_draw_faulted = 1;
    detour_gate_leave(gate, entered);
}

/* ---- finding ---- */

prop_record *props_find(const char *text)
{
    if (!props_block)
        return nullptr;
    char shown[64];
    text_clean(shown, sizeof shown, text, strnlen(text, 15));
    bool last = strncmp(text, "last", 4) == 0;
    uint32_t id = last ? props_last_id : (uint32_t)strtoul(text, nullptr, 10);
    if (id) {
        if (!last || props_last_is_server)
            for (auto &r : props_block->table)
                if (r.state == PROP_LIVE && r.server_id && r.server_id == id)
                    return &r;
        if (!last || !props_last_is_server)
            for (auto &r : props_block->table)
                if (r.state == PROP_LIVE && r.local_id == id)
                    return &r;
    }
    props_log("[props] no prop '%s'", shown);
    return nullptr;
}

prop_record *props_find_first_word(const char *rest, char id[16])
{
    char word[16] = "";
    sscanf(rest, "%15s", word);
    if (id)
        memcpy(id, word, sizeof word);
    return props_find(word);
}

uint64_t props_model_from_slot(uint64_t object, uint32_t offset)
{
    if (!object || !probe_read(object, VEHICLE_SLOT_OBJECT_SIZE))
        return 0;
    uint64_t list = game_u64_guarded(object + offset), count = game_u64_guarded(object + offset + 8);
    if (count < 1 || count > 64 || !list || !probe_read(list, count * 8))
        return 0;
    uint64_t first = game_u64_guarded(list);
    return props_model_ok(first) ? first : 0;
}

// Prop collision: a static actor in the game's physics scene built from the
// collision file beside the prop's model (".pmc"), removed again, and the
// physics server and scene props use (the ground rays too). Game thread.
//
// Index of this file:
//   game layout   offsets of the physics calls
//   server/scene  props_physics_server, props_physics_scene (cached, checked)
//   building      props_create_collision, step by step under one guard
//   removing      props_remove_collision
#include <stdio.h>
#include <string.h>
#include "base/core.h"
#include "dm_guard.h"
#include "base/game_mem.h"
#include "props/props_internal.h"
#include "vehicles/vehicle_game.h"

namespace {

uint64_t cached_scene, cached_server;
const char *step;

/* What the guarded part of a build came to. */
enum collision_outcome {
    COLLISION_BUILT,    /* an actor with its shapes, in the scene */
    COLLISION_NO_DATA,  /* no collision file, or nothing loaded from it */
    COLLISION_NO_ACTOR, /* the physics server made no static actor */
};


bool is_scene(uint64_t p)
{
    uint64_t vt = 0;
    return p && game_read_guarded(p, &vt) && vt == game_addr(GAME_OFF_SCENE_VTABLE);
}

} // namespace

/* ---- server and scene ---- */

uint64_t props_physics_server()
{
    uint64_t ctrl = game_ctrl_guarded(), server = 0;
    if (!ctrl || !game_read_guarded(ctrl + CTRL_PHYSICS_SERVER, &server) || !server || !probe_read(server, 8))
        return 0;
    return server;
}

uint64_t props_physics_scene()
{
    uint64_t ctrl = game_ctrl_guarded();
    uint64_t server = ctrl ? game_u64_guarded(ctrl + CTRL_PHYSICS_SERVER) : 0;
    if (!server || !probe_read(server, 1024))
        return 0;
    // The cache holds while its scene still carries the scene table.
    if (server == cached_server && cached_scene && is_scene(cached_scene))
        return cached_scene;
    cached_scene = cached_server = 0;
    for (size_t off = 8; off < 1024; off += 8) {
        uint64_t p = game_u64_guarded(server + off);
        if (!p || !probe_read(p, 8))
            continue;
        if (is_scene(p)) {
            props_log("[props] physics scene %p at server+0x%zx", (void *)(uintptr_t)p, off);
            cached_scene = p;
            break;
        }
        for (int i = 0; i < 8 && !cached_scene; i++) {
            uint64_t q = 0;
            if (!game_read_guarded(p + 8ull * i, &q) || !is_scene(q))
                continue;
            props_log("[props] physics scene %p at *(server+0x%zx)[%d]", (void *)(uintptr_t)q, off, i);
            cached_scene = q;
        }
        if (cached_scene)
            break;
    }
    if (cached_scene)
        cached_server = server;
    return cached_scene;
}

/* ---- building ---- */

bool props_create_collision(prop_record *r)
{
    // 1. What the build needs: the physics server and scene, the collision
    // file's path and a readable resource manager.
    if (r->actor)
        return true;
    uint64_t server = props_physics_server(), ctrl = game_ctrl_guarded();
    uint64_t scene = ctrl ? game_u64_guarded(ctrl + CTRL_COLLISION_SCENE) : 0;
    if (!server || !scene || !probe_read(scene, 8)) {
        props_log("[props] #%u collision: no physics server/scene", r->local_id);
        return false;
    }
    char pmc[PROPS_PATH_MAX + 1];
    if (!props_collision_path(r->path, pmc)) {
        props_log("[props] #%u collision: not a .pmd path", r->local_id);
        return false;
    }
    // The load reads the manager's list: a missing or freed manager would
    // fault inside the game and switch collision off for every prop.
    uint64_t manager = game_u64_guarded(game_addr(GAME_OFF_RESOURCE_MANAGER));
    if (!manager || !probe_read(manager, RESOURCE_MANAGER_LIST + 8)) {
        props_log("[props] #%u collision: no readable resource manager", r->local_id);
        return false;
    }
    // 2. The build, step by step under one guard (a fault names its step).
    volatile collision_outcome result = COLLISION_BUILT;
    volatile bool builder = false;
    volatile uint64_t shapes_seen = 0;
    step = "load pmc";
    bool ok = dm_guarded([&] {
        const char *path = pmc;
        typedef uint64_t (*resource_load_fn)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t);
        uint64_t res = game_fn<resource_load_fn>(GAME_OFF_RESOURCE_LOAD)(
            manager + RESOURCE_MANAGER_LIST, 1, (uint64_t)(uintptr_t)&path, game_addr(GAME_OFF_COLLISION_KIND), 0, 0);
        uint64_t data = res && probe_read(res, 88) ? *(const uint64_t *)(uintptr_t)(res + RESOURCE_DATA) : 0;
        if (!data) {
            result = COLLISION_NO_DATA;
            return;
        }
        step = "new static actor";
        uint64_t actor = game_vslot<uint64_t (*)(uint64_t)>(server, SERVER_SLOT_NEW_STATIC)(server);
        if (!actor) {
            result = COLLISION_NO_ACTOR;
            return;
        }
        // Stored at once, so a later fault removes it.
        memset(r->shapes, 0, sizeof r->shapes);
        r->shapes[0] = *(const uint64_t *)(uintptr_t)(actor + 0x08);
        r->shapes[4] = *(const uint64_t *)(uintptr_t)(actor + 0x28);
        r->actor = actor;
        step = "build shapes";
        struct {
            float pos[3], zero;
            float rot[4];
            float scale;
        } local = { { 0, 0, 0 }, 0, { 1, 0, 0, 0 }, 1.0f };
        uint64_t look = r->look, variant = r->variant;
        typedef bool (*shape_build_fn)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint32_t, uint64_t);
        builder = game_fn<shape_build_fn>(GAME_OFF_SHAPE_BUILD)(data, (uint64_t)(uintptr_t)&look,
                                                                 (uint64_t)(uintptr_t)&variant, server, actor,
                                                                 (uint64_t)(uintptr_t)r->shapes, 0, (uint64_t)(uintptr_t)&local);
        step = "set placement";
        game_vslot<uint64_t (*)(uint64_t, uint64_t)>(actor, ACTOR_SLOT_SET_PLACEMENT)(
            actor, (uint64_t)(uintptr_t)&r->place);
        step = "layer";
        game_fn<uint64_t (*)(uint64_t, uint64_t)>(game_call::body_settle)(actor, 1);
        step = "to scene";
        game_fn<uint64_t (*)(uint64_t, uint64_t)>(GAME_OFF_SCENE_ADD)(actor, scene);
        shapes_seen = r->shapes[2];
        result = COLLISION_BUILT;
    });
    // 3. The outcome logged; a fault removes what was made and switches
    // collision off for every prop.
    if (!ok) {
        props_log("[props] #%u collision: fault in '%s' at %p (game VA %llx), data %p; collision disabled", r->local_id,
                  step, (void *)(uintptr_t)last_fault_address, (unsigned long long)game_va(last_fault_address),
                  (void *)(uintptr_t)last_fault_data);
        props_collision_on = 0;
        props_remove_collision(r);
        return false;
    }
    switch (result) {
    case COLLISION_BUILT: break;
    case COLLISION_NO_DATA:
        props_log("[props] #%u collision: no %s (model has no collision)", r->local_id, pmc);
        return false;
    case COLLISION_NO_ACTOR:
        props_log("[props] #%u collision: static actor not created", r->local_id);
        return false;
    }
    props_log("[props] #%u collision: %s, %llu shape(s), actor %p%s", r->local_id, pmc,
              (unsigned long long)shapes_seen, (void *)(uintptr_t)r->actor, builder ? "" : " (builder returned false)");
    return true;
}

/* ---- removing ---- */

void props_remove_collision(prop_record *r)
{
    if (!r->actor)
        return;
    uint64_t server = props_physics_server(), actor = r->actor;
    if (server) {
        uint64_t *shapes = r->shapes;
        bool ok = dm_guarded([&] {
            game_fn<uint64_t (*)(uint64_t, uint64_t)>(GAME_OFF_SHAPES_REMOVE)(server, (uint64_t)(uintptr_t)shapes);
            game_fn<uint64_t (*)(uint64_t, uint64_t)>(GAME_OFF_ACTOR_REMOVE)(server, actor);
        });
        if (!ok)
            props_log("[props] #%u: removing collision faulted", r->local_id);
    }
    r->actor = 0;
    r->shapes[2] = 0;
}

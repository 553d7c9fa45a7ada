/* The simulated game's props world: model objects from the unit factory, the
 * game's file system, the placement composition, the physics server with
 * its scene (ground rays against a height field, part boxes and prop
 * actors), static collision actors, vehicle part models in slot lists, and
 * hookups with their class chains and the controller's light lists. Built
 * on sim_game.h and sim_vehicles.h (units, image vtables, game functions).
 *
 *   world       props_world_install (after vehicle_world_install and
 *               game_player_create): everything below at the game's offsets;
 *               the local truck gets its part models, and so does every
 *               vehicle (chassis and cabin) and trailer (chassis) the
 *               factory makes afterwards; a destroyed vehicle's go with it
 *   models      model_add: what set_data (slot 33) gives for a path;
 *               models_made, model_seen, model_set_loaded
 *   files       file_add: a path the file system knows
 *   ground      ground_set: the height field the rays meet
 *   parts       part_models_add: a vehicle's chassis (and cabin) part models;
 *               a convoy vehicle's model is a model object too (sim_convoy.h)
 *   physics     actors_live, physics_fault, scene_depth
 *   lights      the vehicles' light word is the u32 at +0x2A0 (phys::lights)
 *
 * Layout choices (this simulation's own unless marked as the game's):
 * - a model object is 896 bytes (the game's), vtable 0x243E518 in the image
 *   (the game's) with slots 1 release, 5 get-class, 17 hookup update
 *   (counts), 18 draw (counts, keeps the context, the render word, the
 *   thread and the render frame, counts draws of a model whose reference
 *   count is 0 and draws while its hookup creation runs, and can be held
 *   inside, unit_draw_hold), 30 hookup creation (can be slowed), 33 set data,
 *   40 hookup preparation (records "hookup_prepare"); its reference word counts for
 *   real and a released model's pages are gone (unit_problems names one
 *   destroyed while its draw ran); the simulation keeps its record of each
 *   model beside it;
 * - set data (model, const char **path, u64 *look, u64 *variant, 0) looks
 *   the path up in the model table: a known path gets a descriptor at
 *   +0x118 and a box descriptor at +0x120 (its +0x18 the box: 0x60 bytes,
 *   min at +0x30, max at +0x3C); the loaded bit (0x100 at +0x13C) is set
 *   unless the entry says it loads later (model_set_loaded);
 * - hookup creation (model, context, 1) fills +0x320/+0x328 with the
 *   entry's lights and flares; a light is 0x240 bytes of a class whose
 *   parent is the light class 0x1E19320, a flare 0x248 bytes of a class
 *   whose parent is the flare_blink class 0x1E193C0 (both the game's); each
 *   light is listed in game_ctrl's light array (+0x3278, count +0x3280) and
 *   in its static light records (+0x32A0, count +0x32A8; 32 bytes each);
 * - the file system: the u64 at 0x273D228 points to an array of five entry
 *   pointers (count 5 at 0x273D230); entry 4 is the interface whose slot 4
 *   (interface, const char **path) -> u8 answers from the known paths;
 * - the composition at 0x139BD80 (frame, out, relative) works in f64:
 *   position = frame + R(frame) offset, rotation = frame (x) relative, the
 *   floor sector rule;
 * - world placement at 0x458A00 (model + 0x10): a part model's placement is
 *   its vehicle's get_placement (slot 29) composed with the part's offset,
 *   written at model + 0x30 and returned; any other model returns
 *   model + 0x30;
 * - part models: a slot list object of 8 bytes (one model) at +0x160 (the
 *   chassis, offset 0) and, for trucks, +0xFB8 (the cabin, 1.5 m up, 1 m
 *   ahead, box (-1.2, -1.0, -1.0)..(1.2, 1.2, 1.0)); the chassis box is
 *   (-1.25, 0, -3)..(1.25, 1.2, 3);
 * - the physics server is at game_ctrl + 0x2D90 (the game's), 1024 bytes,
 *   slot 12 new static actor; the scene (vtable 0x244F028, the game's) sits
 *   at server + 0x40 (depth 0) or as word 3 of an object at server + 0x48
 *   (depth 1); the collision scene at game_ctrl + 0x2DA0;
 * - the scene's slot 22 cast (scene, hit, u32 filter, origin, direction,
 *   f32 length on the stack, u64 0) hits the highest surface below the
 *   origin within the length: a live prop actor's box top (the box of its
 *   model, at the actor's placement, upright), a part model's box top, or
 *   the ground; the ground actor is an object of its own;
 * - static actors (0x100 bytes, slot 34 set placement) come from the
 *   server's slot 12; resource load 0x1E3C60 reads the list at its first
 *   argument (the resource manager, an object of 0x200 bytes whose pointer
 *   is at 0x36B8B78, plus 0xD8: a missing or freed manager faults there) and
 *   answers a resource (88 bytes, collision data at +0x50) for a ".pmc" path
 *   whose model entry has collision; the shape builder 0x157D810 writes 2
 *   shapes into the state; removal 0x1682710 (server, state) then 0x1682560 (server, actor)
 *   retire the actor; the layer call 0x1686250 is the vehicles' body_settle
 *   fake;
 * - physics_fault makes one of the steps jump to a faulting stub. */
#pragma once
#include <stdint.h>
#include <string>
#include <vector>
#include "sim/sim_game.h"

namespace sim {

namespace prop_off {
constexpr uint32_t model_class = 0x1E796F0, model_vtable = 0x243E518;
constexpr uint32_t files = 0x273D228, files_count = 0x273D230;
constexpr uint32_t alloc = 0x13F4830, setup_construct = 0x659400, setup_ref = 0x39C6F0, setup_bind = 0x6594E0,
                   setup_attach = 0x15E3200;
constexpr uint32_t transform_update = 0x13CDD70, world_placement = 0x458A00, compose = 0x139BD80;
constexpr uint32_t scene_vtable = 0x244F028, resource_load = 0x1E3C60, resource_manager = 0x36B8B78;
constexpr uint32_t collision_kind = 0x1E79740, shape_build = 0x157D810, scene_add = 0x16850B0;
constexpr uint32_t shapes_remove = 0x1682710, actor_remove = 0x1682560;
constexpr uint32_t flare_class = 0x1E193C0, light_class = 0x1E19320;
constexpr uint32_t hookup_context = 0x225BA20, inline_list = 0x21D2E48;
constexpr uint32_t ctrl_physics_server = 0x2D90, ctrl_collision_scene = 0x2DA0;
constexpr uint32_t ctrl_lights = 0x3278, ctrl_static_lights = 0x32A0;
constexpr uint32_t model_flags = 0x13C, model_hookups = 0x320, model_hookup_count = 0x328;
constexpr uint32_t flare_disabled = 0x240, light_always_on = 0x198;
constexpr uint32_t chassis_slots = 0x160, cabin_slots = 0xFB8;
} // namespace prop_off

struct model_entry {
    std::string path;
    bool descriptor = true;
    bool loaded = true;           /* false: loads when model_set_loaded says */
    float box_min[3] = { -0.5f, 0.0f, -0.5f }, box_max[3] = { 0.5f, 1.0f, 0.5f };
    bool box = true;
    int lights = 0, flares = 0;
    bool collision = true;        /* the ".pmc" beside it loads */
};
SIM_API void props_world_install(const player &p);
SIM_API void model_add(const model_entry &e); /* the path becomes known to the file system too */
SIM_API void file_add(const char *path);

struct model_seen {
    uint64_t draws;
    uint64_t context;
    uint32_t render_word;
    uint32_t draw_thread;
    uint64_t hookup_ticks;
    uint64_t unreferenced_draws; /* draws while its reference count was 0 */
    uint64_t creating_draws;     /* draws while its hookup creation ran */
};
SIM_API std::vector<uint8_t *> models_made(); /* from the factory, in order */
SIM_API model_seen model_draws(const uint8_t *model);
SIM_API void model_set_loaded(uint8_t *model, bool loaded);
SIM_API std::vector<uint8_t *> model_hookups(const uint8_t *model);
SIM_API bool hookup_is_flare(const uint8_t *hookup);
/* The model's draw slot faults from now on (every model). */
SIM_API void model_draw_faults(bool faults);
/* Each model draw sleeps this long (0 after install): a pass outlasts ticks. */
SIM_API void model_draw_delay(uint32_t ms);
/* Each hookup creation (slot 30) sleeps this long (0 after install); draws
 * of the model meanwhile are counted in creating_draws. */
SIM_API void model_hookups_delay(uint32_t ms);
/* Whether one of the model's last eight draws began in that render frame
 * (the frames draw_stats counted as completed when the draw began). A draw
 * is held inside the slot with unit_draw_hold (sim_vehicles.h). */
SIM_API bool model_drawn_in_frame(const uint8_t *model, uint64_t frame);

enum class ground_kind { flat, slope, step, hole };
/* flat: height h everywhere; slope: h + k * x (world x); step: h for
 * world x < 0, h + k beyond; hole: nothing within |x|, |z| < k of the
 * origin, h elsewhere. */
SIM_API void ground_set(ground_kind kind, float h, float k = 0.0f);
SIM_API uint64_t ground_actor();
struct ray_cast {
    uint32_t filter;
    double x, y, z; /* world origin */
    float length;
};
SIM_API std::vector<ray_cast> rays();

/* A vehicle's part models (the chassis; the cabin too when cabin). */
SIM_API void part_models_add(uint8_t *vehicle, bool cabin);
SIM_API uint8_t *part_model(const uint8_t *vehicle, bool cabin);
SIM_API void part_models_remove(uint8_t *vehicle); /* the lists emptied: the part is gone */

/* Actors made by the server and not removed. */
SIM_API std::vector<uint8_t *> actors_live();
SIM_API size_t actors_made();
enum class physics_step { cast, resource, new_actor, build, set_placement, add, remove_shapes, remove_actor, hookups };
SIM_API void physics_fault(physics_step step);
SIM_API void shape_builder_result(bool result);
SIM_API void scene_depth(int depth); /* 0: at server + 0x40, 1: one level down */
SIM_API uint8_t *physics_scene();

/* dm_sim.dll inside: a model object as the game makes one for a vehicle (the
 * part models above, a convoy vehicle's model, sim_convoy.h): 896 bytes, the
 * model table, one reference, loaded, with a cabin's or a chassis's box. */
uint8_t *vehicle_model_new(bool cabin);

} // namespace sim

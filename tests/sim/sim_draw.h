/* The simulated game's draw and shadow routines: real code in the image at
 * the build's offsets, with the game's own prologues and unwind data, that
 * calls C++ fakes counting the calls; the render thread runs both routines
 * every frame (sim_render_thread.cpp). Also what the shadow path reads (the
 * light test function and the light and context objects), the render object
 * at game_ctrl + off::ctrl_camera_manager, and objects to draw (a vehicle or
 * trailer whose draw and shadow virtuals are fakes). Built on sim_game.h.
 *
 *   routines      draw_install (after game_reset and game_player_create):
 *                 writes both routines, makes their pages execute-read as
 *                 the game's code is, and builds the objects below;
 *                 draw_uninstall: the render thread stops calling them
 *   frames        draw_frame (one draw and one shadow call on the calling
 *                 thread); draw_thread_start: the render thread draws frame
 *                 after frame (without a picture when none is open; with
 *                 render_open's render thread, also before each Present),
 *                 a frame a millisecond or, at full speed, one after the
 *                 other; draw_raise_once: the game's draw raises and its
 *                 own handler around the call takes it
 *   counts        draw_stats: calls that reached each routine's body
 *   objects       draw_object_new: virtual slot 96 (draw) and 43 (shadow)
 *                 count and record, or fault
 *
 * Layout choices (this simulation's own):
 * - the draw routine (a1, context, a3, a4): the 14 prologue bytes load the
 *   u64 at context + 0x18 into RAX; the body passes a1..a4 and that word to
 *   the fake and returns the fake's result (draw_result);
 * - the shadow routine (context, a2, light, a4): the 15 prologue bytes keep
 *   a1 in RBP and a3 in R14; the body passes RBP, RDX, R14, R9 to the fake;
 * - unwind data for both routines is in the executable's exception table
 *   (game_image.S), so a stack walk from the fakes reaches the caller;
 * - the render thread calls draw (0xA1, draw context, 0xA3, 0xA4) and shadow
 *   (shadow context, 0xB2, light, 0xB4), each under a handler of the game's
 *   own that takes any exception the call raises (counted in draw_stats)
 *   and goes on with the frame;
 * - draw_raise_once makes the next draw's body raise draw_exception_code
 *   (0xE047444D) from inside the routine, after the fake counted it, so the
 *   unwind passes whatever called the routine's body;
 * - the render object is the camera manager at game_ctrl + 0x960 (one
 *   object serves both roles): its i32 at +0x10 is the active camera index,
 *   the word the draw path sets to 1 around its draws; draw_install takes
 *   the manager standing there and makes one of 0x80 bytes only when none
 *   does (a camera set up later keeps that object); the fakes read the word
 *   through game_ctrl each time;
 * - a drawn object: 0x200 bytes, its vtable (97 slots) at +0; the fakes keep
 *   their records in the object at +0x100 (struct object_draws). */
#pragma once
#include <stdint.h>
#include "sim/sim_game.h"

namespace sim {

namespace off {
constexpr uint32_t draw_routine = 0x799CC0;
constexpr uint32_t shadow_routine = 0x484630;
constexpr uint32_t light_test = 0x1CD100;   /* i32 (light table, light) */
constexpr uint32_t light_table = 0x2D5ABB0; /* the first argument of light_test */
} // namespace off

constexpr uint32_t draw_routine_size = 46, shadow_routine_size = 42;
constexpr uint64_t draw_result = 0xD7A3D7A3D7A3ULL;
constexpr uint32_t draw_context_word = 0x18;
/* shadow context */
constexpr uint32_t shadow_w = 0x9A8, shadow_k_object = 0x998, shadow_f_object = 0x70;
constexpr uint32_t k_value = 0x45E8, f_value = 0x154;
/* light: +0 the light kind (its u64 flags at +0x18), +0x08 bit 0 */
constexpr uint32_t light_bits = 0x08, light_kind_flags = 0x18;
constexpr uint32_t render_word = 0x10;

struct draw_world {
    uint8_t *draw_context;   /* a2 of the draw routine */
    uint8_t *shadow_context; /* a1 of the shadow routine */
    uint8_t *k_object, *f_object;
    uint8_t *light, *light_kind; /* a3 of the shadow routine */
    uint8_t *render;         /* the object at game_ctrl + 0x960 */
};
SIM_API draw_world draw_install();
SIM_API void draw_uninstall();
/* The light test's answer (i32; 1 after draw_install). */
SIM_API void draw_light_casts(int32_t value);
/* Each call of the draw routine's fake sleeps this long (0 after install). */
SIM_API void draw_delay_ms(uint32_t ms);
constexpr uint32_t draw_exception_code = 0xE047444D;
SIM_API void draw_raise_once();

struct draw_counts {
    uint64_t draws, shadows;  /* calls that reached the routines' bodies */
    uint64_t frames;          /* frames the render thread (or draw_frame) completed */
    uint64_t draw_args[5];    /* the last draw: a1..a4 and the word RAX held */
    uint64_t shadow_args[4];  /* the last shadow: a1..a4 as the body saw them */
    uint64_t last_result;     /* what the last draw call returned to its caller */
    uint64_t light_tests;     /* calls of the light test */
    uint64_t light_test_args[2];
    uint64_t draw_caller;     /* a stack walk from the draw fake: the first return
                                 address past the routine's body (0: none found) */
    uint64_t unwinds;         /* calls the game's own handler took an exception from */
};
SIM_API draw_counts draw_stats();

SIM_API void draw_frame();
SIM_API void draw_thread_start(bool full_speed = false);
SIM_API void draw_thread_stop();
/* Waits until the render thread completed n more frames; false after timeout_ms. */
SIM_API bool draw_wait_frames(uint64_t n, int timeout_ms = 5000);

/* What a drawn object's fakes saw. */
struct object_draws {
    uint64_t draws, shadows;
    uint64_t draw_context;  /* a2 of the last draw */
    uint32_t render_seen;   /* the render word during the last draw */
    uint32_t pad;
    uint64_t shadow_a2, shadow_light_word;
    float strength;         /* of the last shadow */
};
SIM_API uint8_t *draw_object_new(bool draw_faults = false, bool shadow_faults = false);
SIM_API object_draws draw_object_seen(const uint8_t *object);

} // namespace sim

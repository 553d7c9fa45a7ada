// The simulated game's draw and shadow routines (see sim_draw.h).
//
// Index of this file:
//   the fakes          what the routines' bodies call, the light test
//   the routines       their bytes, instruction by instruction
//   drawn objects      virtual slots 96 and 43
//   install            draw_install, draw_uninstall
//   frames             draw_frame, the render thread's loop
#include "sim/sim_draw.h"
#include "sim/sim_render_internal.h"
#include <windows.h>
#include "dm_seh.h"

namespace sim {
namespace {

draw_world world;
volatile LONG installed;
volatile LONG free_running, full_speed_on;
volatile LONG raise_next;
bool thread_is_ours;
volatile int32_t light_answer = 1;
volatile uint32_t delay_ms;
SRWLOCK stats_lock = SRWLOCK_INIT;
draw_counts stats;

/* ---- the fakes ---- */

uint64_t draw_fake(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4, uint64_t loaded)
{
    void *frames[8] = {};
    USHORT n = RtlCaptureStackBackTrace(0, 8, frames, nullptr);
    uint64_t caller = 0;
    uint8_t *body = game_at(off::draw_routine);
    for (USHORT i = 0; i + 1 < n; i++)
        if ((uint8_t *)frames[i] >= body && (uint8_t *)frames[i] < body + draw_routine_size) {
            caller = (uint64_t)(uintptr_t)frames[i + 1];
            break;
        }
    if (delay_ms)
        Sleep(delay_ms);
    AcquireSRWLockExclusive(&stats_lock);
    stats.draws++;
    uint64_t args[5] = { a1, a2, a3, a4, loaded };
    memcpy(stats.draw_args, args, sizeof args);
    stats.draw_caller = caller;
    ReleaseSRWLockExclusive(&stats_lock);
    if (InterlockedExchange(&raise_next, 0))
        RaiseException(draw_exception_code, 0, 0, nullptr);
    return draw_result;
}

uint64_t shadow_fake(uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    AcquireSRWLockExclusive(&stats_lock);
    stats.shadows++;
    uint64_t args[4] = { a1, a2, a3, a4 };
    memcpy(stats.shadow_args, args, sizeof args);
    ReleaseSRWLockExclusive(&stats_lock);
    return 0;
}

uint64_t light_test_fake(uint64_t table, uint64_t light, uint64_t, uint64_t)
{
    AcquireSRWLockExclusive(&stats_lock);
    stats.light_tests++;
    stats.light_test_args[0] = table;
    stats.light_test_args[1] = light;
    ReleaseSRWLockExclusive(&stats_lock);
    return (uint64_t)(int64_t)light_answer; // an i32 in EAX
}

/* ---- the routines ---- */

void put_u64(uint8_t *at, uint64_t v) { memcpy(at, &v, 8); }

/* The draw routine; its unwind data (game_image.S) describes the first 18
 * bytes as its prologue. */
void write_draw_routine()
{
    uint8_t code[draw_routine_size] = {
        0x48, 0x89, 0x74, 0x24, 0x20,       // mov [rsp+0x20], rsi
        0x57,                               // push rdi
        0x48, 0x83, 0xEC, 0x20,             // sub rsp, 0x20
        0x48, 0x8B, 0x42, 0x18,             // mov rax, [rdx+0x18]   (14 bytes: the hooked prologue)
        0x48, 0x83, 0xEC, 0x30,             // sub rsp, 0x30
        0x48, 0x89, 0x44, 0x24, 0x20,       // mov [rsp+0x20], rax   (the fake's fifth argument)
        0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, // mov rax, draw_fake
        0xFF, 0xD0,                         // call rax
        0x48, 0x8B, 0x74, 0x24, 0x78,       // mov rsi, [rsp+0x78]
        0x48, 0x83, 0xC4, 0x50,             // add rsp, 0x50
        0x5F,                               // pop rdi
        0xC3,                               // ret
    };
    put_u64(code + 25, (uint64_t)(uintptr_t)&draw_fake);
    game_write(off::draw_routine, code, sizeof code);
}

/* The shadow routine; its prologue (for unwinding) ends after sub rsp. */
void write_shadow_routine()
{
    uint8_t code[shadow_routine_size] = {
        0x40, 0x55,                         // push rbp
        0x56,                               // push rsi
        0x41, 0x56,                         // push r14
        0x48, 0x83, 0xEC, 0x30,             // sub rsp, 0x30
        0x48, 0x8B, 0xE9,                   // mov rbp, rcx
        0x4D, 0x8B, 0xF0,                   // mov r14, r8           (15 bytes: the hooked prologue)
        0x48, 0x89, 0xE9,                   // mov rcx, rbp
        0x4D, 0x89, 0xF0,                   // mov r8, r14
        0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, // mov rax, shadow_fake
        0xFF, 0xD0,                         // call rax
        0x48, 0x83, 0xC4, 0x30,             // add rsp, 0x30
        0x41, 0x5E,                         // pop r14
        0x5E,                               // pop rsi
        0x5D,                               // pop rbp
        0xC3,                               // ret
    };
    put_u64(code + 23, (uint64_t)(uintptr_t)&shadow_fake);
    game_write(off::shadow_routine, code, sizeof code);
}

/* ---- drawn objects ---- */

const uint32_t object_size = 0x200, object_records = 0x100;
const int object_slots = 97, slot_draw = 96, slot_shadow = 43;

object_draws *records(uint64_t object) { return (object_draws *)(uintptr_t)(object + object_records); }

uint32_t render_word_now()
{
    uint8_t *ctrl = (uint8_t *)(uintptr_t)game_get<uint64_t>(off::game_ctrl);
    uint8_t *render = ctrl ? get<uint8_t *>(ctrl, off::ctrl_camera_manager) : nullptr;
    return render ? get<uint32_t>(render, render_word) : 0xFFFFFFFFu;
}

void object_draw(uint64_t object, uint64_t context, uint64_t, uint64_t)
{
    object_draws *r = records(object);
    r->draws++;
    r->draw_context = context;
    r->render_seen = render_word_now();
}

void object_draw_faulting(uint64_t object, uint64_t context, uint64_t a3, uint64_t a4)
{
    object_draw(object, context, a3, a4);
    volatile uintptr_t bad = fault_data_address;
    *(volatile uint64_t *)bad;
}

void object_shadow(uint64_t object, uint64_t a2, uint64_t light_word, float strength)
{
    object_draws *r = records(object);
    r->shadows++;
    r->shadow_a2 = a2;
    r->shadow_light_word = light_word;
    r->strength = strength;
}

void object_shadow_faulting(uint64_t object, uint64_t a2, uint64_t light_word, float strength)
{
    object_shadow(object, a2, light_word, strength);
    volatile uintptr_t bad = fault_data_address;
    *(volatile uint64_t *)bad;
}

} // namespace

uint8_t *draw_object_new(bool draw_faults, bool shadow_faults)
{
    void **vt = (void **)object_new(object_slots * 8);
    vt[slot_draw] = draw_faults ? (void *)object_draw_faulting : (void *)object_draw;
    vt[slot_shadow] = shadow_faults ? (void *)object_shadow_faulting : (void *)object_shadow;
    return object_new(object_size, vt);
}

object_draws draw_object_seen(const uint8_t *object) { return *records((uint64_t)(uintptr_t)object); }

/* ---- install ---- */

draw_world draw_install()
{
    InterlockedExchange(&installed, 0);
    write_draw_routine();
    write_shadow_routine();
    game_function(off::light_test, (void *)light_test_fake);
    light_answer = 1;
    delay_ms = 0;
    AcquireSRWLockExclusive(&stats_lock);
    stats = {};
    ReleaseSRWLockExclusive(&stats_lock);
    // The game's code pages are execute-read: a hook must change that itself.
    game_protect(game_at(off::draw_routine), draw_routine_size, PAGE_EXECUTE_READ);
    game_protect(game_at(off::shadow_routine), shadow_routine_size, PAGE_EXECUTE_READ);
    FlushInstructionCache(GetCurrentProcess(), game_base(), 0x3700000);

    world = {};
    world.draw_context = object_new(0x40);
    put<uint64_t>(world.draw_context, draw_context_word, 0xC0DE0018C0DE0018ULL);
    world.k_object = object_new(0x4600);
    world.f_object = object_new(0x160);
    world.shadow_context = object_new(0x9B0);
    put<uint64_t>(world.shadow_context, shadow_k_object, (uint64_t)(uintptr_t)world.k_object);
    put<uint64_t>(world.shadow_context, shadow_f_object, (uint64_t)(uintptr_t)world.f_object);
    world.light_kind = object_new(0x20);
    world.light = object_new(0x20);
    put<uint64_t>(world.light, 0, (uint64_t)(uintptr_t)world.light_kind);
    uint8_t *ctrl = (uint8_t *)(uintptr_t)game_get<uint64_t>(off::game_ctrl);
    if (ctrl) {
        world.render = get<uint8_t *>(ctrl, off::ctrl_camera_manager);
        if (!world.render) {
            world.render = object_new(0x80);
            put<uint64_t>(ctrl, off::ctrl_camera_manager, (uint64_t)(uintptr_t)world.render);
        }
    }
    InterlockedExchange(&installed, 1);
    return world;
}

void draw_uninstall() { InterlockedExchange(&installed, 0); }
void draw_light_casts(int32_t value) { light_answer = value; }
void draw_delay_ms(uint32_t ms) { delay_ms = ms; }
void draw_raise_once() { InterlockedExchange(&raise_next, 1); }

draw_counts draw_stats()
{
    AcquireSRWLockShared(&stats_lock);
    draw_counts c = stats;
    ReleaseSRWLockShared(&stats_lock);
    return c;
}

/* ---- frames ---- */

namespace {

typedef uint64_t (*routine)(uint64_t, uint64_t, uint64_t, uint64_t);

struct routine_call {
    routine fn;
    uint64_t a[4];
    uint64_t result;
};

void call_body(void *p)
{
    routine_call *c = (routine_call *)p;
    c->result = c->fn(c->a[0], c->a[1], c->a[2], c->a[3]);
}

/* The game's own handler around each routine it calls from its frame. */
uint64_t call_handled(routine fn, uint64_t a1, uint64_t a2, uint64_t a3, uint64_t a4)
{
    routine_call c = { fn, { a1, a2, a3, a4 }, 0 };
    if (dm_seh_call(call_body, &c, nullptr, nullptr))
        return c.result;
    AcquireSRWLockExclusive(&stats_lock);
    stats.unwinds++;
    ReleaseSRWLockExclusive(&stats_lock);
    return 0;
}

} // namespace

void draw_frame()
{
    if (!installed)
        return;
    uint64_t r = call_handled((routine)game_at(off::draw_routine), 0xA1, (uint64_t)(uintptr_t)world.draw_context, 0xA3,
                              0xA4);
    call_handled((routine)game_at(off::shadow_routine), (uint64_t)(uintptr_t)world.shadow_context, 0xB2,
                 (uint64_t)(uintptr_t)world.light, 0xB4);
    AcquireSRWLockExclusive(&stats_lock);
    stats.last_result = r;
    stats.frames++;
    ReleaseSRWLockExclusive(&stats_lock);
}

bool draw_free_running() { return free_running != 0; }
bool draw_full_speed() { return full_speed_on != 0; }

void draw_thread_start(bool full_speed)
{
    InterlockedExchange(&full_speed_on, full_speed ? 1 : 0);
    InterlockedExchange(&free_running, 1);
    if (!render_thread_running()) {
        render_thread_start();
        thread_is_ours = true;
    }
}

void draw_thread_stop()
{
    InterlockedExchange(&free_running, 0);
    if (thread_is_ours) {
        render_thread_stop();
        thread_is_ours = false;
    }
}

bool draw_wait_frames(uint64_t n, int timeout_ms)
{
    uint64_t until = draw_stats().frames + n;
    DWORD start = GetTickCount();
    while (draw_stats().frames < until) {
        if ((int)(GetTickCount() - start) > timeout_ms)
            return false;
        Sleep(1);
    }
    return true;
}

} // namespace sim

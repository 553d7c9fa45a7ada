/* The game-memory access layer: the build check, page probes, guarded reads,
 * the last caught game fault, class checks, references on game objects, the
 * unit factory and the local truck. Game thread only. Offsets are those of
 * game build 1.61.3.1, from game_base. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include "base/placement.h"

struct _EXCEPTION_POINTERS;

#define GAME_PREFERRED_BASE 0x140000000ULL

#define GAME_OFF_BUILD_HASH 0x2256940u      /* 12 bytes of build hash text */
#define GAME_OFF_CTRL 0x36B8D70u            /* u64 game_ctrl, null without a profile */
#define GAME_OFF_FACTORY_INDEX 0x273C848u   /* u32 index of the unit factory, 4 = none */
#define GAME_OFF_FACTORY_TABLE 0x3688EB8u   /* u64 factory pointers by index */
#define GAME_OFF_TRAILER_ACTOR_VTABLE 0x2288758u
#define GAME_OFF_TRAILER_ACTOR_CLASS 0x1E18250u
#define GAME_OFF_DESTROY 0xFD290u           /* destroys an object whose count reached 0 */
/* The game's getter of a setting object, (setting, arg) -> its value; the
 * shadow path calls it its light test, (light table, light) -> i32. */
#define GAME_OFF_SETTING_GETTER 0x1CD100u
#define GAME_CTRL_PLAYER_BLOCK 0x31B0u      /* game_ctrl + this: u64 player block */
#define GAME_PLAYER_LOCAL_TRUCK 0x18u       /* player block + this: u64 local truck */
#define GAME_PLAYER_TRAILER 0xC8u           /* player block + this: u64 the player's trailer actor */
/* game_ctrl + this: u64 the camera manager, which the draw path calls its
 * render object; its u32 render word is set to 1 around the core's draws. */
#define GAME_CTRL_CAMERA_MANAGER 0x960u
#define GAME_CAMERA_RENDER_WORD 0x10u       /* camera manager + this: u32 */
#define GAME_BUILD_HASH "da49adfbbbdb"
#define GAME_TRAILER_ACTOR_SIZE 4792u
#define GAME_REF_WORD 0x08u                 /* object + this: u32 reference word */
#define GAME_REF_COUNT_MASK 0x1FFFFFFu      /* its count; GAME_REF_CORE_FLAG marks the core's */
#define GAME_REF_CORE_FLAG 0x20000000u
#define GAME_FACTORY_COUNT 4u

/* An address as a pointer: for %p in log lines and for memcpy into game memory. */
inline void *game_ptr(uint64_t address) { return (void *)(uintptr_t)address; }
/* game VA: an address as it would be at the game's preferred base. */
uint64_t game_va(uint64_t address);
/* The real address of a game VA. */
uint64_t game_from_va(uint64_t va);
/* game_base + offset. */
uint64_t game_addr(uint32_t offset);

/* Calling game code and reaching its fields, one way each: a routine at an
 * offset from game_base, a virtual slot by its index in the object's table,
 * a field of a type at an offset. Nothing is checked: a caller that may meet
 * a bad object calls them inside the guard (dm_guard.h). */
template <typename F> F game_fn(uint32_t offset) { return (F)(uintptr_t)game_addr(offset); }
/* The address of a table's entry for a slot, for a guarded read of it. */
inline uint64_t game_vslot_entry(uint64_t vtable, uint32_t index) { return vtable + 8ull * index; }
template <typename F> F game_vslot(uint64_t object, uint32_t index)
{
    uint64_t vtable = *(const volatile uint64_t *)(uintptr_t)object;
    return (F)(uintptr_t)(*(const volatile uint64_t *)(uintptr_t)game_vslot_entry(vtable, index));
}
template <typename T> T &game_field(uint64_t object, uint32_t offset) { return *(T *)(uintptr_t)(object + offset); }

/* The camera manager's render word, set to 1 around the core's own draws:
 * game_render_word_set (inside the draw's guard) saves it and sets it, a
 * null manager sets nothing; game_render_word_restore puts the saved value
 * back under a guard of its own, on every path a fault's included, and is
 * false when that write faulted. */
struct game_render_word {
    volatile uint64_t manager; /* 0 until set */
    volatile uint32_t saved;
};
void game_render_word_set(game_render_word *w, uint64_t manager);
bool game_render_word_restore(game_render_word *w);

/* -1 not yet known, 0 another build, 1 the supported build. */
extern int game_build_state;
bool game_build_ok();
void game_build_report();

/* True when every byte of [address, address + size) lies in committed pages
 * that are readable and neither PAGE_NOACCESS nor PAGE_GUARD. Touches nothing. */
bool probe_read(uint64_t address, size_t size);

/* Copies under a structured-exception guard; a fault returns false and leaves
 * out unwritten. No probe is made first, so a guard page is touched: the
 * probed family below is the one for game memory. */
bool safe_read_u8(uint64_t address, uint8_t *out);
bool safe_read_u64(uint64_t address, uint64_t *out);

/* The probed and guarded read family, for every read of game memory: the
 * bytes are probed first (so a guard page is never touched), then copied
 * under the guard (so a page that changes in between cannot crash the game).
 * game_copy_guarded: false when the bytes are not all readable (out
 * untouched) or the copy faults (out partly written). */
bool game_copy_guarded(void *out, uint64_t address, size_t size);
template <typename T> bool game_read_guarded(uint64_t address, T *out)
{
    T value;
    if (!game_copy_guarded(&value, address, sizeof value))
        return false;
    *out = value;
    return true;
}
/* The same read as a value: 0 when unreadable. */
template <typename T> T game_read_guarded_or_zero(uint64_t address)
{
    T value = 0;
    game_read_guarded(address, &value);
    return value;
}
/* The two words the vehicle code reads most, the same way. */
inline uint64_t game_u64_guarded(uint64_t address) { return game_read_guarded_or_zero<uint64_t>(address); }
inline uint32_t game_u32_guarded(uint64_t address) { return game_read_guarded_or_zero<uint32_t>(address); }
/* A game pointer probed when it is taken, not on every read: the first time
 * a value is seen, and again each time it changes, its first size bytes are
 * probed (and probed again each call while they were unreadable); once
 * readable and while it stays the same, the caller reads through it with
 * plain loads inside its one guard, whose fault path covers memory that
 * goes away under a pointer it still holds. */
struct game_taken {
    uint64_t pointer; /* the value last taken, 0 none */
    uint8_t readable; /* the probe's verdict on it */
};
/* The pointer when its bytes were readable when it was taken, else 0. */
uint64_t game_take(game_taken *taken, uint64_t pointer, size_t size);
/* Copies under the guard without a probe, for memory probed when its
 * pointer was taken; false when the copy faults (out partly written). */
bool game_copy_unprobed(void *out, uint64_t address, size_t size);
/* A global of the game's image (always mapped while the game runs), read
 * under the guard without a probe; 0 when it faults. */
template <typename T> T game_image_value(uint32_t offset)
{
    T value = 0;
    if (!game_copy_unprobed(&value, game_addr(offset), sizeof value))
        return 0;
    return value;
}
/* The NUL-terminated text at the address, cut to size - 1 bytes and at the
 * first byte that cannot be read; false when not even the first byte can. */
bool game_read_guarded_text(uint64_t address, char *out, size_t size);

/* The last caught game fault. */
extern uint32_t last_fault_code;
extern uint64_t last_fault_address;
extern uint64_t last_fault_data;
/* Records the fault in last_fault and runs the handler. */
long fault_record_filter(struct _EXCEPTION_POINTERS *pointers, void *ctx);

/* The class's name copied into out (cut to fit, and at an unreadable byte),
 * "?" when a hop is null or unreadable; returns out. */
const char *game_class_name(uint64_t class_object, char *out, size_t size);
/* The object's class through its get-class virtual (slot 5), its table read
 * guarded and the call made under the guard (a fault fills last_fault); 0
 * when unreadable or faulted. */
#define GAME_VSLOT_GET_CLASS 5
#define GAME_VSLOT_RELEASE 1      /* the slot game_release calls before it drops the count */
#define GAME_CLASS_PARENT 0x18u   /* class + this: u64 parent class */
#define GAME_CLASS_CHAIN_MAX 16   /* classes looked at: the class and 15 parents */
uint64_t game_object_class(uint64_t object);
/* True when the class or one of its parents (read guarded) is target; at
 * most GAME_CLASS_CHAIN_MAX classes are looked at. */
bool game_class_reaches(uint64_t class_object, uint64_t target);
bool game_is_trailer_actor(uint64_t object);

/* The first reference the core takes on an object it made: flag, then +1. */
void game_take_ref(uint64_t object);
/* One more reference without the flag: +1. */
void game_add_ref(uint64_t object);
/* Virtual slot 1, then -1 on the reference word; count 0 goes to the game's
 * destroy function. */
void game_release(uint64_t object);

/* A new unit of the class whose record is at the given game VA, or 0. */
uint64_t game_create_unit(uint64_t class_record_va);

/* game_ctrl, a global of the image read under the guard: 0 while no
 * profile is loaded or when unreadable. */
uint64_t game_ctrl_guarded();

/* A vehicle's or trailer's get_placement (virtual slot 29), its table read
 * guarded and the call made under the guard (a fault fills
 * last_fault). out is written only on GAME_PLACEMENT_OK. Logs nothing. */
#define GAME_VSLOT_GET_PLACEMENT 29
enum { GAME_PLACEMENT_OK = 1, GAME_PLACEMENT_FALSE = 0, GAME_PLACEMENT_UNREADABLE = -1, GAME_PLACEMENT_FAULTED = -2 };
int game_object_placement(uint64_t object, placement *out);

/* game_ctrl -> player block (-> local truck), each object probed when it
 * is taken and read under the guard; 0 at a null or unreadable link. */
uint64_t game_player_block_guarded();
uint64_t game_local_truck();
bool local_truck_placement(placement *out);
void log_placement(const char *label, const placement *p);

/* Vehicle definitions: the game's definition object of a truck or trailer
 * (its plate text and its array of accessory units), cloned after an exact
 * class check or built from a look list (look_list.h), reusing the local
 * vehicle's accessories where they match and creating the others through
 * the game's unit factory. Game thread only. Offsets are those of game build
 * 1.61.3.1.
 *
 * A definition's fields (from the definition):
 *   +0x00  virtual table (slot 2 clones it, slot 5 gets its class)
 *   +0x08  reference word (low 25 bits the count)
 *   +0x10  the accessory array object, embedded: its virtual table at +0x10,
 *          its element data (u64 pointers) at +0x18, its count (u64) at
 *          +0x20. The clone report, defdump and the list publishing read
 *          +0x18/+0x20; building grows, empties and fills the same object.
 *          One array per definition: had building filled another object
 *          (say one at +0x38), a built definition would report, dump and
 *          load with accessories other than the ones built.
 *   +0x70  the plate string object (slot 2 reserves n characters,
 *          +0x78 the character buffer, +0x80 the length, u64)
 *   +0x1A0 (trailer definitions) the trailer_def entry
 * A game array object: +0 virtual table (slot 3 grows it to hold n
 * elements), +8 element data, +0x10 count; read as 32 bytes. */
#pragma once
#include <stdint.h>
#include "vehicles/look_list.h"
#include "vehicles/vehicle_game.h" /* the DEF_ offsets */

#define DEF_PLATE_TEXT "DROVEMARK|california"

/* One game definition class; addresses are game VAs. */
typedef struct class_descriptor {
    const char *name;
    uint64_t class_va;
    uint64_t vtable_va;
    uint64_t clone_va; /* the virtual table's slot 2 */
    uint32_t readable_size;
} class_descriptor;
extern const class_descriptor def_class_vehicle;
extern const class_descriptor def_class_trailer;

enum { LOOK_BUILD_TRUCK = 0, LOOK_BUILD_TRAILER = 1 };

/* Set by the spawned vehicle when a look-built definition faulted while
 * loading: look lists are then refused for the rest of this core's life. */
extern uint8_t look_building_off;

/* A new definition cloned from source with one reference of ours, the plate
 * set; 0 (and one log line) when refused or failed. */
uint64_t def_clone(uint64_t source, const class_descriptor *descriptor);
/* The definition's clone virtual (slot 2) under the guard; *fault := 1
 * when a fault was caught (last_fault holds it), else 0. */
uint64_t def_clone_guarded(uint64_t definition, uint8_t *fault);
/* Reserves 21 characters in the plate string and writes DEF_PLATE_TEXT. */
void def_set_plate(uint64_t definition);

/* A new truck (LOOK_BUILD_TRUCK) or trailer definition from a look list of
 * count entries, with one reference of ours; 0 on any refusal or failure,
 * which releases what was made (a fault is caught and leaks it). */
uint64_t look_build_def(const char *list, int32_t count, int kind);
/* The accessory for one parsed entry, with one reference: a clone of the
 * first unused element of reuse_array (may be 0) with the same path (*ours
 * := 1), or a new one of the class its data asks for. used: LOOK_LIST_MAX
 * flags, one per element of reuse_array. */
uint64_t look_resolve_entry(const look_entry *entry, uint64_t reuse_array, uint8_t *used, uint8_t *ours);
/* A new accessory of the class record (game VA) with the expected virtual
 * table (game VA), one reference (+1) and its data path set; 0 otherwise. */
uint64_t look_create_accessory(uint64_t class_record_va, uint64_t vtable_va, const char *path);
/* Grows the game array by one, takes a reference on object (flag, +1),
 * stores it at the end and raises the count. No checks. */
void game_array_push_ref(uint64_t array, uint64_t object);

/* ---- wheel offsets (look_wheels.cpp, pure) ----
 * Wheels without ";o=" are numbered per wheel model in list order: the
 * first of a model gets 0, the next 2, then 4 ... Models are told apart by
 * a u64 key; a 17th model finds no room and gets 0. */
#define LOOK_WHEEL_MODELS 16
typedef struct look_wheel_table {
    uint64_t key[LOOK_WHEEL_MODELS];
    uint32_t next[LOOK_WHEEL_MODELS];
    int count;
} look_wheel_table;
/* The offset for the next wheel of that model (and the model's next offset
 * grows by 2). */
uint16_t look_wheel_offset(look_wheel_table *table, uint64_t key);

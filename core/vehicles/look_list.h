/* The look list: how a truck or trailer looks, one text entry per accessory
 * of its game definition, in the order of the definition's accessory array.
 *
 * A list is `count` NUL-terminated entries stored back to back (the next one
 * begins after the previous one's NUL) and travels with its count. An entry
 * is the accessory's data path (the text up to the first ";") followed by
 * fields, each ";" + one letter + "=" + value:
 *
 *   ;o=  wheel   "%u" of the u16 wheel offset
 *   ;p=  paint   36 hex digits: 18 bytes "%02x", one per paint float
 *   ;k=  cargo   the cargo's name (no ";"), then in this order:
 *   ;s=  "%llx" seed   ;m= "%u,%u,%u" load, lash, gear   ;h= "%g,%g,%g" hook
 *   ;u=  "%g" units    ;n= "%u" models                   ;d= "%g,%g,%g" dims
 *
 * The parser and the text writer are pure (no windows.h); the writer of a
 * game accessory, look_format_accessory, reads the game and lives in the
 * DLL only (look_format.cpp). */
#pragma once
#include <stddef.h>
#include <stdint.h>

#define LOOK_LIST_MAX 128     /* entries in one list */
#define LOOK_ENTRY_SIZE 224   /* buffer of one entry: at most 223 characters */
#define LOOK_PAINT_COUNT 18   /* paint floats */
#define LOOK_CARGO_NAME_SIZE 96 /* a cargo name has 1 to 95 characters */

/* One parsed entry. Absent fields keep their defaults: wheel offset -1 (the
 * definition builder numbers the wheels), no paint, no cargo, seed 0,
 * load/lash/gear 0, hook 0, units 1.0, models 1, dims 0. */
typedef struct look_entry {
    char path[LOOK_ENTRY_SIZE];
    int32_t wheel_offset;
    uint32_t has_paint;
    float paint[LOOK_PAINT_COUNT];
    uint8_t has_cargo;
    char cargo_name[LOOK_CARGO_NAME_SIZE];
    uint64_t cargo_seed;
    uint32_t cargo_load, cargo_lash, cargo_gear;
    uint32_t cargo_models;
    float cargo_hook[3];
    float cargo_units;
    float cargo_dims[3];
} look_entry;

/* Fills out from one entry's text. False only when the path is empty or 224
 * characters or longer (or the text is null). A field with a bad value never
 * fails the entry:
 * - ";o=" is read in base 10 and kept only within 0..65535 (it becomes a u16);
 * - ";p=" needs 36 hex digits right after it, else no paint;
 * - ";k=" needs 1 to 95 characters before the next ";" or the end;
 * - the numbers of ";s=", ";m=", ";h=", ";u=", ";n=", ";d=" are what their
 *   conversion gives: 0 for no number, or the values read before a bad one
 *   (the rest of that field 0); a u32 beyond its range is 0xFFFFFFFF.
 * Fields may come in any order and repeat: the last one read wins. */
bool look_parse_entry(const char *text, look_entry *out);

/* ---- writing ---- */

/* An accessory's kind, told by its virtual table. */
typedef enum look_kind { LOOK_KIND_OTHER = 0, LOOK_KIND_WHEEL, LOOK_KIND_PAINT, LOOK_KIND_CARGO } look_kind;

/* The values of one accessory, already read from the game. */
typedef struct look_accessory {
    const char *path; /* null: an empty text */
    look_kind kind;
    uint16_t wheel_offset;
    float paint[LOOK_PAINT_COUNT];
    const char *cargo_name; /* null or empty: no cargo */
    uint64_t cargo_seed;
    uint32_t cargo_load, cargo_lash, cargo_gear;
    float cargo_hook[3];
    float cargo_units;
    uint32_t cargo_models;
    float cargo_dims[3];
} look_accessory;

/* Writes one entry into out (size bytes, always NUL-terminated, cut at the
 * size). The path first; when it fills the buffer nothing follows. Then the
 * kind's fields, each written whole or not at all:
 * - wheel: ";o=" when it fits;
 * - paint: only when the text so far + 40 < size; each byte is
 *   ceil(clamp(v, 0, 1) * 255) in f32 (NaN counts as 0), so a paint read
 *   back from an entry is written again with the same digits;
 * - cargo: nothing when the name is empty or has a ";", or when the fields
 *   do not fit together.
 * Returns what the last formatting step the entry keeps returned (the path's
 * step when no field follows): negative on a formatting error, at least size
 * when the path was cut. */
int look_format_text(const look_accessory *a, char *out, size_t size);

/* ---- the game's accessories (look_format.cpp, DLL only) ---- */

/* A cargo accessory's fields as the game lays them out from accessory +0x40
 * (the cargo definition) to +0x7B (the last of dims). */
#define LOOK_ACC_FIELDS 0x40u
typedef struct game_cargo_fields {
    uint64_t definition; /* +0x40 */
    uint64_t seed;       /* +0x48 */
    uint32_t load, lash, gear;
    float hook[3];       /* +0x5C */
    float units;         /* +0x68 */
    uint32_t models;     /* +0x6C */
    float dims[3];       /* +0x70 */
} game_cargo_fields;
static_assert(offsetof(game_cargo_fields, seed) == 0x48 - LOOK_ACC_FIELDS, "seed at +0x48");
static_assert(offsetof(game_cargo_fields, load) == 0x50 - LOOK_ACC_FIELDS, "load at +0x50");
static_assert(offsetof(game_cargo_fields, hook) == 0x5C - LOOK_ACC_FIELDS, "hook at +0x5C");
static_assert(offsetof(game_cargo_fields, units) == 0x68 - LOOK_ACC_FIELDS, "units at +0x68");
static_assert(offsetof(game_cargo_fields, models) == 0x6C - LOOK_ACC_FIELDS, "models at +0x6C");
static_assert(offsetof(game_cargo_fields, dims) == 0x70 - LOOK_ACC_FIELDS, "dims at +0x70");
/* The bytes the game has: the struct's tail padding is not part of it. */
#define LOOK_CARGO_FIELDS_SIZE (0x7Cu - LOOK_ACC_FIELDS)

/* The cargo definition's name through the game's token-to-text call; an
 * empty text when the definition is null or unreadable, the call faults or
 * yields nothing, or the name does not fit size. */
void look_cargo_name(uint64_t definition, char *name, size_t size);
/* Writes the game accessory at that address as one entry, as
 * look_format_text does. An unreadable accessory gives an empty text; its
 * path ends at the first byte that cannot be read; kind fields that cannot
 * be read leave the path alone. */
int32_t look_format_accessory(uint64_t accessory, char *out, size_t size);

// One game accessory written as a look entry: its kind told by its virtual
// table, its path and fields read probed and guarded, the cargo's name asked
// of the game's token-to-text call under the guard, and the text made by
// look_format_text. Game thread only.
#include <windows.h>
#include <stddef.h>
#include <string.h>
#include "dm_guard.h"
#include "base/game_mem.h"
#include "vehicles/look_list.h"
#include "vehicles/vehicle_game.h"

namespace {


/* The text builder the token-to-text call fills: a buffer of ours. The game
 * writes at most capacity - 1 characters and a NUL into chars and sets length
 * to the whole name's length, which is capacity or more when the name was cut.
 * The core reads only its own buffer afterwards. */
struct game_text_builder {
    char *chars;       /* +0x00 */
    uint64_t length;   /* +0x08 */
    uint64_t capacity; /* +0x10 bytes at chars */
};
static_assert(offsetof(game_text_builder, length) == 0x08 && offsetof(game_text_builder, capacity) == 0x10 &&
                  sizeof(game_text_builder) == 0x18,
              "text builder layout");

/* A data path is read up to this many characters: far more than an entry. */
const size_t path_read_size = 1024;

look_kind kind_of(uint64_t vtable)
{
    if (vtable == game_from_va(wheel_accessory_vtable))
        return LOOK_KIND_WHEEL;
    if (vtable == game_from_va(paint_accessory_vtable))
        return LOOK_KIND_PAINT;
    if (vtable == game_from_va(cargo_accessory_vtable))
        return LOOK_KIND_CARGO;
    return LOOK_KIND_OTHER;
}

} // namespace

/* The cargo definition's name through the game's call; an empty text when the
 * definition is null or unreadable, the call faults or yields nothing, or the
 * name did not fit the builder (a cut name would be a wrong one). */
void look_cargo_name(uint64_t definition, char *name, size_t size)
{
    name[0] = 0;
    uint32_t id = 0;
    if (!definition || !game_read_guarded(definition + acc_off::cargo_name_id, &id))
        return;
    game_text_builder builder = { name, 0, size };
    typedef void *(*token_to_text_fn)(game_text_builder *, uint32_t, uint64_t);
    bool returned = dm_guarded([&] { game_fn<token_to_text_fn>(game_call::token_to_text)(&builder, id, definition); });
    name[size - 1] = 0;
    if (!returned || builder.length >= size)
        name[0] = 0;
}

int32_t look_format_accessory(uint64_t accessory, char *out, size_t size)
{
    char path[path_read_size];
    char name[LOOK_ENTRY_SIZE];
    look_accessory a = {};
    uint64_t chars = 0, vtable = 0;
    path[0] = 0;
    if (accessory && game_read_guarded(accessory + acc_off::path_chars, &chars))
        game_read_guarded_text(chars, path, sizeof path);
    a.path = path;
    if (accessory && game_read_guarded(accessory, &vtable))
        a.kind = kind_of(vtable);

    uint64_t fields = accessory + LOOK_ACC_FIELDS;
    switch (a.kind) {
    case LOOK_KIND_WHEEL:
        if (!game_copy_guarded(&a.wheel_offset, fields, sizeof a.wheel_offset))
            a.kind = LOOK_KIND_OTHER;
        break;
    case LOOK_KIND_PAINT:
        if (!game_copy_guarded(a.paint, fields, sizeof a.paint))
            a.kind = LOOK_KIND_OTHER;
        break;
    case LOOK_KIND_CARGO: {
        game_cargo_fields c;
        if (!game_copy_guarded(&c, fields, LOOK_CARGO_FIELDS_SIZE)) {
            a.kind = LOOK_KIND_OTHER;
            break;
        }
        look_cargo_name(c.definition, name, sizeof name);
        a.cargo_name = name;
        a.cargo_seed = c.seed;
        a.cargo_load = c.load;
        a.cargo_lash = c.lash;
        a.cargo_gear = c.gear;
        memcpy(a.cargo_hook, c.hook, sizeof a.cargo_hook);
        a.cargo_units = c.units;
        a.cargo_models = c.models;
        memcpy(a.cargo_dims, c.dims, sizeof a.cargo_dims);
        break;
    }
    default:
        break;
    }
    return look_format_text(&a, out, size);
}

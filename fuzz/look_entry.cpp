// A look list entry as any text (up to its first NUL): parsed, then written
// back as each kind of accessory the entry holds fields of and parsed again.
// The path and the written kind's fields come back: a wheel offset exactly,
// paint bit for bit (the writer's bytes read back as the same floats), a
// cargo's name and integers exactly; its floats are written with "%g", so
// the second writing must give the first text again.
#include <string>
#include "fuzz_check.h"
#include "vehicles/look_list.h"

namespace {

look_accessory accessory_of(const look_entry &e, look_kind kind)
{
    look_accessory a = {};
    a.path = e.path;
    a.kind = kind;
    a.wheel_offset = (uint16_t)(e.wheel_offset < 0 ? 0 : e.wheel_offset);
    memcpy(a.paint, e.paint, sizeof a.paint);
    a.cargo_name = e.has_cargo ? e.cargo_name : nullptr;
    a.cargo_seed = e.cargo_seed;
    a.cargo_load = e.cargo_load;
    a.cargo_lash = e.cargo_lash;
    a.cargo_gear = e.cargo_gear;
    memcpy(a.cargo_hook, e.cargo_hook, sizeof a.cargo_hook);
    a.cargo_units = e.cargo_units;
    a.cargo_models = e.cargo_models;
    memcpy(a.cargo_dims, e.cargo_dims, sizeof a.cargo_dims);
    return a;
}

/* The entry written as that kind: its text, checked to end within the buffer. */
std::string written(const look_entry &e, look_kind kind)
{
    char text[LOOK_ENTRY_SIZE];
    memset(text, 'x', sizeof text);
    look_accessory a = accessory_of(e, kind);
    look_format_text(&a, text, sizeof text);
    FUZZ_CHECK(memchr(text, 0, sizeof text));
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::string text((const char *)d, len);
    look_entry e;
    if (!look_parse_entry(text.c_str(), &e))
        return 0;
    size_t path_len = strlen(e.path);
    FUZZ_CHECK(path_len >= 1 && path_len < LOOK_ENTRY_SIZE && !strchr(e.path, ';'));
    FUZZ_CHECK(e.wheel_offset >= -1 && e.wheel_offset <= 0xFFFF);
    FUZZ_CHECK(!e.has_cargo || (e.cargo_name[0] && strlen(e.cargo_name) < LOOK_CARGO_NAME_SIZE));

    look_kind kinds[] = { LOOK_KIND_OTHER, LOOK_KIND_WHEEL, LOOK_KIND_PAINT, LOOK_KIND_CARGO };
    for (look_kind kind : kinds) {
        if ((kind == LOOK_KIND_WHEEL && e.wheel_offset < 0) || (kind == LOOK_KIND_PAINT && !e.has_paint) ||
            (kind == LOOK_KIND_CARGO && !e.has_cargo))
            continue;
        std::string first = written(e, kind);
        look_entry back;
        FUZZ_CHECK(look_parse_entry(first.c_str(), &back));
        FUZZ_CHECK(strcmp(back.path, e.path) == 0);
        bool with_field = first.size() > path_len;
        switch (kind) {
        case LOOK_KIND_WHEEL:
            FUZZ_CHECK(!with_field || back.wheel_offset == e.wheel_offset);
            break;
        case LOOK_KIND_PAINT:
            FUZZ_CHECK(!with_field || (back.has_paint && fuzz_same(back.paint, e.paint)));
            break;
        case LOOK_KIND_CARGO:
            if (with_field) {
                FUZZ_CHECK(back.has_cargo && strcmp(back.cargo_name, e.cargo_name) == 0);
                FUZZ_CHECK(back.cargo_seed == e.cargo_seed && back.cargo_load == e.cargo_load &&
                           back.cargo_lash == e.cargo_lash && back.cargo_gear == e.cargo_gear &&
                           back.cargo_models == e.cargo_models);
            }
            break;
        default:
            FUZZ_CHECK(!with_field);
            break;
        }
        // Written again from what was read back, the text is the same. (A
        // field that did not fit is not in the text, so not in the record.)
        if (with_field)
            FUZZ_CHECK(written(back, kind) == first);
    }
    return 0;
}

// The props texts as any input: the first line is a "model" command's rest
// of line (sub-command word, spawn and attach arguments, model paths), every
// further line a models.txt line as fgets reads it. A sub-command's rest
// lies inside the text; catalog fields lie inside their line; the path rules
// read at most 160 bytes and accept only a terminated path.
#include <string>
#include "fuzz_check.h"
#include "props/props_math.h"
#include "props/props_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    const uint8_t *at = d, *end = d + len;
    char line[PROPS_CATALOG_LINE_MAX];
    if (!fuzz_line(&at, end, line, sizeof line))
        return 0;
    size_t n = strlen(line);
    const char *rest = nullptr;
    props_sub sub = props_match(line, &rest);
    FUZZ_CHECK(sub >= PROPS_SPAWN && sub <= PROPS_UNKNOWN);
    FUZZ_CHECK(rest >= line && rest <= line + n);
    props_spawn_args s;
    if (props_parse_spawn(rest, &s))
        FUZZ_CHECK(strlen(s.name) <= 160 && strlen(s.look) < sizeof s.look && strlen(s.variant) < sizeof s.variant);
    props_attach_args a;
    if (props_parse_attach(rest, &a)) {
        FUZZ_CHECK(a.fields >= 2 && a.fields <= 6 && a.part_value <= 3 && strlen(a.id) < sizeof a.id);
        FUZZ_CHECK(!a.roof || a.part_value == 2);
    }
    if (props_path_text_ok(rest)) {
        FUZZ_CHECK(rest[0] == '/' && strnlen(rest, PROPS_PATH_MAX) < PROPS_PATH_MAX && !strstr(rest, ".."));
        char pmc[PROPS_PATH_MAX + 1];
        FUZZ_CHECK(props_collision_path(rest, pmc));
    }
    int mode = props_light_mode_parse(rest);
    FUZZ_CHECK(mode >= -1 && mode <= 6);
    while (fuzz_line(&at, end, line, sizeof line)) {
        props_catalog_fields f;
        if (!props_catalog_line(line, &f))
            continue;
        size_t ln = strlen(line);
        for (int i = 0; i < 4; i++) {
            FUZZ_CHECK(f.field[i] >= line && f.field[i] + f.length[i] <= line + ln);
            FUZZ_CHECK(!memchr(f.field[i], '\t', f.length[i]));
        }
        FUZZ_CHECK(!memchr(f.field[3], '\r', f.length[3]) && !memchr(f.field[3], '\n', f.length[3]));
        std::string t(f.field[0], f.length[0]), nm(f.field[1], f.length[1]), p(f.field[3], f.length[3]);
        if (props_catalog_matches(rest, t.c_str(), nm.c_str(), p.c_str()))
            FUZZ_CHECK(strspn(rest, " ") < strlen(rest));
    }
    return 0;
}

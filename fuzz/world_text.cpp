// The world commands' rest of line as any text (up to its first NUL): the
// number readers, repair words, gps verbs and targets, and road event
// arguments. Numbers read are finite and a reader that fails leaves the text
// where it was; a parsed "roadevents apply" written back as the replay line
// parses to the same arguments.
#include <math.h>
#include <string>
#include "fuzz_check.h"
#include "base/plain_text.h"
#include "world/world_text.h"

namespace {

/* Every field of the text through each number reader in turn. */
void read_fields(const char *text)
{
    const char *p = text;
    for (int i = 0; i < 64; i++) {
        const char *before = p;
        double f;
        uint32_t u32;
        uint64_t u64;
        char word[16];
        const char *in = p;
        double g;
        if (text_parse_f64_in(&in, -1.0, 1.0, &g))
            FUZZ_CHECK(g >= -1.0 && g <= 1.0 && in > before);
        else
            FUZZ_CHECK(in == before);
        if (text_parse_f64(&p, &f)) {
            FUZZ_CHECK(isfinite(f) && p > before);
            int32_t scaled;
            if (gps_scale_coord(f, &scaled))
                FUZZ_CHECK(fabs(f) <= GPS_COORD_MAX);
            continue;
        }
        FUZZ_CHECK(p == before);
        if (text_parse_hex_u32(&p, &u32) || text_parse_hex_u64(&p, &u64)) {
            FUZZ_CHECK(p > before);
            continue;
        }
        FUZZ_CHECK(p == before);
        if (!text_parse_word(&p, word, sizeof word)) {
            FUZZ_CHECK(p == before);
            // Not a short word: a long one or the end; step past it.
            while (*p == ' ' || *p == '\t')
                p++;
            if (!*p)
                break;
            while (*p && *p != ' ' && *p != '\t')
                p++;
            continue;
        }
        FUZZ_CHECK(p > before && strlen(word) < sizeof word);
    }
    text_at_end(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *d, size_t len)
{
    std::string s((const char *)d, len);
    const char *text = s.c_str();
    read_fields(text);
    damage_repair_sel sel;
    if (damage_parse_repair(text, &sel))
        FUZZ_CHECK(sel.truck || sel.trailer || sel.cargo);

    const char *target = nullptr;
    gps_verb verb = gps_parse(text, &target);
    FUZZ_CHECK(verb >= GPS_STATUS && verb <= GPS_USAGE);
    if (verb == GPS_TO || verb == GPS_ADD) {
        FUZZ_CHECK(target >= text && target <= text + strlen(text));
        double x = 0, y = 0, z = 0;
        if (gps_parse_target(target, 1.5, &x, &y, &z) == GPS_TARGET_POINT)
            FUZZ_CHECK(isfinite(x) && isfinite(y) && isfinite(z));
    }

    roadevents_apply_args a;
    if (roadevents_parse_apply(text, &a)) {
        FUZZ_CHECK(a.token != 0 && memchr(a.name, 0, sizeof a.name));
        roadevent_view v = {};
        v.token = a.token;
        v.seed = a.seed;
        memcpy(v.block, a.block, sizeof v.block);
        v.road = a.road;
        v.uid = a.uid;
        char line[256];
        roadevent_format_replay(line, sizeof line, &v);
        const char *cmd = strstr(line, "roadevents apply ");
        FUZZ_CHECK(cmd);
        roadevents_apply_args b;
        FUZZ_CHECK(roadevents_parse_apply(cmd + 17, &b));
        FUZZ_CHECK(b.token == a.token && b.seed == a.seed &&
                   memcmp(b.block, a.block, sizeof b.block) == 0 && b.road == a.road && b.uid == a.uid);
    }
    return 0;
}

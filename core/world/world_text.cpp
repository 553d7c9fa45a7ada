// The pure parts of the damage, GPS and road-event commands.
//
// Index: damage, gps, road events (in the header's order).
#include "world/world_text.h"
#include <math.h>
#include <stdio.h>
#include <string.h>
#include "base/dm_token.h"
#include "base/plain_text.h"

/* ---- damage ---- */

bool damage_parse_repair(const char *words, damage_repair_sel *out)
{
    damage_repair_sel s = {};
    char w[8]; // the longest word, "fixable", and its NUL
    const char *p = words;
    while (!text_at_end(p)) {
        if (!text_parse_word(&p, w, sizeof w))
            return false;
        if (!strcmp(w, "fixable"))
            s.fixable_only = true;
        else if (!strcmp(w, "truck"))
            s.truck = true;
        else if (!strcmp(w, "trailer"))
            s.trailer = true;
        else if (!strcmp(w, "cargo"))
            s.cargo = true;
        else
            return false;
    }
    if (!s.truck && !s.trailer && !s.cargo)
        s.truck = s.trailer = s.cargo = true;
    *out = s;
    return true;
}

void damage_format_chassis_wheels(char *out, size_t size, const char *label, const void *object, float chassis_fix,
                                  float chassis_unfix, const float *fix, size_t fix_count, const float *unfix,
                                  size_t unfix_count)
{
    char list[256] = "-";
    size_t used = 0;
    for (size_t i = 0; i < fix_count && i < DAMAGE_WHEELS_PRINT_MAX; i++) {
        float u = i < unfix_count ? unfix[i] : 0.0f;
        int n = snprintf(list + used, sizeof list - used, "%s%.3f+%.3f", i ? " " : "", (double)fix[i], (double)u);
        if (n < 0 || (size_t)n >= sizeof list - used) {
            used = sizeof list - 1; // cut at 255 characters
            break;
        }
        used += (size_t)n;
    }
    snprintf(out, size, "[core] damage: %s %p chassis %.3f+%.3f wheels [%s] (fixable+unfixable)", label, object,
             (double)chassis_fix, (double)chassis_unfix, list);
}

/* ---- gps ---- */

const char *gps_mode_name(int32_t mode)
{
    static const char *const names[] = { "none", "job", "dock", "service", "garage", "custom", "job2", "mode7" };
    return mode >= 0 && mode < 8 ? names[mode] : "?";
}

// The custom route (5) counts as active too: a route set by "gps to" keeps
// its destination last when via-points are added or dropped.
bool gps_route_active(int32_t mode) { return mode >= 1 && mode <= 7; }

bool gps_scale_coord(double v, int32_t *out)
{
    if (!isfinite(v) || fabs(v) > GPS_COORD_MAX)
        return false;
    *out = (int32_t)round(v * 256.0); // round: halves away from zero
    return true;
}

gps_verb gps_parse(const char *rest, const char **target)
{
    const char *p = text_skip_blanks(rest);
    size_t n = strlen(p);
    while (n > 0 && text_is_blank(p[n - 1]))
        n--;
    *target = "";
    if (n == 0)
        return GPS_STATUS;
    if (n == 4 && !strncmp(p, "mark", 4))
        return GPS_MARK;
    if (n == 5 && !strncmp(p, "clear", 5))
        return GPS_CLEAR;
    if (!strncmp(p, "to ", 3)) {
        *target = p + 3;
        return GPS_TO;
    }
    if (!strncmp(p, "add ", 4)) {
        *target = p + 4;
        return GPS_ADD;
    }
    return GPS_USAGE;
}

gps_target_kind gps_parse_target(const char *text, double default_y, double *x, double *y, double *z)
{
    const char *p = text;
    char word[8];
    const char *q = p;
    if (text_parse_word(&q, word, sizeof word) && !strcmp(word, "mark") && text_at_end(q))
        return GPS_TARGET_MARK;
    double v[3];
    int n = 0;
    while (n < 3 && text_parse_f64(&p, &v[n]))
        n++;
    if (n < 2 || !text_at_end(p))
        return GPS_TARGET_BAD;
    *x = v[0];
    *y = n == 3 ? v[1] : default_y;
    *z = n == 3 ? v[2] : v[1];
    return GPS_TARGET_POINT;
}

size_t gps_insert_point(gps_node *nodes, size_t count, const gps_node *node, bool before_last)
{
    if (before_last && count > 0) {
        nodes[count] = nodes[count - 1];
        nodes[count - 1] = *node;
    } else {
        nodes[count] = *node;
    }
    return count + 1;
}

/* ---- road events ---- */

bool roadevents_parse_apply(const char *text, roadevents_apply_args *out)
{
    roadevents_apply_args a = {};
    const char *p = text;
    if (!text_parse_word(&p, a.name, sizeof a.name) || !token_from_text(a.name, &a.token) || a.token == 0)
        return false;
    if (!text_parse_hex_u32(&p, &a.seed) || !text_parse_hex_u32(&p, &a.block[0]) ||
        !text_parse_hex_u32(&p, &a.block[1]) || !text_parse_hex_u32(&p, &a.block[2]) ||
        !text_parse_hex_u64(&p, &a.road) || !text_parse_hex_u64(&p, &a.uid))
        return false;
    *out = a;
    return true;
}

void roadevents_token_name(uint64_t token, char out[13])
{
    if (token == 0)
        snprintf(out, 13, "?");
    else
        token_to_text(token, out, 13);
}

void roadevent_format_line(char *out, size_t size, const roadevent_view *v)
{
    char name[13];
    roadevents_token_name(v->token, name);
    float f;
    memcpy(&f, &v->block[0], sizeof f);
    snprintf(out, size,
             "[core] roadevent %llu: '%s' (token %016llx) road %llu (type %u, loaded %u) seed %08x block %08x %08x "
             "%08x (f %.3f) uid %llu set %d flag %u",
             (unsigned long long)v->index, name, (unsigned long long)v->token, (unsigned long long)v->road, v->type,
             v->loaded, v->seed, v->block[0], v->block[1], v->block[2], (double)f, (unsigned long long)v->uid, v->set,
             v->flag);
}

void roadevent_format_replay(char *out, size_t size, const roadevent_view *v)
{
    char name[13];
    roadevents_token_name(v->token, name);
    snprintf(out, size, "[core] roadevent %llu: as command: roadevents apply %s %x %x %x %x %llx %llx",
             (unsigned long long)v->index, name, v->seed, v->block[0], v->block[1], v->block[2],
             (unsigned long long)v->road, (unsigned long long)v->uid);
}

roadevents_box roadevents_box_from(const float min[3], const float max[3], double truck_x, double truck_z)
{
    roadevents_box b;
    for (int i = 0; i < 3; i++)
        b.centre[i] = ((double)min[i] + (double)max[i]) / 2.0;
    b.distance = hypot(b.centre[0] - truck_x, b.centre[2] - truck_z);
    b.width_x = (double)max[0] - (double)min[0];
    b.width_z = (double)max[2] - (double)min[2];
    return b;
}

// Look list entries as text: the parser and the writer of one entry from
// already-read accessory values. Pure logic.
//
// Index
//   parsing   field values (numbers, lists, hex paint), look_parse_entry
//   writing   whole fields, paint bytes, look_format_text
#include "vehicles/look_list.h"
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "dm_hex.h"

namespace {

/* ---- parsing ---- */

uint32_t to_u32(unsigned long long v) { return v > 0xFFFFFFFFull ? 0xFFFFFFFFu : (uint32_t)v; }
uint32_t read_u32(const char *p, char **end) { return to_u32(strtoull(p, end, 10)); }
float read_f32(const char *p, char **end) { return strtof(p, end); }

/* "%u,%u,%u" or "%f,%f,%f": the values read before the first bad one; the
 * rest of the field is 0. convert(text, &end) reads one value. */
template <typename T> void read_list(const char *p, T *out, int n, T (*convert)(const char *, char **))
{
    for (int i = 0; i < n; i++)
        out[i] = 0;
    for (int i = 0; i < n; i++) {
        if (i > 0 && *p++ != ',')
            return;
        char *end;
        T v = convert(p, &end);
        if (end == p)
            return;
        out[i] = v;
        p = end;
    }
}

/* 36 hex digits right after ";p=", else the field is ignored. The scan stops
 * at the first character that is not a digit, so it never passes the NUL. */
void read_paint(const char *p, look_entry *out)
{
    for (int i = 0; i < 2 * LOOK_PAINT_COUNT; i++)
        if (dm_hex_digit(p[i]) < 0)
            return;
    for (int i = 0; i < LOOK_PAINT_COUNT; i++)
        out->paint[i] = (float)((dm_hex_digit(p[2 * i]) * 16 + dm_hex_digit(p[2 * i + 1])) / 255.0);
    out->has_paint = 1;
}

/* One field: p points at its ";". */
void read_field(const char *p, look_entry *out)
{
    if (!p[1] || p[2] != '=')
        return;
    const char *v = p + 3;
    switch (p[1]) {
    case 'o': {
        long long offset = strtoll(v, nullptr, 10);
        if (offset >= 0 && offset <= 0xFFFF)
            out->wheel_offset = (int32_t)offset;
        break;
    }
    case 'p':
        read_paint(v, out);
        break;
    case 'k': {
        size_t n = strcspn(v, ";");
        if (n >= 1 && n < LOOK_CARGO_NAME_SIZE) {
            memcpy(out->cargo_name, v, n);
            out->cargo_name[n] = 0;
            out->has_cargo = 1;
        }
        break;
    }
    case 's':
        out->cargo_seed = strtoull(v, nullptr, 16);
        break;
    case 'm': {
        uint32_t m[3];
        read_list(v, m, 3, read_u32);
        out->cargo_load = m[0];
        out->cargo_lash = m[1];
        out->cargo_gear = m[2];
        break;
    }
    case 'h':
        read_list(v, out->cargo_hook, 3, read_f32);
        break;
    case 'u':
        out->cargo_units = strtof(v, nullptr);
        break;
    case 'n':
        out->cargo_models = read_u32(v, nullptr);
        break;
    case 'd':
        read_list(v, out->cargo_dims, 3, read_f32);
        break;
    default:
        break;
    }
}

/* ---- writing ---- */

/* Appends one whole field at out[len]; a field that does not fit (or fails)
 * is taken back, so the entry never ends in half a field. Returns the
 * step's result; *kept tells whether the field stayed. */
int append_whole(char *out, size_t size, size_t len, bool *kept, const char *fmt, ...)
    __attribute__((format(gnu_printf, 5, 6)));
int append_whole(char *out, size_t size, size_t len, bool *kept, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int r = vsnprintf(out + len, size - len, fmt, ap);
    va_end(ap);
    *kept = r >= 0 && (size_t)r < size - len;
    if (!*kept)
        out[len] = 0;
    return r;
}

/* ceil(clamp(v, 0, 1) * 255), the product in f32: the parser stores
 * byte / 255 as an f32, and in f64 that value times 255 lies just above the
 * byte for most bytes, which ceil would raise by one on every round trip. */
unsigned paint_byte(float v)
{
    if (!(v > 0.0f))
        v = 0.0f;
    else if (v > 1.0f)
        v = 1.0f;
    return (unsigned)ceilf(v * 255.0f);
}

} // namespace

bool look_parse_entry(const char *text, look_entry *out)
{
    memset(out, 0, sizeof *out);
    out->wheel_offset = -1;
    out->cargo_units = 1.0f;
    out->cargo_models = 1;
    if (!text)
        return false;
    size_t path_len = strcspn(text, ";");
    if (path_len < 1 || path_len >= LOOK_ENTRY_SIZE)
        return false;
    memcpy(out->path, text, path_len);
    out->path[path_len] = 0;
    for (const char *p = strchr(text, ';'); p; p = strchr(p + 1, ';'))
        read_field(p, out);
    return true;
}

int look_format_text(const look_accessory *a, char *out, size_t size)
{
    int r = snprintf(out, size, "%s", a->path ? a->path : "");
    if (r < 0 || (size_t)r >= size)
        return r;
    size_t len = (size_t)r;
    bool kept = false;
    int step;
    switch (a->kind) {
    case LOOK_KIND_WHEEL:
        step = append_whole(out, size, len, &kept, ";o=%u", (unsigned)a->wheel_offset);
        return kept || step < 0 ? step : r;
    case LOOK_KIND_PAINT:
        if (len + 40 >= size)
            return r;
        r = snprintf(out + len, size - len, ";p=");
        for (int i = 0; i < LOOK_PAINT_COUNT && r >= 0; i++) {
            len += (size_t)r;
            r = snprintf(out + len, size - len, "%02x", paint_byte(a->paint[i]));
        }
        return r;
    case LOOK_KIND_CARGO: {
        const char *name = a->cargo_name;
        if (!name || !name[0] || strchr(name, ';'))
            return r;
        step = append_whole(out, size, len, &kept, ";k=%s;s=%llx;m=%u,%u,%u;h=%g,%g,%g;u=%g;n=%u;d=%g,%g,%g",
                            name, (unsigned long long)a->cargo_seed, a->cargo_load, a->cargo_lash,
                            a->cargo_gear, (double)a->cargo_hook[0], (double)a->cargo_hook[1],
                            (double)a->cargo_hook[2], (double)a->cargo_units, a->cargo_models,
                            (double)a->cargo_dims[0], (double)a->cargo_dims[1], (double)a->cargo_dims[2]);
        return kept || step < 0 ? step : r;
    }
    default:
        return r;
    }
}

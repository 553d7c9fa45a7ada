#include "runtime/diag_text.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "base/plain_text.h"

void peek_parse(const char *text, peek_args *out)
{
    memset(out, 0, sizeof *out);
    char *end = nullptr;
    out->va = strtoull(text, &end, 16);
    const char *p = end;
    while (*p == ' ' || *p == '\t')
        p++;
    while (*p == '+' && out->hops < PEEK_MAX_HOPS) {
        out->offsets[out->hops++] = strtoull(p + 1, &end, 16);
        p = end;
        while (*p == ' ' || *p == '\t')
            p++;
    }
}

bool memrec_parse(const char *text, double *seconds, char *name, size_t size)
{
    char buf[MEMREC_NAME_MAX + 1];
    double secs;
    const char *p = text;
    if (!text_parse_f64_in(&p, MEMREC_SECONDS_MIN, MEMREC_SECONDS_MAX, &secs) ||
        !text_parse_word(&p, buf, sizeof buf) || !text_at_end(p) || strpbrk(buf, "\\/:"))
        return false;
    *seconds = secs;
    snprintf(name, size, "%s", buf);
    return true;
}

// The pure parts of server jobs (see job_text.h).
#include "world/job_text.h"
#include "base/dm_token.h"
#include "base/plain_text.h"
#include <math.h>
#include <stdlib.h>
#include <string.h>

/* ---- tokens ---- */

uint64_t job_token_from_text(const char *text)
{
    char lower[13];
    size_t n = strlen(text);
    if (n == 0 || n > 12)
        return 0;
    for (size_t i = 0; i <= n; i++)
        lower[i] = (text[i] >= 'A' && text[i] <= 'Z') ? (char)(text[i] - 'A' + 'a') : text[i];
    uint64_t token = 0;
    return token_from_text(lower, &token) ? token : 0;
}

bool job_split_name(const char *name, char company[32], char city[32])
{
    const char *dot = strchr(name, '.');
    if (!dot)
        return false;
    size_t a = (size_t)(dot - name), b = strlen(dot + 1);
    if (a > 31 || b > 31)
        return false;
    memcpy(company, name, a);
    company[a] = 0;
    memcpy(city, dot + 1, b + 1);
    return true;
}

/* ---- tags ---- */

void job_tag_offer(job_tags *t, uint64_t offer)
{
    if (!offer || job_is_tagged(t, offer))
        return;
    for (auto &slot : t->offers)
        if (!slot) {
            slot = offer;
            return;
        }
    memmove(t->offers, t->offers + 1, sizeof t->offers - sizeof t->offers[0]);
    t->offers[JOB_TAGS_MAX - 1] = offer;
}

void job_untag_offer(job_tags *t, uint64_t offer)
{
    for (auto &slot : t->offers)
        if (offer && slot == offer)
            slot = 0;
}

bool job_is_tagged(const job_tags *t, uint64_t offer)
{
    if (!offer)
        return false;
    for (uint64_t slot : t->offers)
        if (slot == offer)
            return true;
    return false;
}

/* ---- numbers ---- */

static int compare_doubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y ? 1 : 0;
}

double job_median(double *values, size_t count)
{
    if (!count)
        return -1.0;
    qsort(values, count, sizeof *values, compare_doubles);
    return values[count / 2];
}

uint16_t job_km_from_metres(double metres, double ratio)
{
    double km = metres * ratio;
    if (!(km >= 1.0)) // also nan
        return 1;
    if (km > 65000.0)
        return 65000;
    return (uint16_t)lround(km);
}

/* ---- texts ---- */

size_t job_row_text(char out[JOB_ROW_TEXT_SIZE], const char *name, size_t length)
{
    size_t prefix = sizeof JOB_ROW_PREFIX - 1;
    if (prefix + length > JOB_ROW_TEXT_SIZE - 1)
        return 0;
    memcpy(out, JOB_ROW_PREFIX, prefix);
    memcpy(out + prefix, name, length);
    out[prefix + length] = 0;
    return prefix + length;
}

bool job_parse_number(const char *word, uint32_t max, uint32_t *out)
{
    const char *p = word;
    int32_t v = 0;
    if (!text_parse_int(&p, &v) || !text_at_end(p) || v < 0 || (uint32_t)v > max)
        return false;
    *out = (uint32_t)v;
    return true;
}

int job_words(const char *line, char words[JOB_WORDS_MAX][JOB_WORD_SIZE])
{
    int n = 0;
    const char *p = line ? line : "";
    while (n < JOB_WORDS_MAX) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (!*p)
            break;
        size_t len = 0;
        while (p[len] && p[len] != ' ' && p[len] != '\t')
            len++;
        size_t keep = len < JOB_WORD_SIZE - 1 ? len : JOB_WORD_SIZE - 1;
        memcpy(words[n], p, keep);
        words[n][keep] = 0;
        n++;
        p += len;
    }
    return n;
}

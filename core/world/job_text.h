/* The pure parts of server jobs and the job command: name tokens read from
 * text, the tagged-offer set, the median km ratio, the stored distance, the
 * "[SERVER JOB]" row text and the command's words. No game memory.
 *
 *   tokens   job_token_from_text, job_split_name (texts of tokens: dm_token.h)
 *   tags     job_tags with job_tag_offer, job_untag_offer, job_is_tagged
 *   numbers  job_median, job_km_from_metres
 *   texts    job_row_text, job_parse_number, job_words */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* ---- tokens ---- */
/* The name token of a text, letters of either case: 0 for an empty text,
 * another character or more than 12 characters. */
uint64_t job_token_from_text(const char *text);
/* "company.city" split at the first dot into two parts of at most 31
 * characters each; false without a dot or when a part is longer. */
bool job_split_name(const char *name, char company[32], char city[32]);

/* ---- tags ---- */
#define JOB_TAGS_MAX 32
typedef struct job_tags {
    uint64_t offers[JOB_TAGS_MAX]; /* 0 = empty */
} job_tags;
/* Already present: nothing; else the first empty place; with all taken the
 * set shifts by one (the oldest drops out) and the offer goes last. */
void job_tag_offer(job_tags *t, uint64_t offer);
void job_untag_offer(job_tags *t, uint64_t offer);
bool job_is_tagged(const job_tags *t, uint64_t offer);

/* ---- numbers ---- */
/* Sorts the values ascending and returns the one at index count / 2 (the
 * upper median for an even count); -1.0 for none. */
double job_median(double *values, size_t count);
/* An offer's distance: metres x ratio rounded, clamped to 1..65000. */
uint16_t job_km_from_metres(double metres, double ratio);

/* ---- texts ---- */
#define JOB_ROW_TEXT_SIZE 512
#define JOB_ROW_PREFIX "<color value=FF33DD33>[SERVER JOB] "
/* The prefix and the name (length bytes, not NUL-terminated) into out;
 * the text's length, or 0 when it would not fit in 511 characters. */
size_t job_row_text(char out[JOB_ROW_TEXT_SIZE], const char *name, size_t length);
/* A number word of the job command: decimal digits (a sign of + allowed)
 * and nothing else, at most max; false for anything else (a negative
 * value, another character, too large). */
#define JOB_OFFER_URGENCY_MAX 255  /* job offer's urgency: a byte, as on the wire */
#define JOB_OFFER_HOURS_MAX 65535  /* job offer's hours: 16 bits, as on the wire */
bool job_parse_number(const char *word, uint32_t max, uint32_t *out);
/* Up to eight blank-separated words of at most 63 characters (longer words
 * cut); returns the count. */
#define JOB_WORDS_MAX 8
#define JOB_WORD_SIZE 64
int job_words(const char *line, char words[JOB_WORDS_MAX][JOB_WORD_SIZE]);

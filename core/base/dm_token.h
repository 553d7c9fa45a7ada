/* The game's 64-bit name token: up to 12 characters of
 * "0123456789abcdefghijklmnopqrstuvwxyz_" in base 38, first character least
 * significant, digit = alphabet index + 1; 0 is no name. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* False when the text is longer than 12 characters or holds another character. */
bool dm_token_from_text(const char *text, uint64_t *out);
/* Writes the text (at most 12 characters and a NUL); false when the value
 * is not a token (a zero digit inside, or more than 12 digits). */
bool dm_token_to_text(uint64_t token, char *out, size_t size);

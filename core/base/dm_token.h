/* The game's 64-bit name token: up to 12 characters of
 * "0123456789abcdefghijklmnopqrstuvwxyz_" in base 38, first character least
 * significant, digit = alphabet index + 1; 0 is no name. The one text rule
 * of the core: every reader of a token's text prints it through
 * token_to_text. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* Room for a token's text and its NUL. */
#define DM_TOKEN_TEXT_SIZE 13

/* False when the text is longer than 12 characters or holds another character. */
bool token_from_text(const char *text, uint64_t *out);
/* Writes the token's text (cut to size - 1 characters, always terminated):
 * "" for 0; else at most 12 characters, a zero digit printed as '?' in its
 * place. True when the text reads back as the token (no zero digit, no digit
 * past the twelfth, nothing cut). */
bool token_to_text(uint64_t token, char *out, size_t size);

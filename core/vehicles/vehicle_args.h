/* The vehicle commands' arguments and files: what "spawn", "move", "flags",
 * "spawnlist" and "defdump" read from their line, where their file lies,
 * and the spawn list read from a file. Pure: no windows.h, no game memory;
 * vehicle_commands.cpp acts on the results.
 *
 *   numbers      vcmd_parse_spawn, vcmd_parse_move, vcmd_parse_flags,
 *                vcmd_parse_spawnlist (every number finite, nan and inf
 *                refused, a malformed one a usage error)
 *   files        vcmd_path, vcmd_is_own_file
 *   spawn list   spawnlist_read */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include "vehicles/look_list.h"

#define VCMD_METRES_DEFAULT 6.0f /* "spawn" and "spawnlist" without metres */
#define VCMD_MOVE_WORD_MAX 15
#define VCMD_FILE_MAX 259        /* characters of a file name or path */

/* ---- numbers ---- */

/* "spawn" [metres]: rest null (no blank after the word) gives the default;
 * else exactly one finite decimal that is finite as f32 too. False: usage. */
bool vcmd_parse_spawn(const char *rest, float *metres);

/* "move" [word [a [b]]]: a word of at most 15 characters and up to two
 * finite decimals. given counts the numbers read (0 to 2); a and b are 0
 * when not given. An empty rest gives word "" (the usage line); a word too
 * long, a malformed number or a fourth field is false (the usage line). */
typedef struct vcmd_move_args {
    char word[VCMD_MOVE_WORD_MAX + 1];
    int given;
    double a, b;
} vcmd_move_args;
bool vcmd_parse_move(const char *rest, vcmd_move_args *out);

/* "flags " hex: one hexadecimal light word ("0x" allowed) that fits 32
 * bits and nothing after it. */
bool vcmd_parse_flags(const char *rest, uint32_t *word);

/* "spawnlist " file [metres]: a file name of at most 259 characters and an
 * optional finite decimal (the default when absent). False when there is
 * no file name, the name is too long, the metres are malformed or not
 * finite (as f32 too), or more follows. */
bool vcmd_parse_spawnlist(const char *rest, char *file, size_t size, float *metres);

/* ---- files ---- */

/* The path of a command's file: the name unchanged when it holds ":" or
 * begins with "\" or "/", else base_dir followed by the name. False when it
 * has more than VCMD_FILE_MAX characters or does not fit size. */
bool vcmd_path(char *out, size_t size, const char *base_dir, const char *name);

/* True when the full path (as the system resolved it) names one of the
 * system's own files or folders in base_dir (dm_own_files.h's list): the
 * folder compared without regard to case or to "/" against "\", the name as
 * dm_own_file_name compares it. */
bool vcmd_is_own_file(const char *full_path, const char *base_dir);

/* ---- spawn list ---- */

#define SPAWNLIST_LINE_MAX 255
/* Reads a spawn list from f into list (LOOK_LIST_MAX entries of
 * LOOK_ENTRY_SIZE bytes back to back, each with its NUL) and returns the
 * count. Lines of up to 255 characters; a longer line is skipped whole
 * (its rest never read as a line of its own). Each line is cut at its first
 * CR or LF; empty lines, lines that begin with "#" and lines of
 * LOOK_ENTRY_SIZE characters or more are skipped; reading stops after
 * LOOK_LIST_MAX entries. */
int spawnlist_read(FILE *f, char list[LOOK_LIST_MAX * LOOK_ENTRY_SIZE]);

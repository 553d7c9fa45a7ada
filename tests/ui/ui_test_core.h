/* The extra exports of ui_test_core.dll (a real core otherwise). */
#pragma once
#include <stdint.h>

typedef struct uitest_status {
    uint8_t net_open;
    uint16_t own_id;
    char status[64];
    int32_t count;
    uint16_t ids[40];
    char names[40][33];
    uint8_t has_server;
    char host[64];
    uint16_t port;
    char name[33];
} uitest_status;

typedef void (*uitest_set_status_fn)(const uitest_status *s);
typedef void (*uitest_kick_fn)(uint8_t kind, uint32_t notice, const char *text);
/* Registers a callback that faults inside a Begin and a Push, then one that
 * draws a magenta square at (x, y) - (x + 40, y + 40) on the foreground. */
typedef void (*uitest_add_faulting_fn)(float x, float y);
typedef int (*uitest_calls_fn)(int which); /* 0 faulting, 1 marker */
/* Names of the fonts in the atlas, separated by '|'; the atlas size. */
typedef int (*uitest_fonts_fn)(char *out, int size);
typedef float (*uitest_scale_fn)();
/* The width that the UI gives a text (font 0 regular, 1 semibold, 2 bold;
 * size as the UI's drawing code passes it), measured inside the next frames
 * by a draw callback; -1 until one ran. */
typedef void (*uitest_measure_fn)(int font, float size, const char *text);
typedef float (*uitest_measured_fn)();

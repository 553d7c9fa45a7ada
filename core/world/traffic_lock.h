/* The g_traffic lock (traffic_lock.cpp): the game's AI traffic held at
 * density 0 ("off") or left to the player ("local"), as config.ini, the
 * traffic command and the server decide (traffic_mode_in_effect), through
 * the game's g_traffic console variable. And the traffic manager, which the
 * lock and the sharing of AI cars both read. Game thread only. */
#pragma once
#include <stdint.h>

/* ---- the traffic manager (its layout in world_game.h) ---- */
#define TRAFFIC_MGR_COUNT_MAX 1000u
/* The traffic manager, 0 without one or when unreadable. */
uint64_t traffic_manager();

/* ---- the lock ---- */
/* The frame: the server's setting followed (logged when it changes) and the
 * lock applied, at most every 0.5 s unless the setting changed. */
void traffic_lock_tick(double now);
/* "traffic off|on|local": the command's mode, applied at once and logged. */
void traffic_lock_command(int32_t mode, double now);
/* "traffic mode": the three modes, the one in effect and g_traffic's state. */
void traffic_lock_report();

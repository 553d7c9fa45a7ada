/* The network's frame step. */
#pragma once
#include "dm_api.h"

/* The "net_tick" frame step (net_frame_step.cpp): the local truck sampled
 * every 0.1 s (a recording row, our state for the server), auto-connect,
 * then the network client's tick. */
void net_tick_step(const dm_frame_info *info);

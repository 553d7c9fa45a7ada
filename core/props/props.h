/* What the props subsystem (the game's own models, placed and shared
 * through the server) offers the rest of the core: its life cycle, its frame
 * step, its draw pass and its console command. */
#pragma once
#include <stdint.h>
#include "dm_api.h"

/* life cycle */
void props_init(const dm_host_api *api);
void props_shutdown();

/* frame step "props" */
bool props_tick(const dm_frame_info *info); /* true when the draw hook is needed */
/* Inside the game's draw call (the draw detour), with its draw context. */
void props_draw(uint64_t context);

/* console */
void props_command(const char *rest);
bool props_any_live();

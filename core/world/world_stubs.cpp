// World sync not in this build: props and models.
// Frame and life cycle entry points do nothing; each console command says it
// is not in this build. A feature that lands deletes its lines here.
#include "core.h"
#include "world.h"

/* life cycle and frame */
void props_init(const dm_host_api *) {}
void props_shutdown() {}
bool props_tick(const dm_frame_info *) { return false; }
void props_draw(uint64_t) {}
bool props_any_live() { return false; }

/* console */
void props_command(const char *) { core_not_in_build("model"); }

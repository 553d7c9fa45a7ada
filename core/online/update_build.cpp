// The updater's build-time values. The build id and the release key come
// from the build (core/online/sources.cmake writes dm_build_id.h at every build);
// a target may set its own with compile definitions, as the tests' cores do.
#include "online/online.h"
#include "online/update.h"
#include "dm_build_id.h"

#ifndef DM_UPDATE_BUILD_ID
#define DM_UPDATE_BUILD_ID DM_BUILD_ID_DESCRIBED
#endif
#ifndef DM_UPDATE_RELEASE_KEY
#define DM_UPDATE_RELEASE_KEY DM_RELEASE_KEY_CONFIGURED
#endif
#ifndef DM_UPDATE_RECEIVE_MS
#define DM_UPDATE_RECEIVE_MS 20000
#endif
#ifndef DM_UPDATE_MANIFEST_DEADLINE_MS
#define DM_UPDATE_MANIFEST_DEADLINE_MS 60000
#endif
#ifndef DM_UPDATE_FILE_DEADLINE_MS
#define DM_UPDATE_FILE_DEADLINE_MS 900000 /* 64 MiB at about 600 kbit/s */
#endif

const char *update_build_id() { return update_build.build_id; }

const update_build_values update_build = {
    DM_UPDATE_BUILD_ID, DM_UPDATE_RELEASE_KEY, DM_UPDATE_RECEIVE_MS, DM_UPDATE_MANIFEST_DEADLINE_MS,
    DM_UPDATE_FILE_DEADLINE_MS,
};

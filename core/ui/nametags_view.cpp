// The game thread's side of the name tags: the game's active camera, read
// through probed and guarded reads (a page that cannot be read, a guard page
// included, gives no camera and is never touched), and the snapshot of the
// view and the players' tag records, published whole under dm_view_lock.
#include <windows.h>
#include <string.h>
#include <stdio.h>
#include "base/game_mem.h"
#include "ui/nametags.h"
#include "net/net.h"

namespace {

SRWLOCK dm_view_lock = SRWLOCK_INIT;
dm_view_snapshot published;
uint32_t generation; /* 0 until the first publish */
dm_view_snapshot working; /* game thread only */

/* One camera pointer from a list of u64 entries. */
uint64_t list_entry(uint64_t list, uint64_t index)
{
    uint64_t camera = 0;
    if (!list || !game_read_guarded(list + 8 * index, &camera))
        return 0;
    return camera;
}

void fill_record(dm_tag_record *r, uint16_t id, const net_pose *pose)
{
    memset(r, 0, sizeof *r);
    r->id = id;
    const char *name = net_player_name(id);
    snprintf(r->name, sizeof r->name, "%s", name ? name : "?");
    r->tag_colour = 0xFFFFFF;
    r->name_colour = DM_TAG_NAME_NONE;
    const char *role = nullptr;
    uint32_t tag_colour = 0, name_colour = 0;
    if (net_player_role(id, &role, &tag_colour, &name_colour)) {
        r->tag_colour = tag_colour;
        r->name_colour = name_colour;
        snprintf(r->tag, sizeof r->tag, "%s", role ? role : "");
    }
    r->anchor[0] = pose->pos[0];
    r->anchor[1] = pose->pos[1] + DM_TAG_ANCHOR_LIFT;
    r->anchor[2] = pose->pos[2];
}

} // namespace

uint64_t dm_cam_get_active()
{
    uint64_t ctrl = 0, manager = 0;
    if (!game_read_guarded(game_addr(GAME_OFF_CTRL), &ctrl) || !ctrl ||
        !game_read_guarded(ctrl + GAME_CTRL_CAMERA_MANAGER, &manager) || !manager)
        return 0;
    uint32_t overrides = 0;
    if (!game_read_guarded(manager + GAME_CAMMGR_OVERRIDE_COUNT, &overrides))
        return 0;
    if (overrides != 0) {
        uint64_t list = 0;
        return game_read_guarded(manager + GAME_CAMMGR_OVERRIDES, &list) ? list_entry(list, 0) : 0;
    }
    uint32_t index = 0;
    uint64_t array = 0, count = 0;
    if (!game_read_guarded(manager + GAME_CAMMGR_ACTIVE_INDEX, &index) ||
        !game_read_guarded(manager + GAME_CAMMGR_ARRAY, &array) ||
        !game_read_guarded(manager + GAME_CAMMGR_ARRAY_COUNT, &count))
        return 0;
    if ((int32_t)index < 0 || (uint64_t)(int32_t)index >= count)
        return 0;
    return list_entry(array, (uint64_t)(int32_t)index);
}

bool dm_cam_view_from(uint64_t camera, dm_cam_view *out)
{
    dm_cam_fields f;
    uint64_t at = camera + GAME_CAMERA_FIELDS;
    if (!camera || !game_copy_guarded(&f, at, sizeof f))
        return false;
    return dm_cam_view_build(&f, out);
}

void dm_view_reset()
{
    AcquireSRWLockExclusive(&dm_view_lock);
    memset(&published, 0, sizeof published);
    generation = 0;
    ReleaseSRWLockExclusive(&dm_view_lock);
}

void dm_view_snapshot_update(const dm_frame_info *info)
{
    dm_view_snapshot *s = &working;
    s->valid = 0;
    memset(&s->view, 0, sizeof s->view);
    // The camera is game memory: on another game build it is not read at all.
    if (game_build_ok()) {
        uint64_t camera = dm_cam_get_active();
        s->valid = camera && dm_cam_view_from(camera, &s->view) ? 1 : 0;
    }
    s->count = 0;
    uint16_t ids[DM_TAGS_MAX];
    int n = net_list_players(ids, DM_TAGS_MAX);
    for (int i = 0; i < n && s->count < DM_TAGS_MAX; i++) {
        net_pose pose;
        if (net_sample_player(ids[i], info->seconds, &pose))
            fill_record(&s->tags[s->count++], ids[i], &pose);
    }
    AcquireSRWLockExclusive(&dm_view_lock);
    memcpy(&published, s, sizeof published);
    generation++;
    if (generation == 0) // 0 means "never published"
        generation = 1;
    ReleaseSRWLockExclusive(&dm_view_lock);
}

bool dm_view_snapshot_copy(dm_view_snapshot *out)
{
    AcquireSRWLockShared(&dm_view_lock);
    bool any = generation != 0;
    if (any)
        memcpy(out, &published, sizeof *out);
    ReleaseSRWLockShared(&dm_view_lock);
    return any;
}

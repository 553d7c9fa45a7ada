// The game thread's side of the name tags: the game's active camera, found
// through game_ctrl and the camera manager (probed when taken, then read
// under one guard) and read through a probed, guarded copy (a camera page
// that cannot be read, a guard page included, gives no camera and is never
// touched), and the snapshot of the view and the players' tag records,
// published whole under view_lock.
#include <windows.h>
#include <string.h>
#include <stdio.h>
#include "dm_guard.h"
#include "base/game_mem.h"
#include "ui/nametags.h"
#include "net/net.h"

namespace {

SRWLOCK view_lock = SRWLOCK_INIT;
view_snapshot published;
uint32_t generation; /* 0 until the first publish */
view_snapshot working; /* game thread only */

/* game_ctrl and its camera manager, each probed when it is taken (a
 * profile loaded, a manager made), up to the last field read from it. */
game_taken taken_ctrl, taken_manager;
const size_t manager_bytes = GAME_CAMMGR_OVERRIDE_COUNT + 4;

void fill_record(tag_record *r, uint16_t id, const net_pose *pose)
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

uint64_t cam_get_active()
{
    uint64_t ctrl = game_take(&taken_ctrl, game_ctrl_guarded(), GAME_CTRL_CAMERA_MANAGER + 8), manager = 0;
    if (!ctrl || !game_copy_unprobed(&manager, ctrl + GAME_CTRL_CAMERA_MANAGER, sizeof manager) ||
        !game_take(&taken_manager, manager, manager_bytes))
        return 0;
    // The manager's fields and one entry of its lists, under one guard: a
    // list that went away reads as no camera.
    uint64_t camera = 0;
    dm_guarded([&] {
        if (game_field<uint32_t>(manager, GAME_CAMMGR_OVERRIDE_COUNT) != 0) {
            uint64_t list = game_field<uint64_t>(manager, GAME_CAMMGR_OVERRIDES);
            camera = list ? game_field<uint64_t>(list, 0) : 0;
            return;
        }
        int32_t index = game_field<int32_t>(manager, GAME_CAMMGR_ACTIVE_INDEX);
        uint64_t array = game_field<uint64_t>(manager, GAME_CAMMGR_ARRAY);
        uint64_t count = game_field<uint64_t>(manager, GAME_CAMMGR_ARRAY_COUNT);
        if (array && index >= 0 && (uint64_t)index < count)
            camera = game_field<uint64_t>(array, (uint32_t)(8 * (uint64_t)index));
    });
    return camera;
}

bool cam_view_from(uint64_t camera, cam_view *out)
{
    // The camera stays probed in every frame: the game switches cameras and
    // protects a camera's pages under a pointer that stays, and a guard
    // page among them must never be touched.
    cam_fields f;
    uint64_t at = camera + GAME_CAMERA_FIELDS;
    if (!camera || !game_copy_guarded(&f, at, sizeof f))
        return false;
    return cam_view_build(&f, out);
}

void view_reset()
{
    AcquireSRWLockExclusive(&view_lock);
    memset(&published, 0, sizeof published);
    generation = 0;
    ReleaseSRWLockExclusive(&view_lock);
}

void view_snapshot_update(const dm_frame_info *info)
{
    view_snapshot *s = &working;
    s->valid = 0;
    memset(&s->view, 0, sizeof s->view);
    // The camera is game memory: on another game build it is not read at all.
    if (game_build_ok()) {
        uint64_t camera = cam_get_active();
        s->valid = camera && cam_view_from(camera, &s->view) ? 1 : 0;
    }
    s->count = 0;
    uint16_t ids[DM_TAGS_MAX];
    int n = net_list_players(ids, DM_TAGS_MAX);
    for (int i = 0; i < n && s->count < DM_TAGS_MAX; i++) {
        net_pose pose;
        if (net_sample_player(ids[i], info->seconds, &pose))
            fill_record(&s->tags[s->count++], ids[i], &pose);
    }
    AcquireSRWLockExclusive(&view_lock);
    memcpy(&published, s, sizeof published);
    generation++;
    if (generation == 0) // 0 means "never published"
        generation = 1;
    ReleaseSRWLockExclusive(&view_lock);
}

bool view_snapshot_copy(view_snapshot *out)
{
    AcquireSRWLockShared(&view_lock);
    bool any = generation != 0;
    if (any)
        memcpy(out, &published, sizeof *out);
    ReleaseSRWLockShared(&view_lock);
    return any;
}

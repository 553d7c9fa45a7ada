// Our own truck's sample: the local truck's pose for the network (the
// "net_tick" frame step samples it every 0.1 s), from the game's truck and
// its coupled trailer on the supported build. Game thread only.
#include <math.h>
#include <string.h>
#include "base/game_mem.h"
#include "net/net.h"
#include "vehicles/motion_math.h"
#include "vehicles/vehicle_game.h"
#include "vehicles/vehicles.h"

namespace {

const uint32_t lights_cleared = MOTION_LIGHT_GAME_BIT; /* the game's own bit: never sent */

const double velocity_dt_min = 0.02, velocity_dt_max = 1.0;
const double velocity_max = 100.0; /* m/s; faster is a jump, not motion */

/* The previous truck placement, for the velocity. */
struct local_sample {
    placement last;
    double time;
    bool valid;
} local;

bool horn_sounding(uint64_t block, uint32_t offset)
{
    uint64_t sound = 0;
    uint32_t state = 0;
    return game_read_guarded(block + offset, &sound) && sound && game_read_guarded(sound + sound_state, &state) &&
           state == 2;
}

bool sample_game_truck(const dm_frame_info *info, net_pose *out)
{
    uint64_t block = game_player_block_guarded(), truck = block ? game_local_truck() : 0;
    if (!truck)
        return false;
    placement here;
    if (game_object_placement(truck, &here) != GAME_PLACEMENT_OK)
        return false;

    memset(out, 0, sizeof *out);
    out->flags = info->paused ? 5 : 4;
    placement_world(&here, out->pos);
    out->rot[0] = here.qw;
    out->rot[1] = here.qx;
    out->rot[2] = here.qy;
    out->rot[3] = here.qz;

    double now = info->seconds;
    if (local.valid) {
        double dt = now - local.time;
        if (dt > velocity_dt_min && dt < velocity_dt_max) {
            double before[3], v[3];
            placement_world(&local.last, before);
            bool plausible = true;
            for (int i = 0; i < 3; i++) {
                v[i] = (out->pos[i] - before[i]) / dt;
                plausible = plausible && fabs(v[i]) < velocity_max;
            }
            if (plausible)
                for (int i = 0; i < 3; i++)
                    out->vel[i] = (float)v[i];
        }
    }
    local.last = here;
    local.time = now;
    local.valid = true;

    game_read_guarded(truck + actor_off::steering, &out->steering);
    out->speed = info->speed;

    uint32_t lights = 0;
    if (game_read_guarded(truck + actor_off::lights, &lights)) {
        out->has_lights = 1;
        out->lights = lights & ~lights_cleared;
        out->horns = (horn_sounding(block, player_block_sounds[0]) ? 1 : 0) |
                     (horn_sounding(block, player_block_sounds[1]) ? 2 : 0);
    }

    uint64_t trailer = 0, coupled = 0;
    placement hitched;
    if (game_read_guarded(block + GAME_PLAYER_TRAILER, &trailer) && game_is_trailer_actor(trailer) &&
        game_read_guarded(trailer + actor_off::coupled_to, &coupled) && coupled == truck &&
        game_object_placement(trailer, &hitched) == GAME_PLACEMENT_OK) {
        out->has_trailer = 1;
        placement_world(&hitched, out->trailer_pos);
        out->trailer_rot[0] = hitched.qw;
        out->trailer_rot[1] = hitched.qx;
        out->trailer_rot[2] = hitched.qy;
        out->trailer_rot[3] = hitched.qz;
    }
    return true;
}

} // namespace

bool net_sample_local(const dm_frame_info *info, net_pose *out)
{
    if (!game_build_ok()) {
        net_sample_local_telemetry(info, out);
        return true;
    }
    return sample_game_truck(info, out);
}

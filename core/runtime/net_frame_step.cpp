// The "net_tick" frame step: the local truck sampled every 0.1 s (a recording
// row, and our state for the server while connected), auto-connect, the
// network client's tick, then the remote-player glue, whose vehicle for a
// remote player asks for the draw hook. Game thread only.
#include "runtime/auto_connect.h"
#include "net/net.h"
#include "runtime/runtime.h"
#include "vehicles/vehicles.h"

namespace {

const double sample_period = 0.1;
double next_sample_time;

} // namespace

void net_tick_step(const dm_frame_info *info)
{
    double now = info->seconds;
    net_pose pose;
    bool sampled = false;
    if (now >= next_sample_time) {
        next_sample_time = now + sample_period;
        if (net_recording_is_open() || net_is_open()) {
            sampled = net_sample_local(info, &pose);
            if (sampled && net_recording_is_open())
                net_recording_write(now, &pose);
        }
    }
    net_auto_connect_tick(now);
    net_tick(now);
    if (net_is_open() && sampled)
        net_send_state(now, &pose);
    if (remote_glue_tick(now))
        draw_hook_ask(DRAW_HOOK_FOR_REMOTE_VEHICLE);
}

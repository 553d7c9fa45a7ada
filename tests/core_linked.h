/* The start of a test that links the core's code into the simulated game and
 * calls it directly: a fresh game with its vehicle world, and the core's
 * globals as its init sets them (the image base; the host interface, whose
 * log goes into the captured lines). */
#pragma once
#include <windows.h>
#include "base/core.h"
#include "log_capture.h"
#include "sim/sim_vehicles.h"

namespace fx {

inline void core_linked_setup(dm_host_api &api)
{
    sim::game_reset();
    sim::vehicle_world_install();
    game_base = (uint64_t)(uintptr_t)GetModuleHandleA(nullptr);
    api = { 24, 1, fx::capture_log, "" };
    core_api = &api;
    fx::captured_clear();
}

} // namespace fx

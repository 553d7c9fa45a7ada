/* The simulated game's DirectInput devices: the device table's Acquire,
 * Unacquire, GetDeviceState and GetDeviceData slots are wrapped (below any
 * later hook) so that the game's keyboard and mouse return scripted input,
 * under Windows' acquire rules: a device buffers events only while it is
 * acquired, and an unacquired device fails its reads. Exported by dm_sim.dll;
 * the devices are made by render_open. */
#pragma once
#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <dinput.h>
#include <stdint.h>
#include "sim/sim.h"

namespace sim {

enum di_kind { DI_KEYBOARD = 1, DI_MOUSE = 2 };
SIM_API IDirectInputDevice8W *di_device(di_kind kind);
/* Sets a key's state byte and, while the device is acquired, queues one
 * buffered record for it. */
SIM_API void di_script_key(uint8_t code, bool down);
SIM_API void di_script_mouse(int dx, int dy, bool button0);
SIM_API int di_acquired(di_kind kind);      /* 1 while the device is acquired */
SIM_API int di_unacquire_count(di_kind kind);
/* Another device (kind other): a game controller the game also reads. */
SIM_API IDirectInputDevice8W *di_extra_device(int index);

} // namespace sim

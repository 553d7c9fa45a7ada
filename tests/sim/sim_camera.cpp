// The simulated game's camera manager and camera objects (see sim_camera.h).
#include "sim/sim_camera.h"

namespace sim {

camera_manager camera_manager_create(const player &p, int count)
{
    camera_manager m;
    m.object = object_new(camera_manager_size);
    m.array = (uint64_t *)object_new(8 * camera_array_max);
    m.overrides = (uint64_t *)object_new(8);
    if (count > camera_array_max)
        count = camera_array_max;
    for (int i = 0; i < count; i++)
        m.array[i] = (uint64_t)(uintptr_t)camera_new(camera_values());
    put<uint64_t>(m.object, cam_off::array, (uint64_t)(uintptr_t)m.array);
    put<uint64_t>(m.object, cam_off::array_count, (uint64_t)count);
    put<uint64_t>(m.object, cam_off::overrides, (uint64_t)(uintptr_t)m.overrides);
    put<uint32_t>(m.object, cam_off::override_count, 0);
    put<int32_t>(m.object, cam_off::active_index, 0);
    put<uint64_t>(p.ctrl, cam_off::ctrl_manager, (uint64_t)(uintptr_t)m.object);
    return m;
}

uint8_t *camera_new(const camera_values &v, size_t size)
{
    uint8_t *camera = object_new(size);
    if (camera && size >= cam_off::orientation + 16)
        camera_set(camera, v);
    return camera;
}

void camera_set(uint8_t *camera, const camera_values &v)
{
    put<float>(camera, cam_off::fov_h, v.fov_h);
    put<float>(camera, cam_off::fov_v, v.fov_v);
    put<float>(camera, cam_off::position, v.x);
    put<float>(camera, cam_off::position + 4, v.y);
    put<float>(camera, cam_off::position + 8, v.z);
    put<int16_t>(camera, cam_off::sector_x, v.sector_x);
    put<int16_t>(camera, cam_off::sector_z, v.sector_z);
    for (int i = 0; i < 4; i++)
        put<float>(camera, cam_off::orientation + 4 * i, v.q[i]);
}

void camera_set_active(const camera_manager &m, int32_t index) { put<int32_t>(m.object, cam_off::active_index, index); }

void camera_set_override(const camera_manager &m, uint8_t *camera)
{
    m.overrides[0] = (uint64_t)(uintptr_t)camera;
    put<uint32_t>(m.object, cam_off::override_count, camera ? 1u : 0u);
}

void camera_put(const camera_manager &m, int index, uint8_t *camera)
{
    if (index >= 0 && index < camera_array_max)
        m.array[index] = (uint64_t)(uintptr_t)camera;
}

} // namespace sim

// The simulated game's wear values on the truck's and trailers' definitions.
#include "sim/sim_wear.h"

namespace sim {

namespace {

void wheels_put(uint8_t *def, uint32_t ptr_at, uint32_t count_at, const std::vector<float> &v)
{
    uint8_t *array = nullptr;
    if (!v.empty()) {
        array = object_new(v.size() * sizeof(float));
        memcpy(array, v.data(), v.size() * sizeof(float));
    }
    put<uint64_t>(def, ptr_at, (uint64_t)(uintptr_t)array);
    put<uint64_t>(def, count_at, v.size());
}

std::vector<float> wheels_get(const uint8_t *def, uint32_t ptr_at, uint32_t count_at)
{
    const float *array = (const float *)(uintptr_t)get<uint64_t>(def, ptr_at);
    uint64_t n = get<uint64_t>(def, count_at);
    return array ? std::vector<float>(array, array + n) : std::vector<float>();
}

} // namespace

void wear_set(uint8_t *def, bool truck, const wear_values &w)
{
    using namespace wear_off;
    if (truck) {
        const float *parts[] = { w.engine, w.transmission, w.cabin };
        uint32_t at[] = { engine, transmission, cabin };
        for (int i = 0; i < 3; i++) {
            put<float>(def, at[i], parts[i][0]);
            put<float>(def, at[i] + unfixable_step, parts[i][1]);
        }
    } else {
        put<float>(def, body_fix, w.body[0]);
        put<float>(def, body_unfix, w.body[1]);
        put<float>(def, cargo, w.cargo);
    }
    put<float>(def, chassis_fix, w.chassis[0]);
    put<float>(def, chassis_unfix, w.chassis[1]);
    wheels_put(def, wheels_fix, wheels_fix_count, w.wheels_fix);
    wheels_put(def, wheels_unfix, wheels_unfix_count, w.wheels_unfix);
}

wear_values wear_get(const uint8_t *def, bool truck)
{
    using namespace wear_off;
    wear_values w = {};
    if (truck) {
        float *parts[] = { w.engine, w.transmission, w.cabin };
        uint32_t at[] = { engine, transmission, cabin };
        for (int i = 0; i < 3; i++) {
            parts[i][0] = get<float>(def, at[i]);
            parts[i][1] = get<float>(def, at[i] + unfixable_step);
        }
    } else {
        w.body[0] = get<float>(def, body_fix);
        w.body[1] = get<float>(def, body_unfix);
        w.cargo = get<float>(def, cargo);
    }
    w.chassis[0] = get<float>(def, chassis_fix);
    w.chassis[1] = get<float>(def, chassis_unfix);
    w.wheels_fix = wheels_get(def, wheels_fix, wheels_fix_count);
    w.wheels_unfix = wheels_get(def, wheels_unfix, wheels_unfix_count);
    return w;
}

void trailer_couple(uint8_t *def, const uint8_t *next)
{
    put<uint64_t>(def, wear_off::next_trailer, (uint64_t)(uintptr_t)next);
}

} // namespace sim

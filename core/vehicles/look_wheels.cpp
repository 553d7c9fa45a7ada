// Wheel offsets of a look-built definition: wheels of one model numbered
// 0, 2, 4 ... in list order. Pure logic.
#include "vehicles/vehicle_defs.h"

uint16_t look_wheel_offset(look_wheel_table *t, uint64_t key)
{
    int i = 0;
    while (i < t->count && t->key[i] != key)
        i++;
    if (i == t->count) {
        if (t->count >= LOOK_WHEEL_MODELS)
            return 0;
        t->key[i] = key;
        t->next[i] = 0;
        t->count++;
    }
    uint32_t offset = t->next[i];
    t->next[i] += 2;
    return (uint16_t)offset;
}

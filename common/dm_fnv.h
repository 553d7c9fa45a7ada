/* FNV-1a, 32 bits: the one hash of accessory lists, avatars and nonces. Pure. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#define DM_FNV1A_BASIS 0x811C9DC5u
#define DM_FNV1A_PRIME 0x01000193u

/* Continues hash h over len bytes (start with DM_FNV1A_BASIS). */
static inline uint32_t dm_fnv1a(uint32_t h, const void *data, size_t len)
{
    const uint8_t *b = (const uint8_t *)data;
    for (size_t i = 0; i < len; i++)
        h = (h ^ b[i]) * DM_FNV1A_PRIME;
    return h;
}

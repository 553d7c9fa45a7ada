// EdDSA over edwards25519 with BLAKE2b-512, composed from libsodium's group
// and scalar operations:
//   h = BLAKE2b-512(seed); a = clamp(h[0..31]); A = [a]B
//   r = BLAKE2b-512(h[32..63] || M) mod L; R = [r]B
//   k = BLAKE2b-512(R || A || M) mod L; S = r + k*a mod L; signature R || S
// The check refuses S >= L and keys or R that are not points of the group,
// then compares [S]B - [k]A with R.
#include "net_key.h"
#include <sodium.h>
#include <stdio.h>
#include <string.h>

void crypto_blake2b(uint8_t *hash, size_t hash_size, const uint8_t *message, size_t message_size)
{
    crypto_generichash_blake2b(hash, hash_size, message, message_size, nullptr, 0);
}

static void hash_reduce(uint8_t out[32], const uint8_t *a, size_t an, const uint8_t *b, size_t bn,
                        const uint8_t *c, size_t cn)
{
    crypto_generichash_blake2b_state st;
    uint8_t h[64];
    crypto_generichash_blake2b_init(&st, nullptr, 0, 64);
    crypto_generichash_blake2b_update(&st, a, an);
    if (bn)
        crypto_generichash_blake2b_update(&st, b, bn);
    if (cn)
        crypto_generichash_blake2b_update(&st, c, cn);
    crypto_generichash_blake2b_final(&st, h, 64);
    crypto_core_ed25519_scalar_reduce(out, h);
    sodium_memzero(h, sizeof h);
}

static void expand_seed(const uint8_t seed[32], uint8_t h[64], uint8_t a[32])
{
    crypto_blake2b(h, 64, seed, 32);
    memcpy(a, h, 32);
    a[0] &= 248;
    a[31] &= 127;
    a[31] |= 64;
}

void crypto_eddsa_key_pair(uint8_t secret_key[64], uint8_t public_key[32], const uint8_t seed[32])
{
    uint8_t h[64], a[32], pub[32];
    expand_seed(seed, h, a);
    crypto_scalarmult_ed25519_base_noclamp(pub, a);
    memmove(secret_key, seed, 32);
    memcpy(secret_key + 32, pub, 32);
    memcpy(public_key, pub, 32);
    sodium_memzero(h, sizeof h);
    sodium_memzero(a, sizeof a);
}

void crypto_eddsa_sign(uint8_t signature[64], const uint8_t secret_key[64], const uint8_t *message,
                       size_t message_size)
{
    uint8_t h[64], a[32], wide[64] = {0}, a_red[32], r[32], R[32], k[32], ka[32], S[32];
    expand_seed(secret_key, h, a);
    memcpy(wide, a, 32);
    crypto_core_ed25519_scalar_reduce(a_red, wide);
    hash_reduce(r, h + 32, 32, message, message_size, nullptr, 0);
    crypto_scalarmult_ed25519_base_noclamp(R, r);
    uint8_t ra[64];
    memcpy(ra, R, 32);
    memcpy(ra + 32, secret_key + 32, 32);
    hash_reduce(k, ra, 64, message, message_size, nullptr, 0);
    crypto_core_ed25519_scalar_mul(ka, k, a_red);
    crypto_core_ed25519_scalar_add(S, r, ka);
    memcpy(signature, R, 32);
    memcpy(signature + 32, S, 32);
    sodium_memzero(h, sizeof h);
    sodium_memzero(a, sizeof a);
    sodium_memzero(wide, sizeof wide);
    sodium_memzero(a_red, sizeof a_red);
    sodium_memzero(r, sizeof r);
}

int crypto_eddsa_check(const uint8_t signature[64], const uint8_t public_key[32], const uint8_t *message,
                       size_t message_size)
{
    const uint8_t *R = signature, *S = signature + 32;
    uint8_t wide[64] = {0}, s_red[32];
    memcpy(wide, S, 32);
    crypto_core_ed25519_scalar_reduce(s_red, wide);
    if (memcmp(s_red, S, 32) != 0) /* S >= L */
        return -1;
    if (!crypto_core_ed25519_is_valid_point(public_key) || !crypto_core_ed25519_is_valid_point(R))
        return -1;
    uint8_t ra[64], k[32], sb[32], ka[32], check[32];
    memcpy(ra, R, 32);
    memcpy(ra + 32, public_key, 32);
    hash_reduce(k, ra, 64, message, message_size, nullptr, 0);
    if (crypto_scalarmult_ed25519_base_noclamp(sb, S) != 0)
        return -1;
    if (crypto_scalarmult_ed25519_noclamp(ka, k, public_key) != 0)
        return -1;
    if (crypto_core_ed25519_sub(check, sb, ka) != 0)
        return -1;
    return sodium_memcmp(check, R, 32) == 0 ? 0 : -1;
}

void net_key_fingerprint(const uint8_t public_key[32], char out[17])
{
    uint8_t h[32];
    crypto_blake2b(h, 32, public_key, 32);
    for (int i = 0; i < 8; i++)
        snprintf(out + 2 * i, 3, "%02x", h[i]);
}

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool net_key_parse_line(const char *line, uint8_t seed[32])
{
    for (int i = 0; i < 32; i++) {
        int hi = hex_value(line[2 * i]);
        if (hi < 0)
            return false;
        int lo = hex_value(line[2 * i + 1]);
        if (lo < 0)
            return false;
        seed[i] = (uint8_t)(hi * 16 + lo);
    }
    return true;
}

int net_key_file_text(const uint8_t seed[32], char *out, size_t size)
{
    char hex[65];
    for (int i = 0; i < 32; i++)
        snprintf(hex + 2 * i, 3, "%02x", seed[i]);
    return snprintf(out, size,
                    "%s\n# drovemark player key: proves who you are to servers (roles, bans). Keep it "
                    "private; don't share it.\n",
                    hex);
}

// EdDSA over edwards25519 with BLAKE2b-512, composed from libsodium's group
// and scalar operations:
//   h = BLAKE2b-512(seed); a = clamp(h[0..31]); A = [a]B
//   r = BLAKE2b-512(h[32..63] || M) mod L; R = [r]B
//   k = BLAKE2b-512(R || A || M) mod L; S = r + k*a mod L; signature R || S
// The check refuses S >= L and keys or R that are not points of the group,
// then compares [S]B - [k]A with R.
#include "net/net_key.h"
#include "dm_hex.h"
#include <sodium.h>
#include <stdio.h>
#include <string.h>

void crypto_blake2b(uint8_t *hash, size_t hash_size, const uint8_t *message, size_t message_size)
{
    crypto_generichash_blake2b(hash, hash_size, message, message_size, nullptr, 0);
}

/* BLAKE2b-512 of a || b, through the given state. */
static void hash_two(crypto_generichash_blake2b_state *state, uint8_t digest[64], const uint8_t *a, size_t an,
                     const uint8_t *b, size_t bn)
{
    crypto_generichash_blake2b_init(state, nullptr, 0, 64);
    crypto_generichash_blake2b_update(state, a, an);
    if (bn)
        crypto_generichash_blake2b_update(state, b, bn);
    crypto_generichash_blake2b_final(state, digest, 64);
}

/* h = BLAKE2b-512(seed), a = clamp(h[0..31]) */
static void expand_seed(net_eddsa_sign_scratch *s, const uint8_t seed[32])
{
    hash_two(&s->hash, s->digest, seed, 32, nullptr, 0);
    memcpy(s->expanded, s->digest, 64);
    memcpy(s->scalar, s->expanded, 32);
    s->scalar[0] &= 248;
    s->scalar[31] &= 127;
    s->scalar[31] |= 64;
}

void crypto_eddsa_key_pair(uint8_t secret_key[64], uint8_t public_key[32], const uint8_t seed[32])
{
    net_eddsa_sign_scratch s;
    uint8_t pub[32];
    expand_seed(&s, seed);
    crypto_scalarmult_ed25519_base_noclamp(pub, s.scalar);
    memmove(secret_key, seed, 32);
    memcpy(secret_key + 32, pub, 32);
    memcpy(public_key, pub, 32);
    sodium_memzero(&s, sizeof s);
}

void net_eddsa_sign_with(net_eddsa_sign_scratch *s, uint8_t signature[64], const uint8_t secret_key[64],
                         const uint8_t *message, size_t message_size)
{
    expand_seed(s, secret_key);
    memset(s->wide, 0, sizeof s->wide);
    memcpy(s->wide, s->scalar, 32);
    crypto_core_ed25519_scalar_reduce(s->scalar_reduced, s->wide);
    hash_two(&s->hash, s->digest, s->expanded + 32, 32, message, message_size);
    crypto_core_ed25519_scalar_reduce(s->nonce, s->digest);
    crypto_scalarmult_ed25519_base_noclamp(s->commitment, s->nonce);
    memcpy(s->commitment_and_key, s->commitment, 32);
    memcpy(s->commitment_and_key + 32, secret_key + 32, 32);
    hash_two(&s->hash, s->digest, s->commitment_and_key, 64, message, message_size);
    crypto_core_ed25519_scalar_reduce(s->challenge, s->digest);
    crypto_core_ed25519_scalar_mul(s->challenge_times_scalar, s->challenge, s->scalar_reduced);
    crypto_core_ed25519_scalar_add(s->response, s->nonce, s->challenge_times_scalar);
    memcpy(signature, s->commitment, 32);
    memcpy(signature + 32, s->response, 32);
    sodium_memzero(s, sizeof *s);
}

void crypto_eddsa_sign(uint8_t signature[64], const uint8_t secret_key[64], const uint8_t *message,
                       size_t message_size)
{
    net_eddsa_sign_scratch scratch;
    net_eddsa_sign_with(&scratch, signature, secret_key, message, message_size);
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
    crypto_generichash_blake2b_state state;
    uint8_t r_and_key[64], digest[64], k[32], sb[32], ka[32], check[32];
    memcpy(r_and_key, R, 32);
    memcpy(r_and_key + 32, public_key, 32);
    hash_two(&state, digest, r_and_key, 64, message, message_size);
    crypto_core_ed25519_scalar_reduce(k, digest);
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

bool net_key_parse_line(const char *line, uint8_t seed[32])
{
    for (int i = 0; i < 32; i++) {
        int hi = dm_hex_digit(line[2 * i]);
        if (hi < 0)
            return false;
        int lo = dm_hex_digit(line[2 * i + 1]);
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

/* The player key's cryptography: EdDSA over edwards25519 with BLAKE2b-512
 * (the key pair, signing and checking), BLAKE2b of any digest length, the
 * key fingerprint and the identity.key line. No windows.h. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <sodium.h>

/* secret_key = seed || public key */
void crypto_eddsa_key_pair(uint8_t secret_key[64], uint8_t public_key[32], const uint8_t seed[32]);
void crypto_eddsa_sign(uint8_t signature[64], const uint8_t secret_key[64], const uint8_t *message,
                       size_t message_size);
/* Every value signing derives from the secret key, kept in one place so that
 * all of it is wiped before signing returns. crypto_eddsa_sign keeps one on
 * its stack; net_eddsa_sign_with signs through the caller's (tests look at
 * it afterwards). */
typedef struct net_eddsa_sign_scratch {
    crypto_generichash_blake2b_state hash;
    uint8_t digest[64];                /* the last BLAKE2b-512 */
    uint8_t expanded[64];              /* h = BLAKE2b-512(seed) */
    uint8_t scalar[32];                /* a = clamp(h[0..31]) */
    uint8_t wide[64];                  /* a widened for its reduction */
    uint8_t scalar_reduced[32];        /* a mod L */
    uint8_t nonce[32];                 /* r */
    uint8_t commitment[32];            /* R = [r]B */
    uint8_t commitment_and_key[64];    /* R || A */
    uint8_t challenge[32];             /* k */
    uint8_t challenge_times_scalar[32]; /* k*a */
    uint8_t response[32];              /* S = r + k*a */
} net_eddsa_sign_scratch;
void net_eddsa_sign_with(net_eddsa_sign_scratch *scratch, uint8_t signature[64], const uint8_t secret_key[64],
                         const uint8_t *message, size_t message_size);
/* 0 when the signature holds, -1 otherwise */
int crypto_eddsa_check(const uint8_t signature[64], const uint8_t public_key[32], const uint8_t *message,
                       size_t message_size);
void crypto_blake2b(uint8_t *hash, size_t hash_size, const uint8_t *message, size_t message_size);

/* 16 lowercase hex characters of the first 8 bytes of BLAKE2b-256(public key). */
void net_key_fingerprint(const uint8_t public_key[32], char out[17]);
/* The seed from the first line of identity.key: 64 hex characters first,
 * anything may follow; false when any of them is not a hex digit. */
bool net_key_parse_line(const char *line, uint8_t seed[32]);
/* The whole identity.key text for a seed. */
int net_key_file_text(const uint8_t seed[32], char *out, size_t size);

#define NET_AUTH_PREFIX "drovemark-auth-v1"
#define NET_AUTH_PREFIX_LEN 17

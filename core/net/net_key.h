/* The player key's cryptography: EdDSA over edwards25519 with BLAKE2b-512
 * (the key pair, signing and checking), BLAKE2b of any digest length, the
 * key fingerprint and the identity.key line. No windows.h. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* secret_key = seed || public key */
void crypto_eddsa_key_pair(uint8_t secret_key[64], uint8_t public_key[32], const uint8_t seed[32]);
void crypto_eddsa_sign(uint8_t signature[64], const uint8_t secret_key[64], const uint8_t *message,
                       size_t message_size);
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

// SHA-256 and HMAC-SHA-256: the settings page's file hash and form token.
#pragma once

#include <stddef.h>
#include <stdint.h>

inline constexpr int SHA256_SIZE = 32;
inline constexpr int SHA256_HEX_SIZE = 2 * SHA256_SIZE + 1;

struct sha256_state {
  uint32_t h[8];
  uint64_t length;  // bytes hashed so far
  uint8_t block[64];
  size_t used;  // bytes waiting in block
};

void sha256_start(sha256_state* state);
void sha256_add(sha256_state* state, const void* data, size_t size);
void sha256_finish(sha256_state* state, uint8_t digest[SHA256_SIZE]);

void sha256(const void* data, size_t size, uint8_t digest[SHA256_SIZE]);

void hmac_sha256(const void* key, size_t key_size, const void* message, size_t message_size,
                 uint8_t mac[SHA256_SIZE]);

/// Lower-case hex of a digest, NUL-terminated.
void digest_hex(const uint8_t digest[SHA256_SIZE], char out[SHA256_HEX_SIZE]);

/// Compares two texts in time that does not depend on where they differ.
bool same_secret_text(const char* a, const char* b);

// SHA-256 and HMAC-SHA-256: the settings page's file hash and form token.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <time.h>

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

/// A message field of an HMAC over several.
struct hmac_field {
  const void* data;
  size_t size;
};

/// HMAC-SHA-256 over the fields, each preceded by its length (8 bytes, most
/// significant first): no two lists of fields give the same message, however
/// long a field.
void hmac_sha256_fields(const void* key, size_t key_size, const hmac_field* fields, int count,
                        uint8_t mac[SHA256_SIZE]);

/// A form token: the moment the form was made, ".", and the first hex
/// digits of the HMAC over the user, the file's hash and that moment.
///
/// A token expires: it binds the form to one state of the file, and a file
/// that goes from state A to B and back to A would otherwise accept A's
/// forms again. A time window needs no state on the router; a nonce would
/// need a store written on every page load, on flash, under a lock.
inline constexpr int FORM_TOKEN_MAC_DIGITS = 40;
inline constexpr int FORM_TOKEN_SIZE = 21 + FORM_TOKEN_MAC_DIGITS + 1;
inline constexpr long long FORM_TOKEN_LIFETIME_SECONDS = 3600;
/// A form made up to this long "after" now still counts: a clock corrected
/// by a few seconds must not refuse a form just made.
inline constexpr long long FORM_TOKEN_CLOCK_SLACK_SECONDS = 300;

void form_token(const unsigned char* secret, size_t secret_size, const char* user, const char* hash,
                time_t issued, char out[FORM_TOKEN_SIZE]);

enum class token_verdict { valid, forged, expired };

/// Whether token is one form_token made for user and hash within the
/// lifetime before now; compares in constant time.
token_verdict judge_token(const unsigned char* secret, size_t secret_size, const char* user,
                          const char* hash, const char* token, time_t now);

/// Lower-case hex of a digest, NUL-terminated.
void digest_hex(const uint8_t digest[SHA256_SIZE], char out[SHA256_HEX_SIZE]);

/// Compares two texts in time that does not depend on where they differ.
bool same_secret_text(const char* a, const char* b);

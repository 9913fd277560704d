#include "web/sha256.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr uint32_t ROUND_CONSTANTS[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr int BLOCK_SIZE = 64;

uint32_t rotate_right(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void compress(uint32_t h[8], const uint8_t block[BLOCK_SIZE]) {
  uint32_t w[64];
  for (size_t i = 0; i < 16; ++i) {
    w[i] = static_cast<uint32_t>(block[4 * i]) << 24 |
           static_cast<uint32_t>(block[4 * i + 1]) << 16 |
           static_cast<uint32_t>(block[4 * i + 2]) << 8 | block[4 * i + 3];
  }
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = rotate_right(w[i - 15], 7) ^ rotate_right(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = rotate_right(w[i - 2], 17) ^ rotate_right(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  // The working variables in locals, shifted by assignment: a memmove per
  // round made hashing the settings file a tenth of a page load.
  uint32_t a = h[0];
  uint32_t b = h[1];
  uint32_t c = h[2];
  uint32_t d = h[3];
  uint32_t e = h[4];
  uint32_t f = h[5];
  uint32_t g = h[6];
  uint32_t k = h[7];
  for (int i = 0; i < 64; ++i) {
    const uint32_t s1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
    const uint32_t choice = (e & f) ^ (~e & g);
    const uint32_t t1 = k + s1 + choice + ROUND_CONSTANTS[i] + w[i];
    const uint32_t s0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
    const uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
    k = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + s0 + majority;
  }
  h[0] += a;
  h[1] += b;
  h[2] += c;
  h[3] += d;
  h[4] += e;
  h[5] += f;
  h[6] += g;
  h[7] += k;
}

}  // namespace

void sha256_start(sha256_state* state) {
  static constexpr uint32_t INITIAL[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                          0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  *state = sha256_state{};
  memcpy(state->h, INITIAL, sizeof INITIAL);
}

void sha256_add(sha256_state* state, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  state->length += size;
  while (size > 0) {
    const size_t take = size < BLOCK_SIZE - state->used ? size : BLOCK_SIZE - state->used;
    memcpy(state->block + state->used, bytes, take);
    state->used += take;
    bytes += take;
    size -= take;
    if (state->used == BLOCK_SIZE) {
      compress(state->h, state->block);
      state->used = 0;
    }
  }
}

void sha256_finish(sha256_state* state, uint8_t digest[SHA256_SIZE]) {
  const uint64_t bits = state->length * 8;
  static constexpr uint8_t PAD[BLOCK_SIZE] = {0x80};
  const size_t pad = state->used < 56 ? 56 - state->used : 120 - state->used;
  sha256_add(state, PAD, pad);
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  sha256_add(state, length, sizeof length);
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 4; ++j)
      digest[4 * i + j] = static_cast<uint8_t>(state->h[i] >> (24 - 8 * j));
  }
}

void sha256(const void* data, size_t size, uint8_t digest[SHA256_SIZE]) {
  sha256_state state;
  sha256_start(&state);
  sha256_add(&state, data, size);
  sha256_finish(&state, digest);
}

namespace {

// The key padded to a block, as HMAC uses it.
void block_key_of(const void* key, size_t key_size, uint8_t block_key[BLOCK_SIZE]) {
  memset(block_key, 0, BLOCK_SIZE);
  if (key_size > BLOCK_SIZE) {
    sha256(key, key_size, block_key);
  } else {
    memcpy(block_key, key, key_size);
  }
}

void hmac_start(const uint8_t block_key[BLOCK_SIZE], sha256_state* inner) {
  uint8_t pad[BLOCK_SIZE];
  for (int i = 0; i < BLOCK_SIZE; ++i) pad[i] = block_key[i] ^ 0x36;
  sha256_start(inner);
  sha256_add(inner, pad, sizeof pad);
}

void hmac_finish(const uint8_t block_key[BLOCK_SIZE], sha256_state* inner,
                 uint8_t mac[SHA256_SIZE]) {
  uint8_t inner_digest[SHA256_SIZE];
  sha256_finish(inner, inner_digest);
  uint8_t pad[BLOCK_SIZE];
  for (int i = 0; i < BLOCK_SIZE; ++i) pad[i] = block_key[i] ^ 0x5c;
  sha256_state outer;
  sha256_start(&outer);
  sha256_add(&outer, pad, sizeof pad);
  sha256_add(&outer, inner_digest, sizeof inner_digest);
  sha256_finish(&outer, mac);
}

}  // namespace

void hmac_sha256(const void* key, size_t key_size, const void* message, size_t message_size,
                 uint8_t mac[SHA256_SIZE]) {
  uint8_t block_key[BLOCK_SIZE];
  block_key_of(key, key_size, block_key);
  sha256_state inner;
  hmac_start(block_key, &inner);
  sha256_add(&inner, message, message_size);
  hmac_finish(block_key, &inner, mac);
}

void hmac_sha256_fields(const void* key, size_t key_size, const hmac_field* fields, int count,
                        uint8_t mac[SHA256_SIZE]) {
  uint8_t block_key[BLOCK_SIZE];
  block_key_of(key, key_size, block_key);
  sha256_state inner;
  hmac_start(block_key, &inner);
  for (int i = 0; i < count; ++i) {
    uint8_t length[8];
    for (int b = 0; b < 8; ++b) {
      length[b] = static_cast<uint8_t>(static_cast<uint64_t>(fields[i].size) >> (56 - 8 * b));
    }
    sha256_add(&inner, length, sizeof length);
    sha256_add(&inner, fields[i].data, fields[i].size);
  }
  hmac_finish(block_key, &inner, mac);
}

void digest_hex(const uint8_t digest[SHA256_SIZE], char out[SHA256_HEX_SIZE]) {
  static constexpr char DIGITS[] = "0123456789abcdef";
  for (size_t i = 0; i < SHA256_SIZE; ++i) {
    out[2 * i] = DIGITS[digest[i] >> 4];
    out[2 * i + 1] = DIGITS[digest[i] & 15];
  }
  out[size_t{2} * SHA256_SIZE] = '\0';
}

bool same_secret_text(const char* a, const char* b) {
  const size_t length = strlen(a);
  if (length != strlen(b)) return false;
  unsigned difference = 0;
  for (size_t i = 0; i < length; ++i) difference |= static_cast<unsigned>(a[i] ^ b[i]);
  return difference == 0;
}

namespace {

// The MAC part of a token for a form made at issued.
void token_mac(const unsigned char* secret, size_t secret_size, const char* user, const char* hash,
               long long issued, char out[FORM_TOKEN_MAC_DIGITS + 1]) {
  char moment[24];
  snprintf(moment, sizeof moment, "%lld", issued);
  const hmac_field fields[] = {
      {user, strlen(user)}, {hash, strlen(hash)}, {moment, strlen(moment)}};
  uint8_t mac[SHA256_SIZE];
  hmac_sha256_fields(secret, secret_size, fields, 3, mac);
  char hex[SHA256_HEX_SIZE];
  digest_hex(mac, hex);
  memcpy(out, hex, FORM_TOKEN_MAC_DIGITS);
  out[FORM_TOKEN_MAC_DIGITS] = '\0';
}

}  // namespace

void form_token(const unsigned char* secret, size_t secret_size, const char* user, const char* hash,
                time_t issued, char out[FORM_TOKEN_SIZE]) {
  char mac[FORM_TOKEN_MAC_DIGITS + 1];
  token_mac(secret, secret_size, user, hash, static_cast<long long>(issued), mac);
  snprintf(out, FORM_TOKEN_SIZE, "%lld.%s", static_cast<long long>(issued), mac);
}

token_verdict judge_token(const unsigned char* secret, size_t secret_size, const char* user,
                          const char* hash, const char* token, time_t now) {
  // The moment: 1 to 18 digits, then ".".
  long long issued = 0;
  int used = 0;
  for (; token[used] >= '0' && token[used] <= '9' && used < 18; ++used) {
    issued = issued * 10 + (token[used] - '0');
  }
  if (used == 0 || token[used] != '.') return token_verdict::forged;
  ++used;
  char expected[FORM_TOKEN_MAC_DIGITS + 1];
  token_mac(secret, secret_size, user, hash, issued, expected);
  if (!same_secret_text(expected, token + used)) return token_verdict::forged;
  const long long age = static_cast<long long>(now) - issued;
  if (age > FORM_TOKEN_LIFETIME_SECONDS || age < -FORM_TOKEN_CLOCK_SLACK_SECONDS) {
    return token_verdict::expired;
  }
  return token_verdict::valid;
}

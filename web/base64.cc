#include "web/base64.h"

void base64(const uint8_t* data, int size, char* out) {
  static constexpr char DIGITS[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int used = 0;
  for (int i = 0; i < size; i += 3) {
    const uint32_t group = static_cast<uint32_t>(data[i]) << 16 |
                           (i + 1 < size ? static_cast<uint32_t>(data[i + 1]) << 8 : 0) |
                           (i + 2 < size ? data[i + 2] : 0);
    out[used++] = DIGITS[group >> 18 & 63];
    out[used++] = DIGITS[group >> 12 & 63];
    out[used++] = i + 1 < size ? DIGITS[group >> 6 & 63] : '=';
    out[used++] = i + 2 < size ? DIGITS[group & 63] : '=';
  }
  out[used] = '\0';
}

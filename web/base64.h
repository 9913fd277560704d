// Base64 (RFC 4648, with padding), for the page's style hash.
#pragma once

#include <stdint.h>

/// The base64 text of size bytes of data into out, room for
/// 4 * ((size + 2) / 3) + 1 characters.
void base64(const uint8_t* data, int size, char* out);

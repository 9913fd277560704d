// The secret that keys the page's form tokens.
#pragma once

#include <stddef.h>

inline constexpr const char* WEB_SECRET_PATH = "/opt/dormix/etc/web.secret";
inline constexpr int SECRET_SIZE = 32;

enum class secret_state {
  loaded,
  made,  // missing (or short) and made by this call
  missing,
  unusable
};

/// The secret that keys the form tokens, at path. A missing one is made
/// when may_create (a POST; a GET changes nothing): written whole to a
/// temporary file, then linked into place, so that no reader ever sees a
/// part of it. One that a crash of an older version left short is made
/// anew the same way. Opened without blocking: a FIFO is refused.
secret_state load_secret_at(const char* path, bool may_create, unsigned char secret[SECRET_SIZE],
                            char* why, size_t why_size);

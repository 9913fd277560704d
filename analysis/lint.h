// Line-by-line checks of a settings file, read the way the daemon reads it.
#pragma once

#include <stdio.h>

#include "analysis/findings.h"
#include "analysis/known_keys.h"

/// Warning codes, one per kind of mistake.
inline constexpr const char* WARN_BLANK = "blank-around-equals";
inline constexpr const char* WARN_COMMENT = "comment-line";
inline constexpr const char* WARN_UNKNOWN_KEY = "unknown-key";
inline constexpr const char* WARN_DUPLICATE = "duplicate-key";
inline constexpr const char* WARN_TRAILING = "trailing-text";
inline constexpr const char* WARN_NOT_NUMBER = "not-a-number";
inline constexpr const char* WARN_NEGATIVE = "negative-value";
inline constexpr const char* WARN_TOO_LARGE = "too-large";
inline constexpr const char* WARN_OPEN_QUOTE = "open-quote";
inline constexpr const char* WARN_AFTER_QUOTE = "text-after-quote";
inline constexpr const char* WARN_LONG_LINE = "long-line";
inline constexpr const char* WARN_NUL = "nul-byte";
inline constexpr const char* WARN_BOM = "byte-order-mark";
inline constexpr const char* WARN_CR = "carriage-return";

/// Largest edit distance at which a key without the "MOD_DORMIX_" prefix
/// still counts as a misspelt known key.
inline constexpr int NEAR_KEY_DISTANCE = 2;

/// Reads the file from its start, in the daemon's line buffer size, and
/// records the line each known key is read from and the warnings about
/// single lines. Returns false on a read error.
bool lint_settings(FILE* file, const known_key keys[KNOWN_KEY_COUNT], check_findings* findings);

/// Copies text for a message: at most 40 characters, non-printing ones as
/// "?", and "..." when cut. out has room for 48 bytes.
void message_snippet(const char* text, char out[48]);

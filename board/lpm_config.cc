#include "board/lpm_config.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr int LINE_SIZE = 256;

const char* skip_blanks(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  return text;
}

// Copies text without trailing blanks and line ends into out (size bytes);
// false when it does not fit.
bool copy_trimmed(const char* text, size_t length, char* out, size_t size) {
  while (length > 0 && strchr(" \t\r\n", text[length - 1]) != nullptr) --length;
  if (length >= size) return false;
  memcpy(out, text, length);
  out[length] = '\0';
  return true;
}

bool parse_method(const char* value, lpm_method* method) {
  const lpm_method methods[] = {lpm_method::suspend, lpm_method::poweroff, lpm_method::soft};
  for (const lpm_method candidate : methods) {
    if (strcmp(value, lpm_method_name(candidate)) == 0) {
      *method = candidate;
      return true;
    }
  }
  return false;
}

bool set_path(const char* key, const char* value, char* out, char* error, size_t error_size) {
  if (value[0] != '/') {
    snprintf(error, error_size, "%s must be an absolute path, not \"%.60s\"", key, value);
    return false;
  }
  snprintf(out, LPM_PATH_SIZE, "%s", value);
  return true;
}

}  // namespace

lpm_config default_lpm_config() {
  lpm_config config{};
  config.method = lpm_method::suspend;
  snprintf(config.rtc, sizeof config.rtc, "%s", LPM_DEFAULT_RTC);
  return config;
}

const char* lpm_method_name(lpm_method method) {
  switch (method) {
    case lpm_method::suspend:
      return "suspend";
    case lpm_method::poweroff:
      return "poweroff";
    case lpm_method::soft:
      return "soft";
  }
  return "?";
}

bool lpm_method_returns(lpm_method method) { return method != lpm_method::poweroff; }

bool apply_lpm_config_line(const char* line, lpm_config* config, char* error, size_t error_size) {
  const char* start = skip_blanks(line);
  if (*start == '#' || *start == '\0' || *start == '\n' || *start == '\r') return true;
  const char* equals = strchr(start, '=');
  char key[32];
  char value[LPM_PATH_SIZE];
  if (equals == nullptr ||
      !copy_trimmed(start, static_cast<size_t>(equals - start), key, sizeof key)) {
    snprintf(error, error_size, "not a \"key=value\" line");
    return false;
  }
  const char* value_start = skip_blanks(equals + 1);
  if (!copy_trimmed(value_start, strlen(value_start), value, sizeof value)) {
    snprintf(error, error_size, "value of %s longer than %d characters", key, LPM_PATH_SIZE - 1);
    return false;
  }
  if (strcmp(key, "method") == 0) {
    if (parse_method(value, &config->method)) return true;
    snprintf(error, error_size, "unknown method \"%.40s\": use suspend, poweroff or soft", value);
    return false;
  }
  if (strcmp(key, "rtc") == 0) return set_path(key, value, config->rtc, error, error_size);
  if (strcmp(key, "poweroff_command") == 0) {
    return set_path(key, value, config->poweroff_command, error, error_size);
  }
  if (strcmp(key, "hook") == 0) {
    if (config->hook_count == LPM_MAX_HOOKS) {
      snprintf(error, error_size, "more than %d hooks", LPM_MAX_HOOKS);
      return false;
    }
    if (!set_path(key, value, config->hooks[config->hook_count], error, error_size)) return false;
    ++config->hook_count;
    return true;
  }
  snprintf(error, error_size, "unknown key \"%.30s\": use method, rtc, poweroff_command or hook",
           key);
  return false;
}

bool read_lpm_config(const char* text, lpm_config* config, char* error, size_t error_size) {
  *config = default_lpm_config();
  int number = 0;
  for (const char* start = text; *start != '\0';) {
    ++number;
    const size_t length = strcspn(start, "\n");
    char line[LINE_SIZE];
    if (length >= sizeof line) {
      snprintf(error, error_size, "%d: line longer than %zu characters", number, sizeof line - 1);
      return false;
    }
    memcpy(line, start, length);
    line[length] = '\0';
    char reason[192];
    if (!apply_lpm_config_line(line, config, reason, sizeof reason)) {
      snprintf(error, error_size, "%d: %s", number, reason);
      return false;
    }
    start += length;
    if (*start == '\n') ++start;
  }
  return true;
}

bool lpm_config_method(const char* text, bool* returns, const char** name) {
  if (text == nullptr) return false;
  lpm_config config{};
  char error[256];
  if (!read_lpm_config(text, &config, error, sizeof error)) return false;
  *returns = lpm_method_returns(config.method);
  *name = lpm_method_name(config.method);
  return true;
}

#include "device/status.h"

#include <string.h>
#include <unistd.h>

#include "device/command.h"
#include "device/monotonic.h"
#include "device/tool_run.h"

namespace {

thread_local status_cache_record status_cache;

}  // namespace

status_cache_record* this_thread_status_cache() { return &status_cache; }

bool status_scan(const char* text, const char* key, char* value) {
  const size_t key_length = strlen(key);
  const char* line = text;
  while (*line != '\0') {
    const char* line_end = strchr(line, '\n');
    if (line_end == nullptr) line_end = line + strlen(line);
    if (strncmp(line, key, key_length) == 0) {
      // The separator search deliberately runs past the end of this line.
      const char* separator = strstr(line, ": ");
      if (separator == nullptr) return false;
      const char* start = separator + 2;
      if (start >= line_end || line_end - start > STATUS_VALUE_MAX) return false;
      const auto length = static_cast<size_t>(line_end - start);
      memcpy(value, start, length);
      value[length] = '\0';
      return true;
    }
    if (*line_end == '\0') break;
    line = line_end + 1;
  }
  return false;
}

namespace {

pid_t spawn(const char* path, ...) {
  va_list arguments;
  va_start(arguments, path);
  pid_t pid = spawn_command(path, arguments);
  va_end(arguments);
  return pid;
}

bool refresh_output(status_cache_record* cache, const status_source& source, const char* section) {
  int ends[2];
  if (pipe(ends) != 0) return false;
  set_child_stdout(ends[1]);
  pid_t pid = spawn(source.tool, "-v", section, nullptr);
  if (pid < 0) {
    close(ends[0]);
    return false;
  }
  char captured[STATUS_OUTPUT_MAX + 1];
  int status = -1;
  bool exited = false;
  long length =
      collect_output(ends[0], pid, captured, STATUS_OUTPUT_MAX, NO_DEADLINE, &status, &exited);
  // Closing first lets a tool still writing end on a broken pipe.
  close(ends[0]);
  if (!exited) status = wait_command(pid);
  if (status != 0 || length < 0) return false;

  captured[length] = '\0';
  memcpy(cache->output, captured, static_cast<size_t>(length) + 1);
  strncpy(cache->section, section, sizeof cache->section - 1);
  cache->section[sizeof cache->section - 1] = '\0';
  const auto now = static_cast<uint32_t>(source.seconds(source.context));
  cache->expires = static_cast<int32_t>(now + 1U);
  return true;
}

bool cache_is_fresh(const status_cache_record& cache, const status_source& source,
                    const char* section) {
  return strcmp(cache.section, section) == 0 && source.seconds(source.context) <= cache.expires;
}

int router_seconds(void* /*context*/) { return monotonic_seconds(); }

const char* status_output_with(status_cache_record* cache, const status_source& source,
                               const char* section) {
  if (!cache_is_fresh(*cache, source, section) && !refresh_output(cache, source, section)) {
    return nullptr;
  }
  return cache->output;
}

}  // namespace

status_source router_status_source() {
  return status_source{STATUS_TOOL_PATH, router_seconds, nullptr};
}

const char* status_output(const char* section) {
  return status_output_with(&status_cache, router_status_source(), section);
}

const char* status_get_with(status_cache_record* cache, const status_source& source,
                            const char* section, const char* key) {
  const char* text = status_output_with(cache, source, section);
  if (!status_scan(text == nullptr ? "" : text, key, cache->value)) {
    strcpy(cache->value, STATUS_MISSING);
  }
  return cache->value;
}

const char* status_get(const char* section, const char* key) {
  return status_get_with(&status_cache, router_status_source(), section, key);
}

bool status_tool_present() { return access(STATUS_TOOL_PATH, X_OK) == 0; }

#include <fcntl.h>
#include <unistd.h>

#include "board/lpm_config.h"

const char* read_lpm_config_file(char* out) {
  // Non-blocking: a FIFO put in the file's place must not hang the reader.
  const int fd = open(LPM_CONFIG_PATH, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const ssize_t length = read(fd, out, LPM_CONFIG_MAX);
  close(fd);
  if (length < 0) return nullptr;
  out[length] = '\0';
  return out;
}

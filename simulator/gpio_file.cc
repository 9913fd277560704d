#define FUSE_USE_VERSION 35
#include "simulator/gpio_file.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

struct gpio_file {
  fuse_session* session;
  gpio_levels* levels;
  gpio_observer observer;
  fuse_buf buffer;
};

namespace {

gpio_file* file_of(fuse_req_t request) {
  return static_cast<gpio_file*>(fuse_req_userdata(request));
}

long caller_of(fuse_req_t request) { return fuse_req_ctx(request)->pid; }

void getattr(fuse_req_t request, fuse_ino_t, fuse_file_info*) {
  struct stat attributes {};
  attributes.st_ino = FUSE_ROOT_ID;
  attributes.st_mode = S_IFREG | 0666;
  attributes.st_nlink = 1;
  fuse_reply_attr(request, &attributes, 0);
}

void open_file(fuse_req_t request, fuse_ino_t, fuse_file_info* info) {
  file_of(request)->observer(-1, info->flags, caller_of(request));
  info->direct_io = 1;
  info->nonseekable = 1;
  fuse_reply_open(request, info);
}

void release(fuse_req_t request, fuse_ino_t, fuse_file_info*) { fuse_reply_err(request, 0); }

void flush(fuse_req_t request, fuse_ino_t, fuse_file_info*) { fuse_reply_err(request, 0); }

void ioctl_file(fuse_req_t request, fuse_ino_t, unsigned int command, void*, fuse_file_info*,
                unsigned, const void*, size_t, size_t) {
  gpio_file* file = file_of(request);
  int input = command == DORMIX_GPIO_READ_INPUT0 ? 0 : command == DORMIX_GPIO_READ_INPUT1 ? 1 : -1;
  if (input < 0) {
    fuse_reply_err(request, ENOTTY);
    return;
  }
  const int error = file->levels->error[input];
  file->observer(input, error != 0 ? -error : file->levels->level[input], caller_of(request));
  if (error != 0) {
    fuse_reply_err(request, error);
  } else {
    fuse_reply_ioctl(request, file->levels->level[input], nullptr, 0);
  }
}

}  // namespace

gpio_file* gpio_file_mount(int fuse_fd, const char* path, gpio_levels* levels,
                           gpio_observer observer, std::string* reason) {
  std::string options = "fd=" + std::to_string(fuse_fd) +
                        ",rootmode=100000,user_id=" + std::to_string(getuid()) +
                        ",group_id=" + std::to_string(getgid()) + ",allow_other";
  if (mount("dormix-sim", path, "fuse", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
    *reason = std::string("cannot mount the FUSE file on ") + path + ": " + strerror(errno);
    return nullptr;
  }
  static fuse_lowlevel_ops operations{};
  operations.getattr = getattr;
  operations.open = open_file;
  operations.release = release;
  operations.flush = flush;
  operations.ioctl = ioctl_file;

  auto* file = new gpio_file{nullptr, levels, std::move(observer), {}};
  char program[] = "dormix-sim";
  char* arguments[] = {program, nullptr};
  fuse_args args = FUSE_ARGS_INIT(1, arguments);
  file->session = fuse_session_new(&args, &operations, sizeof operations, file);
  // libfuse takes a descriptor we mounted ourselves by this name.
  std::string device = "/dev/fd/" + std::to_string(fuse_fd);
  if (file->session == nullptr || fuse_session_mount(file->session, device.c_str()) != 0) {
    *reason = "libfuse could not take over the mounted file";
    return nullptr;
  }
  return file;
}

int gpio_file_descriptor(gpio_file* file) { return fuse_session_fd(file->session); }

void gpio_file_serve(gpio_file* file) {
  int got = fuse_session_receive_buf(file->session, &file->buffer);
  if (got > 0) fuse_session_process_buf(file->session, &file->buffer);
}

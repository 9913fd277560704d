#include "simulator/fake_clock.h"

#include <glob.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "simulator/sandbox.h"

namespace {

double real_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

std::string fake_clock_path() { return std::string(RUN_DIR) + "/clock"; }

bool start_fake_clock(int speed) {
  return replace_file("clock", speed != 0 ? "+0 x" + std::to_string(speed) + "\n" : "+0\n");
}

bool set_fake_clock(const clock_setting& clock, fake_clock* model, std::string* reason) {
  const time_t wanted = local_moment_of(clock.fields);
  const double now = real_now();
  model->active = true;
  model->frozen = clock.frozen;
  model->frozen_at = static_cast<double>(wanted);
  model->offset = static_cast<double>(wanted) - now;
  model->origin = now;
  char text[64];
  if (model->speed != 0) {
    snprintf(text, sizeof text, "%+.6f x%d\n", model->offset, model->speed);
  } else if (clock.frozen) {
    // An absolute time without '@' stops libfaketime's clock there.
    snprintf(text, sizeof text, "%s\n", clock.local_time.c_str());
  } else {
    snprintf(text, sizeof text, "%+.6f\n", model->offset);
  }
  if (!replace_file("clock", text)) {
    *reason = std::string("cannot write the clock: ") + strerror(errno);
    return false;
  }
  return true;
}

std::string fake_clock_text(const fake_clock& model) {
  if (!model.active) return "";
  double seconds = model.frozen_at;
  if (!model.frozen) {
    const double speed = model.speed != 0 ? model.speed : 1;
    seconds = model.origin + (real_now() - model.origin) * speed + model.offset;
  }
  const time_t whole = static_cast<time_t>(std::floor(seconds));
  tm local{};
  localtime_r(&whole, &local);
  char text[16];
  strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string find_libfaketime() {
  const char* patterns[] = {
      "/usr/lib/*/faketime/libfaketime.so.1", "/usr/lib/faketime/libfaketime.so.1",
      "/usr/local/lib/faketime/libfaketime.so.1", "/usr/lib64/faketime/libfaketime.so.1"};
  for (const char* pattern : patterns) {
    glob_t found{};
    if (glob(pattern, 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
      std::string path = found.gl_pathv[0];
      globfree(&found);
      return path;
    }
    globfree(&found);
  }
  return "";
}

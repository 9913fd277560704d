// glibc interfaces that Debian's libstdc++.a calls, for the test programs of
// the musl builds (see libstdcxx-on-musl.cmake). Never linked into the
// daemon or dormix-check.
#include <link.h>
#include <stdint.h>
#include <sys/random.h>
#include <sys/time.h>
#include <time.h>

extern "C" {

// glibc sets this while a process has one thread so that libstdc++ may skip
// atomic reference counts; 0 keeps them atomic, which is always correct.
char __libc_single_threaded = 0;

// glibc 2.36's random source, behind std::random_device.
uint32_t arc4random() {
  uint32_t value = 0;
  while (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
  }
  return value;
}

#ifndef __arm__
// glibc 2.35's lookup of the unwind tables that cover an address, which
// libgcc's unwinder calls when an exception is thrown (32-bit ARM unwinds
// through its own tables instead). Answered from dl_iterate_phdr.
struct dl_find_object {
  unsigned long long flags;
  void* map_start;
  void* map_end;
  void* link_map;
  void* eh_frame;
  unsigned long long reserved[7];
};

namespace {

struct object_search {
  uintptr_t address;
  dl_find_object* result;
  bool found;
};

int find_object_of(dl_phdr_info* info, size_t /*size*/, void* data) {
  auto* search = static_cast<object_search*>(data);
  uintptr_t low = UINTPTR_MAX;
  uintptr_t high = 0;
  bool covers = false;
  void* eh_frame = nullptr;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info->dlpi_phdr[i];
    const uintptr_t start = info->dlpi_addr + header.p_vaddr;
    if (header.p_type == PT_GNU_EH_FRAME) eh_frame = reinterpret_cast<void*>(start);
    if (header.p_type != PT_LOAD) continue;
    const uintptr_t end = start + header.p_memsz;
    if (start < low) low = start;
    if (end > high) high = end;
    if (search->address >= start && search->address < end) covers = true;
  }
  if (!covers) return 0;
  *search->result = dl_find_object{};
  search->result->map_start = reinterpret_cast<void*>(low);
  search->result->map_end = reinterpret_cast<void*>(high);
  search->result->eh_frame = eh_frame;
  search->found = true;
  return 1;
}

}  // namespace

int _dl_find_object(void* address, dl_find_object* result) {
  object_search search{reinterpret_cast<uintptr_t>(address), result, false};
  dl_iterate_phdr(find_object_of, &search);
  return search.found ? 0 : -1;
}
#endif

#ifdef DORMIX_WRAP_TIME32
// libstdc++.a for 32-bit ARM was built with glibc's 32-bit time_t, and calls
// these by their old names; musl's functions of those names take 64-bit
// time. The linker sends libstdc++'s calls here (--wrap).
struct time32_spec {
  int32_t seconds;
  int32_t nanoseconds;
};
struct time32_val {
  int32_t seconds;
  int32_t microseconds;
};

int __wrap_clock_gettime(clockid_t clock, time32_spec* out) {
  timespec now{};
  const int result = clock_gettime(clock, &now);
  if (result == 0) {
    out->seconds = static_cast<int32_t>(now.tv_sec);
    out->nanoseconds = static_cast<int32_t>(now.tv_nsec);
  }
  return result;
}

int __wrap_gettimeofday(time32_val* out, void* /*zone*/) {
  timespec now{};
  const int result = clock_gettime(CLOCK_REALTIME, &now);
  if (result == 0 && out != nullptr) {
    out->seconds = static_cast<int32_t>(now.tv_sec);
    out->microseconds = static_cast<int32_t>(now.tv_nsec / 1000);
  }
  return result;
}

int __wrap_nanosleep(const time32_spec* request, time32_spec* remaining) {
  const timespec wanted{request->seconds, request->nanoseconds};
  timespec left{};
  const int result = nanosleep(&wanted, &left);
  if (remaining != nullptr) {
    remaining->seconds = static_cast<int32_t>(left.tv_sec);
    remaining->nanoseconds = static_cast<int32_t>(left.tv_nsec);
  }
  return result;
}
#endif
}

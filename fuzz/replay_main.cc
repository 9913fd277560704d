// Runs stored fuzz inputs through a fuzz target without libFuzzer, so that
// the corpus doubles as ordinary tests under any compiler.
#include <dirent.h>
#include <sys/stat.h>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Returns false when the file cannot be read.
bool replay_file(const char* path, size_t size) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return false;
  // An exactly sized copy, so that reading one byte past the input is caught.
  auto* data = static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
  const bool complete = data != nullptr && fread(data, 1, size, file) == size;
  fclose(file);
  if (complete) LLVMFuzzerTestOneInput(data, size);
  free(data);
  return complete;
}

// A directory replays the regular files directly in it.
bool replay_path(const char* path, int* replayed) {
  struct stat info {};
  if (stat(path, &info) != 0) return false;
  if (S_ISREG(info.st_mode)) {
    if (!replay_file(path, static_cast<size_t>(info.st_size))) return false;
    ++*replayed;
    return true;
  }
  DIR* directory = opendir(path);
  if (directory == nullptr) return false;
  bool ok = true;
  while (const dirent* entry = readdir(directory)) {
    char inner[PATH_MAX];
    snprintf(inner, sizeof inner, "%s/%s", path, entry->d_name);
    if (stat(inner, &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (replay_file(inner, static_cast<size_t>(info.st_size))) {
      ++*replayed;
    } else {
      fprintf(stderr, "cannot read %s\n", inner);
      ok = false;
    }
  }
  closedir(directory);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s FILE|DIRECTORY...\n", argv[0]);
    return 2;
  }
  int replayed = 0;
  for (int k = 1; k < argc; ++k) {
    if (!replay_path(argv[k], &replayed)) {
      fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[k]);
      return 1;
    }
  }
  printf("replayed %d input(s)\n", replayed);
  return 0;
}

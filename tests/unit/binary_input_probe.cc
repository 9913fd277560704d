// Guest helper for the GPIO driver check: prints the level of each input
// named on the command line as the daemon reads it, binary_input_read on
// /dev/gpio, separated by blanks.
#include <cstdio>
#include <cstdlib>

#include "device/binary_input.h"

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    printf("%s%d", i > 1 ? " " : "", binary_input_read(atoi(argv[i])));
  }
  printf("\n");
  return 0;
}

// Guest helper for clock_wait.sh: sets or clears the kernel's STA_UNSYNC,
// which NTP clients clear once they have set the clock.
// Usage: clock_status sync|unsync
#include <stdio.h>
#include <string.h>
#include <sys/timex.h>

int main(int argc, char** argv) {
  struct timex state = {0};
  if (argc != 2 || adjtimex(&state) == -1) return 2;
  state.modes = ADJ_STATUS;
  if (strcmp(argv[1], "sync") == 0) {
    // As an NTP client does: with the maximum error left at its limit, the
    // kernel's next second would set STA_UNSYNC again.
    state.status &= ~STA_UNSYNC;
    state.maxerror = 0;
    state.esterror = 0;
    state.modes |= ADJ_MAXERROR | ADJ_ESTERROR;
  } else if (strcmp(argv[1], "unsync") == 0) {
    state.status |= STA_UNSYNC;
  } else {
    return 2;
  }
  if (adjtimex(&state) == -1) {
    perror("adjtimex");
    return 1;
  }
  return 0;
}

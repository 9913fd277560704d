#include "web/fields.h"

#include <strings.h>

namespace {

constexpr setting_help HELP[] = {
    {"MOD_DORMIX_ENABLED", setting_group::general,
     "Module switch: the init scripts start the daemon only when it is on.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_BIN_ENABLED", setting_group::wake, "A binary input may wake the router.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_DELAY0_ENABLED", setting_group::wake, "Wake up after a fixed delay.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_DELAY0_SECOND", setting_group::wake,
     "That delay; 4294967295 means no timed wake-up.", "seconds, 0 to 4294967294"},
    {"MOD_DORMIX_WAKEUP_TIME0_ENABLED", setting_group::wake,
     "Wake up at a clock time; with the delay on too, whichever comes first wakes the router.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_WAKEUP_TIME0_HOUR", setting_group::wake, "Wake-up hour, local time.",
     "hour, 0 to 23"},
    {"MOD_DORMIX_WAKEUP_TIME0_MINUTE", setting_group::wake, "Wake-up minute.", "minute, 0 to 59"},
    {"MOD_DORMIX_SLEEP_BIN0_ENABLED", setting_group::sleep,
     "Binary input 0 puts the router to sleep.", "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_BIN0_STATE", setting_group::sleep,
     "The level of input 0 that puts the router to sleep.", "level as the GPIO driver reports it"},
    {"MOD_DORMIX_SLEEP_BIN0_SECOND", setting_group::sleep,
     "How long input 0's level must hold; 0 counts as 1.", "seconds, 0 to 2147483647"},
    {"MOD_DORMIX_SLEEP_BIN1_ENABLED", setting_group::sleep,
     "Binary input 1 puts the router to sleep (read only when both inputs exist).",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_BIN1_STATE", setting_group::sleep,
     "The level of input 1 that puts the router to sleep.", "level as the GPIO driver reports it"},
    {"MOD_DORMIX_SLEEP_BIN1_SECOND", setting_group::sleep,
     "How long input 1's level must hold; 0 counts as 1.", "seconds, 0 to 2147483647"},
    {"MOD_DORMIX_SLEEP_DELAY0_ENABLED", setting_group::sleep,
     "Sleep a fixed delay after the daemon starts, then on every cycle the router is up.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_DELAY0_SECOND", setting_group::sleep, "That delay.",
     "seconds, 0 to 2147483647"},
    {"MOD_DORMIX_SLEEP_TIME0_ENABLED", setting_group::sleep, "Sleep at a clock time every day.",
     "switch: 0 off, other on"},
    {"MOD_DORMIX_SLEEP_TIME0_HOUR", setting_group::sleep, "Sleep hour, local time.",
     "hour, 0 to 23"},
    {"MOD_DORMIX_SLEEP_TIME0_MINUTE", setting_group::sleep, "Sleep minute.", "minute, 0 to 59"},
};

}  // namespace

const setting_help* help_for_key(const char* key) {
  for (const setting_help& help : HELP) {
    if (strcasecmp(help.key, key) == 0) return &help;
  }
  return nullptr;
}

const char* group_heading(setting_group group) {
  switch (group) {
    case setting_group::general:
      return "General";
    case setting_group::wake:
      return "Wake-up rules";
    case setting_group::sleep:
      return "Sleep rules";
  }
  return "";
}

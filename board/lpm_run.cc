#include "board/lpm_run.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>
#include <time.h>

#include "board/gpio_sysfs.h"

namespace {

// What has been armed so far, so that every way out disarms it.
struct armed_state {
  bool rtc;
  bool inputs;
  int64_t alarm;
};

void log_error(const lpm_system& system, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

void log_error(const lpm_system& system, const char* format, ...) {
  char text[LPM_LOG_SIZE];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  system.log(system.context, LOG_ERR, text);
}

void disarm(const lpm_system& system, const lpm_config& config, armed_state* armed) {
  if (armed->inputs) system.write_text(system.context, GPIO_WAKE_PATH, "0");
  if (armed->rtc) system.rtc_disarm(system.context, config.rtc);
  armed->inputs = false;
  armed->rtc = false;
}

// Which inputs the driver has; false (with the reason logged) when -b has
// nothing to arm.
bool find_inputs(const lpm_system& system, const char* method, bool present[GPIO_INPUT_COUNT]) {
  char text[64];
  if (system.read_text(system.context, GPIO_INPUTS_PATH, text, sizeof text) != 0) {
    log_error(system, "%s: not entered: no input to arm for -b: %s: %s (is dormix_gpio loaded?)",
              method, GPIO_INPUTS_PATH, strerror(errno));
    return false;
  }
  if (!parse_gpio_inputs(text, present) || (!present[0] && !present[1])) {
    log_error(system,
              "%s: not entered: no input to arm for -b: dormix_gpio has no configured input "
              "(give it input0= or input1=)",
              method);
    return false;
  }
  return true;
}

// "input 0 or 1" / "input 0" / "", for the log.
void describe_inputs(const bool present[GPIO_INPUT_COUNT], char* out, size_t size) {
  if (present[0] && present[1]) {
    snprintf(out, size, "input 0 or 1");
  } else if (present[0] || present[1]) {
    snprintf(out, size, "input %d", present[0] ? 0 : 1);
  } else {
    out[0] = '\0';
  }
}

void describe_conditions(const lpm_request& request, const bool present[GPIO_INPUT_COUNT],
                         const armed_state& armed, const char* timer, char* out, size_t size) {
  char inputs[32];
  describe_inputs(present, inputs, sizeof inputs);
  char alarm[64] = "";
  if (request.timed && armed.rtc) {
    char when[32];
    format_utc(armed.alarm, when, sizeof when);
    snprintf(alarm, sizeof alarm, "the RTC alarm at %s (%u s)", when, request.seconds);
  } else if (request.timed) {
    snprintf(alarm, sizeof alarm, "%s after %u s", timer, request.seconds);
  }
  const char* joint = inputs[0] != '\0' && alarm[0] != '\0' ? ", or by " : "";
  snprintf(out, size, "wake-up by %s%s%s", inputs, joint, alarm);
}

int64_t whole_seconds(int64_t milliseconds) { return (milliseconds + 500) / 1000; }

int suspend(const lpm_request& request, const lpm_config& config, const lpm_system& system,
            const bool present[GPIO_INPUT_COUNT], armed_state* armed) {
  char offered[128];
  const char* state = nullptr;
  if (system.read_text(system.context, POWER_STATE_PATH, offered, sizeof offered) == 0) {
    state = choose_sleep_state(offered);
  }
  if (state == nullptr) {
    disarm(system, config, armed);
    log_error(system, "suspend: not entered: the kernel offers neither mem nor freeze in %s",
              POWER_STATE_PATH);
    return LPM_EXIT_NOT_ENTERED;
  }
  const int64_t boot_before = system.boottime_ms(system.context);
  if (system.write_text(system.context, POWER_STATE_PATH, state) != 0) {
    const int error = errno;
    disarm(system, config, armed);
    log_error(system, "suspend: not entered: writing %s to %s: %s", state, POWER_STATE_PATH,
              strerror(error));
    return LPM_EXIT_NOT_ENTERED;
  }
  const int64_t boot_after = system.boottime_ms(system.context);
  char woken_by_text[16] = "";
  int woken_by = WOKEN_BY_NONE;
  if (armed->inputs && system.read_text(system.context, GPIO_WOKEN_BY_PATH, woken_by_text,
                                        sizeof woken_by_text) == 0) {
    woken_by = parse_woken_by(woken_by_text);
  }
  bool alarm_passed = false;
  if (armed->rtc) {
    const int64_t now = system.rtc_now(system.context, config.rtc);
    alarm_passed = now >= 0 && now >= armed->alarm;
  }
  char source[32];
  name_waking_source(woken_by, alarm_passed, source, sizeof source);
  char conditions[160];
  describe_conditions(request, present, *armed, "", conditions, sizeof conditions);
  disarm(system, config, armed);
  char text[LPM_LOG_SIZE];
  snprintf(text, sizeof text, "suspend (%s): woken by %s after %lld s; %s", state, source,
           static_cast<long long>(whole_seconds(boot_after - boot_before)), conditions);
  system.log(system.context, LOG_NOTICE, text);
  return LPM_EXIT_WOKE;
}

void run_hooks(const lpm_config& config, const lpm_system& system, const char* phase) {
  const bool forward = strcmp(phase, "sleep") == 0;
  for (int i = 0; i < config.hook_count; ++i) {
    const char* hook = config.hooks[forward ? i : config.hook_count - 1 - i];
    const int status = system.run_hook(system.context, hook, phase);
    if (status != 0) log_error(system, "soft: hook %s %s: exit status %d", hook, phase, status);
  }
}

int soft(const lpm_request& request, const lpm_config& config, const lpm_system& system,
         const bool present[GPIO_INPUT_COUNT], armed_state* armed) {
  run_hooks(config, system, "sleep");
  const int64_t before = system.boottime_ms(system.context);
  const soft_wake wake =
      system.wait_soft(system.context, request.timed, request.seconds, armed->inputs);
  const int64_t after = system.boottime_ms(system.context);
  char woken_by_text[16] = "";
  int woken_by = WOKEN_BY_NONE;
  if (wake == soft_wake::input && system.read_text(system.context, GPIO_WOKEN_BY_PATH,
                                                   woken_by_text, sizeof woken_by_text) == 0) {
    woken_by = parse_woken_by(woken_by_text);
  }
  char conditions[160];
  describe_conditions(request, present, *armed, "the timer", conditions, sizeof conditions);
  disarm(system, config, armed);
  run_hooks(config, system, "wake");
  char source[32];
  switch (wake) {
    case soft_wake::timer:
      snprintf(source, sizeof source, "the timer");
      break;
    case soft_wake::input:
      if (woken_by >= 0) {
        name_waking_source(woken_by, false, source, sizeof source);
      } else {
        snprintf(source, sizeof source, "an input");
      }
      break;
    case soft_wake::signal:
      snprintf(source, sizeof source, "a signal");
      break;
    case soft_wake::failed:
      log_error(system, "soft: the wait failed: %s; hooks undone", strerror(errno));
      return LPM_EXIT_NOT_ENTERED;
  }
  char text[LPM_LOG_SIZE];
  snprintf(text, sizeof text, "soft: woken by %s after %lld s; %s; %d hook(s)", source,
           static_cast<long long>(whole_seconds(after - before)), conditions, config.hook_count);
  system.log(system.context, LOG_NOTICE, text);
  return LPM_EXIT_WOKE;
}

int power_off(const lpm_request& request, const lpm_config& config, const lpm_system& system,
              armed_state* armed) {
  char text[LPM_LOG_SIZE];
  if (request.timed) {
    int64_t read_back = 0;
    bool enabled = false;
    if (system.rtc_read_alarm(system.context, config.rtc, &read_back, &enabled) != 0 || !enabled ||
        read_back != armed->alarm) {
      disarm(system, config, armed);
      log_error(system, "poweroff: not entered: the alarm of %s does not read back as set",
                config.rtc);
      return LPM_EXIT_NO_WAKE;
    }
    char when[32];
    format_utc(read_back, when, sizeof when);
    snprintf(
        text, sizeof text, "poweroff: wake-up by the RTC alarm at %s (%u s; read back from %s)%s",
        when, request.seconds, config.rtc,
        request.wake_by_input ? "; input wake-up is left to the board's power controller" : "");
  } else {
    snprintf(text, sizeof text,
             "poweroff: no timed wake-up; input wake-up is left to the board's power controller");
  }
  system.log(system.context, LOG_NOTICE, text);
  system.power_off(system.context, config.poweroff_command);
  const int error = errno;
  disarm(system, config, armed);
  log_error(system, "poweroff: not entered: %s: %s",
            config.poweroff_command[0] != '\0' ? config.poweroff_command : "reboot(POWER_OFF)",
            strerror(error));
  return LPM_EXIT_NOT_ENTERED;
}

}  // namespace

const char* choose_sleep_state(const char* offered) {
  const char* preferred[] = {"mem", "freeze"};
  for (const char* state : preferred) {
    const size_t length = strlen(state);
    for (const char* word = offered; *word != '\0';) {
      const size_t word_length = strcspn(word, " \n");
      if (word_length == length && strncmp(word, state, length) == 0) return state;
      word += word_length;
      word += strspn(word, " \n");
    }
  }
  return nullptr;
}

const char* name_waking_source(int woken_by, bool alarm_passed, char* out, size_t size) {
  if (woken_by >= 0 && woken_by < GPIO_INPUT_COUNT) {
    snprintf(out, size, "input %d", woken_by);
  } else if (alarm_passed) {
    snprintf(out, size, "the RTC alarm");
  } else {
    snprintf(out, size, "another wakeup source");
  }
  return out;
}

void format_utc(int64_t epoch, char* out, size_t size) {
  const time_t seconds = static_cast<time_t>(epoch);
  struct tm broken {};
  if (gmtime_r(&seconds, &broken) == nullptr) {
    snprintf(out, size, "%lld", static_cast<long long>(epoch));
    return;
  }
  // By hand: strftime would bring the C library's time zone code along.
  snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d UTC", broken.tm_year + 1900, broken.tm_mon + 1,
           broken.tm_mday, broken.tm_hour, broken.tm_min, broken.tm_sec);
}

int run_lpm(const lpm_request& request, const lpm_config& config, const lpm_system& system) {
  const char* method = lpm_method_name(config.method);
  if (request.timed && request.seconds == 0) {
    char text[LPM_LOG_SIZE];
    snprintf(text, sizeof text, "%s: not entered: the wake-up time is now (-i 0)", method);
    system.log(system.context, LOG_NOTICE, text);
    return LPM_EXIT_WOKE;
  }
  bool present[GPIO_INPUT_COUNT] = {false, false};
  const bool uses_inputs = request.wake_by_input && config.method != lpm_method::poweroff;
  if (uses_inputs && !find_inputs(system, method, present)) return LPM_EXIT_NO_WAKE;

  armed_state armed{};
  // soft waits on a timer of its own: it needs no RTC.
  if (request.timed && config.method != lpm_method::soft) {
    if (system.rtc_set_alarm(system.context, config.rtc, request.seconds, &armed.alarm) != 0) {
      log_error(system, "%s: not entered: no wake-capable RTC for -i %u: %s: %s", method,
                request.seconds, config.rtc, strerror(errno));
      return LPM_EXIT_NO_WAKE;
    }
    armed.rtc = true;
  }
  if (uses_inputs) {
    if (system.write_text(system.context, GPIO_WAKE_PATH, "1") != 0) {
      const int error = errno;
      disarm(system, config, &armed);
      log_error(system, "%s: not entered: arming the inputs through %s: %s", method, GPIO_WAKE_PATH,
                strerror(error));
      return LPM_EXIT_NO_WAKE;
    }
    armed.inputs = true;
  }
  switch (config.method) {
    case lpm_method::suspend:
      return suspend(request, config, system, present, &armed);
    case lpm_method::soft:
      return soft(request, config, system, present, &armed);
    case lpm_method::poweroff:
      return power_off(request, config, system, &armed);
  }
  return LPM_EXIT_CONFIG;
}

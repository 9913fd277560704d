// The board tools' decisions: lpm's command line, configuration and sleep
// sequence against a scripted kernel, and the status tool's lines as the
// daemon's own status parser reads them.
#include <gtest/gtest.h>

#include <errno.h>
#include <linux/rtc.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include <map>
#include <string>
#include <vector>

#include "board/gpio_sysfs.h"
#include "board/lpm_config.h"
#include "board/lpm_request.h"
#include "board/lpm_run.h"
#include "board/rtc_abi.h"
#include "board/status_ports.h"
#include "device/status.h"

namespace {

std::string parse(std::vector<const char*> arguments) {
  arguments.insert(arguments.begin(), "lpm");
  lpm_request request{};
  char error[256] = "";
  if (!parse_lpm_arguments(static_cast<int>(arguments.size()), arguments.data(), &request, error,
                           sizeof error)) {
    return std::string("error: ") + error;
  }
  std::string result = request.wake_by_input ? "b" : "";
  if (request.timed) result += " i" + std::to_string(request.seconds);
  return result;
}

}  // namespace

TEST(LpmArguments, TheDaemonsFormsAndNothingElse) {
  struct row {
    std::vector<const char*> arguments;
    const char* expected;  // parsed, or the start of the error
  };
  const row rows[] = {
      {{"-b"}, "b"},
      {{"-i", "20"}, " i20"},
      {{"-b", "-i", "3600"}, "b i3600"},
      {{"-i", "0"}, " i0"},
      {{"-i", "4294967295"}, " i4294967295"},
      {{"-i", "4294967296"}, "error: \"-i 4294967296\": seconds must be plain decimal"},
      {{"-i", "99999999999999999999"}, "error: \"-i 99999999999999999999\": seconds"},
      {{"-i", "-5"}, "error: \"-i -5\": seconds"},
      {{"-i", "+5"}, "error: \"-i +5\": seconds"},
      {{"-i", " 5"}, "error: \"-i  5\": seconds"},
      {{"-i", "0x10"}, "error: \"-i 0x10\": seconds"},
      {{"-i", ""}, "error: \"-i \": seconds"},
      {{"-i"}, "error: \"-i\" needs a number of seconds"},
      {{"-b", "-i"}, "error: \"-i\" needs a number of seconds"},
      {{"-i", "5", "-b"}, "error: unexpected argument \"-b\""},
      {{"-b", "-b"}, "error: unexpected argument \"-b\""},
      {{"-x"}, "error: unexpected argument \"-x\""},
      {{}, "error: no wake-up condition"},
  };
  for (const row& r : rows) {
    const std::string result = parse(r.arguments);
    EXPECT_EQ(result.substr(0, strlen(r.expected)), r.expected) << result;
  }
}

TEST(LpmConfig, LinesOfTheFile) {
  struct row {
    const char* text;
    const char* expected;  // "method rtc hooks poweroff_command", or "error: ..." prefix
  };
  const row rows[] = {
      {"", "suspend /dev/rtc0 0 -"},
      {"# comment\n\n  \nmethod=soft\n", "soft /dev/rtc0 0 -"},
      {"method = poweroff \r\nrtc=/dev/rtc1\n", "poweroff /dev/rtc1 0 -"},
      {"method=poweroff\npoweroff_command=/sbin/poweroff\n", "poweroff /dev/rtc0 0 /sbin/poweroff"},
      {"hook=/a\nhook=/b\n", "suspend /dev/rtc0 2 -"},
      {"method=hibernate\n", "error: 1: unknown method \"hibernate\""},
      {"method=Suspend\n", "error: 1: unknown method \"Suspend\""},
      {"\nmode=soft\n", "error: 2: unknown key \"mode\""},
      {"method\n", "error: 1: not a \"key=value\" line"},
      {"rtc=rtc0\n", "error: 1: rtc must be an absolute path"},
      {"hook=radios.sh\n", "error: 1: hook must be an absolute path"},
      {"hook=/1\nhook=/2\nhook=/3\nhook=/4\nhook=/5\nhook=/6\nhook=/7\nhook=/8\nhook=/9\n",
       "error: 9: more than 8 hooks"},
      {"rtc=/x", "suspend /x 0 -"},
      {"rtc=/", "suspend / 0 -"},
      {"method=soft\n#x\n\nhook=/y\n", "soft /dev/rtc0 1 -"},
      {"hook=/long\nrtc=/", "suspend / 1 -"},
  };
  for (const row& r : rows) {
    lpm_config config{};
    char error[256] = "";
    std::string result;
    if (read_lpm_config(r.text, &config, error, sizeof error)) {
      result = std::string(lpm_method_name(config.method)) + " " + config.rtc + " " +
               std::to_string(config.hook_count) + " " +
               (config.poweroff_command[0] != '\0' ? config.poweroff_command : "-");
    } else {
      result = std::string("error: ") + error;
    }
    EXPECT_EQ(result.substr(0, strlen(r.expected)), r.expected) << r.text;
  }
}

TEST(RtcInterface, MatchesTheKernelHeaders) {
  EXPECT_EQ(RTC_ALARM_INTERRUPT_OFF, static_cast<unsigned long>(RTC_AIE_OFF));
  EXPECT_EQ(RTC_READ_TIME, static_cast<unsigned long>(RTC_RD_TIME));
  EXPECT_EQ(RTC_WAKE_ALARM_SET, static_cast<unsigned long>(RTC_WKALM_SET));
  EXPECT_EQ(RTC_WAKE_ALARM_READ, static_cast<unsigned long>(RTC_WKALM_RD));
  EXPECT_EQ(sizeof(rtc_wake_alarm), sizeof(rtc_wkalrm));
  EXPECT_EQ(offsetof(rtc_wake_alarm, time), offsetof(rtc_wkalrm, time));
}

TEST(LpmConfig, OnlyPoweroffKeepsTheBoardDown) {
  EXPECT_TRUE(lpm_method_returns(lpm_method::suspend));
  EXPECT_TRUE(lpm_method_returns(lpm_method::soft));
  EXPECT_FALSE(lpm_method_returns(lpm_method::poweroff));
}

TEST(GpioSysfs, InputsAndWokenBy) {
  struct inputs_row {
    const char* text;
    bool valid;
    bool input0;
    bool input1;
  };
  const inputs_row inputs_rows[] = {
      {"0 1\n", true, true, true},   {"0\n", true, true, false},   {"1\n", true, false, true},
      {"\n", true, false, false},    {"0 1", false, false, false}, {"2\n", false, false, false},
      {"0 0\n", false, true, false}, {"01\n", false, true, false}, {"", false, false, false},
  };
  for (const inputs_row& r : inputs_rows) {
    bool present[GPIO_INPUT_COUNT];
    EXPECT_EQ(parse_gpio_inputs(r.text, present), r.valid) << r.text;
    if (r.valid) {
      EXPECT_EQ(present[0], r.input0) << r.text;
      EXPECT_EQ(present[1], r.input1) << r.text;
    }
  }
  EXPECT_EQ(parse_woken_by("0\n"), 0);
  EXPECT_EQ(parse_woken_by("1\n"), 1);
  EXPECT_EQ(parse_woken_by("none\n"), WOKEN_BY_NONE);
  EXPECT_EQ(parse_woken_by("none"), WOKEN_BY_UNREADABLE);
  EXPECT_EQ(parse_woken_by("2\n"), WOKEN_BY_UNREADABLE);
  EXPECT_EQ(parse_woken_by(""), WOKEN_BY_UNREADABLE);
}

TEST(LpmSleepState, MemBeforeFreeze) {
  EXPECT_STREQ(choose_sleep_state("freeze mem disk\n"), "mem");
  EXPECT_STREQ(choose_sleep_state("freeze\n"), "freeze");
  EXPECT_STREQ(choose_sleep_state("freeze memory\n"), "freeze");
  EXPECT_EQ(choose_sleep_state("disk\n"), nullptr);
  EXPECT_EQ(choose_sleep_state(""), nullptr);
}

// The status tool's output, read back with the daemon's own parser: each
// present input's key gives its level, an absent one "N/A".
TEST(StatusPorts, TheDaemonsParserReadsEveryLine) {
  struct row {
    bool present[GPIO_INPUT_COUNT];
    int level[GPIO_INPUT_COUNT];
    const char* output;
  };
  const row rows[] = {
      {{true, true}, {0, 1}, "Binary Input 0: 0\nBinary Input 1: 1\n"},
      {{true, false}, {1, -1}, "Binary Input 0: 1\n"},
      {{false, true}, {-1, 0}, "Binary Input 1: 0\n"},
      {{false, false}, {-1, -1}, ""},
      {{true, true}, {-5, 1}, "Binary Input 0: unreadable\nBinary Input 1: 1\n"},
  };
  for (const row& r : rows) {
    char out[128];
    const size_t length = format_ports(r.present, r.level, out, sizeof out);
    EXPECT_STREQ(out, r.output);
    EXPECT_EQ(length, strlen(r.output));
    for (int n = 0; n < GPIO_INPUT_COUNT; ++n) {
      char key[32];
      snprintf(key, sizeof key, "Binary Input %d", n);
      char value[STATUS_VALUE_MAX + 1];
      EXPECT_EQ(status_scan(out, key, value), r.present[n]) << r.output << key;
      if (r.present[n] && r.level[n] >= 0) {
        EXPECT_EQ(value, std::to_string(r.level[n]));
      }
    }
  }
}

TEST(StatusPorts, CommandLine) {
  const char* ports[] = {"status", "-v", "ports"};
  const char* other[] = {"status", "-v", "wan"};
  const char* bare[] = {"status"};
  const char* missing[] = {"status", "-v"};
  const char* extra[] = {"status", "-v", "ports", "x"};
  const char* flag[] = {"status", "-x", "ports"};
  EXPECT_STREQ(status_section(3, ports), "ports");
  EXPECT_STREQ(status_section(3, other), "wan");
  EXPECT_EQ(status_section(1, bare), nullptr);
  EXPECT_EQ(status_section(2, missing), nullptr);
  EXPECT_EQ(status_section(4, extra), nullptr);
  EXPECT_EQ(status_section(3, flag), nullptr);
}

namespace {

// A scripted kernel: files by path, an RTC, a wait's outcome; every action
// that arms, disarms or sleeps is appended to trace.
struct fake_kernel {
  std::map<std::string, std::string> files;
  int rtc_error = 0;         // errno for setting the alarm, 0 to succeed
  int wake_write_error = 0;  // errno for writing "1" to wake
  int state_write_error = 0;
  int64_t rtc_clock = 1000;
  int64_t alarm = 0;
  int64_t read_back_offset = 0;  // added to the alarm read back
  uint32_t sleep_seconds = 20;   // time spent in the sleep state
  soft_wake wait_result = soft_wake::timer;
  int power_off_error = EPERM;
  int64_t boot_ms = 0;
  std::string trace;
  std::vector<std::string> logs;
};

fake_kernel& kernel(void* context) { return *static_cast<fake_kernel*>(context); }

void note(fake_kernel& k, const std::string& what) {
  k.trace += (k.trace.empty() ? "" : "; ") + what;
}

lpm_system fake_system(fake_kernel* scripted) {
  lpm_system system{};
  system.context = scripted;
  system.rtc_set_alarm = [](void* c, const char* device, uint32_t seconds, int64_t* alarm) {
    fake_kernel& k = kernel(c);
    if (k.rtc_error != 0) {
      errno = k.rtc_error;
      return -1;
    }
    *alarm = k.rtc_clock + seconds;
    k.alarm = *alarm;
    note(k, std::string("alarm ") + device + " +" + std::to_string(seconds));
    return 0;
  };
  system.rtc_read_alarm = [](void* c, const char*, int64_t* alarm, bool* enabled) {
    fake_kernel& k = kernel(c);
    *alarm = k.alarm + k.read_back_offset;
    *enabled = true;
    note(k, "read back");
    return 0;
  };
  system.rtc_now = [](void* c, const char*) { return kernel(c).rtc_clock; };
  system.rtc_disarm = [](void* c, const char*) { note(kernel(c), "alarm off"); };
  system.read_text = [](void* c, const char* path, char* out, size_t size) {
    fake_kernel& k = kernel(c);
    const auto file = k.files.find(path);
    if (file == k.files.end()) {
      errno = ENOENT;
      return -1;
    }
    snprintf(out, size, "%s", file->second.c_str());
    return 0;
  };
  system.write_text = [](void* c, const char* path, const char* text) {
    fake_kernel& k = kernel(c);
    const bool state = strcmp(path, POWER_STATE_PATH) == 0;
    const int error =
        state ? k.state_write_error : (strcmp(text, "1") == 0 ? k.wake_write_error : 0);
    if (error != 0) {
      errno = error;
      return -1;
    }
    note(k, std::string(state ? "state " : "wake ") + text);
    if (state) {
      k.boot_ms += k.sleep_seconds * 1000LL + 300;
      k.rtc_clock += k.sleep_seconds;
    }
    return 0;
  };
  system.wait_soft = [](void* c, bool timed, uint32_t seconds, bool inputs) {
    fake_kernel& k = kernel(c);
    note(k, std::string("wait") + (timed ? " " + std::to_string(seconds) + " s" : "") +
                (inputs ? " inputs" : ""));
    k.boot_ms += k.sleep_seconds * 1000LL;
    return k.wait_result;
  };
  system.run_hook = [](void* c, const char* path, const char* phase) {
    note(kernel(c), std::string(path) + " " + phase);
    return strcmp(path, "/failing") == 0 ? 1 : 0;
  };
  system.power_off = [](void* c, const char* command) {
    fake_kernel& k = kernel(c);
    note(k, std::string("power off") + (command[0] != '\0' ? " " : "") + command);
    errno = k.power_off_error;
    return -1;
  };
  system.boottime_ms = [](void* c) { return kernel(c).boot_ms; };
  system.log = [](void* c, int priority, const char* text) {
    kernel(c).logs.push_back(std::string(priority <= LOG_ERR ? "E " : "N ") + text);
  };
  return system;
}

struct sleep_case {
  const char* what;
  lpm_method method;
  lpm_request request;
  void (*script)(fake_kernel*);
  int status;
  const char* trace;
  const char* log;  // the one line logged, from its start
};

void two_inputs(fake_kernel* k) {
  k->files[GPIO_INPUTS_PATH] = "0 1\n";
  k->files[POWER_STATE_PATH] = "freeze mem\n";
  k->files[GPIO_WOKEN_BY_PATH] = "none\n";
}

}  // namespace

TEST(LpmSleep, ArmsSleepsDisarmsAndSaysWhatWokeIt) {
  const sleep_case cases[] = {
      {"RTC wake from suspend",
       lpm_method::suspend,
       {false, true, 20},
       two_inputs,
       0,
       "alarm /dev/rtc0 +20; state mem; alarm off",
       "N suspend (mem): woken by the RTC alarm after 20 s; wake-up by the RTC "
       "alarm at 1970-01-01 00:17:00 UTC (20 s)"},
      {"input wake from suspend, freeze only",
       lpm_method::suspend,
       {true, true, 20},
       [](fake_kernel* k) {
         two_inputs(k);
         k->files[POWER_STATE_PATH] = "freeze\n";
         k->files[GPIO_WOKEN_BY_PATH] = "1\n";
         k->sleep_seconds = 5;
       },
       0,
       "alarm /dev/rtc0 +20; wake 1; state freeze; wake 0; alarm off",
       "N suspend (freeze): woken by input 1 after 5 s; wake-up by input 0 or 1, "
       "or by the RTC alarm"},
      {"input only, one input",
       lpm_method::suspend,
       {true, false, 0},
       [](fake_kernel* k) {
         two_inputs(k);
         k->files[GPIO_INPUTS_PATH] = "0\n";
         k->files[GPIO_WOKEN_BY_PATH] = "0\n";
       },
       0,
       "wake 1; state mem; wake 0",
       "N suspend (mem): woken by input 0 after 20 s"},
      {"woken early by something else",
       lpm_method::suspend,
       {false, true, 60},
       two_inputs,
       0,
       "alarm /dev/rtc0 +60; state mem; alarm off",
       "N suspend (mem): woken by another wakeup source after 20 s"},
      {"no wake-capable RTC",
       lpm_method::suspend,
       {true, true, 20},
       [](fake_kernel* k) {
         two_inputs(k);
         k->rtc_error = ENOENT;
       },
       LPM_EXIT_NO_WAKE,
       "",
       "E suspend: not entered: no wake-capable RTC for -i 20: /dev/rtc0: No such file"},
      {"RTC without alarms",
       lpm_method::suspend,
       {false, true, 20},
       [](fake_kernel* k) {
         two_inputs(k);
         k->rtc_error = EINVAL;
       },
       LPM_EXIT_NO_WAKE,
       "",
       "E suspend: not entered: no wake-capable RTC for -i 20"},
      {"-b without the driver",
       lpm_method::suspend,
       {true, true, 20},
       [](fake_kernel* k) { k->files[POWER_STATE_PATH] = "mem\n"; },
       LPM_EXIT_NO_WAKE,
       "",
       "E suspend: not entered: no input to arm for -b: /sys/class/misc/gpio/inputs: No such"},
      {"-b with no configured input",
       lpm_method::suspend,
       {true, false, 0},
       [](fake_kernel* k) {
         two_inputs(k);
         k->files[GPIO_INPUTS_PATH] = "\n";
       },
       LPM_EXIT_NO_WAKE,
       "",
       "E suspend: not entered: no input to arm for -b: dormix_gpio has no"},
      {"arming the inputs fails: the RTC alarm is taken back",
       lpm_method::suspend,
       {true, true, 20},
       [](fake_kernel* k) {
         two_inputs(k);
         k->wake_write_error = ENODEV;
       },
       LPM_EXIT_NO_WAKE,
       "alarm /dev/rtc0 +20; alarm off",
       "E suspend: not entered: arming the inputs through /sys/class/misc/gpio/wake"},
      {"no sleep state: everything taken back",
       lpm_method::suspend,
       {true, true, 20},
       [](fake_kernel* k) {
         two_inputs(k);
         k->files[POWER_STATE_PATH] = "disk\n";
       },
       LPM_EXIT_NOT_ENTERED,
       "alarm /dev/rtc0 +20; wake 1; wake 0; alarm off",
       "E suspend: not entered: the kernel offers neither mem nor freeze"},
      {"the kernel refuses the state",
       lpm_method::suspend,
       {true, true, 20},
       [](fake_kernel* k) {
         two_inputs(k);
         k->state_write_error = EBUSY;
       },
       LPM_EXIT_NOT_ENTERED,
       "alarm /dev/rtc0 +20; wake 1; wake 0; alarm off",
       "E suspend: not entered: writing mem to /sys/power/state: Device or resource busy"},
      {"-i 0: the wake-up time is now",
       lpm_method::suspend,
       {true, true, 0},
       two_inputs,
       0,
       "",
       "N suspend: not entered: the wake-up time is now"},
      {"soft: hooks in order, undone in reverse, timer",
       lpm_method::soft,
       {true, true, 20},
       two_inputs,
       0,
       "wake 1; /radios sleep; /failing sleep; /leds sleep; wait 20 s inputs; wake 0; "
       "/leds wake; /failing wake; /radios wake",
       "N soft: woken by the timer after 20 s; wake-up by input 0 or 1, or by the timer after "
       "20 s; 3 hook(s)"},
      {"soft: an input change ends the wait",
       lpm_method::soft,
       {true, false, 0},
       [](fake_kernel* k) {
         two_inputs(k);
         k->files[GPIO_WOKEN_BY_PATH] = "0\n";
         k->wait_result = soft_wake::input;
         k->sleep_seconds = 7;
       },
       0,
       "wake 1; /radios sleep; /failing sleep; /leds sleep; wait inputs; wake 0; /leds wake; "
       "/failing wake; /radios wake",
       "N soft: woken by input 0 after 7 s"},
      {"soft needs no RTC",
       lpm_method::soft,
       {false, true, 30},
       [](fake_kernel* k) {
         k->rtc_error = ENOENT;
         k->wait_result = soft_wake::signal;
       },
       0,
       "/radios sleep; /failing sleep; /leds sleep; wait 30 s; /leds wake; /failing wake; "
       "/radios wake",
       "N soft: woken by a signal after 20 s"},
      {"soft -b without inputs",
       lpm_method::soft,
       {true, true, 30},
       [](fake_kernel*) {},
       LPM_EXIT_NO_WAKE,
       "",
       "E soft: not entered: no input to arm for -b"},
      {"poweroff: alarm read back, then off",
       lpm_method::poweroff,
       {true, true, 20},
       [](fake_kernel* k) { k->rtc_clock = 1765301400 - 20; },
       LPM_EXIT_NOT_ENTERED,
       "alarm /dev/rtc0 +20; read back; power off; alarm off",
       "N poweroff: wake-up by the RTC alarm at 2025-12-09 17:30:00 UTC (20 s; read back from "
       "/dev/rtc0); input wake-up is left to the board's power controller"},
      {"poweroff: an alarm that reads back wrong",
       lpm_method::poweroff,
       {false, true, 20},
       [](fake_kernel* k) { k->read_back_offset = 19; },
       LPM_EXIT_NO_WAKE,
       "alarm /dev/rtc0 +20; read back; alarm off",
       "E poweroff: not entered: the alarm of /dev/rtc0 does not read back as set"},
      {"poweroff without an RTC",
       lpm_method::poweroff,
       {false, true, 20},
       [](fake_kernel* k) { k->rtc_error = ENOTTY; },
       LPM_EXIT_NO_WAKE,
       "",
       "E poweroff: not entered: no wake-capable RTC for -i 20"},
  };
  for (const sleep_case& c : cases) {
    fake_kernel k;
    c.script(&k);
    lpm_config config = default_lpm_config();
    config.method = c.method;
    if (c.method == lpm_method::soft) {
      for (const char* hook : {"/radios", "/failing", "/leds"}) {
        snprintf(config.hooks[config.hook_count++], LPM_PATH_SIZE, "%s", hook);
      }
    }
    const lpm_system system = fake_system(&k);
    EXPECT_EQ(run_lpm(c.request, config, system), c.status) << c.what;
    EXPECT_EQ(k.trace, c.trace) << c.what;
    // Failing hooks and a failed power-off are logged besides that line.
    std::string logged;
    int matching = 0;
    for (const std::string& line : k.logs) {
      logged += line + "\n";
      if (line.compare(0, strlen(c.log), c.log) == 0) ++matching;
    }
    EXPECT_EQ(matching, 1) << c.what << "\n" << logged;
  }
}

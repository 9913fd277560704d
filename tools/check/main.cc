// dormix-check: says what the daemon will do with a settings file, and warns
// about lines it reads differently from how they look.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include "analysis/report.h"
#include "board/lpm_config.h"
#include "daemon/time_zone.h"
#include "datetime/date_time.h"
#include "settings/settings.h"
#include "tools/check/clock_wait.h"
#include "tools/check/exit_status.h"
#include "tools/check/field_mode.h"
#include "tools/check/init_gate.h"
#include "tools/check/output.h"
#include "tools/check/router.h"

namespace {

// After "usage: dormix-check ".
constexpr const char* USAGE =
    "[--at \"YYYY-MM-DD HH:MM:SS\"] [--inputs LIST] [--json] [--quiet] [FILE]\n"
    "       dormix-check --now|--watch [FILE]\n"
    "Shows what dormix will do with the settings FILE (default %s) and warns\n"
    "about lines that the daemon reads differently from how they look.\n"
    "  --at TIME      evaluate at this local time instead of now\n"
    "  --inputs LIST  the binary inputs that exist: 0,1 or 0 or 1 or none;\n"
    "                 without it the router's status tool is asked\n"
    "  --json         print the report as JSON\n"
    "  -q, --quiet    print only the warnings\n"
    "  --now          on the router: the inputs as the daemon sees them now, and\n"
    "                 who besides root can change the files the daemon trusts\n"
    "  --watch        --now, then look again every 250 ms and print what changes,\n"
    "                 until interrupted (Ctrl-C ends it with status 0)\n"
    "Exit status: 0 no warnings, 1 warnings, 2 unusable file or wrong usage.\n"
    "For init scripts: dormix-enabled [FILE] and dormix-wait-clock SECONDS\n"
    "[PROGRAM...] (deprecated: dormix-check --enabled, --wait-for-clock).\n";

constexpr command_name CHECK{"dormix-check", ""};
// The init scripts' helpers: the same program under names of their own, and
// the options by which the previous release's installed scripts call them.
constexpr command_name ENABLED{"dormix-enabled", ""};
constexpr command_name ENABLED_OPTION{"dormix-check", "--enabled "};
constexpr command_name WAIT_CLOCK{"dormix-wait-clock", ""};
constexpr command_name WAIT_CLOCK_OPTION{"dormix-check", "--wait-for-clock "};

struct options {
  check_request request;
  bool inputs_given;
  bool json;
  bool quiet;
  bool help;
  bool now;
  bool watch;
};

bool parse_inputs(const char* list, input_presence_answer* inputs) {
  *inputs = input_presence_answer{presence_source::option, {}};
  if (strcmp(list, "none") == 0 || list[0] == '\0') return true;
  for (const char* c = list;; c += 2) {
    if (c[0] != '0' && c[0] != '1') return false;
    inputs->present[c[0] - '0'] = true;
    if (c[1] == '\0') return true;
    if (c[1] != ',') return false;
  }
}

// The option's value: after "=" in the same argument, or the next argument.
const char* option_value(const char* argument, const char* name, int* index, int argc,
                         char** argv) {
  const size_t length = strlen(name);
  if (argument[length] == '=') return argument + length + 1;
  if (*index + 1 >= argc) return nullptr;
  return argv[++*index];
}

bool is_option(const char* argument, const char* name) {
  const size_t length = strlen(name);
  return strncmp(argument, name, length) == 0 &&
         (argument[length] == '\0' || argument[length] == '=');
}

int parse_options(int argc, char** argv, options* parsed) {
  bool only_files = false;
  const char* at_text = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (only_files || argument[0] != '-' || strcmp(argument, "-") == 0) {
      if (parsed->request.path != nullptr)
        return usage_error(CHECK, USAGE, "more than one file: %s", argument);
      parsed->request.path = argument;
    } else if (strcmp(argument, "--") == 0) {
      only_files = true;
    } else if (strcmp(argument, "--json") == 0) {
      parsed->json = true;
    } else if (strcmp(argument, "--quiet") == 0 || strcmp(argument, "-q") == 0) {
      parsed->quiet = true;
    } else if (strcmp(argument, "--now") == 0) {
      parsed->now = true;
    } else if (strcmp(argument, "--watch") == 0) {
      parsed->watch = true;
    } else if (strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0) {
      parsed->help = true;
    } else if (is_option(argument, "--at")) {
      at_text = option_value(argument, "--at", &i, argc, argv);
      if (at_text == nullptr) return usage_error(CHECK, USAGE, "%s needs a time", "--at");
    } else if (is_option(argument, "--inputs")) {
      const char* list = option_value(argument, "--inputs", &i, argc, argv);
      if (list == nullptr) return usage_error(CHECK, USAGE, "%s needs a list", "--inputs");
      parsed->inputs_given = true;
      if (!parse_inputs(list, &parsed->request.inputs)) {
        return usage_error(CHECK, USAGE, "--inputs takes 0,1 or 0 or 1 or none, not \"%s\"", list);
      }
    } else {
      return usage_error(CHECK, USAGE, "unknown option %s", argument);
    }
  }
  parsed->now = parsed->now || parsed->watch;
  // The router's present: its clock, its status tool, its inputs.
  if (parsed->now && (at_text != nullptr || parsed->inputs_given || parsed->json)) {
    return usage_error(CHECK, USAGE, "%s looks at this router now: no --at, --inputs or --json",
                       "--now");
  }
  if (parsed->request.path == nullptr) parsed->request.path = SETTINGS_PATH;
  parsed->request.at = time(nullptr);
  if (at_text != nullptr && !parse_local_moment(at_text, &parsed->request.at)) {
    return usage_error(
        CHECK, USAGE,
        "--at takes a local time as \"YYYY-MM-DD HH:MM:SS\" that the clock shows, not \"%s\"",
        at_text);
  }
  return EXIT_YES;
}

FILE* open_settings(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) {
    fprintf(stderr, "dormix-check: cannot open %s: %s (the daemon would run with every rule off)\n",
            path, strerror(errno));
    return nullptr;
  }
  struct stat status {};
  if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
    fprintf(stderr, "dormix-check: %s is a directory, not a settings file\n", path);
    fclose(file);
    return nullptr;
  }
  return file;
}

// The name this program was run by, without its directory.
const char* base_name(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The init scripts' questions: each a command of its own.
  const char* called = argc > 0 ? base_name(argv[0]) : "";
  if (strcmp(called, ENABLED.program) == 0) return run_enabled_check(ENABLED, argc - 1, argv + 1);
  if (strcmp(called, WAIT_CLOCK.program) == 0) {
    return run_clock_wait(WAIT_CLOCK, argc - 1, argv + 1);
  }
  if (argc > 1 && strcmp(argv[1], "--enabled") == 0) {
    return run_enabled_check(ENABLED_OPTION, argc - 2, argv + 2);
  }
  if (argc > 1 && strcmp(argv[1], "--wait-for-clock") == 0) {
    return run_clock_wait(WAIT_CLOCK_OPTION, argc - 2, argv + 2);
  }
  options parsed{};
  // Before any local time is read, --at included: the daemon's zone. An
  // operator's shell may hold more variables than the daemon's supervisor.
  static char* environment[ENVIRONMENT_CAPACITY * 8];
  parsed.request.zone = use_system_time_zone(environment, ENVIRONMENT_CAPACITY * 8);
  const int parse_status = parse_options(argc, argv, &parsed);
  if (parse_status != EXIT_YES) return parse_status;
  if (parsed.help) {
    printf("usage: %s ", CHECK.program);
    printf(USAGE, SETTINGS_PATH);
    return EXIT_YES;
  }
  FILE* file = open_settings(parsed.request.path);
  if (file == nullptr) return EXIT_UNUSABLE;
  if (!parsed.inputs_given) parsed.request.inputs = router_input_presence();
  static char lpm_config_text[LPM_CONFIG_MAX + 1];
  static lpm_method_answer lpm{false, nullptr, LPM_CONFIG_PATH};
  if (lpm_config_method(read_lpm_config_file(lpm_config_text), &lpm.returns, &lpm.name)) {
    parsed.request.lpm = &lpm;
  }
  // Large records: static, so that the stack stays small.
  static check_report report;
  const bool readable = build_report(file, parsed.request, &report);
  const int read_error = errno;
  fclose(file);
  if (!readable) {
    fprintf(stderr, "dormix-check: cannot read %s: %s\n", parsed.request.path,
            strerror(read_error));
    return EXIT_UNUSABLE;
  }
  if (parsed.now) return run_field_check(report, parsed.watch, stdout);
  if (parsed.json) {
    print_json(report, stdout);
  } else {
    print_text(report, parsed.quiet, stdout);
  }
  if (fflush(stdout) != 0 || ferror(stdout) != 0) return EXIT_UNUSABLE;
  return warning_total(report.findings) == 0 ? EXIT_YES : EXIT_NO;
}

# Stand-in for OpenWrt's /lib/functions/procd.sh, written from the
# documented interface of procd init scripts: it builds the "service set"
# message that procd receives over ubus, in the JSON layout procd documents
# ({"name", "script", "instances": {"instance1": {...}}, "triggers": [...]}),
# and sends it with the ubus command. Only what dormix's script uses is
# here. Where OpenWrt would drop a mistake without a word (an unknown
# parameter name, a parameter outside an instance, a malformed value), this
# stand-in stops the script with status 99, so that the tests see it.
# shellcheck shell=dash # busybox ash: "local" too

procd_reject() {
	echo "procd stand-in: $*" >&2
	exit 99
}

# One JSON string, and a JSON list of strings.
procd_json_string() {
	printf '"%s"' "$(printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g')"
}
procd_json_list() {
	local separator='' word
	printf '['
	for word in "$@"; do
		printf '%s %s' "$separator" "$(procd_json_string "$word")"
		separator=,
	done
	printf ' ]'
}

# rc.common's start opens the service (name and script), start_service adds
# the instances, service_triggers the triggers, and the close sends it all.
procd_open_service() {
	PROCD_SERVICE=$1
	PROCD_SCRIPT=$2
	PROCD_INSTANCES=''
	PROCD_TRIGGERS=''
	PROCD_INSTANCE_COUNT=0
	PROCD_INSTANCE=''
}
procd_close_service() {
	[ -z "$PROCD_INSTANCE" ] || procd_reject "an instance was left open"
	if type service_triggers 2>/dev/null | grep -q function; then
		PROCD_IN_TRIGGERS=1
		service_triggers
		PROCD_IN_TRIGGERS=''
	fi
	ubus call service set "{ \"name\": $(procd_json_string "$PROCD_SERVICE"), \"script\": $(procd_json_string "$PROCD_SCRIPT"), \"instances\": { ${PROCD_INSTANCES} }, \"triggers\": [ ${PROCD_TRIGGERS} ] }"
}

# procd_open_instance [NAME]: procd names unnamed instances instance1, ...
procd_open_instance() {
	[ -n "$PROCD_SERVICE" ] || procd_reject "procd_open_instance outside start_service"
	[ -z "$PROCD_INSTANCE" ] || procd_reject "procd_open_instance inside an open instance"
	PROCD_INSTANCE_COUNT=$((PROCD_INSTANCE_COUNT + 1))
	PROCD_INSTANCE=${1:-instance$PROCD_INSTANCE_COUNT}
	PROCD_PARAMS=''
	PROCD_PARAM_NAMES=' '
}

# procd_set_param NAME VALUE...: the parameters procd documents that
# dormix's script uses.
#   command WORD...          the program and its arguments, run without a shell
#   respawn THRESHOLD TIMEOUT RETRY   seconds, seconds, count (all three)
#   file PATH...             watched files: a later "service set" whose
#                            files' contents differ restarts the instance
#   stderr 0|1 / stdout 0|1  the stream goes to the system log
#   env KEY=VALUE...         the instance's environment
procd_set_param() {
	local param="$1" value
	[ -n "$PROCD_INSTANCE" ] || procd_reject "procd_set_param $param outside an instance"
	shift
	case $PROCD_PARAM_NAMES in
	*" $param "*) procd_reject "procd_set_param $param twice: only the last would count" ;;
	esac
	[ $# -gt 0 ] || procd_reject "procd_set_param $param without a value"
	case $param in
	command | respawn | file) value=$(procd_json_list "$@") ;;
	stderr | stdout)
		case "$*" in
		0) value=false ;;
		1) value=true ;;
		*) procd_reject "procd_set_param $param takes 0 or 1, not \"$*\"" ;;
		esac
		;;
	env)
		value='{'
		for pair in "$@"; do
			case $pair in
			[A-Za-z_]*=*) ;;
			*) procd_reject "procd_set_param env takes KEY=VALUE, not \"$pair\"" ;;
			esac
			[ "$value" = '{' ] || value="$value,"
			value="$value $(procd_json_string "${pair%%=*}"): $(procd_json_string "${pair#*=}")"
		done
		value="$value }"
		;;
	*) procd_reject "procd_set_param: no parameter \"$param\"" ;;
	esac
	case $param in
	respawn)
		[ $# -eq 3 ] || procd_reject "procd_set_param respawn takes 3 numbers"
		case "$1$2$3" in *[!0-9]*) procd_reject "procd_set_param respawn: \"$*\"" ;; esac
		;;
	file)
		for path in "$@"; do
			case $path in /*) ;; *) procd_reject "procd_set_param file: \"$path\" is not absolute" ;; esac
		done
		;;
	esac
	PROCD_PARAM_NAMES="$PROCD_PARAM_NAMES$param "
	PROCD_PARAMS="$PROCD_PARAMS${PROCD_PARAMS:+, }\"$param\": $value"
}

procd_close_instance() {
	[ -n "$PROCD_INSTANCE" ] || procd_reject "procd_close_instance without an open instance"
	case $PROCD_PARAM_NAMES in
	*" command "*) ;;
	*) procd_reject "instance $PROCD_INSTANCE has no command: procd would not run it" ;;
	esac
	PROCD_INSTANCES="$PROCD_INSTANCES${PROCD_INSTANCES:+, }$(procd_json_string "$PROCD_INSTANCE"): { $PROCD_PARAMS }"
	PROCD_INSTANCE=''
}

# procd_add_reload_trigger CONFIG...: a change of each uci config (a
# "config.change" event for that package) runs "SCRIPT reload", after
# PROCD_RELOAD_DELAY ms (procd's default 1000) in which later changes
# are gathered.
procd_add_reload_trigger() {
	local config delay="${PROCD_RELOAD_DELAY:-1000}"
	[ -n "$PROCD_IN_TRIGGERS" ] || procd_reject "procd_add_reload_trigger outside service_triggers"
	case $delay in '' | *[!0-9]*) procd_reject "PROCD_RELOAD_DELAY \"$delay\" is not in ms" ;; esac
	for config in "$@"; do
		PROCD_TRIGGERS="$PROCD_TRIGGERS${PROCD_TRIGGERS:+, }[ \"config.change\", [ \"if\", [ \"eq\", \"package\", $(procd_json_string "$config") ], [ \"run_script\", $(procd_json_string "$PROCD_SCRIPT"), \"reload\" ] ], $delay ]"
	done
}

# procd_kill SERVICE: procd stops the service's instances and forgets it.
procd_kill() {
	ubus call service delete "{ \"name\": $(procd_json_string "$1") }"
}

# procd's own status report of a service, printed and as exit status:
# "inactive" 3 when procd has no such service, "running" 0 when every
# instance runs, "not running" 5 when none does (after a crash loop).
_procd_status() {
	local answer running stopped
	answer=$(ubus call service list "{ \"name\": $(procd_json_string "$1") }")
	case $answer in
	*\"$1\"*) ;;
	*)
		echo inactive
		return 3
		;;
	esac
	running=$(printf '%s\n' "$answer" | grep -c '"running": true')
	stopped=$(printf '%s\n' "$answer" | grep -c '"running": false')
	if [ "$stopped" -eq 0 ]; then
		echo running
		return 0
	fi
	if [ "$running" -eq 0 ]; then
		echo "not running"
		return 5
	fi
	echo "running ($running/$((running + stopped)))"
	return 0
}

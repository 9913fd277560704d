# Shared by the package tests: a throwaway root in which packages are
# installed and run. The caller runs in private mount and pid namespaces
# (enter_namespaces); the root is an overlay of / whose changes go to a tmpfs,
# so that nothing reaches the host, and every process started in it ends
# with the namespace.
#
# It has no systemd running: the maintainer scripts take their sysvinit path
# (invoke-rc.d), which a policy-rc.d lets act as in runlevel 2. Fakes stand
# at the router's tool paths, and /dev/log is a socket whose messages are
# appended to $syslog.

# enter_namespaces "$0" "$@": runs the calling script again in new mount and
# pid namespaces, as pid 1 there, and exits with its status.
enter_namespaces() {
  if [[ -z ${DORMIX_IN_NAMESPACES:-} ]]; then
    DORMIX_IN_NAMESPACES=1 exec unshare --mount --pid --fork --propagation private bash "$@"
  fi
}

# make_root SCRATCH [LOWER]: sets root and syslog; starts the syslog
# listener. The root is an overlay of LOWER, by default /.
make_root() {
  local scratch=$1 lower=${2:-/}
  mkdir -p "$scratch"
  mount -t tmpfs tmpfs "$scratch"
  mkdir "$scratch/upper" "$scratch/work" "$scratch/root"
  root=$scratch/root
  syslog=$scratch/syslog
  mount -t overlay overlay -o "lowerdir=$lower,upperdir=$scratch/upper,workdir=$scratch/work" "$root"
  mount -t proc proc "$root/proc"
  mount -t tmpfs tmpfs "$root/run"
  mount -t tmpfs tmpfs "$root/tmp"
  mount -t tmpfs tmpfs "$root/dev"
  local node
  for node in null zero random urandom full tty; do
    touch "$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node"
  done
  ln -s /proc/self/fd "$root/dev/fd"

  # The man page index is not what is tested, and takes seconds per run.
  rm -f "$root/var/lib/man-db/auto-update"

  cat >"$root/usr/sbin/policy-rc.d" <<'POLICY'
#!/bin/sh
# Runlevel 2: a script starts only when it is enabled there.
[ "$1" = --quiet ] && shift
case "$2" in
*start*)
	for link in /etc/rc2.d/S[0-9][0-9]"$1"; do
		[ -e "$link" ] && exit 0
	done
	exit 101
	;;
esac
exit 0
POLICY
  # A start waits for a synchronised clock: here at most a second.
  echo CLOCK_WAIT=1 >"$root/etc/default/dormix"
  printf '#!/bin/sh\n# No binary inputs.\nexit 0\n' >"$root/usr/bin/status"
  printf '#!/bin/sh\necho "lpm $*" >>/tmp/lpm.log\n' >"$root/usr/sbin/lpm"
  chmod 755 "$root/usr/sbin/policy-rc.d" "$root/usr/bin/status" "$root/usr/sbin/lpm"

  start_syslog "$root/dev/log" "$syslog"
}

# make_busybox_root SCRATCH BUSYBOX_STATIC_DEB ARCHIVE: sets root, syslog
# and settings: in a tmpfs at SCRATCH, a root that holds only Debian's
# busybox-static with its applet links and the release archive's tree, the
# sample as its settings, /proc, /dev/null and the syslog listener.
make_busybox_root() {
  mkdir -p "$1"
  mount -t tmpfs tmpfs "$1"
  dpkg-deb -x "$2" "$1/busybox-static"
  root=$1/root
  syslog=$1/syslog
  mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,etc/init.d,var,tmp,proc,dev}
  cp "$1/busybox-static/bin/busybox" "$root/bin/busybox"
  chroot "$root" /bin/busybox --install -s
  tar -xzf "$3" -C "$root"
  settings=$root/opt/dormix/etc/settings
  cp "$root/opt/dormix/etc/settings.sample" "$settings"
  mount -t proc proc "$root/proc"
  touch "$root/dev/null"
  mount --bind /dev/null "$root/dev/null"
  start_syslog "$root/dev/log" "$syslog"
}

# start_syslog SOCKET LOG: a datagram socket at SOCKET whose messages are
# appended to LOG, one a line, by a listener in the background.
start_syslog() {
  : >"$2"
  python3 -c '
import os, socket, sys
listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
listener.bind(sys.argv[1])
os.chmod(sys.argv[1], 0o666)
with open(sys.argv[2], "ab", buffering=0) as log:
    while True:
        log.write(listener.recv(4096) + b"\n")
' "$1" "$2" &
  local waited=0
  until [[ -S $1 ]]; do
    ((waited++ < 100)) || { echo "no syslog listener" >&2; return 1; }
    sleep 0.05
  done
}

# in_root COMMAND...: runs a command in the throwaway root.
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }

# The pid in the daemon's pid file (pid_file, under the root), or nothing.
pid_file=/run/dormix.pid
pid_file_pid() { cat "$root$pid_file" 2>/dev/null; }

# Pids of the live daemons: processes named dormix that lead their session
# (the daemon's children, before they exec a tool, are named dormix too).
daemon_pids() {
  local stat pid name state session
  for stat in "$root"/proc/[0-9]*/stat; do
    read -r pid name state _ _ session _ <"$stat" 2>/dev/null || continue
    [[ $name == "(dormix)" && $state != Z && $pid == "$session" ]] && echo "$pid"
  done
}

# wait_for_log TEXT: waits up to 10 s for a syslog line containing TEXT.
wait_for_log() {
  local waited=0
  until grep -qF -- "$1" "$syslog"; do
    ((waited++ < 200)) || return 1
    sleep 0.05
  done
}

# expect_running: one daemon, the one in the pid file, which logged
# "started" (once it has replaced start-stop-daemon's child and taken its
# session); prints its pid.
expect_running() {
  local pid
  pid=$(pid_file_pid)
  wait_for_log "dormix[$pid]: started" || fail "daemon ${pid:-?} did not log started"
  [[ -n $pid && $(daemon_pids) == "$pid" ]] ||
    fail "running daemons: $(daemon_pids | xargs), pid file: ${pid:-none}"
  echo "$pid"
}

# Pids of live checkers waiting for the clock: started as dormix-wait-clock,
# whose process name the kernel cuts to 15 bytes, or, by the previous
# release's scripts, as dormix-check.
checker_pids() {
  local stat pid name state
  for stat in "$root"/proc/[0-9]*/stat; do
    read -r pid name state _ <"$stat" 2>/dev/null || continue
    [[ ($name == "(dormix-wait-clo)" || $name == "(dormix-check)") && $state != Z ]] && echo "$pid"
  done
}

# expect_stopped PID: PID logged "stopped", and it, any waiting checker and
# the pid file are gone.
expect_stopped() {
  wait_for_log "dormix[$1]: stopped" || fail "daemon $1 did not log stopped"
  [[ -z $(daemon_pids)$(checker_pids) ]] || fail "still running: $(daemon_pids | xargs) $(checker_pids | xargs)"
  [[ ! -e $root$pid_file ]] || fail "the pid file is left behind"
}

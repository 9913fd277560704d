#!/usr/bin/env bash
# What a built .deb holds and declares: dependencies as dpkg-shlibdeps found
# them, the init script as a conffile, no live settings file, compressed man
# pages, the MIT licence, hardened binaries, and the daemon within its size.
# Usage: contents_test.sh PACKAGE ARCHITECTURE SIZE_BUDGET_BYTES
set -uo pipefail
package=$1
architecture=$2
budget=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
source "$(dirname "$0")/../lib.sh"

field() { dpkg-deb -f "$package" "$1"; }
[[ $(field Package) == dormix ]] || fail "package name $(field Package)"
[[ $(field Architecture) == "$architecture" ]] || fail "architecture $(field Architecture)"
depends=$(field Depends)
# Every program calls __libc_start_main@GLIBC_2.34; on amd64 the packed
# relative relocations need 2.36.
grep -qE 'libc6 \(>= 2\.3[46]\)' <<<"$depends" || fail "Depends lacks libc6 (>= 2.34): $depends"

dpkg-deb -x "$package" "$scratch/root"
dpkg-deb -e "$package" "$scratch/control"
sbin=$scratch/root/usr/sbin
needed() { readelf -dW "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | paste -sd' ' -; }
if needed "$sbin/dormix-check" | grep -q libgcc_s; then
  grep -q 'libgcc-s1' <<<"$depends" || fail "dormix-check needs libgcc_s, Depends lacks it: $depends"
fi
[[ $(needed "$sbin/dormix") == libc.so.6 ]] || fail "the daemon needs $(needed "$sbin/dormix")"

[[ $(cat "$scratch/control/conffiles") == /etc/init.d/dormix ]] ||
  fail "conffiles: $(cat "$scratch/control/conffiles")"
[[ -x $scratch/root/etc/init.d/dormix ]] || fail "no executable /etc/init.d/dormix"
[[ -f $scratch/root/lib/systemd/system/dormix.service ]] || fail "no /lib/systemd/system/dormix.service"
[[ -f $scratch/root/opt/dormix/etc/settings.sample ]] || fail "no settings sample"
[[ -e $scratch/root/opt/dormix/etc/settings ]] &&
  fail "a live settings file is shipped: an upgrade would overwrite the operator's"
for page in man8/dormix.8 man8/dormix-check.8 man8/dormix-web.8 man5/dormix-settings.5; do
  [[ -f $scratch/root/usr/share/man/$page.gz ]] || fail "no compressed $page"
done
# The init scripts' helpers: the checker under names of their own, with its page.
for link in sbin/dormix-enabled:dormix-check man/man8/dormix-enabled.8.gz:dormix-check.8.gz \
  sbin/dormix-wait-clock:dormix-check man/man8/dormix-wait-clock.8.gz:dormix-check.8.gz; do
  path=$scratch/root/usr/share/${link%%:*}
  [[ $link == sbin/* ]] && path=$scratch/root/usr/${link%%:*}
  [[ $(readlink "$path") == "${link#*:}" && -f $path ]] || fail "${link%%:*} is not a link to ${link#*:}"
done
[[ -z $(find "$scratch/root/usr/share/man" -type f ! -name '*.gz') ]] || fail "uncompressed man pages"
copyright=$scratch/root/usr/share/doc/dormix/copyright
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$copyright" &&
  grep -q '^License: MIT' "$copyright" || fail "copyright file is not machine-readable MIT"
dpkg-deb -c "$package" | awk '$2 != "root/root" { print }' | grep . && fail "files not owned by root"

# Hardening from dpkg-buildflags: bind-now with RELRO, fortified calls, and on
# amd64 the stack protector (left out on armhf for the daemon's size).
[[ -x $scratch/root/usr/lib/cgi-bin/dormix-web ]] || fail "no /usr/lib/cgi-bin/dormix-web"
for program in dormix dormix-check dormix-web; do
  binary=$sbin/$program
  [[ $program == dormix-web ]] && binary=$scratch/root/usr/lib/cgi-bin/$program
  dynamic=$(readelf -dW "$binary")
  segments=$(readelf -lW "$binary")
  symbols=$(readelf --dyn-syms -W "$binary")
  grep -q 'FLAGS.*BIND_NOW' <<<"$dynamic" || fail "$program: not bound at start"
  grep -q GNU_RELRO <<<"$segments" || fail "$program: no RELRO"
  grep -q '__[a-z]*printf_chk@' <<<"$symbols" || fail "$program: no fortified calls"
  if [[ $architecture == amd64 ]]; then
    grep -q '__stack_chk_fail@' <<<"$symbols" || fail "$program: no stack protector"
  fi
done

size=$(stat -c %s "$sbin/dormix")
((size <= budget)) || fail "the daemon is $size bytes, over $budget"
echo "$architecture: daemon $size bytes (budget $budget), dormix-check $(stat -c %s "$sbin/dormix-check") bytes; Depends: $depends"

finish "package contents ($architecture)"

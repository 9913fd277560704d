# Static builds against musl for every router CPU: x86-64, armhf, armel and
# arm64, the daemon and dormix-check alone (no unit tests: those run on the
# glibc builds). Checks what each daemon links and exports, and the release
# archives. Every static daemon runs every scenario in the test guests
# (70-arm-vm).
set -euo pipefail
source tests/lib.sh

need_foreign_architecture armhf armel arm64
need_packages musl-dev musl-tools musl-dev:armhf musl-dev:armel musl-dev:arm64 \
  g++-arm-linux-gnueabihf g++-arm-linux-gnueabi g++-aarch64-linux-gnu \
  binutils-arm-linux-gnueabihf binutils-arm-linux-gnueabi binutils-aarch64-linux-gnu

targets=(x86-64 armhf armel arm64)
for target in "${targets[@]}"; do
  cmake --workflow --preset "$target-static"
done

# Each daemon must be static, name no C library, and export got_signal.
for target in "${targets[@]}"; do
  daemon=build/$target-static/dormix
  if readelf -lW "$daemon" | grep -q INTERP || readelf -dW "$daemon" | grep -q NEEDED; then
    echo "static: $daemon asks for a program interpreter or shared libraries" >&2
    exit 1
  fi
  readelf --dyn-syms -W "$daemon" | grep -qE 'OBJECT +GLOBAL +DEFAULT +[0-9]+ got_signal$' || {
    echo "static: $daemon does not export got_signal" >&2
    exit 1
  }
  if readelf -sW "$daemon" | grep -qE 'FUNC .*scanf'; then
    echo "static: $daemon links a scanf function" >&2
    exit 1
  fi
done

# The board tools: static, and on armhf within their size budgets (stripped).
declare -A board_budget=([dormix-lpm]=40960 [dormix-status]=24576)
for target in "${targets[@]}"; do
  cmake --build "build/$target-static" --target dormix-lpm dormix-status -j2 >/dev/null
  for tool in dormix-lpm dormix-status; do
    binary=build/$target-static/board/$tool
    if readelf -lW "$binary" | grep -q INTERP || readelf -dW "$binary" | grep -q NEEDED; then
      echo "static: $binary asks for a program interpreter or shared libraries" >&2
      exit 1
    fi
    [[ $target == armhf ]] || continue
    arm-linux-gnueabihf-strip -o "$binary.stripped" "$binary"
    size=$(stat -c %s "$binary.stripped")
    if ((size > board_budget[$tool])); then
      echo "static: $tool on armhf is $size bytes stripped, over ${board_budget[$tool]}" >&2
      exit 1
    fi
    echo "static: $tool on armhf: $size of ${board_budget[$tool]} bytes stripped"
  done
done

# Release archives: one tree under /opt/dormix with the expected files, init
# scripts naming its programs, and checksums that verify.
release=build/release
rm -rf "$release"
packaging/release.sh "$release" >/dev/null
version=$(sed -n 's/^project(dormix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
expected="opt/dormix/board/bin/dormix-status opt/dormix/board/etc/gpio.sample opt/dormix/board/etc/lpm.sample
opt/dormix/board/man/man8/dormix-lpm.8 opt/dormix/board/man/man8/dormix-status.8
opt/dormix/board/sbin/dormix-lpm
$(find kernel/dormix_gpio -type f 2>/dev/null | sed 's|^kernel/|opt/dormix/board/src/|' | LC_ALL=C sort)
opt/dormix/etc/settings.sample opt/dormix/init/procd/dormix opt/dormix/init/procd/dormix.keep
opt/dormix/init/procd/dormix.ntp-hotplug opt/dormix/init/sysvinit/dormix
opt/dormix/man/man5/dormix-settings.5 opt/dormix/man/man8/dormix-check.8
opt/dormix/man/man8/dormix-enabled.8 opt/dormix/man/man8/dormix-wait-clock.8
opt/dormix/man/man8/dormix-web.8 opt/dormix/man/man8/dormix.8
opt/dormix/sbin/dormix opt/dormix/sbin/dormix-check opt/dormix/sbin/dormix-enabled
opt/dormix/sbin/dormix-wait-clock opt/dormix/www/cgi-bin/dormix-web"
for target in "${targets[@]}"; do
  name=dormix-$version-$target
  listed=$(tar -tzf "$release/$name.tar.gz" | grep -v '/$' | sort | paste -sd' ' -)
  if [[ "$listed" != "$(tr -s ' \n' '\n' <<<"$expected" | grep . | sort | paste -sd' ' -)" ]]; then
    echo "release: $name.tar.gz holds: $listed" >&2
    exit 1
  fi
  unpacked=$release/$name
  mkdir -p "$unpacked"
  tar -xzf "$release/$name.tar.gz" -C "$unpacked"
  for program in sbin/dormix sbin/dormix-check www/cgi-bin/dormix-web board/sbin/dormix-lpm \
    board/bin/dormix-status; do
    if readelf -lW "$unpacked/opt/dormix/$program" | grep -q INTERP; then
      echo "release: $name: $program is not static" >&2
      exit 1
    fi
  done
  for script in procd sysvinit; do
    paths=$(grep -oE '^[A-Z_]+=/[^ ]*' "$unpacked/opt/dormix/init/$script/dormix" | paste -sd' ' -)
    case $paths in
    *=/opt/dormix/sbin/dormix*=/opt/dormix/sbin/dormix-check*=/opt/dormix/sbin/dormix-enabled*=/opt/dormix/sbin/dormix-wait-clock*=/opt/dormix/etc/settings*) ;;
    *)
      echo "release: $name: the $script script names $paths" >&2
      exit 1
      ;;
    esac
  done
done
# The armhf daemon's size goal holds as the archive ships it, not only in the
# footprint bench's build.
shipped=$(stat -c %s "$release/dormix-$version-armhf/opt/dormix/sbin/dormix")
if ((shipped > 49152)); then
  echo "release: the armhf daemon is $shipped bytes, over its 49152" >&2
  exit 1
fi
# So does the armhf settings page's.
shipped=$(stat -c %s "$release/dormix-$version-armhf/opt/dormix/www/cgi-bin/dormix-web")
if ((shipped > 98304)); then
  echo "release: the armhf dormix-web is $shipped bytes, over its 98304" >&2
  exit 1
fi
# And the armhf settings checker's.
shipped=$(stat -c %s "$release/dormix-$version-armhf/opt/dormix/sbin/dormix-check")
if ((shipped > 81920)); then
  echo "release: the armhf dormix-check is $shipped bytes, over its 81920" >&2
  exit 1
fi
(cd "$release" && sha256sum --check --strict SHA256SUMS)
echo "release archives:" "$release"/*.tar.gz

#!/usr/bin/env bash
# Builds the two .deb packages from a build tree with cpack, into a folder of
# its own, and checks what a user's install gets: the programs, the services,
# the udev rule with the scripts that apply it, a copyright file each.
set -uo pipefail
build=$1 cpack=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail=0
check() { if "$@"; then :; else echo "FAILED: $*"; fail=1; fi; }

(cd "$build" && "$cpack" -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { tail -20 "$out/cpack.log"; exit 1; }
console=$(ls "$out"/tarvion-console_*.deb 2>/dev/null | head -1)
window=$(ls "$out"/tarvion_*.deb 2>/dev/null | head -1)
[ -n "$console" ] && [ -n "$window" ] || { echo "FAILED: no packages in $out"; ls "$out"; exit 1; }

files=$(dpkg-deb -c "$console")
for want in ./usr/bin/tarvion-console ./usr/lib/systemd/user/tarvion.service \
  ./usr/lib/udev/rules.d/70-tarvion-panels.rules ./usr/share/doc/tarvion-console/copyright; do
  check grep -q " $want\$" <<<"$files"
done
# The bridge travels with the console program where Asio was there to build it.
if [ -x "$build/tarvion-bridge" ]; then
  check grep -q " ./usr/bin/tarvion-bridge\$" <<<"$files"
  check grep -q " ./usr/lib/systemd/user/tarvion-bridge.service\$" <<<"$files"
fi
check grep -q " ./usr/share/doc/tarvion/copyright\$" <<<"$(dpkg-deb -c "$window")"

control="$out/control"
dpkg-deb -e "$console" "$control"
for script in postinst postrm; do
  check test -x "$control/$script"
  check grep -q "udevadm trigger --subsystem-match=hidraw" "$control/$script"
  check sh -n "$control/$script"
done
exit $fail

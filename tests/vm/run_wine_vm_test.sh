#!/bin/bash
# Runs Tarvion's Windows HID backend against a real kernel: a small VM booted
# with the installed Debian kernel makes a Pendra COM panel through uhid, and
# Wine (the host's own, shared read-only into the VM over 9p) lists, opens,
# writes and reads it through its hid.dll/setupapi.dll, which see the kernel's
# hidraw devices through winebus. Exits 0 only when the probe did every step
# and the panel got the probe's output report byte for byte. Then, in the same
# boot, the whole tarvion-console.exe drives that panel against a ZEMP peer in
# the VM: its first display reaches the panel, a knob turn changes the standby
# digits, transfer reaches the peer and Ctrl-C leaves the panel blank at
# brightness 1; started again, it sees the panel pulled out and runs on.
# Whether a panel plugged in again is seen is printed, not required: Wine 8's
# HID bus makes the device but never hands it on, so no Windows program there
# can list it (its trace shows the bus's relations without the new device).
#
#   run_wine_vm_test.sh <hid probe .exe> <uhid panel program> <work folder>
#                       <tarvion-console.exe> <zemp-peer program>
#
# Needs what run_vm_test.sh needs, plus wine64 on this machine.
set -euo pipefail

probe=${1:?the hid probe .exe}
panel=${2:?the uhid panel program}
work=${3:?work folder}
console=${4:?tarvion-console.exe}
peer=${5:?the zemp-peer program}
limit=${TARVION_VM_TIMEOUT:-420}

source "$(dirname "$0")/vm_kernel.sh"
[ -f "$probe" ] || fail "no probe at $probe"
[ -x "$panel" ] || fail "no uhid panel program at $panel"
[ -f "$console" ] || fail "no tarvion-console.exe at $console"
[ -x "$peer" ] || fail "no zemp-peer at $peer"
command -v wine >/dev/null || fail "wine is missing (apt-get install wine64 wine)"
mkdir -p "$work"
work=$(realpath "$work")
probe=$(realpath "$probe")
panel=$(realpath "$panel")
console=$(realpath "$console")
peer=$(realpath "$peer")

root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,host,modules}
cp "$busybox" "$root/bin/busybox"
for wanted in hid hid-generic uhid virtio_pci 9pnet_virtio 9p; do add_module "$wanted"; done

# The Wine prefix is made here, where wineboot takes seconds (under TCG in the
# VM it takes minutes): Wine's HID bus set to scan /dev/hidraw* itself (no SDL,
# no udevd in the VM), no graphics driver needed.
prefix=$work/prefix
rm -rf "$prefix"
(
  export WINEPREFIX=$prefix WINEDEBUG=-all
  timeout 300 wineboot --init >/dev/null 2>&1 </dev/null
  key='HKLM\System\CurrentControlSet\Services\winebus'
  wine reg add "$key" /v "Enable SDL" /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
  wine reg add "$key" /v DisableUdevd /t REG_DWORD /d 1 /f >/dev/null 2>&1 </dev/null
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 </dev/null
  wineserver -k 2>/dev/null
  timeout 60 wineserver -w 2>/dev/null
) || true
[ -f "$prefix/system.reg" ] || fail "wineboot made no prefix at $prefix"
grep -q '"DisableUdevd"=dword:00000001' "$prefix/system.reg" || fail "winebus settings missing"

# Runs inside the host's root (read-only, with fresh tmpfs on /tmp and /run):
# the panel first, then the probe in a copy of the prefix, then the program.
cat >"$root/inner.sh" <<INNER
export HOME=/tmp/home WINEPREFIX=/tmp/home/wine WINEDEBUG=-all
export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin
step() { echo "TARVION-VM-STEP: \$(date +%T) \$*"; }
mkdir -p "\$HOME"
cp -a '$prefix' "\$WINEPREFIX"
'$panel' 900 >/tmp/panel.log 2>&1 &
probe_panel=\$!
step probe
# To a file: on the serial console Wine's console would turn spaces into
# cursor moves.
timeout 300 wine '$probe' 240 >/tmp/probe.log 2>&1
rc=\$?
step probe-end
sleep 1
kill \$probe_panel 2>/dev/null
wait \$probe_panel
cat /tmp/probe.log /tmp/panel.log
[ \$rc = 0 ] || exit \$rc

# The whole program against a ZEMP peer, in one Wine session for both runs.
# Run from a copy on tmpfs: Wine started from the 9p share overflows its stack
# loading a program of this size (the small probe is not affected).
cp '$console' /tmp/tarvion-console.exe
mkdir -p /tmp/run && cd /tmp/run
printf 'XPLANE=YES\\r\\nZEMP_HOST=127.0.0.1\\r\\nZEMP_PORT=8092\\r\\nMINIMIZED=NO\\r\\nFIRST_DEVICE_COM1=YES\\r\\n' >Tarvion.ini
'$peer' --port 8092 </dev/null >/tmp/peer.log 2>&1 &
wineserver -p
# waits up to \$1 s for the pattern \$2 in the file \$3
wait_for() {
  for i in \$(seq 1 \$1); do grep -q "\$2" "\$3" && return 0; sleep 1; done
  return 1
}
console_run() {
  WINEDEBUG=-all wine /tmp/tarvion-console.exe >/tmp/console\$1.log 2>&1 &
  console_pid=\$!
}
console_close() {
  kill -INT \$console_pid
  for i in \$(seq 1 60); do kill -0 \$console_pid 2>/dev/null || break; sleep 1; done
  wait \$console_pid
  echo "CONSOLE-EXIT-\$1: \$?"
}

# Run 1: the scripted panel's first display, knob and transfer, then Ctrl-C.
step console-1
'$panel' script 400 >/tmp/panel2.log 2>&1 &
panel_pid=\$!
sleep 1
console_run 1
wait_for 150 'transfer pressed' /tmp/panel2.log && sleep 2
console_close 1
sleep 1
grep -v ' output ' /tmp/panel2.log
grep ' output ' /tmp/panel2.log | tail -1 | sed 's/UHID-PANEL: output/LAST-OUTPUT-1:/'

# Run 2: the panel is pulled out while the program runs, then plugged in again.
step console-2
console_run 2
wait_for 90 'ListBox1: Pendra' /tmp/console2.log && echo "CONSOLE-2: panel listed"
kill \$panel_pid
wait_for 30 '^ListBox1:[[:space:]]*\$' /tmp/console2.log && echo "CONSOLE-2: unplug seen"
'$panel' 120 >/tmp/panel3.log 2>&1 &
replugged=\$!
for i in \$(seq 1 20); do [ \$(grep -c 'ListBox1: Pendra' /tmp/console2.log) -gt 1 ] && break; sleep 1; done
[ \$(grep -c 'ListBox1: Pendra' /tmp/console2.log) -gt 1 ] && echo "CONSOLE-2: replug seen" || echo "CONSOLE-2: replug not seen"
console_close 2
kill \$replugged 2>/dev/null
step end
sed 's/^/CONSOLE-1: /' /tmp/console1.log | grep -v wine32 | head -20
sed 's/^/CONSOLE-2: /' /tmp/console2.log | grep -v wine32 | head -20
grep 'recv' /tmp/peer.log | sed 's/^.*recv /PEER: /' | tail -30
exit 0
INNER

# The VM sees this machine's files at the same paths, but with fresh /tmp and
# /run; folders of the test that live there are carried over by bind mounts.
keep_before="" keep_after=""
i=0
for dir in $(printf '%s\n' "$work" "$(dirname "$probe")" "$(dirname "$panel")" "$(dirname "$console")" "$(dirname "$peer")" | sort -u); do
  case "$dir" in
    /tmp/* | /run/*)
      keep_before+="mkdir -p /keep/$i && mount -o bind '/host$dir' /keep/$i"$'\n'
      keep_after+="mkdir -p '/host$dir' && mount -o bind /keep/$i '/host$dir'"$'\n'
      i=$((i + 1)) ;;
  esac
done

cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
ip link set lo up
for m in ${order[*]}; do insmod /modules/\$m.ko || echo "TARVION-VM: insmod \$m failed"; done
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,cache=loose,ro hostroot /host || echo "TARVION-VM: no host root"
mount -t proc proc /host/proc
mount -t sysfs sysfs /host/sys
mount -t devtmpfs devtmpfs /host/dev
mkdir -p /host/dev/shm /host/dev/pts
mount -t tmpfs tmpfs /host/dev/shm
mount -t devpts devpts /host/dev/pts
$keep_before
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
$keep_after
cp /inner.sh /host/tmp/inner.sh
echo TARVION-VM-BOOTED
chroot /host /bin/sh /tmp/inner.sh
echo "TARVION-VM-EXIT: \$?"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 >"$work/initramfs.cpio.gz"

log=$work/serial.log
echo "vm test: booting $kernel with the host's root shared read-only"
# -smap off: with it, every Wine process oopses in this kernel under TCG.
timeout "$limit" qemu-system-x86_64 -accel tcg -cpu max,-smap -m 4096 -smp 2 -kernel "$kernel" \
  -initrd "$work/initramfs.cpio.gz" -append "console=ttyS0 quiet panic=-1" \
  -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
  -nographic -no-reboot -nodefaults -serial stdio -monitor none </dev/null >"$log" 2>&1 || true
tr -d '\r' <"$log" | sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[A-Za-z]//g' >"$log.txt"

# The test's own lines (the firmware's banner may share the first one).
grep -oE '(TARVION-VM|PROBE|UHID-PANEL|CONSOLE|PEER|LAST-OUTPUT).*' "$log.txt" | awk '!seen[$0]++' | grep -v 'UHID-PANEL: output' | head -120 || true
ok=1
grep -q '^TARVION-VM-EXIT: 0$' "$log.txt" || ok=0
grep -q '^PROBE: done$' "$log.txt" || ok=0
# The probe's report reached the device whole, report-ID byte first; the
# device's report reached the probe framed with its report-ID byte.
grep -q '^UHID-PANEL: output 001122334455667788$' "$log.txt" || ok=0
grep -q '^PROBE: read 00fedcba$' "$log.txt" || ok=0
grep -q '^PROBE: caps input=4 output=9$' "$log.txt" || ok=0
# The whole program, run 1: the scripted panel's steps, then Ctrl-C.
for said in 'first display' 'standby changed' 'transfer pressed'; do
  grep -q "^UHID-PANEL: $said\$" "$log.txt" || { echo "vm test: the panel never said '$said'" >&2; ok=0; }
done
# Transfer sends the new active COM1 frequency alone, so COM1 (256) reaches
# the peer with a second value after the one it started with.
com1_values=$(grep -oE '^PEER: "Arn\.Resp:256=[0-9]+:\\r\\n"$' "$log.txt" | sort -u | wc -l)
[ "$com1_values" -ge 2 ] || { echo "vm test: no transfer reached the peer" >&2; ok=0; }
grep -q '^CONSOLE-EXIT-1: 0$' "$log.txt" || { echo "vm test: run 1 did not end with 0" >&2; ok=0; }
# Its last report: every digit blank (0xA), brightness 1.
last=$(grep -oE '^LAST-OUTPUT-1: [0-9a-f]+$' "$log.txt" | awk '{print $2}')
[[ $last == 00aaaaaaaaaaaa??01 ]] || { echo "vm test: the panel was left showing '$last'" >&2; ok=0; }
# Run 2: the pulled panel leaves the list and the program runs on to a clean end.
for said in 'panel listed' 'unplug seen'; do
  grep -q "^CONSOLE-2: $said\$" "$log.txt" || { echo "vm test: run 2, no '$said'" >&2; ok=0; }
done
grep -q '^CONSOLE-EXIT-2: 0$' "$log.txt" || { echo "vm test: run 2 did not end with 0" >&2; ok=0; }
[ "$ok" = 1 ] && exit 0
if ! grep -q 'TARVION-VM-BOOTED' "$log.txt"; then
  echo "vm test: the VM did not reach the test (limit ${limit}s); its console:" >&2
  tail -n 60 "$log.txt" >&2
elif ! grep -q '^TARVION-VM-EXIT:' "$log.txt"; then
  echo "vm test: the test did not finish within ${limit}s; its console:" >&2
  tail -n 30 "$log.txt" >&2
else
  echo "vm test: the probe or the panel did not see what they should; full log: $log.txt" >&2
fi
exit 1

#!/bin/bash
# Runs a test program inside a small VM booted with the installed Debian
# kernel, where uhid can make real hidraw devices (this machine's own kernel
# has none); qemu's USB keyboard sits on an emulated xHCI port beside them.
# Builds the initramfs (busybox, the HID, uhid and USB modules, the program
# and the shared libraries it needs), boots it under qemu (TCG), and exits 0
# only when the program ran to its end and passed.
#
#   run_vm_test.sh <test program> <work folder> [program arguments...]
#
# Needs: apt-get install qemu-system-x86 linux-image-amd64 busybox-static cpio
# and read access to /boot/vmlinuz-* (root on Debian).
set -euo pipefail

program=${1:?test program}
work=${2:?work folder}
shift 2
limit=${TARVION_VM_TIMEOUT:-240}

source "$(dirname "$0")/vm_kernel.sh"
[ -x "$program" ] || fail "no test program at $program"

root=$work/initramfs
rm -rf "$root"
mkdir -p "$root"/{bin,dev,proc,sys,run,tmp,modules}
cp "$busybox" "$root/bin/busybox"

for wanted in hid hid-generic uhid xhci-pci usbhid; do add_module "$wanted"; done

# The program, without its debug sections (they only make the image big), and
# every shared library it loads, at the paths it looks for them.
objcopy --strip-debug "$program" "$root/test-program"
libdirs=()
while read -r lib; do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
  libdirs+=("$(dirname "$lib")")
done < <(ldd "$program" | grep -oE '/[^ ]+' | sort -u)
libpath=$(printf '%s\n' "${libdirs[@]}" | sort -u | paste -sd: -)

args=""
for arg in "$@"; do args+=" '${arg//\'/}'"; done
cat >"$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
for m in ${order[*]}; do insmod /modules/\$m.ko || echo "TARVION-VM: insmod \$m failed"; done
echo TARVION-VM-BOOTED
cd /tmp
LD_LIBRARY_PATH=$libpath /test-program --gtest_color=no$args
echo "TARVION-VM-EXIT: \$?"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) | gzip -1 >"$work/initramfs.cpio.gz"

log=$work/serial.log
echo "vm test: booting $kernel"
timeout "$limit" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -kernel "$kernel" \
  -initrd "$work/initramfs.cpio.gz" -append "console=ttyS0 quiet panic=-1" \
  -device qemu-xhci -device usb-kbd \
  -nographic -no-reboot -nodefaults -serial stdio -monitor none </dev/null >"$log" 2>&1 || true
# Without carriage returns and the firmware's terminal escapes, so that each
# line starts with what the program printed.
tr -d '\r' <"$log" | sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[A-Za-z]//g' >"$log.txt"

# The program's own lines (the kernel's are left out unless something failed).
sed -n '/^TARVION-VM-BOOTED/,$p' "$log.txt"
if grep -q '^TARVION-VM-EXIT: 0$' "$log.txt" && grep -q '^\[  PASSED  \]' "$log.txt" &&
  ! grep -q '^\[  FAILED  \]' "$log.txt"; then
  exit 0
fi
if ! grep -q '^TARVION-VM-BOOTED' "$log.txt"; then
  echo "vm test: the VM did not reach the test program (limit ${limit}s); its console:" >&2
  tail -n 60 "$log.txt" >&2
elif ! grep -q '^TARVION-VM-EXIT:' "$log.txt"; then
  echo "vm test: the test program did not finish within ${limit}s" >&2
fi
exit 1

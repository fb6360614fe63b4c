# What both VM tests share: the tools they need, the installed kernel with
# uhid, and its modules copied into the initramfs with their dependencies.
# Sourced; expects $root (the initramfs folder) to be set before add_module.
fail() {
  echo "vm test: $*" >&2
  exit 1
}

command -v qemu-system-x86_64 >/dev/null ||
  fail "qemu-system-x86_64 is missing (apt-get install qemu-system-x86)"
command -v cpio >/dev/null || fail "cpio is missing (apt-get install cpio)"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] || fail "busybox is missing (apt-get install busybox-static)"
ldd "$busybox" >/dev/null 2>&1 && fail "$busybox is not static (apt-get install busybox-static)"

# The newest installed kernel whose modules include uhid.
kernel=""
modules=""
for candidate in $(ls /boot/vmlinuz-* 2>/dev/null | sort -V -r); do
  version=${candidate#/boot/vmlinuz-}
  if [ -n "$(find "/lib/modules/$version" -name 'uhid.ko*' 2>/dev/null)" ]; then
    kernel=$candidate
    modules=/lib/modules/$version
    break
  fi
done
[ -n "$kernel" ] || fail "no kernel with uhid under /boot (apt-get install linux-image-amd64)"
[ -r "$kernel" ] || fail "$kernel is not readable (run as root)"


# Modules and what they depend on, in load order, uncompressed (busybox's
# insmod takes plain .ko files). A module built into the kernel needs nothing.
declare -A added=()
order=()
add_module() {
  local name=$1 line path deps dep i
  [ -n "${added[$name]:-}" ] && return 0
  added[$name]=1
  line=$(grep -E "(^|/)${name}\.ko(\.xz|\.zst|\.gz)?:" "$modules/modules.dep" | head -n1 || true)
  if [ -z "$line" ]; then
    grep -qE "(^|/)${name}\.ko$" "$modules/modules.builtin" 2>/dev/null && return 0
    fail "module $name not found in $modules"
  fi
  path=${line%%:*}
  read -r -a deps <<<"${line#*:}"
  for ((i = ${#deps[@]} - 1; i >= 0; i--)); do
    dep=$(basename "${deps[$i]}")
    add_module "${dep%%.ko*}"
  done
  case "$path" in
    *.xz) xz -dc "$modules/$path" >"$root/modules/$name.ko" ;;
    *.zst) zstd -qdc "$modules/$path" >"$root/modules/$name.ko" ;;
    *.gz) gzip -dc "$modules/$path" >"$root/modules/$name.ko" ;;
    *) cp "$modules/$path" "$root/modules/$name.ko" ;;
  esac
  order+=("$name")
}

#!/usr/bin/env bash
# Runs the whole chain against the real FlightGear, outside the test command
# (FlightGear is too big for CI):
#   virtual-panels (a COM panel) -> tarvion --console -> tarvion-bridge -> fgfs
# and reports what it saw, each check PASS or FAIL with its timing:
#   (a) a COM1 outer-knob turn and transfer on the panel land on FlightGear's COM1,
#   (b) COM1 set in FlightGear reaches the panel and stays there past the refresh,
#   (c) all seven radios were written at start-up or taken from FlightGear,
#   (s) the bridge's first reading of FlightGear's radios is what FlightGear holds,
#   (d) FlightGear restarts: the bridge sees it go, reconnects, the new COM1
#       reaches the panel, a second knob turn and transfer land (--no-restart skips).
# Usage: scripts/flightgear-chain.sh [--no-restart]
#   TARVION_BUILD  build folder (default build/bridge under the repository)
# Needs fgfs (apt-get install flightgear) and, without a DISPLAY, Xvfb. Takes
# minutes: software rendering makes FlightGear slow. Everything runs on loopback;
# every process started here is ended on exit. Logs stay in the temp folder
# when a check fails. Exit status 0 only when every check passed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVION_BUILD:-$root/build/bridge}
restart=1
for arg in "$@"; do
  case $arg in
    --no-restart) restart=0 ;;
    --restart) restart=1 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown argument: $arg" >&2; exit 2 ;;
  esac
done

tarvion_bin=$build/src/main/tarvion
bridge_bin=$build/tarvion-bridge
panels_bin=$build/tools/virtual-panels/virtual-panels
for bin in "$tarvion_bin" "$build/src/main/tarvion-console" "$bridge_bin" "$panels_bin"; do
  [ -x "$bin" ] || { echo "missing $bin (build it, or set TARVION_BUILD)" >&2; exit 2; }
done
# Debian installs it in /usr/games, which root's PATH lacks.
fgfs_bin=$(command -v fgfs || command -v /usr/games/fgfs) ||
  { echo "fgfs is not on PATH: apt-get install flightgear" >&2; exit 2; }

say() { printf '== %s\n' "$*"; }
work=$(mktemp -d /tmp/tarvion-fg.XXXXXX)
pids=() results=() failed=0 panel_in=''
stop() {  # TERM, then KILL after 20 s; only our own PIDs
  kill -0 "$1" 2>/dev/null || return 0
  kill -TERM "$1" 2>/dev/null
  for _ in $(seq 200); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop "${pids[i]}"; done  # Tarvion first: its goodbye
  [ -n "$panel_in" ] && exec {panel_in}>&-
  rm -rf "$work/fghome"  # FlightGear's caches: 150 MB
  if ((failed)); then say "logs kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ms() { date +%s%3N; }
secs() { printf '%d.%d s' $((($(ms) - $1) / 1000)) $((($(ms) - $1) % 1000 / 100)); }
wait_until() {  # TIMEOUT_S COMMAND...: polls every 0.5 s
  local until=$(($(ms) + $1 * 1000)); shift
  until "$@"; do (($(ms) < until)) || return 1; sleep 0.5; done
}
check() {  # NAME OK DETAIL
  local verdict=PASS
  [ "$2" = 1 ] || { verdict=FAIL; failed=1; }
  results+=("$verdict $1: $3")
  say "$verdict $1: $3"
}
port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
listen_port() { grep -o -m1 'listening on 127\.0\.0\.1:[0-9]*' "$1" 2>/dev/null | grep -o '[0-9]*$'; }

# One property-server session in data mode: sends each argument as a line and
# prints the first N answer lines (a get answers with the value alone).
fg_session() {
  local want=$1 fd line i; shift
  { exec {fd}<>"/dev/tcp/127.0.0.1/$fg_port"; } 2>/dev/null || return 1
  printf '%s\r\n' data "$@" >&"$fd"
  for ((i = 0; i < want; i++)); do
    IFS= read -r -t "${fg_read_timeout:-30}" line <&"$fd" || { exec {fd}>&-; return 1; }
    printf '%s\n' "${line%$'\r'}"
  done
  { printf 'quit\r\n' >&"$fd"; } 2>/dev/null
  exec {fd}>&-
}
fg_get() { fg_session 1 "get $1"; }
same() { [ -n "$1" ] && [ -n "$2" ] && awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(d < 0.0005 && d > -0.0005) }'; }

com1='/instrumentation/comm[0]/frequencies/selected-mhz'
radios=(COM1 "$com1" COM2 '/instrumentation/comm[1]/frequencies/selected-mhz'
  NAV1 '/instrumentation/nav[0]/frequencies/selected-mhz' NAV2 '/instrumentation/nav[1]/frequencies/selected-mhz'
  ADF1 '/instrumentation/adf[0]/frequencies/selected-khz' ADF2 '/instrumentation/adf[1]/frequencies/selected-khz'
  XPDR /instrumentation/transponder/id-code)

# Display: a free X display under Xvfb unless there is one already.
fg_display=${DISPLAY:-}
if [ -z "$fg_display" ]; then
  command -v Xvfb >/dev/null || { echo "no DISPLAY and no Xvfb: apt-get install xvfb" >&2; exit 2; }
  n=90; while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" +extension GLX -nolisten tcp -screen 0 1024x768x24 >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  wait_until 10 test -e "/tmp/.X11-unix/X$n" || { failed=1; echo "Xvfb :$n did not start" >&2; exit 1; }
  fg_display=:$n
  say "Xvfb on $fg_display"
fi
fg_port=5401; until port_free "$fg_port"; do fg_port=$((fg_port + 1)); done
mkdir -p "$work/fghome"  # no autosave from an earlier run changes the start radios

fg_pid='' fg_runs=0
start_fgfs() {
  fg_runs=$((fg_runs + 1))
  env DISPLAY="$fg_display" LIBGL_ALWAYS_SOFTWARE=1 DBUS_FATAL_WARNINGS=0 FG_HOME="$work/fghome" \
    "$fgfs_bin" --aircraft=c172p --airport=KSFO --telnet="$fg_port" --disable-sound --disable-ai-traffic \
    --disable-real-weather-fetch --disable-terrasync --disable-splash-screen --enable-freeze \
    >"$work/fgfs$fg_runs.log" 2>&1 &
  fg_pid=$!; pids+=("$fg_pid")
  say "fgfs started (pid $fg_pid, property server on 127.0.0.1:$fg_port, log fgfs$fg_runs.log)"
}
fg_ready() {  # answers, and the flight model is initialised (the c172p's radios are set by then)
  kill -0 "$fg_pid" 2>/dev/null || { failed=1; echo "fgfs ended; last lines:" >&2; tail -15 "$work/fgfs$fg_runs.log" >&2; exit 1; }
  [ "$(fg_read_timeout=5 fg_get /sim/signals/fdm-initialized)" = true ]
}
start_fgfs
t=$(ms)
wait_until 180 fg_ready || { failed=1; echo "FlightGear's property server did not answer in 180 s" >&2; exit 1; }
say "FlightGear answers and its flight model is ready after $(secs "$t")"

# The c172p's start radios, straight from the property server.
declare -A start
for ((i = 0; i < ${#radios[@]}; i += 2)); do
  t=$(ms); start[${radios[i]}]=$(fg_get "${radios[i + 1]}")
  printf '   %-4s %-52s = %s (%s)\n' "${radios[i]}" "${radios[i + 1]}" "${start[${radios[i]}]}" "$(secs "$t")"
done
# What the property server sends back in data mode, raw: a subscribe, a get
# as marker (true), a set of COM1 to the value it holds, a get as marker (c172p).
say "raw data-mode exchange: subscribe COM1, get marker, set COM1 ${start[COM1]}, get marker:"
exec {probe}<>"/dev/tcp/127.0.0.1/$fg_port"
t=$(ms)
printf '%s\r\n' data "subscribe $com1" "get /sim/signals/fdm-initialized" "set $com1 ${start[COM1]}" \
  "get /sim/aircraft" >&"$probe"
while IFS= read -r -t 8 line <&"$probe"; do printf '   after %s: %q\n' "$(secs "$t")" "$line"; done
exec {probe}>&-

# The bridge, then the panels (commands through a FIFO, so each waits for the last one's effect), then Tarvion.
"$bridge_bin" flightgear "127.0.0.1:$fg_port" --listen 127.0.0.1:0 --verbose >"$work/bridge.log" 2>&1 &
pids+=($!)
wait_until 20 listen_port "$work/bridge.log" >/dev/null || { cat "$work/bridge.log"; failed=1; exit 1; }
bridge_port=$(listen_port "$work/bridge.log")
t=$(ms)
wait_until 60 grep -q 'connected to FlightGear' "$work/bridge.log" && say "bridge on 127.0.0.1:$bridge_port connected to FlightGear ($(secs "$t"))"
wait_until 30 grep -q "simulator ${radios[13]} = " "$work/bridge.log" ||
  say "no 'simulator ${radios[13]}' line 30 s after connecting"
before_tarvion=$(wc -l <"$work/bridge.log")

mkfifo "$work/panels.in"
exec {panel_in}<>"$work/panels.in"
"$panels_bin" --port 0 --no-window --panels com <"$work/panels.in" >"$work/panels.log" 2>&1 &
pids+=($!)
wait_until 20 listen_port "$work/panels.log" >/dev/null || { cat "$work/panels.log"; failed=1; exit 1; }
mkdir -p "$work/tarvion" && mkdir -m 700 "$work/run"
printf '%s\n' XPLANE=YES ZEMP_HOST=127.0.0.1 "ZEMP_PORT=$bridge_port" MINIMIZED=NO FIRST_DEVICE_COM1=YES \
  FOLLOW_SIM=YES >"$work/tarvion/Tarvion.ini"
(cd "$work/tarvion" && exec env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/run" \
  TARVION_VIRTUAL_PANELS="127.0.0.1:$(listen_port "$work/panels.log")" "$tarvion_bin" --console) \
  >"$work/tarvion.log" 2>&1 &
pids+=($!)
wait_until 30 grep -q 'Online' "$work/tarvion.log" || say "Tarvion did not show Online in 30 s"

# The COM panel's last display, "[ACTIVE] [STANDBY]" in kHz.
display() { grep '^OUTPUT com1 ' "$work/panels.log" | tail -1 | grep -o 'display \[[0-9]*\] \[[0-9]*\]' | cut -c9-; }
settled() {  # the display unchanged for 3 s
  local d; d=$(display); [ -n "$d" ] || return 1
  sleep 3; [ "$d" = "$(display)" ]
}
shows() { display | grep -q "^$1"; }
changed_from() { [ "$(display)" != "$1" ]; }
fg_com1_is() { seen=$(fg_get "$com1"); same "$seen" "$1"; }
# Outer knob +1, transfer; then FlightGear's COM1 must read the panel's new active.
knob_and_transfer() {
  local name=$1 t
  wait_until 60 settled || say "the panel never settled: $(display)"
  say "panel before the knob: $(display)"
  local before; before=$(display)
  echo "turn com1 outer 1" >&"$panel_in"
  wait_until 20 changed_from "$before" || say "the knob changed nothing on the panel"
  before=$(display); echo "tap com1 swap" >&"$panel_in"; t=$(ms)
  wait_until 20 changed_from "$before" || say "the transfer changed nothing on the panel"
  local active; active=$(display | cut -d' ' -f1 | tr -d '[]')
  local mhz; mhz=$(awk -v k="$active" 'BEGIN { printf "%.3f", k / 1000 }')
  seen=''
  if wait_until 60 fg_com1_is "$mhz"; then
    check "$name" 1 "panel $(display) after the transfer; FlightGear COM1 = $seen after $(secs "$t")"
  else
    check "$name" 0 "panel $(display) after the transfer (active $mhz MHz); FlightGear COM1 still $seen 60 s later"
  fi
}
knob_and_transfer "(a) knob and transfer reach FlightGear"

# (b) The pilot tunes COM1 in FlightGear.
t=$(ms)
fg_session 0 "set $com1 121.5"
if wait_until 60 shows '\[121500\]'; then
  took=$(secs "$t"); sleep 5
  if shows '\[121500\]' && fg_com1_is 121.5; then
    check "(b) FlightGear's COM1 reaches the panel" 1 "panel $(display) after $took, still so 5 s later (FlightGear $seen)"
  else
    fg_com1_is 121.5
    check "(b) FlightGear's COM1 reaches the panel" 0 "panel $(display) 5 s after showing 121.500, FlightGear COM1 = $seen"
  fi
else
  check "(b) FlightGear's COM1 reaches the panel" 0 "set $com1 121.5: panel still $(display) 60 s later"
fi

# (c) Every radio written by Tarvion or taken from FlightGear.
missing=()
for ((i = 1; i < ${#radios[@]}; i += 2)); do
  grep -qF -e "write ${radios[i]} = " -e "simulator ${radios[i]} = " "$work/bridge.log" || missing+=("${radios[i - 1]}")
done
check "(c) all seven radios written or taken from the sim" $((${#missing[@]} == 0)) \
  "$(grep -c '^write /' "$work/bridge.log") write lines, $(grep -c '^simulator /' "$work/bridge.log") simulator lines${missing:+; never: ${missing[*]}}"

# (s) The bridge's first reading (before Tarvion connected) against the start radios.
wrong=()
for ((i = 0; i < ${#radios[@]}; i += 2)); do
  got=$(head -n "$before_tarvion" "$work/bridge.log" | grep -F -m1 "simulator ${radios[i + 1]} = " | grep -o '[0-9-]*$')
  case ${radios[i]} in COM*|NAV*) want=$(awk -v v="${start[${radios[i]}]}" 'BEGIN { printf "%d", v * 100 + 0.5 }') ;;
    *) want=$(awk -v v="${start[${radios[i]}]}" 'BEGIN { printf "%d", v + 0.5 }') ;; esac
  [ "$got" = "$want" ] || wrong+=("${radios[i]}=${got:-none}(FlightGear $want)")
done
check "(s) the bridge read FlightGear's start radios right" $((${#wrong[@]} == 0)) "${wrong[*]:-all seven as FlightGear holds them}"

# (d) FlightGear restarts under the bridge.
new_line_since() { tail -n +"$1" "$work/bridge.log" | grep -q "$2"; }
if ((restart)); then
  lines=$(($(wc -l <"$work/bridge.log") + 1))
  t=$(ms); stop "$fg_pid"
  if wait_until 60 new_line_since "$lines" 'closed the connection'; then
    check "(d1) the bridge sees FlightGear go" 1 "'$(grep -m1 'closed the connection' "$work/bridge.log")' after $(secs "$t")"
  else
    check "(d1) the bridge sees FlightGear go" 0 "no 'closed the connection' line 60 s after fgfs ended"
  fi
  start_fgfs; t=$(ms)
  wait_until 180 fg_ready || say "FlightGear did not come back in 180 s"
  if wait_until 60 new_line_since "$lines" 'connected to FlightGear'; then
    check "(d2) the bridge reconnects" 1 "connected again $(secs "$t") after fgfs restarted"
  else
    check "(d2) the bridge reconnects" 0 "no new 'connected to FlightGear' $(secs "$t") after fgfs restarted"
  fi
  # FOLLOW_SIM: the restarted FlightGear's own COM1 is reported after Tarvion connected, so the panel takes it.
  fg_com1=$(fg_get "$com1"); want=$(awk -v v="$fg_com1" 'BEGIN { printf "%06d", v * 1000 + 0.5 }')
  if wait_until 60 shows "\\[$want\\]"; then
    check "(d3) the restarted FlightGear's COM1 reaches the panel" 1 "FlightGear $fg_com1, panel $(display) $(secs "$t") after fgfs restarted"
  else
    check "(d3) the restarted FlightGear's COM1 reaches the panel" 0 "FlightGear $fg_com1, panel still $(display) $(secs "$t") after fgfs restarted"
  fi
  say "after the reconnect: $(tail -n +"$lines" "$work/bridge.log" | grep -c '^simulator /') simulator lines, $(tail -n +"$lines" "$work/bridge.log" | grep -c '^write /') write lines"
  knob_and_transfer "(d4) knob and transfer reach the restarted FlightGear"
fi

say "the bridge's first 30 lines:"
head -30 "$work/bridge.log" | sed 's/^/   /'
say "summary"
printf '   %s\n' "${results[@]}"
exit "$failed"

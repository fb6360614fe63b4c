#!/usr/bin/env bash
# Runs the Tarvion demo: builds Tarvion and its demo peers, then starts
#   - tools/zemp-peer       a ZEMP server simulator on 127.0.0.1,
#   - tools/virtual-panels  virtual Pendra panels (multi-radio, COM, NAV, switch
#                           panel), scripted to turn knobs and press transfer;
#                           drawn in the virtual cockpit window under a display
#                           (turn its knobs with the mouse too), a terminal view otherwise,
#   - tarvion               with TARVION_VIRTUAL_PANELS, in a temporary folder
#                           holding a demo Tarvion.ini (XPLANE=YES, ZEMP on 127.0.0.1);
#                           its window under a display, console mode otherwise.
# On a fresh Debian 12 machine run it as root: it installs what is missing
# (apt-get, only when missing). Ctrl-C ends all three cleanly, Tarvion first so
# that its goodbye reaches the server and the panels go dark.
#
# While it runs, lines typed here go to zemp-peer as commands ("values" shows
# what the server holds, "send 256=12150" sends a value, "reset" drops Tarvion's
# connection, "help" for more).
#
# TARVION_DEMO_SIM=xplane or flightgear puts the real chain in zemp-peer's place:
# tools/sim-standin playing that simulator, tarvion-bridge in front of it, and
# Tarvion with FOLLOW_SIM=YES. Lines typed then go to sim-standin ("set
# sim/cockpit/radios/com1_freq_hz 12150" tunes COM1 as a pilot would in the
# simulator, and the panels follow; "values", "restart").
#
# Environment: TARVION_DEMO_BUILD (build folder), TARVION_DEMO_CONSOLE=1 (console
# mode and the panels' terminal view even under a display). The tools pick free
# loopback ports. The exit status is not 0 when a program fails to start.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVION_DEMO_BUILD:-$root/build/demo}

say() { printf '== %s\n' "$*"; }

packages=(cmake ninja-build g++ pkg-config qt6-base-dev libudev-dev googletest libgtest-dev libgmock-dev
  libasio-dev)
sim=${TARVION_DEMO_SIM:-}
case $sim in
  '' | xplane | flightgear) ;;
  *) echo "TARVION_DEMO_SIM: xplane or flightgear, not '$sim'" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]}; run this as root once, or: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  say "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

say "building in $build"
mkdir -p "$(dirname "$build")"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DTARVION_BUILD_LINUX_APP=ON \
  -DTARVION_BUILD_TESTS=OFF >"$build.configure.log" 2>&1 ||
  { tail -30 "$build.configure.log"; exit 1; }
targets=(tarvion)
have_peer=0 have_panels=0
if [ -n "$sim" ]; then
  targets+=(sim-standin tarvion-bridge)
else
  [ -f "$root/tools/zemp-peer/CMakeLists.txt" ] && { targets+=(zemp-peer); have_peer=1; }
fi
[ -f "$root/tools/virtual-panels/CMakeLists.txt" ] && { targets+=(virtual-panels); have_panels=1; }
cmake --build "$build" -j "${TARVION_JOBS:-2}" --target "${targets[@]}" >"$build.build.log" 2>&1 ||
  { grep -E 'error|FAILED' -A5 "$build.build.log" | head -40; exit 1; }
find_bin() { find "$build" -type f -perm -u+x -name "$1" -print -quit; }
tarvion_bin=$(find_bin tarvion)

work=$(mktemp -d /tmp/tarvion-demo.XXXXXX)

# Each program runs in a session of its own so that Ctrl-C reaches only this
# script, which then ends them in order. Output lines carry the program's name;
# the filters that add it ignore Ctrl-C, or the programs' last lines (and the
# programs, by SIGPIPE) would die with them.
peer_pid='' panels_pid='' tarvion_pid='' bridge_pid=''
stop() {
  local pid=$1 name=$2
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    echo "$name did not end; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}
finish() {
  local status=${1:-0}
  trap - INT TERM
  say "stopping"
  stop "$tarvion_pid" tarvion
  stop "$panels_pid" virtual-panels
  stop "$bridge_pid" tarvion-bridge
  stop "$peer_pid" "$([ -n "$sim" ] && echo sim-standin || echo zemp-peer)"
  sleep 0.2  # the last prefixed lines
  rm -rf "$work"
  say "done"
  exit "$status"
}
trap 'finish 0' INT TERM

# The port a tool announces in its "listening on 127.0.0.1:PORT" line; fails
# at once when the tool has ended without announcing one.
wait_port() {
  local log=$1 pid=$2 port=''
  for _ in $(seq 100); do
    port=$(grep -o -m1 'listening on 127\.0\.0\.1:[0-9]*' "$log" 2>/dev/null | grep -o '[0-9]*$' || true)
    [ -n "$port" ] && { echo "$port"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

peer_port=8092
follow=NO
if [ -n "$sim" ]; then
  sim_in=/dev/null
  [ -t 0 ] && sim_in=/dev/stdin
  setsid "$(find_bin sim-standin)" "$sim" --port 0 \
    <"$sim_in" > >(trap '' INT; tee "$work/sim.log" | sed -u 's/^/[sim-standin] /') 2>&1 &
  peer_pid=$!
  sim_port=$(wait_port "$work/sim.log" "$peer_pid") || { echo "sim-standin did not start" >&2; finish 1; }
  setsid "$(find_bin tarvion-bridge)" "$sim" "127.0.0.1:$sim_port" --listen 127.0.0.1:0 \
    </dev/null > >(trap '' INT; tee "$work/bridge.log" | sed -u 's/^/[tarvion-bridge] /') 2>&1 &
  bridge_pid=$!
  peer_port=$(wait_port "$work/bridge.log" "$bridge_pid") || { echo "tarvion-bridge did not start" >&2; finish 1; }
  follow=YES
  say "sim-standin plays $sim on 127.0.0.1:$sim_port; tarvion-bridge listens on 127.0.0.1:$peer_port"
  say "type e.g. 'set sim/cockpit/radios/com1_freq_hz 12150' (X-Plane) or"
  say "'set /instrumentation/comm[0]/frequencies/selected-mhz 121.5' (FlightGear): the panels follow"
elif ((have_peer)); then
  peer_in=/dev/null
  [ -t 0 ] && peer_in=/dev/stdin
  setsid "$(find_bin zemp-peer)" --host 127.0.0.1 --port 0 --keepalive 10 \
    <"$peer_in" > >(trap '' INT; tee "$work/peer.log" | sed -u 's/^/[zemp-peer] /') 2>&1 &
  peer_pid=$!
  peer_port=$(wait_port "$work/peer.log" "$peer_pid") || { echo "zemp-peer did not start" >&2; finish 1; }
  say "zemp-peer listens on 127.0.0.1:$peer_port"
else
  say "tools/zemp-peer is not there: Tarvion will show Disconnected and keep retrying"
fi

display=0
if [ -z "${TARVION_DEMO_CONSOLE:-}" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  display=1
fi

panel_env=()
if ((have_panels)); then
  # --demo: on each radio panel in turn the outer knob one detent up, the inner
  # knob two, then transfer, as a person would, over and over until the end.
  view=--no-window
  ((display)) && view=--window
  setsid "$(find_bin virtual-panels)" --port 0 --panels multi,com,nav,switch --demo "$view" \
    </dev/null > >(trap '' INT; tee "$work/panels.log" | sed -u 's/^/[virtual-panels] /') 2>&1 &
  panels_pid=$!
  panel_port=$(wait_port "$work/panels.log" "$panels_pid") || { echo "virtual-panels did not start" >&2; finish 1; }
  say "virtual-panels (multi-radio, COM, NAV, switch panel; knobs turned by its --demo) on 127.0.0.1:$panel_port"
  ((display)) && say "the virtual cockpit window shows the panels: wheel or drag a knob, click a button"
  panel_env=(TARVION_VIRTUAL_PANELS="127.0.0.1:$panel_port")
else
  say "tools/virtual-panels is not there: Tarvion runs without panels"
fi

cat >"$work/Tarvion.ini" <<INI
Demo configuration of Tarvion: ZEMP to the ZEMP server on this machine.
XPLANE=YES
FOLLOW_SIM=$follow
ZEMP_HOST=127.0.0.1
ZEMP_PORT=$peer_port
SET_COM1=118000
SET_COM2=121500
SET_NAV1=10800
SET_NAV2=11030
SET_ADF1=3795
SET_ADF2=1000
SET_ATC=1200
FIRST_DEVICE_COM1=YES
FIRST_DEVICE_NAV1=YES
FIRST_DEVICE_ADF1=YES
FIRST_DEVICE_RMP1=YES
BRIGHT=121
MINIMIZED=NO
INI

mode=()
if ((!display)); then
  mode=(--console)
  say "starting tarvion in console mode (no display); Ctrl-C ends the demo"
else
  say "starting tarvion with its window; close it or press Ctrl-C to end the demo"
fi
# Its own runtime folder: an installed Tarvion already running does not stop the demo.
mkdir -m 700 "$work/run"
(cd "$work" && exec setsid env XDG_RUNTIME_DIR="$work/run" "${panel_env[@]}" "$tarvion_bin" "${mode[@]}") \
  </dev/null > >(trap '' INT; exec sed -u 's/^/[tarvion] /') 2>&1 &
tarvion_pid=$!

status=0
wait "$tarvion_pid" 2>/dev/null || status=$?
tarvion_pid=''
if ((status != 0)); then
  echo "tarvion ended with status $status" >&2
fi
finish "$status"

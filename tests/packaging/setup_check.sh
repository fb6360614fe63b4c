#!/usr/bin/env bash
# The Windows installer under Wine, in a Wine prefix and home of its own (the
# prefix's Documents is the home): a silent install puts the programs, the
# Start-menu entries and the user's Tarvion.ini where they belong; the
# console shortcut starts the program in the user's Tarvion folder with that
# Tarvion.ini; an upgrade keeps the user's Tarvion.ini and adds "start with
# Windows" when asked; a silent uninstall removes all but the user's settings.
#   setup_check.sh tarvion-<version>-setup.exe <version>
set -uo pipefail
setup=$(realpath "$1")
version=$2
for tool in wine wineboot wineserver python3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is not installed"; exit 77; }
done
work=$(mktemp -d)
export HOME=$work/home WINEPREFIX=$work/prefix WINEDEBUG=-all
mkdir -p "$HOME"
finish() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; rm -rf "$work"; }
trap finish EXIT
fail=0
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  "$@" || { echo "FAILED: $what"; fail=1; }
}
# Waits for every program of this prefix (a silent setup returns at once).
settle() { wineserver -w; }

# (Without 32-bit Wine, wineboot says so and goes on: none is needed here.)
wineboot --init >/dev/null 2>&1
[ -d "$WINEPREFIX/drive_c/users" ] || { echo "FAILED: wineboot made no prefix"; exit 1; }
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
user=$(ls "$WINEPREFIX/drive_c/users" | grep -vx Public | head -1)
profile=$WINEPREFIX/drive_c/users/$user
programs=$profile/AppData/Local/Programs/Tarvion
menu=$profile/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs
settings=$profile/Documents/Tarvion
# Windows names it Startup, Wine StartUp.
startup_link() { find "$menu" -maxdepth 2 -ipath "$menu/startup/tarvion.lnk"; }
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tarvion'

echo "== silent install"
wine "$setup" /S; settle
for file in Tarvion.exe tarvion-console.exe tarvion-bridge.exe fsuipc-sim.exe Tarvion.ini \
  README.txt Uninstall.exe; do
  check "$file in the programs folder" test -f "$programs/$file"
done
for link in "Tarvion" "Tarvion console" "Tarvion bridge for X-Plane" \
  "Tarvion bridge for FlightGear" "Tarvion settings (Tarvion.ini)" "Uninstall Tarvion"; do
  check "Start-menu entry $link" test -f "$menu/Tarvion/$link.lnk"
done
check "no start with Windows unless chosen" test -z "$(startup_link)"
check "the example Tarvion.ini in the user's Tarvion folder" \
  cmp -s "$programs/Tarvion.ini" "$settings/Tarvion.ini"
check "the shortcut starts in the user's Tarvion folder" \
  grep -q 'Documents\\Tarvion' < <(strings -el "$menu/Tarvion/Tarvion console.lnk")
check "uninstall entry with the version" \
  grep -q "DisplayVersion.*$version" < <(wine reg query "$uninstall_key" /v DisplayVersion 2>/dev/null)

echo "== the console shortcut starts the program with the user's Tarvion.ini"
# A ZEMP server on loopback that prints the first line it receives.
coproc server {
  python3 -c '
import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(1)
print(s.getsockname()[1], flush=True)
s.settimeout(60)
try:
    c, _ = s.accept(); c.settimeout(30)
    print(c.makefile().readline().strip(), flush=True)
except OSError:
    print("nothing", flush=True)
'
}
read -r port <&"${server[0]}"
printf 'XPLANE=YES\r\nZEMP_HOST=127.0.0.1\r\nZEMP_PORT=%s\r\nMINIMIZED=NO\r\n' "$port" >"$settings/Tarvion.ini"
cp "$settings/Tarvion.ini" "$work/users.ini"
wine start /unix "$menu/Tarvion/Tarvion console.lnk" >/dev/null 2>&1
read -r said <&"${server[0]}"
echo "the server heard: ${said:0:40}"
check "the program reached the server of the user's Tarvion.ini (said: $said)" \
  test "${said#Arn.}" != "$said"
wineserver -k; settle

echo "== upgrade over the install, start with Windows chosen"
wine "$setup" /S /STARTUP; settle
check "the user's Tarvion.ini is kept" cmp -s "$work/users.ini" "$settings/Tarvion.ini"
check "start with Windows" test -n "$(startup_link)"
check "programs still there" test -f "$programs/Tarvion.exe"

echo "== silent uninstall"
wine "$programs/Uninstall.exe" /S; settle
check "programs removed" test ! -e "$programs/Tarvion.exe" -a ! -e "$programs/Uninstall.exe"
check "programs folder removed" test ! -e "$programs"
check "Start-menu entries removed" test ! -e "$menu/Tarvion"
check "start with Windows removed" test -z "$(startup_link)"
no_key() { ! wine reg query "$1" >/dev/null 2>&1; }
check "uninstall entry removed" no_key "$uninstall_key"
check "the user's Tarvion.ini stays" cmp -s "$work/users.ini" "$settings/Tarvion.ini"
[ $fail = 0 ] && echo "installer: all checks passed"
exit $fail

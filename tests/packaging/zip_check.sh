#!/usr/bin/env bash
# Checks the Windows zip: every program a user needs, and its text files with
# CR LF line ends so Notepad shows them as lines.
set -uo pipefail
zip=$(realpath "$1")
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$out" && cmake -E tar xf "$zip") || { echo "FAILED: cannot unpack $zip"; exit 1; }
dir=$(ls -d "$out"/*/ | head -1)
fail=0
for want in Tarvion.exe tarvion-console.exe tarvion-bridge.exe fsuipc-sim.exe Tarvion.ini README.txt; do
  [ -f "$dir/$want" ] || { echo "FAILED: $want is not in the zip"; fail=1; }
done
for text in Tarvion.ini README.txt; do
  lines=$(grep -c '' "$dir/$text")
  crlf=$(grep -c $'\r$' "$dir/$text")
  [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] ||
    { echo "FAILED: $text has $crlf CR LF ends of $lines lines"; fail=1; }
done
exit $fail

#!/usr/bin/env bash
# tavro.exe through the keyboard on the X display: compute all by the menu, copy SHA-1 and read it
# on the X side with xclip (exactly the 40 digits), then exit by the menu with code 0.
# Arguments: tavro.exe, read_boxes.exe, the test data directory. Needs DISPLAY and the Wine prefix.
set -euo pipefail
unset TMPDIR # Debian 13's Wine aborts whenever it is set
export WINEDEBUG=${WINEDEBUG:--all} # quiet unless the developer asks for some channels
exe=$1 read_boxes=$2 data=$3
expected_sha1=$(awk '$1 == "check.txt" { print $5 }' "$data/expected.txt")

wine "$exe" "$(winepath -w "$data/check.txt" 2>/dev/null)" >/dev/null 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^tavro$' | head -n 1)

xdotool windowfocus --sync "$win" key --delay 100 alt+l a
wine "$read_boxes" 30 2>/dev/null | tr -d '\r'
xdotool windowfocus --sync "$win" key --delay 100 alt+e s
sleep 0.5
copied=$(xclip -o -selection clipboard | od -An -c | tr -s ' \n' ' ')
want=$(printf '%s' "$expected_sha1" | od -An -c | tr -s ' \n' ' ')
if [ "$copied" != "$want" ]; then
  echo "X clipboard holds:$copied" >&2
  echo "expected:         $want" >&2
  exit 1
fi

xdotool windowfocus --sync "$win" key --delay 100 alt+f x
status=0
wait "$pid" || status=$?
trap - EXIT
echo "exit code $status"
[ "$status" -eq 0 ]

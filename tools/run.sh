#!/usr/bin/env bash
# Builds tavro and runs it under Wine with code page 932; arguments become its command-line tail.
# With a display, tavro starts there on the given file. Without one, a scripted demonstration on a
# virtual display: compute all through the menu, screenshot, print the values, exit through the menu.
set -euo pipefail
source "$(dirname "$0")/common.sh"

tavro_prepare
exe="$tavro_build/app/tavro.exe"

# A Linux path that exists is handed over as its Windows path; anything else as it is.
to_windows_args() {
  args=()
  local a
  for a in "$@"; do
    if [ -e "$a" ]; then args+=("$(winepath -w "$a" 2>/dev/null)"); else args+=("$a"); fi
  done
}

if [ -n "${DISPLAY:-}" ]; then
  to_windows_args "$@"
  exec wine "$exe" "${args[@]}"
fi

out="$tavro_build/run"
mkdir -p "$out"
shot="$out/tavro.png"
tavro_pid=
cleanup() {
  if [ -n "$tavro_pid" ]; then kill "$tavro_pid" 2>/dev/null || true; fi
  tavro_end_session
}
trap cleanup EXIT
# The session (and its display) comes first: a Wine program started without a display, winepath
# too, would leave the prefix's desktop without one, and tavro's window could not be made.
tavro_begin_session
[ $# -gt 0 ] || set -- "$tavro_root/tools/sample.txt"
to_windows_args "$@"

wine "$exe" "${args[@]}" >"$out/tavro.log" 2>&1 &
tavro_pid=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^tavro$' | head -n 1) || true
[ -n "$win" ] || { echo "run: the tavro window did not appear (log: $out/tavro.log)" >&2; exit 1; }
xdotool windowfocus --sync "$win"

# Compute all through the menu: Alt+L opens 算出(&L), A picks 全て(&A).
xdotool key --delay 100 alt+l a
if ! values=$(wine "$tavro_build/tools/window/read_boxes.exe" 60 2>/dev/null); then
  echo "run: the values did not appear:" >&2
  echo "$values" >&2
  exit 1
fi
sleep 0.5 # let the done texts paint before the picture is taken
import -window "$win" "$shot"

echo "$values" | tr -d '\r'
echo "screenshot: $shot"

# Exit through the menu: Alt+F opens ファイル(&F), X picks 終了(&X).
xdotool windowfocus --sync "$win" key --delay 100 alt+f x
status=0
wait "$tavro_pid" || status=$?
tavro_pid=
if [ "$status" -ne 0 ]; then
  echo "run: tavro exited with $status" >&2
  exit 1
fi
echo "tavro exited with 0"

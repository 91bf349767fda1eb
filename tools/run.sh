#!/usr/bin/env bash
# Builds tavro and runs it under Wine with code page 932; arguments become its command-line tail.
# With a display, tavro starts there on the given file. Without one, a scripted demonstration on a
# virtual display: compute all through the menu, screenshot, print the values, exit through the menu.
set -euo pipefail
source "$(dirname "$0")/common.sh"
tavro_session run "$@"

out="$tavro_build/run"
log="$out/tavro.log"
exe="$tavro_tree/app/tavro.exe"

# A Linux path that exists is handed over as its Windows path; anything else as it is.
to_windows_args() {
  args=()
  local a
  for a in "$@"; do
    if [ -e "$a" ]; then args+=("$(tavro_winepath "$a")"); else args+=("$a"); fi
  done
}

# Starts tavro on "${args[@]}", its output to $log. $tavro_pid is tavro's own: wine is started as a
# plain command (env execs it), not through tavro_wine, so it is the process that execs the Windows
# program, and its windows carry that pid.
start_tavro() {
  env -u TMPDIR LC_ALL=ja_JP.UTF-8 wine "$exe" "${args[@]}" >"$log" 2>&1 &
  tavro_pid=$!
}

# Waits for tavro's own main window (not another tavro's on the same display) and prints its id.
# Emulated Wine on a busy machine can take half a minute to show one.
main_window() {
  local win
  win=$(timeout 90 xdotool search --sync --onlyvisible --pid "$tavro_pid" --name '^tavro$' 2>/dev/null |
    head -n 1) || true
  [ -n "$win" ] || { tavro_say "tavro showed no window on $DISPLAY within 90 s (log: $log)"; return 1; }
  echo "$win"
}

# Waits for tavro to end; its exit code is the tool's.
wait_for_tavro() {
  local status=0
  wait "$tavro_pid" || status=$?
  [ "$status" -eq 0 ] || { tavro_say "tavro exited with $status"; exit 1; }
  echo "tavro exited with 0"
}

tavro_build_tree tavro read_boxes
mkdir -p "$out"

if [ -n "${DISPLAY:-}" ]; then
  tavro_start_wine user
  to_windows_args "$@"
  start_tavro
  main_window >/dev/null
  wait_for_tavro
  exit 0
fi

shot="$out/tavro.png"
tavro_start_wine own
[ $# -gt 0 ] || set -- "$tavro_root/tools/sample.txt"
to_windows_args "$@"

start_tavro
win=$(main_window)
xdotool windowfocus --sync "$win"

# Compute all through the menu: Alt+L opens 算出(&L), A picks 全て(&A).
xdotool key --delay 100 alt+l a
values=$(tavro_wine "$tavro_tree/tools/window/read_boxes.exe" 60 2>/dev/null) ||
  { tavro_say "the values did not appear:"; echo "$values" >&2; exit 1; }
sleep 0.5 # let the done texts paint before the picture is taken
import -window "$win" "$shot"

echo "$values" | tr -d '\r'
echo "screenshot: $shot"

# Exit through the menu: Alt+F opens ファイル(&F), X picks 終了(&X).
xdotool windowfocus --sync "$win" key --delay 100 alt+f x
wait_for_tavro

#!/usr/bin/env bash
# tools/session.py over a stand-in command (a shell and two sleeps in the command's own session):
# Ctrl-\ ends the whole session, Ctrl-Z pauses it with the owner and fg resumes it, and a build
# folder that cannot be written is said in one line. The owner gets the signals as a terminal
# would send them: to it alone, since the command runs out of the terminal's reach.
set -uo pipefail
session=$1
work=$(mktemp -d)
# The owners' temporary folders go in it too, so that one killed by the trap below leaves none.
export TMPDIR=$work
owner= sid=
trap '[ -z "$owner" ] || kill -KILL "$owner" 2>/dev/null; [ -z "$sid" ] || pkill -KILL -s "$sid"; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts an owner and waits until its record names the command's session ($sid).
start() {
  rm -f "$work/session-test.record"
  setsid /usr/bin/python3 "$session" test "$work" "$work/no-prefix" -- \
    bash -c 'sleep 300 & sleep 300 & wait' &
  owner=$!
  local i boot start_ folder
  for i in $(seq 100); do
    sid=0
    { read -r boot sid start_ folder <"$work/session-test.record"; } 2>/dev/null
    [ "${sid:-0}" = 0 ] || [ "$(alive | wc -l)" -lt 3 ] || return 0
    sleep 0.1
  done
  fail "the command's session never ran three processes"
}
# The command's processes that have not ended (an ended one may wait a while for its reaper).
alive() { ps -o stat=,pid=,args= -s "$sid" | grep -v '^Z'; }
# The distinct states of the command's processes, e.g. "S" or "T".
states() { alive | cut -c1 | sort -u | tr -d '\n'; }
# Waits up to 5 s for the owner to be in state $1.
owner_state() {
  local i
  for i in $(seq 50); do [ "$(ps -o stat= -p "$owner" | cut -c1)" = "$1" ] && return 0; sleep 0.1; done
  return 1
}
# Ends the owner with signal $1 and checks its status, that it took less than the 5 s after which
# the owner kills what TERM did not end, and that nothing of the session is left.
end_with() {
  local status=0 began=${EPOCHREALTIME/./}
  kill "-$1" "$owner"
  wait "$owner" || status=$?
  [ "$status" -eq "$2" ] || fail "$1: the owner exited $status, not $2"
  [ $((${EPOCHREALTIME/./} - began)) -lt 4000000 ] || fail "$1: the session took 4 s or more to end"
  [ -z "$(alive)" ] || fail "$1: left running: $(alive | tr '\n' ';')"
  owner= sid=
}

start
end_with QUIT 131

start
kill -TSTP "$owner"
owner_state T || fail "TSTP: the owner did not stop"
[ "$(states)" = T ] || fail "TSTP: the command's processes are in states '$(states)', not all stopped"
kill -CONT "$owner"
sleep 0.5
[ "$(states)" = S ] || fail "CONT: the command's processes are in states '$(states)', not resumed"
end_with INT 130

start
kill -TSTP "$owner"
owner_state T || fail "TSTP: the owner did not stop"
kill -TERM "$owner"
end_with CONT 143 # TERM, then CONT as the shell's kill sends to a stopped job

message=$(/usr/bin/python3 "$session" test /proc/tavro-nowhere "$work/no-prefix" -- true 2>&1)
status=$?
[ "$status" -ne 0 ] && [ "$(wc -l <<<"$message")" -eq 1 ] && [[ $message == *"cannot write in /proc/tavro-nowhere"* ]] ||
  fail "an unwritable build folder: exit $status, said: $message"

echo "$failures failed"
[ "$failures" -eq 0 ]

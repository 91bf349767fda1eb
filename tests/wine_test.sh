#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest, in the prefix and code page the caller's
# environment names. The program writes to a file, not ctest's pipe: the first program that needs
# the desktop starts Wine's explorer.exe, which inherits that program's output and would hold
# ctest's pipe open, and ctest waiting, long after the test itself ended. tail copies the file to
# ctest as it grows, so a test that ctest kills at its time limit still shows what it printed, the
# case it hung in last. The file has no name from the start: a killed run leaves nothing behind.
out=$(mktemp) || exit 1
exec 3>"$out" 4<"$out"
rm -f "$out"
# Wine's debug channels are quiet unless the developer asks for some.
export WINEDEBUG=${WINEDEBUG:--all}
# Without TMPDIR: Debian 13's Wine aborts whenever it is set.
env -u TMPDIR wine "$@" >&3 2>&3 </dev/null 3>&- 4>&- &
wine_pid=$!
exec 3>&-
# tail reads the rest once wine has ended, then stops.
tail -n +1 -s 0.1 -f --pid="$wine_pid" <&4 4<&-
status=0
wait "$wine_pid" || status=$?
exit "$status"

#!/usr/bin/env bash
# Runs one Windows test program under Wine for ctest, in the prefix and code page the caller's
# environment names. Its output reaches ctest through a file, not ctest's pipe: the first program
# that needs the desktop starts Wine's explorer.exe, which inherits that program's output and
# would hold ctest's pipe open, and ctest waiting, long after the test itself ended.
out=$(mktemp) || exit 1
status=0
# Without TMPDIR: Debian 13's Wine aborts whenever it is set.
env -u TMPDIR wine "$@" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
rm -f "$out"
exit "$status"

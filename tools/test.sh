#!/usr/bin/env bash
# Builds tavro and the tests, then runs the whole suite with ctest: Windows tests under Wine on an
# Xvfb of the suite's own (never the user's display), the engines' sanitized host tests natively.
# Arguments go to ctest. Exits non-zero when any test fails, times out or cannot start.
set -euo pipefail
source "$(dirname "$0")/common.sh"

# Every test has a time limit: this one unless its entry sets a longer one, so that a hung test
# fails with its name instead of holding the suite.
default_timeout=600

ctest_pid=
stop() {
  trap '' INT TERM HUP
  if [ -n "$ctest_pid" ]; then
    tavro_kill_tree "$ctest_pid"
    wait "$ctest_pid" 2>/dev/null || true
  fi
  tavro_end_session
}
trap stop EXIT
tavro_exit_on_signals
tavro_prepare "$@"
tavro_begin_session test own

# In the background, so that a signal to this script is handled at once and reaches ctest's tests.
ctest --test-dir "$tavro_build" --output-on-failure -j 2 --timeout "$default_timeout" "$@" </dev/null &
ctest_pid=$!
status=0
wait "$ctest_pid" || status=$?
ctest_pid=
exit "$status"

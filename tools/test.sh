#!/usr/bin/env bash
# Builds tavro and the tests, then runs the whole suite with ctest: Windows tests under Wine on an
# Xvfb of the suite's own (never the user's display), the engines' sanitized host tests natively.
# Arguments go to ctest. Exits non-zero when any test fails, times out or cannot start.
set -euo pipefail
source "$(dirname "$0")/common.sh"
tavro_session test "$@"

# Every test has a time limit: this one unless its entry sets a longer one, so that a hung test
# fails with its name instead of holding the suite.
default_timeout=600

tavro_build_tree
tavro_start_wine own
exec ctest --test-dir "$tavro_tree" --output-on-failure -j 2 --timeout "$default_timeout" "$@" </dev/null

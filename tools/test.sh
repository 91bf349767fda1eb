#!/usr/bin/env bash
# Builds tavro and the tests, then runs the whole suite with ctest: Windows tests under Wine,
# the engines' sanitized host tests natively. Exits non-zero when any test fails.
set -euo pipefail
source "$(dirname "$0")/common.sh"

tavro_prepare
trap tavro_end_session EXIT
tavro_begin_session

ctest --test-dir "$tavro_build" --output-on-failure -j 2 "$@"

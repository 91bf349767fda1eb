#!/usr/bin/env bash
# Builds tavro and the tests, then runs the whole suite with ctest: Windows tests under Wine,
# the engines' sanitized host tests natively. Exits non-zero when any test fails.
set -euo pipefail
source "$(dirname "$0")/common.sh"

"$tavro_root/tools/setup.sh"
tavro_build_all
tavro_wine_prefix

cleanup() {
  wineserver -k 2>/dev/null || true
  tavro_stop_display
}
trap cleanup EXIT
tavro_need_display
wineserver -p 2>/dev/null || true
# The first Wine process of a session starts Wine's own services, which would inherit ctest's
# output pipes and keep ctest waiting after the test has ended; start them here instead.
wine cmd.exe /c exit >/dev/null 2>&1 || true

ctest --test-dir "$tavro_build" --output-on-failure -j 2 "$@"

#!/usr/bin/env bash
# Times the three engines over a 256 MiB file of random bytes inside one Wine process, beside two
# plain references, the bare 64-byte read loop and the Linux peers (zlib's crc32, md5sum, sha1sum),
# and prints the table with the target ratios. Not part of the test suite.
#   TAVRO_BENCH_ROUNDS  runs per case, the best counts (default 5)
# Exit status: 0 all targets met, 1 a digest disagreed or a run failed, 2 a target was missed.
set -euo pipefail
source "$(dirname "$0")/common.sh"

rounds=${TAVRO_BENCH_ROUNDS:-5}
bench_py="$tavro_root/tools/bench/bench.py"
work="$tavro_build/bench"
data="$work/random-256m.bin"

"$tavro_root/tools/setup.sh"
tavro_build_all
tavro_wine_prefix

cleanup() {
  wineserver -k 2>/dev/null || true
  tavro_stop_display
}
trap cleanup EXIT

mkdir -p "$work"
python3 "$bench_py" make-file "$data"
cat "$data" >/dev/null # into the page cache, so that every reader starts warm
size=$(stat -c %s "$data")

python3 "$bench_py" peers "$data" "$rounds" >"$work/peers.txt"
wine "$tavro_build/tools/tavro_bench.exe" "$(winepath -w "$data")" "$rounds" >"$work/ours.txt" || true

status=0
python3 "$bench_py" report --file "$data" --size "$size" --rounds "$rounds" \
  --ours "$work/ours.txt" --peers "$work/peers.txt" || status=$?
exit "$status"

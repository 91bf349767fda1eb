#!/usr/bin/env bash
# Times the three engines over a 256 MiB file of random bytes inside one Wine process, beside two
# plain references, the bare 64-byte read loop and the Linux peers (zlib's crc32, md5sum, sha1sum),
# then "compute all" end to end in the real window, and prints the table with the target ratios.
# Where 32-bit programs run under an emulator, the report says so: its speeds are the emulator's.
# Not part of the test suite.
#   TAVRO_BENCH_ROUNDS  runs per case, the best counts (default 5)
# Exit status: 0 all targets met, 1 a value disagreed or a run failed, 2 a target was missed.
set -euo pipefail
source "$(dirname "$0")/common.sh"

rounds=${TAVRO_BENCH_ROUNDS:-5}
bench_py="$tavro_root/tools/bench/bench.py"
work="$tavro_build/bench"
data="$work/random-256m.bin"

tavro_prepare
trap tavro_end_session EXIT
tavro_begin_session

mkdir -p "$work"
python3 "$bench_py" make-file "$data"
cat "$data" >/dev/null # into the page cache, so that every reader starts warm
size=$(stat -c %s "$data")
win_data=$(winepath -w "$data" 2>/dev/null)

python3 "$bench_py" peers "$data" "$rounds" >"$work/peers.txt"
wine "$tavro_build/tools/tavro_bench.exe" "$win_data" "$rounds" >"$work/ours.txt" || true

# "Compute all" in the real window, one window per run, each right after a run of the three engines
# alone, so that both sides of the ratio see the machine in the same state.
rm -f "$work"/window-*.txt
for r in $(seq "$rounds"); do
  wine "$tavro_build/tools/tavro_bench.exe" "$win_data" 1 crc32 md5 sha1 >"$work/window-engines-$r.txt" || true
  wine "$tavro_build/tools/window/time_calc_all.exe" "$win_data" >"$work/window-run-$r.txt" 2>&1 || true
done
python3 "$bench_py" window --window-runs "$work"/window-run-*.txt \
  --engine-runs "$work"/window-engines-*.txt >"$work/window.txt"

status=0
python3 "$bench_py" report --file "$data" --size "$size" --rounds "$rounds" \
  --ours "$work/ours.txt" --peers "$work/peers.txt" --window "$work/window.txt" \
  --emulator "$(tavro_emulator)" || status=$?
exit "$status"

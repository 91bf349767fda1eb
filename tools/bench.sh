#!/usr/bin/env bash
# Times the engines in two sections. First natively on the 64-bit host (tools/bench/host): every
# engine path against ISA-L, libdeflate, zlib and OpenSSL over one 256 MiB file in memory. Then the
# three 32-bit engines, CRC-32 and SHA-1 also held to their portable path, over a 256 MiB file of
# random bytes inside one Wine process, beside two plain references, the bare 64-byte read loop and
# the Linux peers (zlib's crc32, md5sum, sha1sum), then "compute all" end to end in the real
# window; each section prints its table with the target ratios.
# Where 32-bit programs run under an emulator, the report says so: its speeds are the emulator's.
# Not part of the test suite.
#   TAVRO_BENCH_HOST_ROUNDS  rounds of the host section, the best counts (default 9)
#   TAVRO_BENCH_ROUNDS       runs per case of the Wine section, the best counts (default 5)
# Exit status: 0 all targets met, 1 a value disagreed or a run failed, 2 a target was missed (on the
# host, by more than the run's own spread);
# over both sections, 1 beats 2 beats 0.
set -euo pipefail
source "$(dirname "$0")/common.sh"
tavro_session bench "$@"

rounds=${TAVRO_BENCH_ROUNDS:-5}
bench_py="$tavro_root/tools/bench/bench.py"
work="$tavro_build/bench"
data="$work/random-256m.bin"
host_build="$work/host"

# A failure (1, or any other code: a crash) beats a missed target (2), which beats success.
status=0
note_status() { case $1 in 0) ;; 2) [ "$status" -eq 1 ] || status=2 ;; *) status=1 ;; esac; }

# The host benchmark's own project, built quietly; compiler output shows only on failure or warning.
build_host_bench() {
  local log="$work/host.log"
  mkdir -p "$host_build"
  { cmake -S "$tavro_root/tools/bench/host" -B "$host_build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_CXX_COMPILER=g++ && cmake --build "$host_build" -j "$(nproc)"; } >"$log" 2>&1 ||
    { cat "$log" >&2; return 1; }
  tavro_show_warnings "$log"
}

tavro_build_tree tavro_bench time_calc_all

# --- 64-bit host, native, before Wine starts so that nothing else runs beside it ---------------
if build_host_bench; then "$host_build/tavro_bench_host" || note_status $?
else tavro_say "the host benchmark did not build"; note_status 1; fi
echo

# --- 32-bit engines under Wine ----------------------------------------------------------------
tavro_start_wine own

mkdir -p "$work"
python3 "$bench_py" make-file "$data"
cat "$data" >/dev/null # into the page cache, so that every reader starts warm
size=$(stat -c %s "$data")
win_data=$(tavro_winepath "$data")

python3 "$bench_py" peers "$data" "$rounds" >"$work/peers.txt"
tavro_wine "$tavro_tree/tools/tavro_bench.exe" "$win_data" "$rounds" >"$work/ours.txt" || true

# "Compute all" in the real window, one window per run, each right after a run of the three engines
# alone, so that both sides of the ratio see the machine in the same state.
rm -f "$work"/window-*.txt
for r in $(seq "$rounds"); do
  tavro_wine "$tavro_tree/tools/tavro_bench.exe" "$win_data" 1 crc32 md5 sha1 >"$work/window-engines-$r.txt" || true
  tavro_wine "$tavro_tree/tools/window/time_calc_all.exe" "$win_data" >"$work/window-run-$r.txt" 2>&1 || true
done
python3 "$bench_py" window --window-runs "$work"/window-run-*.txt \
  --engine-runs "$work"/window-engines-*.txt >"$work/window.txt"

python3 "$bench_py" report --file "$data" --size "$size" --rounds "$rounds" \
  --ours "$work/ours.txt" --peers "$work/peers.txt" --window "$work/window.txt" \
  --emulator "$(tavro_emulator)" || note_status $?
exit "$status"

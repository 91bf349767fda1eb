#!/usr/bin/env python3
"""Linux side of tools/bench.sh: the data file, the peer timings and the report table."""
import argparse
import datetime
import os
import random
import subprocess
import sys
import time
import zlib

CHUNK = 1 << 20


def make_file(args):
    """Writes SIZE random bytes from a fixed seed; a file of the right size is reused."""
    if os.path.exists(args.path) and os.path.getsize(args.path) == args.size:
        return
    rng = random.Random(args.seed)
    tmp = args.path + ".tmp"
    with open(tmp, "wb") as f:
        left = args.size
        while left > 0:
            n = min(left, 8 * CHUNK)
            f.write(rng.randbytes(n))
            left -= n
    os.replace(tmp, args.path)


def time_zlib_crc32(path):
    start = time.perf_counter()
    crc = 0
    buf = bytearray(CHUNK)
    view = memoryview(buf)
    with open(path, "rb", buffering=0) as f:
        while True:
            n = f.readinto(buf)
            if not n:
                break
            crc = zlib.crc32(view[:n], crc)
    return time.perf_counter() - start, "%08x" % crc


def time_tool(tool, path):
    start = time.perf_counter()
    out = subprocess.run([tool, path], check=True, capture_output=True, text=True).stdout
    return time.perf_counter() - start, out.split()[0]


PEERS = [
    ("crc32", lambda p: time_zlib_crc32(p)),
    ("md5", lambda p: time_tool("md5sum", p)),
    ("sha1", lambda p: time_tool("sha1sum", p)),
]


def peers(args):
    """Best of ROUNDS runs of each peer, in the line format of tavro_bench.exe."""
    runs = {name: [] for name, _ in PEERS}
    checks = {name: set() for name, _ in PEERS}
    for _ in range(args.rounds):
        for name, run in PEERS:
            seconds, check = run(args.path)
            runs[name].append(seconds)
            checks[name].add(check)
    for name, _ in PEERS:
        check = checks[name].pop() if len(checks[name]) == 1 else "error"
        times = " ".join("%.6f" % s for s in runs[name])
        print("case %s %.6f %s %s" % (name, min(runs[name]), check, times))


def window(args):
    """Folds the interleaved window runs into two lines of the tavro_bench.exe format: calc_all
    (time_calc_all.exe outputs) and engines_sum (the three engines' times of the tavro_bench.exe
    run just before each window)."""
    times, checks = [], set()
    for path in args.window_runs:
        fields = {}
        with open(path, encoding="ascii", errors="replace") as f:
            for line in f:
                parts = line.split()
                if len(parts) == 2:
                    fields[parts[0]] = parts[1]
        try:
            times.append(float(fields["calc_all_seconds"]))
            checks.add(",".join(fields[n].lower() for n in ("crc32", "md5", "sha1")))
        except (KeyError, ValueError):
            checks.add("error")
    check = checks.pop() if len(checks) == 1 and times else "error"
    print("case calc_all %.6f %s %s" % (min(times) if times else 0.0, check,
                                         " ".join("%.6f" % t for t in times)))
    sums, sum_check = [], "ok"
    for path in args.engine_runs:
        cases = read_cases(path)
        if all(n in cases and cases[n][1] != "error" for n in ("crc32", "md5", "sha1")):
            sums.append(sum(cases[n][0] for n in ("crc32", "md5", "sha1")))
        else:
            sum_check = "error"
    print("case engines_sum %.6f %s %s" % (min(sums) if sums else 0.0, sum_check if sums else "error",
                                           " ".join("%.6f" % t for t in sums)))


def read_cases(path):
    cases = {}
    with open(path, encoding="ascii", errors="replace") as f:
        for line in f:
            fields = line.split()
            if len(fields) >= 4 and fields[0] == "case":
                cases[fields[1]] = (float(fields[2]), fields[3])
    return cases


def read_lines(path, kind):
    """The fields after KIND of every line of tavro_bench.exe's output that starts with it."""
    with open(path, encoding="ascii", errors="replace") as f:
        return [line.split()[1:] for line in f if line.split()[:1] == [kind]]


def report(args):
    """Prints the table; exit 1 when a check disagrees or a case is missing, 2 when a target is missed."""
    size = args.size
    ours = read_cases(args.ours)
    peer = read_cases(args.peers)
    window = read_cases(args.window) if args.window else {}
    bad = []

    def mbps(seconds):
        return size / seconds / 1e6 if seconds > 0 else float("nan")

    def ratio(a, b):
        return a / b if b > 0 else float("nan")

    def get(table, name):
        if name not in table:
            bad.append("%s: no result" % name)
            return float("nan"), "missing"
        return table[name]

    print("tavro benchmark, %s" % datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S"))
    print("file: %s, %d bytes of random data in the page cache; best of %d runs; MB/s = 10^6 bytes/s"
          % (args.file, size, args.rounds))
    if args.emulator:
        print("EMULATED: the 32-bit programs ran under %s. Their speeds, and their ratios to the native"
              % args.emulator)
        print("Linux peers, measure the emulator, not tavro on a real machine; only the ratios to the"
              " references")
        print("compiled and run the same way (targets below) compare like with like.")
    print()
    print("%-8s %10s %8s   %-20s %10s %8s  %10s   %s" %
          ("engine", "tavro MB/s", "s", "peer", "peer MB/s", "s", "tavro/peer", "digest"))
    for name, label, peer_label in [("crc32", "CRC-32", "python3 zlib.crc32"),
                                    ("md5", "MD5", "md5sum"), ("sha1", "SHA-1", "sha1sum")]:
        s, check = get(ours, name)
        ps, pcheck = get(peer, name)
        same = check == pcheck and check not in ("error", "missing")
        if not same:
            bad.append("%s: tavro %s, peer %s" % (name, check, pcheck))
        print("%-8s %10.1f %8.3f   %-20s %10.1f %8.3f  %9.2fx   %s" %
              (label, mbps(s), s, peer_label, mbps(ps), ps, ratio(ps, s),
               "same as peer (%s)" % check if same else "DIFFERS: %s vs %s" % (check, pcheck)))
    print()
    features = read_lines(args.ours, "features")
    absent = {fields[0] for fields in read_lines(args.ours, "absent") if fields}
    offered = (" ".join(features[0]) or "none") if features else "unknown"
    print("engine paths, before (portable) and after (all: every path offered, here %s):" % offered)
    for name, before, peer_name in [("crc32", ["crc32@portable", "crc32@clmul"], "crc32"),
                                    ("sha1", ["sha1@portable"], "sha1")]:
        base = ours.get(before[0], (float("nan"), "missing"))[0]
        for path in before + [name]:
            label = path if path != name else name + " (all)"
            if path in absent:
                print("  %-16s absent: the processor lacks it" % label)
                continue
            s, check = get(ours, path)
            want = peer[peer_name][1] if peer_name in peer else "missing"
            if check != want and path != name:  # the table above reports the engine itself
                bad.append("%s: %s, peer %s" % (path, check, want))
            print("  %-16s %8.1f MB/s %8.3f s  %6.2fx portable   %s" %
                  (label, mbps(s), s, ratio(base, s), "same as peer" if check == want else
                   "DIFFERS: %s vs %s" % (check, want)))
    print()
    print("references, same compiler flags, same process:")
    refs = [("ref_crc32", "byte-wise CRC-32 table loop, 32768-byte reads", peer, "crc32"),
            ("ref_sha1", "literal SHA-1, 32768-byte reads, byte at a time", peer, "sha1"),
            ("read64", "bare 64-byte ReadFile loop (MD5 read floor)", None, str(size))]
    for name, label, table, expect in refs:
        s, check = get(ours, name)
        want = table[expect][1] if table and expect in table else expect
        same = check == want
        if not same:
            bad.append("%s: %s, expected %s" % (name, check, want))
        print("  %-50s %8.1f MB/s %8.3f s   %s" %
              (label, mbps(s), s, "check ok" if same else "CHECK DIFFERS: %s vs %s" % (check, want)))
    print()
    print("targets (ratios of speeds in this run; the window line against the engines timed between its runs):")
    targets = [("CRC-32 engine / byte-wise CRC-32 loop", "ref_crc32", "crc32", ">=", 0.9),
               ("MD5 engine / bare 64-byte read loop", "read64", "md5", ">=", 0.75),
               ("SHA-1 engine / literal SHA-1", "ref_sha1", "sha1", ">=", 1.3)]
    missed = False
    for label, base, engine, op, goal in targets:
        r = ratio(get(ours, base)[0], get(ours, engine)[0])
        ok = r >= goal
        missed |= not ok
        print("  %-45s %6.2fx   target %s %.2fx   %s" % (label, r, op, goal, "PASS" if ok else "MISS"))
    if args.window:
        engines, sum_check = get(window, "engines_sum")
        if sum_check != "ok":
            bad.append("engines before the windows: %s" % sum_check)
        s, check = get(window, "calc_all")
        want = ",".join(peer[n][1] if n in peer else "missing" for n in ("crc32", "md5", "sha1"))
        if check != want:
            bad.append("window calc_all: %s, peers %s" % (check, want))
        r = ratio(s, engines)
        ok = r <= 1.2
        missed |= not ok
        print("  %-45s %6.2fx   target <= 1.20x   %s   (%.3f s against %.3f s; values %s)" %
              ("window calc_all / sum of engine times", r, "PASS" if ok else "MISS", s, engines,
               "same as peers" if check == want else "DIFFER"))
    else:
        print("  window calc_all / sum of engine times: not measured (%s)" % args.window_note)
    if bad:
        print()
        for b in bad:
            print("FAILED CHECK: " + b)
        return 1
    return 2 if missed else 0


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("make-file")
    p.add_argument("path")
    p.add_argument("--size", type=int, default=256 << 20)
    p.add_argument("--seed", type=int, default=20240901)
    p.set_defaults(func=make_file)
    p = sub.add_parser("peers")
    p.add_argument("path")
    p.add_argument("rounds", type=int)
    p.set_defaults(func=peers)
    p = sub.add_parser("window")
    p.add_argument("--window-runs", nargs="+", required=True)
    p.add_argument("--engine-runs", nargs="+", required=True)
    p.set_defaults(func=window)
    p = sub.add_parser("report")
    p.add_argument("--file", required=True)
    p.add_argument("--size", type=int, required=True)
    p.add_argument("--rounds", type=int, required=True)
    p.add_argument("--ours", required=True)
    p.add_argument("--peers", required=True)
    p.add_argument("--window")
    p.add_argument("--window-note", default="skipped")
    p.add_argument("--emulator", default="", help="what ran the 32-bit programs, when not the CPU itself")
    p.set_defaults(func=report)
    args = ap.parse_args()
    sys.exit(args.func(args) or 0)


if __name__ == "__main__":
    main()

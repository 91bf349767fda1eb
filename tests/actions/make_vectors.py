#!/usr/bin/env python3
"""Writes the window tests' input files and their digests, computed independently by zlib and hashlib."""
import hashlib
import random
import sys
import zlib
from pathlib import Path


def low_crc_text():
    # The first short text whose CRC-32 needs a leading zero digit.
    n = 0
    while zlib.crc32(f"tavro {n}".encode()) >= 0x10000000:
        n += 1
    return f"tavro {n}".encode()


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(20240611)
    files = {"empty.bin": b"", "check.txt": b"123456789", "lowcrc.txt": low_crc_text()}
    # Around the engines' block edges: 55/56/64 for the padding of MD5 and SHA-1, 32768 for their reads.
    for size in (55, 56, 64, 1000, 32768, 32769):
        files[f"rand{size}.bin"] = bytes(rng.getrandbits(8) for _ in range(size))
    lines = []
    for name, data in files.items():
        (out / name).write_bytes(data)
        lines.append(f"{name} {zlib.crc32(data):08X} {hashlib.md5(data).hexdigest()} "
                     f"{hashlib.sha1(data).hexdigest()}\n")
    (out / "expected.txt").write_text("".join(lines))
    (out / "sub dir").mkdir(exist_ok=True)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Writes test input files of given sizes and a list of their digests, for a second opinion.

Each size N becomes DIR/<prefix>_N.bin filled with bytes from a seeded generator, and one line
"name size crc32 md5 sha1" in the list file (crc32 as 8 lower-case hex digits). With --sparse the
file is made by truncation and only its first and last 4096 bytes are written, so a file of
several GiB costs no disk space; its digests are still over every byte. --named NAME=TEXT adds a
file holding exactly TEXT, --low-crc NAME one whose CRC-32 needs a leading zero digit.
"""

import argparse
import hashlib
import os
import random
import zlib

EDGE = 4096          # bytes written at each end of a sparse file
CHUNK = 1 << 20      # hashing step for the zero run of a sparse file


def dense_bytes(rng, size):
    return rng.randbytes(size)


def write_dense(path, data):
    with open(path, "wb") as f:
        f.write(data)


def digests_of(pieces):
    """pieces: iterable of bytes objects, hashed in order."""
    crc = 0
    md5 = hashlib.md5()
    sha1 = hashlib.sha1()
    for p in pieces:
        crc = zlib.crc32(p, crc)
        md5.update(p)
        sha1.update(p)
    return "%08x" % crc, md5.hexdigest(), sha1.hexdigest()


def sparse_pieces(head, gap, tail):
    yield head
    zeros = bytes(CHUNK)
    while gap > 0:
        n = min(gap, CHUNK)
        yield zeros if n == CHUNK else bytes(n)
        gap -= n
    yield tail


def make_sparse(path, rng, size):
    edge = min(EDGE, size // 2)
    head = rng.randbytes(edge)
    tail = rng.randbytes(edge)
    with open(path, "wb") as f:
        f.truncate(size)
        f.write(head)
        f.seek(size - edge)
        f.write(tail)
    return digests_of(sparse_pieces(head, size - 2 * edge, tail))


def low_crc_text():
    # The first short text whose CRC-32 is below 0x10000000, so that it shows a leading zero.
    n = 0
    while zlib.crc32(b"tavro %d" % n) >= 0x10000000:
        n += 1
    return b"tavro %d" % n


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--out", required=True, help="directory for the files and the list")
    ap.add_argument("--list", default="expected.txt", help="name of the list file in --out")
    ap.add_argument("--prefix", default="random", help="file name prefix")
    ap.add_argument("--seed", type=int, default=20240601)
    ap.add_argument("--sparse", action="store_true", help="make sparse files (large sizes)")
    ap.add_argument("--named", action="append", default=[], metavar="NAME=TEXT",
                    help="a file holding exactly TEXT (repeatable)")
    ap.add_argument("--low-crc", action="append", default=[], metavar="NAME",
                    help="a file whose CRC-32 is below 0x10000000 (repeatable)")
    ap.add_argument("sizes", nargs="*", type=int)
    args = ap.parse_args()

    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    lines = []
    for size in args.sizes:
        name = "%s_%d.bin" % (args.prefix, size)
        path = os.path.join(args.out, name)
        if args.sparse:
            crc, md5, sha1 = make_sparse(path, rng, size)
        else:
            data = dense_bytes(rng, size)
            write_dense(path, data)
            crc, md5, sha1 = digests_of([data])
        lines.append("%s %d %s %s %s\n" % (name, size, crc, md5, sha1))
    named = [tuple(n.split("=", 1)) for n in args.named]
    named += [(n, low_crc_text().decode()) for n in args.low_crc]
    for name, text in named:
        data = text.encode()
        write_dense(os.path.join(args.out, name), data)
        lines.append("%s %d %s %s %s\n" % ((name, len(data)) + digests_of([data])))
    # The list is written last: the build treats it as the proof that every file exists.
    tmp = os.path.join(args.out, args.list + ".tmp")
    with open(tmp, "w", newline="\n") as f:
        f.writelines(lines)
    os.replace(tmp, os.path.join(args.out, args.list))


if __name__ == "__main__":
    main()

"""Writes tavro's archive: the same bytes from every build of one commit, whoever builds it.

    make_zip.py ARCHIVE EPOCH FILE[:MODE] ...

Each FILE is stored under its bare name, in the order given, deflated, with the Unix mode MODE
(octal, default 644) and the time EPOCH (seconds since 1970). Nothing of the builder reaches the
archive: no owner or group, no extra fields, no disk times, no umask.
"""

import os
import sys
import time
import zipfile

# A zip entry's DOS date and time are local time, shown as they stand; the tool's users are in
# Japan, whose zone is UTC+9 all year.
JST_OFFSET = 9 * 3600


def dos_time(epoch):
    return time.gmtime(epoch + JST_OFFSET)[:6]


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    archive, epoch = argv[1], int(argv[2])
    when = dos_time(epoch)
    if when[0] < 1980:
        sys.exit("make_zip.py: %d is before 1980, the earliest a zip entry can hold" % epoch)
    partial = archive + ".part"
    with zipfile.ZipFile(partial, "w") as z:
        for entry in argv[3:]:
            path, _, mode = entry.partition(":")
            info = zipfile.ZipInfo(os.path.basename(path), date_time=when)
            info.create_system = 3  # Unix, so that the mode below counts on unpacking
            info.external_attr = (0o100000 | int(mode or "644", 8)) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(partial, archive)


if __name__ == "__main__":
    main(sys.argv)

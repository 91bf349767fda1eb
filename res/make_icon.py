#!/usr/bin/env python3
"""Draws tavro's icon (a white hash mark on a blue tile) and writes tavro.ico: 48, 32 and 16 pixels,
each at 4, 8 and 32 bits per pixel, with a 1-bit transparency mask. Standard library only."""
import struct
import sys

# The mark lives on a 16-unit grid so that every stroke lands on whole pixels at 16, 32 and 48.
TILE = (0, 0, 16, 16)       # rounded square, corner radius 3 units
RADIUS = 3.0
BARS = [                     # the hash: two upright and two level bars, 2 units thick
    (5, 3, 7, 13), (9, 3, 11, 13),
    (3, 5, 13, 7), (3, 9, 13, 11),
]
TOP = (48, 120, 220)         # tile gradient, top to bottom
BOTTOM = (16, 64, 150)
EDGE = (8, 40, 100)          # one-pixel rim that keeps the tile apart from light backgrounds
MARK = (255, 255, 255)

# The standard 16-colour palette of 4-bit icons.
VGA16 = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def in_tile(u, v):
    """Whether the point (u, v) in grid units lies on the rounded tile."""
    x0, y0, x1, y1 = TILE
    if not (x0 <= u < x1 and y0 <= v < y1):
        return False
    cx = min(max(u, x0 + RADIUS), x1 - RADIUS)
    cy = min(max(v, y0 + RADIUS), y1 - RADIUS)
    return (u - cx) ** 2 + (v - cy) ** 2 <= RADIUS ** 2


def in_mark(u, v):
    return any(x0 <= u < x1 and y0 <= v < y1 for x0, y0, x1, y1 in BARS)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def render(size):
    """Rows top to bottom of (r, g, b, alpha) with 4x4 supersampling for the tile's rim."""
    unit = 16.0 / size
    sub = 4
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            cover = 0
            for sy in range(sub):
                for sx in range(sub):
                    if in_tile((px + (sx + 0.5) / sub) * unit, (py + (sy + 0.5) / sub) * unit):
                        cover += 1
            alpha = round(255 * cover / (sub * sub))
            u, v = (px + 0.5) * unit, (py + 0.5) * unit
            inner = all(in_tile(u + du, v + dv) for du, dv in ((-unit, 0), (unit, 0), (0, -unit), (0, unit)))
            if in_mark(u, v):
                colour = MARK
            elif not inner:
                colour = EDGE
            else:
                colour = mix(TOP, BOTTOM, v / 16.0)
            row.append(colour + (alpha,))
        rows.append(row)
    return rows


def nearest(colour, palette):
    return min(range(len(palette)),
               key=lambda i: sum((colour[k] - palette[i][k]) ** 2 for k in range(3)))


def mask_bits(rows):
    """AND mask rows, bottom-up, each padded to 32 bits: 1 where the picture is transparent."""
    out = b""
    for row in reversed(rows):
        bits = bytearray((len(row) + 31) // 32 * 4)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def header(size, bpp, colours):
    # Height counts the colour bitmap and the mask together, as icon images require.
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, 0, 0, 0, colours, 0)


def image(size, bpp):
    rows = render(size)
    if bpp == 32:
        pixels = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(rows) for p in row)
        return header(size, 32, 0) + pixels + mask_bits(rows)
    if bpp == 8:
        palette = []
        for row in rows:
            for p in row:
                if p[:3] not in palette:
                    palette.append(p[:3])
        assert len(palette) <= 256
        palette += [(0, 0, 0)] * (256 - len(palette))
        stride = (size + 3) // 4 * 4
        body = b""
        for row in reversed(rows):
            line = bytes(palette.index(p[:3]) if p[3] >= 128 else 0 for p in row)
            body += line + bytes(stride - size)
        pal = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
        return header(size, 8, 256) + pal + body + mask_bits(rows)
    # 4 bits: the tile is plain blue, the rim navy, the mark white.
    stride = ((size + 1) // 2 + 3) // 4 * 4
    body = b""
    for row in reversed(rows):
        idx = []
        for p in row:
            if p[3] < 128:
                idx.append(0)
            elif p[:3] == MARK:
                idx.append(15)
            elif p[:3] == EDGE:
                idx.append(4)
            else:
                idx.append(12)
        line = bytes((idx[i] << 4) | (idx[i + 1] if i + 1 < size else 0) for i in range(0, size, 2))
        body += line + bytes(stride - len(line))
    pal = b"".join(bytes((c[2], c[1], c[0], 0)) for c in VGA16)
    return header(size, 4, 16) + pal + body + mask_bits(rows)


def main(path):
    # Directory values: the 4-bit images say 16 colours and 4 bits, all others 0 colours and 24 bits.
    entries = [(s, 4, 16, 4) for s in (48, 32, 16)] + \
              [(s, 8, 0, 24) for s in (48, 32, 16)] + \
              [(s, 32, 0, 24) for s in (48, 32, 16)]
    blobs = [image(s, bpp) for s, bpp, _, _ in entries]
    out = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for (size, _, colours, bits), blob in zip(entries, blobs):
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    out += b"".join(blobs)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "tavro.ico")

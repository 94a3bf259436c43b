#!/usr/bin/env python3
"""Draws the module's toolbox bitmap (16x15) and icon (32x32 and 16x16), 16 colours each, into
resources/toolbox.bmp and resources/quelvora.ico: a small video camera on a light ground."""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, GREY, SILVER, RED, BLUE, CYAN, WHITE = 0, 4, 8, 7, 9, 12, 14, 15


def camera(w, h):
    """Rows top to bottom of palette indices: a blue body, a cyan lens, a red light, a viewfinder."""
    s = w / 16.0
    px = [[SILVER] * w for _ in range(h)]

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, int(y0 * s)), min(h, int(y1 * s))):
            for x in range(max(0, int(x0 * s)), min(w, int(x1 * s))):
                px[y][x] = c

    rect(1, 4, 11, 13, NAVY)      # body outline
    rect(2, 5, 10, 12, BLUE)      # body
    rect(11, 6, 15, 11, NAVY)     # the lens hood, pointing right
    rect(12, 7, 15, 10, GREY)
    rect(3, 2, 7, 4, NAVY)        # viewfinder on top
    cx, cy, r = 6 * s, 8.5 * s, 2.2 * s
    for y in range(h):
        for x in range(w):
            d = ((x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2) ** 0.5
            if d <= r:
                px[y][x] = CYAN if d <= r * 0.6 else WHITE
    rect(8.5, 5.5, 9.5, 6.5, RED)  # recording light
    return px


def palette_bytes():
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)


def pixel_rows_4bit(px):
    """Bottom-up rows, two pixels a byte, each row padded to four bytes."""
    out = b""
    for row in reversed(px):
        data = bytes((row[i] << 4) | (row[i + 1] if i + 1 < len(row) else 0) for i in range(0, len(row), 2))
        out += data + b"\0" * (-len(data) % 4)
    return out


def info_header(w, h):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, 0, 0, 0, 16, 0)


def bmp(px):
    w, h = len(px[0]), len(px)
    body = info_header(w, h) + palette_bytes() + pixel_rows_4bit(px)
    return struct.pack("<2sIHHI", b"BM", 14 + len(body), 0, 0, 14 + 40 + 64) + body


def icon_image(px):
    w, h = len(px[0]), len(px)
    mask_row = b"\0" * (((w + 31) // 32) * 4)  # every pixel opaque
    return info_header(w, 2 * h) + palette_bytes() + pixel_rows_4bit(px) + mask_row * h


def ico(images):
    head = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries, blobs = b"", b""
    for px in images:
        blob = icon_image(px)
        w, h = len(px[0]), len(px)
        entries += struct.pack("<BBBBHHII", w, h, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
        blobs += blob
    return head + entries + blobs


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources")
    (out / "toolbox.bmp").write_bytes(bmp(camera(16, 15)))
    (out / "quelvora.ico").write_bytes(ico([camera(32, 32), camera(16, 16)]))


if __name__ == "__main__":
    main()

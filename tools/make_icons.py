#!/usr/bin/env python3
"""Draw the OVIXNOVA icons and write them as Windows .ico files (plus one PNG).

Standard library only. Every icon holds a 32x32 and a 16x16 image, each with
4 bits per pixel in the standard 16-colour VGA palette and an AND mask for
transparency. The pictures are drawn from simple geometry (rounded rectangles,
circles, line segments) sampled per pixel at each size, not scaled from one
bitmap, so both sizes stay crisp.

Usage:  tools/make_icons.py [--out DIR]
Writes 101.ico .. 104.ico, ovixnova.ico and ovixnova.png into DIR
(default: resources/icons next to this script's parent directory).

    101  spare: the register symbol in neutral grey, no status dot
    102  idle: register with a short paper stub and a green dot
    103  busy: register printing a long paper strip and a yellow dot
    104  error: register with a red dot holding a white cross
    ovixnova.ico / ovixnova.png  the program icon (the idle picture)
"""

import argparse
import pathlib
import struct
import zlib

# The standard 16-colour VGA palette in Windows order, as (R, G, B).
PALETTE = [
    (0x00, 0x00, 0x00),  # 0  black
    (0x80, 0x00, 0x00),  # 1  dark red
    (0x00, 0x80, 0x00),  # 2  dark green
    (0x80, 0x80, 0x00),  # 3  dark yellow
    (0x00, 0x00, 0x80),  # 4  dark blue
    (0x80, 0x00, 0x80),  # 5  dark magenta
    (0x00, 0x80, 0x80),  # 6  dark cyan
    (0xC0, 0xC0, 0xC0),  # 7  light grey
    (0x80, 0x80, 0x80),  # 8  dark grey
    (0xFF, 0x00, 0x00),  # 9  red
    (0x00, 0xFF, 0x00),  # 10 green
    (0xFF, 0xFF, 0x00),  # 11 yellow
    (0x00, 0x00, 0xFF),  # 12 blue
    (0xFF, 0x00, 0xFF),  # 13 magenta
    (0x00, 0xFF, 0xFF),  # 14 cyan
    (0xFF, 0xFF, 0xFF),  # 15 white
]

BLACK, DKRED, DKGREEN, DKYELLOW, DKBLUE, DKMAGENTA, DKCYAN, LTGREY = range(8)
DKGREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)

SUPERSAMPLE = 4  # samples per pixel side; a pixel is set when half is covered


# --------------------------------------------------------------------------
# Shapes: functions (x, y) -> bool in pixel coordinates (0..size, y down).

def rrect(x0, y0, x1, y1, r=0.0):
    """Axis-aligned rectangle with corner radius r."""
    r = max(0.0, min(r, (x1 - x0) / 2, (y1 - y0) / 2))

    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

    return inside


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def segment(x0, y0, x1, y1, w):
    """Line segment of width w with round caps."""
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy or 1e-9
    half = w / 2

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
        px, py = x0 + t * dx, y0 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half

    return inside


class Canvas:
    """A size x size grid of palette indices; None is transparent."""

    def __init__(self, size):
        self.size = size
        self.px = [[None] * size for _ in range(size)]

    def fill(self, shape, colour):
        n = SUPERSAMPLE
        for j in range(self.size):
            for i in range(self.size):
                hits = 0
                for sj in range(n):
                    for si in range(n):
                        if shape(i + (si + 0.5) / n, j + (sj + 0.5) / n):
                            hits += 1
                if hits * 2 >= n * n:
                    self.px[j][i] = colour

    def boxed(self, x0, y0, x1, y1, r, fill, edge=BLACK):
        """Rounded rectangle with a one-pixel outline."""
        self.fill(rrect(x0, y0, x1, y1, r), edge)
        self.fill(rrect(x0 + 1, y0 + 1, x1 - 1, y1 - 1, r - 1), fill)

    def disc(self, cx, cy, r, fill, edge=BLACK):
        """Filled circle with a one-pixel outline."""
        self.fill(circle(cx, cy, r), edge)
        self.fill(circle(cx, cy, r - 1), fill)


# --------------------------------------------------------------------------
# The picture. Layouts are given per size so that lines stay one pixel wide
# and the small image keeps only the details that still read at 16x16.

LAYOUT = {
    32: dict(
        body=(1, 14, 27, 30, 3),
        drawer_y=24, handle=(10, 27, 18),
        display=(3, 5, 15, 14, 1), digits=(5, 9.5, 13),
        slot=(16, 13, 25),
        stub=(17, 9, 24, 14), strip=(17, 0, 24, 14),
        text_lines=((19, 3, 22), (19, 6, 22), (19, 9, 21)),
        keys=[(x, y, 2, 2) for y in (17, 20) for x in (4, 7, 10, 13, 16, 19)],
        dot=(24.5, 24.5, 6.5), cross=2.5, cross_w=1.8,
    ),
    16: dict(
        body=(0, 7, 14, 15, 1.5),
        drawer_y=12, handle=None,
        display=(1, 2, 8, 7.5, 0.5), digits=None,
        slot=None,
        stub=(9, 3, 13, 8), strip=(9, 0, 13, 8),
        text_lines=((10, 2, 12), (10, 4, 12)),
        keys=[(x, 9, 1, 1) for x in (2, 4, 6, 8)],
        dot=(12.5, 12.5, 3.5), cross=1.0, cross_w=1.2,
    ),
}

STATES = {
    "101": dict(grey=True, paper="stub", dot=None),
    "102": dict(grey=False, paper="stub", dot=GREEN),
    "103": dict(grey=False, paper="strip", dot=YELLOW),
    "104": dict(grey=False, paper="stub", dot=RED, cross=True),
}


def draw(size, state):
    L = LAYOUT[size]
    grey = state["grey"]
    c = Canvas(size)

    # Paper comes out of the slot on top of the body, so draw it first.
    if state["paper"] == "strip":
        x0, y0, x1, y1 = L["strip"]
        c.boxed(x0, y0, x1, y1, 0, WHITE)
        for lx0, ly, lx1 in L["text_lines"]:
            c.fill(rrect(lx0, ly, lx1, ly + 1), DKGREY)
    else:
        x0, y0, x1, y1 = L["stub"]
        c.boxed(x0, y0, x1, y1, 0, LTGREY if grey else WHITE)

    # Body with a darker cash drawer along the bottom.
    bx0, by0, bx1, by1, br = L["body"]
    c.boxed(bx0, by0, bx1, by1, br, LTGREY)
    dy = L["drawer_y"]
    c.fill(rrect(bx0 + 1, dy + 1, bx1 - 1, by1 - 1, br - 1), DKGREY)
    c.fill(rrect(bx0 + 1, dy, bx1 - 1, dy + 1), BLACK)
    if L["handle"]:
        hx0, hy, hx1 = L["handle"]
        c.fill(rrect(hx0, hy, hx1, hy + 1), BLACK)

    # Printer slot the paper leaves through (the body's top edge at 16x16).
    if L["slot"]:
        sx0, sy, sx1 = L["slot"]
        c.fill(rrect(sx0, sy, sx1, sy + 1), BLACK)

    # Keypad.
    for kx, ky, kw, kh in L["keys"]:
        c.fill(rrect(kx, ky, kx + kw, ky + kh), WHITE if not grey else DKGREY)

    # Customer display on its post, with a line of digits at the large size.
    dx0, dy0, dx1, dy1, dr = L["display"]
    c.boxed(dx0, dy0, dx1, dy1, dr, DKGREY if grey else DKCYAN)
    if L["digits"]:
        gx0, gy, gx1 = L["digits"]
        c.fill(rrect(gx0, gy - 0.5, gx1, gy + 0.5), LTGREY if grey else CYAN)

    # Status dot over the lower right corner.
    if state["dot"] is not None:
        cx, cy, r = L["dot"]
        c.disc(cx, cy, r, state["dot"])
        if state.get("cross"):
            a, w = L["cross"], L["cross_w"]
            c.fill(segment(cx - a, cy - a, cx + a, cy + a, w), WHITE)
            c.fill(segment(cx - a, cy + a, cx + a, cy - a, w), WHITE)
    return c


# --------------------------------------------------------------------------
# File formats.

def bmp_4bpp(canvas):
    """One ICO image: BITMAPINFOHEADER, palette, XOR bits, AND mask."""
    n = canvas.size
    xor_stride = ((n * 4 + 31) // 32) * 4
    and_stride = ((n + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(canvas.px):  # bottom-up
        line = bytearray(xor_stride)
        mline = bytearray(and_stride)
        for i, p in enumerate(row):
            if p is None:
                mline[i // 8] |= 0x80 >> (i % 8)
                p = 0
            line[i // 2] |= p << (4 if i % 2 == 0 else 0)
        xor += line
        mask += mline
    header = struct.pack(
        "<IiiHHIIiiII",
        40, n, n * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def ico(canvases):
    images = [bmp_4bpp(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for c, data in zip(canvases, images):
        out += struct.pack(
            "<BBBBHHII", c.size % 256, c.size % 256, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b"".join(images)


def png(canvas):
    """RGBA PNG, transparent where the icon is transparent."""
    n = canvas.size
    raw = bytearray()
    for row in canvas.px:
        raw.append(0)  # filter: none
        for p in row:
            raw += bytes(PALETTE[p]) + b"\xff" if p is not None else b"\0\0\0\0"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    default_out = pathlib.Path(__file__).resolve().parent.parent / "resources" / "icons"
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", type=pathlib.Path, default=default_out)
    args = ap.parse_args()
    args.out.mkdir(parents=True, exist_ok=True)

    def write(name, data):
        (args.out / name).write_bytes(data)
        print(args.out / name)

    for name, state in STATES.items():
        write(name + ".ico", ico([draw(32, state), draw(16, state)]))
    write("ovixnova.ico", ico([draw(32, STATES["102"]), draw(16, STATES["102"])]))
    write("ovixnova.png", png(draw(32, STATES["102"])))


if __name__ == "__main__":
    main()

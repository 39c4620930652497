#!/usr/bin/env python3
"""Draws the program's icon and writes it as a Windows .ico file.

The picture: a grey hand-held device with a display and a keypad, standing
in front of a silver disc, and a blue arrow pointing upward at the bottom
centre. Images of 32, 16, 20, 24, 48 and 256 pixels square, 256 colours each:
the 16 is placed by hand, the others are drawn from the 32's shapes at their
own size, so each is sharp at the scaling it serves (100 % to 200 % and the
large views).

Shapes are described by signed distance functions and rendered with 8 x 8
supersampling; the few details that must sit on exact pixels at 16 x 16 are
placed by hand on top. Every pixel is then mapped to the nearest colour of a
fixed 256-colour palette, and a pixel is opaque when at least half of it is
covered, which is all a 1-bit AND mask can say.

Only + - * / and square roots are used on floats (no trigonometry), so the
output is the same bytes on every machine with IEEE arithmetic. Standard
library only; run with no arguments to rewrite the files beside this script.
"""

import argparse
import math
import os
import struct
import zlib

SUPERSAMPLE = 8

# ---------------------------------------------------------------------------
# Palette


def _grey(v):
    return (v, v, v)


def _lerp(a, b, t):
    return a + (b - a) * t


def _mix(c1, c2, t):
    return tuple(_lerp(a, b, t) for a, b in zip(c1, c2))


def _ramp(stops, count):
    """count colours spread evenly along a piecewise-linear ramp."""
    out = []
    for i in range(count):
        t = i / (count - 1) * (len(stops) - 1)
        k = min(int(t), len(stops) - 2)
        out.append(tuple(int(round(v)) for v in _mix(stops[k], stops[k + 1], t - k)))
    return out


def build_palette():
    # The 16 colours every Windows display has, in their usual order.
    pal = [
        (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
        (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
        (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
        (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
    ]
    # Neutral greys for the device's body and outlines.
    pal += [_grey(int(round(i * 255 / 63))) for i in range(1, 63)]
    # Cool silvers for the disc, and the faint warm and cool sheens on it.
    pal += _ramp([(84, 90, 104), (150, 158, 172), (206, 212, 224), (246, 249, 255)], 40)
    pal += _ramp([(176, 168, 182), (222, 214, 226), (252, 246, 250)], 8)
    pal += _ramp([(186, 178, 158), (228, 222, 200), (252, 250, 236)], 8)
    pal += _ramp([(156, 184, 196), (206, 228, 236), (240, 252, 255)], 8)
    # Blues for the arrow: from its navy outline to the highlight.
    pal += _ramp([(0, 16, 64), (0, 44, 140), (0, 90, 224), (40, 140, 255),
                  (150, 200, 255), (228, 242, 255)], 48)
    # Steel blues: where the arrow's edges meet the grey device and silver disc.
    pal += _ramp([(36, 44, 70), (82, 96, 132), (128, 142, 176), (184, 194, 218)], 16)
    pal += _ramp([(20, 40, 96), (46, 84, 160), (72, 118, 192), (110, 156, 226)], 14)
    # Greens for the display, from its dark text to its glare.
    pal += _ramp([(32, 48, 36), (72, 100, 70), (128, 160, 116), (178, 206, 160),
                  (224, 240, 214)], 28)
    # Dark slate for the display's frame.
    pal += _ramp([(24, 28, 34), (58, 66, 76), (98, 106, 116)], 8)
    # Whatever is left: an even spread so no stray colour lands far away.
    levels = (0, 96, 160, 224)
    spread = [(r, g, b) for r in levels for g in levels for b in levels]
    for c in spread:
        if len(pal) == 256:
            break
        if c not in pal:
            pal.append(c)
    assert len(pal) == 256, len(pal)
    return pal


PALETTE = build_palette()
_nearest_cache = {}


def nearest(rgb):
    """Index of the palette colour nearest to rgb, weighting the channels the
    way the eye does (the 'red mean' approximation)."""
    key = tuple(max(0, min(255, int(round(v)))) for v in rgb)
    hit = _nearest_cache.get(key)
    if hit is not None:
        return hit
    r, g, b = key
    best, best_d = 0, None
    for i, (pr, pg, pb) in enumerate(PALETTE):
        rm = (r + pr) / 2
        dr, dg, db = r - pr, g - pg, b - pb
        d = (2 + rm / 256) * dr * dr + 4 * dg * dg + (2 + (255 - rm) / 256) * db * db
        if best_d is None or d < best_d:
            best, best_d = i, d
    _nearest_cache[key] = best
    return best


# ---------------------------------------------------------------------------
# Shapes as signed distance functions: negative inside, in pixels.


def _sqrt(v):
    return math.sqrt(v)  # correctly rounded, unlike a power


def circle(cx, cy, r):
    return lambda x, y: _sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy)) - r


def rounded_box(x0, y0, x1, y1, r):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - r, (y1 - y0) / 2 - r

    def f(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        ox, oy = max(qx, 0.0), max(qy, 0.0)
        return _sqrt(ox * ox + oy * oy) + min(max(qx, qy), 0.0) - r

    return f


def polygon(points):
    n = len(points)

    def f(x, y):
        best = None
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            ex, ey = bx - ax, by - ay
            wx, wy = x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            dx, dy = wx - ex * t, wy - ey * t
            d = dx * dx + dy * dy
            if best is None or d < best:
                best = d
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        d = _sqrt(best)
        return -d if inside else d

    return f


def facing_light(f, x, y):
    """How much the edge of f near (x, y) faces the light from the top left:
    1 facing it, -1 facing away."""
    h = 0.25
    gx = f(x + h, y) - f(x - h, y)
    gy = f(x, y + h) - f(x, y - h)
    n = _sqrt(gx * gx + gy * gy)
    if n == 0:
        return 0.0
    return -(gx + gy) / (n * 1.4142135623730951)


# ---------------------------------------------------------------------------
# The canvas: supersampled colour and coverage.


class Canvas:
    def __init__(self, size, supersample=SUPERSAMPLE):
        self.size = size
        self.ss = supersample
        self.n = size * supersample
        self.rgb = [(0.0, 0.0, 0.0)] * (self.n * self.n)
        self.alpha = [0.0] * (self.n * self.n)

    def paint(self, shape, colour, box=None):
        """Fills shape; colour(x, y, d) gives the colour at a point d pixels
        inside its edge (d < 0). box limits the work to (x0, y0, x1, y1)."""
        s = self.ss
        x0, y0, x1, y1 = box if box else (0, 0, self.size, self.size)
        sx0, sy0 = max(0, int(x0 * s)), max(0, int(y0 * s))
        sx1, sy1 = min(self.n, int(x1 * s + 1)), min(self.n, int(y1 * s + 1))
        for sy in range(sy0, sy1):
            y = (sy + 0.5) / s
            row = sy * self.n
            for sx in range(sx0, sx1):
                x = (sx + 0.5) / s
                d = shape(x, y)
                if d >= 0:
                    continue
                self.rgb[row + sx] = colour(x, y, d)
                self.alpha[row + sx] = 1.0

    def erase(self, shape, box=None):
        s = self.ss
        x0, y0, x1, y1 = box if box else (0, 0, self.size, self.size)
        for sy in range(max(0, int(y0 * s)), min(self.n, int(y1 * s + 1))):
            y = (sy + 0.5) / s
            for sx in range(max(0, int(x0 * s)), min(self.n, int(x1 * s + 1))):
                if shape((sx + 0.5) / s, y) < 0:
                    self.alpha[sy * self.n + sx] = 0.0

    def resolve(self):
        """Averages the samples of each pixel: (rgb, coverage) per pixel."""
        s, n = self.ss, self.n
        out = []
        for py in range(self.size):
            for px in range(self.size):
                acc = [0.0, 0.0, 0.0]
                cover = 0.0
                for sy in range(py * s, py * s + s):
                    for sx in range(px * s, px * s + s):
                        a = self.alpha[sy * n + sx]
                        if a:
                            c = self.rgb[sy * n + sx]
                            acc[0] += c[0]
                            acc[1] += c[1]
                            acc[2] += c[2]
                            cover += a
                rgb = tuple(v / cover for v in acc) if cover else (0.0, 0.0, 0.0)
                out.append((rgb, cover / (s * s)))
        return out


class Image:
    """The finished picture: palette indices and a mask (True = opaque)."""

    def __init__(self, size, pixels):
        self.size = size
        self.index = [nearest(rgb) if a >= 0.5 else 0 for rgb, a in pixels]
        self.opaque = [a >= 0.5 for rgb, a in pixels]

    def put(self, x, y, rgb):
        self.index[y * self.size + x] = nearest(rgb)
        self.opaque[y * self.size + x] = True

    def sprite(self, x0, y0, rows, colours):
        """Places hand-drawn pixels; '.' leaves the picture as it is."""
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch != '.':
                    self.put(x0 + dx, y0 + dy, colours[ch])


# ---------------------------------------------------------------------------
# The parts of the picture, each drawn in the pixel units of its image.

OUTLINE = (52, 55, 62)
BODY_LIGHT = (226, 228, 230)
BODY_DARK = (150, 152, 156)
BEVEL_LIGHT = (250, 250, 250)
BEVEL_DARK = (112, 114, 120)
FRAME = (40, 46, 54)
LCD_TOP = (190, 214, 170)
LCD_BOTTOM = (132, 168, 118)
LCD_MIDDLE = (158, 188, 140)
LCD_INK = (66, 96, 66)
KEY_LIGHT = (168, 172, 180)
KEY = (104, 110, 120)
KEY_DARK = (64, 68, 76)
DISC_RIM = (120, 126, 138)
HOLE_RIM = (110, 116, 128)
ARROW_EDGE = (0, 30, 110)
ARROW_TOP = (70, 160, 255)
ARROW_BOTTOM = (0, 76, 210)
ARROW_SHINE = (190, 225, 255)


def disc_surface(cx, cy, hub, ring, shade, rainbow):
    """Colour of the disc's face at (x, y): the data area with its bow-tie
    reflection and a faint rainbow, and the clear hub with a thin ring."""

    def surface(x, y):
        u, v = x - cx, y - cy
        q = u * u + v * v
        if q == 0:
            return (230, 234, 240)
        rr = _sqrt(q)
        # cos and sin of twice the angle from the top-left diagonal.
        c2 = (u + v) * (u + v) / q - 1.0
        s2 = (u * u - v * v) / q
        if rr < hub:
            if rr > hub - ring:
                return (168, 174, 188)
            return _mix((214, 220, 230), (246, 248, 252), 0.5 + 0.5 * c2)
        # The reflection is brightest along the diagonal and fades across it.
        shine = 0.5 + 0.5 * c2
        silver = _mix((150, 158, 174), (250, 252, 255), _lerp(shade, 1.0, shine * shine))
        # A faint rainbow where the reflection fades.
        tint = s2 * (1.0 - shine) * rainbow
        if tint > 0:
            return _mix(silver, (196, 226, 240), tint)
        return _mix(silver, (236, 222, 196), -tint)

    return surface


def draw_disc(cv, cx, cy, r, hole, hub, rim=1.0):
    """A silver disc with a darker rim and a hole, antialiased."""
    box = (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1)
    disc = circle(cx, cy, r)
    face = disc_surface(cx, cy, hub, rim * 0.8, shade=0.45, rainbow=0.9)

    def colour(x, y, d):
        if d > -rim:
            lit = facing_light(disc, x, y)
            return _mix(DISC_RIM, (168, 174, 186), max(0.0, lit) * 0.6)
        return face(x, y)

    cv.paint(disc, colour, box)
    cv.paint(circle(cx, cy, hole + rim), lambda x, y, d: HOLE_RIM, box)
    cv.erase(circle(cx, cy, hole), box)


def place_disc(img, cx, cy, r, hole, hub):
    """The same disc set pixel by pixel, for a size where antialiasing would
    wash out its edge: a pixel belongs to it when its centre does, and the
    pixels on its border form a crisp one-pixel rim."""
    face = disc_surface(cx, cy, hub, 0.0, shade=0.5, rainbow=0.7)

    def dist(px, py):
        u, v = px + 0.5 - cx, py + 0.5 - cy
        return _sqrt(u * u + v * v)

    def inside(px, py):
        return 0 <= px < img.size and 0 <= py < img.size and hole <= dist(px, py) < r

    for py in range(img.size):
        for px in range(img.size):
            if not inside(px, py):
                continue
            d = dist(px, py)
            if any(not inside(px + dx, py + dy) and dist(px + dx, py + dy) >= hole
                   for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))):
                # The outer rim, lighter where it faces the light.
                lit = -((px + 0.5 - cx) + (py + 0.5 - cy)) / (d * 1.4142135623730951)
                img.put(px, py, _mix(DISC_RIM, (140, 146, 158), max(0.0, lit)))
            elif d < hole + 0.75:
                img.put(px, py, (140, 146, 160))
            elif d < hole + 1.25:
                img.put(px, py, (190, 196, 208))
            else:
                img.put(px, py, face(px + 0.5, py + 0.5))


def draw_device(cv, x0, y0, x1, y1, radius, screen, keys, key_size, edge=1.0,
                ink_lines=()):
    """A hand-held device: dark outline, light grey body with a bevel, a
    framed display showing a few lines of text, and a grid of keys."""
    body = rounded_box(x0, y0, x1, y1, radius)
    w, h = x1 - x0, y1 - y0

    def shell(x, y, d):
        if d > -edge:
            return OUTLINE
        if d > -2 * edge:
            lit = facing_light(body, x, y)
            if lit > 0.3:
                return BEVEL_LIGHT
            if lit < -0.3:
                return BEVEL_DARK
        t = ((x - x0) / w * 0.35 + (y - y0) / h * 0.65)
        return _mix(BODY_LIGHT, BODY_DARK, t)

    cv.paint(body, shell, (x0, y0, x1, y1))

    sx0, sy0, sx1, sy1 = screen
    frame = rounded_box(sx0, sy0, sx1, sy1, edge * 0.6)
    lcd_h = sy1 - sy0 - 2 * edge

    def lcd(x, y, d):
        if d > -edge:
            return FRAME
        t = (y - sy0 - edge) / lcd_h
        c = _mix(LCD_TOP, LCD_BOTTOM, t)
        # A glare band across the upper left of the glass.
        g = (x - sx0) + (y - sy0)
        if g < (sx1 - sx0) * 0.55:
            c = _mix(c, (232, 244, 224), 0.35)
        return c

    cv.paint(frame, lcd, screen)
    for lx0, ly, lx1 in ink_lines:
        cv.paint(rounded_box(lx0, ly, lx1, ly + edge, 0.0), lambda x, y, d: LCD_INK, screen)

    for kx, ky in keys:
        key = rounded_box(kx, ky, kx + key_size, ky + key_size, 0.0)

        def keycap(x, y, d, key=key):
            lit = facing_light(key, x, y)
            if d > -edge * 0.9:
                return KEY_LIGHT if lit > 0.3 else KEY_DARK if lit < -0.3 else KEY
            return KEY

        cv.paint(key, keycap, (kx, ky, kx + key_size, ky + key_size))


def draw_arrow(cv, points, edge=1.0):
    """The upward arrow: navy outline, blue body lit from the top left."""
    arrow = polygon(points)
    ys = [p[1] for p in points]
    xs = [p[0] for p in points]
    ay0, ay1 = min(ys), max(ys)

    def fill(x, y, d):
        if d > -edge:
            return ARROW_EDGE
        t = (y - ay0) / (ay1 - ay0)
        c = _mix(ARROW_TOP, ARROW_BOTTOM, t)
        if d > -2 * edge:
            lit = facing_light(arrow, x, y)
            if lit > 0.3:
                c = _mix(c, ARROW_SHINE, 0.55)
            elif lit < -0.3:
                c = _mix(c, ARROW_EDGE, 0.35)
        return c

    cv.paint(arrow, fill, (min(xs), ay0, max(xs), ay1))


def draw_scaled(size):
    """The 32-pixel picture's shapes, drawn at size pixels: every length is
    scaled, outlines and bevels no thinner than a pixel. Large images need
    fewer samples a pixel to be smooth."""
    k = size / 32
    edge = max(1.0, k)
    cv = Canvas(size, SUPERSAMPLE if size <= 48 else 2)
    draw_disc(cv, cx=21.0 * k, cy=11.0 * k, r=10.8 * k, hole=1.9 * k, hub=4.6 * k, rim=edge)
    keys = [(x * k, y * k) for y in (18, 21, 24) for x in (4, 7, 10)]
    draw_device(cv, 1 * k, 3 * k, 15 * k, 29 * k, 3.0 * k,
                screen=(3 * k, 5 * k, 13 * k, 16 * k), keys=keys, key_size=2 * k, edge=edge,
                ink_lines=tuple((a * k, b * k, c * k)
                                for a, b, c in ((5, 9, 10), (5, 11, 11), (5, 13, 9))))
    draw_arrow(cv, [(x * k, y * k) for x, y in
                    [(16, 16.5), (23.5, 24), (19, 24), (19, 31.5), (13, 31.5), (13, 24),
                     (8.5, 24)]], edge=edge)
    return Image(size, cv.resolve())


def draw_32():
    return draw_scaled(32)


def draw_16():
    img = Image(16, Canvas(16).resolve())
    place_disc(img, cx=10.5, cy=6.5, r=5.6, hole=0.5, hub=2.3)
    # The device and the arrow are placed by hand: at this size a drawn
    # diagonal or a one-pixel bevel only blurs.
    img.sprite(0, 1, [
        ".oooooo.",
        "oWWWWWWo",
        "oWffffbo",
        "oWfLggbo",
        "oWfgggbo",
        "oWfgggbo",
        "oWbbbbbo",
        "obkbkbso",
        "obbbbbso",
        "obkbkbso",
        "obbbbbso",
        "osssssso",
        ".oooooo.",
    ], {"o": OUTLINE, "W": BEVEL_LIGHT, "b": (196, 198, 202), "s": BEVEL_DARK,
        "f": FRAME, "L": (214, 232, 200), "g": LCD_MIDDLE, "k": KEY_DARK})
    img.sprite(4, 9, [
        "...oo...",
        "..oLBo..",
        ".oLBBDo.",
        "oLBBBBDo",
        "oooBDooo",
        "..oBDo..",
        "..oBDo..",
    ], {"o": ARROW_EDGE, "L": ARROW_SHINE, "B": (20, 120, 250), "D": ARROW_BOTTOM})
    return img


# ---------------------------------------------------------------------------
# Writers


def ico_image(img):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask. Rows
    run bottom-up, each padded to four bytes."""
    n = img.size
    xor_row = (n + 3) // 4 * 4
    and_row = (n + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(n)):
        row = img.index[y * n:(y + 1) * n]
        opaque = img.opaque[y * n:(y + 1) * n]
        # A transparent pixel is black in the XOR bitmap so the screen shows through.
        xor += bytes(i if o else 0 for i, o in zip(row, opaque)) + bytes(xor_row - n)
        bits = bytearray(and_row)
        for x, o in enumerate(opaque):
            if not o:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 8, 0, len(xor) + len(mask), 0, 0,
                         0, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor) + bytes(mask)


def ico_file(images):
    data = [ico_image(img) for img in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for img, blob in zip(images, data):
        # Width, height, colour count (0 means 256), reserved, planes, bits.
        side = img.size % 256  # 0 means 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 8, len(blob), offset)
        offset += len(blob)
    return out + b"".join(data)


def png_file(img):
    """An RGBA preview; transparent where the AND mask is."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    n = img.size
    raw = bytearray()
    for y in range(n):
        raw.append(0)
        for x in range(n):
            i = y * n + x
            if img.opaque[i]:
                raw += bytes(PALETTE[img.index[i]]) + b"\xff"
            else:
                raw += b"\0\0\0\0"
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out-dir", default=here, help="where to write the files")
    args = parser.parse_args()
    # The 32 and 16 first, as before: a reader that takes the first image
    # gets the one of the system's standard size.
    images = [draw_32(), draw_16()] + [draw_scaled(n) for n in (20, 24, 48, 256)]
    os.makedirs(args.out_dir, exist_ok=True)
    outputs = {
        "nwd4_322.ico": ico_file(images),
        "nwd4_322-32.png": png_file(images[0]),
        "nwd4_322-16.png": png_file(images[1]),
    }
    for name, blob in outputs.items():
        with open(os.path.join(args.out_dir, name), "wb") as f:
            f.write(blob)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws every picture resource of QZ410UI.DLL.

    python3 resources/make_pictures.py            # rewrite the files in resources/pictures/
    python3 resources/make_pictures.py --png DIR  # also write PNG views (small ones scaled up) to DIR

The outputs are committed beside this program, so the build needs no Python;
run it again after changing a picture here and commit both. Standard library
only. Everything is drawn from shapes with signed distances, which gives
anti-aliased edges for the price of one evaluation per pixel.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "pictures")


# ---------------------------------------------------------------- geometry


def clamp(v, lo=0.0, hi=1.0):
    return lo if v < lo else hi if v > hi else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


def smoothstep(e0, e1, v):
    t = clamp((v - e0) / (e1 - e0))
    return t * t * (3 - 2 * t)


def sd_circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def sd_ellipse(cx, cy, rx, ry):
    # Close to the true distance near the outline, which is all the edge
    # coverage needs.
    def d(x, y):
        px, py = (x - cx) / rx, (y - cy) / ry
        k0 = math.hypot(px, py)
        if k0 == 0:
            return -min(rx, ry)
        k1 = math.hypot(px / rx, py / ry)
        return k0 * (k0 - 1.0) / k1
    return d


def sd_segment(ax, ay, bx, by, width):
    def d(x, y):
        px, py, dx, dy = x - ax, y - ay, bx - ax, by - ay
        h = clamp((px * dx + py * dy) / (dx * dx + dy * dy))
        return math.hypot(px - dx * h, py - dy * h) - width / 2
    return d


def sd_polyline(points, width):
    segs = [sd_segment(*points[i], *points[i + 1], width) for i in range(len(points) - 1)]
    return lambda x, y: min(s(x, y) for s in segs)


def sd_box(x0, y0, x1, y1, radius=0.0):
    cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
    hx, hy = (x1 - x0) / 2 - radius, (y1 - y0) / 2 - radius

    def d(x, y):
        qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
        return math.hypot(max(qx, 0), max(qy, 0)) + min(max(qx, qy), 0) - radius
    return d


def sd_polygon(points):
    n = len(points)

    def d(x, y):
        best = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[i - 1]
            ex, ey, wx, wy = bx - ax, by - ay, x - ax, y - ay
            h = clamp((wx * ex + wy * ey) / (ex * ex + ey * ey))
            best = min(best, math.hypot(wx - ex * h, wy - ey * h))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        return -best if inside else best
    return d


def sd_arc(cx, cy, r, a0, a1, width):
    """An arc of a circle from angle a0 to a1 (degrees, y pointing down)."""
    ends = [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a))) for a in (a0, a1)]

    def d(x, y):
        a = math.degrees(math.atan2(y - cy, x - cx)) % 360
        if (a0 <= a <= a1) or (a0 <= a + 360 <= a1):
            return abs(math.hypot(x - cx, y - cy) - r) - width / 2
        return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - width / 2
    return d


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def intersect(*shapes):
    return lambda x, y: max(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


# ----------------------------------------------------------------- canvas


class Canvas:
    """RGBA in floats (colour 0..255, alpha 0..1), y pointing down."""

    def __init__(self, w, h, colour=(0, 0, 0), alpha=0.0):
        self.w, self.h = w, h
        self.px = [[list(colour) + [alpha] for _ in range(w)] for _ in range(h)]

    def paint(self, shape, colour, box=None, opacity=1.0, soft=1.0):
        """Covers shape (a signed distance) with colour (a triple or a function of x, y).

        soft widens the edge: 1 is a plain anti-aliased edge, more blurs it.
        """
        x0, y0, x1, y1 = box if box else (0, 0, self.w, self.h)
        x0, y0 = max(0, int(x0)), max(0, int(y0))
        x1, y1 = min(self.w, int(math.ceil(x1))), min(self.h, int(math.ceil(y1)))
        fn = colour if callable(colour) else None
        for y in range(y0, y1):
            row = self.px[y]
            for x in range(x0, x1):
                cx, cy = x + 0.5, y + 0.5
                cover = clamp(0.5 - shape(cx, cy) / soft) * opacity
                if cover <= 0:
                    continue
                c = fn(cx, cy) if fn else colour
                self.blend(row[x], c, cover)

    @staticmethod
    def blend(p, c, a):
        out = a + p[3] * (1 - a)
        if out <= 0:
            return
        k = p[3] * (1 - a)
        for i in range(3):
            p[i] = (c[i] * a + p[i] * k) / out
        p[3] = out

    def rgb(self, x, y):
        return self.px[y][x][:3]

    def rgb8(self, x, y, background=None):
        p = self.px[y][x]
        c = p[:3] if background is None else mix(background, p[:3], p[3])
        return tuple(int(clamp(v, 0, 255) + 0.5) for v in c)


# ------------------------------------------------------------ file formats


def info_header(w, h, bits, image_size, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, image_size, 2835, 2835, colours, 0)


def bmp_file(info_and_bits):
    return struct.pack("<2sIHHI", b"BM", 14 + len(info_and_bits), 0, 0,
                       14 + 40 + palette_size(info_and_bits)) + info_and_bits


def palette_size(info):
    bits = struct.unpack_from("<H", info, 14)[0]
    return 4 * (1 << bits) if bits <= 8 else 0


def bmp24(pixels, w, h):
    """Bottom-up 24-bit rows; pixels[y][x] are (r, g, b) with y pointing down."""
    stride = (3 * w + 3) & ~3
    rows = []
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for r, g, b in pixels[y]:
            row += bytes((b, g, r))
        rows.append(bytes(row) + bytes(stride - 3 * w))
    bits = b"".join(rows)
    return bmp_file(info_header(w, h, 24, len(bits)) + bits)


def pack4(indices, w):
    stride = ((w + 7) // 8) * 4
    row = bytearray(stride)
    for x, i in enumerate(indices):
        row[x // 2] |= i << (4 if x % 2 == 0 else 0)
    return bytes(row)


def palette_bytes(palette):
    return b"".join(bytes((b, g, r, 0)) for r, g, b in palette)


def bmp4(indices, palette, w, h):
    bits = b"".join(pack4(indices[y], w) for y in range(h - 1, -1, -1))
    return bmp_file(info_header(w, h, 4, len(bits), 16) + palette_bytes(palette) + bits)


def ico4(indices, transparent, palette, size):
    """One 4-bit image: colour bits, then the AND mask (1 = see through)."""
    xor = b"".join(pack4(indices[y], size) for y in range(size - 1, -1, -1))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        row = bytearray(mask_stride)
        for x in range(size):
            if transparent[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row
    image = info_header(size, 2 * size, 4, len(xor) + len(mask)) + palette_bytes(palette) + xor + bytes(mask)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 22) + image


def png(pixels, w, h, scale=1):
    raw = bytearray()
    for y in range(h * scale):
        raw.append(0)
        for x in range(w * scale):
            raw += bytes(pixels[y // scale][x // scale])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w * scale, h * scale, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


# ------------------------------------------------------------ pixel fonts

# 3 x 5 capitals and digits for small print.
SMALL_FONT = {
    "A": ["010", "101", "111", "101", "101"], "B": ["110", "101", "110", "101", "110"],
    "C": ["011", "100", "100", "100", "011"], "D": ["110", "101", "101", "101", "110"],
    "E": ["111", "100", "110", "100", "111"], "F": ["111", "100", "110", "100", "100"],
    "G": ["011", "100", "101", "101", "011"], "H": ["101", "101", "111", "101", "101"],
    "I": ["111", "010", "010", "010", "111"], "J": ["001", "001", "001", "101", "010"],
    "K": ["101", "101", "110", "101", "101"], "L": ["100", "100", "100", "100", "111"],
    "M": ["101", "111", "111", "101", "101"], "N": ["110", "101", "101", "101", "101"],
    "O": ["010", "101", "101", "101", "010"], "P": ["110", "101", "110", "100", "100"],
    "Q": ["010", "101", "101", "110", "011"], "R": ["110", "101", "110", "101", "101"],
    "S": ["011", "100", "010", "001", "110"], "T": ["111", "010", "010", "010", "010"],
    "U": ["101", "101", "101", "101", "111"], "V": ["101", "101", "101", "101", "010"],
    "W": ["101", "101", "111", "111", "101"], "X": ["101", "101", "010", "101", "101"],
    "Y": ["101", "101", "010", "010", "010"], "Z": ["111", "001", "010", "100", "111"],
    "0": ["010", "101", "101", "101", "010"], "1": ["010", "110", "010", "010", "111"],
    "2": ["110", "001", "010", "100", "111"], "3": ["110", "001", "010", "001", "110"],
    "4": ["101", "101", "111", "001", "001"], "5": ["111", "100", "110", "001", "110"],
    "6": ["011", "100", "110", "101", "010"], "7": ["111", "001", "010", "010", "010"],
    "8": ["010", "101", "010", "101", "010"], "9": ["010", "101", "011", "001", "110"],
    " ": ["000"] * 5, "-": ["000", "000", "111", "000", "000"],
}

# Block capitals, 13 pixels high with 2-pixel strokes, for the maker's name.
BLOCK_FONT = {
    "B": "1111110 1111111 1100011 1100011 1100011 1111110 1111110 1100011 1100011 1100011 1100011 1111111 1111110".split(),
    "R": "1111110 1111111 1100011 1100011 1100011 1111111 1111110 1101100 1100110 1100110 1100011 1100011 1100011".split(),
    "A": "0011100 0111110 1100011 1100011 1100011 1100011 1111111 1111111 1100011 1100011 1100011 1100011 1100011".split(),
    "N": "1100011 1110011 1110011 1111011 1111011 1101111 1101111 1100111 1100111 1100011 1100011 1100011 1100011".split(),
    "T": "111111 111111 001100 001100 001100 001100 001100 001100 001100 001100 001100 001100 001100".split(),
    "W": "110000011 110000011 110000011 110000011 110000011 110010011 110111011 110111011 111101111 111101111 111000111 111000111 110000011".split(),
    "E": "111111 111111 11 11 11 11111 11111 11 11 11 11 111111 111111".split(),
    "L": "11 11 11 11 11 11 11 11 11 11 11 111111 111111".split(),
}


def glyph_rows(font, ch):
    rows = font[ch]
    width = max(len(r) for r in rows)
    return [r.ljust(width, "0") for r in rows], width


def text_width(font, text, gap):
    return sum(glyph_rows(font, c)[1] for c in text) + gap * (len(text) - 1)


def draw_text(canvas, font, text, x, y, colour, gap=1, scale=1):
    x, y = int(round(x)), int(round(y))  # whole pixels keep small print crisp
    for ch in text:
        rows, width = glyph_rows(font, ch)
        for j, row in enumerate(rows):
            for i, bit in enumerate(row):
                if bit == "1":
                    canvas.paint(sd_box(x + i * scale, y + j * scale, x + (i + 1) * scale, y + (j + 1) * scale),
                                 colour, (x + i * scale - 1, y + j * scale - 1,
                                          x + (i + 1) * scale + 1, y + (j + 1) * scale + 1))
        x += (width + gap) * scale


# --------------------------------------------------------- colour strips

BAYER4 = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]


def colour_strip(left, right, w=130, h=8):
    """A gradient from left to right in 16 evenly spaced colours of that very line.

    Ordered dithering between neighbouring entries turns the 16 steps into a
    smooth run; both ends stay the pure colours.
    """
    palette = [tuple(int(round(a + (b - a) * i / 15)) for a, b in zip(left, right)) for i in range(16)]
    indices = []
    for y in range(h):
        row = []
        for x in range(w):
            pos = 15.0 * x / (w - 1)
            base = int(pos)
            frac = pos - base
            up = frac * 16 > BAYER4[y % 4][x % 4] + 0.5
            row.append(min(15, base + (1 if up else 0)))
        indices.append(row)
    return palette, indices


# ----------------------------------------------------------------- icons

ICON_FACE = (224, 221, 210)  # between the classic and the XP dialog face


def quantise(colours, count):
    """Up to count representative colours (k-means from far-apart seeds)."""
    distinct = sorted(set(colours))
    if len(distinct) <= count:
        return distinct
    freq = {}
    for c in colours:
        freq[c] = freq.get(c, 0) + 1
    seeds = [max(distinct, key=lambda c: (freq[c], c))]
    while len(seeds) < count:
        seeds.append(max(distinct, key=lambda c: (min(sum((a - b) ** 2 for a, b in zip(c, s)) for s in seeds)
                                                  * math.sqrt(freq[c]), c)))
    centres = [list(map(float, s)) for s in seeds]
    for _ in range(12):
        sums = [[0.0, 0.0, 0.0, 0] for _ in centres]
        for c in distinct:
            k = min(range(len(centres)), key=lambda i: sum((a - b) ** 2 for a, b in zip(c, centres[i])))
            n = freq[c]
            for j in range(3):
                sums[k][j] += c[j] * n
            sums[k][3] += n
        centres = [[s[j] / s[3] for j in range(3)] if s[3] else centres[i] for i, s in enumerate(sums)]
    return sorted(set(tuple(int(round(v)) for v in c) for c in centres))


def icon_from_canvas(canvas):
    """Palette entry 0 is black: see-through pixels carry it under a set mask bit."""
    size = canvas.w
    transparent = [[canvas.px[y][x][3] < 0.5 for x in range(size)] for y in range(size)]
    colours = {}
    for y in range(size):
        for x in range(size):
            if not transparent[y][x]:
                p = canvas.px[y][x]
                colours[(x, y)] = canvas.rgb8(x, y, ICON_FACE if p[3] < 0.999 else None)
    chosen = [c for c in quantise(list(colours.values()), 16) if c != (0, 0, 0)]
    if len(chosen) > 15:
        chosen = quantise(list(colours.values()), 15)
        chosen = [c for c in chosen if c != (0, 0, 0)]
    palette = [(0, 0, 0)] + chosen
    palette += [(0, 0, 0)] * (16 - len(palette))
    used = len(chosen) + 1
    indices = [[0] * size for _ in range(size)]
    for (x, y), c in colours.items():
        indices[y][x] = min(range(used), key=lambda i: sum((a - b) ** 2 for a, b in zip(c, palette[i])))
    return palette, indices, transparent


def lit_sphere(cx, cy, r, dark, light, lx=-0.45, ly=-0.55):
    lz = math.sqrt(max(0.0, 1 - lx * lx - ly * ly))

    def colour(x, y):
        u, v = (x - cx) / r, (y - cy) / r
        z = math.sqrt(max(0.0, 1 - u * u - v * v))
        return mix(dark, light, clamp(u * lx + v * ly + z * lz) ** 0.9)
    return colour


def icon_brightness():
    c = Canvas(32, 32)
    cx = cy = 16.0
    ray_colour = (236, 124, 12)
    for k in range(8):
        a = math.radians(k * 45 + 22.5)
        ux, uy = math.cos(a), math.sin(a)
        tip = (cx + ux * 15.0, cy + uy * 15.0)
        side = (-uy * 3.2, ux * 3.2)
        base = (cx + ux * 9.5, cy + uy * 9.5)
        c.paint(sd_polygon([tip, (base[0] + side[0], base[1] + side[1]), (base[0] - side[0], base[1] - side[1])]),
                ray_colour)
    c.paint(sd_circle(cx, cy, 9.0), (200, 96, 8))
    c.paint(sd_circle(cx, cy, 7.8), lit_sphere(cx, cy, 7.8, (255, 176, 0), (255, 246, 150)))
    return c


def icon_contrast():
    c = Canvas(32, 32)
    cx = cy = 16.0
    c.paint(sd_circle(cx, cy, 14.0), (40, 40, 40))
    c.paint(sd_circle(cx, cy, 12.6), (255, 255, 255))
    c.paint(intersect(sd_circle(cx, cy, 12.6), lambda x, y: x - cx), (0, 0, 0))
    return c


def hsv(h, s, v):
    h = (h % 360) / 60.0
    i = int(h)
    f = h - i
    p, q, t = v * (1 - s), v * (1 - s * f), v * (1 - s * (1 - f))
    return [(v, t, p), (q, v, p), (p, v, t), (p, q, v), (t, p, v), (v, p, q)][i % 6]


def icon_saturation():
    """A drop whose colour runs from grey at the left to vivid at the right."""
    c = Canvas(32, 32)
    drop = union(sd_circle(16, 20.5, 9.5),
                 sd_polygon([(16, 1.5), (24.4, 16.2), (7.6, 16.2)]))
    c.paint(drop, (40, 40, 60))
    inner = union(sd_circle(16, 20.5, 8.2),
                  sd_polygon([(16, 4.2), (23.1, 16.6), (8.9, 16.6)]))
    vivid = (20, 90, 240)
    grey = (140, 140, 150)

    def fill(x, y):
        t = smoothstep(8.5, 23.5, x)
        base = mix(grey, vivid, t)
        glow = clamp(1 - math.hypot(x - 12.5, y - 21) / 6.0) * 0.45
        return mix(base, (255, 255, 255), glow)
    c.paint(inner, fill)
    return c


def icon_sharpness():
    """A pyramid seen from the front: one sharp point, two hard faces."""
    c = Canvas(32, 32)
    c.paint(sd_polygon([(16, 2.0), (2.0, 28.5), (30.0, 28.5)]), (30, 40, 70))
    c.paint(sd_polygon([(16.1, 4.9), (4.2, 27.2), (18.2, 27.2)]), (170, 200, 240))
    c.paint(sd_polygon([(16.9, 5.6), (19.6, 27.2), (27.8, 27.2)]), (48, 78, 150))
    return c


# ----------------------------------------------------------------- logo


def logo():
    w, h = 123, 39
    c = Canvas(w, h, (255, 255, 255), 1.0)
    # Three overlapping inks: where two meet, the paper shows their product.
    inks = [((13.5, 15.5), (0, 174, 239)), ((24.5, 15.5), (236, 0, 140)), ((19.0, 25.0), (255, 212, 0))]
    circles = [sd_circle(x, y, 8.6) for (x, y), _ in inks]
    for y in range(h):
        for x in range(40):
            px, py = x + 0.5, y + 0.5
            colour = [255.0, 255.0, 255.0]
            for d, (_, ink) in zip(circles, inks):
                cover = clamp(0.5 - d(px, py))
                for i in range(3):
                    colour[i] *= 1 - cover + cover * ink[i] / 255.0
            c.px[y][x] = colour + [1.0]
    navy = (24, 42, 96)
    name = "BRANTWELL"
    x0 = 40
    draw_text(c, BLOCK_FONT, name, x0, 6, navy, gap=2)
    width = text_width(BLOCK_FONT, name, 2)
    for i, ink in enumerate([(0, 174, 239), (236, 0, 140), (255, 212, 0), (35, 31, 32)]):
        a = x0 + width * i / 4
        c.paint(sd_box(a, 22, x0 + width * (i + 1) / 4, 24), ink, (a - 1, 21, a + width / 4 + 1, 25))
    tag = "PRINTING SYSTEMS"
    draw_text(c, SMALL_FONT, tag, x0 + (width - text_width(SMALL_FONT, tag, 1)) / 2, 28, (90, 96, 110))
    return c


# ---------------------------------------------------------- sample picture


def lcg(seed):
    state = seed
    while True:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        yield state / 0x7FFFFFFF


def sample_picture():
    """A child beside a sign with six balloons, on a meadow under a clear sky.

    Skin with soft light, the three primaries and three secondaries at full
    strength, a sky and a meadow with long smooth runs, fine detail (strings,
    hair, a checked shirt, small print, grass) and a grey scale along the
    bottom: every correction of the page shows somewhere.
    """
    S = 192
    c = Canvas(S, S, (0, 0, 0), 1.0)
    horizon = 112

    top, low = (38, 96, 190), (200, 226, 244)
    for y in range(S):
        t = clamp(y / horizon) ** 0.85
        col = mix(top, low, t)
        for x in range(S):
            c.px[y][x] = list(col) + [1.0]

    # Soft clouds.
    for cx, cy, k in ((30, 22, 1.0), (98, 36, 0.8)):
        cloud = union(sd_circle(cx, cy, 8 * k), sd_circle(cx + 9 * k, cy - 3 * k, 10 * k),
                      sd_circle(cx + 20 * k, cy, 7 * k), sd_box(cx - 4 * k, cy - 2 * k, cx + 24 * k, cy + 7 * k, 4 * k))
        c.paint(cloud, lambda x, y, cy=cy, k=k: mix((255, 255, 255), (214, 224, 238), clamp((y - cy + 6 * k) / (14 * k))),
                (cx - 14 * k, cy - 16 * k, cx + 34 * k, cy + 12 * k), opacity=0.95, soft=2.5)

    # Far hills and the meadow.
    far = lambda x, y: (horizon - 8 - 6 * math.sin(x / 23.0 + 0.6) - 3 * math.sin(x / 9.0)) - y
    c.paint(lambda x, y: far(x, y), lambda x, y: mix((128, 168, 176), (104, 150, 120), clamp((y - 92) / 20)),
            (0, 80, S, 130))
    meadow_top = lambda x: horizon + 4 * math.sin(x / 31.0 + 1.0)
    c.paint(lambda x, y: meadow_top(x) - y,
            lambda x, y: mix((150, 200, 80), (50, 122, 44), clamp((y - horizon) / 64) ** 0.8),
            (0, 100, S, S))

    # Grass blades in the foreground: short strokes that sharpening brings out.
    rnd = lcg(410)
    for _ in range(260):
        x = next(rnd) * S
        y = 150 + next(rnd) * 28
        length = 3 + next(rnd) * 5
        lean = (next(rnd) - 0.5) * 3
        light = next(rnd) < 0.5
        col = (176, 216, 100) if light else (30, 86, 30)
        c.paint(sd_segment(x, y, x + lean, y - length, 0.8), col, (x - 4, y - 9, x + 4, y + 1), opacity=0.8)
    # A few flowers in the grass.
    for i in range(14):
        x = 8 + next(rnd) * 176
        y = 132 + next(rnd) * 40
        if 14 < x < 112 and y < 178:
            continue
        col = [(255, 255, 255), (255, 220, 40), (240, 90, 150)][i % 3]
        c.paint(sd_circle(x, y, 1.5), col, (x - 3, y - 3, x + 3, y + 3))
        c.paint(sd_circle(x, y, 0.6), (250, 180, 0), (x - 2, y - 2, x + 2, y + 2))

    # The sign: a post, a board with a frame and small print.
    post = sd_box(156, 108, 163, 182, 1)
    c.paint(post, lambda x, y: mix((150, 100, 60), (92, 58, 32), clamp((x - 156) / 7)), (154, 106, 165, 184))
    board = sd_box(126, 112, 190, 150, 3)
    c.paint(board, (112, 72, 40), (124, 110, 192, 152))
    c.paint(sd_box(129, 115, 187, 147, 1.5), lambda x, y: mix((252, 248, 236), (232, 224, 204), (y - 115) / 32),
            (127, 113, 189, 149))
    title = "QZ410"
    draw_text(c, SMALL_FONT, title, 158 - text_width(SMALL_FONT, title, 1), 118, (30, 40, 110), scale=2)
    for line, y in (("SEE EVERY", 131), ("COLOUR", 138)):
        draw_text(c, SMALL_FONT, line, 158 - text_width(SMALL_FONT, line, 1) / 2, y, (40, 40, 40))

    # Balloons tied to the top of the sign, back to front.
    knot = (158.0, 112.0)
    balloons = [((124, 26), (225, 28, 36)), ((176, 22), (36, 72, 214)), ((150, 16), (42, 172, 62)),
                ((113, 58), (26, 188, 222)), ((138, 52), (250, 212, 18)), ((167, 54), (214, 38, 168))]
    rx, ry = 11.5, 14.0
    for (bx, by), colour in balloons:
        bottom = (bx, by + ry + 2)
        mid = ((bottom[0] + knot[0]) / 2 + (bx - knot[0]) * 0.15, (bottom[1] + knot[1]) / 2)
        pts = []
        for i in range(9):
            t = i / 8
            pts.append(((1 - t) ** 2 * bottom[0] + 2 * (1 - t) * t * mid[0] + t * t * knot[0],
                        (1 - t) ** 2 * bottom[1] + 2 * (1 - t) * t * mid[1] + t * t * knot[1]))
        c.paint(sd_polyline(pts, 0.9), (70, 70, 80),
                (min(p[0] for p in pts) - 2, min(p[1] for p in pts) - 2, max(p[0] for p in pts) + 2, knot[1] + 2))
    for (bx, by), colour in balloons:
        dark = tuple(v * 0.45 for v in colour)
        light = tuple(v + (255 - v) * 0.25 for v in colour)

        def shade(x, y, bx=bx, by=by, colour=colour, dark=dark, light=light):
            u, v = (x - bx) / rx, (y - by) / ry
            z = math.sqrt(max(0.0, 1 - u * u - v * v))
            lam = clamp(-0.45 * u - 0.5 * v + 0.74 * z)
            base = mix(dark, colour, clamp(lam * 1.6)) if lam < 0.625 else mix(colour, light, (lam - 0.625) / 0.375)
            gloss = math.exp(-(((u + 0.38) / 0.16) ** 2 + ((v + 0.45) / 0.22) ** 2))
            return mix(base, (255, 255, 255), 0.85 * gloss)
        c.paint(sd_ellipse(bx, by, rx, ry), shade, (bx - rx - 2, by - ry - 2, bx + rx + 2, by + ry + 2))
        c.paint(sd_polygon([(bx, by + ry - 1), (bx + 2.2, by + ry + 2.5), (bx - 2.2, by + ry + 2.5)]),
                tuple(v * 0.6 for v in colour), (bx - 4, by + ry - 2, bx + 4, by + ry + 4))

    # The child: hair behind, neck, shirt, face, features, fringe.
    fx, fy, frx, fry = 62.0, 84.0, 21.5, 25.0
    hair_dark, hair_light = (62, 36, 22), (138, 86, 48)
    c.paint(union(sd_ellipse(fx, fy - 6, 30, 31), sd_box(fx - 30, fy - 4, fx + 30, fy + 26, 10)),
            lambda x, y: mix(hair_light, hair_dark, clamp(0.35 + (x - fx) / 70 + (y - fy) / 90)),
            (fx - 33, fy - 40, fx + 33, fy + 30))
    skin_shadow, skin, skin_light = (176, 112, 84), (228, 168, 136), (250, 212, 186)
    c.paint(sd_box(fx - 9, fy + 14, fx + 9, fy + 44, 4),
            lambda x, y: mix(skin_shadow, skin, clamp((y - fy - 22) / 18)), (fx - 11, fy + 12, fx + 11, fy + 46))

    shirt = sd_box(12, 124, 112, 232, 26)
    blue, mid_blue, white = (36, 66, 158), (136, 158, 214), (246, 246, 250)

    def gingham(x, y):
        a, b = int(x // 3) % 2, int(y // 3) % 2
        col = blue if a and b else mid_blue if a or b else white
        edge = min(x - 12, 112 - x)
        return mix(col, tuple(v * 0.62 for v in col), clamp(1 - edge / 22) ** 1.5)
    c.paint(shirt, gingham, (10, 122, 114, 178))
    c.paint(sd_polygon([(fx - 12, 124), (fx + 12, 124), (fx, 140)]),
            lambda x, y: mix(skin, skin_shadow, clamp((y - 124) / 30)), (fx - 14, 122, fx + 14, 142))
    collar = (250, 250, 252)
    for s in (-1, 1):
        c.paint(sd_polygon([(fx + s * 12, 122.5), (fx + s * 26, 127), (fx + s * 14, 137), (fx + s * 1, 140)]),
                lambda x, y: mix(collar, (206, 208, 220), clamp((y - 124) / 16)), (fx - 28, 120, fx + 28, 142))

    def face(x, y):
        u, v = (x - fx) / frx, (y - fy) / fry
        z = math.sqrt(max(0.0, 1 - u * u - v * v))
        lam = clamp(-0.4 * u - 0.45 * v + 0.8 * z)
        return mix(skin_shadow, skin, clamp(lam * 1.5)) if lam < 0.66 else mix(skin, skin_light, (lam - 0.66) / 0.34)
    c.paint(sd_ellipse(fx, fy, frx, fry), face, (fx - frx - 2, fy - fry - 2, fx + frx + 2, fy + fry + 2))
    for ex in (fx - 23, fx + 23):
        c.paint(sd_ellipse(ex, fy + 2, 3.5, 6), skin if ex < fx else skin_shadow, (ex - 5, fy - 6, ex + 5, fy + 10))

    # Cheeks: a blush that fades out.
    for ex in (fx - 11, fx + 11):
        c.paint(sd_ellipse(ex, fy + 9, 5.5, 3.6), (236, 124, 120), (ex - 10, fy + 2, ex + 10, fy + 16),
                opacity=0.42, soft=5)
    # Eyes, brows, nose, mouth.
    for ex in (fx - 8.5, fx + 8.5):
        c.paint(sd_ellipse(ex, fy + 1, 4.2, 3.0), (252, 252, 250), (ex - 6, fy - 3, ex + 6, fy + 5))
        c.paint(sd_circle(ex + 0.3, fy + 1.2, 2.6), (92, 58, 34), (ex - 4, fy - 2, ex + 4, fy + 5))
        c.paint(sd_circle(ex + 0.3, fy + 1.2, 1.3), (16, 10, 8), (ex - 3, fy - 1, ex + 3, fy + 4))
        c.paint(sd_circle(ex - 0.6, fy + 0.2, 0.7), (255, 255, 255), (ex - 2, fy - 2, ex + 1, fy + 2))
        c.paint(sd_arc(ex, fy + 4, 9, 242, 298, 1.5), (78, 46, 28), (ex - 6, fy - 7, ex + 6, fy - 2))
    c.paint(sd_arc(fx + 0.5, fy + 6.5, 3.0, 30, 150, 1.1), (186, 118, 92), (fx - 4, fy + 7, fx + 5, fy + 11))
    c.paint(sd_arc(fx, fy + 8, 8.5, 28, 152, 1.7), (176, 64, 70), (fx - 9, fy + 11, fx + 9, fy + 18))

    fringe = intersect(sd_ellipse(fx, fy - 14, 25, 16),
                       lambda x, y: y - (fy - 9 + 4 * abs(math.sin((x - fx) / 6.0))))
    c.paint(fringe, lambda x, y: mix(hair_light, hair_dark, clamp(0.25 + (x - fx) / 60 + (y - fy + 28) / 60)),
            (fx - 27, fy - 32, fx + 27, fy - 2))
    # Strands: fine light lines over the hair.
    for i in range(-5, 6):
        sx = fx + i * 4.2
        pts = [(fx + i * 1.2, fy - 29), (sx + i * 0.5, fy - 20), (sx + i * 0.9, fy - 11)]
        c.paint(sd_polyline(pts, 0.7), (170, 116, 70), (fx - 30, fy - 31, fx + 30, fy - 8), opacity=0.55)

    # The grey scale: steps above, a smooth run below.
    for y in range(178, S):
        for x in range(S):
            if y < 185:
                v = round((x // 12) * 255 / 15)
            else:
                v = x * 255 / (S - 1)
            c.px[y][x] = [v, v, v, 1.0]
    return c


# ------------------------------------------------------------------ main


def pixels_of(canvas, background=None):
    return [[canvas.rgb8(x, y, background) for x in range(canvas.w)] for y in range(canvas.h)]


def main(argv):
    png_dir = None
    if len(argv) == 2 and argv[0] == "--png":
        png_dir = argv[1]
        os.makedirs(png_dir, exist_ok=True)
    elif argv:
        print(__doc__.strip())
        return 2
    os.makedirs(OUT, exist_ok=True)

    def write(name, data):
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)

    def view(name, pixels, scale):
        if png_dir:
            with open(os.path.join(png_dir, name + ".png"), "wb") as f:
                f.write(png(pixels, len(pixels[0]), len(pixels), scale))

    for name, left, right in (("strip_cyan_red", (0, 255, 255), (255, 0, 0)),
                              ("strip_magenta_green", (255, 0, 255), (0, 255, 0)),
                              ("strip_yellow_blue", (255, 255, 0), (0, 0, 255))):
        palette, indices = colour_strip(left, right)
        write(name + ".bmp", bmp4(indices, palette, 130, 8))
        view(name, [[palette[i] for i in row] for row in indices], 4)

    for name, draw in (("brightness", icon_brightness), ("contrast", icon_contrast),
                       ("saturation", icon_saturation), ("sharpness", icon_sharpness)):
        palette, indices, transparent = icon_from_canvas(draw())
        write(name + ".ico", ico4(indices, transparent, palette, 32))
        for bg_name, bg in (("", ICON_FACE), ("_dark", (58, 110, 165))):
            view(name + bg_name, [[bg if transparent[y][x] else palette[indices[y][x]] for x in range(32)]
                                  for y in range(32)], 4)

    pic = sample_picture()
    write("sample.bmp", bmp24(pixels_of(pic), 192, 192))
    view("sample", pixels_of(pic), 2)

    mark = logo()
    write("logo.bmp", bmp24(pixels_of(mark), 123, 39))
    view("logo", pixels_of(mark), 4)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

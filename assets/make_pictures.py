#!/usr/bin/env python3
"""Draw the picture assets of 青禾主持人音效辅助工具.

Standard library only (struct + zlib); the output is the same on every run.

Writes, relative to this file's folder:
  icons/qinghe.ico        one 48x48 32-bit image (BGRA DIB inside the ICO)
  icons/qinghe.png        the same image as a 48x48 RGBA PNG
  toolbar/0_music.png     90x60, online music listening
  toolbar/1_lyrics.png    90x60, lyrics search
  toolbar/2_notes.png     90x60, quick notes
  toolbar/3_custom.png    90x60, personal sound effects
  toolbar/4_business.png  90x60, business contact

Usage:  python3 assets/make_pictures.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling: SS x SS samples per pixel

# ---------------------------------------------------------------------------
# Shapes. Each shape answers "is this point inside?" in pixel coordinates
# (x to the right, y downwards, pixel (i, j) covers [i, i+1) x [j, j+1)).
# ---------------------------------------------------------------------------


class Shape:
    def __init__(self, paint, bbox):
        self.paint = paint  # (r, g, b[, a]) or a function (x, y) -> colour
        self.bbox = bbox    # (x0, y0, x1, y1) to skip far samples quickly

    def colour(self, x, y):
        p = self.paint(x, y) if callable(self.paint) else self.paint
        return p if len(p) == 4 else (p[0], p[1], p[2], 255)

    def hit(self, x, y):
        x0, y0, x1, y1 = self.bbox
        return x0 <= x <= x1 and y0 <= y <= y1 and self.inside(x, y)

    def inside(self, x, y):
        raise NotImplementedError


class Circle(Shape):
    def __init__(self, cx, cy, r, paint):
        super().__init__(paint, (cx - r, cy - r, cx + r, cy + r))
        self.cx, self.cy, self.r2 = cx, cy, r * r

    def inside(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        return dx * dx + dy * dy <= self.r2


class RoundRect(Shape):
    def __init__(self, x0, y0, x1, y1, r, paint):
        super().__init__(paint, (x0, y0, x1, y1))
        self.r = r
        self.ix0, self.iy0, self.ix1, self.iy1 = x0 + r, y0 + r, x1 - r, y1 - r

    def inside(self, x, y):
        dx = max(self.ix0 - x, 0.0, x - self.ix1)
        dy = max(self.iy0 - y, 0.0, y - self.iy1)
        return dx * dx + dy * dy <= self.r * self.r


class Polygon(Shape):
    def __init__(self, pts, paint):
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        super().__init__(paint, (min(xs), min(ys), max(xs), max(ys)))
        self.pts = pts

    def inside(self, x, y):
        res = False
        pts = self.pts
        n = len(pts)
        j = n - 1
        for i in range(n):
            xi, yi = pts[i]
            xj, yj = pts[j]
            if (yi > y) != (yj > y):
                if x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    res = not res
            j = i
        return res


class Line(Shape):
    """A thick segment with round ends."""

    def __init__(self, x0, y0, x1, y1, w, paint):
        h = w / 2.0
        super().__init__(paint, (min(x0, x1) - h, min(y0, y1) - h,
                                 max(x0, x1) + h, max(y0, y1) + h))
        self.p = (x0, y0)
        self.d = (x1 - x0, y1 - y0)
        self.dd = self.d[0] ** 2 + self.d[1] ** 2
        self.h2 = h * h

    def inside(self, x, y):
        px, py = x - self.p[0], y - self.p[1]
        t = 0.0 if self.dd == 0 else (px * self.d[0] + py * self.d[1]) / self.dd
        t = min(1.0, max(0.0, t))
        ex, ey = px - t * self.d[0], py - t * self.d[1]
        return ex * ex + ey * ey <= self.h2


class Leaf(Shape):
    """A pointed leaf from (x0, y0) to (x1, y1), widest (w) in the middle."""

    def __init__(self, x0, y0, x1, y1, w, paint):
        h = w / 2.0
        super().__init__(paint, (min(x0, x1) - h, min(y0, y1) - h,
                                 max(x0, x1) + h, max(y0, y1) + h))
        self.p = (x0, y0)
        self.length = math.hypot(x1 - x0, y1 - y0)
        self.ux, self.uy = (x1 - x0) / self.length, (y1 - y0) / self.length
        self.h = h

    def inside(self, x, y):
        px, py = x - self.p[0], y - self.p[1]
        u = (px * self.ux + py * self.uy) / self.length
        v = -px * self.uy + py * self.ux
        if not 0.0 <= u <= 1.0:
            return False
        return abs(v) <= self.h * (1.0 - (2.0 * u - 1.0) ** 2)


class Arc(Shape):
    """Part of a ring between radii r0..r1 and angles a0..a1 (degrees,
    0 = right, 90 = down, measured clockwise on screen), optionally with
    round ends."""

    def __init__(self, cx, cy, r0, r1, a0, a1, paint, round_ends=True):
        super().__init__(paint, (cx - r1, cy - r1, cx + r1, cy + r1))
        self.cx, self.cy, self.r0, self.r1 = cx, cy, r0, r1
        self.a0, self.a1 = a0, a1
        self.caps = []
        if round_ends:
            rm, hw = (r0 + r1) / 2.0, (r1 - r0) / 2.0
            for a in (a0, a1):
                t = math.radians(a)
                self.caps.append(Circle(cx + rm * math.cos(t),
                                        cy + rm * math.sin(t), hw, paint))

    def inside(self, x, y):
        dx, dy = x - self.cx, y - self.cy
        d2 = dx * dx + dy * dy
        if self.r0 * self.r0 <= d2 <= self.r1 * self.r1:
            a = math.degrees(math.atan2(dy, dx))
            for k in (-360.0, 0.0, 360.0):
                if self.a0 <= a + k <= self.a1:
                    return True
        return any(c.hit(x, y) for c in self.caps)


# ---------------------------------------------------------------------------
# Painting and file writing.
# ---------------------------------------------------------------------------


def render(width, height, shapes, background=(0, 0, 0, 0)):
    """Paint the shapes in order (later ones on top) with SS x SS samples per
    pixel and return rows of (r, g, b, a) tuples, straight (not premultiplied)
    alpha."""
    n = SS * SS
    offs = [(k + 0.5) / SS for k in range(SS)]
    rows = []
    for j in range(height):
        row = []
        for i in range(width):
            near = [s for s in shapes
                    if s.bbox[0] - 1 <= i + 1 and i <= s.bbox[2] + 1
                    and s.bbox[1] - 1 <= j + 1 and j <= s.bbox[3] + 1]
            sr = sg = sb = sa = 0
            for oy in offs:
                y = j + oy
                for ox in offs:
                    x = i + ox
                    c = background
                    for s in reversed(near):
                        if s.hit(x, y):
                            c = s.colour(x, y)
                            break
                    a = c[3]
                    sr += c[0] * a
                    sg += c[1] * a
                    sb += c[2] * a
                    sa += a
            if sa == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((int(round(sr / sa)), int(round(sg / sa)),
                            int(round(sb / sa)), int(round(sa / n))))
        rows.append(row)
    return rows


def png_bytes(rows):
    height, width = len(rows), len(rows[0])

    def chunk(kind, data):
        body = kind + data
        return (struct.pack(">I", len(data)) + body
                + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF))

    raw = bytearray()
    for row in rows:
        raw.append(0)  # filter: none
        for px in row:
            raw.extend(px)
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr)
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def ico_bytes(rows):
    """One 32-bit image, uncompressed DIB (XOR pixels + AND mask)."""
    height, width = len(rows), len(rows[0])
    assert (width, height) == (48, 48)
    xor = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            xor.extend((b, g, r, a))
    stride = ((width + 31) // 32) * 4  # mask rows padded to 4 bytes
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(stride)
        for i, px in enumerate(row):
            if px[3] == 0:
                line[i // 8] |= 0x80 >> (i % 8)
        mask.extend(line)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + bytes(xor) + bytes(mask)
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", width, height, 0, 0, 1, 32,
                        len(image), 6 + 16)
    data = icondir + entry + image
    assert len(data) == 9662, len(data)
    return data


def write(path, data):
    full = os.path.join(HERE, path)
    os.makedirs(os.path.dirname(full), exist_ok=True)
    with open(full, "wb") as f:
        f.write(data)
    print("wrote %-24s %6d bytes" % (path, len(data)))


def mix(c0, c1, t):
    t = min(1.0, max(0.0, t))
    return tuple(int(round(a + (b - a) * t)) for a, b in zip(c0, c1))


def vgrad(y0, y1, c0, c1):
    return lambda x, y: mix(c0, c1, (y - y0) / float(y1 - y0))


def turn(pts, cx, cy, angle):
    """Turn points about (cx, cy) by angle degrees (clockwise on screen)."""
    t = math.radians(angle)
    c, s = math.cos(t), math.sin(t)
    return [(cx + (x - cx) * c - (y - cy) * s, cy + (x - cx) * s + (y - cy) * c)
            for x, y in pts]


# ---------------------------------------------------------------------------
# The pictures.
# ---------------------------------------------------------------------------

WHITE = (255, 255, 255)


def app_icon():
    """Green rounded square, white speaker with two sound waves and a small
    rice sprout in the upper right."""
    green_top, green_bottom = (52, 199, 122), (14, 128, 96)
    s = []
    s.append(RoundRect(1, 1, 47, 47, 10, vgrad(1, 47, green_top, green_bottom)))
    # speaker: box and cone
    s.append(RoundRect(7, 19, 15, 31, 1.5, WHITE))
    s.append(Polygon([(14, 19), (24, 11), (24, 39), (14, 31)], WHITE))
    # sound waves
    s.append(Arc(24, 25, 5.0, 8.0, -45, 45, WHITE))
    s.append(Arc(24, 25, 11.0, 14.0, -48, 48, WHITE))
    # rice sprout: stem and two leaves
    sprout = (222, 250, 140)
    s.append(Line(37.5, 17, 37.5, 8.5, 1.7, sprout))
    s.append(Leaf(37.5, 13, 30.0, 6.5, 5.0, sprout))
    s.append(Leaf(37.5, 10.5, 43.5, 4.5, 4.6, sprout))
    return render(48, 48, s)


def toolbar_music():
    """Headphones with a play triangle between the ear cups."""
    blue, dark, orange = (41, 121, 255), (21, 74, 170), (255, 138, 30)
    s = []
    s.append(Arc(45, 33, 20.0, 24.5, 180, 360, blue, round_ends=False))
    s.append(RoundRect(17, 30, 29, 52, 5, blue))
    s.append(RoundRect(61, 30, 73, 52, 5, blue))
    s.append(RoundRect(22, 33, 29, 49, 2.5, dark))
    s.append(RoundRect(61, 33, 68, 49, 2.5, dark))
    s.append(Circle(45, 40, 10.5, orange))
    s.append(Polygon([(41.5, 34), (41.5, 46), (51.5, 40)], WHITE))
    return render(90, 60, s, (255, 255, 255, 255))


def toolbar_lyrics():
    """A page with lines and a magnifying glass."""
    purple, light, dark = (126, 87, 194), (237, 231, 246), (69, 39, 160)
    s = []
    s.append(RoundRect(22, 6, 56, 54, 4, purple))
    s.append(RoundRect(24.5, 8.5, 53.5, 51.5, 2.5, light))
    for k, length in enumerate((22, 18, 22, 14, 20, 12)):
        y = 15 + k * 6.2
        s.append(Line(29, y, 29 + length - 4, y, 2.4, purple))
    # magnifying glass
    s.append(Line(62, 43, 70, 51, 5.0, dark))
    s.append(Circle(55, 36, 11, dark))
    s.append(Circle(55, 36, 8, (225, 245, 254)))
    s.append(Arc(55, 36, 4.5, 6.0, 200, 260, WHITE))
    return render(90, 60, s, (255, 255, 255, 255))


def toolbar_notes():
    """A yellow notepad with a pencil across it."""
    yellow, edge, ring = (255, 213, 79), (230, 160, 0), (120, 120, 120)
    s = []
    s.append(RoundRect(22, 8, 58, 54, 3.5, edge))
    s.append(RoundRect(23.5, 9.5, 56.5, 52.5, 2.5, yellow))
    s.append(RoundRect(22, 8, 58, 15, 3, (239, 108, 0)))
    for k in range(4):
        x = 28 + k * 8
        s.append(Line(x, 5, x, 12, 2.6, ring))
    for k in range(5):
        y = 22 + k * 6
        s.append(Line(28, y, 51, y, 1.6, (205, 150, 20)))
    # pencil, drawn upright about its middle and then turned
    cx, cy, ang = 57, 33, 35
    body = turn([(53, 8), (61, 8), (61, 46), (53, 46)], cx, cy, ang)
    band = turn([(53, 8), (61, 8), (61, 13), (53, 13)], cx, cy, ang)
    eraser = turn([(53, 4), (61, 4), (61, 9), (53, 9)], cx, cy, ang)
    wood = turn([(53, 46), (61, 46), (57, 56)], cx, cy, ang)
    lead = turn([(55.4, 52), (58.6, 52), (57, 56)], cx, cy, ang)
    stripe = turn([(56, 13), (58, 13), (58, 46), (56, 46)], cx, cy, ang)
    s.append(Polygon(eraser, (240, 98, 146)))
    s.append(Polygon(body, (33, 150, 243)))
    s.append(Polygon(stripe, (25, 118, 210)))
    s.append(Polygon(band, (176, 190, 197)))
    s.append(Polygon(wood, (255, 224, 178)))
    s.append(Polygon(lead, (55, 55, 55)))
    return render(90, 60, s, (255, 255, 255, 255))


def toolbar_custom():
    """A star with sound waves on both sides."""
    pink, gold = (233, 30, 99), (255, 193, 7)
    cx, cy = 45, 31
    pts = []
    for k in range(10):
        r = 17 if k % 2 == 0 else 7.2
        a = math.radians(-90 + 36 * k)
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    s = [Polygon(pts, gold)]
    # a small sparkle
    sp = []
    for k in range(8):
        r = 5 if k % 2 == 0 else 1.4
        a = math.radians(-90 + 45 * k)
        sp.append((59 + r * math.cos(a), 10 + r * math.sin(a)))
    s.append(Polygon(sp, (255, 160, 0)))
    for r0 in (18.5, 24.5):
        s.append(Arc(cx, cy + 1, r0, r0 + 3, -40, 40, pink))
        s.append(Arc(cx, cy + 1, r0, r0 + 3, 140, 220, pink))
    return render(90, 60, s, (255, 255, 255, 255))


def toolbar_business():
    """Two overlapping speech bubbles, one with three dots."""
    teal, orange = (0, 150, 136), (255, 112, 67)
    s = []
    # back bubble (orange) with its tail to the lower right
    s.append(Polygon([(56, 34), (67, 34), (70, 47)], orange))
    s.append(RoundRect(38, 12, 72, 38, 9, orange))
    # front bubble (teal) with a white rim and its tail to the lower left
    s.append(Polygon([(21, 38), (33, 38), (20, 50)], WHITE))
    s.append(RoundRect(15.5, 19.5, 52.5, 45.5, 10.5, WHITE))
    s.append(Polygon([(23, 40), (32, 40), (22.5, 47.5)], teal))
    s.append(RoundRect(18, 22, 50, 43, 8.5, teal))
    for k in range(3):
        s.append(Circle(26 + k * 8, 32.5, 2.6, WHITE))
    return render(90, 60, s, (255, 255, 255, 255))


def main():
    icon = app_icon()
    write("icons/qinghe.ico", ico_bytes(icon))
    write("icons/qinghe.png", png_bytes(icon))
    for name, draw in (("0_music", toolbar_music),
                       ("1_lyrics", toolbar_lyrics),
                       ("2_notes", toolbar_notes),
                       ("3_custom", toolbar_custom),
                       ("4_business", toolbar_business)):
        write("toolbar/%s.png" % name, png_bytes(draw()))


if __name__ == "__main__":
    main()

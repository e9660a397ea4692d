#!/usr/bin/env python3
"""Draw the picture assets of 青禾主持人音效辅助工具.

Standard library only (struct + zlib); the output is the same on every run.
The banners' Chinese text is drawn from the outlines of the WenQuanYi Micro
Hei font (Debian package fonts-wqy-microhei), read by our own TrueType
reader; GIF (LZW) and baseline JPEG are written by our own encoders.

Writes, relative to this file's folder:
  icons/qinghe.ico        one 48x48 32-bit image (BGRA DIB inside the ICO)
  icons/qinghe.png        the same image as a 48x48 RGBA PNG
  icons/qinghe.svg        the same shapes as a scalable picture, for desktop menus
  toolbar/0_music.png     90x60, online music listening
  toolbar/1_lyrics.png    90x60, lyrics search
  toolbar/2_notes.png     90x60, quick notes
  toolbar/3_custom.png    90x60, personal sound effects
  toolbar/4_business.png  90x60, business contact
  banners/music_banner.jpg  400x60, the online music player's banner
  banners/partner_1.gif ... partner_3.gif, partner_4.jpg ... partner_8.jpg
                          490x60, the partner window's banners, one per
                          partner installer

Usage:  python3 assets/make_pictures.py
"""

import heapq
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
# Text: glyph outlines from a TrueType font, filled with the nonzero rule.
# ---------------------------------------------------------------------------

FONT_PATH = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
CURVE_STEPS = 6  # line pieces per quadratic curve; plenty at banner sizes


class TrueTypeFont:
    """The glyph outlines and advances of one face of a .ttf or .ttc file."""

    def __init__(self, path, face=0):
        with open(path, "rb") as f:
            self.data = data = f.read()
        base = 0
        if data[:4] == b"ttcf":
            base = struct.unpack(">I", data[12 + 4 * face:16 + 4 * face])[0]
        count = struct.unpack(">H", data[base + 4:base + 6])[0]
        self.tables = {}
        for i in range(count):
            at = base + 12 + 16 * i
            tag, _, offset, length = struct.unpack(">4sIII", data[at:at + 16])
            self.tables[tag.decode("latin-1")] = (offset, length)
        head = self.table("head")
        self.units_per_em = struct.unpack(">H", head[18:20])[0]
        self.long_offsets = struct.unpack(">h", head[50:52])[0] == 1
        hhea = self.table("hhea")
        self.ascent, self.descent = struct.unpack(">hh", hhea[4:8])
        self.metric_count = struct.unpack(">H", hhea[34:36])[0]
        self.glyph_count = struct.unpack(">H", self.table("maxp")[4:6])[0]
        self.cmap = self._read_cmap()

    def table(self, tag):
        offset, length = self.tables[tag]
        return self.data[offset:offset + length]

    def _read_cmap(self):
        cmap = self.table("cmap")
        count = struct.unpack(">H", cmap[2:4])[0]
        best = None
        for i in range(count):
            platform, encoding, offset = struct.unpack(">HHI", cmap[4 + 8 * i:12 + 8 * i])
            fmt = struct.unpack(">H", cmap[offset:offset + 2])[0]
            if platform == 3 and encoding == 10 and fmt == 12:
                best = (12, offset)
            elif platform == 3 and encoding == 1 and fmt == 4 and best is None:
                best = (4, offset)
        fmt, offset = best
        mapping = {}
        if fmt == 12:
            groups = struct.unpack(">I", cmap[offset + 12:offset + 16])[0]
            for g in range(groups):
                at = offset + 16 + 12 * g
                first, last, glyph = struct.unpack(">III", cmap[at:at + 12])
                for code in range(first, last + 1):
                    mapping[code] = glyph + code - first
            return mapping
        segments = struct.unpack(">H", cmap[offset + 6:offset + 8])[0] // 2
        ends = offset + 14
        starts = ends + 2 * segments + 2
        deltas = starts + 2 * segments
        ranges = deltas + 2 * segments
        for k in range(segments):
            end = struct.unpack(">H", cmap[ends + 2 * k:ends + 2 * k + 2])[0]
            start = struct.unpack(">H", cmap[starts + 2 * k:starts + 2 * k + 2])[0]
            delta = struct.unpack(">h", cmap[deltas + 2 * k:deltas + 2 * k + 2])[0]
            range_offset = struct.unpack(">H", cmap[ranges + 2 * k:ranges + 2 * k + 2])[0]
            for code in range(start, min(end, 0xFFFE) + 1):
                if range_offset == 0:
                    glyph = (code + delta) & 0xFFFF
                else:
                    at = ranges + 2 * k + range_offset + 2 * (code - start)
                    glyph = struct.unpack(">H", cmap[at:at + 2])[0]
                    glyph = (glyph + delta) & 0xFFFF if glyph else 0
                mapping[code] = glyph
        return mapping

    def advance(self, glyph):
        hmtx = self.tables["hmtx"][0]
        index = min(glyph, self.metric_count - 1)
        return struct.unpack(">H", self.data[hmtx + 4 * index:hmtx + 4 * index + 2])[0]

    def _glyph_bytes(self, glyph):
        loca = self.tables["loca"][0]
        if self.long_offsets:
            start, end = struct.unpack(">II", self.data[loca + 4 * glyph:loca + 4 * glyph + 8])
        else:
            start, end = (2 * v for v in struct.unpack(">HH", self.data[loca + 2 * glyph:loca + 2 * glyph + 4]))
        glyf = self.tables["glyf"][0]
        return self.data[glyf + start:glyf + end]

    def contours(self, glyph):
        """The glyph's contours in font units, each a list of (x, y, on_curve)."""
        raw = self._glyph_bytes(glyph)
        if not raw:
            return []
        count = struct.unpack(">h", raw[:2])[0]
        if count >= 0:
            return self._simple_contours(raw, count)
        return self._composite_contours(raw)

    @staticmethod
    def _simple_contours(raw, count):
        ends = struct.unpack(">%dH" % count, raw[10:10 + 2 * count])
        points = ends[-1] + 1 if count else 0
        at = 10 + 2 * count
        at += 2 + struct.unpack(">H", raw[at:at + 2])[0]  # skip the instructions
        flags = []
        while len(flags) < points:
            flag = raw[at]
            at += 1
            flags.append(flag)
            if flag & 8:  # repeated
                flags.extend([flag] * raw[at])
                at += 1
        coords = []
        for short, same in ((2, 16), (4, 32)):
            value, values = 0, []
            for flag in flags:
                if flag & short:
                    step = raw[at]
                    at += 1
                    value += step if flag & same else -step
                elif not flag & same:
                    value += struct.unpack(">h", raw[at:at + 2])[0]
                    at += 2
                values.append(value)
            coords.append(values)
        result, first = [], 0
        for end in ends:
            result.append([(coords[0][k], coords[1][k], bool(flags[k] & 1)) for k in range(first, end + 1)])
            first = end + 1
        return result

    def _composite_contours(self, raw):
        result, at, more = [], 10, True
        while more:
            flags, glyph = struct.unpack(">HH", raw[at:at + 4])
            at += 4
            if flags & 1:
                dx, dy = struct.unpack(">hh", raw[at:at + 4])
                at += 4
            else:
                dx, dy = struct.unpack(">bb", raw[at:at + 2])
                at += 2
            a, b, c, d = 1.0, 0.0, 0.0, 1.0
            if flags & 8:
                a = d = struct.unpack(">h", raw[at:at + 2])[0] / 16384.0
                at += 2
            elif flags & 0x40:
                a, d = (v / 16384.0 for v in struct.unpack(">hh", raw[at:at + 4]))
                at += 4
            elif flags & 0x80:
                a, b, c, d = (v / 16384.0 for v in struct.unpack(">hhhh", raw[at:at + 8]))
                at += 8
            if not flags & 2:
                dx = dy = 0  # point matching is not used by the faces we read
            for contour in self.contours(glyph):
                result.append([(a * x + c * y + dx, b * x + d * y + dy, on) for x, y, on in contour])
            more = bool(flags & 0x20)
        return result


def flatten(contour):
    """A TrueType contour as a closed polygon: quadratic pieces cut into lines."""
    pts = list(contour)
    if not pts:
        return []
    # Start on a point of the curve: an on point, or the middle of two off points.
    start = next((k for k, p in enumerate(pts) if p[2]), None)
    if start is None:
        a, b = pts[0], pts[1]
        pts.insert(0, ((a[0] + b[0]) / 2.0, (a[1] + b[1]) / 2.0, True))
        start = 0
    pts = pts[start:] + pts[:start]
    out = [(pts[0][0], pts[0][1])]
    current = (pts[0][0], pts[0][1])
    control = None
    for x, y, on in pts[1:] + [pts[0]]:
        if on:
            if control is None:
                out.append((x, y))
            else:
                out.extend(quadratic(current, control, (x, y)))
                control = None
            current = (x, y)
        else:
            if control is not None:
                middle = ((control[0] + x) / 2.0, (control[1] + y) / 2.0)
                out.extend(quadratic(current, control, middle))
                current = middle
            control = (x, y)
    return out


def quadratic(p0, p1, p2):
    pts = []
    for k in range(1, CURVE_STEPS + 1):
        t = k / float(CURVE_STEPS)
        u = 1.0 - t
        pts.append((u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0],
                    u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1]))
    return pts


def coverage(polygons, width, height, samples=SS):
    """How much of each pixel the polygons cover (nonzero rule), 0..1: the
    rows are sampled SS times per pixel, each sample row exactly across."""
    grid = [[0.0] * width for _ in range(height)]
    edges = []
    for poly in polygons:
        for k in range(len(poly)):
            (x0, y0), (x1, y1) = poly[k - 1], poly[k]
            if y0 != y1:
                edges.append((x0, y0, x1, y1))
    share = 1.0 / samples
    for j in range(height):
        row = grid[j]
        for sub in range(samples):
            y = j + (sub + 0.5) / samples
            crossings = []
            for x0, y0, x1, y1 in edges:
                if (y0 <= y < y1) or (y1 <= y < y0):
                    x = x0 + (y - y0) * (x1 - x0) / (y1 - y0)
                    crossings.append((x, 1 if y1 > y0 else -1))
            crossings.sort()
            winding = 0
            for k, (x, direction) in enumerate(crossings):
                winding += direction
                if winding != 0 and k + 1 < len(crossings):
                    fill_span(row, x, crossings[k + 1][0], share, width)
    return grid


def fill_span(row, xa, xb, share, width):
    xa, xb = max(xa, 0.0), min(xb, float(width))
    if xb <= xa:
        return
    first, last = int(xa), min(int(xb), width - 1)
    for px in range(first, last + 1):
        overlap = min(xb, px + 1.0) - max(xa, float(px))
        if overlap > 0:
            row[px] += overlap * share


_FONT = None


def font():
    global _FONT
    if _FONT is None:
        _FONT = TrueTypeFont(FONT_PATH)
    return _FONT


def text_width(text, size):
    f = font()
    scale = size / float(f.units_per_em)
    return sum(f.advance(f.cmap.get(ord(ch), 0)) for ch in text) * scale


def text_polygons(text, x, baseline, size, bold=False):
    """The outlines of text set from (x, baseline), size pixels to the em.
    Bold thickens each stroke by drawing the outline twice, a little apart."""
    f = font()
    scale = size / float(f.units_per_em)
    shifts = (0.0, max(0.6, size / 28.0)) if bold else (0.0,)
    polygons = []
    pen = x
    for ch in text:
        glyph = f.cmap.get(ord(ch), 0)
        for contour in f.contours(glyph):
            outline = flatten(contour)
            for shift in shifts:
                polygons.append([(pen + shift + px * scale, baseline - py * scale) for px, py in outline])
        pen += f.advance(glyph) * scale
    return polygons


# ---------------------------------------------------------------------------
# A canvas for the banners: an opaque picture that shapes and text are laid
# on one after another, each blended by how much of a pixel it covers.
# ---------------------------------------------------------------------------


class Canvas:
    def __init__(self, width, height, paint):
        self.width, self.height = width, height
        self.px = [[list(paint(i + 0.5, j + 0.5)[:3]) for i in range(width)] for j in range(height)]

    def blend(self, i, j, colour, amount):
        if amount <= 0.0:
            return
        amount = min(amount, 1.0)
        p = self.px[j][i]
        for k in range(3):
            p[k] += (colour[k] - p[k]) * amount

    def shape(self, s):
        x0, y0, x1, y1 = s.bbox
        offs = [(k + 0.5) / SS for k in range(SS)]
        for j in range(max(0, int(y0) - 1), min(self.height, int(y1) + 2)):
            for i in range(max(0, int(x0) - 1), min(self.width, int(x1) + 2)):
                hits = sum(1 for oy in offs for ox in offs if s.hit(i + ox, j + oy))
                if hits:
                    colour = s.colour(i + 0.5, j + 0.5)
                    self.blend(i, j, colour, hits / float(SS * SS) * colour[3] / 255.0)

    def shapes(self, shapes):
        for s in shapes:
            self.shape(s)

    def text(self, text, x, baseline, size, colour, bold=False):
        grid = coverage(text_polygons(text, x, baseline, size, bold), self.width, self.height)
        for j, row in enumerate(grid):
            for i, amount in enumerate(row):
                if amount > 0.0:
                    self.blend(i, j, colour, amount)

    def centred_text(self, text, cx, baseline, size, colour, bold=False):
        self.text(text, cx - text_width(text, size) / 2.0, baseline, size, colour, bold)

    def rows(self):
        return [[tuple(int(round(min(255.0, max(0.0, c)))) for c in p) for p in row] for row in self.px]


# ---------------------------------------------------------------------------
# GIF: a palette of at most 256 colours (median cut) and LZW-coded pixels.
# ---------------------------------------------------------------------------


def median_cut(histogram, count):
    """At most count colours standing for the histogram's {colour: pixels}."""
    boxes = [sorted(histogram.items())]
    while len(boxes) < count:
        best, best_range, best_axis = None, 0, 0
        for k, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for axis in range(3):
                values = [c[axis] for c, _ in box]
                spread = max(values) - min(values)
                if spread > best_range:
                    best, best_range, best_axis = k, spread, axis
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda item: (item[0][best_axis], item[0]))
        total = sum(n for _, n in box)
        run, cut = 0, 1
        for k, (_, n) in enumerate(box[:-1]):
            run += n
            if run * 2 >= total:
                cut = k + 1
                break
        boxes.extend([box[:cut], box[cut:]])
    palette = []
    for box in boxes:
        total = float(sum(n for _, n in box))
        palette.append(tuple(int(round(sum(c[axis] * n for c, n in box) / total)) for axis in range(3)))
    return palette


def lzw(indices, min_code_size):
    """The GIF variant of LZW: codes grow from min_code_size + 1 bits to 12,
    packed from the least significant bit; a clear code restarts the table."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out = bytearray()
    bits = nbits = 0

    def put(code, width):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    width = min_code_size + 1
    table = {}
    next_code = end + 1
    put(clear, width)
    prefix = None
    for index in indices:
        if prefix is None:
            prefix = index
            continue
        key = (prefix, index)
        if key in table:
            prefix = table[key]
            continue
        put(prefix, width)
        if next_code < 4096:
            table[key] = next_code
            next_code += 1
            if next_code > (1 << width) and width < 12:
                width += 1
        else:
            put(clear, width)
            table = {}
            next_code = end + 1
            width = min_code_size + 1
        prefix = index
    if prefix is not None:
        put(prefix, width)
    put(end, width)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def gif_bytes(rows):
    height, width = len(rows), len(rows[0])
    histogram = {}
    for row in rows:
        for p in row:
            histogram[p] = histogram.get(p, 0) + 1
    palette = sorted(histogram) if len(histogram) <= 256 else median_cut(histogram, 256)
    nearest = {}

    def index_of(p):
        if p not in nearest:
            nearest[p] = min(range(len(palette)),
                             key=lambda k: sum((a - b) ** 2 for a, b in zip(p, palette[k])))
        return nearest[p]

    indices = [index_of(p) for row in rows for p in row]
    table_bits = max(1, (len(palette) - 1).bit_length())
    colours = bytearray()
    for k in range(1 << table_bits):
        colours.extend(palette[k] if k < len(palette) else (0, 0, 0))
    min_code_size = max(2, table_bits)
    data = lzw(indices, min_code_size)
    blocks = bytearray()
    for at in range(0, len(data), 255):
        piece = data[at:at + 255]
        blocks.append(len(piece))
        blocks.extend(piece)
    blocks.append(0)
    screen = struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (table_bits - 1), 0, 0)
    image = b"," + struct.pack("<HHHHB", 0, 0, width, height, 0)
    return (b"GIF89a" + screen + bytes(colours) + image + bytes([min_code_size])
            + bytes(blocks) + b";")


# ---------------------------------------------------------------------------
# JPEG: baseline, YCbCr without subsampling, Huffman tables made for each
# picture from its own symbol counts.
# ---------------------------------------------------------------------------

JPEG_QUALITY = 90

# The example quantisation tables of the JPEG standard, row by row.
LUMA_QUANT = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99]
CHROMA_QUANT = [
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99] + [99] * 32


def zigzag_order():
    """Row-major positions in the order the coefficients are written."""
    order = []
    for s in range(15):
        cells = [(r, s - r) for r in range(8) if 0 <= s - r < 8]
        if s % 2 == 0:
            cells.reverse()  # up and to the right on even diagonals
        order.extend(r * 8 + c for r, c in cells)
    return order


ZIGZAG = zigzag_order()
COSINES = [[(math.sqrt(0.5) if u == 0 else 1.0) * math.cos((2 * x + 1) * u * math.pi / 16) / 2.0
            for x in range(8)] for u in range(8)]


def scaled_table(table, quality):
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


def dct(block):
    """Two-dimensional DCT-II of an 8x8 block (row-major, level-shifted)."""
    rows = [[sum(COSINES[u][x] * block[y * 8 + x] for x in range(8)) for u in range(8)] for y in range(8)]
    return [sum(COSINES[v][y] * rows[y][u] for y in range(8)) for v in range(8) for u in range(8)]


def magnitude(value):
    """The size category of a coefficient and its extra bits."""
    size = abs(value).bit_length()
    return size, (value if value >= 0 else value + (1 << size) - 1)


def huffman_lengths(counts):
    """Code lengths of at most 16 bits for {symbol: count}, none all ones:
    a reserved symbol takes the longest code and is then left out."""
    heap = [(n, k, [sym]) for k, (sym, n) in enumerate(sorted(counts.items()))]
    reserved = -1
    heap.append((0, -1, [reserved]))
    heapq.heapify(heap)
    depth = {sym: 0 for _, _, syms in heap for sym in syms}
    order = len(heap)
    while len(heap) > 1:
        n1, _, s1 = heapq.heappop(heap)
        n2, _, s2 = heapq.heappop(heap)
        for sym in s1 + s2:
            depth[sym] += 1
        heapq.heappush(heap, (n1 + n2, order, s1 + s2))
        order += 1
    bits = [0] * max(17, max(depth.values()) + 1)
    for sym, d in depth.items():
        bits[d] += 1
    # Bring codes longer than 16 bits up: a pair of them at the bottom moves
    # up one level, and a shorter code splits to make room.
    for i in range(len(bits) - 1, 16, -1):
        while bits[i] > 0:
            j = i - 2
            while bits[j] == 0:
                j -= 1
            bits[i] -= 2
            bits[i - 1] += 1
            bits[j + 1] += 2
            bits[j] -= 1
    # The most frequent symbols take the shortest codes; the reserved one the longest.
    ranked = sorted(counts, key=lambda sym: (-counts[sym], sym)) + [reserved]
    lengths, k = {}, 0
    for length in range(1, 17):
        for _ in range(bits[length]):
            lengths[ranked[k]] = length
            k += 1
    del lengths[reserved]
    return lengths


def huffman_table(counts):
    """(BITS, HUFFVAL, {symbol: (code, length)}) in canonical order."""
    lengths = huffman_lengths(counts)
    symbols = sorted(lengths, key=lambda sym: (lengths[sym], sym))
    bits = [sum(1 for sym in symbols if lengths[sym] == n) for n in range(1, 17)]
    codes, code, previous = {}, 0, lengths[symbols[0]]
    for sym in symbols:
        code <<= lengths[sym] - previous
        previous = lengths[sym]
        codes[sym] = (code, previous)
        code += 1
    return bits, symbols, codes


def jpeg_bytes(rows, quality=JPEG_QUALITY):
    height, width = len(rows), len(rows[0])
    tables = [scaled_table(LUMA_QUANT, quality), scaled_table(CHROMA_QUANT, quality)]
    planes = [[], [], []]
    for row in rows:
        for plane in planes:
            plane.append([])
        for r, g, b in row:
            planes[0][-1].append(0.299 * r + 0.587 * g + 0.114 * b - 128)
            planes[1][-1].append(-0.168736 * r - 0.331264 * g + 0.5 * b)
            planes[2][-1].append(0.5 * r - 0.418688 * g - 0.081312 * b)
    # Every block in order, each component's coefficients quantised and in writing order.
    blocks = []
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            mcu = []
            for c, plane in enumerate(planes):
                # Blocks past the edge repeat the last row and column.
                block = [plane[min(by + y, height - 1)][min(bx + x, width - 1)]
                         for y in range(8) for x in range(8)]
                coeffs = dct(block)
                quant = tables[min(c, 1)]
                mcu.append([int(round(coeffs[z] / quant[z])) for z in ZIGZAG])
            blocks.append(mcu)
    # Symbols: (table kind, table number) -> counts, with the bits that follow each.
    stream = []
    counts = {("dc", 0): {}, ("dc", 1): {}, ("ac", 0): {}, ("ac", 1): {}}
    previous = [0, 0, 0]
    for mcu in blocks:
        for c, coeffs in enumerate(mcu):
            t = min(c, 1)
            size, extra = magnitude(coeffs[0] - previous[c])
            previous[c] = coeffs[0]
            stream.append((("dc", t), size, extra, size))
            run = 0
            last = max([k for k in range(1, 64) if coeffs[k]] or [0])
            for k in range(1, last + 1):
                if coeffs[k] == 0:
                    run += 1
                    continue
                while run > 15:
                    stream.append((("ac", t), 0xF0, 0, 0))
                    run -= 16
                size, extra = magnitude(coeffs[k])
                stream.append((("ac", t), (run << 4) | size, extra, size))
                run = 0
            if last < 63:
                stream.append((("ac", t), 0x00, 0, 0))
    for kind, symbol, _, _ in stream:
        counts[kind][symbol] = counts[kind].get(symbol, 0) + 1
    huffman = {kind: huffman_table(n) for kind, n in counts.items()}

    out = bytearray()
    bits = nbits = 0

    def put(value, width):
        nonlocal bits, nbits
        bits = (bits << width) | (value & ((1 << width) - 1))
        nbits += width
        while nbits >= 8:
            byte = (bits >> (nbits - 8)) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0x00)  # a data 0xFF is followed by a zero
            nbits -= 8
        bits &= (1 << nbits) - 1

    for kind, symbol, extra, size in stream:
        code, length = huffman[kind][2][symbol]
        put(code, length)
        if size:
            put(extra, size)
    if nbits:
        put((1 << (8 - nbits)) - 1, 8 - nbits)  # fill the last byte with ones

    def segment(marker, body):
        return struct.pack(">BBH", 0xFF, marker, len(body) + 2) + body

    head = b"\xFF\xD8" + segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    for t, table in enumerate(tables):
        head += segment(0xDB, bytes([t]) + bytes(table[z] for z in ZIGZAG))
    frame = struct.pack(">BHHB", 8, height, width, 3)
    for c in range(3):
        frame += bytes([c + 1, 0x11, min(c, 1)])
    head += segment(0xC0, frame)
    for (kind, t), (counts_by_length, symbols, _) in sorted(huffman.items()):
        cls = 0 if kind == "dc" else 1
        head += segment(0xC4, bytes([(cls << 4) | t]) + bytes(counts_by_length) + bytes(symbols))
    scan = bytes([3]) + b"".join(bytes([c + 1, (min(c, 1) << 4) | min(c, 1)]) for c in range(3)) + b"\x00\x3F\x00"
    head += segment(0xDA, scan)
    return bytes(head) + bytes(out) + b"\xFF\xD9"


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


def app_icon_svg():
    """The program icon as a scalable picture: the same shapes as app_icon,
    written as SVG for desktops that draw icons at any size."""
    green_top, green_bottom = (52, 199, 122), (14, 128, 96)
    sprout = (222, 250, 140)

    def colour(c):
        return "#%02x%02x%02x" % c

    def arc(cx, cy, r0, r1, a0, a1):
        rm, w = (r0 + r1) / 2.0, r1 - r0
        ends = [(cx + rm * math.cos(math.radians(a)), cy + rm * math.sin(math.radians(a))) for a in (a0, a1)]
        return ('<path d="M %.3f %.3f A %.3f %.3f 0 0 1 %.3f %.3f" fill="none" stroke="#ffffff" '
                'stroke-width="%.3f" stroke-linecap="round"/>' % (ends[0][0], ends[0][1], rm, rm,
                                                                   ends[1][0], ends[1][1], w))

    def leaf(x0, y0, x1, y1, w):
        # The raster leaf is widest (w) at its middle along a parabola; a
        # quadratic curve reaches half its control point's offset there.
        length = math.hypot(x1 - x0, y1 - y0)
        nx, ny = -(y1 - y0) / length, (x1 - x0) / length
        mx, my = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        k = w  # offset of each control point: twice the half width
        return ('<path d="M %.3f %.3f Q %.3f %.3f %.3f %.3f Q %.3f %.3f %.3f %.3f Z" fill="%s"/>'
                % (x0, y0, mx + nx * k, my + ny * k, x1, y1, mx - nx * k, my - ny * k, x0, y0, colour(sprout)))

    parts = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" width="48" height="48" viewBox="0 0 48 48">',
        '<defs><linearGradient id="body" x1="0" y1="1" x2="0" y2="47" gradientUnits="userSpaceOnUse">'
        '<stop offset="0" stop-color="%s"/><stop offset="1" stop-color="%s"/></linearGradient></defs>'
        % (colour(green_top), colour(green_bottom)),
        '<rect x="1" y="1" width="46" height="46" rx="10" fill="url(#body)"/>',
        '<rect x="7" y="19" width="8" height="12" rx="1.5" fill="#ffffff"/>',
        '<path d="M 14 19 L 24 11 L 24 39 L 14 31 Z" fill="#ffffff"/>',
        arc(24, 25, 5.0, 8.0, -45, 45),
        arc(24, 25, 11.0, 14.0, -48, 48),
        '<path d="M 37.5 17 L 37.5 8.5" stroke="%s" stroke-width="1.7" stroke-linecap="round"/>' % colour(sprout),
        leaf(37.5, 13, 30.0, 6.5, 5.0),
        leaf(37.5, 10.5, 43.5, 4.5, 4.6),
        '</svg>',
    ]
    return ("\n".join(parts) + "\n").encode("ascii")


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


# ---------------------------------------------------------------------------
# Banners: eight small utilities of partner makers (all of them made up for
# this program) and the music player's banner for the first of them.
# ---------------------------------------------------------------------------

INK = (38, 50, 56)
MUTED = (84, 98, 105)

PARTNERS = [
    # name, slogan, main colour, light tint, symbol
    ("晴川压缩", "小巧的压缩解压工具，右键一点就能打包", (0, 137, 123), (224, 242, 239), "archive"),
    ("墨竹看图", "照片秒开，浏览、旋转、批量改名都顺手", (56, 142, 60), (230, 243, 228), "picture"),
    ("听溪音乐盒", "整理本地歌曲，歌词随歌声逐句显示", (30, 110, 190), (227, 238, 250), "note"),
    ("远帆下载器", "断点续传，多线程下载，大文件也省时", (230, 120, 20), (253, 240, 226), "download"),
    ("安澜清理助手", "清理无用文件，让电脑重新轻快起来", (0, 131, 143), (224, 244, 246), "sparkle"),
    ("青柠日历", "农历节气、生日提醒，每天一目了然", (124, 160, 30), (240, 246, 222), "calendar"),
    ("芦笛输入法", "词库丰富，打字又快又准，自带表情", (94, 84, 180), (236, 234, 248), "keys"),
    ("月影录屏", "一键录下屏幕与声音，直播回看好帮手", (200, 60, 80), (250, 232, 235), "record"),
]

BANNER_SIZE = (490, 60)
MUSIC_BANNER_SIZE = (400, 60)
GIF_BANNERS = 3  # the first three partner banners are GIF, the rest JPEG


def symbol_shapes(kind, x, y, colour):
    """A white symbol on a 44x44 rounded tile of the partner's colour at (x, y)."""
    s = [RoundRect(x, y, x + 44, y + 44, 10, colour)]
    if kind == "archive":
        s.append(RoundRect(x + 9, y + 12, x + 35, y + 34, 3, WHITE))
        s.append(RoundRect(x + 9, y + 9, x + 21, y + 15, 2, WHITE))
        for k in range(4):
            s.append(RoundRect(x + 20, y + 14 + 5 * k, x + 24, y + 17 + 5 * k, 0.8, colour))
    elif kind == "picture":
        s.append(RoundRect(x + 8, y + 10, x + 36, y + 34, 3, WHITE))
        s.append(Polygon([(x + 11, y + 31), (x + 19, y + 19), (x + 25, y + 26), (x + 28, y + 22),
                          (x + 33, y + 31)], colour))
        s.append(Circle(x + 29, y + 16, 2.8, colour))
    elif kind == "note":
        s.append(Circle(x + 16, y + 31, 5.0, WHITE))
        s.append(Line(x + 20.2, y + 31, x + 20.2, y + 11, 2.6, WHITE))
        s.append(Polygon([(x + 19, y + 9.5), (x + 31, y + 13), (x + 31, y + 18), (x + 21, y + 15.5)], WHITE))
    elif kind == "download":
        s.append(Polygon([(x + 18, y + 8), (x + 26, y + 8), (x + 26, y + 20), (x + 32, y + 20),
                          (x + 22, y + 31), (x + 12, y + 20), (x + 18, y + 20)], WHITE))
        s.append(RoundRect(x + 10, y + 33, x + 34, y + 37, 1.5, WHITE))
    elif kind == "sparkle":
        for cx, cy, r in ((x + 20, y + 24, 13.0), (x + 33, y + 12, 6.0)):
            pts = []
            for k in range(8):
                rad = r if k % 2 == 0 else r * 0.3
                a = math.radians(-90 + 45 * k)
                pts.append((cx + rad * math.cos(a), cy + rad * math.sin(a)))
            s.append(Polygon(pts, WHITE))
    elif kind == "calendar":
        s.append(RoundRect(x + 8, y + 11, x + 36, y + 36, 3, WHITE))
        s.append(RoundRect(x + 8, y + 11, x + 36, y + 17, 2, (255, 255, 255, 170)))
        for k in (15, 29):
            s.append(Line(x + k, y + 8, x + k, y + 13, 2.4, WHITE))
        for row in range(3):
            for col in range(4):
                s.append(Circle(x + 13 + 6 * col, y + 22 + 5 * row, 1.4, colour))
    elif kind == "keys":
        s.append(RoundRect(x + 6, y + 13, x + 38, y + 33, 3, WHITE))
        for row in range(2):
            for col in range(5):
                s.append(RoundRect(x + 9 + 5.6 * col, y + 16 + 5 * row, x + 13 + 5.6 * col, y + 19.5 + 5 * row,
                                   0.8, colour))
        s.append(RoundRect(x + 14, y + 27, x + 30, y + 30, 1, colour))
    elif kind == "record":
        s.append(RoundRect(x + 7, y + 10, x + 37, y + 31, 3, WHITE))
        s.append(RoundRect(x + 19, y + 31, x + 25, y + 35, 0.5, WHITE))
        s.append(RoundRect(x + 14, y + 35, x + 30, y + 37, 1, WHITE))
        s.append(Circle(x + 22, y + 20.5, 5.5, colour))
    return s


def download_button(canvas, x0, y0, x1, y1, colour):
    canvas.shape(RoundRect(x0, y0, x1, y1, (y1 - y0) / 2.0, colour))
    canvas.centred_text("免费下载", (x0 + x1) / 2.0, y0 + (y1 - y0) / 2.0 + 5.5, 15, WHITE, bold=True)


def partner_banner(number):
    """Partner banner number 1..8: tile, name, slogan and a download button.
    The GIF ones stay in flat colours; the JPEG ones fade from white."""
    name, slogan, colour, tint, symbol = PARTNERS[number - 1]
    width, height = BANNER_SIZE
    if number <= GIF_BANNERS:
        canvas = Canvas(width, height, lambda x, y: tint)
    else:
        canvas = Canvas(width, height, lambda x, y: mix(WHITE, tint, 0.35 + 0.65 * x / width))
        canvas.shape(Circle(width - 150, -60, 110, mix(tint, WHITE, 0.45)))
    canvas.shape(RoundRect(0, height - 2, width, height, 0, colour))
    canvas.shapes(symbol_shapes(symbol, 10, 7, colour))
    canvas.text(name, 66, 28, 19, INK, bold=True)
    canvas.text(slogan, 66, 49, 13, MUTED)
    download_button(canvas, 382, 15, 478, 45, colour)
    return canvas.rows()


def music_banner():
    """The music player's banner: the first partner's utility, shorter."""
    name, _, colour, tint, symbol = PARTNERS[0]
    width, height = MUSIC_BANNER_SIZE
    canvas = Canvas(width, height, lambda x, y: mix(WHITE, tint, 0.3 + 0.7 * x / width))
    canvas.shape(RoundRect(0, 0, width, 2, 0, colour))
    canvas.shape(RoundRect(0, height - 2, width, height, 0, colour))
    canvas.shapes(symbol_shapes(symbol, 8, 8, colour))
    canvas.text(name, 62, 29, 19, INK, bold=True)
    canvas.text("听歌之余，压缩整理文件更轻松", 62, 49, 13, MUTED)
    download_button(canvas, 296, 15, 390, 45, colour)
    return canvas.rows()


def main():
    icon = app_icon()
    write("icons/qinghe.ico", ico_bytes(icon))
    write("icons/qinghe.png", png_bytes(icon))
    write("icons/qinghe.svg", app_icon_svg())
    for name, draw in (("0_music", toolbar_music),
                       ("1_lyrics", toolbar_lyrics),
                       ("2_notes", toolbar_notes),
                       ("3_custom", toolbar_custom),
                       ("4_business", toolbar_business)):
        write("toolbar/%s.png" % name, png_bytes(draw()))
    write("banners/music_banner.jpg", jpeg_bytes(music_banner()))
    for number in range(1, len(PARTNERS) + 1):
        rows = partner_banner(number)
        if number <= GIF_BANNERS:
            write("banners/partner_%d.gif" % number, gif_bytes(rows))
        else:
            write("banners/partner_%d.jpg" % number, jpeg_bytes(rows))


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Draws the pictures of MorvaneShutdown.exe and writes its resource sources.

    python3 resources/make_pictures.py                 # write all files, then check them
    python3 resources/make_pictures.py --preview DIR   # also write PNG previews into DIR

Files written next to this script:
    app.ico       application icon, 11 images (32/8/4/1 bit)
    hand.cur      pointing-hand cursor, 32 x 32, hot spot (9, 8)
    splash.bmp    420 x 222, 24 bit, evening lake for the splash window
    about.bmp     115 x 115, 24 bit, the emblem for the About window
    splash.jpg    splash.bmp as the program stores it, a JPEG (see jpeg_rgb)
    about.png     about.bmp as the program stores it, a PNG
    app.manifest.in  application manifest (CMake fills in the architecture)
    resource.h    resource ids, shared by the C++ code and the .rc file
    app.rc        resource script
    store/*.png   the Store package's logos (not linked into the program): the icon's
                  tile at 44, 50 and 150 pixels, on a transparent background

Everything is computed here with the standard library only.  Floats only go
through +, -, *, / and sqrt (all exactly rounded by IEEE 754) and the noise
comes from a fixed-seed integer hash, so every run writes identical bytes.
"""

import math
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


# ---------------------------------------------------------------------------
# small helpers

def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c0, c1, t):
    return (lerp(c0[0], c1[0], t), lerp(c0[1], c1[1], t), lerp(c0[2], c1[2], t))


def smoothstep(e0, e1, v):
    t = clamp01((v - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def byte(v):
    """0..255 float -> int, rounded half up, clamped."""
    i = int(v + 0.5)
    return 0 if i < 0 else 255 if i > 255 else i


def length(x, y):
    return math.sqrt(x * x + y * y)


def _sqrt(v):
    return math.sqrt(v) if v > 0.0 else 0.0


def hash32(*ints):
    """Deterministic integer hash (a few rounds of xorshift-multiply)."""
    h = 0x9E3779B9
    for i in ints:
        h = (h ^ (i & 0xFFFFFFFF)) & 0xFFFFFFFF
        h = (h * 0x85EBCA6B) & 0xFFFFFFFF
        h ^= h >> 13
        h = (h * 0xC2B2AE35) & 0xFFFFFFFF
        h ^= h >> 16
    return h


def rand01(*ints):
    return hash32(*ints) / 4294967296.0


def vnoise1(x, seed):
    """Smooth 1-D value noise in [0, 1)."""
    i = int(x // 1)
    f = x - i
    f = f * f * (3.0 - 2.0 * f)
    return lerp(rand01(seed, i), rand01(seed, i + 1), f)


def vnoise2(x, y, seed):
    """Smooth 2-D value noise in [0, 1)."""
    ix = int(x // 1)
    iy = int(y // 1)
    fx = x - ix
    fy = y - iy
    fx = fx * fx * (3.0 - 2.0 * fx)
    fy = fy * fy * (3.0 - 2.0 * fy)
    a = lerp(rand01(seed, ix, iy), rand01(seed, ix + 1, iy), fx)
    b = lerp(rand01(seed, ix, iy + 1), rand01(seed, ix + 1, iy + 1), fx)
    return lerp(a, b, fy)


def fbm1(x, seed, octaves=4):
    total, amp, norm = 0.0, 1.0, 0.0
    for o in range(octaves):
        total += amp * vnoise1(x, seed + o * 101)
        norm += amp
        amp *= 0.5
        x *= 2.0
    return total / norm


def fbm2(x, y, seed, octaves=4):
    total, amp, norm = 0.0, 1.0, 0.0
    for o in range(octaves):
        total += amp * vnoise2(x, y, seed + o * 101)
        norm += amp
        amp *= 0.5
        x *= 2.0
        y *= 2.0
    return total / norm


# ---------------------------------------------------------------------------
# the emblem: white power symbol on a rounded blue-to-teal tile

TILE_TOP = (40, 116, 226)      # upper-left corner of the tile
TILE_BOTTOM = (16, 166, 150)   # lower-right corner


def sd_round_box(px, py, x0, y0, x1, y1, r):
    """Signed distance to a rounded rectangle (negative inside)."""
    cx = (x0 + x1) * 0.5
    cy = (y0 + y1) * 0.5
    qx = abs(px - cx) - ((x1 - x0) * 0.5 - r)
    qy = abs(py - cy) - ((y1 - y0) * 0.5 - r)
    outside = length(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - r


class PowerGlyph:
    """Geometry of the power symbol inside a square tile.

    Stroke width, ring radius and centre are nudged to whole pixels so the
    small icons stay crisp; the proportions are the same at every size.
    """

    def __init__(self, tx, ty, side):
        self.cx = tx + side * 0.5
        # stroke: nearest width whose left edge falls on a pixel boundary
        left = int(self.cx - side * 0.06 + 0.5)
        self.w = max(2.0 * (self.cx - left), 1.0)
        # ring radius (centre line): outer edge on a pixel boundary
        outer = int(self.cx + side * 0.29 + self.w * 0.5 + 0.5)
        self.r = outer - self.cx - self.w * 0.5
        # vertical: the glyph spans ring-outer-top .. ring-outer-bottom
        cy0 = ty + side * 0.5
        bottom = int(cy0 + self.r + self.w * 0.5 + 0.5)
        self.cy = bottom - self.r - self.w * 0.5
        # the bar runs from the top of the ring down to just above the centre
        self.bar_top = self.cy - self.r
        self.bar_bottom = self.cy - side * 0.05
        # opening at the top of the ring; leaves about 0.8 stroke of air
        # between the bar and each end of the ring
        s = 1.8 * self.w / self.r
        self.sin_t = 0.82 if s > 0.82 else s
        self.cos_t = _sqrt(1.0 - self.sin_t * self.sin_t)
        self.end_x = self.r * self.sin_t
        self.end_y = -self.r * self.cos_t

    def sd(self, px, py):
        """Signed distance to the glyph in pixels (negative inside)."""
        dx = px - self.cx
        dy = py - self.cy
        hw = self.w * 0.5
        ax = abs(dx)
        if dy < 0.0 and ax * self.cos_t < -dy * self.sin_t:
            # inside the opening: nearest point is one of the round ring ends
            d_ring = length(ax - self.end_x, dy - self.end_y) - hw
        else:
            d_ring = abs(length(dx, dy) - self.r) - hw
        yc = py
        if yc < self.bar_top:
            yc = self.bar_top
        elif yc > self.bar_bottom:
            yc = self.bar_bottom
        d_bar = length(dx, py - yc) - hw
        return d_ring if d_ring < d_bar else d_bar


def draw_emblem(width, height, tx, ty, side, background=None, shadow=False):
    """Returns rows of (r, g, b, a) floats (r, g, b in 0..255, a in 0..1).

    tx, ty, side: the tile square in pixels.  Without a background the
    result is unpremultiplied colour plus coverage alpha (for icons); with a
    background colour function the result is opaque.
    """
    g = PowerGlyph(tx, ty, side)
    corner = side * 0.22
    soft = side >= 40          # tiny icons get no inner shadow
    shadow_dy = side * 0.025
    shadow_blur = side * 0.05
    rows = []
    for y in range(height):
        row = []
        py = y + 0.5
        for x in range(width):
            px = x + 0.5
            d_tile = sd_round_box(px, py, tx, ty, tx + side, ty + side, corner)
            a_tile = clamp01(0.5 - d_tile)
            if a_tile > 0.0:
                t = clamp01(((px - tx) + (py - ty)) / (2.0 * side))
                t = t * t * (3.0 - 2.0 * t) * 0.7 + t * 0.3
                col = mix(TILE_TOP, TILE_BOTTOM, t)
                # soft light from the top
                hl = clamp01(1.0 - (py - ty) / (side * 0.55))
                col = mix(col, (255.0, 255.0, 255.0), 0.13 * hl * hl)
                # a slightly darker rim gives the tile an edge on white
                rim = clamp01(1.0 + d_tile / max(1.0, side * 0.035))
                col = mix(col, (0.0, 40.0, 80.0), 0.22 * rim)
                if soft:
                    ds = g.sd(px, py - shadow_dy)
                    sh = clamp01(0.5 - ds / (shadow_blur * 2.0))
                    col = mix(col, (0.0, 30.0, 60.0), 0.22 * sh)
                a_glyph = clamp01(0.5 - g.sd(px, py))
                col = mix(col, (255.0, 255.0, 255.0), a_glyph)
            else:
                col = (0.0, 0.0, 0.0)
            if background is None:
                row.append((col[0], col[1], col[2], a_tile))
            else:
                bg = background(x, y)
                if shadow:
                    d = sd_round_box(px, py - side * 0.03, tx, ty, tx + side, ty + side, corner)
                    s = 1.0 - smoothstep(-side * 0.03, side * 0.07, d)
                    bg = mix(bg, (40.0, 60.0, 90.0), 0.30 * s)
                row.append(mix(bg, col, a_tile) + (1.0,))
        rows.append(row)
    return rows


# ---------------------------------------------------------------------------
# colour reduction for the low-colour icon images

def median_cut(counts, n):
    """counts: {rgb: pixels}.  Returns up to n colours (deterministic)."""
    boxes = [sorted(counts.items())]
    while len(boxes) < n:
        best, best_score, best_ch = -1, 0, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for ch in range(3):
                lo = min(c[ch] for c, _ in box)
                hi = max(c[ch] for c, _ in box)
                score = (hi - lo) * sum(k for _, k in box)
                if score > best_score:
                    best, best_score, best_ch = i, score, ch
        if best < 0:
            break
        box = sorted(boxes[best], key=lambda e: (e[0][best_ch], e[0]))
        total = sum(k for _, k in box)
        acc, cut = 0, 1
        for j, (_, k) in enumerate(box):
            acc += k
            if acc * 2 >= total:
                cut = min(max(j + 1, 1), len(box) - 1)
                break
        boxes[best:best + 1] = [box[:cut], box[cut:]]
    palette = []
    for box in boxes:
        total = sum(k for _, k in box)
        palette.append(tuple((sum(c[ch] * k for c, k in box) * 2 + total) // (2 * total)
                             for ch in range(3)))
    return palette


def nearest(palette, c, cache):
    hit = cache.get(c)
    if hit is None:
        best, best_d = 0, None
        for i, p in enumerate(palette):
            dr, dg, db = c[0] - p[0], c[1] - p[1], c[2] - p[2]
            d = 2 * dr * dr + 4 * dg * dg + 3 * db * db
            if best_d is None or d < best_d:
                best, best_d = i, d
        cache[c] = hit = best
    return hit


def to_bytes_rgba(rows):
    return [[(byte(r), byte(g), byte(b), byte(a * 255.0)) for r, g, b, a in row] for row in rows]


def quantise(pixels, colours):
    """pixels: rows of 8-bit RGBA.  Returns (palette, index rows, mask rows).

    Index 0 is black and is what transparent pixels carry; the remaining
    entries are fitted to the opaque pixels.  A pixel counts as opaque when
    it is at least half covered.
    """
    counts = {}
    for row in pixels:
        for r, g, b, a in row:
            if a >= 128:
                counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    palette = [(0, 0, 0)] + median_cut(counts, colours - 1)
    palette += [(0, 0, 0)] * (colours - len(palette))
    cache = {}
    index, mask = [], []
    for row in pixels:
        irow, mrow = [], []
        for r, g, b, a in row:
            if a >= 128:
                # never pick entry 0 for an opaque pixel (it means "hole")
                i = nearest(palette[1:], (r, g, b), cache) + 1
                irow.append(i)
                mrow.append(0)
            else:
                irow.append(0)
                mrow.append(1)
        index.append(irow)
        mask.append(mrow)
    return palette, index, mask


# ---------------------------------------------------------------------------
# BMP-style icon and cursor images

def pack_bits(values, bpp):
    """One row of small integers -> bytes, padded to a multiple of 4."""
    out = bytearray()
    per = 8 // bpp
    for i in range(0, len(values), per):
        v = 0
        for j in range(per):
            v <<= bpp
            if i + j < len(values):
                v |= values[i + j]
        out.append(v)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def dib_icon(width, bpp, xor_rows, mask_rows, palette=None):
    """BITMAPINFOHEADER (height doubled) + palette + XOR + AND, bottom-up."""
    if bpp == 32:
        xor = bytearray()
        for row in reversed(xor_rows):
            for r, g, b, a in row:
                xor += bytes((b, g, r, a))
    else:
        xor = b''.join(pack_bits(row, bpp) for row in reversed(xor_rows))
    and_ = b''.join(pack_bits(row, 1) for row in reversed(mask_rows))
    height = len(xor_rows)
    header = struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, bpp, 0,
                         len(xor) + len(and_), 0, 0, 0, 0)
    pal = b''
    if bpp <= 8:
        entries = list(palette) + [(0, 0, 0)] * ((1 << bpp) - len(palette))
        pal = b''.join(bytes((b, g, r, 0)) for r, g, b in entries)
    return header + pal + bytes(xor) + and_


def png_prediction(kind, line, prev, x, n=4):
    """What PNG filter `kind` predicts for byte x of a row of n-byte pixels (`line`
    decoded up to x), from the row above, `prev`."""
    a = line[x - n] if x >= n else 0
    b = prev[x]
    c = prev[x - n] if x >= n else 0
    if kind == 0:
        return 0
    if kind == 1:
        return a
    if kind == 2:
        return b
    if kind == 3:
        return (a + b) // 2
    pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def png_image(rows):
    """A PNG of RGBA or RGB rows (8 bits a channel), each row with whichever of the five
    PNG filters leaves the smallest sum of differences, packed by zlib at level 9."""
    w, n = len(rows[0]), len(rows[0][0])
    raw_rows = [bytes(v for p in row for v in p) for row in rows]
    out = bytearray()
    prev = bytes(n * w)
    for line in raw_rows:
        best = None
        for kind in range(5):
            f = bytearray([kind])
            for x in range(n * w):
                f.append((line[x] - png_prediction(kind, line, prev, x, n)) & 255)
            cost = sum(v if v < 128 else 256 - v for v in f[1:])
            if best is None or cost < best[0]:
                best = (cost, f)
        out += best[1]
        prev = line

    def chunk(tag, body):
        return struct.pack('>I', len(body)) + tag + body + struct.pack('>I', zlib.crc32(tag + body) & 0xFFFFFFFF)

    colour = {3: 2, 4: 6}[n]
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, len(rows), 8, colour, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(bytes(out), 9)) + chunk(b'IEND', b''))


def read_png(data):
    """Rows of RGBA or RGB tuples from a PNG written by png_image (8 bits a channel,
    not interlaced)."""
    need(data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG')
    pos, idat, w, h, n = 8, b'', 0, 0, 4
    while pos < len(data):
        length, tag = struct.unpack_from('>I4s', data, pos)
        body = data[pos + 8: pos + 8 + length]
        need(struct.unpack_from('>I', data, pos + 8 + length)[0] == zlib.crc32(tag + body) & 0xFFFFFFFF, 'PNG CRC')
        if tag == b'IHDR':
            w, h, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            need(depth == 8 and colour in (2, 6) and interlace == 0, 'PNG is not 8-bit RGB or RGBA')
            n = 4 if colour == 6 else 3
        elif tag == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    rows, prev, stride = [], bytearray(n * w), n * w
    for y in range(h):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1: (y + 1) * (stride + 1)])
        for x in range(stride):
            line[x] = (line[x] + png_prediction(kind, line, prev, x, n)) & 255
        rows.append([tuple(line[n * x: n * x + n]) for x in range(w)])
        prev = line
    return w, h, rows


def icon_file(images, kind=1, hotspots=None):
    """images: list of (width, height, bpp, colour_count, data)."""
    out = struct.pack('<HHH', 0, kind, len(images))
    offset = 6 + 16 * len(images)
    body = b''
    for n, (w, h, bpp, ncol, data) in enumerate(images):
        if kind == 1:
            f1, f2 = 1, bpp
        else:
            f1, f2 = hotspots[n]
        out += struct.pack('<BBBBHHII', w & 255, h & 255, ncol, 0, f1, f2,
                           len(data), offset + len(body))
        body += data
    return out + body


def make_icon():
    images = []
    for n in (16, 32, 48, 128):
        m = int(n / 32 + 0.5) if n > 16 else 0
        rgba = to_bytes_rgba(draw_emblem(n, n, m, m, n - 2 * m))
        # The AND mask is set only where a pixel is fully transparent, so
        # drawing without alpha (mask + colour) shows the whole tile with no
        # XOR-ed fringe around the rounded corners.
        mask = [[1 if p[3] == 0 else 0 for p in row] for row in rgba]
        rgba = [[p if p[3] else (0, 0, 0, 0) for p in row] for row in rgba]
        images.append((n, rgba, mask))
    by_size = {n: rgba for n, rgba, _ in images}
    entries = []
    for n, rgba, mask in images:
        # The largest image is stored as a PNG (Windows reads PNG icon images since
        # Vista): the same pixels in a fifth of the bytes. Its mask is its alpha.
        data = png_image(rgba) if n == 128 else dib_icon(n, 32, rgba, mask)
        entries.append((n, n, 32, 0, data))
    for bpp, colours in ((8, 256), (4, 16)):
        for n in (16, 32, 48):
            pal, idx, mask = quantise(by_size[n], colours)
            entries.append((n, n, bpp, 0 if colours == 256 else colours,
                            dib_icon(n, bpp, idx, mask, pal)))
    # monochrome: black tile with the white symbol, transparent around it
    rgba = by_size[32]
    idx, mask = [], []
    for row in rgba:
        irow, mrow = [], []
        for r, g, b, a in row:
            if a >= 128:
                irow.append(1 if (r + g + b) >= 3 * 200 else 0)
                mrow.append(0)
            else:
                irow.append(0)
                mrow.append(1)
        idx.append(irow)
        mask.append(mrow)
    entries.append((32, 32, 1, 2, dib_icon(32, 1, idx, mask, [(0, 0, 0), (255, 255, 255)])))
    return icon_file(entries, 1)


# The Store package's logos: the app icon (44) and the Store's logo (50) drawn as the
# icon is; the medium tile (150) with the emblem at half its width, the tile's colour
# left to the package manifest.
STORE_LOGOS = (('Square44x44Logo.png', 44, 1, 42), ('StoreLogo.png', 50, 2, 46),
               ('Square150x150Logo.png', 150, 37, 76))


def make_store_logo(n, at, side):
    rgba = to_bytes_rgba(draw_emblem(n, n, at, at, side))
    return png_image([[p if p[3] else (0, 0, 0, 0) for p in row] for row in rgba])


# ---------------------------------------------------------------------------
# the cursor: a hand with the index finger up, fingertip at (9, 8)

HOT_X, HOT_Y = 9, 8


def sd_capsule(px, py, ax, ay, bx, by, r):
    vx, vy = bx - ax, by - ay
    wx, wy = px - ax, py - ay
    t = clamp01((wx * vx + wy * vy) / (vx * vx + vy * vy)) if (vx or vy) else 0.0
    return length(wx - vx * t, wy - vy * t) - r


def hand_parts():
    """Pieces of the hand in pixel coordinates (pixel centres are integers).

    Lower numbers lie on top.  The index finger is 5 pixels wide and
    centred on column 9 with its rounded top in row 8, so the middle of
    the fingertip is the hot spot.
    """
    x, y = HOT_X, HOT_Y
    return [
        ('index', lambda px, py: sd_capsule(px, py, x, y + 2.0, x, y + 12.0, 2.5)),
        ('middle', lambda px, py: sd_capsule(px, py, x + 4, y + 7.0, x + 4, y + 12.0, 2.5)),
        ('ring', lambda px, py: sd_capsule(px, py, x + 8, y + 8.0, x + 8, y + 12.0, 2.5)),
        ('little', lambda px, py: sd_capsule(px, py, x + 11.5, y + 9.0, x + 11.5, y + 12.0, 2.2)),
        ('thumb', lambda px, py: sd_capsule(px, py, x - 5.5, y + 10.5, x - 0.5, y + 15.5, 2.5)),
        ('palm', lambda px, py: sd_round_box(px, py, x - 2.4, y + 9.0, x + 13.4, y + 19.4, 3.0)),
    ]


# creases are drawn only between these pieces, and only above the knuckles
CREASES = {('index', 'middle'), ('middle', 'ring'), ('ring', 'little'), ('index', 'thumb'),
           ('thumb', 'palm')}


def make_cursor_pixels():
    """Returns 32 rows of 'X' (black), 'o' (white) and '.' (transparent)."""
    parts = hand_parts()
    label = [[None] * 32 for _ in range(32)]
    for yy in range(32):
        for xx in range(32):
            for n, (name, f) in enumerate(parts):
                if f(float(xx), float(yy)) <= 0.0:
                    label[yy][xx] = n
                    break
    names = [p[0] for p in parts]
    rows = []
    for yy in range(32):
        row = ''
        for xx in range(32):
            me = label[yy][xx]
            if me is None:
                row += '.'
                continue
            edge = False
            for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                nx, ny = xx + dx, yy + dy
                other = label[ny][nx] if 0 <= nx < 32 and 0 <= ny < 32 else None
                if other is None:
                    edge = True
                elif other > me and (names[me], names[other]) in CREASES \
                        and yy <= HOT_Y + 12:
                    edge = True
            row += 'X' if edge else 'o'
        rows.append(row)
    return rows


def make_cursor():
    art = make_cursor_pixels()
    xor = [[1 if c == 'o' else 0 for c in row] for row in art]
    mask = [[1 if c == '.' else 0 for c in row] for row in art]
    data = dib_icon(32, 1, xor, mask, [(0, 0, 0), (255, 255, 255)])
    return icon_file([(32, 32, 1, 2, data)], 2, [(HOT_X, HOT_Y)])


# ---------------------------------------------------------------------------
# 24-bit pictures

def bmp24(rows):
    height = len(rows)
    width = len(rows[0])
    stride = (width * 3 + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b'\0' * (stride - len(line))
        pixels += line
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels),
                       3780, 3780, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + bytes(pixels)


SPLASH_QUALITY = 90   # the JPEG's quality (IJG's scale): 40 dB from the drawing, see self_check


# cos(k * pi / 16) * 2**14, rounded, k = 0..8: the DCT in integers only, so every
# run and every machine writes the same bytes.
COS14 = (16384, 16069, 15137, 13623, 11585, 9102, 6270, 3196, 0)


def cos14(n):
    n %= 32
    n = 32 - n if n > 16 else n
    return COS14[n] if n <= 8 else -COS14[16 - n]


# DCT_BASIS[u][x]: C(u) cos((2x + 1) u pi / 16) * 2**14, with C(0) = 1/sqrt(2).
DCT_BASIS = [[COS14[4] if u == 0 else cos14((2 * x + 1) * u) for x in range(8)] for u in range(8)]
ZIGZAG = sorted(range(64), key=lambda i: (i // 8 + i % 8, (i % 8) if (i // 8 + i % 8) % 2 == 0 else i // 8))
# The example tables of ITU T.81 Annex K, luminance and chrominance, row by row.
QUANT_BASE = (
    (16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55, 14, 13, 16, 24, 40, 57, 69, 56,
     14, 17, 22, 29, 51, 87, 80, 62, 18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99),
    (17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99, 99, 99,
     47, 66, 99, 99, 99, 99, 99, 99) + (99,) * 32)


def quant_tables(quality):
    """The Annex K tables scaled as the IJG library scales them for a quality 1..100."""
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [[min(max((q * scale + 50) // 100, 1), 255) for q in base] for base in QUANT_BASE]


def div_round(a, b):
    """a / b rounded to the nearest integer, halves away from zero (b > 0)."""
    return (a + b // 2) // b if a >= 0 else -((-a + b // 2) // b)


def forward_dct(block, quant):
    """8x8 level-shifted samples -> quantised coefficients, row-major."""
    rows = [[sum(DCT_BASIS[u][x] * block[8 * y + x] for x in range(8)) for u in range(8)] for y in range(8)]
    out = [0] * 64
    for v in range(8):
        basis = DCT_BASIS[v]
        for u in range(8):
            s = sum(basis[y] * rows[y][u] for y in range(8))
            # two passes of 2**14 and the 1/2 of each pass
            out[8 * v + u] = div_round(s, quant[8 * v + u] << 30)
    return out


def ycbcr_planes(rows):
    """RGB rows -> three planes of level-shifted samples (JFIF, in 16-bit fixed point)."""
    planes = ([], [], [])
    for row in rows:
        py, pb, pr = [], [], []
        for r, g, b in row[:len(row)]:
            py.append(((19595 * r + 38470 * g + 7471 * b + 32768) >> 16) - 128)
            pb.append(((-11059 * r - 21709 * g + 32768 * b + 32767) >> 16))
            pr.append(((32768 * r - 27439 * g - 5329 * b + 32767) >> 16))
        for plane, line in zip(planes, (py, pb, pr)):
            plane.append(line)
    return planes


def huffman_table(counts):
    """Code lengths and values for symbol counts, by ITU T.81 Annex K.2 (codes of at
    most 16 bits, none of all ones). Returns (bits[1..16], values)."""
    freq = list(counts) + [1]
    size = [0] * 257
    others = [-1] * 257
    while True:
        c1 = c2 = -1
        for i in range(257):
            if freq[i] and (c1 < 0 or freq[i] <= freq[c1]):
                c1 = i
        for i in range(257):
            if freq[i] and i != c1 and (c2 < 0 or freq[i] <= freq[c2]):
                c2 = i
        if c2 < 0:
            break
        freq[c1] += freq[c2]
        freq[c2] = 0
        for c in (c1, c2):
            size[c] += 1
            while others[c] >= 0:
                c = others[c]
                size[c] += 1
        c = c1
        while others[c] >= 0:
            c = others[c]
        others[c] = c2
    bits = [0] * 33
    for s in size:
        if s:
            bits[s] += 1
    for i in range(32, 16, -1):
        while bits[i] > 0:
            j = i - 2
            while bits[j] == 0:
                j -= 1
            bits[i] -= 2
            bits[i - 1] += 1
            bits[j + 1] += 2
            bits[j] -= 1
    i = 16
    while bits[i] == 0:
        i -= 1
    bits[i] -= 1
    values = [s for n in range(1, 33) for s in range(256) if size[s] == n]
    return bits[1:17], values


def huffman_codes(bits, values):
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[values[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def bit_category(v):
    v = abs(v)
    n = 0
    while v:
        n += 1
        v >>= 1
    return n


def jpeg_psnr(rows, blocks, quality):
    """How near a decoder comes to rows from the JPEG's coefficients: the peak signal
    to noise ratio in dB, over all three channels."""
    h, w = len(rows), len(rows[0])
    quant = quant_tables(quality)
    planes = [[[0.0] * w for _ in range(h)] for _ in range(3)]
    for n, (c, coef) in enumerate(blocks):
        by, bx = (n // 3) // ((w + 7) // 8) * 8, (n // 3) % ((w + 7) // 8) * 8
        f = [coef[k] * quant[c > 0][k] for k in range(64)]
        cols = [[sum(DCT_BASIS[v][y] * f[8 * v + u] for v in range(8)) for u in range(8)] for y in range(8)]
        for y in range(min(8, h - by)):
            for x in range(min(8, w - bx)):
                planes[c][by + y][bx + x] = sum(DCT_BASIS[u][x] * cols[y][u] for u in range(8)) / (1 << 30)
    error = 0.0
    for y in range(h):
        for x in range(w):
            yy, cb, cr = planes[0][y][x] + 128, planes[1][y][x], planes[2][y][x]
            got = (yy + 1.402 * cr, yy - 0.344136 * cb - 0.714136 * cr, yy + 1.772 * cb)
            error += sum((min(max(int(v + 0.5), 0), 255) - want) ** 2 for v, want in zip(got, rows[y][x]))
    return 10 * math.log10(255 * 255 * 3 * w * h / error)


def jpeg_rgb(rows, quality):
    """A baseline JFIF JPEG of RGB rows: each channel at full resolution, Huffman
    tables made for this picture. Returns (the file, the quantised coefficients)."""
    h, w = len(rows), len(rows[0])
    quant = quant_tables(quality)
    planes = ycbcr_planes(rows)
    # 8x8 blocks, edges repeated; then each block's symbols as (table, symbol, extra bits)
    blocks = []
    for by in range(0, h, 8):
        for bx in range(0, w, 8):
            for c, plane in enumerate(planes):
                block = [plane[min(by + y, h - 1)][min(bx + x, w - 1)] for y in range(8) for x in range(8)]
                blocks.append((c, forward_dct(block, quant[c > 0])))
    symbols = []
    last_dc = [0, 0, 0]
    for c, coef in blocks:
        t = 0 if c == 0 else 1
        diff = coef[0] - last_dc[c]
        last_dc[c] = coef[0]
        n = bit_category(diff)
        symbols.append((2 * t, n, n, diff if diff >= 0 else diff + (1 << n) - 1))
        run = 0
        for k in range(1, 64):
            v = coef[ZIGZAG[k]]
            if v == 0:
                run += 1
                continue
            while run > 15:
                symbols.append((2 * t + 1, 0xF0, 0, 0))
                run -= 16
            n = bit_category(v)
            symbols.append((2 * t + 1, (run << 4) | n, n, v if v >= 0 else v + (1 << n) - 1))
            run = 0
        if run:
            symbols.append((2 * t + 1, 0x00, 0, 0))
    counts = [[0] * 256 for _ in range(4)]
    for t, s, _, _ in symbols:
        counts[t][s] += 1
    tables = [huffman_table(c) for c in counts]
    codes = [huffman_codes(*table) for table in tables]
    data = bytearray()
    acc, nbits = 0, 0
    for t, s, n, extra in symbols:
        code, length = codes[t][s]
        acc = (acc << length | code) << n | extra
        nbits += length + n
        while nbits >= 8:
            nbits -= 8
            byte = (acc >> nbits) & 255
            data.append(byte)
            if byte == 0xFF:
                data.append(0)
        acc &= (1 << nbits) - 1
    if nbits:
        byte = ((acc << (8 - nbits)) | ((1 << (8 - nbits)) - 1)) & 255
        data.append(byte)
        if byte == 0xFF:
            data.append(0)

    def segment(marker, body):
        return struct.pack('>HH', 0xFF00 | marker, len(body) + 2) + body

    out = b'\xff\xd8' + segment(0xE0, b'JFIF\0' + struct.pack('>BBBHHBB', 1, 1, 0, 1, 1, 0, 0))
    for t in range(2):
        out += segment(0xDB, bytes([t]) + bytes(quant[t][ZIGZAG[k]] for k in range(64)))
    out += segment(0xC0, struct.pack('>BHHB', 8, h, w, 3) + b''.join(bytes((c + 1, 0x11, c > 0)) for c in range(3)))
    for t, (bits, values) in enumerate(tables):
        out += segment(0xC4, bytes([(t & 1) << 4 | t >> 1]) + bytes(bits) + bytes(values))
    out += segment(0xDA, bytes([3]) + b''.join(bytes((c + 1, 0x00 if c == 0 else 0x11)) for c in range(3)) + b'\x00\x3f\x00')
    return out + bytes(data) + b'\xff\xd9', blocks


def make_about():
    n = 115

    def background(x, y):
        t = y / (n - 1.0)
        return mix((250.0, 251.0, 253.0), (234.0, 239.0, 245.0), t)

    side = 93
    t0 = (n - side) // 2
    rows = draw_emblem(n, n, t0, t0 - 1, side, background, shadow=True)
    return [[(byte(r), byte(g), byte(b)) for r, g, b, _ in row] for row in rows]


SPLASH_W, SPLASH_H = 420, 222
HORIZON = 150          # first row of the lake
SUN_X, SUN_Y, SUN_R = 306.0, 103.0, 10.0

SKY_STOPS = [
    (0.0, (138.0, 156.0, 206.0)),
    (55.0, (184.0, 172.0, 212.0)),
    (100.0, (240.0, 188.0, 176.0)),
    (135.0, (253.0, 212.0, 168.0)),
    (150.0, (255.0, 226.0, 182.0)),
]


def sky_colour(x, y):
    for (y0, c0), (y1, c1) in zip(SKY_STOPS, SKY_STOPS[1:]):
        if y <= y1:
            col = mix(c0, c1, smoothstep(y0, y1, y))
            break
    else:
        col = SKY_STOPS[-1][1]
    # glow around the low sun
    dx = (x - SUN_X) / 34.0
    dy = (y - SUN_Y) / 26.0
    near = 1.0 / (1.0 + dx * dx + dy * dy)
    dx = (x - SUN_X) / 150.0
    dy = (y - SUN_Y) / 80.0
    wide = 1.0 / (1.0 + dx * dx + dy * dy)
    col = mix(col, (255.0, 236.0, 196.0), 0.55 * near + 0.25 * wide * wide)
    # thin evening clouds, stretched sideways
    band = smoothstep(12.0, 35.0, y) * (1.0 - smoothstep(70.0, 108.0, y))
    if band > 0.0:
        c = fbm2(x / 95.0, y / 11.0, 7, 4)
        c = smoothstep(0.50, 0.74, c) * band
        if c > 0.0:
            lit = clamp01(1.0 - abs(x - SUN_X) / 260.0)
            tint = mix((214.0, 186.0, 222.0), (255.0, 196.0, 178.0), lit * (y / 108.0))
            col = mix(col, tint, 0.65 * c)
    # the sun itself
    d = length(x - SUN_X, y - SUN_Y)
    col = mix(col, (255.0, 247.0, 226.0), clamp01(SUN_R + 0.5 - d))
    return col


# hill layers, far to near: (colour, base row, height, feature size, seed)
HILLS = [
    ((190.0, 158.0, 180.0), 132.0, 36.0, 80.0, 11),
    ((150.0, 122.0, 160.0), 140.0, 26.0, 62.0, 23),
    ((104.0, 90.0, 132.0), 146.0, 18.0, 44.0, 37),
]


def ridge(layer, x):
    _, base, height, size, seed = HILLS[layer]
    h = base - height * fbm1(x / size, seed, 5)
    if layer == 2:
        # the near hill rises towards the left edge
        s = clamp01(1.0 - x / 170.0)
        h -= 26.0 * s * s
    if layer == 1:
        s = clamp01((x - 330.0) / 90.0)
        h -= 14.0 * s * s
    return h


def land_colour(x, y):
    """Sky and hills above the water line (x, y: pixel centres)."""
    col = sky_colour(x, y)
    for layer, (hc, _, _, _, seed) in enumerate(HILLS):
        top = ridge(layer, x)
        cover = clamp01(y + 0.5 - top)
        if cover <= 0.0:
            continue
        # haze: hills fade into the warm mist over the water
        depth = clamp01((y - top) / 30.0)
        mist = smoothstep(HORIZON - 26.0, HORIZON, y) * 0.55
        c = mix(hc, (120.0, 100.0, 130.0), 0.15 * depth)
        c = mix(c, (246.0, 206.0, 180.0), mist)
        # faint texture of trees and slopes
        tex = fbm2(x / 7.0, y / 5.0, seed + 5, 3) - 0.5
        c = mix(c, (c[0] * 0.85, c[1] * 0.85, c[2] * 0.88), clamp01(0.5 + tex * 1.4) * 0.5)
        col = mix(col, c, cover)
    return col


def make_splash():
    w, h = SPLASH_W, SPLASH_H
    above = [[land_colour(x + 0.5, y + 0.5) for x in range(w)] for y in range(HORIZON)]
    rows = [list(r) for r in above]
    water = (70.0, 86.0, 128.0)
    for y in range(HORIZON, h):
        dist = (y - HORIZON) / float(h - HORIZON)          # 0 at the shore, 1 at the bottom
        src_y = 2 * HORIZON - 1 - y
        src = above[max(0, src_y)]
        row = []
        for x in range(w):
            # ripples: shift the reflection sideways, more near the viewer
            wob = (fbm2(x / 38.0, y / (1.2 + dist * 3.0), 91, 3) - 0.5) * (2.0 + dist * 10.0)
            sx = x + wob
            i = int(sx // 1)
            f = sx - i
            i0 = min(max(i, 0), w - 1)
            i1 = min(max(i + 1, 0), w - 1)
            c = mix(src[i0], src[i1], f)
            c = mix(c, water, 0.16 + 0.10 * dist)
            # light streaks on the water surface
            s = fbm2(x / 60.0, y / 1.6, 131, 3)
            c = mix(c, (255.0, 240.0, 225.0), smoothstep(0.62, 0.80, s) * 0.22)
            # glitter under the sun
            spread = 14.0 + dist * 40.0
            near = clamp01(1.0 - abs(x - SUN_X) / spread)
            if near > 0.0:
                g = fbm2(x / 5.0, y / 0.9, 151, 2)
                c = mix(c, (255.0, 244.0, 214.0), smoothstep(0.55, 0.75, g) * near * 0.8)
            row.append(c)
        rows.append(row)
    # a bright line of mist where the hills meet the water
    for y in range(HORIZON - 2, HORIZON + 2):
        k = (0.20, 0.35, 0.30, 0.12)[y - HORIZON + 2]
        rows[y] = [mix(c, (255.0, 230.0, 200.0), k) for c in rows[y]]
    # reeds in the lower right corner
    reeds = []
    for i in range(11):
        bx = 352.0 + 64.0 * rand01(501, i)
        ht = 20.0 + 34.0 * rand01(502, i)
        lean = (rand01(503, i) - 0.4) * 16.0
        shade = 0.65 + 0.3 * rand01(504, i)
        reeds.append((bx, ht, lean, shade))
    for y in range(h - 60, h):
        for x in range(330, w):
            cover = 0.0
            for bx, ht, lean, shade in reeds:
                t = (h - y - 0.5) / ht
                if t < 0.0 or t > 1.0:
                    continue
                cx = bx + lean * t * t
                half = 1.1 * (1.0 - t) + 0.25
                cover = max(cover, shade * clamp01(half + 0.5 - abs(x + 0.5 - cx)))
            if cover > 0.0:
                rows[y][x] = mix(rows[y][x], (52.0, 46.0, 72.0), cover)
    # fine film grain from a fixed seed
    out = []
    for y in range(h):
        line = []
        for x in range(w):
            n = (rand01(777, x, y) + rand01(778, x, y) - 1.0) * 5.0
            r, g, b = rows[y][x]
            line.append((byte(r + n), byte(g + n), byte(b + n)))
        out.append(line)
    return out


# ---------------------------------------------------------------------------
# text files

MANIFEST = """\
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="Morvane.Shutdown" version="2.0.0.0" processorArchitecture="@MORVANE_MANIFEST_ARCH@"/>
  <description>Morvane\u5173\u673a\u5de5\u5177</description>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <!-- Windows 10 and 11 -->
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
      <!-- Windows 8.1 -->
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <!-- Windows 8 -->
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <!-- Windows 7 -->
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>
      <dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor</dpiAwareness>
    </windowsSettings>
  </application>
</assembly>
"""

RESOURCE_H = """\
/* Resource ids of MorvaneShutdown.exe, shared by the C++ code and app.rc.
   Written by make_pictures.py. */
#ifndef MORVANE_RESOURCE_H
#define MORVANE_RESOURCE_H

#define IDI_APP       1
#define IDC_POINTER   101
#define IDB_SPLASH    201
#define IDB_ABOUT     202

#endif
"""


def rc_wide(text):
    """A wide string literal that is pure ASCII: non-ASCII as \\xNNNN."""
    out = 'L"'
    for ch in text:
        if ord(ch) < 128:
            if ch in '"\\':
                raise ValueError('quote or backslash in resource string')
            out += ch
        else:
            out += '\\x%04x' % ord(ch)
    return out + '"'


VERSION_STRINGS = [
    ('CompanyName', 'Morvane'),
    ('FileDescription', 'Morvane\u5173\u673a\u5de5\u5177'),
    ('FileVersion', 'MORVANE_FILE_VERSION'),
    ('InternalName', 'MorvaneShutdown'),
    ('LegalCopyright', 'Copyright (C) 2014-2026 Morvane'),
    ('OriginalFilename', 'MorvaneShutdown.exe'),
    ('ProductName', 'Morvane\u5173\u673a\u5de5\u5177V2014'),
    ('ProductVersion', 'MORVANE_PRODUCT_VERSION'),
]


def rc_value(text):
    """A version macro from version.h as it is, anything else as a wide string."""
    return text if text.startswith('MORVANE_') else rc_wide(text)


def make_rc():
    values = '\n'.join('            VALUE "%s", %s' % (k, rc_value(v)) for k, v in VERSION_STRINGS)
    return """\
// Resource script of MorvaneShutdown.exe, written by make_pictures.py.
// Kept pure ASCII (Chinese text as \\x escapes in wide strings) so windres
// and rc.exe read it the same whatever code page they assume.
#include <windows.h>
#include "resource.h"
// The version numbers, from CMake (configured into the build's generated/ folder).
#include "resources/version.h"

IDI_APP         ICON        "app.ico"
IDC_POINTER     CURSOR      "hand.cur"
IDB_SPLASH      RCDATA      "splash.jpg"
IDB_ABOUT       RCDATA      "about.png"

// The manifest, naming the build's architecture (configured from app.manifest.in).
CREATEPROCESS_MANIFEST_RESOURCE_ID RT_MANIFEST "resources/app.manifest"

VS_VERSION_INFO VERSIONINFO
 FILEVERSION     MORVANE_VERSION_NUMBERS
 PRODUCTVERSION  MORVANE_VERSION_NUMBERS
 FILEFLAGSMASK   VS_FFI_FILEFLAGSMASK
 FILEFLAGS       0x0L
 FILEOS          VOS_NT_WINDOWS32
 FILETYPE        VFT_APP
 FILESUBTYPE     VFT2_UNKNOWN
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "080404b0"
        BEGIN
%s
        END
    END
    BLOCK "VarFileInfo"
    BEGIN
        VALUE "Translation", 0x804, 1200
    END
END
""" % values


# ---------------------------------------------------------------------------
# reading the files back

class CheckError(Exception):
    pass


def need(cond, what):
    if not cond:
        raise CheckError(what)


def read_dib_icon(data, width, height):
    """Decodes one BMP-style icon/cursor image into rows of RGBA bytes."""
    (size, w, h2, planes, bpp, comp, _, _, _, used, _) = struct.unpack_from('<IiiHHIIiiII', data, 0)
    need(size == 40, 'header size %d' % size)
    need(w == width and h2 == 2 * height, 'image is %dx%d/2, directory says %dx%d' % (w, h2, width, height))
    need(planes == 1 and comp == 0, 'planes %d, compression %d' % (planes, comp))
    pos = 40
    palette = []
    if bpp <= 8:
        ncol = used or (1 << bpp)
        for i in range(ncol):
            b, g, r, _ = data[pos + 4 * i: pos + 4 * i + 4]
            palette.append((r, g, b))
        pos += 4 * ncol
    stride = ((w * bpp + 31) // 32) * 4
    mstride = ((w + 31) // 32) * 4
    need(len(data) == pos + stride * height + mstride * height,
         'image data is %d bytes, expected %d' % (len(data), pos + stride * height + mstride * height))
    rows = []
    for y in range(height):
        line = data[pos + stride * (height - 1 - y): pos + stride * (height - y)]
        mline = data[pos + stride * height + mstride * (height - 1 - y):
                     pos + stride * height + mstride * (height - y)]
        row = []
        for x in range(w):
            m = (mline[x >> 3] >> (7 - (x & 7))) & 1
            if bpp == 32:
                b, g, r, a = line[4 * x: 4 * x + 4]
                row.append((r, g, b, a))
                continue
            bit = x * bpp
            v = (line[bit >> 3] >> (8 - bpp - (bit & 7))) & ((1 << bpp) - 1)
            need(v < len(palette), 'palette index out of range')
            r, g, b = palette[v]
            if m:
                need(v == 0 or palette[v] == (0, 0, 0), 'transparent pixel with colour')
                row.append((0, 0, 0, 0))
            else:
                row.append((r, g, b, 255))
        rows.append(row)
    return bpp, rows


def read_icon_file(path, kind):
    with open(path, 'rb') as f:
        data = f.read()
    reserved, typ, count = struct.unpack_from('<HHH', data, 0)
    need(reserved == 0 and typ == kind, '%s: not an %s file' % (path, 'icon' if kind == 1 else 'cursor'))
    out = []
    spans = []
    for i in range(count):
        w, h, ncol, res, f1, f2, size, offset = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
        w = w or 256
        h = h or 256
        need(res == 0, 'reserved byte')
        need(offset >= 6 + 16 * count and offset + size <= len(data), 'entry %d outside the file' % i)
        spans.append((offset, offset + size))
        image = data[offset:offset + size]
        if image[:4] == b'\x89PNG':
            pw, ph, rows = read_png(image)
            need((pw, ph) == (w, h), 'entry %d: PNG is %dx%d' % (i, pw, ph))
            bpp = 32
        else:
            bpp, rows = read_dib_icon(image, w, h)
        if kind == 1:
            need(f1 == 1 and f2 == bpp, 'entry %d: planes/bit count %d/%d' % (i, f1, f2))
            need(ncol == ((1 << bpp) if bpp < 8 else 0), 'entry %d: colour count %d' % (i, ncol))
        out.append((w, h, bpp, f1, f2, rows))
    spans.sort()
    for (a0, a1), (b0, b1) in zip(spans, spans[1:]):
        need(a1 <= b0, 'overlapping images')
    need(spans[-1][1] == len(data), 'trailing bytes')
    return out


def read_bmp24(path):
    with open(path, 'rb') as f:
        data = f.read()
    magic, fsize, _, _, off = struct.unpack_from('<2sIHHI', data, 0)
    need(magic == b'BM' and fsize == len(data), '%s: bad file header' % path)
    size, w, h, planes, bpp, comp = struct.unpack_from('<IiiHHI', data, 14)
    need(size == 40 and planes == 1 and bpp == 24 and comp == 0 and h > 0, '%s: not a plain 24-bit BMP' % path)
    stride = (w * 3 + 3) & ~3
    need(off + stride * h == len(data), '%s: size mismatch' % path)
    rows = []
    for y in range(h):
        line = data[off + stride * (h - 1 - y): off + stride * (h - y)]
        rows.append([(line[3 * x + 2], line[3 * x + 1], line[3 * x], 255) for x in range(w)])
    return w, h, rows


def luma(p):
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]


def self_check():
    icons = read_icon_file(os.path.join(HERE, 'app.ico'), 1)
    got = [(w, bpp) for w, h, bpp, _, _, _ in icons]
    want = [(16, 32), (32, 32), (48, 32), (128, 32), (16, 8), (32, 8), (48, 8),
            (16, 4), (32, 4), (48, 4), (32, 1)]
    need(sorted(got) == sorted(want), 'app.ico holds %r' % got)
    for w, h, bpp, _, _, rows in icons:
        need(w == h, 'square icons')
        # the symbol is white in the middle and the corners are see-through
        c = rows[h // 2 + h // 4][w // 2]
        need(c[3] == 255 and min(c[:3]) >= 200, '%dpx/%dbit: no white ring at the bottom' % (w, bpp))
        c = rows[h // 2 + h // 8][w // 2]
        need(c[3] == 255 and c[2] > c[0] + 40 or bpp == 1, '%dpx/%dbit: centre is not the tile' % (w, bpp))
        need(rows[0][0][3] == 0 and rows[h - 1][w - 1][3] == 0, '%dpx/%dbit: corners not transparent' % (w, bpp))

    cur = read_icon_file(os.path.join(HERE, 'hand.cur'), 2)
    need(len(cur) == 1, 'one cursor image')
    w, h, bpp, hx, hy, rows = cur[0]
    need((w, h) == (32, 32), 'cursor size %dx%d' % (w, h))
    need((hx, hy) == (HOT_X, HOT_Y), 'hot spot (%d, %d)' % (hx, hy))
    # the hot spot is the topmost opaque pixel of the drawing, in black outline
    need(rows[hy][hx] == (0, 0, 0, 255), 'hot spot pixel is not outline')
    need(all(p[3] == 0 for r in rows[:hy] for p in r), 'cursor has pixels above the tip')
    need(rows[hy + 2][hx] == (255, 255, 255, 255), 'fingertip is not filled white')
    # every white pixel must be fenced in by black or white (outline closed)
    for y in range(h):
        for x in range(w):
            if rows[y][x] == (255, 255, 255, 255):
                for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
                    need(0 <= x + dx < w and 0 <= y + dy < h and rows[y + dy][x + dx][3] == 255,
                         'white pixel (%d, %d) touches the background' % (x, y))

    sw, sh, splash = read_bmp24(os.path.join(HERE, 'splash.bmp'))
    need((sw, sh) == (420, 222), 'splash.bmp is %dx%d' % (sw, sh))
    aw, ah, about = read_bmp24(os.path.join(HERE, 'about.bmp'))
    need((aw, ah) == (115, 115), 'about.bmp is %dx%d' % (aw, ah))

    # the program writes red text on the top strip and bottom-left corner
    def mean_luma(rows, x0, y0, x1, y1):
        vals = [luma(rows[y][x]) for y in range(y0, y1) for x in range(x0, x1)]
        return sum(vals) / len(vals), min(vals)

    for area in ((0, 8, 420, 34), (0, 200, 210, 222)):
        mean, low = mean_luma(splash, *area)
        need(mean >= 110 and low >= 70, 'splash area %r too dark (mean %.0f, min %.0f)' % (area, mean, low))
    mean, _ = mean_luma(about, 0, 0, 6, 6)
    need(mean > 220, 'about.bmp background is not light')

    with open(os.path.join(HERE, 'app.rc'), 'rb') as f:
        need(max(f.read()) < 128, 'app.rc must stay ASCII')
    return icons, cur, splash, about


# ---------------------------------------------------------------------------
# PNG previews

def write_png(path, rows):
    h = len(rows)
    w = len(rows[0])
    raw = b''.join(b'\0' + bytes(v for p in row for v in p) for row in rows)

    def chunk(tag, body):
        return struct.pack('>I', len(body)) + tag + body + struct.pack('>I', zlib.crc32(tag + body) & 0xFFFFFFFF)

    png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
    png += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
    with open(path, 'wb') as f:
        f.write(png)


def on_checker(rows, scale, light=(255, 255, 255), dark=(205, 205, 205)):
    out = []
    for y, row in enumerate(rows):
        line = []
        for x, (r, g, b, a) in enumerate(row):
            bg = light if ((x * scale // 8) + (y * scale // 8)) % 2 == 0 else dark
            k = a / 255.0
            p = (byte(lerp(bg[0], r, k)), byte(lerp(bg[1], g, k)), byte(lerp(bg[2], b, k)), 255)
            line += [p] * scale
        out += [line] * scale
    return out


def write_previews(folder, icons, cur, splash, about):
    os.makedirs(folder, exist_ok=True)
    for w, _, bpp, _, _, rows in icons:
        write_png(os.path.join(folder, 'icon_%d_%dbit.png' % (w, bpp)), on_checker(rows, max(1, 256 // w)))
        for name, bg in (('dark', (32, 32, 32)), ('light', (250, 250, 250))):
            write_png(os.path.join(folder, 'icon_%d_%dbit_on_%s.png' % (w, bpp, name)),
                      on_checker(rows, max(1, 256 // w), bg, bg))
    rows = cur[0][5]
    for name, bg in (('dark', (40, 40, 48)), ('light', (235, 238, 242)), ('mid', (120, 150, 190))):
        write_png(os.path.join(folder, 'cursor_on_%s.png' % name), on_checker(rows, 10, bg, bg))
    write_png(os.path.join(folder, 'splash.png'), splash)
    write_png(os.path.join(folder, 'splash_x2.png'), on_checker(splash, 2))
    write_png(os.path.join(folder, 'about.png'), on_checker(about, 3))


# ---------------------------------------------------------------------------

def main(argv):
    preview = None
    if len(argv) == 2 and argv[0] == '--preview':
        preview = argv[1]
    elif argv:
        sys.stderr.write(__doc__)
        return 2
    splash = make_splash()
    about = make_about()
    splash_jpeg, blocks = jpeg_rgb(splash, SPLASH_QUALITY)
    files = [
        ('app.ico', make_icon()),
        ('hand.cur', make_cursor()),
        ('splash.bmp', bmp24(splash)),
        ('about.bmp', bmp24(about)),
        ('splash.jpg', splash_jpeg),
        ('about.png', png_image(about)),
        ('app.manifest.in', MANIFEST.encode('utf-8')),
        ('resource.h', RESOURCE_H.encode('ascii')),
        ('app.rc', make_rc().encode('ascii')),
    ]
    files += [('store/' + name, make_store_logo(n, at, side)) for name, n, at, side in STORE_LOGOS]
    os.makedirs(os.path.join(HERE, 'store'), exist_ok=True)
    for name, data in files:
        with open(os.path.join(HERE, name), 'wb') as f:
            f.write(data)
        print('%-29s %7d bytes' % (name, len(data)))
    try:
        checked = self_check()
        # Where a decoder's rounding differs from this, a few tenths of a dB.
        psnr = jpeg_psnr(splash, blocks, SPLASH_QUALITY)
        need(psnr >= 40.0, 'splash.jpg is %.1f dB from the drawing' % psnr)
        print('splash.jpg    %.1f dB from the drawing' % psnr)
    except CheckError as e:
        sys.stderr.write('self-check failed: %s\n' % e)
        return 1
    print('self-check passed')
    if preview:
        write_previews(preview, *checked)
        print('previews in', preview)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))

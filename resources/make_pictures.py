#!/usr/bin/python3
"""Draws the pictures of MorvaneShutdown.exe and writes its resource sources.

    resources/make_pictures.py                 # write all files, then check them
    resources/make_pictures.py --preview DIR   # also write PNG previews into DIR

The drawing is done here: the evening lake of the splash, the emblem (a white power
symbol on a rounded blue-to-teal tile) of the About window, the icon and the Store
logos, and the cursor's hand. Pillow encodes and decodes every picture: JPEG through
libjpeg-turbo, PNG and BMP, the icon's palettes; only the icon and cursor files are put
together here (see icon_bitmap for what Pillow's ICO writer cannot do).

Pillow is Debian's python3-pil, installed by scripts/deps.sh, and serves Debian's own
Python only: the first line names /usr/bin/python3, since another python3 (a pyenv
one, say) may come first on PATH without Pillow. So start the script as it stands,
resources/make_pictures.py, not through `python3`.

Files written next to this script (the build uses the committed ones; run this only to
change a picture):
    app.ico       application icon, 11 images: 16, 32, 48 px at 32/8/4 bit, 128 px at
                  32 bit (a PNG), 32 px at 1 bit
    hand.cur      pointing-hand cursor, 32 x 32, 1 bit, hot spot (9, 8)
    splash.bmp    420 x 222, 24 bit, evening lake for the splash window
    about.bmp     115 x 115, 24 bit, the emblem for the About window
    splash.jpg    splash.bmp as the program stores it, a JPEG (see SPLASH_JPEG)
    about.png     about.bmp as the program stores it, a PNG, the same pixels
    app.manifest.in  application manifest (CMake fills in the architecture)
    resource.h    resource ids, shared by the C++ code and the .rc file
    app.rc        resource script
    store/*.png   the Store package's logos (not linked into the program): the icon's
                  tile at 44, 50 and 150 pixels, on a transparent background

Floats only go through +, -, *, / and sqrt (all exactly rounded by IEEE 754), the noise
comes from a fixed-seed integer hash, and Pillow's encoders write no time stamps, so
every run on our toolchain (Debian 12) writes identical bytes.
"""

import io
import math
import os
import struct
import sys

try:
    from PIL import Image, ImageChops, ImageStat
    from PIL.IcoImagePlugin import IcoFile
except ImportError:
    sys.exit('make_pictures.py needs Pillow: install python3-pil (scripts/deps.sh) and start the '
             'script as resources/make_pictures.py, which runs it in /usr/bin/python3')

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
# encoding, by Pillow

def encoded(image, kind, **options):
    out = io.BytesIO()
    image.save(out, kind, **options)
    return out.getvalue()


def picture(rows, mode):
    """Rows of 8-bit pixel tuples (RGB or RGBA) as a Pillow image."""
    image = Image.new(mode, (len(rows[0]), len(rows)))
    image.putdata([p for row in rows for p in row])
    return image


def icon_bitmap(image, bits, mask):
    """One image of an icon or a cursor in BMP form, as Windows reads it: a
    BITMAPINFOHEADER with the height doubled and the fields icons do not use left 0,
    the colour table, the colours bottom-up, then the AND mask (a "1" image, set
    where the screen shows through). Pillow packs the rows.

    Pillow's own ICO writer does not serve: it writes no 4-bit images, a clear AND
    mask under palette images (their corners would not be see-through), none under
    32-bit ones, 0 planes, every image as PNG or every one as BMP; and it writes
    no cursors."""
    width, height = image.size

    def packed(im, raw, depth):
        return im.tobytes('raw', (raw, (width * depth + 31) // 32 * 4, -1))

    colours = packed(image, 'BGRA' if bits == 32 else 'P' if bits == 8 else 'P;%d' % bits, bits)
    and_mask = packed(mask, '1', 1)
    table = b'' if bits == 32 else bytes(image.getpalette('BGRX')[:4 << bits]).ljust(4 << bits, b'\0')
    header = struct.pack('<IiiHHIIiiII', 40, width, 2 * height, 1, bits, 0, len(colours) + len(and_mask), 0, 0, 0, 0)
    return header + table + colours + and_mask


def icon_file(kind, entries):
    """An icon (kind 1) or cursor (kind 2) file of (image, colour count, field1, field2,
    data): the fields are the planes and bit count of an icon image, the hot spot of a
    cursor's."""
    out = struct.pack('<HHH', 0, kind, len(entries))
    offset = 6 + 16 * len(entries)
    for image, colours, f1, f2, data in entries:
        out += struct.pack('<BBBBHHII', image.width & 255, image.height & 255, colours, 0, f1, f2, len(data), offset)
        offset += len(data)
    return out + b''.join(data for *_, data in entries)


def palette_image(rows, colours):
    """8-bit RGBA rows at `colours` colours: index 0 black, carried by the see-through
    pixels (under half covered); the rest fitted to the others by Pillow's median cut,
    refined by k-means until at most one pixel changes colour, without dithering.
    Returns the image and its mask."""
    opaque = [p[:3] for row in rows for p in row if p[3] >= 128]
    fitted = picture([opaque], 'RGB').quantize(colours - 1, Image.Quantize.MEDIANCUT, kmeans=1,
                                                dither=Image.Dither.NONE)
    index = iter(fitted.getdata())
    image = picture([[next(index) + 1 if p[3] >= 128 else 0 for p in row] for row in rows], 'P')
    image.putpalette([0, 0, 0] + fitted.getpalette()[:3 * (colours - 1)])
    return image, picture([[255 if p[3] < 128 else 0 for p in row] for row in rows], '1')


def two_colour(rows, white, clear):
    """A black-and-white palette image and its mask from rows of pixels and two tests."""
    image = picture([[1 if white(p) else 0 for p in row] for row in rows], 'P')
    image.putpalette([0, 0, 0, 255, 255, 255])
    return image, picture([[255 if clear(p) else 0 for p in row] for row in rows], '1')


# ---------------------------------------------------------------------------
# the icon and the Store's logos

def emblem_rgba(n, at, side):
    """The emblem on a transparent n x n square, 8-bit RGBA, fully see-through pixels black."""
    rows = draw_emblem(n, n, at, at, side)
    pixels = [[(byte(r), byte(g), byte(b), byte(a * 255.0)) for r, g, b, a in row] for row in rows]
    return [[p if p[3] else (0, 0, 0, 0) for p in row] for row in pixels]


def make_icon():
    entries = []
    rows = {}
    for n in (16, 32, 48, 128):
        m = int(n / 32 + 0.5) if n > 16 else 0
        rows[n] = emblem_rgba(n, m, n - 2 * m)
        image = picture(rows[n], 'RGBA')
        # The largest image is stored as a PNG (Windows reads PNG icon images since
        # Vista): the same pixels in a fifth of the bytes. Its mask is its alpha.
        # The others' AND mask is set only where a pixel is fully transparent, so
        # drawing without alpha (mask + colour) shows the whole tile with no XOR-ed
        # fringe around the rounded corners.
        data = encoded(image, 'PNG', optimize=True) if n == 128 else \
            icon_bitmap(image, 32, picture([[255 if p[3] == 0 else 0 for p in row] for row in rows[n]], '1'))
        entries.append((image, 0, 1, 32, data))
    for bits in (8, 4):
        for n in (16, 32, 48):
            image, mask = palette_image(rows[n], 1 << bits)
            entries.append((image, 0 if bits == 8 else 16, 1, bits, icon_bitmap(image, bits, mask)))
    # monochrome: black tile with the white symbol, transparent around it
    image, mask = two_colour(rows[32], lambda p: p[3] >= 128 and sum(p[:3]) >= 3 * 200, lambda p: p[3] < 128)
    entries.append((image, 2, 1, 1, icon_bitmap(image, 1, mask)))
    return icon_file(1, entries)


# The Store package's logos: the app icon (44) and the Store's logo (50) drawn as the
# icon is; the medium tile (150) with the emblem at half its width, the tile's colour
# left to the package manifest.
STORE_LOGOS = (('Square44x44Logo.png', 44, 1, 42), ('StoreLogo.png', 50, 2, 46),
               ('Square150x150Logo.png', 150, 37, 76))


def make_store_logo(n, at, side):
    return encoded(picture(emblem_rgba(n, at, side), 'RGBA'), 'PNG', optimize=True)


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
    image, mask = two_colour(make_cursor_pixels(), lambda c: c == 'o', lambda c: c == '.')
    return icon_file(2, [(image, 2, HOT_X, HOT_Y, icon_bitmap(image, 1, mask))])


# ---------------------------------------------------------------------------
# 24-bit pictures

# The splash as the program stores it: quality 90 on IJG's scale (the standard tables,
# so about 40 dB from the drawing, see self_check), colour at full resolution,
# baseline, Huffman tables made for the picture.
SPLASH_JPEG = dict(quality=90, subsampling=0, optimize=True, progressive=False)


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
# reading the files back, by Pillow

class CheckError(Exception):
    pass


def need(cond, what):
    if not cond:
        raise CheckError(what)


def read_icons(path):
    """(width, field1, field2, RGBA image) of each image of an icon file, the fields its
    planes and bit count; or of a cursor file, the fields its hot spot. Pillow's cursor
    reader leaves out the mask, so a cursor is read as an icon (its hot spot's y below 32
    sends Pillow to the AND mask, as a palette image's bit count does)."""
    with open(path, 'rb') as f:
        data = f.read()
    icons = IcoFile(io.BytesIO(b'\0\0\1\0' + data[4:]))
    return [(e['width'], e['planes'], e['bpp'], icons.frame(i).convert('RGBA')) for i, e in enumerate(icons.entry)]


def psnr(a, b):
    """The peak signal to noise ratio of two RGB pictures in dB, over all three channels."""
    squares = sum(ImageStat.Stat(ImageChops.difference(a, b)).sum2)
    return 10 * math.log10(255 * 255 * 3 * a.width * a.height / squares)


def self_check(splash_drawn, about_drawn):
    icons = read_icons(os.path.join(HERE, 'app.ico'))
    got = [(w, bpp) for w, planes, bpp, _ in icons if planes == 1]
    want = [(16, 32), (32, 32), (48, 32), (128, 32), (16, 8), (32, 8), (48, 8),
            (16, 4), (32, 4), (48, 4), (32, 1)]
    need(sorted(got) == sorted(want), 'app.ico holds %r' % got)
    for w, _, bpp, image in icons:
        need(image.size == (w, w), '%dpx/%dbit: not square' % (w, bpp))
        # the symbol is white in the middle and the corners are see-through
        c = image.getpixel((w // 2, w // 2 + w // 4))
        need(c[3] == 255 and min(c[:3]) >= 200, '%dpx/%dbit: no white ring at the bottom' % (w, bpp))
        c = image.getpixel((w // 2, w // 2 + w // 8))
        need(c[3] == 255 and c[2] > c[0] + 40 or bpp == 1, '%dpx/%dbit: centre is not the tile' % (w, bpp))
        need(image.getpixel((0, 0))[3] == 0 and image.getpixel((w - 1, w - 1))[3] == 0,
             '%dpx/%dbit: corners not transparent' % (w, bpp))

    cur = read_icons(os.path.join(HERE, 'hand.cur'))
    need(len(cur) == 1 and cur[0][3].size == (32, 32), 'one cursor image, 32 x 32')
    _, hx, hy, image = cur[0]
    need((hx, hy) == (HOT_X, HOT_Y), 'hot spot (%d, %d)' % (hx, hy))
    pixel = {(x, y): image.getpixel((x, y)) for x in range(32) for y in range(32)}
    # the hot spot is the topmost opaque pixel of the drawing, in black outline
    need(pixel[hx, hy] == (0, 0, 0, 255), 'hot spot pixel is not outline')
    need(all(pixel[x, y][3] == 0 for x in range(32) for y in range(hy)), 'cursor has pixels above the tip')
    need(pixel[hx, hy + 2] == (255, 255, 255, 255), 'fingertip is not filled white')
    # every white pixel must be fenced in by black or white (outline closed)
    for (x, y), p in pixel.items():
        if p == (255, 255, 255, 255):
            need(all(pixel.get((x + dx, y + dy), (0, 0, 0, 0))[3] == 255 for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1))),
                 'white pixel (%d, %d) touches the background' % (x, y))

    splash = Image.open(os.path.join(HERE, 'splash.bmp')).convert('RGB')
    need(splash.size == (420, 222) and ImageChops.difference(splash, splash_drawn).getbbox() is None,
         'splash.bmp is not the drawing')
    about = Image.open(os.path.join(HERE, 'about.bmp')).convert('RGB')
    need(about.size == (115, 115) and ImageChops.difference(about, about_drawn).getbbox() is None,
         'about.bmp is not the drawing')
    # the program writes red text on the top strip and bottom-left corner
    for area in ((0, 8, 420, 34), (0, 200, 210, 222)):
        luma = ImageStat.Stat(splash.crop(area).convert('L'))
        need(luma.mean[0] >= 110 and luma.extrema[0][0] >= 70,
             'splash area %r too dark (mean %.0f, min %d)' % (area, luma.mean[0], luma.extrema[0][0]))
    need(ImageStat.Stat(about.crop((0, 0, 6, 6)).convert('L')).mean[0] > 220, 'about.bmp background is not light')

    need(ImageChops.difference(Image.open(os.path.join(HERE, 'about.png')).convert('RGB'), about).getbbox() is None,
         'about.png is not about.bmp')
    # Where another decoder's rounding differs from Pillow's, a few tenths of a dB.
    jpeg = Image.open(os.path.join(HERE, 'splash.jpg'))
    need(jpeg.size == splash.size, 'splash.jpg is %dx%d' % jpeg.size)
    decibels = psnr(jpeg.convert('RGB'), splash)
    need(decibels >= 40.0, 'splash.jpg is %.1f dB from the drawing' % decibels)
    print('splash.jpg %.1f dB from the drawing' % decibels)

    with open(os.path.join(HERE, 'app.rc'), 'rb') as f:
        need(max(f.read()) < 128, 'app.rc must stay ASCII')
    return icons, image, splash, about


# ---------------------------------------------------------------------------
# PNG previews

def on_ground(image, scale, *colours):
    """The image scaled up, laid on a checkerboard of the colours (one colour: a plain ground)."""
    w, h = image.width * scale, image.height * scale
    ground = Image.new('RGBA', (w, h))
    ground.putdata([colours[(x // 8 + y // 8) % len(colours)] for y in range(h) for x in range(w)])
    return Image.alpha_composite(ground, image.convert('RGBA').resize((w, h), Image.Resampling.NEAREST))


def write_previews(folder, icons, cursor, splash, about):
    os.makedirs(folder, exist_ok=True)
    checker = ((255, 255, 255, 255), (205, 205, 205, 255))
    grounds = {'dark': (32, 32, 32, 255), 'light': (250, 250, 250, 255), 'mid': (120, 150, 190, 255)}
    previews = {'splash.png': splash, 'splash_x2.png': on_ground(splash, 2, *checker),
                'about.png': on_ground(about, 3, *checker)}
    for w, _, bpp, image in icons:
        previews['icon_%d_%dbit.png' % (w, bpp)] = on_ground(image, max(1, 256 // w), *checker)
        for name in ('dark', 'light'):
            previews['icon_%d_%dbit_on_%s.png' % (w, bpp, name)] = on_ground(image, max(1, 256 // w), grounds[name])
    for name, ground in grounds.items():
        previews['cursor_on_%s.png' % name] = on_ground(cursor, 10, ground)
    for name, image in previews.items():
        image.save(os.path.join(folder, name))


# ---------------------------------------------------------------------------

def main(argv):
    preview = None
    if len(argv) == 2 and argv[0] == '--preview':
        preview = argv[1]
    elif argv:
        sys.stderr.write(__doc__)
        return 2
    splash = picture(make_splash(), 'RGB')
    about = picture(make_about(), 'RGB')
    files = [
        ('app.ico', make_icon()),
        ('hand.cur', make_cursor()),
        ('splash.bmp', encoded(splash, 'BMP')),
        ('about.bmp', encoded(about, 'BMP')),
        ('splash.jpg', encoded(splash, 'JPEG', **SPLASH_JPEG)),
        ('about.png', encoded(about, 'PNG', optimize=True)),
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
        checked = self_check(splash, about)
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

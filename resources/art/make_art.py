#!/usr/bin/env python3
"""Generates the Velmo-Starter artwork into resources/images/.

Everything is drawn procedurally with Pillow (shapes, gradients, soft masks);
no source pictures are needed.  Run from the repository root:

    python3 resources/art/make_art.py

The output is deterministic (fixed random starting values), so regenerating without
changes to this file reproduces the committed files byte for byte.
"""

import math
import os
import random
import struct
import sys

try:
    from PIL import Image, ImageChops, ImageDraw, ImageFilter, ImageFont, ImageMath
except ImportError:  # pragma: no cover - developer convenience only
    # A python3 from pyenv/venv may lack Pillow while the system one has it.
    if os.path.exists("/usr/bin/python3") and os.path.realpath(sys.executable) != os.path.realpath("/usr/bin/python3") \
            and not os.environ.get("VELMO_ART_REEXEC"):
        os.environ["VELMO_ART_REEXEC"] = "1"
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    sys.exit("make_art.py needs Pillow (Debian: apt-get install python3-pil, or pip install pillow)")

LANCZOS = Image.Resampling.LANCZOS
HERE = os.path.dirname(os.path.abspath(__file__))
OUT_DIR = os.path.normpath(os.path.join(HERE, "..", "images"))

# ---------------------------------------------------------------------------
# Fonts
# ---------------------------------------------------------------------------

FONT_DIRS = [
    "/usr/share/fonts/opentype/urw-base35",
    "/usr/share/fonts/truetype/urw-base35",
    "/usr/share/fonts/truetype/dejavu",
    "/usr/share/fonts/truetype/liberation",
]


def find_font(*names):
    """First existing font file of `names` (searched in the usual Debian font dirs)."""
    for name in names:
        for d in FONT_DIRS:
            p = os.path.join(d, name)
            if os.path.exists(p):
                return p
    sys.exit("no usable font found among %s (install fonts-urw-base35 or fonts-dejavu-core)" % (names,))


SERIF_BOLD = ("P052-Bold.otf", "C059-Bold.otf", "LiberationSerif-Bold.ttf", "DejaVuSerif-Bold.ttf")
TITLE_FONT = ("NimbusRoman-Bold.otf", "P052-Bold.otf", "LiberationSerif-Bold.ttf", "DejaVuSerif-Bold.ttf")
SMALL_CAPS_FONT = ("NimbusRoman-Bold.otf", "LiberationSerif-Bold.ttf", "DejaVuSerifCondensed-Bold.ttf")

# ---------------------------------------------------------------------------
# Colour helpers
# ---------------------------------------------------------------------------


def mix(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


def lighten(c, t):
    return mix(c, (255, 255, 255), t)


def darken(c, t):
    return mix(c, (0, 0, 0), t)


def ramp_lut(stops):
    """Three 256-entry lookup tables for a multi-stop colour ramp [(pos 0..1, rgb), ...]."""
    stops = sorted(stops, key=lambda s: s[0])
    lr, lg, lb = [], [], []
    for i in range(256):
        p = i / 255.0
        if p <= stops[0][0]:
            c = stops[0][1]
        elif p >= stops[-1][0]:
            c = stops[-1][1]
        else:
            for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
                if p0 <= p <= p1:
                    t = 0.0 if p1 == p0 else (p - p0) / (p1 - p0)
                    t = t * t * (3 - 2 * t)  # smoothstep: softer, painterly transitions
                    c = mix(c0, c1, t)
                    break
        lr.append(c[0])
        lg.append(c[1])
        lb.append(c[2])
    return lr, lg, lb


def colorize(t, stops):
    lr, lg, lb = ramp_lut(stops)
    return Image.merge("RGB", (t.point(lr), t.point(lg), t.point(lb)))


def scale_mask(m, f):
    return m.point(lambda v: max(0, min(255, int(v * f + 0.5))))


def m_mul(a, b):
    return ImageChops.multiply(a, b)


def m_add(a, b):
    return ImageChops.lighter(a, b)


def m_sub(a, b):
    return ImageChops.subtract(a, b)


def m_inv(a):
    return ImageChops.invert(a)


def spline(pts, closed=True, n=12):
    """Catmull-Rom curve through `pts`."""
    out = []
    N = len(pts)
    if N < 3:
        return list(pts)
    segs = range(N) if closed else range(N - 1)
    for i in segs:
        if closed:
            p0, p1, p2, p3 = pts[(i - 1) % N], pts[i], pts[(i + 1) % N], pts[(i + 2) % N]
        else:
            p0, p1, p2, p3 = pts[max(i - 1, 0)], pts[i], pts[i + 1], pts[min(i + 2, N - 1)]
        for k in range(n):
            t = k / float(n)
            t2, t3 = t * t, t * t * t
            x = 0.5 * ((2 * p1[0]) + (-p0[0] + p2[0]) * t + (2 * p0[0] - 5 * p1[0] + 4 * p2[0] - p3[0]) * t2
                       + (-p0[0] + 3 * p1[0] - 3 * p2[0] + p3[0]) * t3)
            y = 0.5 * ((2 * p1[1]) + (-p0[1] + p2[1]) * t + (2 * p0[1] - 5 * p1[1] + 4 * p2[1] - p3[1]) * t2
                       + (-p0[1] + 3 * p1[1] - 3 * p2[1] + p3[1]) * t3)
            out.append((x, y))
    if not closed:
        out.append(pts[-1])
    return out


_RADIAL = None


def radial_source():
    """512x512 L image: 0 in the centre, 255 on the inscribed circle and beyond."""
    global _RADIAL
    if _RADIAL is None:
        n = 512
        data = []
        for y in range(n):
            dy = (y + 0.5 - n / 2) / (n / 2)
            for x in range(n):
                dx = (x + 0.5 - n / 2) / (n / 2)
                data.append(min(255, int(math.sqrt(dx * dx + dy * dy) * 255 + 0.5)))
        _RADIAL = Image.new("L", (n, n))
        _RADIAL.putdata(data)
    return _RADIAL


# ---------------------------------------------------------------------------
# Canvas: a supersampled RGB picture addressed in design units (0..100 both ways)
# ---------------------------------------------------------------------------


class Canvas:
    def __init__(self, w, h, ss=4, bg=(0, 0, 0)):
        self.w, self.h, self.ss = w, h, ss
        self.W, self.H = w * ss, h * ss
        self.kx = self.W / 100.0
        self.ky = self.H / 100.0
        self.img = Image.new("RGB", (self.W, self.H), bg)

    # -- coordinates -----------------------------------------------------
    def pt(self, x, y):
        return (x * self.kx, y * self.ky)

    def pts(self, seq):
        return [self.pt(x, y) for x, y in seq]

    def px(self, units):
        return units * (self.kx + self.ky) / 2.0

    def blank(self, v=0):
        return Image.new("L", (self.W, self.H), v)

    def soften(self, m, blur):
        if blur > 0:
            m = m.filter(ImageFilter.GaussianBlur(self.px(blur)))
        return m

    # -- masks -----------------------------------------------------------
    def ellipse(self, cx, cy, rx, ry, rot=0.0, blur=0.0):
        if rot:
            a = math.radians(rot)
            ca, sa = math.cos(a), math.sin(a)
            seq = []
            for i in range(96):
                t = 2 * math.pi * i / 96
                ex, ey = rx * math.cos(t), ry * math.sin(t)
                seq.append((cx + ex * ca - ey * sa, cy + ex * sa + ey * ca))
            return self.poly(seq, blur=blur, smooth=False)
        m = self.blank()
        x0, y0 = self.pt(cx - rx, cy - ry)
        x1, y1 = self.pt(cx + rx, cy + ry)
        ImageDraw.Draw(m).ellipse([x0, y0, x1, y1], fill=255)
        return self.soften(m, blur)

    def rect(self, x0, y0, x1, y1, blur=0.0):
        m = self.blank()
        ImageDraw.Draw(m).rectangle([self.pt(x0, y0), self.pt(x1, y1)], fill=255)
        return self.soften(m, blur)

    def poly(self, seq, blur=0.0, smooth=True, n=12):
        if smooth:
            seq = spline(seq, closed=True, n=n)
        m = self.blank()
        ImageDraw.Draw(m).polygon(self.pts(seq), fill=255)
        return self.soften(m, blur)

    def taper(self, seq, w0, w1, wmid=None, blur=0.0, n=12):
        """Filled stroke along a smooth curve whose width goes w0 -> wmid -> w1."""
        if wmid is None:
            wmid = (w0 + w1) / 2.0
        P = spline(seq, closed=False, n=n) if len(seq) > 2 else [
            (seq[0][0] + (seq[1][0] - seq[0][0]) * k / 8.0, seq[0][1] + (seq[1][1] - seq[0][1]) * k / 8.0)
            for k in range(9)]
        left, right = [], []
        N = len(P)
        for i, (x, y) in enumerate(P):
            t = i / float(N - 1)
            w = (w0 + (wmid - w0) * (t / 0.5)) if t < 0.5 else (wmid + (w1 - wmid) * ((t - 0.5) / 0.5))
            a = P[max(i - 1, 0)]
            b = P[min(i + 1, N - 1)]
            tx, ty = b[0] - a[0], b[1] - a[1]
            ln = math.hypot(tx, ty) or 1.0
            nx, ny = -ty / ln, tx / ln
            left.append((x + nx * w / 2, y + ny * w / 2))
            right.append((x - nx * w / 2, y - ny * w / 2))
        m = self.blank()
        d = ImageDraw.Draw(m)
        d.polygon(self.pts(left + right[::-1]), fill=255)
        # round caps
        for (x, y), w in ((P[0], w0), (P[-1], w1)):
            if w > 0.05:
                d.ellipse([self.pt(x - w / 2, y - w / 2), self.pt(x + w / 2, y + w / 2)], fill=255)
        return self.soften(m, blur)

    # -- ramps (L images, 0..255) ----------------------------------------
    def lin(self, x0, y0, x1, y1):
        X0, Y0 = self.pt(x0, y0)
        X1, Y1 = self.pt(x1, y1)
        dx, dy = X1 - X0, Y1 - Y0
        L2 = dx * dx + dy * dy or 1.0
        row = Image.new("F", (self.W, 1))
        row.putdata([(x + 0.5 - X0) * dx / L2 for x in range(self.W)])
        col = Image.new("F", (1, self.H))
        col.putdata([(y + 0.5 - Y0) * dy / L2 for y in range(self.H)])
        a = row.resize((self.W, self.H), Image.NEAREST)
        b = col.resize((self.W, self.H), Image.NEAREST)
        return ImageMath.eval("convert(min(max((a+b)*255.0, 0.0), 255.0), 'L')", a=a, b=b)

    def rad(self, cx, cy, rx, ry):
        X0, Y0 = self.pt(cx - rx, cy - ry)
        X1, Y1 = self.pt(cx + rx, cy + ry)
        w, h = max(2, int(round(X1 - X0))), max(2, int(round(Y1 - Y0)))
        m = self.blank(255)
        m.paste(radial_source().resize((w, h), Image.BILINEAR), (int(round(X0)), int(round(Y0))))
        return m

    # -- painting --------------------------------------------------------
    def paint(self, mask, fill, op=1.0):
        if op < 1.0:
            mask = scale_mask(mask, op)
        if isinstance(fill, tuple):
            self.img.paste(fill, (0, 0, self.W, self.H), mask)
        else:
            self.img.paste(fill, (0, 0), mask)

    def shade(self, mask, ramp, color, op=1.0):
        """Paint `color` inside `mask`, weighted by `ramp` (0 = none, 255 = full)."""
        self.paint(m_mul(mask, ramp), color, op)

    def rim(self, mask, width, color, op=1.0):
        """Darken/lighten the inner border of a shape (soft ambient occlusion)."""
        inner = self.soften(mask, width)
        edge = m_mul(mask, m_inv(inner))
        self.paint(scale_mask(edge, 2.0), color, op)

    def flow(self, region, base, n, box, angle, length=(3, 7), width=(0.3, 0.8), curl=0.35, light=0.45, dark=0.5,
             op=0.5):
        """Short curved strands scattered over `box`, each pointing along angle(x, y) in degrees."""
        x0, y0, x1, y1 = box
        for i in range(n):
            x, y = self.rng.uniform(x0, x1), self.rng.uniform(y0, y1)
            a = math.radians(angle(x, y) + self.rng.uniform(-12, 12))
            ln = self.rng.uniform(*length)
            bend = self.rng.uniform(-curl, curl) * ln
            mx, my = x + math.cos(a) * ln / 2 - math.sin(a) * bend, y + math.sin(a) * ln / 2 + math.cos(a) * bend
            ex, ey = x + math.cos(a) * ln, y + math.sin(a) * ln
            r = self.rng.random()
            c = lighten(base, light) if r < 0.45 else darken(base, dark)
            wd = self.rng.uniform(*width)
            self.paint(m_mul(region, self.taper([(x, y), (mx, my), (ex, ey)], wd * 0.4, 0.05, wd, blur=0.15)), c,
                       op * self.rng.uniform(0.6, 1.0))

    def mail_rows(self, mask, base, y0, y1, step=2.6, bow=1.2):
        """Chain mail suggested by rows of lit ring tops and dark gaps (reads even when tiny)."""
        dark, lit = self.blank(), self.blank()
        dd, dl = ImageDraw.Draw(dark), ImageDraw.Draw(lit)
        wd = max(1, int(self.px(0.7)))
        y = y0
        while y < y1:
            seq = [(x, y + bow * ((x - 50) / 50.0) ** 2 * 4) for x in range(-4, 106, 3)]
            dd.line(self.pts(seq), fill=255, width=wd)
            dl.line(self.pts([(x, yy - 0.9) for x, yy in seq]), fill=255, width=wd)
            # ring breaks so the rows do not read as plain stripes
            for x in range(-4, 106, 2):
                xo = x + (1 if int((y - y0) / step) % 2 else 0)
                px, py = self.pt(xo, y - 0.5 + bow * ((xo - 50) / 50.0) ** 2 * 4)
                dd.line([(px, py - self.px(0.9)), (px, py + self.px(0.2))], fill=255, width=wd)
            y += step
        self.paint(m_mul(mask, dark), darken(base, 0.7), 0.7)
        self.paint(m_mul(mask, lit), lighten(base, 0.45), 0.55)

    def moustache(self, cx, y, mw, droop, thick, color):
        """Two drooping moustache lobes starting under the nose at height `y`."""
        for s in (-1, 1):
            m = self.taper([(cx + s * 0.2, y), (cx + s * mw * 0.55, y + thick * 0.35), (cx + s * mw, y + droop)],
                           thick * 0.8, 0.5, thick * 1.15, blur=0.15)
            self.paint(m, colorize(self.lin(0, y - thick / 2, 0, y + droop),
                                   [(0, lighten(color, 0.3)), (0.6, color), (1, darken(color, 0.45))]))
            self.rim(m, 0.8, darken(color, 0.6), 0.5)
            self.paint(m_mul(m, self.taper([(cx + s * 1.2, y - thick * 0.15), (cx + s * mw * 0.6, y + thick * 0.1)],
                                            0.5, 0.3, blur=0.3)), lighten(color, 0.5), 0.5)

    def metal(self, mask, base, light=(30, 20), to=(70, 80), shine=0.55, rimw=2.0, op=1.0):
        t = self.lin(light[0], light[1], to[0], to[1])
        self.paint(mask, colorize(t, [(0, lighten(base, shine)), (0.3, lighten(base, 0.15)), (0.55, base),
                                      (0.75, darken(base, 0.5)), (0.9, darken(base, 0.2)), (1, darken(base, 0.6))]), op)
        self.rim(mask, rimw, darken(base, 0.75), 0.6)

    def result(self):
        return self.img.resize((self.w, self.h), LANCZOS)


# ---------------------------------------------------------------------------
# Portraits
# ---------------------------------------------------------------------------

SKIN = {
    "fair": ((246, 212, 184), (226, 176, 142), (160, 102, 78)),
    "warm": ((238, 196, 160), (212, 156, 118), (138, 86, 60)),
    "ruddy": ((236, 182, 150), (206, 140, 108), (130, 74, 56)),
    "old": ((232, 190, 165), (200, 148, 122), (120, 76, 62)),
    "pale": ((248, 222, 200), (228, 188, 160), (160, 112, 92)),
}


class Portrait(Canvas):
    """A bust in the Velmoria miniature style; design space is 100 x 100."""

    def __init__(self, w, h, salt):
        Canvas.__init__(self, w, h, ss=4)
        self.rng = random.Random(salt)

    # -- backdrop ----------------------------------------------------------
    def backdrop(self, centre, edge, halo=None, halo_at=(50, 38)):
        t = self.rad(48, 36, 78, 82)
        self.paint(self.blank(255), colorize(t, [(0.0, centre), (0.55, mix(centre, edge, 0.55)), (1.0, edge)]))
        if halo:
            hx, hy = halo_at
            self.paint(self.ellipse(hx, hy, 34, 34, blur=14), halo, 0.55)
        # faint painterly mottling
        for _ in range(14):
            x, y = self.rng.uniform(0, 100), self.rng.uniform(0, 80)
            r = self.rng.uniform(8, 18)
            c = lighten(centre, 0.12) if self.rng.random() < 0.5 else darken(edge, 0.2)
            self.paint(self.ellipse(x, y, r, r * 0.8, blur=6), c, 0.18)
        # dark corners
        v = self.rad(50, 45, 75, 72)
        self.paint(v.point(lambda p: max(0, (p - 150) * 2)), (4, 4, 8), 0.85)

    # -- body --------------------------------------------------------------
    def shoulders(self, top=72, width=46, slope=10, drop=0.0):
        """Mask of a bust's shoulders; `top` is where the neck meets the shoulders."""
        cx = 50
        seq = [(cx - width - 14, 112), (cx - width - 4, top + slope + 10 + drop), (cx - width + 8, top + slope * 0.55),
               (cx - 14, top), (cx, top - 1.5), (cx + 14, top), (cx + width - 8, top + slope * 0.55),
               (cx + width + 4, top + slope + 10 + drop), (cx + width + 14, 112)]
        return self.poly(seq)

    def cloth(self, mask, base, light_from=(30, 70), to=(80, 100), hi=0.25, lo=0.55):
        t = self.lin(light_from[0], light_from[1], to[0], to[1])
        self.paint(mask, colorize(t, [(0, lighten(base, hi)), (0.45, base), (1, darken(base, lo))]))
        self.rim(mask, 3, darken(base, 0.7), 0.55)

    def folds(self, lines, mask, color, width=1.6, op=0.45, blur=1.2):
        for seq in lines:
            self.paint(m_mul(mask, self.taper(seq, width * 0.3, width * 0.2, width, blur=blur)), color, op)

    def neck(self, cx, top, bottom, half, skin, shadow_y=None):
        light, mid, dark = skin
        m = self.poly([(cx - half, top), (cx + half, top), (cx + half * 1.12, bottom), (cx - half * 1.12, bottom)],
                      smooth=False)
        t = self.lin(cx - half, 0, cx + half, 0)
        self.paint(m, colorize(t, [(0, mid), (0.5, mix(light, mid, 0.5)), (1, dark)]))
        # shadow under the jaw
        sy = top + 4 if shadow_y is None else shadow_y
        self.paint(m_mul(m, self.ellipse(cx + 1, sy, half * 1.5, 5, blur=2.5)), darken(dark, 0.25), 0.75)
        return m

    # -- head ----------------------------------------------------------------
    def head_mask(self, cx, cy, w, h, jaw=0.82, chin=0.38):
        seq = [(cx, cy - h), (cx + w * 0.72, cy - h * 0.82), (cx + w, cy - h * 0.2), (cx + w * 0.96, cy + h * 0.25),
               (cx + w * jaw, cy + h * 0.6), (cx + w * chin, cy + h * 0.92), (cx, cy + h),
               (cx - w * chin, cy + h * 0.92), (cx - w * jaw, cy + h * 0.6), (cx - w * 0.96, cy + h * 0.25),
               (cx - w, cy - h * 0.2), (cx - w * 0.72, cy - h * 0.82)]
        return self.poly(seq)

    def ears(self, cx, cy, w, skin, dy=2.0, size=1.0):
        light, mid, dark = skin
        for s in (-1, 1):
            ex = cx + s * (w - 0.6)
            m = self.ellipse(ex, cy + dy, 3.0 * size, 5.2 * size, rot=s * 8)
            self.paint(m, mid if s < 0 else mix(mid, dark, 0.45))
            self.paint(m_mul(m, self.ellipse(ex + s * 0.5, cy + dy + 0.5, 1.4 * size, 3.2 * size, blur=0.8)),
                       dark, 0.6)

    def face(self, cx, cy, w, h, skin, jaw=0.82, chin=0.38, blush=None, age=0.0):
        light, mid, dark = skin
        m = self.head_mask(cx, cy, w, h, jaw, chin)
        t = self.rad(cx - w * 0.3, cy - h * 0.25, w * 1.9, h * 1.6)
        self.paint(m, colorize(t, [(0, lighten(light, 0.12)), (0.35, light), (0.75, mid), (1, dark)]))
        # form shadow on the side away from the light (light comes from the upper left)
        self.shade(m, self.lin(cx + w * 0.15, 0, cx + w * 1.05, 0), dark, 0.55)
        # under-chin / jaw shading
        self.shade(m, self.lin(0, cy + h * 0.45, 0, cy + h * 1.0), dark, 0.35)
        # forehead highlight and cheekbone highlight
        self.paint(m_mul(m, self.ellipse(cx - w * 0.25, cy - h * 0.55, w * 0.45, h * 0.22, blur=3)),
                   lighten(light, 0.35), 0.35)
        self.paint(m_mul(m, self.ellipse(cx - w * 0.45, cy + h * 0.18, w * 0.22, h * 0.14, blur=2.5)),
                   lighten(light, 0.3), 0.35)
        if blush:
            for s in (-1, 1):
                self.paint(m_mul(m, self.ellipse(cx + s * w * 0.5, cy + h * 0.3, w * 0.24, h * 0.13, blur=2.5)),
                           blush, 0.35)
        self.rim(m, 2.5, dark, 0.45)
        if age > 0:
            self.wrinkles(cx, cy, w, h, skin, age)
        return m

    def wrinkles(self, cx, cy, w, h, skin, age):
        dark = skin[2]
        op = 0.35 * age
        for k in range(3):  # forehead lines
            y = cy - h * (0.45 + k * 0.11)
            self.paint(self.taper([(cx - w * 0.45, y + 0.6), (cx, y - 0.3), (cx + w * 0.45, y + 0.6)], 0.1, 0.1, 0.7,
                                  blur=0.4), dark, op)
        for s in (-1, 1):  # nasolabial folds
            self.paint(self.taper([(cx + s * w * 0.2, cy + h * 0.25), (cx + s * w * 0.33, cy + h * 0.45),
                                   (cx + s * w * 0.32, cy + h * 0.62)], 0.2, 0.1, 0.9, blur=0.6), dark, op * 1.3)
            # crow's feet
            ex = cx + s * w * 0.62
            for a in (-20, 0, 20):
                r = math.radians(a)
                self.paint(self.taper([(ex, cy + h * 0.02), (ex + s * 2.4 * math.cos(r), cy + h * 0.02 + 2.4 * math.sin(r))],
                                      0.4, 0.1, blur=0.3), dark, op)

    def eyes(self, cx, cy, w, h, iris=(70, 100, 60), lash=1.0, brow=None, brow_w=1.8, brow_tilt=0.0, skin=None,
             size=1.0, lid=0.0, socket=0.4):
        """Eyes, lids and brows. `lid` lowers the upper lid (0..1), `brow_tilt` > 0 frowns."""
        dx = w * 0.40
        ey = cy + h * 0.02
        rx, ry = w * 0.19 * size, h * 0.085 * size
        dark = skin[2] if skin else (120, 70, 50)
        for s in (-1, 1):
            ex = cx + s * dx
            # socket shadow
            self.paint(self.ellipse(ex + s * 0.3, ey - ry * 0.6, rx * 1.5, ry * 2.4, blur=2.2), dark, socket)
            top = ey - ry * (1.0 - lid * 0.9)
            white_seq = [(ex - rx, ey), (ex - rx * 0.4, top - ry * 0.05), (ex + rx * 0.35, top), (ex + rx, ey + ry * 0.05),
                         (ex + rx * 0.3, ey + ry * 0.85), (ex - rx * 0.4, ey + ry * 0.8)]
            if s > 0:
                white_seq = [(2 * ex - x, y) for x, y in white_seq]
            wm = self.poly(white_seq, n=8)
            self.paint(wm, (236, 230, 222) if s < 0 else (205, 196, 190))
            ir = ry * 1.05
            im = m_mul(wm, self.ellipse(ex + s * rx * 0.05, ey + ry * 0.05, ir, ir))
            self.paint(im, colorize(self.lin(0, ey - ir, 0, ey + ir), [(0, darken(iris, 0.45)), (1, lighten(iris, 0.15))]))
            self.paint(m_mul(wm, self.ellipse(ex + s * rx * 0.05, ey + ry * 0.05, ir * 0.5, ir * 0.5)), (12, 10, 10))
            self.paint(m_mul(wm, self.ellipse(ex - ir * 0.35, ey - ir * 0.35, ir * 0.28, ir * 0.28)), (255, 255, 255), 0.9)
            # lid shadow over the white
            self.paint(m_mul(wm, self.ellipse(ex, top - ry * 0.2, rx * 1.1, ry * 0.7, blur=0.6)), (60, 40, 35), 0.45)
            # upper lid line / lashes
            lseq = [(ex - rx * 1.05, ey + ry * 0.1), (ex - rx * 0.4, top - ry * 0.1), (ex + rx * 0.4, top),
                    (ex + rx * 1.1, ey + ry * 0.15)]
            if s > 0:
                lseq = [(2 * ex - x, y) for x, y in lseq]
            self.paint(self.taper(lseq, 0.3 * lash, 0.6 * lash, 0.9 * lash, blur=0.25), (30, 18, 14), 0.95)
            # crease above the lid
            cseq = [(ex - rx * 0.9, top - ry * 0.2), (ex, top - ry * 1.1), (ex + rx * 0.9, top - ry * 0.3)]
            if s > 0:
                cseq = [(2 * ex - x, y) for x, y in cseq]
            self.paint(self.taper(cseq, 0.1, 0.1, 0.45, blur=0.3), dark, 0.5)
            if brow:
                by = ey - h * 0.2
                bseq = [(ex - rx * 1.25, by + 1.0 + brow_tilt * 0.3), (ex - rx * 0.2, by - 0.9 + brow_tilt * 0.5),
                        (ex + rx * 1.25, by + 0.1 - brow_tilt)]
                if s > 0:
                    bseq = [(2 * ex - x, y) for x, y in bseq]
                # thick at the inner end, thinning towards the temple
                self.paint(self.taper(bseq[::-1], brow_w * 1.1, brow_w * 0.4, brow_w, blur=0.35), brow, 0.95)

    def nose(self, cx, cy, w, h, skin, length=1.0, width=1.0):
        light, mid, dark = skin
        top = cy + h * 0.02
        tip = cy + h * 0.38 * length
        nw = w * 0.16 * width
        # shadow side of the bridge
        self.paint(self.taper([(cx + nw * 0.35, top), (cx + nw * 0.65, top + (tip - top) * 0.6), (cx + nw * 0.9, tip)],
                              0.8, 1.6, 1.2, blur=1.0), dark, 0.45)
        # bridge highlight
        self.paint(self.taper([(cx - nw * 0.2, top + 2), (cx - nw * 0.15, tip - 1.5)], 0.5, 0.9, blur=0.8),
                   lighten(light, 0.4), 0.45)
        # tip and wings
        self.paint(self.ellipse(cx, tip - 0.6, nw * 0.95, h * 0.06, blur=0.6), lighten(light, 0.15), 0.35)
        self.paint(self.ellipse(cx, tip + h * 0.045, nw * 1.45, h * 0.045, blur=1.0), dark, 0.55)
        for s in (-1, 1):
            self.paint(self.ellipse(cx + s * nw * 0.55, tip + h * 0.02, nw * 0.35, h * 0.025, blur=0.3),
                       darken(dark, 0.35), 0.85)
        self.paint(self.ellipse(cx + nw * 1.1, tip, nw * 0.5, h * 0.06, blur=0.8), dark, 0.35)

    def mouth(self, cx, cy, w, h, lip=(180, 90, 80), width=1.0, smile=0.0, full=1.0):
        my = cy + h * 0.58
        mw = w * 0.34 * width
        # upper lip
        up = self.poly([(cx - mw, my + smile * -0.5), (cx - mw * 0.4, my - h * 0.05 * full), (cx, my - h * 0.035 * full),
                        (cx + mw * 0.4, my - h * 0.05 * full), (cx + mw, my + smile * -0.5), (cx, my + 0.2)], n=8)
        self.paint(up, darken(lip, 0.18), 0.9)
        lo = self.poly([(cx - mw * 0.85, my + 0.1), (cx, my + 0.3), (cx + mw * 0.85, my + 0.1),
                        (cx + mw * 0.5, my + h * 0.07 * full), (cx, my + h * 0.085 * full),
                        (cx - mw * 0.5, my + h * 0.07 * full)], n=8)
        self.paint(lo, lip, 0.85)
        self.paint(self.ellipse(cx - mw * 0.2, my + h * 0.035 * full, mw * 0.3, h * 0.018, blur=0.5),
                   lighten(lip, 0.45), 0.5)
        self.paint(self.taper([(cx - mw * 1.05, my - smile), (cx - mw * 0.4, my + 0.25), (cx, my + 0.1),
                               (cx + mw * 0.4, my + 0.25), (cx + mw * 1.05, my - smile)], 0.25, 0.25, 0.55, blur=0.3),
                   (60, 26, 22), 0.9)
        # shadow below the lower lip
        self.paint(self.ellipse(cx + 0.4, my + h * 0.14 * full, mw * 0.55, h * 0.03, blur=0.9), (80, 40, 30), 0.35)

    # -- hair helpers ---------------------------------------------------------
    def strands(self, region, paths, base, count=40, width=(0.4, 1.1), jitter=1.2, light=0.35, dark=0.45, op=0.45):
        """Paint many thin highlight/shadow strands following `paths` (lists of points), clipped to `region`."""
        for i in range(count):
            seq = self.rng.choice(paths)
            off = self.rng.uniform(-jitter, jitter)
            pts = [(x + off + self.rng.uniform(-0.4, 0.4), y + self.rng.uniform(-0.3, 0.3)) for x, y in seq]
            c = lighten(base, light) if i % 2 == 0 else darken(base, dark)
            wd = self.rng.uniform(*width)
            self.paint(m_mul(region, self.taper(pts, wd * 0.3, wd * 0.2, wd, blur=0.3)), c,
                       op * self.rng.uniform(0.6, 1.0))



def sparkle(p, x, y, r, op=0.9):
    p.paint(p.ellipse(x, y, r, r, blur=r * 0.6), (255, 255, 250), op)


# ---- eisenmark_normal: young woman, long brown hair, green scarf -------------

def portrait_eisenmark_normal():
    p = Portrait(125, 130, salt=11)
    skin = SKIN["fair"]
    hair = (112, 66, 36)
    p.backdrop((58, 70, 92), (10, 12, 20), halo=(92, 104, 126))
    cx, cy, w, h = 50, 41, 16.5, 21.5
    # long hair behind the shoulders
    back = p.poly([(cx, cy - h - 3.5), (cx + w + 5, cy - h + 4), (cx + w + 8, cy + 4), (cx + w + 10, cy + 26),
                   (cx + w + 14, cy + 46), (cx + w + 2, cy + 52), (cx + 8, cy + 30), (cx - 8, cy + 30),
                   (cx - w - 2, cy + 52), (cx - w - 14, cy + 46), (cx - w - 10, cy + 26), (cx - w - 8, cy + 4),
                   (cx - w - 5, cy - h + 4)])
    p.paint(back, colorize(p.lin(20, 20, 80, 95), [(0, lighten(hair, 0.15)), (0.5, hair), (1, darken(hair, 0.6))]))
    p.rim(back, 3, darken(hair, 0.7), 0.6)
    paths_l = [[(cx - 4, cy - h - 2), (cx - w - 6, cy - 6), (cx - w - 8, cy + 20), (cx - w - 10, cy + 48)],
               [(cx - 6, cy - h), (cx - w - 3, cy - 4), (cx - w - 5, cy + 24), (cx - w - 2, cy + 50)]]
    paths_r = [[(2 * cx - x, y) for x, y in s] for s in paths_l]
    p.strands(back, paths_l + paths_r, hair, count=70, jitter=4.5)
    # body: brown bodice over a cream blouse
    body = p.shoulders(top=74, width=40, slope=9)
    p.cloth(body, (92, 62, 44), light_from=(20, 72), to=(85, 100))
    blouse = m_mul(body, p.poly([(cx - 15, 72), (cx + 15, 72), (cx + 7, 100), (cx - 7, 100)], smooth=False))
    p.cloth(blouse, (214, 200, 170), light_from=(cx - 10, 74), to=(cx + 12, 100), lo=0.35)
    # hair falling in front of the shoulders
    for s in (-1, 1):
        front = p.poly([(cx + s * (w - 1), cy + 8), (cx + s * (w + 5), cy + 20), (cx + s * (w + 7), cy + 40),
                        (cx + s * (w + 4), cy + 58), (cx + s * (w - 2), cy + 46), (cx + s * (w - 3), cy + 24)])
        p.paint(front, colorize(p.lin(0, cy + 5, 0, cy + 60), [(0, hair), (1, darken(hair, 0.35))]))
        p.rim(front, 1.6, darken(hair, 0.7), 0.6)
        p.strands(front, [[(cx + s * (w - 1), cy + 8), (cx + s * (w + 4), cy + 24), (cx + s * (w + 4), cy + 54)]],
                  hair, count=16, jitter=2.0)
    p.neck(cx, cy + 12, 76, 6.5, skin)
    # green scarf wrapped around the neck, one end hanging down
    scarf = (46, 128, 66)
    wrap = p.poly([(cx - 12.5, 66), (cx, 64.5), (cx + 12.5, 66), (cx + 13.5, 72), (cx + 6, 76.5), (cx - 6, 76.5),
                   (cx - 13.5, 72)])
    tail = p.poly([(cx + 2, 72), (cx + 10, 73), (cx + 12, 86), (cx + 10, 101), (cx + 2, 101), (cx + 4, 86)])
    knot = p.ellipse(cx + 5, 75, 5.5, 4.5)
    for m, ramp in ((tail, p.lin(cx, 70, cx + 12, 100)), (wrap, p.lin(cx - 12, 64, cx + 12, 78)),
                    (knot, p.lin(cx, 71, cx + 10, 80))):
        p.paint(m, colorize(ramp, [(0, lighten(scarf, 0.35)), (0.45, scarf), (1, darken(scarf, 0.55))]))
        p.rim(m, 1.8, darken(scarf, 0.7), 0.6)
    p.folds([[(cx - 10, 68.5), (cx, 70.5), (cx + 10, 68.5)], [(cx - 11, 72.5), (cx - 2, 74.5), (cx + 4, 73)],
             [(cx + 6, 80), (cx + 7, 90), (cx + 6, 100)]],
            m_add(m_add(wrap, tail), knot), darken(scarf, 0.6), width=1.4, op=0.55)
    p.folds([[(cx - 9, 67), (cx - 2, 67.5)], [(cx + 4.5, 82), (cx + 4.5, 92)]], m_add(wrap, tail),
            lighten(scarf, 0.5), width=1.0, op=0.45)
    p.ears(cx, cy, w, skin)
    p.face(cx, cy, w, h, skin, jaw=0.78, chin=0.34, blush=(230, 120, 110))
    p.eyes(cx, cy, w, h, iris=(80, 120, 70), lash=1.5, brow=darken(hair, 0.25), brow_w=1.3, skin=skin, size=1.05)
    p.nose(cx, cy, w, h, skin, length=0.92, width=0.9)
    p.mouth(cx, cy, w, h, lip=(196, 92, 90), width=0.95, smile=0.4, full=1.15)
    # fringe: hair parted on the side, sweeping over the forehead
    fr = p.poly([(cx - w - 3, cy + 2), (cx - w - 2, cy - h + 6), (cx - 6, cy - h - 3.5), (cx + 6, cy - h - 3.2),
                 (cx + w + 2, cy - h + 7), (cx + w + 3, cy + 4), (cx + w - 1, cy - 4), (cx + 10, cy - h + 8.5),
                 (cx + 2, cy - h + 9.5), (cx - 8, cy - h + 7), (cx - w + 1, cy - 5)])
    p.paint(fr, colorize(p.lin(cx - 12, cy - h - 4, cx + 14, cy), [(0, lighten(hair, 0.28)), (0.5, hair),
                                                                   (1, darken(hair, 0.45))]))
    p.rim(fr, 1.5, darken(hair, 0.7), 0.55)
    p.strands(fr, [[(cx - 3, cy - h - 3), (cx - 10, cy - h + 3), (cx - w, cy - 2)],
                   [(cx - 2, cy - h - 3), (cx + 8, cy - h + 3), (cx + w + 1, cy + 1)]], hair, count=36, jitter=2.2,
              light=0.45)
    # shine on the crown
    p.paint(m_mul(fr, p.ellipse(cx - 6, cy - h - 0.5, 7, 2.2, rot=-12, blur=1.2)), lighten(hair, 0.55), 0.6)
    return p.result()


# ---- eisenmark_debug: bearded man in armour with a blue collar ---------------

def portrait_eisenmark_debug():
    p = Portrait(88, 95, salt=22)
    skin = SKIN["warm"]
    hair = (86, 54, 32)
    steel = (128, 136, 148)
    p.backdrop((86, 66, 46), (16, 11, 8), halo=(120, 92, 62))
    cx, cy, w, h = 50, 38, 16.5, 21.5
    # armour: breastplate and pauldrons
    body = p.shoulders(top=73, width=44, slope=8)
    p.metal(body, steel, light=(25, 70), to=(75, 105))
    for s in (-1, 1):
        pm = p.ellipse(cx + s * 34, 86, 20, 14, rot=s * 18)
        p.metal(pm, steel, light=(cx + s * 34 - 14, 74), to=(cx + s * 34 + 10, 100), shine=0.65)
        for k in (0, 1):
            band = m_mul(pm, p.taper([(cx + s * 16, 80 + k * 7), (cx + s * 34, 76 + k * 7), (cx + s * 52, 86 + k * 7)],
                                     1.0, 1.0, 1.4, blur=0.3))
            p.paint(band, darken(steel, 0.6), 0.7)
        # rivets
        for k in range(3):
            rx_, ry_ = cx + s * (24 + k * 8), 80 + k * 1.5
            p.paint(p.ellipse(rx_, ry_, 1.1, 1.1), darken(steel, 0.5))
            p.paint(p.ellipse(rx_ - 0.3, ry_ - 0.3, 0.5, 0.5), (240, 240, 245), 0.8)
    # central ridge of the breastplate
    p.paint(m_mul(body, p.taper([(cx, 78), (cx, 101)], 1.5, 2.5, blur=0.8)), lighten(steel, 0.5), 0.5)
    p.paint(m_mul(body, p.taper([(cx + 1.8, 78), (cx + 2.2, 101)], 1.0, 1.8, blur=0.8)), darken(steel, 0.6), 0.5)
    p.neck(cx, cy + 12, 72, 7, skin)
    # blue collar (padded gorget)
    blue = (44, 84, 168)
    col = p.poly([(cx - 16, 67), (cx, 64.5), (cx + 16, 67), (cx + 17, 74), (cx, 78), (cx - 17, 74)])
    p.paint(col, colorize(p.lin(cx - 10, 64, cx + 10, 79), [(0, lighten(blue, 0.45)), (0.5, blue),
                                                           (1, darken(blue, 0.55))]))
    p.rim(col, 1.8, darken(blue, 0.75), 0.6)
    p.folds([[(cx - 14, 71), (cx, 74), (cx + 14, 71)]], col, lighten(blue, 0.5), width=1.0, op=0.5)
    p.folds([[(cx - 16, 69), (cx, 71.5), (cx + 16, 69)]], col, darken(blue, 0.6), width=0.8, op=0.5)
    p.ears(cx, cy, w, skin)
    p.face(cx, cy, w, h, skin, jaw=0.86, chin=0.45)
    # beard covering jaw and chin
    beard = p.poly([(cx - w - 0.4, cy + 1), (cx - w + 1, cy + 10), (cx - 10, cy + h - 1), (cx - 4, cy + h + 4),
                    (cx + 4, cy + h + 4), (cx + 10, cy + h - 1), (cx + w - 1, cy + 10), (cx + w + 0.4, cy + 1),
                    (cx + w - 3, cy + 6), (cx + 7, cy + 10.5), (cx, cy + 9.5), (cx - 7, cy + 10.5), (cx - w + 3, cy + 6)])
    p.paint(beard, colorize(p.lin(cx - 10, cy, cx + 10, cy + h + 4), [(0, lighten(hair, 0.2)), (0.6, hair),
                                                                     (1, darken(hair, 0.5))]))
    p.rim(beard, 1.5, darken(hair, 0.6), 0.5)
    p.flow(beard, hair, 160, (cx - w - 1, cy, cx + w + 1, cy + h + 4),
           lambda x, y: 90 - (x - cx) * 3.0, length=(2.5, 5), width=(0.4, 0.9), curl=0.3, light=0.45, dark=0.5)
    p.eyes(cx, cy, w, h, iris=(70, 90, 120), lash=1.1, brow=darken(hair, 0.3), brow_w=2.2, brow_tilt=0.8, skin=skin,
           size=0.95, lid=0.15)
    p.nose(cx, cy, w, h, skin, length=1.0, width=1.15)
    # mouth hidden in the beard: moustache and a bit of lower lip
    p.paint(p.ellipse(cx, cy + h * 0.62, 3.2, 1.1, blur=0.3), (150, 80, 70), 0.9)
    p.paint(p.taper([(cx - 6, cy + h * 0.6), (cx, cy + h * 0.55), (cx + 6, cy + h * 0.6)], 0.4, 0.4, 0.8, blur=0.2),
            (40, 22, 16), 0.9)
    must = p.poly([(cx - 7.5, cy + h * 0.66), (cx - 4, cy + h * 0.44), (cx, cy + h * 0.46), (cx + 4, cy + h * 0.44),
                   (cx + 7.5, cy + h * 0.66), (cx + 3, cy + h * 0.55), (cx, cy + h * 0.57), (cx - 3, cy + h * 0.55)])
    p.paint(must, colorize(p.lin(0, cy + h * 0.44, 0, cy + h * 0.66), [(0, lighten(hair, 0.1)), (1, darken(hair, 0.4))]))
    # short hair
    top = p.poly([(cx - w - 0.8, cy + 1), (cx - w - 1.5, cy - h + 7), (cx - 6, cy - h - 2.6), (cx + 6, cy - h - 2.4),
                  (cx + w + 1.5, cy - h + 7), (cx + w + 0.8, cy + 1), (cx + w - 1.5, cy - 6), (cx + 6, cy - h + 5.5),
                  (cx - 5, cy - h + 4.8), (cx - w + 1.5, cy - 6)])
    p.paint(top, colorize(p.lin(cx - 10, cy - h - 3, cx + 10, cy), [(0, lighten(hair, 0.25)), (0.5, hair),
                                                                   (1, darken(hair, 0.5))]))
    p.rim(top, 1.4, darken(hair, 0.7), 0.5)
    p.strands(top, [[(cx - 2, cy - h - 2), (cx - 10, cy - h + 2), (cx - w, cy - 3)],
                    [(cx + 2, cy - h - 2), (cx + 10, cy - h + 2), (cx + w, cy - 3)]], hair, count=26, jitter=2.5)
    return p.result()


# ---- eisenmark_geschlossen: man in an iron helmet with nose guard ------------

def portrait_eisenmark_geschlossen():
    p = Portrait(66, 59, salt=33)
    skin = SKIN["ruddy"]
    iron = (112, 116, 124)
    mail = (104, 110, 122)
    p.backdrop((52, 64, 86), (8, 10, 16), halo=(86, 98, 122))
    cx, cy, w, h = 50, 42, 18, 22.5
    # red surcoat over mail
    body = p.shoulders(top=78, width=47, slope=8)
    p.cloth(body, (150, 36, 32), light_from=(20, 76), to=(80, 104))
    p.folds([[(cx - 30, 88), (cx - 26, 100)], [(cx + 30, 88), (cx + 26, 100)]], body, (60, 10, 10), width=2.0, op=0.5)
    # mail hood (aventail) hanging from the helmet over neck and shoulders
    coif = p.poly([(cx - w - 3, cy - 6), (cx - w - 4.5, cy + 16), (cx - 24, 82), (cx - 10, 86), (cx + 10, 86),
                   (cx + 24, 82), (cx + w + 4.5, cy + 16), (cx + w + 3, cy - 6)])
    p.metal(coif, mail, light=(cx - 22, cy - 4), to=(cx + 22, 88), shine=0.3, rimw=2.5)
    p.mail_rows(coif, mail, cy - 4, 90, step=2.8, bow=1.0)
    # shadow the face casts into the hood opening
    p.paint(m_mul(coif, p.ellipse(cx + 2, cy + 4, w + 2, h + 2, blur=3)), (14, 14, 20), 0.55)
    fw, fh = w - 2.5, h - 1
    p.face(cx, cy + 1, fw, fh, skin, jaw=0.86, chin=0.44)
    p.eyes(cx, cy + 1, fw, fh, iris=(90, 120, 150), lash=1.2, brow=(64, 40, 26), brow_w=2.2, brow_tilt=1.6, skin=skin,
           size=1.08, lid=0.28, socket=0.6)
    p.nose(cx, cy + 1, fw, fh, skin, length=1.05, width=1.1)
    # stern mouth under a heavy moustache, short stubble on the chin
    p.mouth(cx, cy + 1, fw, fh, lip=(164, 84, 74), width=0.85, smile=-0.6, full=0.7)
    fm = p.head_mask(cx, cy + 1, fw, fh, 0.86, 0.44)
    p.paint(m_mul(fm, p.ellipse(cx, cy + 1 + fh * 0.8, fw * 0.75, fh * 0.3, blur=2.2)), (96, 64, 48), 0.35)
    p.moustache(cx, cy + 1 + fh * 0.47, 7.0, 5.0, 2.6, (104, 66, 38))
    # iron helmet: dome down to the brow, cheek rim, riveted band and nose guard
    dome = p.poly([(cx - w - 3.5, cy - 2), (cx - w - 3, cy - h + 2), (cx - 8, cy - h - 8), (cx, cy - h - 9.5),
                   (cx + 8, cy - h - 8), (cx + w + 3, cy - h + 2), (cx + w + 3.5, cy - 2), (cx + w + 1, cy - 4.8),
                   (cx, cy - 6.4), (cx - w - 1, cy - 4.8)])
    p.metal(dome, iron, light=(cx - 16, cy - h - 8), to=(cx + 16, cy), shine=0.7, rimw=2.5)
    # crest ridge
    p.paint(m_mul(dome, p.taper([(cx - 1.2, cy - h - 9), (cx - 1.5, cy - 8)], 1.6, 1.0, blur=0.6)), (230, 232, 238), 0.55)
    p.paint(m_mul(dome, p.taper([(cx + 1.2, cy - h - 9), (cx + 1.5, cy - 8)], 1.6, 1.0, blur=0.6)), (30, 32, 38), 0.5)
    band = m_mul(dome, p.poly([(cx - w - 5, cy - 9.5), (cx, cy - 12), (cx + w + 5, cy - 9.5), (cx + w + 5, cy - 3),
                               (cx, cy - 5.5), (cx - w - 5, cy - 3)], smooth=False))
    p.metal(band, darken(iron, 0.15), light=(cx - 14, cy - 12), to=(cx + 14, cy - 2), shine=0.6, rimw=1.2)
    for k in range(-3, 4):
        x = cx + k * 5.2
        y = cy - 7.6 - (1 - abs(k) / 3.5) * 2.1
        p.paint(p.ellipse(x, y, 1.0, 1.0), (40, 42, 48))
        p.paint(p.ellipse(x - 0.3, y - 0.3, 0.45, 0.45), (235, 235, 240), 0.85)
    guard = p.poly([(cx - 2.6, cy - 7), (cx + 2.6, cy - 7), (cx + 1.9, cy + 9), (cx, cy + 10.5), (cx - 1.9, cy + 9)],
                   n=6)
    p.paint(p.ellipse(cx + 3, cy + 3, 2.5, 8, blur=1.2), (40, 20, 16), 0.5)  # shadow of the guard on the face
    p.metal(guard, iron, light=(cx - 3, cy - 6), to=(cx + 3, cy + 10), shine=0.75, rimw=0.8)
    p.paint(m_mul(guard, p.taper([(cx - 0.8, cy - 6), (cx - 0.6, cy + 8)], 0.8, 0.5, blur=0.3)), (245, 245, 250), 0.6)
    sparkle(p, cx - 9, cy - h - 3, 1.4, 0.7)
    return p.result()


# ---- eisenmark_editor: old man, white beard, blue cap ------------------------

def portrait_eisenmark_editor():
    p = Portrait(69, 71, salt=44)
    skin = SKIN["old"]
    white = (228, 226, 218)
    blue = (40, 72, 160)
    p.backdrop((84, 64, 48), (15, 10, 8), halo=(118, 90, 66))
    cx, cy, w, h = 50, 42, 16, 21
    body = p.shoulders(top=76, width=44, slope=9)
    p.cloth(body, (96, 46, 58), light_from=(20, 74), to=(80, 104))
    # fur-trimmed collar of the robe
    for s in (-1, 1):
        lap = p.poly([(cx + s * 8, 74), (cx + s * 24, 76), (cx + s * 20, 100), (cx + s * 10, 100)])
        p.cloth(lap, (150, 120, 84), light_from=(cx + s * 24, 74), to=(cx + s * 8, 100), lo=0.5)
    p.neck(cx, cy + 12, 74, 6.5, skin)
    p.ears(cx, cy, w, skin, size=1.1)
    p.face(cx, cy, w, h, skin, jaw=0.84, chin=0.42, age=1.0, blush=(214, 120, 110))
    # long white beard
    beard = p.poly([(cx - w - 0.5, cy + 1), (cx - w - 1, cy + 14), (cx - 12, cy + 32), (cx - 4, cy + 44),
                    (cx, cy + 46), (cx + 4, cy + 44), (cx + 12, cy + 32), (cx + w + 1, cy + 14), (cx + w + 0.5, cy + 1),
                    (cx + w - 3, cy + 6), (cx + 7, cy + 10.5), (cx, cy + 9.5), (cx - 7, cy + 10.5), (cx - w + 3, cy + 6)])
    p.paint(beard, colorize(p.lin(cx - 14, cy, cx + 12, cy + 46), [(0, (250, 250, 246)), (0.5, white),
                                                                  (1, (130, 128, 128))]))
    p.rim(beard, 2, (90, 88, 90), 0.5)
    p.flow(beard, white, 260, (cx - w - 1, cy, cx + w + 1, cy + 46),
           lambda x, y: 90 - (x - cx) * 2.0 * (1 - (y - cy) / 60.0), length=(3, 8), width=(0.4, 1.0), curl=0.3,
           light=0.7, dark=0.4, op=0.5)
    p.eyes(cx, cy, w, h, iris=(90, 120, 150), lash=1.0, brow=(238, 236, 230), brow_w=2.6, brow_tilt=-0.8, skin=skin,
           size=0.9, lid=0.35)
    p.nose(cx, cy, w, h, skin, length=1.12, width=1.25)
    p.paint(p.ellipse(cx + 0.5, cy + h * 0.4, 3.8, 2.0, blur=1.0), (214, 118, 104), 0.35)  # reddened nose tip
    must = p.poly([(cx - 9, cy + h * 0.78), (cx - 5, cy + h * 0.44), (cx, cy + h * 0.48), (cx + 5, cy + h * 0.44),
                   (cx + 9, cy + h * 0.78), (cx + 3.5, cy + h * 0.58), (cx, cy + h * 0.6), (cx - 3.5, cy + h * 0.58)])
    p.paint(must, colorize(p.lin(0, cy + h * 0.44, 0, cy + h * 0.8), [(0, (250, 250, 248)), (1, (160, 158, 156))]))
    p.strands(must, [[(cx - 1, cy + h * 0.5), (cx - 5, cy + h * 0.6), (cx - 8.5, cy + h * 0.76)],
                     [(cx + 1, cy + h * 0.5), (cx + 5, cy + h * 0.6), (cx + 8.5, cy + h * 0.76)]], white, count=14,
              jitter=0.8, light=0.6)
    # white hair at the sides under the cap
    for s in (-1, 1):
        side = p.poly([(cx + s * (w - 2), cy - 12), (cx + s * (w + 3), cy - 8), (cx + s * (w + 3.5), cy + 2),
                       (cx + s * (w + 1), cy + 6), (cx + s * (w - 1), cy - 2)])
        p.paint(side, white if s < 0 else (180, 178, 176))
        p.strands(side, [[(cx + s * (w - 1), cy - 11), (cx + s * (w + 2), cy - 3), (cx + s * (w + 1), cy + 5)]],
                  white, count=10, jitter=1.0, light=0.6)
    # blue cap: a soft rounded cap with a turned-up brim
    cap = p.poly([(cx - w - 2, cy - h + 9), (cx - w + 1, cy - h - 4), (cx - 4, cy - h - 10), (cx + 8, cy - h - 9),
                  (cx + w + 2, cy - h - 2), (cx + w + 3, cy - h + 9)])
    p.paint(cap, colorize(p.lin(cx - 14, cy - h - 10, cx + 16, cy - h + 9), [(0, lighten(blue, 0.45)), (0.45, blue),
                                                                            (1, darken(blue, 0.6))]))
    p.rim(cap, 2.2, darken(blue, 0.7), 0.6)
    p.folds([[(cx - 8, cy - h - 6), (cx - 2, cy - h), (cx + 2, cy - h + 6)],
             [(cx + 6, cy - h - 7), (cx + 9, cy - h - 1), (cx + 10, cy - h + 6)]], cap, darken(blue, 0.6), width=1.2,
            op=0.5)
    brim = p.poly([(cx - w - 3, cy - h + 5.5), (cx, cy - h + 3.5), (cx + w + 3, cy - h + 5.5), (cx + w + 3.3, cy - h + 10.5),
                   (cx, cy - h + 9), (cx - w - 3.3, cy - h + 10.5)])
    p.paint(brim, colorize(p.lin(0, cy - h + 3.5, 0, cy - h + 10.5), [(0, lighten(blue, 0.3)), (1, darken(blue, 0.45))]))
    p.rim(brim, 1.2, darken(blue, 0.75), 0.6)
    p.paint(p.ellipse(cx - 6, cy - h - 4, 4.5, 2, rot=-20, blur=1.2), lighten(blue, 0.6), 0.45)
    return p.result()


# ---- sturmtal_normal: black-haired woman with hair pins ----------------------

def portrait_sturmtal_normal():
    p = Portrait(107, 117, salt=55)
    skin = SKIN["pale"]
    hair = (34, 30, 36)
    p.backdrop((112, 78, 48), (20, 12, 8), halo=(150, 108, 66))
    cx, cy, w, h = 50, 45, 16, 21
    body = p.shoulders(top=75, width=41, slope=9)
    p.cloth(body, (150, 30, 44), light_from=(20, 74), to=(80, 104))
    # gold-trimmed neckline
    neckline = p.taper([(cx - 17, 73), (cx - 8, 84), (cx, 87), (cx + 8, 84), (cx + 17, 73)], 1.6, 1.6, 2.0)
    skin_v = p.poly([(cx - 15, 72), (cx + 15, 72), (cx + 8, 83), (cx, 86), (cx - 8, 83)])
    p.paint(skin_v, colorize(p.lin(cx - 10, 72, cx + 12, 86), [(0, skin[0]), (0.6, skin[1]), (1, skin[2])]))
    p.metal(neckline, (190, 150, 60), light=(cx - 15, 72), to=(cx + 15, 88), shine=0.6, rimw=0.6)
    p.neck(cx, cy + 12, 77, 6.2, skin)
    p.ears(cx, cy, w, skin, size=0.95)
    # earrings
    for s in (-1, 1):
        p.paint(p.ellipse(cx + s * (w - 0.2), cy + 8.5, 1.2, 1.2), (230, 190, 80))
    p.face(cx, cy, w, h, skin, jaw=0.76, chin=0.33, blush=(232, 120, 120))
    p.eyes(cx, cy, w, h, iris=(60, 40, 30), lash=1.7, brow=(30, 24, 26), brow_w=1.3, brow_tilt=-0.3, skin=skin,
           size=1.05)
    p.nose(cx, cy, w, h, skin, length=0.9, width=0.85)
    p.mouth(cx, cy, w, h, lip=(190, 50, 60), width=0.9, smile=0.3, full=1.2)
    # hair: smooth, pulled back to a high bun, framing the forehead
    hm = p.poly([(cx - w - 2.2, cy + 6), (cx - w - 2.5, cy - h + 6), (cx - 6, cy - h - 4), (cx + 6, cy - h - 4),
                 (cx + w + 2.5, cy - h + 6), (cx + w + 2.2, cy + 6), (cx + w - 0.5, cy - 2), (cx + 8, cy - h + 6.8),
                 (cx, cy - h + 6), (cx - 8, cy - h + 6.8), (cx - w + 0.5, cy - 2)])
    bun = p.ellipse(cx, cy - h - 8.5, 11, 8.5)
    for m, (a, b) in ((bun, ((cx - 10, cy - h - 17), (cx + 10, cy - h))),
                      (hm, ((cx - 14, cy - h - 4), (cx + 14, cy + 6)))):
        p.paint(m, colorize(p.lin(a[0], a[1], b[0], b[1]), [(0, (96, 90, 108)), (0.35, hair), (1, (8, 6, 10))]))
        p.rim(m, 1.6, (4, 3, 6), 0.7)
    p.strands(hm, [[(cx - 2, cy - h - 3), (cx - 10, cy - h + 2), (cx - w - 1, cy + 4)],
                   [(cx + 2, cy - h - 3), (cx + 10, cy - h + 2), (cx + w + 1, cy + 4)]], hair, count=36, jitter=2.2,
              light=0.35, dark=0.6)
    p.strands(bun, [[(cx - 10, cy - h - 6), (cx, cy - h - 15), (cx + 10, cy - h - 9)],
                    [(cx - 9, cy - h - 10), (cx + 2, cy - h - 2), (cx + 10, cy - h - 6)]], hair, count=26, jitter=2.5,
              light=0.4, dark=0.6)
    # sheen on the bun and on the crown (blue-violet highlight)
    p.paint(m_mul(bun, p.ellipse(cx - 4, cy - h - 12, 5, 2, rot=-25, blur=1.2)), (160, 160, 190), 0.5)
    p.paint(m_mul(hm, p.ellipse(cx - 7, cy - h + 0.5, 6, 1.8, rot=-18, blur=1.2)), (150, 150, 180), 0.45)
    # hair pins: two gold pins crossing the bun, with red and jade beads
    for (x0, y0, x1, y1, bead) in ((cx - 17, cy - h - 16, cx + 11, cy - h - 3, (200, 40, 50)),
                                   (cx + 17, cy - h - 17, cx - 11, cy - h - 2.5, (60, 170, 120))):
        pin = p.taper([(x0, y0), (x1, y1)], 1.3, 0.5)
        p.paint(p.taper([(x0 + 0.6, y0 + 0.8), (x1 + 0.6, y1 + 0.8)], 1.3, 0.5, blur=0.6), (0, 0, 0), 0.5)
        p.metal(pin, (205, 165, 70), light=(x0, y0 - 2), to=(x1, y1 + 2), shine=0.7, rimw=0.4)
        p.paint(p.ellipse(x0, y0, 2.4, 2.4), darken(bead, 0.5))
        p.paint(p.ellipse(x0, y0, 2.0, 2.0), bead)
        p.paint(p.ellipse(x0 - 0.6, y0 - 0.7, 0.7, 0.7, blur=0.2), (255, 255, 255), 0.85)
        # little dangling gold drops
        for k in (1, 2):
            p.paint(p.ellipse(x0 + (-1 if x0 < cx else 1) * 0.4 * k, y0 + 2.2 * k + 0.6, 0.75, 0.75), (225, 185, 80))
    return p.result()


# ---- sturmtal_debug: fair-haired young man with a blue collar ----------------

def portrait_sturmtal_debug():
    p = Portrait(54, 57, salt=66)
    skin = SKIN["fair"]
    hair = (214, 176, 96)
    blue = (40, 86, 178)
    p.backdrop((60, 66, 56), (10, 12, 10), halo=(96, 104, 86))
    cx, cy, w, h = 50, 41, 16.5, 21.5
    body = p.shoulders(top=74, width=44, slope=8)
    p.cloth(body, (92, 64, 42), light_from=(20, 74), to=(80, 104))
    p.folds([[(cx - 30, 84), (cx - 24, 92), (cx - 22, 100)], [(cx + 28, 84), (cx + 24, 94), (cx + 22, 100)]],
            body, (40, 26, 16), width=1.8, op=0.5)
    # front lacing of the jerkin
    for k in range(3):
        y = 88 + k * 4
        p.paint(p.taper([(cx - 3, y), (cx + 3, y + 2)], 0.9, 0.9), (210, 190, 150), 0.8)
        p.paint(p.taper([(cx + 3, y), (cx - 3, y + 2)], 0.9, 0.9), (180, 160, 120), 0.8)
    p.neck(cx, cy + 12, 74, 6.8, skin)
    # blue collar: a band round the neck with broad pointed lapels
    col = p.poly([(cx - 14, 67), (cx, 65), (cx + 14, 67), (cx + 15, 73), (cx, 76), (cx - 15, 73)])
    laps = [p.poly([(cx - 15, 71), (cx - 2, 76), (cx - 3, 84), (cx - 10, 86), (cx - 22, 78)], smooth=False),
            p.poly([(cx + 15, 71), (cx + 2, 76), (cx + 3, 84), (cx + 10, 86), (cx + 22, 78)], smooth=False)]
    for m in [col] + laps:
        p.paint(m, colorize(p.lin(cx - 14, 65, cx + 16, 86), [(0, lighten(blue, 0.5)), (0.5, blue),
                                                             (1, darken(blue, 0.55))]))
        p.rim(m, 1.3, darken(blue, 0.75), 0.65)
    p.folds([[(cx - 13, 70), (cx, 72.5), (cx + 13, 70)]], col, darken(blue, 0.6), width=0.9, op=0.5)
    p.metal(p.ellipse(cx, 80, 2.0, 2.0), (220, 186, 90), light=(cx - 2, 78), to=(cx + 2, 82), shine=0.6, rimw=0.4)
    p.ears(cx, cy, w, skin)
    p.face(cx, cy, w, h, skin, jaw=0.8, chin=0.38, blush=(226, 140, 120))
    p.eyes(cx, cy, w, h, iris=(70, 120, 170), lash=1.15, brow=darken(hair, 0.3), brow_w=1.8, skin=skin, size=1.05)
    p.nose(cx, cy, w, h, skin, length=0.95, width=0.95)
    p.mouth(cx, cy, w, h, lip=(186, 104, 92), width=0.92, smile=0.5, full=0.9)
    # tousled fair hair
    hm = p.poly([(cx - w - 1.5, cy + 2), (cx - w - 3, cy - h + 4), (cx - 8, cy - h - 5), (cx + 4, cy - h - 5.5),
                 (cx + w + 3, cy - h + 2), (cx + w + 2, cy + 2), (cx + w - 1, cy - 5), (cx + 11, cy - h + 7),
                 (cx + 7, cy - h + 4.5), (cx + 2, cy - h + 8), (cx - 4, cy - h + 5.5), (cx - 9, cy - h + 8.5),
                 (cx - w + 1, cy - 5)])
    p.paint(hm, colorize(p.lin(cx - 12, cy - h - 5, cx + 14, cy + 2), [(0, lighten(hair, 0.45)), (0.45, hair),
                                                                      (1, darken(hair, 0.5))]))
    p.rim(hm, 1.5, darken(hair, 0.65), 0.55)
    p.strands(hm, [[(cx - 2, cy - h - 5), (cx - 8, cy - h + 1), (cx - 9, cy - h + 8)],
                   [(cx + 1, cy - h - 5), (cx + 4, cy - h + 2), (cx + 3, cy - h + 7)],
                   [(cx + 3, cy - h - 4), (cx + 12, cy - h + 1), (cx + w, cy - 3)],
                   [(cx - 4, cy - h - 4), (cx - 13, cy - h + 2), (cx - w, cy - 2)]], hair, count=40, jitter=2.2,
              light=0.5, dark=0.45)
    p.paint(m_mul(hm, p.ellipse(cx - 6, cy - h - 1.5, 6, 2, rot=-15, blur=1.2)), (255, 246, 210), 0.55)
    return p.result()


# ---- sturmtal_geschlossen: warrior in a horned helmet -------------------------

def portrait_sturmtal_geschlossen():
    p = Portrait(192, 191, salt=77)
    skin = SKIN["ruddy"]
    iron = (104, 108, 116)
    beard_c = (150, 72, 34)
    fur = (110, 92, 72)
    p.backdrop((58, 68, 84), (8, 10, 14), halo=(96, 106, 124), halo_at=(50, 34))
    cx, cy, w, h = 50, 47, 15.5, 20
    # horns first (behind the helmet dome at their roots)
    for s in (-1, 1):
        horn = p.taper([(cx + s * 12, cy - h - 1), (cx + s * 25, cy - h - 4), (cx + s * 33, cy - h - 14),
                        (cx + s * 34, cy - h - 26)], 8.5, 0.6, 6.0)
        t = p.lin(cx + s * 12, cy - h, cx + s * 34, cy - h - 26)
        p.paint(horn, colorize(t, [(0, (206, 190, 150)), (0.5, (236, 226, 196)), (0.85, (150, 128, 96)),
                                   (1, (70, 56, 40))]))
        # shading along the underside of the horn
        p.paint(m_mul(horn, p.taper([(cx + s * 14, cy - h + 2), (cx + s * 27, cy - h - 1.5), (cx + s * 35, cy - h - 12),
                                     (cx + s * 36, cy - h - 24)], 6, 0.3, 4.5, blur=1.6)), (90, 70, 50), 0.55)
        p.paint(m_mul(horn, p.taper([(cx + s * 14, cy - h - 4.5), (cx + s * 24, cy - h - 7.5), (cx + s * 30, cy - h - 15),
                                     (cx + s * 31, cy - h - 24)], 1.6, 0.2, 1.6, blur=0.8)), (255, 250, 235), 0.6)
        for k in range(4):  # growth rings
            tt = 0.18 + k * 0.12
            x = cx + s * (14 + tt * 28)
            y = cy - h - 2 - tt * 14
            p.paint(m_mul(horn, p.ellipse(x, y, 0.6, 4.5, rot=s * 40, blur=0.4)), (120, 100, 70), 0.45)
        p.rim(horn, 1.2, (70, 56, 40), 0.5)
    # fur mantle over the shoulders
    body = p.shoulders(top=76, width=47, slope=6)
    p.cloth(body, (72, 60, 54), light_from=(20, 74), to=(80, 104))
    # leather strap across the chest, mostly hidden by the fur
    strap = p.taper([(cx - 40, 80), (cx - 14, 92), (cx + 6, 104)], 6, 6, 6)
    p.cloth(strap, (104, 64, 36), light_from=(cx - 40, 80), to=(cx + 6, 104), hi=0.35)
    p.folds([[(cx - 39, 78.2), (cx - 13.5, 90), (cx + 7, 101.5)], [(cx - 41, 82), (cx - 15, 94), (cx + 5, 106)]],
            strap, (230, 200, 150), width=0.35, op=0.6, blur=0.1)
    p.metal(p.ellipse(cx - 16, 91, 4.2, 4.2), (186, 134, 62), light=(cx - 20, 87), to=(cx - 12, 95), shine=0.6)
    p.paint(p.ellipse(cx - 16, 91, 1.8, 1.8), (60, 36, 14), 0.8)
    # shaggy fur mantle over the shoulders
    edge = []
    for i in range(37):
        x = cx - 54 + i * 3
        base_y = 70 + 0.0042 * (x - cx) ** 2 * 1.0
        edge.append((x, base_y + p.rng.uniform(-1.1, 1.1)))
    low = [(x, y + 13 + 0.002 * (x - cx) ** 2 + p.rng.uniform(-1.5, 1.5)) for x, y in edge[::-1]]
    furm = p.poly(edge + low, n=6)
    p.paint(furm, colorize(p.lin(cx - 30, 68, cx + 30, 92), [(0, lighten(fur, 0.25)), (0.5, fur), (1, darken(fur, 0.6))]))
    p.paint(m_mul(furm, p.lin(0, 72, 0, 90)), darken(fur, 0.7), 0.6)
    for i in range(900):
        x = p.rng.uniform(cx - 54, cx + 54)
        y = p.rng.uniform(66, 94)
        a = math.radians(90 + (x - cx) * 0.6 + p.rng.uniform(-25, 25))
        ln = p.rng.uniform(1.5, 4)
        r = p.rng.random()
        c = lighten(fur, 0.55) if r < 0.4 else (darken(fur, 0.65) if r < 0.8 else (150, 130, 110))
        p.paint(m_mul(furm, p.taper([(x, y), (x + math.cos(a) * ln, y + math.sin(a) * ln)], 0.55, 0.08, blur=0.15)),
                c, 0.55)
    p.rim(furm, 1.5, darken(fur, 0.7), 0.4)
    p.neck(cx, cy + 10, 76, 7.5, skin)
    p.ears(cx, cy, w, skin)
    p.face(cx, cy, w, h, skin, jaw=0.88, chin=0.46)
    # braided red beard
    beard = p.poly([(cx - w - 0.3, cy + 3), (cx - w - 1.5, cy + 13), (cx - 13, cy + h + 4), (cx - 6, cy + h + 13),
                    (cx, cy + h + 15), (cx + 6, cy + h + 13), (cx + 13, cy + h + 4), (cx + w + 1.5, cy + 13),
                    (cx + w + 0.3, cy + 3), (cx + w - 3.5, cy + 8), (cx + 7, cy + 11), (cx, cy + 10), (cx - 7, cy + 11),
                    (cx - w + 3.5, cy + 8)])
    p.paint(beard, colorize(p.lin(cx - 12, cy, cx + 10, cy + h + 14), [(0, lighten(beard_c, 0.3)), (0.5, beard_c),
                                                                      (1, darken(beard_c, 0.6))]))
    p.rim(beard, 1.6, darken(beard_c, 0.7), 0.55)
    p.flow(beard, beard_c, 420, (cx - w - 2, cy + 2, cx + w + 2, cy + h + 15),
           lambda x, y: 90 - (x - cx) * 2.2 * (1 - (y - cy) / 45.0), length=(3, 7), width=(0.4, 1.0), curl=0.3,
           light=0.5, dark=0.55, op=0.55)
    for s in (-1, 1):  # two braids with iron rings
        br = p.taper([(cx + s * 4, cy + h + 8), (cx + s * 5, cy + h + 16), (cx + s * 4.5, cy + h + 24)], 4, 2, 3.2)
        p.paint(br, colorize(p.lin(0, cy + h + 8, 0, cy + h + 24), [(0, beard_c), (1, darken(beard_c, 0.45))]))
        for k in range(4):
            yy = cy + h + 10 + k * 3.3
            p.paint(m_mul(br, p.ellipse(cx + s * 5, yy, 2.2, 1.0, rot=s * 25, blur=0.3)), darken(beard_c, 0.6), 0.6)
        p.metal(p.ellipse(cx + s * 4.7, cy + h + 20, 2.4, 1.3), (160, 164, 172), light=(cx + s * 4.7 - 2, cy + h + 19),
                to=(cx + s * 4.7 + 2, cy + h + 21.5), rimw=0.4)
    p.eyes(cx, cy, w, h, iris=(80, 120, 150), lash=1.2, brow=darken(beard_c, 0.35), brow_w=2.4, brow_tilt=2.0,
           skin=skin, size=1.0, lid=0.25, socket=0.65)
    p.nose(cx, cy, w, h, skin, length=1.05, width=1.2)
    p.paint(p.ellipse(cx, cy + h * 0.63, 3.6, 1.0, blur=0.3), (140, 62, 52), 0.9)
    p.paint(p.taper([(cx - 6, cy + h * 0.62), (cx, cy + h * 0.57), (cx + 6, cy + h * 0.62)], 0.4, 0.4, 0.9, blur=0.2),
            (40, 18, 12), 0.9)
    p.moustache(cx, cy + h * 0.47, 8.5, 7.5, 2.8, lighten(beard_c, 0.08))
    # war paint stripe under one eye
    p.paint(p.taper([(cx - 11, cy + 4.5), (cx - 3.5, cy + 5.5)], 1.2, 0.4, blur=0.3), (40, 60, 120), 0.55)
    # helmet dome with a bronze brow band and nose guard
    dome = p.poly([(cx - w - 3, cy - 2), (cx - w - 3, cy - h + 3), (cx - 9, cy - h - 8), (cx, cy - h - 10),
                   (cx + 9, cy - h - 8), (cx + w + 3, cy - h + 3), (cx + w + 3, cy - 2), (cx + w + 0.5, cy - 5),
                   (cx, cy - 6.6), (cx - w - 0.5, cy - 5)])
    p.metal(dome, iron, light=(cx - 16, cy - h - 9), to=(cx + 16, cy), shine=0.7, rimw=2.4)
    for k in range(-2, 3):  # vertical ribs
        x = cx + k * 6.5
        rib = m_mul(dome, p.taper([(x * 0.2 + cx * 0.8, cy - h - 10), (x, cy - h + 1), (x * 1.05 - cx * 0.05, cy - 7)],
                                  1.2, 1.6, 1.8, blur=0.5))
        p.paint(rib, lighten(iron, 0.45) if k <= 0 else darken(iron, 0.5), 0.5)
    band = m_mul(dome, p.poly([(cx - w - 5, cy - 10.5), (cx, cy - 13), (cx + w + 5, cy - 10.5), (cx + w + 5, cy - 3),
                               (cx, cy - 5.8), (cx - w - 5, cy - 3)], smooth=False))
    p.metal(band, (168, 120, 58), light=(cx - 14, cy - 13), to=(cx + 14, cy - 3), shine=0.65, rimw=1.0)
    # engraved zigzag on the band
    zig = [(cx - w - 2 + i * 2.2, cy - 9 + (1.3 if i % 2 else -0.2) - (1 - abs(cx - w - 2 + i * 2.2 - cx) / (w + 2)) * 2.2)
           for i in range(int((2 * w + 4) / 2.2) + 1)]
    zm = p.blank()
    ImageDraw.Draw(zm).line(p.pts(zig), fill=255, width=max(1, int(p.px(0.5))))
    p.paint(m_mul(band, zm), (70, 44, 20), 0.7)
    guard = p.poly([(cx - 2.6, cy - 7), (cx + 2.6, cy - 7), (cx + 2.0, cy + 8.5), (cx, cy + 10), (cx - 2.0, cy + 8.5)],
                   n=6)
    p.paint(p.ellipse(cx + 3, cy + 3, 2.5, 8, blur=1.2), (40, 20, 16), 0.5)
    p.metal(guard, iron, light=(cx - 3, cy - 6), to=(cx + 3, cy + 10), shine=0.75, rimw=0.8)
    p.paint(m_mul(guard, p.taper([(cx - 0.8, cy - 6), (cx - 0.6, cy + 8)], 0.8, 0.5, blur=0.3)), (245, 245, 250), 0.6)
    # horn sockets (bronze collars where the horns leave the dome)
    for s in (-1, 1):
        sock = p.ellipse(cx + s * (w + 0.5), cy - h + 0.5, 3.2, 4.6, rot=s * 30)
        p.metal(sock, (176, 128, 62), light=(cx + s * (w + 0.5) - 3, cy - h - 4), to=(cx + s * (w + 0.5) + 3, cy - h + 5),
                shine=0.6, rimw=0.8)
    sparkle(p, cx - 8, cy - h - 4, 1.3, 0.75)
    return p.result()


# ---- sturmtal_editor: bald older man in a blue cloak -------------------------

def portrait_sturmtal_editor():
    p = Portrait(59, 64, salt=88)
    skin = SKIN["old"]
    grey = (176, 172, 166)
    blue = (36, 64, 146)
    p.backdrop((90, 76, 60), (16, 12, 9), halo=(124, 106, 84))
    cx, cy, w, h = 50, 42, 16.5, 21.5
    # blue cloak with a hood lying on the shoulders and a gold clasp
    body = p.shoulders(top=75, width=46, slope=7)
    p.cloth(body, blue, light_from=(20, 72), to=(80, 104), hi=0.35)
    hood = p.poly([(cx - 30, 84), (cx - 24, 72), (cx - 12, 68), (cx, 70), (cx + 12, 68), (cx + 24, 72), (cx + 30, 84),
                   (cx + 14, 80), (cx, 82), (cx - 14, 80)])
    p.cloth(hood, lighten(blue, 0.08), light_from=(cx - 26, 68), to=(cx + 26, 86), hi=0.45)
    p.folds([[(cx - 26, 84), (cx - 22, 92), (cx - 20, 100)], [(cx + 26, 84), (cx + 22, 92), (cx + 20, 100)],
             [(cx - 12, 86), (cx - 10, 100)]], body, darken(blue, 0.65), width=2.0, op=0.55)
    p.folds([[(cx - 30, 88), (cx - 27, 100)]], body, lighten(blue, 0.4), width=1.4, op=0.4)
    p.neck(cx, cy + 12, 74, 6.8, skin)
    p.metal(p.ellipse(cx, 84, 4.2, 4.2), (200, 160, 70), light=(cx - 4, 80), to=(cx + 4, 88), shine=0.7, rimw=0.6)
    p.paint(p.ellipse(cx, 84, 1.8, 1.8), (40, 110, 170))
    p.paint(p.ellipse(cx - 0.6, 83.3, 0.6, 0.6), (255, 255, 255), 0.8)
    p.ears(cx, cy, w, skin, size=1.1)
    # bald dome: the head itself, larger at the top
    p.face(cx, cy, w, h, skin, jaw=0.82, chin=0.4, age=1.1, blush=(212, 120, 104))
    p.paint(p.ellipse(cx - 5, cy - h + 4, 5.5, 3.2, rot=-20, blur=1.6), (255, 246, 236), 0.55)  # scalp shine
    # grey fringe of hair around the back of the head
    for s in (-1, 1):
        side = p.poly([(cx + s * (w - 1.5), cy - 9), (cx + s * (w + 2.5), cy - 7), (cx + s * (w + 3), cy + 3),
                       (cx + s * (w + 1), cy + 8), (cx + s * (w - 0.5), cy)])
        p.paint(side, grey if s < 0 else darken(grey, 0.3))
        p.rim(side, 1, darken(grey, 0.6), 0.5)
        p.strands(side, [[(cx + s * (w - 1), cy - 8), (cx + s * (w + 2), cy - 1), (cx + s * (w + 1), cy + 7)]], grey,
                  count=10, jitter=1.0, light=0.5)
    p.eyes(cx, cy, w, h, iris=(100, 90, 70), lash=1.0, brow=(200, 196, 190), brow_w=2.4, brow_tilt=-0.5, skin=skin,
           size=0.92, lid=0.3)
    p.nose(cx, cy, w, h, skin, length=1.15, width=1.2)
    p.mouth(cx, cy, w, h, lip=(170, 100, 90), width=1.0, smile=0.2, full=0.7)
    # short grey goatee
    goat = p.poly([(cx - 5, cy + h * 0.72), (cx, cy + h * 0.68), (cx + 5, cy + h * 0.72), (cx + 4, cy + h + 2.5),
                   (cx, cy + h + 4), (cx - 4, cy + h + 2.5)])
    p.paint(goat, colorize(p.lin(0, cy + h * 0.7, 0, cy + h + 4), [(0, grey), (1, darken(grey, 0.45))]), 0.9)
    p.strands(goat, [[(cx - 3, cy + h * 0.72), (cx - 2, cy + h + 3)], [(cx + 3, cy + h * 0.72), (cx + 2, cy + h + 3)]],
              grey, count=12, jitter=1.2, light=0.5)
    return p.result()


# ---------------------------------------------------------------------------
# Lettering
# ---------------------------------------------------------------------------


def text_mask(text, font_path, size, tracking=0):
    """L mask of `text`, cropped tightly to its ink."""
    font = ImageFont.truetype(font_path, size)
    widths = [font.getlength(ch) for ch in text]
    total = int(sum(widths) + tracking * (len(text) - 1) + size)
    m = Image.new("L", (total + size, int(size * 1.6)), 0)
    d = ImageDraw.Draw(m)
    x = size // 2
    for ch, wd in zip(text, widths):
        d.text((x, size // 4), ch, font=font, fill=255)
        x += wd + tracking
    return m.crop(m.getbbox())


def fit_text(text, font_path, box_w, box_h, tracking_em=0.0):
    """Largest font size whose ink fits `box_w` x `box_h`; returns (size, mask)."""
    lo, hi, best = 4, 800, None
    while lo <= hi:
        mid = (lo + hi) // 2
        m = text_mask(text, font_path, mid, int(mid * tracking_em))
        if m.width <= box_w and m.height <= box_h:
            best = (mid, m)
            lo = mid + 1
        else:
            hi = mid - 1
    return best


def bevel(mask, radius, offset):
    """(highlight, shadow) masks of a raised shape lit from the upper left."""
    b = mask.filter(ImageFilter.GaussianBlur(radius))
    shifted = ImageChops.offset(b, offset, offset)
    hi = m_mul(mask, scale_mask(m_sub(b, shifted), 3.0))
    lo = m_mul(mask, scale_mask(m_sub(shifted, b), 3.0))
    return hi, lo


CREAM = (240, 228, 190)


def cream_word(text, w, h, size=None, ss=4):
    """Cream serif lettering on black; returns (image, font size used)."""
    W, H = w * ss, h * ss
    font = find_font(*SERIF_BOLD)
    if size is None:
        size, m = fit_text(text, font, int(W * 0.92), int(H * 0.80), tracking_em=0.02)
    else:
        m = text_mask(text, font, size, int(size * 0.02))
    mask = Image.new("L", (W, H), 0)
    ox, oy = (W - m.width) // 2, (H - m.height) // 2
    mask.paste(m, (ox, oy))
    img = Image.new("RGB", (W, H), (0, 0, 0))
    # warm vertical ramp over the letter height
    ramp = Image.new("L", (1, H))
    ramp.putdata([max(0, min(255, int((y - oy) * 255.0 / max(1, m.height)))) for y in range(H)])
    ramp = ramp.resize((W, H), Image.NEAREST)
    fill = colorize(ramp, [(0, (252, 246, 222)), (0.45, CREAM), (0.8, (222, 198, 148)), (1, (196, 166, 112))])
    # a soft warm glow behind, then the face of the letters
    glow = mask.filter(ImageFilter.GaussianBlur(ss * 2.2))
    img.paste((120, 84, 40), (0, 0, W, H), scale_mask(glow, 0.35))
    img.paste(fill, (0, 0), mask)
    hi, lo = bevel(mask, ss * 0.9, ss)
    img.paste((255, 252, 238), (0, 0, W, H), scale_mask(hi, 0.8))
    img.paste((120, 90, 50), (0, 0, W, H), scale_mask(lo, 0.7))
    return img.resize((w, h), LANCZOS), size


def title_logo():
    """Metallic VELMORIA lettering with a red subtitle; returns RGBA."""
    w, h, ss = 327, 107, 4
    W, H = w * ss, h * ss
    font = find_font(*TITLE_FONT)
    # main lettering: V and A a size larger than the inner letters, all centred on one line;
    # the word is then fitted to the width and stretched upwards for a tall, heroic look
    fs = 400
    parts = [text_mask("V", font, int(fs * 1.24)), text_mask("ELMORI", font, fs, int(fs * 0.07)),
             text_mask("A", font, int(fs * 1.24))]
    gap = int(fs * 0.06)
    inner_h = parts[1].height
    tall = max(pm.height for pm in parts)
    word = Image.new("L", (sum(pm.width for pm in parts) + gap * 2, tall), 0)
    x = 0
    for pm in parts:
        word.paste(pm, (x, (tall - pm.height) // 2))
        x += pm.width + gap
    inner_caps = 54 * ss  # cap height of the inner letters in the output
    total_h = int(inner_caps * tall / float(inner_h))
    word = word.resize(((w - 12) * ss, total_h), LANCZOS)
    top = 5 * ss
    letters = Image.new("L", (W, H), 0)
    letters.paste(word, ((W - word.width) // 2, top))
    lt = top + (total_h - inner_caps) // 2
    lb = lt + inner_caps
    # steel ramp: bright sky, dark horizon line, bright ground reflection, darker base
    ramp = Image.new("L", (1, H))
    ramp.putdata([max(0, min(255, int((y - lt) * 255.0 / (lb - lt)))) for y in range(H)])
    ramp = ramp.resize((W, H), Image.NEAREST)
    steel = colorize(ramp, [(0.0, (252, 253, 255)), (0.22, (222, 228, 238)), (0.46, (150, 158, 174)),
                            (0.5, (64, 70, 84)), (0.54, (118, 126, 142)), (0.72, (206, 212, 224)),
                            (0.88, (168, 174, 188)), (1.0, (98, 104, 118))])
    # outline: a dark band around the letters (dilated mask)
    outline = letters.filter(ImageFilter.MaxFilter(2 * ss + 1)).filter(ImageFilter.GaussianBlur(ss * 0.6))
    outline = ImageChops.lighter(outline, letters)
    img = Image.new("RGB", (W, H), (0, 0, 0))
    img.paste((16, 18, 26), (0, 0, W, H), outline)
    img.paste(steel, (0, 0), letters)
    hi, lo = bevel(letters, ss * 1.4, int(ss * 1.2))
    img.paste((255, 255, 255), (0, 0, W, H), scale_mask(hi, 0.9))
    img.paste((20, 24, 34), (0, 0, W, H), scale_mask(lo, 0.85))
    # inner dark contour for crispness
    inner = m_sub(letters, letters.filter(ImageFilter.MinFilter(3)))
    img.paste((34, 38, 50), (0, 0, W, H), scale_mask(inner, 0.6))
    # glints
    bbox = letters.getbbox()
    for gx, gy, r in ((bbox[0] + 0.16 * (bbox[2] - bbox[0]), lt + 0.12 * (lb - lt), 9),
                      (bbox[0] + 0.79 * (bbox[2] - bbox[0]), lt + 0.08 * (lb - lt), 7)):
        star = Image.new("L", (W, H), 0)
        d = ImageDraw.Draw(star)
        d.line([(gx - r * ss, gy), (gx + r * ss, gy)], fill=255, width=ss)
        d.line([(gx, gy - r * ss * 0.7), (gx, gy + r * ss * 0.7)], fill=255, width=ss)
        d.ellipse([gx - 1.8 * ss, gy - 1.8 * ss, gx + 1.8 * ss, gy + 1.8 * ss], fill=255)
        star = star.filter(ImageFilter.GaussianBlur(ss * 0.5))
        img.paste((255, 255, 255), (0, 0, W, H), m_mul(star, outline))
    alpha = outline.copy()

    # subtitle in red capitals with small ornaments either side
    sub_font = find_font(*SMALL_CAPS_FONT)
    sub_text = "DIE CHRONIKEN VON EISENMARK UND STURMTAL"
    sub_top = top + total_h + 7 * ss
    avail_h = H - sub_top - 3 * ss
    size, sm = fit_text(sub_text, sub_font, int((w - 44) * ss), avail_h, tracking_em=0.08)
    sub = Image.new("L", (W, H), 0)
    sx = (W - sm.width) // 2
    sub.paste(sm, (sx, sub_top))
    mid_y = sub_top + sm.height // 2
    for s in (-1, 1):
        x0 = sx - 4 * ss if s < 0 else sx + sm.width + 4 * ss
        x1 = x0 + s * 12 * ss
        d = ImageDraw.Draw(sub)
        d.line([(x0, mid_y), (x1, mid_y)], fill=255, width=int(ss * 0.9))
        d.polygon([(x1, mid_y - 2 * ss), (x1 + s * 2 * ss, mid_y), (x1, mid_y + 2 * ss), (x1 - s * 2 * ss, mid_y)],
                  fill=255)
    sramp = Image.new("L", (1, H))
    sramp.putdata([max(0, min(255, int((y - sub_top) * 255.0 / max(1, sm.height)))) for y in range(H)])
    sramp = sramp.resize((W, H), Image.NEAREST)
    red = colorize(sramp, [(0, (255, 96, 72)), (0.5, (214, 30, 24)), (1, (140, 12, 10))])
    sub_out = sub.filter(ImageFilter.MaxFilter(ss + 1))
    img.paste((30, 4, 4), (0, 0, W, H), sub_out)
    img.paste(red, (0, 0), sub)
    alpha = ImageChops.lighter(alpha, sub_out)

    out = img.resize((w, h), LANCZOS)
    a = alpha.resize((w, h), LANCZOS)
    out.putalpha(a)
    return out


# ---------------------------------------------------------------------------
# Notepad and icon
# ---------------------------------------------------------------------------


def notepad():
    """Spiral notepad with a pencil lying across it; returns RGBA (drawn over black)."""
    w = h = 50
    c = Canvas(w, h, ss=8)
    ang = -7.0

    def rot(x, y, cx=50, cy=52):
        a = math.radians(ang)
        dx, dy = x - cx, y - cy
        return (cx + dx * math.cos(a) - dy * math.sin(a), cy + dx * math.sin(a) + dy * math.cos(a))

    def rpoly(seq):
        return c.poly([rot(x, y) for x, y in seq], smooth=False)

    alpha = c.blank()
    # back cover peeking out, then the paper
    cover = rpoly([(17, 14), (87, 14), (87, 95), (17, 95)])
    c.paint(cover, (120, 84, 52))
    paper = rpoly([(14, 12), (84, 12), (84, 92), (14, 92)])
    c.paint(paper, colorize(c.lin(14, 12, 84, 92), [(0, (255, 253, 240)), (0.6, (244, 238, 214)), (1, (214, 204, 176))]))
    alpha = m_add(alpha, m_add(cover, paper))
    # ruled lines and margin
    lines = c.blank()
    d = ImageDraw.Draw(lines)
    for k in range(8):
        y = 30 + k * 7.6
        d.line(c.pts([rot(18, y), rot(81, y)]), fill=255, width=int(c.px(1.4)))
    c.paint(m_mul(paper, lines), (96, 136, 204), 0.9)
    margin = c.blank()
    ImageDraw.Draw(margin).line(c.pts([rot(27, 18), rot(27, 91)]), fill=255, width=int(c.px(1.4)))
    c.paint(m_mul(paper, margin), (214, 64, 64), 0.85)
    # a few handwritten scribbles
    scr = c.blank()
    d = ImageDraw.Draw(scr)
    rng = random.Random(5)
    for k, ln in enumerate((40, 30, 44, 22)):
        y = 28 + k * 7.6
        seq = [rot(31 + i * 1.6, y - 1.8 + rng.uniform(-1.2, 1.2)) for i in range(int(ln / 1.6))]
        d.line(c.pts(seq), fill=255, width=int(c.px(1.3)), joint="curve")
    c.paint(m_mul(paper, scr), (50, 54, 80), 0.75)
    # top binding strip and spiral rings
    strip = rpoly([(14, 12), (84, 12), (84, 19), (14, 19)])
    c.paint(strip, (200, 192, 170), 0.5)
    for k in range(8):
        x = 20 + k * 8.6
        hole = c.ellipse(*rot(x, 16.5), 1.7, 1.7)
        c.paint(hole, (30, 26, 22))
        ring = c.taper([rot(x - 0.2, 16.5), rot(x + 0.3, 9.5), rot(x + 2.2, 6.5), rot(x + 3.6, 9)], 2.4, 1.6, 2.6)
        c.metal(ring, (150, 156, 166), light=(x - 2, 5), to=(x + 4, 17), shine=0.8, rimw=0.6)
        alpha = m_add(alpha, ring)
    # pencil: from lower left (tip) to upper right (eraser)
    x0, y0, x1, y1 = 12, 86, 90, 26
    L = math.hypot(x1 - x0, y1 - y0)
    ux, uy = (x1 - x0) / L, (y1 - y0) / L
    nx, ny = -uy, ux
    hw = 5.0

    def at(t, off):
        return (x0 + ux * t + nx * off, y0 + uy * t + ny * off)

    # shadow on the paper
    sh = c.poly([(x + 2.5, y + 3) for x, y in (at(14, -hw), at(L, -hw), at(L, hw), at(14, hw))], smooth=False, blur=2.0)
    c.paint(m_mul(sh, paper), (60, 50, 30), 0.45)
    tip_len, wood_len, ferrule = 4.5, 14, 8
    # graphite tip and sharpened wood cone
    cone = c.poly([at(0, 0), at(tip_len + wood_len, -hw), at(tip_len + wood_len, hw)], smooth=False)
    c.paint(cone, colorize(c.lin(*at(10, -hw), *at(10, hw)), [(0, (246, 214, 160)), (1, (190, 140, 90))]))
    lead = c.poly([at(0, 0), at(tip_len + 1.5, -1.6), at(tip_len + 1.5, 1.6)], smooth=False)
    c.paint(lead, (56, 56, 62))
    # yellow hexagonal body in three facets
    body_end = L - ferrule - 6
    facets = [(-hw, -hw / 3, (255, 226, 92)), (-hw / 3, hw / 3, (242, 186, 24)), (hw / 3, hw, (196, 132, 10))]
    for a, b, col in facets:
        fm = c.poly([at(tip_len + wood_len, a), at(body_end, a), at(body_end, b), at(tip_len + wood_len, b)],
                    smooth=False)
        c.paint(fm, col)
    # scalloped edge where the paint meets the wood
    for a, b, col in facets:
        mid = (a + b) / 2
        c.paint(c.ellipse(*at(tip_len + wood_len, mid), 1.6, 1.6), col)
    # metal ferrule and pink eraser
    fer = c.poly([at(body_end, -hw), at(body_end + ferrule, -hw), at(body_end + ferrule, hw), at(body_end, hw)],
                 smooth=False)
    c.paint(fer, colorize(c.lin(*at(body_end, -hw), *at(body_end, hw)),
                          [(0, (240, 242, 246)), (0.4, (176, 180, 188)), (1, (96, 100, 110))]))
    for k in (2, 4, 6):
        band = c.taper([at(body_end + k, -hw), at(body_end + k, hw)], 0.7, 0.7)
        c.paint(m_mul(band, fer), (90, 92, 100), 0.8)
    er = c.poly([at(body_end + ferrule, -hw), at(L - 1.2, -hw), at(L, -hw + 1.5), at(L, hw - 1.5), at(L - 1.2, hw),
                 at(body_end + ferrule, hw)], smooth=False)
    c.paint(er, colorize(c.lin(*at(L - 3, -hw), *at(L - 3, hw)), [(0, (252, 170, 170)), (1, (200, 96, 104))]))
    pencil = c.poly([at(0, 0), at(tip_len + wood_len, -hw), at(L - 1.2, -hw), at(L, -hw + 1.5), at(L, hw - 1.5),
                     at(L - 1.2, hw), at(tip_len + wood_len, hw)], smooth=False)
    c.rim(pencil, 0.8, (60, 40, 20), 0.5)
    alpha = m_add(alpha, pencil)
    rgb = c.result()
    a = alpha.resize((w, h), LANCZOS)
    rgb.putalpha(a)
    return rgb


def icon_image():
    """32x32 program icon: a yellow V and S overlapping on a blue tile."""
    w = h = 32
    ss = 8
    c = Canvas(w, h, ss=ss)
    tile = c.blank(255)
    c.paint(tile, colorize(c.lin(0, 0, 100, 100), [(0, (70, 120, 220)), (0.5, (32, 72, 176)), (1, (14, 32, 104))]))
    # bevelled frame
    c.paint(c.poly([(0, 0), (100, 0), (95, 5), (5, 5), (5, 95), (0, 100)], smooth=False), (150, 186, 250), 0.8)
    c.paint(c.poly([(100, 100), (0, 100), (5, 95), (95, 95), (95, 5), (100, 0)], smooth=False), (8, 16, 60), 0.8)
    font = find_font("DejaVuSerif-Bold.ttf", *SERIF_BOLD)

    def letter(ch, box):
        m = text_mask(ch, font, 400)
        bw, bh = int(c.px(box[2] - box[0])), int(c.px(box[3] - box[1]))
        m = m.resize((bw, bh), LANCZOS)
        full = c.blank()
        full.paste(m, (int(box[0] * c.kx), int(box[1] * c.ky)))
        return full

    def draw(mask):
        outline = mask.filter(ImageFilter.MaxFilter(2 * ss + 1))
        c.paint(outline, (10, 16, 48))
        ramp = c.lin(0, 14, 0, 90)
        c.paint(mask, colorize(ramp, [(0, (255, 246, 150)), (0.45, (255, 212, 40)), (1, (214, 130, 10))]))
        hi, lo = bevel(mask, ss * 0.8, ss)
        c.paint(hi, (255, 255, 230), 0.8)
        c.paint(lo, (130, 70, 0), 0.6)

    draw(letter("V", (8, 10, 66, 78)))
    draw(letter("S", (44, 26, 90, 90)))
    return c.result()


# ---------------------------------------------------------------------------
# Writers (plain formats that OleLoadPicture / GDI read without surprises)
# ---------------------------------------------------------------------------


def save_bmp(img, name):
    img.convert("RGB").save(os.path.join(OUT_DIR, name), "BMP")  # 24-bit BI_RGB, bottom-up


def save_jpeg(img, name):
    img.convert("RGB").save(os.path.join(OUT_DIR, name), "JPEG", quality=92, progressive=False, optimize=True,
                            subsampling=0)


def save_gif(rgba, name, colors=255, cutoff=10):
    """8-bit GIF89a with palette index 255 reserved as the transparent colour.

    Pixels are composited over black (the window behind them is black) and
    everything with alpha below `cutoff` becomes transparent.
    """
    rgba = rgba.convert("RGBA")
    black = Image.new("RGB", rgba.size, (0, 0, 0))
    black.paste(rgba, (0, 0), rgba)
    q = black.quantize(colors=colors, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.FLOYDSTEINBERG)
    pal = q.getpalette()[:colors * 3]
    pal += [0] * (255 * 3 - len(pal))
    pal += [255, 0, 255]  # index 255: transparent (magenta, never shown)
    q.putpalette(pal)
    clear = rgba.getchannel("A").point(lambda v: 255 if v < cutoff else 0)
    q.paste(255, (0, 0, q.width, q.height), clear)
    q.save(os.path.join(OUT_DIR, name), "GIF", transparency=255, interlace=False, optimize=False)


def save_ico(img, name):
    """Single 32x32 image, 24 bits per pixel (BI_RGB) plus an all-opaque AND mask."""
    img = img.convert("RGB")
    w, h = img.size
    assert (w, h) == (32, 32)
    xor_stride = (w * 3 + 3) & ~3
    and_stride = ((w + 31) // 32) * 4
    xor = bytearray()
    px = img.load()
    for y in range(h - 1, -1, -1):
        row = bytearray()
        for x in range(w):
            r, g, b = px[x, y]
            row += bytes((b, g, r))
        row += b"\0" * (xor_stride - len(row))
        xor += row
    and_mask = b"\0" * (and_stride * h)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 24, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    data = header + bytes(xor) + and_mask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 0, 0, 1, 24, len(data), 6 + 16)
    with open(os.path.join(OUT_DIR, name), "wb") as f:
        f.write(icondir + entry + data)


# ---------------------------------------------------------------------------

PORTRAITS = [
    ("eisenmark_normal.bmp", portrait_eisenmark_normal),
    ("eisenmark_debug.bmp", portrait_eisenmark_debug),
    ("eisenmark_geschlossen.bmp", portrait_eisenmark_geschlossen),
    ("eisenmark_editor.bmp", portrait_eisenmark_editor),
    ("sturmtal_normal.bmp", portrait_sturmtal_normal),
    ("sturmtal_debug.bmp", portrait_sturmtal_debug),
    ("sturmtal_geschlossen.bmp", portrait_sturmtal_geschlossen),
    ("sturmtal_editor.bmp", portrait_sturmtal_editor),
]


def main(argv):
    only = set(argv[1:])
    os.makedirs(OUT_DIR, exist_ok=True)

    def wanted(name):
        return not only or name in only or os.path.splitext(name)[0] in only

    if wanted("title.gif"):
        save_gif(title_logo(), "title.gif")
    if wanted("starter.jpg"):
        save_jpeg(cream_word("Starter", 237, 83)[0], "starter.jpg")
    # the two game names share one font size so they match side by side
    font = find_font(*SERIF_BOLD)
    shared = min(fit_text("Eisenmark", font, int(178 * 4 * 0.92), int(46 * 4 * 0.80), 0.02)[0],
                 fit_text("Sturmtal", font, int(157 * 4 * 0.92), int(53 * 4 * 0.80), 0.02)[0])
    if wanted("eisenmark.jpg"):
        save_jpeg(cream_word("Eisenmark", 178, 46, size=shared)[0], "eisenmark.jpg")
    if wanted("sturmtal.jpg"):
        save_jpeg(cream_word("Sturmtal", 157, 53, size=shared)[0], "sturmtal.jpg")
    for name, fn in PORTRAITS:
        if wanted(name):
            save_bmp(fn(), name)
    if wanted("notepad.gif"):
        save_gif(notepad(), "notepad.gif", colors=127)
    if wanted("velmo.ico"):
        save_ico(icon_image(), "velmo.ico")
    for name in sorted(os.listdir(OUT_DIR)):
        print("%-28s %7d bytes" % (name, os.path.getsize(os.path.join(OUT_DIR, name))))


if __name__ == "__main__":
    main(sys.argv)

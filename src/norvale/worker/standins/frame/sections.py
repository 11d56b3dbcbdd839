"""Cross-section properties: rectangles, circles, tubes, numerical sections and library profiles.

Local axes: width along y, height along z; Iy = width * height^3 / 12 is the second moment about y.
Shear areas Ay, Az (for shear deformation) use the standard coefficients: rectangle 5/6, solid circle
9/10, thin tube 1/2, the web of an I or channel, the walls of a hollow section parallel to the shear.

Library profiles:
- parametric, from their names in millimetres: RHS<h>x<b>x<t> and SHS<b>x<t> (square corners,
  torsion by Bredt's formula on the mid-line), CHS<d>x<t>, FLAT<b>x<t> (b along y, t along z),
  ROUND<d>;
- rolled IPE 80-600, HEA and HEB 100-600, UPN 80-400 from the dimensions of the European catalogue
  of hot-rolled sections (EN 10365:2017: h, b, tw, tf, r); A, Iy and Iz are computed from them with
  the root fillets, It with the fillet formula used by the steel makers' catalogues (El Darwish and
  Johnston). The tapered UPN flanges are taken at their mean thickness tf.
"""

from __future__ import annotations

import math
import re
from dataclasses import dataclass
from typing import Optional

from .errors import AnalysisRefused

INF = math.inf


@dataclass(frozen=True)
class Section:
    A: float
    Ay: float   # shear area along local y (INF: no shear deformation)
    Az: float
    Iy: float
    Iz: float
    It: float
    height: float  # extent along local z (for temperature gradients); 0 when unknown
    width: float   # extent along local y


def rectangle_torsion(a: float, b: float) -> float:
    """Saint-Venant's torsion constant of a solid rectangle, by its series (exact to rounding)."""
    a, b = max(a, b), min(a, b)
    total, n = 0.0, 1
    while True:
        term = math.tanh(n * math.pi * a / (2.0 * b)) / n ** 5
        total += term
        if term < 1e-17 * total:
            break
        n += 2
    return a * b ** 3 / 3.0 * (1.0 - 192.0 / math.pi ** 5 * (b / a) * total)


def rectangular(width: float, height: float) -> Section:
    A = width * height
    return Section(A, 5 / 6 * A, 5 / 6 * A, width * height ** 3 / 12, height * width ** 3 / 12,
                   rectangle_torsion(width, height), height, width)


def circular(d: float) -> Section:
    A = math.pi * d * d / 4
    I = math.pi * d ** 4 / 64
    return Section(A, 0.9 * A, 0.9 * A, I, I, 2 * I, d, d)


def circular_hollow(d: float, t: float) -> Section:
    di = d - 2 * t
    A = math.pi * (d * d - di * di) / 4
    I = math.pi * (d ** 4 - di ** 4) / 64
    return Section(A, 0.5 * A, 0.5 * A, I, I, 2 * I, d, d)


def hollow_rectangular(h: float, b: float, t: float) -> Section:
    hi, bi = h - 2 * t, b - 2 * t
    A = b * h - bi * hi
    Iy = (b * h ** 3 - bi * hi ** 3) / 12
    Iz = (h * b ** 3 - hi * bi ** 3) / 12
    hm, bm = h - t, b - t
    It = 4 * (hm * bm) ** 2 * t / (2 * (hm + bm))
    return Section(A, A * b / (b + h), A * h / (b + h), Iy, Iz, It, h, b)


# A spandrel between a root fillet of radius r and its corner: area and centroid from the corner.
_FILLET_AREA = 1 - math.pi / 4
_FILLET_C = (10 - 3 * math.pi) / (12 - 3 * math.pi)
_FILLET_I = 1 / 3 - math.pi / 16  # second moment about a corner edge, per r^4


def i_section(h: float, b: float, tw: float, tf: float, r: float) -> Section:
    hw = h - 2 * tf
    a_f = _FILLET_AREA * r * r
    d = _FILLET_C * r
    own = _FILLET_I * r ** 4 - a_f * d * d
    A = 2 * b * tf + hw * tw + 4 * a_f
    Iy = (b * h ** 3 - (b - tw) * hw ** 3) / 12 + 4 * (own + a_f * (hw / 2 - d) ** 2)
    Iz = 2 * tf * b ** 3 / 12 + hw * tw ** 3 / 12 + 4 * (own + a_f * (tw / 2 + d) ** 2)
    D = ((tf + r) ** 2 + tw * (r + tw / 4)) / (2 * r + tf)
    It = 2 / 3 * (b - 0.63 * tf) * tf ** 3 + hw * tw ** 3 / 3 + 2 * (tw / tf) * (0.145 + 0.1 * r / tf) * D ** 4
    Az = max(A - 2 * b * tf + (tw + 2 * r) * tf, hw * tw)
    return Section(A, 2 * b * tf * 5 / 6, Az, Iy, Iz, It, h, b)


def channel(h: float, b: float, tw: float, tf: float, r: float) -> Section:
    hw = h - 2 * tf
    a_f = _FILLET_AREA * r * r
    d = _FILLET_C * r
    own = _FILLET_I * r ** 4 - a_f * d * d
    # web at y in [0, tw], flanges at y in [0, b]; fillets at the web's inner face
    parts = [(tw * hw, tw / 2), (2 * b * tf, b / 2), (2 * a_f, tw + d)]
    A = sum(a for a, _ in parts)
    yc = sum(a * y for a, y in parts) / A
    Iy = (b * h ** 3 - (b - tw) * hw ** 3) / 12 + 2 * (own + a_f * (hw / 2 - d) ** 2)
    Iz = (hw * tw ** 3 / 12 + tw * hw * (tw / 2 - yc) ** 2 + 2 * (tf * b ** 3 / 12 + b * tf * (b / 2 - yc) ** 2)
          + 2 * (own + a_f * (tw + d - yc) ** 2))
    It = (2 * b * tf ** 3 + hw * tw ** 3) / 3
    return Section(A, 2 * b * tf * 5 / 6, hw * tw, Iy, Iz, It, h, b)


# EN 10365:2017 dimensions in mm: h, b, tw, tf, r
_IPE = {80: (80, 46, 3.8, 5.2, 5), 100: (100, 55, 4.1, 5.7, 7), 120: (120, 64, 4.4, 6.3, 7),
        140: (140, 73, 4.7, 6.9, 7), 160: (160, 82, 5.0, 7.4, 9), 180: (180, 91, 5.3, 8.0, 9),
        200: (200, 100, 5.6, 8.5, 12), 220: (220, 110, 5.9, 9.2, 12), 240: (240, 120, 6.2, 9.8, 15),
        270: (270, 135, 6.6, 10.2, 15), 300: (300, 150, 7.1, 10.7, 15), 330: (330, 160, 7.5, 11.5, 18),
        360: (360, 170, 8.0, 12.7, 18), 400: (400, 180, 8.6, 13.5, 21), 450: (450, 190, 9.4, 14.6, 21),
        500: (500, 200, 10.2, 16.0, 21), 550: (550, 210, 11.1, 17.2, 24), 600: (600, 220, 12.0, 19.0, 24)}
_HEA = {100: (96, 100, 5, 8, 12), 120: (114, 120, 5, 8, 12), 140: (133, 140, 5.5, 8.5, 12),
        160: (152, 160, 6, 9, 15), 180: (171, 180, 6, 9.5, 15), 200: (190, 200, 6.5, 10, 18),
        220: (210, 220, 7, 11, 18), 240: (230, 240, 7.5, 12, 21), 260: (250, 260, 7.5, 12.5, 24),
        280: (270, 280, 8, 13, 24), 300: (290, 300, 8.5, 14, 27), 320: (310, 300, 9, 15.5, 27),
        340: (330, 300, 9.5, 16.5, 27), 360: (350, 300, 10, 17.5, 27), 400: (390, 300, 11, 19, 27),
        450: (440, 300, 11.5, 21, 27), 500: (490, 300, 12, 23, 27), 550: (540, 300, 12.5, 24, 27),
        600: (590, 300, 13, 25, 27)}
_HEB = {100: (100, 100, 6, 10, 12), 120: (120, 120, 6.5, 11, 12), 140: (140, 140, 7, 12, 12),
        160: (160, 160, 8, 13, 15), 180: (180, 180, 8.5, 14, 15), 200: (200, 200, 9, 15, 18),
        220: (220, 220, 9.5, 16, 18), 240: (240, 240, 10, 17, 21), 260: (260, 260, 10, 17.5, 24),
        280: (280, 280, 10.5, 18, 24), 300: (300, 300, 11, 19, 27), 320: (320, 300, 11.5, 20.5, 27),
        340: (340, 300, 12, 21.5, 27), 360: (360, 300, 12.5, 22.5, 27), 400: (400, 300, 13.5, 24, 27),
        450: (450, 300, 14, 26, 27), 500: (500, 300, 14.5, 28, 27), 550: (550, 300, 15, 29, 27),
        600: (600, 300, 15.5, 30, 27)}
_UPN = {80: (80, 45, 6, 8, 8), 100: (100, 50, 6, 8.5, 8.5), 120: (120, 55, 7, 9, 9), 140: (140, 60, 7, 10, 10),
        160: (160, 65, 7.5, 10.5, 10.5), 180: (180, 70, 8, 11, 11), 200: (200, 75, 8.5, 11.5, 11.5),
        220: (220, 80, 9, 12.5, 12.5), 240: (240, 85, 9.5, 13, 13), 260: (260, 90, 10, 14, 14),
        280: (280, 95, 10, 15, 15), 300: (300, 100, 10, 16, 16), 320: (320, 100, 14, 17.5, 17.5),
        350: (350, 100, 14, 16, 16), 380: (380, 102, 13.5, 16, 16), 400: (400, 110, 14, 18, 18)}
ROLLED = {"IPE": _IPE, "HEA": _HEA, "HEB": _HEB, "UPN": _UPN}

_NUM = r"(\d+(?:\.\d+)?)"
_PARAMETRIC = {
    "RHS": re.compile(rf"RHS{_NUM}X{_NUM}X{_NUM}"),
    "SHS": re.compile(rf"SHS{_NUM}X{_NUM}"),
    "CHS": re.compile(rf"CHS{_NUM}X{_NUM}"),
    "FLAT": re.compile(rf"FLAT{_NUM}X{_NUM}"),
    "ROUND": re.compile(rf"ROUND{_NUM}"),
}
_ROLLED_NAME = re.compile(r"(IPE|HEA|HEB|UPN|HE)(\d+)([AB]?)")


def library(profile: Optional[str], user: str) -> Section:
    """The section of a library profile by its name, e.g. "IPE200", "HEA 300", "RHS200x100x8"."""
    key = re.sub(r"\s+", "", profile or "").upper().replace("×", "X")
    for family, pattern in _PARAMETRIC.items():
        match = pattern.fullmatch(key)
        if match:
            v = [float(g) / 1000.0 for g in match.groups()]
            if family == "RHS":
                return hollow_rectangular(v[0], v[1], v[2])
            if family == "SHS":
                return hollow_rectangular(v[0], v[0], v[1])
            if family == "CHS":
                return circular_hollow(v[0], v[1])
            if family == "FLAT":
                return rectangular(v[0], v[1])
            return circular(v[0])
    match = _ROLLED_NAME.fullmatch(key)
    if match:
        family, size, suffix = match.groups()
        if family == "HE" and suffix:
            family = "HE" + suffix
        elif suffix:
            family = ""
        dims = ROLLED.get(family, {}).get(int(size))
        if dims:
            h, b, tw, tf, r = (x / 1000.0 for x in dims)
            return channel(h, b, tw, tf, r) if family == "UPN" else i_section(h, b, tw, tf, r)
    raise AnalysisRefused(f"unknown profile {profile!r} (of {user}): known are IPE 80-600, HEA and HEB 100-600, "
                          "UPN 80-400 and RHS<h>x<b>x<t>, SHS<b>x<t>, CHS<d>x<t>, FLAT<b>x<t>, ROUND<d> in mm")

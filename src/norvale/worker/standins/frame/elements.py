"""Beam elements in local axes: stiffness, equivalent loads of span loads and temperature.

DOFs per end: ux, uy, uz, rx, ry, rz (begin 0-5, end 6-11). Bending in the x-y plane uses (uy, rz),
in the x-z plane (uz, ry) with ry = -duz/dx. Shear deformation enters through phi = 12 EI / (G As L^2)
(zero without it); the shape functions are the exact solutions of the unloaded Timoshenko beam, so
the equivalent loads reproduce the exact end displacements.
"""

from __future__ import annotations

import numpy as np

# 3-point Gauss-Legendre on [0, 1]: exact for polynomials up to degree 5
_GX = np.array([0.5 - np.sqrt(15) / 10, 0.5, 0.5 + np.sqrt(15) / 10])
_GW = np.array([5 / 18, 8 / 18, 5 / 18])

# indices of the bending DOFs of each plane, and the sign that maps the x-z plane onto the x-y one
_XY = np.array([1, 5, 7, 11])
_XZ = np.array([2, 4, 8, 10])
_XZ_SIGN = np.array([-1.0, 1.0, -1.0, 1.0])


def phi(E, G, I, As, L, shear: bool):
    if not shear:
        return np.zeros_like(L)
    with np.errstate(divide="ignore", invalid="ignore"):
        p = 12.0 * E * I / (G * As * L * L)
    return np.where(np.isfinite(As), p, 0.0)


def stiffness(E, G, A, Iy, Iz, It, L, phi_y, phi_z) -> np.ndarray:
    """(m, 12, 12) local stiffness matrices. phi_y belongs to bending in x-y (EIz), phi_z to x-z (EIy)."""
    m = L.shape[0]
    k = np.zeros((m, 12, 12))
    ea = E * A / L
    gj = G * It / L
    for i, j, s in ((0, 0, 1), (6, 6, 1), (0, 6, -1), (6, 0, -1)):
        k[:, i, j] = s * ea
        k[:, i + 3, j + 3] = s * gj
    for idx, sign, EI, p in ((_XY, np.ones(4), E * Iz, phi_y), (_XZ, _XZ_SIGN, E * Iy, phi_z)):
        c = EI / (L ** 3 * (1 + p))
        L2 = L * L
        b = np.zeros((m, 4, 4))
        b[:, 0, 0] = b[:, 2, 2] = 12 * c
        b[:, 0, 2] = b[:, 2, 0] = -12 * c
        b[:, 0, 1] = b[:, 1, 0] = b[:, 0, 3] = b[:, 3, 0] = 6 * L * c
        b[:, 2, 1] = b[:, 1, 2] = b[:, 2, 3] = b[:, 3, 2] = -6 * L * c
        b[:, 1, 1] = b[:, 3, 3] = (4 + p) * L2 * c
        b[:, 1, 3] = b[:, 3, 1] = (2 - p) * L2 * c
        b *= sign[None, :, None] * sign[None, None, :]
        k[:, idx[:, None], idx[None, :]] = b
    return k


def _shapes(xi, L, p):
    """Transverse (n) and rotation (r) shape functions of the x-y plane at xi: (..., 4) each."""
    q = 1.0 / (1.0 + p)
    n = np.stack([q * (1 - 3 * xi ** 2 + 2 * xi ** 3 + p * (1 - xi)),
                  q * L * (xi - 2 * xi ** 2 + xi ** 3 + p / 2 * (xi - xi ** 2)),
                  q * (3 * xi ** 2 - 2 * xi ** 3 + p * xi),
                  q * L * (-xi ** 2 + xi ** 3 - p / 2 * (xi - xi ** 2))], axis=-1)
    r = np.stack([q * 6 * (xi ** 2 - xi) / L,
                  q * (1 - 4 * xi + 3 * xi ** 2 + p * (1 - xi)),
                  -q * 6 * (xi ** 2 - xi) / L,
                  q * (-2 * xi + 3 * xi ** 2 + p * xi)], axis=-1)
    return n, r


def _curvature_shapes(xi, L, p):
    """d(rotation shape)/dx of the x-y plane: (..., 4)."""
    q = 1.0 / (1.0 + p)
    return np.stack([q * 6 * (2 * xi - 1) / L ** 2,
                     q * (-4 + 6 * xi - p) / L,
                     -q * 6 * (2 * xi - 1) / L ** 2,
                     q * (-2 + 6 * xi + p) / L], axis=-1)


def point_loads(L, py, pz, x, f) -> np.ndarray:
    """(k, 12) equivalent end loads of concentrated forces/moments f (k, 6; local) at x (k,) on beams of
    length L (k,) with phi py (x-y) and pz (x-z)."""
    xi = x / L
    out = np.zeros((len(L), 12))
    out[:, 0] = (1 - xi) * f[:, 0]
    out[:, 6] = xi * f[:, 0]
    out[:, 3] = (1 - xi) * f[:, 3]
    out[:, 9] = xi * f[:, 3]
    n, r = _shapes(xi, L, py)
    out[:, _XY] += n * f[:, 1:2] + r * f[:, 5:6]
    n, r = _shapes(xi, L, pz)
    out[:, _XZ] += (n * (-f[:, 2:3]) + r * f[:, 4:5]) * _XZ_SIGN
    return out


def line_loads(L, py, pz, x1, x2, q1, q2) -> np.ndarray:
    """(k, 12) equivalent end loads of linearly varying loads per length q1 at x1 to q2 at x2 (k, 6)."""
    out = np.zeros((len(L), 12))
    span = x2 - x1
    for gx, gw in zip(_GX, _GW):
        x = x1 + gx * span
        q = q1 + gx * (q2 - q1)
        out += point_loads(L, py, pz, x, q) * (gw * span)[:, None]
    return out


def thermal_loads(E, A, Iy, Iz, L, py, pz, x1, x2, eps, ky, kz) -> np.ndarray:
    """(k, 12) equivalent end loads of a free strain eps and free curvatures ky (about y: the +z fibre
    lengthens) and kz over [x1, x2]."""
    out = np.zeros((len(L), 12))
    span = x2 - x1
    n_t = E * A * eps * span / L
    out[:, 0] = -n_t
    out[:, 6] = n_t
    for gx, gw in zip(_GX, _GW):
        xi = (x1 + gx * span) / L
        w = (gw * span)[:, None]
        out[:, _XY] += _curvature_shapes(xi, L, py) * (E * Iz * kz)[:, None] * w
        out[:, _XZ] += _curvature_shapes(xi, L, pz) * (E * Iy * ky)[:, None] * w * _XZ_SIGN
    return out

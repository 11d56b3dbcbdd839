"""Internal forces along the beams, and the results of the combinations.

The internal forces at a section x of a beam are what the part beyond x exerts on the part before it,
in local axes: N (positive in tension), Vy, Vz, Mx, My, Mz. They follow from the equilibrium of the
part [0, x]: the force the begin node exerts on the beam plus the loads on [0, x].
"""

from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from .model import Case, Frame
from .solve import Solution

# 2-point Gauss-Legendre on [0, 1]: exact for the quadratics of a linear load's moment
_G2X = np.array([0.5 - np.sqrt(3) / 6, 0.5 + np.sqrt(3) / 6])
_G2W = np.array([0.5, 0.5])


@dataclass
class Stations:
    beam: np.ndarray   # (S,) beam index, sorted by beam then x
    x: np.ndarray      # (S,) distance from the begin node
    after: np.ndarray  # (S,) True: a point load at x is included (the side after it)
    start: np.ndarray  # (m + 1,) offsets of each beam's stations


def stations(frame: Frame) -> Stations:
    """Both ends, every tenth of the length, both sides of every point load (of any case) and every
    result section: the same stations in every table."""
    m = len(frame.beam_names)
    L = frame.length
    tenth = np.arange(11) / 10.0
    base_x = (L[:, None] * tenth[None, :])
    base_x[:, 10] = L
    extra: dict[int, list[tuple[float, bool]]] = {}
    for _, b, x, _ in frame.points:
        extra.setdefault(b, []).extend([(x, False), (x, True)])
    for b, x in frame.sections_at:
        extra.setdefault(b, []).append((x, True))
    rows_of: dict[int, list[tuple[float, bool]]] = {}
    for b, items in extra.items():
        # sorted by x; at one x the side before a point load first; a station met twice is kept once
        rows_of[b] = sorted(set([(float(x), True) for x in base_x[b]] + [(float(x), a) for x, a in items]))
    counts = np.full(m, 11)
    for b, rows in rows_of.items():
        counts[b] = len(rows)
    start = np.zeros(m + 1, dtype=np.int64)
    np.cumsum(counts, out=start[1:])
    beam = np.repeat(np.arange(m), counts)
    if not rows_of:
        return Stations(beam, base_x.reshape(-1), np.ones(beam.size, dtype=bool), start)
    xs = np.empty(beam.size)
    after = np.ones(beam.size, dtype=bool)
    plain = np.ones(m, dtype=bool)
    plain[list(rows_of)] = False
    pos = start[:-1][plain][:, None] + np.arange(11)[None, :]
    xs[pos] = base_x[plain]
    for b, rows in rows_of.items():
        s = start[b]
        xs[s: s + len(rows)] = [r[0] for r in rows]
        after[s: s + len(rows)] = [r[1] for r in rows]
    return Stations(beam, xs, after, start)


def _pairs(stations: Stations, beams: np.ndarray):
    """Every (record, station) pair of records on `beams`: record indices and station indices."""
    first = stations.start[beams]
    count = stations.start[beams + 1] - first
    rec = np.repeat(np.arange(beams.size), count)
    offset = np.arange(rec.size) - np.repeat(np.cumsum(count) - count, count)
    return rec, np.repeat(first, count) + offset


def internal_forces(solution: Solution, st: Stations) -> np.ndarray:
    """(ncases, S, 6): N, Vy, Vz, Mx, My, Mz at every station."""
    frame = solution.frame
    nc = len(frame.cases)
    S = st.x.size
    acc = np.zeros((nc, S, 6))   # loads on [0, x]: force sum and moment about the section
    if frame.points:
        c, b, a, P = frame.point_columns()
        rec, s = _pairs(st, b)
        x = st.x[s]
        inside = (a[rec] < x) | ((a[rec] == x) & st.after[s])
        rec, s, x = rec[inside], s[inside], x[inside]
        f = P[rec]
        arm = a[rec] - x
        contrib = np.concatenate([f[:, :3], np.stack([f[:, 3], -arm * f[:, 2] + f[:, 4], arm * f[:, 1] + f[:, 5]],
                                                      axis=1)], axis=1)
        np.add.at(acc, (c[rec], s), contrib)
    if len(frame.lines):
        c, b, x1, x2, q1, q2 = frame.lines.fields()
        rec, s = _pairs(st, b)
        x = st.x[s]
        end = np.minimum(x, x2[rec])
        inside = end > x1[rec]
        rec, s, x, end = rec[inside], s[inside], x[inside], end[inside]
        span = end - x1[rec]
        slope = (q2[rec] - q1[rec]) / (x2[rec] - x1[rec])[:, None]
        contrib = np.zeros((rec.size, 6))
        for gx, gw in zip(_G2X, _G2W):
            sx = x1[rec] + gx * span
            q = q1[rec] + (sx - x1[rec])[:, None] * slope
            arm = sx - x
            w = (gw * span)[:, None]
            contrib += w * np.concatenate([q[:, :3], np.stack([q[:, 3], -arm * q[:, 2] + q[:, 4],
                                                               arm * q[:, 1] + q[:, 5]], axis=1)], axis=1)
        np.add.at(acc, (c[rec], s), contrib)
    # minus the forces at the begin node, then the moments of its shear forces about the section
    out = solution.end_forces[:, st.beam, :6]        # (nc, S, 6), a new array
    np.negative(out, out=out)
    x = st.x[None, :]
    out[..., 4] += x * out[..., 2]
    out[..., 5] -= x * out[..., 1]
    out -= acc
    return out


def combine(case_values: np.ndarray, combination: Case) -> tuple[np.ndarray, ...]:
    """A linear combination: one array, the factored sum; an envelope: (maximum, minimum) per value
    over the factored load cases."""
    if not combination.coefficients:
        zero = np.zeros(case_values.shape[1:])
        return (zero, zero) if combination.envelope else (zero,)
    if combination.envelope:
        (i, f), *rest = combination.coefficients
        high = f * case_values[i]
        low = high.copy()
        for i, f in rest:
            part = f * case_values[i]
            np.maximum(high, part, out=high)
            np.minimum(low, part, out=low)
        return high, low
    total = np.zeros(case_values.shape[1:])
    for i, f in combination.coefficients:
        total += f * case_values[i]
    return (total,)

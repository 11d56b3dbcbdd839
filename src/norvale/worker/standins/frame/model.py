"""The frame part of a model, read from the tables of the input XML into arrays.

Everything the analysis does not analyse is refused here, naming the first such object.
"""

from __future__ import annotations

import json
import math
from collections.abc import Iterator, Sequence
from dataclasses import dataclass, field
from typing import Any, Optional, cast, overload

import numpy as np

from . import sections as sec
from .errors import AnalysisRefused
from .materials import material

Row = dict[Optional[str], Optional[str]]


class Table(Sequence[Row]):
    """The rows of a table whose rows all have the same cells, kept as its columns (title -> the
    values, one per row); the rows as mappings are made when asked for."""

    __slots__ = ("columns", "_n", "_rows")

    def __init__(self, columns: dict[Optional[str], list[Optional[str]]], n: int):
        self.columns = columns
        self._n = n
        self._rows: Optional[list[Row]] = None

    def rows(self) -> list[Row]:
        if self._rows is None:
            keys = list(self.columns)
            self._rows = ([dict(zip(keys, values)) for values in zip(*self.columns.values())] if keys
                          else [{} for _ in range(self._n)])
        return self._rows

    def __len__(self) -> int:
        return self._n

    @overload
    def __getitem__(self, i: int) -> Row: ...
    @overload
    def __getitem__(self, i: slice) -> list[Row]: ...
    def __getitem__(self, i: Any) -> Any:
        return self.rows()[i]

    def __iter__(self) -> Iterator[Row]:
        return iter(self.rows())

    def __eq__(self, other: object) -> bool:
        return isinstance(other, Sequence) and list(self) == list(other)

    def __repr__(self) -> str:
        return f"Table({self.rows()!r})"


Tables = dict[Optional[str], Sequence[Row]]


def column(rows: Sequence[Row], key: str) -> list[Optional[str]]:
    """The values of one column of a table (None where a row has no such cell)."""
    if isinstance(rows, Table):
        values = rows.columns.get(key)
        return values if values is not None else [None] * len(rows)
    return [r.get(key) for r in rows]


def texts(rows: Sequence[Row], key: str, default: str = "") -> list[str]:
    """`text` of every row."""
    return [default if v is None else v for v in column(rows, key)]


def numbers(rows: Sequence[Row], key: str, default: float) -> np.ndarray:
    """`num` of every row, with a default."""
    values = column(rows, key)
    if None in values or "" in values:
        return np.array([default if v is None or v == "" else float(v) for v in values], dtype=float)
    return np.fromiter(map(float, cast(list[str], values)), dtype=float, count=len(values))

#: Tables whose objects the frame analysis does not analyse: table -> what to call the object.
REFUSED = {
    "subsoils": "subsoil", "arbitrary_profiles": "arbitrary profile", "cross_links": "cross link",
    "planes": "plane", "open_slabs": "open slab", "internal_edges": "internal edge",
    "point_supports_line": "point support on a beam", "line_supports_line": "line support on a beam",
    "line_supports_surface": "line support on a plane edge", "surface_supports": "surface support",
    "hinges_on_plane": "hinge on a plane edge", "nonlinear_load_combinations": "nonlinear load combination",
    "line_moments_on_plane": "line moment on a plane edge", "line_force_surface_list": "line load on a plane edge",
    "surface_loads": "surface load", "thermal_surface_loads": "thermal surface load",
    "free_surface_loads": "free surface load", "free_line_loads": "free line load",
    "free_point_loads": "free point load", "integration_strips": "integration strip",
    "averaging_strips": "averaging strip", "sections_on_plane": "section on a plane",
}

COMPONENTS = ("X", "Y", "Z")
DOF_NAMES = ("displacement along X", "displacement along Y", "displacement along Z",
             "rotation about X", "rotation about Y", "rotation about Z")
G_ACC = 9.81  # m/s2, for self weight


def refuse_unsupported(tables: Tables) -> None:
    for key, what in REFUSED.items():
        rows = tables.get(key)
        if rows:
            raise AnalysisRefused(f"the frame analysis does not analyse the {what} {rows[0].get('name')!r}")


def num(row: Row, key: str, default: Optional[float] = None) -> float:
    value = row.get(key)
    if value is None or value == "":
        if default is None:
            raise AnalysisRefused(f"{row.get('name')!r} has no value for {key}")
        return default
    return float(value)


def text(row: Row, key: str, default: str = "") -> str:
    value = row.get(key)
    return default if value is None else value


def rotation(angles: tuple[float, float, float]) -> np.ndarray:
    """The axes turned about X, then Y, then Z (fixed axes, degrees): columns are the turned axes."""
    ax, ay, az = (math.radians(a) for a in angles)
    cx, sx, cy, sy, cz, sz = math.cos(ax), math.sin(ax), math.cos(ay), math.sin(ay), math.cos(az), math.sin(az)
    rx = np.array([[1, 0, 0], [0, cx, -sx], [0, sx, cx]])
    ry = np.array([[cy, 0, sy], [0, 1, 0], [-sy, 0, cy]])
    rz = np.array([[cz, -sz, 0], [sz, cz, 0], [0, 0, 1]])
    return rz @ ry @ rx


def _angles(row: Row, key: str = "angle") -> tuple[float, float, float]:
    value = row.get(key)
    if not value:
        return (0.0, 0.0, 0.0)
    a = json.loads(value)
    return (float(a[0]), float(a[1]), float(a[2]))


@dataclass
class Case:
    name: str
    kind: str              # "case", or the combination's load type
    title: str             # the output table's name
    coefficients: list[tuple[int, float]] = field(default_factory=list)  # combinations: (case index, factor)

    @property
    def envelope(self) -> bool:
        return self.kind.startswith("ENVELOPE")


@dataclass
class LineLoads:
    """Distributed loads on beams, in local axes: per load its case, beam, span [x1, x2] and its six
    components per length (forces, then moments) at both ends. Iterating gives (case, beam, x1,
    x2, q1, q2) per load."""
    case: np.ndarray                     # (k,) int
    beam: np.ndarray                     # (k,) int
    x1: np.ndarray                       # (k,)
    x2: np.ndarray                       # (k,)
    q1: np.ndarray                       # (k, 6)
    q2: np.ndarray                       # (k, 6)

    @classmethod
    def of(cls, rows: Sequence[tuple[int, int, float, float, np.ndarray, np.ndarray]]) -> "LineLoads":
        return cls(np.array([r[0] for r in rows], dtype=np.int64), np.array([r[1] for r in rows], dtype=np.int64),
                   np.array([r[2] for r in rows], dtype=float), np.array([r[3] for r in rows], dtype=float),
                   np.array([r[4] for r in rows], dtype=float).reshape(-1, 6),
                   np.array([r[5] for r in rows], dtype=float).reshape(-1, 6))

    def __add__(self, other: "LineLoads") -> "LineLoads":
        return LineLoads(*(np.concatenate([a, b]) for a, b in zip(self.fields(), other.fields())))

    def fields(self) -> tuple[np.ndarray, ...]:
        return self.case, self.beam, self.x1, self.x2, self.q1, self.q2

    def __len__(self) -> int:
        return len(self.case)

    def __iter__(self) -> Iterator[tuple[int, int, float, float, np.ndarray, np.ndarray]]:
        return zip(self.case.tolist(), self.beam.tolist(), self.x1.tolist(), self.x2.tolist(), self.q1, self.q2)


@dataclass
class Frame:
    node_names: list[str]
    xyz: np.ndarray                      # (n, 3)
    beam_names: list[str]
    beam_nodes: np.ndarray               # (m, 2) node indices
    E: np.ndarray
    G: np.ndarray
    alpha: np.ndarray
    A: np.ndarray
    Ay: np.ndarray
    Az: np.ndarray
    Iy: np.ndarray
    Iz: np.ndarray
    It: np.ndarray
    height: np.ndarray
    width: np.ndarray
    density: np.ndarray
    ez: np.ndarray
    lcs_rotation: np.ndarray             # degrees
    shear: bool                          # shear deformation kept (Timoshenko)
    # hinges: (m, 12) spring stiffness of the connection of each beam end DOF; inf = rigid, 0 = free
    release: np.ndarray
    supports: list[tuple[str, int, list[str], list[float], np.ndarray]]  # name, node, freedoms, stiffness, axes
    arms: list[tuple[str, int, int, bool, bool]]                         # name, master, slave, hinges
    cases: list[Case]
    combinations: list[Case]
    # loads, per case index
    nodal: list[tuple[int, int, np.ndarray]]                 # case, node, 6 global components
    points: list[tuple[int, int, float, np.ndarray]]         # case, beam, x, 6 local components
    lines: LineLoads                                         # local
    thermal: list[tuple[int, int, float, float, float, float, float]]   # case, beam, x1, x2, eps, kappa_y, kappa_z
    self_weight: list[tuple[int, np.ndarray]]                # case, unit direction (global)
    sections_at: list[tuple[int, float]]                     # beam, x of result sections
    rotations: np.ndarray = field(default_factory=lambda: np.zeros((0, 3, 3)))  # (m, 3, 3) rows: local x, y, z
    length: np.ndarray = field(default_factory=lambda: np.zeros(0))

    def point_columns(self) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray]:
        """The point loads on beams as columns: case, beam, x and the (k, 6) local components."""
        p = self.points
        return (np.array([r[0] for r in p]), np.array([r[1] for r in p]), np.array([r[2] for r in p]),
                np.array([r[3] for r in p]))


def local_axes(xyz: np.ndarray, beam_nodes: np.ndarray, lcs_rotation: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """The local axes of every beam as rows of (m, 3, 3) and the lengths: x from begin to end node; z in
    the vertical plane through x with a positive Z component (for a vertical beam y = +Y, z = x × y);
    y = z × x; then y and z turned about x by lcs_rotation (degrees, right-hand rule)."""
    d = xyz[beam_nodes[:, 1]] - xyz[beam_nodes[:, 0]]
    length = np.linalg.norm(d, axis=1)
    x = d / length[:, None]
    horizontal = np.hypot(x[:, 0], x[:, 1])
    vertical = horizontal <= 1e-9
    z = np.zeros_like(x)
    # z = Z - (Z.x) x, normalised
    z[:, 2] = 1.0
    z -= x[:, 2:3] * x
    zn = np.linalg.norm(z, axis=1)
    zn[vertical] = 1.0
    z /= zn[:, None]
    y = np.cross(z, x)
    if vertical.any():
        y[vertical] = (0.0, 1.0, 0.0)
        z[vertical] = np.cross(x[vertical], y[vertical])
    theta = np.radians(lcs_rotation)
    c, s = np.cos(theta)[:, None], np.sin(theta)[:, None]
    y2 = c * y + s * z
    z2 = -s * y + c * z
    return np.stack([x, y2, z2], axis=1), length


def _span(r: Row, length: float, positions: tuple[str, str],
          values: tuple[str, str]) -> tuple[float, float, float, float]:
    """A distributed load's extent on its beam and its values at both ends, begin first (a value
    at the end defaults to the one at the start)."""
    c_def, origin = text(r, "c_def", "RELATIVE"), text(r, "origin", "FROM_START")
    x1 = _position(r, positions[0], length, c_def, origin)
    x2 = _position(r, positions[1], length, c_def, origin)
    a1, a2 = num(r, values[0]), num(r, values[1], num(r, values[0]))
    return (x1, x2, a1, a2) if x2 >= x1 else (x2, x1, a2, a1)


def _position(row: Row, key: str, length: float, c_def: str, origin: str) -> float:
    p = num(row, key, 0.0)
    x = p * length if c_def == "RELATIVE" else p
    if origin == "FROM_END":
        x = length - x
    if x < -1e-9 * length or x > length * (1 + 1e-9):
        raise AnalysisRefused(f"{row.get('name')!r} lies outside its beam ({key} = {p})")
    return min(max(x, 0.0), length)


def _direction(axis: str, what: Any) -> int:
    if axis not in COMPONENTS:
        raise AnalysisRefused(f"{what!r} has the direction {axis!r}, not X, Y or Z")
    return COMPONENTS.index(axis)


class _Irregular(Exception):
    """A row that the reading of a whole table at once leaves to the reading row by row."""


def _line_loads_at_once(rows: Sequence[Row], length: np.ndarray, beam_ids: dict[str, int],
                        case_ids: dict[str, int]) -> Optional[np.ndarray]:
    """The line loads of non-zero span as the rows (case, beam, x1, x2, axis, local, q1, q2, ey, ez)
    of one array, read column by column; None when a row is one the analysis refuses, or a cell
    is not a number (the row by row reading then names the first row at fault)."""
    n = len(rows)
    if not n:
        return None
    try:
        if not set(column(rows, "load_type")) <= {None, "FORCE"}:
            raise _Irregular
        found = list(map(beam_ids.get, texts(rows, "beam.id")))
        if None in found:
            raise _Irregular
        b = np.array(found, dtype=np.int64)
        L = length[b]
        relative = np.array([v is None or v == "RELATIVE" for v in column(rows, "c_def")], dtype=bool)
        from_end = np.array([v == "FROM_END" for v in column(rows, "origin")], dtype=bool)

        def position(key: str) -> np.ndarray:
            p = numbers(rows, key, 0.0)
            x = np.where(relative, p * L, p)
            x = np.where(from_end, L - x, x)
            if ((x < -1e-9 * L) | (x > L * (1 + 1e-9))).any():
                raise _Irregular
            return np.minimum(np.maximum(x, 0.0), L)

        x1, x2 = position("position_start"), position("position_end")
        start, end = column(rows, "load_start"), column(rows, "load_end")
        if None in start or "" in start:
            raise _Irregular
        a1 = np.fromiter(map(float, cast(list[str], start)), dtype=float, count=n)
        if None in end or "" in end:     # the value at the end defaults to the one at the start
            a2 = np.array([a if v is None or v == "" else float(v) for a, v in zip(a1.tolist(), end)], dtype=float)
        else:
            a2 = np.fromiter(map(float, cast(list[str], end)), dtype=float, count=n)
        swap = x2 < x1
        x1, x2, a1, a2 = np.where(swap, x2, x1), np.where(swap, x1, x2), np.where(swap, a2, a1), np.where(swap, a1, a2)
        kept = np.flatnonzero(x2 > x1)
        axes = {c: float(i) for i, c in enumerate(COMPONENTS)}
        axis = [axes.get(v) for v in texts(rows, "direction", "Z")]
        case = list(map(case_ids.get, texts(rows, "load_case.id")))
        if (None in axis or None in case) and any(axis[i] is None or case[i] is None for i in kept.tolist()):
            raise _Irregular
        local = np.array([v == "LOCAL" for v in column(rows, "c_sys")], dtype=float)
        ey, ez = numbers(rows, "ey", 0.0), numbers(rows, "ez", 0.0)
    except (_Irregular, ValueError):
        return None
    return np.stack([np.array([case[i] for i in kept.tolist()], dtype=float).reshape(-1), b[kept].astype(float),
                     x1[kept], x2[kept], np.array([axis[i] for i in kept.tolist()], dtype=float).reshape(-1),
                     local[kept], a1[kept], a2[kept], ey[kept], ez[kept]], axis=1)


def read(tables: Tables) -> Frame:
    refuse_unsupported(tables)
    nodes = tables.get("nodes", [])
    node_names = texts(nodes, "name")
    node_ids = {v: i for i, v in enumerate(texts(nodes, "id"))}
    xyz = np.stack([numbers(nodes, "x", 0.0), numbers(nodes, "y", 0.0), numbers(nodes, "z", 0.0)],
                   axis=1).reshape(-1, 3)
    solver = (tables.get("solver_setup") or [{}])[0]
    shear = text(solver, "neglect_shear_force_deformation", "false") != "true"
    overrides = {text(r, "name"): r for r in [*tables.get("concrete_en1992_1_1", []), *tables.get("concrete_en1992_2", [])]}

    sections: dict[str, tuple[Any, sec.Section]] = {}
    for r in tables.get("cross_sections", []):
        user = f"cross-section {r.get('name')!r}"
        mat = material(r.get("material.name"), overrides, user)
        if r.get("material_2.name") is not None:
            raise AnalysisRefused(f"the frame analysis does not analyse the composed cross-section {r.get('name')!r}")
        if "elements" in r:
            raise AnalysisRefused(f"the frame analysis does not analyse the general cross-section {r.get('name')!r}")
        if r.get("profile") is not None:
            s = sec.library(r.get("profile"), user)
        elif r.get("width") is not None:
            s = sec.rectangular(num(r, "width"), num(r, "height"))
        elif r.get("thickness") is not None:
            s = sec.circular_hollow(num(r, "diameter"), num(r, "thickness"))
        elif r.get("diameter") is not None:
            s = sec.circular(num(r, "diameter"))
        else:
            raise AnalysisRefused(f"the frame analysis does not analyse the cross-section {r.get('name')!r}")
        sections[text(r, "id")] = (mat, s)
    for r in tables.get("numerical_cross_sections", []):
        user = f"cross-section {r.get('name')!r}"
        mat = material(r.get("material.name"), overrides, user)
        for key in ("A", "Iy", "Iz", "It"):
            if r.get(key) in (None, ""):
                raise AnalysisRefused(f"the numerical cross-section {r.get('name')!r} gives no {key}")
        s = sec.Section(num(r, "A"), num(r, "Ay", sec.INF), num(r, "Az", sec.INF), num(r, "Iy"), num(r, "Iz"),
                        num(r, "It"), 0.0, 0.0)
        sections[text(r, "id")] = (mat, s)

    beams = tables.get("beams", [])
    m = len(beams)
    beam_names = texts(beams, "name")
    beam_ids = {v: i for i, v in enumerate(texts(beams, "id"))}
    bn = np.zeros((m, 2), dtype=np.int64)
    props = np.zeros((m, 14))
    section_ids = list(sections)
    section_props = np.array([(mat.E, mat.G, mat.alpha, s.A, s.Ay, s.Az, s.Iy, s.Iz, s.It, s.height, s.width,
                               mat.density) for mat, s in sections.values()], dtype=float).reshape(-1, 12)
    index_of_section = {key: i for i, key in enumerate(section_ids)}
    begin, end = texts(beams, "begin_node.id"), texts(beams, "end_node.id")
    which = list(map(index_of_section.get, texts(beams, "cross_section.id")))
    try:
        bn[:, 0] = list(map(node_ids.__getitem__, begin))
        bn[:, 1] = list(map(node_ids.__getitem__, end))
        props[:, :12] = section_props[cast(list[int], which)] if m else 0.0
    except (KeyError, TypeError, IndexError):
        # the first beam at fault, named
        for i in range(m):
            if begin[i] not in node_ids or end[i] not in node_ids:
                raise AnalysisRefused(f"the beam {beams[i].get('name')!r} refers to a node that is not in the "
                                      "model") from None
            if which[i] is None:
                raise AnalysisRefused(f"the beam {beams[i].get('name')!r} has no cross-section the frame "
                                      "analysis knows") from None
        raise
    props[:, 12] = numbers(beams, "ez", 0.0)
    props[:, 13] = numbers(beams, "lcs_rotation", 0.0)
    if m and (bn[:, 0] == bn[:, 1]).any():
        i = int(np.argmax(bn[:, 0] == bn[:, 1]))
        raise AnalysisRefused(f"the beam {beam_names[i]!r} begins and ends in the same node")
    frame_rot, length = local_axes(xyz, bn, props[:, 13]) if m else (np.zeros((0, 3, 3)), np.zeros(0))
    if m and (length <= 0).any():
        i = int(np.argmax(length <= 0))
        raise AnalysisRefused(f"the beam {beam_names[i]!r} has zero length (its nodes coincide)")

    release = np.full((m, 12), np.inf)
    comps = ("ux", "uy", "uz", "fix", "fiy", "fiz")
    for r in tables.get("hinges_on_beam", []):
        b = beam_ids.get(text(r, "beam.id"))
        if b is None:
            raise AnalysisRefused(f"the hinge {r.get('name')!r} is on a beam that is not in the model")
        ends = {"BEGIN": (0,), "END": (6,), "BOTH": (0, 6)}[text(r, "position", "BEGIN")]
        for k, c in enumerate(comps):
            freedom = text(r, "freedom_" + c, "RIGID")
            if freedom == "RIGID":
                continue
            value = 0.0 if freedom == "FREE" else num(r, "stiffness_" + c, 0.0)
            for e in ends:
                release[b, e + k] = value

    supports = []
    seen_support: set[int] = set()
    for r in tables.get("point_supports", []):
        name = text(r, "name")
        if text(r, "spring_type", "STANDARD") != "STANDARD":
            raise AnalysisRefused(f"the frame analysis does not analyse the {text(r, 'spring_type').lower()} "
                                  f"support {name!r} (it is nonlinear)")
        node = node_ids.get(text(r, "node.id"))
        if node is None:
            raise AnalysisRefused(f"the support {name!r} is in a node that is not in the model")
        if node in seen_support:
            raise AnalysisRefused(f"the support {name!r} is the second support in node {node_names[node]!r}")
        seen_support.add(node)
        freedom = json.loads(r.get("freedom") or '["RIGID", "RIGID", "RIGID", "RIGID", "RIGID", "RIGID"]')
        stiffness = [float(v) for v in json.loads(r.get("stiffness") or "[0, 0, 0, 0, 0, 0]")]
        for f in freedom:
            if f not in ("RIGID", "FREE", "FLEXIBLE"):
                raise AnalysisRefused(f"the support {name!r} has a component {f!r} the frame analysis does not analyse")
        supports.append((name, node, freedom, stiffness, rotation(_angles(r))))

    arms = []
    for r in tables.get("rigid_arms", []):
        master, slave = node_ids.get(text(r, "master_node.id")), node_ids.get(text(r, "slave_node.id"))
        if master is None or slave is None:
            raise AnalysisRefused(f"the rigid arm {r.get('name')!r} joins a node that is not in the model")
        arms.append((text(r, "name"), master, slave, text(r, "hinge_on_master") == "true",
                     text(r, "hinge_on_slave") == "true"))

    cases: list[Case] = []
    case_ids: dict[str, int] = {}
    self_weight = []
    directions = {"NEG_Z": (0, 0, -1), "POS_Z": (0, 0, 1), "NEG_Y": (0, -1, 0), "POS_Y": (0, 1, 0),
                  "NEG_X": (-1, 0, 0), "POS_X": (1, 0, 0)}
    for r in tables.get("load_cases", []):
        case_ids[text(r, "id")] = len(cases)
        load_type = text(r, "load_type", "STANDARD")
        if load_type == "PRIMARY_EFFECT":
            raise AnalysisRefused(f"the frame analysis does not analyse the primary-effect load case {r.get('name')!r}")
        if load_type == "SELF_WEIGHT":
            self_weight.append((len(cases), np.array(directions[text(r, "direction", "NEG_Z")], dtype=float)))
        cases.append(Case(text(r, "name"), "case", "Load case - " + text(r, "name")))
    combinations = []
    for r in tables.get("load_combinations", []):
        kind = text(r, "load_type", "ENVELOPE_ULTIMATE")
        if kind == "SEISMIC":
            raise AnalysisRefused(f"the frame analysis does not analyse the seismic combination {r.get('name')!r}")
        coefficients = []
        for item in json.loads(r.get("load_cases") or "[]"):
            index = case_ids.get(str(item["load_case"]["id"]))
            if index is None:
                raise AnalysisRefused(f"the combination {r.get('name')!r} refers to a load case that is not in the model")
            coefficients.append((index, float(item["coefficient"])))
        combinations.append(Case(text(r, "name"), kind, "Combination - " + text(r, "name"), coefficients))

    def case_of(row: Row) -> int:
        index = case_ids.get(text(row, "load_case.id"))
        if index is None:
            raise AnalysisRefused(f"the load {row.get('name')!r} is in a load case that is not in the model")
        return index

    def beam_of(row: Row) -> int:
        index = beam_ids.get(text(row, "beam.id"))
        if index is None:
            raise AnalysisRefused(f"the load {row.get('name')!r} is on a beam that is not in the model")
        return index

    def to_local(vector: np.ndarray, b: int, c_sys: str) -> np.ndarray:
        return vector if c_sys == "LOCAL" else frame_rot[b] @ vector

    nodal = []
    for r in tables.get("point_loads_node", []):
        node = node_ids.get(text(r, "node.id"))
        if node is None:
            raise AnalysisRefused(f"the load {r.get('name')!r} is in a node that is not in the model")
        v = np.zeros(6)
        v[_direction(text(r, "direction", "Z"), r.get("name"))] = num(r, "load")
        if text(r, "c_sys", "GLOBAL") == "LOCAL" and r.get("angle"):
            v[:3] = rotation(_angles(r)) @ v[:3]
        nodal.append((case_of(r), node, v))
    for r in tables.get("point_moments_node", []):
        node = node_ids.get(text(r, "node.id"))
        if node is None:
            raise AnalysisRefused(f"the moment {r.get('name')!r} is in a node that is not in the model")
        v = np.zeros(6)
        v[3 + _direction(text(r, "direction", "Z"), r.get("name"))] = num(r, "load")
        nodal.append((case_of(r), node, v))

    points = []
    for r in tables.get("point_loads", []):
        name = r.get("name")
        if text(r, "load_type", "FORCE") != "FORCE":
            raise AnalysisRefused(f"the frame analysis does not analyse the self-weight point load {name!r}")
        if int(num(r, "repeat", 1.0)) != 1:
            raise AnalysisRefused(f"the frame analysis does not analyse the repeated point load {name!r}")
        if any(_angles(r)):
            raise AnalysisRefused(f"the frame analysis does not analyse the point load {name!r} with an angle")
        b = beam_of(r)
        x = _position(r, "position_x", length[b], text(r, "c_def", "RELATIVE"), text(r, "origin", "FROM_START"))
        f = np.zeros(3)
        f[_direction(text(r, "direction", "Z"), name)] = num(r, "load_value")
        f = to_local(f, b, text(r, "c_sys", "GLOBAL"))
        ecc = np.array([0.0, num(r, "ey", 0.0), num(r, "ez", 0.0)])
        points.append((case_of(r), b, x, np.concatenate([f, np.cross(ecc, f)])))

    lines = []   # line moments
    rows = tables.get("line_loads", [])
    arr = _line_loads_at_once(rows, length, beam_ids, case_ids)
    if arr is None:
        raw = []   # case, beam, x1, x2, axis, local, q1, q2, ey, ez
        for r in rows:
            name = r.get("name")
            if text(r, "load_type", "FORCE") != "FORCE":
                raise AnalysisRefused(f"the frame analysis does not analyse the self-weight line load {name!r}")
            b = beam_of(r)
            x1, x2, q1, q2 = _span(r, length[b], ("position_start", "position_end"), ("load_start", "load_end"))
            if x2 > x1:
                raw.append((case_of(r), b, x1, x2, _direction(text(r, "direction", "Z"), name),
                            text(r, "c_sys", "GLOBAL") == "LOCAL", q1, q2, num(r, "ey", 0.0), num(r, "ez", 0.0)))
        arr = np.array(raw, dtype=float).reshape(-1, 10)
    if len(arr):
        b = arr[:, 1].astype(np.int64)
        axis = arr[:, 4].astype(np.int64)
        unit = np.zeros((len(arr), 3))
        unit[np.arange(len(arr)), axis] = 1.0
        # a global direction in local axes: the rows of the beam's axes hold the local axes in global terms
        glob = np.einsum("kij,kj->ki", frame_rot[b], unit)
        unit = np.where(arr[:, 5:6] > 0, unit, glob)
        ecc = np.zeros((len(arr), 3))
        ecc[:, 1], ecc[:, 2] = arr[:, 8], arr[:, 9]
        moment = np.cross(ecc, unit)
        v = np.concatenate([unit, moment], axis=1)
        v1, v2 = v * arr[:, 6:7], v * arr[:, 7:8]
        loads = LineLoads(arr[:, 0].astype(np.int64), b, arr[:, 2].copy(), arr[:, 3].copy(), v1, v2)
    else:
        loads = LineLoads.of([])
    for r in tables.get("line_moments_on_beam", []):
        b = beam_of(r)
        x1, x2, m1, m2 = _span(r, length[b], ("position_x1", "position_x2"), ("m1", "m2"))
        axis = _direction(text(r, "direction", "Z"), r.get("name"))
        v1, v2 = np.zeros(6), np.zeros(6)
        v1[3 + axis], v2[3 + axis] = m1, m2
        if x2 > x1:
            lines.append((case_of(r), b, x1, x2, v1, v2))

    thermal = []
    for r in tables.get("thermal_loads", []):
        name = r.get("name")
        b = beam_of(r)
        c_def, origin = text(r, "c_def", "RELATIVE"), text(r, "origin", "FROM_START")
        x1 = _position(r, "position_start", length[b], c_def, origin)
        x2 = _position(r, "position_end", length[b], c_def, origin)
        x1, x2 = min(x1, x2), max(x1, x2)
        alpha = props[b, 2]
        eps = alpha * num(r, "delta", 0.0)
        ky = kz = 0.0
        if text(r, "distribution", "CONSTANT") == "LINEAR":
            dz = num(r, "top_delta", 0.0) - num(r, "bottom_delta", 0.0)
            dy = num(r, "left_delta", 0.0) - num(r, "right_delta", 0.0)
            height, width = props[b, 9], props[b, 10]
            if (dz and not height) or (dy and not width):
                raise AnalysisRefused(f"the thermal load {name!r} has a gradient across a cross-section "
                                      "whose depth is not known (a numerical cross-section)")
            ky = alpha * dz / height if dz else 0.0
            kz = -alpha * dy / width if dy else 0.0
        if x2 > x1:
            thermal.append((case_of(r), b, x1, x2, eps, ky, kz))

    sections_at = []
    for r in tables.get("sections_on_beam", []):
        b = beam_ids.get(text(r, "beam.id"))
        if b is None:
            raise AnalysisRefused(f"the section {r.get('name')!r} is on a beam that is not in the model")
        c_def, origin = text(r, "c_def", "RELATIVE"), text(r, "origin", "FROM_START")
        first = num(r, "position_x", 0.0)
        step = num(r, "delta_x", 0.0)
        for k in range(int(num(r, "repeat", 1.0))):
            p = first + k * step
            x = p * length[b] if c_def == "RELATIVE" else p
            if origin == "FROM_END":
                x = length[b] - x
            if -1e-9 * length[b] <= x <= length[b] * (1 + 1e-9):
                sections_at.append((b, min(max(x, 0.0), float(length[b]))))

    frame = Frame(node_names, xyz, beam_names, bn, *(props[:, k].copy() for k in range(14)), shear=shear,
                  release=release, supports=supports, arms=arms, cases=cases, combinations=combinations,
                  nodal=nodal, points=points, lines=loads + LineLoads.of(lines), thermal=thermal, self_weight=self_weight,
                  sections_at=sections_at)
    frame.rotations, frame.length = frame_rot, length
    return frame

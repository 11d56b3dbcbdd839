"""Pictures of a Tarsis model and of its results (matplotlib; the `plot` extra).

`plot_model(model)` draws the nodes, the beams, the point supports by kind and, for a load case, its
loads as arrows; `plot_results(model, output, result_set, quantity)` draws the deformed shape or a
diagram of one internal force along the beams, with the reactions as arrows. Both return a
`matplotlib.figure.Figure` made without pyplot, so they work headless; save one with
`figure.savefig("frame.png")`. Every collection of lines or arrows drawn carries its gid ("beams",
"deformed", "diagram", "loads", "reactions", ...) and its 3D segments as `segments3d`. Conventions of the results: docs/tarsis-results.md.
"""

from __future__ import annotations

from typing import Any, Optional, Sequence

import numpy as np
from matplotlib.figure import Figure
from mpl_toolkits.mplot3d.art3d import Line3DCollection

from norvale.external.tarsis.tarsis import Model, OutputFileParser

__all__ = ["QUANTITIES", "plot_model", "plot_results", "support_kind"]

#: What `plot_results` draws: the deformed shape or one internal force.
QUANTITIES = ("deformed", "N", "Vy", "Vz", "Mx", "My", "Mz")
# the local axis along which a diagram is drawn: forces along y and moments about z in the x-y plane
_DIAGRAM_AXIS = {"N": 2, "Vy": 1, "Vz": 2, "Mx": 2, "My": 2, "Mz": 1}
_SUPPORT_MARKERS = {"fixed": ("s", "tab:red"), "pinned": ("^", "tab:red"), "roller": ("o", "tab:orange"),
                    "spring": ("D", "tab:purple"), "other": ("P", "tab:orange")}


def support_kind(freedom: Sequence[str]) -> str:
    """How a support is drawn: fixed (all rigid), pinned (translations rigid, some rotation not),
    roller (some translation free, none flexible), spring (some component flexible), other."""
    f = [str(x) for x in freedom]
    if "FLEXIBLE" in f:
        return "spring"
    if all(x == "RIGID" for x in f):
        return "fixed"
    if all(x == "RIGID" for x in f[:3]):
        return "pinned"
    if any(x == "RIGID" for x in f[:3]):
        return "roller"
    return "other"


def _lines(segments: np.ndarray, gid: str, **style: Any) -> Any:
    """A collection of 3D segments that keeps them, as drawn data, in its `segments3d` (n, 2, 3)."""
    segments = np.asarray(segments, dtype=float).reshape(-1, 2, 3)
    collection: Any = Line3DCollection(segments, **style)
    collection.set_gid(gid)
    collection.segments3d = segments
    return collection


def _geometry(model: Model) -> tuple[Any, dict[int, int], np.ndarray, np.ndarray]:
    nodes = model.nodes
    index = {id(n): i for i, n in enumerate(nodes)}
    xyz = np.array([(float(n.x), float(n.y), float(n.z)) for n in nodes], dtype=float).reshape(-1, 3)
    ends = np.array([(index[id(b.begin_node)], index[id(b.end_node)]) for b in model.beams],
                    dtype=np.int64).reshape(-1, 2)
    return nodes, index, xyz, ends


def _axes(figure: Figure, xyz: np.ndarray, title: str) -> Any:
    ax: Any = figure.add_subplot(projection="3d")
    ax.set_title(title)
    ax.set_xlabel("X [m]")
    ax.set_ylabel("Y [m]")
    ax.set_zlabel("Z [m]")
    if len(xyz):
        lo, hi = xyz.min(axis=0), xyz.max(axis=0)
        span = max(float((hi - lo).max()), 1e-9)
        mid = (lo + hi) / 2
        for setter, c in zip((ax.set_xlim, ax.set_ylim, ax.set_zlim), mid):
            setter(c - 0.6 * span, c + 0.6 * span)
    return ax


def _size(xyz: np.ndarray) -> float:
    return float((xyz.max(axis=0) - xyz.min(axis=0)).max()) if len(xyz) else 1.0


def _arrows(ax: Any, points: np.ndarray, vectors: np.ndarray, length: float, color: str, label: str) -> Any:
    """Arrows pointing at `points` along `vectors`, the longest drawn `length` long."""
    if not len(points):
        return None
    norm = np.linalg.norm(vectors, axis=1).max()
    v = vectors * (length / norm if norm > 0 else 0.0)
    tails = points - v
    q = ax.quiver(tails[:, 0], tails[:, 1], tails[:, 2], v[:, 0], v[:, 1], v[:, 2], color=color,
                  arrow_length_ratio=0.25, label=label)
    q.set_gid(label)
    q.segments3d = np.stack([tails, points], axis=1)   # each arrow from its tail to the point it acts on
    return q


def plot_model(model: Model, load_case: Optional[str] = None, *, labels: bool = False) -> Figure:
    """The model: nodes, beams, point supports by kind and, when `load_case` names one, its nodal
    forces, point loads and line loads on beams as arrows (moments are not drawn). `labels` writes
    the names of the nodes and beams."""
    nodes, index, xyz, ends = _geometry(model)
    figure = Figure(figsize=(8, 6))
    ax = _axes(figure, xyz, "Model" + (f" - load case {load_case}" if load_case else ""))
    ax.add_collection3d(_lines(xyz[ends], "beams", colors="0.3", linewidths=1.2))
    points = ax.scatter(xyz[:, 0], xyz[:, 1], xyz[:, 2], s=8, c="k", depthshade=False)
    points.set_gid("nodes")
    by_kind: dict[str, list[int]] = {}
    for s in model.point_supports:
        by_kind.setdefault(support_kind(s._freedom), []).append(index[id(s._node)])
    for kind, rows in sorted(by_kind.items()):
        marker, color = _SUPPORT_MARKERS[kind]
        p = xyz[rows]
        artist = ax.scatter(p[:, 0], p[:, 1], p[:, 2], s=60, marker=marker, c=color, depthshade=False,
                            label=f"{kind} support")
        artist.set_gid(f"supports:{kind}")
    size = _size(xyz)
    if load_case is not None:
        at, vec = [], []
        node_load: Any
        for node_load in model.point_loads_node:
            if node_load._load_case.name == load_case:
                v = np.zeros(3)
                v["XYZ".index(str(node_load._direction))] = node_load._load
                at.append(xyz[index[id(node_load._node)]])
                vec.append(v)
        beam_index = {id(b): i for i, b in enumerate(model.beams)}
        load: Any
        for load in list(model.point_loads) + list(model.line_loads):
            if load._load_case.name != load_case or str(load._c_sys) != "GLOBAL":
                continue
            b = beam_index[id(load._beam)]
            a, e = xyz[ends[b, 0]], xyz[ends[b, 1]]
            v = np.zeros(3)
            axis = "XYZ".index(str(load._direction))
            if hasattr(load, "_load_value"):
                v[axis] = load._load_value
                r = load._position_x if str(load._c_def) == "RELATIVE" else load._position_x / np.linalg.norm(e - a)
                at.append(a + (e - a) * (r if str(load._origin) == "FROM_START" else 1 - r))
                vec.append(v)
            else:
                length = np.linalg.norm(e - a)
                r1, r2 = load._position_start, load._position_end
                if str(load._c_def) != "RELATIVE":
                    r1, r2 = r1 / length, r2 / length
                if str(load._origin) == "FROM_END":
                    r1, r2 = 1 - r1, 1 - r2
                for t in np.linspace(0, 1, 5):
                    v = np.zeros(3)
                    v[axis] = load._load_start + t * (load._load_end - load._load_start)
                    at.append(a + (e - a) * (r1 + t * (r2 - r1)))
                    vec.append(v)
        if at:
            _arrows(ax, np.array(at), np.array(vec), 0.12 * size, "tab:blue", "loads")
    if labels:
        for i, n in enumerate(nodes):
            ax.text(*xyz[i], f" {n.name}", fontsize=7, color="k", gid=f"label:{n.name}")
        for i, beam in enumerate(model.beams):
            ax.text(*(xyz[ends[i, 0]] + xyz[ends[i, 1]]) / 2, f" {beam.name}", fontsize=7, color="0.35",
                    gid=f"label:{beam.name}")
    if by_kind or load_case is not None:
        ax.legend(loc="upper left", fontsize=7)
    return figure


def _table(output: Any, name: str, parent: str, block: Optional[str]) -> dict[Optional[str], list[Optional[str]]]:
    stream = output.open_binary() if hasattr(output, "open_binary") else output
    try:
        blocks = OutputFileParser.get_result(stream, name, parent=parent)
    finally:
        if stream is not output:
            stream.close()
    found = blocks[block] if block else blocks.get(name) or blocks["Maximum"]
    return found


def _numbers(column: Sequence[Optional[str]]) -> np.ndarray:
    return np.array(column, dtype=float)


def plot_results(model: Model, output: Any, result_set: str, quantity: str, *, scale: Optional[float] = None,
                 block: Optional[str] = None) -> Figure:
    """A picture of the results of `result_set` ("Load case - LC1", "Combination - ULS") read from
    the output XML `output` (a binary stream or a File): `quantity` "deformed" draws the deformed
    shape (its scale in the title: the largest displacement drawn a tenth of the model's size unless
    `scale` is given), one of N, Vy, Vz, Mx, My, Mz its diagram along the beams (drawn along local z,
    Vy and Mz along local y; the largest value a tenth of the model's size), the extreme values
    labelled. The reactions are drawn as arrows. For an envelope, `block` "Maximum" (the default) or
    "Minimum" chooses the values."""
    if quantity not in QUANTITIES:
        raise ValueError(f"quantity must be one of {', '.join(QUANTITIES)}, not {quantity!r}")
    nodes, index, xyz, ends = _geometry(model)
    size = _size(xyz)
    figure = Figure(figsize=(8, 6))
    by_name = {n.name: i for i, n in enumerate(nodes)}
    if quantity == "deformed":
        d = _table(output, "Displacements of nodes", result_set, block)
        rows = np.array([by_name[n] for n in d["Node"]], dtype=np.int64)
        u = np.zeros_like(xyz)
        u[rows] = np.stack([_numbers(d[c]) for c in ("Ux", "Uy", "Uz")], axis=1)
        largest = float(np.linalg.norm(u, axis=1).max()) if len(u) else 0.0
        factor = scale if scale is not None else (0.1 * size / largest if largest > 0 else 1.0)
        ax = _axes(figure, xyz, f"{result_set}: deformed shape, scale {factor:.4g}:1 "
                                f"(largest displacement {largest:.4g} m)")
        ax.add_collection3d(_lines(xyz[ends], "undeformed", colors="0.75", linewidths=0.8, linestyles="dashed"))
        moved = xyz + factor * u
        ax.add_collection3d(_lines(moved[ends], "deformed", colors="tab:blue", linewidths=1.4))
        if len(u):
            k = int(np.argmax(np.linalg.norm(u, axis=1)))
            ax.text(*moved[k], f" {nodes[k].name}: {largest:.4g} m", fontsize=8, gid="extreme")
    else:
        f = _table(output, "Internal forces on beams", result_set, block)
        beam_index = {b.name: i for i, b in enumerate(model.beams)}
        b = np.array([beam_index[n] for n in f["Beam"]], dtype=np.int64)
        dx = _numbers(f["dx"])
        values = _numbers(f[quantity])
        from norvale.worker.standins.frame.model import local_axes

        lcs = np.array([float(beam._lcs_rotation) for beam in model.beams])
        axes, length = local_axes(xyz, ends, lcs)
        along = axes[b, 0] * dx[:, None]
        base = xyz[ends[b, 0]] + along
        largest = float(np.abs(values).max()) if values.size else 0.0
        factor = scale if scale is not None else (0.1 * size / largest if largest > 0 else 1.0)
        tip = base + axes[b, _DIAGRAM_AXIS[quantity]] * (factor * values)[:, None]
        unit = "Nm" if quantity.startswith("M") else "N"
        ax = _axes(figure, xyz, f"{result_set}: {quantity} [{unit}], scale {factor:.4g} m/{unit}")
        ax.add_collection3d(_lines(xyz[ends], "beams", colors="0.6", linewidths=0.8))
        same = b[1:] == b[:-1]
        outline = np.stack([tip[:-1][same], tip[1:][same]], axis=1)
        ax.add_collection3d(_lines(outline, "diagram", colors="tab:red", linewidths=1.2))
        ax.add_collection3d(_lines(np.stack([base, tip], axis=1), "ordinates", colors="tab:red", linewidths=0.4,
                                   alpha=0.5))
        if values.size:
            for k, word in ((int(np.argmax(values)), "max"), (int(np.argmin(values)), "min")):
                ax.text(*tip[k], f" {word} {values[k]:.4g} {unit} ({f['Beam'][k]}, dx {dx[k]:.3g} m)",
                        fontsize=8, gid=f"extreme:{word}")
    r = _table(output, "Reactions", result_set, block)
    if r["Node"]:
        at = xyz[[by_name[n] for n in r["Node"]]]
        forces = np.stack([_numbers(r[c]) for c in ("Rx", "Ry", "Rz")], axis=1)
        _arrows(ax, at, forces, 0.12 * size, "tab:green", "reactions")
    return figure

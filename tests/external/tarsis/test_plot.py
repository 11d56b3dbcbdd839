"""Pictures of a model and of its results, drawn headless: what the figures hold."""

import io

import numpy as np
import pytest

pytest.importorskip("matplotlib")

from norvale.external.tarsis import object as obj  # noqa: E402
from norvale.external.tarsis import plot  # noqa: E402
from norvale.external.tarsis.tarsis import Model, OutputFileParser  # noqa: E402
from norvale.worker.standins import tarsis as standin  # noqa: E402

RIGID, FREE = "RIGID", "FREE"


def frame():
    m = Model()
    m.solver_setup.neglect_shear_force_deformation = True
    s = m.create_rectangular_cross_section("R", obj.Material("S235"), 0.2, 0.3)
    a, b = m.create_node("A", 0, 0, 0), m.create_node("B", 0, 0, 3)
    c, d = m.create_node("C", 5, 0, 3), m.create_node("D", 5, 0, 0)
    for p, q in ((a, b), (b, c), (c, d)):
        m.create_beam(p, q, s)
    m.create_point_support("SA", a, "STANDARD", (RIGID,) * 6, (0.0,) * 6, "GLOBAL")
    m.create_point_support("SD", d, "STANDARD", (RIGID,) * 3 + (FREE,) * 3, (0.0,) * 6, "GLOBAL")
    group = m.create_load_group("G", "PERMANENT")
    lc = m.create_permanent_load_case("LC1", "", group, "STANDARD")
    m.create_point_load_node(b, lc, 4000.0, direction="X")
    m.create_line_load("Q", lc, m.beams[1], "FORCE", "UNIFORM", -2000.0, -2000.0, "Z", 0.0, 1.0, "RELATIVE",
                       "GLOBAL", "FROM_START", 0.0, 0.0)
    return m


def output(m):
    return io.BytesIO(standin.output_xml(m.generate_xml_input()[0].getvalue(), {}).encode())


def by_gid(figure, gid):
    ax = figure.axes[0]
    found = [a for a in ax.get_children() if a.get_gid() == gid]
    assert found, f"nothing drawn as {gid}"
    return found[0]


def test_model_picture_shows_beams_nodes_supports_by_kind_loads_and_labels():
    m = frame()
    f = plot.plot_model(m, "LC1", labels=True)
    segments = by_gid(f, "beams").segments3d
    assert len(segments) == 3
    assert np.allclose(segments[1], [[0, 0, 3], [5, 0, 3]])
    assert by_gid(f, "supports:fixed").get_offsets().shape[0] == 1
    assert by_gid(f, "supports:pinned").get_offsets().shape[0] == 1
    # one arrow for the nodal force, five along the line load
    assert len(by_gid(f, "loads").segments3d) == 6
    texts = {t.get_text().strip() for t in f.axes[0].texts}
    assert {"A", "B", "C", "D", "B1", "B2", "B3"} <= texts
    assert plot.support_kind(("RIGID", "FREE", "RIGID", "FREE", "FREE", "FREE")) == "roller"
    assert plot.support_kind(("RIGID",) * 5 + ("FLEXIBLE",)) == "spring"


def test_deformed_shape_is_the_nodes_moved_by_the_scaled_displacements():
    m = frame()
    out = output(m)
    d = OutputFileParser.get_result(out, "Displacements of nodes", parent="Load case - LC1")["Displacements of nodes"]
    f = plot.plot_results(m, out, "Load case - LC1", "deformed", scale=50.0)
    seg = by_gid(f, "deformed").segments3d
    b_moved = seg[0][1]
    assert np.allclose(b_moved, [50.0 * float(d["Ux"][1]), 50.0 * float(d["Uy"][1]), 3 + 50.0 * float(d["Uz"][1])])
    assert "scale 50:1" in f.axes[0].get_title()
    assert len(by_gid(f, "reactions").segments3d) == 2


def test_force_diagram_labels_its_extremes_and_rejects_unknown_quantities():
    m = frame()
    out = output(m)
    f = plot.plot_results(m, out, "Load case - LC1", "My")
    forces = OutputFileParser.get_result(out, "Internal forces on beams", parent="Load case - LC1")
    my = [float(v) for v in forces["Internal forces on beams"]["My"]]
    labels = {t.get_gid(): t.get_text() for t in f.axes[0].texts}
    assert f"max {max(my):.4g} Nm" in labels["extreme:max"]
    assert f"min {min(my):.4g} Nm" in labels["extreme:min"]
    # the diagram joins the stations of each beam: ten pieces per beam
    assert len(by_gid(f, "diagram").segments3d) == 30
    with pytest.raises(ValueError, match="quantity must be one of"):
        plot.plot_results(m, out, "Load case - LC1", "sigma")

"""The frame's tables read column by column give what the rows give, and a refused row is named."""

import dataclasses

import numpy as np
import pytest
from frame_helpers import STEEL, cases, line_load, model, support

from norvale.worker.standins import tarsis as standin
from norvale.worker.standins.frame import AnalysisRefused, Table
from norvale.worker.standins.frame.model import read


def frame_model():
    """A portal with line loads given in every way the reading distinguishes."""
    m = model()
    section = m.create_rectangular_cross_section("R", STEEL, 0.2, 0.3)
    a, b, c, d = (m.create_node(n, x, 0.0, z) for n, x, z in (("A", 0, 0), ("B", 0, 3), ("C", 4, 3), ("D", 4, 0)))
    beams = [m.create_beam(a, b, section), m.create_beam(b, c, section), m.create_beam(c, d, section)]
    support(m, a)
    support(m, d)
    lc1, lc2 = cases(m, "LC1", "LC2")
    line_load(m, lc1, beams[1], -2e3)
    line_load(m, lc1, beams[1], -1e3, -3e3, start=0.75, end=0.25)             # given end first
    line_load(m, lc2, beams[0], 500.0, direction="X", c_def="ABSOLUTE", start=0.5, end=2.0, origin="FROM_END")
    line_load(m, lc2, beams[2], 800.0, direction="Y", c_sys="LOCAL")
    line_load(m, lc2, beams[2], 900.0, start=0.4, end=0.4)                    # no span: no load
    return m


def tables_of(m):
    return standin.read_input(m.generate_xml_input()[0].getvalue())[1]


def as_rows(tables):
    """The same tables as lists of mappings, one per row, open to changes."""
    return {name: [dict(row) for row in rows] for name, rows in tables.items()}


def same_frames(a, b):
    for f in dataclasses.fields(a):
        x, y = getattr(a, f.name), getattr(b, f.name)
        if f.name == "lines":
            assert all(np.array_equal(p, q) for p, q in zip(x.fields(), y.fields())), f.name
        elif isinstance(x, np.ndarray):
            assert np.array_equal(x, y), f.name
        else:
            assert repr(x) == repr(y), f.name


def test_columns_and_rows_give_the_same_frame():
    tables = tables_of(frame_model())
    assert isinstance(tables["line_loads"], Table) and isinstance(tables["beams"], Table)
    by_columns, by_rows = read(tables), read(as_rows(tables))
    same_frames(by_columns, by_rows)
    lines = by_columns.lines
    assert len(lines) == 4 and lines.x1.tolist()[1:3] == [1.0, 1.0] and lines.x2.tolist()[1:3] == [3.0, 2.5]
    # the load given from 0.75 to 0.25 of the beam runs from 1 m (-3 kN/m) to 3 m (-1 kN/m)
    assert lines.q1[1, 2] == pytest.approx(-3e3) and lines.q2[1, 2] == pytest.approx(-1e3)


def test_a_missing_end_value_is_the_start_value_in_both_readings():
    rows = as_rows(tables_of(frame_model()))
    for row in rows["line_loads"]:
        row["load_end"] = None
    mixed = dict(rows, line_loads=Table({k: [r.get(k) for r in rows["line_loads"]] for k in rows["line_loads"][0]},
                                        len(rows["line_loads"])))
    same_frames(read(mixed), read(rows))
    assert np.array_equal(read(rows).lines.q1, read(rows).lines.q2)


@pytest.mark.parametrize("table, index, key, value, message", [
    ("line_loads", 3, "position_end", "1.5", r"^'L4' lies outside its beam \(position_end = 1\.5\)$"),
    ("line_loads", 2, "beam.id", "99", r"^the load 'L3' is on a beam that is not in the model$"),
    ("line_loads", 1, "load_start", None, r"^'L2' has no value for load_start$"),
    ("line_loads", 2, "load_type", "SELF_WEIGHT", r"^the frame analysis does not analyse the self-weight line load 'L3'$"),
    ("line_loads", 3, "load_case.id", "99", r"^the load 'L4' is in a load case that is not in the model$"),
    ("beams", 1, "end_node.id", "99", r"^the beam 'B2' refers to a node that is not in the model$"),
    ("beams", 2, "cross_section.id", "99", r"^the beam 'B3' has no cross-section the frame analysis knows$"),
])
def test_the_first_row_the_analysis_refuses_is_named_in_both_readings(table, index, key, value, message):
    rows = as_rows(tables_of(frame_model()))
    rows[table][index][key] = value
    columns = dict(rows, **{table: Table({k: [r.get(k) for r in rows[table]] for k in rows[table][0]},
                                         len(rows[table]))})
    for tables in (rows, columns):
        with pytest.raises(AnalysisRefused, match=message):
            read(tables)

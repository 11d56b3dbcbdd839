"""The text of the result tables: every number cell is the repr of its double, written natively."""

import math
import struct

import numpy as np
import pytest
from frame_helpers import output
from test_frames import space_frame

from norvale._native import xml_rows
from norvale.worker.standins.frame import output as frame_output


def rows_by_repr(labels, values):
    """The rows as the plain Python f-strings spell them (finite numbers)."""
    return "".join("<row><p0 v=" + label + "/>" + "".join(f'<p{i} v="{v!r}"/>' for i, v in enumerate(row, 1))
                   + "</row>\n" for label, row in zip(labels, np.asarray(values, dtype=float).tolist()))


def awkward_doubles(count, seed=7):
    """Doubles from random bit patterns (every exponent, subnormals included) and the values at
    which repr switches between fixed and exponent notation or rounds to fewer digits."""
    rng = np.random.default_rng(seed)
    bits = rng.integers(0, 2**64, count, dtype=np.uint64)
    values = [v for v in bits.view(np.float64).tolist() if math.isfinite(v)]
    for e in range(-20, 20):
        values += [10.0**e, -10.0**e, math.nextafter(10.0**e, 0), math.nextafter(10.0**e, math.inf)]
    values += [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 0.1, 1 / 3,
               123456789012345678.0, 9007199254740993.0, struct.unpack("d", struct.pack("Q", 1))[0]]
    return values


@pytest.mark.parametrize("rows", [1, 4095, 4096, 4097, 20001])
def test_every_cell_is_the_repr_of_its_double_in_row_order(rows):
    # from 4096 rows the text is formatted in two halves on two threads: they must join in order
    values = awkward_doubles(rows * 3)
    values = np.resize(np.array(values), rows * 3).reshape(rows, 3)
    labels = [f'"B{r}"' for r in range(rows)]
    assert xml_rows(labels, values) == rows_by_repr(labels, values)


def test_numbers_met_again_in_a_column_are_written_as_their_own_repr():
    # numbers repeat within a column (copied from their text) and across columns (each column
    # keeps its own): zeros of both signs, NaN beside infinities, values that differ in one bit,
    # more distinct values than a column keeps, then the first ones again
    few = [0.0, -0.0, 0.1, math.nextafter(0.1, 1), 1e16, 1e-5, 3.5, -3.5]
    many = awkward_doubles(600, seed=3)
    column = (few * 40 + many + many[:50] + few * 3)
    values = np.array([column, column[::-1], [-c for c in column]]).T.copy()
    labels = [f'"B{r}"' for r in range(len(values))]
    assert xml_rows(labels, values) == rows_by_repr(labels, values)
    special = np.array([[math.nan, 0.0], [math.inf, -0.0], [math.nan, 0.0], [-math.inf, -0.0]] * 2)
    assert xml_rows(['"a"'] * 8, special).count('"NaN"') == 4
    assert xml_rows(['"a"'] * 8, special).split("\n")[:4] == [
        '<row><p0 v="a"/><p1 v="NaN"/><p2 v="0.0"/></row>', '<row><p0 v="a"/><p1 v="Infinity"/><p2 v="-0.0"/></row>',
        '<row><p0 v="a"/><p1 v="NaN"/><p2 v="0.0"/></row>', '<row><p0 v="a"/><p1 v="-Infinity"/><p2 v="-0.0"/></row>']


def test_labels_are_copied_as_given_including_quotes_and_non_ascii_names():
    labels = ['"N1"', "'say \"hi\"'", '"&amp;&lt;"', '"Stütze β"', '"柱"']
    values = np.arange(15.0).reshape(5, 3) / 7
    text = xml_rows(labels, values)
    assert text == rows_by_repr(labels, values)
    assert xml_rows(labels, np.asfortranarray(values)) == text   # any layout, any float dtype
    assert xml_rows(labels, values.astype(np.float32)) == rows_by_repr(labels, values.astype(np.float32))


def test_non_finite_values_are_spelled_as_the_json_writer_spells_them_and_bad_input_is_refused():
    text = xml_rows(['"a"'], np.array([[math.inf, -math.inf, math.nan]]))
    assert text == '<row><p0 v="a"/><p1 v="Infinity"/><p2 v="-Infinity"/><p3 v="NaN"/></row>\n'
    assert xml_rows([], np.empty((0, 6))) == ""
    with pytest.raises(ValueError, match="one label per row"):
        xml_rows(['"a"'], np.zeros((2, 3)))
    with pytest.raises(TypeError, match="labels are str"):
        xml_rows([1], np.zeros((1, 3)))


def test_the_whole_output_is_what_per_cell_repr_writes_byte_for_byte(monkeypatch):
    # a frame with hinges, point and line loads, a linear combination and an envelope; small pieces
    # so that every block is cut into several
    m = space_frame()
    native = output(m)
    monkeypatch.setattr(frame_output, "ROWS_PER_PIECE", 7)
    pieces = output(m)
    monkeypatch.setattr(frame_output, "xml_rows", rows_by_repr)
    plain = output(m)
    assert native == pieces == plain
    assert native.count(b"<row>") > 500


@pytest.mark.parametrize("names", [["N1", "B 2", "Stütze"], ["N1", 'say "hi"'], ["a&b"], ["x<y"], ["it's"],
                                   ["line\nbreak"], ["tab\t"], ["cr\r"], []])
def test_names_are_quoted_as_quoteattr_quotes_them(names):
    from xml.sax.saxutils import quoteattr
    assert frame_output.quoted(names) == [quoteattr(n) for n in names]

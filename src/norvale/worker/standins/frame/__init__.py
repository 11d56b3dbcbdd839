"""A linear-elastic 3D frame analysis: the computing part of the Tarsis stand-in.

`analyse(tables)` reads the frame part of a model (the tables of the input XML that the template
service writes), assembles the beams' stiffness (Euler-Bernoulli, or Timoshenko where shear
deformation is kept), solves every load case with one sparse Cholesky factorisation and gives the
results; `write(out, result)` writes their tables. Conventions: docs/tarsis-results.md.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import IO

from .errors import AnalysisRefused
from .model import Frame, Table, Tables, column, read
from .output import write_results
from .results import Stations, internal_forces, stations
from .solve import Solution, analyse as _solve

__all__ = ["AnalysisRefused", "Analysis", "Table", "analyse", "column", "write"]


@dataclass
class Analysis:
    frame: Frame
    solution: Solution
    stations: Stations


def analyse(tables: Tables) -> Analysis:
    """The analysis of the model given by its input tables; raises AnalysisRefused with a message
    naming what it does not analyse."""
    frame = read(tables)
    st = stations(frame)
    solution = _solve(frame)
    return Analysis(frame, solution, st)


def write(out: IO[str], analysis: Analysis) -> None:
    """The result tables of every load case and combination (into an open output container)."""
    write_results(out, analysis.frame, analysis.solution, analysis.stations)

"""Return types of the result getters and the optional and read-only parameters of the stubs.

Checked like check_usage.py: every getter has an `as_file` overload (`Literal[True]` gives `File`,
`False` or nothing gives `BytesIO`), optional parameters are `Optional[...]` and read-only lists
`Sequence[...]`.
"""

from __future__ import annotations

import io
from typing import Optional, Tuple, Union, assert_type

from norvale.core import File
from norvale.external.korro import EnergyOptimizationAction, KORROAnalysis, WriteResultsAction
from norvale.external.moraine import MoraineAnalysis
from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import Model, TarsisAnalysis


def moraine(job: MoraineAnalysis, flag: bool) -> None:
    assert_type(job.get_output_file(), Optional[io.BytesIO])
    assert_type(job.get_output_file(".err"), Optional[io.BytesIO])
    assert_type(job.get_output_file(".err", as_file=False), Optional[io.BytesIO])
    assert_type(job.get_output_file(".err", as_file=True), Optional[File])
    assert_type(job.get_output_file(as_file=flag), Optional[Union[io.BytesIO, File]])


def korro(job: KORROAnalysis, flag: bool) -> None:
    assert_type(job.get_model(), io.BytesIO)
    assert_type(job.get_model(as_file=True), File)
    assert_type(job.get_result(3), io.BytesIO)
    assert_type(job.get_result(3, as_file=True), File)
    assert_type(job.get_result(3, as_file=flag), Union[io.BytesIO, File])
    WriteResultsAction(None)
    EnergyOptimizationAction(None, goal=1.0, accuracy=0.1)


def tarsis(job: TarsisAnalysis, model: Model, flag: bool) -> None:
    assert_type(job.get_xml_output_file(), Optional[io.BytesIO])
    assert_type(job.get_xml_output_file(True), Optional[File])
    assert_type(job.get_xml_output_file(as_file=True), Optional[File])
    assert_type(job.get_updated_esa_model(), Optional[io.BytesIO])
    assert_type(job.get_updated_esa_model(as_file=True), Optional[File])
    assert_type(job.get_engineering_report(), Optional[io.BytesIO])
    assert_type(job.get_engineering_report(as_file=True), Optional[File])
    assert_type(job.get_engineering_report(flag), Optional[Union[io.BytesIO, File]])
    assert_type(model.generate_xml_input(), Tuple[io.BytesIO, io.BytesIO])
    assert_type(model.generate_xml_input(True), Tuple[File, File])
    assert_type(model.generate_xml_input(as_file=True), Tuple[File, File])


def optional_and_sequence_parameters(model: Model) -> None:
    Model(mesh_setup=None, solver_setup=None, project_data=None)
    steel = obj.Material("S355")
    section = model.create_library_cross_section(obj.LibraryCrossSection.Section.I, "IPE360", steel, name=None)
    a = model.create_node("A", 0, 0, 0)
    b = model.create_node("B", 6, 0, 0)
    c = model.create_node("C", 6, 5, 0)
    layer = model.create_layer(None, comment=None)
    model.create_beam(a, b, section, name=None, ez=None, lcs_rotation=None, layer=None)
    plane = model.create_plane((a, b, c), 0.2, material=steel, internal_nodes=(), layer=layer)
    model.create_open_slab("Opening", plane, (a, b, c))
    group = model.create_load_group("LG1", obj.LoadGroup.LoadOption.PERMANENT, None, None)
    case = model.create_permanent_load_case("LC1", "dead", group, obj.LoadCase.PermanentLoadType.STANDARD, None, None)
    combination = model.create_load_combination("ULS", obj.LoadCombination.Type.ULS_SET_B, {case: 1.35})
    model.create_result_class("Design", (combination,), None)
    model.create_point_load_node(a, case, -1.0, name=None, direction=None, c_sys=None, angle=None)
    model.create_free_surface_load("Snow", case, obj.FreeSurfaceLoad.Direction.Z, -1.0, None, None,
                                   ((0.0, 0.0), (1.0, 0.0), (1.0, 1.0)), selection=(plane,))
    model.create_selection("both", (a, plane))

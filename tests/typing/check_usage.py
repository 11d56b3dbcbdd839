"""Application code against the modules' stubs and the kit, checked by mypy --strict and pyright.

Never run: tests/typing/test_type_checkers.py hands this file to the type checkers. `assert_type`
pins what an editor shows a user; a line that must be refused carries the ignore comment of both
checkers, and both report an ignore that is no longer needed, so a stub that starts to accept a wrong
call fails as surely as one that rejects a right call.
"""

from __future__ import annotations

import io
from typing import BinaryIO, Dict, List, Optional, Tuple, assert_type

from norvale.core import File, register_addon_service
from norvale.errors import ExecutionError, InternalError, NorvaleError, TarsisParsingError
from norvale.external.korro import (
    CopyNodalLoadAction,
    EnergyOptimizationAction,
    KORROAction,
    KORROAnalysis,
    LoadingType,
    WriteResultsAction,
)
from norvale.external.moraine import MoraineAnalysis
from norvale.external.pylon import PYLONAnalysis
from norvale.external.python import PythonAnalysis
from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import CalcSetting, Model, OutputFileParser, ResultType, TarsisAnalysis
from norvale.geometry import Vector
from norvale.worker import standins


# -- the kit ----------------------------------------------------------------------------------------
def kit_values() -> None:
    file = File.from_data(b"data")
    assert_type(File.from_path("input.sti"), File)
    assert_type(file.getvalue_binary(), bytes)
    assert_type(file.getvalue(), str)
    assert_type(file.size, int)
    assert_type(file.path, Optional[str])
    with file.open_binary() as stream:
        assert_type(stream, BinaryIO)
    file.save("copy.bin")

    v = Vector(1.0, 0.0, 0.0).cross(Vector(0.0, 0.0, 1.0))
    assert_type(v, Vector)
    assert_type(v.normalize() * 2.0, Vector)
    assert_type(2.0 * v, Vector)
    assert_type(v.dot(v), float)
    x, y, z = v
    assert_type(x, float)

    assert_type(standins.command("korro"), list[str])
    standins.configure_all()
    register_addon_service("my/endpoint/", lambda payload, *, timeout=None: {"ok": True})

    error: NorvaleError = ExecutionError("boom")
    for kind in (InternalError, TarsisParsingError):
        error = kind("boom")
    assert isinstance(error, Exception)


# -- Moraine ----------------------------------------------------------------------------------------
def moraine() -> bytes:
    analysis = MoraineAnalysis(input_file=io.BytesIO(b"[MORAINE INPUT]"))
    MoraineAnalysis(File.from_data(b"[MORAINE INPUT]"))
    assert_type(analysis.input_file, io.BytesIO | File)
    analysis.execute(timeout=10)
    report = analysis.get_output_file(".sto")
    if isinstance(report, io.BytesIO):
        return report.getvalue()
    MoraineAnalysis()  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    analysis.execute()  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    return b""


# -- Korro ------------------------------------------------------------------------------------------
def korro(loading: LoadingType) -> List[bytes]:
    actions: List[KORROAction] = [
        EnergyOptimizationAction([1, 2, 3], goal=10000, accuracy=0.1),
        EnergyOptimizationAction(None, LoadingType.LOAD_COMBINATION, goal=15000.0, accuracy=0.05),
        CopyNodalLoadAction([(1, 7), (2, 8)], factor=1.5),
        WriteResultsAction(),
        WriteResultsAction([1, 7], LoadingType.LOAD_CASE),
    ]
    first = actions[0]
    assert isinstance(first, EnergyOptimizationAction)
    assert_type(first.goal, float)
    assert_type(first.load_cases, Optional[List[int]])
    assert_type(first.loading_type, LoadingType)
    number: int = loading.value  # an integer enumeration value travels in the configs
    text: str = loading.value  # type: ignore[assignment]  # pyright: ignore[reportAssignmentType]

    EnergyOptimizationAction([1], goal="high", accuracy=0.1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    EnergyOptimizationAction([1], LoadingType.LOAD_CASE, 10000, 0.1)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    CopyNodalLoadAction([(1, 7)], LoadingType.LOAD_CASE, 1.5)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    KORROAction(0)  # type: ignore[abstract]  # pyright: ignore[reportAbstractUsage]

    analysis = KORROAnalysis(kox_file=io.BytesIO(b"LOADCASE 1\n"), actions=actions)
    analysis.execute(timeout=300)
    out: List[bytes] = []
    for result in (analysis.get_model(), analysis.get_result(1), analysis.get_result(7, as_file=False)):
        if isinstance(result, io.BytesIO):
            out.append(result.getvalue())
        else:
            out.append(result.getvalue_binary())
    return out


# -- Pylon (script analysis) ------------------------------------------------------------------------
def pylon() -> Optional[str]:
    script = File.from_data(b"open('output.txt', 'w').write('done')\n")
    analysis = PYLONAnalysis(script=script, files=[("input1.txt", File.from_data(b"3.5"))],
                             output_filenames=["output.txt"])
    assert isinstance(analysis, PythonAnalysis)
    PYLONAnalysis(script_key="report", output_filenames=("summary.json",))
    analysis.execute(timeout=60)
    output = analysis.get_output_file("output.txt")
    assert_type(output, Optional[File])
    PYLONAnalysis(script=b"print()")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    return output.getvalue() if output is not None else None


# -- Tarsis: the model builder ----------------------------------------------------------------------
def tarsis_model() -> Model:
    model = Model(project_data=obj.ProjectData(name="Frame"))
    Model(obj.MeshSetup())  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    steel = obj.Material("S355")
    section = model.create_rectangular_cross_section("R", steel, 0.3, 0.5)
    assert_type(section, obj.RectangularCrossSection)
    library = model.create_library_cross_section(obj.LibraryCrossSection.Section.I, "IPE360", steel)
    assert_type(library, obj.LibraryCrossSection)

    a = model.create_node("A", 0.0, 0.0, 0.0)
    b = model.create_node("B", 6, 0, 0)
    assert_type(a, obj.Node)
    assert_type(model.nodes, Tuple[obj.Node, ...])
    assert_type(model.cross_sections, Tuple[obj.CrossSection, ...])
    beam = model.create_beam(a, b, section, name="B1", layer=model.create_layer("Frames"))
    assert_type(beam, obj.Beam)
    model.create_beam(a, b, a)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    assert_type(model.create_hinge_on_beam(beam, obj.HingeOnBeam.Position.BOTH), obj.HingeOnBeam)

    rigid = obj.PointSupport.Freedom.RIGID
    support = model.create_point_support("S1", a, obj.PointSupport.Type.STANDARD,
                                         (rigid, rigid, rigid, rigid, rigid, rigid),
                                         (0.0, 0.0, 0.0, 0.0, 0.0, 0.0), obj.PointSupport.CSys.GLOBAL)
    assert_type(support, obj.PointSupport)
    plane = model.create_plane([a, b, model.create_node("C", 6, 5, 0)], 0.2, material=obj.Material("C30/37"))
    assert_type(plane, obj.Plane)
    assert_type(model.create_circular_plane(a, 2.0, 0.2, material=steel, axis=(0.0, 0.0, 1.0)), obj.Plane)
    model.create_circular_plane(a, 2.0, 0.2, material=steel, axis=Vector(0, 1, 0))
    model.create_line_support_on_plane((plane, 1))

    group = model.create_load_group("LG1", obj.LoadGroup.LoadOption.PERMANENT)
    dead = model.create_permanent_load_case("LC1", "self weight", group, obj.LoadCase.PermanentLoadType.SELF_WEIGHT)
    live = model.create_variable_load_case("LC2", "imposed", group, obj.LoadCase.VariableLoadType.STATIC)
    assert_type(dead, obj.PermanentLoadCase)
    assert_type(live, obj.VariableLoadCase)
    assert_type(model.load_cases, Tuple[obj.LoadCase, ...])
    assert_type(model.create_point_load_node(b, dead, -10e3), obj.PointLoadNode)
    uls = model.create_load_combination("ULS", obj.LoadCombination.Type.ULS_SET_B, {dead: 1.35, live: 1.5})
    assert_type(uls, obj.LoadCombination)
    model.create_result_class("Design", [uls])
    model.create_selection("all beams", list(model.beams))
    assert_type(model.mesh_setup, obj.MeshSetup)
    return model


# -- Tarsis: the analysis job and the output parser --------------------------------------------------
def tarsis_job(model: Model, setting: CalcSetting) -> Dict[Optional[str], List[Optional[str]]]:
    setting_text: str = setting.value
    assert isinstance(setting, str) and setting_text
    assert_type(ResultType("XML"), ResultType)
    input_file, def_file = model.generate_xml_input()
    assert isinstance(input_file, io.BytesIO)
    assert_type(TarsisAnalysis.get_xml_def_name(input_file), str)
    analysis = TarsisAnalysis(input_file, def_file, io.BytesIO(b"ESA"), CalcSetting.EIG, "output",
                              result_type=ResultType.ENGINEERING_REPORT, output_document="report1")
    TarsisAnalysis(input_file, def_file, io.BytesIO(b"ESA"), CalcSetting.LIN, "output",
                   ResultType.MODEL)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    assert_type(analysis.calculation_setting, CalcSetting)
    analysis.execute(timeout=600)
    output = analysis.get_xml_output_file()
    assert isinstance(output, io.BytesIO)
    tables = OutputFileParser.get_result(output, "Reactions", parent="Result classes - ULS")
    assert_type(tables, Dict[str, Dict[Optional[str], List[Optional[str]]]])
    OutputFileParser.get_result(output, "Reactions", "Result classes - ULS")  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
    return tables["Reactions"]

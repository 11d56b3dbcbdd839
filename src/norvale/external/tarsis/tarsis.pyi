from enum import Enum
from io import BytesIO
from typing import (
    Any,
    BinaryIO,
    ClassVar,
    Dict,
    List,
    Literal,
    Optional,
    Sequence,
    TextIO,
    Tuple,
    Union,
    overload,
)
from xml.etree.ElementTree import Element

from norvale.core import File
from norvale.external.external_program import ExternalProgram
from norvale.external.tarsis.object import (
    ArbitraryProfile,
    ArbitraryProfileSpan,
    AveragingStrip,
    Beam,
    CircularComposedCrossSection,
    CircularCrossSection,
    CircularHollowCrossSection,
    Concrete,
    CrossLink,
    CrossSection,
    FreeLineLoad,
    FreePointLoad,
    FreeSurfaceLoad,
    GeneralCrossSection,
    GeneralCrossSectionElement,
    HingeOnBeam,
    HingeOnPlane,
    IntegrationStrip,
    InternalEdge,
    Layer,
    LibraryCrossSection,
    LineForceSurface,
    LineLoad,
    LineMomentOnBeam,
    LineMomentOnPlane,
    LineSupportLine,
    LineSupportSurface,
    LoadCase,
    LoadCombination,
    LoadGroup,
    Material,
    MeshSetup,
    Node,
    NonLinearFunction,
    NonLinearLoadCombination,
    NumericalCrossSection,
    OpenSlab,
    Orthotropy,
    PermanentLoadCase,
    Plane,
    PointLoad,
    PointLoadNode,
    PointMomentNode,
    PointSupport,
    PointSupportLine,
    ProjectData,
    RectangularCrossSection,
    ResultClass,
    RigidArm,
    SectionOnBeam,
    SectionOnPlane,
    Selection,
    SolverSetup,
    Subsoil,
    SurfaceLoad,
    SurfaceSupportSurface,
    TarsisObject,
    ThermalLoad,
    ThermalSurfaceLoad,
    VariableLoadCase,
)
from norvale.geometry import Vector

__all__ = ["CalcSetting", "Model", "OutputFileParser", "ResultType", "TarsisAnalysis"]

# ---- analysis job -------------------------------------------------------------------------------

class CalcSetting(str, Enum):
    NONE = "NONE"
    NOC = "NOC"
    LIN = "LIN"
    NEL = "NEL"
    EIG = "EIG"
    STB = "STB"
    INF = "INF"
    MOB = "MOB"
    TDA = "TDA"
    SLN = "SLN"
    PHA = "PHA"
    NPH = "NPH"
    CSS = "CSS"
    NST = "NST"
    TID = "TID"

class ResultType(str, Enum):
    NONE = "XML"
    MODEL = "MODEL"
    ENGINEERING_REPORT = "ENGINEERING_REPORT"

class TarsisAnalysis(ExternalProgram):
    _multipart_job_content: ClassVar[bool]
    input_file: Union[BytesIO, File]
    xml_def_file: Union[BytesIO, File]
    tarsis_model: Union[BytesIO, File]
    calculation_setting: CalcSetting
    xml_doc_name: str
    _result_type: ResultType
    _output_document: str
    def __init__(
        self,
        input_file: Union[BytesIO, File],
        xml_def_file: Union[BytesIO, File],
        tarsis_model: Union[BytesIO, File],
        calculation_setting: CalcSetting = CalcSetting.LIN,
        xml_doc_name: str = 'output',
        *,
        result_type: ResultType = ResultType.MODEL,
        output_document: str = '',
    ) -> None: ...
    @staticmethod
    def get_xml_def_name(input_file: BinaryIO) -> str: ...
    def _write_job_content(self, w: TextIO) -> None: ...
    def _handle_execution_error(self, message: str) -> None: ...
    @overload
    def get_xml_output_file(self, as_file: Literal[True]) -> Optional[File]: ...
    @overload
    def get_xml_output_file(self, as_file: Literal[False] = False) -> Optional[BytesIO]: ...
    @overload
    def get_xml_output_file(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]: ...
    @overload
    def get_updated_esa_model(self, as_file: Literal[True]) -> Optional[File]: ...
    @overload
    def get_updated_esa_model(self, as_file: Literal[False] = False) -> Optional[BytesIO]: ...
    @overload
    def get_updated_esa_model(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]: ...
    @overload
    def get_engineering_report(self, as_file: Literal[True]) -> Optional[File]: ...
    @overload
    def get_engineering_report(self, as_file: Literal[False] = False) -> Optional[BytesIO]: ...
    @overload
    def get_engineering_report(self, as_file: bool = False) -> Optional[Union[BytesIO, File]]: ...

# ---- output file parser -------------------------------------------------------------------------

class OutputFileParser:
    _NS: ClassVar[Dict[str, str]]
    @classmethod
    def get_result(
        cls,
        file: BinaryIO,
        table_name: str,
        *,
        parent: Optional[str] = None,
    ) -> Dict[str, Dict[Optional[str], List[Optional[str]]]]: ...
    @classmethod
    def _get_table_element(cls, file: BinaryIO, table_name: str, parent: Optional[str] = None) -> Element: ...
    @classmethod
    def _result_element_to_dict(cls, element: Element) -> Dict[Optional[str], List[Optional[str]]]: ...
    @staticmethod
    def _tag_without_ns(elem: Element) -> str: ...

# ---- model builder ------------------------------------------------------------------------------

class Model:
    def __init__(
        self,
        *,
        mesh_setup: Optional[MeshSetup] = None,
        solver_setup: Optional[SolverSetup] = None,
        project_data: Optional[ProjectData] = None,
    ) -> None: ...
    @property
    def layers(self) -> Tuple[Layer, ...]: ...
    @property
    def cross_sections(self) -> Tuple[CrossSection, ...]: ...
    @property
    def concrete_materials(self) -> Tuple[Concrete, ...]: ...
    @property
    def subsoils(self) -> Tuple[Subsoil, ...]: ...
    @property
    def nonlinear_functions(self) -> Tuple[NonLinearFunction, ...]: ...
    @property
    def orthotropy_objects(self) -> Tuple[Orthotropy, ...]: ...
    @property
    def selections(self) -> Tuple[Selection, ...]: ...
    @property
    def nodes(self) -> Tuple[Node, ...]: ...
    @property
    def beams(self) -> Tuple[Beam, ...]: ...
    @property
    def cross_links(self) -> Tuple[CrossLink, ...]: ...
    @property
    def arbitrary_profiles(self) -> Tuple[ArbitraryProfile, ...]: ...
    @property
    def hinges_on_beam(self) -> Tuple[HingeOnBeam, ...]: ...
    @property
    def hinges_on_plane(self) -> Tuple[HingeOnPlane, ...]: ...
    @property
    def sections_on_beam(self) -> Tuple[SectionOnBeam, ...]: ...
    @property
    def planes(self) -> Tuple[Plane, ...]: ...
    @property
    def open_slabs(self) -> Tuple[OpenSlab, ...]: ...
    @property
    def internal_edges(self) -> Tuple[InternalEdge, ...]: ...
    @property
    def rigid_arms(self) -> Tuple[RigidArm, ...]: ...
    @property
    def point_supports(self) -> Tuple[PointSupport, ...]: ...
    @property
    def point_supports_line(self) -> Tuple[PointSupportLine, ...]: ...
    @property
    def line_supports_line(self) -> Tuple[LineSupportLine, ...]: ...
    @property
    def line_supports_surface(self) -> Tuple[LineSupportSurface, ...]: ...
    @property
    def surface_supports(self) -> Tuple[SurfaceSupportSurface, ...]: ...
    @property
    def load_cases(self) -> Tuple[LoadCase, ...]: ...
    @property
    def load_groups(self) -> Tuple[LoadGroup, ...]: ...
    @property
    def load_combinations(self) -> Tuple[LoadCombination, ...]: ...
    @property
    def nonlinear_load_combinations(self) -> Tuple[NonLinearLoadCombination, ...]: ...
    @property
    def result_classes(self) -> Tuple[ResultClass, ...]: ...
    @property
    def point_loads(self) -> Tuple[PointLoad, ...]: ...
    @property
    def point_loads_node(self) -> Tuple[PointLoadNode, ...]: ...
    @property
    def point_moments_node(self) -> Tuple[PointMomentNode, ...]: ...
    @property
    def line_loads(self) -> Tuple[LineLoad, ...]: ...
    @property
    def line_moments_on_beam(self) -> Tuple[LineMomentOnBeam, ...]: ...
    @property
    def line_moments_on_plane(self) -> Tuple[LineMomentOnPlane, ...]: ...
    @property
    def line_force_surface_list(self) -> Tuple[LineForceSurface, ...]: ...
    @property
    def surface_loads(self) -> Tuple[SurfaceLoad, ...]: ...
    @property
    def thermal_loads(self) -> Tuple[ThermalLoad, ...]: ...
    @property
    def thermal_surface_loads(self) -> Tuple[ThermalSurfaceLoad, ...]: ...
    @property
    def free_surface_loads(self) -> Tuple[FreeSurfaceLoad, ...]: ...
    @property
    def free_line_loads(self) -> Tuple[FreeLineLoad, ...]: ...
    @property
    def free_point_loads(self) -> Tuple[FreePointLoad, ...]: ...
    @property
    def integration_strips(self) -> Tuple[IntegrationStrip, ...]: ...
    @property
    def averaging_strips(self) -> Tuple[AveragingStrip, ...]: ...
    @property
    def sections_on_plane(self) -> Tuple[SectionOnPlane, ...]: ...
    @property
    def mesh_setup(self) -> MeshSetup: ...
    @property
    def solver_setup(self) -> SolverSetup: ...
    @property
    def project_data(self) -> ProjectData: ...
    def create_layer(
        self,
        name: Optional[str] = None,
        *,
        comment: Optional[str] = None,
        structural_model_only: Optional[bool] = None,
        current_used_activity: Optional[bool] = None,
    ) -> Layer: ...
    def update_concrete_material(
        self,
        object_id: int,
        name: str,
        part: Union[Concrete.ECPart, str],
        thermal_expansion: Optional[float] = None,
        unit_mass: Optional[float] = None,
        wet_density: Optional[float] = None,
        e_modulus: Optional[float] = None,
        poisson: Optional[float] = None,
        g_modulus: Optional[float] = None,
        log_decrement: Optional[float] = None,
        specific_heat: Optional[float] = None,
        thermal_conductivity: Optional[float] = None,
        *,
        fck: Optional[float] = None,
    ) -> Concrete: ...
    def create_nonlinear_function(
        self,
        name: str,
        function_type: Union[NonLinearFunction.Type, str],
        positive_end: Union[NonLinearFunction.Support, str],
        negative_end: Union[NonLinearFunction.Support, str],
        impulse: Sequence[Tuple[float, float]],
    ) -> NonLinearFunction: ...
    def create_subsoil(
        self,
        name: str,
        *,
        stiffness: float,
        c1x: Optional[float] = None,
        c1y: Optional[float] = None,
        c1z: Optional[Union[Subsoil.C1z, str]] = None,
        nonlinear_function: Optional[NonLinearFunction] = None,
        c2x: Optional[float] = None,
        c2y: Optional[float] = None,
        is_drained: Optional[bool] = None,
        water_air_in_clay_subgrade: Optional[bool] = None,
        specific_weight: Optional[float] = None,
        fi: Optional[float] = None,
        sigma_oc: Optional[float] = None,
        c: Optional[float] = None,
        cu: Optional[float] = None,
    ) -> Subsoil: ...
    def create_orthotropy(
        self,
        name: str,
        material: Material,
        thickness: float,
        D11: Optional[float] = None,
        D22: Optional[float] = None,
        D12: Optional[float] = None,
        D33: Optional[float] = None,
        D44: Optional[float] = None,
        D55: Optional[float] = None,
        d11: Optional[float] = None,
        d22: Optional[float] = None,
        d12: Optional[float] = None,
        d33: Optional[float] = None,
        kxy: Optional[float] = None,
        kyx: Optional[float] = None,
    ) -> Orthotropy: ...
    def create_selection(self, name: str, objects: Sequence[TarsisObject]) -> Selection: ...
    def create_rectangular_cross_section(
        self,
        name: str,
        material: Material,
        width: float,
        height: float,
    ) -> RectangularCrossSection: ...
    def create_circular_cross_section(self, name: str, material: Material, diameter: float) -> CircularCrossSection: ...
    def create_circular_hollow_cross_section(
        self,
        name: str,
        material: Material,
        diameter: float,
        thickness: float,
    ) -> CircularHollowCrossSection: ...
    def create_circular_composed_cross_section(
        self,
        name: str,
        material: Material,
        material_2: Material,
        diameter: float,
        thickness: float,
    ) -> CircularComposedCrossSection: ...
    def create_numerical_cross_section(
        self,
        name: str,
        material: Material,
        *,
        A: Optional[float] = None,
        Ay: Optional[float] = None,
        Az: Optional[float] = None,
        AL: Optional[float] = None,
        AD: Optional[float] = None,
        cYUCS: Optional[float] = None,
        cZUCS: Optional[float] = None,
        alpha: Optional[float] = None,
        Iy: Optional[float] = None,
        Iz: Optional[float] = None,
        Wely: Optional[float] = None,
        Welz: Optional[float] = None,
        Wply: Optional[float] = None,
        Wplz: Optional[float] = None,
        Mply_plus: Optional[float] = None,
        Mply_min: Optional[float] = None,
        Mplz_plus: Optional[float] = None,
        Mplz_min: Optional[float] = None,
        dy: Optional[float] = None,
        dz: Optional[float] = None,
        It: Optional[float] = None,
        Iw: Optional[float] = None,
        beta_y: Optional[float] = None,
        beta_z: Optional[float] = None,
    ) -> NumericalCrossSection: ...
    def create_library_cross_section(
        self,
        section: Union[LibraryCrossSection.Section, str],
        profile: str,
        material: Material,
        *,
        name: Optional[str] = None,
    ) -> LibraryCrossSection: ...
    def create_general_cross_section_element(
        self,
        name: str,
        element_type: Union[GeneralCrossSectionElement.Type, str],
        points: Sequence[Tuple[float, float]],
        *,
        material: Optional[Material] = None,
    ) -> GeneralCrossSectionElement: ...
    def create_general_cross_section(
        self,
        elements: Sequence[GeneralCrossSectionElement],
        *,
        name: Optional[str] = None,
    ) -> GeneralCrossSection: ...
    def create_arbitrary_profile_span(
        self,
        length: float,
        type_of_css: Union[ArbitraryProfileSpan.TypeOfCss, str],
        cross_section_start: CrossSection,
        cross_section_end: CrossSection,
        alignment: Union[ArbitraryProfileSpan.Alignment, str],
    ) -> ArbitraryProfileSpan: ...
    def create_arbitrary_profile(
        self,
        name: str,
        beam: Beam,
        c_def: Union[ArbitraryProfile.CDef, str],
        cross_section: CrossSection,
        spans: Sequence[ArbitraryProfileSpan],
    ) -> ArbitraryProfile: ...
    def create_node(self, name: str, x: float, y: float, z: float) -> Node: ...
    def create_beam(
        self,
        begin_node: Node,
        end_node: Node,
        cross_section: CrossSection,
        *,
        name: Optional[str] = None,
        ez: Optional[float] = None,
        lcs_rotation: Optional[float] = None,
        layer: Optional[Layer] = None,
    ) -> Beam: ...
    def create_cross_link(self, beam_1: Beam, beam_2: Beam, *, name: Optional[str] = None) -> CrossLink: ...
    def create_hinge_on_beam(
        self,
        beam: Beam,
        position: Union[HingeOnBeam.Position, str],
        *,
        name: Optional[str] = None,
        freedom_ux: Union[HingeOnBeam.Freedom, str] = HingeOnBeam.Freedom.RIGID,
        freedom_uy: Union[HingeOnBeam.Freedom, str] = HingeOnBeam.Freedom.RIGID,
        freedom_uz: Union[HingeOnBeam.Freedom, str] = HingeOnBeam.Freedom.RIGID,
        freedom_fix: Union[HingeOnBeam.Freedom, str] = HingeOnBeam.Freedom.RIGID,
        freedom_fiy: Union[HingeOnBeam.Freedom, str] = HingeOnBeam.Freedom.FREE,
        freedom_fiz: Union[HingeOnBeam.Freedom, str] = HingeOnBeam.Freedom.RIGID,
        stiffness_ux: float = 0,
        stiffness_uy: float = 0,
        stiffness_uz: float = 0,
        stiffness_fix: float = 0,
        stiffness_fiy: float = 0,
        stiffness_fiz: float = 0,
    ) -> HingeOnBeam: ...
    def create_section_on_beam(
        self,
        name: str,
        beam: Beam,
        c_def: Union[SectionOnBeam.CDef, str],
        position_x: float,
        origin: Union[SectionOnBeam.Origin, str],
        repeat: int,
        delta_x: float,
    ) -> SectionOnBeam: ...
    def create_section_on_plane(
        self,
        point_1: Tuple[float, float, float],
        point_2: Tuple[float, float, float],
        *,
        name: str,
        draw: Optional[Union[SectionOnPlane.Draw, str]] = None,
        direction_of_cut: Optional[Tuple[float, float, float]] = None,
    ) -> SectionOnPlane: ...
    def create_rigid_arm(
        self,
        name: str,
        master_node: Node,
        slave_node: Node,
        hinge_on_master: bool,
        hinge_on_slave: bool,
    ) -> RigidArm: ...
    def create_plane(
        self,
        corner_nodes: Sequence[Node],
        thickness: float,
        *,
        material: Material,
        name: Optional[str] = None,
        plane_type: Optional[Union[Plane.Type, str]] = None,
        layer: Optional[Layer] = None,
        internal_nodes: Optional[Sequence[Node]] = None,
        swap_orientation: Optional[bool] = None,
        lcs_rotation: Optional[float] = None,
        fem_model: Optional[Union[Plane.FEMModel, str]] = None,
        orthotropy: Optional[Orthotropy] = None,
    ) -> Plane: ...
    def create_circular_plane(
        self,
        center_node: Node,
        diameter: float,
        thickness: float,
        *,
        material: Material,
        axis: Optional[Union[Vector, Tuple[float, float, float]]] = None,
        name: Optional[str] = None,
        plane_type: Optional[Union[Plane.Type, str]] = None,
        layer: Optional[Layer] = None,
        internal_nodes: Optional[Sequence[Node]] = None,
        swap_orientation: Optional[bool] = None,
        lcs_rotation: Optional[float] = None,
        fem_model: Optional[Union[Plane.FEMModel, str]] = None,
        orthotropy: Optional[Orthotropy] = None,
    ) -> Plane: ...
    def create_open_slab(self, name: str, plane: Plane, corner_nodes: Sequence[Node]) -> OpenSlab: ...
    def create_internal_edge(
        self,
        plane: Plane,
        node_1: Node,
        node_2: Node,
        *,
        name: Optional[str] = None,
    ) -> InternalEdge: ...
    def create_integration_strip(
        self,
        plane: Plane,
        point_1: Tuple[float, float, float],
        point_2: Tuple[float, float, float],
        width: float,
    ) -> IntegrationStrip: ...
    def create_averaging_strip(
        self,
        plane: Plane,
        *,
        strip_type: Union[AveragingStrip.Type, str],
        point_1: Tuple[float, float, float],
        width: float,
        length: float,
        angle: float,
        direction: Union[AveragingStrip.Direction, str],
        name: Optional[str] = None,
    ) -> AveragingStrip: ...
    def create_point_support(
        self,
        name: str,
        node: Node,
        spring_type: Union[PointSupport.Type, str],
        freedom: Tuple[PointSupport.Freedom, PointSupport.Freedom, PointSupport.Freedom, PointSupport.Freedom, PointSupport.Freedom, PointSupport.Freedom],
        stiffness: Tuple[float, float, float, float, float, float],
        c_sys: Union[PointSupport.CSys, str],
        default_size: float = 0.2,
        *,
        angle: Optional[Tuple[float, float, float]] = None,
    ) -> PointSupport: ...
    def create_point_support_on_beam(
        self,
        beam: Beam,
        *,
        name: Optional[str] = None,
        x: Optional[Union[PointSupportLine.Freedom, str]] = None,
        stiffness_x: Optional[float] = None,
        y: Optional[Union[PointSupportLine.Freedom, str]] = None,
        stiffness_y: Optional[float] = None,
        z: Optional[Union[PointSupportLine.Freedom, str]] = None,
        stiffness_z: Optional[float] = None,
        rx: Optional[Union[PointSupportLine.Freedom, str]] = None,
        stiffness_rx: Optional[float] = None,
        ry: Optional[Union[PointSupportLine.Freedom, str]] = None,
        stiffness_ry: Optional[float] = None,
        rz: Optional[Union[PointSupportLine.Freedom, str]] = None,
        stiffness_rz: Optional[float] = None,
        default_size: Optional[float] = None,
        c_sys: Optional[Union[PointSupportLine.CSys, str]] = None,
        c_def: Optional[Union[PointSupportLine.CDef, str]] = None,
        position_x: Optional[float] = None,
        origin: Optional[Union[PointSupportLine.Origin, str]] = None,
        repeat: Optional[int] = None,
        delta_x: Optional[float] = None,
    ) -> PointSupportLine: ...
    def create_line_support_on_beam(
        self,
        beam: Beam,
        *,
        name: Optional[str] = None,
        x: Optional[Union[LineSupportLine.Freedom, str]] = None,
        stiffness_x: Optional[float] = None,
        function_x: Optional[NonLinearFunction] = None,
        y: Optional[Union[LineSupportLine.Freedom, str]] = None,
        stiffness_y: Optional[float] = None,
        function_y: Optional[NonLinearFunction] = None,
        z: Optional[Union[LineSupportLine.Freedom, str]] = None,
        stiffness_z: Optional[float] = None,
        function_z: Optional[NonLinearFunction] = None,
        rx: Optional[Union[LineSupportLine.Freedom, str]] = None,
        stiffness_rx: Optional[float] = None,
        function_rx: Optional[NonLinearFunction] = None,
        ry: Optional[Union[LineSupportLine.Freedom, str]] = None,
        stiffness_ry: Optional[float] = None,
        function_ry: Optional[NonLinearFunction] = None,
        rz: Optional[Union[LineSupportLine.Freedom, str]] = None,
        stiffness_rz: Optional[float] = None,
        function_rz: Optional[NonLinearFunction] = None,
        c_sys: Optional[Union[LineSupportLine.CSys, str]] = None,
        extent: Optional[Union[LineSupportLine.Extent, str]] = None,
        c_def: Optional[Union[LineSupportLine.CDef, str]] = None,
        position_x1: Optional[float] = None,
        position_x2: Optional[float] = None,
        origin: Optional[Union[LineSupportLine.Origin, str]] = None,
    ) -> LineSupportLine: ...
    def create_line_support_on_plane(
        self,
        edge: Union[Tuple[Plane, int], InternalEdge],
        *,
        name: Optional[str] = None,
        x: Optional[Union[LineSupportSurface.Freedom, str]] = None,
        stiffness_x: Optional[float] = None,
        y: Optional[Union[LineSupportSurface.Freedom, str]] = None,
        stiffness_y: Optional[float] = None,
        z: Optional[Union[LineSupportSurface.Freedom, str]] = None,
        stiffness_z: Optional[float] = None,
        rx: Optional[Union[LineSupportSurface.Freedom, str]] = None,
        stiffness_rx: Optional[float] = None,
        ry: Optional[Union[LineSupportSurface.Freedom, str]] = None,
        stiffness_ry: Optional[float] = None,
        rz: Optional[Union[LineSupportSurface.Freedom, str]] = None,
        stiffness_rz: Optional[float] = None,
        c_sys: Optional[Union[LineSupportSurface.CSys, str]] = None,
        c_def: Optional[Union[LineSupportSurface.CDef, str]] = None,
        position_x1: Optional[float] = None,
        position_x2: Optional[float] = None,
        origin: Optional[Union[LineSupportSurface.Origin, str]] = None,
    ) -> LineSupportSurface: ...
    def create_surface_support(
        self,
        plane: Plane,
        subsoil: Subsoil,
        *,
        name: Optional[str] = None,
    ) -> SurfaceSupportSurface: ...
    def create_hinge_on_plane(
        self,
        edge: Union[Tuple[Plane, int], InternalEdge],
        *,
        name: Optional[str] = None,
        ux: Optional[Union[HingeOnPlane.Freedom, str]] = None,
        stiffness_ux: Optional[float] = None,
        uy: Optional[Union[HingeOnPlane.Freedom, str]] = None,
        stiffness_uy: Optional[float] = None,
        uz: Optional[Union[HingeOnPlane.Freedom, str]] = None,
        stiffness_uz: Optional[float] = None,
        fix: Optional[Union[HingeOnPlane.Freedom, str]] = None,
        stiffness_fix: Optional[float] = None,
        c_def: Optional[Union[HingeOnPlane.CDef, str]] = None,
        position_x1: Optional[float] = None,
        position_x2: Optional[float] = None,
        origin: Optional[Union[HingeOnPlane.Origin, str]] = None,
    ) -> HingeOnPlane: ...
    def create_load_group(
        self,
        name: str,
        load_option: Union[LoadGroup.LoadOption, str],
        relation: Optional[Union[LoadGroup.RelationOption, str]] = None,
        load_type: Optional[Union[LoadGroup.LoadTypeOption, str]] = None,
    ) -> LoadGroup: ...
    def create_permanent_load_case(
        self,
        name: str,
        description: str,
        load_group: LoadGroup,
        load_type: Union[LoadCase.PermanentLoadType, str],
        direction: Optional[Union[LoadCase.Direction, str]] = None,
        primary_effect: Optional[LoadCase] = None,
    ) -> PermanentLoadCase: ...
    def create_variable_load_case(
        self,
        name: str,
        description: str,
        load_group: LoadGroup,
        load_type: Union[LoadCase.VariableLoadType, str],
        specification: Optional[Union[LoadCase.Specification, str]] = None,
        duration: Optional[Union[LoadCase.Duration, str]] = None,
        primary_effect: Optional[LoadCase] = None,
    ) -> VariableLoadCase: ...
    def create_load_combination(
        self,
        name: str,
        load_type: Union[LoadCombination.Type, str],
        load_cases: Dict[LoadCase, float],
        *,
        description: Optional[str] = None,
    ) -> LoadCombination: ...
    def create_nonlinear_load_combination(
        self,
        load_type: Union[NonLinearLoadCombination.Type, str],
        load_cases: Dict[LoadCase, float],
        *,
        name: Optional[str] = None,
        description: Optional[str] = None,
    ) -> NonLinearLoadCombination: ...
    def create_result_class(
        self,
        name: str,
        combinations: Optional[Sequence[LoadCombination]] = None,
        nonlinear_combinations: Optional[Sequence[NonLinearLoadCombination]] = None,
    ) -> ResultClass: ...
    def create_point_load_node(
        self,
        node: Node,
        load_case: LoadCase,
        load: float,
        *,
        name: Optional[str] = None,
        direction: Optional[Union[PointLoadNode.Direction, str]] = None,
        c_sys: Optional[Union[PointLoadNode.CSys, str]] = None,
        angle: Optional[Tuple[float, float, float]] = None,
    ) -> PointLoadNode: ...
    def create_point_load(
        self,
        name: str,
        load_case: LoadCase,
        beam: Beam,
        direction: Union[PointLoad.Direction, str],
        load_type: Union[PointLoad.Type, str],
        load_value: float,
        c_sys: Optional[Union[PointLoad.CSys, str]] = None,
        c_def: Optional[Union[PointLoad.CDef, str]] = None,
        position_x: Optional[float] = None,
        origin: Optional[Union[PointLoad.Origin, str]] = None,
        repeat: Optional[int] = None,
        ey: Optional[float] = None,
        ez: Optional[float] = None,
        *,
        angle: Optional[Tuple[float, float, float]] = None,
    ) -> PointLoad: ...
    def create_point_moment_node(
        self,
        node: Node,
        load_case: LoadCase,
        load: float,
        direction: Union[PointMomentNode.Direction, str],
        name: Optional[str] = None,
        c_sys: Union[PointMomentNode.CSys, str] = PointMomentNode.CSys.GLOBAL,
    ) -> PointMomentNode: ...
    def create_line_load(
        self,
        name: str,
        load_case: LoadCase,
        beam: Beam,
        load_type: Union[LineLoad.Type, str],
        distribution: Union[LineLoad.Distribution, str],
        load_start: float,
        load_end: float,
        direction: Union[LineLoad.Direction, str],
        position_start: float,
        position_end: float,
        c_def: Union[LineLoad.CDef, str],
        c_sys: Union[LineLoad.CSys, str],
        origin: Union[LineLoad.Origin, str],
        ey: float,
        ez: float,
    ) -> LineLoad: ...
    def create_line_moment_on_beam(
        self,
        beam: Beam,
        load_case: LoadCase,
        m1: float,
        m2: Optional[float] = None,
        *,
        name: Optional[str] = None,
        direction: Optional[Union[LineMomentOnBeam.Direction, str]] = None,
        c_def: Optional[Union[LineMomentOnBeam.CDef, str]] = None,
        position_x1: Optional[float] = None,
        position_x2: Optional[float] = None,
        origin: Optional[Union[LineMomentOnBeam.Origin, str]] = None,
    ) -> LineMomentOnBeam: ...
    def create_line_moment_on_plane(
        self,
        edge: Union[Tuple[Plane, int], InternalEdge],
        m1: float,
        m2: Optional[float] = None,
        *,
        load_case: LoadCase,
        name: Optional[str] = None,
        direction: Optional[Union[LineMomentOnPlane.Direction, str]] = None,
        c_def: Optional[Union[LineMomentOnPlane.CDef, str]] = None,
        position_x1: Optional[float] = None,
        position_x2: Optional[float] = None,
        origin: Optional[Union[LineMomentOnPlane.Origin, str]] = None,
    ) -> LineMomentOnPlane: ...
    def create_line_load_on_plane(
        self,
        edge: Union[Tuple[Plane, int], InternalEdge],
        p1: float,
        p2: Optional[float] = None,
        *,
        load_case: LoadCase,
        direction: Optional[Union[LineForceSurface.Direction, str]] = None,
        name: Optional[str] = None,
        location: Optional[Union[LineForceSurface.Location, str]] = None,
        c_sys: Optional[Union[LineForceSurface.CSys, str]] = None,
        c_def: Optional[Union[LineForceSurface.CDef, str]] = None,
        position_x1: Optional[float] = None,
        position_x2: Optional[float] = None,
        origin: Optional[Union[LineForceSurface.Origin, str]] = None,
    ) -> LineForceSurface: ...
    def create_surface_load(
        self,
        name: str,
        load_case: LoadCase,
        plane: Plane,
        direction: Union[SurfaceLoad.Direction, str],
        load_type: Union[SurfaceLoad.Type, str],
        load_value: float,
        c_sys: Union[SurfaceLoad.CSys, str],
        location: Union[SurfaceLoad.Location, str],
    ) -> SurfaceLoad: ...
    def create_thermal_load(
        self,
        name: str,
        load_case: LoadCase,
        beam: Beam,
        distribution: Union[ThermalLoad.Distribution, str],
        delta: float,
        left_delta: float,
        right_delta: float,
        top_delta: float,
        bottom_delta: float,
        position_start: float,
        position_end: float,
        c_def: Union[ThermalLoad.CDef, str],
        origin: Union[ThermalLoad.Origin, str],
    ) -> ThermalLoad: ...
    def create_thermal_surface_load(
        self,
        name: str,
        load_case: LoadCase,
        plane: Plane,
        delta: Optional[float] = None,
        top_delta: Optional[float] = None,
        bottom_delta: Optional[float] = None,
    ) -> ThermalSurfaceLoad: ...
    def create_free_surface_load(
        self,
        name: str,
        load_case: LoadCase,
        direction: Union[FreeSurfaceLoad.Direction, str],
        q1: float,
        q2: Optional[float] = None,
        q3: Optional[float] = None,
        points: Optional[Sequence[Tuple[float, float]]] = None,
        *,
        distribution: Optional[Union[FreeSurfaceLoad.Distribution, str]] = None,
        selection: Optional[Sequence[Plane]] = None,
    ) -> FreeSurfaceLoad: ...
    def create_free_line_load(
        self,
        name: str,
        load_case: LoadCase,
        point_1: Tuple[float, float],
        point_2: Tuple[float, float],
        direction: Union[FreeLineLoad.Direction, str],
        magnitude_1: float,
        magnitude_2: float,
    ) -> FreeLineLoad: ...
    def create_free_point_load(
        self,
        name: str,
        load_case: LoadCase,
        direction: Union[FreePointLoad.Direction, str],
        magnitude: float,
        position: Tuple[float, float],
    ) -> FreePointLoad: ...
    def _serialize(self) -> dict: ...  # type: ignore[type-arg]  # documented as a plain dict
    @overload
    def generate_xml_input(self, as_file: Literal[True]) -> Tuple[File, File]: ...
    @overload
    def generate_xml_input(self, as_file: Literal[False] = False) -> Tuple[BytesIO, BytesIO]: ...
    @overload
    def generate_xml_input(self, as_file: bool = False) -> Union[Tuple[BytesIO, BytesIO], Tuple[File, File]]: ...

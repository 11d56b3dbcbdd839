"""Model objects of a Tarsis structural model.

`norvale.external.tarsis.tarsis.Model` builds these objects, numbers them and keeps them in its
registries; application code receives each object from a create-method and hands it back as a
reference.  The classes here only hold values: they apply their defaults to arguments given as
None, reject values that cannot describe a model with a ``ValueError``, and turn themselves into
plain data with ``_serialize()`` (the form is described in ``docs/tarsis-objects.md``).

Objects compare by identity: two nodes at the same place are still two nodes.
"""

from __future__ import annotations

import enum
import numbers
import re
from typing import Any, Dict, List, Optional, Sequence, Tuple, TypeAlias

__all__ = [
    "Axis", "CoordinateDefinition", "CoordinateSystem", "Constraint", "PositionOrigin",
    "TarsisObject", "Material",
    "Layer", "Concrete", "NonLinearFunction", "Subsoil", "Orthotropy", "Selection",
    "CrossSection", "RectangularCrossSection", "CircularCrossSection", "CircularHollowCrossSection",
    "CircularComposedCrossSection", "NumericalCrossSection", "LibraryCrossSection",
    "GeneralCrossSectionElement", "GeneralCrossSection", "ArbitraryProfileSpan", "ArbitraryProfile",
    "Node", "Beam", "CrossLink", "HingeOnBeam", "SectionOnBeam", "SectionOnPlane", "RigidArm", "Plane",
    "OpenSlab", "InternalEdge", "IntegrationStrip", "AveragingStrip",
    "PointSupport", "PointSupportLine", "LineSupportLine", "LineSupportSurface", "SurfaceSupportSurface",
    "HingeOnPlane",
    "LoadGroup", "LoadCase", "PermanentLoadCase", "VariableLoadCase", "LoadCombination",
    "NonLinearLoadCombination", "ResultClass",
    "PointLoadNode", "PointLoad", "PointMomentNode", "LineLoad", "LineMomentOnBeam", "LineMomentOnPlane",
    "LineForceSurface", "SurfaceLoad", "ThermalLoad", "ThermalSurfaceLoad", "FreeSurfaceLoad",
    "FreeLineLoad", "FreePointLoad",
    "MeshSetup", "SolverSetup", "ProjectData",
]


# ---------------------------------------------------------------------------------------------
# Enumerations shared by several object kinds.  Members are texts whose value is the member's own
# name; that value is what goes into the serialized form, and the text itself is accepted wherever a
# member is expected.


class Axis(enum.StrEnum):
    """Direction along (or about) a global or local axis."""

    X = "X"
    Y = "Y"
    Z = "Z"


class CoordinateSystem(enum.StrEnum):
    """Coordinate system in which a value is given."""

    GLOBAL = "GLOBAL"
    LOCAL = "LOCAL"


class CoordinateDefinition(enum.StrEnum):
    """How a position along a member is given: in metres or relative to the member's length."""

    ABSOLUTE = "ABSOLUTE"
    RELATIVE = "RELATIVE"


class PositionOrigin(enum.StrEnum):
    """End of a member from which a position is measured."""

    FROM_START = "FROM_START"
    FROM_END = "FROM_END"


class Constraint(enum.StrEnum):
    """Constraint of one degree of freedom."""

    RIGID = "RIGID"
    FREE = "FREE"
    FLEXIBLE = "FLEXIBLE"


class LoadLocation(enum.StrEnum):
    """Whether a load is given per length of the member or per length of its projection."""

    LENGTH = "LENGTH"
    PROJECTION = "PROJECTION"


# ---------------------------------------------------------------------------------------------
# Value checks.  Each returns the value to store, or raises ValueError naming the argument.


def _enum(cls: type[enum.Enum], value: Any, default: Any, what: str) -> Any:
    if value is None:
        return default
    if type(value) is cls:
        return value
    try:
        return cls(value)
    except ValueError:
        members = ", ".join(m.name for m in cls)
        raise ValueError(f"{what} must be one of {cls.__qualname__} ({members}), not {value!r}") from None


def _is_number(value: Any) -> bool:
    t = type(value)
    return t is float or t is int or (isinstance(value, numbers.Real) and t is not bool)


def _number(value: Any, default: Any, what: str) -> Any:
    if value is None:
        return default
    if not _is_number(value):
        raise ValueError(f"{what} must be a number, not {value!r}")
    return value


def _positive(value: Any, what: str) -> Any:
    if not _is_number(value) or not value > 0:
        raise ValueError(f"{what} must be a positive number, not {value!r}")
    return value


def _flag(value: Any, default: bool) -> bool:
    return default if value is None else bool(value)


# Characters an XML 1.0 document cannot carry, not even as character references.
_NOT_XML = re.compile("[^\t\n\r\u0020-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def _xml_safe(value: Any, what: str) -> Any:
    """`value` unchanged; ValueError naming `what` when it is a text XML cannot carry."""
    if isinstance(value, str):
        bad = _NOT_XML.search(value)
        if bad is not None:
            raise ValueError(
                f"{what} holds a character that XML cannot carry (U+{ord(bad.group()):04X} at position "
                f"{bad.start()}): {value!r}"
            )
    return value


def _text(value: Any, default: Any, what: str) -> Any:
    if value is None:
        return default
    if not isinstance(value, str):
        raise ValueError(f"{what} must be a text, not {value!r}")
    return _xml_safe(value, what)


def _point(value: Any, size: int, what: str, default: Any = None) -> Any:
    if value is None:
        if default is None:
            raise ValueError(f"{what} must be {size} numbers, not None")
        return default
    try:
        items = tuple(value)
    except TypeError:
        items = ()
    if len(items) != size or not all(_is_number(v) for v in items):
        raise ValueError(f"{what} must be {size} numbers, not {value!r}")
    return items


def _objects(value: Any, cls: type, what: str, default: Any = None) -> List[Any]:
    if value is None:
        return [] if default is None else default
    items = list(value)
    for item in items:
        if not isinstance(item, cls):
            raise ValueError(f"{what} must hold {cls.__name__} objects, not {item!r}")
    return items


def _edge(value: Any, what: str = "edge") -> Any:
    # The edge number is Tarsis's to judge: the model accepts whatever number it is given.
    if isinstance(value, tuple):
        if len(value) != 2 or not isinstance(value[0], Plane):
            raise ValueError(f"{what} must be a (Plane, edge number) pair or an InternalEdge, not {value!r}")
        return value
    if not isinstance(value, InternalEdge):
        raise ValueError(f"{what} must be a (Plane, edge number) pair or an InternalEdge, not {value!r}")
    return value


def _plain(value: Any) -> Any:
    """Turn an attribute value into JSON-ready data."""
    if value is None or type(value) in (str, int, float, bool):
        return value
    if isinstance(value, TarsisObject):
        return value._reference()
    if isinstance(value, enum.Enum):
        return value._value_  # what `.value` returns, without going through its descriptor
    if isinstance(value, _Part):
        return value._serialize()
    if isinstance(value, tuple) and len(value) == 2 and isinstance(value[0], Plane):
        return {"plane": value[0]._reference(), "edge": value[1]}
    if isinstance(value, (list, tuple)):
        return [_plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): _plain(v) for k, v in value.items()}
    return value


_PLAIN_TYPES = (str, int, float, bool)

# How the compiled serializers turn a field value of a given type into plain data: kept as is, as
# a reference {"id", "name"} (a numbered object with the standard `_reference`), as the member's
# value (an enumeration member), or through `_plain`. Learnt on the first value of each type (a
# class whose `_reference` is replaced later keeps the handling learnt before).
_AS_IS, _REFERENCE, _MEMBER, _GENERAL = 0, 1, 2, 3
_value_kinds: Dict[type, int] = {str: _AS_IS, int: _AS_IS, float: _AS_IS, bool: _AS_IS, type(None): _AS_IS}


def _plain_first_of_type(value: Any) -> Any:
    """`_plain(value)` for a type the compiled serializers have not met yet; remembers the type."""
    cls = type(value)
    if isinstance(value, TarsisObject):
        _value_kinds[cls] = _REFERENCE if cls._reference is TarsisObject._reference else _GENERAL
    elif isinstance(value, enum.Enum):
        _value_kinds[cls] = _MEMBER
    else:
        _value_kinds[cls] = _GENERAL
    return _plain(value)


def _field_serializer(cls: Any, numbered: bool) -> Tuple[Tuple[str, ...], Any, Any]:
    """The serialization of `cls._fields` as one compiled dict display.

    Same result as looping over the fields with ``_plain(getattr(self, attr))``, without the loop,
    the key slicing and a call per plain value: models of many thousands of objects are serialized
    at once. Returns (fields, function, method): `method` may stand in the class itself, as it
    hands instances of subclasses, and a class whose `_fields` changed, back to the generic path.
    """
    items = ['"id": self._object_id', '"name": self._name'] if numbered else []
    for attr in cls._fields:
        if not attr.isidentifier():
            raise ValueError(f"{cls.__name__}._fields holds {attr!r}, which is no attribute name")
        items.append(f"{attr[1:]!r}: (v if (k := kind(type(v := self.{attr}))) == 0 "
                     f"else {{'id': v._object_id, 'name': v._name}} if k == 1 "
                     f"else v._value_ if k == 2 else plain(v) if k == 3 else first_of_type(v))")
    display = "{" + ", ".join(items) + "}"
    source = (f"def serialize(self):\n    return {display}\n"
              f"def _serialize(self):\n"
              f"    if type(self) is not cls or cls._fields is not fields:\n"
              f"        return generic(self, {numbered})\n"
              f"    return {display}\n")
    namespace = {"plain": _plain, "kind": _value_kinds.get, "first_of_type": _plain_first_of_type,
                 "cls": cls, "fields": cls._fields, "generic": _serialize_fields}
    exec(compile(source, f"<{cls.__qualname__}._serialize>", "exec"), namespace)
    method = namespace["_serialize"]
    method.__qualname__ = f"{cls.__qualname__}._serialize"
    return cls._fields, namespace["serialize"], method


_serializers: Dict[Tuple[type, bool], Tuple[Tuple[str, ...], Any, Any]] = {}


def _serialize_fields(self: Any, numbered: bool) -> Dict[str, Any]:
    cls = type(self)
    entry = _serializers.get((cls, numbered))
    if entry is None or entry[0] is not cls._fields:
        entry = _serializers[(cls, numbered)] = _field_serializer(cls, numbered)
        # A class that serializes with the generic method gets its compiled one as its own.
        if cls._serialize is (TarsisObject._serialize if numbered else _Part._serialize):
            cls._serialize = entry[2]
    data: Dict[str, Any] = entry[1](self)
    return data


# ---------------------------------------------------------------------------------------------
# Bases


class TarsisObject:
    """A numbered object of a model: it has an id (unique per registry) and a name."""

    # Attributes written by `_serialize` after "id" and "name", in this order; the key is the
    # attribute name without its leading underscore.
    _fields: Tuple[str, ...] = ()

    def __init__(self, object_id: int, name: Optional[str]) -> None:
        self._object_id = object_id
        self._name: Optional[str] = _xml_safe(name, f"{type(self).__name__} name")

    @property
    def object_id(self) -> int:
        return self._object_id

    @property
    def name(self) -> Optional[str]:
        return self._name

    def _reference(self) -> Dict[str, Any]:
        return {"id": self._object_id, "name": self._name}

    def _serialize(self) -> Dict[str, Any]:
        # {"id": ..., "name": ..., then each of _fields without its underscore: _plain(value)}
        return _serialize_fields(self, True)

    def __repr__(self) -> str:
        return f"<{type(self).__name__} {self._object_id}: {self._name!r}>"


class _Part:
    """A building block without id that is serialized inside the object that uses it."""

    _fields: Tuple[str, ...] = ()

    def _serialize(self) -> Dict[str, Any]:
        # {each of _fields without its underscore: _plain(value)}
        return _serialize_fields(self, False)


class Material(_Part):
    """A material defined in the Tarsis project file, referred to by its name."""

    _fields = ("_name",)

    def __init__(self, name: str) -> None:
        if not isinstance(name, str) or not name:
            raise ValueError(f"material name must be a non-empty text, not {name!r}")
        self._name: str = _xml_safe(name, "material name")

    @property
    def name(self) -> str:
        return self._name

    def __repr__(self) -> str:
        return f"Material({self._name!r})"


def _material(value: Any, what: str = "material", optional: bool = False) -> Any:
    if value is None and optional:
        return None
    if not isinstance(value, Material):
        raise ValueError(f"{what} must be a Material, not {value!r}")
    return value


# ---------------------------------------------------------------------------------------------
# Materials, layers, subsoils, selections


class Layer(TarsisObject):
    """A layer that members are put on."""

    _fields = ("_comment", "_structural_model_only", "_current_used_activity")

    def __init__(self, object_id: int, name: str, comment: Optional[str] = None,
                 structural_model_only: Optional[bool] = None, current_used_activity: Optional[bool] = None) -> None:
        super().__init__(object_id, _text(name, None, "layer name"))
        self._comment = _text(comment, "", "comment")
        self._structural_model_only = _flag(structural_model_only, False)
        self._current_used_activity = _flag(current_used_activity, True)

    comment = property(lambda self: self._comment)
    structural_model_only = property(lambda self: self._structural_model_only)
    current_used_activity = property(lambda self: self._current_used_activity)


class Concrete(TarsisObject):
    """Override of properties of a concrete material that exists in the project file.

    Properties given as None keep the project file's value (they serialize as null).
    """

    class ECPart(enum.StrEnum):
        """Part of the concrete standard the material belongs to."""

        GENERAL = "GENERAL"
        BRIDGES = "BRIDGES"

    _fields = ("_thermal_expansion", "_unit_mass", "_wet_density", "_e_modulus", "_poisson", "_g_modulus",
               "_log_decrement", "_specific_heat", "_thermal_conductivity", "_fck")

    def __init__(self, object_id: int, name: str, part: "Concrete.ECPart", thermal_expansion: Optional[float] = None,
                 unit_mass: Optional[float] = None, wet_density: Optional[float] = None,
                 e_modulus: Optional[float] = None, poisson: Optional[float] = None, g_modulus: Optional[float] = None,
                 log_decrement: Optional[float] = None, specific_heat: Optional[float] = None,
                 thermal_conductivity: Optional[float] = None, *, fck: Optional[float] = None) -> None:
        if type(object_id) is not int or object_id < 1:
            raise ValueError(f"material id must be a positive integer, not {object_id!r}")
        super().__init__(object_id, name)
        if part is None:
            raise ValueError("part must be a Concrete.ECPart member, not None")
        self.ec_part = _enum(Concrete.ECPart, part, None, "part")
        values = dict(thermal_expansion=thermal_expansion, unit_mass=unit_mass, wet_density=wet_density,
                      e_modulus=e_modulus, poisson=poisson, g_modulus=g_modulus, log_decrement=log_decrement,
                      specific_heat=specific_heat, thermal_conductivity=thermal_conductivity, fck=fck)
        for key, value in values.items():
            setattr(self, "_" + key, _number(value, None, key))

    def _serialize(self) -> Dict[str, Any]:
        data = super()._serialize()
        data["part"] = self.ec_part.value
        return data


class NonLinearFunction(TarsisObject):
    """A non-linear function: a polyline of (x, y) points, used by supports and subsoils."""

    class Type(enum.StrEnum):
        TRANSLATION = "TRANSLATION"
        ROTATION = "ROTATION"
        NONLINEAR_SUBSOIL = "NONLINEAR_SUBSOIL"

    class Support(enum.StrEnum):
        """Behaviour beyond the last point of the function."""

        RIGID = "RIGID"
        FREE = "FREE"
        FLEXIBLE = "FLEXIBLE"

    _fields = ("_function_type", "_positive_end", "_negative_end", "_impulse")

    def __init__(self, object_id: int, name: str, function_type: "NonLinearFunction.Type",
                 positive_end: "NonLinearFunction.Support", negative_end: "NonLinearFunction.Support",
                 impulse: List[Tuple[float, float]]) -> None:
        super().__init__(object_id, name)
        self._function_type = _enum(NonLinearFunction.Type, function_type, NonLinearFunction.Type.TRANSLATION,
                                    "function_type")
        self._positive_end = _enum(NonLinearFunction.Support, positive_end, NonLinearFunction.Support.RIGID,
                                   "positive_end")
        self._negative_end = _enum(NonLinearFunction.Support, negative_end, NonLinearFunction.Support.RIGID,
                                   "negative_end")
        points = [_point(p, 2, "impulse point") for p in (impulse or ())]
        if len(points) < 2:
            raise ValueError("impulse must hold at least two (x, y) points")
        self._impulse = points


class Subsoil(TarsisObject):
    """Subsoil on which a plate rests (see `SurfaceSupportSurface`)."""

    class C1z(enum.StrEnum):
        FLEXIBLE = "FLEXIBLE"
        NONLINEAR_FUNCTION = "NONLINEAR_FUNCTION"

    _fields = ("_stiffness", "_c1x", "_c1y", "_c1z", "_nonlinear_function", "_c2x", "_c2y", "_is_drained",
               "_water_air_in_clay_subgrade", "_specific_weight", "_fi", "_sigma_oc", "_c", "_cu")

    def __init__(self, object_id: int, name: str, stiffness: float, c1x: Optional[float] = None,
                 c1y: Optional[float] = None, c1z: Optional["Subsoil.C1z"] = None,
                 nonlinear_function: Optional[NonLinearFunction] = None, c2x: Optional[float] = None,
                 c2y: Optional[float] = None, is_drained: Optional[bool] = None,
                 water_air_in_clay_subgrade: Optional[bool] = None, specific_weight: Optional[float] = None,
                 fi: Optional[float] = None, sigma_oc: Optional[float] = None, c: Optional[float] = None,
                 cu: Optional[float] = None) -> None:
        super().__init__(object_id, name)
        self._stiffness = _positive(stiffness, "stiffness")
        self._c1x = _number(c1x, 50000000.0, "c1x")
        self._c1y = _number(c1y, 50000000.0, "c1y")
        self._c1z = _enum(Subsoil.C1z, c1z, Subsoil.C1z.FLEXIBLE, "c1z")
        if self._c1z is Subsoil.C1z.NONLINEAR_FUNCTION and not isinstance(nonlinear_function, NonLinearFunction):
            raise ValueError("c1z NONLINEAR_FUNCTION needs a nonlinear_function")
        self._nonlinear_function = nonlinear_function
        self._c2x = _number(c2x, 0.0, "c2x")
        self._c2y = _number(c2y, 0.0, "c2y")
        self._is_drained = _flag(is_drained, False)
        self._water_air_in_clay_subgrade = _flag(water_air_in_clay_subgrade, False)
        self._specific_weight = _number(specific_weight, 0.0, "specific_weight")
        self._fi = _number(fi, 0.0, "fi")
        self._sigma_oc = _number(sigma_oc, 0.0, "sigma_oc")
        self._c = _number(c, 0.0, "c")
        self._cu = _number(cu, 0.0, "cu")


class Orthotropy(TarsisObject):
    """Orthotropic stiffness of a plate, used by planes whose FEM model is orthotropic."""

    _NAMES = ("D11", "D22", "D12", "D33", "D44", "D55", "d11", "d22", "d12", "d33", "kxy", "kyx")
    _fields = ("_material", "_thickness") + tuple("_" + n for n in _NAMES)

    def __init__(self, object_id: int, name: str, material: Material, thickness: float, D11: Optional[float] = None,
                 D22: Optional[float] = None, D12: Optional[float] = None, D33: Optional[float] = None,
                 D44: Optional[float] = None, D55: Optional[float] = None, d11: Optional[float] = None,
                 d22: Optional[float] = None, d12: Optional[float] = None, d33: Optional[float] = None,
                 kxy: Optional[float] = None, kyx: Optional[float] = None) -> None:
        super().__init__(object_id, name)
        self._material = _material(material)
        self._thickness = _positive(thickness, "thickness")
        values = (D11, D22, D12, D33, D44, D55, d11, d22, d12, d33, kxy, kyx)
        for key, value in zip(self._NAMES, values):
            setattr(self, "_" + key, _number(value, 0.0, key))


class Selection(TarsisObject):
    """A named selection; it keeps one record (id, name, type) per selected object."""

    _fields = ("_objects",)

    def __init__(self, object_id: int, name: str, objects: List[Dict[str, Any]]) -> None:
        super().__init__(object_id, name)
        records = []
        for record in objects:
            if not isinstance(record, dict) or list(record) != ["id", "name", "type"]:
                raise ValueError(f"selection records must be mappings of id, name and type, not {record!r}")
            records.append(dict(record))
        self._objects = records

    objects = property(lambda self: list(self._objects))


# ---------------------------------------------------------------------------------------------
# Cross-sections and profiles


class CrossSection(TarsisObject):
    """Base of every kind of cross-section; all kinds share one registry of a model."""

    _fields: Tuple[str, ...] = ("_material",)

    def __init__(self, object_id: int, name: str, material: Material) -> None:
        super().__init__(object_id, name)
        self._material = _material(material)

    material = property(lambda self: self._material)


class RectangularCrossSection(CrossSection):
    _fields = CrossSection._fields + ("_width", "_height")

    def __init__(self, object_id: int, name: str, material: Material, width: float, height: float) -> None:
        super().__init__(object_id, name, material)
        self._width = _positive(width, "width")
        self._height = _positive(height, "height")


class CircularCrossSection(CrossSection):
    _fields = CrossSection._fields + ("_diameter",)

    def __init__(self, object_id: int, name: str, material: Material, diameter: float) -> None:
        super().__init__(object_id, name, material)
        self._diameter = _positive(diameter, "diameter")


class CircularHollowCrossSection(CrossSection):
    _fields: Tuple[str, ...] = CrossSection._fields + ("_diameter", "_thickness")

    def __init__(self, object_id: int, name: str, material: Material, diameter: float, thickness: float) -> None:
        super().__init__(object_id, name, material)
        self._diameter = _positive(diameter, "diameter")
        self._thickness = _positive(thickness, "thickness")
        if not 2 * thickness <= diameter:
            raise ValueError(f"thickness {thickness!r} does not fit in diameter {diameter!r}")


class CircularComposedCrossSection(CircularHollowCrossSection):
    """A tube of `material` filled with `material_2`."""

    _fields = CrossSection._fields + ("_material_2", "_diameter", "_thickness")

    def __init__(self, object_id: int, name: str, material: Material, material_2: Material, diameter: float,
                 thickness: float) -> None:
        super().__init__(object_id, name, material, diameter, thickness)
        self._material_2 = _material(material_2, "material_2")


class NumericalCrossSection(CrossSection):
    """A cross-section given by its section properties; properties left None are not written."""

    _NAMES = ("A", "Ay", "Az", "AL", "AD", "cYUCS", "cZUCS", "alpha", "Iy", "Iz", "Wely", "Welz", "Wply", "Wplz",
              "Mply_plus", "Mply_min", "Mplz_plus", "Mplz_min", "dy", "dz", "It", "Iw", "beta_y", "beta_z")
    _fields = CrossSection._fields + tuple("_" + n for n in _NAMES)

    def __init__(self, object_id: int, name: str, material: Material, *, A: Optional[float] = None,
                 Ay: Optional[float] = None, Az: Optional[float] = None, AL: Optional[float] = None,
                 AD: Optional[float] = None, cYUCS: Optional[float] = None, cZUCS: Optional[float] = None,
                 alpha: Optional[float] = None, Iy: Optional[float] = None, Iz: Optional[float] = None,
                 Wely: Optional[float] = None, Welz: Optional[float] = None, Wply: Optional[float] = None,
                 Wplz: Optional[float] = None, Mply_plus: Optional[float] = None, Mply_min: Optional[float] = None,
                 Mplz_plus: Optional[float] = None, Mplz_min: Optional[float] = None, dy: Optional[float] = None,
                 dz: Optional[float] = None, It: Optional[float] = None, Iw: Optional[float] = None,
                 beta_y: Optional[float] = None, beta_z: Optional[float] = None) -> None:
        super().__init__(object_id, name, material)
        values = locals()
        for key in self._NAMES:
            setattr(self, "_" + key, _number(values[key], None, key))


class LibraryCrossSection(CrossSection):
    """A rolled or formed profile from the program's library, e.g. section I, profile IPE200."""

    class Section(enum.StrEnum):
        I = "I"  # noqa: E741
        U = "U"
        L = "L"
        T = "T"
        Z = "Z"
        RHS = "RHS"
        SHS = "SHS"
        CHS = "CHS"
        FLAT = "FLAT"
        ROUND = "ROUND"

    _fields = CrossSection._fields + ("_section", "_profile")

    def __init__(self, object_id: int, name: str, material: Material, section: "LibraryCrossSection.Section",
                 profile: str) -> None:
        super().__init__(object_id, name, material)
        if section is None:
            raise ValueError("section must be a LibraryCrossSection.Section member, not None")
        self._section = _enum(LibraryCrossSection.Section, section, None, "section")
        if not isinstance(profile, str) or not profile:
            raise ValueError(f"profile must be a non-empty text, not {profile!r}")
        self._profile = _xml_safe(profile, "profile")


class GeneralCrossSectionElement(_Part):
    """One polygon or opening of a general cross-section; points are (y, z) pairs in metres."""

    class Type(enum.StrEnum):
        POLYGON = "POLYGON"
        OPENING = "OPENING"

    _fields = ("_name", "_element_type", "_points", "_material")

    def __init__(self, name: str, element_type: "GeneralCrossSectionElement.Type",
                 points: Sequence[Tuple[float, float]], *, material: Optional[Material] = None) -> None:
        self._name = _xml_safe(name, "cross-section element name")
        if element_type is None:
            raise ValueError("element_type must be a GeneralCrossSectionElement.Type member, not None")
        self._element_type = _enum(GeneralCrossSectionElement.Type, element_type, None, "element_type")
        pts = [_point(p, 2, "point") for p in (points or ())]
        if len(pts) < 3:
            raise ValueError("a general cross-section element needs at least three points")
        self._points = pts
        self._material = _material(material, optional=True)
        if self._element_type is GeneralCrossSectionElement.Type.POLYGON and self._material is None:
            raise ValueError("a POLYGON element needs a material")

    name = property(lambda self: self._name)

    def __repr__(self) -> str:
        return f"<GeneralCrossSectionElement {self._name!r} {self._element_type.name}>"


class GeneralCrossSection(CrossSection):
    """A cross-section drawn as one polygon with any number of openings."""

    _fields = CrossSection._fields + ("_elements",)

    def __init__(self, object_id: int, name: str, material: Material,
                 elements: Sequence[GeneralCrossSectionElement]) -> None:
        super().__init__(object_id, name, material)
        self._elements = _objects(elements, GeneralCrossSectionElement, "elements")


class ArbitraryProfileSpan(_Part):
    """One span of an arbitrary profile, from one cross-section to another."""

    class TypeOfCss(enum.StrEnum):
        PRISMATIC = "PRISMATIC"
        PARAM_HAUNCH = "PARAM_HAUNCH"
        TWO_CSS = "TWO_CSS"

    class Alignment(enum.StrEnum):
        DEFAULT = "DEFAULT"
        CENTER_LINE = "CENTER_LINE"
        TOP_SURFACE = "TOP_SURFACE"
        BOTTOM_SURFACE = "BOTTOM_SURFACE"
        LEFT_SURFACE = "LEFT_SURFACE"
        RIGHT_SURFACE = "RIGHT_SURFACE"

    _fields = ("_length", "_type_of_css", "_cross_section_start", "_cross_section_end", "_alignment")

    def __init__(self, length: float, type_of_css: "ArbitraryProfileSpan.TypeOfCss", cross_section_start: CrossSection,
                 cross_section_end: CrossSection, alignment: "ArbitraryProfileSpan.Alignment") -> None:
        self._length = _positive(length, "length")
        self._type_of_css = _enum(ArbitraryProfileSpan.TypeOfCss, type_of_css, ArbitraryProfileSpan.TypeOfCss.PRISMATIC,
                                  "type_of_css")
        self._cross_section_start = cross_section_start
        self._cross_section_end = cross_section_end
        self._alignment = _enum(ArbitraryProfileSpan.Alignment, alignment, ArbitraryProfileSpan.Alignment.DEFAULT,
                                "alignment")

    def __repr__(self) -> str:
        return f"<ArbitraryProfileSpan {self._length!r} {self._type_of_css.name}>"


class ArbitraryProfile(TarsisObject):
    """A beam whose cross-section changes from span to span."""

    class CDef(enum.StrEnum):
        ABSOLUTE = "ABSOLUTE"
        RELATIVE = "RELATIVE"

    _fields = ("_beam", "_c_def", "_cross_section", "_spans")

    def __init__(self, object_id: int, name: str, beam: "Beam", c_def: "ArbitraryProfile.CDef",
                 cross_section: CrossSection, spans: List[ArbitraryProfileSpan]) -> None:
        super().__init__(object_id, name)
        self._beam = beam
        self._c_def = _enum(ArbitraryProfile.CDef, c_def, ArbitraryProfile.CDef.RELATIVE, "c_def")
        self._cross_section = cross_section
        self._spans = _objects(spans, ArbitraryProfileSpan, "spans")


# ---------------------------------------------------------------------------------------------
# Nodes, members and surfaces


class Node(TarsisObject):
    """A point of the structure; coordinates in metres."""

    _fields = ("_x", "_y", "_z")
    # An __init__ that stores its arguments as given: `Model.create_node` builds a node without
    # running it (it checks that this still holds before it does).

    def __init__(self, object_id: int, name: str, x: float, y: float, z: float) -> None:
        self._object_id = object_id
        self._name = _xml_safe(name, "Node name")
        for value in (x, y, z):
            t = type(value)
            if t is not float and t is not int and not _is_number(value):
                raise ValueError(f"node coordinates must be numbers, not {value!r}")
        self._x = x
        self._y = y
        self._z = z

    x = property(lambda self: self._x)
    y = property(lambda self: self._y)
    z = property(lambda self: self._z)


class Beam(TarsisObject):
    """A 1D member between two nodes."""

    _fields = ("_begin_node", "_end_node", "_cross_section", "_ez", "_lcs_rotation", "_layer")

    def __init__(self, object_id: int, name: str, begin_node: Node, end_node: Node, cross_section: CrossSection,
                 ez: Optional[float] = None, lcs_rotation: Optional[float] = None,
                 layer: Optional[Layer] = None) -> None:
        self._object_id = object_id
        self._name = name
        if not isinstance(begin_node, Node) or not isinstance(end_node, Node):
            raise ValueError("a beam runs between two Node objects")
        self._begin_node = begin_node
        self._end_node = end_node
        self._cross_section = cross_section
        self._ez = _number(ez, 0.0, "ez")
        self._lcs_rotation = _number(lcs_rotation, 0.0, "lcs_rotation")
        self._layer = layer

    begin_node = property(lambda self: self._begin_node)
    end_node = property(lambda self: self._end_node)
    cross_section = property(lambda self: self._cross_section)


class CrossLink(TarsisObject):
    _fields = ("_beam_1", "_beam_2")

    def __init__(self, object_id: int, name: str, beam_1: Beam, beam_2: Beam) -> None:
        super().__init__(object_id, name)
        self._beam_1 = beam_1
        self._beam_2 = beam_2


_COMPONENTS_6 = ("ux", "uy", "uz", "fix", "fiy", "fiz")


class HingeOnBeam(TarsisObject):
    """A hinge at the start, the end or both ends of a beam."""

    class Position(enum.StrEnum):
        BEGIN = "BEGIN"
        END = "END"
        BOTH = "BOTH"

    Freedom: TypeAlias = Constraint

    _fields = ("_beam", "_position") + tuple("_freedom_" + c for c in _COMPONENTS_6) \
        + tuple("_stiffness_" + c for c in _COMPONENTS_6)

    def __init__(self, object_id: int, name: str, beam: Beam, position: "HingeOnBeam.Position",
                 freedom_ux: Optional[Constraint] = None, freedom_uy: Optional[Constraint] = None,
                 freedom_uz: Optional[Constraint] = None, freedom_fix: Optional[Constraint] = None,
                 freedom_fiy: Optional[Constraint] = None, freedom_fiz: Optional[Constraint] = None,
                 stiffness_ux: Optional[float] = None, stiffness_uy: Optional[float] = None,
                 stiffness_uz: Optional[float] = None, stiffness_fix: Optional[float] = None,
                 stiffness_fiy: Optional[float] = None, stiffness_fiz: Optional[float] = None) -> None:
        super().__init__(object_id, name)
        self._beam = beam
        self._position = _enum(HingeOnBeam.Position, position, HingeOnBeam.Position.BEGIN, "position")
        freedoms = (freedom_ux, freedom_uy, freedom_uz, freedom_fix, freedom_fiy, freedom_fiz)
        defaults = (Constraint.RIGID,) * 4 + (Constraint.FREE, Constraint.RIGID)
        stiffnesses = (stiffness_ux, stiffness_uy, stiffness_uz, stiffness_fix, stiffness_fiy, stiffness_fiz)
        for comp, freedom, default in zip(_COMPONENTS_6, freedoms, defaults):
            setattr(self, "_freedom_" + comp, _enum(Constraint, freedom, default, "freedom_" + comp))
        for comp, stiffness in zip(_COMPONENTS_6, stiffnesses):
            setattr(self, "_stiffness_" + comp, _number(stiffness, 0.0, "stiffness_" + comp))


class SectionOnBeam(TarsisObject):
    """Place(s) on a beam where results are read."""

    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_beam", "_c_def", "_position_x", "_origin", "_repeat", "_delta_x")

    def __init__(self, object_id: int, name: str, beam: Beam, c_def: CoordinateDefinition, position_x: float,
                 origin: PositionOrigin, repeat: int, delta_x: float) -> None:
        super().__init__(object_id, name)
        self._beam = beam
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x = _number(position_x, 0.0, "position_x")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")
        self._repeat = _count(repeat)
        self._delta_x = _number(delta_x, 0.0, "delta_x")


def _count(repeat: Any) -> int:
    if repeat is None:
        return 1
    if type(repeat) is not int or repeat < 1:
        raise ValueError(f"repeat must be a positive integer, not {repeat!r}")
    return repeat


class SectionOnPlane(TarsisObject):
    """A result section across plates from `point_1` to `point_2`."""

    class Draw(enum.StrEnum):
        X_DIRECTION = "X_DIRECTION"
        Y_DIRECTION = "Y_DIRECTION"
        Z_DIRECTION = "Z_DIRECTION"
        UPRIGHT_TO_ELEMENT = "UPRIGHT_TO_ELEMENT"
        ELEMENT_PLANE = "ELEMENT_PLANE"

    _fields = ("_point_1", "_point_2", "_draw", "_direction_of_cut")

    def __init__(self, object_id: int, name: str, point_1: Tuple[float, float, float],
                 point_2: Tuple[float, float, float], draw: Optional["SectionOnPlane.Draw"] = None,
                 direction_of_cut: Optional[Tuple[float, float, float]] = None) -> None:
        super().__init__(object_id, name)
        self._point_1 = _point(point_1, 3, "point_1")
        self._point_2 = _point(point_2, 3, "point_2")
        self._draw = _enum(SectionOnPlane.Draw, draw, SectionOnPlane.Draw.Z_DIRECTION, "draw")
        self._direction_of_cut = _point(direction_of_cut, 3, "direction_of_cut", (0.0, 0.0, 1.0))


class RigidArm(TarsisObject):
    _fields = ("_master_node", "_slave_node", "_hinge_on_master", "_hinge_on_slave")

    def __init__(self, object_id: int, name: str, master_node: Node, slave_node: Node, hinge_on_master: bool,
                 hinge_on_slave: bool) -> None:
        super().__init__(object_id, name)
        self._master_node = master_node
        self._slave_node = slave_node
        self._hinge_on_master = _flag(hinge_on_master, False)
        self._hinge_on_slave = _flag(hinge_on_slave, False)


class Plane(TarsisObject):
    """A 2D member: a polygon of corner nodes, or a circular plate given by its centre node, one
    node on its rim (the vertex node) and a point on its axis."""

    class Type(enum.StrEnum):
        PLATE = "PLATE"
        WALL = "WALL"
        SHELL = "SHELL"

    class FEMModel(enum.StrEnum):
        ISOTROPIC = "ISOTROPIC"
        ORTHOTROPIC = "ORTHOTROPIC"

    _fields = ("_thickness", "_material", "_plane_type", "_corner_nodes", "_center_node", "_vertex_node", "_axis",
               "_layer", "_internal_nodes", "_swap_orientation", "_lcs_rotation", "_fem_model", "_orthotropy")

    def __init__(self, object_id: int, name: str, thickness: float, material: Material, *,
                 plane_type: Optional["Plane.Type"] = None, corner_nodes: Optional[List[Node]] = None,
                 layer: Optional[Layer] = None, internal_nodes: Optional[List[Node]] = None,
                 swap_orientation: Optional[bool] = None, lcs_rotation: Optional[float] = None,
                 fem_model: Optional["Plane.FEMModel"] = None, orthotropy: Optional[Orthotropy] = None,
                 center_node: Optional[Node] = None, vertex_node: Optional[Node] = None,
                 axis: Optional[Tuple[float, float, float]] = None) -> None:
        super().__init__(object_id, name)
        self._thickness = _positive(thickness, "thickness")
        self._material = _material(material)
        self._plane_type = _enum(Plane.Type, plane_type, Plane.Type.PLATE, "plane_type")
        circular = center_node is not None or vertex_node is not None or axis is not None
        if circular:
            if corner_nodes:
                raise ValueError("a circular plane has no corner nodes")
            if not isinstance(center_node, Node) or not isinstance(vertex_node, Node):
                raise ValueError("a circular plane needs a center_node and a vertex_node")
            self._corner_nodes = []
            self._axis = _point(axis, 3, "axis")
        else:
            self._corner_nodes = _objects(corner_nodes, Node, "corner_nodes")
            self._axis = None
        self._center_node = center_node
        self._vertex_node = vertex_node
        self._layer = layer
        self._internal_nodes = _objects(internal_nodes, Node, "internal_nodes")
        self._swap_orientation = _flag(swap_orientation, False)
        self._lcs_rotation = _number(lcs_rotation, 0.0, "lcs_rotation")
        self._fem_model = _enum(Plane.FEMModel, fem_model, Plane.FEMModel.ISOTROPIC, "fem_model")
        if self._fem_model is Plane.FEMModel.ORTHOTROPIC and not isinstance(orthotropy, Orthotropy):
            raise ValueError("an ORTHOTROPIC plane needs an orthotropy")
        self._orthotropy = orthotropy if self._fem_model is Plane.FEMModel.ORTHOTROPIC else None

    corner_nodes = property(lambda self: tuple(self._corner_nodes))
    is_circular = property(lambda self: self._center_node is not None)


class OpenSlab(TarsisObject):
    """An opening in a plane."""

    _fields = ("_plane", "_corner_nodes")

    def __init__(self, object_id: int, name: str, plane: Plane, corner_nodes: List[Node]) -> None:
        super().__init__(object_id, name)
        self._plane = plane
        self._corner_nodes = _objects(corner_nodes, Node, "corner_nodes")


class InternalEdge(TarsisObject):
    """An edge inside a plane; it can carry supports, hinges and loads."""

    _fields = ("_plane", "_node_1", "_node_2")

    def __init__(self, object_id: int, name: str, plane: Plane, node_1: Node, node_2: Node) -> None:
        super().__init__(object_id, name)
        self._plane = plane
        self._node_1 = node_1
        self._node_2 = node_2


class IntegrationStrip(TarsisObject):
    _fields = ("_plane", "_point_1", "_point_2", "_width")

    def __init__(self, object_id: int, name: str, plane: Plane, point_1: Tuple[float, float, float],
                 point_2: Tuple[float, float, float], width: float) -> None:
        super().__init__(object_id, name)
        self._plane = plane
        self._point_1 = _point(point_1, 3, "point_1")
        self._point_2 = _point(point_2, 3, "point_2")
        self._width = _positive(width, "width")


class AveragingStrip(TarsisObject):
    """A strip over which peak results are averaged; only the point kind is supported."""

    class Type(enum.StrEnum):
        POINT = "POINT"

    class Direction(enum.StrEnum):
        LONGITUDINAL = "LONGITUDINAL"
        PERPENDICULAR = "PERPENDICULAR"
        BOTH = "BOTH"

    _fields = ("_plane", "_strip_type", "_point_1", "_width", "_length", "_angle", "_direction")

    def __init__(self, object_id: int, name: str, plane: Plane, strip_type: "AveragingStrip.Type",
                 point_1: Tuple[float, float, float], width: float, length: float, angle: float,
                 direction: "AveragingStrip.Direction") -> None:
        super().__init__(object_id, name)
        self._plane = plane
        self._strip_type = _enum(AveragingStrip.Type, strip_type, AveragingStrip.Type.POINT, "strip_type")
        self._point_1 = _point(point_1, 3, "point_1")
        self._width = _positive(width, "width")
        self._length = _positive(length, "length")
        self._angle = _number(angle, 0.0, "angle")
        self._direction = _enum(AveragingStrip.Direction, direction, AveragingStrip.Direction.BOTH, "direction")


# ---------------------------------------------------------------------------------------------
# Supports and plane hinges

_XYZ = ("x", "y", "z", "rx", "ry", "rz")


def _set_components(obj: Any, names: Sequence[str], freedoms: Sequence[Any], stiffnesses: Sequence[Any],
                    enum_cls: type, defaults: Sequence[Any], stiffness_default: Any = 0.0) -> None:
    for comp, freedom, stiffness, default in zip(names, freedoms, stiffnesses, defaults):
        setattr(obj, "_" + comp, _enum(enum_cls, freedom, default, comp))
        setattr(obj, "_stiffness_" + comp, _number(stiffness, stiffness_default, "stiffness_" + comp))


def _component_fields(names: Sequence[str]) -> Tuple[str, ...]:
    return tuple(f for comp in names for f in ("_" + comp, "_stiffness_" + comp))


class PointSupport(TarsisObject):
    """A support in a node: six constraints and six stiffnesses in the order X, Y, Z, Rx, Ry, Rz."""

    class Type(enum.StrEnum):
        STANDARD = "STANDARD"
        TENSION_ONLY = "TENSION_ONLY"
        PRESSURE_ONLY = "PRESSURE_ONLY"

    Freedom: TypeAlias = Constraint
    CSys: TypeAlias = CoordinateSystem

    _fields = ("_node", "_spring_type", "_freedom", "_stiffness", "_c_sys", "_default_size", "_angle")

    def __init__(self, object_id: int, name: str, node: Node, spring_type: Optional["PointSupport.Type"] = None,
                 freedom: Optional[Tuple[Constraint, ...]] = None, stiffness: Optional[Tuple[float, ...]] = None,
                 c_sys: Optional[CoordinateSystem] = None, default_size: Optional[float] = None,
                 angle: Optional[Tuple[float, float, float]] = None) -> None:
        super().__init__(object_id, name)
        if not isinstance(node, Node):
            raise ValueError(f"node must be a Node, not {node!r}")
        self._node = node
        self._spring_type = _enum(PointSupport.Type, spring_type, PointSupport.Type.STANDARD, "spring_type")
        if freedom is None:
            freedom = (Constraint.RIGID,) * 6
        if len(freedom) != 6:
            raise ValueError(f"freedom must hold six constraints, not {freedom!r}")
        self._freedom = tuple(_enum(Constraint, f, Constraint.RIGID, "freedom") for f in freedom)
        self._stiffness = _point(stiffness, 6, "stiffness", (0.0,) * 6)
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._default_size = _positive(0.2 if default_size is None else default_size, "default_size")
        self._angle = _point(angle, 3, "angle", (0.0, 0.0, 0.0))


class PointSupportLine(TarsisObject):
    """Point support(s) on a beam."""

    Freedom: TypeAlias = Constraint
    CSys: TypeAlias = CoordinateSystem
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_beam",) + _component_fields(_XYZ) + ("_default_size", "_c_sys", "_c_def", "_position_x", "_origin",
                                                      "_repeat", "_delta_x")

    def __init__(self, object_id: int, name: str, beam: Beam, x: Optional[Constraint] = None,
                 stiffness_x: Optional[float] = None, y: Optional[Constraint] = None,
                 stiffness_y: Optional[float] = None, z: Optional[Constraint] = None,
                 stiffness_z: Optional[float] = None, rx: Optional[Constraint] = None,
                 stiffness_rx: Optional[float] = None, ry: Optional[Constraint] = None,
                 stiffness_ry: Optional[float] = None, rz: Optional[Constraint] = None,
                 stiffness_rz: Optional[float] = None, default_size: Optional[float] = None,
                 c_sys: Optional[CoordinateSystem] = None, c_def: Optional[CoordinateDefinition] = None,
                 position_x: Optional[float] = None, origin: Optional[PositionOrigin] = None,
                 repeat: Optional[int] = None, delta_x: Optional[float] = None) -> None:
        super().__init__(object_id, name)
        self._beam = beam
        _set_components(self, _XYZ, (x, y, z, rx, ry, rz),
                        (stiffness_x, stiffness_y, stiffness_z, stiffness_rx, stiffness_ry, stiffness_rz),
                        Constraint, (Constraint.RIGID,) * 6)
        self._default_size = _positive(0.2 if default_size is None else default_size, "default_size")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x = _number(position_x, 0.0, "position_x")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")
        self._repeat = _count(repeat)
        self._delta_x = _number(delta_x, 0.0, "delta_x")


class LineSupportLine(TarsisObject):
    """A line support along (part of) a beam."""

    class Freedom(enum.StrEnum):
        RIGID = "RIGID"
        FREE = "FREE"
        FLEXIBLE = "FLEXIBLE"
        FLEXIBLE_PRESS_ONLY = "FLEXIBLE_PRESS_ONLY"
        FLEXIBLE_TENSION_ONLY = "FLEXIBLE_TENSION_ONLY"
        NONLINEAR = "NONLINEAR"

    class Extent(enum.StrEnum):
        FULL = "FULL"
        SPAN = "SPAN"

    CSys: TypeAlias = CoordinateSystem
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_beam",) + tuple(f for comp in _XYZ for f in ("_" + comp, "_stiffness_" + comp, "_function_" + comp)) \
        + ("_c_sys", "_extent", "_c_def", "_position_x1", "_position_x2", "_origin")

    def __init__(self, object_id: int, name: str, beam: Beam, x: Optional["LineSupportLine.Freedom"] = None,
                 stiffness_x: Optional[float] = None, function_x: Optional[NonLinearFunction] = None,
                 y: Optional["LineSupportLine.Freedom"] = None, stiffness_y: Optional[float] = None,
                 function_y: Optional[NonLinearFunction] = None, z: Optional["LineSupportLine.Freedom"] = None,
                 stiffness_z: Optional[float] = None, function_z: Optional[NonLinearFunction] = None,
                 rx: Optional["LineSupportLine.Freedom"] = None, stiffness_rx: Optional[float] = None,
                 function_rx: Optional[NonLinearFunction] = None, ry: Optional["LineSupportLine.Freedom"] = None,
                 stiffness_ry: Optional[float] = None, function_ry: Optional[NonLinearFunction] = None,
                 rz: Optional["LineSupportLine.Freedom"] = None, stiffness_rz: Optional[float] = None,
                 function_rz: Optional[NonLinearFunction] = None, c_sys: Optional[CoordinateSystem] = None,
                 extent: Optional["LineSupportLine.Extent"] = None, c_def: Optional[CoordinateDefinition] = None,
                 position_x1: Optional[float] = None, position_x2: Optional[float] = None,
                 origin: Optional[PositionOrigin] = None) -> None:
        super().__init__(object_id, name)
        self._beam = beam
        _set_components(self, _XYZ, (x, y, z, rx, ry, rz),
                        (stiffness_x, stiffness_y, stiffness_z, stiffness_rx, stiffness_ry, stiffness_rz),
                        LineSupportLine.Freedom, (LineSupportLine.Freedom.RIGID,) * 6)
        for comp, function in zip(_XYZ, (function_x, function_y, function_z, function_rx, function_ry, function_rz)):
            if getattr(self, "_" + comp) is LineSupportLine.Freedom.NONLINEAR and \
                    not isinstance(function, NonLinearFunction):
                raise ValueError(f"{comp} NONLINEAR needs function_{comp}")
            setattr(self, "_function_" + comp, function)
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.LOCAL, "c_sys")
        self._extent = _enum(LineSupportLine.Extent, extent, LineSupportLine.Extent.FULL, "extent")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x1 = _number(position_x1, 0.0, "position_x1")
        self._position_x2 = _number(position_x2, 1.0, "position_x2")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")


class LineSupportSurface(TarsisObject):
    """A line support on a plate edge, given as (plane, edge number) or as an internal edge."""

    Freedom: TypeAlias = Constraint
    CSys: TypeAlias = CoordinateSystem
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_edge",) + _component_fields(_XYZ) + ("_c_sys", "_c_def", "_position_x1", "_position_x2", "_origin")

    def __init__(self, object_id: int, name: str, edge: Any, x: Optional[Constraint] = None,
                 stiffness_x: Optional[float] = None, y: Optional[Constraint] = None,
                 stiffness_y: Optional[float] = None, z: Optional[Constraint] = None,
                 stiffness_z: Optional[float] = None, rx: Optional[Constraint] = None,
                 stiffness_rx: Optional[float] = None, ry: Optional[Constraint] = None,
                 stiffness_ry: Optional[float] = None, rz: Optional[Constraint] = None,
                 stiffness_rz: Optional[float] = None, c_sys: Optional[CoordinateSystem] = None,
                 c_def: Optional[CoordinateDefinition] = None, position_x1: Optional[float] = None,
                 position_x2: Optional[float] = None, origin: Optional[PositionOrigin] = None) -> None:
        super().__init__(object_id, name)
        self._edge = _edge(edge)
        _set_components(self, _XYZ, (x, y, z, rx, ry, rz),
                        (stiffness_x, stiffness_y, stiffness_z, stiffness_rx, stiffness_ry, stiffness_rz),
                        Constraint, (Constraint.FREE,) * 6)
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x1 = _number(position_x1, 0.0, "position_x1")
        self._position_x2 = _number(position_x2, 1.0, "position_x2")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")


class SurfaceSupportSurface(TarsisObject):
    """A plate bedded on a subsoil."""

    _fields = ("_plane", "_subsoil")

    def __init__(self, object_id: int, name: str, plane: Plane, subsoil: Subsoil) -> None:
        super().__init__(object_id, name)
        self._plane = plane
        self._subsoil = subsoil


class HingeOnPlane(TarsisObject):
    """A hinge along a plate edge."""

    Freedom: TypeAlias = Constraint
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_edge",) + _component_fields(("ux", "uy", "uz", "fix")) + (
        "_c_def", "_position_x1", "_position_x2", "_origin")

    def __init__(self, object_id: int, name: str, edge: Any, ux: Optional[Constraint] = None,
                 stiffness_ux: Optional[float] = None, uy: Optional[Constraint] = None,
                 stiffness_uy: Optional[float] = None, uz: Optional[Constraint] = None,
                 stiffness_uz: Optional[float] = None, fix: Optional[Constraint] = None,
                 stiffness_fix: Optional[float] = None, c_def: Optional[CoordinateDefinition] = None,
                 position_x1: Optional[float] = None, position_x2: Optional[float] = None,
                 origin: Optional[PositionOrigin] = None) -> None:
        super().__init__(object_id, name)
        self._edge = _edge(edge)
        _set_components(self, ("ux", "uy", "uz", "fix"), (ux, uy, uz, fix),
                        (stiffness_ux, stiffness_uy, stiffness_uz, stiffness_fix), Constraint,
                        (Constraint.RIGID, Constraint.RIGID, Constraint.RIGID, Constraint.FREE))
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x1 = _number(position_x1, 0.0, "position_x1")
        self._position_x2 = _number(position_x2, 1.0, "position_x2")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")


# ---------------------------------------------------------------------------------------------
# Load groups, load cases and combinations


class LoadGroup(TarsisObject):
    class LoadOption(enum.StrEnum):
        PERMANENT = "PERMANENT"
        VARIABLE = "VARIABLE"
        ACCIDENTAL = "ACCIDENTAL"
        SEISMIC = "SEISMIC"

    class RelationOption(enum.StrEnum):
        STANDARD = "STANDARD"
        EXCLUSIVE = "EXCLUSIVE"
        TOGETHER = "TOGETHER"

    class LoadTypeOption(enum.StrEnum):
        """Category of a variable load group."""

        DOMESTIC = "DOMESTIC"
        OFFICES = "OFFICES"
        CONGREGATION = "CONGREGATION"
        SHOPPING = "SHOPPING"
        STORAGE = "STORAGE"
        LIGHT_TRAFFIC = "LIGHT_TRAFFIC"
        HEAVY_TRAFFIC = "HEAVY_TRAFFIC"
        ROOFS = "ROOFS"
        SNOW = "SNOW"
        WIND = "WIND"
        TEMPERATURE = "TEMPERATURE"
        OTHER = "OTHER"

    _fields = ("_load_option", "_relation", "_load_type")

    def __init__(self, object_id: int, name: str, load_option: "LoadGroup.LoadOption",
                 relation: Optional["LoadGroup.RelationOption"] = None,
                 load_type: Optional["LoadGroup.LoadTypeOption"] = None) -> None:
        super().__init__(object_id, name)
        if load_option is None:
            raise ValueError("load_option must be a LoadGroup.LoadOption member, not None")
        self._load_option = _enum(LoadGroup.LoadOption, load_option, None, "load_option")
        self._relation = _enum(LoadGroup.RelationOption, relation, LoadGroup.RelationOption.STANDARD, "relation")
        variable = self._load_option is LoadGroup.LoadOption.VARIABLE
        self._load_type = _enum(LoadGroup.LoadTypeOption, load_type,
                                LoadGroup.LoadTypeOption.DOMESTIC if variable else None, "load_type")


class LoadCase(TarsisObject):
    """Base of permanent and variable load cases (one registry, one id sequence)."""

    class PermanentLoadType(enum.StrEnum):
        SELF_WEIGHT = "SELF_WEIGHT"
        STANDARD = "STANDARD"
        PRIMARY_EFFECT = "PRIMARY_EFFECT"

    class VariableLoadType(enum.StrEnum):
        STATIC = "STATIC"
        PRIMARY_EFFECT = "PRIMARY_EFFECT"

    class Direction(enum.StrEnum):
        """Direction of the self weight."""

        NEG_Z = "NEG_Z"
        POS_Z = "POS_Z"
        NEG_Y = "NEG_Y"
        POS_Y = "POS_Y"
        NEG_X = "NEG_X"
        POS_X = "POS_X"

    class Specification(enum.StrEnum):
        STANDARD = "STANDARD"
        TEMPERATURE = "TEMPERATURE"
        STATIC_WIND = "STATIC_WIND"
        EARTHQUAKE = "EARTHQUAKE"
        SNOW = "SNOW"

    class Duration(enum.StrEnum):
        PERMANENT = "PERMANENT"
        LONG = "LONG"
        MEDIUM = "MEDIUM"
        SHORT = "SHORT"
        INSTANTANEOUS = "INSTANTANEOUS"

    _fields: Tuple[str, ...] = ("_description", "_load_group", "_load_type")

    def __init__(self, object_id: int, name: str, description: str, load_group: LoadGroup) -> None:
        super().__init__(object_id, name)
        self._description = _text(description, "", "description")
        self._load_group = load_group

    load_group = property(lambda self: self._load_group)


def _primary_effect(load_type: Any, primary: Any, primary_type: Any) -> Any:
    if load_type is primary_type:
        if not isinstance(primary, LoadCase):
            raise ValueError("a PRIMARY_EFFECT load case needs a primary_effect load case")
        return primary
    return None


class PermanentLoadCase(LoadCase):
    _fields = LoadCase._fields + ("_direction", "_primary_effect")

    def __init__(self, object_id: int, name: str, description: str, load_group: LoadGroup,
                 load_type: "LoadCase.PermanentLoadType", direction: Optional["LoadCase.Direction"] = None,
                 primary_effect: Optional[LoadCase] = None) -> None:
        super().__init__(object_id, name, description, load_group)
        self._load_type = _enum(LoadCase.PermanentLoadType, load_type, LoadCase.PermanentLoadType.STANDARD,
                                "load_type")
        self._direction = _enum(LoadCase.Direction, direction, LoadCase.Direction.NEG_Z, "direction")
        self._primary_effect = _primary_effect(self._load_type, primary_effect,
                                               LoadCase.PermanentLoadType.PRIMARY_EFFECT)

    def _serialize(self) -> Dict[str, Any]:
        return {"kind": "PERMANENT", **super()._serialize()}


class VariableLoadCase(LoadCase):
    _fields = LoadCase._fields + ("_specification", "_duration", "_primary_effect")

    def __init__(self, object_id: int, name: str, description: str, load_group: LoadGroup,
                 load_type: "LoadCase.VariableLoadType", specification: Optional["LoadCase.Specification"] = None,
                 duration: Optional["LoadCase.Duration"] = None, primary_effect: Optional[LoadCase] = None) -> None:
        super().__init__(object_id, name, description, load_group)
        self._load_type = _enum(LoadCase.VariableLoadType, load_type, LoadCase.VariableLoadType.STATIC, "load_type")
        self._specification = _enum(LoadCase.Specification, specification, LoadCase.Specification.STANDARD,
                                    "specification")
        self._duration = _enum(LoadCase.Duration, duration, LoadCase.Duration.SHORT, "duration")
        self._primary_effect = _primary_effect(self._load_type, primary_effect,
                                               LoadCase.VariableLoadType.PRIMARY_EFFECT)

    def _serialize(self) -> Dict[str, Any]:
        return {"kind": "VARIABLE", **super()._serialize()}


def _coefficients(load_cases: Any) -> Dict[LoadCase, float]:
    if not isinstance(load_cases, dict):
        raise ValueError(f"load_cases must map load cases to coefficients, not {load_cases!r}")
    for case, coefficient in load_cases.items():
        if not isinstance(case, LoadCase):
            raise ValueError(f"load_cases keys must be LoadCase objects, not {case!r}")
        _number(coefficient, None, "load case coefficient")
    return dict(load_cases)


class _Combination(TarsisObject):
    _fields = ("_load_type", "_description")

    def __init__(self, object_id: int, name: str, load_type: Any, load_cases: Any, description: Any) -> None:
        super().__init__(object_id, name)
        self._load_cases = _coefficients(load_cases)
        self._description = _text(description, "", "description")

    load_cases = property(lambda self: dict(self._load_cases))

    def _serialize(self) -> Dict[str, Any]:
        data = super()._serialize()
        data["load_cases"] = [{"load_case": case._reference(), "coefficient": coefficient}
                              for case, coefficient in self._load_cases.items()]
        return data


class LoadCombination(_Combination):
    class Type(enum.StrEnum):
        ENVELOPE_ULTIMATE = "ENVELOPE_ULTIMATE"
        ENVELOPE_SERVICEABILITY = "ENVELOPE_SERVICEABILITY"
        LINEAR_ULTIMATE = "LINEAR_ULTIMATE"
        LINEAR_SERVICEABILITY = "LINEAR_SERVICEABILITY"
        ULS_SET_B = "ULS_SET_B"
        ULS_SET_C = "ULS_SET_C"
        SLS_CHARACTERISTIC = "SLS_CHARACTERISTIC"
        SLS_FREQUENT = "SLS_FREQUENT"
        SLS_QUASI_PERMANENT = "SLS_QUASI_PERMANENT"
        ACCIDENTAL = "ACCIDENTAL"
        SEISMIC = "SEISMIC"

    def __init__(self, object_id: int, name: str, load_type: "LoadCombination.Type",
                 load_cases: Dict[LoadCase, float], *, description: Optional[str] = None) -> None:
        super().__init__(object_id, name, load_type, load_cases, description)
        self._load_type = _enum(LoadCombination.Type, load_type, LoadCombination.Type.ENVELOPE_ULTIMATE, "load_type")


class NonLinearLoadCombination(_Combination):
    class Type(enum.StrEnum):
        ULTIMATE = "ULTIMATE"
        SERVICEABILITY = "SERVICEABILITY"

    def __init__(self, object_id: int, name: str, load_type: "NonLinearLoadCombination.Type",
                 load_cases: Dict[LoadCase, float], *, description: Optional[str] = None) -> None:
        super().__init__(object_id, name, load_type, load_cases, description)
        self._load_type = _enum(NonLinearLoadCombination.Type, load_type, NonLinearLoadCombination.Type.ULTIMATE,
                                "load_type")


class ResultClass(TarsisObject):
    """A named group of combinations for result evaluation."""

    _fields = ("_combinations", "_nonlinear_combinations")

    def __init__(self, object_id: int, name: str, combinations: Optional[List[LoadCombination]] = None,
                 nonlinear_combinations: Optional[List[NonLinearLoadCombination]] = None) -> None:
        super().__init__(object_id, name)
        self._combinations = _objects(combinations, LoadCombination, "combinations")
        self._nonlinear_combinations = _objects(nonlinear_combinations, NonLinearLoadCombination,
                                                "nonlinear_combinations")


# ---------------------------------------------------------------------------------------------
# Loads


class _Load(TarsisObject):
    def __init__(self, object_id: int, name: str, load_case: LoadCase) -> None:
        self._object_id = object_id
        self._name = name
        if not isinstance(load_case, LoadCase):
            raise ValueError(f"load_case must be a LoadCase, not {load_case!r}")
        self._load_case = load_case

    load_case = property(lambda self: self._load_case)


class PointLoadNode(_Load):
    """A force in a node."""

    Direction: TypeAlias = Axis
    CSys: TypeAlias = CoordinateSystem

    _fields = ("_node", "_load_case", "_load", "_direction", "_c_sys", "_angle")

    def __init__(self, object_id: int, name: str, node: Node, load_case: LoadCase, load: float,
                 direction: Optional[Axis] = None, c_sys: Optional[CoordinateSystem] = None,
                 angle: Optional[Tuple[float, float, float]] = None) -> None:
        _Load.__init__(self, object_id, name, load_case)
        self._node = node
        self._load = _number(load, None, "load")
        if self._load is None:
            raise ValueError("load must be a number, not None")
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._angle = None if angle is None else _point(angle, 3, "angle")


class PointLoad(_Load):
    """A point load on a beam."""

    Direction: TypeAlias = Axis
    CSys: TypeAlias = CoordinateSystem
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    class Type(enum.StrEnum):
        FORCE = "FORCE"
        SELF_WEIGHT = "SELF_WEIGHT"

    _fields = ("_load_case", "_beam", "_direction", "_load_type", "_load_value", "_c_sys", "_c_def", "_position_x",
               "_origin", "_repeat", "_ey", "_ez", "_angle")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, beam: Beam, direction: Axis,
                 load_type: "PointLoad.Type", load_value: float, c_sys: Optional[CoordinateSystem] = None,
                 c_def: Optional[CoordinateDefinition] = None, position_x: Optional[float] = None,
                 origin: Optional[PositionOrigin] = None, repeat: Optional[int] = None, ey: Optional[float] = None,
                 ez: Optional[float] = None, *, angle: Optional[Tuple[float, float, float]] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._beam = beam
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._load_type = _enum(PointLoad.Type, load_type, PointLoad.Type.FORCE, "load_type")
        self._load_value = _number(load_value, None, "load_value")
        if self._load_value is None:
            raise ValueError("load_value must be a number, not None")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x = _number(position_x, 0.0, "position_x")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")
        self._repeat = _count(repeat)
        self._ey = _number(ey, 0.0, "ey")
        self._ez = _number(ez, 0.0, "ez")
        self._angle = _point(angle, 3, "angle", (0.0, 0.0, 0.0))


class PointMomentNode(_Load):
    """A moment in a node."""

    Direction: TypeAlias = Axis
    CSys: TypeAlias = CoordinateSystem

    _fields = ("_node", "_load_case", "_load", "_direction", "_c_sys")

    def __init__(self, object_id: int, name: str, node: Node, load_case: LoadCase, load: float, direction: Axis,
                 c_sys: Optional[CoordinateSystem] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._node = node
        self._load = _number(load, None, "load")
        if self._load is None:
            raise ValueError("load must be a number, not None")
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")


class LineLoad(_Load):
    """A line load on a beam."""

    class Type(enum.StrEnum):
        FORCE = "FORCE"
        SELF_WEIGHT = "SELF_WEIGHT"

    class Distribution(enum.StrEnum):
        UNIFORM = "UNIFORM"
        TRAPEZOIDAL = "TRAPEZOIDAL"

    Direction: TypeAlias = Axis
    CSys: TypeAlias = CoordinateSystem
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_load_case", "_beam", "_load_type", "_distribution", "_load_start", "_load_end", "_direction",
               "_c_sys", "_position_start", "_position_end", "_c_def", "_origin", "_ey", "_ez")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, beam: Beam, load_type: "LineLoad.Type",
                 distribution: "LineLoad.Distribution", load_start: float, load_end: float, direction: Axis,
                 c_sys: CoordinateSystem, position_start: float, position_end: float, c_def: CoordinateDefinition,
                 origin: PositionOrigin, ey: float, ez: float) -> None:
        super().__init__(object_id, name, load_case)
        self._beam = beam
        self._load_type = _enum(LineLoad.Type, load_type, LineLoad.Type.FORCE, "load_type")
        self._distribution = _enum(LineLoad.Distribution, distribution, LineLoad.Distribution.UNIFORM, "distribution")
        self._load_start = _number(load_start, None, "load_start")
        if self._load_start is None:
            raise ValueError("load_start must be a number, not None")
        end_default = self._load_start if self._distribution is LineLoad.Distribution.UNIFORM else None
        self._load_end = _number(load_end, end_default, "load_end")
        if self._load_end is None:
            raise ValueError("a TRAPEZOIDAL line load needs load_end")
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._position_start = _number(position_start, 0.0, "position_start")
        self._position_end = _number(position_end, 1.0, "position_end")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")
        self._ey = _number(ey, 0.0, "ey")
        self._ez = _number(ez, 0.0, "ez")


class _LineMoment(_Load):
    Direction: TypeAlias = Axis
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    def _init_moment(self, m1: Any, m2: Any, direction: Any, c_def: Any, position_x1: Any, position_x2: Any,
                     origin: Any) -> None:
        self._m1 = _number(m1, None, "m1")
        if self._m1 is None:
            raise ValueError("m1 must be a number, not None")
        self._m2 = _number(m2, self._m1, "m2")
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x1 = _number(position_x1, 0.0, "position_x1")
        self._position_x2 = _number(position_x2, 1.0, "position_x2")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")


class LineMomentOnBeam(_LineMoment):
    """A line moment on a beam; `m2` None means a uniform moment `m1`."""

    _fields = ("_beam", "_load_case", "_m1", "_m2", "_direction", "_c_def", "_position_x1", "_position_x2",
               "_origin")

    def __init__(self, object_id: int, name: str, beam: Beam, load_case: LoadCase, m1: float,
                 m2: Optional[float] = None, direction: Optional[Axis] = None,
                 c_def: Optional[CoordinateDefinition] = None, position_x1: Optional[float] = None,
                 position_x2: Optional[float] = None, origin: Optional[PositionOrigin] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._beam = beam
        self._init_moment(m1, m2, direction, c_def, position_x1, position_x2, origin)


class LineMomentOnPlane(_LineMoment):
    """A line moment on a plate edge; `m2` None means a uniform moment `m1`."""

    _fields = ("_edge", "_load_case", "_m1", "_m2", "_direction", "_c_def", "_position_x1", "_position_x2",
               "_origin")

    def __init__(self, object_id: int, name: str, edge: Any, load_case: LoadCase, m1: float, m2: Optional[float] = None,
                 direction: Optional[Axis] = None, c_def: Optional[CoordinateDefinition] = None,
                 position_x1: Optional[float] = None, position_x2: Optional[float] = None,
                 origin: Optional[PositionOrigin] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._edge = _edge(edge)
        self._init_moment(m1, m2, direction, c_def, position_x1, position_x2, origin)


class LineForceSurface(_Load):
    """A line load on a plate edge; `p2` None means a uniform load `p1`."""

    Direction: TypeAlias = Axis
    Location: TypeAlias = LoadLocation
    CSys: TypeAlias = CoordinateSystem
    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_edge", "_load_case", "_p1", "_p2", "_direction", "_location", "_c_sys", "_c_def", "_position_x1",
               "_position_x2", "_origin")

    def __init__(self, object_id: int, name: str, edge: Any, load_case: LoadCase, p1: float, p2: Optional[float] = None,
                 direction: Optional[Axis] = None, location: Optional[LoadLocation] = None,
                 c_sys: Optional[CoordinateSystem] = None, c_def: Optional[CoordinateDefinition] = None,
                 position_x1: Optional[float] = None, position_x2: Optional[float] = None,
                 origin: Optional[PositionOrigin] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._edge = _edge(edge)
        self._p1 = _number(p1, None, "p1")
        if self._p1 is None:
            raise ValueError("p1 must be a number, not None")
        self._p2 = _number(p2, self._p1, "p2")
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._location = _enum(LoadLocation, location, LoadLocation.LENGTH, "location")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.LOCAL, "c_sys")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._position_x1 = _number(position_x1, 0.0, "position_x1")
        self._position_x2 = _number(position_x2, 1.0, "position_x2")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")


class SurfaceLoad(_Load):
    """A uniform load on a plate."""

    class Type(enum.StrEnum):
        FORCE = "FORCE"
        SELF_WEIGHT = "SELF_WEIGHT"

    Direction: TypeAlias = Axis
    CSys: TypeAlias = CoordinateSystem
    Location: TypeAlias = LoadLocation

    _fields = ("_load_case", "_plane", "_direction", "_load_type", "_load_value", "_c_sys", "_location")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, plane: Plane, direction: Axis,
                 load_type: "SurfaceLoad.Type", load_value: float, c_sys: CoordinateSystem,
                 location: LoadLocation) -> None:
        super().__init__(object_id, name, load_case)
        self._plane = plane
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._load_type = _enum(SurfaceLoad.Type, load_type, SurfaceLoad.Type.FORCE, "load_type")
        self._load_value = _number(load_value, None, "load_value")
        if self._load_value is None:
            raise ValueError("load_value must be a number, not None")
        self._c_sys = _enum(CoordinateSystem, c_sys, CoordinateSystem.GLOBAL, "c_sys")
        self._location = _enum(LoadLocation, location, LoadLocation.LENGTH, "location")


class ThermalLoad(_Load):
    """A temperature load on a beam."""

    class Distribution(enum.StrEnum):
        CONSTANT = "CONSTANT"
        LINEAR = "LINEAR"

    CDef: TypeAlias = CoordinateDefinition
    Origin: TypeAlias = PositionOrigin

    _fields = ("_load_case", "_beam", "_distribution", "_delta", "_left_delta", "_right_delta", "_top_delta",
               "_bottom_delta", "_position_start", "_position_end", "_c_def", "_origin")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, beam: Beam,
                 distribution: "ThermalLoad.Distribution", delta: float, left_delta: float, right_delta: float,
                 top_delta: float, bottom_delta: float, position_start: float, position_end: float,
                 c_def: CoordinateDefinition, origin: PositionOrigin) -> None:
        super().__init__(object_id, name, load_case)
        self._beam = beam
        self._distribution = _enum(ThermalLoad.Distribution, distribution, ThermalLoad.Distribution.CONSTANT,
                                   "distribution")
        self._delta = _number(delta, 0.0, "delta")
        self._left_delta = _number(left_delta, 0.0, "left_delta")
        self._right_delta = _number(right_delta, 0.0, "right_delta")
        self._top_delta = _number(top_delta, 0.0, "top_delta")
        self._bottom_delta = _number(bottom_delta, 0.0, "bottom_delta")
        self._position_start = _number(position_start, 0.0, "position_start")
        self._position_end = _number(position_end, 1.0, "position_end")
        self._c_def = _enum(CoordinateDefinition, c_def, CoordinateDefinition.RELATIVE, "c_def")
        self._origin = _enum(PositionOrigin, origin, PositionOrigin.FROM_START, "origin")


class ThermalSurfaceLoad(_Load):
    """A temperature load on a plate: `delta` alone is constant, `top_delta` with `bottom_delta` linear."""

    _fields = ("_load_case", "_plane", "_delta", "_top_delta", "_bottom_delta")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, plane: Plane, delta: Optional[float] = None,
                 top_delta: Optional[float] = None, bottom_delta: Optional[float] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._plane = plane
        self._delta = _number(delta, None, "delta")
        self._top_delta = _number(top_delta, None, "top_delta")
        self._bottom_delta = _number(bottom_delta, None, "bottom_delta")
        linear = self._top_delta is not None or self._bottom_delta is not None
        if self._delta is None and not linear:
            raise ValueError("a thermal surface load needs delta, or top_delta and bottom_delta")
        if self._delta is not None and linear:
            raise ValueError("give either delta or top_delta and bottom_delta, not both")
        if linear and (self._top_delta is None or self._bottom_delta is None):
            raise ValueError("a linear thermal surface load needs both top_delta and bottom_delta")


class FreeSurfaceLoad(_Load):
    """A load on a polygon of the global XY plane."""

    class Distribution(enum.StrEnum):
        UNIFORM = "UNIFORM"
        DIR_X = "DIR_X"
        DIR_Y = "DIR_Y"
        POINTS = "POINTS"

    Direction: TypeAlias = Axis

    _fields = ("_load_case", "_direction", "_q1", "_q2", "_q3", "_points", "_distribution", "_selection")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, direction: Axis, q1: float,
                 q2: Optional[float] = None, q3: Optional[float] = None,
                 points: Optional[List[Tuple[float, float]]] = None, *,
                 distribution: Optional["FreeSurfaceLoad.Distribution"] = None,
                 selection: Optional[List[Plane]] = None) -> None:
        super().__init__(object_id, name, load_case)
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._distribution = _enum(FreeSurfaceLoad.Distribution, distribution, FreeSurfaceLoad.Distribution.POINTS,
                                   "distribution")
        self._q1 = _number(q1, None, "q1")
        if self._q1 is None:
            raise ValueError("q1 must be a number, not None")
        uses_q2 = self._distribution is not FreeSurfaceLoad.Distribution.UNIFORM
        uses_q3 = self._distribution is FreeSurfaceLoad.Distribution.POINTS
        self._q2 = _number(q2, self._q1, "q2") if uses_q2 else None
        self._q3 = _number(q3, self._q1, "q3") if uses_q3 else None
        pts = [_point(p, 2, "point") for p in (points or ())]
        if len(pts) < 3:
            raise ValueError("a free surface load needs at least three points")
        self._points = pts
        self._selection = None if selection is None else _objects(selection, Plane, "selection")


class FreeLineLoad(_Load):
    """A line load between two points of the global XY plane."""

    Direction: TypeAlias = Axis

    _fields = ("_load_case", "_point_1", "_point_2", "_direction", "_magnitude_1", "_magnitude_2")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, point_1: Tuple[float, float],
                 point_2: Tuple[float, float], direction: Axis, magnitude_1: float, magnitude_2: float) -> None:
        super().__init__(object_id, name, load_case)
        self._point_1 = _point(point_1, 2, "point_1")
        self._point_2 = _point(point_2, 2, "point_2")
        if self._point_1 == self._point_2:
            raise ValueError("a free line load needs two different points")
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._magnitude_1 = _number(magnitude_1, None, "magnitude_1")
        if self._magnitude_1 is None:
            raise ValueError("magnitude_1 must be a number, not None")
        self._magnitude_2 = _number(magnitude_2, self._magnitude_1, "magnitude_2")


class FreePointLoad(_Load):
    """A force at a point of the global XY plane."""

    Direction: TypeAlias = Axis

    _fields = ("_load_case", "_direction", "_magnitude", "_position")

    def __init__(self, object_id: int, name: str, load_case: LoadCase, direction: Axis, magnitude: float,
                 position: Tuple[float, float]) -> None:
        super().__init__(object_id, name, load_case)
        self._direction = _enum(Axis, direction, Axis.Z, "direction")
        self._magnitude = _number(magnitude, None, "magnitude")
        if self._magnitude is None:
            raise ValueError("magnitude must be a number, not None")
        self._position = _point(position, 2, "position")


# ---------------------------------------------------------------------------------------------
# Setups: plain settings objects that the caller may change in place


class _Setup:
    _fields: Tuple[str, ...] = ()

    def _serialize(self) -> Dict[str, Any]:
        return {name: _plain(getattr(self, name)) for name in self._fields}

    def __repr__(self) -> str:
        values = ", ".join(f"{name}={getattr(self, name)!r}" for name in self._fields)
        return f"{type(self).__name__}({values})"


class MeshSetup(_Setup):
    """Mesh sizes in metres."""

    _fields = ("average_1d", "average_2d", "division_2d_1d")

    def __init__(self, *, average_1d: float = 1.0, average_2d: float = 1.0, division_2d_1d: int = 50) -> None:
        self.average_1d = _positive(average_1d, "average_1d")
        self.average_2d = _positive(average_2d, "average_2d")
        if type(division_2d_1d) is not int or division_2d_1d < 1:
            raise ValueError(f"division_2d_1d must be a positive integer, not {division_2d_1d!r}")
        self.division_2d_1d = division_2d_1d


class SolverSetup(_Setup):
    """Options of the linear solver."""

    _fields = ("neglect_shear_force_deformation", "bending_theory", "warping")

    class BendingTheory(enum.StrEnum):
        MINDLIN = "MINDLIN"
        KIRCHHOFF = "KIRCHHOFF"

    def __init__(self, *, neglect_shear_force_deformation: bool = False,
                 bending_theory: Optional["SolverSetup.BendingTheory"] = None, warping: bool = False) -> None:
        self.neglect_shear_force_deformation = bool(neglect_shear_force_deformation)
        self.bending_theory = _enum(SolverSetup.BendingTheory, bending_theory, SolverSetup.BendingTheory.MINDLIN,
                                    "bending_theory")
        self.warping = bool(warping)


class ProjectData(_Setup):
    """Texts written into the project's header."""

    _fields = ("name", "part", "description", "author", "date")

    def __init__(self, *, name: str = "", part: str = "", description: str = "", author: str = "",
                 date: str = "") -> None:
        self.name = _text(name, "", "name")
        self.part = _text(part, "", "part")
        self.description = _text(description, "", "description")
        self.author = _text(author, "", "author")
        self.date = _text(date, "", "date")

"""Each object class serializes its `_fields` through a compiled dict display; it must give what
the plain loop over the fields gives."""

import enum
import importlib.util
import pathlib

import pytest

from norvale.external.tarsis import object as obj


def reference_plain(value):
    if value is None or type(value) in (str, int, float, bool):
        return value
    if isinstance(value, enum.Enum):
        return value.value
    if isinstance(value, obj.TarsisObject):
        return value._reference()
    if isinstance(value, obj._Part):
        return reference_part(value)
    if isinstance(value, tuple) and len(value) == 2 and isinstance(value[0], obj.Plane):
        return {"plane": value[0]._reference(), "edge": value[1]}
    if isinstance(value, (list, tuple)):
        return [reference_plain(v) for v in value]
    if isinstance(value, dict):
        return {str(k): reference_plain(v) for k, v in value.items()}
    return value


def reference_numbered(o):
    data = {"id": o._object_id, "name": o._name}
    for attr in type(o)._fields:
        data[attr[1:]] = reference_plain(getattr(o, attr))
    return data


def reference_part(p):
    return {attr[1:]: reference_plain(getattr(p, attr)) for attr in type(p)._fields}


def example_objects():
    path = pathlib.Path(__file__).parents[3] / "examples" / "tarsis_model.py"
    spec = importlib.util.spec_from_file_location("tarsis_model_example", path)
    example = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(example)
    model = example.build_example_model()
    found = []
    for value in vars(model).values():
        items = value.values() if isinstance(value, dict) else value if isinstance(value, list) else []
        found.extend(o for o in items if isinstance(o, (obj.TarsisObject, obj._Part)))
    return found


def test_every_example_object_serializes_as_the_plain_loop():
    objects = example_objects()
    kinds = {type(o) for o in objects}
    assert len(kinds) >= 10
    for _ in range(2):  # the first call per class goes the generic way, later ones the class's own
        for o in objects:
            if isinstance(o, obj.TarsisObject):
                expected = reference_numbered(o)
                assert obj.TarsisObject._serialize(o) == expected, o
                assert list(obj.TarsisObject._serialize(o)) == list(expected)
            else:
                assert obj._Part._serialize(o) == reference_part(o), o
    for o in objects:
        if type(o)._serialize.__code__.co_filename == f"<{type(o).__qualname__}._serialize>":  # compiled
            expected = reference_numbered(o) if isinstance(o, obj.TarsisObject) else reference_part(o)
            assert o._serialize() == expected, o


class Probe(obj.TarsisObject):
    class Kind(enum.Enum):
        A = "a"

    _fields = ("_value", "_other")

    def __init__(self, value, other=None):
        super().__init__(7, "P")
        self._value = value
        self._other = other


class OwnReference(obj.Node):
    def _reference(self):
        return {"node": self._name}


class Count(int):
    pass


@pytest.mark.parametrize("value", [None, 1, 2.5, "t", True, Probe.Kind.A, obj.Axis.X, (1, (2, 3)), {1: Probe.Kind.A},
                                   [obj.Axis.Y], obj.Material("C30/37"), obj.Node(3, "N3", 0.0, 0.0, 0.0),
                                   OwnReference(4, "N4", 0.0, 0.0, 0.0), Count(5)])
def test_field_values_of_every_kind(value):
    for _ in range(3):  # the first value of a type is handled apart from the later ones
        probe = Probe(value, other=value)
        assert probe._serialize() == reference_numbered(probe)
        assert [type(v) for v in probe._serialize().values()] == [type(v) for v in reference_numbered(probe).values()]


def test_subclasses_serialize_their_own_fields():
    class Wider(Probe):
        _fields = Probe._fields + ("_extra",)

        def __init__(self):
            super().__init__(1, 2)
            self._extra = 3

    Probe(0)._serialize()
    Probe(0)._serialize()
    wide = Wider()
    assert wide._serialize() == {"id": 7, "name": "P", "value": 1, "other": 2, "extra": 3}
    assert Probe._serialize(wide) == wide._serialize()


def test_fields_changed_after_first_use_are_picked_up():
    probe = Probe(1, 2)
    assert list(probe._serialize()) == ["id", "name", "value", "other"]
    Probe._fields = ("_other",)
    try:
        assert probe._serialize() == {"id": 7, "name": "P", "other": 2}
    finally:
        Probe._fields = ("_value", "_other")


def test_attribute_errors_pass_through():
    probe = Probe(1)
    del probe._other
    with pytest.raises(AttributeError, match="_other"):
        probe._serialize()

"""Model._serialize and Model.generate_xml_input."""

import base64
import binascii
import gzip
import inspect
import io
import json
import math
import xml.etree.ElementTree as ET
from unittest import mock

import pytest

from norvale.core import File
from norvale.errors import InternalError
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.external.tarsis import object as obj
from norvale.external.tarsis.tarsis import Model

KEYS = [
    "concrete_en1992_1_1", "concrete_en1992_2", "layers", "nonlinear_functions", "subsoils", "orthotropy_objects",
    "selections", "cross_sections", "numerical_cross_sections", "nodes", "beams", "cross_links",
    "arbitrary_profiles", "hinges_on_beam", "sections_on_beam", "planes", "open_slabs", "internal_edges",
    "rigid_arms", "point_supports", "point_supports_line", "line_supports_line", "line_supports_surface",
    "surface_supports", "hinges_on_plane", "load_cases", "load_groups", "load_combinations",
    "nonlinear_load_combinations", "result_classes", "point_loads_node", "point_loads", "point_moments_node",
    "line_loads", "line_moments_on_beam", "line_moments_on_plane", "line_force_surface_list", "surface_loads",
    "thermal_loads", "thermal_surface_loads", "free_surface_loads", "free_line_loads", "free_point_loads",
    "integration_strips", "averaging_strips", "sections_on_plane", "mesh_setup", "solver_setup", "project_data",
]
ENDPOINT = "filltarsistemplate/v10/jobs/"
POST = "norvale.external.tarsis.tarsis._post_on_addon_endpoint"


class Fake:
    """A model object whose serialized form the test chooses."""

    def __init__(self, value):
        self.value = value

    def _serialize(self):
        return self.value


class Sub(str):
    pass


def json_round_trip(model):
    """What the encoder with a `_serialize` hook followed by the decoder makes of the document."""
    doc = {key: None for key in KEYS}
    doc["concrete_en1992_1_1"] = [c for c in model._concrete_materials if c.ec_part == obj.Concrete.ECPart.GENERAL]
    doc["concrete_en1992_2"] = [c for c in model._concrete_materials if c.ec_part == obj.Concrete.ECPart.BRIDGES]
    doc["layers"] = model.layers
    doc["cross_sections"] = [c for c in model._cross_sections if not isinstance(c, obj.NumericalCrossSection)]
    doc["numerical_cross_sections"] = [c for c in model._cross_sections if isinstance(c, obj.NumericalCrossSection)]
    for key in KEYS:
        if doc[key] is None:
            doc[key] = getattr(model, "_" + key)
    return json.loads(json.dumps(doc, default=lambda o: o._serialize()))


def small_model():
    model = Model()
    cs = model.create_rectangular_cross_section("CS1", obj.Material("C30/37"), 0.3, 0.5)
    n1 = model.create_node("N1", 0.0, 0.0, 0.0)
    n2 = model.create_node("Nœud 2", 5.0, 0.0, 0.1)
    model.create_beam(n1, n2, cs)
    group = model.create_load_group("LG1", obj.LoadGroup.LoadOption.PERMANENT)
    case = model.create_permanent_load_case("LC1", "dead", group, obj.LoadCase.PermanentLoadType.STANDARD)
    model.create_point_load_node(n2, case, -1.5e3)
    return model


def reply_for(files=(b"<project/>", b"<definition/>")):
    return {"input_file": base64.b64encode(gzip.compress(files[0])).decode(),
            "def_file": base64.b64encode(gzip.compress(files[1])).decode()}


# ---------------------------------------------------------------------------------------------- _serialize


def test_signatures():
    assert list(inspect.signature(Model._serialize).parameters) == ["self"]
    as_file = inspect.signature(Model.generate_xml_input).parameters["as_file"]
    assert as_file.default is False and as_file.kind is as_file.POSITIONAL_OR_KEYWORD
    assert Model._serialize.__annotations__ == {"return": dict}
    assert Model.generate_xml_input.__qualname__ == "Model.generate_xml_input"
    with pytest.raises(TypeError):
        Model()._serialize(1)
    with pytest.raises(TypeError):
        Model().generate_xml_input(True, False)


def test_empty_model_has_all_49_members_in_order():
    model = Model()
    doc = model._serialize()
    assert list(doc) == KEYS
    assert all(doc[key] == [] for key in KEYS[:46])
    for key in KEYS[46:]:
        assert doc[key] == json.loads(json.dumps(getattr(model, key)._serialize()))


def test_filled_model_equals_the_json_round_trip():
    model = small_model()
    doc = model._serialize()
    assert doc == json_round_trip(model)
    assert len(doc["nodes"]) == 2 and len(doc["beams"]) == 1 and len(doc["point_loads_node"]) == 1


def test_concrete_parts_and_numerical_cross_sections_are_split():
    model = Model()
    general = obj.Concrete(1, "C1", obj.Concrete.ECPart.GENERAL)
    bridges = obj.Concrete(2, "C2", obj.Concrete.ECPart.BRIDGES)
    model._concrete_materials.extend([bridges, general])

    class Numerical(obj.NumericalCrossSection):
        def __init__(self, value):
            self.value = value

        def _serialize(self):
            return self.value

    model._cross_sections.extend([Fake("plain-1"), Numerical("numerical-1"), Fake("plain-2"), Numerical("num-2")])
    doc = model._serialize()
    assert [c["name"] for c in doc["concrete_en1992_1_1"]] == ["C1"]
    assert [c["name"] for c in doc["concrete_en1992_2"]] == ["C2"]
    assert doc["cross_sections"] == ["plain-1", "plain-2"]
    assert doc["numerical_cross_sections"] == ["numerical-1", "num-2"]


def test_kit_classes_are_looked_up_at_call_time():
    model = Model()
    model._cross_sections.extend([Fake("a"), Fake("b")])
    with mock.patch("norvale.external.tarsis.tarsis.NumericalCrossSection", Fake):
        doc = model._serialize()
    assert doc["cross_sections"] == [] and doc["numerical_cross_sections"] == ["a", "b"]


def test_layers_come_from_the_property():
    model = Model()
    with mock.patch.object(Model, "layers", property(lambda self: (Fake("from property"),))):
        assert model._serialize()["layers"] == ["from property"]


@pytest.mark.parametrize("value, expected", [
    ((1, (2, 3)), [1, [2, 3]]),
    ({1: "a", 2.5: "b", None: "c", False: "d"}, {"1": "a", "2.5": "b", "null": "c", "false": "d"}),
    ({"nested": Fake({"deeper": Fake((Sub("s"), 2**80))})}, {"nested": {"deeper": ["s", 2**80]}}),
    ("é\U0001f600", "é\U0001f600"),
    (1j, None),  # no JSON value, and no _serialize either
])
def test_object_forms_become_plain_data(value, expected):
    model = Model()
    model._nodes.append(Fake(value))
    if expected is None:
        with pytest.raises(AttributeError):
            model._serialize()
        return
    doc = model._serialize()
    assert doc["nodes"] == [expected] == json_round_trip(model)["nodes"]
    assert json.dumps(doc) == json.dumps(json_round_trip(model))


def test_non_finite_numbers_stay_floats():
    model = Model()
    model._nodes.append(Fake([float("nan"), float("inf"), -float("inf")]))
    nan, inf, ninf = model._serialize()["nodes"][0]
    assert math.isnan(nan) and inf == math.inf and ninf == -math.inf


def test_result_is_independent_of_the_objects():
    held = {"points": [[0, 0], [1, 1]]}
    model = Model()
    model._nodes.append(Fake(held))
    first = model._serialize()
    first["nodes"][0]["points"].append("changed")
    assert held == {"points": [[0, 0], [1, 1]]}
    assert model._serialize() == {**first, "nodes": [held]}


@pytest.mark.parametrize("value, error, message", [
    ({"me": None}, ValueError, "Circular reference detected"),
    ({(1, 2): 0}, TypeError, "keys must be str, int, float, bool or None, not tuple"),
    (object(), AttributeError, "'object' object has no attribute '_serialize'"),
])
def test_bad_object_forms_raise_as_the_encoder_does(value, error, message):
    model = Model()
    fake = Fake(value)
    if value == {"me": None}:
        value["me"] = fake
    model._nodes.append(fake)
    with pytest.raises(error, match=f"^{message}$".replace("(", r"\(").replace(")", r"\)")):
        model._serialize()


# ---------------------------------------------------------------------------------------------- generate_xml_input


def decode_request(text):
    return gzip.decompress(base64.b64decode(text, validate=True)).decode("utf-8")


def test_request_is_the_json_text_of_the_document():
    model = small_model()
    with mock.patch(POST, return_value=reply_for()) as post:
        model.generate_xml_input()
    (path, payload), kwargs = post.call_args
    assert path == ENDPOINT and kwargs == {"timeout": 60}
    assert list(payload) == ["input"]
    assert decode_request(payload["input"]) == json.dumps(model._serialize())


def test_request_uses_the_serialize_found_on_the_instance():
    document = {"x": [1.1, 1e16, -0.0, "ü\n", {"k": None}], "big": 10**40, "nan": float("nan")}
    with mock.patch.object(Model, "_serialize", return_value=document), \
            mock.patch(POST, return_value=reply_for()) as post:
        Model().generate_xml_input()
    assert decode_request(post.call_args.args[1]["input"]) == json.dumps(document)


def test_request_is_one_gzip_member():
    model = small_model()
    with mock.patch(POST, return_value=reply_for()) as post:
        model.generate_xml_input()
    raw = base64.b64decode(post.call_args.args[1]["input"])
    d = gzip.zlib.decompressobj(wbits=31)
    d.decompress(raw)
    assert d.eof and d.unused_data == b""


def test_returns_two_streams_at_their_start():
    with mock.patch(POST, return_value=reply_for((b"<in/>", b"<def/>"))):
        input_file, def_file = Model().generate_xml_input()
    assert type(input_file) is io.BytesIO and type(def_file) is io.BytesIO
    assert input_file.tell() == 0 and input_file.read() == b"<in/>" and def_file.read() == b"<def/>"


@pytest.mark.parametrize("call", [lambda m: m.generate_xml_input(True), lambda m: m.generate_xml_input(as_file=1)])
def test_returns_two_files_when_asked(call):
    with mock.patch(POST, return_value=reply_for((b"<in/>", b"<def/>"))):
        input_file, def_file = call(Model())
    assert isinstance(input_file, File) and isinstance(def_file, File)
    assert input_file.getvalue_binary() == b"<in/>" and def_file.getvalue_binary() == b"<def/>"


def test_service_failure_becomes_exception_caused_by_it():
    failure = InternalError("service down")
    with mock.patch(POST, side_effect=failure):
        with pytest.raises(Exception) as info:
            Model().generate_xml_input()
    assert type(info.value) is Exception
    assert str(info.value) == "Input file could not be generated, please check your model"
    assert info.value.__cause__ is failure


def test_other_service_errors_pass_through():
    with mock.patch(POST, side_effect=KeyError("other")):
        with pytest.raises(KeyError):
            Model().generate_xml_input()


def test_internal_error_is_looked_up_at_call_time():
    class Other(Exception):
        pass

    with mock.patch("norvale.external.tarsis.tarsis.InternalError", Other), \
            mock.patch(POST, side_effect=Other("x")):
        with pytest.raises(Exception, match="^Input file could not be generated"):
            Model().generate_xml_input()


@pytest.mark.parametrize("reply, message", [
    ({}, "Could not generate xml input file"),
    ({"def_file": reply_for()["def_file"]}, "Could not generate xml input file"),
    ({"input_file": reply_for()["input_file"]}, "Could not generate def-file"),
])
def test_missing_files_with_as_file(reply, message):
    with mock.patch(POST, return_value=reply):
        with pytest.raises(ValueError, match=f"^{message}$"):
            Model().generate_xml_input(as_file=True)


@pytest.mark.parametrize("reply, error", [
    ({"def_file": reply_for()["def_file"]}, KeyError),
    ({"input_file": reply_for()["input_file"]}, KeyError),
    ({"input_file": "@@not base64@@", "def_file": reply_for()["def_file"]}, binascii.Error),
    ({"input_file": base64.b64encode(b"not gzip").decode(), "def_file": reply_for()["def_file"]}, gzip.BadGzipFile),
])
def test_bad_replies_without_as_file_raise(reply, error):
    with mock.patch(POST, return_value=reply):
        with pytest.raises(error):
            Model().generate_xml_input()


@pytest.mark.parametrize("as_file", [False, True])
def test_bad_reply_data_is_never_returned_as_success(as_file):
    reply = {"input_file": base64.b64encode(b"not gzip").decode(), "def_file": reply_for()["def_file"]}
    with mock.patch(POST, return_value=reply):
        with pytest.raises(Exception):
            Model().generate_xml_input(as_file)


@pytest.mark.parametrize("value, error", [(object(), AttributeError), (Fake(object()), AttributeError),
                                          (Fake({1j: 0}), TypeError)])
def test_unencodable_objects_post_nothing(value, error):
    model = Model()
    model._beams.append(value)
    with mock.patch(POST) as post:
        with pytest.raises(error):
            model.generate_xml_input()
    post.assert_not_called()


def test_unencodable_document_from_a_patched_serialize_posts_nothing():
    with mock.patch.object(Model, "_serialize", return_value={"x": Fake(1)}), mock.patch(POST) as post:
        with pytest.raises(TypeError, match="^Object of type Fake is not JSON serializable$"):
            Model().generate_xml_input()
    post.assert_not_called()


def test_whole_road_through_the_kit_service():
    input_file, def_file = small_model().generate_xml_input()
    root = ET.parse(input_file).getroot()
    ns = {"t": TARSIS_NAMESPACE}
    assert root.find("t:def", ns).get("uri") == "tarsis_input.def"
    tables = [t.get("name") for t in root.iterfind("t:container/t:table", ns)]
    assert tables[:6] == ["cross_sections", "nodes", "beams", "load_cases", "load_groups", "point_loads_node"]
    assert ET.parse(def_file).getroot().tag == f"{{{TARSIS_NAMESPACE}}}definition"


def test_whole_road_on_the_worker(standin_worker):
    from norvale.external.tarsis.tarsis import OutputFileParser, TarsisAnalysis

    model = small_model()
    rigid = (obj.PointSupport.Freedom.RIGID,) * 6
    for node in model.nodes:
        model.create_point_support(f"S{node.object_id}", node, obj.PointSupport.Type.STANDARD, rigid, (0.0,) * 6,
                                   obj.PointSupport.CSys.GLOBAL)
    input_file, def_file = model.generate_xml_input()
    job = TarsisAnalysis(input_file, def_file, io.BytesIO(b"project"))
    job.execute(timeout=60)
    reactions = OutputFileParser.get_result(job.get_xml_output_file(), "Reactions",
                                            parent="Load case - LC1")["Reactions"]
    assert reactions["Node"] == ["N1", "Nœud 2"]
    assert reactions["Rz"] == ["0.0", "1500.0"]  # the load sits on the clamped node Nœud 2

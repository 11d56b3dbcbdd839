"""Methods written in C++ behave, for callers and tools, as the same methods written in Python would."""

import copy
import inspect
import io
import pickle
import types
import typing
import weakref
from unittest import mock

import pytest

from norvale.external.korro import CopyNodalLoadAction, EnergyOptimizationAction, KORROAnalysis, LoadingType
from norvale.external.moraine import MoraineAnalysis
from norvale.external.tarsis import object as o
from norvale.external.tarsis import tarsis
from norvale.external.tarsis.tarsis import Model, TarsisAnalysis


def shape(target):
    """The signature without annotations (names, kinds and defaults only)."""
    sig = inspect.signature(target)
    return str(sig.replace(parameters=[p.replace(annotation=p.empty) for p in sig.parameters.values()],
                           return_annotation=sig.empty))


@pytest.mark.parametrize("method, text", [
    (Model.create_beam, "(self, begin_node, end_node, cross_section, *, name=None, ez=None, lcs_rotation=None, "
                        "layer=None)"),
    (EnergyOptimizationAction.__init__, "(self, load_cases, loading_type=<LoadingType.LOAD_CASE: 1>, *, goal, "
                                        "accuracy)"),
    (MoraineAnalysis.get_output_file, "(self, extension='.sto', *, as_file=False)"),
    (Model().create_point_moment_node, "(node, load_case, load, direction, name=None, "
                                       "c_sys=<CoordinateSystem.GLOBAL: 'GLOBAL'>)"),
])
def test_signatures_read_as_python_methods(method, text):
    assert shape(method) == text


def test_signature_holds_the_default_objects_also_while_a_global_is_patched():
    with mock.patch.object(tarsis, "PointMomentNode"):
        default = inspect.signature(Model.create_point_moment_node).parameters["c_sys"].default
    assert default is o.PointMomentNode.CSys.GLOBAL
    assert inspect.signature(EnergyOptimizationAction).parameters["loading_type"].default is LoadingType.LOAD_CASE
    assert shape(Model) == "(*, mesh_setup=None, solver_setup=None, project_data=None)"


def test_binding_and_self():
    m = Model()
    assert inspect.ismethod(m.create_node) and m.create_node.__self__ is m
    assert Model.__dict__["create_node"] is Model.create_node
    node = Model.create_node(self=m, name="N", x=1, y=2, z=3)
    assert m.nodes == (node,)
    # Any object is taken as self, as by a Python function; it just has to have what the method uses.
    with pytest.raises(AttributeError, match="_nodes"):
        Model.create_node(object.__new__(type("Other", (), {})), "N", 0, 0, 0)
    fake = mock.Mock()
    assert KORROAnalysis._handle_execution_error(fake, "unknown") is None


@pytest.mark.parametrize("call, message", [
    (lambda: Model.create_node(), "Model.create_node() missing 5 required positional arguments: 'self', 'name', "
                                  "'x', 'y', and 'z'"),
    (lambda: Model.create_node(name="N", x=0, y=0, z=0), "Model.create_node() missing 1 required positional "
                                                         "argument: 'self'"),
    (lambda: Model().create_node("N", 0, 0, 0, 0), "Model.create_node() takes 5 positional arguments but 6 "
                                                   "were given"),
    (lambda: CopyNodalLoadAction([], factor=1, bogus=2), "CopyNodalLoadAction.__init__() got an unexpected keyword "
                                                         "argument 'bogus'"),
])
def test_wrong_calls_raise_pythons_type_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_autospec_binds_self_and_checks_arguments():
    m = Model()
    with mock.patch.object(Model, "_serialize", autospec=True, return_value={}) as serialize, \
            mock.patch.object(tarsis, "_post_on_addon_endpoint", side_effect=RuntimeError("stop")):
        with pytest.raises(RuntimeError):
            m.generate_xml_input()
    serialize.assert_called_once_with(m)
    with mock.patch.object(KORROAnalysis, "_get_file_from_zip", autospec=True) as get:
        analysis = KORROAnalysis(io.BytesIO(), [])
        analysis.get_model(as_file=True)
        get.assert_called_once_with(analysis, "results.kox", as_file=True)
        with pytest.raises(TypeError):
            analysis._get_file_from_zip("results.kox", True)  # as_file is keyword-only
    spec = mock.create_autospec(TarsisAnalysis, instance=True)
    with pytest.raises(TypeError):
        spec.get_xml_output_file(True, False)


def test_introspection_of_a_function():
    f = Model.create_beam
    assert isinstance(f, types.FunctionType) and inspect.isfunction(f)
    assert not inspect.iscoroutinefunction(f) and not inspect.isgeneratorfunction(f)
    assert (f.__name__, f.__qualname__, f.__module__) == ("create_beam", "Model.create_beam", tarsis.__name__)
    assert f.__defaults__ is None
    assert f.__kwdefaults__ == {"name": None, "ez": None, "lcs_rotation": None, "layer": None}
    assert EnergyOptimizationAction.__init__.__defaults__ == (LoadingType.LOAD_CASE,)
    assert f.__code__.co_varnames[:4] == ("self", "begin_node", "end_node", "cross_section")
    assert f.__globals__ is vars(tarsis)
    assert pickle.loads(pickle.dumps(f)) is f and copy.deepcopy(f) is f
    assert inspect.getdoc(f).startswith("Creates a beam")
    m = Model()
    assert weakref.WeakMethod(m.create_beam)() == m.create_beam
    f.marker = "set"  # functions take attributes
    try:
        assert vars(f) == {"marker": "set"}
    finally:
        del f.marker


class PythonModel:
    """The same signatures written in Python: the reference for argument errors."""

    def create_node(self, name, x, y, z):
        pass

    def create_beam(self, begin_node, end_node, cross_section, *, name=None, ez=None, lcs_rotation=None, layer=None):
        pass


class PythonCopy:
    def __init__(self, copy_from_to, loading_type=LoadingType.LOAD_CASE, *, factor=1.0):
        pass


@pytest.mark.parametrize("args, kwargs", [
    ((), {}), (("N",), {}), (("N", 0, 0, 0, 0), {}), (("N", 0, 0, 0, 0, 0), {"bogus": 1}),
    (("N", 0, 0, 0, 0), {"name": "x"}), (("N",), {"name": "x"}), (("N", 0), {"q": 1, "y": 0}),
    ((1, 2, 3, 4), {"name": "B"}), ((1, 2, 3, 4, 5), {"name": "B", "ez": 1}), ((1, 2), {"layer": 1}),
    ((1,), {"cross_section": 3}), ((1, 2, 3), {"end_node": 2}),
    (("N", 0, 0, 0), {"self": 1}), ((), {"nme": "N", "x": 0, "y": 0, "z": 0}), ((1, 2, 3), {"layr": 1}),
    (([],), {"factr": 2}), (([],), {"sef": 2}),
])
def test_argument_errors_match_python_word_for_word(args, kwargs):
    def message(call):
        with pytest.raises(TypeError) as info:
            call()
        return str(info.value).split("() ", 1)[1]

    for ours, reference in ((Model().create_node, PythonModel().create_node),
                            (Model().create_beam, PythonModel().create_beam),
                            (CopyNodalLoadAction, PythonCopy)):
        try:
            reference(*args, **kwargs)
        except TypeError:
            assert message(lambda: ours(*args, **kwargs)) == message(lambda: reference(*args, **kwargs))


def test_annotations_are_the_stubs():
    assert Model.create_node.__annotations__ == {"name": str, "x": float, "y": float, "z": float, "return": o.Node}
    hints = typing.get_type_hints(Model.create_beam)
    assert hints["return"] is o.Beam and hints["name"] == typing.Optional[str] and hints["begin_node"] is o.Node
    assert inspect.signature(Model._serialize).return_annotation is dict
    assert inspect.signature(Model().create_node).parameters["x"].annotation is float
    assert Model.nodes.fget.__annotations__ == {"return": typing.Tuple[o.Node, ...]}
    assert Model.layers.fget.__annotations__ == {"return": typing.Tuple[o.Layer, ...]}
    assert Model.nodes.fget.__qualname__ == "Model.nodes"


def test_annotations_can_be_replaced_like_a_functions():
    f = Model.create_cross_link
    original = dict(f.__annotations__)
    try:
        f.__annotations__ = {"beam_1": int}
        assert inspect.signature(f).parameters["beam_1"].annotation is int
        assert inspect.signature(f).return_annotation is inspect.Signature.empty
        f.__annotations__["return"] = str  # changed in place: the signature follows
        assert inspect.signature(f).return_annotation is str
        f.__annotations__ = None
        assert f.__annotations__ == {}
    finally:
        f.__annotations__ = original
    assert inspect.signature(f).return_annotation is o.CrossLink


def test_property_getters_are_functions_too():
    m = Model()
    node = m.create_node("N", 0, 0, 0)
    assert Model.nodes.fget(m) == Model.nodes.fget(self=m) == (node,)
    with pytest.raises(TypeError, match=r"^Model.nodes\(\) takes 1 positional argument but 2 were given$"):
        Model.nodes.fget(m, m)
    from norvale.external.korro import KORROAction

    config = vars(KORROAction)["_config"]
    assert type(config) is property and config.fget.__isabstractmethod__ is True
    assert KORROAction.__abstractmethods__ == frozenset({"_config"})


def test_class_and_static_methods_are_the_same_kind_of_function():
    from norvale.external.tarsis.tarsis import OutputFileParser

    assert isinstance(OutputFileParser.__dict__["get_result"], classmethod)
    assert isinstance(OutputFileParser.__dict__["_tag_without_ns"], staticmethod)
    assert shape(OutputFileParser.get_result) == "(file, table_name, *, parent=None)"
    assert shape(OutputFileParser.__dict__["get_result"].__func__) == "(cls, file, table_name, *, parent=None)"
    assert shape(TarsisAnalysis.get_xml_def_name) == "(input_file)"
    assert TarsisAnalysis.get_xml_def_name.__annotations__["return"] is str
    with pytest.raises(TypeError) as info:
        OutputFileParser.get_result()
    assert str(info.value) == ("OutputFileParser.get_result() missing 2 required positional arguments: 'file' "
                               "and 'table_name'")

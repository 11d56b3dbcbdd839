"""The modules' functions are generated from one declaration each: the stubs state the same
signatures, the functions are plain Python functions, and a faulty declaration fails at import."""

import ast
import inspect
import linecache
import textwrap
import traceback
import types
import typing
from pathlib import Path
from unittest import mock

import pytest

from norvale import _functions
from norvale.external import korro, moraine
from norvale.external.tarsis import object as o
from norvale.external.tarsis import tarsis

MODULES = [moraine, korro, tarsis]


def declared(func) -> ast.FunctionDef:
    """The declaration a generated function was made from (its registered source)."""
    node = ast.parse(textwrap.dedent(inspect.getsource(func))).body[0]
    assert isinstance(node, ast.FunctionDef)
    return node


def shape(node: ast.FunctionDef, annotations=True) -> str:
    args = node.args
    if not annotations:
        args = ast.arguments(posonlyargs=[], args=[ast.arg(a.arg) for a in args.args], vararg=None,
                             kwonlyargs=[ast.arg(a.arg) for a in args.kwonlyargs], kw_defaults=[None] * len(
                                 args.kwonlyargs), kwarg=None, defaults=[])
    text = ast.unparse(args)
    return text + (f" -> {ast.unparse(node.returns)}" if annotations and node.returns else "")


def runtime_function(cls, name):
    attr = inspect.getattr_static(cls, name)
    return attr.fget if isinstance(attr, property) else getattr(attr, "__func__", attr)


def stub_classes(module):
    tree = ast.parse(Path(module.__file__).with_name(module.__name__.rpartition(".")[2] + ".pyi").read_text())
    return [node for node in tree.body if isinstance(node, ast.ClassDef)]


def is_overload(node):
    return any(isinstance(d, ast.Name) and d.id == "overload" for d in node.decorator_list)


@pytest.mark.parametrize("module", MODULES, ids=lambda m: m.__name__)
def test_stubs_state_exactly_the_declarations(module):
    checked = 0
    for stub in stub_classes(module):
        cls = getattr(module, stub.name)
        groups: dict = {}
        for node in stub.body:
            if isinstance(node, ast.FunctionDef):
                groups.setdefault(node.name, []).append(node)
        generated = {name for name, value in vars(cls).items()
                     if (f := runtime_function(cls, name)) is not None and isinstance(f, types.FunctionType)
                     and f.__code__.co_filename.startswith(f"<{module.__name__}")}
        assert generated <= set(groups), f"{stub.name}: no stub entry for {generated - set(groups)}"
        for name, nodes in groups.items():
            decl = declared(runtime_function(cls, name))
            # Overloads narrow the types; the last one is the declaration itself.
            assert shape(nodes[-1]) == shape(decl), f"{stub.name}.{name}"
            for node in nodes[:-1]:
                assert is_overload(node) and shape(node, False) == shape(decl, False), f"{stub.name}.{name}"
            checked += 1
    assert checked


@pytest.mark.parametrize("func", [
    tarsis.Model.create_beam, tarsis.Model.create_node, tarsis.Model.nodes.fget,
    vars(tarsis.OutputFileParser)["get_result"].__func__, korro.KORROAnalysis._get_file_from_zip,
    moraine.MoraineAnalysis.get_output_file,
], ids=lambda f: f.__qualname__)
def test_generated_functions_are_plain_python_functions(func):
    assert type(func) is types.FunctionType
    module = inspect.getmodule(func)
    assert func.__module__ == module.__name__ and func.__globals__ is vars(module)
    assert func.__code__.co_qualname == func.__qualname__
    source = inspect.getsource(func)
    assert source.lstrip().startswith(f"def {func.__name__}(")
    # The annotations are the declaration's, evaluated, and typing resolves them too.
    hints = typing.get_type_hints(func, vars(module))
    assert hints == func.__annotations__ and set(hints) >= {"return"}


def test_defaults_are_the_objects_made_at_import():
    init = korro.EnergyOptimizationAction.__init__
    assert init.__defaults__ == (korro.LoadingType.LOAD_CASE,) and init.__defaults__[0] is korro.LoadingType.LOAD_CASE
    hinge = tarsis.Model.create_hinge_on_beam.__kwdefaults__
    assert hinge["freedom_fiy"] is o.HingeOnBeam.Freedom.FREE and hinge["name"] is None
    assert tarsis.TarsisAnalysis.__init__.__defaults__ == (tarsis.CalcSetting.LIN, "output")
    assert tarsis.TarsisAnalysis.__init__.__kwdefaults__ == {"result_type": tarsis.ResultType.MODEL,
                                                              "output_document": ""}


def test_a_failure_inside_shows_the_generated_source_in_the_traceback():
    with pytest.raises(ValueError) as info:
        tarsis.Model().create_beam(object(), object(), object())
    frames = traceback.extract_tb(info.value.__traceback__)
    assert frames[-1].name == "create_beam" and "_native(" in frames[-1].line


def test_create_methods_call_the_kit_class_from_the_module_namespace():
    with mock.patch.object(o.Node, "__init__", autospec=True, return_value=None) as init:
        node = tarsis.Model().create_node("N", 1, 2, 3)
    init.assert_called_once_with(node, 1, "N", 1, 2, 3)
    with mock.patch.object(tarsis, "Node") as patched:
        assert tarsis.Model().create_node("N", 0, 0, 0) is patched.return_value


def test_document_members_come_from_the_registry_table():
    from norvale.services import tarsis_template

    members = tarsis._DOCUMENT_MEMBERS
    assert type(members) is tuple and len(members) == 49 == len(set(members))
    assert members == tarsis_template.MEMBERS
    assert tuple(tarsis.Model()._serialize()) == members
    accessors = [name for name, value in vars(tarsis.Model).items() if isinstance(value, property)]
    assert accessors[0] == "layers" and accessors[-3:] == ["mesh_setup", "solver_setup", "project_data"]
    assert len(accessors) == 47


def fresh_module(name="pkg.declared"):
    return {"__name__": name, "Enum": type("Marker", (), {}), "Thing": int}


@pytest.mark.parametrize("signature, arity, body, message", [
    ("(self, a, b)", 2, None, "the native function takes 2 arguments, the signature 3"),
    ("(self, *args)", 2, None, "*args and **kwargs cannot be forwarded"),
    ("(self, _native)", 2, None, "parameter named _native"),
])
def test_a_declaration_that_does_not_fit_its_function_fails_when_made(signature, arity, body, message):
    with pytest.raises(ValueError, match=message.replace("*", r"\*")):
        _functions.define(fresh_module(), "C.f", signature, None, lambda *a: a, "method", arity, body)


def test_define_forwards_in_declaration_order_and_evaluates_annotations_in_the_module():
    ns = fresh_module()
    calls = []
    f = _functions.define(ns, "C.f", "(self, a: Thing, b: Optional[Thing] = None, *, c: str = 'x') -> List[Thing]",
                          "Doc.", lambda *args: calls.append(args) or 7, "method", 4)
    assert f(1, 2, c="z") == 7 and calls == [(1, 2, None, "z")]
    assert f.__annotations__ == {"a": int, "b": typing.Optional[int], "c": str, "return": typing.List[int]}
    assert (f.__doc__, f.__qualname__, f.__module__) == ("Doc.", "C.f", "pkg.declared")
    with pytest.raises(TypeError, match=r"^C.f\(\) missing 1 required positional argument: 'a'$"):
        f(1)
    lines = linecache.getlines(f.__code__.co_filename)
    assert any("def f(self, a: Thing" in line for line in lines)
    prop = _functions.define(ns, "C.p", "(self) -> Thing", None, None, "abstract", 1, "raise NotImplementedError")
    assert isinstance(prop, property) and prop.fget.__isabstractmethod__ is True


def test_text_values_of_enumerations_are_accepted_where_annotated():
    hints = typing.get_type_hints(tarsis.Model.create_point_load_node)
    assert hints["direction"] == typing.Optional[typing.Union[o.PointLoadNode.Direction, str]]

    def document(direction):
        m = tarsis.Model()
        group = m.create_load_group("G", o.LoadGroup.LoadOption.PERMANENT)
        case = m.create_permanent_load_case("LC1", "dead", group, o.LoadCase.PermanentLoadType.STANDARD)
        m.create_point_load_node(m.create_node("A", 0, 0, 0), case, -1.0, direction=direction)
        return m._serialize()["point_loads_node"]

    member = next(iter(o.PointLoadNode.Direction))
    assert document(member.value) == document(member)

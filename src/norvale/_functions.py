"""Python functions of the compiled modules, made when the module is imported.

Each method, property getter, static or class method of an extension module is declared once in C++:
its name, its signature as Python writes it (parameters, kinds, defaults, annotations), its doc and a
plain native function that does the work. `define` turns that into an ordinary `def` with exactly
that signature whose body forwards the arguments, in order, to the native function. Defaults are
evaluated once, in the module's namespace, when the function is made; annotations are evaluated in
the module's namespace (with the names of `typing`). The source is registered with `linecache`, so
`inspect.getsource` and tracebacks show it.

A declaration may instead give a Python body (`body`): for the few methods whose work is the
interpreter's own protocols (`with`, unpacking, `raise ... from None` in an `except`).
"""

from __future__ import annotations

import __future__
import ast
import importlib
import linecache
import textwrap
import typing
from types import FunctionType
from typing import Any, Callable, Dict, List, Optional

_KINDS = ("method", "static", "class", "property", "abstract")
_NATIVE = "_native"

# Per module: the generated source so far (one pseudo-file per module, for linecache).
_sources: Dict[str, List[str]] = {}
_typing_names = {name: getattr(typing, name) for name in typing.__all__}
# Per module: names its annotations use that are not in its namespace (beside typing's).
_annotation_names: Dict[str, Dict[str, Any]] = {}


def annotation_names(module_name: str, source: str, names: List[str]) -> None:
    """Lets the annotations of `module_name` use `names` of the module `source`."""
    module = importlib.import_module(source)
    _annotation_names.setdefault(module_name, dict(_typing_names)).update({n: getattr(module, n) for n in names})


def _filename(module_name: str) -> str:
    return f"<{module_name} generated>"


def _register(module_name: str, text: str) -> int:
    """Appends `text` to the module's pseudo-file; returns the line number it starts at."""
    lines = _sources.setdefault(module_name, [])
    start = len(lines) + 1
    lines.extend(text.splitlines(keepends=True))
    name = _filename(module_name)
    linecache.cache[name] = (sum(map(len, lines)), None, lines, name)
    return start


def _forwarded(args: ast.arguments) -> List[str]:
    names = [a.arg for a in (*args.posonlyargs, *args.args)]
    if args.vararg is not None or args.kwarg is not None:
        raise ValueError("*args and **kwargs cannot be forwarded")
    return names + [a.arg for a in args.kwonlyargs]


def _annotations(fn: ast.FunctionDef, module_dict: Dict[str, Any]) -> Dict[str, Any]:
    names = _annotation_names.get(module_dict["__name__"], _typing_names)
    out: Dict[str, Any] = {}
    args = fn.args
    for arg in (*args.posonlyargs, *args.args, *args.kwonlyargs):
        if arg.annotation is not None:
            out[arg.arg] = eval(ast.unparse(arg.annotation), names, module_dict)
    if fn.returns is not None:
        out["return"] = eval(ast.unparse(fn.returns), names, module_dict)
    return out


def define(module_dict: Dict[str, Any], qualname: str, signature: str, doc: Optional[str],
           native: Optional[Callable[..., Any]],
           kind: str = "method", arity: int = -1, body: Optional[str] = None) -> Any:
    """The class attribute for `qualname` of the module whose namespace is `module_dict`: a function
    (or a staticmethod, classmethod or property over one) with `signature`, e.g.
    "(self, name: str, *, x: float = 0.0) -> Node". `arity` is the number of arguments the native
    function takes (checked against the signature)."""
    if kind not in _KINDS:
        raise ValueError(f"unknown kind {kind!r}")
    module_name = module_dict["__name__"]
    name = qualname.rpartition(".")[2]
    head = f"def {name}{signature}:"
    fn = ast.parse(head + " pass").body[0]
    assert isinstance(fn, ast.FunctionDef)
    params = _forwarded(fn.args)
    if body is None:
        if _NATIVE in params:
            raise ValueError(f"{qualname}: parameter named {_NATIVE}")
        if arity >= 0 and arity != len(params):
            raise ValueError(f"{qualname}: the native function takes {arity} arguments, the signature {len(params)}")
        body = f"return {_NATIVE}({', '.join(params)})"
    lines = [head]
    if doc:
        lines.append(textwrap.indent(repr(doc), "    "))
    lines.append(textwrap.indent(textwrap.dedent(body).strip("\n"), "    "))
    source = f"def __make({_NATIVE}):\n" + textwrap.indent("\n".join(lines), "    ") + f"\n    return {name}\n"
    start = _register(module_name, source + "\n")
    # Annotations stay unevaluated in the def (its namespace is the module's, without typing's
    # names); they are evaluated below and set as the function's own.
    code = compile("\n" * (start - 1) + source, _filename(module_name), "exec",
                   flags=__future__.annotations.compiler_flag, dont_inherit=True)
    scope: Dict[str, Any] = {}
    exec(code, module_dict, scope)
    func: FunctionType = scope["__make"](native)
    func.__qualname__ = qualname
    func.__code__ = func.__code__.replace(co_qualname=qualname)
    func.__annotations__ = _annotations(fn, module_dict)
    if kind == "static":
        return staticmethod(func)
    if kind == "class":
        return classmethod(func)
    if kind in ("property", "abstract"):
        if kind == "abstract":
            setattr(func, "__isabstractmethod__", True)  # as @abstractmethod marks it
        return property(func, doc=doc)
    return func

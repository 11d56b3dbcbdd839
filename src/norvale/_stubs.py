"""Annotations of the compiled modules' functions, read from the type stubs installed beside them.

Functions written in C++ carry no annotations of their own; the stub of their module (`<name>.pyi`
next to the extension) states them. When the extension module is imported it calls `remember`,
which reads the stub's text and keeps the module's own names as they are then, so that a later
patch of either cannot leak into annotations (a Python function's are fixed when it is defined).
The first time a function's `__annotations__` or signature is asked for, the stub is parsed (once
per module), its import statements are run into a namespace, and that function's annotation
expressions are evaluated there. An expression that cannot be evaluated stays the stub's text, as
a string annotation would.
"""

import os
import sys
import threading
from typing import Any, Dict, List, Optional, Set, Tuple

_lock = threading.RLock()
_remembered: Dict[str, Tuple[str, str, Dict[str, Any]]] = {}  # module -> (stub path, stub text, module names)
_parsed: Dict[str, Tuple[Dict[str, Any], Dict[str, Any]]] = {}  # module -> (namespace, {qualname: function node})


def remember(module_name: str) -> None:
    """Called by an extension module at the end of its import."""
    module = sys.modules.get(module_name)
    path = getattr(module, "__file__", None)
    if not path:
        return
    stub = os.path.join(os.path.dirname(path), module_name.rpartition(".")[2] + ".pyi")
    try:
        with open(stub, encoding="utf-8") as f:
            text = f.read()
    except (OSError, ValueError):
        return
    with _lock:
        _remembered[module_name] = (stub, text, dict(vars(module)))


def _stub(module_name: str) -> Optional[Tuple[Dict[str, Any], Dict[str, Any]]]:
    import ast

    with _lock:
        if module_name in _parsed:
            return _parsed[module_name]
        if module_name not in _remembered:
            return None
        path, text, names = _remembered[module_name]
        try:
            tree = ast.parse(text, path)
        except (SyntaxError, ValueError):
            return None
        namespace: Dict[str, Any] = {}
        for node in tree.body:
            if isinstance(node, (ast.Import, ast.ImportFrom)):
                try:
                    exec(compile(ast.Module([node], []), path, "exec"), namespace)
                except Exception:  # a missing optional import leaves its names as text
                    pass
        for name, value in names.items():
            namespace.setdefault(name, value)

        functions: Dict[str, Any] = {}
        overloads: Set[str] = set()

        def collect(body: List[Any], prefix: str) -> None:
            for node in body:
                if isinstance(node, ast.ClassDef):
                    collect(node.body, f"{prefix}{node.name}.")
                elif isinstance(node, ast.FunctionDef):
                    # The first definition wins, except over one marked @overload.
                    key = prefix + node.name
                    overload = any(isinstance(d, ast.Name) and d.id == "overload" for d in node.decorator_list)
                    if key not in functions or (key in overloads and not overload):
                        functions[key] = node
                        if overload:
                            overloads.add(key)
                        else:
                            overloads.discard(key)

        collect(tree.body, "")
        _parsed[module_name] = (namespace, functions)
        return _parsed[module_name]


def _value(expr: Any, namespace: Dict[str, Any]) -> Any:
    import ast

    try:
        return eval(compile(ast.Expression(expr), "<stub>", "eval"), namespace)
    except Exception:
        return ast.unparse(expr)


def annotations(module_name: str, qualname: str) -> Optional[Dict[str, Any]]:
    """The annotations of `module_name.qualname` as its stub gives them: empty when the stub has no
    such function, None when there is no stub to read."""
    try:
        found = _stub(module_name)
        if found is None:
            return None
        namespace, functions = found
        node = functions.get(qualname)
        if node is None:
            return {}
        args = node.args
        out: Dict[str, Any] = {}
        for arg in [*args.posonlyargs, *args.args, args.vararg, *args.kwonlyargs, args.kwarg]:
            if arg is not None and arg.annotation is not None:
                out[arg.arg] = _value(arg.annotation, namespace)
        if node.returns is not None:
            out["return"] = _value(node.returns, namespace)
        return out
    except Exception:
        return None


def annotated(signature: Any, annotations: Dict[str, Any]) -> Any:
    """`signature` (an `inspect.Signature`) with the given annotations on its parameters and return."""
    if not annotations:
        return signature
    parameters = [p.replace(annotation=annotations[p.name]) if p.name in annotations else p
                  for p in signature.parameters.values()]
    return signature.replace(parameters=parameters,
                             return_annotation=annotations.get("return", signature.empty))

"""Annotations of the compiled modules' functions, read from the type stubs installed beside them.

Functions written in C++ carry no annotations of their own; the stub of their module (`<name>.pyi`
next to the extension) states them. The first time a function's `__annotations__` or signature is
asked for, the stub is parsed (once per module), its import statements are run into a namespace,
and that function's annotation expressions are evaluated there; names the stub defines itself
(the module's own classes) come from the module. An expression that cannot be evaluated stays the
stub's text, as a string annotation would.
"""

from __future__ import annotations

import ast
import inspect
import os
import sys
from typing import Any, Dict, Optional, Tuple

_cache: Dict[str, Optional[Tuple[dict, Dict[str, ast.FunctionDef]]]] = {}


def _stub(module_name: str) -> Optional[Tuple[dict, Dict[str, ast.FunctionDef]]]:
    if module_name in _cache:
        return _cache[module_name]
    _cache[module_name] = None
    module = sys.modules.get(module_name)
    path = getattr(module, "__file__", None)
    if not path:
        return None
    stub = os.path.join(os.path.dirname(path), module_name.rpartition(".")[2] + ".pyi")
    try:
        with open(stub, encoding="utf-8") as f:
            tree = ast.parse(f.read(), stub)
    except (OSError, SyntaxError, ValueError):
        return None
    namespace: dict = {}
    functions: Dict[str, ast.FunctionDef] = {}
    for node in tree.body:
        if isinstance(node, (ast.Import, ast.ImportFrom)):
            try:
                exec(compile(ast.Module([node], []), stub, "exec"), namespace)
            except Exception:  # a missing optional import leaves its names as text
                pass
    for name, value in vars(module).items():
        namespace.setdefault(name, value)

    def collect(body: list, prefix: str) -> None:
        for node in body:
            if isinstance(node, ast.ClassDef):
                collect(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.FunctionDef):
                # The first definition wins, except over one marked @overload.
                overload = any(isinstance(d, ast.Name) and d.id == "overload" for d in node.decorator_list)
                key = prefix + node.name
                if key not in functions or (not overload and getattr(functions[key], "_overload", False)):
                    node._overload = overload  # type: ignore[attr-defined]
                    functions[key] = node

    collect(tree.body, "")
    _cache[module_name] = (namespace, functions)
    return _cache[module_name]


def _value(expr: ast.expr, namespace: dict) -> Any:
    try:
        return eval(compile(ast.Expression(expr), "<stub>", "eval"), namespace)
    except Exception:
        return ast.unparse(expr)


def annotations(module_name: str, qualname: str) -> Dict[str, Any]:
    """The annotations of `module_name.qualname` as its stub gives them (empty when it gives none)."""
    try:
        found = _stub(module_name)
        node = found[1].get(qualname) if found else None
        if node is None:
            return {}
        namespace = found[0]
        args = node.args
        out: Dict[str, Any] = {}
        for arg in [*args.posonlyargs, *args.args, args.vararg, *args.kwonlyargs, args.kwarg]:
            if arg is not None and arg.annotation is not None:
                out[arg.arg] = _value(arg.annotation, namespace)
        if node.returns is not None:
            out["return"] = _value(node.returns, namespace)
        return out
    except Exception:
        return {}


def annotated(signature: inspect.Signature, annotations: Dict[str, Any]) -> inspect.Signature:
    """`signature` with the given annotations on its parameters and its return."""
    if not annotations:
        return signature
    parameters = [p.replace(annotation=annotations[p.name]) if p.name in annotations else p
                  for p in signature.parameters.values()]
    return signature.replace(parameters=parameters,
                             return_annotation=annotations.get("return", inspect.Signature.empty))

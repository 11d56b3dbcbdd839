"""Annotations read from a module's stub."""

import sys
import types
import typing

from norvale import _stubs


def test_annotations_from_a_stub_beside_the_module(tmp_path, monkeypatch):
    (tmp_path / "fake.pyi").write_text(
        "from typing import List, overload\n"
        "from not_installed_anywhere import Gone\n"
        "class Thing:\n"
        "    @overload\n"
        "    def run(self, a: str) -> str: ...\n"
        "    def run(self, a: int, *rest: int, flag: bool = ..., **kw: float) -> List[Thing]: ...\n"
        "    def broken(self, g: Gone) -> Gone: ...\n"
        "def plain(x) -> None: ...\n")
    module = types.ModuleType("pkg.fake")
    module.__file__ = str(tmp_path / "fake.cpython-313-x86_64-linux-gnu.so")
    module.Thing = type("Thing", (), {})
    monkeypatch.setitem(sys.modules, "pkg.fake", module)
    monkeypatch.setattr(_stubs, "_cache", {})

    assert _stubs.annotations("pkg.fake", "Thing.run") == {  # the definition, not the overload
        "a": int, "rest": int, "flag": bool, "kw": float, "return": typing.List[module.Thing]}
    assert _stubs.annotations("pkg.fake", "Thing.broken") == {"g": "Gone", "return": "Gone"}  # kept as text
    assert _stubs.annotations("pkg.fake", "plain") == {"return": None}
    assert _stubs.annotations("pkg.fake", "Thing.missing") == {}
    assert _stubs.annotations("pkg.unknown", "f") == {}

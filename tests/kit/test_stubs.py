"""Annotations read from a module's stub."""

import sys
import threading
import types
import typing
from unittest import mock

import norvale.external.tarsis.tarsis  # noqa: F401  (remembers its stub on import)
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
    module.Thing = thing = type("Thing", (), {})
    monkeypatch.setitem(sys.modules, "pkg.fake", module)
    monkeypatch.setattr(_stubs, "_remembered", {})
    monkeypatch.setattr(_stubs, "_parsed", {})

    assert _stubs.annotations("pkg.fake", "plain") is None  # not remembered: no stub to read
    _stubs.remember("pkg.fake")
    module.Thing = "patched after the import"  # the names as they were at the import count
    assert _stubs.annotations("pkg.fake", "Thing.run") == {  # the definition, not the overload
        "a": int, "rest": int, "flag": bool, "kw": float, "return": typing.List[thing]}
    assert _stubs.annotations("pkg.fake", "Thing.broken") == {"g": "Gone", "return": "Gone"}  # kept as text
    assert _stubs.annotations("pkg.fake", "plain") == {"return": None}
    assert _stubs.annotations("pkg.fake", "Thing.missing") == {}


def test_first_reads_from_several_threads_all_get_the_annotations(monkeypatch):
    monkeypatch.setattr(_stubs, "_parsed", {})
    results = {}

    def read(name):
        results[name] = _stubs.annotations("norvale.external.tarsis.tarsis", name)

    names = ["Model.create_node", "Model.create_beam", "Model.create_plane", "Model.nodes"] * 2
    threads = [threading.Thread(target=read, args=(n,)) for n in names]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(results[n] for n in names)


def test_a_patch_active_at_the_first_read_does_not_stick(monkeypatch):
    monkeypatch.setattr(_stubs, "_parsed", {})
    with mock.patch("norvale.external.tarsis.tarsis.CalcSetting"), mock.patch("builtins.open", mock.mock_open()):
        first = _stubs.annotations("norvale.external.tarsis.tarsis", "TarsisAnalysis.__init__")
    from norvale.external.tarsis.tarsis import CalcSetting

    assert first["calculation_setting"] is CalcSetting

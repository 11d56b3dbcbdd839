"""The user reference (docs/reference/*.md) runs as written and covers each module's public names.

Every ```python block runs on its own, in a fresh interpreter in an empty directory, exactly as a
reader would paste it; an ```output block right after it is what it must print.
"""

from __future__ import annotations

import importlib
import inspect
import os
import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
REFERENCE = ROOT / "docs" / "reference"
FENCE = re.compile(r"^```(\w*)\n(.*?)^```\s*$", re.S | re.M)

# Module, and the reference page that documents it.
MODULES = {
    "norvale.external.moraine": "moraine.md",
    "norvale.external.korro": "korro.md",
    "norvale.external.pylon": "pylon.md",
    "norvale.external.tarsis.tarsis": "tarsis.md",
    "norvale.external.tarsis.plot": "tarsis-analysis.md",
}


def snippets() -> list:
    found = []
    for page in sorted(REFERENCE.glob("*.md")):
        blocks = FENCE.findall(page.read_text(encoding="utf-8"))
        for i, (lang, body) in enumerate(blocks):
            if lang != "python":
                continue
            expected = blocks[i + 1][1] if i + 1 < len(blocks) and blocks[i + 1][0] == "output" else None
            line = page.read_text(encoding="utf-8")[: page.read_text(encoding="utf-8").index(body)].count("\n") + 1
            found.append(pytest.param(body, expected, id=f"{page.name}:{line}"))
    return found


@pytest.mark.parametrize("code, expected", snippets())
def test_snippet_runs(code: str, expected: str | None, tmp_path: pathlib.Path) -> None:
    script = tmp_path / "snippet.py"
    script.write_text(code, encoding="utf-8")
    work = tmp_path / "tmp"
    work.mkdir()
    env = dict(os.environ, TMPDIR=str(work))
    env.pop("PYTHONPATH", None)
    result = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True,
                            timeout=300)
    assert result.returncode == 0, f"exit status {result.returncode}\n{result.stdout}\n{result.stderr}"
    if expected is not None:
        assert result.stdout == expected
    left = sorted(name for name in os.listdir(work) if name.startswith("norvale-"))
    assert not left, f"the snippet left job files behind: {left}"


def _public_names(module_name: str) -> set[str]:
    module = importlib.import_module(module_name)
    names = set(module.__all__)
    for class_name in module.__all__:
        cls = getattr(module, class_name)
        if inspect.isclass(cls) and not issubclass(cls, BaseException):
            names.update(name for name in vars(cls) if not name.startswith("_") and not (
                hasattr(cls, "__members__") and name in cls.__members__))
    return names


@pytest.mark.parametrize("module_name, page", sorted(MODULES.items()))
def test_page_names_every_public_name(module_name: str, page: str) -> None:
    """A public class, method, getter or property that the reference does not mention fails here."""
    text = "".join(p.read_text(encoding="utf-8") for p in REFERENCE.glob(page.removesuffix(".md") + "*.md"))
    assert module_name in text, f"{page} does not give the import path {module_name}"
    missing = sorted(name for name in _public_names(module_name) if f"`{name}" not in text and f".{name}" not in text)
    assert not missing, f"{page} does not mention: {missing}"


def test_pages_have_a_snippet_and_are_linked_from_readme() -> None:
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    for page in sorted(REFERENCE.glob("*.md")):
        assert "```python" in page.read_text(encoding="utf-8"), f"{page.name} has no runnable example"
        assert f"docs/reference/{page.name}" in readme, f"README.md does not link docs/reference/{page.name}"

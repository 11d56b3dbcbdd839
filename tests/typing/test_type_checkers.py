"""mypy --strict and pyright over the examples, the typing checks of this folder and the package's
own code.

Application code is checked against the package as installed (stubs and py.typed included), the way
an application sees it; the package's own code is checked as its source tree.
A checker that is not installed fails the test rather than skipping it: `make test` installs both.
"""

from __future__ import annotations

import json
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
HERE = pathlib.Path(__file__).resolve().parent
CACHE = ROOT / "build" / "typing-cache"


def _mypy(paths: list[pathlib.Path]) -> list[str]:
    return [sys.executable, "-m", "mypy", "--strict", "--python-version", "3.13", "--no-color-output",
            "--cache-dir", str(CACHE / "mypy"), *map(str, paths)]


def _pyright(paths: list[pathlib.Path]) -> list[str]:
    return [sys.executable, "-m", "pyright", "-p", str(HERE / "pyrightconfig.json"), "--pythonpath", sys.executable,
            *map(str, paths)]


CHECKERS = {"mypy": _mypy, "pyright": _pyright}


def run_checker(name: str, paths: list[pathlib.Path]) -> subprocess.CompletedProcess[str]:
    env = dict(os.environ, PYRIGHT_PYTHON_IGNORE_WARNINGS="1", MYPY_FORCE_COLOR="0")
    env.pop("PYTHONPATH", None)  # the installed package, not a source tree
    return subprocess.run(CHECKERS[name](paths), cwd=ROOT, env=env, capture_output=True, text=True, timeout=540)


def _report(result: subprocess.CompletedProcess[str]) -> str:
    return f"exit status {result.returncode}\n{result.stdout}\n{result.stderr}"


@pytest.mark.parametrize("checker", sorted(CHECKERS))
@pytest.mark.parametrize("paths", [
    pytest.param([ROOT / "examples", HERE / "check_usage.py", HERE / "check_overloads.py"], id="examples-and-usage"),
    pytest.param([HERE / "check_worker_api.py"], id="worker-api"),
])
def test_application_code_checks_clean(checker: str, paths: list[pathlib.Path]) -> None:
    result = run_checker(checker, paths)
    assert result.returncode == 0, _report(result)


SOURCE = ROOT / "src" / "norvale"


def _modules(package: pathlib.Path, pattern: str) -> list[pathlib.Path]:
    return sorted(package.rglob(pattern))


def check_package(checker: str, part: str, package: pathlib.Path = SOURCE,
                  cache: pathlib.Path = CACHE / "package") -> subprocess.CompletedProcess[str]:
    """A checker over a source tree of the package (src/norvale), as its own code is written.

    part "code": the Python modules (mypy: and the stubs of the compiled modules, mypy-kit.ini);
    part "stubs": the stubs of the compiled modules alone (pyright).
    """
    if checker == "mypy":
        command = [sys.executable, "-m", "mypy", "--config-file", str(HERE / "mypy-kit.ini"), "--no-color-output",
                   "--cache-dir", str(cache / "mypy"), str(package)]
    else:
        files = _modules(package, "*.py" if part == "code" else "*.pyi")
        command = [sys.executable, "-m", "pyright", "-p", str(HERE / "pyright-kit.json"), "--pythonpath",
                   sys.executable, "--outputjson", *map(str, files)]
    env = dict(os.environ, MYPY_FORCE_COLOR="0", PYRIGHT_PYTHON_IGNORE_WARNINGS="1")
    env.pop("PYTHONPATH", None)
    return subprocess.run(command, cwd=package.parent, env=env, capture_output=True, text=True, timeout=540)


def _files_checked(checker: str, result: subprocess.CompletedProcess[str]) -> int:
    if checker == "mypy":
        return int(result.stdout.split(" source file")[0].rsplit(" ", 1)[1])
    return int(json.loads(result.stdout)["summary"]["filesAnalyzed"])


@pytest.mark.parametrize("checker", sorted(CHECKERS))
def test_package_code_checks_clean(checker: str) -> None:
    """The kit, the worker and the services pass both checkers (mypy --strict: with the stubs of
    the compiled modules)."""
    result = check_package(checker, "code")
    assert result.returncode == 0, _report(result)
    modules = len(_modules(SOURCE, "*.py"))
    assert _files_checked(checker, result) >= modules > 25, result.stdout  # the whole package, not a part


# One fault of each kind, each in another part of the package.
FAULTS = {
    "worker/config.py": ("def _probe(value):\n    return value\n", "[no-untyped-def]"),
    "external/external_program.py": ("def _probe() -> dict:\n    return {}\n", "[type-arg]"),
    "external/tarsis/object.py": ("def _probe(x: float = None) -> None: ...\n", "[assignment]"),
    "external/pylon.pyi": ("def _probe(value): ...\n", "[no-untyped-def]"),  # a compiled module's stub
}


def test_package_check_reports_faults(tmp_path: pathlib.Path) -> None:
    """The package check covers every part of it: a fault in any module fails it."""
    package = tmp_path / "src" / "norvale"
    shutil.copytree(SOURCE, package, ignore=shutil.ignore_patterns("__pycache__"))
    for module, (fault, _) in FAULTS.items():
        with open(package / module, "a", encoding="utf-8") as f:
            f.write("\n\n" + fault)
    result = check_package("mypy", "code", package, CACHE / "probe")  # kept between runs: only the faults are new
    assert result.returncode == 1, _report(result)
    reported = [line for line in result.stdout.splitlines() if "error:" in line]
    for module, (_, expected) in FAULTS.items():
        assert any(line.startswith(f"norvale/{module}:") and expected in line for line in reported), result.stdout


def test_package_stubs_check_clean() -> None:
    """The stubs of the compiled modules pass pyright on their own (mypy checks them with the
    package's code above)."""
    result = check_package("pyright", "stubs")
    assert result.returncode == 0, _report(result)
    assert _files_checked("pyright", result) == len(_modules(SOURCE, "*.pyi")) >= 5, result.stdout


# A fault of each kind, on lines of their own, and what each checker calls it.
PROBE = """from typing import assert_type
from norvale.core import File
from norvale.geometry import Vector
from norvale.external.korro import EnergyOptimizationAction
assert_type(File.from_data(b'x').getvalue_binary(), str)
Vector(1, 2, 3)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
EnergyOptimizationAction([1], goal='high', accuracy=0.1)
"""
PROBE_FAULTS = {  # line of the probe -> what each checker reports there
    5: {"mypy": "[assert-type]", "pyright": "reportAssertTypeFailure"},  # wrong return type
    6: {"mypy": "[unused-ignore]", "pyright": "Unnecessary"},  # needless refusal comment
    7: {"mypy": "[arg-type]", "pyright": "reportArgumentType"},  # wrong argument kind
}


@pytest.mark.parametrize("checker", sorted(CHECKERS))
def test_checker_reports_faults(checker: str, tmp_path: pathlib.Path) -> None:
    """The harness is not vacuous: the package resolves, and a fault of each kind fails the run."""
    probe = tmp_path / "probe.py"
    probe.write_text(PROBE)
    result = run_checker(checker, [probe])
    output = result.stdout + result.stderr
    assert result.returncode != 0, _report(result)
    assert "import-not-found" not in output and "reportMissingImports" not in output, output
    # each diagnostic from its "probe.py:<line>:" to the next (pyright wraps long ones)
    found = re.split(r"probe\.py:(\d+):", output)
    reports = [(int(found[i]), found[i + 1]) for i in range(1, len(found) - 1, 2)]
    for line, expected in PROBE_FAULTS.items():
        assert any(at == line and expected[checker] in text for at, text in reports), output

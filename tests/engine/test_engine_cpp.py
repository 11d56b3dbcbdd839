"""Builds the XML engine's own C++ tests with AddressSanitizer and UBSan and runs them."""

import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
NATIVE = ROOT / "native"


@pytest.mark.skipif(shutil.which("g++") is None, reason="needs a C++ compiler")
def test_engine_tests_pass_under_sanitizers(tmp_path):
    exe = tmp_path / "xml_engine_test"
    sources = [NATIVE / "engine/xml/tests/xml_engine_test.cpp",
               *sorted((NATIVE / "engine/xml").glob("*.cpp"))]
    subprocess.run(["g++", "-std=c++20", "-O1", "-g", "-fsanitize=address,undefined",
                    "-fno-sanitize-recover=undefined", f"-I{NATIVE}", *map(str, sources), "-o", str(exe)],
                   check=True, capture_output=True, timeout=600)
    run = subprocess.run([str(exe)], capture_output=True, text=True, timeout=600)
    assert run.returncode == 0, run.stderr[-4000:] + run.stdout[-2000:]
    assert "all checks passed" in run.stdout

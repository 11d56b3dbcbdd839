import pytest

import norvale.external.pylon as pylon
from norvale.core import File
from norvale.errors import ExecutionError
from norvale.external.pylon import PYLONAnalysis
from norvale.external.python import PythonAnalysis

SCRIPT = b"""
import pathlib
text = pathlib.Path("input1.txt").read_text()
pathlib.Path("output.txt").write_text(text.upper())
"""


def test_surface():
    assert pylon.__file__.endswith(".so")
    assert pylon.__all__ == ["PYLONAnalysis"]
    assert PYLONAnalysis.__bases__ == (PythonAnalysis,)
    assert PYLONAnalysis._integration == "pylon"
    assert PYLONAnalysis.__module__ == "norvale.external.pylon"
    assert set(vars(PYLONAnalysis)) <= {"_integration", "__module__", "__qualname__", "__doc__", "__dict__",
                                        "__weakref__", "__firstlineno__", "__static_attributes__"}


def test_runs_the_script_with_its_files(local_worker):
    job = PYLONAnalysis(script=File.from_data(SCRIPT), files=[("input1.txt", File.from_data(b"pylon"))],
                        output_filenames=["output.txt"])
    job.execute(timeout=60)
    assert job.get_output_file("output.txt").getvalue_binary() == b"PYLON"


def test_script_failure_is_an_execution_error(local_worker):
    job = PYLONAnalysis(script=File.from_data(b"raise SystemExit(4)"), output_filenames=[])
    with pytest.raises(ExecutionError, match="exit status 4"):
        job.execute(timeout=60)

"""Script analysis: the worker runs run_pylon.py with an input file and returns its output."""

import pathlib

from norvale.core import File
from norvale.external.pylon import PYLONAnalysis


def main() -> None:
    script = File.from_path(pathlib.Path(__file__).parent / "run_pylon.py")
    file1 = File.from_data(b"3.5\n3.0\n3.0\n")
    files = [("input1.txt", file1)]
    analysis = PYLONAnalysis(script=script, files=files, output_filenames=["output.txt"])
    analysis.execute(timeout=60)
    output_file = analysis.get_output_file("output.txt")
    assert output_file is not None, "output.txt was not among the output file names"
    print(f"Pylon output.txt: {output_file.getvalue()}")


if __name__ == "__main__":
    main()

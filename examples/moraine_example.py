"""Slope-stability run: send a Moraine input file, read the report back."""

import io

from norvale.core import File

from norvale.external.moraine import MoraineAnalysis


def main() -> None:
    input_file = io.BytesIO(b"[MORAINE INPUT]\nSLOPE 1:2\nSOIL clay gamma=18 c=5 phi=25\n")
    analysis = MoraineAnalysis(input_file=input_file)
    analysis.execute(timeout=10)
    report = analysis.get_output_file()
    assert isinstance(report, io.BytesIO), "the analysis wrote no .sto file"
    print("Moraine .sto output:")
    print("   " + report.getvalue().decode().strip().replace("\n", "\n   "))
    errors = analysis.get_output_file(".err", as_file=True)
    assert isinstance(errors, File), "the analysis wrote no .err file"
    print(f"Moraine .err output: {errors.size} bytes")


if __name__ == "__main__":
    from norvale.worker import standins

    standins.configure_all()
    main()

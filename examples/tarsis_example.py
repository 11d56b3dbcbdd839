"""Structural run: send a Tarsis input XML, definition file and project file; read tables back."""

import io

from norvale.core import File
from norvale.external.tarsis import TARSIS_NAMESPACE
from norvale.external.tarsis.tarsis import CalcSetting, OutputFileParser, ResultType, TarsisAnalysis

INPUT_XML = f"""<?xml version="1.0" encoding="UTF-8"?>
<project xmlns="{TARSIS_NAMESPACE}">
  <def uri="frame.def"/>
  <container id="nodes">
    <obj id="K1" x="0.0"/><obj id="K2" x="6.0"/><obj id="K3" x="12.0"/>
  </container>
</project>
""".encode()


def main() -> None:
    analysis = TarsisAnalysis(
        input_file=io.BytesIO(INPUT_XML),
        xml_def_file=File.from_data(b"<def/>"),
        tarsis_model=io.BytesIO(b"ESA project"),
        calculation_setting=CalcSetting.LIN,
    )
    print(f"definition file named by the input XML: {TarsisAnalysis.get_xml_def_name(io.BytesIO(INPUT_XML))!r}")
    analysis.execute(timeout=60)
    output = analysis.get_xml_output_file()
    assert isinstance(output, io.BytesIO), "the analysis returned no output XML"
    for parent in ("Result classes - ULS", "Result classes - SLS"):
        reactions = OutputFileParser.get_result(output, "Reactions", parent=parent)["Reactions"]
        print(f"Reactions under {parent!r}: Rz = {reactions['Rz']}")
    model = analysis.get_updated_esa_model()
    assert isinstance(model, io.BytesIO), "the analysis returned no project file"
    print(f"updated project file: {model.getvalue()[-30:]!r}")

    report_job = TarsisAnalysis(io.BytesIO(INPUT_XML), io.BytesIO(b"<def/>"), io.BytesIO(b"ESA"),
                                result_type=ResultType.ENGINEERING_REPORT, output_document="report1")
    report_job.execute(timeout=60)
    report = report_job.get_engineering_report(as_file=True)
    assert isinstance(report, File), "the analysis returned no engineering report"
    print(f"engineering report: {report.getvalue_binary()[:8]!r}")


if __name__ == "__main__":
    from norvale.worker import standins

    standins.configure_all()
    main()

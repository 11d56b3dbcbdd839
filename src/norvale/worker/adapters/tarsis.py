"""Tarsis adapter: input XML, definition file and project file in; output XML and more out.

Program contract: the command runs in the job directory with "tarsis_job.json" appended. Beside
it lie the job's three files: "tarsis_input.xml", the definition file under the name the input XML
gives it ("tarsis_input.def" when it names none) and "tarsis_model.esa". "tarsis_job.json" holds
the options: "calculation_setting", "xml_doc_name", "result_type", "result_extension",
"output_document" and the file names under "files". The program writes "tarsis_output.xml"; with
the result type "MODEL" it saves the calculated project back to "tarsis_model.esa"; with
"ENGINEERING_REPORT" it writes the report as "<output_document>.pdf". A non-zero exit status N
reaches the job as "Tarsis execution error: exit status N".
"""

from __future__ import annotations

import json
import os
from typing import Any

from norvale.worker.adapters import JobContext, place_body, safe_name
from norvale.worker.result import WorkerFailure

JOB_FILE = "tarsis_job.json"
INPUT_NAME = "tarsis_input.xml"
DEFAULT_DEF_NAME = "tarsis_input.def"
MODEL_NAME = "tarsis_model.esa"
OUTPUT_NAME = "tarsis_output.xml"

_OPTIONS = ("calculation_setting", "xml_doc_name", "result_type", "result_extension", "output_document")


def _entries(content: dict[str, Any]) -> dict[str, dict[str, Any]]:
    files = content.get("files")
    if not isinstance(files, list):
        raise WorkerFailure("Invalid job: the Tarsis job has no file list")
    by_type: dict[str, dict[str, Any]] = {}
    for entry in files:
        if isinstance(entry, dict) and entry.get("type") in ("xml", "def", "esa"):
            by_type.setdefault(entry["type"], entry)
    missing = [t for t in ("xml", "def", "esa") if t not in by_type]
    if missing:
        raise WorkerFailure(f"Invalid job: the Tarsis job lacks its {', '.join(missing)} file")
    return by_type


def run(context: JobContext) -> dict[str, Any]:
    command = context.program("Tarsis")
    content = context.content
    entries = _entries(content)
    def_name = entries["def"].get("filename") or DEFAULT_DEF_NAME
    if def_name in (INPUT_NAME, MODEL_NAME, JOB_FILE, OUTPUT_NAME):
        raise WorkerFailure(f"Invalid file name {def_name!r}: it is one of the job's own files")
    place_body(entries["xml"], context.work_dir, INPUT_NAME)
    place_body(entries["def"], context.work_dir, def_name)
    place_body(entries["esa"], context.work_dir, MODEL_NAME)
    options = {key: content.get(key) for key in _OPTIONS}
    if options["output_document"] not in (None, ""):
        safe_name(options["output_document"])  # the program writes it: a plain name in the job folder
    options["files"] = {"input": INPUT_NAME, "def": def_name, "model": MODEL_NAME, "output": OUTPUT_NAME}
    with open(os.path.join(context.work_dir, JOB_FILE), "w", encoding="utf-8") as f:
        json.dump(options, f)

    run = context.run(command + [JOB_FILE])
    if run.returncode != 0:
        raise WorkerFailure(f"Tarsis execution error: exit status {run.returncode}")
    output = os.path.join(context.work_dir, OUTPUT_NAME)
    if not os.path.isfile(output):
        raise WorkerFailure("Tarsis execution error: no output XML was written")
    result = {"output_xml": context.result_file(output, OUTPUT_NAME, "xml")}
    result_type = options["result_type"]
    if result_type == "MODEL":
        result["esa_model"] = context.result_file(os.path.join(context.work_dir, MODEL_NAME), MODEL_NAME, "esa")
    elif result_type == "ENGINEERING_REPORT":
        name = f"{options['output_document']}.pdf"
        path = os.path.join(context.work_dir, name) if isinstance(options["output_document"], str) else ""
        if not path or os.path.dirname(name) or not os.path.isfile(path):
            raise WorkerFailure("Tarsis execution error: no engineering report was written")
        result["engineering_report"] = context.result_file(path, name, "pdf")
    return result

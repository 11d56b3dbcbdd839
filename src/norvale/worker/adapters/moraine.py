"""Moraine adapter: one input file in, every file the program writes beside it out.

Program contract: the command runs in the job directory with the input file name "input.sti"
appended; it writes its output files (".sto", ".err", ".error.log", ...) into that directory and
exits with status 0. Failures reach the job as the worker messages of the kit's
`_strata_exception_map`.
"""

from __future__ import annotations

import os
from typing import Any

from norvale.worker.protocol import ResultBody
from norvale.worker.adapters import JobContext
from norvale.worker.result import WorkerFailure

INPUT_NAME = "input.sti"


def run(context: JobContext) -> dict[str, Any]:
    command = context.program("Moraine")
    body = context.content.get("body")
    if not isinstance(body, ResultBody):
        raise WorkerFailure("Error creating input file")
    input_path = os.path.join(context.work_dir, INPUT_NAME)
    try:
        os.replace(body.path, input_path)
    except OSError:
        raise WorkerFailure("Error creating input file") from None
    run = context.run(command + [INPUT_NAME])
    if run.returncode != 0:
        raise WorkerFailure("Error running analysis")
    outputs = sorted(
        name for name in os.listdir(context.work_dir)
        if name != INPUT_NAME and not name.startswith("body-") and os.path.isfile(os.path.join(context.work_dir, name))
    )
    if not outputs:
        raise WorkerFailure("Error running analysis: no output")
    return {"output_files": [context.result_file(os.path.join(context.work_dir, n), n) for n in outputs]}

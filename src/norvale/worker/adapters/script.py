"""Script adapter: runs a blocking script with its input files beside it, returns the listed outputs.

The job content holds "script" (a file entry, or null), "script_key" (a key into the worker's
configured scripts, or null), "files" (file entries placed beside the script) and
"output_filenames". The script runs with the interpreter configured for the integration (this
Python by default), in the job directory, and must have written every listed output when it exits
with status 0.
"""

from __future__ import annotations

import os
import shutil
from typing import Any

from norvale.worker.adapters import JobContext, place_body, safe_name
from norvale.worker.result import WorkerFailure

SCRIPT_NAME = "norvale_script.py"


def run(context: JobContext) -> dict[str, Any]:
    content = context.content
    config = context.config
    script_key = content.get("script_key")
    script = content.get("script")
    outputs = content.get("output_filenames") or []
    if not isinstance(outputs, list):
        raise WorkerFailure("Invalid job: output_filenames must be a list of file names")
    outputs = [safe_name(name) for name in outputs]

    script_path = os.path.join(context.work_dir, SCRIPT_NAME)
    if script_key is not None and script is not None:
        raise WorkerFailure("Invalid job: it carries both a script and a script_key; send one of them")
    if script_key is not None:
        configured = config.scripts.get(script_key)
        if configured is None:
            raise WorkerFailure(
                f"No script is configured on this worker for the script key {script_key!r}: configure one with "
                f"norvale.worker.configure(scripts={{{script_key!r}: <path>}})"
            )
        try:
            shutil.copyfile(configured, script_path)
        except OSError as exc:
            raise WorkerFailure(
                f"The script {configured!r} configured for the script key {script_key!r} cannot be read "
                f"({exc.strerror or exc}): fix the path with norvale.worker.configure(scripts={{{script_key!r}: "
                f"<path>}})"
            ) from None
    elif script is not None:
        if config.local_scripts_only:
            raise WorkerFailure(
                "This worker runs local scripts only: select a script of the worker's configuration with script_key"
            )
        place_body(script, context.work_dir, SCRIPT_NAME)
    else:
        raise WorkerFailure("No script to run: give a script or a script_key")

    for entry in content.get("files") or []:
        name = safe_name(entry.get("filename") if isinstance(entry, dict) else None)
        if name == SCRIPT_NAME:
            raise WorkerFailure(f"Invalid file name {name!r}: it is reserved for the script")
        place_body(entry, context.work_dir)

    run = context.run(config.interpreter(context.integration) + [SCRIPT_NAME])
    if run.returncode != 0:
        detail = run.stderr_tail()
        message = f"The script failed with exit status {run.returncode}"
        raise WorkerFailure(message + (f":\n{detail}" if detail else ""))
    missing = [name for name in outputs if not os.path.isfile(os.path.join(context.work_dir, name))]
    if missing:
        raise WorkerFailure("The script did not write the output file(s): " + ", ".join(missing))
    return {
        "output_files": [context.result_file(os.path.join(context.work_dir, n), n) for n in outputs],
        "log": run.stdout_tail(),
    }

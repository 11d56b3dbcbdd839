"""Korro adapter: model, action configurations and action list in; a zip of the results out.

Program contract: the command runs in the job directory with "input.kox" appended; beside it lie
"actions.json" (the list of action ids) and "config1.json", "config2.json", ... (one per action, in
order). The program writes "results.kox" (the model after all actions) and, for every load case or
combination n that a write-results action names, "summary_<n>.json"; it exits with status 0.
The result content holds the zip under "model" (a file entry); see docs/results.md.
"""

from __future__ import annotations

import os
import re
import zipfile
from typing import Any

from norvale.worker.adapters import NOT_OWN, JobContext, own_file, place_body
from norvale.worker.result import WorkerFailure

_SUMMARY = re.compile(r"^summary_\d+\.json$")


def run(context: JobContext) -> dict[str, Any]:
    command = context.program("Korro")
    content = context.content
    try:
        place_body(content.get("model"), context.work_dir, "input.kox")
        configs = content.get("korro_configs")
        if not isinstance(configs, list):
            raise WorkerFailure("invalid configs")
        for k, entry in enumerate(configs, start=1):
            place_body(entry, context.work_dir, f"config{k}.json")
        place_body(content.get("actions"), context.work_dir, "actions.json")
    except (WorkerFailure, OSError):
        raise WorkerFailure("Error creating KORRO input") from None
    run = context.run(command + ["input.kox"])
    results = os.path.join(context.work_dir, "results.kox")
    if run.returncode != 0 or not os.path.isfile(results):
        raise WorkerFailure("Error running KORRO analysis")
    summaries = sorted(name for name in os.listdir(context.work_dir) if _SUMMARY.match(name))
    for name in ["results.kox", *summaries]:
        if not own_file(os.path.join(context.work_dir, name), context.work_dir):
            raise WorkerFailure(NOT_OWN.format(name=name))
    archive = os.path.join(context.work_dir, "results.zip")
    with zipfile.ZipFile(archive, "w", compression=zipfile.ZIP_DEFLATED) as zf:
        zf.write(results, "results.kox")
        for name in summaries:
            zf.write(os.path.join(context.work_dir, name), name)
    return {"model": context.result_file(archive, "results.zip", "zip")}

"""Program adapters: one per integration, each turning a job into files, a program run and a result."""

from __future__ import annotations

import importlib
import os
import re
import shutil
import stat
from dataclasses import dataclass, field
from typing import Any, Callable, Optional, cast

from norvale.worker.protocol import ResultBody
from norvale.worker.config import WorkerConfig
from norvale.worker.process import ProgramRun, ProgramTimeout, remaining, run_program
from norvale.worker.result import WorkerFailure

# integration name -> module of its adapter (a function `run(context) -> result content`)
_PROGRAM_ADAPTERS = {
    "korro": "norvale.worker.adapters.korro",
    "moraine": "norvale.worker.adapters.moraine",
    "tarsis": "norvale.worker.adapters.tarsis",
}
_SCRIPT_ADAPTER = "norvale.worker.adapters.script"

_SAFE_NAME = re.compile(r"^[A-Za-z0-9_][A-Za-z0-9_.\- ]*$")


@dataclass
class JobContext:
    integration: str
    version: Any
    content: dict[str, Any]
    work_dir: str
    result_dir: str
    config: WorkerConfig
    deadline: float
    timeout: float
    bodies: list[ResultBody] = field(default_factory=list)
    #: The last program run of this job (its exit status and log files), None before one ran.
    last_run: Optional[ProgramRun] = None
    #: Directories the job supervisor removes if the application goes away mid-run.
    cleanup: list[str] = field(default_factory=list)
    #: Called about ten times a second while a program runs, with its stdout and stderr paths;
    #: whatever it raises stops the program (cancellation, a worker that stops).
    watch: Optional[Callable[[str, str], None]] = None

    def remaining(self) -> float:
        return remaining(self.deadline)

    def program(self, display_name: str) -> list[str]:
        """The configured command of this integration; a failure saying how to configure one otherwise."""
        command = self.config.program(self.integration)
        if not command:
            raise WorkerFailure(
                f"No {display_name} program is configured on this worker: configure one with "
                f"norvale.worker.configure(programs={{'{self.integration}': [<command>, ...]}}) "
                f"(for a stand-in: norvale.worker.standins.command('{self.integration}'))"
            )
        return list(command)

    def run(self, argv: list[str], cwd: Optional[str] = None) -> ProgramRun:
        # The program's logs lie beside the result files, under names no result file can have
        # (`safe_name` refuses a leading dot): no folder of their own to make and remove.
        try:
            self.last_run = run_program(argv, cwd=cwd or self.work_dir, log_dir=self.result_dir,
                                        timeout=self.remaining(), cleanup=self.cleanup,
                                        integration=self.integration, watch=self.watch, user=self.config.run_as,
                                        log_prefix=".")
        except ProgramTimeout as timeout:
            self.last_run = timeout.run
            raise
        return self.last_run

    def result_file(self, source_path: str, name: str, file_type: Optional[str] = None) -> dict[str, Any]:
        """Moves a produced file into the result directory and returns its file entry.

        Only a regular file written in the job folder is returned: a link (to a file of the worker,
        or of another job) or anything outside the folder is refused."""
        target = os.path.join(self.result_dir, safe_name(name))
        if not own_file(source_path, self.work_dir):
            raise WorkerFailure(NOT_OWN.format(name=name))
        shutil.move(source_path, target)
        if not own_file(target, self.result_dir):  # swapped for a link while it was checked
            os.unlink(target)
            raise WorkerFailure(NOT_OWN.format(name=name))
        body = ResultBody(target)
        self.bodies.append(body)
        if file_type is None:
            file_type = os.path.splitext(name)[1].lstrip(".")
        return {"filename": name, "type": file_type, "body": body}


NOT_OWN = ("The output {name!r} is not a file the program wrote in its job folder (a link, or a path outside "
            "it): it is not returned")


def own_file(path: str, folder: str) -> bool:
    """`path` is a regular file (not a link) whose directory is `folder` itself."""
    try:
        mode = os.lstat(path).st_mode
    except OSError:
        return False
    return stat.S_ISREG(mode) and os.path.realpath(os.path.dirname(path)) == os.path.realpath(folder)


def safe_name(name: Any) -> str:
    """A plain file name (no directories, no '..'); WorkerFailure otherwise."""
    if not isinstance(name, str) or not _SAFE_NAME.match(name) or name in (".", "..") or "/" in name:
        raise WorkerFailure(f"Invalid file name {name!r}: only plain file names are accepted")
    return name


def place_body(entry: Any, directory: str, name: Optional[str] = None) -> str:
    """Writes the body of a job's file entry to `directory` under `name` (default: its own file name)."""
    if not isinstance(entry, dict) or "body" not in entry:
        raise WorkerFailure("Invalid job: a file entry is missing")
    target = os.path.join(directory, safe_name(name if name is not None else entry.get("filename")))
    body = entry["body"]
    if isinstance(body, ResultBody):
        shutil.move(body.path, target)
    else:
        raise WorkerFailure("Invalid job: a file body is not Base64 text")
    return target


Adapter = Callable[[JobContext], dict[str, Any]]


def adapter_for(kind: str, integration: str) -> Adapter:
    if kind == "script":
        module = _SCRIPT_ADAPTER
    elif kind == "program" and integration in _PROGRAM_ADAPTERS:
        module = _PROGRAM_ADAPTERS[integration]
    else:
        raise WorkerFailure(f"This worker does not run {integration!r} jobs")
    return cast(Adapter, importlib.import_module(module).run)

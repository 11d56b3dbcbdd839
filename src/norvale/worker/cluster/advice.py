"""A worker's failure as the client raises it: the worker's own message, which worker said it, and
what to do about it on a cluster (the message itself stays as the worker wrote it: the modules
translate it by exact lookup)."""

from __future__ import annotations

from typing import Any, Optional

from norvale.worker.protocol import WorkerFailure

# the beginning of a worker message -> what fixes it on a cluster worker ({w}: the worker's name)
_ADVICE = (
    ("No ", "program is configured on this worker",
     'the worker {w} has no such program: add it to "programs" in its worker.json and restart its norvale-worker'),
    ("The program ", "configured for",
     'the program configured on the worker {w} cannot be started there: fix "programs" in its worker.json'),
    ("No script is configured on this worker", "",
     'the worker {w} lacks the script: add it to "scripts" in its worker.json and restart its norvale-worker'),
    ("The script ", "configured for the script key",
     'the script configured on the worker {w} cannot be read there: fix "scripts" in its worker.json'),
    ("This worker runs local scripts only", "",
     'the worker {w} takes no sent scripts ("local_scripts_only" in its worker.json): send a script_key'),
    ("The worker's work root", "",
     'fix "work_root" in the worker.json of {w}'),
    ("The worker failed to run the job", "",
     "the details are in the log of the norvale-worker on {w}"),
)


def reported_failure(outcome: dict[str, Any]) -> WorkerFailure:
    """The WorkerFailure of a job that ended with {"status": "failure", "message", "worker"}."""
    message = str(outcome.get("message"))
    name: Optional[str] = outcome.get("worker") if isinstance(outcome.get("worker"), str) else None
    advice = []
    if name is not None:
        for start, inside, text in _ADVICE:
            if message.startswith(start) and inside in message:
                advice.append(text.format(w=repr(name)))
                break
    return WorkerFailure(message, worker_name=name, advice=tuple(advice))

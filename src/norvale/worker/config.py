"""Configuration of the embedded worker."""

from __future__ import annotations

import json
import os
import sys
from dataclasses import dataclass, field
from typing import Optional, Sequence, Union

Command = Sequence[str]


@dataclass
class WorkerConfig:
    """How the embedded worker runs jobs.

    programs: the command of the outside program per integration ("tarsis", "korro", "moraine"),
        as an argument list; the adapter appends the job's input file name. For script
        integrations ("python", "pylon", ...) it is the interpreter that runs the script
        (default: this Python).
    scripts: scripts of the worker's own, by `script_key` (a path each).
    local_scripts_only: refuse scripts sent with a job; only `scripts` may run.
    work_root: where job directories are made (default: the system's temporary directory).
    """

    programs: dict[str, list[str]] = field(default_factory=dict)
    scripts: dict[str, str] = field(default_factory=dict)
    local_scripts_only: bool = False
    work_root: Optional[str] = None

    def update(self, *, programs: Optional[dict] = None, scripts: Optional[dict] = None,
               local_scripts_only: Optional[bool] = None, work_root: Union[str, None, type(...)] = ...) -> None:
        if programs is not None:
            for name, command in programs.items():
                if command is None:
                    self.programs.pop(name, None)
                else:
                    self.programs[name] = _command(name, command)
        if scripts is not None:
            for key, path in scripts.items():
                if path is None:
                    self.scripts.pop(key, None)
                else:
                    self.scripts[key] = os.path.abspath(os.fspath(path))
        if local_scripts_only is not None:
            self.local_scripts_only = bool(local_scripts_only)
        if work_root is not ...:
            self.work_root = work_root

    def program(self, integration: str) -> Optional[list[str]]:
        return self.programs.get(integration)

    def interpreter(self, integration: str) -> list[str]:
        return self.programs.get(integration) or [sys.executable]

    @classmethod
    def from_file(cls, path: Union[str, os.PathLike]) -> "WorkerConfig":
        """Reads a JSON configuration file with the members "programs", "scripts", "local_scripts_only"."""
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        if not isinstance(data, dict):
            raise ValueError(f"worker configuration {os.fspath(path)!r} must hold a JSON object")
        unknown = set(data) - {"programs", "scripts", "local_scripts_only", "work_root"}
        if unknown:
            raise ValueError(f"unknown worker configuration members: {', '.join(sorted(unknown))}")
        config = cls()
        base = os.path.dirname(os.path.abspath(path))
        scripts = {k: os.path.join(base, v) for k, v in (data.get("scripts") or {}).items()}
        config.update(programs=data.get("programs"), scripts=scripts,
                      local_scripts_only=data.get("local_scripts_only"), work_root=data.get("work_root"))
        return config


def _command(name: str, command) -> list[str]:
    if isinstance(command, str):
        command = [command]
    command = [os.fspath(part) for part in command]
    if not command or not all(isinstance(part, str) and part for part in command):
        raise ValueError(f"the program command for {name!r} must be a non-empty list of texts")
    return command
